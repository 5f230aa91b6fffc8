// Field evaluation: members of CQarnUtilities.
#include "util/Utilities.h"

using namespace qarn;

STDMETHODIMP CQarnUtilities::DOMCreateFieldEntry(IDispatch *pDOMNode, IDispatch *pDisp, IField **ppField) {
    return MethodFrame(L"CQarnUtilities::DOMCreateFieldEntry", [&] { ThrowNotImplemented(); });
}
