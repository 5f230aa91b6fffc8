#include "ComModule.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "Holders.h"
#include "Registrar.h"
#include "SimpleUnknown.h"
#include "Text.h"

namespace qarn::module {

namespace {

HINSTANCE g_instance = nullptr;
std::span<const ClassEntry> g_classes;
std::atomic<LONG> g_locks{0};

// The class objects, created on first request under the module's lock and kept for
// the life of the module. They do not count as live objects.
class ClassObject final : public SimpleUnknown<IClassFactory> {
public:
    explicit ClassObject(CreatorFn create) : create_(create) {}
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** ppv) override { return create_(outer, iid, ppv); }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock) Lock();
        else Unlock();
        return S_OK;
    }

private:
    CreatorFn create_;
};

std::mutex g_lock;
std::vector<IClassFactory*> g_classObjects;  // parallel to g_classes
ITypeLib* g_typeLib = nullptr;

}  // namespace

void Attach(HINSTANCE instance, std::span<const ClassEntry> classes) {
    g_instance = instance;
    g_classes = classes;
    g_classObjects.assign(classes.size(), nullptr);
    for (const ClassEntry& c : classes)
        if (c.staticInit) c.staticInit();
}

void Detach() {
    for (const ClassEntry& c : g_classes)
        if (c.staticTerm) c.staticTerm();
    for (IClassFactory*& f : g_classObjects) {
        if (f) f->Release();
        f = nullptr;
    }
    if (g_typeLib) {
        g_typeLib->Release();
        g_typeLib = nullptr;
    }
}

HINSTANCE Instance() noexcept { return g_instance; }

std::wstring Path() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(g_instance, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

void Lock() noexcept { ++g_locks; }
void Unlock() noexcept { --g_locks; }
LONG LockCount() noexcept { return g_locks.load(); }

HRESULT TypeLib(ITypeLib** lib) {
    if (!lib) return E_POINTER;
    *lib = nullptr;
    std::wstring path;
    try {
        path = Path();  // made before the lock is taken: running out of memory leaves it free
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    std::lock_guard<std::mutex> guard(g_lock);
    HRESULT hr = S_OK;
    if (!g_typeLib) hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &g_typeLib);
    if (g_typeLib) {
        *lib = g_typeLib;
        g_typeLib->AddRef();
    }
    return hr;
}

HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    for (size_t i = 0; i < g_classes.size(); ++i) {
        if (!InlineIsEqualGUID(clsid, *g_classes[i].clsid)) continue;
        std::unique_lock<std::mutex> guard(g_lock);
        if (!g_classObjects[i]) g_classObjects[i] = new (std::nothrow) ClassObject(g_classes[i].create);
        IClassFactory* factory = g_classObjects[i];
        if (factory) factory->AddRef();
        guard.unlock();
        if (!factory) return E_OUTOFMEMORY;
        HRESULT hr = factory->QueryInterface(iid, ppv);
        factory->Release();
        return hr;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT CanUnloadNow() {
    if (LockCount() != 0) return S_FALSE;
    const Definition& self = ThisModule();
    if (self.inUse && self.inUse()) return S_FALSE;
    if (self.onUnloadable) self.onUnloadable();
    return S_OK;
}

namespace {

HRESULT RunScripts(bool registering) {
    const std::wstring path = Path();
    for (const ClassEntry& c : g_classes) {
        if (c.registryScript == 0) continue;  // written by another entry's script
        HRESULT hr = RunRegistryScript(g_instance, c.registryScript, path, registering);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

}  // namespace

namespace {

// "TypeLib\{libid}\1.0\0": the marshaler of interfaces between apartments looks a library up
// under the neutral locale (0) and finds nothing under a library's own locale alone.
std::wstring NeutralLocaleKey(const TLIBATTR& attr) {
    return Format(L"TypeLib\\%s\\%x.%x\\0", GuidText(attr.guid).c_str(), attr.wMajorVerNum, attr.wMinorVerNum);
}

// Registers a library of another locale under the neutral one as well, with the same file.
HRESULT RegisterNeutralLocale(const TLIBATTR& attr, const std::wstring& path) {
    if (attr.lcid == 0) return S_OK;
    const std::wstring key = NeutralLocaleKey(attr) + (attr.syskind == SYS_WIN64 ? L"\\win64" : L"\\win32");
    HKEY handle = nullptr;
    LSTATUS status = RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle,
                                     nullptr);
    const RegKey held(status == ERROR_SUCCESS ? handle : nullptr);
    if (held)
        status = RegSetValueExW(held.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                                static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
    return HRESULT_FROM_WIN32(status);
}

HRESULT UnregisterNeutralLocale(const TLIBATTR& attr) {
    if (attr.lcid == 0) return S_OK;
    const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, NeutralLocaleKey(attr).c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(status);
}

}  // namespace

HRESULT RegisterServer() {
    HRESULT hr = RunScripts(true);
    if (FAILED(hr)) return hr;
    ComPtr<ITypeLib> lib;
    const std::wstring path = Path();
    hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &lib);
    if (FAILED(hr)) return hr;
    hr = RegisterTypeLib(lib.Get(), const_cast<OLECHAR*>(path.c_str()), nullptr);
    if (FAILED(hr)) return hr;
    LibAttr attr;
    hr = GetLibAttr(lib.Get(), attr);
    if (FAILED(hr)) return hr;
    return RegisterNeutralLocale(*attr, path);
}

HRESULT UnregisterServer() {
    HRESULT hr = RunScripts(false);
    if (FAILED(hr)) return hr;
    ComPtr<ITypeLib> lib;
    hr = LoadTypeLibEx(Path().c_str(), REGKIND_NONE, &lib);
    if (FAILED(hr)) return hr;
    LibAttr attr;
    hr = GetLibAttr(lib.Get(), attr);
    if (FAILED(hr)) return hr;
    // The neutral entry goes first, so that removing the library's own leaves no version key.
    hr = UnregisterNeutralLocale(*attr);
    // A library that is not registered (any more) is what we wanted.
    BSTR registered = nullptr;
    if (SUCCEEDED(hr) &&
        SUCCEEDED(QueryPathOfRegTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, &registered))) {
        SysFreeString(registered);
        hr = UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);
    }
    return hr;
}

}  // namespace qarn::module
