// Helpers shared by the test files: activation through the registry and error texts.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>
#undef GetMessage

#include <wrl/client.h>

#include <string>

#include "QarnComDatatypes.h"
#include "QarnComConnector.h"

namespace test {

using Microsoft::WRL::ComPtr;

// Creates a registered class the way clients do.
template <class I>
ComPtr<I> Create(REFCLSID clsid) {
    ComPtr<I> p;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, __uuidof(I), reinterpret_cast<void**>(p.GetAddressOf()));
    if (FAILED(hr)) throw hr;
    return p;
}

// The description of the thread's error object (empty when there is none); takes it.
inline std::wstring TakeErrorDescription() {
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) != S_OK || !info) return {};
    BSTR text = nullptr;
    info->GetDescription(&text);
    std::wstring result = text ? text : L"";
    SysFreeString(text);
    return result;
}

inline std::wstring ToWide(const BSTR s) { return s ? std::wstring(s, SysStringLen(s)) : std::wstring(); }

// Text of a registry value (REG_SZ); `found` tells whether it exists.
inline std::wstring RegText(HKEY root, const std::wstring& key, const wchar_t* name, bool* found = nullptr) {
    wchar_t buffer[1024] = {};
    DWORD size = sizeof buffer;
    LSTATUS s = RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &size);
    if (found) *found = s == ERROR_SUCCESS;
    return s == ERROR_SUCCESS ? buffer : L"";
}

inline bool KeyExists(HKEY root, const std::wstring& key) {
    HKEY h = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
    RegCloseKey(h);
    return true;
}

// Path of the registered server DLL of a class.
inline std::wstring ServerPath(const wchar_t* clsidText) {
    return RegText(HKEY_CLASSES_ROOT, std::wstring(L"CLSID\\") + clsidText + L"\\InprocServer32", nullptr);
}

// Replaces "line <digits>" by "line #" so that texts can be compared whatever the line numbers.
inline std::wstring MaskLines(std::wstring text) {
    std::wstring out;
    for (size_t i = 0; i < text.size();) {
        if (text.compare(i, 5, L"line ") == 0 && i + 5 < text.size() && iswdigit(text[i + 5])) {
            out += L"line #";
            i += 5;
            while (i < text.size() && iswdigit(text[i])) ++i;
        } else {
            out += text[i++];
        }
    }
    return out;
}

}  // namespace test
