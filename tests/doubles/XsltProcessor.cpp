#include "Doubles.h"

#include <string>

#include "Errors.h"
#include "Text.h"
#include "dom/Dom.h"

using namespace qarn;

namespace {

ComPtr<IXMLDOMDocument2> NewDocument() {
    ComPtr<IXMLDOMDocument2> document;
    CHECK_HR(CoCreateInstance(dom::kDomDocument60, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&document)));
    CHECK_HR(document->put_async(VARIANT_FALSE));
    return document;
}

// The parser's reason for a failed load, or a placeholder when it gives none.
std::wstring Reason(IXMLDOMDocument2* document) {
    ComPtr<IXMLDOMParseError> error;
    Bstr reason;
    if (SUCCEEDED(document->get_parseError(&error)) && error) error->get_reason(reason.Out());
    return reason.IsEmpty() ? std::wstring(L"no reason given") : std::wstring(reason.View());
}

// The Xml text of the parameter list in `context`, or nullopt when it holds none.
std::optional<std::wstring> ListXml(const VARIANT& context) {
    Variant value;
    if (FAILED(VariantCopyInd(&value, const_cast<VARIANT*>(&context)))) return std::nullopt;
    if (value.vt != VT_DISPATCH || !value.pdispVal) return std::nullopt;
    ComPtr<IParameterList> list;
    if (FAILED(value.pdispVal->QueryInterface(IID_PPV_ARGS(&list)))) return std::nullopt;
    Bstr xml;
    CHECK_HR(list->get_Xml(xml.Out()));
    return std::wstring(xml.View());
}

// Drops an XML declaration "<?xml ...?>" (and the blanks after it) from the front of `text`.
std::wstring WithoutDeclaration(std::wstring text) {
    if (text.rfind(L"<?xml", 0) != 0) return text;
    const size_t end = text.find(L"?>");
    if (end == std::wstring::npos) return text;
    const size_t next = text.find_first_not_of(L" \t\r\n", end + 2);
    return next == std::wstring::npos ? std::wstring() : text.substr(next);
}

}  // namespace

STDMETHODIMP XsltProcessor::GetStylesheet(BSTR xslFolder, BSTR xmlFile, BSTR aliasname, BSTR* stylesheet) {
    return MethodFrame(L"XsltProcessor::GetStylesheet", [&] {
        CHECK_POINTER(stylesheet);
        *stylesheet = nullptr;
        const std::wstring path = std::wstring(View(xslFolder)) + L"\\" + std::wstring(View(aliasname)) + L".xsl";
        const DWORD attributes = GetFileAttributesW(path.c_str());
        const bool exists = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
        *stylesheet = CopyBstr(exists ? std::wstring_view(path) : std::wstring_view());
    });
}

STDMETHODIMP XsltProcessor::Transform(BSTR stylesheet, VARIANT context, VARIANT parameters, BSTR* xml) {
    return MethodFrame(L"XsltProcessor::Transform", [&] {
        CHECK_POINTER(xml);
        *xml = nullptr;
        if (View(stylesheet).empty()) THROW_MESSAGE(L"No stylesheet given.");

        ComPtr<IXMLDOMDocument2> sheet = NewDocument();
        VARIANT_BOOL loaded = VARIANT_FALSE;
        Variant path(View(stylesheet));
        CHECK_HR(sheet->load(path, &loaded));
        if (loaded != VARIANT_TRUE)
            THROW_MESSAGE(Format(L"Stylesheet %s cannot be loaded: %s", stylesheet, Reason(sheet.Get()).c_str()));

        const std::wstring input = ListXml(context).value_or(L"<Qarn/>");
        ComPtr<IXMLDOMDocument2> document = NewDocument();
        CHECK_HR(document->loadXML(Bstr(std::wstring_view(input)), &loaded));
        if (loaded != VARIANT_TRUE)
            THROW_MESSAGE(L"The context's XML cannot be parsed: " + Reason(document.Get()));

        ComPtr<IXMLDOMNode> sheetNode;
        CHECK_HR(sheet.As(&sheetNode));
        Bstr result;
        const HRESULT hr = document->transformNode(sheetNode.Get(), result.Out());
        if (FAILED(hr))
            THROW_MESSAGE(Format(L"Transformation with stylesheet %s failed, code 0x%08X.", stylesheet,
                                 static_cast<unsigned>(hr)));
        *xml = CopyBstr(std::wstring_view(WithoutDeclaration(std::wstring(result.View()))));
    });
}
