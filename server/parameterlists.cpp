// The parameter-list members of CQarnUtilities: each runs in its method frame, in which the engine
// does the work (Call::FromMember). A node a caller hands in is taken as a DOM node here, once; it
// may have been built node by node, so its values are read with the nesting check (Nodes::FromCaller).
#include "server/Utilities.h"

using namespace qarn;
using paramlist::Nodes;

namespace {

const paramlist::Call kInMember = paramlist::Call::FromMember();
constexpr Nodes kCaller = Nodes::FromCaller;

// Runs the member `name`: checks and clears its result, then hands out what `make` returns.
template <class I, class Make>
HRESULT Member(const wchar_t* name, I** result, Make&& make, std::source_location where = std::source_location::current()) {
    return MethodFrame(name, [&] {
        I*& slot = OutParam(result);
        slot = make().Detach();
    }, frame::Report{}, where);
}

// A caller's object as a DOM node; none for null.
ComPtr<IXMLDOMNode> Node(IDispatch* object) { return object ? dom::AsNode(object) : ComPtr<IXMLDOMNode>(); }

}  // namespace

STDMETHODIMP CQarnUtilities::DOMCreateParameterListEntry(IDispatch *pDOMNode, IDispatch *pDisp, IParameterList **ppParameterList) {
    return Member(L"CQarnUtilities::DOMCreateParameterListEntry", ppParameterList,
                  [&] { return paramlist_.BuildParameterList(Node(pDOMNode).Get(), pDisp, kCaller, kInMember); });
}

STDMETHODIMP CQarnUtilities::DOMCreateFieldCollectionEntry(IDispatch *pDOMNode, IDispatch *pDisp, IFieldCollection **ppFieldCollection) {
    return Member(L"CQarnUtilities::DOMCreateFieldCollectionEntry", ppFieldCollection,
                  [&] { return paramlist_.BuildFieldCollection(Node(pDOMNode).Get(), pDisp, kCaller, kInMember); });
}

STDMETHODIMP CQarnUtilities::DOMCreateStructureCollectionEntry(IDispatch *pDOMNode, IDispatch *pDisp, IStructureCollection **ppStructureCollection) {
    return Member(L"CQarnUtilities::DOMCreateStructureCollectionEntry", ppStructureCollection,
                  [&] { return paramlist_.BuildStructureCollection(Node(pDOMNode).Get(), pDisp, kCaller, kInMember); });
}

STDMETHODIMP CQarnUtilities::DOMCreateStructureEntry(IDispatch *pDOMNode, IDispatch *pDisp, IStructure **ppStructure) {
    return Member(L"CQarnUtilities::DOMCreateStructureEntry", ppStructure,
                  [&] { return paramlist_.BuildStructure(Node(pDOMNode).Get(), pDisp, kCaller, kInMember); });
}

STDMETHODIMP CQarnUtilities::DOMCreateTableCollectionEntry(IDispatch *pDOMNode, IDispatch *pDisp, ITableCollection **ppTableCollection) {
    return Member(L"CQarnUtilities::DOMCreateTableCollectionEntry", ppTableCollection,
                  [&] { return paramlist_.BuildTableCollection(Node(pDOMNode).Get(), pDisp, kCaller, kInMember); });
}

STDMETHODIMP CQarnUtilities::DOMCreateTableEntry(IDispatch *pDOMNode, IDispatch *pDisp, ITable **ppTable) {
    return Member(L"CQarnUtilities::DOMCreateTableEntry", ppTable,
                  [&] { return paramlist_.BuildTable(Node(pDOMNode).Get(), pDisp, kCaller, kInMember); });
}

STDMETHODIMP CQarnUtilities::DOMCreateFieldCollectionTableEntry(IDispatch *pDOMNode, IDispatch *pDisp, IFieldCollectionTable **ppFieldCollectionTable) {
    return Member(L"CQarnUtilities::DOMCreateFieldCollectionTableEntry", ppFieldCollectionTable,
                  [&] { return paramlist_.BuildRows(Node(pDOMNode).Get(), pDisp, kCaller, kInMember); });
}

