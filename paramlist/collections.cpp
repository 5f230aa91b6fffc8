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
ComPtr<I> Engine::NewFilledCollection(const wchar_t* method, IXMLDOMNode* node, IDispatch* context, Nodes nodes, Call call,
                                      REFCLSID clsid, void (Engine::*fill)(IXMLDOMNode*, IDispatch*, Nodes, I*, Call)) {
    return Framed(method, call, [&]() -> ComPtr<I> {
        if (!node) return {};
        ComPtr<I> collection = objects_.New<I>(clsid);
        (this->*fill)(node, context, nodes, collection.Get(), Call());
        return collection;
    });
}

ComPtr<IFieldCollection> Engine::BuildFieldCollection(IXMLDOMNode* node, IDispatch* context, Nodes nodes, Call call) {
    return NewFilledCollection(L"CQarnUtilities::DOMCreateFieldCollectionEntry", node, context, nodes, call,
                               CLSID_FieldCollection, &Engine::FillFields);
}

void Engine::FillFields(IXMLDOMNode* node, IDispatch* context, Nodes nodes, IFieldCollection* target, Call call) {
    Framed(L"CQarnUtilities::DOMCreateFieldCollectionEntry_intern", call, [&] {
        if (!node || !target) return;
        TakeAttributes(node, target);
        ForEachElement(node, [&](IXMLDOMNode* child, std::wstring_view name) {
            if (name == L"Field") {
                if (const ComPtr<IField> field = BuildField(child, context, nodes)) CHECK_HR(target->Add(field.Get()));
            } else if (name == L"Mapping") {
                AddMapping(child, context, nodes, target);
            }
        });
    });
}

ComPtr<IStructureCollection> Engine::BuildStructureCollection(IXMLDOMNode* node, IDispatch* context, Nodes nodes, Call call) {
    return NewFilledCollection(L"CQarnUtilities::DOMCreateStructureCollectionEntry", node, context, nodes, call,
                               CLSID_StructureCollection, &Engine::FillStructures);
}

// Structures and tables: the objects `build` makes of the `element` children join the collection.
template <class C, class I>
void Engine::FillCollection(const wchar_t* method, IXMLDOMNode* node, IDispatch* context, Nodes nodes, C* target,
                            Call call, const wchar_t* element, ComPtr<I> (Engine::*build)(IXMLDOMNode*, IDispatch*, Nodes, Call)) {
    Framed(method, call, [&] {
        if (!node || !target) return;
        TakeAttributes(node, target);
        ForEachElement(node, [&](IXMLDOMNode* child, std::wstring_view name) {
            if (name != element) return;
            if (const ComPtr<I> item = (this->*build)(child, context, nodes, Call())) CHECK_HR(target->Add(item.Get()));
        });
    });
}

void Engine::FillStructures(IXMLDOMNode* node, IDispatch* context, Nodes nodes, IStructureCollection* target, Call call) {
    FillCollection(L"CQarnUtilities::DOMCreateStructureCollectionEntry_intern", node, context, nodes, target, call,
                   L"Structure", &Engine::BuildStructure);
}

