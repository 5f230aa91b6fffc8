// QarnDocument XML files: members of CQarnUtilities.
#include "util/Utilities.h"

using namespace qarn;

STDMETHODIMP CQarnUtilities::WriteQarnDocumentToFile(IQarnDocument *pDocument, BSTR fileName) {
    return MethodFrame(L"CQarnUtilities::WriteQarnDocumentToFile", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::ReadQarnDocumentFromFile(BSTR fileName, IQarnDocument **ppResult) {
    return MethodFrame(L"CQarnUtilities::ReadQarnDocumentFromFile", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::GetXmlQarnDocumentFromFile(BSTR file, IDispatch *pDisp, IQarnDocument **ppRes) {
    return MethodFrame(L"CQarnUtilities::GetXmlQarnDocumentFromFile", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::GetXmlQarnDocumentFromString(BSTR xmlString, IDispatch *pDisp, IQarnDocument **ppRes) {
    return MethodFrame(L"CQarnUtilities::GetXmlQarnDocumentFromString", [&] { ThrowNotImplemented(); });
}
