// The ten creatable classes of QarnComDatatypes.dll.
//
// Collections share their members: Add, Append and the object-valued properties keep the very
// object they are given (reference added), never a copy. Indexes count from 1. Only
// ParameterList.Clone copies.
#pragma once

#include "Members.h"
#include "secure/WipedBstr.h"

namespace qarn::dt {

// The attribute collection every object carries: nothing until one is put.
class AttributeHolder {
public:
    IFieldCollection* Attributes() const noexcept { return attributes_.Get(); }
    void SetAttributes(IFieldCollection* attributes) noexcept { attributes_ = attributes; }

protected:
    AttributeHolder() = default;
    ~AttributeHolder() { ReleaseLater(attributes_); }
    HRESULT GetAttributes(const wchar_t* method, IFieldCollection** result);
    HRESULT PutAttributes(const wchar_t* method, IFieldCollection* attributes);

private:
    ComPtr<IFieldCollection> attributes_;
};

}  // namespace qarn::dt

class CField : public qarn::ComObject<CField, IField>,
               public qarn::dt::NamedMember,
               public qarn::dt::AttributeHolder {
public:
    CField() noexcept { qarn::dt::OwnVtable<IField>::Record(this); }
    ~CField();

    STDMETHODIMP get_Name(BSTR* name) override;
    STDMETHODIMP put_Name(BSTR name) override;
    STDMETHODIMP get_Value(VARIANT* value) override;
    STDMETHODIMP put_Value(VARIANT value) override;
    STDMETHODIMP get_StringValue(BSTR* text) override;
    STDMETHODIMP get_Attributes(IFieldCollection** attributes) override;
    STDMETHODIMP put_Attributes(IFieldCollection* attributes) override;

    const VARIANT& Value() const noexcept { return value_; }
    // Stores a copy of `value`, following a by-reference variant; objects are kept by reference.
    void SetValue(const VARIANT& value);

private:
    qarn::Variant value_;
};

class CFieldCollection : public qarn::ComObject<CFieldCollection, IFieldCollection>, public qarn::dt::AttributeHolder {
public:
    STDMETHODIMP Add(IField* field) override;
    STDMETHODIMP AddField(IField* field) override;
    STDMETHODIMP get_Field(BSTR name, IField** field) override;
    STDMETHODIMP Append(IFieldCollection* other) override;
    STDMETHODIMP AddFieldCollection(IFieldCollection* other) override;
    STDMETHODIMP GetValue(BSTR name, BSTR* value) override;
    STDMETHODIMP get_Count(LONG* count) override;
    STDMETHODIMP get_Item(LONG index, IField** field) override;
    STDMETHODIMP SetValue(BSTR name, VARIANT value) override;
    STDMETHODIMP Remove(LONG index) override;
    STDMETHODIMP get__NewEnum(IUnknown** result) override;
    STDMETHODIMP get_Attributes(IFieldCollection** attributes) override;
    STDMETHODIMP put_Attributes(IFieldCollection* attributes) override;

    qarn::dt::NamedList<IField>& Fields() noexcept { return fields_; }
    // Appends the fields of `other` (any implementation; this collection itself included).
    void AppendAll(IFieldCollection* other);

private:
    qarn::dt::NamedList<IField> fields_;
};