STDMETHODIMP CQarnUtilities::DOMCreateFieldEntry(IDispatch *pDOMNode, IDispatch *pDisp, IField **ppField) {
    return Member(L"CQarnUtilities::DOMCreateFieldEntry", ppField,
                  [&] { return paramlist_.BuildField(Node(pDOMNode).Get(), pDisp, kCaller, kInMember); });
}

STDMETHODIMP CQarnUtilities::GetXmlParameterList(BSTR xmlFile, BSTR aliasname, IDispatch *pDisp, IParameterList **pResult) {
    return Member(L"CQarnUtilities::GetXmlParameterList", pResult,
                  [&] { return paramlist_.Transaction(xmlFile, aliasname, pDisp, kInMember); });
}

STDMETHODIMP CQarnUtilities::GetXmlParameterList2(BSTR xmlFile, BSTR aliasname, IDispatch *pDisp, IParameterList **ppResult) {
    return Member(L"CQarnUtilities::GetXmlParameterList2", ppResult,
                  [&] { return paramlist_.FromFile(xmlFile, aliasname, pDisp, kInMember); });
}

STDMETHODIMP CQarnUtilities::GetXmlParameterList3(BSTR xmlFile, BSTR nodeName, IDispatch *pDisp, IParameterList **ppResult) {
    return Member(L"CQarnUtilities::GetXmlParameterList3", ppResult,
                  [&] { return paramlist_.FromFileAt(xmlFile, nodeName, pDisp, kInMember); });
}

STDMETHODIMP CQarnUtilities::GetXmlParameterListFromXMLString(BSTR xmlString, BSTR aliasname, IDispatch *pDisp, IParameterList **ppResult) {
    // The result is checked by the member called.
    return MethodFrame(L"CQarnUtilities::GetXmlParameterListFromXMLString",
                       [&] { CHECK_HR(GetXmlParameterListFromXMLString2(xmlString, aliasname, pDisp, ppResult)); });
}

STDMETHODIMP CQarnUtilities::GetXmlParameterListFromXMLString2(BSTR xmlString, BSTR aliasname, IDispatch *pDisp, IParameterList **ppResult) {
    return Member(L"CQarnUtilities::GetXmlParameterListFromXMLString2", ppResult,
                  [&] { return paramlist_.FromText(xmlString, aliasname, pDisp, kInMember); });
}

STDMETHODIMP CQarnUtilities::GetXmlParameterListFromXMLString3(BSTR xmlString, BSTR nodeName, IDispatch *pDisp, IParameterList **ppResult) {
    return Member(L"CQarnUtilities::GetXmlParameterListFromXMLString3", ppResult,
                  [&] { return paramlist_.FromTextAt(xmlString, nodeName, pDisp, kInMember); });
}

STDMETHODIMP CQarnUtilities::GetXmlParameterList1(IDispatch *pDom, BSTR aliasname, IDispatch *pDisp, IParameterList **ppResult) {
    return Member(L"CQarnUtilities::GetXmlParameterList1", ppResult,
                  [&] { return paramlist_.FromDocument(pDom, aliasname, pDisp, kInMember); });
}

STDMETHODIMP CQarnUtilities::GetXmlParameterList2_(BSTR xmlFile, BSTR aliasname, IDispatch *pDisp, IParameterList **ppResult) {
    return MethodFrame(L"CQarnUtilities::GetXmlParameterList2_", [&] {
        CHECK_POINTER(ppResult);
        // The [in,out] result is replaced by the list.
        ComPtr<IParameterList> list = paramlist_.FromFile(xmlFile, aliasname, pDisp);
        if (*ppResult) (*ppResult)->Release();
        *ppResult = list.Detach();
    });
}

STDMETHODIMP CQarnUtilities::GetXmlParameterList4(BSTR xmlFile, BSTR aliasname, IDispatch *pDisp, BSTR filePathWithoutBackslash, IParameterList **ppResult) {
    return Member(L"CQarnUtilities::GetXmlParameterList4", ppResult,
                  [&] { return paramlist_.TransactionInRoot(xmlFile, aliasname, pDisp, filePathWithoutBackslash, kInMember); });
}
