// SAP and Teamcenter logon parameters: members of CQarnUtilities. The lookup itself is
// logon/LogonLookup's.
#include "server/Utilities.h"

#include "base/WipedBstr.h"

#include <array>

using namespace qarn;

namespace {

// A single SAP value (index into kSapValues) of the default logon file; the other five, the
// password among them, are zeroed.
HRESULT OneSapValue(CQarnUtilities& self, const wchar_t* method, size_t which, BSTR* result) {
    return MethodFrame(method, [&] {
        OutParam(result);
        std::array<secure::WipedBstr, 6> values;
        CHECK_HR(self.GetSAPLogonParameter2(Bstr(logon::kSapLogonFile), values[0].Out(), values[1].Out(), values[2].Out(),
                                            values[3].Out(), values[4].Out(), values[5].Out()));
        *result = values[which].Detach();
    });
}

}  // namespace

STDMETHODIMP CQarnUtilities::GetSAPLogonParameter(BSTR *client, BSTR *userid, BSTR *password, BSTR *language, BSTR *hostname, BSTR *systemNumber) {
    return MethodFrame(L"CQarnUtilities::GetSAPLogonParameter", [&] {
        logon::ClearOut(std::array{client, userid, password, language, hostname, systemNumber});
        CHECK_HR(GetSAPLogonParameter2(Bstr(logon::kSapLogonFile), client, userid, password, language, hostname, systemNumber));
    });
}

STDMETHODIMP CQarnUtilities::GetSAPWebApplicationServerLogonParameter(BSTR *factoryContext, BSTR *providerUrl, BSTR *securityPrincipal, BSTR *securityCredentials) {
    return MethodFrame(L"CQarnUtilities::GetSAPWebApplicationServerLogonParameter", [&] {
        const std::array out{factoryContext, providerUrl, securityPrincipal, securityCredentials};
        logon::ClearOut(out);
        const ComPtr<IDispatch> document = logon_.LoadLogonFile(Bstr(logon::kWebServerLogonFile));
        const auto [computer, user] = logon_.CurrentComputerAndUser();
        ComPtr<IFieldCollection> entry;
        CHECK_HR(logon_.GetSAPLogonFC(document.Get(), computer, user, &entry));
        logon::DistributeWebServerValues(entry.Get(), out);
    });
}

STDMETHODIMP CQarnUtilities::GetSAPLogonParameter2(BSTR xmlFile, BSTR *client, BSTR *userid, BSTR *password, BSTR *language, BSTR *hostname, BSTR *systemNumber) {
    return MethodFrame(L"CQarnUtilities::GetSAPLogonParameter2", [&] {
        logon::ClearOut(std::array{client, userid, password, language, hostname, systemNumber});
        const auto [computer, user] = logon_.CurrentComputerAndUser();
        CHECK_HR(GetSAPLogonParameter2_(xmlFile, computer, user, client, userid, password, language, hostname, systemNumber));
    });
}

STDMETHODIMP CQarnUtilities::GetSAPLogonParameter3(BSTR *client, BSTR *userid, BSTR *password, BSTR *language, BSTR *hostname, BSTR *systemNumber) {
    return MethodFrame(L"CQarnUtilities::GetSAPLogonParameter3", [&] {
        logon::ClearOut(std::array{client, userid, password, language, hostname, systemNumber});
        CHECK_HR(GetSAPLogonParameter4(Bstr(logon::kSapLogonFile), client, userid, password, language, hostname, systemNumber));
    });
}

STDMETHODIMP CQarnUtilities::GetSAPLogonParameter4(BSTR xmlFile, BSTR *client, BSTR *userid, BSTR *password, BSTR *language, BSTR *hostname, BSTR *systemNumber) {
    return MethodFrame(L"CQarnUtilities::GetSAPLogonParameter4", [&] {
        logon::ClearOut(std::array{client, userid, password, language, hostname, systemNumber});
        const ComPtr<IDispatch> document = logon_.LoadLogonFile(xmlFile);
        Bstr user;
        CHECK_HR(GetSystemUserName(user.Out()));
        const ComPtr<IFieldCollection> entry = logon_.EntryForUser(document.Get(), user);
        if (entry)
            CHECK_HR(logon_.GetSAPInformation(entry.Get(), client, userid, password, language, hostname, systemNumber));
        else
            CHECK_HR(GetSAPLogonParameter2_(xmlFile, Bstr(logon::kDefaultSelector), Bstr(logon::kDefaultSelector), client, userid,
                                            password, language, hostname, systemNumber));
    });
}

STDMETHODIMP CQarnUtilities::GetSAPLogonClient(BSTR *client) {
    return OneSapValue(*this, L"CQarnUtilities::GetSAPLogonClient", 0, client);
}

STDMETHODIMP CQarnUtilities::GetSAPLogonUser(BSTR *userid) {
    return OneSapValue(*this, L"CQarnUtilities::GetSAPLogonUser", 1, userid);
}

