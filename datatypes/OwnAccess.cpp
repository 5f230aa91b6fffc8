// The internal interfaces of OwnAccess.h: fields made in bulk and the list's XML text handed to
// the document writer as well-formed.
#include "Datatypes.h"

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
