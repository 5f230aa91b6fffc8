// Configuration read: CQarnClassFactory::Create on an installation shaped like
// samples/installation but scaled to 2,000 properties (1,000 in the main file, 500 in each of two
// property files) and 1,000 messages in each of two languages, set against MSXML alone loading the
// same four files, by name and from their bytes in memory. Create is timed after Destroy, so each
// run builds a new application: once with the files unchanged since the last read (the process
// keeps what it read), once after one byte of one file changed (everything is read again). Every
// figure is the median of several runs, the steps in turns. The output is Markdown, with the
// verdict: Create with unchanged files takes at most a third of a full read.
//
//   config_bench [folder for the installation, default: the temporary folder]
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include "dom/Dom.h"
#include <wrl/client.h>

#include "BenchClock.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#undef GetMessage
#include "QarnComDatatypes.h"
#include "QarnComConnector.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr int kMainProperties = 1000;
constexpr int kFileProperties = 500;
constexpr int kMessages = 1000;
constexpr int kRuns = 9;

bool WriteFile(const std::wstring& path, const std::string& text) {
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f) return false;
    const bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
    return fclose(f) == 0 && ok;
}

std::string MainFile() {
    std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<QarnConnector>\r\n<Properties>\r\n"
                    "<Language>EN</Language>\r\n"
                    "<PropertyFiles>SiteProperties.xml;CadProperties.xml</PropertyFiles>\r\n"
                    "<ResourceFiles>QarnResources.xml</ResourceFiles>\r\n"
                    "<SAPWebApplicationServer>false</SAPWebApplicationServer>\r\n"
                    "<RemoteCheckinDir>C:\\QarnData\\checkin\\</RemoteCheckinDir>\r\n"
                    "<RemoteCheckoutDir>C:\\QarnData\\checkout\\</RemoteCheckoutDir>\r\n"
                    "<LocalCheckoutDir>C:\\QarnWork\\checkout\\</LocalCheckoutDir>\r\n";
    for (int i = 7; i < kMainProperties; ++i) {
        char line[160];
        snprintf(line, sizeof line, "<SiteSetting%d scope=\"site\">value of setting %d for the plant</SiteSetting%d>\r\n",
                 i, i, i);
        s += line;
    }
    s += "</Properties>\r\n<JniOptions>\r\n<ClassPath>C:\\Qarn\\lib\\qarn.jar</ClassPath>\r\n"
         "<MaximumHeap>-Xmx1024m</MaximumHeap>\r\n</JniOptions>\r\n</QarnConnector>\r\n";
    return s;
}

std::string PropertyFile(const char* prefix) {
    std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Parameter>\r\n<FieldCollection>\r\n";
    for (int i = 0; i < kFileProperties; ++i) {
        char line[160];
        snprintf(line, sizeof line, "<Field><Name>%s%d</Name><Value>setting %d of the %s file</Value></Field>\r\n",
                 prefix, i, i, prefix);
        s += line;
    }
    return s + "</FieldCollection>\r\n</Parameter>\r\n";
}

