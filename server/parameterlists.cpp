// The parameter-list members of CQarnUtilities: each hands its arguments to the object's engine,
// which runs the member's method frame. A caller's node may have been built node by node: the
// engine checks the nesting of every value it reads from one (CallerNodes).
#include "server/Utilities.h"

using namespace qarn;

STDMETHODIMP CQarnUtilities::DOMCreateParameterListEntry(IDispatch *pDOMNode, IDispatch *pDisp, IParameterList **ppParameterList) {
    paramlist::Engine::CallerNodes callerNodes(paramlist_);
    return paramlist_.DOMCreateParameterListEntry(pDOMNode, pDisp, ppParameterList);
}

STDMETHODIMP CQarnUtilities::DOMCreateFieldCollectionEntry(IDispatch *pDOMNode, IDispatch *pDisp, IFieldCollection **ppFieldCollection) {
    paramlist::Engine::CallerNodes callerNodes(paramlist_);
    return paramlist_.DOMCreateFieldCollectionEntry(pDOMNode, pDisp, ppFieldCollection);
}

STDMETHODIMP CQarnUtilities::DOMCreateStructureCollectionEntry(IDispatch *pDOMNode, IDispatch *pDisp, IStructureCollection **ppStructureCollection) {
    paramlist::Engine::CallerNodes callerNodes(paramlist_);
    return paramlist_.DOMCreateStructureCollectionEntry(pDOMNode, pDisp, ppStructureCollection);
}

STDMETHODIMP CQarnUtilities::DOMCreateStructureEntry(IDispatch *pDOMNode, IDispatch *pDisp, IStructure **ppStructure) {
    paramlist::Engine::CallerNodes callerNodes(paramlist_);
    return paramlist_.DOMCreateStructureEntry(pDOMNode, pDisp, ppStructure);
}

STDMETHODIMP CQarnUtilities::DOMCreateTableCollectionEntry(IDispatch *pDOMNode, IDispatch *pDisp, ITableCollection **ppTableCollection) {
    paramlist::Engine::CallerNodes callerNodes(paramlist_);
    return paramlist_.DOMCreateTableCollectionEntry(pDOMNode, pDisp, ppTableCollection);
}

STDMETHODIMP CQarnUtilities::DOMCreateTableEntry(IDispatch *pDOMNode, IDispatch *pDisp, ITable **ppTable) {
    paramlist::Engine::CallerNodes callerNodes(paramlist_);
    return paramlist_.DOMCreateTableEntry(pDOMNode, pDisp, ppTable);
}

STDMETHODIMP CQarnUtilities::DOMCreateFieldCollectionTableEntry(IDispatch *pDOMNode, IDispatch *pDisp, IFieldCollectionTable **ppFieldCollectionTable) {
    paramlist::Engine::CallerNodes callerNodes(paramlist_);
    return paramlist_.DOMCreateFieldCollectionTableEntry(pDOMNode, pDisp, ppFieldCollectionTable);
}

STDMETHODIMP CQarnUtilities::DOMCreateFieldEntry(IDispatch *pDOMNode, IDispatch *pDisp, IField **ppField) {
    paramlist::Engine::CallerNodes callerNodes(paramlist_);
    return paramlist_.DOMCreateFieldEntry(pDOMNode, pDisp, ppField);
}

STDMETHODIMP CQarnUtilities::GetXmlParameterList(BSTR xmlFile, BSTR aliasname, IDispatch *pDisp, IParameterList **pResult) {
    paramlist::Engine::CallerNodes callerNodes(paramlist_);
    return paramlist_.GetXmlParameterList(xmlFile, aliasname, pDisp, pResult);
}

STDMETHODIMP CQarnUtilities::GetXmlParameterList2(BSTR xmlFile, BSTR aliasname, IDispatch *pDisp, IParameterList **ppResult) {
    paramlist::Engine::CallerNodes callerNodes(paramlist_);
    return paramlist_.GetXmlParameterList2(xmlFile, aliasname, pDisp, ppResult);
}

STDMETHODIMP CQarnUtilities::GetXmlParameterList3(BSTR xmlFile, BSTR nodeName, IDispatch *pDisp, IParameterList **ppResult) {
    paramlist::Engine::CallerNodes callerNodes(paramlist_);
    return paramlist_.GetXmlParameterList3(xmlFile, nodeName, pDisp, ppResult);
}

STDMETHODIMP CQarnUtilities::GetXmlParameterListFromXMLString(BSTR xmlString, BSTR aliasname, IDispatch *pDisp, IParameterList **ppResult) {
    paramlist::Engine::CallerNodes callerNodes(paramlist_);
    return paramlist_.GetXmlParameterListFromXMLString(xmlString, aliasname, pDisp, ppResult);
}

STDMETHODIMP CQarnUtilities::GetXmlParameterListFromXMLString2(BSTR xmlString, BSTR aliasname, IDispatch *pDisp, IParameterList **ppResult) {
    paramlist::Engine::CallerNodes callerNodes(paramlist_);
    return paramlist_.GetXmlParameterListFromXMLString2(xmlString, aliasname, pDisp, ppResult);
}

STDMETHODIMP CQarnUtilities::GetXmlParameterListFromXMLString3(BSTR xmlString, BSTR nodeName, IDispatch *pDisp, IParameterList **ppResult) {
    paramlist::Engine::CallerNodes callerNodes(paramlist_);
    return paramlist_.GetXmlParameterListFromXMLString3(xmlString, nodeName, pDisp, ppResult);
}

STDMETHODIMP CQarnUtilities::GetXmlParameterList1(IDispatch *pDom, BSTR aliasname, IDispatch *pDisp, IParameterList **ppResult) {
    paramlist::Engine::CallerNodes callerNodes(paramlist_);
    return paramlist_.GetXmlParameterList1(pDom, aliasname, pDisp, ppResult);
}

STDMETHODIMP CQarnUtilities::GetXmlParameterList2_(BSTR xmlFile, BSTR aliasname, IDispatch *pDisp, IParameterList **ppResult) {
    paramlist::Engine::CallerNodes callerNodes(paramlist_);
    return paramlist_.GetXmlParameterList2_(xmlFile, aliasname, pDisp, ppResult);
}

STDMETHODIMP CQarnUtilities::GetXmlParameterList4(BSTR xmlFile, BSTR aliasname, IDispatch *pDisp, BSTR filePathWithoutBackslash, IParameterList **ppResult) {
    paramlist::Engine::CallerNodes callerNodes(paramlist_);
    return paramlist_.GetXmlParameterList4(xmlFile, aliasname, pDisp, filePathWithoutBackslash, ppResult);
}
