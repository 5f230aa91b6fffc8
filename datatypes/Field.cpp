// Field: one named value with optional attributes.
#include "Datatypes.h"

using namespace qarn;
using namespace qarn::dt;

// A text value may be clear text that was decrypted into the field (a password of a logon file,
// a value of DecryptData): it is zeroed when the field lets go of it, on release and on
// replacement. OLE Automation would otherwise keep the freed block, text and all, for reuse.
CField::~CField() {
    secure::ZeroVariantText(value_);
    ReleaseLater(value_);
}

void CField::SetValue(const VARIANT& value) {
    Variant copy;
    HRESULT hr = VariantCopyInd(&copy, const_cast<VARIANT*>(&value));
    if (FAILED(hr))
        THROW_MESSAGE(Format(L"The value cannot be stored (type %u, error 0x%08X).", static_cast<unsigned>(value.vt),
                             static_cast<unsigned>(hr)));
    std::swap(static_cast<VARIANT&>(copy), static_cast<VARIANT&>(value_));
    secure::ZeroVariantText(copy);
    ReleaseLater(copy);
}

STDMETHODIMP CField::get_Value(VARIANT* value) {
    return MethodFrame(L"Field::get_Value", [&] {
        OutParam(value);
        CHECK_HR(VariantCopy(value, &value_));
    });
}

STDMETHODIMP CField::put_Value(VARIANT value) {
    return MethodFrame(L"Field::put_Value", [&] { SetValue(value); });
}

STDMETHODIMP CField::get_StringValue(BSTR* text) {
    return MethodFrame(L"Field::get_StringValue", [&] {
        OutParam(text);
        // A text is copied once, without a temporary that would be freed uncleared.
        *text = value_.vt == VT_BSTR ? CopyBstr(View(value_.bstrVal)) : CopyBstr(ValueText(value_));
    });
}
