// Hostile-input sweep: every member of every creatable class of our two type libraries is called
// through IDispatch::Invoke with generated arguments (one parameter at a time over its hostile set,
// the others plain, then every parameter hostile at once). Each call must end in S_OK, in
// DISP_E_EXCEPTION with a description, or in one of the dispatch protocol's own argument errors.
// A crash or a hang ends the run without its summary line; the current call is printed first.
#include <winsock2.h>
#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>
#include "documents/MsxmlIds.h"
#undef GetMessage

#include <wrl/client.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "QarnComDatatypes.h"

using Microsoft::WRL::ComPtr;

namespace {

// ---- what is being called, for the crash and hang reports ------------------------------------------
std::mutex g_labelLock;
std::wstring g_label = L"(setup)";
std::atomic<ULONGLONG> g_callStart{0};
std::atomic<DWORD> g_mainThread{0};
std::atomic<int> g_dialogsClosed{0};
std::atomic<bool> g_stop{false};

void SetLabel(const std::wstring& label) {
    std::lock_guard<std::mutex> lock(g_labelLock);
    g_label = label;
}
std::wstring Label() {
    std::lock_guard<std::mutex> lock(g_labelLock);
    return g_label;
}
std::string Narrow(const std::wstring& w) {
    std::string s;
    for (wchar_t c : w) s += c >= 32 && c < 127 ? static_cast<char>(c) : '?';
    return s;
}

LONG WINAPI CrashReport(EXCEPTION_POINTERS* info) {
    std::printf("CRASH: exception 0x%08lx at %p during %s\n", info->ExceptionRecord->ExceptionCode,
                info->ExceptionRecord->ExceptionAddress, Narrow(Label()).c_str());
    std::fflush(stdout);
    return EXCEPTION_EXECUTE_HANDLER;
}

constexpr ULONGLONG kHangMs = 30000;

// Ends the process when one call runs too long, and closes every dialog the main thread opens.
void Watchdog() {
    while (!g_stop) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const ULONGLONG start = g_callStart;
        if (start && GetTickCount64() - start > kHangMs) {
            std::printf("HANG: no answer after %llu ms during %s\n", kHangMs, Narrow(Label()).c_str());
            std::fflush(stdout);
            TerminateProcess(GetCurrentProcess(), 3);
        }
        EnumWindows(
            [](HWND window, LPARAM) -> BOOL {
                wchar_t cls[64] = {};
                if (GetWindowThreadProcessId(window, nullptr) == g_mainThread && IsWindowVisible(window) &&
                    GetClassNameW(window, cls, 64) && std::wstring(cls) == L"#32770") {
                    PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
                    ++g_dialogsClosed;
                }
                return TRUE;
            },
            0);
    }
}

// ---- the scratch folder everything happens in -------------------------------------------------------
std::wstring g_scratch, g_work, g_root;

void RemoveTree(const std::wstring& dir) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = dir + L"\\" + name;
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(path);
            else DeleteFileW(path.c_str());
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    RemoveDirectoryW(dir.c_str());
}

void CopyTree(const std::wstring& from, const std::wstring& to) {
    CreateDirectoryW(to.c_str(), nullptr);
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((from + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) CopyTree(from + L"\\" + name, to + L"\\" + name);
        else CopyFileW((from + L"\\" + name).c_str(), (to + L"\\" + name).c_str(), FALSE);
    } while (FindNextFileW(find, &data));
    FindClose(find);
}

std::wstring WorkPath(const wchar_t* name) { return g_work + L"\\" + name; }

void WriteFileText(const std::wstring& path, const char* text) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(h, text, static_cast<DWORD>(strlen(text)), &written, nullptr);
    CloseHandle(h);
}

const char kParameterXml[] =
    "<?xml version=\"1.0\"?><Parameter><FieldCollection><Field><Name>a</Name><Value>1</Value></Field>"
    "</FieldCollection><StructureCollection></StructureCollection><TableCollection></TableCollection></Parameter>";

// The files the text arguments name: a read-only file, a folder with a file, a readable XML file.
// Members that move, remove or write files may have changed them: every call starts from them again.
void RestoreFixtures() {
    SetCurrentDirectoryW(g_work.c_str());
    const std::wstring readOnly = WorkPath(L"readonly.txt"), folder = WorkPath(L"folder"), xml = WorkPath(L"plain.xml");
    if (GetFileAttributesW(readOnly.c_str()) == INVALID_FILE_ATTRIBUTES) {
        WriteFileText(readOnly, "read only\r\n");
        SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
    }
    if (GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) CreateDirectoryW(folder.c_str(), nullptr);
    if (GetFileAttributesW((folder + L"\\inside.txt").c_str()) == INVALID_FILE_ATTRIBUTES)
        WriteFileText(folder + L"\\inside.txt", "inside\r\n");
    if (GetFileAttributesW(xml.c_str()) == INVALID_FILE_ATTRIBUTES) WriteFileText(xml, kParameterXml);
    // What a writer left under the plain file name (a huge list makes a file of megabytes).
    DeleteFileW(WorkPath(L"sweep").c_str());
}

// ---- a plain IDispatch that is none of ours ------------------------------------------------------------
class ForeignDispatch final : public IDispatch {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (InlineIsEqualGUID(iid, IID_IUnknown) || InlineIsEqualGUID(iid, IID_IDispatch)) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG n = --refs_;
        if (!n) delete this;
        return n;
    }
    STDMETHODIMP GetTypeInfoCount(UINT* n) override {
        if (n) *n = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return DISP_E_MEMBERNOTFOUND;
    }

private:
    std::atomic<ULONG> refs_{0};
};

ComPtr<IDispatch> Foreign() { return ComPtr<IDispatch>(new ForeignDispatch); }

// ---- our data objects and the hostile trees ------------------------------------------------------------
std::map<GUID, CLSID, bool (*)(const GUID&, const GUID&)> g_classOf(
    [](const GUID& a, const GUID& b) { return memcmp(&a, &b, sizeof(GUID)) < 0; });
std::map<CLSID, ComPtr<IClassFactory>, bool (*)(const GUID&, const GUID&)> g_factories(
    [](const GUID& a, const GUID& b) { return memcmp(&a, &b, sizeof(GUID)) < 0; });

template <class I>
ComPtr<I> New(REFCLSID clsid) {
    ComPtr<IClassFactory>& factory = g_factories[clsid];
    if (!factory) CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_PPV_ARGS(&factory));
    ComPtr<I> object;
    if (factory) factory->CreateInstance(nullptr, __uuidof(I), reinterpret_cast<void**>(object.GetAddressOf()));
    return object;
}

ComPtr<IDispatch> NewOf(REFIID iid) {
    auto it = g_classOf.find(iid);
    if (it == g_classOf.end()) return nullptr;
    return New<IDispatch>(it->second);
}

ComPtr<IField> MakeField(const wchar_t* name, const wchar_t* value) {
    ComPtr<IField> f = New<IField>(CLSID_Field);
    BSTR n = SysAllocString(name);
    f->put_Name(n);
    SysFreeString(n);
    VARIANT v;
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(value);
    f->put_Value(v);
    VariantClear(&v);
    return f;
}

