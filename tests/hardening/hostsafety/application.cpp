// The shared application in a host with several apartments: one application per process however
// the first Create calls meet and whatever becomes of the thread that made it, Destroy racing every
// use of it, and mixed work in 8 apartments that must give the answers one thread gives.
#include "HostSafety.h"
#include "MixedWork.h"

#include <map>
#include <set>

namespace hostsafety {
namespace {

constexpr int kThreads = 8;

std::wstring Property(IQarnComApplication* app, const wchar_t* name) {
    Str value;
    Check(app->GetProperty(Str(name), value.Out()), std::wstring(L"GetProperty ") + name);
    return std::wstring(value.View());
}

// A text property of an object reached late-bound.
DISPID DispatchId(IDispatch* object, const wchar_t* name) {
    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    Check(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), name);
    return id;
}

std::wstring DispatchGet(IDispatch* object, const wchar_t* name) {
    DISPPARAMS none{};
    Var value;
    Check(object->Invoke(DispatchId(object, name), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &value,
                         nullptr, nullptr),
          name);
    Expect(value.vt == VT_BSTR, std::wstring(name) + L" is no text");
    return value.bstrVal ? value.bstrVal : L"";
}

void DispatchPut(IDispatch* object, const wchar_t* name, const std::wstring& text) {
    Var value(Text(text));
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS args{&value, &named, 1, 1};
    Check(object->Invoke(DispatchId(object, name), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &args, nullptr,
                         nullptr, nullptr),
          name);
}

// Occurrences of `text` in a file.
int CountLines(const std::wstring& file, const char* text) {
    const std::string bytes = ReadBytes(file).value_or("");
    int count = 0;
    for (size_t at = bytes.find(text); at != std::string::npos; at = bytes.find(text, at + 1)) ++count;
    return count;
}

// An installation of its own for a section (QarnRootDir points at it while the section runs):
// the sample's files, a start command that counts its runs, and a log file.
class CountingInstallation {
public:
    explicit CountingInstallation(const std::wstring& name)
        : root_(ScratchFolder() + L"\\" + name), log_(root_ + L"\\log\\connector.log") {
        CopyTree(InstallationRoot(), root_);
        // The start command appends a line per run; it is named by the configuration.
        Expect(WriteBytes(root_ + L"\\xml\\count-start.cmd", "@echo started>>\"%QarnRootDir%\\starts.txt\"\r\n"),
               L"cannot write the start command");
        std::string config = *ReadBytes(root_ + L"\\xml\\QarnConnector.xml");
        const size_t at = config.find("<Properties>") + std::strlen("<Properties>");
        config.insert(at, "<StartCommandShell>count-start.cmd</StartCommandShell>");
        Expect(WriteBytes(root_ + L"\\xml\\QarnConnector.xml", config.c_str()), L"cannot write the configuration");
        SetEnvironmentVariableW(L"QarnRootDir", root_.c_str());
        SetEnvironmentVariableW(L"QarnLogFile", log_.c_str());
    }
    ~CountingInstallation() {
        SetEnvironmentVariableW(L"QarnRootDir", InstallationRoot().c_str());
        SetEnvironmentVariableW(L"QarnLogFile", nullptr);
    }
    int Starts() const { return CountLines(root_ + L"\\starts.txt", "started"); }
    int Reads() const { return CountLines(log_, "EVAL_HR(pApp->Init(), pApp);"); }  // once per creation

private:
    std::wstring root_, log_;
};

ComPtr<IQarnClassFactory> NewFactory() { return Create<IQarnClassFactory>(CLSID_CQarnClassFactory); }
void Destroy() { Check(NewFactory()->Destroy(), L"Destroy"); }

// ---- 8 apartments ask for the application at the same moment ------------------------------------

// Runs `get` in 8 apartments at the same moment and requires that all of them got one object: each
// apartment leaves its mark on what it got (`mark`), and each then finds every apartment's mark on
// its own reference (`marked`). (Comparing the proxies' identities would mean marshaling proxies,
// which under Wine keeps a reference to the object for good.)
void OneObjectEverywhere(Report& report, const std::wstring& what, const std::function<ComPtr<IUnknown>()>& get,
                         const std::function<void(IUnknown*, const std::wstring&)>& mark,
                         const std::function<bool(IUnknown*, const std::wstring&)>& marked) {
    Barrier start(kThreads), allMarked(kThreads);
    RunThreads(report, kThreads, COINIT_APARTMENTTHREADED, [&](int index) {
        start.Arrive();
        ComPtr<IUnknown> object = get();
        Expect(object != nullptr, what + L": nothing came back");
        mark(object.Get(), L"apartment " + std::to_wstring(index));
        allMarked.Arrive();
        for (int i = 0; i < kThreads; ++i)
            Expect(marked(object.Get(), L"apartment " + std::to_wstring(i)),
                   what + L": apartment " + std::to_wstring(index) + L" got another object than apartment " + std::to_wstring(i));
    });
}

ComPtr<IQarnComApplication> AsApplication(IUnknown* object) {
    ComPtr<IQarnComApplication> app;
    Check(object->QueryInterface(IID_PPV_ARGS(&app)), L"IQarnComApplication");
    return app;
}

void FirstCreate(Report& report) {
    constexpr int kRounds = 4;
    CountingInstallation installation(L"first-create");
    for (int round = 0; round < kRounds; ++round) {
        Destroy();
        const std::wstring mark = std::to_wstring(round);
        OneObjectEverywhere(
            report, L"round " + mark + L" of Create",
            [] {
                ComPtr<IQarnComApplication> app;
                Check(NewFactory()->Create(&app), L"Create");
                return ComPtr<IUnknown>(app);
            },
            [&mark](IUnknown* object, const std::wstring& apartment) {
                const ComPtr<IQarnComApplication> app = AsApplication(object);
                Expect(Property(app.Get(), L"Plant") == L"1100", L"the application does not answer Plant with 1100");
                Check(app->SetProperty(Str(L"Round"), Str(mark.c_str())), L"SetProperty");
                Check(app->SetProperty(Str(apartment.c_str()), Str(L"here")), L"SetProperty");
            },
            [](IUnknown* object, const std::wstring& apartment) {
                return Property(AsApplication(object).Get(), apartment.c_str()) == L"here";
            });
    }
    // Every apartment that asked has ended: the application stays the process's until Destroy.
    ComPtr<IQarnClassFactory> factory = NewFactory();
    ComPtr<IQarnComApplication> app;
    Check(factory->Create(&app), L"Create after the creating apartments ended");
    Expect(Property(app.Get(), L"Round") == std::to_wstring(kRounds - 1),
           L"Create after the creating apartment ended made another application");
    app.Reset();
    Check(factory->Destroy(), L"Destroy");
    report.Note(std::to_wstring(kRounds) + L" creations, " + std::to_wstring(installation.Reads()) +
                L" configuration reads, " + std::to_wstring(installation.Starts()) + L" start command runs");
    Expect(installation.Reads() == kRounds, L"the configuration was not read once per creation");
    Expect(installation.Starts() == kRounds, L"the start command did not run once per creation");
}

// ---- the thread that made the application blocks, then ends; the others go on --------------------

// The process's application, as `who` gets it: the one the creating thread marked.
void ExpectTheFirst(IQarnComApplication* app, const std::wstring& who) {
    Expect(Property(app, L"MadeBy") == L"creator", who + L": another application than the first one");
    Expect(Property(app, L"Plant") == L"1100", who + L": the application does not answer Plant with 1100");
}

void CreatorGoes(Report& report) {
    using mixedwork::Worker;
    CountingInstallation installation(L"creator-goes");
    Destroy();
    HANDLE made = CreateEventW(nullptr, TRUE, FALSE, nullptr), release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread creator([&] {
        const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        report.Guard(L"the creating thread", [&] {
            ComPtr<IQarnComApplication> app;
            Check(NewFactory()->Create(&app), L"Create");
            Check(app->SetProperty(Str(L"MadeBy"), Str(L"creator")), L"SetProperty");
            SetEvent(made);
            // A worker waiting for its job queue: it serves no call while it waits.
            WaitForSingleObject(release, 40000);
        });
        SetEvent(made);
        if (com) CoUninitialize();
    });
    PumpingWait(made, 30000);
    RunThreads(report, kThreads - 1, COINIT_APARTMENTTHREADED, [](int index) {
        const std::wstring who = L"apartment " + std::to_wstring(index) + L" while the creating thread blocks";
        ComPtr<IQarnComApplication> app;
        Check(NewFactory()->Create(&app), L"Create");
        ExpectTheFirst(app.Get(), who);
        Str plant;
        Check(Create<IQarnUtilities>(CLSID_CQarnUtilities)->GetProperty(Str(L"Plant"), plant.Out()), L"GetProperty");
        Expect(plant.View() == L"1100", who + L": a utilities object does not answer Plant from the application");
    });
    SetEvent(release);
    creator.join();
    CloseHandle(made);
    CloseHandle(release);

    // The creating thread has ended: every apartment, STA or MTA, still gets the answers of one thread.
    Worker single(ScratchFolder() + L"\creator-single");
    std::wstring expected[Worker::kKinds];
    for (int kind = 0; kind < Worker::kKinds; ++kind) expected[kind] = single.Run(kind, 0);
    const auto sameAnswers = [&](const std::wstring& who) {
        ComPtr<IQarnComApplication> app;
        Check(NewFactory()->Create(&app), L"Create");
        ExpectTheFirst(app.Get(), who);
        Worker worker(ScratchFolder() + L"\creator-" + std::to_wstring(GetCurrentThreadId()));
        for (int kind = 0; kind < Worker::kKinds; ++kind)
            Expect(worker.Run(kind, 0) == expected[kind], who + L": " + Worker::kKindNames[kind] + L" answered differently");
    };
    RunThreads(report, kThreads - 1, COINIT_APARTMENTTHREADED,
               [&](int index) { sameAnswers(L"apartment " + std::to_wstring(index) + L" after the creating thread ended"); });
    RunThreads(report, 1, COINIT_MULTITHREADED, [&](int) { sameAnswers(L"an MTA thread after the creating thread ended"); });
    // Short-lived threads one after another, as a host that runs each command on a thread of its own.
    for (int n = 0; n < 10; ++n) {
        RunThreads(report, 1, COINIT_APARTMENTTHREADED, [n](int) {
            ComPtr<IQarnComApplication> app;
            Check(NewFactory()->Create(&app), L"Create");
            ExpectTheFirst(app.Get(), L"short-lived thread " + std::to_wstring(n));
        });
    }
    Destroy();
    report.Note(std::to_wstring(installation.Reads()) + L" configuration reads, " +
                std::to_wstring(installation.Starts()) + L" start command runs");
    Expect(installation.Reads() == 1, L"the configuration was read again after its creating thread went");
    Expect(installation.Starts() == 1, L"the start command ran again after its creating thread went");
}

// ---- connectors asked for at the same moment; the application from an MTA thread ---------------

void ConnectorsAndMta(Report& report) {
    Destroy();
    using Getter = HRESULT (STDMETHODCALLTYPE IQarnClassFactory::*)(IDispatch**);
    const std::pair<const wchar_t*, Getter> connectors[] = {
        {L"CreateTCEConnector", &IQarnClassFactory::CreateTCEConnector},
        {L"CreateSAPConnector", &IQarnClassFactory::CreateSAPConnector},
        {L"CreateArasConnector", &IQarnClassFactory::CreateArasConnector},
    };
    // A connector double logs the notes it is given.
    const auto dispatch = [](IUnknown* object) {
        ComPtr<IDispatch> connector;
        Check(object->QueryInterface(IID_PPV_ARGS(&connector)), L"IDispatch");
        return connector;
    };
    for (const auto& [name, getter] : connectors) {
        OneObjectEverywhere(
            report, name,
            [getter = getter, name = name] {
                ComPtr<IDispatch> connector;
                Check((NewFactory().Get()->*getter)(&connector), name);
                return ComPtr<IUnknown>(connector);
            },
            [&](IUnknown* object, const std::wstring& apartment) {
                DispatchPut(dispatch(object).Get(), L"Note", apartment);
            },
            [&](IUnknown* object, const std::wstring& apartment) {
                return DispatchGet(dispatch(object).Get(), L"Calls").find(L"Note(" + apartment + L");") != std::wstring::npos;
            });
    }
    // A host's MTA thread: the factory and the application live in the host's single-threaded
    // apartment and are reached through proxies; the answers are the same.
    RunThreads(report, 1, COINIT_MULTITHREADED, [](int) {
        ComPtr<IQarnClassFactory> factory = NewFactory();
        ComPtr<IQarnComApplication> app;
        Check(factory->Create(&app), L"Create from an MTA thread");
        Expect(Property(app.Get(), L"Plant") == L"1100", L"the application does not answer Plant with 1100 in the MTA");
        ComPtr<IQarnUtilities> utilities = Create<IQarnUtilities>(CLSID_CQarnUtilities);
        Str plant;
        Check(utilities->GetProperty(Str(L"Plant"), plant.Out()), L"CQarnUtilities::GetProperty");
        Expect(plant.View() == L"1100", L"a utilities object in the MTA does not answer from the application");
        app.Reset();
        Check(factory->Destroy(), L"Destroy from an MTA thread");
    });
}

// ---- Destroy racing Create, GetProperty and SetProperty -----------------------------------------

void DestroyRaces(Report& report) {
    Destroy();
    std::atomic<long> calls{0}, destroys{0}, absent{0};
    const Deadline deadline(6);
    // No apartment pumps or waits for the others: each ends when its time is up.
    RunThreads(report, kThreads, COINIT_APARTMENTTHREADED, [&](int index) {
        ComPtr<IQarnClassFactory> factory = NewFactory();
        ComPtr<IQarnUtilities> utilities = Create<IQarnUtilities>(CLSID_CQarnUtilities);
        const std::wstring own = L"Stress" + std::to_wstring(index);
        for (int n = 0; deadline.Running(); ++n) {
            if (index == kThreads - 1) {
                // One apartment destroys, now and then, while the others work.
                Check(factory->Destroy(), L"Destroy");
                ++destroys;
                Sleep(n % 7);
                continue;
            }
            // A utilities object without a configuration answers from the application of the
            // moment: the site's value, or nothing while there is none.
            Str viaUtilities;
            Check(utilities->GetProperty(Str(L"Plant"), viaUtilities.Out()), L"CQarnUtilities::GetProperty");
            if (viaUtilities.IsNull()) ++absent;
            else Expect(viaUtilities.View() == L"1100", L"CQarnUtilities::GetProperty(Plant) gave " +
                                                            std::wstring(viaUtilities.View()));
            Str message;
            Check(utilities->GetMessage(Str(L"M0011"), message.Out()), L"CQarnUtilities::GetMessage");
            ComPtr<IQarnComApplication> app;
            Check(factory->Create(&app), L"Create");
            Expect(Property(app.Get(), L"Plant") == L"1100", L"the application does not answer Plant with 1100");
            const std::wstring value = std::to_wstring(n);
            Check(app->SetProperty(Str(own.c_str()), Str(value.c_str())), L"SetProperty");
            Expect(Property(app.Get(), own.c_str()) == value, L"a property set a moment ago reads differently");
            calls += 6;
        }
    });
    Destroy();
    report.Note(std::to_wstring(calls.load()) + L" calls, " + std::to_wstring(destroys.load()) + L" Destroy calls, " +
                std::to_wstring(absent.load()) + L" lookups while there was no application");
}

// ---- 8 apartments with mixed work -------------------------------------------------------------------

void MixedWork(Report& report) {
    using mixedwork::Worker;
    // The application lives in the DLL's own apartment; every worker reaches it through a proxy.
    ComPtr<IQarnClassFactory> factory = NewFactory();
    ComPtr<IQarnComApplication> app;
    Check(factory->Create(&app), L"Create");
    constexpr int kVariations = 5;
    std::map<std::pair<int, int>, std::wstring> expected;
    Worker single(ScratchFolder() + L"\\mixed-single");
    for (int kind = 0; kind < Worker::kKinds; ++kind)
        for (int n = 0; n < kVariations; ++n) expected[{kind, n}] = single.Run(kind, n);
    std::atomic<long> operations[kThreads] = {};
    std::atomic<long> wrong{0};
    const double seconds = 8;
    const Deadline deadline(seconds);
    Barrier done(kThreads);
    RunThreads(report, kThreads, COINIT_APARTMENTTHREADED, [&](int index) {
        Barrier::OnExit arrive{done};
        Worker worker(ScratchFolder() + L"\\mixed-" + std::to_wstring(index));
        for (int i = index; deadline.Running(); ++i) {
            const int kind = i % Worker::kKinds, n = (i / Worker::kKinds) % kVariations;
            if (worker.Run(kind, n) != expected[{kind, n}] && ++wrong <= 5)
                report.Fail(L"thread " + std::to_wstring(index) + L": " + Worker::kKindNames[kind] +
                            L" answered differently from one thread");
            ++operations[index];
        }
    });
    Check(factory->Destroy(), L"Destroy");
    long total = 0;
    for (auto& o : operations) total += o;
    report.Note(std::to_wstring(total) + L" operations, " + std::to_wstring(static_cast<long>(total / seconds / kThreads)) +
                L" per second per thread, " + std::to_wstring(wrong.load()) + L" wrong answers");
}

}  // namespace

HOST_SAFETY_SECTION(10, "first Create in 8 apartments at once", FirstCreate);
HOST_SAFETY_SECTION(12, "the creating thread blocks, then ends; 8 apartments and an MTA thread go on", CreatorGoes);
HOST_SAFETY_SECTION(15, "connectors from 8 apartments at once, the application from an MTA thread", ConnectorsAndMta);
HOST_SAFETY_SECTION(20, "Destroy racing Create, GetProperty and SetProperty in 8 apartments", DestroyRaces);
HOST_SAFETY_SECTION(30, "8 apartments with mixed work, answers as in one thread", MixedWork);

}  // namespace hostsafety
