// Encryption throughput: pairs per second for Encrypt and Decrypt through the COM interface of
// CQarnUtilities, for short pairs (8-character name, 12-character value) and for 4,000-character
// values; beside each, the plain encoder of the same pair called directly (no COM, no field
// objects), measured in the same run. Target: Encrypt of the short pair at least 250,000 pairs per
// second. The output is Markdown.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <wrl/client.h>

#include "BenchClock.h"

#include <cstdio>
#include <string>

#undef GetMessage
#include "QarnComDatatypes.h"
#include "QarnComConnector.h"
#include "secure/SecureBlock.h"

using Microsoft::WRL::ComPtr;

namespace {

// Runs `step` until about half a second has passed; returns calls per second.
template <class F>
double Rate(F&& step) {
    long calls = 0;
    const double start = Now();
    double elapsed = 0;
    do {
        for (int i = 0; i < 16; ++i, ++calls)
            if (!step()) return -1;
        elapsed = Now() - start;
    } while (elapsed < 0.5);
    return calls / elapsed;
}

}  // namespace

int wmain() {
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    ComPtr<IQarnUtilities> u;
    if (FAILED(CoCreateInstance(CLSID_CQarnUtilities, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&u)))) {
        std::printf("cannot create CQarnUtilities\n");
        return 1;
    }
    std::printf("Pairs per second; the ratio is the plain figure over the one through COM.\n\n"
                "| pair | Encrypt (COM) | plain encode | ratio | Decrypt (COM) | plain decode | ratio |\n"
                "|---|---:|---:|---:|---:|---:|---:|\n");
    struct Case {
        const char* label;
        std::wstring name, value;
    } cases[] = {{"8 + 12 characters", L"username", L"Sommer2026!!"},
                 {"8 + 4,000 characters", L"document", std::wstring(4000, L'v')}};
    double shortEncrypt = 0;
    for (const Case& c : cases) {
        BSTR name = SysAllocString(c.name.c_str()), value = SysAllocString(c.value.c_str());
        ComPtr<IField> encrypted;
        BSTR text = nullptr;
        if (FAILED(u->Encrypt(name, value, &encrypted)) || !encrypted || FAILED(encrypted->get_StringValue(&text))) {
            std::fprintf(stderr, "Encrypt failed for the pair %s\n", c.label);
            return 1;
        }
        const double encrypt = Rate([&] {
            ComPtr<IField> f;
            return SUCCEEDED(u->Encrypt(name, value, &f));
        });
        const double decrypt = Rate([&] {
            ComPtr<IField> f;
            return SUCCEEDED(u->Decrypt(name, text, &f));
        });
        const std::u16string n(c.name.begin(), c.name.end()), v(c.value.begin(), c.value.end()),
            t(text, text + SysStringLen(text));
        qarn::secure::SecretText out;
        const double plainEncrypt = Rate([&] { return qarn::secure::Encrypt(n, v, 1700000000, out) == qarn::secure::Code::Ok; });
        const double plainDecrypt = Rate([&] { return qarn::secure::Decrypt(n, t, out) == qarn::secure::Code::Ok; });
        if (encrypt <= 0 || decrypt <= 0 || plainEncrypt <= 0 || plainDecrypt <= 0) {
            std::fprintf(stderr, "a call failed for the pair %s\n", c.label);
            return 1;
        }
        if (&c == &cases[0]) shortEncrypt = encrypt;
        std::printf("| %s | %s | %s | %.1f | %s | %s | %.1f |\n", c.label, Grouped(std::llround(encrypt)).c_str(),
                    Grouped(std::llround(plainEncrypt)).c_str(), plainEncrypt / encrypt,
                    Grouped(std::llround(decrypt)).c_str(), Grouped(std::llround(plainDecrypt)).c_str(),
                    plainDecrypt / decrypt);
        SysFreeString(name);
        SysFreeString(value);
        SysFreeString(text);
    }
    Verdict(shortEncrypt >= 250000,
            Format("Encrypt of the short pair through COM: %s pairs per second; at least 250,000",
                   Grouped(std::llround(shortEncrypt)).c_str()));
    u.Reset();
    CoUninitialize();
    return 0;
}
