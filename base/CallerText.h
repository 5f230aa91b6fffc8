// A caller's texts as the methods compare and format them.
#pragma once

#include "base/ConnectorInterfaces.h"
#include "TextRules.h"

#include <string_view>

namespace qarn {
// A caller's text as formatting and the string methods see it: up to its first NUL; null stays null.
inline text::TextArg Arg(BSTR s) {
    if (!s) return std::nullopt;
    return text::UpToNul(s, SysStringLen(s));
}

// Equal texts when letter case is ignored (ordinal comparison, as for file and property names).
inline bool EqualIgnoringCase(std::wstring_view a, std::wstring_view b) {
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}
}  // namespace qarn
