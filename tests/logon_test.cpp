// Logon parameter lookup of CQarnUtilities through real activation: the selection order over the
// members, default entries, quoting of names, encrypted values and the web application server file.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "UtilitiesSupport.h"

using namespace test;

namespace {

std::string U8(std::wstring_view s) { return qarn::ToUtf8(s); }

// One `logon` element with lower- or upper-case selectors; `values` are written as they stand.
std::string Entry(bool lower, std::wstring_view computer, std::wstring_view user, const std::string& values) {
    const std::string c = lower ? "computername" : "COMPUTERNAME", u = lower ? "computeruser" : "COMPUTERUSER";
    return "<logon><" + c + ">" + U8(computer) + "</" + c + "><" + u + ">" + U8(user) + "</" + u + ">" + values + "</logon>";
}
std::string Client(const std::string& client) { return "<client>" + client + "</client>"; }
std::wstring FirstOf(const std::wstring& joined) { return joined.substr(0, joined.find(L'|')); }

using SixValues = std::function<HRESULT(BSTR*, BSTR*, BSTR*, BSTR*, BSTR*, BSTR*)>;

class Logon : public ::testing::Test {
protected:
    ScratchFolder root{L"logon"};
    ScopedVariable rootVariable{L"QarnRootDir", root.path().c_str()};
    ComPtr<IQarnUtilities> u = Create<IQarnUtilities>(CLSID_CQarnUtilities);
    std::wstring computer = Name(&IQarnUtilities::GetSystemComputerName), user = Name(&IQarnUtilities::GetSystemUserName);

