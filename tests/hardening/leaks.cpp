// Create/use/release cycles of every creatable class of both DLLs. After a warm-up the process's
// committed private memory must not grow by more than kBoundPerCycle bytes per cycle, and once
// everything is released both DLLs must agree to be unloaded (their lock counts are back at zero).
//   leak_cycles.exe [cycles] [warm-up] [class]
// (default: 1000 warm-up and 10000 measured cycles of every class)
#include <windows.h>
#include <oaidl.h>
#include <psapi.h>
#include <wrl/client.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "QarnComDatatypes.h"
#include "QarnComConnector.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr long long kBoundPerCycle = 64;

// A failed step ends the run: a class that cannot be used cannot be measured.
struct Failure {
    std::wstring what;
};

void Check(HRESULT hr, const wchar_t* what) {
    if (FAILED(hr)) {
        wchar_t code[16];
        swprintf(code, 16, L"0x%08lx", static_cast<unsigned long>(hr));
        throw Failure{std::wstring(what) + L" failed: " + code};
    }
}

void Expect(bool ok, const wchar_t* what) {
    if (!ok) throw Failure{what};
}

// The class objects of the classes used, asked for once: creating through them spares the
// registry look-up of every CoCreateInstance (slow under Wine) and keeps the cycles short.
// Class objects do not count as live objects of their DLL.
struct ClassObjects {
    std::vector<std::pair<CLSID, ComPtr<IClassFactory>>> entries;

    IClassFactory* Get(REFCLSID clsid) {
        for (auto& e : entries)
            if (IsEqualCLSID(e.first, clsid)) return e.second.Get();
        ComPtr<IClassFactory> factory;
        Check(CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_PPV_ARGS(&factory)), L"CoGetClassObject");
        entries.emplace_back(clsid, factory);
        return factory.Get();
    }
};
ClassObjects g_classObjects;

template <class I>
ComPtr<I> New(REFCLSID clsid) {
    ComPtr<I> p;
    Check(g_classObjects.Get(clsid)->CreateInstance(nullptr, __uuidof(I), reinterpret_cast<void**>(p.GetAddressOf())),
          L"CreateInstance");
    return p;
}

class Str {
public:
    explicit Str(const wchar_t* text) : s_(SysAllocString(text)) {}
    explicit Str(const std::wstring& text) : s_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    ~Str() { SysFreeString(s_); }
    Str(const Str&) = delete;
    Str& operator=(const Str&) = delete;
    operator BSTR() const { return s_; }

private:
    BSTR s_;
};

// An [out] text, freed at the end of the scope.
struct OutStr {
    BSTR s = nullptr;
    ~OutStr() { SysFreeString(s); }
    BSTR* operator&() { return &s; }
    std::wstring text() const { return s ? std::wstring(s, SysStringLen(s)) : std::wstring(); }
};

struct Var : VARIANT {
    Var() { VariantInit(this); }
    explicit Var(const wchar_t* text) {
        VariantInit(this);
        vt = VT_BSTR;
        bstrVal = SysAllocString(text);
    }
    explicit Var(long n) {
        VariantInit(this);
        vt = VT_I4;
        lVal = n;
    }
    ~Var() { VariantClear(this); }
};

void DropErrorInfo() {
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) == S_OK && info) info->Release();
}

// Committed private memory. Wine reports PrivateUsage as 0 and keeps the commit charge in
// PagefileUsage (on Windows both hold the same figure).
long long PrivateBytes() {
    PROCESS_MEMORY_COUNTERS_EX c{};
    c.cb = sizeof c;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&c), sizeof c)) return -1;
    return c.PrivateUsage ? static_cast<long long>(c.PrivateUsage) : static_cast<long long>(c.PagefileUsage);
}

// Calls a member by name through IDispatch, the way script clients do.
void InvokeByName(IDispatch* object, const wchar_t* name, WORD flags, VARIANT* args, UINT count, VARIANT* result) {
    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    Check(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), name);
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS params{args, (flags & DISPATCH_PROPERTYPUT) ? &put : nullptr, count, (flags & DISPATCH_PROPERTYPUT) ? 1u : 0u};
    Check(object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, nullptr, nullptr), name);
}

ComPtr<IField> NewField(const wchar_t* name, const wchar_t* value) {
    auto f = New<IField>(CLSID_Field);
    Check(f->put_Name(Str(name)), L"Field.Name");
    Check(f->put_Value(Var(value)), L"Field.Value");
    return f;
}

