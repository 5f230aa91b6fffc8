// The host-safety stress program: the server used the way a multi-threaded host uses it (several
// single-threaded apartments, MTA threads, several processes). Each section is in a file of its
// own; main.cpp runs them in their order under a watchdog and ends with
// "host safety: N passed, M failed".
#pragma once

#include "../Hardening.h"
#include "QarnComConnector.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

namespace hostsafety {

// What a section found. Thread-safe: worker threads report into it.
class Report {
public:
    void Fail(const std::wstring& what);  // the section fails
    void Note(const std::wstring& what);  // a figure printed with the section
    bool Failed() const { return failures_ > 0; }
    // Runs `step` and turns a Failure (Expect, Check) into a reported failure.
    void Guard(const std::wstring& where, const std::function<void()>& step);

private:
    std::atomic<int> failures_{0};
};

struct Section {
    int order;  // sections run in ascending order
    const char* name;
    void (*run)(Report&);
};
std::vector<Section>& Sections();
struct Registration {
    Registration(int order, const char* name, void (*run)(Report&)) { Sections().push_back({order, name, run}); }
};
#define HOST_SAFETY_SECTION(order, name, function) \
    static ::hostsafety::Registration function##_registration(order, name, &function)

// A section still running after this ends the process with "HANG:".
inline constexpr int kSectionSeconds = 45;

// Waits for `handle` while serving the calls other apartments make into this one (a blocked STA
// stalls every caller of its objects). False on timeout.
bool PumpingWait(HANDLE handle, DWORD milliseconds = INFINITE);
void Pump();

// Runs `body(index)` on `count` new threads, each in an apartment of `model`, and waits for all,
// pumping. A Failure thrown by a body is reported with the thread's index.
void RunThreads(Report& report, int count, DWORD model, const std::function<void(int index)>& body);
int ThreadsStarted();  // by RunThreads so far

// All threads of a RunThreads call meet here before going on; the wait pumps.
class Barrier {
public:
    explicit Barrier(int count) : count_(count), released_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~Barrier() { CloseHandle(released_); }
    void Arrive();
    // Arrives when the scope ends, also when a failure leaves it early.
    struct OnExit {
        Barrier& barrier;
        ~OnExit() { barrier.Arrive(); }
    };

private:
    std::mutex lock_;
    int count_, waiting_ = 0;
    HANDLE released_;
};

class Deadline {
public:
    explicit Deadline(double seconds)
        : end_(std::chrono::steady_clock::now() + std::chrono::milliseconds(static_cast<long long>(seconds * 1000))) {}
    bool Running() const { return std::chrono::steady_clock::now() < end_; }

private:
    std::chrono::steady_clock::time_point end_;
};

// A further process: this program started again with a helper's switch as its first argument
// runs that helper instead of the sections and exits with its result.
struct Helper {
    const wchar_t* name;
    int (*run)(const std::vector<std::wstring>& args);  // the arguments after the switch
};
std::vector<Helper>& Helpers();
struct HelperRegistration {
    HelperRegistration(const wchar_t* name, int (*run)(const std::vector<std::wstring>&)) { Helpers().push_back({name, run}); }
};
#define HOST_SAFETY_HELPER(name, function) static ::hostsafety::HelperRegistration function##_helper(name, &function)
// The helper's process handle (the caller closes it), or null.
HANDLE StartHelper(const wchar_t* name, const std::vector<std::wstring>& args);

int HandleCount();
inline ComPtr<IGlobalInterfaceTable> Git() { return Create<IGlobalInterfaceTable>(CLSID_StdGlobalInterfaceTable); }

// The run's scratch folder (removed at the end) and the sample installation copied into it, which
// QarnRootDir names for the whole run.
const std::wstring& ScratchFolder();
const std::wstring& InstallationRoot();

}  // namespace hostsafety
