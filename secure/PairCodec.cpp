// Encryption and decryption of one name and value pair, with the encryption trace that an
// environment switch turns on for the call.
#include "secure/PairCodec.h"

#include "secure/SecureBlock.h"

#include <cstdint>
#include <iterator>
#include <string_view>

namespace qarn::secure {

namespace {

// Fixed values of the trace switch: they never change.
constexpr wchar_t kTraceSwitchName[] =
    L"9E771F28EA95EF965241B56F7D17FA1D010DDB8F0724A6C88027C73906C58AA413A34B1B2F093D462A9937EA69F45ED5";
constexpr wchar_t kTraceAccessCode[] =
    L"6814A623F4B069DEBA513FCD3431DD83249EAD9B6ABA31F333102BBF5043C5DB4C5CA7D18AD1E5CBAC37E16D96D7EC2F";
constexpr wchar_t kTraceFile[] = L"C:\\Temp\\qarn-encryption.log";

// Trace lines go to the encryption trace file, raw text is appended as it is. They carry names
// and values: the copies made here are zeroed.
class FileTrace final : public TraceSink {
public:
    void Line(std::u16string_view text) override {
        const SecretWString line(reinterpret_cast<const wchar_t*>(text.data()), text.size());
        AppendLogLine(kTraceFile, static_cast<int>(LogSettings::kTraceLevel), line.c_str());
    }
    void Raw(std::u16string_view text) override {
        const SecretWString raw(reinterpret_cast<const wchar_t*>(text.data()), text.size());
        AppendLogText(kTraceFile, raw.c_str());
    }
};

// Read on every call: a host may set the variable while it runs. Compared without allocating.
bool TraceSwitchOn() { return EnvironmentValueIs(kTraceSwitchName, kTraceAccessCode); }

// The time in seconds since 1970 (UTC), as time() gives it: the runtime's time() reads the time
// zone settings on every call, which costs more than an encryption.
int64_t SecondsSince1970() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    constexpr uint64_t kTicksTo1970 = 116444736000000000ull;  // 100 ns ticks from 1601 to 1970
    return static_cast<int64_t>((ticks - kTicksTo1970) / 10000000ull);
}

// The object's trace flag, set from the environment for one call.
class TraceScope {
public:
    explicit TraceScope(bool& flag) : flag_(flag) { flag_ = TraceSwitchOn(); }
    ~TraceScope() { flag_ = false; }
    TraceScope(const TraceScope&) = delete;
    TraceScope& operator=(const TraceScope&) = delete;

private:
    bool& flag_;
};

Text AsText(BSTR s) {
    if (!s) return std::nullopt;
    return std::u16string_view(reinterpret_cast<const char16_t*>(s), SysStringLen(s));
}

HRESULT Report(REFCLSID source, Code code) {
    return ReportErrorWithSource(source, CodeText(code), GUID_NULL, 0);
}

}  // namespace

HRESULT PairCodec::Encrypt(BSTR name, BSTR value, BSTR *text) {
    TraceScope scope(traceOn_);
    FileTrace trace;
    SecretText out;
    const Code code =
        secure::Encrypt(AsText(name), AsText(value), SecondsSince1970(), out, traceOn_ ? &trace : nullptr);
    if (code != Code::Ok) return Report(source_, code);
    *text = SysAllocStringLen(reinterpret_cast<const wchar_t*>(out.data()), static_cast<UINT>(out.size()));
    return *text ? S_OK : Report(source_, Code::EncryptBlockMemory);
}

HRESULT PairCodec::Decrypt(BSTR name, BSTR text, BSTR *value) {
    TraceScope scope(traceOn_);
    FileTrace trace;
    SecretText out;
    const Code code = secure::Decrypt(AsText(name), AsText(text), out, traceOn_ ? &trace : nullptr);
    if (code != Code::Ok) return Report(source_, code);
    *value = SysAllocStringLen(reinterpret_cast<const wchar_t*>(out.data()), static_cast<UINT>(out.size()));
    return *value ? S_OK : Report(source_, Code::DecryptValueMemory);
}

bool RanOutOfMemory(HRESULT hr) {
    if (hr == E_OUTOFMEMORY) return true;
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) != S_OK || !info) return false;
    Bstr text;
    info->GetDescription(text.Out());
    SetErrorInfo(0, info.Get());
    for (Code code : {Code::EncryptNameKeyMemory, Code::EncryptFixedKeyMemory, Code::EncryptBlockMemory,
                      Code::DecryptNameKeyMemory, Code::DecryptFixedKeyMemory, Code::DecryptWordMemory,
                      Code::DecryptStoredNameMemory, Code::DecryptValueMemory})
        if (text.View() == FromAnsi(CodeText(code))) return true;
    return false;
}

}  // namespace qarn::secure
