// Reading steps over MSXML nodes shared by the XML readers.
#include "documents/DomRead.h"
#include "FileContent.h"

#include "documents/XmlProlog.h"

#include <ocidl.h>

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

// A document type declaration fails the load and nothing a document names (a DTD, an external
// entity) is fetched: MSXML 6's defaults, set all the same. The newer parser reads (it loads
// synchronously and validates against no DTD). Wine's MSXML (Wine 8) accepts all three
// (setProperty gives S_OK for ProhibitDTD and NewParser, and for ResolveExternals as well) but acts
// on none: it still loads a document type declaration and expands its internal entities; it
// leaves external entities empty. So the readers check the prolog themselves before loading.
ComPtr<IXMLDOMDocument2> NewDocument() {
    ComPtr<IXMLDOMDocument2> document;
    CHECK_HR(CoCreateInstance(kDomDocument60, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&document)));
    SetFlag(document.Get(), L"ProhibitDTD", true);
    SetFlag(document.Get(), L"NewParser", true);
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

namespace {

// The file monikers of the files read lately, one per name: a document's site. Wine's MSXML never
// lets go of one reference to a document's site, so a site per document would stay behind with
// every document; sharing them keeps that to one object per name. A moniker is the system's own
// object, which stays valid after this DLL is unloaded while documents still hold it.
class SourceFiles {
public:
    ComPtr<IMoniker> For(std::wstring_view file) {
        const std::wstring name(file);
        AcquireSRWLockExclusive(&lock_);
        ComPtr<IMoniker> found;
        for (const auto& [known, moniker] : monikers_)
            if (known == name) found = moniker;
        HRESULT hr = S_OK;
        if (!found) {
            hr = CreateFileMoniker(name.c_str(), &found);
            if (SUCCEEDED(hr)) {
                try {
                    if (monikers_.size() >= kMaxNames) monikers_.erase(monikers_.begin());
                    monikers_.emplace_back(name, found);
                } catch (...) {
                    // Not kept for the next document: this one gets it all the same.
                }
            }
        }
        ReleaseSRWLockExclusive(&lock_);
        CHECK_HR(hr);
        return found;
    }

private:
    static constexpr size_t kMaxNames = 256;
    SRWLOCK lock_ = SRWLOCK_INIT;
    std::vector<std::pair<std::wstring, ComPtr<IMoniker>>> monikers_;
};

}  // namespace

void SetSourceFile(IXMLDOMDocument2* dom, std::wstring_view file) {
    static SourceFiles sources;
    ComPtr<IObjectWithSite> site;
    if (FAILED(dom->QueryInterface(IID_PPV_ARGS(&site)))) return;  // messages then name no file
    CHECK_HR(site->SetSite(sources.For(file).Get()));
}

Bstr SourceOf(IXMLDOMDocument2* dom) {
    Bstr url;
    if (FAILED(dom->get_url(url.Out()))) url.Reset();
    if (!url.IsEmpty()) return url;
    ComPtr<IObjectWithSite> site;
    ComPtr<IMoniker> source;
    ComPtr<IBindCtx> context;
    LPOLESTR name = nullptr;
    if (SUCCEEDED(dom->QueryInterface(IID_PPV_ARGS(&site))) && SUCCEEDED(site->GetSite(IID_PPV_ARGS(&source))) &&
        source && SUCCEEDED(CreateBindCtx(0, &context)) &&
        SUCCEEDED(source->GetDisplayName(context.Get(), nullptr, &name)) && name) {
        url = Bstr(std::wstring_view(name));
        CoTaskMemFree(name);
    }
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
    if (value.vt != VT_BSTR && FAILED(VariantChangeType(&value, &value, VARIANT_ALPHABOOL, VT_BSTR))) return Bstr();
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
