// BSTR and VARIANT ownership helpers and the wide-text formatter of the server.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace qarn {

// Thrown for a bare HRESULT (allocation failures, Win32 failures): carries no description.
struct HResultError {
    HRESULT hr;
};

[[noreturn]] void ThrowHResult(HRESULT hr);
// Inside a catch handler: the HRESULT the caught exception stands for (E_OUTOFMEMORY for a failed
// allocation, the code of an HResultError, E_UNEXPECTED for anything else).
HRESULT CaughtResult() noexcept;

// An owned BSTR. Null and empty are different states and both are kept.
class Bstr {
public:
    Bstr() = default;
    Bstr(std::nullptr_t) noexcept {}
    explicit Bstr(const wchar_t* text) : s_(text ? Alloc(text, static_cast<UINT>(wcslen(text))) : nullptr) {}
    explicit Bstr(std::wstring_view text) : s_(Alloc(text.data(), static_cast<UINT>(text.size()))) {}
    Bstr(const Bstr& other) : s_(other.s_ ? Alloc(other.s_, SysStringLen(other.s_)) : nullptr) {}
    Bstr(Bstr&& other) noexcept : s_(std::exchange(other.s_, nullptr)) {}
    Bstr& operator=(Bstr other) noexcept {
        std::swap(s_, other.s_);
        return *this;
    }
    ~Bstr() { SysFreeString(s_); }

    static Bstr Attach(BSTR s) {
        Bstr b;
        b.s_ = s;
        return b;
    }
    BSTR Detach() noexcept { return std::exchange(s_, nullptr); }
    // Releases the current text and hands out the slot for an [out] BSTR* argument.
    BSTR* Out() noexcept {
        Reset();
        return &s_;
    }
    void Reset() noexcept {
        SysFreeString(s_);
        s_ = nullptr;
    }

    BSTR get() const noexcept { return s_; }
    operator BSTR() const noexcept { return s_; }
    bool IsNull() const noexcept { return s_ == nullptr; }
    bool IsEmpty() const noexcept { return Length() == 0; }
    UINT Length() const noexcept { return SysStringLen(s_); }
    std::wstring_view View() const noexcept { return s_ ? std::wstring_view(s_, SysStringLen(s_)) : std::wstring_view(); }
    // A copy for handing out through an [out] parameter (null stays null).
    BSTR Copy() const { return s_ ? Alloc(s_, SysStringLen(s_)) : nullptr; }

    static BSTR Alloc(const wchar_t* text, UINT len) {
        BSTR s = SysAllocStringLen(text, len);
        if (!s) ThrowHResult(E_OUTOFMEMORY);
        return s;
    }

private:
    BSTR s_ = nullptr;
};

// A copy of a caller's text for an [out] parameter; null stays null.
inline BSTR CopyBstr(const wchar_t* text) { return text ? Bstr::Alloc(text, static_cast<UINT>(wcslen(text))) : nullptr; }
inline BSTR CopyBstr(std::wstring_view text) { return Bstr::Alloc(text.data(), static_cast<UINT>(text.size())); }
inline std::wstring_view View(BSTR s) { return s ? std::wstring_view(s, SysStringLen(s)) : std::wstring_view(); }

// An owned VARIANT.
class Variant : public VARIANT {
public:
    Variant() noexcept { VariantInit(this); }
    explicit Variant(const VARIANT& other) {
        VariantInit(this);
        Check(VariantCopy(this, const_cast<VARIANT*>(&other)));
    }
    explicit Variant(std::wstring_view text) {
        VariantInit(this);
        vt = VT_BSTR;
        bstrVal = CopyBstr(text);
    }
    explicit Variant(IDispatch* p) noexcept {
        VariantInit(this);
        vt = VT_DISPATCH;
        pdispVal = p;
        if (p) p->AddRef();
    }
    Variant(const Variant& other) : Variant(static_cast<const VARIANT&>(other)) {}
    Variant(Variant&& other) noexcept {
        *static_cast<VARIANT*>(this) = other;
        VariantInit(&other);
    }
    Variant& operator=(Variant other) noexcept {
        std::swap(*static_cast<VARIANT*>(this), *static_cast<VARIANT*>(&other));
        return *this;
    }
    ~Variant() { VariantClear(this); }

    void Clear() noexcept { VariantClear(this); }
    VARIANT* Out() noexcept {
        Clear();
        return this;
    }
    VARIANT Detach() noexcept {
        VARIANT v = *this;
        VariantInit(this);
        return v;
    }

private:
    static void Check(HRESULT hr) {
        if (FAILED(hr)) ThrowHResult(hr);
    }
};

// A C runtime file, closed on every path.
struct FileCloser {
    void operator()(FILE* f) const noexcept { fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// Formats with the Microsoft runtime's wide conventions (%s is wide text) into a zeroed buffer of
// `capacity` UTF-16 units; longer results are cut. Formats are always our own literals.
std::wstring FormatCapped(size_t capacity, const wchar_t* format, ...);
std::wstring FormatCappedV(size_t capacity, const wchar_t* format, va_list args);
// The usual case: a buffer of 2048 units.
std::wstring Format(const wchar_t* format, ...);
// Same for narrow texts (the few ANSI messages of the server).
std::string FormatA(const char* format, ...);

// The registry form of a GUID: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
std::wstring GuidText(REFGUID guid);
// The environment as the calling thread sees it: every read of the product goes through these
// four, which give a variable the thread overrides (below) its override.
// A variable; nullopt when it is not set (set to empty is set).
std::optional<std::wstring> EnvironmentValue(const wchar_t* name);
// Whether the variable is set to exactly `value`; compared without allocating while the value is
// short (under 128 characters).
bool EnvironmentValueIs(const wchar_t* name, std::wstring_view value);
// `text` with its "%NAME%" references expanded as the system does: a reference to a variable that
// is not set stays as written, and so does a text beyond the system's limit (32K characters).
std::wstring ExpandEnvironment(const std::wstring& text);
// All variables as one text ("NAME=value" each ended by a NUL), the thread's overrides last.
std::wstring EnvironmentBlock();

// For its lifetime, the calling thread sees `value` as the environment variable `name` (names
// compare without case): one call can take another installation root without changing the process
// environment that other threads read.
class ThreadEnvironmentOverride {
public:
    ThreadEnvironmentOverride(std::wstring name, std::wstring value);
    ~ThreadEnvironmentOverride();
    ThreadEnvironmentOverride(const ThreadEnvironmentOverride&) = delete;
    ThreadEnvironmentOverride& operator=(const ThreadEnvironmentOverride&) = delete;

    // Whether the calling thread overrides any variable now.
    static bool Active() noexcept;
};

// Conversions with the thread's ANSI code page.
std::wstring FromAnsi(std::string_view text);
std::string ToAnsi(std::wstring_view text);
// UTF-8 conversions for files.
std::string ToUtf8(std::wstring_view text);
std::wstring FromUtf8(std::string_view text);

}  // namespace qarn