constexpr int kDeep = 100000;

struct Trees {
    ComPtr<IDispatch> msxmlDoc, msxmlNode;
    ComPtr<IFieldCollection> cyclicFields, deepFields, hugeFields;
    ComPtr<IField> cyclicField;
    ComPtr<IParameterList> cyclicList, deepList, hugeList;
    ComPtr<IQarnDocument> cyclicDoc, deepDoc, hugeDoc;
    ComPtr<IQarnDocumentCollection> cyclicDocs;
    ComPtr<IStructureCollection> deepStructures;
    ComPtr<ITableCollection> deepTables;
    std::vector<std::function<void()>> breakCycles;
};
Trees g_trees;

// A chain of `levels` field collections, each holding a field whose attributes are the next one.
ComPtr<IFieldCollection> DeepFields(int levels) {
    ComPtr<IFieldCollection> root = New<IFieldCollection>(CLSID_FieldCollection), current = root;
    for (int i = 0; i < levels && current; ++i) {
        ComPtr<IField> field = New<IField>(CLSID_Field);
        current->Add(field.Get());
        current = New<IFieldCollection>(CLSID_FieldCollection);
        field->put_Attributes(current.Get());
    }
    return root;
}

void BuildTrees() {
    Trees& t = g_trees;
    // MSXML: a document and its element, as objects of somebody else's type.
    CLSID msxml{};
    if (SUCCEEDED(CLSIDFromProgID(L"Msxml2.DOMDocument.6.0", &msxml))) {
        ComPtr<IXMLDOMDocument> doc;
        CoCreateInstance(msxml, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IXMLDOMDocument),
                         reinterpret_cast<void**>(doc.GetAddressOf()));
        if (doc) {
            VARIANT_BOOL ok = VARIANT_FALSE;
            BSTR text = SysAllocString(L"<Parameter><FieldCollection><Field><Name>a</Name><Value>1</Value></Field>"
                                       L"</FieldCollection></Parameter>");
            doc->loadXML(text, &ok);
            SysFreeString(text);
            doc.As(&t.msxmlDoc);
            ComPtr<IXMLDOMElement> element;
            if (doc->get_documentElement(&element) == S_OK) element.As(&t.msxmlNode);
        }
    }
    // A collection that holds a field whose attributes are the collection itself.
    t.cyclicFields = New<IFieldCollection>(CLSID_FieldCollection);
    t.cyclicField = MakeField(L"self", L"s");
    t.cyclicFields->Add(t.cyclicField.Get());
    t.cyclicField->put_Attributes(t.cyclicFields.Get());
    t.breakCycles.push_back([f = t.cyclicField] { f->put_Attributes(nullptr); });
    t.deepFields = DeepFields(kDeep);
    t.hugeFields = New<IFieldCollection>(CLSID_FieldCollection);
    for (int i = 0; i < 20000; ++i) t.hugeFields->Add(MakeField(L"field", L"a value of some length, 40 characters").Get());

    // Parameter lists: one holding the cyclic collection, one with deep structures and tables, a huge one.
    t.cyclicList = New<IParameterList>(CLSID_ParameterList);
    t.cyclicList->put_FieldCollection(t.cyclicFields.Get());
    t.deepList = New<IParameterList>(CLSID_ParameterList);
    t.deepStructures = New<IStructureCollection>(CLSID_StructureCollection);
    ComPtr<IStructure> structure = New<IStructure>(CLSID_Structure);
    BSTR name = SysAllocString(L"deep");
    structure->put_Name(name);
    structure->put_FieldCollection(DeepFields(kDeep).Get());
    t.deepStructures->Add(structure.Get());
    t.deepList->put_StructureCollection(t.deepStructures.Get());
    t.deepTables = New<ITableCollection>(CLSID_TableCollection);
    ComPtr<ITable> table = New<ITable>(CLSID_Table);
    table->put_Name(name);
    SysFreeString(name);
    ComPtr<IFieldCollectionTable> rows = New<IFieldCollectionTable>(CLSID_FieldCollectionTable);
    rows->Add(DeepFields(kDeep).Get());
    table->put_FieldCollectionTable(rows.Get());
    t.deepTables->Add(table.Get());
    t.deepList->put_TableCollection(t.deepTables.Get());
    t.deepList->put_FieldCollection(DeepFields(kDeep).Get());
    t.hugeList = New<IParameterList>(CLSID_ParameterList);
    t.hugeList->put_FieldCollection(t.hugeFields.Get());

    // Documents: one among its own children, a chain of children, one with a huge parameter list.
    t.cyclicDoc = New<IQarnDocument>(CLSID_QarnDocument);
    t.cyclicDocs = New<IQarnDocumentCollection>(CLSID_QarnDocumentCollection);
    t.cyclicDocs->Add(t.cyclicDoc.Get());
    t.cyclicDoc->put_Children(t.cyclicDocs.Get());
    t.cyclicDoc->put_ParameterList(t.cyclicList.Get());
    t.breakCycles.push_back([d = t.cyclicDoc] { d->put_Children(nullptr); });
    t.deepDoc = New<IQarnDocument>(CLSID_QarnDocument);
    ComPtr<IQarnDocument> current = t.deepDoc;
    for (int i = 0; i < kDeep && current; ++i) {
        ComPtr<IQarnDocumentCollection> children = New<IQarnDocumentCollection>(CLSID_QarnDocumentCollection);
        ComPtr<IQarnDocument> child = New<IQarnDocument>(CLSID_QarnDocument);
        children->Add(child.Get());
        current->put_Children(children.Get());
        current = child;
    }
    t.deepDoc->put_ParameterList(t.deepList.Get());
    t.hugeDoc = New<IQarnDocument>(CLSID_QarnDocument);
    t.hugeDoc->put_ParameterList(t.hugeList.Get());
}

// ---- arguments -------------------------------------------------------------------------------------------
// One argument of a call. By-reference arguments point into `slot` (or `inner` for VT_BYREF|VT_VARIANT),
// which keeps whatever the callee leaves there until the argument is dropped.
struct Arg {
    VARIANT v;
    VARIANT slot;
    VARIANT inner;
    Arg() {
        VariantInit(&v);
        VariantInit(&slot);
        VariantInit(&inner);
    }
    ~Arg() {
        if (!(v.vt & VT_BYREF)) VariantClear(&v);
        VariantClear(&slot);
        VariantClear(&inner);
    }
    Arg(const Arg&) = delete;
    Arg& operator=(const Arg&) = delete;
    // v refers to `slot` holding a value of type `vt` (moved in from `value`).
    void RefTo(VARIANT& value) {
        slot = value;
        VariantInit(&value);
        v.vt = static_cast<VARTYPE>(VT_BYREF | slot.vt);
        v.byref = &slot.llVal;  // every member of the union starts there
    }
    void RefToVariant(VARIANT& value) {
        inner = value;
        VariantInit(&value);
        v.vt = VT_BYREF | VT_VARIANT;
        v.pvarVal = &inner;
    }
};

