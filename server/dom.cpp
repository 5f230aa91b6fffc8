// DOM helper methods: members of CQarnUtilities. Documents come from MSXML 6; their content
// becomes fields, collections and tables of the data-type component.
#include "server/Utilities.h"
#include "FileContent.h"

#include "dom/DomRead.h"
#include "dom/NodeFields.h"

using namespace qarn;
using namespace qarn::dom;

namespace {

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
        *ppField = nodeFields_.NewField(NodeName(found.Get()), TypedValue(found.Get())).Detach();
    });
}

STDMETHODIMP CQarnUtilities::DOMParse(VARIANT xmlFile, IDispatch **ppDisp) {
    return MethodFrame(L"CQarnUtilities::DOMParse", [&] {
        OutParam(ppDisp);
        // A script variable passed by reference is read through its reference.
        Variant file;
        const HRESULT copied = VariantCopyInd(file.Out(), &xmlFile);
        if (copied == E_OUTOFMEMORY) ThrowHResult(copied);
        if (FAILED(copied) || file.vt != VT_BSTR) THROW_MESSAGE(L"Not a file.");
        VARIANT_BOOL exists = VARIANT_FALSE;
        CHECK_HR(FileExist(file.bstrVal, &exists));
        ComPtr<IXMLDOMDocument2> document = NewDocument();
        // Loaded by its name: the document's url is the file's.
        const VARIANT_BOOL loaded = LoadByName(document.Get(), file.bstrVal);
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
            *ppFieldCollection = nodeFields_.GetAllSubNodesToFC(found.Get()).Detach();
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
            if (ComPtr<IFieldCollection> row = nodeFields_.GetAllSubNodesToFC(node.Get())) CHECK_HR(table->Add(row.Get()));
        }
        *ppFieldCollectionTable = table.Detach();
    });
}

STDMETHODIMP CQarnUtilities::DOMNodeGetChilds2(IDispatch *pDisp, IFieldCollection **ppFieldCollection) {
    return MethodFrame(L"CQarnUtilities::DOMNodeGetChilds2", [&] {
        OutParam(ppFieldCollection);
        if (pDisp) *ppFieldCollection = nodeFields_.NodeListFields(pDisp, true).Detach();
    });
}

STDMETHODIMP CQarnUtilities::DOMNodeGetChilds3(IDispatch *pDisp, IFieldCollection **ppFieldCollection) {
    return MethodFrame(L"CQarnUtilities::DOMNodeGetChilds3", [&] {
        OutParam(ppFieldCollection);
        if (pDisp) *ppFieldCollection = nodeFields_.NodeListFields(pDisp, false).Detach();
    });
}

STDMETHODIMP CQarnUtilities::GetXMLAttributes(IDispatch *pNode, IFieldCollection **ppAttributes) {
    return MethodFrame(L"CQarnUtilities::GetXMLAttributes", [&] {
        OutParam(ppAttributes);
        if (pNode) *ppAttributes = nodeFields_.AttributeFields(AsNode(pNode).Get()).Detach();
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
