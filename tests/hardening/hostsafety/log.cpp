// One log file and many writers at once: eight apartments of this process and three further
// processes append numbered lines through the class factory's WriteLogMessage. Afterwards every
// line must be in the file exactly once, complete and well-formed.
#include "HostSafety.h"

#include <cstdio>
#include <map>

namespace hostsafety {
namespace {

constexpr int kThreads = 8, kProcesses = 3;
constexpr long kLinesPerWriter = 400;
constexpr wchar_t kHelper[] = L"--log-writer";

// Line `n` of a writer: long enough that two lines written over each other leave a visible mess.
std::string LineText(const std::string& writer, long n) {
    return "log writer " + writer + " line " + std::to_string(n) + " " +
           std::string(static_cast<size_t>(60 + n % 50), static_cast<char>('a' + n % 26));
}

void WriteShare(const std::string& writer) {
    auto factory = Create<IQarnClassFactory>(CLSID_CQarnClassFactory, L"CQarnClassFactory");
    for (long n = 0; n < kLinesPerWriter; ++n) {
        const std::string text = LineText(writer, n);
        Check(factory->WriteLogMessage(1 + n % 100, Str(std::wstring(text.begin(), text.end()))), L"WriteLogMessage");
    }
}

// A further process: `--log-writer <process number> <log file>`; exit code 0 when it wrote its share.
int LogWriterProcess(const std::vector<std::wstring>& args) {
    if (args.size() != 2) return 2;
    SetEnvironmentVariableW(L"QarnLogFile", args[1].c_str());
    ComScope com;
    try {
        return WriteShare(Narrow(args[0]) + ".0"), 0;
    } catch (const Failure&) {
        return 1;
    }
}
HOST_SAFETY_HELPER(kHelper, LogWriterProcess);

void ManyWriters(Report& report) {
    const std::wstring log = ScratchFolder() + L"\\many-writers.log";
    SetEnvironmentVariableW(L"QarnLogFile", log.c_str());
    std::vector<HANDLE> processes;
    for (int p = 1; p <= kProcesses; ++p)
        if (HANDLE h = StartHelper(kHelper, {std::to_wstring(p), log})) processes.push_back(h);
    RunThreads(report, kThreads, COINIT_APARTMENTTHREADED, [](int index) { WriteShare("0." + std::to_string(index)); });
    SetEnvironmentVariableW(L"QarnLogFile", nullptr);
    for (HANDLE process : processes) {
        DWORD code = 1;
        if (!PumpingWait(process, 30000) || !GetExitCodeProcess(process, &code) || code != 0)
            report.Fail(L"a log writer process failed or did not end");
        CloseHandle(process);
    }
    Expect(processes.size() == kProcesses, L"the log writer processes cannot be started");

    // Every line "YYYY-MM-DD hh:mm:ss - lll - text" CR LF, each numbered line exactly once.
    std::map<std::string, long> seen;
    long garbled = 0;
    std::string firstGarbled;
    const std::string bytes = ReadBytes(log).value_or("");
    for (size_t at = 0; at < bytes.size();) {
        size_t end = bytes.find("\r\n", at);
        if (end == std::string::npos) end = bytes.size();
        const std::string line = bytes.substr(at, end - at);
        at = end + 2;
        int y, mo, d, h, mi, s, level;
        char writer[16] = {};
        long n = -1;
        const bool framed = std::sscanf(line.c_str(), "%4d-%2d-%2d %2d:%2d:%2d - %3d - log writer %15s line %ld", &y, &mo,
                                        &d, &h, &mi, &s, &level, writer, &n) == 9;
        if (framed && line.find('\r') == std::string::npos && line.substr(line.find(" - log writer ") + 3) == LineText(writer, n) &&
            level == 1 + n % 100) {
            ++seen[std::string(writer) + "/" + std::to_string(n)];
        } else if (!garbled++) {
            firstGarbled = line.substr(0, 100);
        }
    }
    long missing = 0, twice = 0;
    const int writers = kThreads + kProcesses;
    for (int w = 0; w < writers; ++w)
        for (long n = 0; n < kLinesPerWriter; ++n) {
            const std::string writer = w < kThreads ? "0." + std::to_string(w) : std::to_string(w - kThreads + 1) + ".0";
            const long count = seen[writer + "/" + std::to_string(n)];
            missing += count == 0, twice += count > 1;
        }
    report.Note(std::to_wstring(writers) + L" writers, " + std::to_wstring(writers * kLinesPerWriter) + L" lines");
    if (missing) report.Fail(std::to_wstring(missing) + L" lines are missing");
    if (twice) report.Fail(std::to_wstring(twice) + L" lines are there more than once");
    if (garbled) report.Fail(std::to_wstring(garbled) + L" lines are garbled, the first: \"" + std::wstring(firstGarbled.begin(), firstGarbled.end()) + L"\"");
}

}  // namespace

HOST_SAFETY_SECTION(60, "log file: 8 threads and 3 processes append at once", ManyWriters);

}  // namespace hostsafety
