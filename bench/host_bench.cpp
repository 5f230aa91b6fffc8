// Mixed work of a multi-threaded host: the operations of tests/hardening/hostsafety/MixedWork.h
// (transactions, encryption, documents, text files, strings, numbers) in 1 and in 8 single-threaded
// apartments at once, with the application in the main apartment, which pumps meanwhile.
// Prints operations per second per thread, overall and per kind.
#include "tests/hardening/hostsafety/MixedWork.h"

#include "BenchClock.h"

#include <atomic>
#include <thread>

using mixedwork::Worker;

namespace {

struct Figures {
    long operations[Worker::kKinds] = {};
    double seconds[Worker::kKinds] = {};
};

// Runs the work in `threads` apartments for `seconds`; per kind the operations and the time spent.
Figures Run(const std::wstring& folder, int threads, double seconds) {
    std::vector<Figures> perThread(threads);
    std::atomic<int> failures{0};
    std::vector<std::thread> workers;
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<int> running{threads};
    const double end = Now() + seconds;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            try {
                Worker worker(folder + L"host-" + std::to_wstring(t));
                for (int i = t; Now() < end; ++i) {
                    const int kind = i % Worker::kKinds;
                    const double start = Now();
                    worker.Run(kind, (i / Worker::kKinds) % 5);
                    perThread[t].seconds[kind] += Now() - start;
                    ++perThread[t].operations[kind];
                }
            } catch (const mixedwork::CallFailed& f) {
                fprintf(stderr, "%ls failed: 0x%08lX\n", f.what.c_str(), static_cast<unsigned long>(f.hr));
                ++failures;
            }
            CoUninitialize();
            if (--running == 0) SetEvent(done);
        });
    }
    // The application lives here: serve its callers until the workers are done.
    for (;;) {
        const DWORD r = MsgWaitForMultipleObjects(1, &done, FALSE, INFINITE, QS_ALLINPUT);
        if (r == WAIT_OBJECT_0) break;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
    for (auto& w : workers) w.join();
    CloseHandle(done);
    Figures total;
    for (const Figures& f : perThread)
        for (int k = 0; k < Worker::kKinds; ++k) {
            total.operations[k] += f.operations[k];
            total.seconds[k] += f.seconds[k];
        }
    if (failures) fprintf(stderr, "%d threads failed\n", failures.load());
    return total;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const std::wstring folder = BenchFolder(argc, argv);
    // The sample installation of the source tree (seen from Wine on drive Z:).
    std::wstring root = L"Z:" QARN_SOURCE_DIR "/samples/installation";
    for (wchar_t& c : root)
        if (c == L'/') c = L'\\';
    SetEnvironmentVariableW(L"QarnRootDir", root.c_str());
    Microsoft::WRL::ComPtr<IQarnClassFactory> factory;
    Microsoft::WRL::ComPtr<IQarnComApplication> app;
    if (!Check(CoCreateInstance(CLSID_CQarnClassFactory, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&factory)), "factory") ||
        !Check(factory->Create(&app), "Create"))
        return 1;
    Run(folder, 1, 1);  // warm-up
    constexpr double kSeconds = 10;
    const int counts[] = {1, 8};
    Figures figures[2];
    for (int i = 0; i < 2; ++i) figures[i] = Run(folder, counts[i], kSeconds);

    printf("| Threads | operations per second per thread |");
    for (const wchar_t* name : Worker::kKindNames) printf(" %ls (ms) |", name);
    printf("\n|---|---|");
    for (int k = 0; k < Worker::kKinds; ++k) printf("---|");
    printf("\n");
    for (int i = 0; i < 2; ++i) {
        long all = 0;
        for (long n : figures[i].operations) all += n;
        printf("| %d | %.0f |", counts[i], all / kSeconds / counts[i]);
        for (int k = 0; k < Worker::kKinds; ++k)
            printf(" %.2f |", figures[i].operations[k] ? 1000 * figures[i].seconds[k] / figures[i].operations[k] : 0.0);
        printf("\n");
    }
    long one = 0, eight = 0;
    for (long n : figures[0].operations) one += n;
    for (long n : figures[1].operations) eight += n;
    printf("\nVerdict: %.0f operations per second per thread on 8 apartments (%.0f on one).\n",
           eight / kSeconds / 8, one / kSeconds);
    factory->Destroy();
    app.Reset();
    factory.Reset();
    CoUninitialize();
    return 0;
}
