// One log file and many writers at once: eight apartments of this process and three further
// processes append numbered lines through the class factory's WriteLogMessage, and now and then
// the utilities object's quick self-test, which writes its lines through the utilities' own log.
// Afterwards every line must be in the file exactly once, complete and well-formed.
#include "HostSafety.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <string_view>
#include <utility>

namespace hostsafety {
namespace {

constexpr int kThreads = 8;
constexpr int kProcesses = 3;
// Each writer writes for this long once all of them have started.
constexpr double kWriteSeconds = 3.0;
// A writer runs the self-test after every so many lines of its own.
constexpr long kSelfTestEvery = 50;
constexpr wchar_t kHelper[] = L"--log-writer";
constexpr wchar_t kQuickSelfTest[] = L"{FFD01A42-F1B9-4F5A-88BA-87C61CF77DF5}";

std::wstring Wide(std::string_view s) { return std::wstring(s.begin(), s.end()); }

// Line `n` of a writer: fully determined by writer and number, and long enough that two lines
// written over each other leave a visible mess.
std::string LineText(const std::string& writer, long n) {
    std::string text = "log writer " + writer + " line " + std::to_string(n) + " ";
    text.append(static_cast<size_t>(60 + n % 50), static_cast<char>('a' + n % 26));
    return text;
}
long LevelOf(long n) { return 1 + n % 100; }  // every level the log writes

// The self-test's input: a list with a "QarnHeader" structure that names the quick variant.
ComPtr<IParameterList> SelfTestInput() {
    auto header = Create<IStructure>(CLSID_Structure, L"Structure");
    Check(header->put_Name(Str(L"QarnHeader")), L"Structure.Name");
    ComPtr<IFieldCollection> fields;
    Check(header->get_FieldCollection(&fields), L"Structure.FieldCollection");
    Check(fields->SetValue(Str(L"functionmodule"), Var(Text(L"RunTestCases"))), L"SetValue");
    Check(fields->SetValue(Str(L"AccessKey"), Var(Text(kQuickSelfTest))), L"SetValue");
    auto list = Create<IParameterList>(CLSID_ParameterList, L"ParameterList");
    ComPtr<IStructureCollection> structures;
    Check(list->get_StructureCollection(&structures), L"ParameterList.StructureCollection");
    Check(structures->Add(header.Get()), L"StructureCollection.Add");
    return list;
}

struct Counts {
    long lines = 0;      // numbered lines written through the class factory
    long selfTests = 0;  // self-test runs through the utilities object
};

// One writer's share: makes its objects, says it is ready, waits for the start signal, then
// writes for kWriteSeconds. It also says it is ready when it fails before.
Counts WriteShare(const std::string& writer, HANDLE ready, HANDLE start) {
    struct Arrival {
        HANDLE ready;
        bool done = false;
        void Now() {
            if (!std::exchange(done, true)) ReleaseSemaphore(ready, 1, nullptr);
        }
        ~Arrival() { Now(); }
    } arrival{ready};
    auto factory = Create<IQarnClassFactory>(CLSID_CQarnClassFactory, L"CQarnClassFactory");
    auto utilities = Create<IQarnUtilities>(CLSID_CQarnUtilities, L"CQarnUtilities");
    ComPtr<IParameterList> input = SelfTestInput(), output = Create<IParameterList>(CLSID_ParameterList, L"ParameterList");
    arrival.Now();
    Expect(PumpingWait(start, 60000), L"the start signal never came");
    Counts counts;
    for (Deadline end(kWriteSeconds); end.Running();) {
        Check(factory->WriteLogMessage(LevelOf(counts.lines), Str(Wide(LineText(writer, counts.lines)))),
              L"WriteLogMessage");
        if (++counts.lines % kSelfTestEvery == 0) {
            Check(utilities->InvokeMethod(input.GetAddressOf(), output.GetAddressOf()), L"InvokeMethod (self-test)");
            ++counts.selfTests;
        }
    }
    return counts;
}

// A line as the log writes it, "YYYY-MM-DD hh:mm:ss - lll - text", without its CR LF.
struct LogLine {
    long level;
    std::string text;
};
bool Parse(std::string_view line, LogLine& out) {
    static constexpr std::string_view stamp = "dddd-dd-dd dd:dd:dd - ";
    if (line.size() < stamp.size() + 6) return false;
    for (size_t i = 0; i < stamp.size(); ++i)
        if (stamp[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(line[i])) : line[i] != stamp[i]) return false;
    // The level, right-aligned in three columns.
    const std::string_view level = line.substr(stamp.size(), 3);
    const size_t digits = level.find_first_not_of(' ');
    if (digits == std::string_view::npos) return false;
    out.level = 0;
    for (char c : level.substr(digits)) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        out.level = out.level * 10 + (c - '0');
    }
    if (line.substr(stamp.size() + 3, 3) != " - ") return false;
    out.text = std::string(line.substr(stamp.size() + 6));
    return true;
}

// The lines of a log file; a piece that is not a well-formed line (a stray CR or LF inside, a
// missing CR LF at the end, a wrong frame) goes to `garbled`.
std::vector<LogLine> ReadLog(const std::wstring& path, std::vector<std::string>& garbled) {
    std::vector<LogLine> lines;
    const std::optional<std::string> bytes = ReadBytes(path);
    Expect(bytes.has_value(), L"the log file " + path + L" cannot be read");
    std::string_view rest = *bytes;
    while (!rest.empty()) {
        const size_t end = rest.find("\r\n");
        const std::string_view piece = rest.substr(0, end);
        LogLine line;
        if (end == std::string_view::npos || piece.find_first_of("\r\n") != std::string_view::npos || !Parse(piece, line))
            garbled.emplace_back(piece.substr(0, 120));
        else
            lines.push_back(std::move(line));
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 2);
    }
    return lines;
}