class CParameterList : public qarn::ComObject<CParameterList, IParameterList>, public qarn::dt::AttributeHolder {
public:
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
    STDMETHODIMP get_Attributes(IFieldCollection** attributes) override;
    STDMETHODIMP put_Attributes(IFieldCollection* attributes) override;
    STDMETHODIMP get_Xml(BSTR* xml) override;

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

class CStructure : public qarn::ComObject<CStructure, IStructure>,
                   public qarn::dt::NamedMember,
                   public qarn::dt::AttributeHolder {
public:
    CStructure() noexcept { qarn::dt::OwnVtable<IStructure>::Record(this); }
    ~CStructure();

    STDMETHODIMP get_Name(BSTR* name) override;
    STDMETHODIMP put_Name(BSTR name) override;
    STDMETHODIMP get_FieldCollection(IFieldCollection** result) override;
    STDMETHODIMP put_FieldCollection(IFieldCollection* value) override;
    STDMETHODIMP get_Text(BSTR* text) override;
    STDMETHODIMP AddFieldCollection(IFieldCollection* other) override;
    STDMETHODIMP GetField(BSTR name, IField** result) override;
    STDMETHODIMP get_Attributes(IFieldCollection** attributes) override;
    STDMETHODIMP put_Attributes(IFieldCollection* attributes) override;

    // Created empty on first use (never null).
    IFieldCollection* Fields();
    void SetFields(IFieldCollection* fields) noexcept { fields_ = fields; }

private:
    qarn::ComPtr<IFieldCollection> fields_;
};

class CStructureCollection : public qarn::ComObject<CStructureCollection, IStructureCollection>,
                             public qarn::dt::AttributeHolder {
public:
    STDMETHODIMP Add(IStructure* structure) override;
    STDMETHODIMP get_Structure(BSTR name, IStructure** result) override;
    STDMETHODIMP Append(IStructureCollection* other) override;
    STDMETHODIMP get_Count(LONG* count) override;
    STDMETHODIMP get_Item(LONG index, IStructure** result) override;
    STDMETHODIMP get__NewEnum(IUnknown** result) override;
    STDMETHODIMP get_Attributes(IFieldCollection** attributes) override;
    STDMETHODIMP put_Attributes(IFieldCollection* attributes) override;

    qarn::dt::NamedList<IStructure>& Structures() noexcept { return structures_; }

private:
    qarn::dt::NamedList<IStructure> structures_;
};

class CTable : public qarn::ComObject<CTable, ITable>,
               public qarn::dt::NamedMember,
               public qarn::dt::AttributeHolder {
public:
    CTable() noexcept { qarn::dt::OwnVtable<ITable>::Record(this); }
    ~CTable();

    STDMETHODIMP get_Name(BSTR* name) override;
    STDMETHODIMP put_Name(BSTR name) override;
    STDMETHODIMP get_FieldCollectionTable(IFieldCollectionTable** result) override;
    STDMETHODIMP put_FieldCollectionTable(IFieldCollectionTable* value) override;
    STDMETHODIMP get_Attributes(IFieldCollection** attributes) override;
    STDMETHODIMP put_Attributes(IFieldCollection* attributes) override;

    // Created empty on first use (never null).
    IFieldCollectionTable* Rows();
    void SetRows(IFieldCollectionTable* rows) noexcept { rows_ = rows; }

private:
    qarn::ComPtr<IFieldCollectionTable> rows_;
};

class CTableCollection : public qarn::ComObject<CTableCollection, ITableCollection>, public qarn::dt::AttributeHolder {
public:
    STDMETHODIMP Add(ITable* table) override;
    STDMETHODIMP get_Table(BSTR name, ITable** result) override;
    STDMETHODIMP Append(ITableCollection* other) override;
    STDMETHODIMP get_Count(LONG* count) override;
    STDMETHODIMP get_Item(LONG index, ITable** result) override;
    STDMETHODIMP get__NewEnum(IUnknown** result) override;
    STDMETHODIMP get_Attributes(IFieldCollection** attributes) override;
    STDMETHODIMP put_Attributes(IFieldCollection* attributes) override;

    qarn::dt::NamedList<ITable>& Tables() noexcept { return tables_; }

private:
    qarn::dt::NamedList<ITable> tables_;
};

class CFieldCollectionTable : public qarn::ComObject<CFieldCollectionTable, IFieldCollectionTable>,
                              public qarn::dt::AttributeHolder {
public:
    STDMETHODIMP Add(IFieldCollection* row) override;
    STDMETHODIMP Append(IFieldCollectionTable* other) override;
    STDMETHODIMP FindRow(BSTR name, BSTR value, IFieldCollection** result) override;
    STDMETHODIMP get_Count(LONG* count) override;
    STDMETHODIMP get_Item(LONG row, IFieldCollection** result) override;
    STDMETHODIMP get__NewEnum(IUnknown** result) override;
    STDMETHODIMP get_Attributes(IFieldCollection** attributes) override;
    STDMETHODIMP put_Attributes(IFieldCollection* attributes) override;

    qarn::dt::MemberList<IFieldCollection>& Rows() noexcept { return rows_; }

private:
    qarn::dt::MemberList<IFieldCollection> rows_;
};

class CQarnDocument : public qarn::ComObject<CQarnDocument, IQarnDocument>, public qarn::dt::AttributeHolder {
public:
    ~CQarnDocument();

    STDMETHODIMP get_ParameterList(IParameterList** result) override;
    STDMETHODIMP put_ParameterList(IParameterList* value) override;
    STDMETHODIMP get_Children(IQarnDocumentCollection** result) override;
    STDMETHODIMP put_Children(IQarnDocumentCollection* value) override;
    STDMETHODIMP get_Attributes(IFieldCollection** attributes) override;
    STDMETHODIMP put_Attributes(IFieldCollection* attributes) override;

private:
    qarn::ComPtr<IParameterList> parameters_;
    qarn::ComPtr<IQarnDocumentCollection> children_;
};

class CQarnDocumentCollection : public qarn::ComObject<CQarnDocumentCollection, IQarnDocumentCollection>,
                                public qarn::dt::AttributeHolder {
public:
    STDMETHODIMP Add(IQarnDocument* document) override;
    STDMETHODIMP get_Count(LONG* count) override;
    STDMETHODIMP get_Item(LONG index, IQarnDocument** result) override;
    STDMETHODIMP get__NewEnum(IUnknown** result) override;
    STDMETHODIMP get_Attributes(IFieldCollection** attributes) override;
    STDMETHODIMP put_Attributes(IFieldCollection* attributes) override;

private:
    qarn::dt::MemberList<IQarnDocument> documents_;
};

namespace qarn::dt {

// The parameter list as the transaction-definition `Parameter` element (ParameterListXml.cpp).
qarn::secure::SecretWString ParameterListXml(CParameterList& list);
// A deep copy of the parameter list (ParameterListClone.cpp).
ComPtr<IParameterList> CloneParameterList(CParameterList& list);

}  // namespace qarn::dt
