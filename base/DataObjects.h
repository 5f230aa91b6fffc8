// Creation of the data-type objects (fields, collections, tables ...) of QarnComDatatypes and the
// few steps every subsystem repeats on them.
#pragma once

#include "base/ConnectorInterfaces.h"

#include <string_view>
#include <utility>
#include <vector>

namespace qarn {

// Creates data-type objects through their classes: registered, or named by the manifest beside the
// DLL (base/OwnContext.h). The class object of each class is looked up once per owner and kept:
// a registry lookup per object would cost far more than the object itself. An owner lives in one
// apartment, like the class objects it keeps.
class DataObjects {
public:
    template <class I>
    ComPtr<I> New(REFCLSID clsid) {
        ComPtr<I> object;
        CHECK_HR(TryNew(clsid, __uuidof(I), reinterpret_cast<void**>(object.GetAddressOf())));
        return object;
    }
    // The same without raising: for callers that go on without the object.
    HRESULT TryNew(REFCLSID clsid, REFIID iid, void** object) noexcept;

    // A field with a name and a text value (a BSTR variant).
    ComPtr<IField> TextField(std::wstring_view name, std::wstring_view value);
    // The attribute collection of a data-type object, created and set when it has none.
    template <class I>
    ComPtr<IFieldCollection> AttributesOf(I* object) {
        ComPtr<IFieldCollection> attributes;
        CHECK_HR(object->get_Attributes(&attributes));
        if (!attributes) {
            attributes = New<IFieldCollection>(CLSID_FieldCollection);
            CHECK_HR(object->put_Attributes(attributes.Get()));
        }
        return attributes;
    }

private:
    std::vector<std::pair<CLSID, ComPtr<IClassFactory>>> factories_;
};

// Calls visit(field, name) for each field of `collection` in order (null items are skipped).
template <class Visit>
void ForEachField(IFieldCollection* collection, Visit&& visit) {
    long count = 0;
    CHECK_HR(collection->get_Count(&count));
    for (long i = 1; i <= count; ++i) {
        ComPtr<IField> field;
        CHECK_HR(collection->get_Item(i, &field));
        if (!field) continue;
        Bstr name;
        CHECK_HR(field->get_Name(name.Out()));
        visit(field.Get(), name);
    }
}

// The text of the field `name` of `collection`: null when there is no such field or its value is
// not a text.
Bstr TextValueOf(IFieldCollection* collection, BSTR name);

}  // namespace qarn
