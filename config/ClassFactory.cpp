// CQarnClassFactory: creates the shared application and the cached PLM connectors.
#include "config/ClassFactory.h"
#include "base/HomeApartment.h"
#include "base/OwnContext.h"
#include "WineSeam.h"

#include "config/OutsideConnectors.h"

#include <array>

using namespace qarn;

namespace {

constexpr wchar_t kClassName[] = L"CQarnClassFactory::";

// The connector classes by index: the ProgID and the interface asked for at creation.
struct ClassTableEntry {
    const wchar_t* className;
    const wchar_t* iid;
};
constexpr std::array<ClassTableEntry, 10> kClassTable{{
    {L"QarnArasConnector.CArasInnovator", L"{4D184FB0-2ED0-4A08-853D-50B13D970239}"},
    {L"QarnComJniConnector.CVariPDMConnector", L"{8C0B514B-CA9C-4309-947E-82924ABCC7D8}"},
    {L"QarnComJniConnector.CAgile9Connector", L"{F8C9AB12-45B3-4E63-85D6-9DF4E40813A4}"},
    {L"QarnComJniConnector.CMatrixConnector", L"{17EAE100-ED62-463D-AA1D-2D7BED9848E1}"},
    {L"QarnComJniConnector.CTCEConnector", L"{E043A072-CD81-454F-A553-7976F2B0FEAB}"},
    {L"QarnComJniConnector.CWindchillConnector", L"{66D72202-542A-4AEB-BBFA-4472CBDD0B59}"},
    {L"QarnComJniConnector.CSAPConnector", L"{AF743BD4-806F-4367-8A37-8B9A94189A8B}"},
    {L"QarnComJniConnector.CSAPConnector", L"{AF743BD4-806F-4367-8A37-8B9A94189A8B}"},
    {L"QarnComJniConnector.CCEEConnector", L"{4149A7AA-E73C-4A05-8A2B-8C704FC9B3B5}"},
    {L"QarnComJniConnector.CGTConnector", L"{0626BEA9-F0A7-4F97-B695-E4332405E38E}"},
}};

std::wstring MethodName(const wchar_t* method) { return kClassName + std::wstring(method); }

}  // namespace

HRESULT config::CreateClassByName(BSTR className, BSTR iidText, const wchar_t* reporter, IDispatch** result) {
    const std::wstring name(View(className));
    const auto report = [&](const std::wstring& text, int line) {
        return ReportMethodError(text.c_str(), reporter, line);
    };
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(className ? className : L"", &clsid);
    if (FAILED(hr)) return report(Format(L"CLSID by name not found (%s): 0x%X", name.c_str(), unsigned(hr)), __LINE__);
    IID iid;
    hr = IIDFromString(iidText ? iidText : L"", &iid);
    if (FAILED(hr)) {
        return report(Format(L"IID not convertible (%s, %s): 0x%X", std::wstring(View(iidText)).c_str(), name.c_str(),
                             unsigned(hr)),
                      __LINE__);
    }
    ComPtr<IUnknown> object;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, reinterpret_cast<void**>(object.GetAddressOf()));
    if (FAILED(hr)) return report(Format(L"Cannot create instance %s: 0x%X", name.c_str(), unsigned(hr)), __LINE__);
    if (!object) return report(Format(L"Class pointer to %s still NULL.", name.c_str()), __LINE__);
    ComPtr<IDispatch> dispatch;
    hr = object.As(&dispatch);
    if (FAILED(hr)) {
        return report(Format(L"Cannot convert %s into IDispatch (QueryInterface failed: 0x%X).", name.c_str(),
                             unsigned(hr)),
                      __LINE__);
    }
    if (result) *result = dispatch.Detach();
    return S_OK;
}

HRESULT CQarnClassFactory::FinalConstruct() {
    return MethodFrame(L"CQarnClassFactory::FinalConstruct", [&] { log_.InitFromEnvironment(); });
}

