// DOM helpers of CQarnUtilities through real activation: parsing, selection into fields, tables
// and node-list walks, decryption and environment references, and writing parameter-list files.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "UtilitiesSupport.h"
#include "dom/Dom.h"
#include "dom/XmlProlog.h"

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
        ComPtr<IXMLDOMNodeList> list;
        doc->QueryInterface(IID_PPV_ARGS(&node));
        EXPECT_EQ(S_OK, node->selectNodes(Str(xpath), &list));
        return list;
    }
    Texts Children(IDispatch* doc, const wchar_t* xpath) {
        ComPtr<IFieldCollection> c;
        EXPECT_EQ(S_OK, u->DOMNodeGetChilds(doc, Str(xpath), &c)) << TakeMessage();
        return Entries(c.Get());
    }
    // Writes an empty parameter list to `file`, expects success and returns the bytes written.
    std::string WriteList(const std::wstring& file, IParameterList* list) {
        EXPECT_EQ(S_OK, u->WriteXmlFile(Str(file), list)) << TakeMessage();
        return ScratchFolder::Read(file);
    }
};

TEST_F(Dom, ParsingFilesTextsAndParseErrors) {
    ComPtr<IDispatch> doc;
    EXPECT_EQ(L"Not a file.", Failure(u->DOMParse(Number(42), &doc)));
    const std::wstring missing = dir / L"missing.xml";
    EXPECT_EQ(L"File " + missing + L" does not exist.", Failure(u->DOMParse(Variant(std::wstring_view(missing)), &doc)));
    // A script passes its variable by reference.
    Variant name(std::wstring_view(dir.Write(L"good.xml", kParameterXml)));
    VARIANT byRef;
    byRef.vt = VT_BYREF | VT_VARIANT;
    byRef.pvarVal = &name;
    ASSERT_EQ(S_OK, u->DOMParse(byRef, &doc)) << TakeMessage();
    ComPtr<IXMLDOMDocument2> parsed;
    ASSERT_EQ(S_OK, doc.As(&parsed)) << "a parse hands out the MSXML document";
    EXPECT_EQ(4u, Children(doc.Get(), L"Parameter/FieldCollection").size());
    // Loaded by its name, as MSXML loads a file: the document knows where it came from.
    Str url;
    ASSERT_EQ(S_OK, parsed->get_url(url.Out()));
    EXPECT_EQ(0u, std::wstring(url.View()).find(L"file:///")) << std::wstring(url.View());
    EXPECT_NE(std::wstring::npos, std::wstring(url.View()).find(L"good.xml")) << std::wstring(url.View());

    // The parse error's reason as MSXML gives it.
    VARIANT_BOOL ok = VARIANT_TRUE;
    ComPtr<IXMLDOMParseError> error;
    Str expected, reason;
    parsed->loadXML(Str(L"<open>"), &ok);
    parsed->get_parseError(&error);
    error->get_reason(expected.Out());
    EXPECT_EQ(S_OK, u->GetXMLDOMParseErrorDescription(parsed.Get(), reason.Out()));
    EXPECT_TRUE(!ok && !reason.View().empty() && expected.View() == reason.View());
    EXPECT_EQ(L"The object is not an XML document.",
              Failure(u->GetXMLDOMParseErrorDescription(test::Create<IField>(CLSID_Field).Get(), reason.Out())));
}

// ASCII text as bytes of UTF-16, little-endian with byte-order mark or big-endian without.
std::string Utf16(std::string_view ascii, bool bigEndian) {
    std::string out = bigEndian ? "" : "\xFF\xFE";
    for (char c : ascii) out += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
    return out;
}

