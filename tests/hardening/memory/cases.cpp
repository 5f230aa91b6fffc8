// The operations of the out-of-memory program: every public area of both DLLs, mostly late-bound
// (as scripts call them: by value, by reference and by name), the enumerators and the class
// factory's Create and Destroy.
#include "Memory.h"

namespace memory {
namespace {

std::wstring g_scratch;  // a copy of the sample installation (the root) and a working folder
ComPtr<IDispatch> g_util, g_factory;

#define TRY(call)                              \
    do {                                       \
        const HRESULT hr_ = (call);            \
        if (FAILED(hr_)) return hr_;           \
    } while (0)
// A vtable call: its error object's text is kept as the description.
#define TRY_V(call)                                       \
    do {                                                  \
        const HRESULT hr_ = (call);                       \
        if (FAILED(hr_)) {                                \
            g_description = TakeDescription();            \
            return hr_;                                   \
        }                                                 \
    } while (0)

// One late-bound call: the member's DISPID (and those of the named arguments) from GetIDsOfNames,
// then Invoke with `args` in declaration order, of which the last `named.size()` go by name.
HRESULT Call(IDispatch* object, const wchar_t* member, std::vector<VARIANT> args, VARIANT* result = nullptr,
             std::vector<const wchar_t*> named = {}, WORD flags = DISPATCH_METHOD | DISPATCH_PROPERTYGET) {
    std::vector<LPOLESTR> names{const_cast<LPOLESTR>(member)};
    for (const wchar_t* n : named) names.push_back(const_cast<LPOLESTR>(n));
    std::vector<DISPID> ids(names.size());
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names.data(), static_cast<UINT>(names.size()), LOCALE_USER_DEFAULT, ids.data());
    const size_t positional = args.size() - named.size();
    std::vector<VARIANT> passed(args.begin() + static_cast<std::ptrdiff_t>(positional), args.end());
    passed.insert(passed.end(), args.rbegin() + static_cast<std::ptrdiff_t>(named.size()), args.rend());
    if (flags == DISPATCH_PROPERTYPUT) ids.push_back(DISPID_PROPERTYPUT);
    DISPPARAMS params{passed.data(), ids.size() > 1 ? ids.data() + 1 : nullptr, static_cast<UINT>(passed.size()),
                      static_cast<UINT>(ids.size() - 1)};
    EXCEPINFO excep{};
    UINT argErr = 0;
    if (SUCCEEDED(hr)) hr = object->Invoke(ids[0], IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, &excep, &argErr);
    if (hr == DISP_E_EXCEPTION) g_description = excep.bstrDescription ? excep.bstrDescription : L"";
    // A member that answers E_OUTOFMEMORY without a description of its own.
    if (hr == DISP_E_EXCEPTION && excep.scode == E_OUTOFMEMORY && !excep.bstrDescription) hr = E_OUTOFMEMORY;
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrHelpFile);
    for (VARIANT& a : args) VariantClear(&a);
    return hr;
}
HRESULT Put(IDispatch* object, const wchar_t* member, VARIANT value) {
    return Call(object, member, {value}, nullptr, {}, DISPATCH_PROPERTYPUT);
}
// A member's value as text, appended to the answer (objects as "object" or "nothing").
HRESULT Get(IDispatch* object, const wchar_t* member, std::vector<VARIANT> args, std::wstring& answer,
            std::vector<const wchar_t*> named = {}) {
    Var v;
    TRY(Call(object, member, std::move(args), &v, std::move(named)));
    if (v.vt == VT_DISPATCH || v.vt == VT_UNKNOWN) {
        answer += v.punkVal ? L"object;" : L"nothing;";
    } else {
        Var text;
        if (SUCCEEDED(VariantChangeType(&text, &v, VARIANT_ALPHABOOL, VT_BSTR)))
            answer += std::wstring(text.bstrVal, SysStringLen(text.bstrVal)) + L";";
    }
    return S_OK;
}
// A member that hands out an object.
HRESULT GetObject(IDispatch* object, const wchar_t* member, std::vector<VARIANT> args, ComPtr<IDispatch>& out) {
    Var v;
    TRY(Call(object, member, std::move(args), &v));
    if (v.vt != VT_DISPATCH || !v.pdispVal) return S_OK;  // the caller's answer shows the missing object
    out = v.pdispVal;
    return S_OK;
}
VARIANT Copy(const VARIANT& v) {
    VARIANT copy = Of(VT_EMPTY);
    Check(VariantCopy(&copy, const_cast<VARIANT*>(&v)), L"VariantCopy");
    return copy;
}
VARIANT Object(IDispatch* object) {
    VARIANT v = Of(VT_DISPATCH);
    if ((v.pdispVal = object)) object->AddRef();
    return v;
}
// A new object of a class of ours (its creation may run out of memory as well).
HRESULT Make(REFCLSID clsid, ComPtr<IDispatch>& out) {
    out.Reset();
    TRY_V(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&out)));
    return S_OK;
}
std::wstring Root() { return g_scratch + L"\\root"; }
std::wstring WorkFile(const wchar_t* name) { return g_scratch + L"\\work\\" + name; }

