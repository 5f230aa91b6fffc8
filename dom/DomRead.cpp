// Reading steps over MSXML nodes shared by the XML readers.
#include "dom/DomRead.h"
#include "FileContent.h"

#include "dom/XmlProlog.h"

#include <algorithm>
#include <utility>
#include <vector>
#include <cstdio>

namespace qarn::dom {

namespace {

void SetFlag(IXMLDOMDocument2* document, const wchar_t* name, bool value) {
    Variant flag;
    flag.vt = VT_BOOL;
    flag.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    CHECK_HR(document->setProperty(Bstr(name), flag));
}

}  // namespace

// MSXML 6's defaults, set all the same: a document type declaration fails the load and nothing a
// document names (a DTD, an external entity) is fetched. The readers also check the prolog
// themselves before loading, so that a document type declaration is refused with the connector's
// own message whatever the engine does with these settings.
ComPtr<IXMLDOMDocument2> NewDocument() {
    ComPtr<IXMLDOMDocument2> document;
    CHECK_HR(CoCreateInstance(kDomDocument60, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&document)));
    SetFlag(document.Get(), L"ProhibitDTD", true);
    CHECK_HR(document->put_resolveExternals(VARIANT_FALSE));
    return document;
}

namespace {

// The name as the file functions see it: up to its first NUL character.
std::wstring PathText(BSTR fileName) { return fileName ? std::wstring(fileName) : std::wstring(); }

// Fails for a device that reading could block on; true for NUL (an empty document).
bool CheckedDevice(BSTR fileName) { return ReadsAsEmptyDevice(PathText(fileName).c_str()); }

[[noreturn]] void RefuseFile(BSTR fileName) {
    THROW_MESSAGE(L"The file " + PathText(fileName) +
                  L" holds a document type declaration (<!DOCTYPE>); XML files with one are not read.");
}

}  // namespace

std::optional<std::string> LoadableBytes(BSTR fileName) {
    if (CheckedDevice(fileName)) return std::string();
    std::optional<std::string> bytes = ReadFileContent(fileName);
    if (!bytes || bytes->size() >= 0x7fffffffu) return std::nullopt;
    if (xml::ScanProlog(*bytes) == xml::Prolog::Doctype) RefuseFile(fileName);
    return bytes;
}

VARIANT_BOOL LoadByName(IXMLDOMDocument2* dom, BSTR fileName) {
    if (CheckedDevice(fileName)) return LoadBytes(dom, std::string());
    const std::wstring path = PathText(fileName);
    if (FILE* file = _wfopen(path.c_str(), L"rb")) {
        const xml::Prolog prolog = xml::ScanFile(file);
        fclose(file);
        if (prolog == xml::Prolog::Doctype) RefuseFile(fileName);
    }
    Variant name{std::wstring_view(path)};
    VARIANT_BOOL loaded = VARIANT_FALSE;
    CHECK_HR(dom->load(name, &loaded));
    return loaded;
}

Bstr Url(IXMLDOMDocument2* dom) {
    Bstr url;
    if (FAILED(dom->get_url(url.Out()))) url.Reset();
    return url;
}

bool TextHasDoctype(BSTR text) {
    const std::wstring_view view = View(text);
    return xml::ScanTextProlog(std::u16string_view(reinterpret_cast<const char16_t*>(view.data()), view.size())) ==
           xml::Prolog::Doctype;
}

VARIANT_BOOL LoadText(IXMLDOMDocument2* dom, BSTR text) {
    if (TextHasDoctype(text))
        THROW_MESSAGE(L"The given XML text holds a document type declaration (<!DOCTYPE>); XML texts with one are not read.");
    VARIANT_BOOL loaded = VARIANT_FALSE;
    CHECK_HR(dom->loadXML(text ? text : Bstr(L"").get(), &loaded));
    return loaded;
}

VARIANT_BOOL LoadBytes(IXMLDOMDocument2* dom, const std::string& bytes) {
    Variant array;
    array.parray = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    if (!array.parray) ThrowHResult(E_OUTOFMEMORY);
    array.vt = VT_ARRAY | VT_UI1;
    void* data = nullptr;
    CHECK_HR(SafeArrayAccessData(array.parray, &data));
    std::copy(bytes.begin(), bytes.end(), static_cast<char*>(data));
    SafeArrayUnaccessData(array.parray);
    VARIANT_BOOL loaded = VARIANT_FALSE;
    CHECK_HR(dom->load(array, &loaded));
    return loaded;
}