TEST(XmlProlog, DocumentTypeDeclarationsBeforeTheRootElement) {
    using qarn::xml::Prolog;
    using namespace std::string_view_literals;
    const std::pair<std::string_view, Prolog> cases[] = {
        {"<r/>", Prolog::NoDoctype},
        {"", Prolog::NoDoctype},
        {"text <!DOCTYPE r>", Prolog::NoDoctype},  // not XML at all: the engine says so
        {"<?xml version=\"1.0\"?>\r\n<!-- <!DOCTYPE r> -->\n<?pi <!DOCTYPE r>?><r><!DOCTYPE r></r>", Prolog::NoDoctype},
        {"<?xml version=\"1.0\"?><!-- x --><?pi ?> \t<!DOCTYPE r [<!ENTITY a \"b\">]><r/>", Prolog::Doctype},
        {"<!---->\n<!-->--><!doctype r><r/>", Prolog::Doctype},
        {"<!-x-><r/>", Prolog::Doctype},
        {"\xEF\xBB\xBF<!DOCTYPE r><r/>", Prolog::Doctype},
        {"\xFE\xFF\0<\0!\0D\0O\0C\0T\0Y\0P\0E\0 \0r\0>"sv, Prolog::Doctype},  // UTF-16 big-endian with its mark
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(expected, qarn::xml::ScanProlog(text));
        qarn::xml::PrologScanner bytewise;  // other encodings and cuts: the fuzz target
        for (const char& c : text) bytewise.Feed(std::string_view(&c, 1));
        EXPECT_EQ(expected, bytewise.Finish());
    }
    // The verdict comes as soon as the prolog is decided: what follows is never needed.
    qarn::xml::PrologScanner early;
    EXPECT_EQ(Prolog::Open, early.Feed("<?xml version=\"1.0\"?><!-- "));
    EXPECT_EQ(Prolog::Doctype, early.Feed(" --><!D"));
}

// Names inside tags decide; values and text may hold anything.
TEST(XmlProlog, TagsAreAsciiLooksOnlyAtNames) {
    EXPECT_TRUE(qarn::xml::TagsAreAscii(u"<Field unit=\"\u00B5m\" note='a>\u3400'><Name>L\u00E4nge</Name></Field>"));
    EXPECT_FALSE(qarn::xml::TagsAreAscii(u"<Field \u3400=\"x\"/>"));
    EXPECT_FALSE(qarn::xml::TagsAreAscii(u"<Field a=\"x\" \u0221b='y'/>"));
    EXPECT_FALSE(qarn::xml::TagsAreAscii(u"<a>x</a><\u00E4/>"));
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
    std::string secretUrl = "file:///", laughs = "<!DOCTYPE Parameter [<!ENTITY a \"" + std::string(10000, 'x') +
                                                 "\">]><Parameter><FieldCollection><Field><Name>n</Name><Value>";
    for (wchar_t c : secret) secretUrl += c == L'\\' ? '/' : static_cast<char>(c);
    for (int i = 0; i < 2000; ++i) laughs += "&a;";
    laughs += "</Value></Field></FieldCollection></Parameter>";
    const std::string prolog = "<?xml version=\"1.0\"?>\r\n<!-- a note -->\r\n<?style sheet?>\r\n";
    const std::string documents[] = {  // the third is written in UTF-16 LE, the fourth in UTF-16 BE
        laughs,
        prolog + "<!DOCTYPE r [<!ENTITY x SYSTEM \"secret.txt\">]><r><v>&x;</v></r>",
        "<!DOCTYPE r [<!ENTITY x SYSTEM \"file:secret.txt\"><!ENTITY y SYSTEM \"" + secretUrl + "\">]><r><v>&x;&y;</v></r>",
        prolog + "<!DOCTYPE r SYSTEM \"outer.dtd\"><r><v>&inner;</v></r>",
    };
    using Call = std::function<HRESULT(const std::wstring& path, const std::wstring& text)>;
    struct Path {
        const wchar_t* file;  // below xml\, or null: the document is given as text
        Call call;
        std::string configuration = {};
    };
    ComPtr<IDispatch> document;
    ComPtr<IParameterList> list;
    ComPtr<IQarnDocument> qarnDocument;
    ComPtr<IFieldCollection> fields;
    auto collaboration = test::Create<IQarnSimpleCollaboration>(CLSID_CQarnSimpleCollaboration);
    const Call readConfiguration = [&](auto&, auto&) { return u->ReadXmlConfigurationFiles(); };
    const auto configuration = [](const std::string& files) {
        return "<QarnConnector><Properties><Language>EN</Language>" + files + "</Properties></QarnConnector>";
    };
    const Path paths[] = {
        {L"hostile.xml", [&](auto& f, auto&) { return u->DOMParse(Variant(std::wstring_view(f)), &document); }},
        {nullptr, [&](auto&, auto& t) { return u->DOMParse2(Str(t), &document); }},
        {L"hostile.xml", [&](auto& f, auto&) { return u->GetXmlParameterList3(Str(f), Str(L"Parameter"), nullptr, &list); }},
        {L"hostile.xml", [&](auto&, auto&) { return u->GetXmlParameterList(Str(L"hostile.xml"), Str(L"A"), nullptr, &list); }},
        {nullptr, [&](auto&, auto& t) { return u->GetXmlParameterListFromXMLString3(Str(t), Str(L"Parameter"), nullptr, &list); }},
        {L"hostile.xml", [&](auto& f, auto&) { return u->ReadQarnDocumentFromFile(Str(f), &qarnDocument); }},
        {L"hostile.xml", [&](auto& f, auto&) { return u->GetXmlQarnDocumentFromFile(Str(f), nullptr, &qarnDocument); }},
        {nullptr, [&](auto&, auto& t) { return u->GetXmlQarnDocumentFromString(Str(t), nullptr, &qarnDocument); }},
        {L"model.CLB", [&](auto&, auto&) { return collaboration->Get2(Str(dir / L"xml\\model"), &fields); }},
        {L"hostile.xml", [&](auto&, auto&) {
             Str v[6];
             return u->GetSAPLogonParameter2(Str(L"hostile.xml"), v[0].Out(), v[1].Out(), v[2].Out(), v[3].Out(), v[4].Out(), v[5].Out());
         }},
        {L"QarnConnector.xml", readConfiguration},
        {L"hostile.xml", readConfiguration, configuration("<PropertyFiles>hostile.xml</PropertyFiles>")},
        {L"hostile.xml", readConfiguration, configuration("<ResourceFiles>hostile.xml</ResourceFiles>")},
    };
    for (size_t d = 0; d < std::size(documents); ++d) {
        const std::string& source = documents[d];
        const std::string bytes = d == 2 ? Utf16(source, false) : d == 3 ? Utf16(source, true) : source;
        for (size_t p = 0; p < std::size(paths); ++p) {
            SCOPED_TRACE(testing::Message() << "document " << d << ", path " << p);
            if (!paths[p].configuration.empty()) dir.Write(L"xml\\QarnConnector.xml", paths[p].configuration);
            const std::wstring file = paths[p].file ? dir.Write(L"xml\\" + std::wstring(paths[p].file), bytes) : L"";
            const std::wstring message = Failure(paths[p].call(file, Wide(source)));
            EXPECT_NE(std::wstring::npos, message.find((paths[p].file ? L"The file " + file : L"The given XML text") +
                                                       L" holds a document type declaration")) << message;
            EXPECT_EQ(std::wstring::npos, message.find(L"TOPSECRET"));
        }
    }
}

