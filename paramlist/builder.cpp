// Parameter-list builder: members of CQarnUtilities.
#include "util/Utilities.h"

using namespace qarn;

STDMETHODIMP CQarnUtilities::DOMCreateParameterListEntry(IDispatch *pDOMNode, IDispatch *pDisp, IParameterList **ppParameterList) {
    return MethodFrame(L"CQarnUtilities::DOMCreateParameterListEntry", [&] { ThrowNotImplemented(); });
}
