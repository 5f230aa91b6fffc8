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
    // The marshaler between apartments looks the library up under the neutral locale.
    ComPtr<ITypeLib> neutral;
    EXPECT_EQ(S_OK, LoadRegTypeLib(LIBID_QarnComConnector, 1, 0, 0, &neutral));
    EXPECT_EQ(modulePath, RegText(HKEY_CLASSES_ROOT, kLibKey + (sizeof(void*) == 8 ? L"\\0\\win64" : L"\\0\\win32"), nullptr));
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