// Names of the console and of ports are refused before anything is read (reading them would wait
// for input); NUL reads as an empty document. (Names of the device namespace, "\\.\COM1", are
// missing files for the existence check under Wine.)
TEST_F(Dom, DeviceNamesAreNotRead) {
    ComPtr<IParameterList> list;
    ComPtr<IQarnDocument> document;
    ComPtr<IDispatch> parsed;
    for (const std::wstring& device : {std::wstring(L"CON"), std::wstring(L"COM1"), dir / L"aux.xml"}) {
        SCOPED_TRACE(testing::Message() << device);
        const std::wstring refusal = L"Cannot read " + device + L": the name is a device (console, port or device path), not a file.";
        EXPECT_EQ(refusal, Failure(u->DOMParse(Variant(std::wstring_view(device)), &parsed)));
        EXPECT_EQ(refusal, Failure(u->GetXmlParameterList3(Str(device), Str(L"Parameter"), nullptr, &list)));
        EXPECT_EQ(refusal, Failure(u->ReadQarnDocumentFromFile(Str(device), &document)));
        EXPECT_EQ(refusal, Failure(u->GetXmlQarnDocumentFromFile(Str(device), nullptr, &document)));
    }
    const std::wstring empty = Failure(u->DOMParse(Variant(std::wstring_view(dir.Write(L"empty.xml", ""))), &parsed));
    EXPECT_EQ(empty, Failure(u->DOMParse(Variant(std::wstring_view(L"NUL")), &parsed))) << "NUL is an empty document";
}

