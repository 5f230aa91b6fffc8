// DOM helpers of CQarnUtilities through real activation: parsing, selection into fields, tables
// and node-list walks, decryption and environment references, and writing parameter-list files.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "UtilitiesSupport.h"
#include "documents/Dom.h"
#include "documents/XmlProlog.h"

#include <functional>

#include <sddl.h>

using namespace test;

namespace {

constexpr char kParameterXml[] =
    "<Parameter><FieldCollection>"
    "<Field>first</Field><!-- a note --><Field>second</Field>text between"
    "<Path kind=\"env\">%QARN_DOM_TEST%\\sub;%QARN_NOT_SET%</Path>"
    "<Count xmlns:dt=\"urn:schemas-microsoft-com:datatypes\" dt:dt=\"int\">42</Count>"
    "</FieldCollection></Parameter>";

std::wstring Wide(std::string_view ascii) { return std::wstring(ascii.begin(), ascii.end()); }


class Dom : public ::testing::Test {
protected:
    ComPtr<IQarnUtilities> u = test::Create<IQarnUtilities>(CLSID_CQarnUtilities);
    ScratchFolder dir{L"dom"};

    ComPtr<IDispatch> Parse(const std::wstring& xml) {
        ComPtr<IDispatch> doc;
        EXPECT_EQ(S_OK, u->DOMParse2(Str(xml), &doc)) << TakeMessage();
        return doc;
    }
    ComPtr<IXMLDOMNodeList> Select(IDispatch* doc, const wchar_t* xpath) {
        ComPtr<IXMLDOMNode> node;
        doc->QueryInterface(IID_PPV_ARGS(&node));
        ComPtr<IXMLDOMNodeList> list;
        EXPECT_EQ(S_OK, node->selectNodes(Str(xpath), &list));
        return list;
    }
    std::vector<std::wstring> Children(IDispatch* doc, const wchar_t* xpath) {
        ComPtr<IFieldCollection> c;
        EXPECT_EQ(S_OK, u->DOMNodeGetChilds(doc, Str(xpath), &c)) << TakeMessage();
        return Entries(c.Get());
    }
};

TEST_F(Dom, ParsingFilesAndTexts) {
    ComPtr<IDispatch> doc;
    EXPECT_EQ(DISP_E_EXCEPTION, u->DOMParse(Variant(42L), &doc));
    EXPECT_EQ(L"Not a file.", TakeMessage());
    const std::wstring missing = dir / L"missing.xml";
    EXPECT_EQ(DISP_E_EXCEPTION, u->DOMParse(Variant(std::wstring_view(missing)), &doc));
    EXPECT_EQ(L"File " + missing + L" does not exist.", TakeMessage());

    // A script passes its variable by reference.
    const std::wstring good = dir.Write(L"good.xml", kParameterXml);
    Variant name(std::wstring_view(good.c_str()));
    VARIANT byRef;
    byRef.vt = VT_BYREF | VT_VARIANT;
    byRef.pvarVal = &name;
    ASSERT_EQ(S_OK, u->DOMParse(byRef, &doc)) << TakeMessage();
    ComPtr<IXMLDOMDocument2> parsed;
    ASSERT_EQ(S_OK, doc.As(&parsed)) << "a parse hands out the MSXML document";
    EXPECT_EQ(4u, Children(doc.Get(), L"Parameter/FieldCollection").size());
}

TEST_F(Dom, ParseErrorDescription) {
    ComPtr<IXMLDOMDocument2> doc;
    ASSERT_EQ(S_OK, CoCreateInstance(qarn::dom::kDomDocument60, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&doc)));
    VARIANT_BOOL ok = VARIANT_TRUE;
    doc->loadXML(Str(L"<open>"), &ok);
    ASSERT_EQ(VARIANT_FALSE, ok);
    ComPtr<IXMLDOMParseError> error;
    doc->get_parseError(&error);
    BSTR expected = nullptr;
    error->get_reason(&expected);
    BSTR reason = nullptr;
    EXPECT_EQ(S_OK, u->GetXMLDOMParseErrorDescription(doc.Get(), &reason));
    EXPECT_EQ(ToWide(expected), ToWide(reason));
    EXPECT_FALSE(ToWide(reason).empty());
    SysFreeString(expected);
    SysFreeString(reason);

