// The parameter-list members of CQarnUtilities: each hands its arguments to the object's engine,
// which runs the member's method frame. A caller's node may have been built node by node: the
// engine checks the nesting of every value it reads from one (CallerNodes).
#include "server/Utilities.h"

using namespace qarn;

namespace {

// Runs a member of the engine on nodes that may come from the caller.
template <class... Params, class... Args>
HRESULT ForCaller(paramlist::Engine& engine, HRESULT (paramlist::Engine::*member)(Params...), Args... args) {
    paramlist::Engine::CallerNodes callerNodes(engine);
    return (engine.*member)(args...);
}

}  // namespace

STDMETHODIMP CQarnUtilities::DOMCreateParameterListEntry(IDispatch *pDOMNode, IDispatch *pDisp, IParameterList **ppParameterList) {
    return ForCaller(paramlist_, &paramlist::Engine::DOMCreateParameterListEntry, pDOMNode, pDisp, ppParameterList);
}

STDMETHODIMP CQarnUtilities::DOMCreateFieldCollectionEntry(IDispatch *pDOMNode, IDispatch *pDisp, IFieldCollection **ppFieldCollection) {
    return ForCaller(paramlist_, &paramlist::Engine::DOMCreateFieldCollectionEntry, pDOMNode, pDisp, ppFieldCollection);
}

STDMETHODIMP CQarnUtilities::DOMCreateStructureCollectionEntry(IDispatch *pDOMNode, IDispatch *pDisp, IStructureCollection **ppStructureCollection) {
    return ForCaller(paramlist_, &paramlist::Engine::DOMCreateStructureCollectionEntry, pDOMNode, pDisp, ppStructureCollection);
}

STDMETHODIMP CQarnUtilities::DOMCreateStructureEntry(IDispatch *pDOMNode, IDispatch *pDisp, IStructure **ppStructure) {
    return ForCaller(paramlist_, &paramlist::Engine::DOMCreateStructureEntry, pDOMNode, pDisp, ppStructure);
}

STDMETHODIMP CQarnUtilities::DOMCreateTableCollectionEntry(IDispatch *pDOMNode, IDispatch *pDisp, ITableCollection **ppTableCollection) {
    return ForCaller(paramlist_, &paramlist::Engine::DOMCreateTableCollectionEntry, pDOMNode, pDisp, ppTableCollection);
}

STDMETHODIMP CQarnUtilities::DOMCreateTableEntry(IDispatch *pDOMNode, IDispatch *pDisp, ITable **ppTable) {
    return ForCaller(paramlist_, &paramlist::Engine::DOMCreateTableEntry, pDOMNode, pDisp, ppTable);
}

STDMETHODIMP CQarnUtilities::DOMCreateFieldCollectionTableEntry(IDispatch *pDOMNode, IDispatch *pDisp, IFieldCollectionTable **ppFieldCollectionTable) {
    return ForCaller(paramlist_, &paramlist::Engine::DOMCreateFieldCollectionTableEntry, pDOMNode, pDisp, ppFieldCollectionTable);
}

STDMETHODIMP CQarnUtilities::DOMCreateFieldEntry(IDispatch *pDOMNode, IDispatch *pDisp, IField **ppField) {
    return ForCaller(paramlist_, &paramlist::Engine::DOMCreateFieldEntry, pDOMNode, pDisp, ppField);
}

STDMETHODIMP CQarnUtilities::GetXmlParameterList(BSTR xmlFile, BSTR aliasname, IDispatch *pDisp, IParameterList **pResult) {
    return ForCaller(paramlist_, &paramlist::Engine::GetXmlParameterList, xmlFile, aliasname, pDisp, pResult);
}

STDMETHODIMP CQarnUtilities::GetXmlParameterList2(BSTR xmlFile, BSTR aliasname, IDispatch *pDisp, IParameterList **ppResult) {
    return ForCaller(paramlist_, &paramlist::Engine::GetXmlParameterList2, xmlFile, aliasname, pDisp, ppResult);
}

STDMETHODIMP CQarnUtilities::GetXmlParameterList3(BSTR xmlFile, BSTR nodeName, IDispatch *pDisp, IParameterList **ppResult) {
    return ForCaller(paramlist_, &paramlist::Engine::GetXmlParameterList3, xmlFile, nodeName, pDisp, ppResult);
}

STDMETHODIMP CQarnUtilities::GetXmlParameterListFromXMLString(BSTR xmlString, BSTR aliasname, IDispatch *pDisp, IParameterList **ppResult) {
    return ForCaller(paramlist_, &paramlist::Engine::GetXmlParameterListFromXMLString, xmlString, aliasname, pDisp, ppResult);
}

STDMETHODIMP CQarnUtilities::GetXmlParameterListFromXMLString2(BSTR xmlString, BSTR aliasname, IDispatch *pDisp, IParameterList **ppResult) {
    return ForCaller(paramlist_, &paramlist::Engine::GetXmlParameterListFromXMLString2, xmlString, aliasname, pDisp, ppResult);
}

STDMETHODIMP CQarnUtilities::GetXmlParameterListFromXMLString3(BSTR xmlString, BSTR nodeName, IDispatch *pDisp, IParameterList **ppResult) {
    return ForCaller(paramlist_, &paramlist::Engine::GetXmlParameterListFromXMLString3, xmlString, nodeName, pDisp, ppResult);
}

STDMETHODIMP CQarnUtilities::GetXmlParameterList1(IDispatch *pDom, BSTR aliasname, IDispatch *pDisp, IParameterList **ppResult) {
    return ForCaller(paramlist_, &paramlist::Engine::GetXmlParameterList1, pDom, aliasname, pDisp, ppResult);
}

STDMETHODIMP CQarnUtilities::GetXmlParameterList2_(BSTR xmlFile, BSTR aliasname, IDispatch *pDisp, IParameterList **ppResult) {
    return ForCaller(paramlist_, &paramlist::Engine::GetXmlParameterList2_, xmlFile, aliasname, pDisp, ppResult);
}

STDMETHODIMP CQarnUtilities::GetXmlParameterList4(BSTR xmlFile, BSTR aliasname, IDispatch *pDisp, BSTR filePathWithoutBackslash, IParameterList **ppResult) {
    return ForCaller(paramlist_, &paramlist::Engine::GetXmlParameterList4, xmlFile, aliasname, pDisp, filePathWithoutBackslash, ppResult);
}