ComPtr<IFieldCollection> NewFields(int count) {
    auto fields = New<IFieldCollection>(CLSID_FieldCollection);
    for (int i = 0; i < count; ++i) {
        std::wstring name = L"F" + std::to_wstring(i);
        Check(fields->SetValue(Str(name), Var(L"value")), L"FieldCollection.SetValue");
    }
    return fields;
}

ComPtr<IQarnDocument> NewDocument() {
    auto document = New<IQarnDocument>(CLSID_QarnDocument);
    auto list = New<IParameterList>(CLSID_ParameterList);
    Check(list->put_FieldCollection(NewFields(2).Get()), L"ParameterList.FieldCollection");
    Check(document->put_ParameterList(list.Get()), L"QarnDocument.ParameterList");
    return document;
}

// Takes one element from a collection's enumerator.
void EnumerateOne(IUnknown* enumerator) {
    ComPtr<IEnumVARIANT> e;
    Check(enumerator->QueryInterface(IID_PPV_ARGS(&e)), L"IEnumVARIANT");
    Var item;
    ULONG fetched = 0;
    Check(e->Next(1, &item, &fetched), L"IEnumVARIANT.Next");
    Expect(fetched == 1, L"the enumerator gave no element");
}

// A scratch installation: a configuration file, a resource file and a folder for store files.
struct Scratch {
    std::wstring root;
    std::wstring storeModel;

