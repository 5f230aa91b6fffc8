// The parameter-list engine: builds ParameterList objects and their collections from the elements
// of transaction definitions. Also the shared steps of its files: walking the element children of
// a definition node and the source selection that fields and mappings read from the caller's
// context object.
#pragma once

#include "config/ConfigStore.h"
#include "dom/DomRead.h"
#include "dom/NodeFields.h"
#include "paramlist/OutsideTransforms.h"
#include "base/UtilityServices.h"

#include <cwchar>
#include <source_location>
#include <type_traits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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

    // Takes the child `name` when it is one of the selection's, its text read with `textOf`; false
    // for any other child.
    template <class TextOf>
    bool Read(std::wstring_view name, IXMLDOMNode* child, TextOf&& textOf) {
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
            row = RowNumber(textOf(child));
            return true;
        } else {
            return false;
        }
        *slot = textOf(child);
        return true;
    }
    bool Is(std::wstring_view word) const { return typeGiven && type.View() == word; }
};

// The parameter list of the caller's context object as the selection's type asks for it:
// "ParameterList" takes the object itself, "QarnDocument" the document's list (null when the
// document has none). An object of another kind fails with the type-conflict message naming the
// selection's source field.
ComPtr<IParameterList> ContextList(IDispatch* context, const SourceSelection& selection);

// Where the nodes a builder reads come from: a document this server has just parsed itself, which
// nobody else holds (its parser refuses elements nested deeper than 256 levels, so values are read
// without looking for deeper nesting), or a caller, who may have built them node by node (every
// value is read with the nesting check, dom::ElementValue).
enum class Nodes { ParsedHere, FromCaller };

// Who calls a method of the engine. Each method is a member of the owner and runs in the method
// frame of that member's name. Called from another frame (the default), it opens its own and a
// failure is raised in the caller's with an "at" line for the place of the call, as a failed member
// call checked with CHECK_HR is. The owner's member of the same name calls it from its own frame,
// in which it then runs (FromMember).
struct Call {
    Call(std::source_location where = std::source_location::current()) noexcept : line(static_cast<int>(where.line())) {}
    static Call FromMember() noexcept { return Call(std::source_location()); }
    int line;  // of the call; 0 from the member's frame
};

// The engine of one owner; used from the owner's apartment only. Nodes are the elements of a
// transaction definition; `context` is the caller's context object, which fields and mappings
// read from and the list may be merged into. A null node builds nothing (a null result).
class Engine : public config::StoreMessages {
public:
    Engine(UtilityServices& host, DataObjects& objects, dom::NodeFields& nodeFields)
        : host_(host), objects_(objects), nodeFields_(nodeFields) {}

    // Transaction lookup (transactions.cpp). The list of the transaction `aliasname` of the file
    // `xmlFile` below the installation root (the customer's override file first, GetXmlParameterList);
    // the same with `root` as the installation root for this call (GetXmlParameterList4).
    ComPtr<IParameterList> Transaction(BSTR xmlFile, BSTR aliasname, IDispatch* context, Call call = {});
    ComPtr<IParameterList> TransactionInRoot(BSTR xmlFile, BSTR aliasname, IDispatch* context, BSTR root, Call call = {});
    // The list of the transaction `aliasname` in a file, an XML text or a parsed document, and of
    // the element an XPath `path` selects in a file or a text (GetXmlParameterList2,
    // GetXmlParameterListFromXMLString2, GetXmlParameterList1, GetXmlParameterList3,
    // GetXmlParameterListFromXMLString3).
    ComPtr<IParameterList> FromFile(BSTR xmlFile, BSTR aliasname, IDispatch* context, Call call = {});
    ComPtr<IParameterList> FromText(BSTR xmlString, BSTR aliasname, IDispatch* context, Call call = {});
    ComPtr<IParameterList> FromDocument(IDispatch* document, BSTR aliasname, IDispatch* context, Call call = {});
    ComPtr<IParameterList> FromFileAt(BSTR xmlFile, BSTR path, IDispatch* context, Call call = {});
    ComPtr<IParameterList> FromTextAt(BSTR xmlString, BSTR path, IDispatch* context, Call call = {});
    // Builders of one element each (builder.cpp, fields.cpp, collections.cpp), members
    // DOMCreateParameterListEntry, DOMCreateFieldEntry and so on.
    ComPtr<IParameterList> BuildParameterList(IXMLDOMNode* node, IDispatch* context, Nodes nodes, Call call = {});
    ComPtr<IField> BuildField(IXMLDOMNode* node, IDispatch* context, Nodes nodes, Call call = {});
    ComPtr<IFieldCollection> BuildFieldCollection(IXMLDOMNode* node, IDispatch* context, Nodes nodes, Call call = {});
    ComPtr<IStructureCollection> BuildStructureCollection(IXMLDOMNode* node, IDispatch* context, Nodes nodes, Call call = {});
    ComPtr<IStructure> BuildStructure(IXMLDOMNode* node, IDispatch* context, Nodes nodes, Call call = {});
    ComPtr<ITableCollection> BuildTableCollection(IXMLDOMNode* node, IDispatch* context, Nodes nodes, Call call = {});
    ComPtr<ITable> BuildTable(IXMLDOMNode* node, IDispatch* context, Nodes nodes, Call call = {});
    ComPtr<IFieldCollectionTable> BuildRows(IXMLDOMNode* node, IDispatch* context, Nodes nodes, Call call = {});

private:
    HRESULT LookupMessage(BSTR id, BSTR* text) override { return host_.LookupMessage(id, text); }