// ---- data types --------------------------------------------------------------------------------------
HRESULT NewList(const std::vector<std::pair<const wchar_t*, const wchar_t*>>& fields, ComPtr<IDispatch>& list) {
    ComPtr<IDispatch> collection;
    TRY(Make(CLSID_ParameterList, list));
    TRY(GetObject(list.Get(), L"FieldCollection", {}, collection));
    for (auto [name, value] : fields) TRY(Call(collection.Get(), L"SetValue", {Text(name), Text(value)}));
    return S_OK;
}

HRESULT FieldsLateBound(std::wstring& answer) {
    ComPtr<IDispatch> fields;
    TRY(Make(CLSID_FieldCollection, fields));
    TRY(Call(fields.Get(), L"SetValue", {Text(L"A"), Text(L"1")}));
    TRY(Call(fields.Get(), L"SetValue", {Text(L"B"), Long(2)}, nullptr, {L"name", L"value"}));
    TRY(Get(fields.Get(), L"GetValue", {Text(L"B")}, answer));
    return Get(fields.Get(), L"Count", {}, answer);
}

HRESULT ListWithStructureAndTable(std::wstring& answer) {
    ComPtr<IDispatch> list, structure, table, structures, tables, rows, fields, copy;
    TRY(Make(CLSID_Structure, structure));
    TRY(Make(CLSID_Table, table));
    TRY(NewList({{L"PartNumber", L"100-4711"}, {L"Title", L"Shaft <D40>"}}, list));
    TRY(Put(structure.Get(), L"Name", Text(L"MARA")));
    TRY(GetObject(structure.Get(), L"FieldCollection", {}, fields));
    TRY(Call(fields.Get(), L"SetValue", {Text(L"MATNR"), Text(L"4711")}));
    TRY(GetObject(list.Get(), L"StructureCollection", {}, structures));
    TRY(Call(structures.Get(), L"Add", {Object(structure.Get())}));
    TRY(Put(table.Get(), L"Name", Text(L"BOM")));
    TRY(GetObject(table.Get(), L"FieldCollectionTable", {}, rows));
    TRY(Call(rows.Get(), L"Add", {Object(fields.Get())}));
    TRY(GetObject(list.Get(), L"TableCollection", {}, tables));
    TRY(Call(tables.Get(), L"Add", {Object(table.Get())}));
    TRY(GetObject(list.Get(), L"Clone", {}, copy));
    return Get(copy.Get(), L"Xml", {}, answer);
}

ComPtr<IFieldCollection> g_enumerated;
HRESULT Enumerators(std::wstring& answer) {
    ComPtr<IUnknown> unknown;
    ComPtr<IEnumVARIANT> items, copy;
    TRY_V(g_enumerated->get__NewEnum(&unknown));
    TRY_V(unknown.As(&items));
    Var first[2];
    ULONG fetched = 0;
    TRY_V(items->Next(2, first, &fetched));
    TRY_V(items->Skip(1));
    TRY_V(items->Clone(&copy));
    Var rest[4];
    TRY_V(copy->Next(4, rest, &fetched));
    answer += std::to_wstring(fetched) + L";";
    for (Var& item : rest)
        if (item.vt == VT_DISPATCH) TRY(Get(item.pdispVal, L"Name", {}, answer));
    TRY_V(copy->Reset());
    return S_OK;
}

