// CQarnComApplication: the process's application object holding the configuration.
#include "config/Application.h"

using namespace qarn;

STDMETHODIMP CQarnComApplication::Init() {
    return MethodFrame(L"CQarnComApplication::Init", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnComApplication::GetProperty(BSTR name, BSTR *value) {
    return MethodFrame(L"CQarnComApplication::GetProperty", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnComApplication::GetMessage(BSTR name, BSTR *value) {
    return MethodFrame(L"CQarnComApplication::GetMessage", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnComApplication::get_Properties(IFieldCollection **pVal) {
    return MethodFrame(L"CQarnComApplication::Properties", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnComApplication::put_Properties(IFieldCollection *newVal) {
    return MethodFrame(L"CQarnComApplication::Properties", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnComApplication::get_Messages(IFieldCollection **pVal) {
    return MethodFrame(L"CQarnComApplication::Messages", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnComApplication::put_Messages(IFieldCollection *newVal) {
    return MethodFrame(L"CQarnComApplication::Messages", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnComApplication::get_IsInitialized(VARIANT_BOOL *pVal) {
    return MethodFrame(L"CQarnComApplication::IsInitialized", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnComApplication::SetShellIconVisible(VARIANT_BOOL b) {
    return MethodFrame(L"CQarnComApplication::SetShellIconVisible", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnComApplication::SetProperty(BSTR name, BSTR value) {
    return MethodFrame(L"CQarnComApplication::SetProperty", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnComApplication::get_JNIOptions(IFieldCollection **pVal) {
    return MethodFrame(L"CQarnComApplication::JNIOptions", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnComApplication::put_JNIOptions(IFieldCollection *newVal) {
    return MethodFrame(L"CQarnComApplication::JNIOptions", [&] { ThrowNotImplemented(); });
}
