// Decrypts a secret through every entry point that decrypts (fields, logon files, a data block, a
// transaction, DOMCreateFieldEntry), releases every result and then scans the committed private
// memory of the process for the secret in UTF-16 and in UTF-8: no copy may be left. Each entry
// point gets a secret of its own, made at run time and kept masked; the clear copies this program
// gets are BSTRs that it zeroes before freeing them, so every hit is a copy the DLLs left behind.
#include "Hardening.h"
#include "QarnComConnector.h"
#include "base/LogonDecryption.h"

#include <set>

namespace {

// A hit is either half of the secret, so that a freed block whose first bytes the heap has reused
// for its own bookkeeping still counts.
constexpr size_t kLength = 32, kHalf = kLength / 2;
constexpr unsigned char kMask = 0x5A;
unsigned char g_masked[kLength];

char SecretChar(size_t i) { return static_cast<char>(g_masked[i] ^ kMask); }

void MakeSecret() {
    static const char kAlphabet[] = "ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz23456789";
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    unsigned long long x = static_cast<unsigned long long>(now.QuadPart) ^ (GetCurrentProcessId() * 0x9E3779B97F4A7C15ull);
    for (size_t i = 0; i < kLength; ++i) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        g_masked[i] = static_cast<unsigned char>(kAlphabet[x % (sizeof kAlphabet - 1)] ^ kMask);
    }
}

// A clear text this program holds: zeroed before it is freed.
struct Clear {
    BSTR s = nullptr;
    ~Clear() { Wipe(); }
    BSTR* Out() { Wipe(); return &s; }
    void Wipe() {
        if (s) SecureZeroMemory(s, SysStringByteLen(s));
        SysFreeString(std::exchange(s, nullptr));
    }
};

// The secret as a BSTR of this program.
struct Secret : Clear {
    Secret() {
        s = SysAllocStringLen(nullptr, kLength);
        for (size_t i = 0; i < kLength; ++i) s[i] = static_cast<wchar_t>(SecretChar(i));
    }
};

void ExpectSecret(Clear& text, const std::wstring& what) {
    bool same = SysStringLen(text.s) == kLength;
    for (size_t i = 0; same && i < kLength; ++i) same = text.s[i] == static_cast<wchar_t>(SecretChar(i));
    Expect(same, what + L" did not give the secret");
    text.Wipe();
}

void ExpectSecretField(IField* field, const std::wstring& what) {
    Expect(field != nullptr, what + L" gave no field");
    Clear value;
    Check(field->get_StringValue(value.Out()), what + L": StringValue");
    ExpectSecret(value, what);
}

// ---- the scan -------------------------------------------------------------------------------------
// Whether the half of the secret from `from` is at `p` with `step` bytes per character (1: UTF-8,
// 2: UTF-16 little-endian).
bool HalfAt(const unsigned char* p, const unsigned char* end, size_t from, size_t step) {
    if (static_cast<size_t>(end - p) < kHalf * step) return false;
    for (size_t i = 0; i < kHalf; ++i) {
        if (p[i * step] != static_cast<unsigned char>(SecretChar(from + i))) return false;
        if (step == 2 && p[i * step + 1] != 0) return false;
    }
    return true;
}

// A copy: where it starts and the bytes per character.
using Hit = std::pair<const unsigned char*, size_t>;

void ScanRegion(const unsigned char* begin, const unsigned char* end, std::set<Hit>& hits) {
    for (size_t half : {size_t{0}, kHalf}) {
        const unsigned char first = static_cast<unsigned char>(SecretChar(half));
        for (const unsigned char* p = begin; p < end; ++p) {
            p = static_cast<const unsigned char*>(memchr(p, first, static_cast<size_t>(end - p)));
            if (!p) break;
            for (size_t step : {size_t{1}, size_t{2}}) {
                if (!HalfAt(p, end, half, step)) continue;
                // A whole copy counts once, at its start.
                const unsigned char* start = p;
                if (half == kHalf && p - begin >= static_cast<std::ptrdiff_t>(kHalf * step) &&
                    HalfAt(p - kHalf * step, end, 0, step))
                    start = p - kHalf * step;
                hits.insert({start, step});
            }
        }
    }
}

