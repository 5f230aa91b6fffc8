// Encryption throughput: pairs per second for Encrypt and Decrypt through the COM interface of
// CQarnUtilities, for short pairs (8-character name, 12-character value) and for 4,000-character
// values; beside each, the plain encoder of the same pair called directly (no COM, no field
// objects), measured in the same run.
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
    std::printf("%-28s %14s %14s %16s %16s\n", "pair", "Encrypt /s", "Decrypt /s", "plain encode /s", "plain decode /s");
    struct Case {
        const char* label;
        std::wstring name, value;
    } cases[] = {{"8 + 12 characters", L"username", L"Sommer2026!!"},
                 {"8 + 4,000 characters", L"document", std::wstring(4000, L'v')}};
    for (const Case& c : cases) {
        BSTR name = SysAllocString(c.name.c_str()), value = SysAllocString(c.value.c_str());
        ComPtr<IField> encrypted;
        u->Encrypt(name, value, &encrypted);
        BSTR text = nullptr;
        encrypted->get_StringValue(&text);
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
        std::printf("%-28s %14.0f %14.0f %16.0f %16.0f\n", c.label, encrypt, decrypt, plainEncrypt, plainDecrypt);
        SysFreeString(name);
        SysFreeString(value);
        SysFreeString(text);
    }
    u.Reset();
    CoUninitialize();
    return 0;
}
