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
    // The variant only borrows the text: SetValue stores its own copy.
    VARIANT text;
    text.vt = VT_BSTR;
    Bstr value(std::wstring_view(pair.value ? pair.value : L"", pair.valueLength));
    text.bstrVal = value.get();
    field->SetValue(text);
    return field;
}

}  // namespace

STDMETHODIMP CFieldCollection::AppendTextFields(const QarnTextPair* pairs, ULONG count) {
    return MethodFrame(L"FieldCollection::AppendTextFields", [&] {
        if (!pairs && count) THROW_MESSAGE(L"The fields to make are missing.");
        for (ULONG i = 0; i < count; ++i) items_.Append(NewTextField(pairs[i]).Get());
    });
}

STDMETHODIMP CFieldCollection::NewFieldWithAttributes(const QarnTextPair* pair, IField** field) {
    return MethodFrame(L"FieldCollection::NewFieldWithAttributes", [&] {
        OutParam(field);
        if (!pair) THROW_MESSAGE(L"The field to make is missing.");
        ComPtr<CField> made = NewTextField(*pair);
        made->SetAttributes(this);
        *field = made.Detach();
    });
}

STDMETHODIMP CParameterList::GetWellFormedXml(BSTR* xml) {
    return MethodFrame(L"ParameterList::GetWellFormedXml", [&] { OutParam(xml) = CopyBstr(ParameterListXml(*this)); });
}
