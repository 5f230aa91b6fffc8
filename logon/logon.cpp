// SAP and Teamcenter logon parameters: members of CQarnUtilities. A logon file under the root's
// "xml" folder holds `logon` entries for computers and users and a default entry; every lookup
// goes through one selection routine that tries its expressions in a fixed order.
#include "util/Utilities.h"

#include "documents/DomRead.h"
#include "secure/WipedBstr.h"

#include <array>
#include <span>
#include <string>
#include <string_view>
#include <utility>

using namespace qarn;

namespace {

constexpr wchar_t kSapLogonFile[] = L"QarnSAPLogonParameter.xml";
constexpr wchar_t kWebServerLogonFile[] = L"QarnSAPWebApplicationServerLogonParameter.xml";
constexpr wchar_t kDefaultSelector[] = L"default";
// Paths of logon files are built in a buffer of this many characters, the terminating NUL included.
constexpr size_t kPathCapacity = 2048;

// The expressions that select a `logon` entry.
enum class Selector { LowerExact, LowerDefault, UpperExact, UpperDefault, LowerUser, UpperUser };

// The lookup of one entry by computer and user: lower-case selectors before upper-case ones.
constexpr std::array kEntryOrder{Selector::LowerExact, Selector::LowerDefault, Selector::UpperExact,
                                 Selector::UpperDefault};
// The lookup of all fitting entries as table rows: upper-case selectors first.
constexpr std::array kRowsOrder{Selector::UpperExact, Selector::UpperDefault, Selector::LowerExact,
                                Selector::LowerDefault};
// The lookup by user alone.
constexpr std::array kUserOrder{Selector::LowerUser, Selector::UpperUser};

// `text` as an XPath string literal. XPath has no escape character: a text holding an apostrophe
// is quoted with double quotes, one holding both kinds of quotes is joined with concat().
std::wstring XPathLiteral(std::wstring_view text) {
    if (text.find(L'\'') == std::wstring_view::npos) return L"'" + std::wstring(text) + L"'";
    if (text.find(L'"') == std::wstring_view::npos) return L"\"" + std::wstring(text) + L"\"";
    std::wstring joined = L"concat(";
    size_t start = 0;
    for (;;) {
        const size_t quote = text.find(L'\'', start);
        const std::wstring_view part = text.substr(start, quote == std::wstring_view::npos ? text.npos : quote - start);
        if (!part.empty()) joined += L"'" + std::wstring(part) + L"', ";
        if (quote == std::wstring_view::npos) break;
        joined += L"\"'\", ";
        start = quote + 1;
    }
    // concat() needs two arguments at least: a trailing empty literal always supplies the second.
    return joined + L"'')";
}

Bstr Expression(Selector selector, std::wstring_view computer, std::wstring_view user) {
    const bool upper = selector == Selector::UpperExact || selector == Selector::UpperDefault ||
                       selector == Selector::UpperUser;
    if (selector == Selector::LowerDefault || selector == Selector::UpperDefault) computer = user = kDefaultSelector;
    std::wstring path = L"SAPLogonParameter/logon";
    if (selector != Selector::LowerUser && selector != Selector::UpperUser)
        path += (upper ? L"[COMPUTERNAME=" : L"[computername=") + XPathLiteral(computer) + L"]";
    path += (upper ? L"[COMPUTERUSER=" : L"[computeruser=") + XPathLiteral(user) + L"]";
    return Bstr(std::wstring_view(path));
}

// The selection routine of every lookup: evaluates the expressions of `order` with `select` (an
// expression -> result, empty when nothing fits) and returns the first result that is not empty.
template <class Select>
auto FirstSelected(std::span<const Selector> order, std::wstring_view computer, std::wstring_view user,
                   Select select) -> decltype(select(Bstr())) {
    for (const Selector selector : order)
        if (auto found = select(Expression(selector, computer, user))) return found;
    return {};
}

// A value element: its two spellings.
struct ValueName {
    const wchar_t* lower;
    const wchar_t* upper;
};
constexpr std::array<ValueName, 6> kSapValues{{{L"client", L"CLIENT"},
                                               {L"user", L"USER"},
                                               {L"password", L"PASSWORD"},
                                               {L"language", L"LANGUAGE"},
                                               {L"hostname", L"HOSTNAME"},
                                               {L"systemnumber", L"SYSTEMNUMBER"}}};
constexpr std::array<ValueName, 4> kWebServerValues{{{L"factoryContext", L"FACTORYCONTEXT"},
                                                     {L"providerUrl", L"PROVIDERURL"},
                                                     {L"securityPrincipal", L"SECURITYPRINCIPAL"},
                                                     {L"securityCredentials", L"SECURITYCREDENTIALS"}}};

void CopyValues(IFieldCollection* entry, std::span<const ValueName> names, std::span<BSTR* const> out) {
    long count = 0;
    CHECK_HR(entry->get_Count(&count));
    for (long i = 1; i <= count; ++i) {
        ComPtr<IField> field;
        CHECK_HR(entry->get_Item(i, &field));
        if (!field) continue;
        Bstr name;
        CHECK_HR(field->get_Name(name.Out()));
        for (size_t k = 0; k < names.size(); ++k) {
            if (name.View() != names[k].lower && name.View() != names[k].upper) continue;
            secure::WipedBstr value;
            CHECK_HR(field->get_StringValue(value.Out()));
            secure::WipeBstr(*out[k]);
            *out[k] = value.Detach();
        }
    }
}

// Clears the [out] values; a null one is refused before anything is read.
void ClearOut(std::span<BSTR* const> out) {
    for (BSTR* value : out) CHECK_POINTER(value);  // all are checked before any is cleared
    for (BSTR* value : out) *value = nullptr;
}

// Copies the value of each field of `entry` whose name is one of `names` (exactly, either
// spelling) to the matching out value; a later field of the same value replaces an earlier one.
// On a failure no value is handed out half filled.
void DistributeValues(IFieldCollection* entry, std::span<const ValueName> names, std::span<BSTR* const> out) {
    if (!entry) return;
    try {
        CopyValues(entry, names, out);
    } catch (...) {
        for (BSTR* value : out) secure::WipeBstr(std::exchange(*value, nullptr));
        throw;
    }
}

// A single SAP value (index into kSapValues) of the default logon file; the other five, the
// password among them, are zeroed.
HRESULT OneSapValue(CQarnUtilities& self, const wchar_t* method, size_t which, BSTR* result) {
    return MethodFrame(method, [&] {
        OutParam(result);
        std::array<secure::WipedBstr, 6> values;
        CHECK_HR(self.GetSAPLogonParameter2(Bstr(kSapLogonFile), values[0].Out(), values[1].Out(), values[2].Out(),
                                            values[3].Out(), values[4].Out(), values[5].Out()));
        *result = values[which].Detach();
    });
}

}  // namespace