using Maker = std::function<void(VARIANT&)>;
struct Gen {
    std::wstring label;
    Maker make;
};

VARIANT Of(VARTYPE vt) {
    VARIANT v{};  // value and all zero
    v.vt = vt;
    return v;
}
VARIANT Text(const std::wstring& s) {
    VARIANT v = Of(VT_BSTR);
    v.bstrVal = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
    return v;
}
VARIANT Long(LONG n) { VARIANT v = Of(VT_I4); v.lVal = n; return v; }
VARIANT Double(double d) { VARIANT v = Of(VT_R8); v.dblVal = d; return v; }
VARIANT Bool(SHORT b) { VARIANT v = Of(VT_BOOL); v.boolVal = b; return v; }
VARIANT Object(IDispatch* d) {
    VARIANT v = Of(VT_DISPATCH);
    v.pdispVal = d;
    if (d) d->AddRef();
    return v;
}
// A by-reference value pointing at `target` (never owned by the variant).
VARIANT Ref(VARTYPE vt, void* target) { VARIANT v = Of(static_cast<VARTYPE>(VT_BYREF | vt)); v.byref = target; return v; }
VARIANT Array(VARTYPE vt, ULONG count) {
    VARIANT v = Of(static_cast<VARTYPE>(VT_ARRAY | vt));
    v.parray = SafeArrayCreateVector(vt, 0, count);
    return v;
}

std::wstring g_huge(100000, L'x');
std::wstring g_nested;
// What the by-reference [in] values point at (set up once, never handed over).
BSTR g_refText = nullptr;
VARIANT g_refVariant;
IDispatch* g_refDispatch = nullptr;
LONG g_refLong = INT_MIN;
VARIANT g_selfReference = Ref(VT_VARIANT, &g_selfReference);

template <class I>
Maker Obj(const ComPtr<I>& p) {
    return [p](VARIANT& v) {
        ComPtr<IDispatch> d;
        if (p) p.As(&d);
        v = Object(d.Get());
    };
}

// The texts every BSTR and VARIANT parameter gets.
std::vector<Gen> TextSet() {
    return {
        {L"null text", [](VARIANT& v) { v = Of(VT_BSTR); }},
        {L"empty text", [](VARIANT& v) { v = Text(L""); }},
        {L"100000 characters", [](VARIANT& v) { v = Text(g_huge); }},
        {L"embedded NUL", [](VARIANT& v) { v = Text(std::wstring(L"ab\0cd", 5)); }},
        {L"lone high surrogate", [](VARIANT& v) { v = Text(L"a\xD800" L"b"); }},
        {L"lone low surrogate", [](VARIANT& v) { v = Text(L"a\xDC00" L"b"); }},
        {L"malformed XML <a><b></a>", [](VARIANT& v) { v = Text(L"<a><b></a>"); }},
        {L"malformed XML <?xml", [](VARIANT& v) { v = Text(L"<?xml"); }},
        {L"unknown entity", [](VARIANT& v) { v = Text(L"<a>&bogus;</a>&bogus;"); }},
        {L"XML nested 100000 levels", [](VARIANT& v) { v = Text(g_nested); }},
        {L"missing file", [](VARIANT& v) { v = Text(WorkPath(L"missing.xml")); }},
        {L"read-only file", [](VARIANT& v) { v = Text(WorkPath(L"readonly.txt")); }},
        {L"folder", [](VARIANT& v) { v = Text(WorkPath(L"folder")); }},
        {L"folder with backslash", [](VARIANT& v) { v = Text(WorkPath(L"folder\\")); }},
        {L"readable XML file", [](VARIANT& v) { v = Text(WorkPath(L"plain.xml")); }},
        {L"wildcard *", [](VARIANT& v) { v = Text(L"*"); }},
        {L"..\\..", [](VARIANT& v) { v = Text(L"..\\.."); }},
        {L"format directives", [](VARIANT& v) { v = Text(L"%s%s%s%n%x%d%%%"); }},
        {L"parameter XML", [](VARIANT& v) { v = Text(std::wstring(kParameterXml, kParameterXml + sizeof kParameterXml - 1)); }},
        {L"VT_NULL", [](VARIANT& v) { v = Of(VT_NULL); }},
        {L"VT_EMPTY", [](VARIANT& v) { v = Of(VT_EMPTY); }},
        {L"SAFEARRAY", [](VARIANT& v) { v = Array(VT_VARIANT, 3); }},
        {L"foreign object", [](VARIANT& v) { v = Object(Foreign().Get()); }},
        {L"VT_BYREF|VT_BSTR", [](VARIANT& v) { v = Ref(VT_BSTR, &g_refText); }},
        {L"VT_BYREF|VT_VARIANT", [](VARIANT& v) { v = Ref(VT_VARIANT, &g_refVariant); }},
        {L"VT_BYREF|VT_VARIANT pointing to itself", [](VARIANT& v) { v = Ref(VT_VARIANT, &g_selfReference); }},
        {L"VT_BYREF|VT_BSTR null pointer", [](VARIANT& v) { v = Ref(VT_BSTR, nullptr); }},
        {L"VT_BYREF|VT_VARIANT null pointer", [](VARIANT& v) { v = Ref(VT_VARIANT, nullptr); }},
    };
}

std::vector<Gen> NumberSet() {
    return {
        {L"0", [](VARIANT& v) { v = Long(0); }},
        {L"-1", [](VARIANT& v) { v = Long(-1); }},
        {L"INT_MIN", [](VARIANT& v) { v = Long(INT_MIN); }},
        {L"INT_MAX", [](VARIANT& v) { v = Long(INT_MAX); }},
        {L"1e300", [](VARIANT& v) { v = Double(1e300); }},
        {L"-1e300", [](VARIANT& v) { v = Double(-1e300); }},
        {L"NaN", [](VARIANT& v) { v = Double(std::nan("")); }},
        {L"VARIANT_BOOL 1", [](VARIANT& v) { v = Bool(1); }},
        {L"VARIANT_BOOL 0x7fff", [](VARIANT& v) { v = Bool(0x7fff); }},
        {L"VARIANT_BOOL -2", [](VARIANT& v) { v = Bool(-2); }},
        {L"text 12abc", [](VARIANT& v) { v = Text(L"12abc"); }},
        {L"VT_NULL", [](VARIANT& v) { v = Of(VT_NULL); }},
        {L"VT_EMPTY", [](VARIANT& v) { v = Of(VT_EMPTY); }},
        {L"VT_BYREF|VT_I4", [](VARIANT& v) { v = Ref(VT_I4, &g_refLong); }},
        {L"VT_BYREF|VT_I4 null pointer", [](VARIANT& v) { v = Ref(VT_I4, nullptr); }},
    };
}

