// The prolog of an XML document, read before the document is handed to the XML engine. Plain C++
// without Windows calls (it also builds natively, for fuzzing).
//
// No reader of the server accepts a document type declaration: a DTD's entities let a file of a
// few kilobytes expand into gigabytes of text, and its external references reach other files. The
// scanner looks at what comes before the root element: a byte-order mark, the XML declaration,
// processing instructions, comments and white space are skipped; a "<!" that does not open a
// comment (a "<!DOCTYPE" in a well-formed document) is a document type declaration. The first other
// character ends the prolog (the root element, or text the engine will reject anyway).
#pragma once

#include <cstddef>
#include <cstdio>
#include <string_view>

namespace qarn::xml {

enum class Prolog {
    Open,         // not decided yet: the prolog goes on beyond what was read
    NoDoctype,    // the prolog ends without a document type declaration
    Doctype,      // a document type declaration before the root element
};

// Reads a document's bytes piece by piece, in one pass; it keeps no bytes beyond the few of a
// character that a piece cuts. The encoding is taken from a byte-order mark or the first
// characters: UTF-16 and UTF-32 in either byte order (with or without mark); anything else is read
// as an ASCII-compatible encoding (UTF-8, the ISO-8859 and Windows code pages).
class PrologScanner {
public:
    // The verdict after `bytes` more; once decided, later pieces change nothing.
    Prolog Feed(std::string_view bytes);
    // The verdict at the end of the document: a prolog still open there holds no declaration.
    Prolog Finish();
    Prolog Verdict() const { return verdict_; }

private:
    enum class State { Text, Less, Instruction, Bang, BangDash, Comment };
    void Step(char32_t c);
    bool DetectEncoding(bool atEnd);
    void Decode(std::string_view bytes);

    Prolog verdict_ = Prolog::Open;
    State state_ = State::Text;
    int dashes_ = 0;            // in a comment: consecutive '-' just read
    bool question_ = false;     // in an instruction: the last character was '?'
    unsigned width_ = 0;        // bytes per code unit; 0 while the encoding is not known
    bool bigEndian_ = false;
    unsigned char pending_[4] = {};  // bytes of a unit (or of the encoding's first bytes) not complete yet
    unsigned pendingCount_ = 0;

    friend Prolog ScanTextProlog(std::u16string_view text);
};

// The verdict for a whole document given as bytes (a file's content).
Prolog ScanProlog(std::string_view bytes);

// The verdict for an open file, read from where it stands in pieces only until the prolog is
// decided.
Prolog ScanFile(std::FILE* file);

// The verdict for a document given as UTF-16 text (the text a caller hands to the engine); a
// leading U+FEFF is skipped.
Prolog ScanTextProlog(std::u16string_view text);

// Whether every character inside the tags of a well-formed text (element and attribute names, and
// what separates them) is ASCII; quoted attribute values and the text between tags may hold any
// character. Engines differ in which other characters they take in names (the name tables of older
// XML editions); ASCII names read everywhere.
bool TagsAreAscii(std::u16string_view wellFormed);

}  // namespace qarn::xml
