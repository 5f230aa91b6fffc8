// Hostile-input sweep: every member of every creatable class of our two type libraries is called
// through IDispatch::Invoke with generated arguments (one parameter at a time over its hostile set,
// the others plain, then every parameter hostile at once). Each call must end in S_OK, in
// DISP_E_EXCEPTION with a description, or in one of the dispatch protocol's own argument errors.
// A crash or a hang ends the run without its summary line; the current call is printed first.
#include <winsock2.h>

#include "Hardening.h"
#include "QarnComConnector.h"
#include "tests/ForeignObject.h"
#include "dom/MsxmlIds.h"
#undef GetMessage

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cmath>
#include <memory>
#include <mutex>
#include <thread>

namespace {

// ---- what is being called, for the crash and hang reports; the dialog closer ---------------------
std::mutex g_labelLock;
std::wstring g_label = L"(setup)";
std::atomic<ULONGLONG> g_callStart{0};
std::atomic<DWORD> g_mainThread{0};
std::atomic<int> g_dialogsClosed{0};
constexpr ULONGLONG kHangMs = 30000;

void SetLabel(const std::wstring& label) { std::lock_guard<std::mutex> lock(g_labelLock); g_label = label; }
std::string Label() { std::lock_guard<std::mutex> lock(g_labelLock); return Narrow(g_label); }

LONG WINAPI CrashReport(EXCEPTION_POINTERS* info) {
    std::printf("CRASH: exception 0x%08lx at %p during %s\n", info->ExceptionRecord->ExceptionCode,
                info->ExceptionRecord->ExceptionAddress, Label().c_str());
    std::fflush(stdout);
    return EXCEPTION_EXECUTE_HANDLER;
}

// Closes a dialog box of the main thread (an EnumWindows callback: a plain function, since a
// lambda has no stdcall form for the 32-bit build).
BOOL CALLBACK CloseDialog(HWND window, LPARAM) {
    wchar_t cls[64] = {};
    if (GetWindowThreadProcessId(window, nullptr) == g_mainThread && IsWindowVisible(window) &&
        GetClassNameW(window, cls, 64) && std::wstring(cls) == L"#32770") {
        PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
        ++g_dialogsClosed;
    }
    return TRUE;
}

// ---- the scratch folder everything happens in ------------------------------------------------------
std::wstring g_scratch, g_work, g_root;

std::wstring WorkPath(const wchar_t* name) { return g_work + L"\\" + name; }

const char kParameterXml[] =
    "<?xml version=\"1.0\"?><Parameter><FieldCollection><Field><Name>a</Name><Value>1</Value></Field>"
    "</FieldCollection><StructureCollection></StructureCollection><TableCollection></TableCollection></Parameter>";

// Entities that expand to 10^9 characters when a reader accepts the document type declaration.
const char kLaughsXml[] =
    "<?xml version=\"1.0\"?><!-- note --><!DOCTYPE Parameter [<!ENTITY a0 \"laugh\">"
    "<!ENTITY a1 \"&a0;&a0;&a0;&a0;&a0;&a0;&a0;&a0;&a0;&a0;\"><!ENTITY a2 \"&a1;&a1;&a1;&a1;&a1;&a1;&a1;&a1;&a1;&a1;\">"
    "<!ENTITY a3 \"&a2;&a2;&a2;&a2;&a2;&a2;&a2;&a2;&a2;&a2;\"><!ENTITY a4 \"&a3;&a3;&a3;&a3;&a3;&a3;&a3;&a3;&a3;&a3;\">"
    "<!ENTITY a5 \"&a4;&a4;&a4;&a4;&a4;&a4;&a4;&a4;&a4;&a4;\"><!ENTITY a6 \"&a5;&a5;&a5;&a5;&a5;&a5;&a5;&a5;&a5;&a5;\">"
    "<!ENTITY a7 \"&a6;&a6;&a6;&a6;&a6;&a6;&a6;&a6;&a6;&a6;\"><!ENTITY a8 \"&a7;&a7;&a7;&a7;&a7;&a7;&a7;&a7;&a7;&a7;\">"
    "]><Parameter><FieldCollection><Field><Name>a</Name><Value>&a8;&a8;&a8;&a8;&a8;&a8;&a8;&a8;&a8;&a8;</Value>"
    "</Field></FieldCollection></Parameter>";

// The files the text arguments name: a read-only file, a folder with a file, a readable XML file,
// an XML file with a document type declaration (written again for every call).
// Members that move, remove or write files may have changed them: every call starts from them again.
void RestoreFixtures() {
    SetCurrentDirectoryW(g_work.c_str());
    const std::wstring readOnly = WorkPath(L"readonly.txt"), folder = WorkPath(L"folder");
    if (!Exists(readOnly)) {
        WriteBytes(readOnly, "read only\r\n");
        SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
    }
    CreateDirectoryW(folder.c_str(), nullptr);
    if (!Exists(folder + L"\\inside.txt")) WriteBytes(folder + L"\\inside.txt", "inside\r\n");
    if (!Exists(WorkPath(L"plain.xml"))) WriteBytes(WorkPath(L"plain.xml"), kParameterXml);
    WriteBytes(WorkPath(L"laughs.xml"), kLaughsXml);
    DeleteFileW(WorkPath(L"sweep").c_str());  // what a writer left under the plain name (megabytes for a huge list)
}

// ---- values ------------------------------------------------------------------------------------------
// A value of type `vt` whose union holds `bits` (error codes, currency, 64-bit and Boolean values).
VARIANT Scalar(VARTYPE vt, LONGLONG bits) { VARIANT v = Of(vt); v.llVal = bits; return v; }
VARIANT Double(double d, VARTYPE vt = VT_R8) { VARIANT v = Of(vt); v.dblVal = d; return v; }
VARIANT Object(IUnknown* object, VARTYPE vt = VT_DISPATCH) { VARIANT v = Of(vt); if ((v.punkVal = object)) object->AddRef(); return v; }
// A by-reference value pointing at `target` (never owned by the variant).
VARIANT Ref(VARTYPE vt, void* target) { VARIANT v = Of(static_cast<VARTYPE>(VT_BYREF | vt)); v.byref = target; return v; }
VARIANT Array(VARTYPE vt, ULONG count) { VARIANT v = Of(static_cast<VARTYPE>(VT_ARRAY | vt)); v.parray = SafeArrayCreateVector(vt, 0, count); return v; }
// A plain IDispatch that is none of ours.
VARIANT Foreign(VARTYPE vt = VT_DISPATCH) { return Object(ComPtr<IDispatch>(new test::ForeignObject<IDispatch>).Get(), vt); }

// An argument generator: a maker, or a fixed value copied for every call.
struct Gen {
    std::wstring label;
    std::function<VARIANT()> make;
    Gen(std::wstring l, std::function<VARIANT()> m) : label(std::move(l)), make(std::move(m)) {}
    Gen(std::wstring l, const VARIANT& value) : label(std::move(l)) {
        make = [proto = std::make_shared<Var>(value)] {
            VARIANT v = Of(VT_EMPTY);
            if ((proto->vt & VT_BYREF) || (proto->vt == VT_BSTR && !proto->bstrVal)) v = *proto;  // shallow
            else VariantCopy(&v, proto.get());
            return v;
        };
    }
};

// ---- our data objects and the hostile trees ---------------------------------------------------------
std::vector<std::pair<IID, CLSID>> g_classOf;  // default interface -> class
ComPtr<IDispatch> g_msxmlDoc, g_msxmlNode;
std::vector<std::pair<std::wstring, ComPtr<IDispatch>>> g_trees;  // the hostile objects, by label
std::vector<std::function<void()>> g_breakCycles;
constexpr int kDeep = 100000;

// An object of the class whose default interface is `iid`, else an MSXML document.
VARIANT OfType(REFIID iid) {
    for (auto& [itf, clsid] : g_classOf)
        if (IsEqualIID(itf, iid)) return Object(New<IDispatch>(clsid).Get());
    return Object(g_msxmlDoc.Get());
}

IDispatch* Tree(const std::wstring& label) {
    for (auto& [name, object] : g_trees)
        if (name == label) return object.Get();
    return nullptr;
}

// A chain of `levels` field collections, each holding a field whose attributes are the next one.
ComPtr<IFieldCollection> DeepFields(int levels = kDeep) {
    ComPtr<IFieldCollection> root = New<IFieldCollection>(CLSID_FieldCollection), current = root;
    for (int i = 0; i < levels; ++i) {
        ComPtr<IField> field = New<IField>(CLSID_Field);
        current->Add(field.Get());
        current = New<IFieldCollection>(CLSID_FieldCollection);
        field->put_Attributes(current.Get());
    }
    return root;
}

void BuildTrees() {
    CLSID msxml{};  // MSXML: a document and its element, as objects of somebody else's type
    ComPtr<IXMLDOMDocument> doc;
    if (SUCCEEDED(CLSIDFromProgID(L"Msxml2.DOMDocument.6.0", &msxml)) &&
        SUCCEEDED(CoCreateInstance(msxml, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&doc)))) {
        VARIANT_BOOL ok = VARIANT_FALSE;
        doc->loadXML(Str(L"<Parameter><FieldCollection><Field><Name>a</Name><Value>1</Value></Field>"
                         L"</FieldCollection></Parameter>"),
                     &ok);
        ComPtr<IXMLDOMElement> element;
        doc->get_documentElement(&element);
        doc.As(&g_msxmlDoc);
        if (element) element.As(&g_msxmlNode);
    }
    // A collection holding a field whose attributes are the collection itself; a huge collection.
    auto cyclicFields = NewFields(0), hugeFields = NewFields(0);
    auto cyclicField = NewField(L"self", L"s");
    cyclicFields->Add(cyclicField.Get());
    cyclicField->put_Attributes(cyclicFields.Get());
    g_breakCycles.push_back([cyclicField] { cyclicField->put_Attributes(nullptr); });
    for (int i = 0; i < 20000; ++i) hugeFields->Add(NewField(L"field", L"a value of some length, 40 characters").Get());
    // Parameter lists: one holding the cyclic collection, one with deep fields, structures and tables, a huge one.
    auto cyclicList = NewList(cyclicFields), deepList = NewList(DeepFields()), hugeList = NewList(hugeFields);
    auto deepStructures = New<IStructureCollection>(CLSID_StructureCollection);
    auto structure = New<IStructure>(CLSID_Structure);
    structure->put_Name(Str(L"deep"));
    structure->put_FieldCollection(DeepFields().Get());
    deepStructures->Add(structure.Get());
    auto deepTables = New<ITableCollection>(CLSID_TableCollection);
    auto table = New<ITable>(CLSID_Table);
    auto rows = New<IFieldCollectionTable>(CLSID_FieldCollectionTable);
    table->put_Name(Str(L"deep"));
    rows->Add(DeepFields().Get());
    table->put_FieldCollectionTable(rows.Get());
    deepTables->Add(table.Get());
    deepList->put_StructureCollection(deepStructures.Get());
    deepList->put_TableCollection(deepTables.Get());
    // Documents: one among its own children, a chain of children, one with a huge parameter list.
    auto cyclicDoc = New<IQarnDocument>(CLSID_QarnDocument), deepDoc = New<IQarnDocument>(CLSID_QarnDocument);
    auto hugeDoc = NewDocument(hugeFields);
    cyclicDoc->put_ParameterList(cyclicList.Get());
    deepDoc->put_ParameterList(deepList.Get());
    auto cyclicDocs = New<IQarnDocumentCollection>(CLSID_QarnDocumentCollection);
    cyclicDocs->Add(cyclicDoc.Get());
    cyclicDoc->put_Children(cyclicDocs.Get());
    g_breakCycles.push_back([cyclicDoc] { cyclicDoc->put_Children(nullptr); });
    ComPtr<IQarnDocument> current = deepDoc;
    for (int i = 0; i < kDeep; ++i) {
        auto children = New<IQarnDocumentCollection>(CLSID_QarnDocumentCollection);
        auto child = New<IQarnDocument>(CLSID_QarnDocument);
        children->Add(child.Get());
        current->put_Children(children.Get());
        current = child;
    }
    const std::pair<const wchar_t*, ComPtr<IUnknown>> trees[] = {
        {L"field with cyclic attributes", cyclicField}, {L"cyclic field collection", cyclicFields},
        {L"field collection nested 100000 levels", DeepFields()}, {L"field collection of 20000 fields", hugeFields},
        {L"parameter list with a cycle", cyclicList}, {L"parameter list nested 100000 levels", deepList},
        {L"parameter list with a huge Xml", hugeList}, {L"document among its own children", cyclicDoc},
        {L"document collection holding its owner", cyclicDocs}, {L"document nested 100000 levels", deepDoc},
        {L"document with a huge parameter list", hugeDoc}, {L"structures nested 100000 levels", deepStructures},
        {L"tables nested 100000 levels", deepTables}};
    for (const auto& [label, object] : trees) {
        g_trees.emplace_back(label, nullptr);
        object.As(&g_trees.back().second);
    }
}

