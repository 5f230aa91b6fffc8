// QarnComDatatypes.dll through real activation: every object comes from CoCreateInstance of its
// CLSID, so registration, the type library and the class table are exercised as a client sees them.
#include <windows.h>
#include <msxml2.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestSupport.h"

using Microsoft::WRL::ComPtr;
using test::Create;

namespace {

// An owned BSTR for arguments and results.
class Text {
public:
    Text() = default;
    Text(const wchar_t* s) : s_(SysAllocString(s)) {}
    Text(std::wstring_view s) : s_(SysAllocStringLen(s.data(), static_cast<UINT>(s.size()))) {}
    Text(const Text&) = delete;
    Text& operator=(const Text&) = delete;
    ~Text() { SysFreeString(s_); }
    operator BSTR() const { return s_; }
    BSTR* Out() {
        SysFreeString(s_);
        s_ = nullptr;
        return &s_;
    }
    std::wstring str() const { return s_ ? std::wstring(s_, SysStringLen(s_)) : std::wstring(); }

private:
    BSTR s_ = nullptr;
};

struct Var : VARIANT {
    Var() { VariantInit(this); }
    explicit Var(const wchar_t* s) {
        VariantInit(this);
        vt = VT_BSTR;
        bstrVal = SysAllocString(s);
    }
    explicit Var(long n) {
        VariantInit(this);
        vt = VT_I4;
        lVal = n;
    }
    Var(const Var&) = delete;
    ~Var() { VariantClear(this); }
};

ComPtr<IField> MakeField(const wchar_t* name, const wchar_t* value) {
    ComPtr<IField> field = Create<IField>(CLSID_Field);
    EXPECT_EQ(S_OK, field->put_Name(Text(name)));
    EXPECT_EQ(S_OK, field->put_Value(Var(value)));
    return field;
}

bool Same(IUnknown* a, IUnknown* b) {
    if (!a || !b) return a == b;
    ComPtr<IUnknown> ia, ib;
    a->QueryInterface(IID_PPV_ARGS(&ia));
    b->QueryInterface(IID_PPV_ARGS(&ib));
    return ia.Get() == ib.Get();
}

// The description of the thread's error object (taken from it).
std::wstring LastError() { return test::TakeErrorDescription(); }

std::wstring NameOf(IField* field) {
    Text name;
    EXPECT_EQ(S_OK, field->get_Name(name.Out()));
    return name.str();
}

std::wstring TextOf(IField* field) {
    Text text;
    EXPECT_EQ(S_OK, field->get_StringValue(text.Out()));
    return text.str();
}

std::wstring Found(IFieldCollection* fields, const wchar_t* name) {
    ComPtr<IField> field;
    EXPECT_EQ(S_OK, fields->get_Field(Text(name), &field));
    return field ? TextOf(field.Get()) : L"<none>";
}

TEST(DatatypesRegistration, EveryClassActivatesByClsidAndProgId) {
    const struct {
        const CLSID* clsid;
        const wchar_t* name;
    } classes[] = {{&CLSID_Field, L"Field"},
                   {&CLSID_FieldCollection, L"FieldCollection"},
                   {&CLSID_ParameterList, L"ParameterList"},
                   {&CLSID_Structure, L"Structure"},
                   {&CLSID_StructureCollection, L"StructureCollection"},
                   {&CLSID_Table, L"Table"},
                   {&CLSID_TableCollection, L"TableCollection"},
                   {&CLSID_FieldCollectionTable, L"FieldCollectionTable"},
                   {&CLSID_QarnDocument, L"QarnDocument"},
                   {&CLSID_QarnDocumentCollection, L"QarnDocumentCollection"}};
    for (const auto& c : classes) {
        SCOPED_TRACE(c.name);
        ComPtr<IDispatch> object = Create<IDispatch>(*c.clsid);
        ASSERT_TRUE(object);
        ComPtr<ITypeInfo> info;
        EXPECT_EQ(S_OK, object->GetTypeInfo(0, 0, &info));
        for (const std::wstring& progId :
             {std::wstring(L"QarnComDatatypes.") + c.name, std::wstring(L"QarnComDatatypes.") + c.name + L".1"}) {
            CLSID found{};
            EXPECT_EQ(S_OK, CLSIDFromProgID(progId.c_str(), &found)) << std::string(progId.begin(), progId.end());
            EXPECT_TRUE(IsEqualCLSID(found, *c.clsid));
        }
    }
}

TEST(DatatypesField, ValuesAreCopiedObjectsAreShared) {
    ComPtr<IField> field = Create<IField>(CLSID_Field);
    ComPtr<IFieldCollection> attributes;
    EXPECT_EQ(S_OK, field->get_Attributes(&attributes));
    EXPECT_FALSE(attributes);
    EXPECT_EQ(L"", TextOf(field.Get()));

    // A script passes its variable by reference: later changes to the variable must not show.
    Var variable(L"first");
    VARIANT byRef;
    VariantInit(&byRef);
    byRef.vt = VT_BYREF | VT_VARIANT;
    byRef.pvarVal = &variable;
    ASSERT_EQ(S_OK, field->put_Value(byRef));
    VariantClear(&variable);
    variable.vt = VT_BSTR;
    variable.bstrVal = SysAllocString(L"second");
    EXPECT_EQ(L"first", TextOf(field.Get()));

    ASSERT_EQ(S_OK, field->put_Value(Var(42L)));
    EXPECT_EQ(L"42", TextOf(field.Get()));
    Var yes;
    yes.vt = VT_BOOL;
    yes.boolVal = VARIANT_TRUE;
    ASSERT_EQ(S_OK, field->put_Value(yes));
    EXPECT_EQ(L"True", TextOf(field.Get()));
    Var null;
    null.vt = VT_NULL;
    ASSERT_EQ(S_OK, field->put_Value(null));
    EXPECT_EQ(L"", TextOf(field.Get()));

    ComPtr<IFieldCollection> object = Create<IFieldCollection>(CLSID_FieldCollection);
    Var holder;
    holder.vt = VT_DISPATCH;
    holder.pdispVal = object.Get();
    object->AddRef();
    ASSERT_EQ(S_OK, field->put_Value(holder));
    EXPECT_EQ(L"", TextOf(field.Get()));
    Var back;
    ASSERT_EQ(S_OK, field->get_Value(&back));
    ASSERT_EQ(VT_DISPATCH, back.vt);
    EXPECT_TRUE(Same(back.pdispVal, object.Get()));

    ASSERT_EQ(S_OK, field->put_Attributes(object.Get()));
    ASSERT_EQ(S_OK, field->get_Attributes(&attributes));
    EXPECT_TRUE(Same(attributes.Get(), object.Get()));
}

TEST(DatatypesFieldCollection, LookupsFindTheLastFieldAlsoAfterRenames) {
    ComPtr<IFieldCollection> fields = Create<IFieldCollection>(CLSID_FieldCollection);
    ComPtr<IField> a = MakeField(L"x", L"a"), b = MakeField(L"y", L"b"), c = MakeField(L"x", L"c");
    for (IField* f : {a.Get(), b.Get(), c.Get()}) ASSERT_EQ(S_OK, fields->Add(f));

    ComPtr<IField> item;
    ASSERT_EQ(S_OK, fields->get_Item(3, &item));
    EXPECT_TRUE(Same(item.Get(), c.Get()));  // the very object, not a copy
    EXPECT_EQ(L"c", Found(fields.Get(), L"x"));
    EXPECT_EQ(L"<none>", Found(fields.Get(), L"X"));  // case-sensitive
    Text absent;
    ASSERT_EQ(S_OK, fields->GetValue(Text(L"nothing"), absent.Out()));
    EXPECT_TRUE(static_cast<BSTR>(absent) != nullptr);
    EXPECT_EQ(L"", absent.str());

    const wchar_t* longName = L"a name longer than the short ones";
    ASSERT_EQ(S_OK, c->put_Name(Text(longName)));  // the last "x" leaves: the first one shows again
    EXPECT_EQ(L"a", Found(fields.Get(), L"x"));
    EXPECT_EQ(L"c", Found(fields.Get(), longName));
    ASSERT_EQ(S_OK, c->put_Name(Text(L"z")));
    EXPECT_EQ(L"<none>", Found(fields.Get(), longName));
    EXPECT_EQ(L"c", Found(fields.Get(), L"z"));
    ASSERT_EQ(S_OK, b->put_Name(Text(L"x")));  // b sits after a: it wins
    EXPECT_EQ(L"b", Found(fields.Get(), L"x"));
    EXPECT_EQ(L"<none>", Found(fields.Get(), L"y"));
    ASSERT_EQ(S_OK, c->put_Name(Text(L"x")));
    EXPECT_EQ(L"c", Found(fields.Get(), L"x"));

    // A field in two collections (and twice in one) is re-filed in each.
    ComPtr<IFieldCollection> other = Create<IFieldCollection>(CLSID_FieldCollection);
    ASSERT_EQ(S_OK, other->Add(a.Get()));
    ASSERT_EQ(S_OK, other->Add(a.Get()));
    ASSERT_EQ(S_OK, a->put_Name(Text(L"w")));
    EXPECT_EQ(L"a", Found(fields.Get(), L"w"));
    EXPECT_EQ(L"a", Found(other.Get(), L"w"));
    EXPECT_EQ(L"<none>", Found(other.Get(), L"x"));

    ASSERT_EQ(S_OK, fields->Remove(3));  // c
    EXPECT_EQ(L"b", Found(fields.Get(), L"x"));
    ASSERT_EQ(S_OK, fields->SetValue(Text(L"x"), Var(L"new")));
    EXPECT_EQ(L"new", Found(fields.Get(), L"x"));
    LONG count = 0;
    ASSERT_EQ(S_OK, fields->get_Count(&count));
    EXPECT_EQ(3, count);
}

TEST(DatatypesFieldCollection, AddFieldReplacesAndAppendSharesMembers) {
    ComPtr<IFieldCollection> fields = Create<IFieldCollection>(CLSID_FieldCollection);
    ComPtr<IField> renamed = MakeField(L"other", L"r");
    ASSERT_EQ(S_OK, fields->Add(MakeField(L"k", L"1").Get()));
    ASSERT_EQ(S_OK, fields->Add(renamed.Get()));
    ASSERT_EQ(S_OK, fields->Add(MakeField(L"k", L"2").Get()));
    ASSERT_EQ(S_OK, fields->Add(MakeField(L"keep", L"3").Get()));
    ASSERT_EQ(S_OK, renamed->put_Name(Text(L"k")));  // joins "k" after it was added

    ComPtr<IField> replacement = MakeField(L"k", L"new");
    ASSERT_EQ(S_OK, fields->AddField(replacement.Get()));
    LONG count = 0;
    ASSERT_EQ(S_OK, fields->get_Count(&count));
    ASSERT_EQ(2, count);
    ComPtr<IField> item;
    ASSERT_EQ(S_OK, fields->get_Item(1, &item));
    EXPECT_EQ(L"keep", NameOf(item.Get()));
    ASSERT_EQ(S_OK, fields->get_Item(2, &item));
    EXPECT_TRUE(Same(item.Get(), replacement.Get()));

    // Appending a collection to itself doubles it with the same objects.
    ASSERT_EQ(S_OK, fields->Append(fields.Get()));
    ComPtr<IFieldCollection> more = Create<IFieldCollection>(CLSID_FieldCollection);
    ASSERT_EQ(S_OK, more->AddFieldCollection(fields.Get()));
    ASSERT_EQ(S_OK, more->get_Count(&count));
    ASSERT_EQ(4, count);
    ASSERT_EQ(S_OK, more->get_Item(4, &item));
    EXPECT_TRUE(Same(item.Get(), replacement.Get()));
}

// A field of another implementation: it cannot tell the collections about renames.
class ForeignField final : public IField {
public:
    explicit ForeignField(const wchar_t* name) : name_(name) {}
    STDMETHODIMP QueryInterface(REFIID iid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IDispatch) && !IsEqualIID(iid, IID_IField))
            return E_NOINTERFACE;
        *ppv = static_cast<IField*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG n = --refs_;
        if (!n) delete this;
        return n;
    }
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP get_Name(BSTR* name) override {
        *name = SysAllocString(name_.c_str());
        return S_OK;
    }
    STDMETHODIMP put_Name(BSTR name) override {
        name_ = name ? name : L"";
        return S_OK;
    }
    STDMETHODIMP get_Value(VARIANT* value) override {
        VariantInit(value);
        return S_OK;
    }
    STDMETHODIMP put_Value(VARIANT) override { return S_OK; }
    STDMETHODIMP get_StringValue(BSTR* text) override {
        *text = SysAllocString(L"foreign");
        return S_OK;
    }
    STDMETHODIMP get_Attributes(IFieldCollection** attributes) override {
        *attributes = nullptr;
        return S_OK;
    }
    STDMETHODIMP put_Attributes(IFieldCollection*) override { return S_OK; }

