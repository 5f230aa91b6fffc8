// QarnGenericListViewControl: shows result documents in a modal list view dialog.
#include "components/ListViewControl.h"

using namespace qarn;

STDMETHODIMP CQarnGenericListViewControl::Show(IQarnDocument *pData) {
    return MethodFrame(L"CQarnGenericListViewControl::Show", [&] { ThrowNotImplemented(); });
}
