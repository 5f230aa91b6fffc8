// System and network information: members of CQarnUtilities.
#include "util/Utilities.h"

using namespace qarn;

STDMETHODIMP CQarnUtilities::GetEnv(BSTR variable, BSTR *value) {
    return MethodFrame(L"CQarnUtilities::GetEnv", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::GetSystemUserName(BSTR *userName) {
    return MethodFrame(L"CQarnUtilities::GetSystemUserName", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::GetSystemComputerName(BSTR *computerName) {
    return MethodFrame(L"CQarnUtilities::GetSystemComputerName", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::ShowWindow(BSTR className, BSTR windowName, int windowStyle) {
    return MethodFrame(L"CQarnUtilities::ShowWindow", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::ShowSAPWindow(int windowStyle) {
    return MethodFrame(L"CQarnUtilities::ShowSAPWindow", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::Sleep(LONG milliseconds) {
    return MethodFrame(L"CQarnUtilities::Sleep", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::GetRootDir(BSTR *rootDir) {
    return MethodFrame(L"CQarnUtilities::GetRootDir", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::Exec(BSTR cmdLine, LONG cmdShow) {
    return MethodFrame(L"CQarnUtilities::Exec", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::GetDomain(BSTR *domain) {
    return MethodFrame(L"CQarnUtilities::GetDomain", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::GetMAC(VARIANT_BOOL details, IStructureCollection **pData) {
    return MethodFrame(L"CQarnUtilities::GetMAC", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::GetHostByName(BSTR hostname, IFieldCollection **ppHostIPs) {
    return MethodFrame(L"CQarnUtilities::GetHostByName", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::SendNetworkData(BSTR request, BSTR hostIp, int port, BSTR *ppResponse) {
    return MethodFrame(L"CQarnUtilities::SendNetworkData", [&] { ThrowNotImplemented(); });
}
