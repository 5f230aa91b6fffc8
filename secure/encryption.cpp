// Encryption entry points: members of CQarnUtilities.
#include "util/Utilities.h"

using namespace qarn;

STDMETHODIMP CQarnUtilities::Encrypt(BSTR fieldName, BSTR fieldValue, IField **ppField) {
    return MethodFrame(L"CQarnUtilities::Encrypt", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::Encrypt2(IField *pField, IField **ppField) {
    return MethodFrame(L"CQarnUtilities::Encrypt2", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::Encrypt3(BSTR value, BSTR *result) {
    return MethodFrame(L"CQarnUtilities::Encrypt3", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::Decrypt(BSTR fieldName, BSTR fieldValue, IField **ppField) {
    return MethodFrame(L"CQarnUtilities::Decrypt", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::Decrypt2(IField *pField, IField **ppField) {
    return MethodFrame(L"CQarnUtilities::Decrypt2", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::Decrypt3(BSTR value, BSTR *result) {
    return MethodFrame(L"CQarnUtilities::Decrypt3", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::EncryptLogon(BSTR value, BSTR *result) {
    return MethodFrame(L"CQarnUtilities::EncryptLogon", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::EncryptLogon2(BSTR fieldName, BSTR fieldValue, BSTR *result) {
    return MethodFrame(L"CQarnUtilities::EncryptLogon2", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::EncryptData(IDispatch *pDisp) {
    return MethodFrame(L"CQarnUtilities::EncryptData", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::DecryptData(IDispatch *pDisp) {
    return MethodFrame(L"CQarnUtilities::DecryptData", [&] { ThrowNotImplemented(); });
}
