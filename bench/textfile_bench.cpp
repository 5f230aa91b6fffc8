// ReadTextFile speed: writes text files of 5, 10, 25 and 50 MB (lines of 40 to 80 characters),
// then for each size reads the file plainly (fread of the whole file into memory, the median of
// three reads) and once with CQarnUtilities::ReadTextFile through COM followed by what a host does
// with the result: Count, and the text of every line through the collection (Item and
// StringValue); that reading is part of the timed figure. Prints both times per MB and their
// ratio. Targets: the ratio at most 3.5 at every size, and the per-MB time flat as the size grows
// (linear in total). A small file is read once before, so that the first size does not include
// the start of the servers. Every file ends with a line break, so ReadTextFile returns one
// (empty) line more than was written. The output is Markdown.
//
//   textfile_bench [folder for the files, default: the temporary folder]
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <wrl/client.h>

#include "BenchClock.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#undef GetMessage
#include "QarnComDatatypes.h"
#include "QarnComConnector.h"

using Microsoft::WRL::ComPtr;

namespace {

// A file of `megabytes` MB of CR LF lines; returns its line count.
long WriteFile(const std::wstring& path, int megabytes) {
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f) return -1;
    const size_t target = static_cast<size_t>(megabytes) * 1024 * 1024;
    std::string line;
    size_t written = 0;
    long lines = 0;
    unsigned seed = 12345;
    while (written < target) {
        seed = seed * 1103515245u + 12345u;
        const size_t length = 40 + (seed >> 16) % 41;
        line.assign("part;");
        while (line.size() < length) line += static_cast<char>('a' + (seed = seed * 1103515245u + 12345u, (seed >> 16) % 26));
        line += "\r\n";
        fwrite(line.data(), 1, line.size(), f);
        written += line.size();
        ++lines;
    }
    fclose(f);
    return lines;
}

double PlainRead(const std::wstring& path, size_t& bytes) {
    const double start = Now();
    FILE* f = _wfopen(path.c_str(), L"rb");
    std::string content;
    char chunk[64 * 1024];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, f)) > 0) content.append(chunk, got);
    fclose(f);
    bytes = content.size();
    return Now() - start;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    std::wstring folder;
    if (argc > 1) {
        folder = argv[1];
    } else {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        folder = temp;
    }
    if (!folder.empty() && folder.back() != L'\\') folder += L'\\';

    ComPtr<IQarnUtilities> utilities;
    HRESULT hr = CoCreateInstance(CLSID_CQarnUtilities, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&utilities));
    if (FAILED(hr)) {
        std::printf("cannot create CQarnUtilities: 0x%08lx\n", static_cast<unsigned long>(hr));
        return 1;
    }
    struct Row {
        double mb, plain, read;  // MB, seconds
        long lines;
    };
    std::vector<Row> rows;
    {
        // The servers start on the first call: not part of any size's figure.
        const std::wstring path = folder + L"qarn-textfile-bench-start.txt";
        WriteFile(path, 1);
        BSTR name = SysAllocString(path.c_str());
        ComPtr<IFieldCollection> result;
        utilities->ReadTextFile(name, &result);
        SysFreeString(name);
        DeleteFileW(path.c_str());
    }
    for (int megabytes : {5, 10, 25, 50}) {
        const std::wstring path = folder + L"qarn-textfile-bench.txt";
        const long lines = WriteFile(path, megabytes);
        size_t bytes = 0;
        std::vector<double> plains;
        for (int i = 0; i < 3; ++i) plains.push_back(PlainRead(path, bytes));
        const double plain = Median(plains);
        BSTR name = SysAllocString(path.c_str());
        ComPtr<IFieldCollection> result;
        const double start = Now();
        hr = utilities->ReadTextFile(name, &result);
        long count = 0;
        size_t characters = 0;
        if (result) result->get_Count(&count);
        for (long i = 1; SUCCEEDED(hr) && i <= count; ++i) {
            ComPtr<IField> line;
            BSTR text = nullptr;
            hr = result->get_Item(i, &line);
            if (SUCCEEDED(hr)) hr = line->get_StringValue(&text);
            characters += SysStringLen(text);
            SysFreeString(text);
        }
        const double read = Now() - start;
        SysFreeString(name);
        result.Reset();
        DeleteFileW(path.c_str());
        // Every line's text was read: all but the line breaks (CR LF each).
        if (SUCCEEDED(hr) && characters != bytes - 2 * static_cast<size_t>(lines)) hr = E_UNEXPECTED;
        if (FAILED(hr) || count != lines + 1) {
            std::fprintf(stderr, "ReadTextFile of %d MB: 0x%08lx, %ld lines of %ld\n", megabytes,
                         static_cast<unsigned long>(hr), count, lines + 1);
            return 1;
        }
        rows.push_back({static_cast<double>(bytes) / (1024.0 * 1024.0), plain, read, lines});
    }
    double top = 0;
    for (const Row& r : rows) top = std::max(top, r.read / r.mb);
    std::printf("| MB | lines | plain read ms/MB | ReadTextFile ms/MB | ratio | ReadTextFile ms | ReadTextFile ms/MB |\n");
    std::printf("|---:|---:|---:|---:|---:|---:|:---|\n");
    for (const Row& r : rows)
        std::printf("| %.0f | %s | %.1f | %.1f | %.1f | %s | %s |\n", r.mb, Grouped(r.lines).c_str(),
                    r.plain * 1e3 / r.mb, r.read * 1e3 / r.mb, r.read / r.plain,
                    Grouped(std::llround(r.read * 1e3)).c_str(), Bar(r.read / r.mb, top).c_str());
    // Flat: per MB, 50 MB within twice 10 MB; and against the plain read at every size.
    const double growth = (rows[3].read / rows[3].mb) / (rows[1].read / rows[1].mb);
    double worst = 0;
    for (const Row& r : rows) worst = std::max(worst, r.read / r.plain);
    Verdict(growth <= 2.0 && worst <= 3.5,
            Format("ReadTextFile against the plain read: at most %.2fx, limit 3.5x; per MB at 50 MB against 10 MB: "
                   "%.2fx, limit 2x",
                   worst, growth));
    utilities.Reset();
    CoUninitialize();
    return 0;
}