namespace {

// Set on the home thread while it creates the application: a Create from inside that creation
// (the configuration reading it, say) cannot wait for itself.
bool g_creatingApplication = false;

// Hands an object of the home apartment to the caller: marshaled there as the seam's interface,
// taken here and asked for `T`.
ComPtr<IStream> HandOver(IUnknown* object) {
    ComPtr<IStream> stream;
    CHECK_HR(CoMarshalInterThreadInterfaceInStream(wine_seam::kTravelsAs, object, &stream));
    return stream;
}

template <class T>
ComPtr<T> TakeOver(ComPtr<IStream>& stream) {
    const OwnContext context;
    ComPtr<IUnknown> object;
    ComPtr<T> result;
    CHECK_HR(CoGetInterfaceAndReleaseStream(stream.Detach(), wine_seam::kTravelsAs,
                                            reinterpret_cast<void**>(object.GetAddressOf())));
    CHECK_HR(object.As(&result));
    return result;
}

}  // namespace

STDMETHODIMP CQarnClassFactory::Create(IQarnComApplication **ppApp) {
    return MethodFrame(L"CQarnClassFactory::Create", [&] {
        Trace(L"--> CQarnClassFactory::Create");
        GlobalApp& global = TheGlobalApp();
        ComPtr<IQarnComApplication> app;
        CHECK_HR(global.Application(&app));
        bool created = false;
        if (!app) {
            // One application per process, made and kept in the DLL's own apartment: jobs there run
            // one at a time, so apartments that ask at the same moment take the first one's.
            ComPtr<IStream> handOver;
            home::Run([&] {
                ComPtr<IQarnComApplication> own;
                CHECK_HR(global.Application(&own));
                if (!own) {
                    if (g_creatingApplication)
                        THROW_MESSAGE(L"The application is being created by this thread already: Create cannot be "
                                      L"called while the application reads its configuration or runs its start "
                                      L"commands.");
                    struct Creating {
                        Creating() { g_creatingApplication = true; }
                        ~Creating() { g_creatingApplication = false; }
                    } creating;
                    own = CreateApplication();
                    created = true;
                }
                handOver = HandOver(own.Get());
            });
            app = TakeOver<IQarnComApplication>(handOver);
        }
        OutParam(ppApp) = app.Detach();
        if (created) Trace(L"EVAL_HR(pApp.CopyTo(ppApp));");
        Trace(L"<-- CQarnClassFactory::Create");
    });
}

ComPtr<IQarnComApplication> CQarnClassFactory::CreateApplication() {
    ComPtr<IQarnComApplication> app;
    CHECK_HR(CreateOwn(CLSID_CQarnComApplication, IID_PPV_ARGS(&app)));
    Trace(L"EVAL_HR(pApp.CoCreateInstance(__uuidof(CQarnComApplication)));");
    CHECK_HR(app->Init());
    Trace(L"EVAL_HR(pApp->Init(), pApp);");
    Bstr commands;
    CHECK_HR(app->GetProperty(Bstr(L"StartCommandShell"), commands.Out()));
    if (!commands.IsEmpty()) {
        RunStartCommands(commands.View());
        // The commands may have written configuration files.
        CHECK_HR(app->Init());
    }
    CHECK_HR(TheGlobalApp().SetApplication(app.Get()));
    Trace(L"pGlobalApp.set_Application(pApp);");
    return app;
}