// Every copy of the secret (or of one half) in committed, readable private memory.
std::set<Hit> Scan() {
    std::set<Hit> hits;
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    const unsigned char* p = static_cast<const unsigned char*>(info.lpMinimumApplicationAddress);
    MEMORY_BASIC_INFORMATION m;
    while (p < info.lpMaximumApplicationAddress && VirtualQuery(p, &m, sizeof m) == sizeof m) {
        const unsigned char* base = static_cast<const unsigned char*>(m.BaseAddress);
        const DWORD readable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                               PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
        if (m.State == MEM_COMMIT && m.Type == MEM_PRIVATE && (m.Protect & readable) && !(m.Protect & PAGE_GUARD))
            ScanRegion(base, base + m.RegionSize, hits);
        p = base + m.RegionSize;
    }
    return hits;
}

// ---- the entry points -----------------------------------------------------------------------------
ComPtr<IQarnUtilities> g_u;
std::wstring g_root;

// The secret encrypted by `encrypt`: by Encrypt (name, secret), Encrypt3, EncryptLogon or EncryptLogon2 (name, secret).
std::wstring Encrypted(const std::function<HRESULT(BSTR, BSTR*)>& encrypt) {
    Secret secret;
    Str text;
    Check(encrypt(secret.s, text.Out()), L"encrypting the secret");
    return std::wstring(text.View());
}
std::wstring EncryptedAs(const wchar_t* name) {
    return Encrypted([&](BSTR v, BSTR* out) {
        ComPtr<IField> field;
        const HRESULT hr = g_u->Encrypt(Str(name), v, &field);
        return FAILED(hr) ? hr : field->get_StringValue(out);
    });
}
std::wstring Encrypted3() { return Encrypted([](BSTR v, BSTR* out) { return g_u->Encrypt3(v, out); }); }
std::wstring EncryptedLogon(const wchar_t* name) {
    return Encrypted([&](BSTR v, BSTR* out) { return name ? g_u->EncryptLogon2(Str(name), v, out) : g_u->EncryptLogon(v, out); });
}

// Logon files whose default entries hold the secret as password and as security credentials.
void WriteLogonFiles() {
    const std::string head = "<?xml version=\"1.0\"?><SAPLogonParameter><logon><computername>default</computername>"
                             "<computeruser>default</computeruser>",
                      tail = "</logon></SAPLogonParameter>";
    const std::string sap = head + "<client>800</client><user>RFC</user><password x3nc=\"true\">" +
                            qarn::ToUtf8(EncryptedLogon(L"password")) + "</password><language>EN</language>" + tail;
    const std::string web = head + "<securityCredentials x3nc=\"true\">" +
                            qarn::ToUtf8(EncryptedLogon(L"securityCredentials")) + "</securityCredentials>" + tail;
    Expect(WriteBytes(g_root + L"\\xml\\QarnSAPLogonParameter.xml", sap.c_str()) &&
               WriteBytes(g_root + L"\\xml\\QarnSAPWebApplicationServerLogonParameter.xml", web.c_str()),
           L"cannot write the logon files");
}

using SixValues = HRESULT (STDMETHODCALLTYPE IQarnUtilities::*)(BSTR*, BSTR*, BSTR*, BSTR*, BSTR*, BSTR*);
void SapSix(SixValues method, const wchar_t* what) {
    Clear v[6];
    Check((g_u.Get()->*method)(v[0].Out(), v[1].Out(), v[2].Out(), v[3].Out(), v[4].Out(), v[5].Out()), what);
    ExpectSecret(v[2], what);
}

ComPtr<IQarnLogonDecryption> LogonDecryption() {
    ComPtr<IQarnLogonDecryption> logon;
    Check(g_u.As(&logon), L"IQarnLogonDecryption");
    return logon;
}

// A marked collection holding the clear secret: encrypted by EncryptData, decrypted by DecryptData.
void DataBlock() {
    ComPtr<IFieldCollection> fields = NewFields(0), marker = NewFields(0);
    Check(marker->SetValue(Str(L"x3nc"), Var(Text(L"true"))), L"SetValue");
    Check(fields->put_Attributes(marker.Get()), L"Attributes");
    {
        Secret secret;
        VARIANT value;
        value.vt = VT_BSTR;
        value.bstrVal = secret.s;  // borrowed: SetValue copies it
        Check(fields->SetValue(Str(L"Password"), value), L"SetValue");
    }
    Check(g_u->EncryptData(fields.Get()), L"EncryptData");
    ComPtr<IField> field;
    Check(fields->get_Item(1, &field), L"Item");
    Str stored;
    Check(field->get_StringValue(stored.Out()), L"StringValue");
    Expect(stored.Length() > kLength, L"EncryptData left the value as it was");
    Check(g_u->DecryptData(fields.Get()), L"DecryptData");
    ExpectSecretField(field.Get(), L"EncryptData and DecryptData");
}