ComPtr<IDispatch> CQarnUtilities::LoadLogonFile(BSTR xmlFile) {
    const std::wstring_view file = Arg(xmlFile).value_or(std::wstring_view());
    if (file.empty()) THROW_MESSAGE(L"No logon file name is given.");
    Bstr root;
    CHECK_HR(GetRootDir(root.Out()));
    std::wstring path(Arg(root).value_or(std::wstring_view()));
    path += L"\\xml\\";
    path += file;
    if (path.size() >= kPathCapacity)
        THROW_MESSAGE(L"The path of the logon file " + std::wstring(file) + L" below the installation root is " +
                      std::to_wstring(path.size()) + L" characters long; at most " +
                      std::to_wstring(kPathCapacity - 1) + L" are possible.");
    ComPtr<IDispatch> document;
    CHECK_HR(DOMParse(Variant(std::wstring_view(path)), &document));
    return document;
}

std::pair<Bstr, Bstr> CQarnUtilities::CurrentComputerAndUser() {
    Bstr computer, user;
    CHECK_HR(GetSystemComputerName(computer.Out()));
    CHECK_HR(GetSystemUserName(user.Out()));
    return {std::move(computer), std::move(user)};
}

HRESULT CQarnUtilities::GetSAPLogonFC(IDispatch* document, BSTR computerName, BSTR userName, IFieldCollection** entry) {
    return MethodFrame(L"CQarnUtilities::GetSAPLogonFC", [&] {
        OutParam(entry);
        *entry = FirstSelected(kEntryOrder, Arg(computerName).value_or(std::wstring_view()),
                               Arg(userName).value_or(std::wstring_view()), [&](const Bstr& expression) {
                                   ComPtr<IFieldCollection> found;
                                   CHECK_HR(DOMNodeGetChilds(document, expression, &found));
                                   return found;
                               }).Detach();
    });
}

