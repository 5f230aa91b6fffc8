// Transaction lookup and entry points: members of CQarnUtilities.
#include "util/Utilities.h"

using namespace qarn;

STDMETHODIMP CQarnUtilities::GetXmlParameterList(BSTR xmlFile, BSTR aliasname, IDispatch *pDisp, IParameterList **pResult) {
    return MethodFrame(L"CQarnUtilities::GetXmlParameterList", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::GetXmlParameterList2(BSTR xmlFile, BSTR aliasname, IDispatch *pDisp, IParameterList **ppResult) {
    return MethodFrame(L"CQarnUtilities::GetXmlParameterList2", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::GetXmlParameterList3(BSTR xmlFile, BSTR nodeName, IDispatch *pDisp, IParameterList **ppResult) {
    return MethodFrame(L"CQarnUtilities::GetXmlParameterList3", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::GetXmlParameterListFromXMLString(BSTR xmlString, BSTR aliasname, IDispatch *pDisp, IParameterList **ppResult) {
    return MethodFrame(L"CQarnUtilities::GetXmlParameterListFromXMLString", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::GetXmlParameterListFromXMLString2(BSTR xmlString, BSTR aliasname, IDispatch *pDisp, IParameterList **ppResult) {
    return MethodFrame(L"CQarnUtilities::GetXmlParameterListFromXMLString2", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::GetXmlParameterListFromXMLString3(BSTR xmlString, BSTR nodeName, IDispatch *pDisp, IParameterList **ppResult) {
    return MethodFrame(L"CQarnUtilities::GetXmlParameterListFromXMLString3", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::GetXmlParameterList1(IDispatch *pDom, BSTR aliasname, IDispatch *pDisp, IParameterList **ppResult) {
    return MethodFrame(L"CQarnUtilities::GetXmlParameterList1", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::GetXmlParameterList2_(BSTR xmlFile, BSTR aliasname, IDispatch *pDisp, IParameterList **ppResult) {
    return MethodFrame(L"CQarnUtilities::GetXmlParameterList2_", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::GetXmlParameterList4(BSTR xmlFile, BSTR aliasname, IDispatch *pDisp, BSTR filePathWithoutBackslash, IParameterList **ppResult) {
    return MethodFrame(L"CQarnUtilities::GetXmlParameterList4", [&] { ThrowNotImplemented(); });
}
