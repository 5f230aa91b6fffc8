// The configuration store and the message texts of failure reports.
#include "config/ConfigStore.h"

namespace qarn::config {

void ConfigStore::Clear() {
    for (auto& collection : collections_) collection.Reset();
}

Bstr ConfigStore::Text(Kind kind, BSTR name) const {
    return collections_[kind] ? TextValueOf(collections_[kind].Get(), name) : Bstr();
}

void ConfigStore::SetProperty(BSTR name, BSTR value, DataObjects& objects) {
    const ComPtr<IFieldCollection>& properties = collections_[kProperties];
    if (!properties) return;
    ComPtr<IField> field = objects.New<IField>(CLSID_Field);
    CHECK_HR(field->put_Name(name));
    Variant text;
    text.vt = VT_BSTR;
    text.bstrVal = value ? CopyBstr(View(value)) : nullptr;  // a null value stays null
    CHECK_HR(field->put_Value(text));
    CHECK_HR(properties->AddField(field.Get()));
}

ComPtr<IFieldCollection> ConfigStore::PropertiesByName(BSTR name, DataObjects& objects) const {
    const ComPtr<IFieldCollection>& properties = collections_[kProperties];
    if (!properties || !name) return nullptr;
    ComPtr<IFieldCollection> result;
    ForEachField(properties.Get(), [&](IField* field, const Bstr& fieldName) {
        if (!EqualIgnoringCase(Arg(fieldName).value_or(std::wstring_view()), *Arg(name))) return;
        if (!result) result = objects.New<IFieldCollection>(CLSID_FieldCollection);
        CHECK_HR(result->Add(field));
    });
    return result;
}

std::wstring StoreMessages::MessageText(const wchar_t* id, std::wstring_view fallback) {
    Bstr text;
    Bstr idText(id);
    // A store that cannot answer must not hide the failure being reported: use the default text.
    if (FAILED(LookupMessage(idText, text.Out())) || text.IsEmpty()) {
        SetErrorInfo(0, nullptr);
        return std::wstring(fallback);
    }
    return std::wstring(text.View());
}

void StoreMessages::ThrowStoreMessage(const wchar_t* id, std::wstring_view fallback,
                                      const std::vector<text::TextArg>& args, int line, bool complete) {
    const std::wstring format = MessageText(id, fallback);
    size_t capacity = format.size() + 2048;
    for (const auto& arg : args) capacity += arg ? arg->size() : 16;
    ThrowMessage(text::FillTemplate(format, args, capacity), line, complete);
}

}  // namespace qarn::config
