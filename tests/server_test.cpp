// The server module as clients and the registry see it: class table, registration, object
// lifetime, aggregation and the log of the class factory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "UtilitiesSupport.h"

using namespace test;

namespace {

struct ClassRow {
    const wchar_t* clsid;
    const wchar_t* progId;  // nullptr: short form without ProgID keys
    const wchar_t* versionIndependent;
    const wchar_t* description;
    const IID* defaultInterface;
};

const ClassRow kClasses[] = {
    {L"{8D61C14A-823B-4577-9C97-F24F4CCE223E}", L"QarnComConnector.CGlobalApp.1", L"QarnComConnector.CGlobalApp",
     L"GlobalApp Class", &IID_IGlobalApp},
    {L"{AE24E3FB-3747-45F8-9225-FEEBB0585EC0}", L"QarnComConnector.CQarnClassFactory.1",
     L"QarnComConnector.CQarnClassFactory", L"QarnClassFactory Class", &IID_IQarnClassFactory},
    {L"{31B148B0-FD87-4CA8-9922-2127F541603F}", L"QarnComConnector.CQarnComApplication.1",
     L"QarnComConnector.CQarnComApplication", L"QarnComApplication Class", &IID_IQarnComApplication},
    {L"{38997210-4AA4-4023-BC94-A505C110A863}", L"QarnComConnector.CQarnSimpleCollaboration.1",
     L"QarnComConnector.CQarnSimpleCollaboration", L"QarnSimpleCollaboration Class", &IID_IQarnSimpleCollaboration},
    {L"{4D9E1CA9-A8AF-40E9-AD38-D10E12E6DC75}", L"QarnComConnector.CQarnTimer.1", L"QarnComConnector.CQarnTimer",
     L"QarnTimer Class", &IID_IQarnTimer},
    {L"{A0665203-7DCB-49AA-8B34-AC84357CDAA8}", L"QarnComConnector.CQarnUtilities.1",
     L"QarnComConnector.CQarnUtilities", L"QarnUtilities Class", &IID_IQarnUtilities},
    {L"{3F9E5E04-DA3A-471A-AF3D-145AFF993638}", L"QarnComConnector.QarnGenericListViewC.1",
     L"QarnComConnector.QarnGenericListViewCon", L"QarnGenericListViewControl Class", &IID_IQarnGenericListViewControl},
    {L"{6D0C64CB-55CF-4C0D-A448-0B49468E3ED6}", L"QarnComConnector.CQarnGenericPlmInter.1",
     L"QarnComConnector.CQarnGenericPlmInterfa", L"CQarnGenericPlmInterface Class", &IID_IQarnGenericPlmInterface},
    {L"{92C8BA8F-BC7C-49C1-BB7B-93CC94F5A1D3}", L"QarnComConnector.CQarnNumberGenerator.1",
     L"QarnComConnector.CQarnNumberGenerator", L"CQarnNumberGenerator Class", &IID_IQarnNumberGenerator},
    {L"{D34EDA3B-323E-47C0-94C6-5E916BA78599}", nullptr, nullptr, L"CQarnCommonCADAdapter Class",
     &IID_IQarnCommonCADAdapter},
    {L"{2deb97ac-69c5-468c-8361-921b6cc75bab}", nullptr, nullptr, L"QarnGenericSearchInterface class",
     &IID_IQarnGenericSearchInterface},
};

const wchar_t kLibId[] = L"{53D70BEF-7A49-4E4E-8BE6-660E8613DBE0}";
const std::wstring kLibKey = std::wstring(L"TypeLib\\") + kLibId + L"\\1.0";

std::wstring ClsidKey(const ClassRow& c) { return std::wstring(L"CLSID\\") + c.clsid; }

// Checks every key a registration must leave.
void ExpectRegistered(const std::wstring& modulePath) {
    for (const ClassRow& c : kClasses) {
        SCOPED_TRACE(c.description);
        const std::wstring key = ClsidKey(c);
        EXPECT_EQ(c.description, RegText(HKEY_CLASSES_ROOT, key, nullptr));
        EXPECT_EQ(modulePath, RegText(HKEY_CLASSES_ROOT, key + L"\\InprocServer32", nullptr));
        EXPECT_EQ(L"Apartment", RegText(HKEY_CLASSES_ROOT, key + L"\\InprocServer32", L"ThreadingModel"));
        EXPECT_EQ(kLibId, RegText(HKEY_CLASSES_ROOT, key + L"\\TypeLib", nullptr));
        EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, key + L"\\Programmable"));
        if (c.progId) {
            EXPECT_EQ(c.progId, RegText(HKEY_CLASSES_ROOT, key + L"\\ProgID", nullptr));
            EXPECT_EQ(c.versionIndependent, RegText(HKEY_CLASSES_ROOT, key + L"\\VersionIndependentProgID", nullptr));
            EXPECT_EQ(c.description, RegText(HKEY_CLASSES_ROOT, c.progId, nullptr));
            EXPECT_EQ(c.clsid, RegText(HKEY_CLASSES_ROOT, std::wstring(c.progId) + L"\\CLSID", nullptr));
            EXPECT_EQ(c.clsid, RegText(HKEY_CLASSES_ROOT, std::wstring(c.versionIndependent) + L"\\CLSID", nullptr));
            EXPECT_EQ(c.progId, RegText(HKEY_CLASSES_ROOT, std::wstring(c.versionIndependent) + L"\\CurVer", nullptr));
        } else {
            EXPECT_EQ(L"1.0", RegText(HKEY_CLASSES_ROOT, key + L"\\Version", nullptr));
            EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key + L"\\ProgID"));
        }
    }
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kLibKey));
}