    Scratch() {
        // A memory file system when there is one (Wine shows it as Z:\dev\shm): the store files are
        // written with a flush to disk in every cycle, which a disk makes slow.
        wchar_t temp[MAX_PATH] = {};
        const DWORD shm = GetFileAttributesW(L"Z:\\dev\\shm");
        if (shm != INVALID_FILE_ATTRIBUTES && (shm & FILE_ATTRIBUTE_DIRECTORY))
            wcscpy(temp, L"Z:\\dev\\shm\\");
        else
            GetTempPathW(MAX_PATH, temp);
        root = std::wstring(temp) + L"qarn-leaks-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(root.c_str(), nullptr);
        CreateDirectoryW((root + L"\\xml").c_str(), nullptr);
        Write(L"\\xml\\QarnConnector.xml",
              "<?xml version=\"1.0\"?><QarnConnector><Properties><Plant>1000</Plant>"
              "<ResourceFiles>res.xml</ResourceFiles></Properties><JniOptions><Heap>-Xmx1g</Heap></JniOptions>"
              "</QarnConnector>");
        Write(L"\\xml\\res.xml",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?><QarnResource><EN><M0011>Error creating file %s.</M0011>"
              "</EN></QarnResource>");
        storeModel = root + L"\\A.asm";
        SetEnvironmentVariableW(L"QarnRootDir", root.c_str());
    }
    ~Scratch() {
        for (const wchar_t* name : {L"\\xml\\QarnConnector.xml", L"\\xml\\res.xml", L"\\A.asm.CLB"})
            DeleteFileW((root + name).c_str());
        RemoveDirectoryW((root + L"\\xml").c_str());
        RemoveDirectoryW(root.c_str());
    }
    void Write(const wchar_t* name, const char* text) const {
        HANDLE h = CreateFileW((root + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        const bool ok = h != INVALID_HANDLE_VALUE && WriteFile(h, text, static_cast<DWORD>(strlen(text)), &written, nullptr);
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        Expect(ok, L"cannot write the scratch installation");
    }
};

struct Case {
    const wchar_t* name;
    std::function<void()> cycle;
};

std::vector<Case> Cases(const Scratch& scratch) {
    std::vector<Case> cases;
    // --- QarnComConnector.dll -------------------------------------------------------------------
    cases.push_back({L"CQarnUtilities", [] {
        auto u = New<IQarnUtilities>(CLSID_CQarnUtilities);
        OutStr encrypted, decrypted;
        Check(u->Encrypt3(Str(L"secret value"), &encrypted), L"Encrypt3");
        Check(u->Decrypt3(encrypted.s, &decrypted), L"Decrypt3");
        Expect(decrypted.text() == L"secret value", L"Decrypt3 did not give the value back");
        ComPtr<IDispatch> dom;
        Check(u->DOMParse2(Str(L"<a><b x=\"1\">t</b><c>2</c></a>"), &dom), L"DOMParse2");
        Expect(dom != nullptr, L"DOMParse2 gave no document");
        ComPtr<IParameterList> list;
        Check(u->GetXmlParameterListFromXMLString(
                  Str(L"<Parameter><FieldCollection><Field><Name>N</Name><Value>V</Value></Field>"
                      L"</FieldCollection></Parameter>"),
                  Str(L""), nullptr, &list),
              L"GetXmlParameterListFromXMLString");
        Expect(list != nullptr, L"GetXmlParameterListFromXMLString gave no list");
        OutStr nothing;
        Expect(u->Decrypt3(Str(L"not an encrypted text"), &nothing) != S_OK, L"Decrypt3 of a plain text did not fail");
        DropErrorInfo();
    }});
    cases.push_back({L"CQarnComApplication", [] {
        auto app = New<IQarnComApplication>(CLSID_CQarnComApplication);
        Check(app->SetProperty(Str(L"Plant"), Str(L"2000")), L"SetProperty");
        OutStr plant;
        Check(app->GetProperty(Str(L"Plant"), &plant), L"GetProperty");
    }});
    cases.push_back({L"CQarnClassFactory", [] {
        auto factory = New<IQarnClassFactory>(CLSID_CQarnClassFactory);
        ComPtr<IQarnComApplication> app;
        Check(factory->Create(&app), L"Create");
        OutStr plant;
        Check(app->GetProperty(Str(L"Plant"), &plant), L"GetProperty");
        Expect(plant.text() == L"1000", L"the application did not read the configuration");
        app.Reset();
        Check(factory->Destroy(), L"Destroy");
    }});
    cases.push_back({L"CGlobalApp", [] {
        auto global = New<IGlobalApp>(CLSID_CGlobalApp);
        UINT count = 0;
        Check(global->GetTypeInfoCount(&count), L"GetTypeInfoCount");
        ComPtr<ITypeInfo> info;
        Check(global->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info), L"GetTypeInfo");
    }});
    // Storing and reading take turns: each costs a file operation and a parse.
    cases.push_back({L"CQarnSimpleCollaboration", [&scratch, turn = 0]() mutable {
        auto collaboration = New<IQarnSimpleCollaboration>(CLSID_CQarnSimpleCollaboration);
        if (turn++ % 2 == 0) {
            Check(collaboration->Add2(Str(scratch.storeModel), NewFields(2).Get()), L"Add2");
            return;
        }
        ComPtr<IFieldCollection> stored;
        Check(collaboration->Get2(Str(scratch.storeModel), &stored), L"Get2");
        Expect(stored != nullptr, L"Get2 found nothing");
    }});
    cases.push_back({L"CQarnTimer", [] {
        auto timer = New<IQarnTimer>(CLSID_CQarnTimer);
        Check(timer->start(), L"start");
        VARIANT_BOOL running = VARIANT_FALSE;
        Check(timer->IsRunning(&running), L"IsRunning");
        Check(timer->Stop(), L"Stop");
        double diff = -1;
        Check(timer->GetTimeDiff(&diff), L"GetTimeDiff");
    }});
    cases.push_back({L"QarnGenericListViewControl", [] {
        auto control = New<IQarnGenericListViewControl>(CLSID_QarnGenericListViewControl);
        DISPID id = 0;
        LPOLESTR names[] = {const_cast<LPOLESTR>(L"Show")};
        Check(control->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), L"GetIDsOfNames");
    }});
    cases.push_back({L"CQarnGenericPlmInterface", [] {
        auto plm = New<IQarnGenericPlmInterface>(CLSID_CQarnGenericPlmInterface);
        auto document = NewDocument();
        ComPtr<IQarnDocument> out;
        Check(plm->LockObject(document.Get(), &out), L"LockObject");
        Check(plm->AddSessionParameter(document.Get()), L"AddSessionParameter");
    }});
    cases.push_back({L"CQarnNumberGenerator", [] {
        auto generator = New<IQarnNumberGenerator>(CLSID_CQarnNumberGenerator);
        ComPtr<IFieldCollection> numbers;
        Check(generator->Get1(Str(L"P"), 1, 5, &numbers), L"Get1");
        long count = 0;
        if (numbers) Check(numbers->get_Count(&count), L"Count");
    }});
    cases.push_back({L"CQarnCommonCADAdapter", [] {
        auto cad = New<IQarnCommonCADAdapter>(CLSID_CQarnCommonCADAdapter);
        auto document = NewDocument();
        ComPtr<IQarnDocument> out;
        Check(cad->Open(document.Get(), &out), L"Open");
        OutStr identifier;
        Check(cad->get_CadIdentifier(&identifier), L"CadIdentifier");
    }});
    cases.push_back({L"CQarnGenericSearchInterface", [] {
        auto search = New<IQarnGenericSearchInterface>(CLSID_CQarnGenericSearchInterface);
        auto document = NewDocument();
        ComPtr<IQarnDocument> out;
        Check(search->StartSearch(document.Get(), &out), L"StartSearch");
    }});
    // --- QarnComDatatypes.dll -------------------------------------------------------------------
    cases.push_back({L"Field", [] {
        auto field = NewField(L"Name", L"value");
        OutStr text;
        Check(field->get_StringValue(&text), L"StringValue");
        Check(field->put_Attributes(NewFields(1).Get()), L"Field.Attributes");
        Var value;
        InvokeByName(field.Get(), L"Value", DISPATCH_PROPERTYGET, nullptr, 0, &value);
        Var put(42L);
        InvokeByName(field.Get(), L"Value", DISPATCH_PROPERTYPUT, &put, 1, nullptr);
    }});
    cases.push_back({L"FieldCollection", [] {
        auto fields = NewFields(3);
        Check(fields->Add(NewField(L"Extra", L"x").Get()), L"Add");
        OutStr value;
        Check(fields->GetValue(Str(L"F1"), &value), L"GetValue");
        ComPtr<IField> item;
        Check(fields->get_Item(2, &item), L"Item");
        Check(fields->Remove(1), L"Remove");
        ComPtr<IUnknown> enumerator;
        Check(fields->get__NewEnum(&enumerator), L"_NewEnum");
        EnumerateOne(enumerator.Get());
        Expect(fields->get_Item(99, &item) == DISP_E_EXCEPTION, L"Item(99) did not fail");
        DropErrorInfo();
    }});
    cases.push_back({L"ParameterList", [] {
        auto list = New<IParameterList>(CLSID_ParameterList);
        Check(list->put_FieldCollection(NewFields(3).Get()), L"FieldCollection");
        OutStr xml;
        Check(list->get_Xml(&xml), L"Xml");
        Expect(!xml.text().empty(), L"Xml gave no text");
        ComPtr<IParameterList> copy;
        Check(list->Clone(&copy), L"Clone");
        ComPtr<IField> field;
        Check(copy->GetField(Str(L"F2"), &field), L"GetField");
    }});
    cases.push_back({L"Structure", [] {
        auto structure = New<IStructure>(CLSID_Structure);
        Check(structure->put_Name(Str(L"Head")), L"Name");
        Check(structure->AddFieldCollection(NewFields(2).Get()), L"AddFieldCollection");
        OutStr text;
        Check(structure->get_Text(&text), L"Text");
        ComPtr<IField> field;
        Check(structure->GetField(Str(L"F1"), &field), L"GetField");
    }});
    cases.push_back({L"StructureCollection", [] {
        auto structures = New<IStructureCollection>(CLSID_StructureCollection);
        auto structure = New<IStructure>(CLSID_Structure);
        Check(structure->put_Name(Str(L"Head")), L"Name");
        Check(structures->Add(structure.Get()), L"Add");
        ComPtr<IStructure> found;
        Check(structures->get_Structure(Str(L"Head"), &found), L"Structure");
        ComPtr<IUnknown> enumerator;
        Check(structures->get__NewEnum(&enumerator), L"_NewEnum");
        EnumerateOne(enumerator.Get());
    }});
    cases.push_back({L"Table", [] {
        auto table = New<ITable>(CLSID_Table);
        Check(table->put_Name(Str(L"Rows")), L"Name");
        auto rows = New<IFieldCollectionTable>(CLSID_FieldCollectionTable);
        Check(rows->Add(NewFields(2).Get()), L"FieldCollectionTable.Add");
        Check(table->put_FieldCollectionTable(rows.Get()), L"FieldCollectionTable");
        ComPtr<IFieldCollectionTable> back;
        Check(table->get_FieldCollectionTable(&back), L"FieldCollectionTable");
    }});
    cases.push_back({L"TableCollection", [] {
        auto tables = New<ITableCollection>(CLSID_TableCollection);
        auto table = New<ITable>(CLSID_Table);
        Check(table->put_Name(Str(L"Rows")), L"Name");
        Check(tables->Add(table.Get()), L"Add");
        ComPtr<ITable> found;
        Check(tables->get_Table(Str(L"Rows"), &found), L"Table");
        long count = 0;
        Check(tables->get_Count(&count), L"Count");
    }});
    cases.push_back({L"FieldCollectionTable", [] {
        auto rows = New<IFieldCollectionTable>(CLSID_FieldCollectionTable);
        Check(rows->Add(NewFields(2).Get()), L"Add");
        Check(rows->Add(NewFields(3).Get()), L"Add");
        ComPtr<IFieldCollection> row;
        Check(rows->FindRow(Str(L"F2"), Str(L"value"), &row), L"FindRow");
        Expect(row != nullptr, L"FindRow found nothing");
        ComPtr<IUnknown> enumerator;
        Check(rows->get__NewEnum(&enumerator), L"_NewEnum");
        EnumerateOne(enumerator.Get());
    }});
    cases.push_back({L"QarnDocument", [] {
        auto document = NewDocument();
        auto children = New<IQarnDocumentCollection>(CLSID_QarnDocumentCollection);
        Check(children->Add(NewDocument().Get()), L"Add");
        Check(document->put_Children(children.Get()), L"Children");
        ComPtr<IParameterList> list;
        Check(document->get_ParameterList(&list), L"ParameterList");
        Check(document->put_Attributes(NewFields(1).Get()), L"Attributes");
    }});
    cases.push_back({L"QarnDocumentCollection", [] {
        auto documents = New<IQarnDocumentCollection>(CLSID_QarnDocumentCollection);
        Check(documents->Add(NewDocument().Get()), L"Add");
        ComPtr<IQarnDocument> item;
        Check(documents->get_Item(1, &item), L"Item");
        ComPtr<IUnknown> enumerator;
        Check(documents->get__NewEnum(&enumerator), L"_NewEnum");
        EnumerateOne(enumerator.Get());
    }});
    return cases;
}

