// The ten creatable classes of QarnComDatatypes.dll.
//
// Collections share their members: Add, Append and the object-valued properties keep the very
// object they are given (reference added), never a copy. Indexes count from 1. Only
// ParameterList.Clone copies.
//
// Attributes, Name, Count, Item and _NewEnum come from the mixins of Mixins.h; each class's kName
// names it in the method frames of those members ("Field::get_Attributes").
#pragma once

#include "Mixins.h"
#include "base/OwnAccess.h"
#include "base/WipedBstr.h"

class CField : public qarn::dt::WithName<CField, IField> {
public:
    static constexpr wchar_t kName[] = L"Field";

    CField() noexcept { qarn::dt::OwnVtable<IField>::Record(this); }
    ~CField();

    STDMETHODIMP get_Value(VARIANT* value) override;
    STDMETHODIMP put_Value(VARIANT value) override;
    STDMETHODIMP get_StringValue(BSTR* text) override;

    const VARIANT& Value() const noexcept { return value_; }
    // Stores a copy of `value`, following a by-reference variant; objects are kept by reference.
    void SetValue(const VARIANT& value);
    // Takes `value` over as it is, leaving it empty (OwnAccess.cpp).
    void TakeValue(VARIANT& value) noexcept;

private:
    qarn::Variant value_;
};

class CFieldCollection : public qarn::dt::IndexedCollection<CFieldCollection, IFieldCollection,
                                                             qarn::dt::NamedList<IField>, IQarnFieldMaker> {
public:
    static constexpr wchar_t kName[] = L"FieldCollection";

    STDMETHODIMP Add(IField* field) override;
    STDMETHODIMP AddField(IField* field) override;
    STDMETHODIMP get_Field(BSTR name, IField** field) override;
    STDMETHODIMP Append(IFieldCollection* other) override;
    STDMETHODIMP AddFieldCollection(IFieldCollection* other) override;
    STDMETHODIMP GetValue(BSTR name, BSTR* value) override;
    STDMETHODIMP SetValue(BSTR name, VARIANT value) override;
    STDMETHODIMP Remove(LONG index) override;

    // Appends the fields of `other` (any implementation; this collection itself included).
    void AppendAll(IFieldCollection* other);

    // IQarnFieldMaker (OwnAccess.cpp).
    STDMETHODIMP AppendTextFields(const QarnTextPair* pairs, ULONG count) override;
    STDMETHODIMP NewAttributedField(const QarnTextPair* field, const QarnTextPair* attributes, ULONG count,
                                    IField** result) override;
};

class CParameterList
    : public qarn::dt::WithAttributes<CParameterList, IParameterList, IQarnOwnParameterList, IQarnOwnObject> {
public:
    static constexpr wchar_t kName[] = L"ParameterList";

    ~CParameterList();

    STDMETHODIMP get_FieldCollection(IFieldCollection** result) override;
    STDMETHODIMP put_FieldCollection(IFieldCollection* value) override;
    STDMETHODIMP get_StructureCollection(IStructureCollection** result) override;
    STDMETHODIMP put_StructureCollection(IStructureCollection* value) override;
    STDMETHODIMP get_TableCollection(ITableCollection** result) override;
    STDMETHODIMP put_TableCollection(ITableCollection* value) override;
    STDMETHODIMP GetField(BSTR field, IField** result) override;
    STDMETHODIMP GetStructureField(BSTR field, BSTR structure, IField** result) override;
    STDMETHODIMP GetTableField(BSTR field, BSTR table, LONG row, IField** result) override;
    STDMETHODIMP FindTableField(BSTR field, BSTR table, BSTR searchName, BSTR searchValue, IField** result) override;
    STDMETHODIMP Clone(IParameterList** result) override;
    STDMETHODIMP GetTable(BSTR name, ITable** result) override;
    STDMETHODIMP GetStructure(BSTR name, IStructure** result) override;
    STDMETHODIMP get_Xml(BSTR* xml) override;
    // IQarnOwnParameterList (OwnAccess.cpp).
    STDMETHODIMP GetWellFormedXml(BSTR* xml) override;
    STDMETHODIMP ReadSnapshot(const BYTE* data, ULONG size) override;
    // The members beyond the type library's that IDispatch::Invoke answers (OwnAccess.cpp).
    HRESULT InvokeOwn(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result);

    // The three collections, created empty on first use (never null).
    IFieldCollection* Fields();
    IStructureCollection* Structures();
    ITableCollection* Tables();
    // The rows of the table of that name, or nothing.
    qarn::ComPtr<IFieldCollectionTable> TableRows(BSTR table);

    // Takes over three collections (a copy being built).
    void Adopt(IFieldCollection* fields, IStructureCollection* structures, ITableCollection* tables) noexcept {
        fields_ = fields;
        structures_ = structures;
        tables_ = tables;
    }

private:
    qarn::ComPtr<IFieldCollection> fields_;
    qarn::ComPtr<IStructureCollection> structures_;
    qarn::ComPtr<ITableCollection> tables_;
};