private:
    std::wstring name_;
    ULONG refs_ = 1;
};

TEST(DatatypesFieldCollection, ForeignFieldsAreFoundUnderTheirCurrentNames) {
    ComPtr<IFieldCollection> fields = Create<IFieldCollection>(CLSID_FieldCollection);
    ComPtr<IField> foreign;
    foreign.Attach(new ForeignField(L"x"));
    ASSERT_EQ(S_OK, fields->Add(MakeField(L"x", L"own").Get()));
    ASSERT_EQ(S_OK, fields->Add(foreign.Get()));
    EXPECT_EQ(L"foreign", Found(fields.Get(), L"x"));

    ASSERT_EQ(S_OK, foreign->put_Name(Text(L"y")));  // unannounced
    EXPECT_EQ(L"own", Found(fields.Get(), L"x"));
    EXPECT_EQ(L"foreign", Found(fields.Get(), L"y"));

    ASSERT_EQ(S_OK, fields->AddField(MakeField(L"y", L"replacement").Get()));
    LONG count = 0;
    ASSERT_EQ(S_OK, fields->get_Count(&count));
    EXPECT_EQ(2, count);
    EXPECT_EQ(L"replacement", Found(fields.Get(), L"y"));
    Text value;
    ASSERT_EQ(S_OK, fields->GetValue(Text(L"x"), value.Out()));
    EXPECT_EQ(L"own", value.str());
}

