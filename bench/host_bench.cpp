// Mixed work of a multi-threaded host: the operations of tests/hardening/hostsafety/MixedWork.h
// (transactions, encryption, documents, text files, strings, numbers) in 1 and in 8 single-threaded
// apartments at once; and the cost of one call on the shared application from an apartment other
// than its own. Prints operations per second per thread, overall and per kind, and microseconds
// per call.
#include "tests/hardening/hostsafety/MixedWork.h"

#include "BenchClock.h"

#include <atomic>
#include <thread>
#include <utility>

using mixedwork::Worker;

namespace {

struct Figures {
    long operations[Worker::kKinds] = {};
    double seconds[Worker::kKinds] = {};
};

// Serves calls into this apartment until `done` is set (a host's main thread pumps).
void PumpUntil(HANDLE done) {
    for (;;) {
        const DWORD r = MsgWaitForMultipleObjects(1, &done, FALSE, INFINITE, QS_ALLINPUT);
        if (r == WAIT_OBJECT_0) break;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
}

// Runs `job` in a new single-threaded apartment while this one serves calls.
template <class Job>
void InNewApartment(Job&& job) {
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread caller([&] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        job();
        CoUninitialize();
        SetEvent(done);
    });
    PumpUntil(done);
    caller.join();
    CloseHandle(done);
}

// Microseconds per GetProperty call on the process's application from a new apartment, while this
// one (the first to call Create) pumps.
double CallMicroseconds() {
    constexpr int kCalls = 2000;
    double result = 0;
    InNewApartment([&] {
        Microsoft::WRL::ComPtr<IQarnClassFactory> factory;
        Microsoft::WRL::ComPtr<IQarnComApplication> app;
        if (Check(CoCreateInstance(CLSID_CQarnClassFactory, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&factory)), "factory") &&
            Check(factory->Create(&app), "Create")) {
            BSTR value = nullptr;
            BSTR name = SysAllocString(L"Plant");
            for (int i = 0; i < 100; ++i, SysFreeString(value)) app->GetProperty(name, &value);
            const double start = Now();
            for (int i = 0; i < kCalls; ++i, SysFreeString(value)) app->GetProperty(name, &value);
            result = (Now() - start) / kCalls * 1e6;
            SysFreeString(name);
        }
    });
    return result;
}

// Milliseconds per GetXmlParameterList(ChangePart), which merges into the caller's list, in a new
// apartment: with a list of its own, or with one this apartment (the host's main thread) made.
double ContextListMilliseconds(bool fromHere) {
    const auto part = [] {
        Microsoft::WRL::ComPtr<IParameterList> list;
        Microsoft::WRL::ComPtr<IFieldCollection> fields;
        if (!Check(CoCreateInstance(CLSID_ParameterList, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&list)), "ParameterList") ||
            !Check(list->get_FieldCollection(&fields), "FieldCollection"))
            return list;
        for (auto [name, value] : {std::pair{L"PartNumber", L"100-4711"}, {L"Title", L"Drive shaft"}, {L"Mass", L"3.92"}}) {
            VARIANT text;
            text.vt = VT_BSTR;
            text.bstrVal = SysAllocString(value);
            BSTR n = SysAllocString(name);
            fields->SetValue(n, text);
            SysFreeString(n);
            VariantClear(&text);
        }
        return list;
    };
    Microsoft::WRL::ComPtr<IParameterList> mine = fromHere ? part() : nullptr;
    IStream* stream = nullptr;
    if (mine && !Check(CoMarshalInterThreadInterfaceInStream(IID_IParameterList, mine.Get(), &stream), "marshal")) return 0;
    double result = 0;
    InNewApartment([&] {
        Microsoft::WRL::ComPtr<IParameterList> context;
        Microsoft::WRL::ComPtr<IQarnUtilities> utilities;
        if (stream) CoGetInterfaceAndReleaseStream(stream, IID_IParameterList, reinterpret_cast<void**>(context.GetAddressOf()));
        else context = part();
        if (!context || !Check(CoCreateInstance(CLSID_CQarnUtilities, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&utilities)), "utilities"))
            return;
        BSTR file = SysAllocString(L"Parts.xml"), alias = SysAllocString(L"ChangePart");
        const int calls = fromHere ? 20 : 200;
        double start = 0;
        for (int i = -5; i < calls; ++i) {
            if (i == 0) start = Now();
            Microsoft::WRL::ComPtr<IParameterList> list;
            if (!Check(utilities->GetXmlParameterList(file, alias, context.Get(), &list), "GetXmlParameterList")) break;
        }
        result = (Now() - start) / calls * 1e3;
        SysFreeString(file);
        SysFreeString(alias);
    });
    return result;
}