// ---- the hostile sets ----------------------------------------------------------------------------------
std::wstring g_huge(100000, L'x'), g_nested, g_guidText;
// What the by-reference [in] values point at (set up once, never handed over).
BSTR g_refText = nullptr;
VARIANT g_refVariant;
IDispatch* g_refDispatch = nullptr;
LONG g_refLong = INT_MIN;
VARIANT g_selfReference = Ref(VT_VARIANT, &g_selfReference);

// The texts every BSTR and VARIANT parameter gets.
std::vector<Gen> TextSet() {
    return {
        {L"null text", Of(VT_BSTR)}, {L"empty text", Text(L"")}, {L"100000 characters", Text(g_huge)},
        {L"embedded NUL", Text(std::wstring(L"ab\0cd", 5))},
        {L"lone high surrogate", Text(L"a\xD800" L"b")}, {L"lone low surrogate", Text(L"a\xDC00" L"b")},
        {L"malformed XML <a><b></a>", Text(L"<a><b></a>")}, {L"malformed XML <?xml", Text(L"<?xml")},
        {L"unknown entity", Text(L"<a>&bogus;</a>&bogus;")}, {L"XML nested 100000 levels", Text(g_nested)},
        {L"missing file", Text(WorkPath(L"missing.xml"))}, {L"read-only file", Text(WorkPath(L"readonly.txt"))},
        {L"folder", Text(WorkPath(L"folder"))}, {L"folder with backslash", Text(WorkPath(L"folder\\"))},
        {L"readable XML file", Text(WorkPath(L"plain.xml"))},
        {L"XML file with a DTD", Text(WorkPath(L"laughs.xml"))},
        {L"XML text with a DTD", Text(std::wstring(kLaughsXml, kLaughsXml + sizeof kLaughsXml - 1))},
        {L"wildcard *", Text(L"*")}, {L"..\\..", Text(L"..\\..")},
        {L"format directives", Text(L"%s%s%s%n%x%d%%%")},
        {L"parameter XML", Text(std::wstring(kParameterXml, kParameterXml + sizeof kParameterXml - 1))},
        {L"VT_NULL", Of(VT_NULL)}, {L"VT_EMPTY", Of(VT_EMPTY)}, {L"SAFEARRAY", Array(VT_VARIANT, 3)},
        {L"foreign object", Foreign()},
        {L"VT_BYREF|VT_BSTR", Ref(VT_BSTR, &g_refText)}, {L"VT_BYREF|VT_VARIANT", Ref(VT_VARIANT, &g_refVariant)},
        {L"VT_BYREF|VT_VARIANT pointing to itself", Ref(VT_VARIANT, &g_selfReference)},
        {L"VT_BYREF|VT_BSTR null pointer", Ref(VT_BSTR, nullptr)},
        {L"VT_BYREF|VT_VARIANT null pointer", Ref(VT_VARIANT, nullptr)},
    };
}

