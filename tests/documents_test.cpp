// QarnDocument XML files through real activation: the document file written and read back (a
// three-level tree, a deep and a wide tree), the files it rejects, a failed write that keeps the
// previous file, and document descriptions from files and strings.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "UtilitiesSupport.h"
#include "documents/Dom.h"

using namespace test;
using Texts = std::vector<std::wstring>;

namespace {

std::wstring Wide(std::string_view ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// Creates data-type objects through one class object each: one activation per object is slow.
template <class I>
ComPtr<I> New(REFCLSID clsid) {
    ComPtr<IClassFactory> factory;
    if (FAILED(CoGetClassObject(clsid, CLSCTX_ALL, nullptr, IID_PPV_ARGS(&factory)))) throw E_FAIL;
    ComPtr<I> object;
    if (FAILED(factory->CreateInstance(nullptr, __uuidof(I), reinterpret_cast<void**>(object.GetAddressOf())))) throw E_FAIL;
    return object;
}

struct Factories {
    ComPtr<IClassFactory> document, collection, list;
    Factories() {
        CoGetClassObject(CLSID_QarnDocument, CLSCTX_ALL, nullptr, IID_PPV_ARGS(&document));
        CoGetClassObject(CLSID_QarnDocumentCollection, CLSCTX_ALL, nullptr, IID_PPV_ARGS(&collection));
        CoGetClassObject(CLSID_ParameterList, CLSCTX_ALL, nullptr, IID_PPV_ARGS(&list));
    }
    ComPtr<IQarnDocument> Document(IParameterList* withList = nullptr) {
        ComPtr<IQarnDocument> d;
        document->CreateInstance(nullptr, IID_PPV_ARGS(&d));
        if (withList) d->put_ParameterList(withList);
        return d;
    }
    // `parent` gets a children collection (when it has none) and `child` as its last item.
    void Adopt(IQarnDocument* parent, IQarnDocument* child) {
        ComPtr<IQarnDocumentCollection> children;
        parent->get_Children(&children);
        if (!children) {
            collection->CreateInstance(nullptr, IID_PPV_ARGS(&children));
            parent->put_Children(children.Get());
        }
        children->Add(child);
    }
    // A list with the one field name=value.
    ComPtr<IParameterList> OneField(const std::wstring& name, const std::wstring& value) {
        ComPtr<IParameterList> l;
        list->CreateInstance(nullptr, IID_PPV_ARGS(&l));
        ComPtr<IFieldCollection> fields;
        l->get_FieldCollection(&fields);
        fields->SetValue(Str(name), Variant(std::wstring_view(value)));
        return l;
    }
};

// The members of a field collection, each "name=value" with its attributes in braces.
std::wstring Members(IFieldCollection* fields) {
    std::wstring text;
    long n = 0;
    if (fields) fields->get_Count(&n);
    for (long i = 1; i <= n; ++i) {
        ComPtr<IField> field;
        ComPtr<IFieldCollection> attributes;
        fields->get_Item(i, &field);
        field->get_Attributes(&attributes);
        Str name, value;
        field->get_Name(name.Out()), field->get_StringValue(value.Out());
        text += std::wstring(name.View()) + L"=" + std::wstring(value.View());
        for (const std::wstring& a : Entries(attributes.Get())) text += L"{" + a + L"}";
        text += L";";
    }
    return text;
}

// A list's fields, structures (name: fields) and table rows (name: row | row), "-" when it has none.
std::wstring Content(IParameterList* list) {
    if (!list) return L"-";
    ComPtr<IFieldCollection> fields;
    ComPtr<IStructureCollection> structures;
    ComPtr<ITableCollection> tables;
    list->get_FieldCollection(&fields), list->get_StructureCollection(&structures), list->get_TableCollection(&tables);
    std::wstring text = Members(fields.Get());
    long n = 0;
    structures->get_Count(&n);
    for (long i = 1; i <= n; ++i) {
        ComPtr<IStructure> s;
        ComPtr<IFieldCollection> f;
        Str name;
        structures->get_Item(i, &s);
        s->get_Name(name.Out()), s->get_FieldCollection(&f);
        text += L" S " + std::wstring(name.View()) + L": " + Members(f.Get());
    }
    tables->get_Count(&n);
    for (long i = 1; i <= n; ++i) {
        ComPtr<ITable> t;
        ComPtr<IFieldCollectionTable> rows;
        Str name;
        long count = 0;
        tables->get_Item(i, &t);
        t->get_Name(name.Out()), t->get_FieldCollectionTable(&rows);
        rows->get_Count(&count);
        text += L" T " + std::wstring(name.View()) + L":";
        for (long r = 1; r <= count; ++r) {
            ComPtr<IFieldCollection> row;
            rows->get_Item(r, &row);
            text += L" " + Members(row.Get()) + L" |";
        }
    }
    return text.empty() ? L"-" : text;
}

// The tree in document order, one line per document: its depth, its number of children (none and
// an empty collection both count 0) and its list's content.
Texts Outline(IQarnDocument* root) {
    Texts lines;
    std::vector<std::pair<ComPtr<IQarnDocument>, int>> stack{{root, 0}};
    while (!stack.empty()) {
        auto [document, depth] = stack.back();
        stack.pop_back();
        ComPtr<IParameterList> list;
        document->get_ParameterList(&list);
        ComPtr<IQarnDocumentCollection> children;
        document->get_Children(&children);
        long count = 0;
        if (children) children->get_Count(&count);
        lines.push_back(std::to_wstring(depth) + L" " + std::to_wstring(count) + L" " + Content(list.Get()));
        for (long i = count; i >= 1; --i) {
            ComPtr<IQarnDocument> child;
            children->get_Item(i, &child);
            stack.push_back({child, depth + 1});
        }
    }
    return lines;
}

Texts AttributesOf(IQarnDocument* d) {
    ComPtr<IFieldCollection> a;
    if (d) d->get_Attributes(&a);
    return Entries(a.Get());
}

ComPtr<IQarnDocument> ChildOf(IQarnDocument* d, long index) {
    ComPtr<IQarnDocumentCollection> children;
    ComPtr<IQarnDocument> child;
    if (d && SUCCEEDED(d->get_Children(&children)) && children) children->get_Item(index, &child);
    return child;
}

Texts FieldsOf(IQarnDocument* d) {
    ComPtr<IParameterList> list;
    ComPtr<IFieldCollection> fields;
    if (d && SUCCEEDED(d->get_ParameterList(&list)) && list) list->get_FieldCollection(&fields);
    return Entries(fields.Get());
}

// `levels` elements, each inside the one before.
std::string Nested(int levels) {
    std::string s;
    for (int i = 0; i < levels; ++i) s += "<a>";
    for (int i = 0; i < levels; ++i) s += "</a>";
    return s;
}

// The reason MSXML gives for a text that does not parse.
std::wstring ParseReason(const std::wstring& xml) {
    ComPtr<IXMLDOMDocument2> dom;
    CoCreateInstance(qarn::dom::kDomDocument60, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&dom));
    VARIANT_BOOL loaded;
    dom->loadXML(Str(xml), &loaded);
    ComPtr<IXMLDOMParseError> error;
    Str reason;
    dom->get_parseError(&error);
    error->get_reason(reason.Out());
    return std::wstring(reason.View());
}

Texts FilesIn(const ScratchFolder& folder) {
    Texts names;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((folder / L"*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(entry.cFileName);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    return names;
}

class Documents : public ::testing::Test {
protected:
    ComPtr<IParameterList> List(const std::string& parameter) {
        ComPtr<IParameterList> list;
        EXPECT_EQ(S_OK, u->GetXmlParameterListFromXMLString3(Str(Wide(parameter)), Str(L"Parameter"), nullptr, &list))
            << TakeMessage();
        return list;
    }
    HRESULT Write(IQarnDocument* d, const std::wstring& file) { return u->WriteQarnDocumentToFile(d, Str(file)); }
    ComPtr<IQarnDocument> Read(const std::wstring& file) {
        ComPtr<IQarnDocument> d;
        EXPECT_EQ(S_OK, u->ReadQarnDocumentFromFile(Str(file), &d)) << TakeMessage();
        return d;
    }
    // A chain of `levels` documents, each with the field level=<its depth>.
    ComPtr<IQarnDocument> Chain(int levels) {
        ComPtr<IQarnDocument> root = make.Document(make.OneField(L"level", L"0").Get()), last = root;
        for (int i = 1; i < levels; ++i) {
            ComPtr<IQarnDocument> next = make.Document(make.OneField(L"level", std::to_wstring(i)).Get());
            make.Adopt(last.Get(), next.Get());
            last = next;
        }
        return root;
    }

    ComPtr<IQarnUtilities> u = test::Create<IQarnUtilities>(CLSID_CQarnUtilities);
    Factories make;
    ScratchFolder folder{L"documents"};
};

TEST_F(Documents, ThreeLevelTreeRoundTrip) {
    const std::string field = "<Field unit='mm'><Name>Length</Name><Value>12</Value></Field>";
    ComPtr<IQarnDocument> root = make.Document(List(
        "<Parameter kind='part'><FieldCollection>" + field + "<Field><Name>Id</Name><Value>P-1</Value></Field>"
        "</FieldCollection><StructureCollection><Structure><Name>HEAD</Name><FieldCollection>"
        "<Field><Name>Plant</Name><Value>1000</Value></Field></FieldCollection></Structure></StructureCollection>"
        "<TableCollection><Table><Name>ITEMS</Name><FieldCollectionTable><FieldCollection>"
        "<Field><Name>Pos</Name><Value>10</Value></Field></FieldCollection><FieldCollection>"
        "<Field><Name>Pos</Name><Value>20 &amp; 30 &lt;%x%&gt;</Value></Field></FieldCollection>"
        "</FieldCollectionTable></Table></TableCollection></Parameter>").Get());
    ComPtr<IQarnDocument> a = make.Document(List("<Parameter><FieldCollection>" + field + "</FieldCollection></Parameter>").Get());
    ComPtr<IQarnDocument> b = make.Document();  // no list, an empty children collection
    ComPtr<IQarnDocumentCollection> none = New<IQarnDocumentCollection>(CLSID_QarnDocumentCollection);
    b->put_Children(none.Get());
    make.Adopt(root.Get(), a.Get());
    make.Adopt(root.Get(), b.Get());
    for (const wchar_t* name : {L"A1", L"A2"}) make.Adopt(a.Get(), make.Document(make.OneField(L"name", name).Get()).Get());
    ComPtr<IFieldCollection> attributes = New<IFieldCollection>(CLSID_FieldCollection);
    attributes->SetValue(Str(L"note"), Variant(std::wstring_view(L"not stored")));
    root->put_Attributes(attributes.Get());

    const std::wstring file = folder / L"tree.xml";
    ASSERT_EQ(S_OK, Write(root.Get(), file)) << TakeMessage();
    const std::string bytes = ScratchFolder::Read(file);
    EXPECT_EQ(0u, bytes.find("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<QarnDocuments><QarnDocument><Parameter"));
    EXPECT_NE(std::string::npos, bytes.find("<QarnDocument><Children></Children></QarnDocument>"));
    ComPtr<IQarnDocument> back = Read(file);
    ASSERT_TRUE(back);
    const Texts outline = Outline(root.Get());
    ASSERT_EQ(5u, outline.size());
    EXPECT_EQ(L"0 2 Length=12{unit=mm};Id=P-1; S HEAD: Plant=1000; T ITEMS: Pos=10; | Pos=20 & 30 <%x%>; |", outline[0]);
    EXPECT_EQ(outline, Outline(back.Get()));
    EXPECT_EQ(Texts{}, AttributesOf(back.Get()));

    // Writing again replaces the file; a null document writes nothing and succeeds.
    ASSERT_EQ(S_OK, Write(a.Get(), file)) << TakeMessage();
    EXPECT_EQ(Outline(a.Get()), Outline(Read(file).Get()));
    EXPECT_EQ(S_OK, Write(nullptr, folder / L"null.xml"));
    EXPECT_EQ((Texts{L"tree.xml"}), FilesIn(folder));
}

TEST_F(Documents, DocumentFilesReadAndRejected) {
    const std::wstring wrong = L"wrong number of QarnDocuments found in CQarnUtilities::ReadQarnDocumentFromFile";
    const std::string list = "<Parameter><FieldCollection><Field><Name>F</Name><Value>1</Value></Field></FieldCollection></Parameter>";
    const struct {
        std::string content;
        std::wstring message;  // empty: read, with the outline below
        Texts outline;
    } cases[] = {
        {"<QarnDocuments><QarnDocument/><QarnDocument/></QarnDocuments>", wrong, {}},
        {"<QarnDocuments><Children><QarnDocument/></Children></QarnDocuments>", wrong, {}},
        {"<Other><QarnDocument/></Other>", wrong, {}},
        {"<QarnDocuments><QarnDocument>" + list + "</QarnDocument", ParseReason(L"<a></a"), {}},
        // No Parameter element: an empty list; no TableCollection: none read; a Children element
        // without documents gives no children; any number of documents below Children.
        {"<QarnDocuments><QarnDocument><Children/></QarnDocument></QarnDocuments>", L"", {L"0 0 -"}},
        {"<QarnDocuments><!-- c --><QarnDocument>" + list + "<Children><QarnDocument/><QarnDocument><Children>"
         "<QarnDocument/></Children></QarnDocument></Children></QarnDocument></QarnDocuments>",
         L"",
         {L"0 2 F=1;", L"1 0 -", L"1 1 -", L"2 0 -"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.content);
        const std::wstring file = folder.Write(L"in.xml", c.content);
        ComPtr<IQarnDocument> d;
        const HRESULT hr = u->ReadQarnDocumentFromFile(Str(file), &d);
        if (!c.message.empty()) {
            EXPECT_EQ(DISP_E_EXCEPTION, hr);
            EXPECT_EQ(c.message, TakeMessage());
            EXPECT_FALSE(d);
        } else {
            ASSERT_EQ(S_OK, hr) << TakeMessage();
            EXPECT_EQ(c.outline, Outline(d.Get()));
        }
    }
    ComPtr<IQarnDocument> d;
    const std::wstring missing = folder / L"missing.xml";
    EXPECT_EQ(DISP_E_EXCEPTION, u->ReadQarnDocumentFromFile(Str(missing), &d));
    EXPECT_EQ(L"File " + missing + L" does not exist.", TakeMessage());
    EXPECT_EQ(DISP_E_EXCEPTION, u->ReadQarnDocumentFromFile(Str(missing), nullptr));
}

TEST_F(Documents, FailedWriteKeepsThePreviousFile) {
    const std::wstring file = folder / L"kept.xml";
    ASSERT_EQ(S_OK, Write(Chain(3).Get(), file)) << TakeMessage();
    const std::string before = ScratchFolder::Read(file);

    // A document among its own descendants, three levels down.
    ComPtr<IQarnDocument> cycle = Chain(4);
    ComPtr<IQarnDocument> third = ChildOf(ChildOf(cycle.Get(), 1).Get(), 1);
    make.Adopt(ChildOf(third.Get(), 1).Get(), ChildOf(cycle.Get(), 1).Get());
    EXPECT_EQ(DISP_E_EXCEPTION, Write(cycle.Get(), file));
    EXPECT_EQ(L"The document tree holds a document among its own descendants; it cannot be written.", TakeMessage());
    EXPECT_EQ(before, ScratchFolder::Read(file));

    // A folder that does not exist.
    const std::wstring nowhere = folder / L"no\\such.xml";
    EXPECT_EQ(DISP_E_EXCEPTION, Write(Chain(1).Get(), nowhere));
    EXPECT_EQ(L"Error creating file " + nowhere + L".", TakeMessage());
    EXPECT_EQ(Texts{L"kept.xml"}, FilesIn(folder));

    // A document met twice, but not below itself, is written twice.
    ComPtr<IQarnDocument> twice = Chain(1), shared = Chain(2);
    make.Adopt(twice.Get(), shared.Get());
    make.Adopt(twice.Get(), shared.Get());
    ASSERT_EQ(S_OK, Write(twice.Get(), file)) << TakeMessage();
    EXPECT_EQ(Outline(twice.Get()), Outline(Read(file).Get()));
}

TEST_F(Documents, DeepAndWideTrees) {
    // The reader's limit: a file of 126 levels nests its elements 255 deep and reads back; one
    // more level is refused with the limit named. 10,000 levels are written all the same.
    for (int levels : {126, 127, 10000}) {
        SCOPED_TRACE(levels);
        ComPtr<IQarnDocument> root = Chain(levels);
        const std::wstring file = folder / L"deep.xml";
        ASSERT_EQ(S_OK, Write(root.Get(), file)) << TakeMessage();
        ComPtr<IQarnDocument> back;
        const HRESULT hr = u->ReadQarnDocumentFromFile(Str(file), &back);
        if (levels == 126) {
            ASSERT_EQ(S_OK, hr) << TakeMessage();
            EXPECT_EQ(Outline(root.Get()), Outline(back.Get()));
            continue;
        }
        EXPECT_EQ(DISP_E_EXCEPTION, hr);
        EXPECT_EQ(L"The file " + file + L" holds elements nested " + std::to_wstring(2 * levels + 4) +
                      L" levels deep; the XML reader accepts at most 256 levels.",
                  TakeMessage());
        const std::string bytes = ScratchFolder::Read(file);
        size_t opened = 0, closed = 0;
        for (size_t at = 0; (at = bytes.find("<QarnDocument>", at)) != std::string::npos; ++at) ++opened;
        for (size_t at = 0; (at = bytes.find("</Children></QarnDocument>", at)) != std::string::npos; ++at) ++closed;
        EXPECT_EQ(static_cast<size_t>(levels), opened);
        EXPECT_EQ(static_cast<size_t>(levels - 1), closed);
    }

    constexpr int kWide = 20000;
    ComPtr<IQarnDocument> wide = make.Document(make.OneField(L"root", L"r").Get());
    for (int i = 0; i < kWide; ++i) make.Adopt(wide.Get(), make.Document(make.OneField(L"n", std::to_wstring(i)).Get()).Get());
    const std::wstring file = folder / L"wide.xml";
    ASSERT_EQ(S_OK, Write(wide.Get(), file)) << TakeMessage();
    ComPtr<IQarnDocument> back = Read(file);
    ASSERT_TRUE(back);
    EXPECT_EQ(Outline(wide.Get()), Outline(back.Get()));
}

TEST_F(Documents, DescriptionsFromFilesAndStrings) {
    const std::string field = "<FieldCollection><Field><Name>F</Name><Value>%s</Value></Field></FieldCollection>";
    auto parameter = [&](const char* value) {
        std::string p = field;
        p.replace(p.find("%s"), 2, value);
        return "<Parameter>" + p + "</Parameter>";
    };
    const std::string description =
        "<QarnDocument type='assembly' id='A1'>" + parameter("first") + "text" + parameter("root") +
        "<qarnDocumentCollection><QarnDocument/></qarnDocumentCollection><!-- ignored -->"
        "<QarnDocumentCollection><QarnDocument/></QarnDocumentCollection>"
        "<QarnDocumentCollection kind='bom'><QarnDocument id='C1'>" + parameter("child 1") +
        "<QarnDocumentCollection><QarnDocument id='G1'/></QarnDocumentCollection></QarnDocument>"
        "<Other/><QarnDocument id='C2'/></QarnDocumentCollection></QarnDocument>";

    for (bool fromFile : {true, false}) {
        SCOPED_TRACE(fromFile ? "file" : "string");
        auto get = [&](const std::string& xml, ComPtr<IQarnDocument>& d) {
            return fromFile ? u->GetXmlQarnDocumentFromFile(Str(folder.Write(L"d.xml", xml)), nullptr, &d)
                            : u->GetXmlQarnDocumentFromString(Str(Wide(xml)), nullptr, &d);
        };
        ComPtr<IQarnDocument> d;
        ASSERT_EQ(S_OK, get(description, d)) << TakeMessage();
        EXPECT_EQ((Texts{L"type=assembly", L"id=A1"}), AttributesOf(d.Get()));
        EXPECT_EQ(Texts{L"F=root"}, FieldsOf(d.Get()));
        ComPtr<IQarnDocumentCollection> children;
        ComPtr<IFieldCollection> collectionAttributes;
        long count = 0;
        d->get_Children(&children);
        ASSERT_TRUE(children);
        children->get_Count(&count);
        children->get_Attributes(&collectionAttributes);
        EXPECT_EQ(2, count);
        EXPECT_EQ(Texts{L"kind=bom"}, Entries(collectionAttributes.Get()));
        ComPtr<IQarnDocument> first = ChildOf(d.Get(), 1);
        EXPECT_EQ(Texts{L"id=C1"}, AttributesOf(first.Get()));
        EXPECT_EQ(Texts{L"F=child 1"}, FieldsOf(first.Get()));
        EXPECT_EQ(Texts{L"id=G1"}, AttributesOf(ChildOf(first.Get(), 1).Get()));
        EXPECT_EQ(Texts{L"id=C2"}, AttributesOf(ChildOf(d.Get(), 2).Get()));

        const std::wstring file = folder / L"d.xml";
        const struct {
            std::string xml;
            std::wstring message;
        } rejected[] = {
            {"<QarnDocuments><QarnDocument/></QarnDocuments>",
             fromFile ? L"Given file '" + file + L"' is not an valid QARN document file."
                      : L"Given input is not an QARN document string."},
            {"<QarnDocument>", ParseReason(L"<QarnDocument>")},
            {Nested(300),
             (fromFile ? L"The file " + file : std::wstring(L"The XML text")) +
                 L" holds elements nested 300 levels deep; the XML reader accepts at most 256 levels."},
        };
        for (const auto& r : rejected) {
            SCOPED_TRACE(r.xml.substr(0, 40));
            EXPECT_EQ(DISP_E_EXCEPTION, get(r.xml, d));
            EXPECT_EQ(r.message, TakeMessage());
            EXPECT_FALSE(d);
        }
    }
    ComPtr<IQarnDocument> d;
    const std::wstring missing = folder / L"missing.xml";
    EXPECT_EQ(DISP_E_EXCEPTION, u->GetXmlQarnDocumentFromFile(Str(missing), nullptr, &d));
    EXPECT_EQ(L"File " + missing + L" does not exist.", TakeMessage());
}

}  // namespace
