// Structure information and modification state: members of CQarnUtilities.
#include "util/Utilities.h"

using namespace qarn;

STDMETHODIMP CQarnUtilities::CreateStructureInformation(IQarnDocument *pDocument) {
    return MethodFrame(L"CQarnUtilities::CreateStructureInformation", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::CreateStructureInformation2(IQarnDocument *pDocument) {
    return MethodFrame(L"CQarnUtilities::CreateStructureInformation2", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::CreateStructureInformation3(IQarnDocument *pDocument) {
    return MethodFrame(L"CQarnUtilities::CreateStructureInformation3", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::RemoveEmptyFields(IParameterList *pInput) {
    return MethodFrame(L"CQarnUtilities::RemoveEmptyFields", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::CheckModificationState(IQarnDocument *pDocument, VARIANT_BOOL *isModified) {
    return MethodFrame(L"CQarnUtilities::CheckModificationState", [&] { ThrowNotImplemented(); });
}
