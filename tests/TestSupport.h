// Helpers shared by the test files: activation through the registry and error texts.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>
#undef GetMessage

#include <wrl/client.h>

#include <string>
#include <vector>

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

namespace test {

// One coclass of a type library: CLSID, name, help string and default interface.
struct Coclass {
    CLSID clsid;
    std::wstring name, description;
    IID defaultInterface;
};

// The coclasses of the type library stored in a module, so that class lists follow the library.
inline std::vector<Coclass> Coclasses(const std::wstring& modulePath) {
    std::vector<Coclass> out;
    ComPtr<ITypeLib> lib;
    if (FAILED(LoadTypeLibEx(modulePath.c_str(), REGKIND_NONE, &lib))) return out;
    for (UINT i = 0, n = lib->GetTypeInfoCount(); i < n; ++i) {
        ComPtr<ITypeInfo> info, iface;
        TYPEATTR* attr = nullptr;
        if (FAILED(lib->GetTypeInfo(i, &info)) || FAILED(info->GetTypeAttr(&attr))) continue;
        Coclass c{attr->guid, {}, {}, IID_NULL};
        const bool coclass = attr->typekind == TKIND_COCLASS;
        for (UINT k = 0; coclass && k < attr->cImplTypes; ++k) {
            INT flags = 0;
            HREFTYPE ref = 0;
            TYPEATTR* ia = nullptr;
            if (SUCCEEDED(info->GetImplTypeFlags(k, &flags)) && (flags & IMPLTYPEFLAG_FDEFAULT) &&
                SUCCEEDED(info->GetRefTypeOfImplType(k, &ref)) && SUCCEEDED(info->GetRefTypeInfo(ref, &iface)) &&
                SUCCEEDED(iface->GetTypeAttr(&ia))) {
                c.defaultInterface = ia->guid;
                iface->ReleaseTypeAttr(ia);
            }
        }
        info->ReleaseTypeAttr(attr);
        BSTR name = nullptr, doc = nullptr;
        if (coclass && SUCCEEDED(info->GetDocumentation(MEMBERID_NIL, &name, &doc, nullptr, nullptr))) {
            c.name = ToWide(name);
            c.description = ToWide(doc);
            out.push_back(c);
        }
        SysFreeString(name);
        SysFreeString(doc);
    }
    return out;
}

inline std::wstring GuidText(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

}  // namespace test