TEST(DatatypesErrors, BadIndexesAndNothingGiveReadableErrors) {
    ComPtr<IFieldCollection> fields = Create<IFieldCollection>(CLSID_FieldCollection);
    ASSERT_EQ(S_OK, fields->Add(MakeField(L"a", L"1").Get()));
    ComPtr<IField> item;
    for (LONG bad : {0L, 2L, -5L}) {
        EXPECT_EQ(DISP_E_EXCEPTION, fields->get_Item(bad, &item));
        EXPECT_FALSE(item);
        std::wstring expected = L"Index " + std::to_wstring(bad) + L" is out of range (1..1).";
        EXPECT_EQ(0u, LastError().find(expected));
    }
    EXPECT_EQ(DISP_E_EXCEPTION, fields->Remove(7));
    EXPECT_EQ(0u, LastError().find(L"Index 7 is out of range (1..1)."));
    EXPECT_EQ(DISP_E_EXCEPTION, fields->Add(nullptr));
    EXPECT_EQ(0u, LastError().find(L"The field to add is nothing."));

    ComPtr<IStructureCollection> structures = Create<IStructureCollection>(CLSID_StructureCollection);
    ComPtr<IStructure> structure;
    EXPECT_EQ(DISP_E_EXCEPTION, structures->get_Item(1, &structure));
    EXPECT_EQ(0u, LastError().find(L"Index 1 is out of range (1..0)."));
    ComPtr<IFieldCollectionTable> rows = Create<IFieldCollectionTable>(CLSID_FieldCollectionTable);
    ComPtr<IFieldCollection> row;
    EXPECT_EQ(DISP_E_EXCEPTION, rows->get_Item(0, &row));
    ComPtr<IQarnDocumentCollection> documents = Create<IQarnDocumentCollection>(CLSID_QarnDocumentCollection);
    ComPtr<IQarnDocument> document;
    EXPECT_EQ(DISP_E_EXCEPTION, documents->get_Item(1, &document));
    EXPECT_EQ(0u, LastError().find(L"Index 1 is out of range (1..0)."));
    EXPECT_EQ(DISP_E_EXCEPTION, fields->get_Count(nullptr));  // a null out pointer, reported as E_POINTER
    const std::wstring nullOut = LastError();
    EXPECT_NE(std::wstring::npos, nullOut.find(L"0x80004003")) << std::string(nullOut.begin(), nullOut.end());

    // Late-bound: the default member Item with a bad index fills EXCEPINFO.
    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(S_OK, fields.As(&dispatch));
    Var index(9L);
    DISPPARAMS params = {&index, nullptr, 1, 0};
    EXCEPINFO excep{};
    Var result;
    EXPECT_EQ(DISP_E_EXCEPTION,
              dispatch->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_PROPERTYGET, &params, &result, &excep, nullptr));
    ASSERT_TRUE(excep.bstrDescription);
    EXPECT_EQ(0, wcsncmp(excep.bstrDescription, L"Index 9 is out of range (1..1).", 31));
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrHelpFile);
}