using TextCounts = std::map<std::pair<long, std::string>, long>;

// What one quick self-test run writes, by level and text: one run into a log file of its own.
TextCounts SelfTestLines() {
    const std::wstring path = ScratchFolder() + L"\\self-test.log";
    SetEnvironmentVariableW(L"QarnLogFile", path.c_str());
    auto utilities = Create<IQarnUtilities>(CLSID_CQarnUtilities, L"CQarnUtilities");
    SetEnvironmentVariableW(L"QarnLogFile", nullptr);
    ComPtr<IParameterList> input = SelfTestInput(), output = Create<IParameterList>(CLSID_ParameterList, L"ParameterList");
    Check(utilities->InvokeMethod(input.GetAddressOf(), output.GetAddressOf()), L"InvokeMethod (self-test)");
    std::vector<std::string> garbled;
    TextCounts run;
    for (const LogLine& line : ReadLog(path, garbled)) ++run[{line.level, line.text}];
    Expect(garbled.empty() && !run.empty(), L"the self-test alone wrote no well-formed lines");
    DeleteFileW(path.c_str());
    return run;
}

std::wstring EventName(const wchar_t* kind) {
    return std::wstring(L"Local\\qarn-host-safety-log-") + kind + L"-" + std::to_wstring(GetCurrentProcessId());
}

// A further process: writes its share as writer "<process>.0" and leaves "<lines> <self-tests>",
// or "failed: <why>", in its result file.
//   --log-writer <process> <log file> <ready semaphore> <start event> <result file>
int LogWriterProcess(const std::vector<std::wstring>& args) {
    if (args.size() != 5) return 2;
    SetEnvironmentVariableW(L"QarnLogFile", args[1].c_str());
    HANDLE ready = OpenSemaphoreW(SEMAPHORE_MODIFY_STATE, FALSE, args[2].c_str());
    HANDLE start = OpenEventW(SYNCHRONIZE, FALSE, args[3].c_str());
    std::string result;
    {
        ComScope com;
        try {
            Expect(com.ok && ready && start, L"COM or the named start events are missing");
            const Counts counts = WriteShare(Narrow(args[0]) + ".0", ready, start);
            result = std::to_string(counts.lines) + " " + std::to_string(counts.selfTests);
        } catch (const Failure& f) {
            result = "failed: " + Narrow(f.what);
        }
    }
    if (ready) CloseHandle(ready);
    if (start) CloseHandle(start);
    return WriteText(args[4], result.c_str()) && result.rfind("failed", 0) != 0 ? 0 : 1;
}
HOST_SAFETY_HELPER(kHelper, LogWriterProcess);

