// The host-safety stress program: the server used the way a multi-threaded host uses it (several
// single-threaded apartments, MTA threads, several processes). Each part of the program is a
// section in a file of its own; main.cpp runs them in their order under a watchdog and ends with
// "host safety: N passed, M failed".
#pragma once

#include "../Hardening.h"
#include "QarnComConnector.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace hostsafety {

// What a section found. Thread-safe: worker threads report into it.
class Report {
public:
    // A wrong answer, a failed call or a broken rule; the section fails.
    void Fail(const std::wstring& what);
    // A figure or a remark printed with the section (operations per second, handle counts).
    void Note(const std::wstring& what);
    bool Failed() const { return failures_ > 0; }
    // Runs `step` and turns a Failure (Expect, Check) into a reported failure.
    void Guard(const std::wstring& where, const std::function<void()>& step);

private:
    std::mutex lock_;
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

// The watchdog: a section that is still running after its time ends the process with "HANG:".
// Sections that wait on purpose (a start command) stay well below it.
inline constexpr int kSectionSeconds = 45;

// ---- threads and apartments ---------------------------------------------------------------------

// Waits for `handle` and keeps serving the calls other apartments make into this one: a
// single-threaded apartment that blocks without pumping stalls every caller of its objects.
// False on timeout.
bool PumpingWait(HANDLE handle, DWORD milliseconds = INFINITE);
// Serves what is waiting for this apartment (window messages, calls from other apartments).
void Pump();

// Runs `body(index)` on `count` new threads, each in its own apartment of `model`
// (COINIT_APARTMENTTHREADED or COINIT_MULTITHREADED), and waits for all of them, pumping.
// A Failure thrown by a body is reported with the thread's index.
void RunThreads(Report& report, int count, DWORD model, const std::function<void(int index)>& body);

// Threads RunThreads has started so far.
int ThreadsStarted();

// All threads of a RunThreads call meet here before going on; the wait pumps.
class Barrier {
public:
    explicit Barrier(int count);
    ~Barrier();
    void Arrive();

    // Arrives when the scope ends, also when a failure leaves it early: the other threads must
    // not wait for a thread that gave up.
    struct OnExit {
        Barrier& barrier;
        ~OnExit() { barrier.Arrive(); }
    };

private:
    std::mutex lock_;
    int count_, waiting_ = 0;
    HANDLE released_;
};

// Runs for about `seconds`, returning false once the time is over.
class Deadline {
public:
    explicit Deadline(double seconds)
        : end_(std::chrono::steady_clock::now() + std::chrono::milliseconds(static_cast<long long>(seconds * 1000))) {}
    bool Running() const { return std::chrono::steady_clock::now() < end_; }

private:
    std::chrono::steady_clock::time_point end_;
};

// ---- helper processes -----------------------------------------------------------------------------

// A section that needs further processes starts this program again with a helper's switch as the
// first argument; the program then runs that helper instead of the sections and exits with its
// result.
struct Helper {
    const wchar_t* name;                                // the switch, for example "--log-writer"
    int (*run)(const std::vector<std::wstring>& args);  // the arguments after the switch
};
std::vector<Helper>& Helpers();
struct HelperRegistration {
    HelperRegistration(const wchar_t* name, int (*run)(const std::vector<std::wstring>&)) {
        Helpers().push_back({name, run});
    }
};
#define HOST_SAFETY_HELPER(name, function) \
    static ::hostsafety::HelperRegistration function##_helper(name, &function)

// Starts this program as the helper `name` with `args`: the process handle (the caller closes it),
// or null when it cannot be started.
HANDLE StartHelper(const wchar_t* name, const std::vector<std::wstring>& args);

// ---- the process ----------------------------------------------------------------------------------

int HandleCount();

// The scratch folder of the run (removed at the end) and a sample installation copied into it;
// QarnRootDir points at the installation for the whole run.
const std::wstring& ScratchFolder();
const std::wstring& InstallationRoot();

}  // namespace hostsafety
