// QarnDocument XML files: members of CQarnUtilities.
//
// Two layouts: the document file (root `QarnDocuments`), written and read back here, and the
// document description (root `QarnDocument`, attributes and `QarnDocumentCollection` elements),
// only read. Trees of any depth and width are walked with explicit stacks, never by recursion.
#include "util/Utilities.h"
#include "FileContent.h"

#include "documents/DocumentReader.h"
#include "documents/DomRead.h"

#include <algorithm>
#include <string_view>
#include <unordered_set>

using namespace qarn;
using namespace qarn::dom;

namespace {

ComPtr<IUnknown> Identity(IUnknown* object) {
    ComPtr<IUnknown> identity;
    CHECK_HR(object->QueryInterface(IID_PPV_ARGS(&identity)));
    return identity;
}

// Builds the text of a document file. The `Parameter` element of each list is taken from its XML
// text as the XML engine reads it; a text that does not parse is left out.
class DocumentFileWriter {
public:
    std::wstring Write(IQarnDocument* root) {
        out_ = L"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<QarnDocuments>";
        Open(root);
        while (!open_.empty()) {
            Frame& top = open_.back();
            if (top.next > top.count) {
                out_ += L"</Children></QarnDocument>";
                onPath_.erase(top.identity.Get());
                open_.pop_back();
                continue;
            }
            ComPtr<IQarnDocument> child;
            CHECK_HR(top.children->get_Item(top.next++, &child));
            if (child) Open(child.Get());  // may add a frame: `top` is not used after this
        }
        out_ += L"</QarnDocuments>\r\n";
        return std::move(out_);
    }

private:
    struct Frame {
        ComPtr<IQarnDocumentCollection> children;
        ComPtr<IUnknown> identity;
        long next;
        long count;
    };

    // Writes the start of a document and its parameter list; a document with children stays open.
    void Open(IQarnDocument* document) {
        ComPtr<IUnknown> identity = Identity(document);
        if (onPath_.count(identity.Get()))
            THROW_MESSAGE(L"The document tree holds a document among its own descendants; it cannot be written.");
        out_ += L"<QarnDocument>";
        ComPtr<IParameterList> list;
        CHECK_HR(document->get_ParameterList(&list));
        if (list) AppendParameterElement(list.Get());
        ComPtr<IQarnDocumentCollection> children;
        CHECK_HR(document->get_Children(&children));
        if (!children) {
            out_ += L"</QarnDocument>";
            return;
        }
        long count = 0;
        CHECK_HR(children->get_Count(&count));
        out_ += L"<Children>";
        onPath_.insert(identity.Get());
        open_.push_back({std::move(children), std::move(identity), 1, count});
    }

    void AppendParameterElement(IParameterList* list) {
        Bstr xml;
        CHECK_HR(list->get_Xml(xml.Out()));
        const Bstr given(Arg(xml).value_or(std::wstring_view()));
        // A text with a document type declaration is never loaded: it is left out like any text
        // the engine refuses.
        if (TextHasDoctype(given)) return;
        if (!parser_) parser_ = NewDocument();
        VARIANT_BOOL loaded = VARIANT_FALSE;
        CHECK_HR(parser_->loadXML(given, &loaded));
        if (loaded != VARIANT_TRUE) {
            SetErrorInfo(0, nullptr);  // the parse failure is not this call's
            return;
        }
        ComPtr<IXMLDOMElement> element;
        CHECK_HR(parser_->get_documentElement(&element));
        if (!element) return;
        Bstr text;
        CHECK_HR(element->get_xml(text.Out()));
        out_ += text.View();
    }

    std::wstring out_;
    std::vector<Frame> open_;
    // The documents whose `Children` element is open: a document met again among them is a cycle.
    std::unordered_set<IUnknown*> onPath_;
    ComPtr<IXMLDOMDocument2> parser_;
};

}  // namespace

