// QarnComDatatypes.dll through real activation: every object comes from CoCreateInstance of its
// CLSID, so registration, the type library and the class table are exercised as a client sees them.
#include <windows.h>
#include <msxml2.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ForeignObject.h"
#include "base/OwnAccess.h"
#include "UtilitiesSupport.h"

using namespace test;

namespace {

ComPtr<IField> MakeField(const wchar_t* name, const wchar_t* value) {
    ComPtr<IField> field = Create<IField>(CLSID_Field);
    EXPECT_TRUE(SUCCEEDED(field->put_Name(Str(name))) && SUCCEEDED(field->put_Value(Variant(value))));
    return field;
}

std::wstring Found(IFieldCollection* fields, const wchar_t* name) {
    ComPtr<IField> field;
    EXPECT_EQ(S_OK, fields->get_Field(Str(name), &field));
    return field ? TextOf(field.Get()) : L"<none>";
}

// The internal interfaces carry identifiers of this version: a server of another version, even one
// with every public identifier the same, is never taken for this one. (The identifiers before they
// came with the version must go unanswered.)
TEST(DatatypesRegistration, InternalInterfacesBelongToThisVersion) {
    auto list = Create<IParameterList>(CLSID_ParameterList);
    auto structure = Create<IStructure>(CLSID_Structure);
    auto fields = Create<IFieldCollection>(CLSID_FieldCollection);
    EXPECT_TRUE(IsOwnObject(list.Get()));
    EXPECT_TRUE(IsOwnObject(structure.Get()));
    EXPECT_FALSE(IsOwnObject(fields.Get())) << "the connector uses no member beyond the general ones on collections";
    ComPtr<IUnknown> answer;
    EXPECT_EQ(S_OK, list->QueryInterface(__uuidof(IQarnOwnParameterList), &answer));
    EXPECT_EQ(S_OK, fields->QueryInterface(__uuidof(IQarnFieldMaker), &answer));
    const GUID earlierList{0x7456809f, 0x4b67, 0x4b1e, {0x96, 0xbd, 0xce, 0x07, 0x35, 0x9f, 0xa6, 0x8b}};
    const GUID earlierMaker{0x3422e053, 0x8f53, 0x46d4, {0xae, 0xff, 0xe9, 0x53, 0xdd, 0x3e, 0xc5, 0x7e}};
    EXPECT_EQ(E_NOINTERFACE, list->QueryInterface(earlierList, &answer));
    EXPECT_EQ(E_NOINTERFACE, fields->QueryInterface(earlierMaker, &answer));
}

// The script tests create the common classes by their ProgIDs; this covers every class of the type library.
TEST(DatatypesRegistration, EveryClassActivatesByClsidAndProgId) {
    const std::vector<Coclass> classes = Coclasses(ServerPath(GuidText(CLSID_Field).c_str()));
    ASSERT_FALSE(classes.empty());
    for (const Coclass& c : classes) {
        ComPtr<ITypeInfo> info;
        EXPECT_EQ(S_OK, Create<IDispatch>(c.clsid)->GetTypeInfo(0, 0, &info)) << c.name;
        for (const wchar_t* version : {L"", L".1"}) {
            const std::wstring progId = L"QarnComDatatypes." + c.name + version;
            CLSID found{};
            EXPECT_TRUE(SUCCEEDED(CLSIDFromProgID(progId.c_str(), &found)) && IsEqualCLSID(found, c.clsid)) << progId;
        }
    }
}

// Defaults, object values and attributes are checked late-bound by the script tests (objects.*).
TEST(DatatypesField, ValuesAreCopiedAndConvertedToText) {
    ComPtr<IField> field = Create<IField>(CLSID_Field);
    // A script passes its variable by reference: later changes to the variable must not show.
    Variant variable(L"first"), byRef, yes;
    byRef.vt = VT_BYREF | VT_VARIANT;
    byRef.pvarVal = &variable;
    ASSERT_EQ(S_OK, field->put_Value(byRef));
    variable = Variant(L"second");
    EXPECT_EQ(L"first", TextOf(field.Get()));
    yes.vt = VT_BOOL, yes.boolVal = VARIANT_TRUE;
    ASSERT_EQ(S_OK, field->put_Value(yes));
    EXPECT_EQ(L"True", TextOf(field.Get())) << "booleans read as words, not as -1";
}

// objects.vbs and objects.js find the last of two fields added under one name, and an empty text for none.
TEST(DatatypesFieldCollection, LookupsFindTheLastFieldAlsoAfterRenames) {
    ComPtr<IFieldCollection> fields = NewFields();
    ComPtr<IField> a = MakeField(L"x", L"a"), b = MakeField(L"y", L"b"), c = MakeField(L"x", L"c");
    for (IField* f : {a.Get(), b.Get(), c.Get()}) ASSERT_EQ(S_OK, fields->Add(f));
    EXPECT_EQ(L"c", Found(fields.Get(), L"x"));
    EXPECT_EQ(L"<none>", Found(fields.Get(), L"X"));  // case-sensitive

    const wchar_t* longName = L"a name longer than the short ones";
    ASSERT_EQ(S_OK, c->put_Name(Str(longName)));  // the last "x" leaves: the first one shows again
    EXPECT_EQ(L"a", Found(fields.Get(), L"x"));
    EXPECT_EQ(L"c", Found(fields.Get(), longName));
    ASSERT_EQ(S_OK, b->put_Name(Str(L"x")));  // b sits after a: it wins
    EXPECT_EQ(L"b", Found(fields.Get(), L"x"));
    EXPECT_EQ(L"<none>", Found(fields.Get(), L"y"));

    // A field in two collections (and twice in one) is re-filed in each.
    ComPtr<IFieldCollection> other = NewFields();
    ASSERT_TRUE(SUCCEEDED(other->Add(a.Get())) && SUCCEEDED(other->Add(a.Get())));
    ASSERT_EQ(S_OK, a->put_Name(Str(L"w")));
    EXPECT_EQ(L"a", Found(fields.Get(), L"w"));
    EXPECT_EQ(L"a", Found(other.Get(), L"w"));
    EXPECT_EQ(L"<none>", Found(other.Get(), L"x"));

    ASSERT_EQ(S_OK, fields->Remove(3));  // c
    EXPECT_EQ(L"b", Found(fields.Get(), L"x"));
    ASSERT_EQ(S_OK, fields->SetValue(Str(L"x"), Variant(L"new")));
    EXPECT_EQ(L"new", Found(fields.Get(), L"x"));
    EXPECT_EQ((Texts{L"w=a", L"x=b", L"x=new"}), test::Entries(fields.Get()));
}

TEST(DatatypesFieldCollection, AddFieldReplacesAndAppendSharesMembers) {
    ComPtr<IFieldCollection> fields = NewFields(), more = NewFields();
    ComPtr<IField> renamed = MakeField(L"other", L"r"), replacement = MakeField(L"k", L"new"), item;
    for (const auto& f : {MakeField(L"k", L"1"), renamed, MakeField(L"k", L"2"), MakeField(L"keep", L"3")})
        ASSERT_EQ(S_OK, fields->Add(f.Get()));
    ASSERT_EQ(S_OK, renamed->put_Name(Str(L"k")));  // joins "k" after it was added
    ASSERT_EQ(S_OK, fields->AddField(replacement.Get()));
    EXPECT_EQ((Texts{L"keep=3", L"k=new"}), test::Entries(fields.Get()));

    // Appending a collection to itself doubles it with the same objects (the added one, not a copy).
    ASSERT_EQ(S_OK, fields->Append(fields.Get()));
    ASSERT_EQ(S_OK, more->AddFieldCollection(fields.Get()));
    EXPECT_EQ((Texts{L"keep=3", L"k=new", L"keep=3", L"k=new"}), test::Entries(more.Get()));
    ASSERT_EQ(S_OK, more->get_Item(4, &item));
    EXPECT_EQ(replacement.Get(), item.Get());
}

// A field of another implementation: a collection can only ask it for its name, and is not told
// when that name changes.
class ForeignField final : public test::ForeignObject<IField> {
public:
    ForeignField(const wchar_t* name, const wchar_t* value) : name_(name), value_(value) {}
    STDMETHODIMP get_Name(BSTR* name) override { return Copy(name_, name); }
    STDMETHODIMP put_Name(BSTR name) override {
        name_ = name ? name : L"";
        return S_OK;
    }
    STDMETHODIMP get_Value(VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP put_Value(VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP get_StringValue(BSTR* text) override { return Copy(value_, text); }
    STDMETHODIMP get_Attributes(IFieldCollection** attributes) override {
        if (!attributes) return E_POINTER;
        *attributes = nullptr;
        return S_OK;
    }
    STDMETHODIMP put_Attributes(IFieldCollection*) override { return E_NOTIMPL; }

private:
    static HRESULT Copy(const std::wstring& from, BSTR* to) {
        if (!to) return E_POINTER;
        *to = SysAllocStringLen(from.data(), static_cast<UINT>(from.size()));
        return *to ? S_OK : E_OUTOFMEMORY;
    }
    std::wstring name_, value_;
};

// Our own fields are told apart from other implementations without asking them: ours re-file
// themselves when renamed, foreign ones are looked up by the name they give.
TEST(DatatypesFieldCollection, ForeignFieldsAreFoundByTheirCurrentName) {
    ComPtr<IFieldCollection> fields = NewFields();
    ComPtr<IField> foreign(new ForeignField(L"f", L"foreign")), other(new ForeignField(L"f", L"other"));
    ComPtr<IField> own = MakeField(L"own", L"o"), found;
    ASSERT_TRUE(SUCCEEDED(fields->Add(foreign.Get())) && SUCCEEDED(fields->Add(own.Get())));
    ASSERT_EQ(S_OK, fields->get_Field(Str(L"f"), &found));
    EXPECT_EQ(foreign.Get(), found.Get());

    // Renamed behind the collection's back: seen at the next lookup.
    ASSERT_EQ(S_OK, foreign->put_Name(Str(L"g")));
    EXPECT_EQ(L"<none>", Found(fields.Get(), L"f"));
    EXPECT_EQ(L"foreign", Found(fields.Get(), L"g"));
    ASSERT_EQ(S_OK, own->put_Name(Str(L"renamed")));
    EXPECT_EQ(L"o", Found(fields.Get(), L"renamed"));

    // AddField takes the name a foreign field gives and replaces the field of that name.
    ASSERT_EQ(S_OK, other->put_Name(Str(L"g")));
    ASSERT_EQ(S_OK, fields->AddField(other.Get()));
    EXPECT_EQ((Texts{L"renamed=o", L"g=other"}), test::Entries(fields.Get()));
}

TEST(DatatypesErrors, BadIndexesAndNothingGiveReadableErrors) {
    ComPtr<IFieldCollection> fields = NewFields({{L"a", L"1"}});
    ComPtr<IField> item;
    for (LONG bad : {0L, 2L, -5L}) {
        EXPECT_EQ(L"Index " + std::to_wstring(bad) + L" is out of range (1..1).", Failure(fields->get_Item(bad, &item)));
        EXPECT_FALSE(item);
    }
    EXPECT_EQ(L"Index 7 is out of range (1..1).", Failure(fields->Remove(7)));
    EXPECT_EQ(L"The field to add is nothing.", Failure(fields->Add(nullptr)));
    ComPtr<IQarnDocument> document;  // an empty collection of another class
    EXPECT_EQ(L"Index 1 is out of range (1..0).",
              Failure(Create<IQarnDocumentCollection>(CLSID_QarnDocumentCollection)->get_Item(1, &document)));
}

// A list with a field, a structure and a two-row table.
ComPtr<IParameterList> SampleList() {
    ComPtr<IParameterList> list = Create<IParameterList>(CLSID_ParameterList);
    EXPECT_EQ(S_OK, list->put_FieldCollection(NewFields({{L"top", L"T"}}).Get()));
    AddStructure(list.Get(), L"S", NewFields({{L"a", L"1"}, {L"b", L"2"}}));
    AddTable(list.Get(), L"T", {NewFields({{L"id", L"r1"}, {L"v", L"val-r1"}}), NewFields({{L"id", L"r2"}, {L"v", L"val-r2"}})});
    return list;
}

TEST(DatatypesParameterList, LookupsGiveFieldsOrNothing) {
    ComPtr<IParameterList> list = SampleList();
    ComPtr<IField> field;
    // The texts of the fields the lookups gave, "<none>" for nothing.
    std::wstring texts;
    auto text = [&](HRESULT hr) { texts += (hr == S_OK ? (field ? TextOf(field.Get()) : L"<none>") : L"failed") + std::wstring(L" "); };
    text(list->GetField(Str(L"top"), &field));
    text(list->GetStructureField(Str(L"b"), Str(L"S"), &field));
    text(list->GetTableField(Str(L"v"), Str(L"T"), 2, &field));
    text(list->FindTableField(Str(L"v"), Str(L"T"), Str(L"id"), Str(L"r1"), &field));
    text(list->GetField(Str(L"missing"), &field));
    text(list->GetStructureField(Str(L"a"), Str(L"none"), &field));
    text(list->GetTableField(Str(L"v"), Str(L"T"), 0, &field));
    text(list->GetTableField(Str(L"v"), Str(L"T"), 3, &field));
    text(list->FindTableField(Str(L"v"), Str(L"T"), Str(L"id"), Str(L"r9"), &field));
    EXPECT_EQ(L"T 2 val-r2 val-r1 <none> <none> <none> <none> <none> ", texts);

    ComPtr<IStructure> structure;
    ComPtr<ITable> table;
    Str summary;
    ASSERT_TRUE(SUCCEEDED(list->GetStructure(Str(L"S"), &structure)) && SUCCEEDED(structure->get_Text(summary.Out())));
    EXPECT_EQ(L"a=1; b=2", summary.View());
    ASSERT_EQ(S_OK, list->GetTable(Str(L"nope"), &table));
    EXPECT_FALSE(table);

    // Puts replace; nothing gives a fresh empty collection, never nothing.
    ComPtr<ITableCollection> tables;
    LONG count = -1;
    ASSERT_EQ(S_OK, list->put_TableCollection(nullptr));
    ASSERT_TRUE(SUCCEEDED(list->get_TableCollection(&tables)) && tables);
    EXPECT_TRUE(SUCCEEDED(tables->get_Count(&count)) && count == 0) << count;
}

TEST(DatatypesParameterList, CloneIsDeepAndKeepsSharing) {
    ComPtr<IParameterList> list = SampleList(), copy;
    ComPtr<IFieldCollection> fields, attributes = NewFields({{L"source", L"file"}}), copyAttributes, copyFields;
    ComPtr<IField> twice = MakeField(L"twice", L"t"), field, first, second;
    ASSERT_EQ(S_OK, list->put_Attributes(attributes.Get()));
    ASSERT_EQ(S_OK, list->get_FieldCollection(&fields));
    ASSERT_TRUE(SUCCEEDED(fields->Add(twice.Get())) && SUCCEEDED(fields->Add(twice.Get())));

    // Changes to the copy's members leave the original alone.
    ASSERT_EQ(S_OK, list->Clone(&copy));
    ASSERT_TRUE(SUCCEEDED(copy->GetStructureField(Str(L"b"), Str(L"S"), &field)) &&
                SUCCEEDED(field->put_Value(Variant(L"changed"))));
    ASSERT_TRUE(SUCCEEDED(copy->GetTableField(Str(L"v"), Str(L"T"), 1, &field)) && SUCCEEDED(field->put_Name(Str(L"renamed"))));
    ASSERT_EQ(S_OK, copy->get_Attributes(&copyAttributes));
    ASSERT_EQ(Texts{L"source=file"}, test::Entries(copyAttributes.Get()));
    EXPECT_NE(attributes.Get(), copyAttributes.Get());
    ASSERT_TRUE(SUCCEEDED(copyAttributes->get_Item(1, &field)) && SUCCEEDED(field->put_Value(Variant(L"other"))));

    ASSERT_EQ(S_OK, list->GetStructureField(Str(L"b"), Str(L"S"), &field));
    EXPECT_EQ(L"2", TextOf(field.Get()));
    ASSERT_EQ(S_OK, list->GetTableField(Str(L"v"), Str(L"T"), 1, &field));
    EXPECT_EQ(L"val-r1", TextOf(field.Get()));
    EXPECT_EQ(Texts{L"source=file"}, test::Entries(attributes.Get()));

    // The field held twice is copied once and held twice by the copy.
    ASSERT_EQ(S_OK, copy->get_FieldCollection(&copyFields));
    ASSERT_TRUE(SUCCEEDED(copyFields->get_Item(2, &first)) && SUCCEEDED(copyFields->get_Item(3, &second)));
    EXPECT_EQ(first.Get(), second.Get());
    EXPECT_NE(twice.Get(), first.Get());
}

TEST(DatatypesParameterList, CloneRefusesCyclesAndExcessiveDepth) {
    ComPtr<IParameterList> list = Create<IParameterList>(CLSID_ParameterList), copy;
    ComPtr<IFieldCollection> fields;
    ComPtr<IField> self = MakeField(L"self", L"s");
    ASSERT_EQ(S_OK, list->get_FieldCollection(&fields));
    ASSERT_EQ(S_OK, fields->Add(self.Get()));
    ASSERT_EQ(S_OK, self->put_Attributes(fields.Get()));  // the collection holds itself
    EXPECT_EQ(L"The parameter list cannot be copied: an object contains itself through its attributes.", Failure(list->Clone(&copy)));
    ASSERT_EQ(S_OK, self->put_Attributes(nullptr));  // break the cycle so everything is freed

    // Attribute chains: 100 levels copy, 1000 levels are refused.
    for (int levels : {100, 1000}) {
        ComPtr<IParameterList> deep = Create<IParameterList>(CLSID_ParameterList);
        ComPtr<IFieldCollection> current;
        ASSERT_EQ(S_OK, deep->get_FieldCollection(&current));
        for (int i = 0; i < levels; ++i) {
            ComPtr<IField> field = MakeField(L"f", L"v");
            ASSERT_EQ(S_OK, current->Add(field.Get()));
            current = NewFields();
            ASSERT_EQ(S_OK, field->put_Attributes(current.Get()));
        }
        EXPECT_EQ(levels == 100 ? S_OK : DISP_E_EXCEPTION, deep->Clone(&copy)) << levels;
    }
    EXPECT_EQ(L"The parameter list cannot be copied: its objects are nested more than 256 levels deep.", TakeMessage());
}

// The snapshot a list takes of itself (the member in no type library), and a new list read from it.
HRESULT Snapshot(IParameterList* list, Variant& bytes) {
    DISPPARAMS none{};
    return list->Invoke(kSnapshotDispid, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &bytes, nullptr, nullptr);
}
HRESULT ReadSnapshot(const BYTE* data, ULONG size, ComPtr<IParameterList>& list) {
    list = Create<IParameterList>(CLSID_ParameterList);
    ComPtr<IQarnOwnParameterList> own;
    EXPECT_EQ(S_OK, list.As(&own));
    return own->ReadSnapshot(data, size);
}

TEST(DatatypesParameterList, SnapshotReadsBackAsClonesCopy) {
    // Values of every kind a snapshot carries, attributes on every level, a field held twice.
    ComPtr<IParameterList> list = SampleList(), back, clone;
    ComPtr<IFieldCollection> fields, attributes = NewFields({{L"x3nc", L"true"}});
    ComPtr<IField> twice = MakeField(L"twice", L"t");
    ASSERT_EQ(S_OK, list->get_FieldCollection(&fields));
    VARIANT values[6];
    for (VARIANT& v : values) VariantInit(&v);
    values[0].vt = VT_I4, values[0].lVal = -7;
    values[1].vt = VT_R8, values[1].dblVal = 2.5;
    values[2].vt = VT_DATE, values[2].date = 45000.25;
    values[3].vt = VT_NULL;
    values[4].vt = VT_BOOL, values[4].boolVal = VARIANT_TRUE;
    VarDecFromStr(const_cast<OLECHAR*>(L"12345678901234.5678"), LOCALE_INVARIANT, 0, &values[5].decVal);
    values[5].vt = VT_DECIMAL;
    for (int i = 0; i < 6; ++i) ASSERT_EQ(S_OK, fields->SetValue(Str(L"v" + std::to_wstring(i)), values[i]));
    ASSERT_TRUE(SUCCEEDED(fields->Add(twice.Get())) && SUCCEEDED(fields->Add(twice.Get())));
    ASSERT_TRUE(SUCCEEDED(twice->put_Attributes(attributes.Get())) && SUCCEEDED(list->put_Attributes(attributes.Get())));

    Variant bytes;
    ASSERT_EQ(S_OK, Snapshot(list.Get(), bytes));
    ASSERT_EQ(VT_ARRAY | VT_UI1, bytes.vt);
    const auto* data = static_cast<const BYTE*>(bytes.parray->pvData);
    const ULONG size = bytes.parray->rgsabound[0].cElements;
    ASSERT_EQ(S_OK, ReadSnapshot(data, size, back)) << TakeMessage();
    ASSERT_EQ(S_OK, list->Clone(&clone));
    Str xmlBack, xmlClone;
    ASSERT_TRUE(SUCCEEDED(back->get_Xml(xmlBack.Out())) && SUCCEEDED(clone->get_Xml(xmlClone.Out())));
    EXPECT_EQ(xmlClone.View(), xmlBack.View());
    ComPtr<IFieldCollection> backFields;
    ComPtr<IField> field, first, second;
    ASSERT_EQ(S_OK, back->get_FieldCollection(&backFields));
    for (int i = 0; i < 6; ++i) {
        Variant value;
        ASSERT_TRUE(SUCCEEDED(backFields->get_Field(Str(L"v" + std::to_wstring(i)), &field)) && SUCCEEDED(field->get_Value(&value)));
        EXPECT_EQ(values[i].vt, value.vt) << i;
        if (value.vt != VT_NULL) EXPECT_EQ(VARCMP_EQ, VarCmp(&value, &values[i], LOCALE_INVARIANT, 0)) << i;
    }
    ASSERT_TRUE(SUCCEEDED(backFields->get_Item(8, &first)) && SUCCEEDED(backFields->get_Item(9, &second)));
    EXPECT_EQ(first.Get(), second.Get());
    EXPECT_NE(twice.Get(), first.Get());

    // Every shorter or damaged snapshot is refused with a message, never half read.
    for (ULONG cut = 0; cut < size; cut += 1 + cut / 64) {
        EXPECT_EQ(DISP_E_EXCEPTION, ReadSnapshot(data, cut, back)) << cut;
        EXPECT_EQ(0u, TakeMessage().find(L"The snapshot of a parameter list cannot be read: ")) << cut;
    }
    std::vector<BYTE> damaged(data, data + size);
    for (size_t at = 24; at < damaged.size(); at += 7) damaged[at] ^= 0xA5;
    const HRESULT hr = ReadSnapshot(damaged.data(), size, back);
    if (FAILED(hr)) EXPECT_EQ(0u, TakeMessage().find(L"The snapshot of a parameter list cannot be read: "));

    // A list holding an object as a value takes no snapshot: its callers copy it as before.
    Variant object;
    object.vt = VT_DISPATCH;
    ASSERT_EQ(S_OK, Create<IField>(CLSID_Field)->QueryInterface(IID_PPV_ARGS(&object.pdispVal)));
    ASSERT_EQ(S_OK, fields->SetValue(Str(L"object"), object));
    Variant none;
    EXPECT_EQ(DISP_E_EXCEPTION, Snapshot(list.Get(), none));
    EXPECT_EQ(L"The parameter list cannot be taken as a snapshot: a value is neither a text nor a number.", TakeMessage());
    for (VARIANT& v : values) VariantClear(&v);
}

// Parses with MSXML 6 (`loaded` tells whether it worked) and gives the text of the node at `xpath`.
struct Parsed {
    explicit Parsed(BSTR xml) {
        CLSID clsid{};
        VARIANT_BOOL ok = VARIANT_FALSE;
        loaded = SUCCEEDED(CLSIDFromProgID(L"Msxml2.DOMDocument.6.0", &clsid)) &&
                 SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument,
                                            reinterpret_cast<void**>(doc_.GetAddressOf()))) &&
                 SUCCEEDED(doc_->put_preserveWhiteSpace(VARIANT_TRUE)) && doc_->loadXML(xml, &ok) == S_OK && ok;
    }
    std::wstring At(const wchar_t* xpath) {
        ComPtr<IXMLDOMNode> node;
        Str text;
        const bool found = doc_->selectSingleNode(Str(xpath), &node) == S_OK && SUCCEEDED(node->get_text(text.Out()));
        return found ? std::wstring(text.View()) : L"<missing>";
    }
    bool loaded = false;
    ComPtr<IXMLDOMDocument> doc_;
};

TEST(DatatypesXml, HostileTextStaysWellFormedAndReadsBack) {
    Str xml;
    ASSERT_EQ(S_OK, Create<IParameterList>(CLSID_ParameterList)->get_Xml(xml.Out()));
    EXPECT_EQ(L"<Parameter><FieldCollection></FieldCollection><StructureCollection></StructureCollection>"
              L"<TableCollection></TableCollection></Parameter>",
              xml.View()) << "an empty list has the three collections";

    ComPtr<IParameterList> list = SampleList();
    ComPtr<IFieldCollection> fields;
    const std::wstring hostile =
        L"<&>\"' a\x01"
        L"b\r\nc\t\xD83D\xDE00 lone\xD800!";
    // Attribute names that are no XML names are left out; of two equal names the last one counts.
    ComPtr<IFieldCollection> attributes = NewFields({{L"note", hostile}, {L"mode", L"first"}, {L"mode", L"last"},
        {L"two words", L"dropped"}, {L"1st", L"dropped"}, {L"p:x", L"dropped"}, {L"xmlns", L"dropped"}, {L"", L"dropped"},
        {L"a<b", L"dropped"}});
    ComPtr<IField> evil = MakeField(L"evil", hostile.c_str());
    ASSERT_EQ(S_OK, evil->put_Attributes(attributes.Get()));
    ASSERT_EQ(S_OK, list->put_Attributes(attributes.Get()));
    ASSERT_EQ(S_OK, list->get_FieldCollection(&fields));
    ASSERT_EQ(S_OK, fields->Add(evil.Get()));

    ASSERT_EQ(S_OK, list->get_Xml(xml.Out()));
    Parsed doc(xml);
    ASSERT_TRUE(doc.loaded) << qarn::ToUtf8(xml.View());
    // The control character and the lone surrogate are left out; everything else comes back.
    for (const wchar_t* at : {L"/Parameter/FieldCollection/Field[Name='evil']/Value", L"/Parameter/@note",
                              L"/Parameter/FieldCollection/Field[Name='evil']/@note"})
        EXPECT_EQ(L"<&>\"' ab\r\nc\t\xD83D\xDE00 lone!", doc.At(at)) << at;
    EXPECT_EQ(L"last", doc.At(L"/Parameter/@mode"));
    EXPECT_EQ(L"<missing>", doc.At(L"/Parameter/@xmlns"));
    EXPECT_EQ(L"T", doc.At(L"/Parameter/FieldCollection/Field[Name='top']/Value"));
    EXPECT_EQ(L"2", doc.At(L"/Parameter/StructureCollection/Structure[Name='S']/FieldCollection/Field[Name='b']/Value"));
    EXPECT_EQ(L"val-r2", doc.At(L"/Parameter/TableCollection/Table[Name='T']/FieldCollectionTable/FieldCollection[2]/"
                                L"Field[Name='v']/Value"));
}

}  // namespace
