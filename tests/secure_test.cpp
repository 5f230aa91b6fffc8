// The secure field encoding: block layout and round trips on the plain encoder, then every code
// text, the entry points, logon fallbacks, the tree walk and the trace switch through real COM.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "UtilitiesSupport.h"
#include "base/LogonDecryption.h"
#include "secure/SecureBlock.h"

using namespace qarn::secure;
using namespace test;

namespace {

std::u16string EncryptText(std::u16string_view name, std::u16string_view value, int64_t time = 1700000000) {
    SecretText out;
    EXPECT_EQ(Code::Ok, Encrypt(name, value, time, out));
    return std::u16string(out.begin(), out.end());
}

uint32_t Get32(const Words& w, size_t at) { return (uint32_t{w[at]} << 16) | w[at + 1]; }

// Writes plain block words back as a text, chained and checked like the encoder does; the header
// words 0–2 must be the ones of `name`. Used to craft blocks that lie about themselves. The digits
// of a word are bits 15–12, 7–4, 11–8, 3–0: a sealed text that decrypts proves the encoder's order.
std::u16string Seal(std::u16string_view name, Words w) {
    Words nameKey, fixedKey;
    PrepareKey(name, nameKey);
    PrepareKey(u"{818F6B56-A764-438A-B596-4B7F293917BC}", fixedKey);
    const uint16_t hf = static_cast<uint16_t>(w[0] ^ w[1]);
    const uint16_t chain = FoldKey(FoldKey(0, nameKey.data(), nameKey.size()), fixedKey.data(), fixedKey.size());
    const size_t n = w.size();
    for (size_t i = 3; i <= n - 2; ++i) w[i] = static_cast<uint16_t>(w[i] ^ chain ^ w[i - 1]);
    w[n - 1] = FoldKey(hf, w.data(), n - 1);
    std::u16string text;
    const char16_t* digits = u"0123456789abcdef";
    for (uint16_t x : w)
        for (int shift : {12, 4, 8, 0}) text += digits[(x >> shift) & 15];
    return text;
}

TEST(SecureBlock, LayoutOfSmallAndBoundaryBlocks) {
    Words w;
    const std::u16string text = EncryptText(u"n", u"v", 0x0123456789ABLL);
    ASSERT_EQ(256u, text.size());
    ASSERT_EQ(Code::Ok, OpenBlock(u"n", text, w));
    ASSERT_EQ(64u, w.size());
    // Time (low word first), then name length, value length, name and value position (42 filler words).
    EXPECT_EQ((std::vector<uint16_t>{0x89AB, 0x4567, 0x0123, 0, 0, 1, 0, 1, 0, 61, 0, 62}),
              std::vector<uint16_t>(w.begin() + 3, w.begin() + 15));
    EXPECT_EQ(u'n', w[61]);
    EXPECT_EQ(u'v', w[62]);
    EXPECT_EQ(uint32_t{u'v'}, (uint32_t{w[16]} << 16) | w[18]);

    ASSERT_EQ(Code::Ok, OpenBlock(u"twenty-characters-nm", EncryptText(u"twenty-characters-nm", std::u16string(24, u'x')), w));
    EXPECT_EQ(64u, w.size()) << "44 characters fill 64 words exactly";
    EXPECT_EQ(19u, Get32(w, 11)) << "no filler";
    ASSERT_EQ(Code::Ok, OpenBlock(u"twenty-characters-nm", EncryptText(u"twenty-characters-nm", std::u16string(25, u'x')), w));
    EXPECT_EQ(128u, w.size());
}

// Random pairs round-trip in the fuzz target; here: any text, upper-case digits, bound to the name.
TEST(SecureBlock, PairsRoundTripAndBindToTheirName) {
    const std::u16string name = u"n\u00E4\xD83D\xDE00", value = u"v \xD800\xDC00\u20AC" + std::u16string(300, u'x');
    std::u16string text = EncryptText(name, value);
    ASSERT_EQ(0u, text.size() % 256) << "a multiple of 64 words";
    for (char16_t& c : text) c = (c >= u'a' && c <= u'f') ? static_cast<char16_t>(c - 32) : c;
    SecretText back;
    ASSERT_EQ(Code::Ok, Decrypt(name, text, back)) << "upper-case digits read alike";
    EXPECT_EQ(value, std::u16string(back.begin(), back.end()));
    EXPECT_NE(Code::Ok, Decrypt(name + u"x", text, back));
}

TEST(SecureBlock, DamagedAndLyingBlocksAreRejectedWithTheirCode) {
    const std::u16string name = u"password", text = EncryptText(name, u"secret value");
    SecretText out;
    auto decrypt = [&](const std::u16string& t) { return Decrypt(name, t, out); };
    // Missing texts, short texts, empty and other names: the code tests through COM below.
    EXPECT_EQ(Code::DecryptTextForm, decrypt(text.substr(0, 65))) << "not a whole number of words";
    std::u16string changed = text;
    changed[text.size() - 8] = changed[text.size() - 8] == u'0' ? u'1' : u'0';
    EXPECT_EQ(Code::DecryptHeader, decrypt(changed)) << "one digit of the value breaks the check word";
    changed = text;
    changed[100] = u'g';
    EXPECT_EQ(Code::DecryptNotHex, decrypt(changed));

    Words plain;
    ASSERT_EQ(Code::Ok, OpenBlock(name, text, plain));
    const size_t n = plain.size(), namePosition = Get32(plain, 11);
    auto lying = [&](size_t at, uint16_t value) {
        Words w = plain;
        w[at] = value;
        return decrypt(Seal(name, w));
    };
    EXPECT_EQ(Code::DecryptNameLength, lying(8, 9));
    EXPECT_EQ(Code::DecryptName, lying(namePosition, u'P'));
    EXPECT_EQ(Code::DecryptValuePosition, lying(14, static_cast<uint16_t>(plain[14] + 1)));
    EXPECT_EQ(Code::DecryptValueLength, lying(10, 3));
    EXPECT_EQ(Code::DecryptValueChecksum, lying(n - 2, u'X'));
    EXPECT_EQ(Code::DecryptOutsideBlock, lying(12, static_cast<uint16_t>(n - 3))) << "name would run over the check word";
    EXPECT_EQ(Code::DecryptOutsideBlock, lying(12, 2)) << "a position inside the header";
    // Only 16 words: a block too short for its header is refused before any header word is read.
    Words tiny(plain.begin(), plain.begin() + 16);
    EXPECT_EQ(Code::DecryptOutsideBlock, decrypt(Seal(name, tiny)));
}

// ---------------------------------------------------------------------------------------------
// Through COM

class Secure : public ::testing::Test {
protected:
    ComPtr<IQarnUtilities> u = test::Create<IQarnUtilities>(CLSID_CQarnUtilities);