namespace {

bool IsFile(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A program of the installation's folder the way Windows finds one: the name as it is, or with
// ".exe" when it has no extension.
bool IsProgram(const std::wstring& folder, std::wstring_view name) {
    const std::wstring path = folder + std::wstring(name);
    if (IsFile(path)) return true;
    const size_t slash = name.find_last_of(L"\\/");
    const bool hasExtension = name.find(L'.', slash == std::wstring_view::npos ? 0 : slash + 1) != std::wstring_view::npos;
    return !hasExtension && IsFile(path + L".exe");
}

// The command line of one start command: the program's full path in quotes, so that a blank in
// the installation's folder ("C:\Program Files\...") never ends the program name, then the
// command's own arguments unchanged. Within the command, the program ends where Windows would end
// it: at its closing quote, or at the first blank before which an existing program stands (a
// command "my tool.cmd -x" keeps working as it did).
std::wstring StartCommandLine(const std::wstring& folder, std::wstring_view command) {
    size_t programEnd = command.size(), restStart = command.size();
    if (!command.empty() && command.front() == L'"') {
        const size_t close = command.find(L'"', 1);
        programEnd = close == std::wstring_view::npos ? command.size() : close;
        restStart = close == std::wstring_view::npos ? command.size() : close + 1;
        command.remove_prefix(1);
        --programEnd;
        --restStart;
    } else {
        for (size_t blank = command.find_first_of(L" \t"); blank != std::wstring_view::npos;
             blank = command.find_first_of(L" \t", blank + 1)) {
            if (IsProgram(folder, command.substr(0, blank))) {
                programEnd = restStart = blank;
                break;
            }
        }
    }
    return L"\"" + folder + std::wstring(command.substr(0, programEnd)) + L"\"" + std::wstring(command.substr(restStart));
}

}  // namespace

void CQarnClassFactory::RunStartCommands(std::wstring_view commands) {
    const std::wstring folder = EnvironmentValue(L"QarnRootDir").value_or(L"") + L"\\xml\\";
    for (size_t start = 0; start <= commands.size();) {
        size_t end = commands.find(L';', start);
        if (end == std::wstring_view::npos) end = commands.size();
        if (end > start) {
            std::wstring commandLine = StartCommandLine(folder, commands.substr(start, end - start));
            STARTUPINFOW startup{};
            startup.cb = sizeof(startup);
            PROCESS_INFORMATION process{};
            // A command that cannot be started is left out; the others still run.
            if (CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &process)) {
                WaitForSingleObject(process.hProcess, INFINITE);
                CloseHandle(process.hProcess);
                CloseHandle(process.hThread);
            }
        }
        start = end + 1;
    }
}

STDMETHODIMP CQarnClassFactory::Destroy() {
    return MethodFrame(L"CQarnClassFactory::Destroy", [&] {
        Trace(L"--> CQarnClassFactory::Destroy");
        // The objects go in their own apartment, after any creation that runs there now.
        if (home::Running()) home::Run([] { CHECK_HR(TheGlobalApp().Reset()); });
        else CHECK_HR(TheGlobalApp().Reset());
        Trace(L"<-- CQarnClassFactory::Destroy");
    });
}

HRESULT CQarnClassFactory::CreateConnector(const wchar_t* method, int index, GlobalApp::Connector entry,
                                           Preparation preparation, BSTR handlerClass,
                                           IFieldCollection* environment, IDispatch** result) {
    const std::wstring name = MethodName(method);
    Trace(L"--> " + name);
    OutParam(result);
    GlobalApp& global = TheGlobalApp();
    ComPtr<IDispatch> connector;
    CHECK_HR(global.GetConnector(entry, &connector));
    if (!connector) {
        // One connector of each kind per process, made and kept in the DLL's own apartment; the
        // caller's environment reaches it marshaled.
        ComPtr<IStream> environmentStream, handOver;
        if (environment && preparation == Preparation::SetHandler)
            CHECK_HR(CoMarshalInterThreadInterfaceInStream(IID_IFieldCollection, environment, &environmentStream));
        // An environment the connector's apartment did not take (another caller's connector came
        // first, or the creation failed) is let go here, or it would stay referenced for good.
        struct Untaken {
            ComPtr<IStream>& stream;
            ~Untaken() {
                if (!stream) return;
                stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
                CoReleaseMarshalData(stream.Get());
            }
        } untaken{environmentStream};
        home::Run([&] {
            ComPtr<IDispatch> own;
            CHECK_HR(global.GetConnector(entry, &own));
            if (!own) {
                ComPtr<IFieldCollection> ownEnvironment;
                if (environmentStream)
                    CHECK_HR(CoGetInterfaceAndReleaseStream(environmentStream.Detach(), IID_IFieldCollection,
                                                            reinterpret_cast<void**>(ownEnvironment.GetAddressOf())));
                own = MakeConnector(index, entry, preparation, handlerClass, ownEnvironment.Get());
            }
            if (own) handOver = HandOver(own.Get());
        });
        // A connector class that hands out nothing leaves the caller without a connector.
        if (!handOver) return S_OK;
        connector = TakeOver<IDispatch>(handOver);
    }
    *result = connector.Detach();
    if (preparation != Preparation::None) Trace(L"<-- " + name);
    return S_OK;
}