std::vector<Gen> ObjectSet(REFIID expected) {
    std::vector<Gen> set = {
        {L"null object", [](VARIANT& v) { v = Object(nullptr); }},
        {L"VT_EMPTY", [](VARIANT& v) { v = Of(VT_EMPTY); }},
        {L"VT_NULL", [](VARIANT& v) { v = Of(VT_NULL); }},
        {L"object of the right type", [iid = expected](VARIANT& v) {
             ComPtr<IDispatch> d = NewOf(iid);
             v = Object(d ? d.Get() : g_trees.msxmlDoc.Get());
         }},
        {L"object of the wrong data type",
         [iid = expected](VARIANT& v) {
             ComPtr<IDispatch> d = InlineIsEqualGUID(iid, IID_IField) ? NewOf(IID_IFieldCollection) : NewOf(IID_IField);
             v = Object(d.Get());
         }},
        {L"MSXML document", Obj(g_trees.msxmlDoc)},
        {L"MSXML node", Obj(g_trees.msxmlNode)},
        {L"foreign IDispatch", [](VARIANT& v) { v = Object(Foreign().Get()); }},
        {L"foreign VT_UNKNOWN", [](VARIANT& v) { v = Of(VT_UNKNOWN), v.punkVal = Foreign().Detach(); }},
        {L"VT_BYREF|VT_DISPATCH", [](VARIANT& v) { v = Ref(VT_DISPATCH, &g_refDispatch); }},
        {L"VT_BYREF|VT_DISPATCH null pointer", [](VARIANT& v) { v = Ref(VT_DISPATCH, nullptr); }},
        {L"VT_BYREF|VT_VARIANT null pointer", [](VARIANT& v) { v = Ref(VT_VARIANT, nullptr); }},
        {L"text instead of an object", [](VARIANT& v) { v = Text(L"<a><b></a>"); }},
        {L"field with cyclic attributes", Obj(g_trees.cyclicField)},
        {L"cyclic field collection", Obj(g_trees.cyclicFields)},
        {L"field collection nested 100000 levels", Obj(g_trees.deepFields)},
        {L"field collection of 20000 fields", Obj(g_trees.hugeFields)},
        {L"parameter list with a cycle", Obj(g_trees.cyclicList)},
        {L"parameter list nested 100000 levels", Obj(g_trees.deepList)},
        {L"parameter list with a huge Xml", Obj(g_trees.hugeList)},
        {L"document among its own children", Obj(g_trees.cyclicDoc)},
        {L"document collection holding its owner", Obj(g_trees.cyclicDocs)},
        {L"document nested 100000 levels", Obj(g_trees.deepDoc)},
        {L"document with a huge parameter list", Obj(g_trees.hugeDoc)},
        {L"structures nested 100000 levels", Obj(g_trees.deepStructures)},
        {L"tables nested 100000 levels", Obj(g_trees.deepTables)},
    };
    return set;
}

// VARIANT parameters: every kind of value, including the by-reference forms.
std::vector<Gen> VariantSet() {
    std::vector<Gen> set = TextSet();
    for (Gen& g : NumberSet()) set.push_back(g);
    std::vector<Gen> more = {
        {L"VT_ERROR missing", [](VARIANT& v) { v = Of(VT_ERROR), v.scode = DISP_E_PARAMNOTFOUND; }},
        {L"VT_ERROR E_FAIL", [](VARIANT& v) { v = Of(VT_ERROR), v.scode = E_FAIL; }},
        {L"VT_DATE", [](VARIANT& v) { v = Of(VT_DATE), v.date = 2958465.99; }},
        {L"VT_DATE negative", [](VARIANT& v) { v = Of(VT_DATE), v.date = -700000; }},
        {L"byte SAFEARRAY", [](VARIANT& v) { v = Array(VT_UI1, 100000); }},
        {L"VT_CY", [](VARIANT& v) { v = Of(VT_CY), v.cyVal.int64 = LLONG_MIN; }},
        {L"VT_I8 min", [](VARIANT& v) { v = Of(VT_I8), v.llVal = LLONG_MIN; }},
        {L"document among its own children", Obj(g_trees.cyclicDoc)},
        {L"parameter list nested 100000 levels", Obj(g_trees.deepList)},
        {L"MSXML document", Obj(g_trees.msxmlDoc)},
    };
    for (Gen& g : more) set.push_back(g);
    return set;
}

// ---- members ------------------------------------------------------------------------------------------------
enum class PKind { Text, Number, Bool, Variant, Object, Guid, Unsupported };

struct Param {
    std::wstring name;
    PKind kind = PKind::Unsupported;
    VARTYPE vt = VT_EMPTY;  // the scalar or object VARTYPE
    IID iid = IID_NULL;
    bool in = true, out = false, retval = false, byRef = false;
};

struct Member {
    std::wstring cls, name;
    MEMBERID id = 0;
    INVOKEKIND kind = INVOKE_FUNC;
    std::vector<Param> params;
};

Param Describe(ITypeInfo* owner, const TYPEDESC& desc, int depth = 0) {
    Param p;
    int pointers = 0;
    const TYPEDESC* t = &desc;
    while (t->vt == VT_PTR && t->lptdesc) {
        ++pointers;
        t = t->lptdesc;
    }
    switch (t->vt) {
        case VT_USERDEFINED: {
            ComPtr<ITypeInfo> ref;
            TYPEATTR* attr = nullptr;
            if (depth > 4 || FAILED(owner->GetRefTypeInfo(t->hreftype, &ref)) || FAILED(ref->GetTypeAttr(&attr)))
                return p;
            const TYPEKIND kind = attr->typekind;
            const TYPEDESC alias = attr->tdescAlias;
            p.iid = attr->guid;
            const ULONG size = attr->cbSizeInstance;
            ref->ReleaseTypeAttr(attr);
            if (kind == TKIND_ALIAS) {
                Param inner = Describe(ref.Get(), alias, depth + 1);
                inner.byRef = inner.byRef || pointers > 0;
                return inner;
            }
            if (kind == TKIND_INTERFACE || kind == TKIND_DISPATCH) {
                p.kind = PKind::Object;
                p.vt = VT_DISPATCH;
                --pointers;
            } else if (kind == TKIND_RECORD && size == sizeof(GUID)) {
                p.kind = PKind::Guid;
            } else if (kind == TKIND_ENUM) {
                p.kind = PKind::Number;
                p.vt = VT_I4;
            }
            break;
        }
        case VT_DISPATCH: p.kind = PKind::Object; p.vt = VT_DISPATCH; p.iid = IID_IDispatch; --pointers; break;
        case VT_UNKNOWN: p.kind = PKind::Object; p.vt = VT_UNKNOWN; p.iid = IID_IUnknown; --pointers; break;
        case VT_BSTR: p.kind = PKind::Text; p.vt = VT_BSTR; break;
        case VT_VARIANT: p.kind = PKind::Variant; p.vt = VT_VARIANT; break;
        case VT_BOOL: p.kind = PKind::Bool; p.vt = VT_BOOL; break;
        case VT_I2: case VT_UI2: case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: case VT_R8:
        case VT_I1: case VT_UI1:
            p.kind = PKind::Number;
            p.vt = t->vt == VT_INT ? static_cast<VARTYPE>(VT_I4) : t->vt == VT_UINT ? static_cast<VARTYPE>(VT_UI4) : t->vt;
            break;
        default: break;
    }
    p.byRef = pointers > 0;
    return p;
}