std::string ResourceFile() {
    std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<QarnResource>\r\n";
    for (const char* language : {"EN", "DE"}) {
        s += std::string("<") + language + ">\r\n";
        for (int i = 0; i < kMessages; ++i) {
            char line[160];
            snprintf(line, sizeof line, "<M%04d>Message %d in %s about the file %%s.</M%04d>\r\n", i, i, language, i);
            s += line;
        }
        s += std::string("</") + language + ">\r\n";
    }
    return s + "</QarnResource>\r\n";
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (FAILED(CoInitialize(nullptr))) return 1;
    const std::wstring root = BenchFolder(argc, argv) + L"qarn-config-bench";
    const std::wstring xml = root + L"\\xml\\";
    CreateDirectoryW(root.c_str(), nullptr);
    CreateDirectoryW(xml.c_str(), nullptr);
    const std::wstring files[] = {xml + L"QarnConnector.xml", xml + L"SiteProperties.xml", xml + L"CadProperties.xml",
                                  xml + L"QarnResources.xml"};
    if (!WriteFile(files[0], MainFile()) || !WriteFile(files[1], PropertyFile("Site")) ||
        !WriteFile(files[2], PropertyFile("Cad")) || !WriteFile(files[3], ResourceFile())) {
        fprintf(stderr, "cannot write the installation below %ls\n", root.c_str());
        return 1;
    }
    SetEnvironmentVariableW(L"QarnRootDir", root.c_str());

    ComPtr<IQarnClassFactory> factory;
    if (!Check(CoCreateInstance(CLSID_CQarnClassFactory, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&factory)), "factory"))
        return 1;
    // Changes one byte of one of the files (the line end after its XML declaration becomes a blank,
    // or back): the next Create reads everything. A kept read compares the files' bytes, so moving
    // a write time alone would not do.
    std::string contents[] = {MainFile(), PropertyFile("Site"), PropertyFile("Cad"), ResourceFile()};
    int touched = 0;
    const auto touch = [&]() -> bool {
        const int which = ++touched % 4;
        char& mark = contents[which][contents[which].find('\r')];
        mark = mark == '\r' ? ' ' : '\r';
        return WriteFile(files[which], contents[which]);
    };
    const auto create = [&](bool changed) -> double {
        factory->Destroy();
        if (changed && !touch()) {
            fprintf(stderr, "cannot change a file below %ls\n", root.c_str());
            return -1;
        }
        ComPtr<IQarnComApplication> app;
        const double start = Now();
        if (!Check(factory->Create(&app), "Create")) return -1;
        return Now() - start;
    };
    // MSXML alone: each file loaded by name, or its bytes read and loaded from memory (the quickest
    // way MSXML has).
    const auto parse = [&](bool byName) -> double {
        const double start = Now();
        for (const std::wstring& file : files) {
            ComPtr<IXMLDOMDocument2> document;
            if (!Check(CoCreateInstance(qarn::dom::kDomDocument60, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&document)), "DOM"))
                return -1;
            VARIANT_BOOL loaded = VARIANT_FALSE;
            if (byName) {
                VARIANT name;
                name.vt = VT_BSTR;
                name.bstrVal = SysAllocString(file.c_str());
                const HRESULT hr = document->load(name, &loaded);
                VariantClear(&name);
                if (!Check(hr, "load") || !loaded) return -1;
                continue;
            }
            VARIANT source = FileBytes(file.c_str());
            if (source.vt == VT_EMPTY) return -1;
            const HRESULT hr = document->load(source, &loaded);
            VariantClear(&source);
            if (!Check(hr, "load") || !loaded) return -1;
        }
        return Now() - start;
    };

    // A first round, not counted, activates the servers.
    if (create(true) < 0 || create(false) < 0 || parse(true) < 0 || parse(false) < 0) return 1;
    ComPtr<IQarnComApplication> app;
    factory->Create(&app);
    BSTR id = SysAllocString(L"M0999"), probe = nullptr;
    app->GetMessage(id, &probe);
    const bool found = probe && wcsstr(probe, L"Message 999 in EN") != nullptr;
    if (!found) fprintf(stderr, "message M0999 read wrongly: %ls\n", probe ? probe : L"(null)");
    SysFreeString(id);
    SysFreeString(probe);
    app.Reset();
    if (!found) return 1;

    std::vector<double> created, full, named, parsed;
    for (int i = 0; i < kRuns; ++i) {
        const double f = create(true), c = create(false), n = parse(true), p = parse(false);
        if (f < 0 || c < 0 || n < 0 || p < 0) return 1;
        full.push_back(f);
        created.push_back(c);
        named.push_back(n);
        parsed.push_back(p);
    }
    factory->Destroy();
    const double c = Median(created) * 1000, f = Median(full) * 1000, n = Median(named) * 1000,
                 p = Median(parsed) * 1000;
    const double top = std::max({c, f, n, p});
    printf("Installation of %s properties and %s messages per language (EN, DE) in four files; medians of %d runs.\n\n",
           Grouped(kMainProperties + 2 * kFileProperties).c_str(), Grouped(kMessages).c_str(), kRuns);
    printf("| step | ms | Create / step | |\n|---|---:|---:|:---|\n");
    printf("| Create, files unchanged since the last read | %.1f | | %s |\n", c, Bar(c, top).c_str());
    printf("| Create after a file changed (full read) | %.1f | %.2f | %s |\n", f, c / f, Bar(f, top).c_str());
    printf("| MSXML alone loading the four files by name | %.1f | %.2f | %s |\n", n, c / n, Bar(n, top).c_str());
    printf("| MSXML alone loading the four files' bytes | %.1f | %.2f | %s |\n", p, c / p, Bar(p, top).c_str());
    const bool meets = c <= f / 3;
    printf("\n**Verdict: %s** (Create with unchanged files %.2fx the full read; limit 0.33x)\n",
           meets ? "meets" : "misses", c / f);
    factory.Reset();
    CoUninitialize();
    return 0;
}
