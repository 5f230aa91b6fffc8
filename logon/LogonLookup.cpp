// The lookup of logon entries: a logon file under the root's "xml" folder holds `logon` entries for
// computers and users and a default entry; every lookup goes through one selection routine that
// tries its expressions in a fixed order.
#include "logon/LogonLookup.h"

#include "base/WipedBstr.h"
#include "base/DataObjects.h"
#include "base/CallerText.h"

#include <array>
#include <string>
#include <string_view>
#include <utility>

namespace qarn::logon {

namespace {


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
    ForEachField(entry, [&](IField* field, const Bstr& name) {
        for (size_t k = 0; k < names.size(); ++k) {
            if (name.View() != names[k].lower && name.View() != names[k].upper) continue;
            secure::WipedBstr value;
            CHECK_HR(field->get_StringValue(value.Out()));
            secure::WipeBstr(*out[k]);
            *out[k] = value.Detach();
        }
    });
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

}  // namespace

// Clears the [out] values; a null one is refused before anything is read.
void ClearOut(std::span<BSTR* const> out) {
    for (BSTR* value : out) CHECK_POINTER(value);  // all are checked before any is cleared
    for (BSTR* value : out) *value = nullptr;
}

ComPtr<IDispatch> LogonLookup::LoadLogonFile(BSTR xmlFile) {
    const std::wstring_view file = Arg(xmlFile).value_or(std::wstring_view());
    if (file.empty()) THROW_MESSAGE(L"No logon file name is given.");
    Bstr root;
    CHECK_HR(sources_.RootFolder(root.Out()));
    std::wstring path(Arg(root).value_or(std::wstring_view()));
    path += L"\\xml\\";
    path += file;
    if (path.size() >= kPathCapacity)
        THROW_MESSAGE(L"The path of the logon file " + std::wstring(file) + L" below the installation root is " +
                      std::to_wstring(path.size()) + L" characters long; at most " +
                      std::to_wstring(kPathCapacity - 1) + L" are possible.");
    ComPtr<IDispatch> document;
    CHECK_HR(sources_.ParseFile(Variant(std::wstring_view(path)), &document));
    return document;
}

std::pair<Bstr, Bstr> LogonLookup::CurrentComputerAndUser() {
    Bstr computer, user;
    CHECK_HR(sources_.ComputerName(computer.Out()));
    CHECK_HR(sources_.UserName(user.Out()));
    return {std::move(computer), std::move(user)};
}

HRESULT LogonLookup::GetSAPLogonFC(IDispatch* document, BSTR computerName, BSTR userName, IFieldCollection** entry) {
    return MethodFrame(L"CQarnUtilities::GetSAPLogonFC", [&] {
        OutParam(entry);
        *entry = FirstSelected(kEntryOrder, Arg(computerName).value_or(std::wstring_view()),
                               Arg(userName).value_or(std::wstring_view()), [&](const Bstr& expression) {
                                   ComPtr<IFieldCollection> found;
                                   CHECK_HR(sources_.NodeFields(document, expression, &found));
                                   return found;
                               }).Detach();
    });
}

HRESULT LogonLookup::GetSAPInformation(IFieldCollection* entry, BSTR* client, BSTR* userid, BSTR* password,
                                          BSTR* language, BSTR* hostname, BSTR* systemNumber) {
    return MethodFrame(L"CQarnUtilities::GetSAPInformation", [&] {
        const std::array out{client, userid, password, language, hostname, systemNumber};
        for (BSTR* value : out) CHECK_POINTER(value);
        DistributeValues(entry, kSapValues, out);
    });
}

ComPtr<IFieldCollection> LogonLookup::EntryForUser(IDispatch* document, BSTR user) {
    return FirstSelected(kUserOrder, {}, View(user), [&](const Bstr& expression) {
        ComPtr<IFieldCollection> found;
        CHECK_HR(sources_.NodeFields(document, expression, &found));
        return found;
    });
}

ComPtr<IFieldCollectionTable> LogonLookup::RowsFor(IDispatch* document, BSTR computer, BSTR user) {
    return FirstSelected(kRowsOrder, View(computer), View(user),
                         [&](const Bstr& expression) {
                             ComPtr<IFieldCollectionTable> found;
                             CHECK_HR(sources_.NodeRows(document, expression, &found));
                             long count = 0;
                             if (found) CHECK_HR(found->get_Count(&count));
                             return count > 0 ? found : nullptr;
                         });
}

void DistributeWebServerValues(IFieldCollection* entry, std::span<BSTR* const, 4> out) {
    DistributeValues(entry, kWebServerValues, out);
}

}  // namespace qarn::logon