std::wstring NameOf(ITypeInfo* info, MEMBERID id) {
    BSTR name = nullptr;
    info->GetDocumentation(id, &name, nullptr, nullptr, nullptr);
    std::wstring s = name ? name : L"?";
    SysFreeString(name);
    return s;
}

std::vector<Member> MembersOf(ITypeInfo* itf, const std::wstring& cls) {
    std::vector<Member> members;
    TYPEATTR* attr = nullptr;
    if (FAILED(itf->GetTypeAttr(&attr))) return members;
    const WORD count = attr->cFuncs;
    itf->ReleaseTypeAttr(attr);
    for (UINT i = 0; i < count; ++i) {
        FUNCDESC* fd = nullptr;
        if (FAILED(itf->GetFuncDesc(i, &fd))) continue;
        Member m;
        m.cls = cls;
        m.id = fd->memid;
        m.kind = fd->invkind;
        BSTR names[32] = {};
        UINT got = 0;
        itf->GetNames(fd->memid, names, 32, &got);
        m.name = got && names[0] ? names[0] : NameOf(itf, fd->memid);
        if (m.kind == INVOKE_PROPERTYPUT || m.kind == INVOKE_PROPERTYPUTREF) m.name += L"(put)";
        for (SHORT a = 0; a < fd->cParams; ++a) {
            const ELEMDESC& e = fd->lprgelemdescParam[a];
            Param p = Describe(itf, e.tdesc);
            const USHORT f = e.paramdesc.wParamFlags;
            p.out = (f & PARAMFLAG_FOUT) != 0;
            p.retval = (f & PARAMFLAG_FRETVAL) != 0;
            p.in = (f & PARAMFLAG_FIN) != 0 || !p.out;
            p.name = static_cast<UINT>(a + 1) < got && names[a + 1] ? names[a + 1] : L"value";
            m.params.push_back(p);
        }
        for (UINT k = 0; k < got; ++k) SysFreeString(names[k]);
        itf->ReleaseFuncDesc(fd);
        members.push_back(std::move(m));
    }
    return members;
}

// ---- restrictions --------------------------------------------------------------------------------------------
struct Restriction {
    std::wstring cls, member, reason;
};
const std::vector<Restriction> kRestrictions = {
    {L"CQarnUtilities", L"Sleep", L"waits: INT_MAX and 32767 left out (0, negative and small values only)"},
    {L"CQarnUtilities", L"Exec", L"starts programs: command lines never name a real program (plain value: a missing file)"},
    {L"CQarnUtilities", L"SendNetworkData", L"reaches out: only 127.0.0.1 on a closed port, texts never other addresses"},
    {L"CQarnUtilities", L"GetHostByName", L"reaches out: only names that fail at once or are numeric (null, empty, 100000 characters, 127.0.0.1)"},
    {L"CQarnUtilities", L"ShowWindow", L"acts on other programs' windows: the other name always matches no window"},
    {L"QarnGenericListViewControl", L"Show", L"modal: every dialog is closed by the watchdog thread as soon as it is visible"},
    {L"CQarnTimer", L"start", L"stopped again after each call"},
    {L"CQarnComApplication", L"SetShellIconVisible", L"the icon is hidden again at the end"},
};

bool IsMember(const Member& m, const wchar_t* cls, const wchar_t* name) { return m.cls == cls && m.name == name; }

// Whether `gen` may be given to parameter `index` of `m`.
bool Allowed(const Member& m, size_t index, const Gen& gen) {
    if (IsMember(m, L"CQarnUtilities", L"Sleep")) return gen.label != L"INT_MAX" && gen.label != L"VARIANT_BOOL 0x7fff";
    if (IsMember(m, L"CQarnUtilities", L"GetHostByName"))
        return gen.label == L"null text" || gen.label == L"empty text" || gen.label == L"100000 characters" ||
               gen.label == L"VT_NULL" || gen.label == L"VT_EMPTY" || gen.label == L"SAFEARRAY" ||
               gen.label == L"foreign object";
    if (IsMember(m, L"CQarnUtilities", L"ShowWindow") && index < 2)
        return gen.label != L"null text" && gen.label != L"empty text" && gen.label != L"VT_NULL" &&
               gen.label != L"VT_EMPTY" && gen.label != L"embedded NUL";
    return true;
}

// ---- the calls -------------------------------------------------------------------------------------------------
struct Totals {
    long calls = 0, failed = 0, members = 0, classes = 0;
    std::map<std::wstring, long> failuresByMember;
    double slowestMs = 0;
    std::wstring slowest;
};
Totals g_totals;
bool g_traceCalls = false;  // --trace NAME: every call of the members called NAME
constexpr long kPrintedFailures = 300;

const wchar_t* HrName(HRESULT hr) {
    switch (hr) {
        case DISP_E_PARAMNOTOPTIONAL: return L"DISP_E_PARAMNOTOPTIONAL";
        case DISP_E_MEMBERNOTFOUND: return L"DISP_E_MEMBERNOTFOUND";
        case E_FAIL: return L"E_FAIL";
        case E_INVALIDARG: return L"E_INVALIDARG";
        case E_POINTER: return L"E_POINTER";
        case DISP_E_EXCEPTION: return L"DISP_E_EXCEPTION without a description";
        case DISP_E_TYPEMISMATCH: return L"DISP_E_TYPEMISMATCH naming no argument";
        default: return L"";
    }
}

void PumpMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