    // The bare code text of the last failure; checks the error source.
    std::wstring Error() {
        ComPtr<IErrorInfo> info;
        if (GetErrorInfo(0, &info) != S_OK) return L"(no error object)";
        Str source, description;
        info->GetSource(source.Out());
        info->GetDescription(description.Out());
        EXPECT_EQ(L"QarnComConnector.CQarnUtilities.1", ToWide(source)) << "the ProgID registered for the class";
        return ToWide(description);
    }
    std::wstring Failure(HRESULT hr) {
        EXPECT_EQ(DISP_E_EXCEPTION, hr);
        return Error();
    }
    std::wstring Call(HRESULT (STDMETHODCALLTYPE IQarnUtilities::*m)(BSTR, BSTR*), const std::wstring& in) {
        Str out;
        return FAILED((u.Get()->*m)(Str(in), out.Out())) ? L"failed " + Error() : ToWide(out);
    }
};

TEST_F(Secure, EncryptAndDecryptReportTheirCodesInOrder) {
    ComPtr<IField> f;
    struct Case {
        const wchar_t *name, *value, *code;
    } encrypt[] = {{nullptr, nullptr, L"0xE0000000"}, {L"n", nullptr, L"0xE0000001"}, {L"", L"", L"0xE0010000"},
                   {L"", L"v", L"0xE0020000"}};
    for (const Case& c : encrypt) {
        EXPECT_EQ(c.code, Failure(u->Encrypt(Str(c.name), Str(c.value), &f)));
        EXPECT_EQ(nullptr, f.Get());
    }
    ASSERT_EQ(S_OK, u->Encrypt(Str(L"n"), Str(L"v"), &f));
    const std::wstring text = TextOf(f.Get());
    Case decrypt[] = {{nullptr, L"", L"0xD0000000"},         {L"n", nullptr, L"0xD0000001"},
                      {L"", L"abc", L"0xD0010000"},          {L"", text.c_str(), L"0xD0020000"},
                      {L"N", text.c_str(), L"0xD0030000"}};
    for (const Case& c : decrypt) EXPECT_EQ(c.code, Failure(u->Decrypt(Str(c.name), Str(c.value), &f)));
}

TEST_F(Secure, EntryPointsUseTheirOwnNamesAndKeys) {
    ComPtr<IField> encrypted, plain;
    ASSERT_EQ(S_OK, u->Encrypt(Str(L"user"), Str(L"s3cr3t"), &encrypted));
    ASSERT_EQ(S_OK, u->Decrypt2(encrypted.Get(), &plain));
    EXPECT_EQ(L"s3cr3t", TextOf(plain.Get()));
    EXPECT_EQ(Texts{L"x3nc=true"}, AttributesOf(encrypted.Get())) << "Encrypt marks its field";
    // Encrypt3 binds to the value key (38 characters): with 11 characters of value, 128 words.
    const std::wstring sealed = Call(&IQarnUtilities::Encrypt3, L"Sommer2026!");
    EXPECT_TRUE(sealed.size() == 512u && sealed.find_first_not_of(L"0123456789abcdef") == std::wstring::npos) << sealed;

    auto number = test::Create<IField>(CLSID_Field);
    number->put_Name(Str(L"count"));
    number->put_Value(Number(42));
    ASSERT_EQ(S_OK, u->Encrypt2(number.Get(), &encrypted));
    ASSERT_EQ(S_OK, u->Decrypt(Str(L"count"), Str(TextOf(encrypted.Get())), &plain));
    EXPECT_EQ(L"42", TextOf(plain.Get())) << "a number is encrypted as its text";
    EXPECT_EQ(L"0xE0000000", Failure(u->Encrypt2(nullptr, &encrypted)));

    // Logon values: the logon key alone and bound to a field name (Dom.ChildElementsBecomeFields: ordinary names).
    ComPtr<IQarnLogonDecryption> internal;
    ASSERT_EQ(S_OK, u.As(&internal));
    Str out, bound;
    EXPECT_EQ(DISP_E_EXCEPTION, internal->DecryptLogon(Str(Call(&IQarnUtilities::Encrypt3, L"plain")), out.Out()))
        << "value and logon keys differ";
    ASSERT_EQ(S_OK, internal->DecryptLogon(Str(Call(&IQarnUtilities::EncryptLogon, L"plain")), out.Out()));
    EXPECT_EQ(L"plain", ToWide(out));
    const Str longName(std::wstring(3000, L'p'));
    ASSERT_EQ(S_OK, u->EncryptLogon2(longName, Str(L"pw"), bound.Out()));
    ASSERT_EQ(S_OK, internal->DecryptLogon2(longName, bound, out.Out()));
    EXPECT_EQ(L"pw", ToWide(out));
    EXPECT_EQ(L"0xD0030000", Failure(internal->DecryptLogon2(Str(L"other"), bound, out.Out())))
        << "the failure under the combined name is the one reported";
    EXPECT_EQ(L"0xD0000001", Failure(internal->DecryptLogon2(Str(L"password"), nullptr, out.Out())));
}

// A parameter list: fields a, x3nc (marker), b; one structure with field s; one table with two rows.
class Walk : public Secure {
protected:
    ComPtr<IParameterList> list;
    ComPtr<IFieldCollection> fields, structureFields, row1, row2;