TEST_F(Dom, TypedValueOfOneNode) {
    ComPtr<IDispatch> doc = Parse(Wide(kParameterXml));
    ComPtr<IField> field;
    Str name;
    Variant value;
    ASSERT_EQ(S_OK, u->GetXMLDOMNodeTypedValue(doc.Get(), Str(L"Parameter/FieldCollection/Field"), &field));
    field->get_Name(name.Out());
    field->get_Value(value.Out());
    EXPECT_TRUE(name.View() == L"Field" && value.vt == VT_BSTR && ToWide(value.bstrVal) == L"first");
    ASSERT_EQ(S_OK, u->GetXMLDOMNodeTypedValue(doc.Get(), Str(L"//Count"), &field));
    field->get_Value(value.Out());
    EXPECT_TRUE(value.vt == VT_I4 && value.lVal == 42) << "values keep the type the document declares";

    for (const wchar_t* xpath : {L"Parameter/FieldCollection/Banana", L"", static_cast<const wchar_t*>(nullptr)}) {
        EXPECT_EQ(L"Node " + std::wstring(xpath ? xpath : L"(null)") + L" not found.",
                  Failure(u->GetXMLDOMNodeTypedValue(doc.Get(), Str(xpath), &field)));
        EXPECT_FALSE(field);
    }
    EXPECT_EQ(L"The XPath expression ///[ cannot be evaluated.", Failure(u->GetXMLDOMNodeTypedValue(doc.Get(), Str(L"///["), &field)));
    EXPECT_EQ(L"The object is not an XML node.",
              Failure(u->GetXMLDOMNodeTypedValue(test::Create<IField>(CLSID_Field).Get(), Str(L"x"), &field)));
}

TEST_F(Dom, ChildElementsBecomeFields) {
    ScopedVariable set(L"QARN_DOM_TEST", L"C:\\data");
    ComPtr<IDispatch> doc = Parse(Wide(kParameterXml));
    EXPECT_EQ((Texts{L"Field=first", L"Field=second", L"Path=C:\\data\\sub;%QARN_NOT_SET%", L"Count=42"}),
              Children(doc.Get(), L"Parameter/FieldCollection"))
        << "text and comments are skipped; references of set variables are expanded";
    ComPtr<IFieldCollection> c;
    ComPtr<IField> path;
    ASSERT_EQ(S_OK, u->DOMNodeGetChilds(doc.Get(), Str(L"Parameter/FieldCollection"), &c));
    c->get_Item(3, &path);
    EXPECT_EQ(Texts{L"kind=env"}, AttributesOf(path.Get()));
    for (const wchar_t* none : {L"", L"Parameter/Nothing", L"Parameter/FieldCollection/Field"})  // the last: no element children
        EXPECT_TRUE(Children(doc.Get(), none).empty()) << none;

    // Marked values are decrypted: under a field's name or the logon key alone, only with the exact marker.
    Str byName, byKey;
    ASSERT_EQ(S_OK, u->EncryptLogon2(Str(L"password"), Str(L"s3cret"), byName.Out()));
    ASSERT_EQ(S_OK, u->EncryptLogon(Str(L"other"), byKey.Out()));
    const std::wstring named(byName.View()), key(byKey.View());
    const Texts fields = Children(Parse(L"<logon><password x3nc=\"true\">" + named + L"</password><user x3nc=\"true\">" + key +
                                        L"</user><copy x3nc=\"TRUE\">" + named +
                                        L"</copy><broken x3nc=\"true\">not-encrypted</broken></logon>").Get(), L"logon");
    ASSERT_EQ(4u, fields.size());
    EXPECT_EQ(L"password=s3cret", fields[0]);
    EXPECT_EQ(L"user=other", fields[1]) << "made under the logon key alone";
    EXPECT_NE(L"copy=s3cret", fields[2]) << "only the exact marker \"true\" decrypts";
    EXPECT_EQ(L"broken=not-encrypted", fields[3]) << "a value that does not decrypt stays as stored";
}