// One call: `args` in declaration order (nullptr = leave out the rest).
void Call(IDispatch* object, const Member& m, std::vector<std::unique_ptr<Arg>>& args, const std::wstring& what) {
    const std::wstring label = m.cls + L"." + m.name + L" [" + what + L"]";
    SetLabel(label);
    if (g_traceCalls) std::printf("    %s\n", Narrow(label).substr(0, 160).c_str()), std::fflush(stdout);
    RestoreFixtures();
    std::vector<VARIANT> rgvarg(args.size());
    for (size_t i = 0; i < args.size(); ++i) rgvarg[args.size() - 1 - i] = args[i]->v;  // shallow: args own them
    DISPID putId = DISPID_PROPERTYPUT;
    DISPPARAMS params{rgvarg.data(), nullptr, static_cast<UINT>(rgvarg.size()), 0};
    WORD flags = DISPATCH_METHOD;
    if (m.kind == INVOKE_PROPERTYGET) flags = DISPATCH_PROPERTYGET | DISPATCH_METHOD;
    if (m.kind == INVOKE_PROPERTYPUT || m.kind == INVOKE_PROPERTYPUTREF) {
        flags = m.kind == INVOKE_PROPERTYPUT ? DISPATCH_PROPERTYPUT : DISPATCH_PROPERTYPUTREF;
        if (!rgvarg.empty()) {
            params.cNamedArgs = 1;
            params.rgdispidNamedArgs = &putId;
        }
    }
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO excep{};
    UINT argErr = UINT_MAX;
    const int dialogsBefore = g_dialogsClosed;
    const ULONGLONG start = GetTickCount64();
    g_callStart = start ? start : 1;
    const HRESULT hr = object->Invoke(m.id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                                      m.kind == INVOKE_PROPERTYPUT ? nullptr : &result, &excep, &argErr);
    g_callStart = 0;
    const double ms = static_cast<double>(GetTickCount64() - start);
    if (ms > g_totals.slowestMs) {
        g_totals.slowestMs = ms;
        g_totals.slowest = label;
    }
    if (excep.pfnDeferredFillIn) excep.pfnDeferredFillIn(&excep);
    const bool dialog = g_dialogsClosed != dialogsBefore && !IsMember(m, L"QarnGenericListViewControl", L"Show");
    bool ok = hr == S_OK || hr == DISP_E_PARAMNOTFOUND || hr == DISP_E_BADPARAMCOUNT || hr == DISP_E_PARAMNOTOPTIONAL;
    if (hr == DISP_E_EXCEPTION) ok = excep.bstrDescription && SysStringLen(excep.bstrDescription) > 0;
    if (hr == DISP_E_TYPEMISMATCH) ok = argErr < params.cArgs;
    ok = ok && !dialog;
    ++g_totals.calls;
    if (!ok) {
        ++g_totals.failed;
        ++g_totals.failuresByMember[m.cls + L"." + m.name];
        if (g_totals.failed <= kPrintedFailures)
            std::printf("FAILED: %s: 0x%08lx %s%s\n", Narrow(label).c_str(), static_cast<unsigned long>(hr),
                        Narrow(HrName(hr)).c_str(), dialog ? " (opened a dialog)" : "");
    }
    VariantClear(&result);
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrHelpFile);
    // (Values the callee left in by-reference arguments are released with the arguments.)
    PumpMessages();
    SetLabel(label + L" (after the call)");
}

