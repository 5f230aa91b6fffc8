// ParameterList: one field collection, one structure collection, one table collection and the
// list's attributes, with the lookups callers use to read single fields.
#include "Datatypes.h"

using namespace qarn;
using namespace qarn::dt;

CParameterList::~CParameterList() {
    ReleaseLater(fields_);
    ReleaseLater(structures_);
    ReleaseLater(tables_);
}

IFieldCollection* CParameterList::Fields() {
    if (!fields_) fields_ = CFieldCollection::Make();
    return fields_.Get();
}

IStructureCollection* CParameterList::Structures() {
    if (!structures_) structures_ = CStructureCollection::Make();
    return structures_.Get();
}

ITableCollection* CParameterList::Tables() {
    if (!tables_) tables_ = CTableCollection::Make();
    return tables_.Get();
}

namespace {

// The get of a collection property: never nothing.
template <class I>
void HandOut(I* collection, I** result) {
    OutParam(result) = collection;
    collection->AddRef();
}

// The put of a collection property: the given object, or a new empty collection for nothing.
template <class Concrete, class I>
void Replace(ComPtr<I>& slot, I* value) {
    ComPtr<I> next(value);
    if (!next) next = Concrete::Make();
    std::swap(slot, next);
    ReleaseLater(next);
}

}  // namespace

STDMETHODIMP CParameterList::get_FieldCollection(IFieldCollection** result) {
    return MethodFrame(L"ParameterList::get_FieldCollection", [&] { HandOut(Fields(), result); });
}

STDMETHODIMP CParameterList::put_FieldCollection(IFieldCollection* value) {
    return MethodFrame(L"ParameterList::put_FieldCollection", [&] { Replace<CFieldCollection>(fields_, value); });
}

STDMETHODIMP CParameterList::get_StructureCollection(IStructureCollection** result) {
    return MethodFrame(L"ParameterList::get_StructureCollection", [&] { HandOut(Structures(), result); });
}

STDMETHODIMP CParameterList::put_StructureCollection(IStructureCollection* value) {
    return MethodFrame(L"ParameterList::put_StructureCollection",
                       [&] { Replace<CStructureCollection>(structures_, value); });
}

STDMETHODIMP CParameterList::get_TableCollection(ITableCollection** result) {
    return MethodFrame(L"ParameterList::get_TableCollection", [&] { HandOut(Tables(), result); });
}

STDMETHODIMP CParameterList::put_TableCollection(ITableCollection* value) {
    return MethodFrame(L"ParameterList::put_TableCollection", [&] { Replace<CTableCollection>(tables_, value); });
}

STDMETHODIMP CParameterList::GetField(BSTR field, IField** result) {
    return MethodFrame(L"ParameterList::GetField", [&] {
        OutParam(result);
        CHECK_HR(Fields()->get_Field(field, result));
    });
}

STDMETHODIMP CParameterList::GetStructureField(BSTR field, BSTR structure, IField** result) {
    return MethodFrame(L"ParameterList::GetStructureField", [&] {
        OutParam(result);
        ComPtr<IStructure> found;
        CHECK_HR(Structures()->get_Structure(structure, &found));
        if (found) CHECK_HR(found->GetField(field, result));
    });
}

ComPtr<IFieldCollectionTable> CParameterList::TableRows(BSTR table) {
    ComPtr<ITable> found;
    CHECK_HR(Tables()->get_Table(table, &found));
    ComPtr<IFieldCollectionTable> rows;
    if (found) CHECK_HR(found->get_FieldCollectionTable(&rows));
    return rows;
}

STDMETHODIMP CParameterList::GetTableField(BSTR field, BSTR table, LONG row, IField** result) {
    return MethodFrame(L"ParameterList::GetTableField", [&] {
        OutParam(result);
        ComPtr<IFieldCollectionTable> rows = TableRows(table);
        if (!rows) return;
        LONG count = 0;
        CHECK_HR(rows->get_Count(&count));
        if (row < 1 || row > count) return;
        ComPtr<IFieldCollection> fields;
        CHECK_HR(rows->get_Item(row, &fields));
        if (fields) CHECK_HR(fields->get_Field(field, result));
    });
}

STDMETHODIMP CParameterList::FindTableField(BSTR field, BSTR table, BSTR searchName, BSTR searchValue,
                                            IField** result) {
    return MethodFrame(L"ParameterList::FindTableField", [&] {
        OutParam(result);
        ComPtr<IFieldCollectionTable> rows = TableRows(table);
        if (!rows) return;
        ComPtr<IFieldCollection> fields;
        CHECK_HR(rows->FindRow(searchName, searchValue, &fields));
        if (fields) CHECK_HR(fields->get_Field(field, result));
    });
}

STDMETHODIMP CParameterList::Clone(IParameterList** result) {
    return MethodFrame(L"ParameterList::Clone", [&] {
        OutParam(result) = CloneParameterList(*this).Detach();
    });
}

STDMETHODIMP CParameterList::GetTable(BSTR name, ITable** result) {
    return MethodFrame(L"ParameterList::GetTable", [&] {
        OutParam(result);
        CHECK_HR(Tables()->get_Table(name, result));
    });
}

STDMETHODIMP CParameterList::GetStructure(BSTR name, IStructure** result) {
    return MethodFrame(L"ParameterList::GetStructure", [&] {
        OutParam(result);
        CHECK_HR(Structures()->get_Structure(name, result));
    });
}

STDMETHODIMP CParameterList::get_Xml(BSTR* xml) {
    return MethodFrame(L"ParameterList::get_Xml", [&] {
        OutParam(xml) = CopyBstr(ParameterListXml(*this));
    });
}
