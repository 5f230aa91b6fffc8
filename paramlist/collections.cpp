// Collections, tables and mappings: the elements of a transaction definition fill the data-type
// objects of a parameter list; a mapping copies a group of fields from the caller's parameter list
// into a field collection. Every element's XML attributes become the attributes of its object.
#include "base/OwnAccess.h"
#include "paramlist/Engine.h"

using namespace qarn;
using namespace qarn::paramlist;

template <class I>
void Engine::TakeAttributes(IXMLDOMNode* node, I* object) {
    if (const ComPtr<IFieldCollection> attributes = nodeFields_.AttributeFields(node)) CHECK_HR(object->put_Attributes(attributes.Get()));
}

// The public collection builders make the empty collection and fill it like the list's own ones.
template <class I>
HRESULT Engine::NewFilledCollection(const wchar_t* method, IDispatch* pDOMNode, IDispatch* pDisp, I** result,
                                            REFCLSID clsid, HRESULT (Engine::*fill)(IDispatch*, IDispatch*, I*)) {
    return MethodFrame(method, [&] {
        OutParam(result);
        if (!pDOMNode) return;
        ComPtr<I> collection = objects_.New<I>(clsid);
        CHECK_HR((this->*fill)(pDOMNode, pDisp, collection.Get()));
        *result = collection.Detach();
    });
}

HRESULT Engine::DOMCreateFieldCollectionEntry(IDispatch *pDOMNode, IDispatch *pDisp, IFieldCollection **ppFieldCollection) {
    return NewFilledCollection(L"CQarnUtilities::DOMCreateFieldCollectionEntry", pDOMNode, pDisp, ppFieldCollection, CLSID_FieldCollection,
                               &Engine::DOMCreateFieldCollectionEntry_intern);
}

HRESULT Engine::DOMCreateFieldCollectionEntry_intern(IDispatch* pDOMNode, IDispatch* pDisp, IFieldCollection* target) {
    return MethodFrame(L"CQarnUtilities::DOMCreateFieldCollectionEntry_intern", [&] {
        if (!pDOMNode || !target) return;
        const ComPtr<IXMLDOMNode> node = dom::AsNode(pDOMNode);
        TakeAttributes(node.Get(), target);
        ForEachElement(node.Get(), [&](IXMLDOMNode* child, std::wstring_view name) {
            if (name == L"Field") {
                ComPtr<IField> field;
                CHECK_HR(DOMCreateFieldEntry(child, pDisp, &field));
                if (field) CHECK_HR(target->Add(field.Get()));
            } else if (name == L"Mapping") {
                CHECK_HR(DOMCreateMapping(child, pDisp, target));
            }
        });
    });
}

HRESULT Engine::DOMCreateStructureCollectionEntry(IDispatch *pDOMNode, IDispatch *pDisp, IStructureCollection **ppStructureCollection) {
    return NewFilledCollection(L"CQarnUtilities::DOMCreateStructureCollectionEntry", pDOMNode, pDisp, ppStructureCollection, CLSID_StructureCollection,
                               &Engine::DOMCreateStructureCollectionEntry_intern);
}

HRESULT Engine::DOMCreateStructureCollectionEntry_intern(IDispatch* pDOMNode, IDispatch* pDisp, IStructureCollection* target) {
    return MethodFrame(L"CQarnUtilities::DOMCreateStructureCollectionEntry_intern", [&] {
        if (!pDOMNode || !target) return;
        const ComPtr<IXMLDOMNode> node = dom::AsNode(pDOMNode);
        TakeAttributes(node.Get(), target);
        ForEachElement(node.Get(), [&](IXMLDOMNode* child, std::wstring_view name) {
            if (name != L"Structure") return;
            ComPtr<IStructure> structure;
            CHECK_HR(DOMCreateStructureEntry(child, pDisp, &structure));
            if (structure) CHECK_HR(target->Add(structure.Get()));
        });
    });
}