// Runs the work in `threads` apartments for `seconds`; per kind the operations and the time spent.
Figures Run(const std::wstring& folder, int threads, double seconds, bool ownConfiguration) {
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
                Worker worker(folder + L"host-" + std::to_wstring(t), ownConfiguration);
                for (int i = t; Now() < end; ++i) {
                    const int kind = i % Worker::kKinds;
                    const double start = Now();
                    worker.Run(kind, (i / Worker::kKinds) % 5);
                    perThread[t].seconds[kind] += Now() - start;
                    ++perThread[t].operations[kind];
                }
            } catch (const Failure& f) {
                fprintf(stderr, "%ls\n", f.what.c_str());
                ++failures;
            }
            CoUninitialize();
            if (--running == 0) SetEvent(done);
        });
    }
    PumpUntil(done);
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
    Run(folder, 1, 1, false);  // warm-up
    constexpr double kSeconds = 10;
    struct Setting {
        int threads;
        bool own;
        const char* label;
    };
    const Setting settings[] = {
        {1, false, "1 apartment, lookups in the application's apartment"},
        {8, false, "8 apartments, lookups in the application's apartment"},
        {8, true, "8 apartments, each utilities object with its own configuration"},
    };
    double perThread[3] = {};
    printf("| Setting | operations per second per thread |");
    for (const wchar_t* name : Worker::kKindNames) printf(" %ls (ms) |", name);
    printf("\n|---|---|");
    for (int k = 0; k < Worker::kKinds; ++k) printf("---|");
    printf("\n");
    for (int i = 0; i < 3; ++i) {
        const Figures f = Run(folder, settings[i].threads, kSeconds, settings[i].own);
        long all = 0;
        for (long n : f.operations) all += n;
        perThread[i] = all / kSeconds / settings[i].threads;
        printf("| %s | %.0f |", settings[i].label, perThread[i]);
        for (int k = 0; k < Worker::kKinds; ++k)
            printf(" %.2f |", f.operations[k] ? 1000 * f.seconds[k] / f.operations[k] : 0.0);
        printf("\n");
        fflush(stdout);
    }
    printf("\nMixed work on 8 apartments: %.0f operations per second per thread with lookups in the "
           "application's apartment, %.0f with a configuration per utilities object (%.0f on one apartment).\n",
           perThread[1], perThread[2], perThread[0]);
    printf("\nOne GetProperty call on the application from another apartment: %.0f us.\n", CallMicroseconds());
    const double own = ContextListMilliseconds(false), other = ContextListMilliseconds(true);
    printf("\n`GetXmlParameterList(ChangePart)` with the caller's list of its own apartment: %.2f ms; with a list "
           "made by another apartment: %.2f ms (%.1f times).\n",
           own, other, own > 0 ? other / own : 0.0);
    printf("\n**Verdict: %s** (a list of another apartment %.1fx one of the caller's own; limit 5x)\n",
           own > 0 && other <= 5 * own ? "meets" : "misses", own > 0 ? other / own : 0.0);
    factory->Destroy();
    app.Reset();
    factory.Reset();
    CoUninitialize();
    return 0;
}
