// QarnDocument XML files through real activation: the document file written and read back (a
// three-level tree, a deep and a wide tree), the files it rejects, a failed write that keeps the
// previous file, and document descriptions from files and strings.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ForeignObject.h"
#include "TestSupport.h"
#include "UtilitiesSupport.h"
#include "dom/Dom.h"

using namespace test;

namespace {

// `levels` elements, each inside the one before.
std::string Nested(int levels) {
    std::string s;
    for (int i = 0; i < levels; ++i) s += "<a>";
    for (int i = 0; i < levels; ++i) s += "</a>";
    return s;
}

// The reason MSXML gives for a text that does not parse.
std::wstring ParseReason(const wchar_t* xml) {
    auto dom = test::Create<IXMLDOMDocument2>(qarn::dom::kDomDocument60);
    VARIANT_BOOL loaded;
    ComPtr<IXMLDOMParseError> error;
    Str reason;
    dom->loadXML(Str(xml), &loaded);
    dom->get_parseError(&error);
    error->get_reason(reason.Out());
    return std::wstring(reason.View());
}

// The tree in document order, one line per document: depth, number of children (no collection
// counts 0) and the list's XML text ("-" without a list).
Texts Outline(IQarnDocument* root) {
    Texts lines;
    std::vector<std::pair<ComPtr<IQarnDocument>, int>> stack{{root, 0}};
    while (!stack.empty()) {
        auto [document, depth] = stack.back();
        stack.pop_back();
        if (!document) return lines.push_back(L"(no document)"), lines;
        ComPtr<IParameterList> list;
        ComPtr<IQarnDocumentCollection> children;
        Str xml;
        long count = 0;
        document->get_ParameterList(&list);
        if (list) list->get_Xml(xml.Out());
        document->get_Children(&children);
        if (children) children->get_Count(&count);
        lines.push_back(std::to_wstring(depth) + L" " + std::to_wstring(count) + L" " + (list ? ToWide(xml) : L"-"));
        for (long i = count; i >= 1; --i) {
            ComPtr<IQarnDocument> child;
            children->get_Item(i, &child);
            stack.push_back({child, depth + 1});
        }
    }
    return lines;
}

// A parameter list of another implementation: only its Xml text is given.
class ForeignList : public test::ForeignObject<IParameterList> {
public:
    explicit ForeignList(std::wstring xml) : xml_(std::move(xml)) {}
    STDMETHODIMP get_Xml(BSTR* xml) override { return (*xml = SysAllocString(xml_.c_str())) ? S_OK : E_OUTOFMEMORY; }
    STDMETHODIMP get_FieldCollection(IFieldCollection**) override { return E_NOTIMPL; }
    STDMETHODIMP put_FieldCollection(IFieldCollection*) override { return E_NOTIMPL; }
    STDMETHODIMP get_StructureCollection(IStructureCollection**) override { return E_NOTIMPL; }
    STDMETHODIMP put_StructureCollection(IStructureCollection*) override { return E_NOTIMPL; }
    STDMETHODIMP get_TableCollection(ITableCollection**) override { return E_NOTIMPL; }
    STDMETHODIMP put_TableCollection(ITableCollection*) override { return E_NOTIMPL; }
    STDMETHODIMP GetField(BSTR, IField**) override { return E_NOTIMPL; }
    STDMETHODIMP GetStructureField(BSTR, BSTR, IField**) override { return E_NOTIMPL; }
    STDMETHODIMP GetTableField(BSTR, BSTR, LONG, IField**) override { return E_NOTIMPL; }
    STDMETHODIMP FindTableField(BSTR, BSTR, BSTR, BSTR, IField**) override { return E_NOTIMPL; }
    STDMETHODIMP Clone(IParameterList**) override { return E_NOTIMPL; }
    STDMETHODIMP GetTable(BSTR, ITable**) override { return E_NOTIMPL; }
    STDMETHODIMP GetStructure(BSTR, IStructure**) override { return E_NOTIMPL; }
    STDMETHODIMP get_Attributes(IFieldCollection**) override { return E_NOTIMPL; }
    STDMETHODIMP put_Attributes(IFieldCollection*) override { return E_NOTIMPL; }

private:
    std::wstring xml_;
};

ComPtr<IQarnDocument> ChildOf(IQarnDocument* d, long index) {
    ComPtr<IQarnDocumentCollection> children;
    ComPtr<IQarnDocument> child;
    if (d && SUCCEEDED(d->get_Children(&children)) && children) children->get_Item(index, &child);
    return child;
}

class Documents : public ::testing::Test {
protected:
    Documents() {
        CoGetClassObject(CLSID_QarnDocument, CLSCTX_ALL, nullptr, IID_PPV_ARGS(&documents));
        CoGetClassObject(CLSID_QarnDocumentCollection, CLSCTX_ALL, nullptr, IID_PPV_ARGS(&collections));
        CoGetClassObject(CLSID_ParameterList, CLSCTX_ALL, nullptr, IID_PPV_ARGS(&lists));
    }
    ComPtr<IParameterList> List(const std::string& parameter) {
        ComPtr<IParameterList> list;
        EXPECT_EQ(S_OK, u->GetXmlParameterListFromXMLString3(Str(Wide(parameter)), Str(L"Parameter"), nullptr, &list))
            << TakeMessage();
        return list;
    }
    std::wstring XmlOf(const std::string& parameter) {
        Str xml;
        List(parameter)->get_Xml(xml.Out());
        return ToWide(xml);
    }
    // A document with the list of `parameter` (none when empty); one class object for all: an
    // activation per object is slow under Wine.
    ComPtr<IQarnDocument> Document(const std::string& parameter = "") {
        ComPtr<IQarnDocument> d;
        documents->CreateInstance(nullptr, IID_PPV_ARGS(&d));
        if (!parameter.empty()) d->put_ParameterList(List(parameter).Get());
        return d;
    }
    // A document whose list holds the field F=1, made without a parse.
    ComPtr<IQarnDocument> Leaf() {
        ComPtr<IQarnDocument> d = Document();
        ComPtr<IParameterList> list;
        ComPtr<IFieldCollection> fields;
        lists->CreateInstance(nullptr, IID_PPV_ARGS(&list));
        list->get_FieldCollection(&fields);
        fields->SetValue(Str(L"F"), Variant(std::wstring_view(L"1")));
        d->put_ParameterList(list.Get());
        return d;
    }
    // `child` appended to the children of `parent` (a collection is made when it has none).
    void Adopt(IQarnDocument* parent, IQarnDocument* child) {
        ComPtr<IQarnDocumentCollection> children;
        parent->get_Children(&children);
        if (!children) collections->CreateInstance(nullptr, IID_PPV_ARGS(&children)), parent->put_Children(children.Get());
        if (child) children->Add(child);
    }
    // A chain of `levels` documents, each with a field.
    ComPtr<IQarnDocument> Chain(int levels) {
        ComPtr<IQarnDocument> root = Leaf();
        for (ComPtr<IQarnDocument> last = root, next; --levels > 0; last = next) Adopt(last.Get(), (next = Leaf()).Get());
        return root;
    }
    HRESULT Write(IQarnDocument* d, const std::wstring& file) { return u->WriteQarnDocumentToFile(d, Str(file)); }
    ComPtr<IQarnDocument> Read(const std::wstring& file) {
        ComPtr<IQarnDocument> d;
        EXPECT_EQ(S_OK, u->ReadQarnDocumentFromFile(Str(file), &d)) << TakeMessage();
        return d;
    }
    // Whether a name in the scratch folder holds `part`.
    bool Holds(const wchar_t* part) { return FolderEntries(folder.path()).find(part) != std::wstring::npos; }