// Follow-up calls that undo what a member started.
void Undo(IDispatch* object, const Member& m, const std::vector<Member>& all, bool last = false) {
    auto invokeByName = [&](const wchar_t* name, VARIANT* arg) {
        for (const Member& other : all) {
            if (other.name != name) continue;
            DISPPARAMS params{arg, nullptr, arg ? 1u : 0u, 0};
            VARIANT result;
            VariantInit(&result);
            object->Invoke(other.id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
            VariantClear(&result);
            return;
        }
    };
    if (IsMember(m, L"CQarnTimer", L"start")) invokeByName(L"Stop", nullptr);
    if (IsMember(m, L"CQarnComApplication", L"SetShellIconVisible") && last) {
        VARIANT off = Bool(VARIANT_FALSE);
        invokeByName(L"SetShellIconVisible", &off);
    }
}

std::wstring g_guidText;
USHORT g_closedPort = 1;

// The plain value of a parameter (what it gets while another one is varied).
Gen Plain(const Member& m, size_t index) {
    const Param& p = m.params[index];
    if (IsMember(m, L"CQarnUtilities", L"Exec") && index == 0)
        return {L"missing program", [](VARIANT& v) { v = Text(WorkPath(L"no-such-program.exe")); }};
    if (IsMember(m, L"CQarnUtilities", L"SendNetworkData") && index == 1)
        return {L"127.0.0.1", [](VARIANT& v) { v = Text(L"127.0.0.1"); }};
    if (IsMember(m, L"CQarnUtilities", L"SendNetworkData") && index == 2)
        return {L"closed port", [](VARIANT& v) { v = Long(g_closedPort); }};
    if (IsMember(m, L"CQarnUtilities", L"GetHostByName"))
        return {L"127.0.0.1", [](VARIANT& v) { v = Text(L"127.0.0.1"); }};
    if (IsMember(m, L"CQarnUtilities", L"ShowWindow") && index < 2)
        return {L"no such window", [](VARIANT& v) { v = Text(L"QarnSweep: no such window"); }};
    switch (p.kind) {
        case PKind::Text: return {L"plain text", [](VARIANT& v) { v = Text(L"sweep"); }};
        case PKind::Number: return {L"1", [](VARIANT& v) { v = Long(1); }};
        case PKind::Bool: return {L"false", [](VARIANT& v) { v = Bool(VARIANT_FALSE); }};
        case PKind::Variant: return {L"plain text", [](VARIANT& v) { v = Text(L"sweep"); }};
        case PKind::Guid: return {L"type library id", [](VARIANT& v) { v = Text(g_guidText); }};
        case PKind::Object:
            return {L"object of the right type", [iid = p.iid](VARIANT& v) {
                        ComPtr<IDispatch> d = NewOf(iid);
                        v = Object(d ? d.Get() : g_trees.msxmlDoc.Get());
                    }};
        case PKind::Unsupported: break;
    }
    return {L"VT_EMPTY", [](VARIANT& v) { v = Of(VT_EMPTY); }};
}

// The hostile set of an [in] parameter.
std::vector<Gen> HostileSet(const Member& m, size_t index) {
    const Param& p = m.params[index];
    std::vector<Gen> set;
    switch (p.kind) {
        case PKind::Text: set = TextSet(); break;
        case PKind::Number: set = NumberSet(); break;
        case PKind::Bool: set = NumberSet(); break;
        case PKind::Variant: set = VariantSet(); break;
        case PKind::Object: set = ObjectSet(p.iid); break;
        case PKind::Guid:
            set = TextSet();
            set.push_back({L"GUID_NULL", [](VARIANT& v) { v = Text(L"{00000000-0000-0000-0000-000000000000}"); }});
            set.push_back({L"type library id", [](VARIANT& v) { v = Text(g_guidText); }});
            break;
        case PKind::Unsupported: break;
    }
    if (IsMember(m, L"CQarnUtilities", L"GetHostByName"))
        set.push_back({L"127.0.0.1", [](VARIANT& v) { v = Text(L"127.0.0.1"); }});
    std::vector<Gen> allowed;
    for (Gen& g : set)
        if (Allowed(m, index, g)) allowed.push_back(std::move(g));
    return allowed;
}

// By-reference parameters: a typed slot holding `gen`'s value, the same in a VARIANT slot, and a
// null by-reference pointer.
enum class RefForm { Typed, InVariant, NullPointer };

std::unique_ptr<Arg> MakeArg(const Param& p, const Gen& gen, RefForm form) {
    auto a = std::make_unique<Arg>();
    if (!p.out) {
        gen.make(a->v);
        return a;
    }
    // The slot's declared type.
    VARTYPE vt = p.vt;
    if (p.kind == PKind::Text) vt = VT_BSTR;
    if (p.kind == PKind::Bool) vt = VT_BOOL;
    if (p.kind == PKind::Object) vt = VT_DISPATCH;
    if (p.kind == PKind::Variant) vt = VT_VARIANT;
    if (form == RefForm::NullPointer) {
        a->v.vt = static_cast<VARTYPE>(VT_BYREF | vt);
        a->v.byref = nullptr;
        return a;
    }
    VARIANT value;
    VariantInit(&value);
    if (p.in) gen.make(value);
    if (form == RefForm::InVariant || vt == VT_VARIANT) {
        a->RefToVariant(value);
        return a;
    }
    // A typed slot: the value converted to the slot's type (empty when it does not convert).
    VARIANT typed;
    VariantInit(&typed);
    if (value.vt == vt) typed = value, VariantInit(&value);
    else if (FAILED(VariantChangeType(&typed, &value, 0, vt))) typed.vt = vt, typed.llVal = 0;
    VariantClear(&value);
    a->RefTo(typed);
    return a;
}

void SweepMember(IDispatch* object, const Member& m, const std::vector<Member>& all) {
    std::vector<size_t> passed;  // parameters the caller passes (all but the retval)
    for (size_t i = 0; i < m.params.size(); ++i)
        if (!m.params[i].retval) passed.push_back(i);
    for (size_t i : passed)
        if (m.params[i].kind == PKind::Unsupported) {
            std::printf("excluded: %s.%s: parameter %s has a type the sweep does not generate\n",
                        Narrow(m.cls).c_str(), Narrow(m.name).c_str(), Narrow(m.params[i].name).c_str());
            return;
        }
    auto build = [&](size_t varied, const Gen* gen, RefForm form) {
        std::vector<std::unique_ptr<Arg>> args;
        for (size_t i : passed) {
            const Gen plain = Plain(m, i);
            args.push_back(MakeArg(m.params[i], i == varied && gen ? *gen : plain, i == varied ? form : RefForm::Typed));
        }
        return args;
    };
    auto run = [&](std::vector<std::unique_ptr<Arg>>& args, const std::wstring& what) {
        Call(object, m, args, what);
        args.clear();
        Undo(object, m, all);
    };

    {
        auto args = build(SIZE_MAX, nullptr, RefForm::Typed);
        run(args, L"plain values");
    }
    // One parameter at a time.
    for (size_t i : passed) {
        const Param& p = m.params[i];
        if (p.out && !p.in) {
            const Gen plain = Plain(m, i);
            for (RefForm form : {RefForm::InVariant, RefForm::NullPointer}) {
                auto args = build(i, &plain, form);
                run(args, p.name + L" = " + (form == RefForm::NullPointer ? L"null by-reference pointer" : L"VARIANT slot"));
            }
            continue;
        }
        for (const Gen& g : HostileSet(m, i)) {
            auto args = build(i, &g, RefForm::Typed);
            run(args, p.name + L" = " + g.label);
            if (p.out) {  // [in,out]: the same value in a VARIANT slot
                auto inVariant = build(i, &g, RefForm::InVariant);
                run(inVariant, p.name + L" = " + g.label + L" in a VARIANT slot");
            }
        }
        if (p.out) {
            auto args = build(i, nullptr, RefForm::NullPointer);
            run(args, p.name + L" = null by-reference pointer");
        }
    }
    // Every parameter hostile at once, by kind (each takes its k-th hostile value).
    size_t kinds = 0;
    std::vector<std::vector<Gen>> sets;
    for (size_t i : passed) {
        sets.push_back(m.params[i].in ? HostileSet(m, i) : std::vector<Gen>{Plain(m, i)});
        kinds = std::max(kinds, sets.back().size());
    }
    if (passed.size() > 1) {
        for (size_t k = 0; k < kinds; ++k) {
            std::vector<std::unique_ptr<Arg>> args;
            std::wstring what = L"all hostile:";
            for (size_t j = 0; j < passed.size(); ++j) {
                const Gen& g = sets[j].empty() ? Plain(m, passed[j]) : sets[j][k % sets[j].size()];
                args.push_back(MakeArg(m.params[passed[j]], g, m.params[passed[j]].out && k % 2 ? RefForm::NullPointer : RefForm::Typed));
                what += L" " + g.label + L";";
            }
            run(args, what);
        }
    }
    // The dispatch protocol: one argument too many, and none at all.
    {
        auto args = build(SIZE_MAX, nullptr, RefForm::Typed);
        args.push_back(std::make_unique<Arg>());
        args.back()->v = Text(L"extra");
        run(args, L"one argument too many");
        if (!passed.empty()) {
            std::vector<std::unique_ptr<Arg>> none;
            run(none, L"no arguments");
        }
    }
    Undo(object, m, all, true);
}

// ---- classes ------------------------------------------------------------------------------------------------------
struct ClassInfo {
    std::wstring name;
    CLSID clsid{};
    ComPtr<ITypeInfo> itf;  // the default interface (vtable view)
    bool dual = false;
};

std::vector<ClassInfo> ClassesOf(ITypeLib* lib) {
    std::vector<ClassInfo> classes;
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
        ComPtr<ITypeInfo> info;
        TYPEATTR* attr = nullptr;
        if (FAILED(lib->GetTypeInfo(i, &info)) || FAILED(info->GetTypeAttr(&attr))) continue;
        const bool creatable = attr->typekind == TKIND_COCLASS && (attr->wTypeFlags & TYPEFLAG_FCANCREATE);
        ClassInfo c;
        c.clsid = attr->guid;
        const WORD impls = attr->cImplTypes;
        info->ReleaseTypeAttr(attr);
        if (!creatable) continue;
        c.name = NameOf(info.Get(), MEMBERID_NIL);
        for (UINT k = 0; k < impls; ++k) {
            INT flags = 0;
            HREFTYPE ref;
            if (FAILED(info->GetImplTypeFlags(k, &flags)) || !(flags & IMPLTYPEFLAG_FDEFAULT)) continue;
            if (FAILED(info->GetRefTypeOfImplType(k, &ref)) || FAILED(info->GetRefTypeInfo(ref, &c.itf))) continue;
            TYPEATTR* itfAttr = nullptr;
            if (SUCCEEDED(c.itf->GetTypeAttr(&itfAttr))) {
                c.dual = itfAttr->typekind == TKIND_DISPATCH;
                const IID iid = itfAttr->guid;
                c.itf->ReleaseTypeAttr(itfAttr);
                g_classOf.emplace(iid, c.clsid);
                ComPtr<ITypeInfo> vtable;
                if (c.dual && SUCCEEDED(c.itf->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref)) &&
                    SUCCEEDED(c.itf->GetRefTypeInfo(ref, &vtable)))
                    c.itf = vtable;
            }
        }
        classes.push_back(std::move(c));
    }
    return classes;
}

// The class's IDispatch. A vtable-only default interface has none for clients to call.
ComPtr<IDispatch> DispatchOf(const ClassInfo& c, std::wstring& note) {
    ComPtr<IUnknown> unknown;
    HRESULT hr = CoCreateInstance(c.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                  reinterpret_cast<void**>(unknown.GetAddressOf()));
    if (FAILED(hr)) {
        wchar_t text[64];
        swprintf(text, 64, L"not created: 0x%08lx", static_cast<unsigned long>(hr));
        note = text;
        return nullptr;
    }
    ComPtr<IDispatch> dispatch;
    if (c.dual && SUCCEEDED(unknown.As(&dispatch))) return dispatch;
    note = L"its default interface is not dual";
    return nullptr;
}

