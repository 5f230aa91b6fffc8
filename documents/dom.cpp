// DOM helper methods: members of CQarnUtilities.
#include "util/Utilities.h"

using namespace qarn;

STDMETHODIMP CQarnUtilities::GetXMLDOMParseErrorDescription(IDispatch *pDisp, BSTR *result) {
    return MethodFrame(L"CQarnUtilities::GetXMLDOMParseErrorDescription", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::GetXMLDOMNodeTypedValue(IDispatch *pDisp, BSTR node, IField **ppField) {
    return MethodFrame(L"CQarnUtilities::GetXMLDOMNodeTypedValue", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::DOMParse(VARIANT xmlFile, IDispatch **ppDisp) {
    return MethodFrame(L"CQarnUtilities::DOMParse", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::DOMNodeGetChilds(IDispatch *pDisp, BSTR nodeName, IFieldCollection **ppFieldCollection) {
    return MethodFrame(L"CQarnUtilities::DOMNodeGetChilds", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::WriteXmlFile(BSTR xmlFile, IParameterList *pParameterList) {
    return MethodFrame(L"CQarnUtilities::WriteXmlFile", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::DOMParse2(BSTR xmlString, IDispatch **ppDisp) {
    return MethodFrame(L"CQarnUtilities::DOMParse2", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::DOMNodeGetChilds2(IDispatch *pDisp, IFieldCollection **ppFieldCollection) {
    return MethodFrame(L"CQarnUtilities::DOMNodeGetChilds2", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::DOMNodeGetChilds_(IDispatch *pDisp, BSTR nodeName, IFieldCollectionTable **ppFieldCollectionTable) {
    return MethodFrame(L"CQarnUtilities::DOMNodeGetChilds_", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::GetXMLAttributes(IDispatch *pNode, IFieldCollection **ppAttributes) {
    return MethodFrame(L"CQarnUtilities::GetXMLAttributes", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::DOMNodeGetChilds3(IDispatch *pDisp, IFieldCollection **ppFieldCollection) {
    return MethodFrame(L"CQarnUtilities::DOMNodeGetChilds3", [&] { ThrowNotImplemented(); });
}