std::vector<Gen> NumberSet() {
    return {
        {L"0", Long(0)}, {L"-1", Long(-1)}, {L"INT_MIN", Long(INT_MIN)}, {L"INT_MAX", Long(INT_MAX)},
        {L"1e300", Double(1e300)}, {L"-1e300", Double(-1e300)}, {L"NaN", Double(std::nan(""))},
        {L"VARIANT_BOOL 1", Scalar(VT_BOOL, 1)}, {L"VARIANT_BOOL 0x7fff", Scalar(VT_BOOL, 0x7fff)},
        {L"VARIANT_BOOL -2", Scalar(VT_BOOL, -2)}, {L"text 12abc", Text(L"12abc")},
        {L"VT_NULL", Of(VT_NULL)}, {L"VT_EMPTY", Of(VT_EMPTY)},
        {L"VT_BYREF|VT_I4", Ref(VT_I4, &g_refLong)}, {L"VT_BYREF|VT_I4 null pointer", Ref(VT_I4, nullptr)},
    };
}

std::vector<Gen> ObjectSet(const IID& expected) {
    const IID wrong = IsEqualIID(expected, IID_IField) ? IID_IFieldCollection : IID_IField;
    std::vector<Gen> set = {
        {L"null object", Object(nullptr)}, {L"VT_EMPTY", Of(VT_EMPTY)}, {L"VT_NULL", Of(VT_NULL)},
        {L"object of the right type", [expected] { return OfType(expected); }},
        {L"object of the wrong data type", [wrong] { return OfType(wrong); }},
        {L"MSXML document", Object(g_msxmlDoc.Get())}, {L"MSXML node", Object(g_msxmlNode.Get())},
        {L"foreign IDispatch", Foreign()},
        {L"foreign VT_UNKNOWN", Foreign(VT_UNKNOWN)},
        {L"VT_BYREF|VT_DISPATCH", Ref(VT_DISPATCH, &g_refDispatch)},
        {L"VT_BYREF|VT_DISPATCH null pointer", Ref(VT_DISPATCH, nullptr)},
        {L"VT_BYREF|VT_VARIANT null pointer", Ref(VT_VARIANT, nullptr)},
        {L"text instead of an object", Text(L"<a><b></a>")},
    };
    for (auto& [label, object] : g_trees) set.emplace_back(label, Object(object.Get()));
    return set;
}

