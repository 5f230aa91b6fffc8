#include "TextRules.h"

#include <algorithm>

namespace qarn::text {

namespace {

constexpr std::wstring_view kNullText = L"(null)";

// Appends to `out` without letting it grow beyond `limit` characters.
void AppendCapped(std::wstring& out, std::wstring_view piece, size_t limit) {
    if (out.size() >= limit) return;
    out.append(piece.substr(0, limit - out.size()));
}

void AppendRepeated(std::wstring& out, wchar_t c, size_t count, size_t limit) {
    if (out.size() >= limit) return;
    out.append(std::min(count, limit - out.size()), c);
}

// A parsed printf conversion: "%", flags, width, precision, length modifiers, conversion letter.
struct Conversion {
    size_t length = 0;  // characters from the "%" to the conversion letter, both included
    bool leftAlign = false;
    size_t width = 0;
    std::optional<size_t> precision;
    bool star = false;  // width or precision taken from an argument
    bool complete = false;
    std::wstring_view modifier;
    wchar_t letter = 0;
};

size_t ReadNumber(std::wstring_view s, size_t& i) {
    size_t value = 0;
    while (i < s.size() && s[i] >= L'0' && s[i] <= L'9') {
        // Saturate: a width of a billion is as good as infinite against any capacity.
        value = value > 100000000 ? value : value * 10 + static_cast<size_t>(s[i] - L'0');
        ++i;
    }
    return value;
}

Conversion ParseConversion(std::wstring_view s, size_t percent) {
    Conversion c;
    size_t i = percent + 1;
    while (i < s.size() && std::wstring_view(L"-+ #0").find(s[i]) != std::wstring_view::npos) {
        if (s[i] == L'-') c.leftAlign = true;
        ++i;
    }
    if (i < s.size() && s[i] == L'*') {
        c.star = true;
        ++i;
    } else {
        c.width = ReadNumber(s, i);
    }
    if (i < s.size() && s[i] == L'.') {
        ++i;
        if (i < s.size() && s[i] == L'*') {
            c.star = true;
            ++i;
        } else {
            c.precision = ReadNumber(s, i);
        }
    }
    const size_t modifierStart = i;
    while (i < s.size() && std::wstring_view(L"hlLwIjztq0123456789").find(s[i]) != std::wstring_view::npos) ++i;
    c.modifier = s.substr(modifierStart, i - modifierStart);
    if (i < s.size()) {
        c.letter = s[i];
        c.complete = true;
        ++i;
    }
    c.length = i - percent;
    return c;
}

// "%s" with a wide text argument in the Microsoft runtime's wide formatter: no modifier, or "l"/"w".
bool IsWideTextConversion(const Conversion& c) {
    return c.complete && c.letter == L's' && !c.star && (c.modifier.empty() || c.modifier == L"l" || c.modifier == L"w");
}

}  // namespace

std::wstring_view UpToNul(const wchar_t* s, size_t length) {
    if (!s) return {};
    std::wstring_view all(s, length);
    return all.substr(0, std::min(all.find(L'\0'), all.size()));
}

std::wstring_view TrimLeft(std::wstring_view s, wchar_t c) {
    if (c == L'\0') return s;
    const size_t first = s.find_first_not_of(c);
    return first == std::wstring_view::npos ? std::wstring_view() : s.substr(first);
}

std::wstring_view TrimRight(std::wstring_view s, wchar_t c) {
    if (c == L'\0') return s;
    const size_t last = s.find_last_not_of(c);
    return last == std::wstring_view::npos ? std::wstring_view() : s.substr(0, last + 1);
}

std::wstring PadDocumentNumber(std::wstring_view digits) {
    std::wstring result;
    if (digits.size() < kDocumentNumberLength) result.assign(kDocumentNumberLength - digits.size(), L'0');
    result.append(digits);
    return result;
}

std::wstring_view SubStr(std::wstring_view s, size_t start, size_t length) {
    return s.substr(std::min(start, s.size()), length);
}

std::wstring_view ExtensionOf(std::wstring_view name) {
    const size_t dot = name.rfind(L'.');
    return dot == std::wstring_view::npos ? std::wstring_view() : name.substr(dot + 1);
}

std::wstring_view WithoutExtension(std::wstring_view name) {
    const size_t dot = name.rfind(L'.');
    return dot == std::wstring_view::npos ? name : name.substr(0, dot);
}

std::wstring_view NameOfPath(std::wstring_view path) {
    const size_t slash = path.rfind(L'\\');
    return slash == std::wstring_view::npos ? path : path.substr(slash + 1);
}

std::wstring_view DirectoryOfPath(std::wstring_view path) {
    const size_t slash = path.rfind(L'\\');
    return slash == std::wstring_view::npos ? std::wstring_view() : path.substr(0, slash);
}

std::vector<std::wstring_view> PathTokens(std::wstring_view path) {
    return SplitTokens(path, L"\\");
}

TransactionFilePaths TransactionFiles(std::wstring_view root, std::wstring_view file) {
    std::wstring xml;
    if (!root.empty()) {
        xml.assign(root);
        xml += L"\\xml\\";
    }
    TransactionFilePaths paths;
    paths.regular = xml;
    paths.regular += file;
    paths.customer = xml + L"Customer_";
    paths.customer += file;
    paths.xslFolder = root.empty() ? std::wstring(L"xml\\xsl") : xml + L"xsl";
    return paths;
}

namespace {

wchar_t Upper(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

bool SameLetters(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Upper(a[i]) != Upper(b[i])) return false;
    return true;
}

bool IsDigits(std::wstring_view s) {
    if (s.empty()) return false;
    for (wchar_t c : s)
        if (c < L'0' || c > L'9') return false;
    return true;
}

// A reserved name as it stands, without extension or trailing blanks.
DeviceKind ReservedName(std::wstring_view name) {
    if (SameLetters(name, L"NUL")) return DeviceKind::Discard;
    for (std::wstring_view reserved : {L"CON", L"CONIN$", L"CONOUT$", L"PRN", L"AUX"})
        if (SameLetters(name, reserved)) return DeviceKind::Interactive;
    if (name.size() == 4 && (SameLetters(name.substr(0, 3), L"COM") || SameLetters(name.substr(0, 3), L"LPT")) &&
        name[3] >= L'1' && name[3] <= L'9')
        return DeviceKind::Interactive;
    return DeviceKind::None;
}

}  // namespace

DeviceKind DeviceOfPath(std::wstring_view path) {
    const bool deviceNamespace = path.size() >= 4 && (path[0] == L'\\' || path[0] == L'/') &&
                                 (path[1] == L'\\' || path[1] == L'/') && (path[2] == L'.' || path[2] == L'?') &&
                                 (path[3] == L'\\' || path[3] == L'/');
    if (deviceNamespace) {
        std::wstring_view rest = path.substr(4);
        const size_t end = rest.find_first_of(L"\\/");
        const std::wstring_view device = rest.substr(0, end);
        if (device.size() == 2 && device[1] == L':') return DeviceKind::None;  // a drive
        if (SameLetters(device, L"UNC") && end != std::wstring_view::npos) return DeviceKind::None;  // a share
        if (end == std::wstring_view::npos) {
            if (const DeviceKind kind = ReservedName(device); kind != DeviceKind::None) return kind;
            if (device.size() > 3 && (SameLetters(device.substr(0, 3), L"COM") || SameLetters(device.substr(0, 3), L"LPT")) &&
                IsDigits(device.substr(3)))
                return DeviceKind::Interactive;
        }
        return DeviceKind::Other;
    }
    const size_t slash = path.find_last_of(L"\\/");
    std::wstring_view name = slash == std::wstring_view::npos ? path : path.substr(slash + 1);
    if (name.size() >= 2 && name[1] == L':' && Upper(name[0]) >= L'A' && Upper(name[0]) <= L'Z') name.remove_prefix(2);
    if (const size_t dot = name.find(L'.'); dot != std::wstring_view::npos) name = name.substr(0, dot);
    while (!name.empty() && (name.back() == L' ' || name.back() == L':')) name.remove_suffix(1);
    return ReservedName(name);
}

std::wstring EscapeXml(std::wstring_view s) {
    std::wstring out;
    out.reserve(s.size());
    for (wchar_t c : s) {
        switch (c) {
            case L'&': out += L"&amp;"; break;
            case L'<': out += L"&lt;"; break;
            case L'>': out += L"&gt;"; break;
            case L'\'': out += L"&apos;"; break;
            case L'"': out += L"&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

std::wstring EscapeFormat(std::wstring_view s) {
    std::wstring out;
    out.reserve(s.size());
    for (wchar_t c : s) {
        out += c;
        if (c == L'%') out += L'%';
    }
    return out;
}

std::wstring FillTemplate(std::wstring_view format, const std::vector<TextArg>& args, size_t capacity) {
    const size_t limit = capacity > 0 ? capacity - 1 : 0;
    std::wstring out;
    size_t next = 0;
    size_t i = 0;
    while (i < format.size() && out.size() < limit) {
        const size_t percent = format.find(L'%', i);
        AppendCapped(out, format.substr(i, percent == std::wstring_view::npos ? std::wstring_view::npos : percent - i), limit);
        if (percent == std::wstring_view::npos) break;
        if (percent + 1 < format.size() && format[percent + 1] == L'%') {
            AppendCapped(out, L"%", limit);
            i = percent + 2;
            continue;
        }
        const Conversion c = ParseConversion(format, percent);
        if (IsWideTextConversion(c) && next < args.size()) {
            const TextArg& arg = args[next++];
            std::wstring_view value = arg ? *arg : kNullText;
            if (c.precision) value = value.substr(0, *c.precision);
            const size_t pad = c.width > value.size() ? c.width - value.size() : 0;
            if (!c.leftAlign) AppendRepeated(out, L' ', pad, limit);
            AppendCapped(out, value, limit);
            if (c.leftAlign) AppendRepeated(out, L' ', pad, limit);
        } else {
            // Not ours to fill: kept as written.
            AppendCapped(out, format.substr(percent, c.length), limit);
        }
        i = percent + c.length;
    }
    return out;
}

std::optional<std::wstring> FormatOneText(std::wstring_view format, TextArg arg, size_t capacity, std::wstring& error) {
    // Refuse first, so that an unsupported format never gives a partial text.
    bool seenText = false;
    for (size_t i = format.find(L'%'); i != std::wstring_view::npos; i = format.find(L'%', i)) {
        if (i + 1 < format.size() && format[i + 1] == L'%') {
            i += 2;
            continue;
        }
        const Conversion c = ParseConversion(format, i);
        const std::wstring conversion(format.substr(i, c.length));
        if (!c.complete) {
            error = L"The format ends with an incomplete conversion \"" + conversion + L"\" at position " +
                    std::to_wstring(i) + L"; write \"%%\" for a percent sign.";
            return std::nullopt;
        }
        if (!IsWideTextConversion(c)) {
            error = L"The format holds the conversion \"" + conversion + L"\" at position " + std::to_wstring(i) +
                    L"; only one \"%s\" (and \"%%\" for a percent sign) can be formatted.";
            return std::nullopt;
        }
        if (seenText) {
            error = L"The format holds a second conversion \"" + conversion + L"\" at position " + std::to_wstring(i) +
                    L"; only one \"%s\" can be formatted.";
            return std::nullopt;
        }
        seenText = true;
        i += c.length;
    }
    return FillTemplate(format, {arg}, capacity);
}

std::vector<Span> SplitTextModeLines(std::string_view bytes) {
    const std::string_view text = bytes.substr(0, std::min(bytes.find('\x1A'), bytes.size()));
    std::vector<Span> lines;
    if (text.empty()) return lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\n' && c != '\r') continue;
        lines.push_back({start, i});
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;  // CR LF is one break
        start = i + 1;
    }
    lines.push_back({start, text.size()});
    return lines;
}

std::vector<std::wstring_view> SplitTokens(std::wstring_view line, std::wstring_view delimiters) {
    std::vector<std::wstring_view> tokens;
    size_t i = 0;
    while (i < line.size()) {
        const size_t begin = line.find_first_not_of(delimiters, i);
        if (begin == std::wstring_view::npos) break;
        size_t end = line.find_first_of(delimiters, begin);
        if (end == std::wstring_view::npos) end = line.size();
        tokens.push_back(line.substr(begin, end - begin));
        i = end;
    }
    return tokens;
}

std::vector<std::wstring_view> SplitColumns(std::wstring_view line, wchar_t separator) {
    std::vector<std::wstring_view> columns;
    size_t start = 0;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == separator) {
            columns.push_back(line.substr(start, i - start));
            start = i + 1;
        }
    }
    columns.push_back(line.substr(start));
    return columns;
}

std::optional<std::wstring> HardwareAddressText(const unsigned char* bytes, size_t length) {
    if (!bytes || (length != 6 && length != 8)) return std::nullopt;
    constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
    std::wstring address;
    address.reserve(length * 3);
    for (size_t i = 0; i < length; ++i) {
        if (i > 0) address += L'-';
        address += kDigits[bytes[i] >> 4];
        address += kDigits[bytes[i] & 0x0F];
    }
    return address;
}

}  // namespace qarn::text