    ComPtr<IField> notADocument = test::Create<IField>(CLSID_Field);
    EXPECT_EQ(DISP_E_EXCEPTION, u->GetXMLDOMParseErrorDescription(notADocument.Get(), &reason));
    EXPECT_EQ(L"The object is not an XML document.", TakeMessage());
}

// ASCII text as bytes of UTF-16, little-endian with byte-order mark or big-endian without.
std::string Utf16(std::string_view ascii, bool bigEndian) {
    std::string out = bigEndian ? "" : "\xFF\xFE";
    for (char c : ascii) out += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
    return out;
}

TEST(XmlProlog, DocumentTypeDeclarationsBeforeTheRootElement) {
    using qarn::xml::Prolog;
    const std::pair<const char*, Prolog> cases[] = {
        {"<r/>", Prolog::NoDoctype},
        {"", Prolog::NoDoctype},
        {"text <!DOCTYPE r>", Prolog::NoDoctype},  // not XML at all: the engine says so
        {"<?xml version=\"1.0\"?>\r\n<!-- <!DOCTYPE r> -->\n<?pi <!DOCTYPE r>?><r><!DOCTYPE r></r>", Prolog::NoDoctype},
        {"<?xml version=\"1.0\"?><!-- x --><?pi ?> \t<!DOCTYPE r [<!ENTITY a \"b\">]><r/>", Prolog::Doctype},
        {"<!---->\n<!-->--><!doctype r><r/>", Prolog::Doctype},
        {"<!-x-><r/>", Prolog::Doctype},
        {"\xEF\xBB\xBF<!DOCTYPE r><r/>", Prolog::Doctype},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(expected, qarn::xml::ScanProlog(text));
        const std::string bytes = text;
        qarn::xml::PrologScanner bytewise;  // other encodings and cuts: the fuzz target
        for (char c : bytes) bytewise.Feed(std::string_view(&c, 1));
        EXPECT_EQ(expected, bytewise.Finish());
    }
    // The verdict comes as soon as the prolog is decided: what follows is never needed.
    qarn::xml::PrologScanner early;
    EXPECT_EQ(Prolog::Open, early.Feed("<?xml version=\"1.0\"?><!-- "));
    EXPECT_EQ(Prolog::Doctype, early.Feed(" --><!D"));
}