    // Runs `body` (which returns the method's result or nothing) as the member `name` for `call`.
    template <class F>
    auto Framed(const wchar_t* name, Call call, F&& body, std::source_location where = std::source_location::current()) {
        using Result = decltype(body());
        if (call.line == 0) return body();
        if constexpr (std::is_void_v<Result>) {
            CheckHr(MethodFrame(name, body, frame::Report{}, where), call.line);
        } else {
            Result result{};
            CheckHr(MethodFrame(name, [&] { result = body(); }, frame::Report{}, where), call.line);
            return result;
        }
    }

    // The typed value and the text of an element (dom::ElementValue, dom::ElementText); in a
    // document parsed here without the nesting check.
    static Variant ReadValue(IXMLDOMNode* element, Nodes nodes) {
        if (nodes == Nodes::FromCaller) return dom::ElementValue(element);
        Variant value;
        CHECK_HR(element->get_nodeTypedValue(value.Out()));
        return value;
    }
    static Bstr ReadText(IXMLDOMNode* element, Nodes nodes) { return dom::AsText(ReadValue(element, nodes)); }
    static auto TextReader(Nodes nodes) {
        return [nodes](IXMLDOMNode* element) { return ReadText(element, nodes); };
    }

    // The internal builders fill an existing object, so that a list keeps its own collections
    // (DOMCreateFieldCollectionEntry_intern and so on).
    void FillFields(IXMLDOMNode* node, IDispatch* context, Nodes nodes, IFieldCollection* target, Call call = {});
    void FillStructures(IXMLDOMNode* node, IDispatch* context, Nodes nodes, IStructureCollection* target, Call call = {});
    void FillTables(IXMLDOMNode* node, IDispatch* context, Nodes nodes, ITableCollection* target, Call call = {});
    template <class C, class I>
    void FillCollection(const wchar_t* method, IXMLDOMNode* node, IDispatch* context, Nodes nodes, C* target, Call call,
                        const wchar_t* element, ComPtr<I> (Engine::*build)(IXMLDOMNode*, IDispatch*, Nodes, Call));
    // Creates an empty collection and fills it from `node` with `fill` (a public collection builder).
    template <class I>
    ComPtr<I> NewFilledCollection(const wchar_t* method, IXMLDOMNode* node, IDispatch* context, Nodes nodes, Call call,
                                  REFCLSID clsid, void (Engine::*fill)(IXMLDOMNode*, IDispatch*, Nodes, I*, Call));
    // The value of the property that `element`'s text names; null when the property has none.
    Bstr PropertyNamedBy(IXMLDOMNode* element, Nodes nodes);
    // The element's attributes as the attribute collection of the data-type object built from it.
    template <class I>
    void TakeAttributes(IXMLDOMNode* node, I* object);
    // Adds the fields a `Mapping` element selects from the caller's context object to `target`.
    void AddMapping(IXMLDOMNode* node, IDispatch* context, Nodes nodes, IFieldCollection* target, Call call = {});
    // The field group of `list` a mapping selects: the whole field collection, a structure's fields
    // or one table row (by number from 1, or below 1 by a field's value); null when it is missing.
    ComPtr<IFieldCollection> MappedFields(IParameterList* list, const SourceSelection& selection, Call call = {});
    // Runs an event macro on `list` (which the macro may replace) and records the macro's "RETURN"
    // structure as the list attribute `eventName`.
    void RunEventMacro(BSTR scriptEngine, BSTR methodName, ComPtr<IParameterList>& list, const wchar_t* eventName);
    void HandleTransactionEvent(IParameterList* list, IParameterList* output, const wchar_t* eventName);
    // The list of a template transaction, built with `context` as its context object.
    ComPtr<IParameterList> BuildTemplate(BSTR templateFile, BSTR templateName, IParameterList* context);
    // A copy of the caller's input list with `built` merged into it, when `built` asks for that.
    ComPtr<IParameterList> CheckForMerge(IDispatch* pDisp, IParameterList* built, Call call = {});
    // Adds the fields of `source` missing in `target`; for fields on both sides copies the value
    // (when allowReplace) and merges their attributes the same way.
    void MergeByFlag(IFieldCollection* source, IFieldCollection* target, VARIANT_BOOL allowReplace, Call call = {});
    // The XPath of a transaction's `Parameter` element; "Parameter" without an alias.
    Bstr AliasPath(BSTR aliasname, Call call = {});
    // Builds the list of the element `path` selects in `document`, which was parsed for the call;
    // `source` names the document in the failure for a missing element.
    ComPtr<IParameterList> ParsedList(IDispatch* document, BSTR path, IDispatch* context, BSTR source, Call call = {});
    // Records where a list came from in its attributes.
    void SetContext(IParameterList* list, BSTR source, BSTR transaction, bool isCustomerFile, BSTR customerWarning,
                    Call call = {});

    UtilityServices& host_;
    DataObjects& objects_;
    dom::NodeFields& nodeFields_;
    // The XSLT processor, created on first use and kept for the engine's lifetime.
    ComPtr<IXsltProcessor> xslt_;
    // Template transactions being built (file, alias), innermost last.
    std::vector<std::pair<std::wstring, std::wstring>> templatesInProgress_;
};

}  // namespace qarn::paramlist