namespace {

// Values are read from elements at most this many levels deep below the element itself. Deeper
// trees cannot come from a parse (MSXML refuses them long before); a tree built node by node could
// be deeper, and reading its text would exhaust the stack of the XML engine.
constexpr long kMaxNesting = 1000;

}  // namespace

Bstr NodeName(IXMLDOMNode* node) {
    Bstr name;
    CHECK_HR(node->get_nodeName(name.Out()));
    return name;
}

DOMNodeType NodeType(IXMLDOMNode* node) {
    DOMNodeType type = NODE_INVALID;
    CHECK_HR(node->get_nodeType(&type));
    return type;
}

ComPtr<IXMLDOMNode> FirstChild(IXMLDOMNode* node) {
    ComPtr<IXMLDOMNode> child;
    CHECK_HR(node->get_firstChild(&child));
    return child;
}

ComPtr<IXMLDOMNode> NextSibling(IXMLDOMNode* node) {
    ComPtr<IXMLDOMNode> sibling;
    CHECK_HR(node->get_nextSibling(&sibling));
    return sibling;
}

namespace {

// Fails when `element` has descendants deeper than the limit; walks without recursion.
void CheckNesting(IXMLDOMNode* element) {
    long depth = 0;
    ComPtr<IXMLDOMNode> current = element;
    for (;;) {
        if (ComPtr<IXMLDOMNode> child = FirstChild(current.Get())) {
            if (++depth > kMaxNesting)
                THROW_MESSAGE(Format(L"The element %s holds elements nested deeper than %ld levels.",
                                     NodeName(element).get(), kMaxNesting));
            current = std::move(child);
            continue;
        }
        // Up until a node has a next sibling, or back at the element.
        for (;;) {
            if (depth == 0) return;
            if (ComPtr<IXMLDOMNode> sibling = NextSibling(current.Get())) {
                current = std::move(sibling);
                break;
            }
            ComPtr<IXMLDOMNode> parent;
            CHECK_HR(current->get_parentNode(&parent));
            if (!parent) return;
            current = std::move(parent);
            --depth;
        }
    }
}

}  // namespace

Variant TypedValue(IXMLDOMNode* node) {
    if (NodeType(node) == NODE_ELEMENT) return ElementValue(node);
    Variant value;
    CHECK_HR(node->get_nodeTypedValue(value.Out()));
    return value;
}

Variant ElementValue(IXMLDOMNode* element) {
    // Most values are one text: an element whose only child is a text node needs no deeper look.
    ComPtr<IXMLDOMNode> first = FirstChild(element);
    if (first && !(NodeType(first.Get()) == NODE_TEXT && !NextSibling(first.Get()))) CheckNesting(element);
    Variant value;
    CHECK_HR(element->get_nodeTypedValue(value.Out()));
    return value;
}

Bstr ElementText(IXMLDOMNode* element) { return AsText(ElementValue(element)); }

Bstr AsText(Variant value) {
    if (value.vt != VT_BSTR) {
        const HRESULT hr = VariantChangeType(&value, &value, VARIANT_ALPHABOOL, VT_BSTR);
        if (hr == E_OUTOFMEMORY) ThrowHResult(hr);
        if (FAILED(hr)) return Bstr();
    }
    value.vt = VT_EMPTY;
    return Bstr::Attach(std::exchange(value.bstrVal, nullptr));
}

// A failed selection keeps the engine's own description; without one it names the expression.
void CheckSelection(HRESULT hr, BSTR path) {
    if (SUCCEEDED(hr)) return;
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) == S_OK && info) {
        SetErrorInfo(0, info.Get());
        CHECK_HR(hr);
    }
    THROW_MESSAGE(L"The XPath expression " + std::wstring(View(path)) + L" cannot be evaluated.");
}

ComPtr<IXMLDOMNode> SelectSingle(IXMLDOMNode* from, BSTR path) {
    ComPtr<IXMLDOMNode> found;
    CheckSelection(from->selectSingleNode(path, &found), path);
    return found;
}

}  // namespace qarn::dom
