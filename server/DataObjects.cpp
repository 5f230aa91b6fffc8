#include "server/DataObjects.h"

namespace qarn {

namespace {
ComPtr<IField> FillTextField(ComPtr<IField> field, std::wstring_view name, std::wstring_view value) {
    Bstr nameText(name);
    CHECK_HR(field->put_Name(nameText));
    Variant valueText(value);
    CHECK_HR(field->put_Value(valueText));
    return field;
}
}  // namespace

ComPtr<IField> NewTextField(const DataObjectMaker<IField>& maker, std::wstring_view name, std::wstring_view value) {
    return FillTextField(maker.Make(), name, value);
}

ComPtr<IField> NewTextField(std::wstring_view name, std::wstring_view value) {
    return FillTextField(NewDataObject<IField>(CLSID_Field), name, value);
}

ComPtr<IFieldCollection> AttributesOf(IFieldCollection* collection) {
    ComPtr<IFieldCollection> attributes;
    CHECK_HR(collection->get_Attributes(&attributes));
    if (!attributes) {
        attributes = NewDataObject<IFieldCollection>(CLSID_FieldCollection);
        CHECK_HR(collection->put_Attributes(attributes.Get()));
    }
    return attributes;
}

}  // namespace qarn
