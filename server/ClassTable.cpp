// The class table of QarnComConnector.dll.
#include "components/Adapters.h"
#include "components/ListViewControl.h"
#include "components/Timer.h"
#include "config/Application.h"
#include "config/ClassFactory.h"
#include "config/ShellIcon.h"
#include "documents/SimpleCollaboration.h"
#include "resources/resource.h"
#include "base/GlobalApp.h"
#include "base/HomeApartment.h"
#include "server/Utilities.h"

using qarn::Entry;

namespace {

// The generic PLM interface is entered twice; lookups take the first entry.
const qarn::ClassEntry kClasses[] = {
    Entry<CGlobalApp>(CLSID_CGlobalApp, IDR_CGLOBALAPP),
    Entry<CQarnClassFactory>(CLSID_CQarnClassFactory, IDR_CQARNCLASSFACTORY),
    {&CLSID_CQarnComApplication, &CQarnComApplication::CreateInstance, IDR_CQARNCOMAPPLICATION, nullptr,
     &qarn::config::UnregisterShellIconWindowClass},
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

// The DLL goes away: the cached application and connectors are only forgotten. Releasing them
// would mean calls into their apartment under the loader lock, and at process exit the DLLs
// they live in may be gone already. (A host unloads the DLL only once DllCanUnloadNow allows it,
// and a cached application or connector keeps it from doing so.)
void ForgetGlobalApp(bool processExit) {
    TheGlobalApp().Abandon();
    if (!processExit) qarn::home::UnregisterWindowClass();
}

// A tray icon's window may yet receive a message; the objects the process keeps live in the DLL's
// own apartment.
bool InUse() { return qarn::config::ShellIconWindowsRemain() || !TheGlobalApp().Empty(); }

}  // namespace

const qarn::module::Definition& qarn::module::ThisModule() {
    // Once nothing is in use, the DLL's own apartment ends: its thread lets go of the DLL last.
    static const Definition definition{kClasses, &ForgetGlobalApp, &InUse, &qarn::home::End};
    return definition;
}
