// Parameter-list engine of CQarnUtilities through real activation: field evaluation, collections
// and mappings, the builder with its events, templates and merging, and the transaction lookup
// with customer files, XSLT and another installation root. The script engine, the XSLT processor
// and the field function component are the doubles "QarnTest.ScriptEngine", "QarnTest.XsltProcessor"
// and "QarnTest.FieldFunction".
#include <gtest/gtest.h>

#include <initializer_list>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "TestSupport.h"
#include "UtilitiesSupport.h"
#include "dom/Dom.h"

using namespace test;

namespace {

void SetEnv(const wchar_t* name, const std::optional<std::wstring>& value) {
    SetEnvironmentVariableW(name, value ? value->c_str() : nullptr);
}

std::string Field(const char* name, const char* value) {
    return std::string("<Field><Name>") + name + "</Name><Value>" + value + "</Value></Field>";
}

std::string Transaction(const std::string& alias, const std::string& parameter) {
    return "<Transaction><Aliasname>" + alias + "</Aliasname><Import>" + parameter + "</Import></Transaction>";
}

// A transaction whose list holds the single field name=value.
std::string OneField(const std::string& alias, const char* name, const char* value) {
    return Transaction(alias, "<Parameter><FieldCollection>" + Field(name, value) + "</FieldCollection></Parameter>");
}

std::wstring AttributeOf(IParameterList* list, const wchar_t* name) {
    ComPtr<IFieldCollection> attributes;
    if (list) list->get_Attributes(&attributes);
    return ValueOf(attributes.Get(), name);
}

// The first field of a list as "name=value", telling an empty VARIANT and an object apart from text.
std::wstring FirstField(IParameterList* list) {
    ComPtr<IFieldCollection> fields;
    ComPtr<IField> field;
    if (!list || FAILED(list->get_FieldCollection(&fields)) || FAILED(fields->get_Item(1, &field)) || !field)
        return L"(no field)";
    Str name;
    Variant value;
    field->get_Name(name.Out());
    field->get_Value(value.Out());
    const std::wstring head = std::wstring(name.View()) + L"=";
    switch (value.vt) {
        case VT_EMPTY: return head + L"(empty)";
        case VT_BSTR: return head + ToWide(value.bstrVal);
        case VT_DISPATCH: return head + L"(object)";
        default: return head + L"(type " + std::to_wstring(value.vt) + L")";
    }
}

// What a client passes as its input: two fields, the structure HEAD and the table ITEMS with two rows.
ComPtr<IParameterList> ContextList() {
    auto list = test::Create<IParameterList>(CLSID_ParameterList);
    list->put_FieldCollection(NewFields({{L"Material", L"4711"}, {L"Descr", L"old"}}).Get());
    AddStructure(list.Get(), L"HEAD", NewFields({{L"Plant", L"1000"}}));
    AddTable(list.Get(), L"ITEMS", {NewFields({{L"Pos", L"10"}, {L"Mat", L"A"}}), NewFields({{L"Pos", L"20"}, {L"Mat", L"B"}})});
    return list;
}

const Texts kContextFields{L"Material=4711", L"Descr=old"};

// A caller's list made in a single-threaded apartment of its own (a host's other thread), which
// serves calls until the scope ends; `list` is its proxy here.
class ListOfAnotherApartment {
public:
    ListOfAnotherApartment() : ready_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        thread_ = std::thread([this] {
            CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            {
                ComPtr<IParameterList> own = ContextList();
                CoMarshalInterThreadInterfaceInStream(IID_IParameterList, own.Get(), &stream_);
                threadId_ = GetCurrentThreadId();
                SetEvent(ready_);
                MSG message;
                while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
            }
            CoUninitialize();
        });
        WaitForSingleObject(ready_, INFINITE);
        CoGetInterfaceAndReleaseStream(stream_, IID_IParameterList, reinterpret_cast<void**>(list.GetAddressOf()));
    }
    ~ListOfAnotherApartment() {
        list.Reset();
        PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
        thread_.join();
        CloseHandle(ready_);
    }
    ComPtr<IParameterList> list;

private:
    HANDLE ready_;
    IStream* stream_ = nullptr;
    DWORD threadId_ = 0;
    std::thread thread_;
};

