// libFuzzer target (native build): decryption of arbitrary texts under arbitrary names, and the
// round trip of arbitrary pairs. Byte 0 picks the mode, byte 1 the name length; the rest is name
// and text (or value) as UTF-16 code units from byte pairs.
//   mode 0: the text is taken as it is (mostly not hex);
//   mode 1: the text's units are mapped onto hex digits, so that the header checks are reached;
//   mode 2: the rest is a value: encrypt, check the round trip, then decrypt a damaged copy.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "FuzzCheck.h"
#include <string>

#include "secure/SecureBlock.h"

using namespace qarn::secure;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const int mode = data[0] % 3;
    std::u16string units;
    for (size_t i = 2; i + 1 < size; i += 2) units += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    const size_t nameLength = std::min<size_t>(data[1], units.size());
    const std::u16string name = units.substr(0, nameLength);
    std::u16string rest = units.substr(nameLength);
    SecretText out;

    if (mode == 1) {
        static const char16_t digits[] = u"0123456789abcdefABCDEF";
        for (char16_t& c : rest) c = digits[c % 22];
    }
    if (mode < 2) {
        // Make a well-formed length now and then, so that more than the form check runs.
        if (rest.size() >= 64 && (data[1] & 1)) rest.resize(rest.size() / 4 * 4);
        const Code code = Decrypt(name, rest, out);
        Require(code == Code::Ok || out.empty());
        return 0;
    }

    SecretText text;
    const Code code = Encrypt(name, rest, 1700000000, text);
    if (name.empty() || rest.empty()) {
        Require(code != Code::Ok);
        return 0;
    }
    Require(code == Code::Ok && text.size() % 256 == 0);
    const std::u16string encrypted(text.begin(), text.end());
    Require(Decrypt(name, encrypted, out) == Code::Ok);
    Require(std::u16string(out.begin(), out.end()) == rest);
    std::u16string damaged = encrypted;
    const size_t at = data[1] % damaged.size();
    damaged[at] = damaged[at] == u'0' ? u'1' : u'0';
    Require(Decrypt(name, damaged, out) != Code::Ok);
    return 0;
}
