#include "Text.h"

#include <new>

#include <vector>

namespace qarn {

void ThrowHResult(HRESULT hr) { throw HResultError{hr}; }

HRESULT CaughtResult() noexcept {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (const HResultError& e) {
        return FAILED(e.hr) ? e.hr : E_UNEXPECTED;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

std::wstring GuidText(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, static_cast<int>(std::size(text)));
    return text;
}

namespace {

// The variables the calling thread sees instead of the process's (innermost last).
thread_local std::vector<std::pair<std::wstring, std::wstring>>* t_overrides = nullptr;

const std::wstring* OverrideOf(std::wstring_view name) {
    if (!t_overrides) return nullptr;
    for (auto it = t_overrides->rbegin(); it != t_overrides->rend(); ++it)
        if (CompareStringOrdinal(it->first.data(), static_cast<int>(it->first.size()), name.data(),
                                 static_cast<int>(name.size()), TRUE) == CSTR_EQUAL)
            return &it->second;
    return nullptr;
}

}  // namespace

ThreadEnvironmentOverride::ThreadEnvironmentOverride(std::wstring name, std::wstring value) {
    if (!t_overrides) t_overrides = new std::vector<std::pair<std::wstring, std::wstring>>();
    t_overrides->emplace_back(std::move(name), std::move(value));
}

ThreadEnvironmentOverride::~ThreadEnvironmentOverride() {
    t_overrides->pop_back();
    if (t_overrides->empty()) {
        delete t_overrides;
        t_overrides = nullptr;
    }
}

bool ThreadEnvironmentOverride::Active() noexcept { return t_overrides != nullptr; }

std::optional<std::wstring> EnvironmentValue(const wchar_t* name) {
    if (const std::wstring* value = name ? OverrideOf(name) : nullptr) return *value;
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

bool EnvironmentValueIs(const wchar_t* name, std::wstring_view expected) {
    if (const std::wstring* value = name ? OverrideOf(name) : nullptr) return *value == expected;
    wchar_t value[128];
    if (expected.size() >= std::size(value)) return EnvironmentValue(name) == expected;
    // A longer value does not fit and never matches.
    SetLastError(ERROR_SUCCESS);
    const DWORD n = GetEnvironmentVariableW(name, value, static_cast<DWORD>(expected.size() + 1));
    if (n == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
    return n == expected.size() && std::wstring_view(value, n) == expected;
}

std::wstring EnvironmentBlock() {
    std::wstring text;
    if (wchar_t* block = GetEnvironmentStringsW()) {
        const wchar_t* end = block;
        while (*end) end += wcslen(end) + 1;  // each variable ends with a NUL, the block with one more
        text.assign(static_cast<const wchar_t*>(block), end);
        FreeEnvironmentStringsW(block);
    }
    if (t_overrides)
        for (const auto& [name, value] : *t_overrides) text += name + L'=' + value + L'\0';
    return text;
}

std::wstring ExpandEnvironment(const std::wstring& text) {
    if (!t_overrides) {
        // The first call tells the size (with the terminating NUL); the variables may change
        // between the two calls, so ask again until the text fits.
        std::wstring expanded(text.size() + 1, L'\0');
        for (;;) {
            const DWORD need = ExpandEnvironmentStringsW(text.c_str(), expanded.data(), static_cast<DWORD>(expanded.size()));
            if (need == 0) return text;
            if (need <= expanded.size()) {
                expanded.resize(need - 1);
                return expanded;
            }
            expanded.assign(need, L'\0');
        }
    }
    // The system's rule with this thread's overrides: "%NAME%" of a variable that is set is
    // replaced; otherwise the text stays as written and the closing percent sign may open the next
    // reference.
    const std::wstring_view source(text);
    std::wstring out;
    size_t i = 0;
    while (i < source.size()) {
        if (source[i] != L'%') {
            out += source[i++];
            continue;
        }
        const size_t close = source.find(L'%', i + 1);
        if (close == std::wstring_view::npos) {
            out.append(source.substr(i));
            break;
        }
        const std::wstring name(source.substr(i + 1, close - i - 1));
        if (!name.empty()) {
            if (const std::optional<std::wstring> value = EnvironmentValue(name.c_str())) {
                out += *value;
                i = close + 1;
                continue;
            }
        }
        out.append(source.substr(i, close - i));
        i = close;
    }
    return out;
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