// Documents with a document type declaration, each refused by every reader before it is parsed:
// quadratic entity expansion (about 30 KB that expand to a value of 20 million characters),
// external entities by relative, "file:" and absolute references, an external DTD; hidden after
// the XML declaration, comments and instructions, and in UTF-16.
TEST_F(Dom, DocumentTypeDeclarationsAreRefusedOnEveryPath) {
    ScopedVariable rootVariable(L"QarnRootDir", dir.path().c_str());
    CreateDirectoryW((dir / L"xml").c_str(), nullptr);
    const std::wstring secret = dir.Write(L"xml\\secret.txt", "TOPSECRET");
    dir.Write(L"xml\\outer.dtd", "<!ENTITY inner SYSTEM \"secret.txt\">");
    std::string secretUrl = "file:///";
    for (wchar_t c : secret) secretUrl += c == L'\\' ? '/' : static_cast<char>(c);
    std::string laughs = "<!DOCTYPE Parameter [<!ENTITY a \"" + std::string(10000, 'x') + "\">]>"
                         "<Parameter><FieldCollection><Field><Name>n</Name><Value>";
    for (int i = 0; i < 2000; ++i) laughs += "&a;";
    laughs += "</Value></Field></FieldCollection></Parameter>";
    const std::string prolog = "<?xml version=\"1.0\"?>\r\n<!-- a note -->\r\n<?style sheet?>\r\n";
    const std::pair<std::string, std::string> documents[] = {  // source text, bytes of the file
        {laughs, laughs},
        {prolog + "<!DOCTYPE r [<!ENTITY x SYSTEM \"secret.txt\">]><r><v>&x;</v></r>", {}},
        {"<!DOCTYPE r [<!ENTITY x SYSTEM \"file:secret.txt\"><!ENTITY y SYSTEM \"" + secretUrl +
             "\">]><r><v>&x;&y;</v></r>", {}},
        {prolog + "<!DOCTYPE r SYSTEM \"outer.dtd\"><r><v>&inner;</v></r>", {}},
    };

    auto configuration = [](const std::string& files) {
        return "<QarnConnector><Properties><Language>EN</Language>" + files + "</Properties></QarnConnector>";
    };
    struct Path {
        const wchar_t* label;
        const wchar_t* file;  // below xml\, or null: the document is given as text
        std::string configuration;
        std::function<HRESULT(const std::wstring& path, const std::wstring& text)> call;
    };
    ComPtr<IDispatch> document;
    ComPtr<IParameterList> list;
    ComPtr<IQarnDocument> qarnDocument;
    ComPtr<IFieldCollection> fields;
    auto collaboration = test::Create<IQarnSimpleCollaboration>(CLSID_CQarnSimpleCollaboration);
    const Path paths[] = {
        {L"DOMParse", L"hostile.xml", {}, [&](auto& f, auto&) { return u->DOMParse(Variant(std::wstring_view(f)), &document); }},
        {L"DOMParse2", nullptr, {}, [&](auto&, auto& t) { return u->DOMParse2(Str(t), &document); }},
        {L"GetXmlParameterList3", L"hostile.xml", {},
         [&](auto& f, auto&) { return u->GetXmlParameterList3(Str(f), Str(L"Parameter"), nullptr, &list); }},
        {L"GetXmlParameterList", L"hostile.xml", {},
         [&](auto&, auto&) { return u->GetXmlParameterList(Str(L"hostile.xml"), Str(L"A"), nullptr, &list); }},
        {L"GetXmlParameterListFromXMLString3", nullptr, {},
         [&](auto&, auto& t) { return u->GetXmlParameterListFromXMLString3(Str(t), Str(L"Parameter"), nullptr, &list); }},
        {L"ReadQarnDocumentFromFile", L"hostile.xml", {},
         [&](auto& f, auto&) { return u->ReadQarnDocumentFromFile(Str(f), &qarnDocument); }},
        {L"GetXmlQarnDocumentFromFile", L"hostile.xml", {},
         [&](auto& f, auto&) { return u->GetXmlQarnDocumentFromFile(Str(f), nullptr, &qarnDocument); }},
        {L"GetXmlQarnDocumentFromString", nullptr, {},
         [&](auto&, auto& t) { return u->GetXmlQarnDocumentFromString(Str(t), nullptr, &qarnDocument); }},
        {L"CQarnSimpleCollaboration::Get2", L"model.CLB", {},
         [&](auto&, auto&) { return collaboration->Get2(Str(dir / L"xml\\model"), &fields); }},
        {L"GetSAPLogonParameter2", L"hostile.xml", {}, [&](auto&, auto&) {
             BSTR v[6] = {};
             const HRESULT hr = u->GetSAPLogonParameter2(Str(L"hostile.xml"), &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]);
             for (BSTR s : v) SysFreeString(s);
             return hr;
         }},
        {L"configuration file", L"QarnConnector.xml", {}, [&](auto&, auto&) { return u->ReadXmlConfigurationFiles(); }},
        {L"property file", L"hostile.xml", configuration("<PropertyFiles>hostile.xml</PropertyFiles>"),
         [&](auto&, auto&) { return u->ReadXmlConfigurationFiles(); }},
        {L"resource file", L"hostile.xml", configuration("<ResourceFiles>hostile.xml</ResourceFiles>"),
         [&](auto&, auto&) { return u->ReadXmlConfigurationFiles(); }},
    };
    for (size_t d = 0; d < std::size(documents); ++d) {
        const std::string& source = documents[d].first;
        const std::string bytes = d == 2 ? Utf16(source, false) : d == 3 ? Utf16(source, true) : source;
        for (const Path& path : paths) {
            SCOPED_TRACE(testing::Message() << "document " << d << ", " << path.label);
            if (!path.configuration.empty()) dir.Write(L"xml\\QarnConnector.xml", path.configuration);
            const std::wstring file = path.file ? dir.Write(L"xml\\" + std::wstring(path.file), bytes) : L"";
            EXPECT_EQ(DISP_E_EXCEPTION, path.call(file, Wide(source)));
            const std::wstring message = TakeMessage();
            const std::wstring refusal =
                path.file ? L"The file " + file + L" holds a document type declaration"
                          : std::wstring(L"The given XML text holds a document type declaration");
            EXPECT_NE(std::wstring::npos, message.find(refusal)) << message;
            EXPECT_EQ(std::wstring::npos, message.find(L"TOPSECRET"));
        }
    }
}

