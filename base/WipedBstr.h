// BSTRs and VARIANTs that may hold clear text: zeroed before they are freed. OLE Automation keeps
// freed BSTR blocks in a cache and hands them out again without clearing them, so a BSTR is zeroed
// before SysFreeString, never after.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <utility>

#include "base/Wipe.h"

namespace qarn::secure {

// Zeroes the characters of `s`; the BSTR stays allocated.
inline void ZeroBstr(BSTR s) noexcept {
    if (s) SecureZero(s, SysStringByteLen(s));
}

// Zeroes and frees `s`.
inline void WipeBstr(BSTR s) noexcept {
    ZeroBstr(s);
    SysFreeString(s);
}

// Zeroes the text of a BSTR variant; other contents are left alone. The variant keeps its type.
inline void ZeroVariantText(VARIANT& v) noexcept {
    if (v.vt == VT_BSTR) ZeroBstr(v.bstrVal);
}

// VariantClear after zeroing a text.
inline void WipeVariant(VARIANT& v) noexcept {
    ZeroVariantText(v);
    VariantClear(&v);
}

// An owned BSTR that is zeroed before it is freed.
class WipedBstr {
public:
    WipedBstr() = default;
    ~WipedBstr() { Reset(); }
    WipedBstr(const WipedBstr&) = delete;
    WipedBstr& operator=(const WipedBstr&) = delete;

    // Frees the current text and hands out the slot for an [out] BSTR* argument.
    BSTR* Out() noexcept {
        Reset();
        return &s_;
    }
    BSTR get() const noexcept { return s_; }
    operator BSTR() const noexcept { return s_; }
    bool IsNull() const noexcept { return s_ == nullptr; }
    BSTR Detach() noexcept { return std::exchange(s_, nullptr); }
    void Reset() noexcept { WipeBstr(std::exchange(s_, nullptr)); }

private:
    BSTR s_ = nullptr;
};

// An owned VARIANT whose text is zeroed before it is cleared.
struct WipedVariant : VARIANT {
    WipedVariant() noexcept { VariantInit(this); }
    ~WipedVariant() { WipeVariant(*this); }
    WipedVariant(const WipedVariant&) = delete;
    WipedVariant& operator=(const WipedVariant&) = delete;
    VARIANT* Out() noexcept {
        WipeVariant(*this);
        return this;
    }
};

}  // namespace qarn::secure