ComPtr<IStructure> Engine::BuildStructure(IXMLDOMNode* node, IDispatch* context, Nodes nodes, Call call) {
    return Framed(L"CQarnUtilities::DOMCreateStructureEntry", call, [&]() -> ComPtr<IStructure> {
        if (!node) return {};
        ComPtr<IStructure> structure = objects_.New<IStructure>(CLSID_Structure);
        TakeAttributes(node, structure.Get());
        bool hasFields = false;  // the structure holds a collection read here
        ForEachElement(node, [&](IXMLDOMNode* child, std::wstring_view name) {
            if (name == L"Name") {
                CHECK_HR(structure->put_Name(ReadText(child, nodes)));
            } else if (name == L"NameFromProperty") {
                if (const Bstr value = PropertyNamedBy(child, nodes); !value.IsNull()) CHECK_HR(structure->put_Name(value));
            } else if (name == L"FieldCollection") {
                const ComPtr<IFieldCollection> fields = BuildFieldCollection(child, context, nodes);
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
        return structure;
    });
}

ComPtr<ITableCollection> Engine::BuildTableCollection(IXMLDOMNode* node, IDispatch* context, Nodes nodes, Call call) {
    return NewFilledCollection(L"CQarnUtilities::DOMCreateTableCollectionEntry", node, context, nodes, call,
                               CLSID_TableCollection, &Engine::FillTables);
}

void Engine::FillTables(IXMLDOMNode* node, IDispatch* context, Nodes nodes, ITableCollection* target, Call call) {
    FillCollection(L"CQarnUtilities::DOMCreateTableCollectionEntry_intern", node, context, nodes, target, call, L"Table",
                   &Engine::BuildTable);
}

ComPtr<ITable> Engine::BuildTable(IXMLDOMNode* node, IDispatch* context, Nodes nodes, Call call) {
    return Framed(L"CQarnUtilities::DOMCreateTableEntry", call, [&]() -> ComPtr<ITable> {
        if (!node) return {};
        ComPtr<ITable> table = objects_.New<ITable>(CLSID_Table);
        TakeAttributes(node, table.Get());
        ForEachElement(node, [&](IXMLDOMNode* child, std::wstring_view name) {
            if (name == L"Name") {
                CHECK_HR(table->put_Name(ReadText(child, nodes)));
            } else if (name == L"FieldCollectionTable") {
                const ComPtr<IFieldCollectionTable> rows = BuildRows(child, context, nodes);
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
        return table;
    });
}

ComPtr<IFieldCollectionTable> Engine::BuildRows(IXMLDOMNode* node, IDispatch* context, Nodes nodes, Call call) {
    return Framed(L"CQarnUtilities::DOMCreateFieldCollectionTableEntry", call, [&]() -> ComPtr<IFieldCollectionTable> {
        if (!node) return {};
        ComPtr<IFieldCollectionTable> rows = objects_.New<IFieldCollectionTable>(CLSID_FieldCollectionTable);
        TakeAttributes(node, rows.Get());
        ForEachElement(node, [&](IXMLDOMNode* child, std::wstring_view name) {
            if (name != L"FieldCollection") return;
            if (const ComPtr<IFieldCollection> row = BuildFieldCollection(child, context, nodes)) CHECK_HR(rows->Add(row.Get()));
        });
        return rows;
    });
}

void Engine::AddMapping(IXMLDOMNode* node, IDispatch* context, Nodes nodes, IFieldCollection* target, Call call) {
    Framed(L"CQarnUtilities::DOMCreateMapping", call, [&] {
        if (!node || !target) return;
        SourceSelection source;
        ForEachElement(node, [&](IXMLDOMNode* child, std::wstring_view name) { source.Read(name, child, TextReader(nodes)); });
        if (!context || !(source.Is(L"ParameterList") || source.Is(L"QarnDocument"))) return;
        const ComPtr<IParameterList> list = ContextList(context, source);
        if (!list) return;
        if (const ComPtr<IFieldCollection> mapped = MappedFields(list.Get(), source)) CHECK_HR(target->AddFieldCollection(mapped.Get()));
    });
}

ComPtr<IFieldCollection> Engine::MappedFields(IParameterList* list, const SourceSelection& s, Call call) {
    return Framed(L"CQarnUtilities::Mapping_intern", call, [&] {
        ComPtr<IFieldCollection> result;
        if (!list) return result;
        const std::wstring_view kind = s.subtype.View();
        if (kind == L"FieldCollection") {
            CHECK_HR(list->get_FieldCollection(&result));
        } else if (kind == L"StructureCollection") {
            ComPtr<IStructure> structure;
            CHECK_HR(list->GetStructure(s.structure, &structure));
            if (structure) CHECK_HR(structure->get_FieldCollection(&result));
        } else if (kind == L"TableCollection") {
            ComPtr<ITable> table;
            CHECK_HR(list->GetTable(s.table, &table));
            ComPtr<IFieldCollectionTable> rows;
            if (table) CHECK_HR(table->get_FieldCollectionTable(&rows));
            if (!rows) return result;
            if (s.row < 1) {
                CHECK_HR(rows->FindRow(s.searchName, s.searchValue, &result));
                return result;
            }
            // A row beyond the table maps nothing.
            long count = 0;
            CHECK_HR(rows->get_Count(&count));
            if (s.row <= count) CHECK_HR(rows->get_Item(s.row, &result));
        }
        return result;
    });
}
