// The clock of the benchmarks: seconds from the performance counter.
#pragma once

#include <windows.h>

inline double Now() {
    static const LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

// The folder for a benchmark's files, with a trailing backslash: the first argument, else the
// temporary folder.
inline std::wstring BenchFolder(int argc, wchar_t** argv) {
    if (argc > 1) return std::wstring(argv[1]) + L"\\";
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    return temp;
}

// The median of a benchmark's timings.
inline double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// True for a successful call; a failed one is named on standard error.
inline bool Check(HRESULT hr, const char* what) {
    if (SUCCEEDED(hr)) return true;
    fprintf(stderr, "%s failed: 0x%08lX\n", what, static_cast<unsigned long>(hr));
    return false;
}

// The benchmarks print Markdown: tables, bar renderings of their curves and a verdict line.

// A bar of `value` on a scale where `max` fills `width` blocks, as a code span for a table cell.
inline std::string Bar(double value, double max, int width = 30) {
    long blocks = max > 0 ? std::lround(value / max * width) : 0;
    blocks = std::clamp(blocks, value > 0 ? 1L : 0L, static_cast<long>(width));
    std::string bar = "`";
    for (long i = 0; i < blocks; ++i) bar += "\u2588";
    return bar + "`";
}

// A number with thousands separators ("1,000,000").
inline std::string Grouped(long long n) {
    std::string digits = std::to_string(n < 0 ? -n : n), out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return n < 0 ? "-" + out : out;
}

// The verdict line of a benchmark: whether the run meets its target, and the figures that decide.
inline void Verdict(bool meets, const std::string& why) {
    std::printf("\n**Verdict: %s** (%s)\n", meets ? "meets" : "misses", why.c_str());
}

// A flatness check: the per-operation figure at the largest size against the one at the
// smallest-but-one size, within `limit` times.
inline bool Flat(double largest, double reference, double limit = 2.0) {
    return reference > 0 && largest <= limit * reference;
}

// Printf into a std::string.
template <class... A>
std::string Format(const char* format, A... args) {
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, format, args...);
    return buffer;
}

// A file's bytes as the VT_ARRAY|VT_UI1 variant MSXML loads from memory; VT_EMPTY when the file
// cannot be read. The caller clears it.
inline VARIANT FileBytes(const wchar_t* path) {
    VARIANT source;
    VariantInit(&source);
    FILE* f = _wfopen(path, L"rb");
    if (!f) return source;
    std::string bytes;
    char buffer[65536];
    for (size_t got; (got = fread(buffer, 1, sizeof buffer, f)) > 0;) bytes.append(buffer, got);
    fclose(f);
    source.parray = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    if (!source.parray) return source;
    source.vt = VT_ARRAY | VT_UI1;
    void* data = nullptr;
    SafeArrayAccessData(source.parray, &data);
    std::copy(bytes.begin(), bytes.end(), static_cast<char*>(data));
    SafeArrayUnaccessData(source.parray);
    return source;
}
