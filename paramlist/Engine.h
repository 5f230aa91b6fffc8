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

// The engine of one owner; used from the owner's apartment only. Each method runs in its own
// method frame and reports as the owner's member of the same name.
class Engine : public config::StoreMessages {
public:
    Engine(UtilityServices& host, DataObjects& objects, dom::NodeFields& nodeFields)
        : host_(host), objects_(objects), nodeFields_(nodeFields) {}

    // Transaction lookup (transactions.cpp).
    HRESULT GetXmlParameterList(BSTR xmlFile, BSTR aliasname, IDispatch* pDisp, IParameterList** pResult);
    HRESULT GetXmlParameterList2(BSTR xmlFile, BSTR aliasname, IDispatch* pDisp, IParameterList** ppResult);
    HRESULT GetXmlParameterList3(BSTR xmlFile, BSTR nodeName, IDispatch* pDisp, IParameterList** ppResult);
    HRESULT GetXmlParameterListFromXMLString(BSTR xmlString, BSTR aliasname, IDispatch* pDisp, IParameterList** ppResult);
    HRESULT GetXmlParameterListFromXMLString2(BSTR xmlString, BSTR aliasname, IDispatch* pDisp, IParameterList** ppResult);
    HRESULT GetXmlParameterListFromXMLString3(BSTR xmlString, BSTR nodeName, IDispatch* pDisp, IParameterList** ppResult);
    HRESULT GetXmlParameterList1(IDispatch* pDom, BSTR aliasname, IDispatch* pDisp, IParameterList** ppResult);
    HRESULT GetXmlParameterList2_(BSTR xmlFile, BSTR aliasname, IDispatch* pDisp, IParameterList** ppResult);
    HRESULT GetXmlParameterList4(BSTR xmlFile, BSTR aliasname, IDispatch* pDisp, BSTR filePathWithoutBackslash,
                                 IParameterList** ppResult);
    // Builders of one element each (builder.cpp, fields.cpp, collections.cpp).
    HRESULT DOMCreateParameterListEntry(IDispatch* pDOMNode, IDispatch* pDisp, IParameterList** ppParameterList);
    HRESULT DOMCreateFieldEntry(IDispatch* pDOMNode, IDispatch* pDisp, IField** ppField);
    HRESULT DOMCreateFieldCollectionEntry(IDispatch* pDOMNode, IDispatch* pDisp, IFieldCollection** ppFieldCollection);
    HRESULT DOMCreateStructureCollectionEntry(IDispatch* pDOMNode, IDispatch* pDisp,
                                              IStructureCollection** ppStructureCollection);
    HRESULT DOMCreateStructureEntry(IDispatch* pDOMNode, IDispatch* pDisp, IStructure** ppStructure);
    HRESULT DOMCreateTableCollectionEntry(IDispatch* pDOMNode, IDispatch* pDisp, ITableCollection** ppTableCollection);
    HRESULT DOMCreateTableEntry(IDispatch* pDOMNode, IDispatch* pDisp, ITable** ppTable);
    HRESULT DOMCreateFieldCollectionTableEntry(IDispatch* pDOMNode, IDispatch* pDisp,
                                               IFieldCollectionTable** ppFieldCollectionTable);

    // While one lives, the nodes the engine reads belong to a document this server has just parsed
    // itself, which nobody else holds: the parser refuses elements nested deeper than 256 levels,
    // so element values are read without looking for deeper nesting. A node a caller hands in may
    // have been built node by node: the members callers reach the engine through end the scope for
    // their call (CallerNodes).
    class ParsedHere {
    public:
        explicit ParsedHere(Engine& engine, bool parsedHere = true) noexcept
            : engine_(engine), previous_(std::exchange(engine.parsedHere_, parsedHere)) {}
        ~ParsedHere() { engine_.parsedHere_ = previous_; }
        ParsedHere(const ParsedHere&) = delete;
        ParsedHere& operator=(const ParsedHere&) = delete;

    private:
        Engine& engine_;
        bool previous_;
    };
    struct CallerNodes : ParsedHere {
        explicit CallerNodes(Engine& engine) noexcept : ParsedHere(engine, false) {}
    };

private:
    HRESULT LookupMessage(BSTR id, BSTR* text) override { return host_.LookupMessage(id, text); }

