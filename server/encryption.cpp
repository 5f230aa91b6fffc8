// Encryption entry points: members of CQarnUtilities. The pair methods report the bare code texts
// of the encoding (with the ProgID of CQarnUtilities as the error source) through the frame's
// own-code answer; the tree walks run in the standard method error frame.
#include "server/Utilities.h"

#include "base/OwnAccess.h"
#include "secure/PairCodec.h"
#include "secure/SecureBlock.h"
#include "secure/SecureDataMapper.h"
#include "base/WipedBstr.h"

#include <ctime>

using namespace qarn;

namespace {

// Fixed values of the stored format: they never change.
constexpr wchar_t kValueKeyName[] = L"{357370EC-5B40-458A-866D-A9E9F442CF68}";
constexpr wchar_t kLogonKeyName[] = L"{1E9E845F-9EC3-489B-AB26-BA3129E3AA94}";
// The combined logon name ("%s_%s") is built in a buffer of this many characters.
constexpr size_t kLogonNameBuffer = 2048;

static_assert(sizeof(wchar_t) == sizeof(char16_t), "BSTR texts are UTF-16");

using secure::WipedBstr;

HRESULT Report(secure::Code code) {
    return ReportErrorWithSource(CLSID_CQarnUtilities, secure::CodeText(code), GUID_NULL, 0);
}

// A key name (or a name made with one) as a BSTR that is zeroed when released.
class KeyName : public WipedBstr {
public:
    explicit KeyName(std::wstring_view text) { *Out() = Bstr::Alloc(text.data(), static_cast<UINT>(text.size())); }
};

// A new field with `name` and a text value; null when the field cannot be created.
ComPtr<IField> NewPlainField(DataObjects& objects, BSTR name, BSTR value) {
    ComPtr<IField> field;
    if (FAILED(objects.TryNew(CLSID_Field, IID_PPV_ARGS(&field)))) return nullptr;
    CHECK_HR(field->put_Name(name));
    VARIANT text;
    text.vt = VT_BSTR;
    text.bstrVal = value;  // borrowed: put_Value copies it
    CHECK_HR(field->put_Value(text));
    return field;
}

// Name and text value of a caller's field (both null without a field).
void ReadField(IField* field, Bstr& name, WipedBstr& value) {
    if (!field) return;
    CHECK_HR(field->get_Name(name.Out()));
    CHECK_HR(field->get_StringValue(value.Out()));
}

// "%s_%s" of the field name and the logon key name, cut to the buffer.
secure::SecretWString CombinedLogonName(BSTR fieldName) {
    secure::SecretWString combined(*Arg(fieldName));
    combined += L'_';
    combined += kLogonKeyName;
    if (combined.size() > kLogonNameBuffer - 1) combined.resize(kLogonNameBuffer - 1);
    return combined;
}

}  // namespace

STDMETHODIMP CQarnUtilities::Encrypt(BSTR fieldName, BSTR fieldValue, IField **ppField) {
    if (!ppField) return E_POINTER;
    *ppField = nullptr;
    return MethodFrame(L"CQarnUtilities::Encrypt", [&]() -> HRESULT {
        WipedBstr text;
        const HRESULT hr = pairs_.Encrypt(fieldName, fieldValue, text.Out());
        if (FAILED(hr)) return hr;
        // The marker that tells readers and the tree walk that the value is encrypted.
        static constexpr wchar_t kMarker[] = L"x3nc", kTrue[] = L"true";
        ComPtr<IFieldCollection> attributes;
        // The first collection becomes the maker when it can make fields, else the attributes.
        if (!fieldMaker_ && SUCCEEDED(objects_.TryNew(CLSID_FieldCollection, IID_PPV_ARGS(&attributes))) &&
            SUCCEEDED(attributes.As(&fieldMaker_)))
            attributes.Reset();
        if (fieldMaker_) {
            // The data-type server makes the field and its marker in one call; when it cannot, the
            // steps one by one below decide what the caller gets.
            const QarnTextPair marker{kMarker, 4, kTrue, 4};
            const QarnTextPair pair{fieldName ? fieldName : L"", SysStringLen(fieldName), text.get(),
                                    SysStringLen(text.get())};
            if (SUCCEEDED(fieldMaker_->NewAttributedField(&pair, &marker, 1, ppField)) && *ppField) return S_OK;
            if (*ppField) (*ppField)->Release();
            *ppField = nullptr;
        }
        // A field that cannot be made: the call succeeds and hands out nothing.
        ComPtr<IField> field = NewPlainField(objects_, fieldName, text.get());
        if (!field) return S_OK;
        if (attributes || SUCCEEDED(objects_.TryNew(CLSID_FieldCollection, IID_PPV_ARGS(&attributes)))) {
            Variant marker{std::wstring_view(kTrue)};
            CHECK_HR(attributes->SetValue(Bstr(kMarker), marker));
            CHECK_HR(field->put_Attributes(attributes.Get()));
        }
        *ppField = field.Detach();
        return S_OK;
    }, frame::OwnCodes{});
}

STDMETHODIMP CQarnUtilities::Decrypt(BSTR fieldName, BSTR fieldValue, IField **ppField) {
    if (!ppField) return E_POINTER;
    *ppField = nullptr;
    return MethodFrame(L"CQarnUtilities::Decrypt", [&]() -> HRESULT {
        WipedBstr value;
        const HRESULT hr = pairs_.Decrypt(fieldName, fieldValue, value.Out());
        if (FAILED(hr)) return hr;
        *ppField = NewPlainField(objects_, fieldName, value.get()).Detach();
        return S_OK;
    }, frame::OwnCodes{});
}

