// The DLL's entry points and its class table.
#include "components/Adapters.h"
#include "components/ListViewControl.h"
#include "components/Timer.h"
#include "config/Application.h"
#include "config/ClassFactory.h"
#include "documents/SimpleCollaboration.h"
#include "resources/resource.h"
#include "server/GlobalApp.h"
#include "util/Utilities.h"

namespace {

template <class T>
constexpr qarn::ClassEntry Entry(const CLSID& clsid, UINT script) {
    return {&clsid, &T::CreateInstance, script};
}

// The generic PLM interface is entered twice; lookups take the first entry.
const qarn::ClassEntry kClasses[] = {
    Entry<CGlobalApp>(CLSID_CGlobalApp, IDR_CGLOBALAPP),
    Entry<CQarnClassFactory>(CLSID_CQarnClassFactory, IDR_CQARNCLASSFACTORY),
    Entry<CQarnComApplication>(CLSID_CQarnComApplication, IDR_CQARNCOMAPPLICATION),
    Entry<CQarnSimpleCollaboration>(CLSID_CQarnSimpleCollaboration, IDR_CQARNSIMPLECOLLABORATION),
    Entry<CQarnTimer>(CLSID_CQarnTimer, IDR_CQARNTIMER),
    Entry<CQarnUtilities>(CLSID_CQarnUtilities, IDR_CQARNUTILITIES),
    Entry<CQarnGenericListViewControl>(CLSID_QarnGenericListViewControl, IDR_QARNGENERICLISTVIEWCONTROL),
    Entry<CQarnGenericPlmInterface>(CLSID_CQarnGenericPlmInterface, IDR_CQARNGENERICPLMINTERFACE),
    Entry<CQarnGenericPlmInterface>(CLSID_CQarnGenericPlmInterface, IDR_CQARNGENERICPLMINTERFACE),
    Entry<CQarnNumberGenerator>(CLSID_CQarnNumberGenerator, IDR_CQARNNUMBERGENERATOR),
    Entry<CQarnCommonCADAdapter>(CLSID_CQarnCommonCADAdapter, IDR_CQARNCOMMONCADADAPTER),
    Entry<CQarnGenericSearchInterface>(CLSID_CQarnGenericSearchInterface, IDR_CQARNGENERICSEARCHINTERFACE),
};

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        qarn::module::Attach(instance, kClasses);
    } else if (reason == DLL_PROCESS_DETACH) {
        // On FreeLibrary the cached objects are released; at process exit they are only forgotten.
        if (reserved) TheGlobalApp().Abandon();
        else TheGlobalApp().Reset();
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
