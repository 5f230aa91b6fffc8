// Helpers shared by the test files and the hardening programs: activation through the registry,
// error texts, files and folders, the classes of a type library.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>
#undef GetMessage

#include <wrl/client.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
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

// ---- files -----------------------------------------------------------------------------------------
inline bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Calls `visit(name, isFolder)` for the entries of `folder` that match `pattern`.
inline void ForEachEntry(const std::wstring& folder, const std::function<void(const std::wstring&, bool)>& visit,
                         const wchar_t* pattern = L"*") {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\" + pattern).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") visit(name, (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
    } while (FindNextFileW(find, &data));
    FindClose(find);
}

// Removes a folder with everything in it, read-only files included.
inline void RemoveTree(const std::wstring& folder) {
    ForEachEntry(folder, [&](const std::wstring& name, bool isFolder) {
        const std::wstring path = folder + L"\\" + name;
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (isFolder) RemoveTree(path);
        else DeleteFileW(path.c_str());
    });
    RemoveDirectoryW(folder.c_str());
}

inline void CopyTree(const std::wstring& from, const std::wstring& to) {
    CreateDirectoryW(to.c_str(), nullptr);
    ForEachEntry(from, [&](const std::wstring& name, bool isFolder) {
        if (isFolder) CopyTree(from + L"\\" + name, to + L"\\" + name);
        else CopyFileW((from + L"\\" + name).c_str(), (to + L"\\" + name).c_str(), FALSE);
    });
}

// A new empty folder "qarn-<name>-<process id>" in the temporary folder (Wine reuses process ids: a
// run that was stopped may have left one behind, which is removed first).
inline std::wstring TempFolder(const std::wstring& name) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring path = temp + (L"qarn-" + name + L"-" + std::to_wstring(GetCurrentProcessId()));
    RemoveTree(path);
    CreateDirectoryW(path.c_str(), nullptr);
    return path;
}

// Writes `bytes` as the whole file.
inline bool WriteBytes(const std::wstring& path, std::string_view bytes) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    const bool ok = h != INVALID_HANDLE_VALUE && WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    return ok;
}

inline std::optional<std::string> ReadBytes(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return std::nullopt;
    std::string bytes;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got) bytes.append(buffer, got);
    CloseHandle(h);
    return bytes;
}

// ---- type libraries ----------------------------------------------------------------------------
// One coclass of a type library: CLSID, name, help string, whether clients may create it, and its
// default interface; for a dual one `itf` is the vtable view, whose FUNCDESCs carry the real
// parameter types.
struct Coclass {
    CLSID clsid{};
    std::wstring name, description;
    IID defaultInterface = IID_NULL;
    bool creatable = false, dual = false;
    ComPtr<ITypeInfo> itf;
};

// The coclasses of the type library stored in a module, so that class lists follow the library.
inline std::vector<Coclass> Coclasses(const std::wstring& modulePath) {
    std::vector<Coclass> out;
    ComPtr<ITypeLib> lib;
    if (FAILED(LoadTypeLibEx(modulePath.c_str(), REGKIND_NONE, &lib))) return out;
    for (UINT i = 0, n = lib->GetTypeInfoCount(); i < n; ++i) {
        ComPtr<ITypeInfo> info;
        TYPEATTR* attr = nullptr;
        if (FAILED(lib->GetTypeInfo(i, &info)) || FAILED(info->GetTypeAttr(&attr))) continue;
        Coclass c;
        c.clsid = attr->guid;
        const bool coclass = attr->typekind == TKIND_COCLASS;
        const WORD impls = attr->cImplTypes;
        c.creatable = (attr->wTypeFlags & TYPEFLAG_FCANCREATE) != 0;
        info->ReleaseTypeAttr(attr);
        for (UINT k = 0; coclass && k < impls; ++k) {
            INT flags = 0;
            HREFTYPE ref = 0;
            TYPEATTR* ia = nullptr;
            if (FAILED(info->GetImplTypeFlags(k, &flags)) || !(flags & IMPLTYPEFLAG_FDEFAULT) ||
                FAILED(info->GetRefTypeOfImplType(k, &ref)) || FAILED(info->GetRefTypeInfo(ref, &c.itf)) ||
                FAILED(c.itf->GetTypeAttr(&ia)))
                continue;
            c.defaultInterface = ia->guid;
            c.dual = ia->typekind == TKIND_DISPATCH;
            c.itf->ReleaseTypeAttr(ia);
            ComPtr<ITypeInfo> vtable;
            if (c.dual && SUCCEEDED(c.itf->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref)) &&
                SUCCEEDED(c.itf->GetRefTypeInfo(ref, &vtable)))
                c.itf = vtable;
        }
        BSTR name = nullptr, doc = nullptr;
        if (coclass && SUCCEEDED(info->GetDocumentation(MEMBERID_NIL, &name, &doc, nullptr, nullptr))) {
            c.name = ToWide(name);
            c.description = ToWide(doc);
            out.push_back(std::move(c));
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