namespace {
// Runs Encrypt or Decrypt with the name of a caller's field and its value as text (both null
// without a field); the given field is not changed.
template <class PairCall>
HRESULT WithFieldPair(const wchar_t *method, IField *pField, IField **ppField, PairCall&& call) {
    if (!ppField) return E_POINTER;
    *ppField = nullptr;
    return MethodFrame(method, [&] {
        Bstr name;
        WipedBstr value;
        ReadField(pField, name, value);
        return call(name.get(), value.get(), ppField);
    }, frame::OwnCodes{});
}
}  // namespace

STDMETHODIMP CQarnUtilities::Encrypt2(IField *pField, IField **ppField) {
    return WithFieldPair(L"CQarnUtilities::Encrypt2", pField, ppField,
                         [&](BSTR n, BSTR v, IField **f) { return Encrypt(n, v, f); });
}

STDMETHODIMP CQarnUtilities::Decrypt2(IField *pField, IField **ppField) {
    return WithFieldPair(L"CQarnUtilities::Decrypt2", pField, ppField,
                         [&](BSTR n, BSTR v, IField **f) { return Decrypt(n, v, f); });
}

namespace {
// The text of the field that an Encrypt call hands out; the key name is made inside the frame.
template <class Call>
HRESULT ValueOf(const wchar_t *method, BSTR *result, Call&& call) {
    if (!result) return E_POINTER;
    *result = nullptr;
    return MethodFrame(method, [&] {
        ComPtr<IField> field;
        const HRESULT hr = call(field.GetAddressOf());
        if (FAILED(hr) || !field) return hr;
        const HRESULT read = field->get_StringValue(result);
        return FAILED(read) ? read : hr;
    }, frame::OwnCodes{});
}

// The plain text that Decrypt would put into its field, handed out as it is: a field made only to
// be read and released would leave a copy of the clear text in the data-type component.
template <class Call>
HRESULT PlainText(BSTR *result, Call&& decrypt) {
    if (!result) return E_POINTER;
    *result = nullptr;
    return MethodFrame(L"CQarnUtilities::Decrypt", [&] { return decrypt(result); }, frame::OwnCodes{});
}
}  // namespace

STDMETHODIMP CQarnUtilities::Encrypt3(BSTR value, BSTR *result) {
    return ValueOf(L"CQarnUtilities::Encrypt3", result,
                   [&](IField **f) { return Encrypt(KeyName(kValueKeyName), value, f); });
}

STDMETHODIMP CQarnUtilities::Decrypt3(BSTR value, BSTR *result) {
    return PlainText(result, [&](BSTR *out) { return pairs_.Decrypt(KeyName(kValueKeyName), value, out); });
}

STDMETHODIMP CQarnUtilities::EncryptLogon(BSTR value, BSTR *result) {
    return ValueOf(L"CQarnUtilities::EncryptLogon", result,
                   [&](IField **f) { return Encrypt(KeyName(kLogonKeyName), value, f); });
}

STDMETHODIMP CQarnUtilities::DecryptLogon(BSTR value, BSTR *result) {
    return PlainText(result, [&](BSTR *out) { return pairs_.Decrypt(KeyName(kLogonKeyName), value, out); });
}

STDMETHODIMP CQarnUtilities::EncryptLogon2(BSTR fieldName, BSTR fieldValue, BSTR *result) {
    if (!result) return E_POINTER;
    *result = nullptr;
    if (!fieldName) return Report(secure::Code::EncryptNameMissing);
    if (!fieldValue) return Report(secure::Code::EncryptValueMissing);
    return MethodFrame(L"CQarnUtilities::EncryptLogon2", [&] {
        const KeyName name(CombinedLogonName(fieldName));
        return ValueOf(L"CQarnUtilities::EncryptLogon2", result, [&](IField **f) { return Encrypt(name, fieldValue, f); });
    }, frame::OwnCodes{});
}

STDMETHODIMP CQarnUtilities::DecryptLogon2(BSTR fieldName, BSTR fieldValue, BSTR *result) {
    if (!result) return E_POINTER;
    *result = nullptr;
    if (!fieldName) return Report(secure::Code::DecryptNameMissing);
    if (!fieldValue) return Report(secure::Code::DecryptTextMissing);
    return MethodFrame(L"CQarnUtilities::DecryptLogon2", [&] {
        const KeyName name(CombinedLogonName(fieldName));
        const HRESULT combined = PlainText(result, [&](BSTR *out) { return pairs_.Decrypt(name, fieldValue, out); });
        if (SUCCEEDED(combined)) return combined;
        // Not made under the field's name: perhaps under the logon key name alone. When that fails
        // too, the first failure is the one reported.
        ComPtr<IErrorInfo> first;
        GetErrorInfo(0, &first);
        const HRESULT alone = DecryptLogon(fieldValue, result);
        if (SUCCEEDED(alone)) return alone;
        SetErrorInfo(0, first.Get());
        return combined;
    }, frame::OwnCodes{});
}

STDMETHODIMP CQarnUtilities::DecryptLogonValue(BSTR fieldName, BSTR fieldValue, BSTR *result) {
    const HRESULT hr = DecryptLogon2(fieldName, fieldValue, result);
    return FAILED(hr) && secure::RanOutOfMemory(hr) ? E_OUTOFMEMORY : hr;
}

STDMETHODIMP CQarnUtilities::EncryptData(IDispatch *pDisp) {
    return MethodFrame(L"CQarnUtilities::EncryptData", [&] {
        QarnSecureDataMapper mapper(this, true);
        CHECK_HR(mapper.Process(pDisp));
    });
}

STDMETHODIMP CQarnUtilities::DecryptData(IDispatch *pDisp) {
    return MethodFrame(L"CQarnUtilities::DecryptData", [&] {
        QarnSecureDataMapper mapper(this, false);
        CHECK_HR(mapper.Process(pDisp));
    });
}