// Names of the console and of ports are refused before anything is read (reading them would wait
// for input); NUL reads as an empty document. (Names of the device namespace, "\\.\COM1", are
// missing files for the existence check under Wine.)
TEST_F(Dom, DeviceNamesAreNotRead) {
    const std::wstring devices[] = {L"CON", L"COM1", dir / L"aux.xml"};
    ComPtr<IParameterList> list;
    ComPtr<IQarnDocument> document;
    for (const std::wstring& device : devices) {
        SCOPED_TRACE(testing::Message() << device);
        ComPtr<IDispatch> parsed;
        const std::wstring refusal = L"Cannot read " + device + L": the name is a device (console, port or device path), not a file.";
        EXPECT_EQ(DISP_E_EXCEPTION, u->DOMParse(Variant(std::wstring_view(device)), &parsed));
        EXPECT_EQ(refusal, TakeMessage());
        EXPECT_EQ(DISP_E_EXCEPTION, u->GetXmlParameterList3(Str(device), Str(L"Parameter"), nullptr, &list));
        EXPECT_EQ(refusal, TakeMessage());
        EXPECT_EQ(DISP_E_EXCEPTION, u->ReadQarnDocumentFromFile(Str(device), &document));
        EXPECT_EQ(refusal, TakeMessage());
        EXPECT_EQ(DISP_E_EXCEPTION, u->GetXmlQarnDocumentFromFile(Str(device), nullptr, &document));
        EXPECT_EQ(refusal, TakeMessage());
    }
    ComPtr<IDispatch> parsed;
    EXPECT_EQ(DISP_E_EXCEPTION, u->DOMParse(Variant(std::wstring_view(dir.Write(L"empty.xml", ""))), &parsed));
    const std::wstring empty = TakeMessage();
    EXPECT_EQ(DISP_E_EXCEPTION, u->DOMParse(Variant(std::wstring_view(L"NUL")), &parsed));
    EXPECT_EQ(empty, TakeMessage()) << "NUL is an empty document";
}