// A list with a field, a structure and a two-row table.
ComPtr<IParameterList> SampleList() {
    ComPtr<IParameterList> list = Create<IParameterList>(CLSID_ParameterList);
    ComPtr<IFieldCollection> fields;
    EXPECT_EQ(S_OK, list->get_FieldCollection(&fields));
    EXPECT_EQ(S_OK, fields->Add(MakeField(L"top", L"T").Get()));

    ComPtr<IStructure> structure = Create<IStructure>(CLSID_Structure);
    EXPECT_EQ(S_OK, structure->put_Name(Text(L"S")));
    ComPtr<IFieldCollection> sfields;
    EXPECT_EQ(S_OK, structure->get_FieldCollection(&sfields));
    EXPECT_EQ(S_OK, sfields->Add(MakeField(L"a", L"1").Get()));
    EXPECT_EQ(S_OK, sfields->Add(MakeField(L"b", L"2").Get()));
    ComPtr<IStructureCollection> structures;
    EXPECT_EQ(S_OK, list->get_StructureCollection(&structures));
    EXPECT_EQ(S_OK, structures->Add(structure.Get()));

    ComPtr<ITable> table = Create<ITable>(CLSID_Table);
    EXPECT_EQ(S_OK, table->put_Name(Text(L"T")));
    ComPtr<IFieldCollectionTable> rows;
    EXPECT_EQ(S_OK, table->get_FieldCollectionTable(&rows));
    for (const wchar_t* id : {L"r1", L"r2"}) {
        ComPtr<IFieldCollection> row = Create<IFieldCollection>(CLSID_FieldCollection);
        EXPECT_EQ(S_OK, row->Add(MakeField(L"id", id).Get()));
        EXPECT_EQ(S_OK, row->Add(MakeField(L"v", (std::wstring(L"val-") + id).c_str()).Get()));
        EXPECT_EQ(S_OK, rows->Add(row.Get()));
    }
    ComPtr<ITableCollection> tables;
    EXPECT_EQ(S_OK, list->get_TableCollection(&tables));
    EXPECT_EQ(S_OK, tables->Add(table.Get()));
    return list;
}

