// Owners of what Windows and the type-information interfaces hand out with a release call of their
// own: an open registry key, a task-allocated text, the attribute blocks of a type or a library
// and a function description. Each releases on every way out, a thrown exception included.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <memory>
#include <type_traits>

namespace qarn {

struct RegKeyClose {
    void operator()(HKEY key) const noexcept { RegCloseKey(key); }
};
// An opened or created key (never a predefined one such as HKEY_CLASSES_ROOT).
using RegKey = std::unique_ptr<std::remove_pointer_t<HKEY>, RegKeyClose>;

struct TaskMemFree {
    void operator()(void* block) const noexcept { CoTaskMemFree(block); }
};
// A text from StringFromCLSID, ProgIDFromCLSID and the like.
using TaskText = std::unique_ptr<wchar_t, TaskMemFree>;

struct TypeAttrRelease {
    ITypeInfo* info;
    void operator()(TYPEATTR* attr) const noexcept { info->ReleaseTypeAttr(attr); }
};
using TypeAttr = std::unique_ptr<TYPEATTR, TypeAttrRelease>;

struct FuncDescRelease {
    ITypeInfo* info;
    void operator()(FUNCDESC* desc) const noexcept { info->ReleaseFuncDesc(desc); }
};
using FuncDesc = std::unique_ptr<FUNCDESC, FuncDescRelease>;

struct LibAttrRelease {
    ITypeLib* library;
    void operator()(TLIBATTR* attr) const noexcept { library->ReleaseTLibAttr(attr); }
};
using LibAttr = std::unique_ptr<TLIBATTR, LibAttrRelease>;

// The attributes of `info` / `library` in `held`; the call's result. The owner must outlive them.
inline HRESULT GetTypeAttr(ITypeInfo* info, TypeAttr& held) noexcept {
    TYPEATTR* attr = nullptr;
    const HRESULT hr = info->GetTypeAttr(&attr);
    held = TypeAttr(SUCCEEDED(hr) ? attr : nullptr, TypeAttrRelease{info});
    return held ? hr : (FAILED(hr) ? hr : E_UNEXPECTED);
}
inline HRESULT GetFuncDesc(ITypeInfo* info, UINT index, FuncDesc& held) noexcept {
    FUNCDESC* desc = nullptr;
    const HRESULT hr = info->GetFuncDesc(index, &desc);
    held = FuncDesc(SUCCEEDED(hr) ? desc : nullptr, FuncDescRelease{info});
    return held ? hr : (FAILED(hr) ? hr : E_UNEXPECTED);
}
inline HRESULT GetLibAttr(ITypeLib* library, LibAttr& held) noexcept {
    TLIBATTR* attr = nullptr;
    const HRESULT hr = library->GetLibAttr(&attr);
    held = LibAttr(SUCCEEDED(hr) ? attr : nullptr, LibAttrRelease{library});
    return held ? hr : (FAILED(hr) ? hr : E_UNEXPECTED);
}

}  // namespace qarn