TEST_F(Dom, TypedValueOfOneNode) {
    ComPtr<IDispatch> doc = Parse(Wide(kParameterXml));
    ComPtr<IField> field;
    ASSERT_EQ(S_OK, u->GetXMLDOMNodeTypedValue(doc.Get(), Str(L"Parameter/FieldCollection/Field"), &field));
    BSTR name = nullptr;
    field->get_Name(&name);
    Variant value;
    field->get_Value(value.Out());
    EXPECT_EQ(L"Field", ToWide(name));
    EXPECT_EQ(VT_BSTR, value.vt);
    EXPECT_EQ(L"first", ToWide(value.bstrVal));
    SysFreeString(name);

    ASSERT_EQ(S_OK, u->GetXMLDOMNodeTypedValue(doc.Get(), Str(L"//Count"), &field));
    field->get_Value(value.Out());
    EXPECT_EQ(VT_I4, value.vt) << "values keep the type the document declares";
    EXPECT_EQ(42, value.lVal);

    for (const wchar_t* xpath : {L"Parameter/FieldCollection/Banana", L"", static_cast<const wchar_t*>(nullptr)}) {
        EXPECT_EQ(DISP_E_EXCEPTION, u->GetXMLDOMNodeTypedValue(doc.Get(), Str(xpath), &field));
        EXPECT_EQ(L"Node " + std::wstring(xpath ? xpath : L"(null)") + L" not found.", TakeMessage());
        EXPECT_FALSE(field);
    }
    EXPECT_EQ(DISP_E_EXCEPTION, u->GetXMLDOMNodeTypedValue(doc.Get(), Str(L"///["), &field));
    EXPECT_EQ(L"The XPath expression ///[ cannot be evaluated.", TakeMessage());
    ComPtr<IField> notANode = test::Create<IField>(CLSID_Field);
    EXPECT_EQ(DISP_E_EXCEPTION, u->GetXMLDOMNodeTypedValue(notANode.Get(), Str(L"x"), &field));
    EXPECT_EQ(L"The object is not an XML node.", TakeMessage());
}

TEST_F(Dom, ChildElementsBecomeFields) {
    SetEnvironmentVariableW(L"QARN_DOM_TEST", L"C:\\data");
    ComPtr<IDispatch> doc = Parse(Wide(kParameterXml));
    EXPECT_EQ((std::vector<std::wstring>{L"Field=first", L"Field=second", L"Path=C:\\data\\sub;%QARN_NOT_SET%",
                                         L"Count=42"}),
              Children(doc.Get(), L"Parameter/FieldCollection"))
        << "text and comments are skipped; references of set variables are expanded";
    SetEnvironmentVariableW(L"QARN_DOM_TEST", nullptr);

    ComPtr<IFieldCollection> c;
    ASSERT_EQ(S_OK, u->DOMNodeGetChilds(doc.Get(), Str(L"Parameter/FieldCollection"), &c));
    ComPtr<IField> path;
    c->get_Item(3, &path);
    ComPtr<IFieldCollection> attributes;
    path->get_Attributes(&attributes);
    EXPECT_EQ((std::vector<std::wstring>{L"kind=env"}), Entries(attributes.Get()));

    EXPECT_TRUE(Children(doc.Get(), L"").empty());
    EXPECT_TRUE(Children(doc.Get(), L"Parameter/Nothing").empty());
    EXPECT_TRUE(Children(doc.Get(), L"Parameter/FieldCollection/Field").empty()) << "an element without element children";
}

TEST_F(Dom, MarkedValuesAreDecrypted) {
    BSTR byName = nullptr, byKey = nullptr;
    ASSERT_EQ(S_OK, u->EncryptLogon2(Str(L"password"), Str(L"s3cret"), &byName));
    ASSERT_EQ(S_OK, u->EncryptLogon(Str(L"other"), &byKey));
    const std::wstring xml = L"<logon><password x3nc=\"true\">" + ToWide(byName) + L"</password>" +
                             L"<user x3nc=\"true\">" + ToWide(byKey) + L"</user>" +
                             L"<copy x3nc=\"TRUE\">" + ToWide(byName) + L"</copy>" +
                             L"<broken x3nc=\"true\">not-encrypted</broken></logon>";
    SysFreeString(byName);
    SysFreeString(byKey);
    ComPtr<IDispatch> doc = Parse(xml);
    const std::vector<std::wstring> fields = Children(doc.Get(), L"logon");
    ASSERT_EQ(4u, fields.size());
    EXPECT_EQ(L"password=s3cret", fields[0]);
    EXPECT_EQ(L"user=other", fields[1]) << "made under the logon key alone";
    EXPECT_NE(L"copy=s3cret", fields[2]) << "only the exact marker \"true\" decrypts";
    EXPECT_EQ(L"broken=not-encrypted", fields[3]) << "a value that does not decrypt stays as stored";
}