void ManyWriters(Report& report) {
    const TextCounts selfTestRun = SelfTestLines();
    const std::wstring log = ScratchFolder() + L"\\many-writers.log";
    DeleteFileW(log.c_str());

    // Every writer waits for one start signal, given once all of them have made their objects.
    HANDLE ready = CreateSemaphoreW(nullptr, 0, kThreads + kProcesses, EventName(L"ready").c_str());
    HANDLE start = CreateEventW(nullptr, TRUE, FALSE, EventName(L"start").c_str());
    Expect(ready && start, L"cannot create the named start events");
    std::vector<HANDLE> processes(kProcesses, nullptr);
    std::vector<std::wstring> results(kProcesses);
    for (int p = 0; p < kProcesses; ++p) {
        results[p] = ScratchFolder() + L"\\log-writer-" + std::to_wstring(p + 1) + L".txt";
        DeleteFileW(results[p].c_str());
        processes[p] = StartHelper(kHelper, {std::to_wstring(p + 1), log, EventName(L"ready"), EventName(L"start"), results[p]});
        if (!processes[p]) report.Fail(L"log writer process " + std::to_wstring(p + 1) + L" cannot be started");
    }
    const int writers = kThreads + static_cast<int>(std::count_if(processes.begin(), processes.end(), [](HANDLE h) { return h; }));
    std::thread starter([&] {
        int arrived = 0;
        while (arrived < writers && WaitForSingleObject(ready, 30000) == WAIT_OBJECT_0) ++arrived;
        if (arrived < writers) report.Fail(L"only " + std::to_wstring(arrived) + L" writers became ready");
        SetEvent(start);
    });

    SetEnvironmentVariableW(L"QarnLogFile", log.c_str());
    std::vector<Counts> threadCounts(kThreads);
    RunThreads(report, kThreads, COINIT_APARTMENTTHREADED,
               [&](int index) { threadCounts[index] = WriteShare("0." + std::to_string(index), ready, start); });
    SetEnvironmentVariableW(L"QarnLogFile", nullptr);
    starter.join();

    // What each writer says it wrote.
    std::map<std::string, long> written;
    long selfTests = 0;
    for (int t = 0; t < kThreads; ++t) {
        written["0." + std::to_string(t)] = threadCounts[t].lines;
        selfTests += threadCounts[t].selfTests;
    }
    for (int p = 0; p < kProcesses; ++p) {
        if (!processes[p]) continue;
        const std::wstring name = L"log writer process " + std::to_wstring(p + 1);
        if (!PumpingWait(processes[p], 30000)) {
            report.Fail(name + L" did not end");
            TerminateProcess(processes[p], 3);
        }
        CloseHandle(processes[p]);
        const std::string result = ReadBytes(results[p]).value_or("failed: no result file");
        long lines = -1, runs = -1;
        if (std::sscanf(result.c_str(), "%ld %ld", &lines, &runs) != 2 || lines < 0 || runs < 0) {
            report.Fail(name + L": " + Wide(result));
            continue;
        }
        written[std::to_string(p + 1) + ".0"] = lines;
        selfTests += runs;
    }
    CloseHandle(ready);
    CloseHandle(start);

    // Every numbered line exactly once, as written; the self-test's lines as often as it ran.
    std::vector<std::string> garbled;
    const std::vector<LogLine> lines = ReadLog(log, garbled);
    std::map<std::string, std::vector<int>> seen;
    for (const auto& [writer, count] : written) seen[writer].assign(static_cast<size_t>(count), 0);
    TextCounts other;
    long numbered = 0, duplicates = 0;
    for (const LogLine& line : lines) {
        char writer[32] = {};
        long n = -1;
        if (std::sscanf(line.text.c_str(), "log writer %31s line %ld ", writer, &n) == 2) {
            auto it = seen.find(writer);
            if (it != seen.end() && n >= 0 && n < static_cast<long>(it->second.size()) &&
                line.text == LineText(writer, n) && line.level == LevelOf(n)) {
                if (it->second[static_cast<size_t>(n)]++) ++duplicates;
                ++numbered;
                continue;
            }
            garbled.push_back(line.text.substr(0, 120));
            continue;
        }
        ++other[{line.level, line.text}];
    }
    long missing = 0;
    std::wstring firstMissing;
    for (const auto& [writer, marks] : seen)
        for (size_t n = 0; n < marks.size(); ++n)
            if (!marks[n] && !missing++) firstMissing = Wide(writer) + L" line " + std::to_wstring(n);
    long total = 0;
    for (const auto& [writer, count] : written) total += count;
    report.Note(std::to_wstring(written.size()) + L" writers: " + std::to_wstring(total) + L" numbered lines and " +
                std::to_wstring(selfTests) + L" self-test runs in " + std::to_wstring(lines.size() + garbled.size()) +
                L" lines");
    if (missing) report.Fail(std::to_wstring(missing) + L" numbered lines are missing, the first: " + firstMissing);
    if (duplicates) report.Fail(std::to_wstring(duplicates) + L" numbered lines are there twice");
    for (const auto& [key, once] : selfTestRun) {
        const auto it = other.find(key);
        const long found = it == other.end() ? 0 : it->second;
        if (found != once * selfTests)
            report.Fail(L"the self-test line \"" + Wide(key.second) + L"\" is there " + std::to_wstring(found) +
                        L" times instead of " + std::to_wstring(once * selfTests));
        if (it != other.end()) other.erase(it);
    }
    for (const auto& [key, count] : other) garbled.insert(garbled.end(), static_cast<size_t>(count), key.second.substr(0, 120));
    if (!garbled.empty())
        report.Fail(std::to_wstring(garbled.size()) + L" lines are garbled, cut or unknown, the first: \"" +
                    Wide(garbled.front()) + L"\"");
    DeleteFileW(log.c_str());
    for (const std::wstring& r : results) DeleteFileW(r.c_str());
}

}  // namespace

HOST_SAFETY_SECTION(60, "log file: 8 threads and 3 processes append at once", ManyWriters);

}  // namespace hostsafety
