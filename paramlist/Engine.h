// Shared steps of the parameter-list engine: walking the element children of a definition node and
// the source selection that fields and mappings read from the caller's context object.
#pragma once

#include "documents/DomRead.h"
#include "util/Utilities.h"

#include <cwchar>
#include <string_view>

namespace qarn::paramlist {

// Calls visit(child, name) for each element child of `node` in document order; text, comments and
// other nodes are skipped.
template <class Visit>
void ForEachElement(IXMLDOMNode* node, Visit&& visit) {
    for (ComPtr<IXMLDOMNode> child = dom::FirstChild(node); child; child = dom::NextSibling(child.Get())) {
        if (dom::NodeType(child.Get()) != NODE_ELEMENT) continue;
        const Bstr name = dom::NodeName(child.Get());
        visit(child.Get(), name.View());
    }
}

// A row number as written in a definition: its leading digits (after blanks and a sign), else 0.
inline long RowNumber(const Bstr& text) { return text.IsNull() ? 0 : static_cast<long>(_wtoi(text.get())); }

// Where a field or a mapping takes its values from the caller's context object.
struct SourceSelection {
    Bstr type;        // "ParameterList", "QarnDocument" or another word
    bool typeGiven = false;
    Bstr subtype;     // "FieldCollection", "StructureCollection" or "TableCollection"
    Bstr attribute;   // the source field (for fields); named in type-conflict messages
    Bstr structure;
    Bstr table;
    Bstr searchName;
    Bstr searchValue;
    long row = 0;

    // Takes the child `name` when it is one of the selection's; false for any other child.
    bool Read(std::wstring_view name, IXMLDOMNode* child) {
        Bstr* slot = nullptr;
        if (name == L"Type") {
            slot = &type;
            typeGiven = true;
        } else if (name == L"Subtype") {
            slot = &subtype;
        } else if (name == L"Attribut" || name == L"Attribute") {
            slot = &attribute;
        } else if (name == L"Structurename") {
            slot = &structure;
        } else if (name == L"Tablename") {
            slot = &table;
        } else if (name == L"Searchname") {
            slot = &searchName;
        } else if (name == L"Searchvalue") {
            slot = &searchValue;
        } else if (name == L"Row") {
            row = RowNumber(dom::ElementText(child));
            return true;
        } else {
            return false;
        }
        *slot = dom::ElementText(child);
        return true;
    }
    bool Is(std::wstring_view word) const { return typeGiven && type.View() == word; }
};

// The parameter list of the caller's context object as the selection's type asks for it:
// "ParameterList" takes the object itself, "QarnDocument" the document's list (null when the
// document has none). An object of another kind fails with the type-conflict message naming the
// selection's source field.
ComPtr<IParameterList> ContextList(IDispatch* context, const SourceSelection& selection);

}  // namespace qarn::paramlist
