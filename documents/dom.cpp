// DOM helper methods: members of CQarnUtilities.
#include "util/Utilities.h"

using namespace qarn;

Bstr CQarnUtilities::ResolveEnvironmentVariables(BSTR text) {
    if (!text) return nullptr;
    const std::wstring source(*Arg(text));
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
