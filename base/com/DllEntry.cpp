// DllMain and the four exported entry points of every DLL built on this layer.
#include "ComModule.h"

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

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** ppv) {
    return qarn::module::GetClassObject(clsid, iid, ppv);
}
extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return qarn::module::CanUnloadNow(); }
extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() { return qarn::module::RegisterServer(); }
extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() { return qarn::module::UnregisterServer(); }