TEST_F(Dom, EveryMatchingNodeIsOneRow) {
    ComPtr<IDispatch> doc = Parse(L"<r><e><a>1</a><b>2</b></e><e>only text</e><e><a>3</a></e></r>");
    ComPtr<IFieldCollectionTable> table;
    ASSERT_EQ(S_OK, u->DOMNodeGetChilds_(doc.Get(), Str(L"r/e"), &table));
    long rows = 0;
    table->get_Count(&rows);
    ASSERT_EQ(2, rows) << "a node without element children adds no row";
    ComPtr<IFieldCollection> row;
    table->get_Item(2, &row);
    EXPECT_EQ((std::vector<std::wstring>{L"a=3"}), Entries(row.Get()));

    ASSERT_EQ(S_OK, u->DOMNodeGetChilds_(doc.Get(), Str(L"r/e/a"), &table));
    table->get_Count(&rows);
    EXPECT_EQ(0, rows) << "matching nodes give a table even when no row is added";
    ASSERT_EQ(S_OK, u->DOMNodeGetChilds_(doc.Get(), Str(L"r/none"), &table));
    EXPECT_FALSE(table);
}

TEST_F(Dom, NodeListsWithTheirDescendants) {
    ComPtr<IDispatch> doc = Parse(L"<r><part id=\"7\"><name>Bolt</name></part></r>");
    ComPtr<IFieldCollection> c;
    ASSERT_EQ(S_OK, u->DOMNodeGetChilds2(Select(doc.Get(), L"r/part").Get(), &c));
    EXPECT_EQ((std::vector<std::wstring>{L"part@id=7", L"part=Bolt", L"part.name=Bolt"}), Entries(c.Get()));
    ASSERT_EQ(S_OK, u->DOMNodeGetChilds3(Select(doc.Get(), L"r/part").Get(), &c));
    EXPECT_EQ((std::vector<std::wstring>{L"part@id=7", L"part=Bolt"}), Entries(c.Get()));

    doc = Parse(L"<r><a x=\"1\">t<b y=\"2\"><c>v</c></b><!--note--></a><a/></r>");
    ASSERT_EQ(S_OK, u->DOMNodeGetChilds2(Select(doc.Get(), L"r/a").Get(), &c));
    EXPECT_EQ((std::vector<std::wstring>{L"a@x=1", L"a=tv", L"a.b@y=2", L"a.b=v", L"a.b.c=v", L"a.#comment=note",
                                         L"a="}),
              Entries(c.Get()))
        << "text gives no field of its own, comments do, names nest";
    ASSERT_EQ(S_OK, u->DOMNodeGetChilds2(Select(doc.Get(), L"r/none").Get(), &c));
    EXPECT_FALSE(c);
    EXPECT_EQ(DISP_E_EXCEPTION, u->DOMNodeGetChilds2(doc.Get(), &c));
    EXPECT_EQ(L"The object is not an XML node list.", TakeMessage());
}

