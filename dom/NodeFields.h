// Fields read from MSXML nodes: an element's children and attributes as fields of the data-type
// component, %NAME% references expanded and values marked as encrypted decrypted.
#pragma once

#include "dom/DomRead.h"
#include "base/LogonDecryption.h"
#include "base/DataObjects.h"

namespace qarn::dom {

// %NAME% references expanded by the system (or by the calling thread's override); null for a null text.
Bstr ResolveEnvironmentVariables(BSTR text);

// The readers of one owner: it creates the objects through the owner's DataObjects and decrypts
// values marked "x3nc" through the owner's logon decryption (none: such values stay as stored).
class NodeFields {
public:
    NodeFields(DataObjects& objects, IQarnLogonDecryption* decryption) : objects_(objects), decryption_(decryption) {}

    // A new field with a name and a value.
    ComPtr<IField> NewField(const Bstr& name, const VARIANT& value);
    // One field per attribute of `node` (name and text); null when it has none.
    ComPtr<IFieldCollection> AttributeFields(IXMLDOMNode* node);
    // One field per element child of `node`; null when it has none.
    ComPtr<IFieldCollection> GetAllSubNodesToFC(IXMLDOMNode* node);
    // Builds the field of `element` (value, attributes, decryption) and adds it to `collection`.
    void AddNodeToFC(IXMLDOMNode* element, IFieldCollection* collection);
    // The fields of a node list: for each node its attribute fields ("node@attribute"), its own
    // field unless it is text, and then, when `descend`, the same for every descendant with the
    // names of its ancestors in front ("node.child@attribute", "node.child").
    ComPtr<IFieldCollection> NodeListFields(IDispatch* pDisp, bool descend);

private:
    DataObjects& objects_;
    IQarnLogonDecryption* decryption_;
};

}  // namespace qarn::dom
