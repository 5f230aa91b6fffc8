#include "base/DataObjects.h"

#include "base/OwnContext.h"

namespace qarn {

HRESULT DataObjects::TryNew(REFCLSID clsid, REFIID iid, void** object) noexcept {
    if (!object) return E_POINTER;
    *object = nullptr;
    IClassFactory* factory = nullptr;
    for (const auto& [id, cached] : factories_)
        if (InlineIsEqualGUID(id, clsid)) factory = cached.Get();
    if (!factory) {
        ComPtr<IClassFactory> found;
        const OwnContext context;
        const HRESULT hr = CoGetClassObject(clsid, CLSCTX_ALL, nullptr, IID_PPV_ARGS(&found));
        if (FAILED(hr)) return hr;
        try {
            factories_.emplace_back(clsid, found);
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        factory = found.Get();
    }
    return factory->CreateInstance(nullptr, iid, object);
}

ComPtr<IField> DataObjects::TextField(std::wstring_view name, std::wstring_view value) {
    ComPtr<IField> field = New<IField>(CLSID_Field);
    Bstr nameText(name);
    CHECK_HR(field->put_Name(nameText));
    Variant valueText(value);
    CHECK_HR(field->put_Value(valueText));
    return field;
}

Bstr TextValueOf(IFieldCollection* collection, BSTR name) {
    ComPtr<IField> field;
    CHECK_HR(collection->get_Field(name, &field));
    Bstr result;
    if (!field) return result;
    Variant value;
    CHECK_HR(field->get_Value(value.Out()));
    if (value.vt == VT_BSTR) {
        result = Bstr::Attach(value.bstrVal);
        value.vt = VT_EMPTY;
    }
    return result;
}

}  // namespace qarn