const std::wstring& ServerPath() {
    static const std::wstring path = test::ServerPath(kClasses[4].clsid);
    return path;
}

HMODULE ServerModule() {
    static HMODULE module = LoadLibraryW(ServerPath().c_str());
    return module;
}

template <class F>
F Export(const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(ServerModule(), name)));
}

}  // namespace

TEST(Registration, RegistersUnregistersAndRegistersAgain) {
    ASSERT_FALSE(ServerPath().empty()) << "the server is not registered";
    ExpectRegistered(ServerPath());

    using Entry = HRESULT(STDAPICALLTYPE*)();
    auto unregister = Export<Entry>("DllUnregisterServer");
    auto reg = Export<Entry>("DllRegisterServer");
    ASSERT_TRUE(unregister && reg);
    ASSERT_EQ(S_OK, unregister());
    for (const ClassRow& c : kClasses) {
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ClsidKey(c)));
        EXPECT_FALSE(c.progId && (KeyExists(HKEY_CLASSES_ROOT, c.progId) ||
                                  KeyExists(HKEY_CLASSES_ROOT, c.versionIndependent)))
            << c.progId;
    }
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kLibKey));
    EXPECT_EQ(S_OK, unregister()) << "removing twice is harmless";

    ASSERT_EQ(S_OK, reg());
    ASSERT_EQ(S_OK, reg()) << "registering twice is harmless";
    ExpectRegistered(ServerPath());
}

TEST(Module, ClassObjectsAndUnloadTracking) {
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto getClassObject = Export<GetClassObject>("DllGetClassObject");
    auto canUnload = Export<HRESULT(STDAPICALLTYPE*)()>("DllCanUnloadNow");
    ASSERT_TRUE(getClassObject && canUnload);

    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, getClassObject(IID_IUnknown, IID_IClassFactory, &p));
    EXPECT_EQ(nullptr, p);

    ComPtr<IClassFactory> cad;
    ASSERT_EQ(S_OK, getClassObject(CLSID_CQarnCommonCADAdapter, IID_IClassFactory, &cad));

    ASSERT_EQ(S_OK, canUnload()) << "another test left an object alive";
    {
        ComPtr<IQarnCommonCADAdapter> adapter;
        ASSERT_EQ(S_OK, cad->CreateInstance(nullptr, IID_PPV_ARGS(&adapter)));
        EXPECT_EQ(S_FALSE, canUnload());
    }
    EXPECT_EQ(S_OK, canUnload());
    cad->LockServer(TRUE);
    EXPECT_EQ(S_FALSE, canUnload());
    cad->LockServer(FALSE);
    EXPECT_EQ(S_OK, canUnload());
}

namespace {

// A minimal outer object that counts the references its inner object forwards to it.
class Outer : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** ppv) override {
        if (!InlineIsEqualGUID(iid, IID_IUnknown)) return inner ? inner->QueryInterface(iid, ppv) : E_NOINTERFACE;
        *ppv = this;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
    ULONG refs = 1;
    IUnknown* inner = nullptr;
};

}  // namespace

