// Table (a named list of rows), TableCollection and FieldCollectionTable (the rows, each a
// field collection).
#include "Datatypes.h"

using namespace qarn;
using namespace qarn::dt;

CTable::~CTable() { ReleaseLater(rows_); }

IFieldCollectionTable* CTable::Rows() {
    if (!rows_) rows_ = CFieldCollectionTable::Make();
    return rows_.Get();
}

STDMETHODIMP CTable::get_FieldCollectionTable(IFieldCollectionTable** result) {
    return MethodFrame(L"Table::get_FieldCollectionTable", [&] {
        OutParam(result) = Rows();
        (*result)->AddRef();
    });
}

STDMETHODIMP CTable::put_FieldCollectionTable(IFieldCollectionTable* value) {
    // Replaces the rows as a whole; nothing puts a new empty table.
    return MethodFrame(L"Table::put_FieldCollectionTable", [&] {
        ComPtr<IFieldCollectionTable> next(value);
        if (!next) next = CFieldCollectionTable::Make();
        std::swap(rows_, next);
        ReleaseLater(next);
    });
}

STDMETHODIMP CTableCollection::Add(ITable* table) {
    return MethodFrame(L"TableCollection::Add", [&] {
        if (!table) THROW_MESSAGE(L"The table to add is nothing.");
        items_.Append(table);
    });
}

STDMETHODIMP CTableCollection::get_Table(BSTR name, ITable** result) {
    return MethodFrame(L"TableCollection::get_Table", [&] {
        OutParam(result) = items_.FindLast(View(name));
        if (*result) (*result)->AddRef();
    });
}

STDMETHODIMP CTableCollection::Append(ITableCollection* other) {
    return MethodFrame(L"TableCollection::Append", [&] {
        for (const ComPtr<ITable>& t : MembersOf<ITable>(other)) items_.Append(t.Get());
    });
}

STDMETHODIMP CFieldCollectionTable::Add(IFieldCollection* row) {
    return MethodFrame(L"FieldCollectionTable::Add", [&] {
        if (!row) THROW_MESSAGE(L"The row to add is nothing.");
        items_.Append(row);
    });
}

STDMETHODIMP CFieldCollectionTable::Append(IFieldCollectionTable* other) {
    return MethodFrame(L"FieldCollectionTable::Append", [&] {
        for (const ComPtr<IFieldCollection>& row : MembersOf<IFieldCollection>(other)) items_.Append(row.Get());
    });
}

STDMETHODIMP CFieldCollectionTable::FindRow(BSTR name, BSTR value, IFieldCollection** result) {
    // The first row that has a field of that name (the one its lookup finds) with exactly that text.
    return MethodFrame(L"FieldCollectionTable::FindRow", [&] {
        OutParam(result);
        const std::wstring_view wanted = View(value);
        const std::vector<ComPtr<IFieldCollection>> rows = items_.Members();  // rows may be foreign
        for (const ComPtr<IFieldCollection>& row : rows) {
            ComPtr<IField> field;
            CHECK_HR(row->get_Field(name, &field));
            if (!field) continue;
            secure::WipedBstr text;  // the value may be clear text
            CHECK_HR(field->get_StringValue(text.Out()));
            if (View(text) == wanted) {
                *result = row.Get();
                (*result)->AddRef();
                return;
            }
        }
    });
}
