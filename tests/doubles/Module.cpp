// QarnTestDoubles.dll: entry points and class table of the test doubles.
#include "DispatchProbe.h"
#include "Module.h"

namespace {

const qarn::ClassEntry kClasses[] = {
    {&CLSID_DispatchProbe, &DispatchProbe::CreateInstance, 101},
};

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        qarn::module::Attach(instance, kClasses);
    } else if (reason == DLL_PROCESS_DETACH) {
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
