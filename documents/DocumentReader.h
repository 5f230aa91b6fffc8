// The readers of QarnDocument XML: the document file (root `QarnDocuments`, written by
// WriteQarnDocumentToFile) and the document description (root `QarnDocument`, attributes and
// `QarnDocumentCollection` elements). Their parameter lists are built by the parameter-list engine.
#pragma once

#include "dom/NodeFields.h"
#include "paramlist/Engine.h"

#include <string>
#include <string_view>

namespace qarn::dom {

// After a failed parse: fails with the depth limit when the text nests deeper than the engine
// reads; `what` names the text in the message.
template <class C>
void CheckReadableDepth(std::basic_string_view<C> xml, const std::wstring& what);
// The same for the content of a file (a file that cannot be read is left alone).
void CheckReadableFileDepth(BSTR fileName);

class DocumentReader {
public:
    DocumentReader(DataObjects& objects, NodeFields& nodeFields, paramlist::Engine& builder)
        : objects_(objects), nodeFields_(nodeFields), builder_(builder) {}

    // The documents of the `QarnDocument` element children of `parent`, their children read from
    // their `Children` elements to any depth (without recursion); null when there is none.
    // `parent` belongs to a document parsed for the call (Nodes::ParsedHere).
    ComPtr<IQarnDocumentCollection> ReadQarnDocumentFromFileRecurse(IXMLDOMNode* parent);
    // The document of a description's `QarnDocument` element with everything below it; null for a
    // null node. `pDisp` is the context object of every `Parameter` element. `node` belongs to a
    // document parsed for the call (Nodes::ParsedHere).
    ComPtr<IQarnDocument> ConvertNodeToQarnDocument(IXMLDOMNode* node, IDispatch* pDisp);
    // The document of a loaded description: `loaded` as load or loadXML reported it, `source` the
    // file name or the text. `dom` was loaded for the call.
    ComPtr<IQarnDocument> DescriptionDocument(IXMLDOMDocument2* dom, VARIANT_BOOL loaded, BSTR source, bool fromFile,
                                              IDispatch* pDisp);

private:
    DataObjects& objects_;
    NodeFields& nodeFields_;
    paramlist::Engine& builder_;
};

}  // namespace qarn::dom
