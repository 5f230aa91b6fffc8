// DOM helper methods: members of CQarnUtilities. Documents come from MSXML 6; their content
// becomes fields, collections and tables of the data-type component.
#include "util/Utilities.h"
#include "FileContent.h"

#include "documents/DomRead.h"
#include "secure/WipedBstr.h"

using namespace qarn;
using namespace qarn::dom;

namespace {

ComPtr<IField> NewField(DataObjects& objects, const Bstr& name, const VARIANT& value) {
    ComPtr<IField> field = objects.New<IField>(CLSID_Field);
    CHECK_HR(field->put_Name(name));
    CHECK_HR(field->put_Value(value));
    return field;
}

// One field per attribute of `node` named prefix + attribute name; the collection is created when
// the first attribute is found and handed back.
void AddAttributeFields(DataObjects& objects, IXMLDOMNode* node, std::wstring_view prefix,
                        ComPtr<IFieldCollection>& collection) {
    ComPtr<IXMLDOMNamedNodeMap> attributes;
    CHECK_HR(node->get_attributes(&attributes));
    if (!attributes) return;
    long count = 0;
    CHECK_HR(attributes->get_length(&count));
    for (long i = 0; i < count; ++i) {
        ComPtr<IXMLDOMNode> attribute;
        CHECK_HR(attributes->get_item(i, &attribute));
        if (!attribute) continue;
        std::wstring name(prefix);
        name += NodeName(attribute.Get()).View();
        if (!collection) collection = objects.New<IFieldCollection>(CLSID_FieldCollection);
        CHECK_HR(collection->Add(NewField(objects, Bstr(std::wstring_view(name)), TypedValue(attribute.Get())).Get()));
    }
}

// The load's outcome: the document, or the parse error's reason (or `unknown` without one).
ComPtr<IDispatch> LoadResult(IXMLDOMDocument2* document, VARIANT_BOOL loaded, const std::wstring& unknown) {
    if (loaded == VARIANT_TRUE) return ComPtr<IDispatch>(document);
    ComPtr<IXMLDOMParseError> error;
    Bstr reason;
    if (SUCCEEDED(document->get_parseError(&error)) && error) error->get_reason(reason.Out());
    if (reason.IsEmpty()) THROW_MESSAGE(unknown);
    THROW_MESSAGE(std::wstring(reason.View()));
}

bool HasText(BSTR s) { return s && SysStringLen(s) > 0 && s[0] != L'\0'; }

}  // namespace

Bstr CQarnUtilities::ResolveEnvironmentVariables(BSTR text) {
    if (!text) return nullptr;
    const std::wstring source(*Arg(text));
    // A variable this thread overrides for the call in progress is not in the process environment.
    if (ThreadEnvironmentOverride::Active()) return Bstr(std::wstring_view(ThreadEnvironmentOverride::Expand(source)));
    // The first call tells the size (with the terminating NUL); the variables may change between
    // the two calls, so ask again until the text fits.
    std::wstring expanded(source.size() + 1, L'\0');
    for (;;) {
        const DWORD need = ExpandEnvironmentStringsW(source.c_str(), expanded.data(), static_cast<DWORD>(expanded.size()));
        // The system refuses texts beyond its limit (32K characters): such a text stays as written.
        if (need == 0) return Bstr(std::wstring_view(source));
        if (need <= expanded.size()) {
            expanded.resize(need - 1);
            return Bstr(std::wstring_view(expanded));
        }
        expanded.assign(need, L'\0');
    }
}

ComPtr<IFieldCollection> CQarnUtilities::GetAllSubNodesToFC(IXMLDOMNode* node) {
    ComPtr<IFieldCollection> collection;
    if (!node) return collection;
    for (ComPtr<IXMLDOMNode> child = FirstChild(node); child; child = NextSibling(child.Get())) {
        if (NodeType(child.Get()) != NODE_ELEMENT) continue;
        if (!collection) collection = objects_.New<IFieldCollection>(CLSID_FieldCollection);
        AddNodeToFC(child.Get(), collection.Get());
    }
    return collection;
}

void CQarnUtilities::AddNodeToFC(IXMLDOMNode* element, IFieldCollection* collection) {
    if (!element || !collection) return;
    const Bstr name = NodeName(element);
    Variant value = TypedValue(element);
    if (value.vt == VT_BSTR) {
        Bstr resolved = ResolveEnvironmentVariables(value.bstrVal);
        if (!resolved.IsNull()) {
            value.Clear();
            value.vt = VT_BSTR;
            value.bstrVal = resolved.Detach();
        }
    }
    ComPtr<IField> field = NewField(objects_, name, value);

    ComPtr<IFieldCollection> attributes;
    AddAttributeFields(objects_, element, {}, attributes);
    if (attributes) {
        CHECK_HR(field->put_Attributes(attributes.Get()));
        Bstr marker;
        CHECK_HR(attributes->GetValue(Bstr(L"x3nc"), marker.Out()));
        if (marker.View() == L"true") {
            Bstr fieldName, stored;
            CHECK_HR(field->get_Name(fieldName.Out()));
            CHECK_HR(field->get_StringValue(stored.Out()));
            secure::WipedBstr plain;
            if (SUCCEEDED(DecryptLogon2(fieldName, stored, plain.Out())) && !plain.IsNull()) {
                VARIANT decrypted;
                decrypted.vt = VT_BSTR;
                decrypted.bstrVal = plain;  // borrowed: put_Value copies it
                CHECK_HR(field->put_Value(decrypted));
            } else {
                // A value that does not decrypt is kept as stored; its failure is not this call's.
                SetErrorInfo(0, nullptr);
            }
        }
    }
    CHECK_HR(collection->Add(field.Get()));
}

