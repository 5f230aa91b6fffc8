// The internal interfaces of OwnAccess.h: fields made in bulk and the list's XML text handed to
// the document writer as well-formed.
#include "Datatypes.h"

#include <cstring>

using namespace qarn;
using namespace qarn::dt;

namespace {

// A new field of this server with the pair's name and text value.
ComPtr<CField> NewTextField(const QarnTextPair& pair) {
    if ((!pair.name && pair.nameLength) || (!pair.value && pair.valueLength))
        THROW_MESSAGE(L"A text of the field to make is missing.");
    ComPtr<CField> field = CField::Make();
    field->SetName(std::wstring(pair.name ? pair.name : L"", pair.nameLength));
    Variant text(std::wstring_view(pair.value ? pair.value : L"", pair.valueLength));
    field->TakeValue(text);
    return field;
}

}  // namespace

void CField::TakeValue(VARIANT& value) noexcept {
    std::swap(value, static_cast<VARIANT&>(value_));
    secure::ZeroVariantText(value);
    ReleaseLater(value);
}

STDMETHODIMP CFieldCollection::AppendTextFields(const QarnTextPair* pairs, ULONG count) {
    return MethodFrame(L"FieldCollection::AppendTextFields", [&] {
        if (!pairs && count) THROW_MESSAGE(L"The fields to make are missing.");
        // The by-name index is built when a field is first looked up, not field by field.
        items_.DeferIndex();
        for (ULONG i = 0; i < count; ++i) items_.Append(NewTextField(pairs[i]).Get());
    });
}

STDMETHODIMP CFieldCollection::NewAttributedField(const QarnTextPair* field, const QarnTextPair* attributes,
                                                  ULONG count, IField** result) {
    return MethodFrame(L"FieldCollection::NewAttributedField", [&] {
        OutParam(result);
        if (!field || (!attributes && count)) THROW_MESSAGE(L"The field to make is missing.");
        ComPtr<CFieldCollection> collection = CFieldCollection::Make();
        collection->items_.DeferIndex();  // built when an attribute is first looked up
        for (ULONG i = 0; i < count; ++i) collection->items_.Append(NewTextField(attributes[i]).Get());
        ComPtr<CField> made = NewTextField(*field);
        made->SetAttributes(collection.Get());
        *result = made.Detach();
    });
}

STDMETHODIMP CParameterList::GetWellFormedXml(BSTR* xml) {
    return MethodFrame(L"ParameterList::GetWellFormedXml", [&] { OutParam(xml) = CopyBstr(ParameterListXml(*this)); });
}

STDMETHODIMP CParameterList::ReadSnapshot(const BYTE* data, ULONG size) {
    return MethodFrame(L"ParameterList::ReadSnapshot", [&] {
        if (!data && size) THROW_MESSAGE(L"The snapshot to read is missing.");
        qarn::dt::ReadSnapshot(*this, data, size);
    });
}

HRESULT CParameterList::InvokeOwn(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) {
    if (id != kSnapshotDispid) return DISP_E_MEMBERNOTFOUND;
    if (!(flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD))) return DISP_E_MEMBERNOTFOUND;
    if (params && params->cArgs) return DISP_E_BADPARAMCOUNT;
    if (!result) return E_POINTER;
    return MethodFrame(L"ParameterList::Snapshot", [&] {
        const SnapshotBytes bytes = TakeSnapshot(*this);
        SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
        if (!array) ThrowHResult(E_OUTOFMEMORY);
        std::memcpy(array->pvData, bytes.data(), bytes.size());
        VariantClear(result);
        result->vt = VT_ARRAY | VT_UI1;
        result->parray = array;
    });
}
