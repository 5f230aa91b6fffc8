// The server module as clients and the registry see it: class table, registration, object
// lifetime, aggregation and the log of the class factory.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "TestSupport.h"

using test::ComPtr;
using test::KeyExists;
using test::RegText;

namespace {

struct ClassRow {
    const wchar_t* clsid;
    const wchar_t* progId;  // nullptr: short form without ProgID keys
    const wchar_t* versionIndependent;
    const wchar_t* description;
};

const ClassRow kClasses[] = {
    {L"{8D61C14A-823B-4577-9C97-F24F4CCE223E}", L"QarnComConnector.CGlobalApp.1", L"QarnComConnector.CGlobalApp",
     L"GlobalApp Class"},
    {L"{AE24E3FB-3747-45F8-9225-FEEBB0585EC0}", L"QarnComConnector.CQarnClassFactory.1",
     L"QarnComConnector.CQarnClassFactory", L"QarnClassFactory Class"},
    {L"{31B148B0-FD87-4CA8-9922-2127F541603F}", L"QarnComConnector.CQarnComApplication.1",
     L"QarnComConnector.CQarnComApplication", L"QarnComApplication Class"},
    {L"{38997210-4AA4-4023-BC94-A505C110A863}", L"QarnComConnector.CQarnSimpleCollaboration.1",
     L"QarnComConnector.CQarnSimpleCollaboration", L"QarnSimpleCollaboration Class"},
    {L"{4D9E1CA9-A8AF-40E9-AD38-D10E12E6DC75}", L"QarnComConnector.CQarnTimer.1", L"QarnComConnector.CQarnTimer",
     L"QarnTimer Class"},
    {L"{A0665203-7DCB-49AA-8B34-AC84357CDAA8}", L"QarnComConnector.CQarnUtilities.1",
     L"QarnComConnector.CQarnUtilities", L"QarnUtilities Class"},
    {L"{3F9E5E04-DA3A-471A-AF3D-145AFF993638}", L"QarnComConnector.QarnGenericListViewC.1",
     L"QarnComConnector.QarnGenericListViewCon", L"QarnGenericListViewControl Class"},
    {L"{6D0C64CB-55CF-4C0D-A448-0B49468E3ED6}", L"QarnComConnector.CQarnGenericPlmInter.1",
     L"QarnComConnector.CQarnGenericPlmInterfa", L"CQarnGenericPlmInterface Class"},
    {L"{92C8BA8F-BC7C-49C1-BB7B-93CC94F5A1D3}", L"QarnComConnector.CQarnNumberGenerator.1",
     L"QarnComConnector.CQarnNumberGenerator", L"CQarnNumberGenerator Class"},
    {L"{D34EDA3B-323E-47C0-94C6-5E916BA78599}", nullptr, nullptr, L"CQarnCommonCADAdapter Class"},
    {L"{2deb97ac-69c5-468c-8361-921b6cc75bab}", nullptr, nullptr, L"QarnGenericSearchInterface class"},
};

const wchar_t kLibId[] = L"{53D70BEF-7A49-4E4E-8BE6-660E8613DBE0}";

std::wstring ClsidKey(const ClassRow& c) { return std::wstring(L"CLSID\\") + c.clsid; }

// Checks every key a registration must leave; returns the number of classes found complete.
void ExpectRegistered(const std::wstring& modulePath) {
    for (const ClassRow& c : kClasses) {
        SCOPED_TRACE(testing::Message() << "class " << std::string(c.description, c.description + wcslen(c.description)));
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
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, std::wstring(L"TypeLib\\") + kLibId + L"\\1.0"));
}

HMODULE ServerModule() {
    static HMODULE module = LoadLibraryW(test::ServerPath(kClasses[4].clsid).c_str());
    return module;
}

template <class F>
F Export(const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(ServerModule(), name)));
}

