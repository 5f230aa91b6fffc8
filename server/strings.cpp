// String operations: members of CQarnUtilities.
#include "server/Utilities.h"

using namespace qarn;

namespace {

// Runs a rule on a caller's text: null gives null, otherwise the rule's result as a new text.
template <class Rule>
HRESULT NullOrRule(BSTR s, BSTR* result, Rule rule) {
    OutParam(result);
    if (!s) return S_OK;
    *result = CopyBstr(std::wstring_view(rule(*Arg(s))));
    return S_OK;
}

// Trims with the identifier's first character (NUL for an empty identifier, which matches
// nothing); a null text or identifier gives null.
HRESULT Trim(BSTR s, BSTR c, BSTR* result, std::wstring_view (*rule)(std::wstring_view, wchar_t)) {
    OutParam(result);
    if (!s || !c) return S_OK;
    *result = CopyBstr(rule(*Arg(s), c[0]));
    return S_OK;
}

// The extension of `name` (upper case when `upper`), an empty text when it has none.
BSTR GetExtensionHelper(BSTR name, bool upper) {
    std::wstring extension(text::ExtensionOf(Arg(name).value_or(std::wstring_view())));
    if (upper && !extension.empty()) {
        const int length = static_cast<int>(extension.size());
        if (LCMapStringW(LOCALE_USER_DEFAULT, LCMAP_UPPERCASE, extension.data(), length, extension.data(), length) == 0)
            ThrowLastError();
    }
    return CopyBstr(std::wstring_view(extension));
}

}  // namespace

STDMETHODIMP CQarnUtilities::GetExtension(BSTR name, BSTR *extension) {
    return MethodFrame(L"CQarnUtilities::GetExtension", [&] {
        OutParam(extension) = GetExtensionHelper(name, true);
    });
}

STDMETHODIMP CQarnUtilities::GetExtension2(BSTR name, BSTR *extension) {
    return MethodFrame(L"CQarnUtilities::GetExtension2", [&] {
        OutParam(extension) = GetExtensionHelper(name, false);
    });
}

STDMETHODIMP CQarnUtilities::GetNameByPath(BSTR path, BSTR *name) {
    return MethodFrame(L"CQarnUtilities::GetNameByPath", [&] { return NullOrRule(path, name, text::NameOfPath); });
}

STDMETHODIMP CQarnUtilities::GetPathByFullname(BSTR fullname, BSTR *path) {
    return MethodFrame(L"CQarnUtilities::GetPathByFullname",
                       [&] { return NullOrRule(fullname, path, text::DirectoryOfPath); });
}

STDMETHODIMP CQarnUtilities::RemoveExtension(BSTR fileName, BSTR *extension) {
    return MethodFrame(L"CQarnUtilities::RemoveExtension",
                       [&] { return NullOrRule(fileName, extension, text::WithoutExtension); });
}

STDMETHODIMP CQarnUtilities::TrimLeft(BSTR s, BSTR c, BSTR *pVal) {
    return MethodFrame(L"CQarnUtilities::TrimLeft", [&] { return Trim(s, c, pVal, text::TrimLeft); });
}

STDMETHODIMP CQarnUtilities::TrimRight(BSTR s, BSTR c, BSTR *pVal) {
    return MethodFrame(L"CQarnUtilities::TrimRight", [&] { return Trim(s, c, pVal, text::TrimRight); });
}

STDMETHODIMP CQarnUtilities::TrimLeftAndRight(BSTR s, BSTR c, BSTR *pVal) {
    return MethodFrame(L"CQarnUtilities::TrimLeftAndRight", [&] {
        OutParam(pVal);
        if (!s || !c) return;
        Bstr left;
        CHECK_HR(TrimLeft(s, c, left.Out()));
        Bstr both;
        CHECK_HR(TrimRight(left, c, both.Out()));
        *pVal = both.Detach();
    });
}

STDMETHODIMP CQarnUtilities::TrimSAPDocumentNumber(BSTR s, BSTR c, BSTR *pVal) {
    return MethodFrame(L"CQarnUtilities::TrimSAPDocumentNumber", [&] {
        OutParam(pVal);
        if (!s || !c) return;
        Bstr trimmed;
        CHECK_HR(TrimLeftAndRight(s, c, trimmed.Out()));
        VARIANT_BOOL digits = VARIANT_FALSE;
        CHECK_HR(IsDigit(trimmed, &digits));
        if (digits != VARIANT_TRUE) {
            *pVal = trimmed.Detach();
            return;
        }
        *pVal = CopyBstr(std::wstring_view(text::PadDocumentNumber(trimmed.View())));
    });
}

STDMETHODIMP CQarnUtilities::SubStr(BSTR str, LONG start, LONG length, BSTR *result) {
    return MethodFrame(L"CQarnUtilities::SubStr", [&] {
        OutParam(result);
        if (!str) return;
        if (start < 0 || length < 0) THROW_MESSAGE(L"parameter start or length < 0");
        *result = CopyBstr(text::SubStr(*Arg(str), static_cast<size_t>(start), static_cast<size_t>(length)));
    });
}

STDMETHODIMP CQarnUtilities::IsDigit(BSTR s, VARIANT_BOOL *pVal) {
    return MethodFrame(L"CQarnUtilities::IsDigit", [&] {
        OutParam(pVal) = VARIANT_FALSE;
        const std::wstring_view digits = Arg(s).value_or(std::wstring_view());
        if (digits.empty()) return;
        for (wchar_t ch : digits)
            if (!iswdigit(ch)) return;
        *pVal = VARIANT_TRUE;
    });
}

STDMETHODIMP CQarnUtilities::CreateGuid(BSTR *s) {
    return MethodFrame(L"CQarnUtilities::CreateGuid", [&] {
        OutParam(s);
        GUID guid;
        CHECK_HR(CoCreateGuid(&guid));
        *s = CopyBstr(std::wstring_view(GuidText(guid)));
    });
}

STDMETHODIMP CQarnUtilities::ConvertBSTRToXMLString(BSTR in, BSTR *out) {
    return MethodFrame(L"CQarnUtilities::ConvertBSTRToXMLString", [&] {
        OutParam(out) = CopyBstr(std::wstring_view(text::EscapeXml(Arg(in).value_or(std::wstring_view()))));
    });
}

STDMETHODIMP CQarnUtilities::ConvertBSTRToFileStream(BSTR in, BSTR *out) {
    return MethodFrame(L"CQarnUtilities::ConvertBSTRToFileStream", [&] {
        OutParam(out) = CopyBstr(std::wstring_view(text::EscapeFormat(Arg(in).value_or(std::wstring_view()))));
    });
}

STDMETHODIMP CQarnUtilities::sprintf1(BSTR formatString, BSTR s, BSTR *result) {
    return MethodFrame(L"CQarnUtilities::sprintf1", [&] {
        OutParam(result);
        if (!formatString) return;
        const std::wstring_view format = *Arg(formatString);
        const text::TextArg argument = Arg(s);
        const size_t capacity = format.size() + (argument ? argument->size() : 16) + 2048;
        std::wstring error;
        const std::optional<std::wstring> formatted = text::FormatOneText(format, argument, capacity, error);
        if (!formatted) THROW_MESSAGE(error);
        *result = CopyBstr(std::wstring_view(*formatted));
    });
}