std::wstring ModuleFolder() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p = path;
    return p.substr(0, p.find_last_of(L'\\'));
}

std::wstring SourcePath(const std::string& relative) {
    std::wstring path = L"Z:";
    for (char c : std::string(QARN_SOURCE_DIR) + "/" + relative) path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
    return path;
}

USHORT ClosedPort() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return 1;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof address;
    USHORT port = 1;
    if (s != INVALID_SOCKET && bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    if (s != INVALID_SOCKET) closesocket(s);
    WSACleanup();
    return port;  // bound, never listened on, closed again
}

}  // namespace

int main(int argc, char** argv) {
    const bool trace = argc > 1 && std::string(argv[1]) == "--trace";
    SetUnhandledExceptionFilter(CrashReport);
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        std::printf("hostile sweep: COM could not be started\n");
        return 2;
    }
    g_mainThread = GetCurrentThreadId();
    const auto started = std::chrono::steady_clock::now();

    // The scratch folder: bin\tests\..\..\hostile-sweep, the working folder three levels down (so
    // that "..\.." stays inside), and a copy of the sample installation as the root folder.
    const std::wstring bin = ModuleFolder().substr(0, ModuleFolder().find_last_of(L'\\'));
    const std::wstring build = bin.substr(0, bin.find_last_of(L'\\'));
    g_scratch = build + L"\\hostile-sweep";
    RemoveTree(g_scratch);
    CreateDirectoryW(g_scratch.c_str(), nullptr);
    CreateDirectoryW((g_scratch + L"\\a").c_str(), nullptr);
    CreateDirectoryW((g_scratch + L"\\a\\b").c_str(), nullptr);
    g_work = g_scratch + L"\\a\\b\\work";
    CreateDirectoryW(g_work.c_str(), nullptr);
    g_root = g_scratch + L"\\root";
    CopyTree(SourcePath("samples/installation"), g_root);
    if (!SetCurrentDirectoryW(g_work.c_str()) || GetFileAttributesW((g_root + L"\\xml").c_str()) == INVALID_FILE_ATTRIBUTES) {
        std::printf("hostile sweep: the scratch folder %s could not be prepared\n", Narrow(g_scratch).c_str());
        return 2;
    }
    SetEnvironmentVariableW(L"QarnRootDir", g_root.c_str());
    SetEnvironmentVariableW(L"TEMP", g_work.c_str());
    SetEnvironmentVariableW(L"TMP", g_work.c_str());
    RestoreFixtures();
    g_closedPort = ClosedPort();
    for (int i = 0; i < kDeep; ++i) g_nested += L"<a>";
    for (int i = 0; i < kDeep; ++i) g_nested += L"</a>";

    std::thread watchdog(Watchdog);
    std::vector<ClassInfo> classes;
    for (const wchar_t* dll : {L"QarnComDatatypes.dll", L"QarnComConnector.dll"}) {
        ComPtr<ITypeLib> lib;
        const HRESULT hr = LoadTypeLibEx((bin + L"\\" + dll).c_str(), REGKIND_NONE, &lib);
        if (FAILED(hr)) {
            std::printf("hostile sweep: the type library of %s could not be loaded (0x%08lx)\n", Narrow(dll).c_str(),
                        static_cast<unsigned long>(hr));
            g_stop = true;
            watchdog.join();
            return 2;
        }
        if (std::wstring(dll) == L"QarnComConnector.dll") {
            TLIBATTR* attr = nullptr;
            if (SUCCEEDED(lib->GetLibAttr(&attr))) {
                wchar_t text[64] = {};
                StringFromGUID2(attr->guid, text, 64);
                g_guidText = text;
                lib->ReleaseTLibAttr(attr);
            }
        }
        for (ClassInfo& c : ClassesOf(lib.Get())) classes.push_back(std::move(c));
    }
    SetLabel(L"building the hostile trees");
    BuildTrees();
    g_refText = SysAllocString(L"<a><b></a>");
    g_refVariant = Text(g_huge);
    g_refDispatch = g_trees.cyclicDoc.Get();

    std::printf("restricted members:\n");
    for (const Restriction& r : kRestrictions)
        std::printf("  %s.%s: %s\n", Narrow(r.cls).c_str(), Narrow(r.member).c_str(), Narrow(r.reason).c_str());
    std::printf("  every member: file arguments name only the scratch folder %s\n", Narrow(g_scratch).c_str());

    for (const ClassInfo& c : classes) {
        std::wstring note;
        SetLabel(c.name + L" (creation)");
        ComPtr<IDispatch> object = DispatchOf(c, note);
        if (!object && !c.dual) {
            // (Its members leave their [out] values unwritten by design: only a vtable caller that
            // initialises them may call it.)
            std::printf("excluded: class %s: no IDispatch (vtable-only interface)\n", Narrow(c.name).c_str());
            continue;
        }
        if (!object) {
            ++g_totals.failed;
            std::printf("FAILED: class %s cannot be swept\n", Narrow(c.name).c_str());
            continue;
        }
        ++g_totals.classes;
        const std::vector<Member> members = MembersOf(c.itf.Get(), c.name);
        const long before = g_totals.calls;
        for (const Member& m : members) {
            ++g_totals.members;
            g_traceCalls = trace && argc > 2 && Narrow(m.name) == argv[2];
            if (trace) std::printf("  %s.%s ...\n", Narrow(c.name).c_str(), Narrow(m.name).c_str()), std::fflush(stdout);
            const ULONGLONG memberStart = GetTickCount64();
            SweepMember(object.Get(), m, members);
            const ULONGLONG spent = GetTickCount64() - memberStart;
            if (spent > 1000) std::printf("  slow member %s.%s: %llu ms\n", Narrow(c.name).c_str(), Narrow(m.name).c_str(), spent);
            std::fflush(stdout);
        }
        std::printf("class %s: %zu members, %ld calls\n", Narrow(c.name).c_str(), members.size(), g_totals.calls - before);
        std::fflush(stdout);
    }

    SetLabel(L"releasing the hostile trees");
    SysFreeString(g_refText);
    VariantClear(&g_refVariant);
    g_refDispatch = nullptr;
    for (auto& undo : g_trees.breakCycles) undo();
    g_trees = Trees{};
    g_factories.clear();
    g_stop = true;
    watchdog.join();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    for (const auto& [member, count] : g_totals.failuresByMember)
        std::printf("  %s: %ld failed calls\n", Narrow(member).c_str(), count);
    std::printf("slowest call: %.0f ms, %s\n", g_totals.slowestMs, Narrow(g_totals.slowest).c_str());
    std::printf("dialogs closed by the watchdog: %d\n", g_dialogsClosed.load());
    std::printf("hostile sweep: %ld calls over %ld members of %ld classes in %.0f s, %ld failed\n", g_totals.calls,
                g_totals.members, g_totals.classes, seconds, g_totals.failed);
    std::fflush(stdout);
    CoUninitialize();
    return g_totals.failed ? 1 : 0;
}