TEST_F(Dom, HostileNestingFailsCleanly) {
    // Deeper than any parse allows: built node by node.
    ComPtr<IXMLDOMDocument2> doc;
    ASSERT_EQ(S_OK, CoCreateInstance(qarn::dom::kDomDocument60, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&doc)));
    ComPtr<IXMLDOMElement> root;
    doc->createElement(Str(L"deep"), &root);
    ComPtr<IXMLDOMNode> node;
    doc->appendChild(root.Get(), &node);
    for (int i = 0; i < 100000; ++i) {
        ComPtr<IXMLDOMElement> child;
        doc->createElement(Str(L"e"), &child);
        ComPtr<IXMLDOMNode> added;
        ASSERT_EQ(S_OK, node->appendChild(child.Get(), &added));
        node = added;
    }
    ComPtr<IFieldCollection> c;
    for (auto call : {&IQarnUtilities::DOMNodeGetChilds2, &IQarnUtilities::DOMNodeGetChilds3}) {
        EXPECT_EQ(DISP_E_EXCEPTION, (u.Get()->*call)(Select(doc.Get(), L"/deep").Get(), &c));
        EXPECT_EQ(L"The element deep holds elements nested deeper than 1000 levels.", TakeMessage());
    }
    EXPECT_EQ(DISP_E_EXCEPTION, u->DOMNodeGetChilds(doc.Get(), Str(L"/"), &c));
    EXPECT_NE(std::wstring::npos, TakeMessage().find(L"nested deeper than 1000 levels"));
}

TEST_F(Dom, AttributesOfANode) {
    ComPtr<IDispatch> doc = Parse(L"<r a=\"1\" b=\"two\"><bare/></r>");
    ComPtr<IXMLDOMNodeList> r = Select(doc.Get(), L"r"), bare = Select(doc.Get(), L"r/bare");
    ComPtr<IXMLDOMNode> node;
    r->get_item(0, &node);
    ComPtr<IFieldCollection> c;
    ASSERT_EQ(S_OK, u->GetXMLAttributes(node.Get(), &c));
    EXPECT_EQ((std::vector<std::wstring>{L"a=1", L"b=two"}), Entries(c.Get()));
    bare->get_item(0, &node);
    ASSERT_EQ(S_OK, u->GetXMLAttributes(node.Get(), &c));
    EXPECT_FALSE(c);
}

TEST_F(Dom, WritingParameterListFiles) {
    ComPtr<IParameterList> list = test::Create<IParameterList>(CLSID_ParameterList);
    ComPtr<IFieldCollection> fields;
    list->get_FieldCollection(&fields);
    fields->SetValue(Str(L"rate"), Variant(std::wstring_view(L"50% \u00e4")));
    const std::wstring file = dir / L"list.xml";

    EXPECT_EQ(S_OK, u->WriteXmlFile(Str(file), nullptr));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(file.c_str()));
    dir.Write(L"list.xml", "old content that is longer than nothing");
    ASSERT_EQ(S_OK, u->WriteXmlFile(Str(file), list.Get())) << TakeMessage();
    const std::string written = ScratchFolder::Read(file);
    EXPECT_EQ(0u, written.rfind("\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?><Parameter", 0)) << written;
    EXPECT_NE(std::string::npos, written.find("50% \xC3\xA4")) << "a percent sign is written once";
    EXPECT_EQ(std::string::npos, written.find("old content"));
    for (size_t i = written.find('\n'); i != std::string::npos; i = written.find('\n', i + 1))
        EXPECT_EQ('\r', written[i - 1]) << "lines end with CR LF";

    ComPtr<IDispatch> reread;
    EXPECT_EQ(S_OK, u->DOMParse(Variant(std::wstring_view(file)), &reread)) << "the file parses again";

    const std::wstring nowhere = dir / L"no-folder\\list.xml";
    EXPECT_EQ(DISP_E_EXCEPTION, u->WriteXmlFile(Str(nowhere), list.Get()));
    EXPECT_EQ(L"Error creating file " + nowhere + L".", TakeMessage());
    // A failed replacement leaves the old file and no temporary file behind.
    CreateDirectoryW((dir / L"taken").c_str(), nullptr);
    EXPECT_EQ(DISP_E_EXCEPTION, u->WriteXmlFile(Str(dir / L"taken"), list.Get()));
    TakeMessage();
    EXPECT_EQ(L"list.xml taken ", FolderEntries(dir.path()));
}

