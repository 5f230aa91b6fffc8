// String operations: members of CQarnUtilities.
#include "util/Utilities.h"

using namespace qarn;

STDMETHODIMP CQarnUtilities::GetExtension(BSTR name, BSTR *extension) {
    return MethodFrame(L"CQarnUtilities::GetExtension", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::GetNameByPath(BSTR path, BSTR *name) {
    return MethodFrame(L"CQarnUtilities::GetNameByPath", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::GetPathByFullname(BSTR fullname, BSTR *path) {
    return MethodFrame(L"CQarnUtilities::GetPathByFullname", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::RemoveExtension(BSTR fileName, BSTR *extension) {
    return MethodFrame(L"CQarnUtilities::RemoveExtension", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::TrimLeft(BSTR s, BSTR c, BSTR *pVal) {
    return MethodFrame(L"CQarnUtilities::TrimLeft", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::TrimRight(BSTR s, BSTR c, BSTR *pVal) {
    return MethodFrame(L"CQarnUtilities::TrimRight", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::SubStr(BSTR str, LONG start, LONG length, BSTR *result) {
    return MethodFrame(L"CQarnUtilities::SubStr", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::TrimLeftAndRight(BSTR s, BSTR c, BSTR *pVal) {
    return MethodFrame(L"CQarnUtilities::TrimLeftAndRight", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::IsDigit(BSTR s, VARIANT_BOOL *pVal) {
    return MethodFrame(L"CQarnUtilities::IsDigit", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::TrimSAPDocumentNumber(BSTR s, BSTR c, BSTR *pVal) {
    return MethodFrame(L"CQarnUtilities::TrimSAPDocumentNumber", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::CreateGuid(BSTR *s) {
    return MethodFrame(L"CQarnUtilities::CreateGuid", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::ConvertBSTRToXMLString(BSTR in, BSTR *out) {
    return MethodFrame(L"CQarnUtilities::ConvertBSTRToXMLString", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::sprintf1(BSTR formatString, BSTR s, BSTR *result) {
    return MethodFrame(L"CQarnUtilities::sprintf1", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::GetExtension2(BSTR name, BSTR *extension) {
    return MethodFrame(L"CQarnUtilities::GetExtension2", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::ConvertBSTRToFileStream(BSTR in, BSTR *out) {
    return MethodFrame(L"CQarnUtilities::ConvertBSTRToFileStream", [&] { ThrowNotImplemented(); });
}