// The exact spelling of a sub-key name under HKCR\CLSID (the registry ignores case on lookup).
std::wstring StoredClsidSpelling(const std::wstring& clsid) {
    HKEY root = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L"CLSID", 0, KEY_READ, &root) != ERROR_SUCCESS) return {};
    std::wstring found;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD len = 256;
        if (RegEnumKeyExW(root, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        if (_wcsicmp(name, clsid.c_str()) == 0) {
            found = name;
            break;
        }
    }
    RegCloseKey(root);
    return found;
}

}  // namespace

TEST(Registration, RegistersUnregistersAndRegistersAgain) {
    const std::wstring path = test::ServerPath(kClasses[4].clsid);
    ASSERT_FALSE(path.empty()) << "the server is not registered";
    ExpectRegistered(path);
    EXPECT_EQ(L"{2deb97ac-69c5-468c-8361-921b6cc75bab}", StoredClsidSpelling(kClasses[10].clsid));

    using Entry = HRESULT(STDAPICALLTYPE*)();
    auto unregister = Export<Entry>("DllUnregisterServer");
    auto reg = Export<Entry>("DllRegisterServer");
    ASSERT_TRUE(unregister && reg);
    ASSERT_EQ(S_OK, unregister());
    for (const ClassRow& c : kClasses) {
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ClsidKey(c)));
        if (c.progId) {
            EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, c.progId));
            EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, c.versionIndependent));
        }
    }
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::wstring(L"TypeLib\\") + kLibId + L"\\1.0"));
    // Removing twice is harmless.
    EXPECT_EQ(S_OK, unregister());

    ASSERT_EQ(S_OK, reg());
    ExpectRegistered(path);
    EXPECT_EQ(S_OK, reg());
    ExpectRegistered(path);
}

TEST(Module, ExportsExactlyTheFourEntryPoints) {
    HMODULE m = ServerModule();
    ASSERT_TRUE(m);
    auto base = reinterpret_cast<const BYTE*>(m);
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const auto& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    auto exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    std::vector<std::string> names;
    auto nameRvas = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) names.emplace_back(reinterpret_cast<const char*>(base + nameRvas[i]));
    EXPECT_EQ((std::vector<std::string>{"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer",
                                        "DllUnregisterServer"}),
              names);
}

TEST(Module, ClassObjectsAndUnloadTracking) {
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    using CanUnload = HRESULT(STDAPICALLTYPE*)();
    auto getClassObject = Export<GetClassObject>("DllGetClassObject");
    auto canUnload = Export<CanUnload>("DllCanUnloadNow");
    ASSERT_TRUE(getClassObject && canUnload);

    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, getClassObject(IID_IUnknown, IID_IClassFactory, &p));
    EXPECT_EQ(nullptr, p);

    // Classes without ProgID are still served; the class object is created once.
    ComPtr<IClassFactory> cad, cad2, search;
    ASSERT_EQ(S_OK, getClassObject(CLSID_CQarnCommonCADAdapter, IID_IClassFactory, &cad));
    ASSERT_EQ(S_OK, getClassObject(CLSID_CQarnCommonCADAdapter, IID_IClassFactory, &cad2));
    EXPECT_EQ(cad.Get(), cad2.Get());
    ASSERT_EQ(S_OK, getClassObject(CLSID_CQarnGenericSearchInterface, IID_IClassFactory, &search));

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

    // Two utilities objects are independent.
    auto u1 = test::Create<IQarnUtilities>(CLSID_CQarnUtilities);
    auto u2 = test::Create<IQarnUtilities>(CLSID_CQarnUtilities);
    EXPECT_NE(u1.Get(), u2.Get());
}

namespace {

// A minimal outer object that counts the references its inner object forwards to it.
class Outer : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** ppv) override {
        if (InlineIsEqualGUID(iid, IID_IUnknown)) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        return inner ? inner->QueryInterface(iid, ppv) : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
    ULONG refs = 1;
    IUnknown* inner = nullptr;
};

}  // namespace

