// SAP and Teamcenter logon parameters: members of CQarnUtilities.
#include "util/Utilities.h"

using namespace qarn;

STDMETHODIMP CQarnUtilities::GetSAPLogonParameter(BSTR *client, BSTR *userid, BSTR *password, BSTR *language, BSTR *hostname, BSTR *systemNumber) {
    return MethodFrame(L"CQarnUtilities::GetSAPLogonParameter", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::GetSAPWebApplicationServerLogonParameter(BSTR *factoryContext, BSTR *providerUrl, BSTR *securityPrincipal, BSTR *securityCredentials) {
    return MethodFrame(L"CQarnUtilities::GetSAPWebApplicationServerLogonParameter", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::GetSAPLogonParameter2(BSTR xmlFile, BSTR *client, BSTR *userid, BSTR *password, BSTR *language, BSTR *hostname, BSTR *systemNumber) {
    return MethodFrame(L"CQarnUtilities::GetSAPLogonParameter2", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::GetSAPLogonParameter3(BSTR *client, BSTR *userid, BSTR *password, BSTR *language, BSTR *hostname, BSTR *systemNumber) {
    return MethodFrame(L"CQarnUtilities::GetSAPLogonParameter3", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::GetSAPLogonParameter4(BSTR xmlFile, BSTR *client, BSTR *userid, BSTR *password, BSTR *language, BSTR *hostname, BSTR *systemNumber) {
    return MethodFrame(L"CQarnUtilities::GetSAPLogonParameter4", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::GetSAPLogonClient(BSTR *client) {
    return MethodFrame(L"CQarnUtilities::GetSAPLogonClient", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::GetSAPLogonUser(BSTR *userid) {
    return MethodFrame(L"CQarnUtilities::GetSAPLogonUser", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::GetSAPLogonPassword(BSTR *password) {
    return MethodFrame(L"CQarnUtilities::GetSAPLogonPassword", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::GetSAPLogonLanguage(BSTR *language) {
    return MethodFrame(L"CQarnUtilities::GetSAPLogonLanguage", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::GetSAPLogonHostname(BSTR *hostname) {
    return MethodFrame(L"CQarnUtilities::GetSAPLogonHostname", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::GetSAPLogonSystemnumber(BSTR *systemNumber) {
    return MethodFrame(L"CQarnUtilities::GetSAPLogonSystemnumber", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::GetSAPLogonParameter_(BSTR searchComputerName, BSTR searchComputerUser, BSTR *client, BSTR *userid, BSTR *password, BSTR *language, BSTR *hostname, BSTR *systemNumber) {
    return MethodFrame(L"CQarnUtilities::GetSAPLogonParameter_", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::GetSAPLogonParameter2_(BSTR xmlFile, BSTR searchComputerName, BSTR searchComputerUser, BSTR *client, BSTR *userid, BSTR *password, BSTR *language, BSTR *hostname, BSTR *systemNumber) {
    return MethodFrame(L"CQarnUtilities::GetSAPLogonParameter2_", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::GetSAPLogonParameter5(IFieldCollection **ppFieldCollection) {
    return MethodFrame(L"CQarnUtilities::GetSAPLogonParameter5", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::GetSAPLogonParameter6(BSTR xmlFile, IFieldCollection **ppFieldCollection) {
    return MethodFrame(L"CQarnUtilities::GetSAPLogonParameter6", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::GetSAPLoginParameter(IParameterList **ppOutput) {
    return MethodFrame(L"CQarnUtilities::GetSAPLoginParameter", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::GetTeamcenterLoginParameter(IParameterList **ppOutput) {
    return MethodFrame(L"CQarnUtilities::GetTeamcenterLoginParameter", [&] { ThrowNotImplemented(); });
}
