// Owners of what Windows and the type-information interfaces hand out with a release call of their
// own. Each releases on every way out, a thrown exception included.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <memory>
#include <type_traits>

namespace qarn {

// An opened or created registry key (never a predefined one such as HKEY_CLASSES_ROOT).
struct RegKeyClose { void operator()(HKEY key) const noexcept { RegCloseKey(key); } };
using RegKey = std::unique_ptr<std::remove_pointer_t<HKEY>, RegKeyClose>;

// A text of StringFromCLSID, ProgIDFromCLSID and the like.
struct TaskMemFree { void operator()(void* block) const noexcept { CoTaskMemFree(block); } };
using TaskText = std::unique_ptr<wchar_t, TaskMemFree>;

// The attributes of a type or a library and a function description; the owner outlives them.
struct TypeAttrRelease { ITypeInfo* info; void operator()(TYPEATTR* a) const noexcept { info->ReleaseTypeAttr(a); } };
struct FuncDescRelease { ITypeInfo* info; void operator()(FUNCDESC* d) const noexcept { info->ReleaseFuncDesc(d); } };
struct LibAttrRelease { ITypeLib* lib; void operator()(TLIBATTR* a) const noexcept { lib->ReleaseTLibAttr(a); } };
using TypeAttr = std::unique_ptr<TYPEATTR, TypeAttrRelease>;
using FuncDesc = std::unique_ptr<FUNCDESC, FuncDescRelease>;
using LibAttr = std::unique_ptr<TLIBATTR, LibAttrRelease>;

// The blocks of GetTypeAttr, GetFuncDesc and GetLibAttr, held; the call's result.
inline HRESULT TakenResult(HRESULT hr, bool present) noexcept { return SUCCEEDED(hr) && !present ? E_UNEXPECTED : hr; }
inline HRESULT GetTypeAttr(ITypeInfo* info, TypeAttr& held) noexcept {
    TYPEATTR* attr = nullptr;
    const HRESULT hr = info->GetTypeAttr(&attr);
    held = TypeAttr(SUCCEEDED(hr) ? attr : nullptr, {info});
    return TakenResult(hr, attr);
}
inline HRESULT GetFuncDesc(ITypeInfo* info, UINT index, FuncDesc& held) noexcept {
    FUNCDESC* desc = nullptr;
    const HRESULT hr = info->GetFuncDesc(index, &desc);
    held = FuncDesc(SUCCEEDED(hr) ? desc : nullptr, {info});
    return TakenResult(hr, desc);
}
inline HRESULT GetLibAttr(ITypeLib* lib, LibAttr& held) noexcept {
    TLIBATTR* attr = nullptr;
    const HRESULT hr = lib->GetLibAttr(&attr);
    held = LibAttr(SUCCEEDED(hr) ? attr : nullptr, {lib});
    return TakenResult(hr, attr);
}

}  // namespace qarn