TEST(Module, EveryClassIsAggregatableAndReportsRichErrors) {
    for (const ClassRow& c : kClasses) {
        SCOPED_TRACE(c.description);
        CLSID clsid{};
        ASSERT_EQ(S_OK, CLSIDFromString(c.clsid, &clsid));
        Outer outer;
        IUnknown* inner = nullptr;
        ASSERT_EQ(S_OK, CoCreateInstance(clsid, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                         reinterpret_cast<void**>(&inner)));
        outer.inner = inner;
        void* p = nullptr;
        EXPECT_EQ(CLASS_E_NOAGGREGATION,
                  CoCreateInstance(clsid, &outer, CLSCTX_INPROC_SERVER, *c.defaultInterface, &p));

        // Interfaces of the inner object count their references on the outer one.
        ULONG before = outer.refs;
        ComPtr<ISupportErrorInfo> support;
        ASSERT_EQ(S_OK, outer.QueryInterface(IID_ISupportErrorInfo, &support));
        EXPECT_EQ(before + 1, outer.refs);
        EXPECT_EQ(S_OK, support->InterfaceSupportsErrorInfo(*c.defaultInterface));
        EXPECT_EQ(S_FALSE, support->InterfaceSupportsErrorInfo(IID_IDispatch));
        ComPtr<IUnknown> back;
        ASSERT_EQ(S_OK, support.As(&back));
        EXPECT_EQ(static_cast<IUnknown*>(&outer), back.Get()) << "QueryInterface must reach the outer object";
        back.Reset();
        support.Reset();
        EXPECT_EQ(before, outer.refs);
        EXPECT_EQ(0u, inner->Release());
    }
}

TEST(ClassFactory, WriteLogMessageHonoursLevelsAndTheEnvironment) {
    test::ScratchFolder folder(L"factory-log");
    const std::wstring file = folder / L"new\\sub\\factory.log";  // its folders do not exist yet
    SetEnvironmentVariableW(L"QarnLogFile", nullptr);
    auto silent = test::Create<IQarnClassFactory>(CLSID_CQarnClassFactory);
    SetEnvironmentVariableW(L"QarnLogFile", file.c_str());
    auto logging = test::Create<IQarnClassFactory>(CLSID_CQarnClassFactory);
    SetEnvironmentVariableW(L"QarnLogFile", nullptr);

    const test::Str text(L"value 100%s done");
    EXPECT_EQ(S_OK, silent->WriteLogMessage(10, text));
    for (long level : {0L, 101L}) EXPECT_EQ(S_OK, logging->WriteLogMessage(level, text));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(file.c_str()))
        << "nothing is logged without QarnLogFile or outside the levels 1 to 100";
    EXPECT_EQ(S_OK, logging->WriteLogMessage(100, text));
    EXPECT_EQ(S_OK, logging->WriteLogMessage(1, nullptr));

    const std::string data = test::ScratchFolder::Read(file);
    EXPECT_NE(std::string::npos, data.find(" - 100 - value 100%s done\r\n")) << "file and folders created? " << data;
    EXPECT_EQ(data.find("\n"), data.rfind("\n")) << "exactly one line: " << data;
}

// The type library and the registry scripts are checked through registration; the other resources
// (string table, dialog, icon, menu) are read by no code, the other version texts restate the script.
TEST(Module, CarriesItsFileVersion) {
    DWORD handle = 0, size = GetFileVersionInfoSizeW(ServerPath().c_str(), &handle);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(size && GetFileVersionInfoW(ServerPath().c_str(), 0, size, block.data()));
    wchar_t* value = nullptr;
    UINT len = 0;
    VerQueryValueW(block.data(), L"\\StringFileInfo\\040704b0\\FileVersion", reinterpret_cast<void**>(&value), &len);
    EXPECT_STREQ(L"2.1.50.117", value);
}

// The outside components that the class factory and the application create, as the test prefix
// has them (QarnTestDoubles.dll): their helper interfaces and the doubles' own reading ones. Not in
// an anonymous namespace: GCC would know that no class of this file implements them and drop the
// calls as unreachable.
namespace outside {

struct IClassCreatorHelper : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetHandler(BSTR handlerClass, IFieldCollection* environment) = 0;
    virtual HRESULT STDMETHODCALLTYPE Prepare() = 0;
};
struct IForwardAboutDialogHelper : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE ShowAboutDialog(IDispatch* application) = 0;
};
struct IConnectorDouble : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_Calls(BSTR* calls) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ClassName(BSTR* progId) = 0;
};
struct IAboutDialogDouble : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_ShownCount(LONG* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_LastApplicationWasGiven(VARIANT_BOOL* given) = 0;
};

}  // namespace outside

__CRT_UUID_DECL(outside::IClassCreatorHelper, 0x0570BFD8, 0x9B3A, 0x4EBF, 0x80, 0x5C, 0x4F, 0x80, 0xD2, 0xC9, 0x81, 0xCC)
__CRT_UUID_DECL(outside::IForwardAboutDialogHelper, 0x632EE4A2, 0xBC9F, 0x4BAE, 0x98, 0xF0, 0x01, 0xC1, 0x22, 0xBE, 0x41,
                0x82)
__CRT_UUID_DECL(outside::IAboutDialogDouble, 0x075CBE50, 0x17FA, 0x46C0, 0x8F, 0x84, 0x2F, 0x9D, 0xF2, 0xB7, 0xCB, 0xD5)

using namespace outside;