class ParamList : public ::testing::Test {
protected:
    ParamList() {
        CreateDirectoryW((root / L"xml").c_str(), nullptr);
        u->put_Properties(properties.Get());
        u->put_Messages(messages.Get());
    }

    // Writes the definition file "xml\<name>" below `at` with the given transactions; its full path.
    std::wstring Define(const std::wstring& name, const std::string& transactions, const ScratchFolder* at = nullptr) {
        return (at ? *at : root).Write(L"xml\\" + name, "<Qarn>" + transactions + "</Qarn>");
    }
    ComPtr<IParameterList> Build(const std::string& parameter, IDispatch* context = nullptr) {
        ComPtr<IParameterList> list;
        EXPECT_EQ(S_OK, u->GetXmlParameterListFromXMLString3(Str(Wide(parameter)), Str(L"Parameter"), context, &list))
            << TakeMessage();
        return list;
    }
    HRESULT Lookup(const wchar_t* alias, ComPtr<IParameterList>& list, IDispatch* context = nullptr) {
        return u->GetXmlParameterList(Str(L"main.xml"), Str(alias), context, list.ReleaseAndGetAddressOf());
    }

    ScratchFolder root{L"paramlist"};
    ScopedVariable rootVariable{L"QarnRootDir", root.path().c_str()};
    ComPtr<IQarnUtilities> u = test::Create<IQarnUtilities>(CLSID_CQarnUtilities);
    ComPtr<IFieldCollection> properties = NewFields({{L"Plant", L"0815"}, {L"StructName", L"HEADER"}});
    ComPtr<IFieldCollection> messages = NewFields({{L"M0100", L"Hello"}});
};