// DllCanUnloadNow of a loaded DLL: S_OK when none of its objects is alive and no lock is held.
HRESULT CanUnload(const wchar_t* dll) {
    HMODULE module = GetModuleHandleW(dll);
    if (!module) return E_FAIL;
    auto canUnload = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    return canUnload ? canUnload() : E_FAIL;
}

int Run(long cycles, long warmUp, const wchar_t* only) {
    Scratch scratch;
    std::vector<Case> cases = Cases(scratch);
    int failures = 0;
    wprintf(L"%-28ls %12ls %10ls %8ls %8ls  %ls\n", L"class", L"growth", L"per cycle", L"unload", L"ms", L"result");
    for (const Case& c : cases) {
        if (only && wcscmp(only, c.name) != 0) continue;
        try {
            for (long i = 0; i < warmUp; ++i) c.cycle();
            const long long before = PrivateBytes();
            const ULONGLONG start = GetTickCount64();
            for (long i = 0; i < cycles; ++i) c.cycle();
            const long long growth = PrivateBytes() - before;
            const long long perCycle = growth / cycles;
            // Only the DLL a class belongs to must be free after its cycles; a class of the
            // connector may keep no data-type object either.
            const bool unload = CanUnload(L"QarnComConnector.dll") == S_OK && CanUnload(L"QarnComDatatypes.dll") == S_OK;
            const bool ok = perCycle <= kBoundPerCycle && unload;
            if (!ok) ++failures;
            wprintf(L"%-28ls %12lld %10lld %8ls %8llu  %ls\n", c.name, growth, perCycle, unload ? L"S_OK" : L"S_FALSE",
                    GetTickCount64() - start, ok ? L"ok" : L"LEAK");
        } catch (const Failure& f) {
            ++failures;
            wprintf(L"%-28ls error: %ls\n", c.name, f.what.c_str());
        }
        fflush(stdout);
    }
    const size_t classes = cases.size();
    cases.clear();
    g_classObjects.entries.clear();
    const HRESULT connector = CanUnload(L"QarnComConnector.dll");
    const HRESULT datatypes = CanUnload(L"QarnComDatatypes.dll");
    wprintf(L"DllCanUnloadNow: QarnComConnector.dll 0x%08lx, QarnComDatatypes.dll 0x%08lx\n",
            static_cast<unsigned long>(connector), static_cast<unsigned long>(datatypes));
    if (connector != S_OK || datatypes != S_OK) ++failures;
    if (failures == 0)
        wprintf(L"leak cycles: %zu classes x %ld cycles, none above %lld bytes per cycle, both DLLs unloadable\n",
                classes, cycles, kBoundPerCycle);
    else
        wprintf(L"leak cycles: %d failure(s)\n", failures);
    return failures == 0 ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const long cycles = argc > 1 ? wcstol(argv[1], nullptr, 10) : 10000;
    const long warmUp = argc > 2 ? wcstol(argv[2], nullptr, 10) : 1000;
    if (cycles < 1 || warmUp < 0) {
        fwprintf(stderr, L"usage: leak_cycles [cycles > 0] [warm-up cycles >= 0] [class]\n");
        return 2;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        fwprintf(stderr, L"CoInitializeEx failed\n");
        return 1;
    }
    int result = 1;
    try {
        result = Run(cycles, warmUp, argc > 3 ? argv[3] : nullptr);
    } catch (const Failure& f) {
        fwprintf(stderr, L"leak cycles: %ls\n", f.what.c_str());
    }
    CoUninitialize();
    return result;
}
