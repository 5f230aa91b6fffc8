// String operations and the property and message store of CQarnUtilities, through real activation.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "UtilitiesSupport.h"

using namespace test;

namespace {

class Strings : public ::testing::Test {
protected:
    ComPtr<IQarnUtilities> u = test::Create<IQarnUtilities>(CLSID_CQarnUtilities);

    // Calls a method whose last parameter is its BSTR result; texts are passed as fresh BSTRs.
    template <class M, class... A>
    test::Result Call(M method, const A&... in) {
        BSTR out = nullptr;
        HRESULT hr = (u.Get()->*method)(Arg(in)..., &out);
        return test::Result(hr, out);
    }
    static Str Arg(const wchar_t* s) { return Str(s); }
    static long Arg(long n) { return n; }

    // A successful result; `expected` null means a null text.
    static void Expect(const test::Result& r, const wchar_t* expected, const std::wstring& what) {
        EXPECT_TRUE(r.hr == S_OK && r.null == !expected && r.text == (expected ? expected : L""))
            << what << ": " << std::hex << r.hr << (r.null ? L" null" : L" \"" + r.text + L"\"");
    }
};

using Method1 = HRESULT (STDMETHODCALLTYPE IQarnUtilities::*)(BSTR, BSTR*);
using Method2 = HRESULT (STDMETHODCALLTYPE IQarnUtilities::*)(BSTR, BSTR, BSTR*);

TEST_F(Strings, TwoTextMethodsTrimPadAndFormat) {
    const Method2 L = &IQarnUtilities::TrimLeft, R = &IQarnUtilities::TrimRight, B = &IQarnUtilities::TrimLeftAndRight,
                  T = &IQarnUtilities::TrimSAPDocumentNumber, F = &IQarnUtilities::sprintf1;
    const std::wstring long26(26, L'7'), big(100000, L'b'), bigOut = L"<" + big + L">";
    const struct {
        Method2 m;
        const wchar_t *a, *b, *expected;
    } cases[] = {
        // Trims use only the first character of the identifier; an empty one trims nothing.
        {L, L"fffModelNameddd", L"fd", L"ModelNameddd"}, {L, L"fffModelNameddd", L"", L"fffModelNameddd"},
        {L, L"fffModelNameddd", nullptr, nullptr}, {L, nullptr, L"f", nullptr}, {R, L"dddd", L"d", L""},
        {R, L"fffModelNameddd", L"d", L"fffModelName"}, {B, L"xxModelNamexx", L"x", L"ModelName"},
        // Document numbers are padded to 25 characters only when numeric.
        {T, L" 1234 ", L" ", L"0000000000000000000001234"}, {T, L" 1234 ", L"", L" 1234 "},
        {T, long26.c_str(), L"0", long26.c_str()},
        // sprintf1: one "%s" with flags, width and precision; long arguments end complete.
        {F, L"hello %s world", nullptr, L"hello (null) world"}, {F, nullptr, L"x", nullptr},
        {F, L"100%% of [%5s|", L"abc", L"100% of [  abc|"}, {F, L"%-5.2s]", L"abc", L"ab   ]"},
        {F, L"<%s>", big.c_str(), bigOut.c_str()},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        Expect(Call(cases[i].m, cases[i].a, cases[i].b), cases[i].expected, L"case " + std::to_wstring(i));

    for (const wchar_t* bad : {L"%d items", L"%s and %s", L"50% off %s", L"trailing %", L"%*s", L"%S"}) {
        EXPECT_EQ(DISP_E_EXCEPTION, Call(F, bad, L"x").hr) << bad;
        const std::wstring d = test::TakeErrorDescription();
        EXPECT_TRUE(d.find(L"only one \"%s\"") != std::wstring::npos || d.find(L"incomplete conversion") != std::wstring::npos)
            << d;
        EXPECT_NE(std::wstring::npos, d.find(L"at CQarnUtilities::sprintf1")) << d;
    }
    const test::Result wide = Call(F, L"%999999999s", L"x");
    EXPECT_TRUE(wide.hr == S_OK && wide.text.size() == 2048u + 11 + 1 - 1) << "cut at the buffer of format + argument + 2048";
}

TEST_F(Strings, OneTextMethodsSplitPathsAndEscape) {
    const Method1 E = &IQarnUtilities::GetExtension, E2 = &IQarnUtilities::GetExtension2, X = &IQarnUtilities::RemoveExtension,
                  N = &IQarnUtilities::GetNameByPath, P = &IQarnUtilities::GetPathByFullname,
                  XmlText = &IQarnUtilities::ConvertBSTRToXMLString, Stream = &IQarnUtilities::ConvertBSTRToFileStream;
    const struct {
        Method1 m;
        const wchar_t *in, *expected;
    } cases[] = {
        {E, L".fil", L"FIL"}, {E, L"name.", L""}, {E, nullptr, L""}, {E, L"C:\\dir.v2\\file", L"V2\\FILE"},
        {E2, L"name.txT", L"txT"}, {X, L"FILE.", L"FILE"}, {X, L"parts.bak", L"parts"}, {X, L"some Text", L"some Text"}, {X, nullptr, nullptr},
        {N, L"C:\\Temp\\myFolder\\", L""}, {N, L"C:\\a\\parts.csv", L"parts.csv"}, {N, L"a/b", L"a/b"}, {N, nullptr, nullptr},
        {P, L"C:\\Temp\\myFolder\\myFile.txt", L"C:\\Temp\\myFolder"}, {P, L"folderName\\", L"folderName"},
        {P, L"folderName", L""}, {P, nullptr, nullptr},
        {XmlText, L"&lt; <a b=\"1\" c='2'>", L"&amp;lt; &lt;a b=&quot;1&quot; c=&apos;2&apos;&gt;"}, {XmlText, nullptr, L""},
        {Stream, L"this is % %% %%%%", L"this is %% %%%% %%%%%%%%"}, {Stream, nullptr, L""},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        Expect(Call(cases[i].m, cases[i].in), cases[i].expected, L"case " + std::to_wstring(i));

    // Registry form: braces, upper-case hex digits in groups 8-4-4-4-12; a new one each call.
    const std::wstring first = Call(&IQarnUtilities::CreateGuid).text;
    ASSERT_EQ(38u, first.size());
    EXPECT_EQ(L"{----}", first.substr(0, 1) + first[9] + first[14] + first[19] + first[24] + first.substr(37));
    EXPECT_EQ(std::wstring::npos, first.find_first_not_of(L"{}-0123456789ABCDEF")) << first;
    EXPECT_NE(first, Call(&IQarnUtilities::CreateGuid).text);
}

TEST_F(Strings, IsDigitAndSubStr) {
    // A text is read up to its first NUL, as the C runtime would.
    const std::pair<Str, VARIANT_BOOL> digitCases[] = {{Str(nullptr), VARIANT_FALSE}, {Str(L""), VARIANT_FALSE},
        {Str(L"12a"), VARIANT_FALSE}, {Str(L"0123456789"), VARIANT_TRUE}, {Str(std::wstring(L"12\0ab", 5)), VARIANT_TRUE}};
    for (const auto& [text, expected] : digitCases) {
        VARIANT_BOOL digits = !expected;
        EXPECT_TRUE(SUCCEEDED(u->IsDigit(text, &digits)) && digits == expected) << ToWide(text);
    }

    // SubStr counts from 0, clamps both ends and refuses negative values.
    const wchar_t* s = L"hello world of qarn";
    for (auto [start, length, expected] : {std::tuple{0L, 0L, L""}, {6L, 5L, L"world"}, {6L, 50L, L"world of qarn"},
                                           {600L, 5L, L""}, {15L, LONG_MAX, L"qarn"}})
        Expect(Call(&IQarnUtilities::SubStr, s, start, length), expected, std::to_wstring(start));
    for (auto [start, length] : {std::pair{-6L, 5L}, std::pair{6L, -5L}}) {
        EXPECT_EQ(DISP_E_EXCEPTION, Call(&IQarnUtilities::SubStr, s, start, length).hr);
        EXPECT_EQ(0u, test::TakeErrorDescription().find(L"parameter start or length < 0\n   at CQarnUtilities::SubStr"));
    }
    EXPECT_TRUE(Call(&IQarnUtilities::SubStr, static_cast<const wchar_t*>(nullptr), -1L, -1L).null);
}

// The property and message store: nothing without collections, then the caller's own collections.
TEST_F(Strings, PropertyStoreUsesTheCallersCollections) {
    BSTR out = reinterpret_cast<BSTR>(1);
    ASSERT_EQ(S_OK, u->GetProperty(Str(L"Language"), &out));
    EXPECT_EQ(nullptr, out) << "the result is set even when the caller left garbage in it";
    Expect(Call(&IQarnUtilities::GetMessage, L"M0001"), L"", L"message");
    ComPtr<IFieldCollection> found, back;
    EXPECT_TRUE(u->SetProperty(Str(L"Language"), Str(L"EN")) == S_OK && u->GetPropertiesByName(Str(L"Language"), &found) == S_OK &&
                u->get_Properties(&back) == S_OK && !found && !back);

    ComPtr<IFieldCollection> props = NewFields(), messages = NewFields(), jni = NewFields();
    ASSERT_EQ(S_OK, u->put_Properties(props.Get()));
    ASSERT_EQ(S_OK, u->put_Messages(messages.Get()));
    ASSERT_EQ(S_OK, u->put_JNIOptions(jni.Get()));
    EXPECT_TRUE(SUCCEEDED(u->get_Properties(&back)) && back.Get() == props.Get());
    EXPECT_TRUE(SUCCEEDED(u->get_Messages(&back)) && back.Get() == messages.Get());
    EXPECT_TRUE(SUCCEEDED(u->get_JNIOptions(&back)) && back.Get() == jni.Get());

    ASSERT_EQ(S_OK, u->SetProperty(Str(L"Language"), Str(L"DE")));
    ASSERT_EQ(S_OK, u->SetProperty(Str(L"LANGUAGE"), Str(L"EN")));
    props->SetValue(Str(L"Count"), Number(7));  // not a text: looked up as null
    EXPECT_EQ(3u, test::Entries(props.Get()).size()) << "SetProperty adds to the shared collection";
    Expect(Call(&IQarnUtilities::GetProperty, L"Language"), L"DE", L"Language");
    Expect(Call(&IQarnUtilities::GetProperty, L"Count"), nullptr, L"Count");
    Expect(Call(&IQarnUtilities::GetProperty, L"missing"), nullptr, L"missing");

    ASSERT_EQ(S_OK, u->GetPropertiesByName(Str(L"language"), &found));
    EXPECT_EQ((std::vector<std::wstring>{L"Language=DE", L"LANGUAGE=EN"}), test::Entries(found.Get()))
        << "names compare without case";
    ComPtr<IField> first, original;
    ASSERT_TRUE(SUCCEEDED(found->get_Item(1, &first)) && SUCCEEDED(props->get_Item(1, &original)));
    EXPECT_EQ(original.Get(), first.Get()) << "the same field objects, not copies";
    EXPECT_EQ(S_OK, u->GetPropertiesByName(nullptr, &found));
    EXPECT_EQ(nullptr, found.Get());

    // The store's text replaces the default; a conversion that is not "%s" stays as written.
    messages->SetValue(Str(L"M0001"), Variant(L"Datei %s fehlt (%d)."));
    VARIANT_BOOL exists = VARIANT_TRUE;
    EXPECT_EQ(DISP_E_EXCEPTION, u->FileExist(Str(L"C:\\missing.txt"), &exists));
    EXPECT_EQ(0u, test::TakeErrorDescription().find(L"Datei C:\\missing.txt fehlt (%d).\n   at CQarnUtilities::FileExist"));
    ASSERT_EQ(S_OK, u->put_Properties(nullptr));
    EXPECT_TRUE(SUCCEEDED(u->get_Properties(&back)) && !back) << "putting null releases the collection";
}

}  // namespace