    void SetUp() override { CreateDirectoryW((root / L"xml").c_str(), nullptr); }
    std::wstring Name(HRESULT (STDMETHODCALLTYPE IQarnUtilities::*method)(BSTR*)) {
        BSTR out = nullptr;
        EXPECT_EQ(S_OK, (u.Get()->*method)(&out)) << TakeMessage();
        return Result(S_OK, out).text;
    }
    void WriteFile(const std::wstring& name, const std::string& entries) {
        root.Write(L"xml\\" + name, "<?xml version=\"1.0\"?><SAPLogonParameter>" + entries + "</SAPLogonParameter>");
    }
    // The six values as "client|user|password|language|hostname|systemnumber".
    std::wstring Six(const SixValues& call, HRESULT expected = S_OK) {
        std::array<Str, 6> v;
        EXPECT_EQ(expected, call(v[0].Out(), v[1].Out(), v[2].Out(), v[3].Out(), v[4].Out(), v[5].Out()));
        std::wstring joined;
        for (size_t i = 0; i < v.size(); ++i) joined += (i ? L"|" : L"") + std::wstring(v[i].View());
        return joined;
    }
    // The four values of the web application server file as "context|url|principal|credentials".
    std::wstring Web() {
        Str v[4];
        EXPECT_EQ(S_OK, u->GetSAPWebApplicationServerLogonParameter(v[0].Out(), v[1].Out(), v[2].Out(), v[3].Out())) << TakeMessage();
        return std::wstring(v[0].View()) + L"|" + std::wstring(v[1].View()) + L"|" + std::wstring(v[2].View()) + L"|" + std::wstring(v[3].View());
    }
    std::wstring For(const wchar_t* computerName, const std::wstring& userName) {
        return Six([&](auto... v) { return u->GetSAPLogonParameter_(Str(computerName), Str(userName), v...); });
    }
    // The clients of the rows of GetSAPLoginParameter's table.
    Texts LoginRows() {
        ComPtr<IParameterList> list;
        EXPECT_EQ(S_OK, u->GetSAPLoginParameter(&list)) << TakeMessage();
        Texts clients;
        for (const std::wstring& row : Rows(list.Get(), L"SAPLogonParameter", L"|")) {
            const size_t at = (L"|" + row).find(L"|client=");
            clients.push_back(at == std::wstring::npos ? L"(none)" : row.substr(at + 7, row.find(L'|', at) - at - 7));
        }
        return clients;
    }
};

TEST_F(Logon, SelectionOrderAndDefaultEntriesOverTheMembers) {
    std::wstring lowerUser = user;
    for (auto& c : lowerUser) c = towlower(c);
    const std::string lowerDefault = Entry(true, L"default", L"default", Client("D"));
    const struct {
        const char* what;
        std::string entries;
        std::wstring entry;              // client of the entry lookup
        std::vector<std::wstring> rows;  // clients of GetSAPLoginParameter
    } cases[] = {
        {"exact after default", lowerDefault + Entry(true, computer, user, Client("E")), L"E", {L"E"}},
        {"default only", Entry(true, L"OTHER", user, Client("O")) + lowerDefault, L"D", {L"D"}},
        {"lower default before upper exact", lowerDefault + Entry(false, computer, user, Client("U")) + Entry(false, computer, user, Client("V")), L"D", {L"U", L"V"}},
        {"upper exact before upper default", Entry(false, L"default", L"default", Client("D")) + Entry(false, computer, user, Client("U")), L"U", {L"U"}},
        {"user in lower case", Entry(true, computer, lowerUser, Client("L")) + lowerDefault, L"D", {L"D"}},
        {"Default is no default", Entry(true, L"Default", L"Default", Client("D")), L"", {}},
    };
    const Str file(L"other.xml");
    const std::vector<std::pair<const char*, SixValues>> members = {
        {"GetSAPLogonParameter", [&](auto... v) { return u->GetSAPLogonParameter(v...); }},
        {"GetSAPLogonParameter2", [&](auto... v) { return u->GetSAPLogonParameter2(file, v...); }},
        {"GetSAPLogonParameter_", [&](auto... v) { return u->GetSAPLogonParameter_(Str(computer), Str(user), v...); }},
        {"GetSAPLogonParameter2_", [&](auto... v) { return u->GetSAPLogonParameter2_(file, Str(computer), Str(user), v...); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(L"QarnSAPLogonParameter.xml", c.entries);
        WriteFile(L"other.xml", c.entries);
        for (const auto& [name, call] : members) EXPECT_EQ(c.entry, FirstOf(Six(call))) << name;
        EXPECT_EQ(c.entry, Name(&IQarnUtilities::GetSAPLogonClient));
        ComPtr<IFieldCollection> fields;
        ASSERT_EQ(S_OK, u->GetSAPLogonParameter6(file, &fields));
        EXPECT_EQ(c.entry.empty() ? L"" : L"client=" + c.entry, fields ? Entries(fields.Get()).back() : L"");
        EXPECT_EQ(c.rows, LoginRows());
    }
}

TEST_F(Logon, LookupByUserAloneFallsBackToTheDefaultEntry) {
    const auto byUser = [&](auto... v) { return u->GetSAPLogonParameter3(v...); };
    const std::string lowerDefault = Entry(true, L"default", L"default", Client("D"));
    const std::pair<std::string, std::wstring> cases[] = {
        // The later of client and CLIENT; an entry with lower-case selectors before one with upper-case ones.
        {lowerDefault + Entry(false, L"ANY", user, Client("X")) +
             Entry(true, L"ANY", user, "<CLIENT>A</CLIENT><client>B</client><user>U</user><password>P</password><language>L</language><hostname>H</hostname><systemnumber>0</systemnumber>"),
         L"B|U|P|L|H|0"},
        {lowerDefault + Entry(false, L"ANY", user, Client("X")), L"X|||||"},
        {Entry(true, L"ANY", L"SOMEBODY", Client("S")) + Entry(false, L"default", L"default", Client("D")), L"D|||||"},
    };
    for (const auto& [entries, values] : cases) {
        WriteFile(L"QarnSAPLogonParameter.xml", entries);
        EXPECT_EQ(values, Six(byUser)) << entries;
        // Another file, the default one holding only a default entry: every step reads the file named.
        WriteFile(L"other.xml", entries);
        WriteFile(L"QarnSAPLogonParameter.xml", Entry(true, L"default", L"default", Client("W")));
        EXPECT_EQ(values, Six([&](auto... v) { return u->GetSAPLogonParameter4(Str(L"other.xml"), v...); })) << entries;
    }
}

TEST_F(Logon, QuotesInNamesAreMatchedAsText) {
    WriteFile(L"QarnSAPLogonParameter.xml", Entry(true, L"PC", L"SOMEBODY", Client("S")) + Entry(true, L"PC", L"O'BRIEN", Client("Q")) +
                                                Entry(true, L"PC", L"A\"B'C", Client("M")) + Entry(true, L"default", L"default", Client("D")));
    for (const auto& [name, client] : std::vector<std::pair<std::wstring, std::wstring>>{
             {L"O'BRIEN", L"Q"}, {L"A\"B'C", L"M"}, {L"x' or 'a'='a", L"D"}, {L"x\" or \"a\"=\"a", L"D"}})
        EXPECT_EQ(client, FirstOf(For(L"PC", name))) << U8(name);
}

TEST_F(Logon, MissingFileMissingEntryTooLongPathAndTeamcenter) {
    EXPECT_EQ(L"|||||", Six([&](auto... v) { return u->GetSAPLogonParameter(v...); }, DISP_E_EXCEPTION));
    EXPECT_EQ(L"File " + root.path() + L"\\xml\\QarnSAPLogonParameter.xml does not exist.", TakeMessage());
    WriteFile(L"QarnSAPLogonParameter.xml", Entry(true, L"PC", L"SOMEBODY", Client("S")));
    EXPECT_EQ(L"|||||", For(L"PC", L"NOBODY")) << "no fitting entry is no error";
    const Str longName(std::wstring(2100, L'n'));
    Six([&](auto... v) { return u->GetSAPLogonParameter2(longName, v...); }, DISP_E_EXCEPTION);
    EXPECT_NE(std::wstring::npos, TakeMessage().find(L"at most 2047 are possible"));
    ComPtr<IParameterList> list;
    EXPECT_EQ(S_OK, u->GetTeamcenterLoginParameter(&list));
    EXPECT_EQ(nullptr, list.Get());
}

TEST_F(Logon, EncryptedValuesAndTheWebApplicationServerFile) {
    Str byName, byKey, credentials;
    ASSERT_EQ(S_OK, u->EncryptLogon2(Str(L"password"), Str(L"Geheim-1"), byName.Out()));
    ASSERT_EQ(S_OK, u->EncryptLogon(Str(L"Geheim-2"), byKey.Out()));
    ASSERT_EQ(S_OK, u->EncryptLogon2(Str(L"SECURITYCREDENTIALS"), Str(L"Web-3"), credentials.Out()));
    const auto password = [](const char* marker, const Str& text) { return "<password" + std::string(marker) + ">" + U8(text.View()) + "</password>"; };
    WriteFile(L"QarnSAPLogonParameter.xml", Entry(true, L"A", L"1", password(" x3nc=\"true\"", byName)) +
                                                Entry(true, L"A", L"2", password(" x3nc=\"true\"", byKey)) + Entry(true, L"A", L"3", password("", byName)));
    EXPECT_EQ(L"||Geheim-1|||", For(L"A", L"1"));
    EXPECT_EQ(L"||Geheim-2|||", For(L"A", L"2"));
    EXPECT_EQ(L"||" + std::wstring(byName.View()) + L"|||", For(L"A", L"3")) << "without the marker the text stays";

    WriteFile(L"QarnSAPWebApplicationServerLogonParameter.xml",
              Entry(false, computer, user, "<FACTORYCONTEXT>F</FACTORYCONTEXT><providerUrl>https://was:1/q</providerUrl><securityPrincipal>WEB</securityPrincipal>"
                                           "<SECURITYCREDENTIALS x3nc=\"true\">" + U8(credentials.View()) + "</SECURITYCREDENTIALS><client>no</client>"));
    EXPECT_EQ(L"F|https://was:1/q|WEB|Web-3", Web());
}

TEST_F(Logon, ShippedSamplesGiveTheirEntries) {
    for (const wchar_t* name : {L"QarnSAPLogonParameter.xml", L"QarnSAPWebApplicationServerLogonParameter.xml"})
        ASSERT_TRUE(CopyFileW(SourcePath("samples/installation/xml/" + U8(name)).c_str(), (root / L"xml\\" + name).c_str(), FALSE));
    EXPECT_EQ(L"100|QARN_CAD|Kiel-Cad-2024|EN|sappe1.halvorsen.example|00", Six([&](auto... v) { return u->GetSAPLogonParameter(v...); }));
    EXPECT_EQ(L"100|MKRAUSE|Flansch#17|DE|sappe1.halvorsen.example|00", For(L"CADWS042", L"MKRAUSE"));
    EXPECT_NE(std::wstring::npos, Web().find(L"|QARN_WEB|"));
}

}  // namespace
