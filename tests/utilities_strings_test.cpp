// String operations and the property and message store of CQarnUtilities, through real activation.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "UtilitiesSupport.h"

using test::ComPtr;
using test::Str;
using test::ToWide;
using test::Variant;

namespace {

class Strings : public ::testing::Test {
protected:
    ComPtr<IQarnUtilities> u = test::Create<IQarnUtilities>(CLSID_CQarnUtilities);

    using Method = HRESULT (STDMETHODCALLTYPE IQarnUtilities::*)(BSTR, BSTR, BSTR*);
    test::Result Call2(Method m, const wchar_t* s, const wchar_t* c) {
        Str a(s), b(c);
        BSTR out = nullptr;
        HRESULT hr = (u.Get()->*m)(a, b, &out);
        return test::Result(hr, out);
    }
    std::wstring Call0(HRESULT (STDMETHODCALLTYPE IQarnUtilities::*m)(BSTR*)) {
        BSTR out = nullptr;
        EXPECT_EQ(S_OK, (u.Get()->*m)(&out));
        return test::Result(S_OK, out).text;
    }
    using Method1 = HRESULT (STDMETHODCALLTYPE IQarnUtilities::*)(BSTR, BSTR*);
    test::Result Call1(Method1 m, const wchar_t* s) {
        Str a(s);
        BSTR out = nullptr;
        HRESULT hr = (u.Get()->*m)(a, &out);
        return test::Result(hr, out);
    }
};

TEST_F(Strings, TrimmingUsesTheFirstCharacterOfTheIdentifierAndKeepsNulls) {
    const auto& L = &IQarnUtilities::TrimLeft;
    const auto& R = &IQarnUtilities::TrimRight;
    const auto& B = &IQarnUtilities::TrimLeftAndRight;
    EXPECT_EQ(L"ModelNameddd", Call2(L, L"fffModelNameddd", L"f").text);
    EXPECT_EQ(L"fffModelNameddd", Call2(L, L"fffModelNameddd", L"").text) << "empty identifier trims nothing";
    EXPECT_EQ(L"ModelNameddd", Call2(L, L"fffModelNameddd", L"fd").text) << "only the first character counts";
    EXPECT_TRUE(Call2(L, L"fffModelNameddd", nullptr).null);
    EXPECT_TRUE(Call2(L, nullptr, L"f").null);
    test::Result empty = Call2(L, L"", L"");
    EXPECT_FALSE(empty.null);
    EXPECT_EQ(L"", empty.text);
    EXPECT_EQ(L"fffModelName", Call2(R, L"fffModelNameddd", L"d").text);
    EXPECT_EQ(L"", Call2(R, L"dddd", L"d").text);
    EXPECT_EQ(L"ModelName", Call2(B, L"xxModelNamexx", L"x").text);
    EXPECT_TRUE(Call2(B, L"x", nullptr).null);
}

TEST_F(Strings, DocumentNumbersArePaddedOnlyWhenNumeric) {
    const auto& T = &IQarnUtilities::TrimSAPDocumentNumber;
    EXPECT_EQ(L"0000000000000000000001234", Call2(T, L" 1234 ", L" ").text);
    EXPECT_EQ(L" 1234 ", Call2(T, L" 1234 ", L"").text);
    EXPECT_TRUE(Call2(T, L" 1234 ", nullptr).null);
    EXPECT_EQ(L"abcd", Call2(T, L" abcd ", L" ").text);
    EXPECT_EQ(L"", Call2(T, L"", L"").text);
    const std::wstring long26(26, L'7');
    EXPECT_EQ(long26, Call2(T, long26.c_str(), L"0").text);

    VARIANT_BOOL digits = VARIANT_TRUE;
    Str none(nullptr), empty(L""), mixed(L"12a"), number(L"0123456789");
    EXPECT_EQ(S_OK, u->IsDigit(none, &digits));
    EXPECT_EQ(VARIANT_FALSE, digits);
    u->IsDigit(empty, &digits);
    EXPECT_EQ(VARIANT_FALSE, digits);
    u->IsDigit(mixed, &digits);
    EXPECT_EQ(VARIANT_FALSE, digits);
    u->IsDigit(number, &digits);
    EXPECT_EQ(VARIANT_TRUE, digits);
    // A text is read up to its first NUL, as the C runtime would.
    Str withNul(std::wstring(L"12\0ab", 5));
    u->IsDigit(withNul, &digits);
    EXPECT_EQ(VARIANT_TRUE, digits);
}

TEST_F(Strings, SubStrClampsAndRefusesNegativeArguments) {
    Str s(L"hello world of qarn");
    auto sub = [&](BSTR text, long start, long length) {
        BSTR out = nullptr;
        HRESULT hr = u->SubStr(text, start, length, &out);
        return test::Result(hr, out);
    };
    EXPECT_EQ(L"", sub(s, 0, 0).text);
    EXPECT_EQ(L"world", sub(s, 6, 5).text);
    EXPECT_EQ(L"world of qarn", sub(s, 6, 50).text);
    EXPECT_EQ(L"", sub(s, 600, 5).text);
    EXPECT_EQ(L"qarn", sub(s, 15, LONG_MAX).text);
    for (auto [start, length] : {std::pair{-6L, 5L}, std::pair{6L, -5L}}) {
        test::Result r = sub(s, start, length);
        EXPECT_EQ(DISP_E_EXCEPTION, r.hr);
        EXPECT_EQ(0u, test::TakeErrorDescription().find(L"parameter start or length < 0\n   at CQarnUtilities::SubStr"));
    }
    EXPECT_TRUE(sub(nullptr, -1, -1).null);
}

TEST_F(Strings, Sprintf1FormatsOneTextAndRefusesEverythingElse) {
    const auto& F = &IQarnUtilities::sprintf1;
    EXPECT_EQ(L"hello (null) world", Call2(F, L"hello %s world", nullptr).text);
    EXPECT_EQ(L"hello  world", Call2(F, L"hello %s world", L"").text);
    EXPECT_EQ(L"hello world", Call2(F, L"hello world", nullptr).text);
    EXPECT_TRUE(Call2(F, nullptr, L"x").null);
    EXPECT_EQ(L"100% of [  abc|ab   ]", Call2(F, L"100%% of [%5s|", L"abc").text + Call2(F, L"%-5.2s]", L"abc").text);

    for (const wchar_t* bad : {L"%d items", L"%s and %s", L"50% off %s", L"trailing %", L"%*s", L"%S"}) {
        test::Result r = Call2(F, bad, L"x");
        EXPECT_EQ(DISP_E_EXCEPTION, r.hr) << bad;
        std::wstring d = test::TakeErrorDescription();
        EXPECT_TRUE(d.find(L"only one \"%s\"") != std::wstring::npos || d.find(L"incomplete conversion") != std::wstring::npos)
            << d;
        EXPECT_NE(std::wstring::npos, d.find(L"at CQarnUtilities::sprintf1")) << d;
    }

    // Long arguments and huge widths end complete or cut, never beyond the buffer.
    const std::wstring big(100000, L'b');
    EXPECT_EQ(L"<" + big + L">", Call2(F, L"<%s>", big.c_str()).text);
    test::Result wide = Call2(F, L"%999999999s", L"x");
    EXPECT_EQ(S_OK, wide.hr);
    EXPECT_EQ(2048u + 11 + 1 - 1, wide.text.size()) << "cut at the buffer of format + argument + 2048";
}

TEST_F(Strings, PathAndExtensionRules) {
    const auto& E = &IQarnUtilities::GetExtension;
    const auto& E2 = &IQarnUtilities::GetExtension2;
    EXPECT_EQ(L"TXT", Call1(E, L"name.txt").text);
    EXPECT_EQ(L"FIL", Call1(E, L".fil").text);
    EXPECT_EQ(L"", Call1(E, L"name.").text);
    test::Result none = Call1(E, nullptr);
    EXPECT_FALSE(none.null) << "null gives an empty text, not null";
    EXPECT_EQ(L"V2\\FILE", Call1(E, L"C:\\dir.v2\\file").text) << "dots of folders count as well";
    EXPECT_EQ(L"txT", Call1(E2, L"name.txT").text);
    EXPECT_EQ(L"fil", Call1(E2, L".fil").text);

    const auto& X = &IQarnUtilities::RemoveExtension;
    EXPECT_EQ(L"myFile", Call1(X, L"myFile.EXT").text);
    EXPECT_EQ(L"FILE", Call1(X, L"FILE.").text);
    EXPECT_EQ(L"some Text", Call1(X, L"some Text").text);
    EXPECT_TRUE(Call1(X, nullptr).null);

    const auto& N = &IQarnUtilities::GetNameByPath;
    EXPECT_EQ(L"myFile.txt", Call1(N, L"C:\\Temp\\myFolder\\myFile.txt").text);
    EXPECT_EQ(L"", Call1(N, L"C:\\Temp\\myFolder\\").text);
    EXPECT_EQ(L"a/b", Call1(N, L"a/b").text) << "only the backslash separates";
    EXPECT_TRUE(Call1(N, nullptr).null);

    const auto& P = &IQarnUtilities::GetPathByFullname;
    EXPECT_EQ(L"C:\\Temp\\myFolder", Call1(P, L"C:\\Temp\\myFolder\\myFile.txt").text);
    EXPECT_EQ(L"folderName", Call1(P, L"folderName\\").text);
    EXPECT_EQ(L"", Call1(P, L"folderName").text);
    EXPECT_FALSE(Call1(P, L"").null);
    EXPECT_TRUE(Call1(P, nullptr).null);
}

TEST_F(Strings, EscapingAndGuids) {
    const auto& XmlText = &IQarnUtilities::ConvertBSTRToXMLString;
    EXPECT_EQ(L"&amp;lt; &lt;a b=&quot;1&quot; c=&apos;2&apos;&gt;", Call1(XmlText, L"&lt; <a b=\"1\" c='2'>").text);
    EXPECT_EQ(L"", Call1(XmlText, nullptr).text);
    Str in(L"x");
    EXPECT_EQ(DISP_E_EXCEPTION, u->ConvertBSTRToXMLString(in, nullptr));
    EXPECT_NE(std::wstring::npos, test::TakeErrorDescription().find(L"CQarnUtilities::ConvertBSTRToXMLString"));

    EXPECT_EQ(L"this is %% %%%% %%%%%%%%", Call1(&IQarnUtilities::ConvertBSTRToFileStream, L"this is % %% %%%%").text);
    EXPECT_FALSE(Call1(&IQarnUtilities::ConvertBSTRToFileStream, nullptr).null);

    // Registry form: braces, upper-case hex digits in groups 8-4-4-4-12; a new one each call.
    const std::wstring first = Call0(&IQarnUtilities::CreateGuid), second = Call0(&IQarnUtilities::CreateGuid);
    ASSERT_EQ(38u, first.size());
    EXPECT_EQ(L"{----}", first.substr(0, 1) + first[9] + first[14] + first[19] + first[24] + first.substr(37));
    EXPECT_EQ(std::wstring::npos, first.find_first_not_of(L"{}-0123456789ABCDEF")) << first;
    EXPECT_NE(first, second);
}

// ---------------------------------------------------------------------------------------------
// Property and message store

TEST(PropertyStore, WithoutCollectionsLookupsGiveNullOrEmptyAndSettingDoesNothing) {
    auto u = test::Create<IQarnUtilities>(CLSID_CQarnUtilities);
    Str name(L"Language"), value(L"EN");
    BSTR out = reinterpret_cast<BSTR>(1);
    ASSERT_EQ(S_OK, u->GetProperty(name, &out));
    EXPECT_EQ(nullptr, out);
    ASSERT_EQ(S_OK, u->GetMessage(Str(L"M0001"), &out));
    ASSERT_NE(nullptr, out);
    EXPECT_EQ(0u, SysStringLen(out));
    SysFreeString(out);
    EXPECT_EQ(S_OK, u->SetProperty(name, value));
    u->GetProperty(name, &out);
    EXPECT_EQ(nullptr, out);
    ComPtr<IFieldCollection> props;
    EXPECT_EQ(S_OK, u->get_Properties(&props));
    EXPECT_EQ(nullptr, props.Get());
    EXPECT_EQ(S_OK, u->GetPropertiesByName(name, &props));
    EXPECT_EQ(nullptr, props.Get());
}

TEST(PropertyStore, CollectionsAreSharedAndLookedUp) {
    auto u = test::Create<IQarnUtilities>(CLSID_CQarnUtilities);
    auto props = test::Create<IFieldCollection>(CLSID_FieldCollection);
    auto messages = test::Create<IFieldCollection>(CLSID_FieldCollection);
    auto jni = test::Create<IFieldCollection>(CLSID_FieldCollection);
    ASSERT_EQ(S_OK, u->put_Properties(props.Get()));
    ASSERT_EQ(S_OK, u->put_Messages(messages.Get()));
    ASSERT_EQ(S_OK, u->put_JNIOptions(jni.Get()));
    ComPtr<IFieldCollection> back;
    u->get_Properties(&back);
    EXPECT_EQ(props.Get(), back.Get());
    u->get_Messages(&back);
    EXPECT_EQ(messages.Get(), back.Get());
    u->get_JNIOptions(&back);
    EXPECT_EQ(jni.Get(), back.Get());

    ASSERT_EQ(S_OK, u->SetProperty(Str(L"Language"), Str(L"DE")));
    ASSERT_EQ(S_OK, u->SetProperty(Str(L"LANGUAGE"), Str(L"EN")));
    props->SetValue(Str(L"Count"), Variant(7L));  // not a text: looked up as null
    long count = 0;
    props->get_Count(&count);
    EXPECT_EQ(3, count) << "SetProperty adds to the shared collection";
    BSTR out = nullptr;
    u->GetProperty(Str(L"Language"), &out);
    EXPECT_EQ(L"DE", ToWide(out));
    SysFreeString(out);
    u->GetProperty(Str(L"Count"), &out);
    EXPECT_EQ(nullptr, out);
    u->GetProperty(Str(L"missing"), &out);
    EXPECT_EQ(nullptr, out);

    ComPtr<IFieldCollection> found;
    ASSERT_EQ(S_OK, u->GetPropertiesByName(Str(L"language"), &found));
    ASSERT_TRUE(found);
    found->get_Count(&count);
    EXPECT_EQ(2, count) << "names compare without case";
    ComPtr<IField> first, original;
    found->get_Item(1, &first);
    props->get_Item(1, &original);
    EXPECT_EQ(original.Get(), first.Get()) << "the same field objects, not copies";
    EXPECT_EQ(S_OK, u->GetPropertiesByName(nullptr, &found));
    EXPECT_EQ(nullptr, found.Get());

    messages->SetValue(Str(L"M0001"), Variant(L"Datei %s fehlt (%d)."));
    u->GetMessage(Str(L"M0001"), &out);
    EXPECT_EQ(L"Datei %s fehlt (%d).", ToWide(out));
    SysFreeString(out);
    u->GetMessage(Str(L"M9999"), &out);
    EXPECT_EQ(L"", ToWide(out));
    SysFreeString(out);

    // The store's text replaces the default; a conversion that is not "%s" stays as written.
    VARIANT_BOOL exists = VARIANT_TRUE;
    EXPECT_EQ(DISP_E_EXCEPTION, u->FileExist(Str(L"C:\\missing.txt"), &exists));
    EXPECT_EQ(0u, test::TakeErrorDescription().find(L"Datei C:\\missing.txt fehlt (%d).\n   at CQarnUtilities::FileExist"));

    // Putting null releases the collection; lookups fall back again.
    ASSERT_EQ(S_OK, u->put_Properties(nullptr));
    u->get_Properties(&back);
    EXPECT_EQ(nullptr, back.Get());
    EXPECT_EQ(DISP_E_EXCEPTION, u->get_Properties(nullptr));
}

}  // namespace
