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

STDMETHODIMP CTable::get_Name(BSTR* name) {
    return MethodFrame(L"Table::get_Name", [&] {
        OutParam(name);
        *name = CopyBstr(Name());
    });
}

STDMETHODIMP CTable::put_Name(BSTR name) {
    return MethodFrame(L"Table::put_Name", [&] { SetName(std::wstring(View(name))); });
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

STDMETHODIMP CTable::get_Attributes(IFieldCollection** attributes) {
    return GetAttributes(L"Table::get_Attributes", attributes);
}

STDMETHODIMP CTable::put_Attributes(IFieldCollection* attributes) {
    return PutAttributes(L"Table::put_Attributes", attributes);
}

STDMETHODIMP CTableCollection::Add(ITable* table) {
    return MethodFrame(L"TableCollection::Add", [&] {
        if (!table) THROW_MESSAGE(L"The table to add is nothing.");
        tables_.Append(table);
    });
}

STDMETHODIMP CTableCollection::get_Table(BSTR name, ITable** result) {
    return MethodFrame(L"TableCollection::get_Table", [&] {
        OutParam(result) = tables_.FindLast(View(name));
        if (*result) (*result)->AddRef();
    });
}

STDMETHODIMP CTableCollection::Append(ITableCollection* other) {
    return MethodFrame(L"TableCollection::Append", [&] {
        for (const ComPtr<ITable>& t : MembersOf<ITable>(other)) tables_.Append(t.Get());
    });
}

STDMETHODIMP CTableCollection::get_Count(LONG* count) {
    return MethodFrame(L"TableCollection::get_Count", [&] {
        OutParam(count) = static_cast<LONG>(tables_.Count());
    });
}

STDMETHODIMP CTableCollection::get_Item(LONG index, ITable** result) {
    return MethodFrame(L"TableCollection::get_Item", [&] {
        OutParam(result);
        *result = tables_.At(CHECK_INDEX(index, tables_.Count()));
        (*result)->AddRef();
    });
}

STDMETHODIMP CTableCollection::get__NewEnum(IUnknown** result) {
    return MethodFrame(L"TableCollection::get__NewEnum", [&] {
        OutParam(result);
        CHECK_HR(EnumerateMembers(tables_.Members(), result));
    });
}

STDMETHODIMP CTableCollection::get_Attributes(IFieldCollection** attributes) {
    return GetAttributes(L"TableCollection::get_Attributes", attributes);
}

STDMETHODIMP CTableCollection::put_Attributes(IFieldCollection* attributes) {
    return PutAttributes(L"TableCollection::put_Attributes", attributes);
}

STDMETHODIMP CFieldCollectionTable::Add(IFieldCollection* row) {
    return MethodFrame(L"FieldCollectionTable::Add", [&] {
        if (!row) THROW_MESSAGE(L"The row to add is nothing.");
        rows_.Append(row);
    });
}

STDMETHODIMP CFieldCollectionTable::Append(IFieldCollectionTable* other) {
    return MethodFrame(L"FieldCollectionTable::Append", [&] {
        for (const ComPtr<IFieldCollection>& row : MembersOf<IFieldCollection>(other)) rows_.Append(row.Get());
    });
}

STDMETHODIMP CFieldCollectionTable::FindRow(BSTR name, BSTR value, IFieldCollection** result) {
    // The first row that has a field of that name (the one its lookup finds) with exactly that text.
    return MethodFrame(L"FieldCollectionTable::FindRow", [&] {
        OutParam(result);
        const std::wstring_view wanted = View(value);
        const std::vector<ComPtr<IFieldCollection>> rows = rows_.Members();  // rows may be foreign
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

STDMETHODIMP CFieldCollectionTable::get_Count(LONG* count) {
    return MethodFrame(L"FieldCollectionTable::get_Count", [&] {
        OutParam(count) = static_cast<LONG>(rows_.Count());
    });
}

STDMETHODIMP CFieldCollectionTable::get_Item(LONG row, IFieldCollection** result) {
    return MethodFrame(L"FieldCollectionTable::get_Item", [&] {
        OutParam(result);
        *result = rows_.At(CHECK_INDEX(row, rows_.Count()));
        (*result)->AddRef();
    });
}

STDMETHODIMP CFieldCollectionTable::get__NewEnum(IUnknown** result) {
    return MethodFrame(L"FieldCollectionTable::get__NewEnum", [&] {
        OutParam(result);
        CHECK_HR(EnumerateMembers(rows_.Members(), result));
    });
}

STDMETHODIMP CFieldCollectionTable::get_Attributes(IFieldCollection** attributes) {
    return GetAttributes(L"FieldCollectionTable::get_Attributes", attributes);
}

STDMETHODIMP CFieldCollectionTable::put_Attributes(IFieldCollection* attributes) {
    return PutAttributes(L"FieldCollectionTable::put_Attributes", attributes);
}