// ---- the class factory --------------------------------------------------------------------------------
HRESULT CreateAndUse(std::wstring& answer) {
    ComPtr<IDispatch> app;
    TRY(GetObject(g_factory.Get(), L"Create", {}, app));
    if (!app) return E_POINTER;
    TRY(Get(app.Get(), L"GetProperty", {Text(L"SiteName")}, answer));
    TRY(Get(app.Get(), L"GetMessage", {Text(L"M0011")}, answer));
    return Call(g_factory.Get(), L"Destroy", {});
}
HRESULT Destroy(std::wstring&) { return Call(g_factory.Get(), L"Destroy", {}); }
HRESULT CreateAndChange(std::wstring&) {
    ComPtr<IDispatch> app;
    TRY(GetObject(g_factory.Get(), L"Create", {}, app));
    return app ? Call(app.Get(), L"SetProperty", {Text(L"SiteName"), Text(L"changed")}) : E_POINTER;
}
// A new application after Destroy: it reads the configuration again, so the change is gone.
HRESULT FreshApplication(std::wstring& answer) {
    ComPtr<IDispatch> app;
    TRY(GetObject(g_factory.Get(), L"Create", {}, app));
    if (app) TRY(Get(app.Get(), L"GetProperty", {Text(L"SiteName")}, answer));
    return Call(g_factory.Get(), L"Destroy", {});
}
HRESULT Connector(std::wstring& answer) {
    TRY(Get(g_factory.Get(), L"CreateSAPConnector", {}, answer));
    return Get(g_factory.Get(), L"CreateClassByString", {Text(L"QarnComDatatypes.Field"), Text(L"{00020400-0000-0000-C000-000000000046}")}, answer);
}
HRESULT EveryClass(std::wstring& answer) {
    for (const wchar_t* dll : kDlls)
        for (const CoClass& c : CreatableClasses(dll)) {
            ComPtr<IUnknown> object;
            TRY_V(CoCreateInstance(c.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&object)));
            answer += c.name + L";";
        }
    return S_OK;
}

