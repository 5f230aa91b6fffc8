// The text of a QarnDocument file (root `QarnDocuments`).
#include "documents/DocumentWriter.h"

#include "base/OwnAccess.h"
#include "dom/XmlProlog.h"
#include "base/WipedBstr.h"
#include "base/CallerText.h"

#include <climits>

namespace qarn::dom {

namespace {

ComPtr<IUnknown> Identity(IUnknown* object) {
    ComPtr<IUnknown> identity;
    CHECK_HR(object->QueryInterface(IID_PPV_ARGS(&identity)));
    return identity;
}

}  // namespace

secure::BasicSecretString<char> DocumentFileWriter::Write(IQarnDocument* root) {
    out_ = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<QarnDocuments>";
    Open(root);
    while (!open_.empty()) {
        Frame& top = open_.back();
        if (top.next > top.count) {
            out_ += "</Children></QarnDocument>";
            onPath_.erase(top.identity.Get());
            open_.pop_back();
            continue;
        }
        ComPtr<IQarnDocument> child;
        CHECK_HR(top.children->get_Item(top.next++, &child));
        if (child) Open(child.Get());  // may add a frame: `top` is not used after this
    }
    out_ += "</QarnDocuments>\r\n";
    return std::move(out_);
}

// Writes the start of a document and its parameter list; a document with children stays open.
void DocumentFileWriter::Open(IQarnDocument* document) {
    ComPtr<IUnknown> identity = Identity(document);
    if (onPath_.count(identity.Get()))
        THROW_MESSAGE(L"The document tree holds a document among its own descendants; it cannot be written.");
    out_ += "<QarnDocument>";
    ComPtr<IParameterList> list;
    CHECK_HR(document->get_ParameterList(&list));
    if (list) AppendParameterElement(list.Get());
    ComPtr<IQarnDocumentCollection> children;
    CHECK_HR(document->get_Children(&children));
    if (!children) {
        out_ += "</QarnDocument>";
        return;
    }
    long count = 0;
    CHECK_HR(children->get_Count(&count));
    out_ += "<Children>";
    onPath_.insert(identity.Get());
    open_.push_back({std::move(children), std::move(identity), 1, count});
}

void DocumentFileWriter::AppendParameterElement(IParameterList* list) {
    ComPtr<IQarnOwnParameterList> own;
    if (SUCCEEDED(list->QueryInterface(IID_PPV_ARGS(&own))) && own) {
        secure::WipedBstr xml;
        CHECK_HR(own->GetWellFormedXml(xml.Out()));
        // Taken as it is only with ASCII names: a name that the data-type server takes but the XML
        // engine's name tables do not would make the whole file unreadable, where the engine's own
        // reading below leaves out just that list.
        const std::wstring_view text = View(xml.get());
        if (xml::TagsAreAscii(std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()))) {
            Append(text);
            return;
        }
    }
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
    Append(text.View());
}

// Appends `text` as UTF-8, converted straight into the (wiped) output: a surrogate without its
// partner becomes U+FFFD.
void DocumentFileWriter::Append(std::wstring_view text) {
    if (text.empty()) return;
    if (text.size() > INT_MAX / 3) ThrowHResult(E_OUTOFMEMORY);
    const size_t start = out_.size();
    out_.resize(start + text.size() * 3);
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out_.data() + start,
                                      static_cast<int>(text.size() * 3), nullptr, nullptr);
    if (n <= 0) ThrowHResult(E_OUTOFMEMORY);
    out_.resize(start + static_cast<size_t>(n));
}

}  // namespace qarn::dom
