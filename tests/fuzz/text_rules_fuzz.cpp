// libFuzzer target (native build): the string and path rules and the two formatters on arbitrary
// texts. Byte 0 is the trim character and byte 1 the formatter's capacity; the rest is split at
// the first 0xFF byte into a format (or path) and an argument.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "FuzzCheck.h"
#include <string>

#include "base/com/TextRules.h"

using namespace qarn::text;

namespace {
std::wstring Widen(const uint8_t* p, size_t n) {
    std::wstring s;
    for (size_t i = 0; i < n; ++i) s += static_cast<wchar_t>(p[i]);
    return s;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const wchar_t trim = static_cast<wchar_t>(data[0]);
    const size_t capacity = data[1];
    const uint8_t* rest = data + 2;
    const size_t restSize = size - 2;
    size_t split = 0;
    while (split < restSize && rest[split] != 0xFF) ++split;
    const std::wstring first = Widen(rest, split);
    const std::wstring second = split < restSize ? Widen(rest + split + 1, restSize - split - 1) : std::wstring();

    const std::wstring_view left = TrimLeft(first, trim), right = TrimRight(first, trim);
    Require(left.size() <= first.size() && right.size() <= first.size());
    Require(trim == 0 || left.empty() || left.front() != trim);
    Require(PadDocumentNumber(first).size() == std::max(first.size(), kDocumentNumberLength));
    Require(SubStr(first, second.size(), capacity).size() <= capacity);

    const std::wstring_view extension = ExtensionOf(first), stem = WithoutExtension(first);
    Require(extension.empty() || stem.size() + 1 + extension.size() == first.size());
    const std::wstring_view name = NameOfPath(first), folder = DirectoryOfPath(first);
    Require(name.find(L'\\') == std::wstring_view::npos);
    Require(folder.empty() ? name.size() + (first.find(L'\\') == 0 ? 1 : 0) <= first.size()
                           : folder.size() + 1 + name.size() == first.size());
    for (std::wstring_view token : PathTokens(first)) Require(!token.empty());
    if (DeviceOfPath(first) != DeviceKind::None) Require(!first.empty());

    Require(EscapeXml(first).find_first_of(L"<>\"'") == std::wstring::npos);
    Require(EscapeFormat(first).size() >= first.size());

    const std::wstring filled = FillTemplate(first, {second, std::nullopt}, capacity);
    Require(filled.size() + 1 <= std::max<size_t>(capacity, 1));
    std::wstring error;
    const auto formatted = FormatOneText(first, second, capacity, error);
    Require(formatted ? formatted->size() + 1 <= std::max<size_t>(capacity, 1) : !error.empty());
    return 0;
}