HRESULT CQarnUtilities::GetSAPInformation(IFieldCollection* entry, BSTR* client, BSTR* userid, BSTR* password,
                                          BSTR* language, BSTR* hostname, BSTR* systemNumber) {
    return MethodFrame(L"CQarnUtilities::GetSAPInformation", [&] {
        const std::array out{client, userid, password, language, hostname, systemNumber};
        for (BSTR* value : out) CHECK_POINTER(value);
        DistributeValues(entry, kSapValues, out);
    });
}

STDMETHODIMP CQarnUtilities::GetSAPLogonParameter(BSTR *client, BSTR *userid, BSTR *password, BSTR *language, BSTR *hostname, BSTR *systemNumber) {
    return MethodFrame(L"CQarnUtilities::GetSAPLogonParameter", [&] {
        ClearOut(std::array{client, userid, password, language, hostname, systemNumber});
        CHECK_HR(GetSAPLogonParameter2(Bstr(kSapLogonFile), client, userid, password, language, hostname, systemNumber));
    });
}

STDMETHODIMP CQarnUtilities::GetSAPWebApplicationServerLogonParameter(BSTR *factoryContext, BSTR *providerUrl, BSTR *securityPrincipal, BSTR *securityCredentials) {
    return MethodFrame(L"CQarnUtilities::GetSAPWebApplicationServerLogonParameter", [&] {
        const std::array out{factoryContext, providerUrl, securityPrincipal, securityCredentials};
        ClearOut(out);
        const ComPtr<IDispatch> document = LoadLogonFile(Bstr(kWebServerLogonFile));
        const auto [computer, user] = CurrentComputerAndUser();
        ComPtr<IFieldCollection> entry;
        CHECK_HR(GetSAPLogonFC(document.Get(), computer, user, &entry));
        DistributeValues(entry.Get(), kWebServerValues, out);
    });
}

STDMETHODIMP CQarnUtilities::GetSAPLogonParameter2(BSTR xmlFile, BSTR *client, BSTR *userid, BSTR *password, BSTR *language, BSTR *hostname, BSTR *systemNumber) {
    return MethodFrame(L"CQarnUtilities::GetSAPLogonParameter2", [&] {
        ClearOut(std::array{client, userid, password, language, hostname, systemNumber});
        const auto [computer, user] = CurrentComputerAndUser();
        CHECK_HR(GetSAPLogonParameter2_(xmlFile, computer, user, client, userid, password, language, hostname, systemNumber));
    });
}

STDMETHODIMP CQarnUtilities::GetSAPLogonParameter3(BSTR *client, BSTR *userid, BSTR *password, BSTR *language, BSTR *hostname, BSTR *systemNumber) {
    return MethodFrame(L"CQarnUtilities::GetSAPLogonParameter3", [&] {
        ClearOut(std::array{client, userid, password, language, hostname, systemNumber});
        CHECK_HR(GetSAPLogonParameter4(Bstr(kSapLogonFile), client, userid, password, language, hostname, systemNumber));
    });
}

