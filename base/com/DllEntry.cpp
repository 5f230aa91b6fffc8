// DllMain and the four exported entry points of every DLL built on this layer.
#include "ComModule.h"
#include "Text.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    const qarn::module::Definition& self = qarn::module::ThisModule();
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        qarn::module::Attach(instance, self.classes);
    } else if (reason == DLL_PROCESS_DETACH) {
        if (self.onProcessDetach) self.onProcessDetach(reserved != nullptr);
        qarn::module::Detach();
    }
    return TRUE;
}

// No exception leaves an entry point: running out of memory is E_OUTOFMEMORY.
template <class F>
HRESULT Guarded(F&& f) noexcept {
    try {
        return f();
    } catch (...) {
        return qarn::CaughtResult();
    }
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** ppv) {
    return Guarded([&] { return qarn::module::GetClassObject(clsid, iid, ppv); });
}
extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    // Memory that runs out while the answer is made keeps the DLL loaded.
    const HRESULT hr = Guarded([] { return qarn::module::CanUnloadNow(); });
    return FAILED(hr) ? S_FALSE : hr;
}
extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() { return Guarded([] { return qarn::module::RegisterServer(); }); }
extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
    return Guarded([] { return qarn::module::UnregisterServer(); });
}