TEST_F(Dom, TablesNodeListsAndAttributes) {
    ComPtr<IDispatch> doc = Parse(L"<r><e><a>1</a><b>2</b></e><e>only text</e><e><a>3</a></e></r>");
    ComPtr<IFieldCollectionTable> table;
    ComPtr<IFieldCollection> row, c;
    long rows = 0;
    ASSERT_EQ(S_OK, u->DOMNodeGetChilds_(doc.Get(), Str(L"r/e"), &table));
    table->get_Count(&rows);
    ASSERT_EQ(2, rows) << "a node without element children adds no row";
    table->get_Item(2, &row);
    EXPECT_EQ(Texts{L"a=3"}, Entries(row.Get()));
    ASSERT_EQ(S_OK, u->DOMNodeGetChilds_(doc.Get(), Str(L"r/e/a"), &table));
    table->get_Count(&rows);
    EXPECT_EQ(0, rows) << "matching nodes give a table even when no row is added";
    ASSERT_EQ(S_OK, u->DOMNodeGetChilds_(doc.Get(), Str(L"r/none"), &table));
    EXPECT_FALSE(table);

    // Node lists with their descendants: text gives no field of its own, comments do, names nest.
    doc = Parse(L"<r><part id=\"7\" kind=\"bolt\"><name>Bolt</name></part><a x=\"1\">t<b y=\"2\"><c>v</c></b><!--note--></a><a/></r>");
    ASSERT_EQ(S_OK, u->DOMNodeGetChilds2(Select(doc.Get(), L"r/part").Get(), &c));
    EXPECT_EQ((Texts{L"part@id=7", L"part@kind=bolt", L"part=Bolt", L"part.name=Bolt"}), Entries(c.Get()));
    ASSERT_EQ(S_OK, u->DOMNodeGetChilds3(Select(doc.Get(), L"r/part").Get(), &c));
    EXPECT_EQ((Texts{L"part@id=7", L"part@kind=bolt", L"part=Bolt"}), Entries(c.Get()));
    ASSERT_EQ(S_OK, u->DOMNodeGetChilds2(Select(doc.Get(), L"r/a").Get(), &c));
    EXPECT_EQ((Texts{L"a@x=1", L"a=tv", L"a.b@y=2", L"a.b=v", L"a.b.c=v", L"a.#comment=note", L"a="}), Entries(c.Get()));
    ASSERT_EQ(S_OK, u->DOMNodeGetChilds2(Select(doc.Get(), L"r/none").Get(), &c));
    EXPECT_FALSE(c);
    EXPECT_EQ(L"The object is not an XML node list.", Failure(u->DOMNodeGetChilds2(doc.Get(), &c)));

    ComPtr<IXMLDOMNode> node;
    for (auto [xpath, expected] : {std::pair{L"r/part", Texts{L"id=7", L"kind=bolt"}}, {L"r/a/b/c", Texts{}}}) {
        Select(doc.Get(), xpath)->get_item(0, &node);
        ASSERT_EQ(S_OK, u->GetXMLAttributes(node.Get(), &c));
        EXPECT_EQ(expected, Entries(c.Get())) << xpath;
    }
}

TEST_F(Dom, HostileNestingFailsCleanly) {
    // Deeper than any parse allows: built node by node.
    ComPtr<IXMLDOMDocument2> doc;
    ASSERT_EQ(S_OK, CoCreateInstance(qarn::dom::kDomDocument60, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&doc)));
    ComPtr<IXMLDOMElement> root;
    ComPtr<IXMLDOMNode> node;
    // Appends a chain of `levels` elements below `parent`.
    const auto nest = [&](ComPtr<IXMLDOMNode> parent, int levels) {
        for (int i = 0; i < levels; ++i) {
            ComPtr<IXMLDOMElement> child;
            doc->createElement(Str(L"e"), &child);
            ComPtr<IXMLDOMNode> added;
            ASSERT_EQ(S_OK, parent->appendChild(child.Get(), &added));
            parent = added;
        }
    };
    doc->createElement(Str(L"deep"), &root);
    doc->appendChild(root.Get(), &node);
    nest(node, 100000);
    ComPtr<IFieldCollection> c;
    for (auto call : {&IQarnUtilities::DOMNodeGetChilds2, &IQarnUtilities::DOMNodeGetChilds3})
        EXPECT_EQ(L"The element deep holds elements nested deeper than 1000 levels.",
                  Failure((u.Get()->*call)(Select(doc.Get(), L"/deep").Get(), &c)));
    EXPECT_NE(std::wstring::npos, Failure(u->DOMNodeGetChilds(doc.Get(), Str(L"/"), &c)).find(L"nested deeper than 1000 levels"));
    // The parameter-list engine reads the value of a caller's Field element with the same check.
    ComPtr<IXMLDOMElement> field, value;
    doc->createElement(Str(L"Field"), &field);
    doc->createElement(Str(L"Value"), &value);
    ComPtr<IXMLDOMNode> unused;
    ASSERT_EQ(S_OK, field->appendChild(value.Get(), &unused));
    ASSERT_EQ(S_OK, value.As(&node));
    nest(node, 1100);
    ComPtr<IField> built;
    EXPECT_NE(std::wstring::npos, Failure(u->DOMCreateFieldEntry(field.Get(), nullptr, &built)).find(L"nested deeper than 1000 levels"));
}