    // The typed value and the text of an element (dom::ElementValue, dom::ElementText); in a
    // document parsed here without the nesting check.
    Variant ReadValue(IXMLDOMNode* element) {
        if (!parsedHere_) return dom::ElementValue(element);
        Variant value;
        CHECK_HR(element->get_nodeTypedValue(value.Out()));
        return value;
    }
    Bstr ReadText(IXMLDOMNode* element) { return dom::AsText(ReadValue(element)); }
    auto TextReader() {
        return [this](IXMLDOMNode* element) { return ReadText(element); };
    }

    // The internal builders fill an existing object, so that a list keeps its own collections;
    // each reports through its own error frame.
    HRESULT DOMCreateFieldCollectionEntry_intern(IDispatch* pDOMNode, IDispatch* pDisp, IFieldCollection* target);
    HRESULT DOMCreateStructureCollectionEntry_intern(IDispatch* pDOMNode, IDispatch* pDisp, IStructureCollection* target);
    HRESULT DOMCreateTableCollectionEntry_intern(IDispatch* pDOMNode, IDispatch* pDisp, ITableCollection* target);
    // Creates an empty collection, fills it from `pDOMNode` with `fill` and hands it out.
    template <class I>
    HRESULT NewFilledCollection(const wchar_t* method, IDispatch* pDOMNode, IDispatch* pDisp, I** result, REFCLSID clsid,
                                HRESULT (Engine::*fill)(IDispatch*, IDispatch*, I*));
    // The value of the property that `element`'s text names; null when the property has none.
    Bstr PropertyNamedBy(IXMLDOMNode* element);
    // The element's attributes as the attribute collection of the data-type object built from it.
    template <class I>
    void TakeAttributes(IXMLDOMNode* node, I* object);
    // Adds the fields a `Mapping` element selects from the caller's context object to `target`.
    HRESULT DOMCreateMapping(IDispatch* pDOMNode, IDispatch* pDisp, IFieldCollection* target);
    // The field group of `list` a mapping selects: the whole field collection, a structure's fields
    // or one table row (by number from 1, or below 1 by a field's value); null when it is missing.
    HRESULT Mapping_intern(IParameterList* list, BSTR structureName, BSTR tableName, BSTR subtype, BSTR searchName,
                           BSTR searchValue, long row, IFieldCollection** result);
    // Runs an event macro on `list` (which the macro may replace) and records the macro's "RETURN"
    // structure as the list attribute `eventName`.
    void RunEventMacro(BSTR scriptEngine, BSTR methodName, ComPtr<IParameterList>& list, const wchar_t* eventName);
    void HandleTransactionEvent(IParameterList* list, IParameterList* output, const wchar_t* eventName);
    // The list of a template transaction, built with `context` as its context object.
    ComPtr<IParameterList> BuildTemplate(BSTR templateFile, BSTR templateName, IParameterList* context);
    // A copy of the caller's input list with `built` merged into it, when `built` asks for that.
    HRESULT CheckForMerge(IDispatch* pDisp, IParameterList* built, IParameterList** result);
    // Adds the fields of `source` missing in `target`; for fields on both sides copies the value
    // (when allowReplace) and merges their attributes the same way.
    HRESULT MergeByFlag(IFieldCollection* source, IFieldCollection* target, VARIANT_BOOL allowReplace);
    // The XPath of a transaction's `Parameter` element; "Parameter" without an alias.
    HRESULT DetermineNodeNameForAliasName(BSTR aliasname, BSTR* path);
    // Builds the list of the element `path` selects in `document`; `source` names the document in
    // the failure for a missing element.
    HRESULT GetParameterList(IDispatch* document, BSTR path, IDispatch* pDisp, BSTR source, IParameterList** result);
    // Records where a list came from in its attributes.
    HRESULT SetContext(IParameterList* list, BSTR source, BSTR transaction, bool isCustomerFile, BSTR customerWarning);

    UtilityServices& host_;
    DataObjects& objects_;
    dom::NodeFields& nodeFields_;
    // The XSLT processor, created on first use and kept for the engine's lifetime.
    ComPtr<IXsltProcessor> xslt_;
    // Template transactions being built (file, alias), innermost last.
    std::vector<std::pair<std::wstring, std::wstring>> templatesInProgress_;
    // Set while the nodes read come from a document parsed here (ParsedHere).
    bool parsedHere_ = false;
};

}  // namespace qarn::paramlist