TEST(DatatypesParameterList, LookupsGiveFieldsOrNothing) {
    ComPtr<IParameterList> list = SampleList();
    ComPtr<IField> field;
    ASSERT_EQ(S_OK, list->GetField(Text(L"top"), &field));
    EXPECT_EQ(L"T", TextOf(field.Get()));
    ASSERT_EQ(S_OK, list->GetStructureField(Text(L"b"), Text(L"S"), &field));
    EXPECT_EQ(L"2", TextOf(field.Get()));
    ASSERT_EQ(S_OK, list->GetTableField(Text(L"v"), Text(L"T"), 2, &field));
    EXPECT_EQ(L"val-r2", TextOf(field.Get()));
    ASSERT_EQ(S_OK, list->FindTableField(Text(L"v"), Text(L"T"), Text(L"id"), Text(L"r1"), &field));
    EXPECT_EQ(L"val-r1", TextOf(field.Get()));

    ASSERT_EQ(S_OK, list->GetField(Text(L"missing"), &field));
    EXPECT_FALSE(field);
    ASSERT_EQ(S_OK, list->GetStructureField(Text(L"a"), Text(L"none"), &field));
    EXPECT_FALSE(field);
    for (LONG row : {0L, 3L}) {
        ASSERT_EQ(S_OK, list->GetTableField(Text(L"v"), Text(L"T"), row, &field));
        EXPECT_FALSE(field);
    }
    ASSERT_EQ(S_OK, list->FindTableField(Text(L"v"), Text(L"T"), Text(L"id"), Text(L"r9"), &field));
    EXPECT_FALSE(field);
    ComPtr<IStructure> structure;
    ASSERT_EQ(S_OK, list->GetStructure(Text(L"S"), &structure));
    Text text;
    ASSERT_EQ(S_OK, structure->get_Text(text.Out()));
    EXPECT_EQ(L"a=1; b=2", text.str());
    ComPtr<ITable> table;
    ASSERT_EQ(S_OK, list->GetTable(Text(L"nope"), &table));
    EXPECT_FALSE(table);

    // Puts replace; nothing gives a fresh empty collection, never nothing.
    ASSERT_EQ(S_OK, list->put_TableCollection(nullptr));
    ComPtr<ITableCollection> tables;
    ASSERT_EQ(S_OK, list->get_TableCollection(&tables));
    ASSERT_TRUE(tables);
    LONG count = -1;
    ASSERT_EQ(S_OK, tables->get_Count(&count));
    EXPECT_EQ(0, count);
}