// A transaction whose field "Password" is marked (decrypted while the list is built) and whose
// Parameter is marked (its field "Value" is decrypted by DecryptData); then the list's copies.
void Transaction() {
    const std::wstring xml = L"<Parameter x3nc='true'><FieldCollection><Field><Name>Value</Name><Value>" + Encrypted3() +
                             L"</Value></Field><Field x3nc='true'><Name>Password</Name><Value>" +
                             EncryptedAs(L"Password") + L"</Value></Field></FieldCollection></Parameter>";
    ComPtr<IParameterList> list;
    Check(g_u->GetXmlParameterListFromXMLString3(Str(xml), Str(L"Parameter"), nullptr, &list), L"GetXmlParameterList");
    ComPtr<IField> field;
    Check(list->GetField(Str(L"Password"), &field), L"GetField");
    ExpectSecretField(field.Get(), L"a marked field of a transaction");
    Check(g_u->DecryptData(list.Get()), L"DecryptData");
    Check(list->GetField(Str(L"Value"), &field), L"GetField");
    ExpectSecretField(field.Get(), L"DecryptData of a transaction");
    // The list's copies: its XML text (this program's, zeroed) and a clone.
    Clear text;
    ComPtr<IParameterList> clone;
    Check(list->get_Xml(text.Out()), L"Xml");
    Check(list->Clone(&clone), L"Clone");
}

void FieldEntry() {
    const std::wstring xml = L"<Field x3nc='true'><Name>Password</Name><Value>" + EncryptedAs(L"Password") +
                             L"</Value></Field>";
    ComPtr<IDispatch> document;
    Check(g_u->DOMParse2(Str(xml), &document), L"DOMParse2");
    DISPID id = 0;
    LPOLESTR name = const_cast<LPOLESTR>(L"documentElement");
    DISPPARAMS none{};
    Var element;
    Check(document->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), L"documentElement");
    Check(document->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &element, nullptr, nullptr),
          L"documentElement");
    Expect(element.vt == VT_DISPATCH && element.pdispVal, L"no document element");
    ComPtr<IField> field;
    Check(g_u->DOMCreateFieldEntry(element.pdispVal, nullptr, &field), L"DOMCreateFieldEntry");
    ExpectSecretField(field.Get(), L"DOMCreateFieldEntry");
}

