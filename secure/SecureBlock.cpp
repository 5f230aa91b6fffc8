#include "secure/SecureBlock.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <new>
#include <string>

namespace qarn::secure {

namespace {

// The fixed key material of the stored format. Texts encrypted with it must stay readable:
// these values never change.
constexpr std::u16string_view kFixedKeyText = u"{818F6B56-A764-438A-B596-4B7F293917BC}";
constexpr std::u16string_view kKeyPadText = u"{4D5CA6C9-9301-4FC0-A456-580DE37081D4}";
constexpr uint16_t kKeyStartValue = 0x847E;
constexpr uint16_t kFillerTable[64] = {
    0x065D, 0xBB0A, 0x2B90, 0x1D42, 0xCC2C, 0x988B, 0x3065, 0x0577, 0x90C2, 0x38D4, 0xB570, 0x042D, 0xEC9F,
    0xFCA5, 0x2BDB, 0x7C3F, 0x29C0, 0x3368, 0xB976, 0x5F3F, 0x13F0, 0x8238, 0x6893, 0x22FC, 0xADFB, 0x44E8,
    0xD2C0, 0x7A3F, 0xEC0F, 0xDCBB, 0x85CA, 0x6FFC, 0xC488, 0xDF69, 0x3954, 0xADFD, 0x9495, 0xC120, 0x7CE9,
    0x4198, 0x8FB5, 0x2675, 0xC693, 0xFF2A, 0x1AB2, 0xF6D5, 0x6863, 0xE1D2, 0xAF0D, 0xA47E, 0x0F86, 0x4659,
    0xF27C, 0xDFF2, 0xF956, 0xAD83, 0x22A1, 0xDC4A, 0xCF0C, 0x0BBF, 0xC15E, 0x5406, 0xEBF5, 0xC61D};

// Word indexes of the header.
enum : size_t {
    kNameHash = 0,
    kHashXor = 1,
    kHashMix = 2,
    kTime = 3,
    kNameLength = 7,
    kValueLength = 9,
    kNamePosition = 11,
    kValuePosition = 13,
    kNameChecksumHigh = 15,
    kValueChecksumHigh = 16,
    kNameChecksumLow = 17,
    kValueChecksumLow = 18,
};

// The largest text either side may have: every stored length and position stays below 2^31,
// and 4·N hex digits must fit a size_t.
constexpr size_t kMaxWords = std::min<size_t>(size_t{1} << 30, std::numeric_limits<size_t>::max() / 8);

uint16_t Rotl16(uint16_t v, unsigned n) noexcept {
    n &= 15;
    return n == 0 ? v : static_cast<uint16_t>((v << n) | (v >> (16 - n)));
}

void Put32(Words& w, size_t at, uint32_t v) {
    w[at] = static_cast<uint16_t>(v >> 16);
    w[at + 1] = static_cast<uint16_t>(v);
}

int32_t Get32(const Words& w, size_t at) {
    return static_cast<int32_t>((static_cast<uint32_t>(w[at]) << 16) | w[at + 1]);
}

uint32_t StoredValueChecksum(const Words& w) {
    return (static_cast<uint32_t>(w[kValueChecksumHigh]) << 16) | w[kValueChecksumLow];
}

// Both key constants of the chain at once: FoldKey(FoldKey(x, name key), fixed key) is x XOR this.
uint16_t ChainKey(const Words& nameKey, const Words& fixedKey) {
    return FoldKey(FoldKey(0, nameKey.data(), nameKey.size()), fixedKey.data(), fixedKey.size());
}

// PrepareKey, with the code to report when its buffer cannot be allocated.
bool TryPrepareKey(std::u16string_view text, Words& key, uint16_t& hash) {
    try {
        hash = PrepareKey(text, key);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

uint16_t HashMix(uint16_t hn, uint16_t hf) { return static_cast<uint16_t>(((hn << 8) | hf) & 0xFFFF); }

// ---- trace texts ---------------------------------------------------------------------------

std::u16string Ascii(const char* s) {
    std::u16string out;
    while (*s) out += static_cast<char16_t>(static_cast<unsigned char>(*s++));
    return out;
}

std::u16string HexNumber(uint32_t v) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%x", static_cast<unsigned>(v));
    return Ascii(buffer);
}

std::u16string Compare(const char* what, uint32_t stored, uint32_t expected) {
    return Ascii(what) + u": est(" + HexNumber(stored) + u")->(" + HexNumber(expected) + u")";
}

std::u16string_view View(const SecretText& text) { return std::u16string_view(text.data(), text.size()); }

// A trace line that carries clear text (a name, a value, a checksummed text), in a string that is
// zeroed when it is released.
template <class... Parts>
SecretU16String Joined(const Parts&... parts) {
    SecretU16String line;
    (line.append(std::u16string_view(parts)), ...);
    return line;
}

// Trace writing never makes an operation fail.
template <class F>
void Trace(TraceSink* sink, F&& make) {
    if (!sink) return;
    try {
        make(*sink);
    } catch (...) {
    }
}

void TraceStart(TraceSink* sink, const char16_t* title, const Text& name, const Text& value) {
    Trace(sink, [&](TraceSink& t) {
        t.Line(title);
        if (name && value) t.Line(Joined(u"\nName: ", *name, u"\nValue: ", *value));
    });
}

}  // namespace

const char* CodeText(Code code) noexcept {
    switch (code) {
        case Code::Ok: return "0x00000000";
        case Code::EncryptNameMissing: return "0xE0000000";
        case Code::EncryptValueMissing: return "0xE0000001";
        case Code::EncryptValueEmpty: return "0xE0010000";
        case Code::EncryptNameEmpty: return "0xE0020000";
        case Code::EncryptNameKeyMemory: return "0xE0100000";
        case Code::EncryptFixedKeyMemory: return "0xE0110000";
        case Code::EncryptBlockMemory: return "0xE0120000";
        case Code::DecryptNameMissing: return "0xD0000000";
        case Code::DecryptTextMissing: return "0xD0000001";
        case Code::DecryptTextForm: return "0xD0010000";
        case Code::DecryptNameEmpty: return "0xD0020000";
        case Code::DecryptHeader: return "0xD0030000";
        case Code::DecryptNameLength: return "0xD0040000";
        case Code::DecryptName: return "0xD0050000";
        case Code::DecryptValuePosition: return "0xD0060000";
        case Code::DecryptValueLength: return "0xD0070000";
        case Code::DecryptValueChecksum: return "0xD0080000";
        case Code::DecryptOutsideBlock: return "0xD0090000";
        case Code::DecryptNotHex: return "0xD00A0000";
        case Code::DecryptNameKeyMemory: return "0xD0100000";
        case Code::DecryptFixedKeyMemory: return "0xD0110000";
        case Code::DecryptWordMemory: return "0xD0120000";
        case Code::DecryptStoredNameMemory: return "0xD0130000";
        case Code::DecryptValueMemory: return "0xD0140000";
    }
    return "0xFFFFFFFF";
}

Layout LayoutFor(size_t nameLength, size_t valueLength) {
    const size_t used = nameLength + valueLength + kHeaderWords + 1;
    const size_t words = (used + kBlockUnit - 1) / kBlockUnit * kBlockUnit;
    const size_t filler = words - used;
    return {words, filler, kHeaderWords + filler, kHeaderWords + filler + nameLength};
}

uint64_t ComputeChecksum(std::u16string_view text, TraceSink* trace) {
    uint64_t sum = 0;
    for (char16_t c : text) sum += c;
    Trace(trace, [&](TraceSink& t) {
        t.Line(Joined(u"len=", Ascii(std::to_string(text.size()).c_str()), u", res=", HexNumber(static_cast<uint32_t>(sum)),
                      u", data=", text, u"\n"));
    });
    return sum;
}

uint16_t PrepareKey(std::u16string_view text, Words& key) {
    const size_t length = std::max<size_t>(text.size(), 16);
    key.assign(length, 0);
    uint16_t k = kKeyStartValue, h = 0;
    for (size_t i = 0; i < length; ++i) {
        const uint16_t c = i < text.size() ? text[i] : kKeyPadText[i];
        key[i] = static_cast<uint16_t>(c ^ k);
        h = static_cast<uint16_t>(h ^ Rotl16(c, c & 7));
        k = static_cast<uint16_t>(k ^ h);
    }
    return h;
}

uint16_t FoldKey(uint16_t seed, const uint16_t* words, size_t count) {
    uint16_t r = seed;
    for (size_t i = count; i-- > 0;) r = static_cast<uint16_t>(r ^ Rotl16(words[i], static_cast<unsigned>((i & 7) + 1)));
    return r;
}

int HexDigitValue(char16_t c) noexcept {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    return -1;
}

Code Encrypt(Text name, Text value, int64_t time, SecretText& out, TraceSink* trace) {
    out.clear();
    TraceStart(trace, u"Encrypt", name, value);
    if (!name) return Code::EncryptNameMissing;
    if (!value) return Code::EncryptValueMissing;
    if (value->empty()) return Code::EncryptValueEmpty;
    if (name->empty()) return Code::EncryptNameEmpty;
    if (name->size() >= kMaxWords || value->size() >= kMaxWords || name->size() + value->size() + kBlockUnit >= kMaxWords)
        return Code::EncryptBlockMemory;

    const Layout layout = LayoutFor(name->size(), value->size());
    const size_t n = layout.words;
    const uint64_t nameSum = ComputeChecksum(*name, trace), valueSum = ComputeChecksum(*value, trace);

    Words block, nameKey, fixedKey;
    try {
        block.assign(n, 0);
    } catch (const std::bad_alloc&) {
        return Code::EncryptBlockMemory;
    }
    const uint64_t t = static_cast<uint64_t>(time);
    for (size_t i = 0; i < 4; ++i) block[kTime + i] = static_cast<uint16_t>(t >> (16 * i));
    Put32(block, kNameLength, static_cast<uint32_t>(name->size()));
    Put32(block, kValueLength, static_cast<uint32_t>(value->size()));
    Put32(block, kNamePosition, static_cast<uint32_t>(layout.namePosition));
    Put32(block, kValuePosition, static_cast<uint32_t>(layout.valuePosition));
    block[kNameChecksumHigh] = static_cast<uint16_t>(nameSum >> 16);
    block[kValueChecksumHigh] = static_cast<uint16_t>(valueSum >> 16);
    block[kNameChecksumLow] = static_cast<uint16_t>(nameSum);
    block[kValueChecksumLow] = static_cast<uint16_t>(valueSum);
    for (size_t i = kHeaderWords; i < kHeaderWords + layout.filler; ++i)
        block[i] = kFillerTable[(block[i - 16] ^ block[kValueChecksumHigh] ^ block[kValueChecksumLow]) & 63];
    std::copy(name->begin(), name->end(), block.begin() + static_cast<std::ptrdiff_t>(layout.namePosition));
    std::copy(value->begin(), value->end(), block.begin() + static_cast<std::ptrdiff_t>(layout.valuePosition));

    uint16_t hn, hf;
    if (!TryPrepareKey(*name, nameKey, hn)) return Code::EncryptNameKeyMemory;
    if (!TryPrepareKey(kFixedKeyText, fixedKey, hf)) return Code::EncryptFixedKeyMemory;
    block[kNameHash] = hn;
    block[kHashXor] = static_cast<uint16_t>(hn ^ hf);
    block[kHashMix] = HashMix(hn, hf);
    const uint16_t chain = ChainKey(nameKey, fixedKey);
    for (size_t i = kTime; i <= n - 2; ++i) block[i] = static_cast<uint16_t>(block[i] ^ chain ^ block[i - 1]);
    block[n - 1] = FoldKey(hf, block.data(), n - 1);

    static constexpr char16_t kDigits[] = u"0123456789abcdef";
    try {
        out.resize(4 * n);
    } catch (const std::bad_alloc&) {
        return Code::EncryptBlockMemory;
    }
    for (size_t i = 0; i < n; ++i) {
        const uint16_t w = block[i];
        out[4 * i] = kDigits[(w >> 12) & 15];
        out[4 * i + 1] = kDigits[(w >> 4) & 15];
        out[4 * i + 2] = kDigits[(w >> 8) & 15];
        out[4 * i + 3] = kDigits[w & 15];
    }
    Trace(trace, [&](TraceSink& s) {
        char buffer[8];
        for (uint16_t w : block) {
            std::snprintf(buffer, sizeof buffer, "%04x ", static_cast<unsigned>(w));
            s.Raw(Ascii(buffer));
        }
        s.Raw(u"\n");
        s.Line(u"\n" + std::u16string(out.begin(), out.end()));
    });
    return Code::Ok;
}

namespace {

// Steps shared by Decrypt and OpenBlock: text form, keys, parsing, header and check word,
// unchaining. Leaves the plain words in `words`.
Code Unchain(std::u16string_view name, std::u16string_view text, Words& words, TraceSink* trace) {
    if (text.size() < 64 || text.size() % 4 != 0) return Code::DecryptTextForm;
    if (name.empty()) return Code::DecryptNameEmpty;
    Words nameKey, fixedKey;
    uint16_t hn, hf;
    if (!TryPrepareKey(name, nameKey, hn)) return Code::DecryptNameKeyMemory;
    if (!TryPrepareKey(kFixedKeyText, fixedKey, hf)) return Code::DecryptFixedKeyMemory;
    const size_t n = text.size() / 4;
    try {
        words.assign(n, 0);
    } catch (const std::bad_alloc&) {
        return Code::DecryptWordMemory;
    }
    for (size_t i = 0; i < n; ++i) {
        const int d0 = HexDigitValue(text[4 * i]), d1 = HexDigitValue(text[4 * i + 1]),
                  d2 = HexDigitValue(text[4 * i + 2]), d3 = HexDigitValue(text[4 * i + 3]);
        if ((d0 | d1 | d2 | d3) < 0) return Code::DecryptNotHex;
        words[i] = static_cast<uint16_t>((d0 << 12) | (d2 << 8) | (d1 << 4) | d3);
    }

    const uint16_t check = FoldKey(hf, words.data(), n - 1), hashXor = static_cast<uint16_t>(hn ^ hf),
                   mix = HashMix(hn, hf);
    Trace(trace, [&](TraceSink& t) {
        t.Line(u"compare A1, A2: estA1(" + HexNumber(words[kNameHash]) + u")->(" + HexNumber(hn) + u"), estA2(" +
               HexNumber(words[n - 1]) + u")->(" + HexNumber(check) + u"), estA1xA2(" + HexNumber(words[kHashXor]) +
               u")->(" + HexNumber(hashXor) + u"), estA1oA2(" + HexNumber(words[kHashMix]) + u")->(" + HexNumber(mix) +
               u")");
    });
    if (words[kNameHash] != hn || words[n - 1] != check || words[kHashXor] != hashXor || words[kHashMix] != mix)
        return Code::DecryptHeader;
    // A block shorter than its header and check word cannot hold a pair (a 64-digit text has 16 words).
    if (n < kHeaderWords + 1) return Code::DecryptOutsideBlock;

    const uint16_t chain = ChainKey(nameKey, fixedKey);
    for (size_t i = n - 2; i >= kTime; --i) words[i] = static_cast<uint16_t>(words[i - 1] ^ words[i] ^ chain);
    return Code::Ok;
}

}  // namespace

Code OpenBlock(std::u16string_view name, std::u16string_view text, Words& words) {
    return Unchain(name, text, words, nullptr);
}

Code Decrypt(Text name, Text text, SecretText& out, TraceSink* trace) {
    out.clear();
    TraceStart(trace, u"Decrypt", name, text);
    if (!name) return Code::DecryptNameMissing;
    if (!text) return Code::DecryptTextMissing;
    Words words;
    if (Code c = Unchain(*name, *text, words, trace); c != Code::Ok) return c;
    const size_t n = words.size();

    const int32_t storedNameLength = Get32(words, kNameLength);
    Trace(trace, [&](TraceSink& t) {
        t.Line(Compare("compare name len", static_cast<uint32_t>(storedNameLength), static_cast<uint32_t>(name->size())));
    });
    if (storedNameLength < 0 || static_cast<size_t>(storedNameLength) != name->size()) return Code::DecryptNameLength;

    const int32_t namePosition = Get32(words, kNamePosition);
    Trace(trace, [&](TraceSink& t) {
        t.Line(u"position to obtain stored name: (" + HexNumber(static_cast<uint32_t>(namePosition)) + u")");
    });
    // The name must lie between the header and the check word.
    if (namePosition < static_cast<int32_t>(kHeaderWords) || static_cast<size_t>(namePosition) > n - 1 ||
        name->size() > n - 1 - static_cast<size_t>(namePosition))
        return Code::DecryptOutsideBlock;
    SecretText storedName;
    try {
        storedName.assign(words.begin() + namePosition, words.begin() + namePosition + static_cast<std::ptrdiff_t>(name->size()));
    } catch (const std::bad_alloc&) {
        return Code::DecryptStoredNameMemory;
    }
    Trace(trace, [&](TraceSink& t) {
        t.Line(Joined(u"compare content of name: est(", View(storedName), u")->(", *name, u")"));
    });
    if (!std::equal(storedName.begin(), storedName.end(), name->begin(), name->end())) return Code::DecryptName;

    const size_t valuePosition = static_cast<size_t>(namePosition) + name->size();
    const int32_t storedValuePosition = Get32(words, kValuePosition);
    Trace(trace, [&](TraceSink& t) {
        t.Line(Compare("compare value pos", static_cast<uint32_t>(storedValuePosition), static_cast<uint32_t>(valuePosition)));
    });
    if (storedValuePosition < 0 || static_cast<size_t>(storedValuePosition) != valuePosition)
        return Code::DecryptValuePosition;

    const size_t valueLength = n - valuePosition - 1;
    const int32_t storedValueLength = Get32(words, kValueLength);
    Trace(trace, [&](TraceSink& t) {
        t.Line(Compare("compare value len", static_cast<uint32_t>(storedValueLength), static_cast<uint32_t>(valueLength)));
    });
    if (storedValueLength < 0 || static_cast<size_t>(storedValueLength) != valueLength) return Code::DecryptValueLength;

    SecretText value;
    try {
        value.assign(words.begin() + static_cast<std::ptrdiff_t>(valuePosition), words.begin() + static_cast<std::ptrdiff_t>(n - 1));
    } catch (const std::bad_alloc&) {
        return Code::DecryptValueMemory;
    }
    const uint32_t sum = static_cast<uint32_t>(ComputeChecksum(View(value), trace));
    Trace(trace, [&](TraceSink& t) { t.Line(Compare("compare value chksum", StoredValueChecksum(words), sum)); });
    if (StoredValueChecksum(words) != sum) return Code::DecryptValueChecksum;

    Trace(trace, [&](TraceSink& t) { t.Line(Joined(u"value retrieved: ", View(value))); });
    out.swap(value);
    return Code::Ok;
}

}  // namespace qarn::secure