// VARIANT parameters: every kind of value, including the by-reference forms.
std::vector<Gen> VariantSet() {
    std::vector<Gen> set = TextSet(), numbers = NumberSet(), more = {
        {L"VT_ERROR missing", Scalar(VT_ERROR, DISP_E_PARAMNOTFOUND)}, {L"VT_ERROR E_FAIL", Scalar(VT_ERROR, E_FAIL)},
        {L"VT_DATE", Double(2958465.99, VT_DATE)}, {L"VT_DATE negative", Double(-700000, VT_DATE)},
        {L"byte SAFEARRAY", Array(VT_UI1, 100000)}, {L"VT_CY", Scalar(VT_CY, LLONG_MIN)},
        {L"VT_I8 min", Scalar(VT_I8, LLONG_MIN)},
        {L"document among its own children", Object(Tree(L"document among its own children"))},
        {L"parameter list nested 100000 levels", Object(Tree(L"parameter list nested 100000 levels"))},
        {L"MSXML document", Object(g_msxmlDoc.Get())},
    };
    set.insert(set.end(), numbers.begin(), numbers.end());
    set.insert(set.end(), more.begin(), more.end());
    return set;
}

// ---- members ------------------------------------------------------------------------------------------------
enum class PKind { Text, Number, Bool, Variant, Object, Guid, Unsupported };

struct Param {
    std::wstring name;
    PKind kind = PKind::Unsupported;
    VARTYPE vt = VT_EMPTY;  // the type of a by-reference slot
    IID iid = IID_NULL;
    bool in = true, out = false, retval = false;
};