TEST(Module, EveryClassIsAggregatableAndReportsRichErrors) {
    const CLSID* classes[] = {&CLSID_CGlobalApp,          &CLSID_CQarnClassFactory,     &CLSID_CQarnComApplication,
                              &CLSID_CQarnSimpleCollaboration, &CLSID_CQarnTimer,       &CLSID_CQarnUtilities,
                              &CLSID_QarnGenericListViewControl, &CLSID_CQarnGenericPlmInterface,
                              &CLSID_CQarnNumberGenerator, &CLSID_CQarnCommonCADAdapter,
                              &CLSID_CQarnGenericSearchInterface};
    const IID* defaults[] = {&IID_IGlobalApp,  &IID_IQarnClassFactory, &IID_IQarnComApplication,
                             &IID_IQarnSimpleCollaboration, &IID_IQarnTimer, &IID_IQarnUtilities,
                             &IID_IQarnGenericListViewControl, &IID_IQarnGenericPlmInterface,
                             &IID_IQarnNumberGenerator, &IID_IQarnCommonCADAdapter,
                             &IID_IQarnGenericSearchInterface};
    for (size_t i = 0; i < std::size(classes); ++i) {
        SCOPED_TRACE(i);
        Outer outer;
        IUnknown* inner = nullptr;
        ASSERT_EQ(S_OK, CoCreateInstance(*classes[i], &outer, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                         reinterpret_cast<void**>(&inner)));
        outer.inner = inner;
        void* p = nullptr;
        EXPECT_EQ(CLASS_E_NOAGGREGATION,
                  CoCreateInstance(*classes[i], &outer, CLSCTX_INPROC_SERVER, *defaults[i], &p));

        // Interfaces of the inner object count their references on the outer one.
        ULONG before = outer.refs;
        ComPtr<ISupportErrorInfo> support;
        ASSERT_EQ(S_OK, outer.QueryInterface(IID_ISupportErrorInfo, &support));
        EXPECT_EQ(before + 1, outer.refs);
        EXPECT_EQ(S_OK, support->InterfaceSupportsErrorInfo(*defaults[i]));
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
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring file = std::wstring(temp) + L"qarnlog-factory\\sub\\factory.log";
    DeleteFileW(file.c_str());

    SetEnvironmentVariableW(L"QarnLogFile", nullptr);
    auto silent = test::Create<IQarnClassFactory>(CLSID_CQarnClassFactory);
    SetEnvironmentVariableW(L"QarnLogFile", file.c_str());
    auto logging = test::Create<IQarnClassFactory>(CLSID_CQarnClassFactory);
    SetEnvironmentVariableW(L"QarnLogFile", nullptr);

    BSTR text = SysAllocString(L"value 100%s done");
    EXPECT_EQ(S_OK, silent->WriteLogMessage(10, text));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(file.c_str())) << "logging is off without QarnLogFile";
    for (long level : {0L, -5L, 101L}) EXPECT_EQ(S_OK, logging->WriteLogMessage(level, text));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(file.c_str()));
    EXPECT_EQ(S_OK, logging->WriteLogMessage(100, text));
    EXPECT_EQ(S_OK, logging->WriteLogMessage(1, nullptr));
    SysFreeString(text);

    FILE* f = _wfopen(file.c_str(), L"rb");
    ASSERT_TRUE(f) << "the log file and its folders were not created";
    char buf[512] = {};
    size_t n = fread(buf, 1, sizeof buf - 1, f);
    fclose(f);
    std::string data(buf, n);
    EXPECT_NE(std::string::npos, data.find(" - 100 - value 100%s done\r\n")) << data;
    EXPECT_EQ(data.find("\n"), data.rfind("\n")) << "exactly one line: " << data;
}

namespace {

std::wstring VersionString(const std::vector<BYTE>& block, const wchar_t* name) {
    wchar_t* value = nullptr;
    UINT len = 0;
    std::wstring path = std::wstring(L"\\StringFileInfo\\040704b0\\") + name;
    if (!VerQueryValueW(block.data(), path.c_str(), reinterpret_cast<void**>(&value), &len) || !value) return {};
    return value;
}

}  // namespace