ComPtr<IDispatch> CQarnClassFactory::MakeConnector(int index, GlobalApp::Connector entry,
                                                   Preparation preparation, BSTR handlerClass,
                                                   IFieldCollection* environment) {
    ComPtr<IDispatch> connector;
    Bstr className;
    CHECK_HR(CreateClassByIndex(index, className.Out(), &connector));
    if (!connector) return connector;
    if (preparation != Preparation::None) {
        ComPtr<IClassCreatorHelper> helper;
        if (FAILED(connector.As(&helper))) {
            THROW_REPORT(Format(L"IClassCreatorHelper is not implemented on this object. (requested class index: %i, %s)",
                                index, className.IsNull() ? L"Unknown class" : className.get()));
        }
        if (preparation == Preparation::SetHandler) CHECK_HR(helper->SetHandler(handlerClass, environment));
        else CHECK_HR(helper->Prepare());
    }
    CHECK_HR(TheGlobalApp().SetConnector(entry, connector.Get()));
    return connector;
}

STDMETHODIMP CQarnClassFactory::CreateSAPConnector(IDispatch **ppSAPConnector) {
    return MethodFrame(L"CQarnClassFactory::CreateSAPConnector", [&] {
        return CreateConnector(L"CreateSAPConnector", 6, GlobalApp::SAP, Preparation::Prepare, nullptr, nullptr,
                               ppSAPConnector);
    });
}

STDMETHODIMP CQarnClassFactory::CreateSAPConnector2(IDispatch **ppSAPConnector) {
    return MethodFrame(L"CQarnClassFactory::CreateSAPConnector2", [&] {
        return CreateConnector(L"CreateSAPConnector2", 7, GlobalApp::SAP, Preparation::Prepare, nullptr, nullptr,
                               ppSAPConnector);
    });
}

STDMETHODIMP CQarnClassFactory::CreateTCEConnector(IDispatch **ppTCEConnector) {
    return MethodFrame(L"CQarnClassFactory::CreateTCEConnector", [&] {
        return CreateConnector(L"CreateTCEConnector", 4, GlobalApp::TCE, Preparation::Prepare, nullptr, nullptr,
                               ppTCEConnector);
    });
}

STDMETHODIMP CQarnClassFactory::CreateMatrixConnector(IDispatch **ppMatrixConnector) {
    return MethodFrame(L"CQarnClassFactory::CreateMatrixConnector", [&] {
        return CreateConnector(L"CreateMatrixConnector", 3, GlobalApp::Matrix, Preparation::Prepare, nullptr, nullptr,
                               ppMatrixConnector);
    });
}

STDMETHODIMP CQarnClassFactory::CreateAgile9Connector(IDispatch **ppAgile9Connector) {
    return MethodFrame(L"CQarnClassFactory::CreateAgile9Connector", [&] {
        return CreateConnector(L"CreateAgile9Connector", 2, GlobalApp::Agile9, Preparation::Prepare, nullptr, nullptr,
                               ppAgile9Connector);
    });
}

