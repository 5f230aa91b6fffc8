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

#include <string>

// The folder for a benchmark's files, with a trailing backslash: the first argument, else the
// temporary folder.
inline std::wstring BenchFolder(int argc, wchar_t** argv) {
    if (argc > 1) return std::wstring(argv[1]) + L"\\";
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    return temp;
}