TEST(Module, CarriesItsResources) {
    const std::wstring path = test::ServerPath(kClasses[4].clsid);
    HMODULE m = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(m);
    wchar_t text[64] = {};
    EXPECT_GT(LoadStringW(m, 100, text, 64), 0);
    EXPECT_STREQ(L"QarnComConnector", text);
    EXPECT_TRUE(FindResourceW(m, MAKEINTRESOURCEW(1), L"TYPELIB"));
    for (UINT script : {101u, 102u, 103u, 104u, 106u, 107u, 109u, 110u, 111u, 112u, 113u})
        EXPECT_TRUE(FindResourceW(m, MAKEINTRESOURCEW(script), L"REGISTRY")) << script;
    EXPECT_FALSE(FindResourceW(m, MAKEINTRESOURCEW(105), L"REGISTRY"));
    EXPECT_TRUE(FindResourceW(m, MAKEINTRESOURCEW(2), RT_MANIFEST));

    // Icon group 201: three 32-bit images, 48, 32 and 16 pixels.
    HRSRC group = FindResourceW(m, MAKEINTRESOURCEW(201), RT_GROUP_ICON);
    ASSERT_TRUE(group);
    auto dir = static_cast<const BYTE*>(LockResource(LoadResource(m, group)));
    ASSERT_TRUE(dir);
    ASSERT_EQ(3, *reinterpret_cast<const WORD*>(dir + 4));
    const int sizes[] = {48, 32, 16};
    for (int i = 0; i < 3; ++i) {
        const BYTE* entry = dir + 6 + 14 * i;
        EXPECT_EQ(sizes[i], entry[0]);
        EXPECT_EQ(32, *reinterpret_cast<const WORD*>(entry + 6));
    }

    // Menu 202: one pop-up with the item "Info", command 32768.
    HMENU menu = LoadMenuW(m, MAKEINTRESOURCEW(202));
    ASSERT_TRUE(menu);
    HMENU popup = GetSubMenu(menu, 0);
    ASSERT_TRUE(popup);
    EXPECT_EQ(32768u, GetMenuItemID(popup, 0));
    wchar_t item[32] = {};
    GetMenuStringW(popup, 0, item, 32, MF_BYPOSITION);
    EXPECT_STREQ(L"Info", item);
    DestroyMenu(menu);

    // Dialog 108: an extended template with the list view's style and size.
    HRSRC dialog = FindResourceW(m, MAKEINTRESOURCEW(108), RT_DIALOG);
    ASSERT_TRUE(dialog);
    auto tpl = static_cast<const BYTE*>(LockResource(LoadResource(m, dialog)));
    EXPECT_EQ(0xFFFF, *reinterpret_cast<const WORD*>(tpl + 2)) << "DLGTEMPLATEEX";
    EXPECT_EQ(0x90C80ACCu, *reinterpret_cast<const DWORD*>(tpl + 12));
    EXPECT_EQ(2, *reinterpret_cast<const WORD*>(tpl + 16));
    EXPECT_EQ(523, *reinterpret_cast<const short*>(tpl + 22));
    EXPECT_EQ(393, *reinterpret_cast<const short*>(tpl + 24));
    FreeLibrary(m);

    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));
    EXPECT_EQ(L"2.1.50.117", VersionString(block, L"FileVersion"));
    EXPECT_EQ(L"2.1.50.117", VersionString(block, L"ProductVersion"));
    EXPECT_EQ(L"QarnComConnector Module", VersionString(block, L"FileDescription"));
    EXPECT_EQ(L"QarnComConnector", VersionString(block, L"InternalName"));
    EXPECT_EQ(L"QarnComConnector.DLL", VersionString(block, L"OriginalFilename"));
}