TEST_F(ParamList, FieldValues) {
    ScopedVariable variable(L"QARN_PL_VAR", L"abc");
    ComPtr<IField> encrypted;
    ASSERT_EQ(S_OK, u->Encrypt(Str(L"Password"), Str(L"secret"), &encrypted));
    Variant stored;
    encrypted->get_Value(stored.Out());
    ComPtr<IParameterList> context = ContextList();
    auto document = test::Create<IQarnDocument>(CLSID_QarnDocument);
    document->put_ParameterList(context.Get());

    enum Source { None, List, Document };
    const std::string fromList = "<Type>ParameterList</Type><Subtype>", items = "TableCollection</Subtype><Tablename>ITEMS</Tablename>";
    const struct {
        std::string field;  // the elements after <Name>F</Name>, or a whole <Field> element
        Source source;
        const wchar_t* expected;
    } cases[] = {
        {"", None, L"F=(empty)"},
        {"<Value>v</Value><ValueFromProperty>Unset</ValueFromProperty>", None, L"F="},
        {"<Field kind='k'><Name>F</Name><ValueFromNodeAttributes>kind</ValueFromNodeAttributes></Field>", None, L"F=k"},
        {"<Value>v</Value><ValueFromNodeAttributes>kind</ValueFromNodeAttributes>", None, L"F=v"},
        {"<Type>QarnProperty</Type><Attribute>Plant</Attribute>", None, L"F=0815"},
        {"<Value>v</Value><Type>QarnProperty</Type><Attribute>Unset</Attribute>", None, L"F=(empty)"},
        {"<Type>QarnMessage</Type><Attribut>M0100</Attribut>", None, L"F=Hello"},
        {"<Type>QarnDispatch</Type>", List, L"F=(object)"},
        {fromList + "FieldCollection</Subtype><Attribute>Material</Attribute>", List, L"F=4711"},
        {fromList + "StructureCollection</Subtype><Structurename>HEAD</Structurename><Attribute>Plant</Attribute>", List, L"F=1000"},
        {fromList + items + "<Row>2</Row><Attribute>Mat</Attribute>", List, L"F=B"},
        {fromList + items + "<Searchname>Pos</Searchname><Searchvalue>10</Searchvalue><Attribute>Mat</Attribute>", List, L"F=A"},
        {fromList + "FieldCollection</Subtype><Attribute>Missing</Attribute>", List, L"F="},
        {"<Type>QarnDocument</Type><Subtype>StructureCollection</Subtype><Structurename>HEAD</Structurename><Attribute>Plant</Attribute>",
         Document, L"F=1000"},
        {"<Value>v</Value><Type>Other</Type>", None, L"F=(empty)"},
        {"<Value>%QARN_PL_VAR%\\x;%QARN_PL_UNSET%</Value>", None, L"F=abc\\x;%QARN_PL_UNSET%"},
        {"<Value>abc</Value><Function>upper</Function>", None, L"F=ABC"},
        {"<Value>abc</Value><Type>QarnProperty</Type><Attribute>Plant</Attribute><Function>upper</Function>", None, L"F=ABC"},
        {"<Value>abc</Value><Function>fail</Function>", None, L"F=failed"},
        {"<Field x3nc='true'><Name>Password</Name><Value>" + std::string(qarn::ToAnsi(ToWide(stored.bstrVal))) + "</Value></Field>",
         None, L"Password=secret"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        IDispatch* source = c.source == List ? static_cast<IDispatch*>(context.Get())
                                             : c.source == Document ? static_cast<IDispatch*>(document.Get()) : nullptr;
        const std::string field = c.field.rfind("<Field", 0) == 0 ? c.field : "<Field><Name>F</Name>" + c.field + "</Field>";
        EXPECT_EQ(c.expected, FirstField(Build("<Parameter><FieldCollection>" + field + "</FieldCollection></Parameter>", source).Get()));
    }

    // A context that is no parameter list: both a field and a mapping refuse it, naming the attribute.
    ComPtr<IField> notAList = test::Create<IField>(CLSID_Field);
    // The member that refuses it reports with one "at" line; the callers add their two each.
    const struct {
        std::string xml;
        const wchar_t *attribute, *member;
    } conflicts[] = {
        {"<Field><Name>F</Name>" + fromList + "FieldCollection</Subtype><Attribute>Material</Attribute></Field>", L"Material",
         L"DOMCreateFieldEntry"},
        {"<Mapping><Type>ParameterList</Type><Subtype>FieldCollection</Subtype></Mapping>", L"", L"DOMCreateMapping"},
    };
    for (const auto& [xml, attribute, member] : conflicts) {
        ComPtr<IParameterList> list;
        EXPECT_EQ(DISP_E_EXCEPTION, u->GetXmlParameterListFromXMLString3(Str(Wide("<Parameter><FieldCollection>" + xml +
                                        "</FieldCollection></Parameter>")), Str(L"Parameter"), notAList.Get(), &list));
        EXPECT_EQ(0u, TakeReport().find(std::wstring(L"QueryInterface to IParameterList failed, Type conflict in xml node: ") +
                                        attribute + L"\n   at CQarnUtilities::" + member +
                                        L": line #\n   at CQarnUtilities::DOMCreateFieldCollectionEntry_intern: line #\n"));
        EXPECT_FALSE(list);
    }
}

TEST_F(ParamList, CollectionsMappingsAndRoundTrip) {
    ComPtr<IParameterList> context = ContextList();
    auto mapping = [](const std::string& body) { return "<Mapping><Type>ParameterList</Type>" + body + "</Mapping>"; };
    const std::string table = "<Subtype>TableCollection</Subtype><Tablename>ITEMS</Tablename>";
    const struct {
        std::string content;
        Texts expected;
    } cases[] = {
        {Field("first", "1") + mapping("<Subtype>FieldCollection</Subtype>") + Field("last", "9"),
         {L"first=1", L"Material=4711", L"Descr=old", L"last=9"}},
        {mapping("<Subtype>StructureCollection</Subtype><Structurename>HEAD</Structurename>"), {L"Plant=1000"}},
        {mapping("<Subtype>StructureCollection</Subtype><Structurename>NONE</Structurename>"), {}},
        {mapping(table + "<Row>2</Row>"), {L"Pos=20", L"Mat=B"}},
        {mapping(table + "<Row>0</Row><Searchname>Pos</Searchname><Searchvalue>10</Searchvalue>"), {L"Pos=10", L"Mat=A"}},
        {mapping(table + "<Row>0</Row><Searchname>Pos</Searchname><Searchvalue>99</Searchvalue>"), {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.content);
        EXPECT_EQ(c.expected, FieldsOf(Build("<Parameter><FieldCollection>" + c.content + "</FieldCollection></Parameter>",
                                             context.Get()).Get()));
    }

    // Structures named from a property, with the fields of all their field collections (not their
    // attributes); a table takes the rows of all its row groups in order.
    const std::string rows = "<FieldCollectionTable><FieldCollection>" + Field("R", "1") + "</FieldCollection>"
                             "<FieldCollection>" + Field("R", "2") + "</FieldCollection></FieldCollectionTable>"
                             "<FieldCollectionTable><FieldCollection>" + Field("R", "3") + "</FieldCollection></FieldCollectionTable>";
    ComPtr<IParameterList> list = Build(
        "<Parameter kind='k'><FieldCollection><Field unit='mm'><Name>L</Name><Value>5</Value></Field></FieldCollection>"
        "<StructureCollection><Structure><NameFromProperty>StructName</NameFromProperty><FieldCollection c='1'>" +
        Field("S", "s") + "</FieldCollection><FieldCollection>" + Field("S2", "t") + "</FieldCollection></Structure></StructureCollection>"
        "<TableCollection><Table><Name>T</Name>" + rows + "</Table></TableCollection></Parameter>");
    ASSERT_TRUE(list);
    ComPtr<IField> structureField;
    ASSERT_EQ(S_OK, list->GetStructureField(Str(L"S"), Str(L"HEADER"), &structureField));
    EXPECT_TRUE(structureField);
    ComPtr<IStructure> structure;
    ComPtr<IFieldCollection> structureFields, structureAttributes;
    ASSERT_EQ(S_OK, list->GetStructure(Str(L"HEADER"), &structure));
    ASSERT_EQ(S_OK, structure->get_FieldCollection(&structureFields));
    EXPECT_EQ((Texts{L"S=s", L"S2=t"}), Entries(structureFields.Get()));
    EXPECT_EQ(S_OK, structureFields->get_Attributes(&structureAttributes));
    EXPECT_FALSE(structureAttributes);
    EXPECT_EQ((Texts{L"R=1", L"R=2", L"R=3"}), Rows(list.Get(), L"T"));

    // A built list's Xml reads back to the same list.
    Str xml, again;
    ASSERT_EQ(S_OK, list->get_Xml(xml.Out()));
    ComPtr<IParameterList> back = Build(std::string(qarn::ToAnsi(xml.View())));
    ASSERT_TRUE(back);
    back->get_Xml(again.Out());
    EXPECT_EQ(xml.View(), again.View());
}

TEST_F(ParamList, BuilderEventsAndTemplates) {
    const std::string engine = " scriptEngine='QarnTest.ScriptEngine' methodName=";
    ComPtr<IParameterList> list = Build("<Parameter><PreAction" + engine + "'Event'/><PostAction" + engine +
                                        "'Event'/><FieldCollection>" + Field("A", "1") + Field("B", "2") +
                                        "</FieldCollection></Parameter>");
    EXPECT_EQ((Texts{L"event=seen 0", L"A=1", L"B=2", L"event=seen 3"}), FieldsOf(list.Get()));
    EXPECT_EQ((Texts{L"HandlePreEvent=TYPE=S; MESSAGE=seen 0", L"HandlePostEvent=TYPE=S; MESSAGE=seen 3"}),
              AttributesOf(list.Get()));

    list = Build("<Parameter a='1' b='2'/>");
    EXPECT_EQ((Texts{L"a=1", L"b=2"}), AttributesOf(list.Get()));
    EXPECT_EQ(Texts{}, FieldsOf(list.Get()));

    // A failing macro ends the build with the engine's text.
    EXPECT_EQ(L"Macro failed on request", Failure(u->GetXmlParameterListFromXMLString3(Str(Wide("<Parameter><PostAction" +
        engine + "'Fail'/></Parameter>")), Str(L"Parameter"), nullptr, list.ReleaseAndGetAddressOf())));
    EXPECT_FALSE(list);

    // A template replaces the list; its fields read the list being built as their context, and the
    // post event works on that list, not on the template's.
    const std::wstring main = Define(L"main.xml", Transaction("Derived", "<Parameter TemplateName='Base' TemplateFile='base.xml'>"
                                                                         "<PostAction" + engine + "'Event'/><FieldCollection>" +
                                                                         Field("Material", "4711") + "</FieldCollection></Parameter>"));
    const std::wstring base = Define(
        L"base.xml", Transaction("Base", "<Parameter><FieldCollection>" + Field("Own", "b") +
                                             "<Field><Name>Copy</Name><Type>ParameterList</Type><Subtype>FieldCollection"
                                             "</Subtype><Attribute>Material</Attribute></Field></FieldCollection></Parameter>"));
    ASSERT_EQ(S_OK, Lookup(L"Derived", list)) << TakeMessage();
    EXPECT_EQ((Texts{L"Own=b", L"Copy=4711"}), FieldsOf(list.Get()));
    EXPECT_EQ((Texts{L"source=" + base, L"transaction=Base", L"source=" + main, L"transaction=Derived"}),
              AttributesOf(list.Get()));

    // A template that names its own transaction fails instead of nesting without end; eight
    // templates deep is the most (L1 leads through L2 ... L9, L0 one step further).
    std::string chain = Transaction("Loop", "<Parameter TemplateName='Loop' TemplateFile='main.xml'/>");
    for (int i = 0; i < 10; ++i)
        chain += Transaction("L" + std::to_string(i), i == 9 ? "<Parameter/>" : "<Parameter TemplateName='L" + std::to_string(i + 1) +
                                                                                  "' TemplateFile='main.xml'/>");
    Define(L"main.xml", chain);
    EXPECT_NE(std::wstring::npos, Failure(Lookup(L"Loop", list)).find(L"leads back to itself"));
    EXPECT_FALSE(list);
    EXPECT_EQ(S_OK, Lookup(L"L1", list)) << TakeMessage();
    EXPECT_NE(std::wstring::npos, Failure(Lookup(L"L0", list)).find(L"nested deeper than 8 levels"));
}

TEST_F(ParamList, MergeIntoTheCallersInput) {
    // The input's field Descr, structure HEAD and table ITEMS are on both sides.
    const std::string content = "><FieldCollection><Field unit='mm'><Name>Descr</Name><Value>new</Value></Field>" + Field("Extra", "e") +
                                "</FieldCollection><StructureCollection><Structure><Name>HEAD</Name><FieldCollection>" +
                                Field("Plant", "2000") + Field("Note", "n") + "</FieldCollection></Structure></StructureCollection>"
                                "<TableCollection><Table><Name>ITEMS</Name><FieldCollectionTable>"
                                "<FieldCollection>" + Field("Pos", "99") +
                                "</FieldCollection></FieldCollectionTable></Table></TableCollection></Parameter>";
    const Texts replaced{L"Material=4711", L"Descr=new", L"Extra=e"}, newRows{L"Pos=99"}, newHead{L"Plant=2000", L"Note=n"};
    const struct {
        const char* attributes;
        Texts fields, head, rows;
    } cases[] = {
        {" mergeIntoInput='TRUE'", replaced, newHead, newRows},
        {" mergeIntoInput='true' mergeOption_allowReplace='True'", replaced, newHead, newRows},
        {" mergeIntoInput='tRUE' mergeOption_allowReplace='no'", {L"Material=4711", L"Descr=old", L"Extra=e"},
         {L"Plant=1000", L"Note=n"}, {L"Pos=10, Mat=A", L"Pos=20, Mat=B"}},
        {" mergeIntoInput=' true'", {L"Descr=new", L"Extra=e"}, newHead, newRows},
    };
    const auto head = [](IParameterList* list) {
        ComPtr<IStructure> structure;
        ComPtr<IFieldCollection> fields;
        if (list && SUCCEEDED(list->GetStructure(Str(L"HEAD"), &structure)) && structure) structure->get_FieldCollection(&fields);
        return Entries(fields.Get());
    };
    const auto descrAttributes = [](IParameterList* list) {
        ComPtr<IFieldCollection> fields;
        ComPtr<IField> field;
        if (list && SUCCEEDED(list->get_FieldCollection(&fields)) && fields) fields->get_Field(Str(L"Descr"), &field);
        return AttributesOf(field.Get());
    };
    // The input as a list, as a document's list, and as a list of another apartment (a host's other thread).
    enum Input { AList, ADocument, AnotherApartment };
    for (const auto& c : cases) {
        for (const Input form : {AList, ADocument, AnotherApartment}) {
            SCOPED_TRACE(testing::Message() << c.attributes << (form == ADocument ? " in a document" : "")
                                            << (form == AnotherApartment ? " of another apartment" : ""));
            std::optional<ListOfAnotherApartment> other;
            if (form == AnotherApartment) other.emplace();
            ComPtr<IParameterList> input = form == AnotherApartment ? other->list : ContextList();
            ASSERT_TRUE(input);
            ComPtr<IDispatch> context = input;
            if (form == ADocument) {
                auto document = test::Create<IQarnDocument>(CLSID_QarnDocument);
                document->put_ParameterList(input.Get());
                context = document;
            }
            ComPtr<IParameterList> result = Build("<Parameter" + std::string(c.attributes) + content, context.Get());
            EXPECT_EQ(c.fields, FieldsOf(result.Get()));
            EXPECT_EQ(c.head, head(result.Get()));
            EXPECT_EQ(c.rows, Rows(result.Get(), L"ITEMS"));
            EXPECT_EQ(Texts{L"unit=mm"}, descrAttributes(result.Get())) << "the definition's field attributes are merged";
            EXPECT_EQ(0u, Joined(AttributesOf(result.Get()), L" ").find(L"mergeIntoInput=")) << "and its list attributes";
            EXPECT_NE(input.Get(), result.Get());
            EXPECT_EQ(kContextFields, FieldsOf(input.Get())) << "the caller's own list stays as it was";
        }
    }
}

TEST_F(ParamList, CustomerFilesAndTheirErrors) {
    const std::wstring regular = Define(L"main.xml", OneField("T", "src", "regular"));
    const std::wstring customer = Define(L"Customer_main.xml", OneField("T", "src", "customer"));
    ComPtr<IParameterList> list;
    ASSERT_EQ(S_OK, Lookup(L"T", list)) << TakeMessage();
    EXPECT_EQ(Texts{L"src=customer"}, FieldsOf(list.Get()));
    EXPECT_EQ((Texts{L"source=" + customer, L"transaction=T", L"isCustomerFile=true"}), AttributesOf(list.Get()));

    // A customer file without the transaction only leaves a warning.
    Define(L"Customer_main.xml", OneField("Other", "src", "customer"));
    const std::wstring node = L"Qarn/Transaction[Aliasname='T']/Import/Parameter";
    ASSERT_EQ(S_OK, Lookup(L"T", list)) << TakeMessage();
    EXPECT_EQ(Texts{L"src=regular"}, FieldsOf(list.Get()));
    const Texts attributes = AttributesOf(list.Get());
    EXPECT_EQ((Texts{L"source=" + regular, L"transaction=T"}), Texts(attributes.begin(), attributes.begin() + 2));
    EXPECT_EQ(0u, AttributeOf(list.Get(), L"customerWarning")
                      .find(L"Error in " + customer + L": Node " + node + L" not found in " + customer + L".\n   at "));

    // Both files failing: the regular file's error, then the customer file's; the store's text for M0013.
    messages->SetValue(Str(L"M0013"), Variant(std::wstring_view(L"Kein %s in %s")));
    const std::wstring missing = L"Qarn/Transaction[Aliasname='Nope']/Import/Parameter";
    EXPECT_EQ(DISP_E_EXCEPTION, Lookup(L"Nope", list));
    const std::wstring text = TakeReport();
    EXPECT_EQ(0u, text.find(L"Error in " + regular + L": Kein " + missing + L" in " + regular + L"\n   at ")) << text;
    EXPECT_NE(std::wstring::npos,
              text.find(L"\n\ncustomer error:\nError in " + customer + L": Kein " + missing + L" in " + customer + L"\n   at "))
        << text;
    // Each file's error keeps the line of its failed call; the lookup's report adds one line.
    const std::wstring lookupLine = L"\n   at CQarnUtilities::GetXmlParameterList: line #";
    size_t lines = 0;
    for (size_t at = text.find(lookupLine); at != std::wstring::npos; at = text.find(lookupLine, at + 1)) ++lines;
    EXPECT_EQ(3u, lines) << text;
    EXPECT_FALSE(list);
}

TEST_F(ParamList, AnotherInstallationRootForOneCall) {
    ScratchFolder other{L"paramlist-other"};
    CreateDirectoryW((other / L"xml").c_str(), nullptr);
    const std::wstring file = Define(L"main.xml", OneField("T", "src", "other"), &other);
    for (const std::optional<std::wstring>& before : {std::optional<std::wstring>(root.path()), std::optional<std::wstring>()}) {
        SetEnv(L"QarnRootDir", before);
        ComPtr<IParameterList> list;
        ASSERT_EQ(S_OK, u->GetXmlParameterList4(Str(L"main.xml"), Str(L"T"), nullptr, Str(other.path()), &list))
            << TakeMessage();
        EXPECT_EQ(file, AttributeOf(list.Get(), L"source"));
        EXPECT_EQ(before, qarn::EnvironmentValue(L"QarnRootDir"));
        EXPECT_NE(std::wstring::npos, Failure(u->GetXmlParameterList4(Str(L"main.xml"), Str(L"Missing"), nullptr,
                                                                      Str(other.path()), list.ReleaseAndGetAddressOf())).find(file));
        EXPECT_EQ(before, qarn::EnvironmentValue(L"QarnRootDir")) << "restored after a failure too";
    }
    // A folder no process variable can hold: nothing is read, no list, no failure.
    ComPtr<IParameterList> list;
    const std::wstring tooLong = other.path() + L"\\" + std::wstring(32767, L'a');
    EXPECT_EQ(S_OK, u->GetXmlParameterList4(Str(L"main.xml"), Str(L"T"), nullptr, Str(tooLong), &list)) << TakeMessage();
    EXPECT_FALSE(list);
}

TEST_F(ParamList, XsltStylesheetSuppliesTheList) {
    CreateDirectoryW((root / L"xml\\xsl").c_str(), nullptr);
    root.Write(L"xml\\xsl\\T.xsl",
               "<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>"
               "<xsl:template match='/'><Parameter kind='xslt'><FieldCollection><Field><Name>fromXslt</Name><Value>"
               "<xsl:value-of select=\"//Field[Name='Material']/Value\"/></Value></Field></FieldCollection></Parameter>"
               "</xsl:template></xsl:stylesheet>");
    Define(L"main.xml", OneField("U", "src", "file"));  // no transaction T: the stylesheet alone supplies it
    ASSERT_EQ(S_OK, u->SetProperty(Str(L"XSLTProcessor"), Str(L"true")));
    ComPtr<IParameterList> list;
    {
        // Without the processor (or the field function) the creation's own failure is reported.
        ScopedVariable unregistered(L"QarnTestUnregistered", L"XsltProcessor FieldFunction");
        const wchar_t* notRegistered = L"Unknown Error, code 0x80040154 (-2147221164)";
        EXPECT_EQ(notRegistered, Failure(Lookup(L"T", list, ContextList().Get())));
        EXPECT_EQ(notRegistered, Failure(u->GetXmlParameterListFromXMLString3(Str(L"<Parameter><FieldCollection><Field><Name>F"
            L"</Name><Value>a</Value><Function>upper</Function></Field></FieldCollection></Parameter>"),
            Str(L"Parameter"), nullptr, list.ReleaseAndGetAddressOf())));
    }
    ASSERT_EQ(S_OK, Lookup(L"T", list, ContextList().Get())) << TakeMessage();
    EXPECT_EQ(Texts{L"fromXslt=4711"}, FieldsOf(list.Get()));
    EXPECT_EQ((Texts{L"kind=xslt", L"source=" + (root / L"xml\\xsl\\main.xml"), L"transaction=T"}), AttributesOf(list.Get()));

    ASSERT_EQ(S_OK, Lookup(L"U", list)) << TakeMessage();
    EXPECT_EQ(Texts{L"src=file"}, FieldsOf(list.Get())) << "without a stylesheet the file is read";
}

TEST_F(ParamList, ParsedDocumentsAndTextsWithAndWithoutAlias) {
    const std::wstring file = Define(L"main.xml", OneField("T", "src", "doc"));
    Variant name(std::wstring_view(file.c_str()));
    ComPtr<IDispatch> document;
    ASSERT_EQ(S_OK, u->DOMParse(name, &document)) << TakeMessage();
    ComPtr<IParameterList> list;
    ASSERT_EQ(S_OK, u->GetXmlParameterList1(document.Get(), Str(L"T"), nullptr, &list)) << TakeMessage();
    EXPECT_EQ(Texts{L"src=doc"}, FieldsOf(list.Get()));
    EXPECT_EQ(Texts{}, AttributesOf(list.Get())) << "no context attributes from a parsed document";

    // Without an alias the document element Parameter is read; a file rooted at Qarn has none.
    EXPECT_EQ(DISP_E_EXCEPTION, u->GetXmlParameterList1(document.Get(), nullptr, nullptr, list.ReleaseAndGetAddressOf()));
    const std::wstring missing = TakeReport();
    ComPtr<IXMLDOMDocument2> parsed;
    ASSERT_EQ(S_OK, document.As(&parsed));
    Str url;
    ASSERT_EQ(S_OK, parsed->get_url(url.Out()));
    ASSERT_FALSE(url.IsEmpty()) << "DOMParse loads the file by its name";
    EXPECT_EQ(0u, missing.find(L"Node Parameter not found in " + std::wstring(url.View()) + L".\n   at ")) << missing;
    EXPECT_EQ(missing.find(L"\n   at "), missing.rfind(L"\n   at ")) << missing;
    ASSERT_EQ(S_OK, u->GetXmlParameterListFromXMLString(Str(L"<Parameter><FieldCollection>" + Wide(Field("A", "1")) +
                                                             L"</FieldCollection></Parameter>"),
                                                         Str(L""), nullptr, list.ReleaseAndGetAddressOf()))
        << TakeMessage();
    EXPECT_EQ(Texts{L"A=1"}, FieldsOf(list.Get()));

    // An apostrophe in the alias makes the selection invalid: a clear failure, no list.
    EXPECT_FALSE(Failure(u->GetXmlParameterList2(Str(file), Str(L"O'Neil"), nullptr, list.ReleaseAndGetAddressOf())).empty());
    EXPECT_FALSE(list);
}

}  // namespace

TEST_F(ParamList, DefinitionFilesInTheirOwnEncoding) {
    // The file's bytes go to the XML engine, which takes the encoding from the declaration or the
    // byte order mark.
    const std::string field = "<Field><Name>Monat</Name><Value>M\xE4rz</Value></Field>";
    const std::wstring latin1 = root.Write(L"xml\\latin1.xml", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>"
                                                               "<Parameter><FieldCollection>" + field +
                                                               "</FieldCollection></Parameter>");
    std::string utf16 = "\xFF\xFE";
    for (char c : "<Parameter><FieldCollection>" + field + "</FieldCollection></Parameter>") utf16 += {c, '\0'};  // Latin-1 units
    for (const std::wstring& file : {latin1, root.Write(L"xml\\utf16.xml", utf16)}) {
        ComPtr<IParameterList> list;
        ASSERT_EQ(S_OK, u->GetXmlParameterList3(Str(file), Str(L"Parameter"), nullptr, &list)) << TakeMessage();
        EXPECT_EQ(Texts{L"Monat=M\u00E4rz"}, FieldsOf(list.Get())) << file;
    }
    // A file that does not parse fails in the parse's frame, as a missing one does.
    for (const std::wstring& file : {root.Write(L"xml\\broken.xml", "<Parameter>"), (root / L"xml\\none.xml")}) {
        ComPtr<IParameterList> list;
        EXPECT_EQ(DISP_E_EXCEPTION, u->GetXmlParameterList3(Str(file), Str(L"Parameter"), nullptr, &list));
        const std::wstring text = test::TakeErrorDescription();
        EXPECT_NE(std::wstring::npos, text.find(L"\n   at CQarnUtilities::DOMParse: line ")) << text;
        EXPECT_FALSE(list);
    }
}
