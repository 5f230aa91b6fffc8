// The reversible encoding of a name/value pair into an encrypted value text and back. Plain C++
// without Windows calls (it also builds natively for fuzzing); texts are UTF-16 code units.
//
// The encrypted text is a block of N 16-bit words (N a multiple of 64) written as 4·N hex digits:
// a header with key hashes, creation time, lengths, positions and checksums, filler words, the
// name, the value and a check word; words 3 … N−2 are chained with keys derived from the name and
// from a fixed key text, so that a value decrypts only under the name it was encrypted with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "base/Wipe.h"

namespace qarn::secure {

using Words = std::vector<uint16_t, ZeroingAllocator<uint16_t>>;
// A text that is wiped when released (no small-string buffer that could escape the wiping).
using SecretText = std::vector<char16_t, ZeroingAllocator<char16_t>>;

// A caller's text: nullopt is a missing (null) text, distinct from an empty one.
using Text = std::optional<std::u16string_view>;

// The outcome of an operation; its text ("0xE0000000" ...) is the error description.
enum class Code : uint32_t {
    Ok = 0,
    EncryptNameMissing = 0xE0000000,
    EncryptValueMissing = 0xE0000001,
    EncryptValueEmpty = 0xE0010000,
    EncryptNameEmpty = 0xE0020000,
    EncryptNameKeyMemory = 0xE0100000,
    EncryptFixedKeyMemory = 0xE0110000,
    EncryptBlockMemory = 0xE0120000,
    DecryptNameMissing = 0xD0000000,
    DecryptTextMissing = 0xD0000001,
    DecryptTextForm = 0xD0010000,
    DecryptNameEmpty = 0xD0020000,
    DecryptHeader = 0xD0030000,
    DecryptNameLength = 0xD0040000,
    DecryptName = 0xD0050000,
    DecryptValuePosition = 0xD0060000,
    DecryptValueLength = 0xD0070000,
    DecryptValueChecksum = 0xD0080000,
    DecryptOutsideBlock = 0xD0090000,  // a stored position or length points outside the block
    DecryptNotHex = 0xD00A0000,        // a character of the text is no hexadecimal digit
    DecryptNameKeyMemory = 0xD0100000,
    DecryptFixedKeyMemory = 0xD0110000,
    DecryptWordMemory = 0xD0120000,
    DecryptStoredNameMemory = 0xD0130000,
    DecryptValueMemory = 0xD0140000,
};

// "0x%08X" of the code, e.g. "0xD0030000".
const char* CodeText(Code code) noexcept;

// Receives the trace of one call when tracing is switched on.
class TraceSink {
public:
    virtual ~TraceSink() = default;
    // One trace line (the receiver adds date, time and level).
    virtual void Line(std::u16string_view text) = 0;
    // Text appended as it is, without a line prefix.
    virtual void Raw(std::u16string_view text) = 0;
};

// Layout of a block for a name of `nameLength` and a value of `valueLength` code units.
struct Layout {
    size_t words;          // N
    size_t filler;         // P
    size_t namePosition;   // 19 + P
    size_t valuePosition;  // name position + name length
};
Layout LayoutFor(size_t nameLength, size_t valueLength);

constexpr size_t kHeaderWords = 19;
constexpr size_t kBlockUnit = 64;

// Encrypts `value` under `name`; `time` is the creation time in seconds since 1970.
Code Encrypt(Text name, Text value, int64_t time, SecretText& out, TraceSink* trace = nullptr);
// Decrypts an encrypted value text made under `name`.
Code Decrypt(Text name, Text text, SecretText& out, TraceSink* trace = nullptr);
// The plain words of a block (unchained, header checked), for inspection: Ok or the header code.
Code OpenBlock(std::u16string_view name, std::u16string_view text, Words& words);

// Building blocks, exposed for tests.
uint64_t ComputeChecksum(std::u16string_view text, TraceSink* trace = nullptr);
uint16_t PrepareKey(std::u16string_view text, Words& key);
uint16_t FoldKey(uint16_t seed, const uint16_t* words, size_t count);
int HexDigitValue(char16_t c) noexcept;

}  // namespace qarn::secure
