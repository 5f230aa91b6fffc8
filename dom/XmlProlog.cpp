// The prolog scanner: which documents carry a document type declaration.
#include "dom/XmlProlog.h"

namespace qarn::xml {

namespace {

bool IsSpace(char32_t c) { return c == 0x20 || c == 0x09 || c == 0x0D || c == 0x0A; }

}  // namespace

void PrologScanner::Step(char32_t c) {
    switch (state_) {
        case State::Text:
            if (c == U'<')
                state_ = State::Less;
            else if (!IsSpace(c))
                verdict_ = Prolog::NoDoctype;  // text before the root: the engine rejects it
            break;
        case State::Less:
            if (c == U'?') {
                state_ = State::Instruction;
                question_ = false;
            } else if (c == U'!') {
                state_ = State::Bang;
            } else {
                verdict_ = Prolog::NoDoctype;  // the root element
            }
            break;
        case State::Instruction:  // the XML declaration or a processing instruction, up to "?>"
            if (question_ && c == U'>') state_ = State::Text;
            question_ = c == U'?';
            break;
        case State::Bang:
            if (c == U'-')
                state_ = State::BangDash;
            else
                verdict_ = Prolog::Doctype;  // "<!DOCTYPE", or any other declaration
            break;
        case State::BangDash:
            if (c == U'-') {
                state_ = State::Comment;
                dashes_ = 0;
            } else {
                verdict_ = Prolog::Doctype;
            }
            break;
        case State::Comment:  // up to "-->"
            if (c == U'>' && dashes_ >= 2)
                state_ = State::Text;
            else
                dashes_ = c == U'-' ? dashes_ + 1 : 0;
            break;
    }
}

// Decides the encoding from the first four bytes (fewer at the end of the document) and consumes a
// byte-order mark; the bytes after the mark stay pending for Decode. False while more bytes are
// needed.
bool PrologScanner::DetectEncoding(bool atEnd) {
    if (pendingCount_ < 4 && !atEnd) return false;
    const unsigned n = pendingCount_;
    auto at = [&](unsigned i) -> int { return i < n ? pending_[i] : -1; };
    unsigned mark = 0;
    if (at(0) == 0 && at(1) == 0 && at(2) == 0xFE && at(3) == 0xFF) {
        width_ = 4, bigEndian_ = true, mark = 4;
    } else if (at(0) == 0xFF && at(1) == 0xFE && at(2) == 0 && at(3) == 0) {
        width_ = 4, bigEndian_ = false, mark = 4;
    } else if (at(0) == 0xFE && at(1) == 0xFF) {
        width_ = 2, bigEndian_ = true, mark = 2;
    } else if (at(0) == 0xFF && at(1) == 0xFE) {
        width_ = 2, bigEndian_ = false, mark = 2;
    } else if (at(0) == 0xEF && at(1) == 0xBB && at(2) == 0xBF) {
        width_ = 1, mark = 3;
    } else if (at(0) == 0 && at(1) == 0 && at(2) == 0 && at(3) > 0) {
        width_ = 4, bigEndian_ = true;
    } else if (at(0) > 0 && at(1) == 0 && at(2) == 0 && at(3) == 0) {
        width_ = 4, bigEndian_ = false;
    } else if (at(0) == 0 && at(1) > 0) {
        width_ = 2, bigEndian_ = true;
    } else if (at(0) > 0 && at(1) == 0) {
        width_ = 2, bigEndian_ = false;
    } else {
        width_ = 1;
    }
    unsigned char rest[4];
    const unsigned count = n - mark;
    for (unsigned i = 0; i < count; ++i) rest[i] = pending_[mark + i];
    pendingCount_ = 0;
    Decode(std::string_view(reinterpret_cast<const char*>(rest), count));
    return true;
}

void PrologScanner::Decode(std::string_view bytes) {
    for (size_t i = 0; i < bytes.size() && verdict_ == Prolog::Open; ++i) {
        const unsigned char b = static_cast<unsigned char>(bytes[i]);
        if (width_ == 1) {
            Step(b);  // bytes of multi-byte characters are all >= 0x80: none is markup
            continue;
        }
        pending_[pendingCount_++] = b;
        if (pendingCount_ < width_) continue;
        char32_t unit = 0;
        for (unsigned k = 0; k < width_; ++k)
            unit = (unit << 8) | pending_[bigEndian_ ? k : width_ - 1 - k];
        pendingCount_ = 0;
        Step(unit);
    }
}

Prolog PrologScanner::Feed(std::string_view bytes) {
    size_t used = 0;
    while (verdict_ == Prolog::Open && width_ == 0 && used < bytes.size()) {
        pending_[pendingCount_++] = static_cast<unsigned char>(bytes[used++]);
        DetectEncoding(false);
    }
    if (verdict_ == Prolog::Open && width_ != 0) Decode(bytes.substr(used));
    return verdict_;
}

Prolog PrologScanner::Finish() {
    if (verdict_ == Prolog::Open && width_ == 0) DetectEncoding(true);
    if (verdict_ == Prolog::Open) verdict_ = Prolog::NoDoctype;
    return verdict_;
}

Prolog ScanProlog(std::string_view bytes) {
    PrologScanner scanner;
    scanner.Feed(bytes);
    return scanner.Finish();
}

Prolog ScanFile(std::FILE* file) {
    PrologScanner scanner;
    char piece[4096];
    size_t got = 0;
    while (scanner.Verdict() == Prolog::Open && (got = std::fread(piece, 1, sizeof piece, file)) > 0)
        scanner.Feed(std::string_view(piece, got));
    return scanner.Finish();
}

Prolog ScanTextProlog(std::u16string_view text) {
    PrologScanner scanner;
    scanner.width_ = 2;
    if (!text.empty() && text.front() == u'\xFEFF') text.remove_prefix(1);
    for (size_t i = 0; i < text.size() && scanner.verdict_ == Prolog::Open; ++i) scanner.Step(text[i]);
    return scanner.Finish();
}

bool TagsAreAscii(std::u16string_view wellFormed) {
    bool inTag = false;
    char16_t quote = 0;
    for (const char16_t c : wellFormed) {
        if (quote) {
            if (c == quote) quote = 0;
        } else if (!inTag) {
            inTag = c == u'<';
        } else if (c == u'>') {
            inTag = false;
        } else if (c == u'"' || c == u'\'') {
            quote = c;
        } else if (c > 0x7F) {
            return false;
        }
    }
    return true;
}

}  // namespace qarn::xml