STDMETHODIMP CQarnClassFactory::CreateVariPDMConnector(IDispatch **ppVariPDMConnector) {
    return MethodFrame(L"CQarnClassFactory::CreateVariPDMConnector", [&] {
        return CreateConnector(L"CreateVariPDMConnector", 1, GlobalApp::VariPDM, Preparation::Prepare, nullptr,
                               nullptr, ppVariPDMConnector);
    });
}

STDMETHODIMP CQarnClassFactory::CreateWindchillConnector(IDispatch **ppWindchillConnector) {
    return MethodFrame(L"CQarnClassFactory::CreateWindchillConnector", [&] {
        return CreateConnector(L"CreateWindchillConnector", 5, GlobalApp::Windchill, Preparation::Prepare, nullptr,
                               nullptr, ppWindchillConnector);
    });
}

STDMETHODIMP CQarnClassFactory::CreateCEEConnector(BSTR handlerClass, IFieldCollection *pEnvironment, IDispatch **ppCEEConnector) {
    return MethodFrame(L"CQarnClassFactory::CreateCEEConnector", [&] {
        return CreateConnector(L"CreateCEEConnector", 8, GlobalApp::CEE, Preparation::SetHandler, handlerClass,
                               pEnvironment, ppCEEConnector);
    });
}

STDMETHODIMP CQarnClassFactory::CreateGTConnector(BSTR handlerClass, IFieldCollection *pEnvironment, IDispatch **ppGTConnector) {
    return MethodFrame(L"CQarnClassFactory::CreateGTConnector", [&] {
        return CreateConnector(L"CreateGTConnector", 9, GlobalApp::GT, Preparation::SetHandler, handlerClass,
                               pEnvironment, ppGTConnector);
    });
}

// Aras connectors need no preparation; the method logs only its entry.
STDMETHODIMP CQarnClassFactory::CreateArasConnector(IDispatch **ppArasConnector) {
    return MethodFrame(L"CQarnClassFactory::CreateArasConnector", [&] {
        return CreateConnector(L"CreateArasConnector", 0, GlobalApp::Aras, Preparation::None, nullptr, nullptr,
                               ppArasConnector);
    });
}

STDMETHODIMP CQarnClassFactory::WriteLogMessage(LONG logLevel, BSTR msg) {
    return MethodFrame(L"CQarnClassFactory::WriteLogMessage", [&] { CHECK_HR(log_.Write(logLevel, msg)); });
}

STDMETHODIMP CQarnClassFactory::CreateClassByIndex(int index, BSTR *ppClassname, IDispatch **ppRes) {
    return MethodFrame(L"CQarnClassFactory::CreateClassByIndex", [&] {
        Trace(L"--> CQarnClassFactory::CreateClassByIndex");
        if (static_cast<unsigned>(index) >= kClassTable.size()) {
            const std::string text =
                FormatA("Unable to identify a class and IID with given index %i (not in valid range [%i...%i]).",
                        index, 0, static_cast<int>(kClassTable.size()) - 1);
            return ReportErrorWithSource(CLSID_CQarnClassFactory, text.c_str(), GUID_NULL, 0);
        }
        const ClassTableEntry& entry = kClassTable[static_cast<size_t>(index)];
        if (ppClassname) *ppClassname = CopyBstr(entry.className);
        CHECK_HR(CreateClassByString(Bstr(entry.className), Bstr(entry.iid), ppRes));
        Trace(L"<-- CQarnClassFactory::CreateClassByIndex");
        return S_OK;
    });
}

STDMETHODIMP CQarnClassFactory::CreateClassByString(BSTR className, BSTR iidString, IDispatch **ppRes) {
    return MethodFrame(L"CQarnClassFactory::CreateClassByString", [&] {
        Trace(L"--> CQarnClassFactory::CreateClassByString");
        Trace(Format(L"Trying to create class %s (%s)...", std::wstring(View(className)).c_str(),
                     std::wstring(View(iidString)).c_str()));
        return config::CreateClassByName(className, iidString, L"CQarnClassFactory::CreateClassByString", ppRes);
    });
}