TEST(DatatypesParameterList, CloneIsDeepAndKeepsSharing) {
    ComPtr<IParameterList> list = SampleList();
    ComPtr<IFieldCollection> fields, attributes = Create<IFieldCollection>(CLSID_FieldCollection);
    ASSERT_EQ(S_OK, attributes->SetValue(Text(L"source"), Var(L"file")));
    ASSERT_EQ(S_OK, list->put_Attributes(attributes.Get()));
    ASSERT_EQ(S_OK, list->get_FieldCollection(&fields));
    ComPtr<IField> twice = MakeField(L"twice", L"t");
    ASSERT_EQ(S_OK, fields->Add(twice.Get()));
    ASSERT_EQ(S_OK, fields->Add(twice.Get()));

    ComPtr<IParameterList> copy;
    ASSERT_EQ(S_OK, list->Clone(&copy));
    ComPtr<IField> field;
    ASSERT_EQ(S_OK, copy->GetStructureField(Text(L"b"), Text(L"S"), &field));
    ASSERT_EQ(S_OK, field->put_Value(Var(L"changed")));
    ASSERT_EQ(S_OK, copy->GetTableField(Text(L"v"), Text(L"T"), 1, &field));
    ASSERT_EQ(S_OK, field->put_Name(Text(L"renamed")));
    ComPtr<IFieldCollection> copyAttributes;
    ASSERT_EQ(S_OK, copy->get_Attributes(&copyAttributes));
    ASSERT_TRUE(copyAttributes);
    EXPECT_FALSE(Same(copyAttributes.Get(), attributes.Get()));
    ASSERT_EQ(S_OK, copyAttributes->SetValue(Text(L"source"), Var(L"other")));

    ASSERT_EQ(S_OK, list->GetStructureField(Text(L"b"), Text(L"S"), &field));
    EXPECT_EQ(L"2", TextOf(field.Get()));
    ASSERT_EQ(S_OK, list->GetTableField(Text(L"v"), Text(L"T"), 1, &field));
    EXPECT_EQ(L"val-r1", TextOf(field.Get()));
    Text source;
    ASSERT_EQ(S_OK, attributes->GetValue(Text(L"source"), source.Out()));
    EXPECT_EQ(L"file", source.str());

    // The field held twice is copied once and held twice by the copy.
    ComPtr<IFieldCollection> copyFields;
    ASSERT_EQ(S_OK, copy->get_FieldCollection(&copyFields));
    ComPtr<IField> first, second;
    ASSERT_EQ(S_OK, copyFields->get_Item(2, &first));
    ASSERT_EQ(S_OK, copyFields->get_Item(3, &second));
    EXPECT_TRUE(Same(first.Get(), second.Get()));
    EXPECT_FALSE(Same(first.Get(), twice.Get()));
}

TEST(DatatypesParameterList, CloneRefusesCyclesAndExcessiveDepth) {
    ComPtr<IParameterList> list = Create<IParameterList>(CLSID_ParameterList);
    ComPtr<IFieldCollection> fields;
    ASSERT_EQ(S_OK, list->get_FieldCollection(&fields));
    ComPtr<IField> self = MakeField(L"self", L"s");
    ASSERT_EQ(S_OK, fields->Add(self.Get()));
    ASSERT_EQ(S_OK, self->put_Attributes(fields.Get()));  // the collection holds itself
    ComPtr<IParameterList> copy;
    EXPECT_EQ(DISP_E_EXCEPTION, list->Clone(&copy));
    EXPECT_NE(std::wstring::npos, LastError().find(L"contains itself"));
    ASSERT_EQ(S_OK, self->put_Attributes(nullptr));  // break the cycle so everything is freed

    // Attribute chains: 100 levels copy, 1000 levels are refused.
    for (int levels : {100, 1000}) {
        ComPtr<IParameterList> deep = Create<IParameterList>(CLSID_ParameterList);
        ComPtr<IFieldCollection> current;
        ASSERT_EQ(S_OK, deep->get_FieldCollection(&current));
        for (int i = 0; i < levels; ++i) {
            ComPtr<IField> field = MakeField(L"f", L"v");
            ComPtr<IFieldCollection> next = Create<IFieldCollection>(CLSID_FieldCollection);
            ASSERT_EQ(S_OK, current->Add(field.Get()));
            ASSERT_EQ(S_OK, field->put_Attributes(next.Get()));
            current = next;
        }
        HRESULT hr = deep->Clone(&copy);
        if (levels == 100) {
            EXPECT_EQ(S_OK, hr);
        } else {
            EXPECT_EQ(DISP_E_EXCEPTION, hr);
            EXPECT_NE(std::wstring::npos, LastError().find(L"nested more than 256 levels"));
        }
    }
}

TEST(DatatypesRelease, DeepNestingIsReleasedWithoutDeepRecursion) {
    // 200000 levels of field -> attributes -> field: a recursive release would overflow the stack.
    ComPtr<IFieldCollection> root = Create<IFieldCollection>(CLSID_FieldCollection);
    ComPtr<IClassFactory> fieldFactory, collectionFactory;
    ASSERT_EQ(S_OK, CoGetClassObject(CLSID_Field, CLSCTX_INPROC_SERVER, nullptr, IID_PPV_ARGS(&fieldFactory)));
    ASSERT_EQ(S_OK,
              CoGetClassObject(CLSID_FieldCollection, CLSCTX_INPROC_SERVER, nullptr, IID_PPV_ARGS(&collectionFactory)));
    ComPtr<IFieldCollection> current = root;
    for (int i = 0; i < 200000; ++i) {
        ComPtr<IField> field;
        ComPtr<IFieldCollection> next;
        ASSERT_EQ(S_OK, fieldFactory->CreateInstance(nullptr, IID_PPV_ARGS(&field)));
        ASSERT_EQ(S_OK, collectionFactory->CreateInstance(nullptr, IID_PPV_ARGS(&next)));
        ASSERT_EQ(S_OK, current->Add(field.Get()));
        ASSERT_EQ(S_OK, field->put_Attributes(next.Get()));
        current = next;
    }
    current.Reset();
    root.Reset();  // must come back
    SUCCEED();
}