class CStructure : public qarn::dt::WithName<CStructure, IStructure, IQarnOwnObject> {
public:
    static constexpr wchar_t kName[] = L"Structure";

    CStructure() noexcept { qarn::dt::OwnVtable<IStructure>::Record(this); }
    ~CStructure();

    STDMETHODIMP get_FieldCollection(IFieldCollection** result) override;
    STDMETHODIMP put_FieldCollection(IFieldCollection* value) override;
    STDMETHODIMP get_Text(BSTR* text) override;
    STDMETHODIMP AddFieldCollection(IFieldCollection* other) override;
    STDMETHODIMP GetField(BSTR name, IField** result) override;

    // Created empty on first use (never null).
    IFieldCollection* Fields();
    void SetFields(IFieldCollection* fields) noexcept { fields_ = fields; }

private:
    qarn::ComPtr<IFieldCollection> fields_;
};

class CStructureCollection
    : public qarn::dt::IndexedCollection<CStructureCollection, IStructureCollection, qarn::dt::NamedList<IStructure>> {
public:
    static constexpr wchar_t kName[] = L"StructureCollection";

    STDMETHODIMP Add(IStructure* structure) override;
    STDMETHODIMP get_Structure(BSTR name, IStructure** result) override;
    STDMETHODIMP Append(IStructureCollection* other) override;
};

class CTable : public qarn::dt::WithName<CTable, ITable> {
public:
    static constexpr wchar_t kName[] = L"Table";

    CTable() noexcept { qarn::dt::OwnVtable<ITable>::Record(this); }
    ~CTable();

    STDMETHODIMP get_FieldCollectionTable(IFieldCollectionTable** result) override;
    STDMETHODIMP put_FieldCollectionTable(IFieldCollectionTable* value) override;

    // Created empty on first use (never null).
    IFieldCollectionTable* Rows();
    void SetRows(IFieldCollectionTable* rows) noexcept { rows_ = rows; }

private:
    qarn::ComPtr<IFieldCollectionTable> rows_;
};

class CTableCollection
    : public qarn::dt::IndexedCollection<CTableCollection, ITableCollection, qarn::dt::NamedList<ITable>> {
public:
    static constexpr wchar_t kName[] = L"TableCollection";

    STDMETHODIMP Add(ITable* table) override;
    STDMETHODIMP get_Table(BSTR name, ITable** result) override;
    STDMETHODIMP Append(ITableCollection* other) override;
};

class CFieldCollectionTable : public qarn::dt::IndexedCollection<CFieldCollectionTable, IFieldCollectionTable,
                                                                 qarn::dt::MemberList<IFieldCollection>> {
public:
    static constexpr wchar_t kName[] = L"FieldCollectionTable";

    STDMETHODIMP Add(IFieldCollection* row) override;
    STDMETHODIMP Append(IFieldCollectionTable* other) override;
    STDMETHODIMP FindRow(BSTR name, BSTR value, IFieldCollection** result) override;
};

class CQarnDocument : public qarn::dt::WithAttributes<CQarnDocument, IQarnDocument> {
public:
    static constexpr wchar_t kName[] = L"QarnDocument";

    ~CQarnDocument();

    STDMETHODIMP get_ParameterList(IParameterList** result) override;
    STDMETHODIMP put_ParameterList(IParameterList* value) override;
    STDMETHODIMP get_Children(IQarnDocumentCollection** result) override;
    STDMETHODIMP put_Children(IQarnDocumentCollection* value) override;

private:
    qarn::ComPtr<IParameterList> parameters_;
    qarn::ComPtr<IQarnDocumentCollection> children_;
};

class CQarnDocumentCollection : public qarn::dt::IndexedCollection<CQarnDocumentCollection, IQarnDocumentCollection,
                                                                   qarn::dt::MemberList<IQarnDocument>> {
public:
    static constexpr wchar_t kName[] = L"QarnDocumentCollection";

    STDMETHODIMP Add(IQarnDocument* document) override;
};

namespace qarn::dt {

// The parameter list as the transaction-definition `Parameter` element (ParameterListXml.cpp).
qarn::secure::SecretWString ParameterListXml(CParameterList& list);
// A deep copy of the parameter list (ParameterListClone.cpp).
ComPtr<IParameterList> CloneParameterList(CParameterList& list);
// The list as bytes and back (ParameterListSnapshot.cpp): what the reading gives is the copy that
// Clone makes. Both raise a failure with a description; the reading also when the bytes are not a
// snapshot of this very server.
using SnapshotBytes = std::vector<uint8_t, secure::ZeroingAllocator<uint8_t>>;
SnapshotBytes TakeSnapshot(CParameterList& list);
void ReadSnapshot(CParameterList& list, const uint8_t* data, size_t size);

}  // namespace qarn::dt