HRESULT Engine::DOMCreateStructureEntry(IDispatch *pDOMNode, IDispatch *pDisp, IStructure **ppStructure) {
    return MethodFrame(L"CQarnUtilities::DOMCreateStructureEntry", [&] {
        OutParam(ppStructure);
        if (!pDOMNode) return;
        const ComPtr<IXMLDOMNode> node = dom::AsNode(pDOMNode);
        ComPtr<IStructure> structure = objects_.New<IStructure>(CLSID_Structure);
        TakeAttributes(node.Get(), structure.Get());
        bool hasFields = false;  // the structure holds a collection read here
        ForEachElement(node.Get(), [&](IXMLDOMNode* child, std::wstring_view name) {
            if (name == L"Name") {
                CHECK_HR(structure->put_Name(ReadText(child)));
            } else if (name == L"NameFromProperty") {
                if (const Bstr value = PropertyNamedBy(child); !value.IsNull()) CHECK_HR(structure->put_Name(value));
            } else if (name == L"FieldCollection") {
                ComPtr<IFieldCollection> fields;
                CHECK_HR(DOMCreateFieldCollectionEntry(child, pDisp, &fields));
                if (!fields) return;
                // The first collection becomes the structure's own, which was empty, on this data-type
                // server's structures: the same fields as adding them to it, and no attributes, which
                // the structure's own has none of. Others get the general member.
                if (hasFields || !IsOwnObject(structure.Get())) {
                    CHECK_HR(structure->AddFieldCollection(fields.Get()));
                    hasFields = true;
                    return;
                }
                CHECK_HR(fields->put_Attributes(nullptr));
                CHECK_HR(structure->put_FieldCollection(fields.Get()));
                hasFields = true;
            }
        });
        *ppStructure = structure.Detach();
    });
}

HRESULT Engine::DOMCreateTableCollectionEntry(IDispatch *pDOMNode, IDispatch *pDisp, ITableCollection **ppTableCollection) {
    return NewFilledCollection(L"CQarnUtilities::DOMCreateTableCollectionEntry", pDOMNode, pDisp, ppTableCollection, CLSID_TableCollection,
                               &Engine::DOMCreateTableCollectionEntry_intern);
}

HRESULT Engine::DOMCreateTableCollectionEntry_intern(IDispatch* pDOMNode, IDispatch* pDisp, ITableCollection* target) {
    return MethodFrame(L"CQarnUtilities::DOMCreateTableCollectionEntry_intern", [&] {
        if (!pDOMNode || !target) return;
        const ComPtr<IXMLDOMNode> node = dom::AsNode(pDOMNode);
        TakeAttributes(node.Get(), target);
        ForEachElement(node.Get(), [&](IXMLDOMNode* child, std::wstring_view name) {
            if (name != L"Table") return;
            ComPtr<ITable> table;
            CHECK_HR(DOMCreateTableEntry(child, pDisp, &table));
            if (table) CHECK_HR(target->Add(table.Get()));
        });
    });
}

HRESULT Engine::DOMCreateTableEntry(IDispatch *pDOMNode, IDispatch *pDisp, ITable **ppTable) {
    return MethodFrame(L"CQarnUtilities::DOMCreateTableEntry", [&] {
        OutParam(ppTable);
        if (!pDOMNode) return;
        const ComPtr<IXMLDOMNode> node = dom::AsNode(pDOMNode);
        ComPtr<ITable> table = objects_.New<ITable>(CLSID_Table);
        TakeAttributes(node.Get(), table.Get());
        ForEachElement(node.Get(), [&](IXMLDOMNode* child, std::wstring_view name) {
            if (name == L"Name") {
                CHECK_HR(table->put_Name(ReadText(child)));
            } else if (name == L"FieldCollectionTable") {
                ComPtr<IFieldCollectionTable> rows;
                CHECK_HR(DOMCreateFieldCollectionTableEntry(child, pDisp, &rows));
                if (!rows) return;
                // The rows join the table's own rows.
                ComPtr<IFieldCollectionTable> own;
                CHECK_HR(table->get_FieldCollectionTable(&own));
                if (own)
                    CHECK_HR(own->Append(rows.Get()));
                else
                    CHECK_HR(table->put_FieldCollectionTable(rows.Get()));
            }
        });
        *ppTable = table.Detach();
    });
}