TEST(DatatypesCollections, EnumeratorsYieldTheMembersInOrder) {
    ComPtr<IFieldCollection> fields = Create<IFieldCollection>(CLSID_FieldCollection);
    std::vector<ComPtr<IField>> added;
    for (const wchar_t* name : {L"a", L"b", L"c"}) {
        added.push_back(MakeField(name, name));
        ASSERT_EQ(S_OK, fields->Add(added.back().Get()));
    }
    // Through IDispatch as a script's For Each does it.
    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(S_OK, fields.As(&dispatch));
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    Var result;
    ASSERT_EQ(S_OK, dispatch->Invoke(DISPID_NEWENUM, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &none,
                                     &result, nullptr, nullptr));
    ASSERT_TRUE(result.vt == VT_UNKNOWN || result.vt == VT_DISPATCH);
    ComPtr<IEnumVARIANT> items;
    ASSERT_EQ(S_OK, result.punkVal->QueryInterface(IID_PPV_ARGS(&items)));
    for (const ComPtr<IField>& expected : added) {
        Var item;
        ULONG fetched = 0;
        ASSERT_EQ(S_OK, items->Next(1, &item, &fetched));
        ASSERT_EQ(VT_DISPATCH, item.vt);
        EXPECT_TRUE(Same(item.pdispVal, expected.Get()));
    }
    Var end;
    EXPECT_EQ(S_FALSE, items->Next(1, &end, nullptr));

    ComPtr<IQarnDocumentCollection> documents = Create<IQarnDocumentCollection>(CLSID_QarnDocumentCollection);
    ComPtr<IQarnDocument> document = Create<IQarnDocument>(CLSID_QarnDocument);
    ComPtr<IQarnDocumentCollection> children;
    ASSERT_EQ(S_OK, document->get_Children(&children));
    EXPECT_FALSE(children);
    ASSERT_EQ(S_OK, documents->Add(document.Get()));
    ComPtr<IUnknown> unknown;
    ASSERT_EQ(S_OK, documents->get__NewEnum(&unknown));
    ASSERT_EQ(S_OK, unknown.As(&items));
    Var doc;
    ASSERT_EQ(S_OK, items->Next(1, &doc, nullptr));
    EXPECT_TRUE(Same(doc.pdispVal, document.Get()));
}

TEST(DatatypesDispatch, ValuesPassByValueThroughIDispatch) {
    // Script clients call the VARIANT parameters of Value and SetValue late-bound.
    ComPtr<IFieldCollection> fields = Create<IFieldCollection>(CLSID_FieldCollection);
    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(S_OK, fields.As(&dispatch));
    LPOLESTR name = const_cast<LPOLESTR>(L"SetValue");
    DISPID setValue = 0;
    ASSERT_EQ(S_OK, dispatch->GetIDsOfNames(IID_NULL, &name, 1, 0, &setValue));
    Var args[2];  // reversed order: value, then name
    args[0].vt = VT_R8;
    args[0].dblVal = 12.5;
    args[1].vt = VT_BSTR;
    args[1].bstrVal = SysAllocString(L"n");
    DISPPARAMS params = {args, nullptr, 2, 0};
    ASSERT_EQ(S_OK, dispatch->Invoke(setValue, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr));
    ComPtr<IField> field;
    ASSERT_EQ(S_OK, fields->get_Field(Text(L"n"), &field));
    ASSERT_TRUE(field);
    Var stored;
    ASSERT_EQ(S_OK, field->get_Value(&stored));
    EXPECT_EQ(VT_R8, stored.vt);

    // The default member Value, put and read through IDispatch.
    ComPtr<IDispatch> fieldDispatch;
    ASSERT_EQ(S_OK, field.As(&fieldDispatch));
    Var text(L"via dispatch");
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS put = {&text, &named, 1, 1};
    ASSERT_EQ(S_OK,
              fieldDispatch->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr));
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    Var read;
    ASSERT_EQ(S_OK,
              fieldDispatch->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &read, nullptr, nullptr));
    ASSERT_EQ(VT_BSTR, read.vt);
    EXPECT_STREQ(L"via dispatch", read.bstrVal);
}