STDMETHODIMP CQarnUtilities::GetXMLDOMParseErrorDescription(IDispatch *pDisp, BSTR *result) {
    return MethodFrame(L"CQarnUtilities::GetXMLDOMParseErrorDescription", [&] {
        if (!pDisp) return;
        ComPtr<IXMLDOMDocument> document = AsDom<IXMLDOMDocument>(pDisp, L"an XML document");
        ComPtr<IXMLDOMParseError> error;
        CHECK_HR(document->get_parseError(&error));
        if (!error) return;
        CHECK_POINTER(result);
        Bstr reason;
        CHECK_HR(error->get_reason(reason.Out()));
        *result = reason.Detach();
    });
}

STDMETHODIMP CQarnUtilities::GetXMLDOMNodeTypedValue(IDispatch *pDisp, BSTR node, IField **ppField) {
    return MethodFrame(L"CQarnUtilities::GetXMLDOMNodeTypedValue", [&] {
        OutParam(ppField);
        if (!pDisp) return;
        ComPtr<IXMLDOMNode> from = AsNode(pDisp);
        ComPtr<IXMLDOMNode> found;
        if (HasText(node)) found = SelectSingle(from.Get(), node);
        if (!found) THROW_STORE_MESSAGE(L"M0003", L"Node %s not found.", Arg(node));
        *ppField = NewField(objects_, NodeName(found.Get()), TypedValue(found.Get())).Detach();
    });
}

STDMETHODIMP CQarnUtilities::DOMParse(VARIANT xmlFile, IDispatch **ppDisp) { return ParseFile(xmlFile, ppDisp, false); }

HRESULT CQarnUtilities::ParseFile(VARIANT xmlFile, IDispatch** ppDisp, bool fromBytes) {
    return MethodFrame(L"CQarnUtilities::DOMParse", [&] {
        OutParam(ppDisp);
        // A script variable passed by reference is read through its reference.
        Variant file;
        if (FAILED(VariantCopyInd(file.Out(), &xmlFile)) || file.vt != VT_BSTR) THROW_MESSAGE(L"Not a file.");
        VARIANT_BOOL exists = VARIANT_FALSE;
        CHECK_HR(FileExist(file.bstrVal, &exists));
        ComPtr<IXMLDOMDocument2> document = NewDocument();
        VARIANT_BOOL loaded = VARIANT_FALSE;
        // What cannot be read here (a folder, no access) gets the engine's own load by name.
        std::optional<std::string> bytes;
        if (fromBytes) bytes = LoadableBytes(file.bstrVal);
        if (bytes)
            loaded = LoadBytes(document.Get(), *bytes);
        else
            loaded = LoadByName(document.Get(), file.bstrVal);
        bytes.reset();
        const std::wstring unknown = L"Unknown parsing error for " + std::wstring(View(file.bstrVal)) + L".";
        *ppDisp = LoadResult(document.Get(), loaded, unknown).Detach();
    });
}

STDMETHODIMP CQarnUtilities::DOMParse2(BSTR xmlString, IDispatch **ppDisp) {
    return MethodFrame(L"CQarnUtilities::DOMParse2", [&] {
        OutParam(ppDisp);
        ComPtr<IXMLDOMDocument2> document = NewDocument();
        const Bstr text(Arg(xmlString).value_or(std::wstring_view()));
        const VARIANT_BOOL loaded = LoadText(document.Get(), text);
        const std::wstring unknown = L"Unknown parsing error for " + std::wstring(text.View()) + L".";
        *ppDisp = LoadResult(document.Get(), loaded, unknown).Detach();
    });
}

STDMETHODIMP CQarnUtilities::DOMNodeGetChilds(IDispatch *pDisp, BSTR nodeName, IFieldCollection **ppFieldCollection) {
    return MethodFrame(L"CQarnUtilities::DOMNodeGetChilds", [&] {
        OutParam(ppFieldCollection);
        if (!pDisp) return;
        ComPtr<IXMLDOMNode> from = AsNode(pDisp);
        if (!HasText(nodeName)) return;
        if (ComPtr<IXMLDOMNode> found = SelectSingle(from.Get(), nodeName))
            *ppFieldCollection = GetAllSubNodesToFC(found.Get()).Detach();
    });
}

