#include "Text.h"

#include <vector>

namespace qarn {

void ThrowHResult(HRESULT hr) { throw HResultError{hr}; }

std::wstring GuidText(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, static_cast<int>(std::size(text)));
    return text;
}

std::optional<std::wstring> EnvironmentValue(const wchar_t* name) {
    std::wstring value(256, L'\0');
    for (;;) {
        SetLastError(ERROR_SUCCESS);
        const DWORD n = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
        if (n == 0) {
            if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
            return std::wstring();
        }
        if (n < value.size()) {
            value.resize(n);
            return value;
        }
        // Too small: `n` counts the terminating NUL. The value may change between the calls.
        value.assign(n, L'\0');
    }
}

std::wstring FormatCappedV(size_t capacity, const wchar_t* format, va_list args) {
    if (capacity < 2) capacity = 2;
    std::vector<wchar_t> buffer(capacity, L'\0');
    // The runtime's _vsnwprintf reads %s in a wide format as wide text; the last unit stays zero.
    _vsnwprintf(buffer.data(), capacity - 1, format, args);
    return std::wstring(buffer.data());
}

std::wstring FormatCapped(size_t capacity, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::wstring text = FormatCappedV(capacity, format, args);
    va_end(args);
    return text;
}

std::wstring Format(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::wstring text = FormatCappedV(2048, format, args);
    va_end(args);
    return text;
}

std::string FormatA(const char* format, ...) {
    std::vector<char> buffer(2048, '\0');
    va_list args;
    va_start(args, format);
    _vsnprintf(buffer.data(), buffer.size() - 1, format, args);
    va_end(args);
    return std::string(buffer.data());
}

namespace {
std::wstring ToWide(UINT codePage, std::string_view text) {
    if (text.empty()) return {};
    int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) ThrowHResult(E_OUTOFMEMORY);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}
std::string ToNarrow(UINT codePage, std::wstring_view text) {
    if (text.empty()) return {};
    int n = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0) ThrowHResult(E_OUTOFMEMORY);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}
}  // namespace

std::wstring FromAnsi(std::string_view text) { return ToWide(CP_THREAD_ACP, text); }
std::string ToAnsi(std::wstring_view text) { return ToNarrow(CP_THREAD_ACP, text); }
std::string ToUtf8(std::wstring_view text) { return ToNarrow(CP_UTF8, text); }
std::wstring FromUtf8(std::string_view text) { return ToWide(CP_UTF8, text); }

}  // namespace qarn
