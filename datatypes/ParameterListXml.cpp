// ParameterList.Xml: the list as the `Parameter` element of a transaction definition.
//
//   <Parameter a="..."><FieldCollection><Field x3nc="true"><Name>n</Name><Value>v</Value></Field>
//   </FieldCollection><StructureCollection><Structure><Name>s</Name><FieldCollection>...
//   </FieldCollection></Structure></StructureCollection><TableCollection><Table><Name>t</Name>
//   <FieldCollectionTable><FieldCollection>...one row...</FieldCollection></FieldCollectionTable>
//   </Table></TableCollection></Parameter>
//
// Written without line breaks or XML declaration; all three collections are always present.
// The attribute collection of each object becomes the XML attributes of its element: name and
// text value (StringValue) of each attribute field. Field values are written as their text.
//
// Keeping the text well-formed whatever the values hold:
// - & < > are escaped everywhere, " and ' in attribute values too. Carriage returns (and, in
//   attribute values, tabs and line feeds) are written as character references so that a parser
//   gives them back instead of normalising them.
// - Characters that XML 1.0 does not allow at all (the control characters other than tab, line
//   feed and carriage return, unpaired surrogates, U+FFFE and U+FFFF) cannot be written even as
//   character references; they are left out.
// - An attribute is written only when its name is an XML name without a colon made of ASCII
//   letters, digits, '_', '-', '.' and non-ASCII letters, and is not "xmlns" (no namespace
//   declarations and no prefixes a reader would have to resolve); other attributes are left out.
//   Of several attributes of one name only the last is written, as lookups find the last one.
// - The text is limited to kMaxXmlChars characters; a larger list gives an error.
//
// Attribute collections are written flat (an attribute's own attributes are not written), so the
// element nesting is fixed and no structure, however it refers to itself, makes the writer recurse.
#include <unordered_map>

#include "Datatypes.h"

namespace qarn::dt {

namespace {

constexpr size_t kMaxXmlChars = size_t(1) << 28;

bool IsXmlChar(wchar_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD);
}

bool IsHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

void AppendEscaped(secure::SecretWString& out, std::wstring_view text, bool attribute) {
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (IsHighSurrogate(c)) {
            if (i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
                out += c;
                out += text[++i];
            }
            continue;
        }
        switch (c) {
            case L'&': out += L"&amp;"; continue;
            case L'<': out += L"&lt;"; continue;
            case L'>': out += L"&gt;"; continue;
            case L'\r': out += L"&#xD;"; continue;
            case L'"':
                if (attribute) {
                    out += L"&quot;";
                    continue;
                }
                break;
            case L'\'':
                if (attribute) {
                    out += L"&apos;";
                    continue;
                }
                break;
            case L'\t':
                if (attribute) {
                    out += L"&#x9;";
                    continue;
                }
                break;
            case L'\n':
                if (attribute) {
                    out += L"&#xA;";
                    continue;
                }
                break;
            default: break;
        }
        if (IsLowSurrogate(c) || !IsXmlChar(c)) continue;
        out += c;
    }
}

bool IsLetter(wchar_t c) {
    WORD type = 0;
    return GetStringTypeW(CT_CTYPE1, &c, 1, &type) && (type & C1_ALPHA);
}

bool IsNameStart(wchar_t c) {
    if (c < 0x80) return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || c == L'_';
    // Letters that XML 1.0 admits as the first character of a name.
    const bool inRanges = (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) ||
                          (c >= 0x370 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) || (c >= 0x2070 && c <= 0x218F) ||
                          (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) ||
                          (c >= 0xF900 && c <= 0xFDCF) || (c >= 0xFDF0 && c <= 0xFFFD);
    return inRanges && IsLetter(c);
}

bool IsNameChar(wchar_t c) { return IsNameStart(c) || (c >= L'0' && c <= L'9') || c == L'-' || c == L'.'; }

bool IsAttributeName(std::wstring_view name) {
    if (name.empty() || name == L"xmlns" || !IsNameStart(name[0])) return false;
    for (wchar_t c : name.substr(1))
        if (!IsNameChar(c)) return false;
    return true;
}

class XmlWriter {
public:
    secure::SecretWString List(CParameterList& list) {
        out_.reserve(1024);
        Open(L"Parameter", list.Attributes());
        FieldCollection(list.Fields());
        Structures(list.Structures());
        Tables(list.Tables());
        Close(L"Parameter");
        return std::move(out_);
    }

private:
    template <class I>
    static ComPtr<IFieldCollection> AttributesOf(I* object) {
        ComPtr<IFieldCollection> attributes;
        CHECK_HR(object->get_Attributes(&attributes));
        return attributes;
    }