const std::pair<const wchar_t*, void (*)()> kCases[] = {
    {L"Decrypt3", [] {
         Clear plain;
         Check(g_u->Decrypt3(Str(Encrypted3()), plain.Out()), L"Decrypt3");
         ExpectSecret(plain, L"Decrypt3");
     }},
    {L"Decrypt and Decrypt2", [] {
         ComPtr<IField> field;
         Check(g_u->Decrypt(Str(L"Password"), Str(EncryptedAs(L"Password")), &field), L"Decrypt");
         ExpectSecretField(field.Get(), L"Decrypt");
         Check(g_u->Decrypt2(NewField(L"Password", EncryptedAs(L"Password").c_str()).Get(), &field), L"Decrypt2");
         ExpectSecretField(field.Get(), L"Decrypt2");
     }},
    {L"DecryptLogon and DecryptLogon2", [] {
         Clear plain;
         Check(LogonDecryption()->DecryptLogon(Str(EncryptedLogon(nullptr)), plain.Out()), L"DecryptLogon");
         ExpectSecret(plain, L"DecryptLogon");
         Check(LogonDecryption()->DecryptLogon2(Str(L"password"), Str(EncryptedLogon(L"password")), plain.Out()),
               L"DecryptLogon2");
         ExpectSecret(plain, L"DecryptLogon2");
     }},
    {L"GetSAPLogonPassword and the other single values", [] {
         WriteLogonFiles();
         Clear value;
         Check(g_u->GetSAPLogonPassword(value.Out()), L"GetSAPLogonPassword");
         ExpectSecret(value, L"GetSAPLogonPassword");
         // Each of these reads the password as well.
         for (auto get : {&IQarnUtilities::GetSAPLogonClient, &IQarnUtilities::GetSAPLogonUser, &IQarnUtilities::GetSAPLogonLanguage,
                          &IQarnUtilities::GetSAPLogonHostname, &IQarnUtilities::GetSAPLogonSystemnumber})
             Check((g_u.Get()->*get)(value.Out()), L"GetSAPLogon single value");
     }},
    {L"GetSAPLogonParameter and GetSAPLogonParameter3", [] {
         WriteLogonFiles();
         SapSix(&IQarnUtilities::GetSAPLogonParameter, L"GetSAPLogonParameter");
         SapSix(&IQarnUtilities::GetSAPLogonParameter3, L"GetSAPLogonParameter3");
     }},
    {L"GetSAPLogonParameter5 and GetSAPLoginParameter", [] {
         WriteLogonFiles();
         ComPtr<IFieldCollection> fields;
         Check(g_u->GetSAPLogonParameter5(&fields), L"GetSAPLogonParameter5");
         ComPtr<IField> password;
         Check(fields->get_Field(Str(L"password"), &password), L"GetSAPLogonParameter5: Field");
         ExpectSecretField(password.Get(), L"GetSAPLogonParameter5");
         ComPtr<IParameterList> list;
         Check(g_u->GetSAPLoginParameter(&list), L"GetSAPLoginParameter");
     }},
    {L"GetSAPWebApplicationServerLogonParameter", [] {
         WriteLogonFiles();
         Clear v[4];
         Check(g_u->GetSAPWebApplicationServerLogonParameter(v[0].Out(), v[1].Out(), v[2].Out(), v[3].Out()),
               L"GetSAPWebApplicationServerLogonParameter");
         ExpectSecret(v[3], L"GetSAPWebApplicationServerLogonParameter");
     }},
    {L"a configuration read", [] {
         // The property is decrypted while the configuration is read; nothing keeps it beyond the store.
         const std::string main = "<?xml version=\"1.0\"?><QarnConnector><Properties><Plant>1000</Plant>"
                                  "<DbPassword x3nc=\"true\">" + qarn::ToUtf8(EncryptedLogon(L"DbPassword")) +
                                  "</DbPassword></Properties></QarnConnector>";
         Expect(WriteBytes(g_root + L"\\xml\\QarnConnector.xml", main.c_str()), L"cannot write the configuration");
         Check(g_u->ReadXmlConfigurationFiles(), L"ReadXmlConfigurationFiles");
         Clear value;
         Check(g_u->GetProperty(Str(L"DbPassword"), value.Out()), L"GetProperty");
         ExpectSecret(value, L"a configuration read");
     }},
    {L"EncryptData and DecryptData", DataBlock},
    {L"a transaction", Transaction},
    {L"DOMCreateFieldEntry", FieldEntry},
};

}  // namespace

int wmain() {
    ComScope com;
    if (!com.ok) return fwprintf(stderr, L"clear text: COM could not be started\n"), 1;
    g_root = test::TempFolder(L"cleartext");
    CreateDirectoryW((g_root + L"\\xml").c_str(), nullptr);
    SetEnvironmentVariableW(L"QarnRootDir", g_root.c_str());

    int failed = 0;
    size_t total = 0;
    for (const auto& [name, run] : kCases) {
        MakeSecret();
        try {
            g_u = New<IQarnUtilities>(CLSID_CQarnUtilities);
            run();
        } catch (const Failure& f) {
            ++failed;
            wprintf(L"FAIL  %ls: %ls\n", name, f.what.c_str());
        }
        g_u.Reset();
        const std::set<Hit> hits = Scan();
        for (const auto& [at, step] : hits)
            wprintf(L"      copy at %p in %ls\n", static_cast<const void*>(at), step == 2 ? L"UTF-16" : L"UTF-8");
        total += hits.size();
        wprintf(L"%ls  %ls: %zu copies\n", hits.empty() ? L"ok  " : L"FAIL", name, hits.size());
        fflush(stdout);
    }
    RemoveTree(g_root);
    SecureZeroMemory(g_masked, sizeof g_masked);
    wprintf(L"clear text: %zu entry points, %d failed, %zu copies left\n", std::size(kCases), failed, total);
    return failed || total ? 1 : 0;
}
