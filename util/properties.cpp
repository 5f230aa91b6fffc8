// Property and message store: members of CQarnUtilities.
#include "util/Utilities.h"

using namespace qarn;

STDMETHODIMP CQarnUtilities::get_Properties(IFieldCollection **pVal) {
    return MethodFrame(L"CQarnUtilities::Properties", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::put_Properties(IFieldCollection *newVal) {
    return MethodFrame(L"CQarnUtilities::Properties", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::get_Messages(IFieldCollection **pVal) {
    return MethodFrame(L"CQarnUtilities::Messages", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::put_Messages(IFieldCollection *newVal) {
    return MethodFrame(L"CQarnUtilities::Messages", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::get_JNIOptions(IFieldCollection **pVal) {
    return MethodFrame(L"CQarnUtilities::JNIOptions", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::put_JNIOptions(IFieldCollection *newVal) {
    return MethodFrame(L"CQarnUtilities::JNIOptions", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::GetProperty(BSTR name, BSTR *value) {
    return MethodFrame(L"CQarnUtilities::GetProperty", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::SetProperty(BSTR name, BSTR value) {
    return MethodFrame(L"CQarnUtilities::SetProperty", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::GetMessage(BSTR name, BSTR *value) {
    return MethodFrame(L"CQarnUtilities::GetMessageW", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::GetPropertiesByName(BSTR name, IFieldCollection **ppFieldCollection) {
    return MethodFrame(L"CQarnUtilities::GetPropertiesByName", [&] { ThrowNotImplemented(); });
}