// ---- the utilities class -----------------------------------------------------------------------------
HRESULT Strings(std::wstring& answer) {
    IDispatch* u = g_util.Get();
    TRY(Get(u, L"TrimLeft", {Text(L"xxabc"), Text(L"x")}, answer));
    TRY(Get(u, L"SubStr", {Text(L"abcdef"), Long(2), Long(3)}, answer));
    TRY(Get(u, L"sprintf1", {Text(L"<%s>"), Text(L"v")}, answer));
    TRY(Get(u, L"TrimSAPDocumentNumber", {Text(L"000123"), Text(L"0")}, answer));
    TRY(Get(u, L"ConvertBSTRToXMLString", {Text(L"a<b&c")}, answer));
    return Get(u, L"IsDigit", {Text(L"123")}, answer);
}
// Arguments by reference: [in] ones through VT_BYREF, [out] ones into the caller's variables.
HRESULT ByReference(std::wstring& answer) {
    Var text(Text(L"--abc--")), fill(Text(L"-"));
    VARIANT refText = Of(VT_BYREF | VT_BSTR), refDash = Of(VT_BYREF | VT_VARIANT);
    refText.pbstrVal = &text.bstrVal;
    refDash.pvarVal = &fill;
    TRY(Get(g_util.Get(), L"TrimLeftAndRight", {refText, refDash}, answer));
    Str out[6];
    std::vector<VARIANT> outs;
    for (Str& s : out) {
        VARIANT v = Of(VT_BYREF | VT_BSTR);
        v.pbstrVal = s.Out();
        outs.push_back(v);
    }
    TRY(Call(g_util.Get(), L"GetSAPLogonParameter", outs));
    for (int i : {0, 1, 3, 4, 5}) answer += std::wstring(out[i].View()) + L";";
    return S_OK;
}
HRESULT ByName(std::wstring& answer) {
    TRY(Get(g_util.Get(), L"SubStr", {Long(3), Text(L"abcdef"), Long(1)}, answer, {L"length", L"str", L"start"}));
    return Get(g_util.Get(), L"SubStr", {Text(L"abcdef"), Long(1), Long(2)}, answer, {L"start", L"length"});
}
HRESULT Configuration(std::wstring& answer) {
    IDispatch* u = g_util.Get();
    TRY(Call(u, L"ReadXmlConfigurationFiles2", {Text(L"DE")}));
    TRY(Get(u, L"GetMessage", {Text(L"M0011")}, answer));
    TRY(Get(u, L"GetProperty", {Text(L"Plant")}, answer));
    ComPtr<IDispatch> found;
    TRY(GetObject(u, L"GetPropertiesByName", {Text(L"language")}, found));
    return found ? Get(found.Get(), L"Count", {}, answer) : E_POINTER;
}
ComPtr<IDispatch> g_part;
HRESULT Transaction(std::wstring& answer) {
    ComPtr<IDispatch> list;
    TRY(GetObject(g_util.Get(), L"GetXmlParameterList", {Text(L"Parts.xml"), Text(L"ChangePart"), Object(g_part.Get())}, list));
    return list ? Get(list.Get(), L"Xml", {}, answer) : E_POINTER;
}
HRESULT Encryption(std::wstring& answer) {
    IDispatch* u = g_util.Get();
    Var sealed, field;
    TRY(Call(u, L"Encrypt3", {Text(L"Kiel-Cad-2024")}, &sealed));
    TRY(Get(u, L"Decrypt3", {Copy(sealed)}, answer));
    TRY(Call(u, L"Encrypt", {Text(L"password"), Text(L"Flansch#17")}, &field));
    // Encrypt and Decrypt2 hand out nothing, and succeed, when they cannot make the field.
    ComPtr<IDispatch> opened;
    if (field.vt == VT_DISPATCH && field.pdispVal) TRY(GetObject(u, L"Decrypt2", {Copy(field)}, opened));
    if (opened) TRY(Get(opened.Get(), L"Value", {}, answer));
    else answer += L"(no field);";
    Var logon;
    TRY(Call(u, L"EncryptLogon2", {Text(L"password"), Text(L"pw")}, &logon));
    answer += std::to_wstring(logon.vt == VT_BSTR ? SysStringLen(logon.bstrVal) : 0) + L";";
    return S_OK;
}
HRESULT Logon(std::wstring& answer) {
    ComPtr<IDispatch> entry;
    TRY(GetObject(g_util.Get(), L"GetSAPLogonParameter5", {}, entry));
    if (!entry) return E_POINTER;
    for (const wchar_t* name : {L"client", L"user", L"hostname", L"password"})
        TRY(Get(entry.Get(), L"GetValue", {Text(name)}, answer));
    return S_OK;
}
HRESULT Xml(std::wstring& answer) {
    IDispatch* u = g_util.Get();
    ComPtr<IDispatch> document, element, parsed;
    TRY(GetObject(u, L"DOMParse", {Text(Root() + L"\\xml\\Parts.xml")}, document));
    if (!document) return E_POINTER;
    TRY(Get(u, L"GetXMLDOMParseErrorDescription", {Object(document.Get())}, answer));
    TRY(GetObject(u, L"DOMParse2", {Text(L"<a x='1' y='2'><b><c>t</c><d>u</d></b></a>")}, parsed));
    if (!parsed) return E_POINTER;
    TRY(GetObject(parsed.Get(), L"documentElement", {}, element));
    ComPtr<IDispatch> attributes, children;
    TRY(GetObject(u, L"GetXMLAttributes", {Object(element.Get())}, attributes));
    TRY(GetObject(u, L"DOMNodeGetChilds", {Object(element.Get()), Text(L"b")}, children));
    if (!attributes || !children) return E_POINTER;
    TRY(Get(attributes.Get(), L"GetValue", {Text(L"y")}, answer));
    return Get(children.Get(), L"Count", {}, answer);
}
ComPtr<IDispatch> g_document;
HRESULT Documents(std::wstring& answer) {
    const std::wstring file = WorkFile(L"tree.xml");
    TRY(Call(g_util.Get(), L"WriteQarnDocumentToFile", {Object(g_document.Get()), Text(file)}));
    ComPtr<IDispatch> back, list;
    TRY(GetObject(g_util.Get(), L"ReadQarnDocumentFromFile", {Text(file)}, back));
    if (!back) return E_POINTER;
    TRY(GetObject(back.Get(), L"ParameterList", {}, list));
    return list ? Get(list.Get(), L"Xml", {}, answer) : E_POINTER;
}
HRESULT Files(std::wstring& answer) {
    IDispatch* u = g_util.Get();
    const std::wstring file = WorkFile(L"rows.csv"), copy = WorkFile(L"copy.csv");
    TRY(Call(u, L"FileWrite", {Text(file), Text(L"a;b\r\nc;d\r\ne;f\r\n")}));
    ComPtr<IDispatch> lines, rows, listing;
    TRY(GetObject(u, L"ReadTextFile", {Text(file)}, lines));
    TRY(GetObject(u, L"ReadCSVFile", {Text(file), Text(L";")}, rows));
    if (!lines || !rows) return E_POINTER;
    TRY(Get(lines.Get(), L"Count", {}, answer));
    TRY(Get(rows.Get(), L"Count", {}, answer));
    TRY(Call(u, L"FileCopy", {Text(file), Text(copy)}));
    TRY(Get(u, L"FileExist", {Text(copy)}, answer));
    TRY(GetObject(u, L"GetFilesInDirectory", {Text(g_scratch + L"\\work"), Text(L"*.csv")}, listing));
    if (listing) TRY(Get(listing.Get(), L"Count", {}, answer));
    return Call(u, L"FileRemove", {Text(copy)});
}
HRESULT System(std::wstring& answer) {
    IDispatch* u = g_util.Get();
    TRY(Get(u, L"GetEnv", {Text(L"QarnRootDir")}, answer));
    TRY(Get(u, L"GetRootDir", {}, answer));
    TRY(Get(u, L"GetExtension", {Text(L"a.b.txt")}, answer));
    TRY(Get(u, L"GetNameByPath", {Text(L"C:\\x\\y.prt")}, answer));
    TRY(Get(u, L"GetCLSIDFromProgID", {Text(L"QarnComDatatypes.Field")}, answer));
    Var guid;
    TRY(Call(u, L"CreateGuid", {}, &guid));
    answer += std::to_wstring(guid.vt == VT_BSTR ? SysStringLen(guid.bstrVal) : 0) + L";";
    return S_OK;
}
HRESULT TypeInformation(std::wstring& answer) {
    ComPtr<IDispatch> info;
    TRY(GetObject(g_util.Get(), L"GetInterfaceInfo1", {Object(g_util.Get())}, info));
    if (!info) return E_POINTER;
    TRY(Get(info.Get(), L"Count", {}, answer));
    ComPtr<ITypeInfo> typeInfo;
    TRY_V(g_util->GetTypeInfo(0, LOCALE_USER_DEFAULT, &typeInfo));
    return S_OK;
}
HRESULT Components(std::wstring& answer) {
    ComPtr<IDispatch> collaboration, timer, numbers, fields, got;
    TRY(Make(CLSID_CQarnSimpleCollaboration, collaboration));
    TRY(Make(CLSID_CQarnTimer, timer));
    TRY(Make(CLSID_CQarnNumberGenerator, numbers));
    TRY(Make(CLSID_FieldCollection, fields));
    TRY(Call(fields.Get(), L"SetValue", {Text(L"State"), Text(L"open")}));
    const std::wstring model = WorkFile(L"gear.asm");
    TRY(Call(collaboration.Get(), L"Add2", {Text(model), Object(fields.Get())}));
    TRY(GetObject(collaboration.Get(), L"Get2", {Text(model)}, got));
    if (got) TRY(Get(got.Get(), L"GetValue", {Text(L"State")}, answer));
    TRY(Call(timer.Get(), L"start", {}));
    TRY(Get(timer.Get(), L"IsRunning", {}, answer));
    ComPtr<IDispatch> generated;
    TRY(GetObject(numbers.Get(), L"Get1", {Text(L"N"), Long(1), Long(3)}, generated));
    return generated ? Get(generated.Get(), L"Count", {}, answer) : E_POINTER;
}

}  // namespace

