// Structure information and modification state of models.
//
// A model is a QarnDocument whose parameter list describes the model file and whose children are
// its components. Only the model and its direct children are read: a tree that holds itself or
// nests without end costs one pass over the direct children and nothing more.
#include "documents/ModelStructure.h"

#include <optional>
#include <string>

namespace qarn::dom {

namespace {


constexpr wchar_t kCollaboration[] = L"QarnCollaboration";
constexpr wchar_t kChildren[] = L"Children";

// The value of `field` when it is a text; nullopt for a missing field or a value of another kind.
std::optional<std::wstring> TextValue(IField* field) {
    if (!field) return std::nullopt;
    Variant value;
    CHECK_HR(field->get_Value(value.Out()));
    if (value.vt != VT_BSTR) return std::nullopt;
    return std::wstring(View(value.bstrVal));
}

Bstr StringValue(IField* field) {
    Bstr text;
    CHECK_HR(field->get_StringValue(text.Out()));
    return text;
}

// Sets name=value in `row`: the value of a field already named so is replaced, else a field is added.
void SetRowValue(IFieldCollection* row, IField* source) {
    Bstr name;
    Variant value;
    CHECK_HR(source->get_Name(name.Out()));
    CHECK_HR(source->get_Value(value.Out()));
    ComPtr<IField> present;
    CHECK_HR(row->get_Field(name, &present));
    if (present)
        CHECK_HR(present->put_Value(value));
    else
        CHECK_HR(row->SetValue(name, value));
}

void SetRowValues(IFieldCollection* row, IFieldCollection* source) {
    if (!source) return;
    long count = 0;
    CHECK_HR(source->get_Count(&count));
    for (long i = 1; i <= count; ++i) {
        ComPtr<IField> field;
        CHECK_HR(source->get_Item(i, &field));
        if (field) SetRowValue(row, field.Get());
    }
}

void RemoveEmptyFieldsFromFieldCollection_intern(IFieldCollection* fields) {
    if (!fields) return;
    long count = 0;
    CHECK_HR(fields->get_Count(&count));
    // From the last item down, so that a removal does not move the items still to be examined.
    for (long i = count; i >= 1; --i) {
        ComPtr<IField> field;
        CHECK_HR(fields->get_Item(i, &field));
        if (field && StringValue(field.Get()).IsEmpty()) CHECK_HR(fields->Remove(i));
    }
}

}  // namespace

ModelStructure::Made ModelStructure::Information(IQarnDocument* pDocument, bool addFieldCollection) {
    if (!pDocument) return {};
    auto info = objects_.New<IParameterList>(CLSID_ParameterList);
    ComPtr<IFieldCollection> infoFields;
    ComPtr<IStructureCollection> infoStructures;
    ComPtr<ITableCollection> infoTables;
    CHECK_HR(info->get_FieldCollection(&infoFields));
    CHECK_HR(info->get_StructureCollection(&infoStructures));
    CHECK_HR(info->get_TableCollection(&infoTables));

    ComPtr<IParameterList> list;
    CHECK_HR(pDocument->get_ParameterList(&list));
    if (!list) return {};
    ComPtr<IFieldCollection> fields;
    ComPtr<IStructureCollection> structures;
    CHECK_HR(list->get_FieldCollection(&fields));
    CHECK_HR(list->get_StructureCollection(&structures));

    ComPtr<IStructure> configurations;
    if (structures) CHECK_HR(structures->get_Structure(Bstr(L"ModelConfigurationNames"), &configurations));
    std::optional<std::wstring> file;
    if (fields) {
        ComPtr<IField> fileField;
        CHECK_HR(fields->get_Field(Bstr(L"ModelLocalStructureFile"), &fileField));
        file = TextValue(fileField.Get());
    }

    ComPtr<IQarnDocumentCollection> children;
    CHECK_HR(pDocument->get_Children(&children));
    ComPtr<ITable> table;
    if (children) {
        table = objects_.New<ITable>(CLSID_Table);
        CHECK_HR(table->put_Name(Bstr(kChildren)));
        ComPtr<IFieldCollectionTable> rows;
        CHECK_HR(table->get_FieldCollectionTable(&rows));
        long count = 0;
        CHECK_HR(children->get_Count(&count));
        for (long i = 1; i <= count; ++i) {
            auto row = objects_.New<IFieldCollection>(CLSID_FieldCollection);
            ComPtr<IQarnDocument> child;
            CHECK_HR(children->get_Item(i, &child));
            ComPtr<IParameterList> childList;
            if (child) CHECK_HR(child->get_ParameterList(&childList));
            if (childList) {
                auto take = [&](IFieldCollection* from) {
                    if (!from) return;
                    CHECK_HR(addFieldCollection ? row->AddFieldCollection(from) : row->Append(from));
                };
                ComPtr<IStructure> collaboration;
                CHECK_HR(childList->GetStructure(Bstr(kCollaboration), &collaboration));
                if (collaboration) {
                    ComPtr<IFieldCollection> collaborationFields;
                    CHECK_HR(collaboration->get_FieldCollection(&collaborationFields));
                    take(collaborationFields.Get());
                }
                ComPtr<IFieldCollection> childFields;
                CHECK_HR(childList->get_FieldCollection(&childFields));
                take(childFields.Get());
            }
            CHECK_HR(rows->Add(row.Get()));
        }
    }

    if (table) CHECK_HR(infoTables->Add(table.Get()));
    if (fields) CHECK_HR(infoFields->Append(fields.Get()));
    if (configurations) CHECK_HR(infoStructures->Add(configurations.Get()));
    // An empty name names no file: the model records no place for its structure information.
    if (file && !file->empty()) return {info, Bstr(*file)};
    return {};
}

ModelStructure::Made ModelStructure::ModelWithChildren(IQarnDocument* pDocument) {
    if (!pDocument) return {};
    ComPtr<IParameterList> list;
    CHECK_HR(pDocument->get_ParameterList(&list));
    if (!list) return {};
    ComPtr<IFieldCollection> fields;
    ComPtr<ITableCollection> tables;
    CHECK_HR(list->get_FieldCollection(&fields));
    CHECK_HR(list->get_TableCollection(&tables));

    Bstr modelName;
    CHECK_HR(fields->GetValue(Bstr(L"ModelFullName"), modelName.Out()));
    const Bstr file(std::wstring(modelName.View()) + L".STR");
    auto fileField = objects_.New<IField>(CLSID_Field);
    CHECK_HR(fileField->put_Name(Bstr(L"ModelStructureFile")));
    CHECK_HR(fileField->put_Value(Variant(file.View())));
    CHECK_HR(fields->AddField(fileField.Get()));

    ComPtr<ITable> table;
    CHECK_HR(list->GetTable(Bstr(kChildren), &table));
    if (!table) {
        table = objects_.New<ITable>(CLSID_Table);
        CHECK_HR(table->put_Name(Bstr(kChildren)));
        CHECK_HR(tables->Add(table.Get()));
    } else {
        auto empty = objects_.New<IFieldCollectionTable>(CLSID_FieldCollectionTable);
        CHECK_HR(table->put_FieldCollectionTable(empty.Get()));
    }
    ComPtr<IFieldCollectionTable> rows;
    CHECK_HR(table->get_FieldCollectionTable(&rows));

    ComPtr<IQarnDocumentCollection> children;
    CHECK_HR(pDocument->get_Children(&children));
    long count = 0;
    if (children) CHECK_HR(children->get_Count(&count));
    for (long i = 1; i <= count; ++i) {
        ComPtr<IQarnDocument> child;
        CHECK_HR(children->get_Item(i, &child));
        ComPtr<IParameterList> childList;
        if (child) CHECK_HR(child->get_ParameterList(&childList));
        if (!childList) continue;
        auto row = objects_.New<IFieldCollection>(CLSID_FieldCollection);
        ComPtr<IFieldCollection> childFields;
        CHECK_HR(childList->get_FieldCollection(&childFields));
        SetRowValues(row.Get(), childFields.Get());
        ComPtr<IStructure> collaboration;
        CHECK_HR(childList->GetStructure(Bstr(kCollaboration), &collaboration));
        if (collaboration) {
            ComPtr<IFieldCollection> collaborationFields;
            CHECK_HR(collaboration->get_FieldCollection(&collaborationFields));
            SetRowValues(row.Get(), collaborationFields.Get());
        }
        CHECK_HR(rows->Add(row.Get()));
    }
    return {list, file};
}

void ModelStructure::RemoveEmptyFields(IParameterList* pInput) {
    if (!pInput) return;
    ComPtr<IFieldCollection> fields;
    CHECK_HR(pInput->get_FieldCollection(&fields));
    RemoveEmptyFieldsFromFieldCollection_intern(fields.Get());

    ComPtr<IStructureCollection> structures;
    CHECK_HR(pInput->get_StructureCollection(&structures));
    long count = 0;
    if (structures) CHECK_HR(structures->get_Count(&count));
    for (long i = 1; i <= count; ++i) {
        ComPtr<IStructure> structure;
        CHECK_HR(structures->get_Item(i, &structure));
        if (!structure) continue;
        ComPtr<IFieldCollection> structureFields;
        CHECK_HR(structure->get_FieldCollection(&structureFields));
        RemoveEmptyFieldsFromFieldCollection_intern(structureFields.Get());
    }

    ComPtr<ITableCollection> tables;
    CHECK_HR(pInput->get_TableCollection(&tables));
    count = 0;
    if (tables) CHECK_HR(tables->get_Count(&count));
    for (long i = 1; i <= count; ++i) {
        ComPtr<ITable> table;
        CHECK_HR(tables->get_Item(i, &table));
        if (!table) continue;
        ComPtr<IFieldCollectionTable> rows;
        CHECK_HR(table->get_FieldCollectionTable(&rows));
        long rowCount = 0;
        if (rows) CHECK_HR(rows->get_Count(&rowCount));
        for (long r = 1; r <= rowCount; ++r) {
            ComPtr<IFieldCollection> row;
            CHECK_HR(rows->get_Item(r, &row));
            RemoveEmptyFieldsFromFieldCollection_intern(row.Get());
        }
    }
}

bool ModelStructure::IsModified(IQarnDocument* pDocument) {
    if (!pDocument) return true;
    ComPtr<IParameterList> list;
    CHECK_HR(pDocument->get_ParameterList(&list));
    if (!list) return true;
    ComPtr<IField> stamp, recorded, traverse;
    CHECK_HR(list->GetField(Bstr(L"ModelStamp"), &stamp));
    CHECK_HR(list->GetStructureField(Bstr(L"ModelStamp"), Bstr(kCollaboration), &recorded));
    CHECK_HR(list->GetStructureField(Bstr(L"ModelTraverseFlag"), Bstr(kCollaboration), &traverse));
    if (!stamp || !recorded || StringValue(stamp.Get()).View() != StringValue(recorded.Get()).View()) return true;
    const Bstr flag = traverse ? StringValue(traverse.Get()) : Bstr();
    return flag.View() == L"1";
}

}  // namespace qarn::dom