HRESULT Engine::DOMCreateFieldCollectionTableEntry(IDispatch *pDOMNode, IDispatch *pDisp, IFieldCollectionTable **ppFieldCollectionTable) {
    return MethodFrame(L"CQarnUtilities::DOMCreateFieldCollectionTableEntry", [&] {
        OutParam(ppFieldCollectionTable);
        if (!pDOMNode) return;
        const ComPtr<IXMLDOMNode> node = dom::AsNode(pDOMNode);
        ComPtr<IFieldCollectionTable> rows = objects_.New<IFieldCollectionTable>(CLSID_FieldCollectionTable);
        TakeAttributes(node.Get(), rows.Get());
        ForEachElement(node.Get(), [&](IXMLDOMNode* child, std::wstring_view name) {
            if (name != L"FieldCollection") return;
            ComPtr<IFieldCollection> row;
            CHECK_HR(DOMCreateFieldCollectionEntry(child, pDisp, &row));
            if (row) CHECK_HR(rows->Add(row.Get()));
        });
        *ppFieldCollectionTable = rows.Detach();
    });
}

HRESULT Engine::DOMCreateMapping(IDispatch* pDOMNode, IDispatch* pDisp, IFieldCollection* target) {
    return MethodFrame(L"CQarnUtilities::DOMCreateMapping", [&] {
        if (!pDOMNode || !target) return;
        const ComPtr<IXMLDOMNode> node = dom::AsNode(pDOMNode);
        SourceSelection source;
        ForEachElement(node.Get(), [&](IXMLDOMNode* child, std::wstring_view name) { source.Read(name, child, TextReader()); });
        if (!pDisp || !(source.Is(L"ParameterList") || source.Is(L"QarnDocument"))) return;
        const ComPtr<IParameterList> list = ContextList(pDisp, source);
        if (!list) return;
        ComPtr<IFieldCollection> mapped;
        CHECK_HR(Mapping_intern(list.Get(), source.structure, source.table, source.subtype, source.searchName,
                                source.searchValue, source.row, &mapped));
        if (mapped) CHECK_HR(target->AddFieldCollection(mapped.Get()));
    });
}

HRESULT Engine::Mapping_intern(IParameterList* list, BSTR structureName, BSTR tableName, BSTR subtype,
                                       BSTR searchName, BSTR searchValue, long row, IFieldCollection** result) {
    return MethodFrame(L"CQarnUtilities::Mapping_intern", [&] {
        OutParam(result);
        if (!list) return;
        const std::wstring_view kind = View(subtype);
        if (kind == L"FieldCollection") {
            CHECK_HR(list->get_FieldCollection(result));
        } else if (kind == L"StructureCollection") {
            ComPtr<IStructure> structure;
            CHECK_HR(list->GetStructure(structureName, &structure));
            if (structure) CHECK_HR(structure->get_FieldCollection(result));
        } else if (kind == L"TableCollection") {
            ComPtr<ITable> table;
            CHECK_HR(list->GetTable(tableName, &table));
            ComPtr<IFieldCollectionTable> rows;
            if (table) CHECK_HR(table->get_FieldCollectionTable(&rows));
            if (!rows) return;
            if (row < 1) {
                CHECK_HR(rows->FindRow(searchName, searchValue, result));
                return;
            }
            // A row beyond the table maps nothing.
            long count = 0;
            CHECK_HR(rows->get_Count(&count));
            if (row <= count) CHECK_HR(rows->get_Item(row, result));
        }
    });
}
