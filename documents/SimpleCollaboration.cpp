// CQarnSimpleCollaboration: field collections kept in ".CLB" files beside model files.
#include "documents/SimpleCollaboration.h"

using namespace qarn;

STDMETHODIMP CQarnSimpleCollaboration::Get(IFieldCollection *pInput, IFieldCollection **ppResult) {
    return MethodFrame(L"CQarnSimpleCollaboration::Get", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnSimpleCollaboration::Add(IFieldCollection *pInput) {
    return MethodFrame(L"CQarnSimpleCollaboration::Add", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnSimpleCollaboration::Get2(BSTR modelFullName, IFieldCollection **ppResult) {
    return MethodFrame(L"CQarnSimpleCollaboration::Get2", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnSimpleCollaboration::Update(IFieldCollection *pInput) {
    return MethodFrame(L"CQarnSimpleCollaboration::Update", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnSimpleCollaboration::Add2(BSTR modelFullName, IFieldCollection *pInput) {
    return MethodFrame(L"CQarnSimpleCollaboration::Add2", [&] { ThrowNotImplemented(); });
}
