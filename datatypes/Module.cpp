// The DLL's entry points and its class table.
#include "Datatypes.h"
#include "resource.h"

namespace {

template <class T>
constexpr qarn::ClassEntry Entry(const CLSID& clsid, UINT script) {
    return {&clsid, &T::CreateInstance, script};
}

const qarn::ClassEntry kClasses[] = {
    Entry<CField>(CLSID_Field, IDR_FIELD),
    Entry<CFieldCollection>(CLSID_FieldCollection, IDR_FIELDCOLLECTION),
    Entry<CParameterList>(CLSID_ParameterList, IDR_PARAMETERLIST),
    Entry<CStructure>(CLSID_Structure, IDR_STRUCTURE),
    Entry<CStructureCollection>(CLSID_StructureCollection, IDR_STRUCTURECOLLECTION),
    Entry<CTable>(CLSID_Table, IDR_TABLE),
    Entry<CTableCollection>(CLSID_TableCollection, IDR_TABLECOLLECTION),
    Entry<CFieldCollectionTable>(CLSID_FieldCollectionTable, IDR_FIELDCOLLECTIONTABLE),
    Entry<CQarnDocument>(CLSID_QarnDocument, IDR_QARNDOCUMENT),
    Entry<CQarnDocumentCollection>(CLSID_QarnDocumentCollection, IDR_QARNDOCUMENTCOLLECTION),
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
