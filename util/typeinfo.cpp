// Type information queries: members of CQarnUtilities.
#include "util/Utilities.h"

using namespace qarn;

STDMETHODIMP CQarnUtilities::GetInterfaceInfo1(IDispatch *pDispatch, IFieldCollection **ppInfo) {
    return MethodFrame(L"CQarnUtilities::GetInterfaceInfo1", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::GetInterfaceInfo2(GUID guid, unsigned short wVerMajor, unsigned short wVerMinor, ULONG wLcid, IFieldCollection **ppInfo) {
    return MethodFrame(L"CQarnUtilities::GetInterfaceInfo2", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::GetInterfaceInfos(IFieldCollectionTable **ppInfo) {
    return MethodFrame(L"CQarnUtilities::GetInterfaceInfos", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::GetCLSIDFromProgID(BSTR progID, BSTR *clsid) {
    return MethodFrame(L"CQarnUtilities::GetCLSIDFromProgID", [&] { ThrowNotImplemented(); });
}