// The access rules (DACL) of a file in SDDL form.
std::wstring AccessRules(const std::wstring& file) {
    DWORD size = 0;
    GetFileSecurityW(file.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &size);
    std::vector<char> sd(size);
    LPWSTR text = nullptr;
    if (!size || !GetFileSecurityW(file.c_str(), DACL_SECURITY_INFORMATION, sd.data(), size, &size) ||
        !ConvertSecurityDescriptorToStringSecurityDescriptorW(sd.data(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                              &text, nullptr))
        return L"(unreadable)";
    std::wstring rules = text;
    LocalFree(text);
    return rules;
}

// How many names (hard links) the system reports for a file.
DWORD Names(const std::wstring& file) {
    HANDLE h = CreateFileW(file.c_str(), FILE_READ_ATTRIBUTES, 7, nullptr, OPEN_EXISTING, 0, nullptr);
    BY_HANDLE_FILE_INFORMATION info{};
    GetFileInformationByHandle(h, &info);
    CloseHandle(h);
    return info.nNumberOfLinks;
}


// Replacing a file keeps what belongs to the file, not to its content: attributes, access rules,
// its other names; and a target whose path has MAX_PATH - 1 characters can be replaced.
TEST_F(Dom, ReplacingAFileKeepsItsAttributesAccessRulesAndLinks) {
    ComPtr<IParameterList> list = test::Create<IParameterList>(CLSID_ParameterList);
    ComPtr<IFieldCollection> fields;
    list->get_FieldCollection(&fields);
    auto replace = [&](const std::wstring& file) {
        EXPECT_EQ(S_OK, u->WriteXmlFile(Str(file), list.Get())) << TakeMessage();
        const std::string written = ScratchFolder::Read(file);
        EXPECT_NE(std::string::npos, written.find("<Parameter")) << written;
        return written;
    };
    const std::wstring hidden = dir.Write(L"hidden.xml", "old");
    SetFileAttributesW(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    replace(hidden);
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
              GetFileAttributesW(hidden.c_str()) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));

    // Only the system and the administrators: everybody else may not read the file, before or after.
    const std::wstring guarded = dir.Write(L"guarded.xml", "old");
    PSECURITY_DESCRIPTOR rules = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;SY)(A;;FA;;;BA)", SDDL_REVISION_1,
                                                                     &rules, nullptr));
    ASSERT_TRUE(SetFileSecurityW(guarded.c_str(), DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, rules));
    LocalFree(rules);
    const std::wstring before = AccessRules(guarded);
    ASSERT_EQ(std::wstring::npos, before.find(L";;;WD)")) << before;
    replace(guarded);
    EXPECT_EQ(before, AccessRules(guarded));

    // Every name of a file with hard links sees the new content, shorter or longer than the old.
    const std::wstring linked = dir.Write(L"linked.xml", std::string(1000, 'x')), link = dir / L"link.xml";
    ASSERT_TRUE(CreateHardLinkW(link.c_str(), linked.c_str(), nullptr));
    ASSERT_EQ(2u, Names(linked));
    for (int round = 0; round < 2; ++round) {
        if (round == 1) fields->SetValue(Str(L"long"), Variant(std::wstring_view(std::wstring(2000, L'y'))));
        const std::string written = replace(linked);
        EXPECT_EQ(written, ScratchFolder::Read(link));
        EXPECT_EQ(2u, Names(linked));
    }

    // A temporary name longer than the target's would push the path past MAX_PATH (and this name
    // past the 255 characters a name may have).
    const std::wstring folder = L"C:\\qarn-mp";
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring longest = folder + L"\\" + std::wstring(MAX_PATH - 1 - folder.size() - 5, L'n') + L".xml";
    ASSERT_EQ(size_t(MAX_PATH - 1), longest.size());
    replace(longest);
    replace(longest);
    EXPECT_EQ(longest.substr(folder.size() + 1) + L" ", FolderEntries(folder)) << "no temporary file is left";
    DeleteFileW(longest.c_str());
    RemoveDirectoryW(folder.c_str());
}

}  // namespace