std::vector<Case> Prepare() {
    const std::wstring bin = BinFolder();
    g_scratch = bin.substr(0, bin.find_last_of(L'\\')) + L"\\out-of-memory";
    RemoveTree(g_scratch);
    CreateDirectoryW(g_scratch.c_str(), nullptr);
    CreateDirectoryW((g_scratch + L"\\work").c_str(), nullptr);
    CopySampleInstallation(Root());
    Expect(Exists(Root() + L"\\xml\\QarnConnector.xml"), L"the scratch installation could not be made");
    SetEnvironmentVariableW(L"QarnRootDir", Root().c_str());
    SetEnvironmentVariableW(L"QarnLogFile", WorkFile(L"trace.log").c_str());
    g_util = Create<IDispatch>(CLSID_CQarnUtilities);
    g_factory = Create<IDispatch>(CLSID_CQarnClassFactory);
    g_enumerated = NewFields(6);
    ComPtr<IDispatch> list;
    Check(NewList({{L"PartNumber", L"100-4711"}, {L"Title", L"Drive shaft"}, {L"Mass", L"3.92"}}, g_part), L"the caller's list");
    Check(NewList({{L"DocumentNumber", L"DRW-1000"}, {L"Title", L"Gear unit \u00e4"}}, list), L"the document's list");
    g_document = New<IDispatch>(CLSID_QarnDocument);
    Check(Put(g_document.Get(), L"ParameterList", Object(list.Get())), L"QarnDocument.ParameterList");
    const auto destroy = [](std::wstring&) { Call(g_factory.Get(), L"Destroy", {}); return S_OK; };
    return {
        {L"FieldCollection late-bound (by value and by name)", nullptr, FieldsLateBound},
        {L"ParameterList with a structure and a table, cloned", nullptr, ListWithStructureAndTable},
        {L"enumerators (Next, Skip, Clone, Reset)", nullptr, Enumerators},
        {L"CQarnClassFactory::Create and Destroy", nullptr, CreateAndUse, nullptr, destroy},
        {L"CQarnClassFactory::Destroy", CreateAndChange, Destroy, FreshApplication, destroy},
        {L"connectors and classes by name", nullptr, Connector, nullptr, nullptr, false},
        {L"every creatable class", nullptr, EveryClass},
        {L"strings", nullptr, Strings},
        {L"arguments by reference", nullptr, ByReference},
        {L"arguments by name", nullptr, ByName},
        {L"configuration", nullptr, Configuration},
        // A customer file that fails, for want of memory too, only leaves a warning on the list
        // that the regular file gives.
        {L"transaction", nullptr, Transaction, nullptr, nullptr, true,
         [](const std::wstring& answer) {
             return answer.find(L"customerWarning=\"") != std::wstring::npos && SaysOutOfMemory(answer);
         }},
        {L"encryption", nullptr, Encryption, nullptr, nullptr, true,
         [](const std::wstring& answer) { return answer.find(L"(no field)") != std::wstring::npos; }},
        {L"logon", nullptr, Logon},
        {L"XML", nullptr, Xml},
        {L"documents", nullptr, Documents},
        {L"files and text", [](std::wstring&) { DeleteFileW(WorkFile(L"rows.csv").c_str()); return S_OK; }, Files},
        {L"system", nullptr, System},
        {L"type information", nullptr, TypeInformation},
        {L"components", nullptr, Components},
    };
}

void Finish() {
    if (g_factory) Call(g_factory.Get(), L"Destroy", {});
    g_enumerated.Reset();
    g_part.Reset();
    g_document.Reset();
    g_util.Reset();
    g_factory.Reset();
    g_factories.clear();
    CoFreeUnusedLibraries();
    RemoveTree(g_scratch);
}

}  // namespace memory
