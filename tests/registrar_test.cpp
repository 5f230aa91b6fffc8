// The registry-script parser and the registrar that runs scripts in both directions.
#include <gtest/gtest.h>

#include "Registrar.h"
#include "RegistryScript.h"
#include "TestSupport.h"

using qarn::regscript::KeyFlag;
using namespace test;

TEST(RegistryScript, ParsesKeysValuesFlagsAndVariables) {
    auto roots = qarn::regscript::Parse(L"HKCR { NoRemove CLSID { ForceRemove {AE24E3FB-3747-45F8-9225-FEEBB0585EC0} = s 'It''s %MODULE%' {"
                                        L" 'Programmable' Delete Old val Count = d '17' } } }",
                                        {{L"MODULE", L"C:\\x\\y.dll"}});
    ASSERT_EQ(1u, roots.size());
    EXPECT_EQ(L"HKCR", roots[0].hive);
    const auto& clsid = roots[0].keys.at(0);
    const auto& cls = clsid.children.at(0);
    EXPECT_TRUE(clsid.flag == KeyFlag::NoRemove && cls.flag == KeyFlag::ForceRemove);
    EXPECT_EQ(L"{AE24E3FB-3747-45F8-9225-FEEBB0585EC0}", cls.name);
    EXPECT_EQ(L"It's C:\\x\\y.dll", cls.defaultValue.data);
    ASSERT_EQ(2u, cls.children.size());
    EXPECT_EQ(L"Programmable", cls.children[0].name);
    EXPECT_EQ(KeyFlag::Delete, cls.children[1].flag);
    EXPECT_EQ(L'd', cls.values.at(0).type);

    const std::map<std::wstring, std::wstring> vars = {{L"MODULE", L"m"}};
    for (const wchar_t* bad : {L"HKCR {", L"HKCR { a = s 'open }", L"HKCR { a = x 'v' }", L"HKCR { a = s '%OTHER%' }",
                               L"HKCR { val x = s 'v' }", L"{ }", L"HKCR { a = s }"})
        EXPECT_THROW(qarn::regscript::Parse(bad, vars), qarn::regscript::ParseError) << std::wstring(bad).size();
    std::wstring deep = L"HKCR ";
    for (int i = 0; i < 100000; ++i) deep += L"{ k ";
    EXPECT_THROW(qarn::regscript::Parse(deep, vars), qarn::regscript::ParseError);
}

TEST(Registrar, WritesAndRemovesWhatTheScriptSays) {
    const std::wstring base = L"Software\\QarnRegistrarTest";
    const std::wstring script =
        L"HKCU { NoRemove Software { QarnRegistrarTest = s 'top' { ForceRemove Inner = s '%MODULE%' {"
        L" val Mode = s 'Apartment' Leaf } Kept { val Count = d '5' } } } }";
    // What an older registration left below a ForceRemove key goes; a key the script does not know
    // survives removal together with its parents, but the script's values go from it.
    HKEY stale = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER, (base + L"\\Inner\\Stale").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &stale, nullptr);
    RegCloseKey(stale);
    ASSERT_EQ(S_OK, qarn::RunRegistryScriptText(script, L"C:\\dir\\mod.dll", true));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, base + L"\\Inner\\Stale"));
    EXPECT_EQ(L"top", RegText(HKEY_CURRENT_USER, base, nullptr));
    EXPECT_EQ(L"C:\\dir\\mod.dll", RegText(HKEY_CURRENT_USER, base + L"\\Inner", nullptr));
    EXPECT_EQ(L"Apartment", RegText(HKEY_CURRENT_USER, base + L"\\Inner", L"Mode"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, base + L"\\Inner\\Leaf"));
    DWORD count = 0, size = sizeof count;
    EXPECT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_CURRENT_USER, (base + L"\\Kept").c_str(), L"Count", RRF_RT_REG_DWORD, nullptr, &count, &size));
    EXPECT_EQ(5u, count);

    HKEY foreign = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER, (base + L"\\Kept\\Foreign").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &foreign, nullptr);
    RegCloseKey(foreign);
    ASSERT_EQ(S_OK, qarn::RunRegistryScriptText(script, L"C:\\dir\\mod.dll", false));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, base + L"\\Inner"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, base + L"\\Kept\\Foreign"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegGetValueW(HKEY_CURRENT_USER, (base + L"\\Kept").c_str(), L"Count", RRF_RT_ANY, nullptr, nullptr, nullptr));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, L"Software"));

    RegDeleteTreeW(HKEY_CURRENT_USER, base.c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, base.c_str());
    ASSERT_EQ(S_OK, qarn::RunRegistryScriptText(script, L"m", false)) << "removing what is not there is fine";
    EXPECT_EQ(E_FAIL, qarn::RunRegistryScriptText(L"HKCU { broken", L"m", true));
}
