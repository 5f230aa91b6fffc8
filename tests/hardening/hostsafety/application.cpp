// The shared application in a host with several apartments: one application per process however
// the first Create calls meet, Destroy racing every use of it, and mixed work in 8 apartments
// that must give the answers one thread gives.
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

// Runs `get` in 8 apartments at the same moment and requires that all of them got one object:
// one apartment looks at every thread's answer, and one object has one identity there. `use`
// then runs on each answer in its apartment.
void OneObjectEverywhere(Report& report, const std::wstring& what, const std::function<ComPtr<IUnknown>()>& get,
                         const std::function<void(IUnknown*)>& use = nullptr) {
    DWORD cookies[kThreads] = {};
    Barrier start(kThreads), registered(kThreads), compared(kThreads), released(kThreads);
    RunThreads(report, kThreads, COINIT_APARTMENTTHREADED, [&](int index) {
        // Under Wine, a proxy released after its object's apartment has ended waits for an
        // answer forever: every apartment lets go before any of them ends.
        Barrier::OnExit arrive{released};
        start.Arrive();
        ComPtr<IUnknown> object = get();
        Expect(object != nullptr, what + L": nothing came back");
        if (use) use(object.Get());
        Check(Git()->RegisterInterfaceInGlobal(object.Get(), IID_IUnknown, &cookies[index]), L"GIT");
        registered.Arrive();
        if (index == 0) {
            std::set<IUnknown*> identities;
            ComPtr<IUnknown> keep[kThreads];
            for (int i = 0; i < kThreads; ++i) {
                Check(Git()->GetInterfaceFromGlobal(cookies[i], IID_IUnknown, &keep[i]), L"GIT");
                identities.insert(keep[i].Get());
            }
            Expect(identities.size() == 1, what + L": " + std::to_wstring(identities.size()) + L" objects");
        }
        compared.Arrive();
        Git()->RevokeInterfaceFromGlobal(cookies[index]);
    });
}

void FirstCreate(Report& report) {
    constexpr int kRounds = 4;
    CountingInstallation installation(L"first-create");
    for (int round = 0; round < kRounds; ++round) {
        Destroy();
        OneObjectEverywhere(
            report, L"round " + std::to_wstring(round) + L" of Create",
            [] {
                ComPtr<IQarnComApplication> app;
                Check(NewFactory()->Create(&app), L"Create");
                return ComPtr<IUnknown>(app);
            },
            [](IUnknown* object) {
                ComPtr<IQarnComApplication> app;
                Check(object->QueryInterface(IID_PPV_ARGS(&app)), L"IQarnComApplication");
                Expect(Property(app.Get(), L"Plant") == L"1100", L"the application does not answer Plant with 1100");
            });
    }
    // The apartment that made the last application has ended with its thread: the next Create
    // must not hand out that dead application but make a new one.
    ComPtr<IQarnClassFactory> factory = NewFactory();
    ComPtr<IQarnComApplication> app;
    Check(factory->Create(&app), L"Create after the creating apartment ended");
    Expect(Property(app.Get(), L"Plant") == L"1100", L"the new application does not answer Plant with 1100");
    Check(factory->Destroy(), L"Destroy");
    report.Note(std::to_wstring(kRounds + 1) + L" creations, " + std::to_wstring(installation.Reads()) +
                L" configuration reads, " + std::to_wstring(installation.Starts()) + L" start command runs");
    Expect(installation.Reads() == kRounds + 1, L"the configuration was not read once per creation");
    Expect(installation.Starts() == kRounds + 1, L"the start command did not run once per creation");
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
    for (const auto& [name, getter] : connectors) {
        OneObjectEverywhere(report, name, [getter = getter, name = name] {
            ComPtr<IDispatch> connector;
            Check((NewFactory().Get()->*getter)(&connector), name);
            return ComPtr<IUnknown>(connector);
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
    Barrier stopped(kThreads), done(kThreads);
    const Deadline deadline(6);
    RunThreads(report, kThreads, COINIT_APARTMENTTHREADED, [&](int index) {
        ComPtr<IQarnClassFactory> factory = NewFactory();
        ComPtr<IQarnUtilities> utilities = Create<IQarnUtilities>(CLSID_CQarnUtilities);
        // Nobody ends its apartment while another may still call into it.
        Barrier::OnExit arrive{done};
        {
            // Every apartment has left the loop, also on a failure, before the application goes.
            Barrier::OnExit stop{stopped};
            const std::wstring own = L"Stress" + std::to_wstring(index);
            for (int n = 0; deadline.Running(); ++n) {
                Pump();
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
        }
        // The last Create may come after the last Destroy: the application and the proxies the
        // utilities objects keep of it go while every apartment still lives (under Wine, releasing
        // a proxy into an apartment that has ended blocks for good).
        if (index == kThreads - 1) Check(factory->Destroy(), L"Destroy");
        utilities.Reset();
    });
    Destroy();
    report.Note(std::to_wstring(calls.load()) + L" calls, " + std::to_wstring(destroys.load()) + L" Destroy calls, " +
                std::to_wstring(absent.load()) + L" lookups while there was no application");
}

// ---- 8 apartments with mixed work -------------------------------------------------------------------

void MixedWork(Report& report) {
    using mixedwork::Worker;
    // The application lives in this apartment, which pumps while the workers run.
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
HOST_SAFETY_SECTION(15, "connectors from 8 apartments at once, the application from an MTA thread", ConnectorsAndMta);
HOST_SAFETY_SECTION(20, "Destroy racing Create, GetProperty and SetProperty in 8 apartments", DestroyRaces);
HOST_SAFETY_SECTION(30, "8 apartments with mixed work, answers as in one thread", MixedWork);

}  // namespace hostsafety