STDMETHODIMP CQarnUtilities::WriteQarnDocumentToFile(IQarnDocument *pDocument, BSTR fileName) {
    return MethodFrame(L"CQarnUtilities::WriteQarnDocumentToFile", [&] {
        if (!pDocument) return;
        const std::wstring text = DocumentFileWriter().Write(pDocument);
        // The previous file is replaced only once the new one is complete.
        if (!fileName || SysStringLen(fileName) == 0 ||
            ReplaceFileContent(std::wstring(*Arg(fileName)), ToUtf8(text)) != ERROR_SUCCESS)
            THROW_STORE_MESSAGE(L"M0011", L"Error creating file %s.", Arg(fileName));
    });
}

STDMETHODIMP CQarnUtilities::ReadQarnDocumentFromFile(BSTR fileName, IQarnDocument **ppResult) {
    return MethodFrame(L"CQarnUtilities::ReadQarnDocumentFromFile", [&] {
        OutParam(ppResult);
        VARIANT_BOOL exists = VARIANT_FALSE;
        CHECK_HR(FileExist(fileName, &exists));
        ComPtr<IXMLDOMNode> root;
        if (const std::optional<std::string> bytes = LoadableBytes(fileName)) {
            ComPtr<IXMLDOMDocument2> dom = NewDocument();
            if (LoadBytes(dom.Get(), *bytes) != VARIANT_TRUE) {
                // The engine's reason may not tell that the file nests too deep: say so when it does.
                CheckReadableDepth(std::string_view(*bytes), L"The file " + std::wstring(View(fileName)));
                ComPtr<IXMLDOMParseError> error;
                Bstr reason;
                if (SUCCEEDED(dom->get_parseError(&error)) && error) CHECK_HR(error->get_reason(reason.Out()));
                if (reason.IsEmpty()) THROW_MESSAGE(L"Unknown parsing error for " + std::wstring(View(fileName)) + L".");
                THROW_MESSAGE(std::wstring(reason.View()));
            }
            root = SelectSingle(AsNode(dom.Get()).Get(), Bstr(L"/QarnDocuments"));
        } else {
            // What cannot be read here (a folder, no access) gets the DOM's own answer.
            Variant file(View(fileName));
            ComPtr<IDispatch> parsed;
            CHECK_HR(DOMParse(file, &parsed));
            root = SelectSingle(AsNode(parsed.Get()).Get(), Bstr(L"/QarnDocuments"));
        }
        ComPtr<IQarnDocumentCollection> documents = reader_.ReadQarnDocumentFromFileRecurse(root.Get());
        long count = 0;
        if (documents) CHECK_HR(documents->get_Count(&count));
        if (count != 1) THROW_MESSAGE(L"wrong number of QarnDocuments found in CQarnUtilities::ReadQarnDocumentFromFile");
        CHECK_HR(documents->get_Item(1, ppResult));
    });
}

STDMETHODIMP CQarnUtilities::GetXmlQarnDocumentFromFile(BSTR file, IDispatch *pDisp, IQarnDocument **ppRes) {
    return MethodFrame(L"CQarnUtilities::GetXmlQarnDocumentFromFile", [&] {
        OutParam(ppRes);
        VARIANT_BOOL exists = VARIANT_FALSE;
        CHECK_HR(FileExist(file, &exists));
        if (exists != VARIANT_TRUE) return;
        ComPtr<IXMLDOMDocument2> dom = NewDocument();
        VARIANT_BOOL loaded = VARIANT_FALSE;
        if (const std::optional<std::string> bytes = LoadableBytes(file)) {
            loaded = LoadBytes(dom.Get(), *bytes);
        } else {
            loaded = LoadByName(dom.Get(), file);
        }
        *ppRes = reader_.DescriptionDocument(dom.Get(), loaded, file, true, pDisp).Detach();
    });
}

STDMETHODIMP CQarnUtilities::GetXmlQarnDocumentFromString(BSTR xmlString, IDispatch *pDisp, IQarnDocument **ppRes) {
    return MethodFrame(L"CQarnUtilities::GetXmlQarnDocumentFromString", [&] {
        OutParam(ppRes);
        ComPtr<IXMLDOMDocument2> dom = NewDocument();
        const VARIANT_BOOL loaded = LoadText(dom.Get(), Bstr(Arg(xmlString).value_or(std::wstring_view())));
        *ppRes = reader_.DescriptionDocument(dom.Get(), loaded, xmlString, false, pDisp).Detach();
    });
}
