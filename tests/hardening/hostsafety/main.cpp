// The driver of the host-safety stress program: runs every section in its order under a watchdog
// and prints one line per section and the summary "host safety: N passed, M failed". Started with
// a helper's switch (a further process a section starts), it runs only that helper.
#include "HostSafety.h"

#include <algorithm>
#include <cstdio>

namespace hostsafety {

namespace {

std::wstring g_scratch, g_root;
std::atomic<ULONGLONG> g_sectionStart{0};
std::atomic<const char*> g_sectionName{""};

void Print(const std::wstring& text) {
    static std::mutex lock;
    std::lock_guard<std::mutex> guard(lock);
    std::printf("%s\n", Narrow(text).c_str());
    std::fflush(stdout);
}

}  // namespace

void Report::Fail(const std::wstring& what) {
    if (++failures_ <= 20) Print(L"  FAILED: " + what);  // the first ones find the fault
}

void Report::Note(const std::wstring& what) { Print(L"  " + what); }

void Report::Guard(const std::wstring& where, const std::function<void()>& step) {
    try {
        step();
    } catch (const Failure& f) {
        Fail(where + L": " + f.what);
    }
}

std::vector<Section>& Sections() { static std::vector<Section> sections; return sections; }

void Pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

bool PumpingWait(HANDLE handle, DWORD milliseconds) {
    const ULONGLONG end = milliseconds == INFINITE ? 0 : GetTickCount64() + milliseconds;
    for (;;) {
        DWORD left = INFINITE;
        if (end) {
            const ULONGLONG now = GetTickCount64();
            if (now >= end) return WaitForSingleObject(handle, 0) == WAIT_OBJECT_0;
            left = static_cast<DWORD>(end - now);
        }
        const DWORD r = MsgWaitForMultipleObjectsEx(1, &handle, left, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (r == WAIT_OBJECT_0) return true;
        if (r == WAIT_TIMEOUT) return false;
        Pump();
    }
}

std::atomic<int> g_threadsStarted{0};
int ThreadsStarted() { return g_threadsStarted; }

void RunThreads(Report& report, int count, DWORD model, const std::function<void(int)>& body) {
    g_threadsStarted += count;
    std::vector<HANDLE> done;
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i) {
        HANDLE finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        done.push_back(finished);
        threads.emplace_back([&report, &body, model, i, finished] {
            const bool com = SUCCEEDED(CoInitializeEx(nullptr, model));
            report.Guard(L"thread " + std::to_wstring(i), [&] {
                Expect(com, L"CoInitializeEx failed");
                body(i);
            });
            if (com) CoUninitialize();
            SetEvent(finished);
        });
    }
    for (HANDLE h : done) {
        PumpingWait(h);
        CloseHandle(h);
    }
    for (std::thread& t : threads) t.join();
}

void Barrier::Arrive() {
    if (std::lock_guard<std::mutex> guard(lock_); ++waiting_ == count_) SetEvent(released_);
    PumpingWait(released_);
}

int HandleCount() {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0) return static_cast<int>(count);
    // Wine answers 0 there; the system's handle table has the figure.
    struct Entry {
        ULONG ownerPid;
        BYTE objectType, flags;
        USHORT value;
        PVOID object;
        ULONG access;
    };
    using Query = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    static const auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!query) return -1;
    std::vector<BYTE> buffer(1 << 20);
    for (int attempt = 0; attempt < 8; ++attempt) {
        ULONG needed = 0;
        const LONG status = query(16 /* SystemHandleInformation */, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status == 0) {
            const ULONG entries = *reinterpret_cast<ULONG*>(buffer.data());
            const auto* entry = reinterpret_cast<const Entry*>(buffer.data() + sizeof(void*));
            int mine = 0;
            for (ULONG i = 0; i < entries; ++i) mine += entry[i].ownerPid == GetCurrentProcessId();
            return mine;
        }
        buffer.resize(std::max<size_t>(buffer.size() * 2, needed + 4096));
    }
    return -1;
}

std::vector<Helper>& Helpers() { static std::vector<Helper> helpers; return helpers; }

HANDLE StartHelper(const wchar_t* name, const std::vector<std::wstring>& args) {
    wchar_t program[MAX_PATH] = {};
    if (!GetModuleFileNameW(nullptr, program, MAX_PATH)) return nullptr;
    // (the helpers' arguments hold no quotes and do not end in a backslash)
    std::wstring command = L"\"" + std::wstring(program) + L"\" " + name;
    for (const std::wstring& arg : args) command += L" \"" + arg + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return nullptr;
    CloseHandle(process.hThread);
    return process.hProcess;
}

const std::wstring& ScratchFolder() { return g_scratch; }
const std::wstring& InstallationRoot() { return g_root; }

}  // namespace hostsafety

using namespace hostsafety;

int wmain(int argc, wchar_t** argv) {
    if (argc > 1) {
        for (const Helper& helper : Helpers())
            if (std::wstring(argv[1]) == helper.name) return helper.run(std::vector<std::wstring>(argv + 2, argv + argc));
        std::printf("unknown switch %s\n", Narrow(argv[1]).c_str());
        return 2;
    }
    g_scratch = test::TempFolder(L"host-safety");
    g_root = g_scratch + L"\\installation";
    CopySampleInstallation(g_root);
    SetEnvironmentVariableW(L"QarnRootDir", g_root.c_str());

    const Watchdog watchdog(g_sectionStart, kSectionSeconds * 1000ull,
                            [] { return "section \"" + std::string(g_sectionName.load()) + "\""; });
    std::vector<Section> sections = Sections();
    std::stable_sort(sections.begin(), sections.end(), [](const Section& a, const Section& b) { return a.order < b.order; });
    int passed = 0, failed = 0;
    {
        ComScope com;
        for (const Section& s : sections) {
            std::printf("== %s\n", s.name);
            std::fflush(stdout);
            g_sectionName = s.name;
            g_sectionStart = GetTickCount64();
            const ULONGLONG start = GetTickCount64();
            const int handles = HandleCount();
            Report report;
            report.Guard(L"section", [&] { s.run(report); });
            g_sectionStart = 0;
            std::printf("%s: %s (%.1f s, handles %+d)\n", report.Failed() ? "FAILED" : "passed", s.name,
                        (GetTickCount64() - start) / 1000.0, HandleCount() - handles);
            std::fflush(stdout);
            (report.Failed() ? failed : passed)++;
        }
    }
    RemoveTree(g_scratch);
    std::printf("host safety: %d passed, %d failed\n", passed, failed);
    return failed ? 1 : 0;
}