STDMETHODIMP CQarnUtilities::DOMNodeGetChilds_(IDispatch *pDisp, BSTR nodeName, IFieldCollectionTable **ppFieldCollectionTable) {
    return MethodFrame(L"CQarnUtilities::DOMNodeGetChilds_", [&] {
        OutParam(ppFieldCollectionTable);
        if (!pDisp || !HasText(nodeName)) return;
        ComPtr<IXMLDOMNode> from = AsNode(pDisp);
        ComPtr<IXMLDOMNodeList> nodes;
        CheckSelection(from->selectNodes(nodeName, &nodes), nodeName);
        if (!nodes) return;
        ComPtr<IFieldCollectionTable> table;
        ComPtr<IXMLDOMNode> node;
        while (SUCCEEDED(nodes->nextNode(node.ReleaseAndGetAddressOf())) && node) {
            if (!table) table = objects_.New<IFieldCollectionTable>(CLSID_FieldCollectionTable);
            if (ComPtr<IFieldCollection> row = GetAllSubNodesToFC(node.Get())) CHECK_HR(table->Add(row.Get()));
        }
        *ppFieldCollectionTable = table.Detach();
    });
}

namespace {

// The fields of a node list: for each node its attribute fields ("node@attribute"), its own field
// unless it is text, and then, when `descend`, the same for every descendant with the names of its
// ancestors in front ("node.child@attribute", "node.child"). The walk keeps its own stack.
ComPtr<IFieldCollection> NodeListFields(DataObjects& objects, IDispatch* pDisp, bool descend) {
    ComPtr<IXMLDOMNodeList> list = AsDom<IXMLDOMNodeList>(pDisp, L"an XML node list");
    long length = 0;
    CHECK_HR(list->get_length(&length));

    struct Pending {
        ComPtr<IXMLDOMNode> node;
        std::wstring prefix;  // the ancestors' names, each followed by "."
    };
    std::vector<Pending> stack;
    for (long i = length - 1; i >= 0; --i) {
        ComPtr<IXMLDOMNode> node;
        CHECK_HR(list->get_item(i, &node));
        if (node) stack.push_back({std::move(node), {}});
    }

    ComPtr<IFieldCollection> fields;
    std::vector<ComPtr<IXMLDOMNode>> children;
    while (!stack.empty()) {
        Pending current = std::move(stack.back());
        stack.pop_back();
        IXMLDOMNode* node = current.node.Get();
        const Bstr own = NodeName(node);
        const std::wstring name = current.prefix + std::wstring(own.View());

        AddAttributeFields(objects, node, name + L"@", fields);
        if (own.View() != L"#text") {
            if (!fields) fields = objects.New<IFieldCollection>(CLSID_FieldCollection);
            CHECK_HR(fields->Add(NewField(objects, Bstr(std::wstring_view(name)), TypedValue(node)).Get()));
        }
        if (!descend) continue;
        children.clear();
        for (ComPtr<IXMLDOMNode> child = FirstChild(node); child; child = NextSibling(child.Get()))
            children.push_back(child);
        for (auto it = children.rbegin(); it != children.rend(); ++it) stack.push_back({std::move(*it), name + L"."});
    }
    return fields;
}

}  // namespace

STDMETHODIMP CQarnUtilities::DOMNodeGetChilds2(IDispatch *pDisp, IFieldCollection **ppFieldCollection) {
    return MethodFrame(L"CQarnUtilities::DOMNodeGetChilds2", [&] {
        OutParam(ppFieldCollection);
        if (pDisp) *ppFieldCollection = NodeListFields(objects_, pDisp, true).Detach();
    });
}

STDMETHODIMP CQarnUtilities::DOMNodeGetChilds3(IDispatch *pDisp, IFieldCollection **ppFieldCollection) {
    return MethodFrame(L"CQarnUtilities::DOMNodeGetChilds3", [&] {
        OutParam(ppFieldCollection);
        if (pDisp) *ppFieldCollection = NodeListFields(objects_, pDisp, false).Detach();
    });
}

ComPtr<IFieldCollection> CQarnUtilities::AttributeFields(IXMLDOMNode* node) {
    ComPtr<IFieldCollection> attributes;
    AddAttributeFields(objects_, node, {}, attributes);
    return attributes;
}

STDMETHODIMP CQarnUtilities::GetXMLAttributes(IDispatch *pNode, IFieldCollection **ppAttributes) {
    return MethodFrame(L"CQarnUtilities::GetXMLAttributes", [&] {
        OutParam(ppAttributes);
        if (pNode) *ppAttributes = AttributeFields(AsNode(pNode).Get()).Detach();
    });
}

STDMETHODIMP CQarnUtilities::WriteXmlFile(BSTR xmlFile, IParameterList *pParameterList) {
    return MethodFrame(L"CQarnUtilities::WriteXmlFile", [&] {
        if (!xmlFile || !pParameterList) return;
        Bstr xml;
        CHECK_HR(pParameterList->get_Xml(xml.Out()));
        // The file starts with a byte-order mark; "%" is written as it stands.
        std::wstring content = L"\xFEFF<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
        content += Arg(xml).value_or(std::wstring_view());
        if (ReplaceFileContent(std::wstring(*Arg(xmlFile)), TextModeUtf8(content)) != ERROR_SUCCESS)
            THROW_STORE_MESSAGE(L"M0011", L"Error creating file %s.", Arg(xmlFile));
    });
}
