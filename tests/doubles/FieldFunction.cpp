#include "FieldFunction.h"

#include <cwctype>
#include <string>

#include "Errors.h"
#include "Text.h"

using namespace qarn;

STDMETHODIMP FieldFunction::Evaluate(BSTR value, BSTR functionName, BSTR* result) {
    return MethodFrame(L"FieldFunction::Evaluate", [&]() -> HRESULT {
        CHECK_POINTER(result);
        *result = nullptr;
        const std::wstring_view name = View(functionName);
        std::wstring text(View(value));
        if (name == L"upper") {
            for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
        } else if (name == L"trim") {
            const size_t first = text.find_first_not_of(L' ');
            text = first == std::wstring::npos ? std::wstring() : text.substr(first, text.find_last_not_of(L' ') - first + 1);
        } else if (name == L"today") {
            SYSTEMTIME now;
            GetLocalTime(&now);
            text = Format(L"%04u-%02u-%02u", now.wYear, now.wMonth, now.wDay);
        } else if (name == L"fail") {
            *result = CopyBstr(std::wstring_view(L"failed"));
            return E_FAIL;
        }
        *result = CopyBstr(std::wstring_view(text));
        return S_OK;
    });
}
