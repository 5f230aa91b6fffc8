// Text and CSV files: members of CQarnUtilities.
#include "util/Utilities.h"

using namespace qarn;

STDMETHODIMP CQarnUtilities::ReadTextFile(BSTR fileName, IFieldCollection **ppFieldCollection) {
    return MethodFrame(L"CQarnUtilities::ReadTextFile", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::ReadCSVFile(BSTR fileName, BSTR separator, IFieldCollection **ppFieldCollection) {
    return MethodFrame(L"CQarnUtilities::ReadCSVFile", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::ReadCSVFile2(BSTR fileName, BSTR separator, IFieldCollectionTable **ppFieldCollectionTable) {
    return MethodFrame(L"CQarnUtilities::ReadCSVFile2", [&] { ThrowNotImplemented(); });
}