struct Member {
    std::wstring cls, name;
    MEMBERID id = 0;
    INVOKEKIND kind = INVOKE_FUNC;
    std::vector<Param> params;
};

Param Describe(ITypeInfo* owner, const TYPEDESC& desc, int depth = 0) {
    Param p;
    auto is = [&p](PKind kind, VARTYPE vt) { p.kind = kind, p.vt = vt; };
    const TYPEDESC* t = &desc;
    while (t->vt == VT_PTR && t->lptdesc) t = t->lptdesc;
    switch (t->vt) {
        case VT_USERDEFINED: {
            ComPtr<ITypeInfo> ref;
            TYPEATTR* attr = nullptr;
            if (depth > 4 || FAILED(owner->GetRefTypeInfo(t->hreftype, &ref)) || FAILED(ref->GetTypeAttr(&attr))) return p;
            const TYPEKIND kind = attr->typekind;
            const TYPEDESC alias = attr->tdescAlias;
            const bool guidSized = attr->cbSizeInstance == sizeof(GUID);
            p.iid = attr->guid;
            ref->ReleaseTypeAttr(attr);
            if (kind == TKIND_ALIAS) return Describe(ref.Get(), alias, depth + 1);
            if (kind == TKIND_INTERFACE || kind == TKIND_DISPATCH) is(PKind::Object, VT_DISPATCH);
            else if (kind == TKIND_RECORD && guidSized) is(PKind::Guid, VT_EMPTY);
            else if (kind == TKIND_ENUM) is(PKind::Number, VT_I4);
            break;
        }
        case VT_DISPATCH: is(PKind::Object, VT_DISPATCH), p.iid = IID_IDispatch; break;
        case VT_UNKNOWN: is(PKind::Object, VT_DISPATCH), p.iid = IID_IUnknown; break;
        case VT_BSTR: is(PKind::Text, VT_BSTR); break;
        case VT_VARIANT: is(PKind::Variant, VT_VARIANT); break;
        case VT_BOOL: is(PKind::Bool, VT_BOOL); break;
        case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4:
        case VT_R4: case VT_R8: case VT_INT: case VT_UINT:
            is(PKind::Number, t->vt == VT_INT ? VARTYPE{VT_I4} : t->vt == VT_UINT ? VARTYPE{VT_UI4} : t->vt);
            break;
        default: break;
    }
    return p;
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
        Member m{cls, L"", fd->memid, fd->invkind, {}};
        BSTR names[32] = {};
        UINT got = 0;
        itf->GetNames(fd->memid, names, 32, &got);
        m.name = got && names[0] ? names[0] : L"?";
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

// ---- restrictions: members that wait, start programs, reach out or act on other windows get
// plain values that do none of that; the timer is stopped and the icon hidden after use ----------
bool Is(const Member& m, const wchar_t* cls, const wchar_t* name) { return m.cls == cls && m.name == name; }
bool OneOf(const std::wstring& label, std::initializer_list<const wchar_t*> labels) {
    return std::any_of(labels.begin(), labels.end(), [&](const wchar_t* l) { return label == l; });
}

// Whether `gen` may be given to parameter `index` of `m`.
bool Allowed(const Member& m, size_t index, const Gen& gen) {
    if (Is(m, L"CQarnUtilities", L"Sleep")) return !OneOf(gen.label, {L"INT_MAX", L"VARIANT_BOOL 0x7fff"});
    if (Is(m, L"CQarnUtilities", L"GetHostByName"))
        return OneOf(gen.label, {L"null text", L"empty text", L"100000 characters", L"VT_NULL", L"VT_EMPTY", L"SAFEARRAY",
                                 L"foreign object"});
    if (Is(m, L"CQarnUtilities", L"ShowWindow") && index < 2)
        return !OneOf(gen.label, {L"null text", L"empty text", L"VT_NULL", L"VT_EMPTY", L"embedded NUL"});
    return true;
}

USHORT g_closedPort = 1;

// The plain value of a parameter (what it gets while another one is varied).
Gen Plain(const Member& m, size_t index) {
    const Param& p = m.params[index];
    if (Is(m, L"CQarnUtilities", L"Exec") && index == 0) return {L"missing program", Text(WorkPath(L"no-such-program.exe"))};
    if (Is(m, L"CQarnUtilities", L"SendNetworkData") && index == 1) return {L"127.0.0.1", Text(L"127.0.0.1")};
    if (Is(m, L"CQarnUtilities", L"SendNetworkData") && index == 2) return {L"closed port", Long(g_closedPort)};
    if (Is(m, L"CQarnUtilities", L"GetHostByName")) return {L"127.0.0.1", Text(L"127.0.0.1")};
    if (Is(m, L"CQarnUtilities", L"ShowWindow") && index < 2) return {L"no such window", Text(L"QarnSweep: no such window")};
    switch (p.kind) {
        case PKind::Text: case PKind::Variant: return {L"plain text", Text(L"sweep")};
        case PKind::Number: return {L"1", Long(1)};
        case PKind::Bool: return {L"false", Scalar(VT_BOOL, VARIANT_FALSE)};
        case PKind::Guid: return {L"type library id", Text(g_guidText)};
        case PKind::Object: return {L"object of the right type", [iid = p.iid] { return OfType(iid); }};
        case PKind::Unsupported: break;
    }
    return {L"VT_EMPTY", Of(VT_EMPTY)};
}

// The hostile set of an [in] parameter.
std::vector<Gen> HostileSet(const Member& m, size_t index) {
    const Param& p = m.params[index];
    std::vector<Gen> set, allowed;
    switch (p.kind) {
        case PKind::Text: set = TextSet(); break;
        case PKind::Number: case PKind::Bool: set = NumberSet(); break;
        case PKind::Variant: set = VariantSet(); break;
        case PKind::Object: set = ObjectSet(p.iid); break;
        case PKind::Guid:
            set = TextSet();
            set.emplace_back(L"GUID_NULL", Text(L"{00000000-0000-0000-0000-000000000000}"));
            set.emplace_back(L"type library id", Text(g_guidText));
            break;
        case PKind::Unsupported: break;
    }
    for (Gen& g : set)
        if (Allowed(m, index, g)) allowed.push_back(std::move(g));
    return allowed;
}

// ---- the calls -------------------------------------------------------------------------------------------------
// One argument. By-reference arguments point into `slot`, which keeps whatever the callee leaves
// there until the argument is dropped.
struct Arg {
    VARIANT v = Of(VT_EMPTY), slot = Of(VT_EMPTY);
    Arg(const VARIANT& value = Of(VT_EMPTY)) : v(value) {}
    Arg(const Arg&) = delete;
    ~Arg() {
        if (!(v.vt & VT_BYREF)) VariantClear(&v);
        VariantClear(&slot);
    }
};
using Args = std::vector<std::unique_ptr<Arg>>;

// By-reference parameters: a typed slot holding the value, the same in a VARIANT slot, or a null pointer.
enum class RefForm { Typed, InVariant, NullPointer };

std::unique_ptr<Arg> MakeArg(const Param& p, const Gen& gen, RefForm form) {
    if (!p.out) return std::make_unique<Arg>(gen.make());
    auto a = std::make_unique<Arg>();
    Var value(p.in && form != RefForm::NullPointer ? gen.make() : Of(VT_EMPTY));
    if (form == RefForm::NullPointer) {
        a->v = Ref(p.vt, nullptr);
    } else if (form == RefForm::InVariant || p.vt == VT_VARIANT) {
        std::swap(a->slot, static_cast<VARIANT&>(value));
        a->v = Ref(VT_VARIANT, &a->slot);
    } else {  // a typed slot: the value converted to the slot's type (zero when it does not convert)
        if (value.vt == p.vt) std::swap(a->slot, static_cast<VARIANT&>(value));
        else if (FAILED(VariantChangeType(&a->slot, &value, 0, p.vt))) a->slot = Of(p.vt);
        a->v = Ref(p.vt, &a->slot.llVal);  // every member of the union starts there
    }
    return a;
}

struct Totals {
    long calls = 0, failed = 0, members = 0, classes = 0;
} g_totals;

// Follow-up calls that undo what a member started: the timer is stopped, the icon hidden at the end.
void Undo(IDispatch* object, const Member& m, const std::vector<Member>& all, bool last) {
    const bool timer = Is(m, L"CQarnTimer", L"start"), icon = last && Is(m, L"CQarnComApplication", L"SetShellIconVisible");
    Var off(Scalar(VT_BOOL, VARIANT_FALSE)), result;
    for (const Member& other : all)
        if ((timer && other.name == L"Stop") || (icon && other.name == L"SetShellIconVisible")) {
            DISPPARAMS params{&off, nullptr, icon ? 1u : 0u, 0};
            object->Invoke(other.id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
            return;
        }
}

// One call with `args` in declaration order; they are dropped and the call undone afterwards.
void Call(IDispatch* object, const Member& m, const std::vector<Member>& all, Args args, const std::wstring& what) {
    const std::wstring label = m.cls + L"." + m.name + L" [" + what + L"]";
    SetLabel(label);
    RestoreFixtures();
    std::vector<VARIANT> rgvarg(args.size());
    for (size_t i = 0; i < args.size(); ++i) rgvarg[args.size() - 1 - i] = args[i]->v;  // shallow: args own them
    DISPID putId = DISPID_PROPERTYPUT;
    DISPPARAMS params{rgvarg.data(), nullptr, static_cast<UINT>(rgvarg.size()), 0};
    const bool put = m.kind == INVOKE_PROPERTYPUT || m.kind == INVOKE_PROPERTYPUTREF;
    const WORD flags = m.kind == INVOKE_PROPERTYGET ? DISPATCH_PROPERTYGET | DISPATCH_METHOD
                       : put ? (m.kind == INVOKE_PROPERTYPUT ? DISPATCH_PROPERTYPUT : DISPATCH_PROPERTYPUTREF)
                             : DISPATCH_METHOD;
    if (put && !rgvarg.empty()) params.cNamedArgs = 1, params.rgdispidNamedArgs = &putId;
    Var result;
    EXCEPINFO excep{};
    UINT argErr = UINT_MAX;
    const int dialogsBefore = g_dialogsClosed;
    const ULONGLONG start = GetTickCount64();
    g_callStart = start ? start : 1;
    const HRESULT hr = object->Invoke(m.id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                                      m.kind == INVOKE_PROPERTYPUT ? nullptr : &result, &excep, &argErr);
    g_callStart = 0;
    if (excep.pfnDeferredFillIn) excep.pfnDeferredFillIn(&excep);
    const bool dialog = g_dialogsClosed != dialogsBefore && !Is(m, L"QarnGenericListViewControl", L"Show");
    bool ok = hr == S_OK || hr == DISP_E_PARAMNOTFOUND || hr == DISP_E_BADPARAMCOUNT || hr == DISP_E_PARAMNOTOPTIONAL;
    if (hr == DISP_E_EXCEPTION) ok = excep.bstrDescription && SysStringLen(excep.bstrDescription) > 0;
    if (hr == DISP_E_TYPEMISMATCH) ok = argErr < params.cArgs;
    ++g_totals.calls;
    if ((!ok || dialog) && ++g_totals.failed <= 300)
        std::printf("FAILED: %s: 0x%08lx%s%s%s\n", Narrow(label).c_str(), static_cast<unsigned long>(hr),
                    hr == DISP_E_EXCEPTION && !ok ? " without a description" : "",
                    hr == DISP_E_TYPEMISMATCH && !ok ? " naming no argument" : "", dialog ? " (opened a dialog)" : "");
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrHelpFile);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    SetLabel(label + L" (after the call)");
    args.clear();  // (with whatever the callee left in by-reference arguments)
    Undo(object, m, all, false);
}

void SweepMember(IDispatch* object, const Member& m, const std::vector<Member>& all) {
    std::vector<size_t> passed;  // the parameters the caller passes (all but the retval)
    for (size_t i = 0; i < m.params.size(); ++i) {
        if (m.params[i].retval) continue;
        if (m.params[i].kind == PKind::Unsupported) {
            std::printf("excluded: %s.%s: parameter %s has a type the sweep does not generate\n", Narrow(m.cls).c_str(),
                        Narrow(m.name).c_str(), Narrow(m.params[i].name).c_str());
            return;
        }
        passed.push_back(i);
    }
    // Plain values, `gen` in `form` for parameter `varied`, and perhaps one argument too many.
    auto run = [&](const std::wstring& what, size_t varied = SIZE_MAX, const Gen* gen = nullptr,
                   RefForm form = RefForm::Typed, bool extra = false) {
        Args args;
        for (size_t i : passed)
            args.push_back(i == varied ? MakeArg(m.params[i], gen ? *gen : Plain(m, i), form)
                                       : MakeArg(m.params[i], Plain(m, i), RefForm::Typed));
        if (extra) args.push_back(std::make_unique<Arg>(Text(L"extra")));
        Call(object, m, all, std::move(args), what);
    };
    run(L"plain values");
    // One parameter at a time; [in,out] values also in a VARIANT slot, and every [out] as a null pointer.
    for (size_t i : passed) {
        const Param& p = m.params[i];
        if (p.in) {
            for (const Gen& g : HostileSet(m, i)) {
                run(p.name + L" = " + g.label, i, &g);
                if (p.out) run(p.name + L" = " + g.label + L" in a VARIANT slot", i, &g, RefForm::InVariant);
            }
        } else {
            run(p.name + L" = VARIANT slot", i, nullptr, RefForm::InVariant);
        }
        if (p.out) run(p.name + L" = null by-reference pointer", i, nullptr, RefForm::NullPointer);
    }
    // Every parameter hostile at once (each takes its k-th hostile value).
    std::vector<std::vector<Gen>> sets;
    size_t kinds = 0;
    for (size_t i : passed) {
        sets.push_back(m.params[i].in ? HostileSet(m, i) : std::vector<Gen>{});
        if (sets.back().empty()) sets.back().push_back(Plain(m, i));
        kinds = std::max(kinds, sets.back().size());
    }
    for (size_t k = 0; passed.size() > 1 && k < kinds; ++k) {
        Args args;
        std::wstring what = L"all hostile:";
        for (size_t j = 0; j < passed.size(); ++j) {
            const Gen& g = sets[j][k % sets[j].size()];
            const Param& p = m.params[passed[j]];
            args.push_back(MakeArg(p, g, p.out && k % 2 ? RefForm::NullPointer : RefForm::Typed));
            what += L" " + g.label + L";";
        }
        Call(object, m, all, std::move(args), what);
    }
    // The dispatch protocol: one argument too many, and none at all.
    run(L"one argument too many", SIZE_MAX, nullptr, RefForm::Typed, true);
    if (!passed.empty()) Call(object, m, all, Args{}, L"no arguments");
    Undo(object, m, all, true);
}

// A port on 127.0.0.1 that nothing listens on: bound, never listened on, closed again.
USHORT ClosedPort() {
    WSADATA data;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof address;
    USHORT port = 1;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return port;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s != INVALID_SOCKET && bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    if (s != INVALID_SOCKET) closesocket(s);
    WSACleanup();
    return port;
}

// The scratch folder build\hostile-sweep, the working folder three levels down (so that "..\.."
// stays inside), a copy of the sample installation as the root folder; the classes of both DLLs.
std::vector<CoClass> Prepare() {
    const std::wstring bin = BinFolder();
    g_scratch = bin.substr(0, bin.find_last_of(L'\\')) + L"\\hostile-sweep";
    g_work = g_scratch + L"\\a\\b\\work";
    g_root = g_scratch + L"\\root";
    RemoveTree(g_scratch);
    for (const wchar_t* folder : {L"", L"\\a", L"\\a\\b", L"\\a\\b\\work"})
        CreateDirectoryW((g_scratch + folder).c_str(), nullptr);
    CopySampleInstallation(g_root);
    Expect(SetCurrentDirectoryW(g_work.c_str()) && Exists(g_root + L"\\xml"), L"the scratch folder could not be prepared");
    SetEnvironmentVariableW(L"QarnRootDir", g_root.c_str());
    SetEnvironmentVariableW(L"TEMP", g_work.c_str());
    SetEnvironmentVariableW(L"TMP", g_work.c_str());
    RestoreFixtures();
    g_closedPort = ClosedPort();
    g_nested.reserve(7 * kDeep);
    for (int i = 0; i < kDeep; ++i) g_nested += L"<a>";
    for (int i = 0; i < kDeep; ++i) g_nested += L"</a>";
    g_guidText = test::GuidText(LIBID_QarnComConnector);
    std::vector<CoClass> classes;
    for (const wchar_t* dll : kDlls)
        for (CoClass& c : CreatableClasses(dll)) {
            g_classOf.emplace_back(c.defaultInterface, c.clsid);
            classes.push_back(std::move(c));
        }
    return classes;
}

// Every member of the class; false when it cannot be swept.
bool SweepClass(const CoClass& c) {
    SetLabel(c.name + L" (creation)");
    ComPtr<IUnknown> unknown;
    ComPtr<IDispatch> object;
    const HRESULT hr = CoCreateInstance(c.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&unknown));
    if (SUCCEEDED(hr) && !c.dual) {
        // Its members leave their [out] values unwritten by design: only a vtable caller that
        // initialises them may call it.
        std::printf("excluded: class %s: no IDispatch (vtable-only interface)\n", Narrow(c.name).c_str());
        return true;
    }
    if (FAILED(hr) || FAILED(unknown.As(&object))) {
        std::printf("FAILED: class %s cannot be swept (0x%08lx)\n", Narrow(c.name).c_str(), static_cast<unsigned long>(hr));
        return false;
    }
    ++g_totals.classes;
    const std::vector<Member> members = MembersOf(c.itf.Get(), c.name);
    const long before = g_totals.calls;
    for (const Member& m : members) SweepMember(object.Get(), m, members);
    g_totals.members += static_cast<long>(members.size());
    std::printf("class %s: %zu members, %ld calls\n", Narrow(c.name).c_str(), members.size(), g_totals.calls - before);
    std::fflush(stdout);
    return true;
}

}  // namespace