    const std::string kField = "<Parameter><FieldCollection><Field><Name>F</Name><Value>1</Value></Field></FieldCollection></Parameter>";
    ComPtr<IQarnUtilities> u = test::Create<IQarnUtilities>(CLSID_CQarnUtilities);
    ComPtr<IClassFactory> documents, collections, lists;
    ScratchFolder folder{L"documents"};
};

TEST_F(Documents, ThreeLevelTreeRoundTrip) {
    ComPtr<IQarnDocument> root = Document(
        "<Parameter><FieldCollection><Field unit='mm'><Name>Length</Name><Value>12</Value></Field></FieldCollection>"
        "<StructureCollection><Structure><Name>HEAD</Name><FieldCollection><Field><Name>Plant</Name><Value>1000</Value>"
        "</Field></FieldCollection></Structure></StructureCollection><TableCollection><Table><Name>ITEMS</Name>"
        "<FieldCollectionTable><FieldCollection><Field><Name>Pos</Name><Value>10</Value></Field></FieldCollection>"
        "<FieldCollection><Field><Name>Pos</Name><Value>20 &amp; &lt;%x%&gt;</Value></Field></FieldCollection>"
        "</FieldCollectionTable></Table></TableCollection></Parameter>");
    ComPtr<IQarnDocument> a = Document(kField), b = Document();  // b: no list, an empty children collection
    Adopt(root.Get(), a.Get());
    Adopt(root.Get(), b.Get());
    Adopt(b.Get(), nullptr);
    Adopt(a.Get(), Document("<Parameter><TableCollection><Table><Name>T</Name></Table></TableCollection></Parameter>").Get());
    Adopt(a.Get(), Chain(1).Get());
    root->put_Attributes(NewFields({{L"note", L"not stored"}}).Get());

    const std::wstring file = folder / L"tree.xml";
    ASSERT_EQ(S_OK, Write(root.Get(), file)) << TakeMessage();
    const std::string bytes = ScratchFolder::Read(file);
    EXPECT_EQ(0u, bytes.find("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<QarnDocuments><QarnDocument><Parameter>"));
    EXPECT_NE(std::string::npos, bytes.find("<QarnDocument><Children></Children></QarnDocument>"));
    // A document without a list reads back with an empty one; attributes are not stored.
    Texts expected = Outline(root.Get());
    expected[4] = L"1 0 " + XmlOf("<Parameter/>");
    ComPtr<IQarnDocument> back = Read(file);
    EXPECT_EQ(expected, Outline(back.Get()));
    EXPECT_EQ(Texts{}, AttributesOf(back.Get()));

    // Writing again replaces the file; a null document writes nothing and succeeds.
    ASSERT_EQ(S_OK, Write(a.Get(), file)) << TakeMessage();
    EXPECT_EQ(Outline(a.Get()), Outline(Read(file).Get()));
    EXPECT_EQ(S_OK, Write(nullptr, folder / L"null.xml"));
    EXPECT_FALSE(Holds(L"null.xml"));
}

// Our own lists are written as they give their text, values of any characters included; lists of
// another implementation go through the parse, and one that does not parse is left out.
TEST_F(Documents, SpecialCharactersAndListsOfAnotherImplementation) {
    ComPtr<IQarnDocument> root = Leaf(), good = Document(), bad = Document();
    ComPtr<IParameterList> list;
    ComPtr<IFieldCollection> fields;
    root->get_ParameterList(&list);
    list->get_FieldCollection(&fields);
    fields->SetValue(Str(L"V"), Variant(std::wstring_view(L"a\rb\nc\td <&>\"' \u00e4\u20ac\U0001F600 ]]>")));
    ComPtr<IField> v;
    fields->get_Field(Str(L"V"), &v);
    v->put_Attributes(NewFields({{L"t", L"x\ty\nz\r\"'<&>\u00e4"}}).Get());
    good->put_ParameterList(ComPtr<IParameterList>(new ForeignList(
        L"<Parameter>\n <FieldCollection><Field u='1'><Name>G</Name><Value>&#xE4;</Value></Field></FieldCollection>"
        L"</Parameter>")).Get());
    bad->put_ParameterList(ComPtr<IParameterList>(new ForeignList(L"<Parameter><FieldCollection>")).Get());
    Adopt(root.Get(), good.Get());
    Adopt(root.Get(), bad.Get());

    const std::wstring file = folder / L"special.xml";
    ASSERT_EQ(S_OK, Write(root.Get(), file)) << TakeMessage();
    Texts expected = Outline(root.Get());
    expected[1] = L"1 0 " + XmlOf("<Parameter><FieldCollection><Field u='1'><Name>G</Name><Value>&#xE4;</Value></Field>"
                                   "</FieldCollection></Parameter>");
    expected[2] = L"1 0 " + XmlOf("<Parameter/>");
    EXPECT_EQ(expected, Outline(Read(file).Get()));
}

TEST_F(Documents, DocumentFilesReadAndRejected) {
    const std::wstring wrong = L"wrong number of QarnDocuments found in CQarnUtilities::ReadQarnDocumentFromFile";
    const std::wstring one = XmlOf(kField), empty = XmlOf("<Parameter/>");
    const struct {
        std::string content;
        std::wstring message;  // empty: read, giving `outline`
        Texts outline;
    } cases[] = {
        {"<QarnDocuments><QarnDocument/><QarnDocument/></QarnDocuments>", wrong, {}},
        {"<QarnDocuments><Children><QarnDocument/></Children></QarnDocuments>", wrong, {}},
        {"<Other><QarnDocument/></Other>", wrong, {}},
        {"<QarnDocuments><QarnDocument></QarnDocument", ParseReason(L"<a></a"), {}},
        {"<QarnDocuments><!-- c --><QarnDocument>" + kField + "<Children><QarnDocument/><QarnDocument><Children>"
         "<QarnDocument><Children/></QarnDocument></Children></QarnDocument></Children></QarnDocument></QarnDocuments>",
         L"", {L"0 2 " + one, L"1 0 " + empty, L"1 1 " + empty, L"2 0 " + empty}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.content);
        ComPtr<IQarnDocument> d;
        const HRESULT hr = u->ReadQarnDocumentFromFile(Str(folder.Write(L"in.xml", c.content)), &d);
        EXPECT_EQ(c.message.empty() ? S_OK : DISP_E_EXCEPTION, hr);
        EXPECT_EQ(c.message, TakeMessage());
        EXPECT_EQ(c.outline, d ? Outline(d.Get()) : Texts{});
    }
    ComPtr<IQarnDocument> d;
    // The list takes a collection element's fields and structures, not its attributes.
    ASSERT_EQ(S_OK, u->ReadQarnDocumentFromFile(Str(folder.Write(L"in.xml",
        "<QarnDocuments><QarnDocument><Parameter><FieldCollection a='1'><Field><Name>F</Name><Value>1</Value></Field>"
        "</FieldCollection><StructureCollection b='2'><Structure><Name>S</Name></Structure></StructureCollection>"
        "</Parameter></QarnDocument></QarnDocuments>")), &d));
    ComPtr<IParameterList> list;
    ComPtr<IFieldCollection> fields, attributes;
    ComPtr<IStructureCollection> structures;
    ASSERT_EQ(S_OK, d->get_ParameterList(&list));
    ASSERT_EQ(S_OK, list->get_FieldCollection(&fields));
    ASSERT_EQ(S_OK, list->get_StructureCollection(&structures));
    long count = 0;
    EXPECT_EQ(S_OK, fields->get_Count(&count));
    EXPECT_EQ(1, count);
    EXPECT_EQ(S_OK, structures->get_Count(&count));
    EXPECT_EQ(1, count);
    EXPECT_EQ(S_OK, fields->get_Attributes(&attributes));
    EXPECT_FALSE(attributes);
    ComPtr<IFieldCollection> structureAttributes;
    EXPECT_EQ(S_OK, structures->get_Attributes(&structureAttributes));
    EXPECT_FALSE(structureAttributes);
    const std::wstring missing = folder / L"missing.xml";
    EXPECT_EQ(L"File " + missing + L" does not exist.", Failure(u->ReadQarnDocumentFromFile(Str(missing), &d)));
    EXPECT_EQ(L"File " + missing + L" does not exist.", Failure(u->GetXmlQarnDocumentFromFile(Str(missing), nullptr, &d)));
}

TEST_F(Documents, FailedWriteKeepsThePreviousFile) {
    const std::wstring file = folder / L"kept.xml";
    ASSERT_EQ(S_OK, Write(Chain(3).Get(), file)) << TakeMessage();
    const std::string before = ScratchFolder::Read(file);

    // A document among its own descendants, three levels down; then a folder that does not exist.
    ComPtr<IQarnDocument> cycle = Chain(4);
    Adopt(ChildOf(ChildOf(ChildOf(cycle.Get(), 1).Get(), 1).Get(), 1).Get(), ChildOf(cycle.Get(), 1).Get());
    EXPECT_EQ(L"The document tree holds a document among its own descendants; it cannot be written.", Failure(Write(cycle.Get(), file)));
    EXPECT_EQ(before, ScratchFolder::Read(file));
    // A missing folder; a folder in the file's place: the complete temporary file cannot be moved there.
    const std::wstring nowhere = folder / L"no\\such.xml", taken = folder / L"taken";
    CreateDirectoryW(taken.c_str(), nullptr);
    for (const std::wstring& target : {nowhere, taken})
        EXPECT_EQ(L"Error creating file " + target + L".", Failure(Write(Chain(1).Get(), target)));
    EXPECT_FALSE(Holds(L".tmp"));

    // A document in two places, not below itself, is written twice.
    ComPtr<IQarnDocument> twice = Chain(1), shared = Chain(2);
    Adopt(twice.Get(), shared.Get());
    Adopt(twice.Get(), shared.Get());
    ASSERT_EQ(S_OK, Write(twice.Get(), file)) << TakeMessage();
    EXPECT_EQ(Outline(twice.Get()), Outline(Read(file).Get()));
}

TEST_F(Documents, DeepAndWideTrees) {
    // 126 levels nest the deepest element 256 deep (the reader's limit) and read back; one more is
    // refused naming the limit, and so is 10,000, which is written all the same.
    const std::wstring file = folder / L"big.xml";
    for (int levels : {126, 127, 10000}) {
        SCOPED_TRACE(levels);
        ComPtr<IQarnDocument> root = Chain(levels), back;
        ASSERT_EQ(S_OK, Write(root.Get(), file)) << TakeMessage();
        const HRESULT hr = u->ReadQarnDocumentFromFile(Str(file), &back);
        if (levels == 126) {
            EXPECT_EQ(S_OK, hr);
            EXPECT_EQ(Outline(root.Get()), Outline(back.Get()));
            continue;
        }
        EXPECT_EQ(L"The file " + file + L" holds elements nested " + std::to_wstring(2 * levels + 4) +
                      L" levels deep; the XML reader accepts at most 256 levels.", Failure(hr));
        const std::string bytes = ScratchFolder::Read(file);
        size_t closed = 0;
        for (size_t at = 0; (at = bytes.find("</Children></QarnDocument>", at)) != std::string::npos; ++at) ++closed;
        EXPECT_EQ(static_cast<size_t>(levels - 1), closed);
    }
    ComPtr<IQarnDocument> wide = Leaf();
    for (int i = 0; i < 20000; ++i) Adopt(wide.Get(), i % 2 ? Leaf().Get() : Document().Get());
    ASSERT_EQ(S_OK, Write(wide.Get(), file)) << TakeMessage();
    Texts expected = Outline(wide.Get());
    const std::wstring empty = L"1 0 " + XmlOf("<Parameter/>");
    for (size_t i = 1; i < expected.size(); i += 2) expected[i] = empty;
    EXPECT_EQ(expected, Outline(Read(file).Get()));
}

TEST_F(Documents, DescriptionsFromFilesAndStrings) {
    auto parameter = [](const char* value) {
        return std::string("<Parameter><FieldCollection><Field><Name>F</Name><Value>") + value +
               "</Value></Field></FieldCollection></Parameter>";
    };
    const std::string description =
        "<QarnDocument type='assembly' id='A1'>" + parameter("first") + "text" + parameter("root") +
        "<qarnDocumentCollection><QarnDocument/></qarnDocumentCollection><!-- c -->"
        "<QarnDocumentCollection><QarnDocument/></QarnDocumentCollection>"
        "<QarnDocumentCollection kind='bom'><QarnDocument id='C1'>" + parameter("child") +
        "<QarnDocumentCollection><QarnDocument id='G1'/></QarnDocumentCollection></QarnDocument>"
        "<Other/><QarnDocument id='C2'/></QarnDocumentCollection></QarnDocument>";
    const std::wstring file = folder / L"d.xml";
    for (bool fromFile : {true, false}) {
        SCOPED_TRACE(fromFile ? "file" : "string");
        auto get = [&](const std::string& xml, ComPtr<IQarnDocument>& d) {
            return fromFile ? u->GetXmlQarnDocumentFromFile(Str(folder.Write(L"d.xml", xml)), nullptr, &d)
                            : u->GetXmlQarnDocumentFromString(Str(Wide(xml)), nullptr, &d);
        };
        ComPtr<IQarnDocument> d;
        ASSERT_EQ(S_OK, get(description, d)) << TakeMessage();
        EXPECT_EQ((Texts{L"type=assembly", L"id=A1"}), AttributesOf(d.Get()));
        ComPtr<IQarnDocumentCollection> children;
        d->get_Children(&children);
        EXPECT_EQ(Texts{L"kind=bom"}, AttributesOf(children.Get()));
        EXPECT_EQ((Texts{L"0 2 " + XmlOf(parameter("root")), L"1 1 " + XmlOf(parameter("child")), L"2 0 -", L"1 0 -"}),
                  Outline(d.Get()));
        EXPECT_EQ(Texts{L"id=G1"}, AttributesOf(ChildOf(ChildOf(d.Get(), 1).Get(), 1).Get()));
        EXPECT_EQ(Texts{L"id=C2"}, AttributesOf(ChildOf(d.Get(), 2).Get()));

        const std::pair<std::string, std::wstring> rejected[] = {
            {"<QarnDocuments><QarnDocument/></QarnDocuments>",
             fromFile ? L"Given file '" + file + L"' is not an valid QARN document file."
                      : L"Given input is not an QARN document string."},
            {"<QarnDocument>", ParseReason(L"<QarnDocument>")},
            {Nested(300), (fromFile ? L"The file " + file : std::wstring(L"The XML text")) +
                              L" holds elements nested 300 levels deep; the XML reader accepts at most 256 levels."},
        };
        for (const auto& [xml, message] : rejected) {
            EXPECT_EQ(message, Failure(get(xml, d)));
            EXPECT_FALSE(d);
        }
    }
}

}  // namespace
