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