TEST(OutsideComponents, ConnectorsAndTheAboutDialogAsTheFactoryAndTheApplicationUseThem) {
    // ProgID and the interface the factory asks that connector for.
    const std::pair<const wchar_t*, const wchar_t*> connectors[] = {
        {L"QarnArasConnector.CArasInnovator", L"{4D184FB0-2ED0-4A08-853D-50B13D970239}"},
        {L"QarnComJniConnector.CVariPDMConnector", L"{8C0B514B-CA9C-4309-947E-82924ABCC7D8}"},
        {L"QarnComJniConnector.CAgile9Connector", L"{F8C9AB12-45B3-4E63-85D6-9DF4E40813A4}"},
        {L"QarnComJniConnector.CMatrixConnector", L"{17EAE100-ED62-463D-AA1D-2D7BED9848E1}"},
        {L"QarnComJniConnector.CTCEConnector", L"{E043A072-CD81-454F-A553-7976F2B0FEAB}"},
        {L"QarnComJniConnector.CWindchillConnector", L"{66D72202-542A-4AEB-BBFA-4472CBDD0B59}"},
        {L"QarnComJniConnector.CSAPConnector", L"{AF743BD4-806F-4367-8A37-8B9A94189A8B}"},
        {L"QarnComJniConnector.CCEEConnector", L"{4149A7AA-E73C-4A05-8A2B-8C704FC9B3B5}"},
        {L"QarnComJniConnector.CGTConnector", L"{0626BEA9-F0A7-4F97-B695-E4332405E38E}"},
    };
    auto environment = Create<IFieldCollection>(CLSID_FieldCollection);
    for (const wchar_t* name : {L"A", L"B"}) ASSERT_EQ(S_OK, environment->SetValue(Str(name), Variant(1L)));
    for (const auto& [progId, iidText] : connectors) {
        SCOPED_TRACE(progId);
        CLSID clsid{};
        IID iid{};
        ASSERT_EQ(S_OK, CLSIDFromProgID(progId, &clsid));
        ASSERT_EQ(S_OK, IIDFromString(iidText, &iid));
        ComPtr<IConnectorDouble> connector;
        ASSERT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, &connector));
        ComPtr<IDispatch> disp;
        ASSERT_EQ(S_OK, connector.As(&disp));
        DISPPARAMS none{};
        Variant name;
        ASSERT_EQ(S_OK, disp->Invoke(2, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &name, nullptr, nullptr));
        EXPECT_EQ(progId, ToWide(name.bstrVal)) << "ClassName through the type library";

        ComPtr<IClassCreatorHelper> helper;
        const bool windchill = std::wstring_view(progId).ends_with(L"CWindchillConnector");
        ASSERT_EQ(windchill ? E_NOINTERFACE : S_OK, connector.As(&helper));
        if (windchill) continue;
        EXPECT_EQ(S_OK, helper->SetHandler(Str(L"Handler"), environment.Get()));
        EXPECT_EQ(S_OK, helper->SetHandler(nullptr, nullptr));
        EXPECT_EQ(S_OK, helper->Prepare());
        EXPECT_EQ(DISP_E_EXCEPTION, helper->SetHandler(Str(L"fail"), nullptr));
        EXPECT_EQ(L"The connector refused the handler class fail.", TakeMessage());
        Str calls;
        ASSERT_EQ(S_OK, connector->get_Calls(calls.Out()));
        EXPECT_EQ(L"SetHandler(Handler,2);SetHandler((null),null);Prepare;SetHandler(fail,null);", calls.View());
    }

    // The about dialog counts the calls of all its instances.
    CLSID about{};
    ASSERT_EQ(S_OK, CLSIDFromProgID(L"QarnComDialogs.CQarnAboutDlg", &about));
    ComPtr<IAboutDialogDouble> dialog;
    ASSERT_EQ(S_OK, CoCreateInstance(about, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&dialog)));
    LONG before = -1, after = -1;
    ASSERT_EQ(S_OK, dialog->get_ShownCount(&before));
    VARIANT_BOOL given = VARIANT_FALSE;
    for (IDispatch* application : {static_cast<IDispatch*>(dialog.Get()), static_cast<IDispatch*>(nullptr)}) {
        ComPtr<IForwardAboutDialogHelper> helper;
        ASSERT_EQ(S_OK, CoCreateInstance(about, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&helper)));
        EXPECT_EQ(S_OK, helper->ShowAboutDialog(application));
        EXPECT_EQ(S_OK, dialog->get_LastApplicationWasGiven(&given));
        EXPECT_EQ(application ? VARIANT_TRUE : VARIANT_FALSE, given);
    }
    EXPECT_EQ(S_OK, dialog->get_ShownCount(&after));
    EXPECT_EQ(before + 2, after);
}