STDMETHODIMP CQarnUtilities::GetSAPLogonParameter4(BSTR xmlFile, BSTR *client, BSTR *userid, BSTR *password, BSTR *language, BSTR *hostname, BSTR *systemNumber) {
    return MethodFrame(L"CQarnUtilities::GetSAPLogonParameter4", [&] {
        ClearOut(std::array{client, userid, password, language, hostname, systemNumber});
        const ComPtr<IDispatch> document = LoadLogonFile(xmlFile);
        Bstr user;
        CHECK_HR(GetSystemUserName(user.Out()));
        const ComPtr<IFieldCollection> entry =
            FirstSelected(kUserOrder, {}, user.View(), [&](const Bstr& expression) {
                ComPtr<IFieldCollection> found;
                CHECK_HR(DOMNodeGetChilds(document.Get(), expression, &found));
                return found;
            });
        if (entry)
            CHECK_HR(GetSAPInformation(entry.Get(), client, userid, password, language, hostname, systemNumber));
        else
            CHECK_HR(GetSAPLogonParameter2_(xmlFile, Bstr(kDefaultSelector), Bstr(kDefaultSelector), client, userid,
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
        ClearOut(std::array{client, userid, password, language, hostname, systemNumber});
        CHECK_HR(GetSAPLogonParameter2_(Bstr(kSapLogonFile), searchComputerName, searchComputerUser, client, userid,
                                        password, language, hostname, systemNumber));
    });
}

STDMETHODIMP CQarnUtilities::GetSAPLogonParameter2_(BSTR xmlFile, BSTR searchComputerName, BSTR searchComputerUser, BSTR *client, BSTR *userid, BSTR *password, BSTR *language, BSTR *hostname, BSTR *systemNumber) {
    return MethodFrame(L"CQarnUtilities::GetSAPLogonParameter2_", [&] {
        ClearOut(std::array{client, userid, password, language, hostname, systemNumber});
        const ComPtr<IDispatch> document = LoadLogonFile(xmlFile);
        ComPtr<IFieldCollection> entry;
        CHECK_HR(GetSAPLogonFC(document.Get(), searchComputerName, searchComputerUser, &entry));
        if (entry) CHECK_HR(GetSAPInformation(entry.Get(), client, userid, password, language, hostname, systemNumber));
    });
}

STDMETHODIMP CQarnUtilities::GetSAPLogonParameter5(IFieldCollection **ppFieldCollection) {
    return MethodFrame(L"CQarnUtilities::GetSAPLogonParameter5", [&] {
        OutParam(ppFieldCollection);
        CHECK_HR(GetSAPLogonParameter6(Bstr(kSapLogonFile), ppFieldCollection));
    });
}

STDMETHODIMP CQarnUtilities::GetSAPLogonParameter6(BSTR xmlFile, IFieldCollection **ppFieldCollection) {
    return MethodFrame(L"CQarnUtilities::GetSAPLogonParameter6", [&] {
        OutParam(ppFieldCollection);
        const ComPtr<IDispatch> document = LoadLogonFile(xmlFile);
        const auto [computer, user] = CurrentComputerAndUser();
        CHECK_HR(GetSAPLogonFC(document.Get(), computer, user, ppFieldCollection));
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

        const ComPtr<IDispatch> document = LoadLogonFile(Bstr(kSapLogonFile));
        const auto [computer, user] = CurrentComputerAndUser();
        const ComPtr<IFieldCollectionTable> rows =
            FirstSelected(kRowsOrder, computer.View(), user.View(), [&](const Bstr& expression) {
                ComPtr<IFieldCollectionTable> found;
                CHECK_HR(DOMNodeGetChilds_(document.Get(), expression, &found));
                long count = 0;
                if (found) CHECK_HR(found->get_Count(&count));
                return count > 0 ? found : nullptr;
            });
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
