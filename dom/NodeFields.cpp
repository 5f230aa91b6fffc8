// Fields read from MSXML nodes: the steps every XML reader of the server shares.
#include "dom/NodeFields.h"

#include "base/WipedBstr.h"
#include "base/CallerText.h"

namespace qarn::dom {

namespace {

ComPtr<IField> MakeField(DataObjects& objects, const Bstr& name, const VARIANT& value) {
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
        CHECK_HR(collection->Add(MakeField(objects, Bstr(std::wstring_view(name)), TypedValue(attribute.Get())).Get()));
    }
}

}  // namespace

ComPtr<IField> NodeFields::NewField(const Bstr& name, const VARIANT& value) { return MakeField(objects_, name, value); }

Bstr ResolveEnvironmentVariables(BSTR text) {
    if (!text) return nullptr;
    return Bstr(std::wstring_view(ExpandEnvironment(std::wstring(*Arg(text)))));
}

ComPtr<IFieldCollection> NodeFields::GetAllSubNodesToFC(IXMLDOMNode* node) {
    ComPtr<IFieldCollection> collection;
    if (!node) return collection;
    for (ComPtr<IXMLDOMNode> child = FirstChild(node); child; child = NextSibling(child.Get())) {
        if (NodeType(child.Get()) != NODE_ELEMENT) continue;
        if (!collection) collection = objects_.New<IFieldCollection>(CLSID_FieldCollection);
        AddNodeToFC(child.Get(), collection.Get());
    }
    return collection;
}

void NodeFields::AddNodeToFC(IXMLDOMNode* element, IFieldCollection* collection) {
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
    ComPtr<IField> field = MakeField(objects_, name, value);

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
            const HRESULT hr = decryption_ ? decryption_->DecryptLogonValue(fieldName, stored, plain.Out()) : E_NOINTERFACE;
            if (SUCCEEDED(hr) && !plain.IsNull()) {
                VARIANT decrypted;
                decrypted.vt = VT_BSTR;
                decrypted.bstrVal = plain;  // borrowed: put_Value copies it
                CHECK_HR(field->put_Value(decrypted));
            } else if (hr == E_OUTOFMEMORY) {
                // Not a value that does not decrypt: the stored text would be taken for the value.
                ThrowHResult(E_OUTOFMEMORY);
            } else {
                // A value that does not decrypt is kept as stored; its failure is not this call's.
                SetErrorInfo(0, nullptr);
            }
        }
    }
    CHECK_HR(collection->Add(field.Get()));
}

ComPtr<IFieldCollection> NodeFields::AttributeFields(IXMLDOMNode* node) {
    ComPtr<IFieldCollection> attributes;
    AddAttributeFields(objects_, node, {}, attributes);
    return attributes;
}

// The fields of a node list: for each node its attribute fields ("node@attribute"), its own field
// unless it is text, and then, when `descend`, the same for every descendant with the names of its
// ancestors in front ("node.child@attribute", "node.child"). The walk keeps its own stack.
ComPtr<IFieldCollection> NodeFields::NodeListFields(IDispatch* pDisp, bool descend) {
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

        AddAttributeFields(objects_, node, name + L"@", fields);
        if (own.View() != L"#text") {
            if (!fields) fields = objects_.New<IFieldCollection>(CLSID_FieldCollection);
            CHECK_HR(fields->Add(MakeField(objects_, Bstr(std::wstring_view(name)), TypedValue(node)).Get()));
        }
        if (!descend) continue;
        children.clear();
        for (ComPtr<IXMLDOMNode> child = FirstChild(node); child; child = NextSibling(child.Get()))
            children.push_back(child);
        for (auto it = children.rbegin(); it != children.rend(); ++it) stack.push_back({std::move(*it), name + L"."});
    }
    return fields;
}

}  // namespace qarn::dom
