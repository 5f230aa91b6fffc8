#include "RegistryScript.h"

#include <cwctype>

namespace qarn::regscript {

namespace {

constexpr int kMaxDepth = 32;

bool EqualsNoCase(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::towlower(a[i]) != std::towlower(b[i])) return false;
    return true;
}

class Parser {
public:
    Parser(std::wstring_view text, const std::map<std::wstring, std::wstring>& vars) : text_(text), vars_(vars) {}

    std::vector<Root> Run() {
        std::vector<Root> roots;
        for (;;) {
            Token t = Next();
            if (t.kind == Token::End) break;
            if (t.kind != Token::Word) Fail("a hive name was expected");
            Root root;
            root.hive = t.text;
            Expect(L'{');
            root.keys = Keys(1);
            roots.push_back(std::move(root));
        }
        return roots;
    }

private:
    struct Token {
        enum Kind { End, Word, Quoted, Symbol } kind = End;
        std::wstring text;
    };

    [[noreturn]] void Fail(const char* what) const {
        throw ParseError(std::string("registry script: ") + what + " (offset " + std::to_string(pos_) + ")");
    }

    void SkipSpace() {
        while (pos_ < text_.size() && std::iswspace(text_[pos_])) ++pos_;
    }

    std::wstring Substitute(std::wstring_view raw) const {
        std::wstring out;
        for (size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] != L'%') {
                out += raw[i];
                continue;
            }
            size_t end = raw.find(L'%', i + 1);
            if (end == std::wstring_view::npos) Fail("unterminated variable");
            std::wstring name(raw.substr(i + 1, end - i - 1));
            if (name.empty()) {
                out += L'%';
            } else {
                auto it = vars_.find(name);
                if (it == vars_.end()) Fail("unknown variable");
                out += it->second;
            }
            i = end;
        }
        return out;
    }

    Token Next() {
        SkipSpace();
        Token t;
        if (pos_ >= text_.size()) return t;
        wchar_t c = text_[pos_];
        if (c == L'{' && !LooksLikeGuid()) {
            ++pos_;
            t.kind = Token::Symbol;
            t.text = L"{";
            return t;
        }
        if (c == L'}' || c == L'=') {
            ++pos_;
            t.kind = Token::Symbol;
            t.text = std::wstring(1, c);
            return t;
        }
        if (c == L'\'') {
            ++pos_;
            std::wstring raw;
            for (;;) {
                if (pos_ >= text_.size()) Fail("unterminated quoted text");
                wchar_t q = text_[pos_++];
                if (q == L'\'') {
                    if (pos_ < text_.size() && text_[pos_] == L'\'') {
                        raw += L'\'';
                        ++pos_;
                        continue;
                    }
                    break;
                }
                raw += q;
            }
            t.kind = Token::Quoted;
            t.text = Substitute(raw);
            return t;
        }
        size_t start = pos_;
        while (pos_ < text_.size() && !std::iswspace(text_[pos_]) && text_[pos_] != L'=' && text_[pos_] != L'\'' &&
               !(text_[pos_] == L'}' && !InsideGuid(start)) && !(text_[pos_] == L'{' && pos_ != start))
            ++pos_;
        t.kind = Token::Word;
        t.text = Substitute(text_.substr(start, pos_ - start));
        return t;
    }

    // A "{" that opens a GUID key name rather than a block.
    bool LooksLikeGuid() const {
        size_t end = pos_ + 1;
        while (end < text_.size() && (std::iswxdigit(text_[end]) || text_[end] == L'-')) ++end;
        return end < text_.size() && text_[end] == L'}' && end - pos_ > 1;
    }
    bool InsideGuid(size_t start) const { return text_[start] == L'{' && pos_ > start; }

    void Expect(wchar_t symbol) {
        Token t = Next();
        if (t.kind != Token::Symbol || t.text[0] != symbol) Fail("a brace was expected");
    }

    Value ReadValueData(std::wstring name) {
        Value v;
        v.name = std::move(name);
        Token type = Next();
        if (type.kind != Token::Word || type.text.size() != 1) Fail("a value type (s, d) was expected");
        v.type = static_cast<wchar_t>(std::towlower(type.text[0]));
        if (v.type != L's' && v.type != L'd') Fail("unsupported value type");
        Token data = Next();
        if (data.kind != Token::Quoted) Fail("quoted value data was expected");
        v.data = data.text;
        return v;
    }

    // Keys and values up to the closing brace of the current block.
    std::vector<Key> Keys(int depth) {
        if (depth > kMaxDepth) Fail("nesting too deep");
        std::vector<Key> keys;
        for (;;) {
            Token t = Next();
            if (t.kind == Token::End) Fail("missing closing brace");
            if (t.kind == Token::Symbol && t.text == L"}") return keys;
            if (t.kind == Token::Symbol) Fail("unexpected symbol");
            Key key;
            if (t.kind == Token::Word && EqualsNoCase(t.text, L"val")) {
                Token name = Next();
                if (name.kind != Token::Word && name.kind != Token::Quoted) Fail("a value name was expected");
                Expect(L'=');
                if (!pendingValues_) Fail("a value outside a key");
                pendingValues_->push_back(ReadValueData(name.text));
                continue;
            }
            if (t.kind == Token::Word && EqualsNoCase(t.text, L"NoRemove")) key.flag = KeyFlag::NoRemove;
            else if (t.kind == Token::Word && EqualsNoCase(t.text, L"ForceRemove")) key.flag = KeyFlag::ForceRemove;
            else if (t.kind == Token::Word && EqualsNoCase(t.text, L"Delete")) key.flag = KeyFlag::Delete;
            if (key.flag != KeyFlag::Normal) t = Next();
            if (t.kind != Token::Word && t.kind != Token::Quoted) Fail("a key name was expected");
            key.name = t.text;
            size_t save = pos_;
            Token after = Next();
            if (after.kind == Token::Symbol && after.text == L"=") {
                key.hasDefault = true;
                key.defaultValue = ReadValueData(L"");
                save = pos_;
                after = Next();
            }
            if (after.kind == Token::Symbol && after.text == L"{") {
                std::vector<Value>* outer = pendingValues_;
                pendingValues_ = &key.values;
                key.children = Keys(depth + 1);
                pendingValues_ = outer;
            } else {
                pos_ = save;
            }
            keys.push_back(std::move(key));
        }
    }

    std::wstring_view text_;
    const std::map<std::wstring, std::wstring>& vars_;
    size_t pos_ = 0;
    std::vector<Value>* pendingValues_ = nullptr;
};

}  // namespace

std::vector<Root> Parse(std::wstring_view text, const std::map<std::wstring, std::wstring>& variables) {
    return Parser(text, variables).Run();
}

}  // namespace qarn::regscript
