// The lookup of SAP logon entries in the logon files below the installation root.
#pragma once

#include "base/ConnectorInterfaces.h"
#include "base/UtilityServices.h"

#include <span>
#include <utility>

namespace qarn::logon {

inline constexpr wchar_t kSapLogonFile[] = L"QarnSAPLogonParameter.xml";
inline constexpr wchar_t kWebServerLogonFile[] = L"QarnSAPWebApplicationServerLogonParameter.xml";
// The computer and user name of the default entry.
inline constexpr wchar_t kDefaultSelector[] = L"default";

class LogonLookup {
public:
    explicit LogonLookup(UtilityServices& sources) : sources_(sources) {}

    // The parsed logon file `xmlFile` of the root's "xml" folder; a missing name or a path of 2048
    // characters or more is refused.
    ComPtr<IDispatch> LoadLogonFile(BSTR xmlFile);
    // The current computer and user names (upper case).
    std::pair<Bstr, Bstr> CurrentComputerAndUser();
    // The fields of the first `logon` entry of `document` for the computer and user, else of the
    // default entry; lower-case selectors first. Null when none fits.
    HRESULT GetSAPLogonFC(IDispatch* document, BSTR computerName, BSTR userName, IFieldCollection** entry);
    // The six SAP values of an entry's fields (exact names, either spelling; the later one wins).
    HRESULT GetSAPInformation(IFieldCollection* entry, BSTR* client, BSTR* userid, BSTR* password, BSTR* language,
                              BSTR* hostname, BSTR* systemNumber);
    // The entry of `document` for the user alone (lower-case selector first); null when none fits.
    ComPtr<IFieldCollection> EntryForUser(IDispatch* document, BSTR user);
    // Every entry for the computer and user as table rows, else every default entry; upper-case
    // selectors first. Null when none fits.
    ComPtr<IFieldCollectionTable> RowsFor(IDispatch* document, BSTR computer, BSTR user);

private:
    UtilityServices& sources_;
};

// Clears the [out] values; a null one is refused before anything is read.
void ClearOut(std::span<BSTR* const> out);
// The web application server values (factory context, provider URL, security principal,
// credentials) of an entry's fields to the out values; nothing is handed out half filled.
void DistributeWebServerValues(IFieldCollection* entry, std::span<BSTR* const, 4> out);

}  // namespace qarn::logon