int wmain() {
    SetUnhandledExceptionFilter(CrashReport);
    ComScope com;
    g_mainThread = GetCurrentThreadId();
    const auto started = std::chrono::steady_clock::now();
    // Ends the process when one call runs too long, and closes every dialog the main thread opens.
    std::optional<Watchdog> watchdog(std::in_place, g_callStart, kHangMs, [] { return "the call " + Label(); },
                                     [] { EnumWindows(CloseDialog, 0); });
    try {
        Expect(com.ok, L"COM could not be started");
        const std::vector<CoClass> classes = Prepare();
        SetLabel(L"building the hostile trees");
        BuildTrees();
        g_refText = SysAllocString(L"<a><b></a>");
        g_refVariant = Text(g_huge);
        g_refDispatch = Tree(L"document among its own children");
        for (const CoClass& c : classes) g_totals.failed += !SweepClass(c);
    } catch (const Failure& f) {
        ++g_totals.failed;
        std::printf("FAILED: %s: %s\n", Label().c_str(), Narrow(f.what).c_str());
    }
    SetLabel(L"releasing the hostile trees");
    SysFreeString(g_refText);
    VariantClear(&g_refVariant);
    for (auto& undo : g_breakCycles) undo();
    g_trees.clear();
    g_msxmlDoc.Reset();
    g_msxmlNode.Reset();
    watchdog.reset();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("dialogs closed by the watchdog: %d\n", g_dialogsClosed.load());
    std::printf("hostile sweep: %ld calls over %ld members of %ld classes in %.0f s, %ld failed\n", g_totals.calls,
                g_totals.members, g_totals.classes, seconds, g_totals.failed);
    std::fflush(stdout);
    return g_totals.failed ? 1 : 0;
}
