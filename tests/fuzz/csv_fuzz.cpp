// libFuzzer target (native build): the text-mode line splitting and the two CSV
// splitters on arbitrary bytes. Byte 0 picks the column separator, byte 1 the number of token
// delimiters that follow it; the rest is the file content.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "FuzzCheck.h"
#include <string>
#include <string_view>

#include "base/com/TextRules.h"

using namespace qarn::text;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const wchar_t separator = static_cast<wchar_t>(data[0]);
    const size_t delimiterCount = std::min<size_t>(data[1] % 8, size - 2);
    std::wstring delimiters;
    for (size_t i = 0; i < delimiterCount; ++i) delimiters += static_cast<wchar_t>(data[2 + i]);
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 2 + delimiterCount, size - 2 - delimiterCount);

    const std::string_view text = bytes.substr(0, std::min(bytes.find('\x1A'), bytes.size()));
    size_t previousEnd = 0;
    bool first = true;
    for (const Span& line : SplitTextModeLines(bytes)) {
        // Inside the text before any Ctrl-Z, each after the one before and its break (CR LF is one).
        Require(line.begin <= line.end && line.end <= text.size());
        Require(first || line.begin == previousEnd + 1 ||
                (line.begin == previousEnd + 2 && text.substr(previousEnd, 2) == "\r\n"));
        first = false;
        previousEnd = line.end;
        std::wstring widened;
        for (size_t at = line.begin; at < line.end; ++at) widened += static_cast<wchar_t>(static_cast<unsigned char>(bytes[at]));
        const std::wstring_view content(widened);
        Require(content.find_first_of(L"\r\n") == std::wstring_view::npos);

        // Tokens: inside the line, never empty, never holding a delimiter.
        for (std::wstring_view token : SplitTokens(content, delimiters)) {
            Require(!token.empty() || delimiters.empty());
            Require(token.data() >= content.data() && token.data() + token.size() <= content.data() + content.size());
            Require(token.find_first_of(delimiters) == std::wstring_view::npos || delimiters.empty());
        }
        // Columns: joined again with the separator they give the line back.
        std::wstring joined;
        const auto columns = SplitColumns(content, separator);
        Require(!columns.empty());
        for (size_t i = 0; i < columns.size(); ++i) {
            if (i) joined += separator;
            joined += columns[i];
        }
        Require(joined == content);
    }
    return 0;
}
