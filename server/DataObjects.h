// Creation of the data-type objects (fields, collections, tables ...) of QarnComDatatypes and the
// few steps every subsystem repeats on them.
#pragma once

#include "server/Interfaces.h"

#include <string_view>

namespace qarn {

// Creates one data-type object through its registered class.
template <class I>
ComPtr<I> NewDataObject(REFCLSID clsid) {
    ComPtr<I> object;
    CHECK_HR(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, __uuidof(I), reinterpret_cast<void**>(object.GetAddressOf())));
    return object;
}

// Creates many objects of one class: the class object is looked up once (bulk readers).
template <class I>
class DataObjectMaker {
public:
    explicit DataObjectMaker(REFCLSID clsid) {
        CHECK_HR(CoGetClassObject(clsid, CLSCTX_ALL, nullptr, IID_PPV_ARGS(&factory_)));
    }
    ComPtr<I> Make() const {
        ComPtr<I> object;
        CHECK_HR(factory_->CreateInstance(nullptr, __uuidof(I), reinterpret_cast<void**>(object.GetAddressOf())));
        return object;
    }

private:
    ComPtr<IClassFactory> factory_;
};

// A field with a name and a text value (a BSTR variant).
ComPtr<IField> NewTextField(const DataObjectMaker<IField>& maker, std::wstring_view name, std::wstring_view value);
ComPtr<IField> NewTextField(std::wstring_view name, std::wstring_view value);

// The attribute collection of a collection, created and set when it has none.
ComPtr<IFieldCollection> AttributesOf(IFieldCollection* collection);

}  // namespace qarn
