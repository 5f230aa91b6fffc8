// The readers of QarnDocument XML: the document file (root `QarnDocuments`) and the document
// description (root `QarnDocument`). Trees of any depth and width are walked with explicit stacks,
// never by recursion.
#include "documents/DocumentReader.h"

#include "FileContent.h"
#include "base/OwnAccess.h"

#include <string>
#include <string_view>

namespace qarn::dom {

namespace {

// The XML engine refuses elements nested deeper than this (MSXML 6's default element depth).
constexpr size_t kMaxReadDepth = 256;

// How deep elements nest in an XML text. A plain scan of the markup: comments, processing
// instructions, CDATA sections, the document type and quoted attribute values are skipped. It
// serves to explain a failed parse, so it need not judge whether the text is well formed.
template <class C>
size_t NestingDepth(std::basic_string_view<C> xml) {
    const size_t n = xml.size();
    auto startsAt = [&](size_t at, std::string_view s) {
        if (at + s.size() > n) return false;
        for (size_t k = 0; k < s.size(); ++k)
            if (xml[at + k] != static_cast<C>(s[k])) return false;
        return true;
    };
    auto past = [&](size_t from, std::string_view end) {
        for (size_t at = from; at < n; ++at)
            if (startsAt(at, end)) return at + end.size();
        return n;
    };
    // The position after the '>' that ends a tag, with quoted text and brackets skipped.
    auto tagEnd = [&](size_t from, bool brackets) {
        C quote = 0;
        int open = 0;
        for (size_t at = from; at < n; ++at) {
            const C c = xml[at];
            if (quote) {
                if (c == quote) quote = 0;
            } else if (c == C('"') || c == C('\'')) {
                quote = c;
            } else if (brackets && c == C('[')) {
                ++open;
            } else if (brackets && c == C(']')) {
                --open;
            } else if (c == C('>') && open <= 0) {
                return at + 1;
            }
        }
        return n;
    };
    size_t depth = 0, deepest = 0;
    for (size_t i = 0; i < n;) {
        if (xml[i] != C('<')) {
            ++i;
        } else if (startsAt(i, "<!--")) {
            i = past(i + 4, "-->");
        } else if (startsAt(i, "<![CDATA[")) {
            i = past(i + 9, "]]>");
        } else if (startsAt(i, "<?")) {
            i = past(i + 2, "?>");
        } else if (startsAt(i, "<!")) {
            i = tagEnd(i + 2, true);
        } else if (startsAt(i, "</")) {
            if (depth > 0) --depth;
            i = tagEnd(i + 2, false);
        } else {
            const size_t end = tagEnd(i + 1, false);
            const bool empty = end <= n && end >= i + 3 && xml[end - 1] == C('>') && xml[end - 2] == C('/');
            deepest = std::max(deepest, depth + 1);
            if (!empty) ++depth;
            i = end;
        }
    }
    return deepest;
}

// After a failed parse: fails with the depth limit when the text nests deeper than the engine reads.
}  // namespace

template <class C>
void CheckReadableDepth(std::basic_string_view<C> xml, const std::wstring& what) {
    const size_t depth = NestingDepth(xml);
    if (depth > kMaxReadDepth)
        THROW_MESSAGE(Format(L"%s holds elements nested %lu levels deep; the XML reader accepts at most %lu levels.",
                             what.c_str(), static_cast<unsigned long>(depth), static_cast<unsigned long>(kMaxReadDepth)));
}

template void CheckReadableDepth(std::basic_string_view<char>, const std::wstring&);
template void CheckReadableDepth(std::basic_string_view<wchar_t>, const std::wstring&);

void CheckReadableFileDepth(BSTR fileName) {
    if (const std::optional<std::string> bytes = ReadFileContent(fileName))
        CheckReadableDepth(std::string_view(*bytes), L"The file " + std::wstring(View(fileName)));
}

namespace {

// The nodes the reader hands the engine belong to a document parsed for the call.
constexpr paramlist::Nodes kParsed = paramlist::Nodes::ParsedHere;

// What "Parameter/FieldCollection" and its two siblings select below a document element: the
// first such element in document order below any `Parameter` child; and the document's first
// `Children` element. One walk over the document element's children finds them all.
struct DocumentParts {
    ComPtr<IXMLDOMNode> fields, structures, tables, children;
};

DocumentParts FindDocumentParts(IXMLDOMNode* document) {
    DocumentParts parts;
    for (ComPtr<IXMLDOMNode> child = FirstChild(document); child; child = NextSibling(child.Get())) {
        if (NodeType(child.Get()) != NODE_ELEMENT) continue;
        const Bstr childName = NodeName(child.Get());
        if (childName.View() == L"Children") {
            if (!parts.children) parts.children = child;
            continue;
        }
        if (childName.View() != L"Parameter") continue;
        for (ComPtr<IXMLDOMNode> part = FirstChild(child.Get()); part; part = NextSibling(part.Get())) {
            if (NodeType(part.Get()) != NODE_ELEMENT) continue;
            const Bstr name = NodeName(part.Get());
            ComPtr<IXMLDOMNode>* slot = name.View() == L"FieldCollection"       ? &parts.fields
                                        : name.View() == L"StructureCollection" ? &parts.structures
                                        : name.View() == L"TableCollection"     ? &parts.tables
                                                                                : nullptr;
            if (slot && !*slot) *slot = part;
        }
    }
    return parts;
}

// The list takes a collection as read, without the XML attributes of its element; until then it
// has none of its own.
template <class I>
ComPtr<I> WithoutAttributes(ComPtr<I> read) {
    if (read) CHECK_HR(read->put_Attributes(nullptr));
    return read;
}

// The list's collection of a kind becomes `read`: replaced on this data-type server's own lists,
// else filled with Append, the general member (a new list's collections are empty).
template <class C>
void TakeInto(IParameterList* list, ComPtr<C> read, HRESULT (STDMETHODCALLTYPE IParameterList::*put)(C*),
              HRESULT (STDMETHODCALLTYPE IParameterList::*get)(C**)) {
    if (IsOwnObject(list)) {
        CHECK_HR((list->*put)(read.Get()));
        return;
    }
    ComPtr<C> own;
    CHECK_HR((list->*get)(&own));
    CHECK_HR(own->Append(read.Get()));
}

}  // namespace

ComPtr<IQarnDocumentCollection> DocumentReader::ReadQarnDocumentFromFileRecurse(IXMLDOMNode* parent) {
    ComPtr<IQarnDocumentCollection> result;
    if (!parent) return result;
    // Elements whose `QarnDocument` children are still to read, and the document that gets them.
    struct Pending {
        ComPtr<IXMLDOMNode> node;
        ComPtr<IQarnDocument> owner;
    };
    std::vector<Pending> pending{{parent, nullptr}};
    while (!pending.empty()) {
        Pending current = std::move(pending.back());
        pending.pop_back();
        ComPtr<IQarnDocumentCollection> collection;
        for (ComPtr<IXMLDOMNode> child = FirstChild(current.node.Get()); child; child = NextSibling(child.Get())) {
            if (NodeType(child.Get()) != NODE_ELEMENT || NodeName(child.Get()).View() != L"QarnDocument") continue;
            ComPtr<IQarnDocument> document = objects_.New<IQarnDocument>(CLSID_QarnDocument);
            ComPtr<IParameterList> list = objects_.New<IParameterList>(CLSID_ParameterList);
            CHECK_HR(document->put_ParameterList(list.Get()));
            if (!collection) collection = objects_.New<IQarnDocumentCollection>(CLSID_QarnDocumentCollection);
            CHECK_HR(collection->Add(document.Get()));

            const DocumentParts parts = FindDocumentParts(child.Get());
            if (parts.fields) {
                ComPtr<IFieldCollection> read = builder_.BuildFieldCollection(parts.fields.Get(), document.Get(), kParsed);
                if (read) TakeInto(list.Get(), WithoutAttributes(std::move(read)), &IParameterList::put_FieldCollection,
                                   &IParameterList::get_FieldCollection);
            }
            if (parts.structures) {
                ComPtr<IStructureCollection> read =
                    builder_.BuildStructureCollection(parts.structures.Get(), document.Get(), kParsed);
                if (read) TakeInto(list.Get(), WithoutAttributes(std::move(read)), &IParameterList::put_StructureCollection,
                                   &IParameterList::get_StructureCollection);
            }
            if (parts.tables) {
                ComPtr<ITableCollection> read = builder_.BuildTableCollection(parts.tables.Get(), document.Get(), kParsed);
                if (read) TakeInto(list.Get(), WithoutAttributes(std::move(read)), &IParameterList::put_TableCollection,
                                   &IParameterList::get_TableCollection);
            }
            if (parts.children) pending.push_back({parts.children, document});
        }
        if (!current.owner)
            result = std::move(collection);
        else if (collection)
            CHECK_HR(current.owner->put_Children(collection.Get()));
    }
    return result;
}

ComPtr<IQarnDocument> DocumentReader::ConvertNodeToQarnDocument(IXMLDOMNode* node, IDispatch* pDisp) {
    ComPtr<IQarnDocument> root;
    if (!node) return root;
    root = objects_.New<IQarnDocument>(CLSID_QarnDocument);
    // Elements still to convert into their (already created and placed) documents; taken in
    // document order, as a recursive walk would, so that transaction macros run in that order.
    struct Pending {
        ComPtr<IXMLDOMNode> node;
        ComPtr<IQarnDocument> document;
    };
    std::vector<Pending> pending{{node, root}}, found;
    while (!pending.empty()) {
        Pending current = std::move(pending.back());
        pending.pop_back();
        if (ComPtr<IFieldCollection> attributes = nodeFields_.AttributeFields(current.node.Get()))
            CHECK_HR(current.document->put_Attributes(attributes.Get()));
        found.clear();
        for (ComPtr<IXMLDOMNode> child = FirstChild(current.node.Get()); child; child = NextSibling(child.Get())) {
            if (NodeType(child.Get()) != NODE_ELEMENT) continue;
            const Bstr name = NodeName(child.Get());
            if (name.View() == L"Parameter") {
                if (const ComPtr<IParameterList> list = builder_.BuildParameterList(child.Get(), pDisp, kParsed))
                    CHECK_HR(current.document->put_ParameterList(list.Get()));
            } else if (name.View() == L"QarnDocumentCollection") {
                ComPtr<IQarnDocumentCollection> collection =
                    objects_.New<IQarnDocumentCollection>(CLSID_QarnDocumentCollection);
                if (ComPtr<IFieldCollection> attributes = nodeFields_.AttributeFields(child.Get()))
                    CHECK_HR(collection->put_Attributes(attributes.Get()));
                for (ComPtr<IXMLDOMNode> item = FirstChild(child.Get()); item; item = NextSibling(item.Get())) {
                    if (NodeType(item.Get()) != NODE_ELEMENT || NodeName(item.Get()).View() != L"QarnDocument") continue;
                    ComPtr<IQarnDocument> document = objects_.New<IQarnDocument>(CLSID_QarnDocument);
                    CHECK_HR(collection->Add(document.Get()));
                    found.push_back({item, std::move(document)});
                }
                CHECK_HR(current.document->put_Children(collection.Get()));
            }
        }
        for (auto it = found.rbegin(); it != found.rend(); ++it) pending.push_back(std::move(*it));
    }
    return root;
}

ComPtr<IQarnDocument> DocumentReader::DescriptionDocument(IXMLDOMDocument2* dom, VARIANT_BOOL loaded, BSTR source,
                                                          bool fromFile, IDispatch* pDisp) {
    if (loaded != VARIANT_TRUE) {
        ComPtr<IXMLDOMParseError> error;
        Bstr reason;
        if (SUCCEEDED(dom->get_parseError(&error)) && error) CHECK_HR(error->get_reason(reason.Out()));
        if (fromFile)
            CheckReadableFileDepth(source);
        else
            CheckReadableDepth(View(source), L"The XML text");
        if (error) THROW_MESSAGE(std::wstring(reason.View()));
        THROW_MESSAGE(fromFile ? L"Unknown XML error while parsing '" + std::wstring(View(source)) + L"'."
                               : std::wstring(L"Unknown error parsing XML content."));
    }
    ComPtr<IXMLDOMNode> root = SelectSingle(AsNode(dom).Get(), Bstr(L"/QarnDocument"));
    if (!root)
        THROW_MESSAGE(fromFile ? L"Given file '" + std::wstring(View(source)) + L"' is not an valid QARN document file."
                               : std::wstring(L"Given input is not an QARN document string."));
    return ConvertNodeToQarnDocument(root.Get(), pDisp);
}

}  // namespace qarn::dom
