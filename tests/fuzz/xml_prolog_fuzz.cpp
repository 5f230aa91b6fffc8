// libFuzzer target (native build): the XML prolog scanner on arbitrary bytes. Byte 0 chooses where
// the document is cut into two pieces; the rest is the document. Checked: the pieces give the
// verdict of the whole; a text of ASCII characters gives one verdict as bytes, as UTF-16 text, in
// UTF-16 and UTF-32 of either byte order (with and without byte-order mark), and after an XML
// declaration and a comment put in front.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "dom/XmlProlog.h"

using namespace qarn::xml;

namespace {

std::string Encode(const std::string& ascii, unsigned width, bool bigEndian, bool mark) {
    std::string out;
    auto unit = [&](uint32_t c) {
        for (unsigned k = 0; k < width; ++k)
            out += static_cast<char>((c >> (8 * (bigEndian ? width - 1 - k : k))) & 0xFF);
    };
    if (mark) unit(0xFEFF);
    for (char c : ascii) unit(static_cast<unsigned char>(c));
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const std::string document(reinterpret_cast<const char*>(data + 1), size - 1);
    const Prolog whole = ScanProlog(document);
    Require(whole != Prolog::Open);

    PrologScanner pieces;
    const size_t cut = document.empty() ? 0 : data[0] % (document.size() + 1);
    pieces.Feed(std::string_view(document).substr(0, cut));
    pieces.Feed(std::string_view(document).substr(cut));
    Require(pieces.Finish() == whole);

    bool ascii = true;
    for (char c : document) ascii = ascii && c > 0 && static_cast<unsigned char>(c) < 0x80;
    if (!ascii) return 0;
    Require(ScanTextProlog(std::u16string(document.begin(), document.end())) == whole);
    for (unsigned width : {2u, 4u})
        for (bool bigEndian : {false, true})
            for (bool mark : {false, true}) Require(ScanProlog(Encode(document, width, bigEndian, mark)) == whole);
    Require(ScanProlog("<?xml version=\"1.0\"?>\r\n<!-- a -note- -->" + document) == whole);
    return 0;
}