// Parses with MSXML 6 and gives the text of the node at `xpath`, or "<missing>".
class Parsed {
public:
    explicit Parsed(BSTR xml) {
        CLSID clsid;
        EXPECT_EQ(S_OK, CLSIDFromProgID(L"Msxml2.DOMDocument.6.0", &clsid));
        EXPECT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument,
                                         reinterpret_cast<void**>(doc_.GetAddressOf())));
        doc_->put_preserveWhiteSpace(VARIANT_TRUE);
        VARIANT_BOOL ok = VARIANT_FALSE;
        EXPECT_EQ(S_OK, doc_->loadXML(xml, &ok));
        loaded_ = ok == VARIANT_TRUE;
    }
    bool Loaded() const { return loaded_; }
    std::wstring At(const wchar_t* xpath) {
        ComPtr<IXMLDOMNode> node;
        if (doc_->selectSingleNode(Text(xpath), &node) != S_OK || !node) return L"<missing>";
        Text text;
        node->get_text(text.Out());
        return text.str();
    }

private:
    ComPtr<IXMLDOMDocument> doc_;
    bool loaded_ = false;
};

TEST(DatatypesXml, EmptyListHasTheThreeCollections) {
    ComPtr<IParameterList> list = Create<IParameterList>(CLSID_ParameterList);
    Text xml;
    ASSERT_EQ(S_OK, list->get_Xml(xml.Out()));
    EXPECT_EQ(
        L"<Parameter><FieldCollection></FieldCollection><StructureCollection></StructureCollection>"
        L"<TableCollection></TableCollection></Parameter>",
        xml.str());
}

TEST(DatatypesXml, HostileTextStaysWellFormedAndReadsBack) {
    ComPtr<IParameterList> list = SampleList();
    ComPtr<IFieldCollection> fields, attributes = Create<IFieldCollection>(CLSID_FieldCollection);
    ASSERT_EQ(S_OK, list->get_FieldCollection(&fields));
    const std::wstring hostile =
        L"<&>\"' a\x01"
        L"b\r\nc\t\xD83D\xDE00 lone\xD800!";
    ASSERT_EQ(S_OK, fields->SetValue(Text(L"evil"), Var(hostile.c_str())));
    ASSERT_EQ(S_OK, attributes->SetValue(Text(L"note"), Var(hostile.c_str())));
    ASSERT_EQ(S_OK, attributes->SetValue(Text(L"mode"), Var(L"first")));
    ASSERT_EQ(S_OK, attributes->SetValue(Text(L"mode"), Var(L"last")));
    for (const wchar_t* bad : {L"two words", L"1st", L"p:x", L"xmlns", L"", L"a<b"})
        ASSERT_EQ(S_OK, attributes->SetValue(Text(bad), Var(L"dropped")));
    ASSERT_EQ(S_OK, list->put_Attributes(attributes.Get()));
    ComPtr<IField> evil;
    ASSERT_EQ(S_OK, fields->get_Field(Text(L"evil"), &evil));
    ASSERT_EQ(S_OK, evil->put_Attributes(attributes.Get()));

    Text xml;
    ASSERT_EQ(S_OK, list->get_Xml(xml.Out()));
    Parsed doc(xml);
    ASSERT_TRUE(doc.Loaded()) << std::string(xml.str().begin(), xml.str().end());
    // The control character and the lone surrogate are left out; everything else comes back.
    const std::wstring expected = L"<&>\"' ab\r\nc\t\xD83D\xDE00 lone!";
    EXPECT_EQ(expected, doc.At(L"/Parameter/FieldCollection/Field[Name='evil']/Value"));
    EXPECT_EQ(expected, doc.At(L"/Parameter/@note"));
    EXPECT_EQ(expected, doc.At(L"/Parameter/FieldCollection/Field[Name='evil']/@note"));
    EXPECT_EQ(L"last", doc.At(L"/Parameter/@mode"));
    EXPECT_EQ(L"<missing>", doc.At(L"/Parameter/@xmlns"));
    EXPECT_EQ(L"T", doc.At(L"/Parameter/FieldCollection/Field[Name='top']/Value"));
    EXPECT_EQ(L"2",
              doc.At(L"/Parameter/StructureCollection/Structure[Name='S']/FieldCollection/Field[Name='b']/Value"));
    EXPECT_EQ(L"val-r2", doc.At(L"/Parameter/TableCollection/Table[Name='T']/FieldCollectionTable/FieldCollection[2]/"
                                L"Field[Name='v']/Value"));
}

}  // namespace
