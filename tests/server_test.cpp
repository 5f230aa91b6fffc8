// The server module as clients and the registry see it: class table, registration, object
// lifetime, aggregation and the log of the class factory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "UtilitiesSupport.h"

using namespace test;

namespace {

const wchar_t kLibId[] = L"{53D70BEF-7A49-4E4E-8BE6-660E8613DBE0}";
const std::wstring kLibKey = std::wstring(L"TypeLib\\") + kLibId + L"\\1.0";

const std::wstring& ServerPath() {
    static const std::wstring path = test::ServerPath(L"{4D9E1CA9-A8AF-40E9-AD38-D10E12E6DC75}");  // CQarnTimer
    return path;
}

// The classes are those of the server's type library: a new coclass is checked without a test edit.
const std::vector<Coclass>& Classes() {
    static const std::vector<Coclass> classes = Coclasses(ServerPath());
    return classes;
}

// ProgIDs (version-independent, versioned) of a class: "QarnComConnector.<coclass>" and ".1", but for
// the names that clients already use, shortened to 39 characters, and the short-form classes without.
std::pair<std::wstring, std::wstring> ProgIds(const Coclass& c) {
    const struct { const wchar_t *name, *independent, *versioned; } fixed[] = {
        {L"QarnGenericListViewControl", L"QarnComConnector.QarnGenericListViewCon", L"QarnComConnector.QarnGenericListViewC.1"},
        {L"CQarnGenericPlmInterface", L"QarnComConnector.CQarnGenericPlmInterfa", L"QarnComConnector.CQarnGenericPlmInter.1"},
        {L"CQarnCommonCADAdapter", L"", L""}, {L"CQarnGenericSearchInterface", L"", L""}};
    for (const auto& f : fixed)
        if (c.name == f.name) return {f.independent, f.versioned};
    return {L"QarnComConnector." + c.name, L"QarnComConnector." + c.name + L".1"};
}

std::wstring ClsidKey(const Coclass& c) { return L"CLSID\\" + GuidText(c.clsid); }

// Checks every key a registration must leave.
void ExpectRegistered(const std::wstring& modulePath) {
    ASSERT_FALSE(Classes().empty());
    for (const Coclass& c : Classes()) {
        SCOPED_TRACE(c.name);
        const auto [independent, progId] = ProgIds(c);
        const std::wstring key = ClsidKey(c), clsid = GuidText(c.clsid);
        EXPECT_EQ(c.description, RegText(HKEY_CLASSES_ROOT, key, nullptr));
        EXPECT_EQ(modulePath, RegText(HKEY_CLASSES_ROOT, key + L"\\InprocServer32", nullptr));
        EXPECT_EQ(L"Apartment", RegText(HKEY_CLASSES_ROOT, key + L"\\InprocServer32", L"ThreadingModel"));
        EXPECT_EQ(kLibId, RegText(HKEY_CLASSES_ROOT, key + L"\\TypeLib", nullptr));
        EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, key + L"\\Programmable"));
        if (!progId.empty()) {
            EXPECT_EQ(progId, RegText(HKEY_CLASSES_ROOT, key + L"\\ProgID", nullptr));
            EXPECT_EQ(independent, RegText(HKEY_CLASSES_ROOT, key + L"\\VersionIndependentProgID", nullptr));
            EXPECT_EQ(c.description, RegText(HKEY_CLASSES_ROOT, progId, nullptr));
            EXPECT_EQ(clsid, RegText(HKEY_CLASSES_ROOT, progId + L"\\CLSID", nullptr));
            EXPECT_EQ(clsid, RegText(HKEY_CLASSES_ROOT, independent + L"\\CLSID", nullptr));
            EXPECT_EQ(progId, RegText(HKEY_CLASSES_ROOT, independent + L"\\CurVer", nullptr));
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
    auto unregister = Export<Entry>("DllUnregisterServer"), reg = Export<Entry>("DllRegisterServer");
    ASSERT_TRUE(unregister && reg);
    ASSERT_EQ(S_OK, unregister());
    for (const Coclass& c : Classes()) {
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ClsidKey(c)));
        const auto [independent, progId] = ProgIds(c);
        EXPECT_FALSE(!progId.empty() && (KeyExists(HKEY_CLASSES_ROOT, progId) || KeyExists(HKEY_CLASSES_ROOT, independent))) << progId;
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
    ASSERT_FALSE(Classes().empty());
    for (const Coclass& c : Classes()) {
        SCOPED_TRACE(c.name);
        Outer outer;
        IUnknown* inner = nullptr;
        ASSERT_EQ(S_OK, CoCreateInstance(c.clsid, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&inner)));
        outer.inner = inner;
        void* p = nullptr;
        EXPECT_EQ(CLASS_E_NOAGGREGATION, CoCreateInstance(c.clsid, &outer, CLSCTX_INPROC_SERVER, c.defaultInterface, &p));

        // Interfaces of the inner object count their references on the outer one.
        ULONG before = outer.refs;
        ComPtr<ISupportErrorInfo> support;
        ASSERT_EQ(S_OK, outer.QueryInterface(IID_ISupportErrorInfo, &support));
        EXPECT_EQ(before + 1, outer.refs);
        EXPECT_EQ(S_OK, support->InterfaceSupportsErrorInfo(c.defaultInterface));
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