    void Open(const wchar_t* element, IFieldCollection* attributes) {
        out_ += L'<';
        out_ += element;
        if (attributes) {
            std::vector<std::pair<std::wstring, secure::SecretWString>> pairs;
            for (const ComPtr<IField>& field : MembersOf<IField>(attributes)) {
                Bstr name;
                secure::WipedBstr value;
                CHECK_HR(field->get_Name(name.Out()));
                CHECK_HR(field->get_StringValue(value.Out()));
                pairs.emplace_back(name.View(), View(value));
            }
            std::unordered_map<std::wstring_view, size_t> last;
            for (size_t i = 0; i < pairs.size(); ++i) last[pairs[i].first] = i;
            for (size_t i = 0; i < pairs.size(); ++i) {
                const auto& [name, value] = pairs[i];
                if (last[name] != i || !IsAttributeName(name)) continue;
                out_ += L' ';
                out_ += name;
                out_ += L"=\"";
                AppendEscaped(out_, value, true);
                out_ += L'"';
            }
        }
        out_ += L'>';
    }

    void Close(const wchar_t* element) {
        out_ += L"</";
        out_ += element;
        out_ += L'>';
        if (out_.size() > kMaxXmlChars)
            THROW_MESSAGE(Format(L"The XML text of the parameter list would be longer than %u characters.",
                                 static_cast<unsigned>(kMaxXmlChars)));
    }

    void TextElement(const wchar_t* element, std::wstring_view text) {
        out_ += L'<';
        out_ += element;
        out_ += L'>';
        AppendEscaped(out_, text, false);
        Close(element);
    }

    void Field(IField* field) {
        if (NamedMember* own = OwnMember(field)) {
            // One of this server's fields: read in place, without a copy of its texts.
            const CField& f = static_cast<const CField&>(*own);
            Open(L"Field", f.Attributes());
            TextElement(L"Name", f.Name());
            const VARIANT& value = f.Value();
            if (value.vt == VT_BSTR)
                TextElement(L"Value", View(value.bstrVal));
            else
                TextElement(L"Value", ValueText(value));
            Close(L"Field");
            return;
        }
        Open(L"Field", AttributesOf(field).Get());
        Bstr name;
        secure::WipedBstr value;
        CHECK_HR(field->get_Name(name.Out()));
        CHECK_HR(field->get_StringValue(value.Out()));
        TextElement(L"Name", name.View());
        TextElement(L"Value", View(value));
        Close(L"Field");
    }

    void FieldCollection(IFieldCollection* fields) {
        if (!fields) {
            Open(L"FieldCollection", nullptr);
            Close(L"FieldCollection");
            return;
        }
        Open(L"FieldCollection", AttributesOf(fields).Get());
        for (const ComPtr<IField>& field : MembersOf<IField>(fields)) Field(field.Get());
        Close(L"FieldCollection");
    }

    void Structures(IStructureCollection* structures) {
        Open(L"StructureCollection", AttributesOf(structures).Get());
        for (const ComPtr<IStructure>& structure : MembersOf<IStructure>(structures)) {
            Open(L"Structure", AttributesOf(structure.Get()).Get());
            Bstr name;
            CHECK_HR(structure->get_Name(name.Out()));
            TextElement(L"Name", name.View());
            ComPtr<IFieldCollection> fields;
            CHECK_HR(structure->get_FieldCollection(&fields));
            FieldCollection(fields.Get());
            Close(L"Structure");
        }
        Close(L"StructureCollection");
    }

    void Tables(ITableCollection* tables) {
        Open(L"TableCollection", AttributesOf(tables).Get());
        for (const ComPtr<ITable>& table : MembersOf<ITable>(tables)) {
            Open(L"Table", AttributesOf(table.Get()).Get());
            Bstr name;
            CHECK_HR(table->get_Name(name.Out()));
            TextElement(L"Name", name.View());
            ComPtr<IFieldCollectionTable> rows;
            CHECK_HR(table->get_FieldCollectionTable(&rows));
            Open(L"FieldCollectionTable", rows ? AttributesOf(rows.Get()).Get() : nullptr);
            for (const ComPtr<IFieldCollection>& row : MembersOf<IFieldCollection>(rows.Get()))
                FieldCollection(row.Get());
            Close(L"FieldCollectionTable");
            Close(L"Table");
        }
        Close(L"TableCollection");
    }

    // Values may be clear text: the text and its earlier buffers are zeroed when released.
    secure::SecretWString out_;
};

}  // namespace

secure::SecretWString ParameterListXml(CParameterList& list) {
    XmlWriter writer;
    return writer.List(list);
}

}  // namespace qarn::dt
