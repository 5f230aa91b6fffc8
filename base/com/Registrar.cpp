#include "Registrar.h"

#include "Holders.h"
#include "RegistryScript.h"
#include "Text.h"

namespace qarn {

namespace {

using regscript::Key;
using regscript::KeyFlag;
using regscript::Value;

HKEY HiveOf(const std::wstring& name) {
    struct {
        const wchar_t* shortName;
        const wchar_t* longName;
        HKEY key;
    } const hives[] = {
        {L"HKCR", L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
        {L"HKCU", L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
        {L"HKLM", L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
        {L"HKU", L"HKEY_USERS", HKEY_USERS},
    };
    for (const auto& h : hives)
        if (_wcsicmp(name.c_str(), h.shortName) == 0 || _wcsicmp(name.c_str(), h.longName) == 0) return h.key;
    return nullptr;
}

LSTATUS SetValue(HKEY key, const Value& v) {
    const wchar_t* name = v.name.empty() ? nullptr : v.name.c_str();
    if (v.type == L'd') {
        DWORD number = wcstoul(v.data.c_str(), nullptr, 0);
        return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
    }
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(v.data.c_str()),
                          static_cast<DWORD>((v.data.size() + 1) * sizeof(wchar_t)));
}

LSTATUS DeleteTree(HKEY parent, const std::wstring& name) {
    LSTATUS s = RegDeleteTreeW(parent, name.c_str());
    if (s == ERROR_SUCCESS) s = RegDeleteKeyW(parent, name.c_str());
    return s == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : s;
}

LSTATUS Register(HKEY parent, const Key& k) {
    if (k.flag == KeyFlag::Delete) return DeleteTree(parent, k.name);
    if (k.flag == KeyFlag::ForceRemove) {
        LSTATUS s = DeleteTree(parent, k.name);
        if (s != ERROR_SUCCESS) return s;
    }
    HKEY opened = nullptr;
    LSTATUS s = RegCreateKeyExW(parent, k.name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &opened, nullptr);
    if (s != ERROR_SUCCESS) return s;
    const RegKey key(opened);
    if (k.hasDefault) s = SetValue(key.get(), k.defaultValue);
    for (const Value& v : k.values)
        if (s == ERROR_SUCCESS) s = SetValue(key.get(), v);
    for (const Key& child : k.children)
        if (s == ERROR_SUCCESS) s = Register(key.get(), child);
    return s;
}

LSTATUS Unregister(HKEY parent, const Key& k) {
    if (k.flag == KeyFlag::ForceRemove || k.flag == KeyFlag::Delete) return DeleteTree(parent, k.name);
    HKEY opened = nullptr;
    LSTATUS s = RegOpenKeyExW(parent, k.name.c_str(), 0, KEY_ALL_ACCESS, &opened);
    if (s == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (s != ERROR_SUCCESS) return s;
    RegKey key(opened);
    for (const Key& child : k.children) {
        s = Unregister(key.get(), child);
        if (s != ERROR_SUCCESS) break;
    }
    if (s == ERROR_SUCCESS)
        for (const Value& v : k.values) RegDeleteValueW(key.get(), v.name.c_str());
    DWORD subkeys = 0;
    RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr);
    key.reset();
    // A normal key goes once nothing of anybody else is left below it; NoRemove keys stay.
    if (s == ERROR_SUCCESS && k.flag == KeyFlag::Normal && subkeys == 0) {
        LSTATUS d = RegDeleteKeyW(parent, k.name.c_str());
        if (d != ERROR_SUCCESS && d != ERROR_FILE_NOT_FOUND) s = d;
    }
    return s;
}

}  // namespace

HRESULT RunRegistryScriptText(const std::wstring& script, const std::wstring& modulePath, bool registering) {
    std::vector<regscript::Root> roots;
    try {
        roots = regscript::Parse(script, {{L"MODULE", modulePath}});
    } catch (const regscript::ParseError&) {
        return E_FAIL;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    for (const auto& root : roots) {
        HKEY hive = HiveOf(root.hive);
        if (!hive) return E_INVALIDARG;
        for (const Key& k : root.keys) {
            LSTATUS s = registering ? Register(hive, k) : Unregister(hive, k);
            if (s != ERROR_SUCCESS) return HRESULT_FROM_WIN32(s);
        }
    }
    return S_OK;
}

HRESULT RunRegistryScript(HMODULE module, UINT id, const std::wstring& modulePath, bool registering) {
    HRSRC res = FindResourceW(module, MAKEINTRESOURCEW(id), L"REGISTRY");
    if (!res) return HRESULT_FROM_WIN32(GetLastError());
    HGLOBAL data = LoadResource(module, res);
    DWORD size = SizeofResource(module, res);
    const char* bytes = data ? static_cast<const char*>(LockResource(data)) : nullptr;
    if (!bytes) return HRESULT_FROM_WIN32(GetLastError());
    try {
        return RunRegistryScriptText(FromUtf8(std::string_view(bytes, size)), modulePath, registering);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace qarn