TEST_F(Dom, WritingParameterListFiles) {
    ComPtr<IParameterList> list = test::Create<IParameterList>(CLSID_ParameterList);
    list->put_FieldCollection(NewFields({{L"rate", L"50% \u00e4"}}).Get());
    const std::wstring file = dir / L"list.xml";
    EXPECT_EQ(S_OK, u->WriteXmlFile(Str(file), nullptr));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(file.c_str()));
    dir.Write(L"list.xml", "old content that is longer than nothing");
    const std::string written = WriteList(file, list.Get());
    EXPECT_EQ(0u, written.rfind("\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?><Parameter", 0)) << written;
    EXPECT_NE(std::string::npos, written.find("50% \xC3\xA4")) << "a percent sign is written once";
    EXPECT_EQ(std::string::npos, written.find("old content"));
    for (size_t i = written.find('\n'); i != std::string::npos; i = written.find('\n', i + 1))
        EXPECT_EQ('\r', written[i - 1]) << "lines end with CR LF";
    ComPtr<IDispatch> reread;
    EXPECT_EQ(S_OK, u->DOMParse(Variant(std::wstring_view(file)), &reread)) << "the file parses again";

    const std::wstring nowhere = dir / L"no-folder\\list.xml";
    EXPECT_EQ(L"Error creating file " + nowhere + L".", Failure(u->WriteXmlFile(Str(nowhere), list.Get())));
    // A failed replacement leaves the old file and no temporary file behind.
    CreateDirectoryW((dir / L"taken").c_str(), nullptr);
    Failure(u->WriteXmlFile(Str(dir / L"taken"), list.Get()));
    EXPECT_EQ(L"list.xml taken ", FolderEntries(dir.path()));
}

// The access rules (DACL) of a file in SDDL form.
std::wstring AccessRules(const std::wstring& file) {
    DWORD size = 0;
    GetFileSecurityW(file.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &size);
    std::vector<char> sd(size);
    LPWSTR text = nullptr;
    if (!size || !GetFileSecurityW(file.c_str(), DACL_SECURITY_INFORMATION, sd.data(), size, &size) ||
        !ConvertSecurityDescriptorToStringSecurityDescriptorW(sd.data(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr))
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
    const DWORD flags = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    const std::wstring hidden = dir.Write(L"hidden.xml", "old");
    SetFileAttributesW(hidden.c_str(), flags);
    EXPECT_NE(std::string::npos, WriteList(hidden, list.Get()).find("<Parameter"));
    EXPECT_EQ(flags, GetFileAttributesW(hidden.c_str()) & flags);

    // Only the system and the administrators: everybody else may not read the file, before or after.
    const std::wstring guarded = dir.Write(L"guarded.xml", "old");
    PSECURITY_DESCRIPTOR rules = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;SY)(A;;FA;;;BA)", SDDL_REVISION_1, &rules, nullptr));
    ASSERT_TRUE(SetFileSecurityW(guarded.c_str(), DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, rules));
    LocalFree(rules);
    const std::wstring before = AccessRules(guarded);
    ASSERT_EQ(std::wstring::npos, before.find(L";;;WD)")) << before;
    WriteList(guarded, list.Get());
    EXPECT_EQ(before, AccessRules(guarded));

    // Every name of a file with hard links sees the new content, shorter or longer than the old.
    const std::wstring linked = dir.Write(L"linked.xml", std::string(1000, 'x')), link = dir / L"link.xml";
    ASSERT_TRUE(CreateHardLinkW(link.c_str(), linked.c_str(), nullptr));
    for (int round = 0; round < 2; ++round) {
        if (round == 1) list->put_FieldCollection(NewFields({{L"long", std::wstring(2000, L'y')}}).Get());
        const std::string written = WriteList(linked, list.Get());
        EXPECT_EQ(std::string::npos, written.find("xx")) << "nothing of the old content is left";
        EXPECT_EQ(written, ScratchFolder::Read(link));
        EXPECT_EQ(2u, Names(linked));
    }

    // A temporary name longer than the target's would push the path past MAX_PATH (and this name
    // past the 255 characters a name may have).
    const std::wstring folder = L"C:\\qarn-mp";
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring longest = folder + L"\\" + std::wstring(MAX_PATH - 1 - folder.size() - 5, L'n') + L".xml";
    ASSERT_EQ(size_t(MAX_PATH - 1), longest.size());
    for (int twice = 0; twice < 2; ++twice) EXPECT_NE(std::string::npos, WriteList(longest, list.Get()).find("<Parameter"));
    EXPECT_EQ(longest.substr(folder.size() + 1) + L" ", FolderEntries(folder)) << "no temporary file is left";
    DeleteFileW(longest.c_str());
    RemoveDirectoryW(folder.c_str());
}

}  // namespace