    void SetUp() override {
        list = test::Create<IParameterList>(CLSID_ParameterList);
        list->put_FieldCollection((fields = NewFields({{L"a", L"A"}, {L"x3nc", L"keep"}, {L"b", L""}})).Get());
        AddStructure(list.Get(), L"", structureFields = NewFields({{L"s", L"S1"}}));
        AddTable(list.Get(), L"", {row1 = NewFields({{L"c", L"R1"}}), row2 = NewFields({{L"c", L"R2"}})});
    }
    void Mark(const wchar_t* marker, const wchar_t* value) {
        list->put_Attributes(NewFields({{marker, value}, {L"owner", L"me"}}).Get());
    }
    std::wstring Plain(const std::wstring& text) { return Call(&IQarnUtilities::Decrypt3, text); }
};

TEST_F(Walk, MarkedObjectsAreEncryptedAndDecryptedBackAndNothingElse) {
    // Unmarked list: nothing changes, except a field that carries the marker itself.
    ComPtr<IField> s;
    structureFields->get_Item(1, &s);
    s->put_Attributes(NewFields({{L"x3nc", L"true"}}).Get());
    ASSERT_EQ(S_OK, u->EncryptData(list.Get()));
    EXPECT_EQ(L"A", ValueOf(fields.Get(), L"a"));
    EXPECT_EQ(L"S1", Plain(ValueOf(structureFields.Get(), L"s")));

    // A document with a child: both parameter lists are walked.
    auto parent = test::Create<IQarnDocument>(CLSID_QarnDocument);
    auto child = test::Create<IQarnDocument>(CLSID_QarnDocument);
    auto children = test::Create<IQarnDocumentCollection>(CLSID_QarnDocumentCollection);
    children->Add(child.Get());
    parent->put_Children(children.Get());
    Mark(L"x3nc", L"true");
    child->put_ParameterList(list.Get());
    ASSERT_EQ(S_OK, u->EncryptData(parent.Get()));
    EXPECT_EQ(L"R1", Plain(ValueOf(row1.Get(), L"c")));

    // A field that holds itself in its attributes: the walk ends, the value is encrypted once.
    auto loop = test::Create<IField>(CLSID_Field);
    auto loopAttributes = NewFields({{L"x3nc", L"true"}});
    loop->put_Name(Str(L"loop"));
    loop->put_Value(Variant(L"L"));
    loopAttributes->Add(loop.Get());
    loop->put_Attributes(loopAttributes.Get());
    ASSERT_EQ(S_OK, u->EncryptData(loop.Get()));
    EXPECT_EQ(L"L", Plain(TextOf(loop.Get())));

    EXPECT_EQ(S_OK, u->DecryptData(nullptr));

    // A marked list: every value below it, with either marker.
    for (auto [marker, value] : {std::pair{L"x3nc", L"TRUE"}, std::pair{L"xdn1", L"True"}}) {
        SetUp();
        Mark(marker, value);
        ASSERT_EQ(S_OK, u->EncryptData(list.Get()));
        EXPECT_EQ(L"A", Plain(ValueOf(fields.Get(), L"a"))) << marker;
        EXPECT_EQ(L"S1", Plain(ValueOf(structureFields.Get(), L"s")));
        EXPECT_EQ(L"R2", Plain(ValueOf(row2.Get(), L"c")));
        EXPECT_EQ(L"keep", ValueOf(fields.Get(), L"x3nc")) << "marker fields keep their values";
        EXPECT_EQ(L"", ValueOf(fields.Get(), L"b")) << "a refused empty value stays";
        ComPtr<IFieldCollection> attributes;
        list->get_Attributes(&attributes);
        EXPECT_EQ(L"me", Plain(ValueOf(attributes.Get(), L"owner"))) << "attributes of a marked object too";
        EXPECT_EQ(value, ValueOf(attributes.Get(), marker));

        fields->SetValue(Str(L"late"), Variant(L"L"));
        ASSERT_EQ(S_OK, u->DecryptData(list.Get()));
        EXPECT_EQ(L"A", ValueOf(fields.Get(), L"a"));
        EXPECT_EQ(L"L", ValueOf(fields.Get(), L"late")) << "a value that does not decrypt stays";
        EXPECT_EQ(L"me", ValueOf(attributes.Get(), L"owner"));
    }
}

TEST_F(Secure, TraceIsWrittenOnlyWithTheAccessCode) {
    const wchar_t* file = L"C:\\Temp\\qarn-encryption.log";
    const wchar_t* name =
        L"9E771F28EA95EF965241B56F7D17FA1D010DDB8F0724A6C88027C73906C58AA413A34B1B2F093D462A9937EA69F45ED5";
    CreateDirectoryW(L"C:\\Temp", nullptr);
    DeleteFileW(file);
    const std::wstring code =
        L"6814A623F4B069DEBA513FCD3431DD83249EAD9B6ABA31F333102BBF5043C5DB4C5CA7D18AD1E5CBAC37E16D96D7EC2F";
    // A wrong code, the code with one character more or one less: no trace.
    for (const std::wstring& wrong : {std::wstring(L"wrong code"), code + L"0", code.substr(1)}) {
        SetEnvironmentVariableW(name, wrong.c_str());
        Call(&IQarnUtilities::Encrypt3, L"quiet");
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(file));
    }

    SetEnvironmentVariableW(name, code.c_str());
    Call(&IQarnUtilities::Decrypt3, Call(&IQarnUtilities::Encrypt3, L"traced"));
    SetEnvironmentVariableW(name, nullptr);
    const std::string trace = test::ScratchFolder::Read(file);
    DeleteFileW(file);
    for (const char* expected : {" -  10 - Encrypt\r\n", "Value: traced", " -  10 - Decrypt\r\n", "compare A1, A2: estA1(",
                                 "compare value chksum: est(", "value retrieved: traced"})
        EXPECT_NE(std::string::npos, trace.find(expected)) << expected << "\n" << trace;
}

}  // namespace
