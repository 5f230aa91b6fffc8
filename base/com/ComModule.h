// The module (DLL) a COM class lives in: its instance handle, its lock count, its type library
// and its class table. Each of our DLLs links this layer once and so has its own module.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <wrl/client.h>

#include <span>
#include <string>

namespace qarn {

using Microsoft::WRL::ComPtr;

using CreatorFn = HRESULT (*)(IUnknown* outer, REFIID iid, void** ppv);

// One creatable class of the module.
struct ClassEntry {
    const CLSID* clsid;
    CreatorFn create;
    UINT registryScript;          // id of its "REGISTRY" resource; 0: another entry's script registers it
    void (*staticInit)() = nullptr;
    void (*staticTerm)() = nullptr;
};

// Shorthand for a class table row.
template <class T>
constexpr ClassEntry Entry(const CLSID& clsid, UINT script) {
    return {&clsid, &T::CreateInstance, script};
}

namespace module {

// What a DLL tells the layer about itself. Each DLL defines ThisModule() once; the layer's DllMain
// and the four exported entry points (DllEntry.cpp) use it.
struct Definition {
    std::span<const ClassEntry> classes;
    // Extra work at process detach; `processExit` is true when the process is ending (other DLLs
    // may be gone already) and false on FreeLibrary.
    void (*onProcessDetach)(bool processExit) = nullptr;
    // Whether something other than a live object still needs the DLL (a window that may yet
    // receive a message); DllCanUnloadNow answers S_FALSE then.
    bool (*inUse)() = nullptr;
    // Called when DllCanUnloadNow answers S_OK: let go of what only waits for the unload (a
    // thread of the DLL's own, say) without waiting for it.
    void (*onUnloadable)() = nullptr;
};
const Definition& ThisModule();

// Called from DllMain: remembers the instance and the class table, runs the static initialisers.
void Attach(HINSTANCE instance, std::span<const ClassEntry> classes);
// Runs the static terminators and drops the cached class objects.
void Detach();

HINSTANCE Instance() noexcept;
std::wstring Path();

// Live objects plus server locks.
void Lock() noexcept;
void Unlock() noexcept;
LONG LockCount() noexcept;

// The type library stored in the module (resource TYPELIB 1); loaded once.
HRESULT TypeLib(ITypeLib** lib);

// The standard entry points, in terms of the class table given to Attach.
HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** ppv);
HRESULT CanUnloadNow();
HRESULT RegisterServer();
HRESULT UnregisterServer();

}  // namespace module
}  // namespace qarn