STDMETHODIMP CQarnUtilities::GetSAPLogonPassword(BSTR *password) {
    return OneSapValue(*this, L"CQarnUtilities::GetSAPLogonPassword", 2, password);
}

STDMETHODIMP CQarnUtilities::GetSAPLogonLanguage(BSTR *language) {
    return OneSapValue(*this, L"CQarnUtilities::GetSAPLogonLanguage", 3, language);
}

STDMETHODIMP CQarnUtilities::GetSAPLogonHostname(BSTR *hostname) {
    return OneSapValue(*this, L"CQarnUtilities::GetSAPLogonHostname", 4, hostname);
}

STDMETHODIMP CQarnUtilities::GetSAPLogonSystemnumber(BSTR *systemNumber) {
    return OneSapValue(*this, L"CQarnUtilities::GetSAPLogonSystemnumber", 5, systemNumber);
}

STDMETHODIMP CQarnUtilities::GetSAPLogonParameter_(BSTR searchComputerName, BSTR searchComputerUser, BSTR *client, BSTR *userid, BSTR *password, BSTR *language, BSTR *hostname, BSTR *systemNumber) {
    return MethodFrame(L"CQarnUtilities::GetSAPLogonParameter_", [&] {
        logon::ClearOut(std::array{client, userid, password, language, hostname, systemNumber});
        CHECK_HR(GetSAPLogonParameter2_(Bstr(logon::kSapLogonFile), searchComputerName, searchComputerUser, client, userid,
                                        password, language, hostname, systemNumber));
    });
}

STDMETHODIMP CQarnUtilities::GetSAPLogonParameter2_(BSTR xmlFile, BSTR searchComputerName, BSTR searchComputerUser, BSTR *client, BSTR *userid, BSTR *password, BSTR *language, BSTR *hostname, BSTR *systemNumber) {
    return MethodFrame(L"CQarnUtilities::GetSAPLogonParameter2_", [&] {
        logon::ClearOut(std::array{client, userid, password, language, hostname, systemNumber});
        const ComPtr<IDispatch> document = logon_.LoadLogonFile(xmlFile);
        ComPtr<IFieldCollection> entry;
        CHECK_HR(logon_.GetSAPLogonFC(document.Get(), searchComputerName, searchComputerUser, &entry));
        if (entry) CHECK_HR(logon_.GetSAPInformation(entry.Get(), client, userid, password, language, hostname, systemNumber));
    });
}

STDMETHODIMP CQarnUtilities::GetSAPLogonParameter5(IFieldCollection **ppFieldCollection) {
    return MethodFrame(L"CQarnUtilities::GetSAPLogonParameter5", [&] {
        OutParam(ppFieldCollection);
        CHECK_HR(GetSAPLogonParameter6(Bstr(logon::kSapLogonFile), ppFieldCollection));
    });
}

STDMETHODIMP CQarnUtilities::GetSAPLogonParameter6(BSTR xmlFile, IFieldCollection **ppFieldCollection) {
    return MethodFrame(L"CQarnUtilities::GetSAPLogonParameter6", [&] {
        OutParam(ppFieldCollection);
        const ComPtr<IDispatch> document = logon_.LoadLogonFile(xmlFile);
        const auto [computer, user] = logon_.CurrentComputerAndUser();
        CHECK_HR(logon_.GetSAPLogonFC(document.Get(), computer, user, ppFieldCollection));
    });
}

STDMETHODIMP CQarnUtilities::GetSAPLoginParameter(IParameterList **ppOutput) {
    return MethodFrame(L"CQarnUtilities::GetSAPLoginParameter", [&] {
        OutParam(ppOutput);
        ComPtr<IParameterList> list = objects_.New<IParameterList>(CLSID_ParameterList);
        const ComPtr<ITable> table = objects_.New<ITable>(CLSID_Table);
        CHECK_HR(table->put_Name(Bstr(L"SAPLogonParameter")));
        ComPtr<ITableCollection> tables;
        CHECK_HR(list->get_TableCollection(&tables));
        CHECK_HR(tables->Add(table.Get()));

        const ComPtr<IDispatch> document = logon_.LoadLogonFile(Bstr(logon::kSapLogonFile));
        const auto [computer, user] = logon_.CurrentComputerAndUser();
        const ComPtr<IFieldCollectionTable> rows = logon_.RowsFor(document.Get(), computer, user);
        if (rows) CHECK_HR(table->put_FieldCollectionTable(rows.Get()));
        *ppOutput = list.Detach();
    });
}

STDMETHODIMP CQarnUtilities::GetTeamcenterLoginParameter(IParameterList **ppOutput) {
    return MethodFrame(L"CQarnUtilities::GetTeamcenterLoginParameter", [&] {
        // Teamcenter logon data is not kept in a file: there is no list to hand out.
        OutParam(ppOutput);
    });
}
