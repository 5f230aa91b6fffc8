// A host that uses the DLLs without any registration. It runs from a folder that holds both DLLs,
// their assembly manifests (Qarn.ComConnector.manifest, Qarn.ComDatatypes.manifest) and its own
// manifest, regfree_host.exe.manifest, which names the Qarn.ComConnector assembly. It checks what
// the activation context of that manifest must give a host:
//   - both type libraries by LIBID, and every creatable class of both by CLSID;
//   - the classes' ProgIDs creating them;
//   - the DLLs loaded from the host's own folder, whatever else is registered on the machine;
//   - an object used from another apartment, and a class created from a multithreaded one (the
//     interfaces' proxy/stub entries).
// With --plugin it runs as a plug-in host does, without a manifest of its own: it activates a
// context made from Qarn.ComConnector.manifest only around its creation of the class factory and a
// utilities object, and then calls them outside of it, where the DLL must find its own classes and
// the data types through its own context.
// Prints one line per failure and ends with "regfree host: N passed, N failed".
#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <cstdio>
#include <string>

#include "QarnComConnector.h"
#include "QarnComDatatypes.h"

using Microsoft::WRL::ComPtr;

namespace {

int g_passed = 0;
int g_failed = 0;

bool Check(bool ok, const std::wstring& what) {
    if (ok) {
        ++g_passed;
    } else {
        ++g_failed;
        wprintf(L"FAILED: %ls\n", what.c_str());
    }
    return ok;
}

std::wstring Hex(HRESULT hr) {
    wchar_t text[16];
    swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

std::wstring GuidText(const GUID& guid) {
    wchar_t text[40] = L"";
    StringFromGUID2(guid, text, 40);
    return text;
}

std::wstring Folder(const std::wstring& path) {
    const auto slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring ModulePath(HMODULE module) {
    wchar_t path[MAX_PATH] = L"";
    GetModuleFileNameW(module, path, MAX_PATH);
    return path;
}

// A ProgID must lead to its class through the host's activation context. As on Windows, the
// CLSID that CLSIDFromProgID returns there may be one the context generated: it creates the class,
// which is recognised by its default interface.
void CheckProgId(const wchar_t* progId, const IID& defaultInterface) {
    CLSID found{};
    HRESULT hr = CLSIDFromProgID(progId, &found);
    ComPtr<IUnknown> object;
    if (SUCCEEDED(hr)) hr = CoCreateInstance(found, nullptr, CLSCTX_INPROC_SERVER, defaultInterface, &object);
    Check(SUCCEEDED(hr), std::wstring(L"ProgID ") + progId + L" does not create its class: " + Hex(hr));
}

// The ProgID COM names for a class must create it again.
void CheckProgIdOf(const CLSID& clsid, const IID& defaultInterface) {
    LPOLESTR progId = nullptr;
    if (FAILED(ProgIDFromCLSID(clsid, &progId))) return;  // a class without ProgID
    CheckProgId(progId, defaultInterface);
    CoTaskMemFree(progId);
}

// The default interface of a class in its type library.
IID DefaultInterface(ITypeInfo* coclass, WORD interfaces) {
    for (UINT i = 0; i < interfaces; ++i) {
        INT flags = 0;
        HREFTYPE ref = 0;
        ComPtr<ITypeInfo> info;
        TYPEATTR* attr = nullptr;
        if (FAILED(coclass->GetImplTypeFlags(i, &flags)) || !(flags & IMPLTYPEFLAG_FDEFAULT) ||
            FAILED(coclass->GetRefTypeOfImplType(i, &ref)) || FAILED(coclass->GetRefTypeInfo(ref, &info)) ||
            FAILED(info->GetTypeAttr(&attr)))
            continue;
        const IID iid = attr->guid;
        info->ReleaseTypeAttr(attr);
        return iid;
    }
    return IID_IUnknown;
}

// Every creatable class of one type library: created by CLSID, its ProgIDs resolved.
void CheckLibrary(const GUID& libid, const wchar_t* library) {
    ComPtr<ITypeLib> lib;
    HRESULT hr = LoadRegTypeLib(libid, 1, 0, 0, &lib);
    Check(SUCCEEDED(hr), std::wstring(L"type library of ") + library + L" by LIBID: " + Hex(hr));
    if (FAILED(hr)) return;
    int classes = 0;
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
        TYPEKIND kind;
        ComPtr<ITypeInfo> info;
        TYPEATTR* attr = nullptr;
        if (FAILED(lib->GetTypeInfoType(i, &kind)) || kind != TKIND_COCLASS || FAILED(lib->GetTypeInfo(i, &info)) ||
            FAILED(info->GetTypeAttr(&attr)))
            continue;
        const CLSID clsid = attr->guid;
        const bool creatable = (attr->wTypeFlags & TYPEFLAG_FCANCREATE) != 0;
        const WORD interfaces = attr->cImplTypes;
        info->ReleaseTypeAttr(attr);
        if (!creatable) continue;
        ++classes;
        BSTR name = nullptr;
        lib->GetDocumentation(static_cast<INT>(i), &name, nullptr, nullptr, nullptr);
        const std::wstring className = name ? name : GuidText(clsid);
        SysFreeString(name);
        const IID defaultInterface = DefaultInterface(info.Get(), interfaces);
        ComPtr<IUnknown> object;
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, defaultInterface, &object);
        Check(SUCCEEDED(hr), L"creating " + className + L" " + GuidText(clsid) + L": " + Hex(hr));
        CheckProgIdOf(clsid, defaultInterface);
    }
    Check(classes > 0, std::wstring(L"no creatable class in the type library of ") + library);
}

// The DLL of that name must come from the host's own folder.
void CheckLoadedHere(const wchar_t* dll) {
    const std::wstring here = Folder(ModulePath(nullptr));
    const HMODULE module = GetModuleHandleW(dll);
    const std::wstring path = module ? ModulePath(module) : L"(not loaded)";
    wprintf(L"loaded %ls\n", path.c_str());
    Check(module && lstrcmpiW(Folder(path).c_str(), here.c_str()) == 0,
          std::wstring(dll) + L" is " + path + L", not the one in " + here);
}

struct CrossApartment {
    IStream* stream = nullptr;
    HRESULT unmarshal = E_FAIL, call = E_FAIL, create = E_FAIL, createdCall = E_FAIL;
};

DWORD WINAPI FromMultithreaded(void* context) {
    auto& work = *static_cast<CrossApartment*>(context);
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
    {
        ComPtr<IQarnUtilities> utilities;
        work.unmarshal = CoGetInterfaceAndReleaseStream(work.stream, IID_PPV_ARGS(&utilities));
        BSTR root = nullptr;
        if (utilities) work.call = utilities->GetRootDir(&root);
        SysFreeString(root);
        // An apartment-threaded class created here lives in COM's host apartment and is reached
        // through a proxy as well.
        ComPtr<IQarnUtilities> created;
        work.create = CoCreateInstance(CLSID_CQarnUtilities, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&created));
        root = nullptr;
        if (created) work.createdCall = created->GetRootDir(&root);
        SysFreeString(root);
    }
    CoUninitialize();
    return 0;
}

void CheckOtherApartments() {
    ComPtr<IQarnUtilities> utilities;
    HRESULT hr = CoCreateInstance(CLSID_CQarnUtilities, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&utilities));
    if (FAILED(hr)) return;  // reported with the classes
    CrossApartment work;
    hr = CoMarshalInterThreadInterfaceInStream(IID_IQarnUtilities, utilities.Get(), &work.stream);
    Check(SUCCEEDED(hr), L"marshalling IQarnUtilities to another apartment: " + Hex(hr));
    if (FAILED(hr)) return;
    HANDLE thread = CreateThread(nullptr, 0, FromMultithreaded, &work, 0, nullptr);
    Check(thread != nullptr, L"starting a thread");
    if (!thread) {
        work.stream->Release();
        return;
    }
    // The calls from the other apartment arrive as window messages of this one.
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, 30000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
    const bool ended = WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
    Check(ended, L"the other apartment's calls did not end within 30 s");
    if (ended) {
        Check(SUCCEEDED(work.unmarshal), L"unmarshalling IQarnUtilities in a multithreaded apartment: " + Hex(work.unmarshal));
        Check(SUCCEEDED(work.call), L"a call through the proxy: " + Hex(work.call));
        Check(SUCCEEDED(work.create), L"creating CQarnUtilities from a multithreaded apartment: " + Hex(work.create));
        Check(SUCCEEDED(work.createdCall), L"a call on the object created there: " + Hex(work.createdCall));
    }
    CloseHandle(thread);
}

void RunAsPlugin() {
    ACTCTXW request{};
    request.cbSize = sizeof request;
    const std::wstring manifest = Folder(ModulePath(nullptr)) + L"\\Qarn.ComConnector.manifest";
    request.lpSource = manifest.c_str();
    const HANDLE context = CreateActCtxW(&request);
    if (!Check(context != INVALID_HANDLE_VALUE, L"no activation context from " + manifest)) return;
    ULONG_PTR cookie = 0;
    ComPtr<IQarnClassFactory> factory;
    ComPtr<IQarnUtilities> utilities;
    if (ActivateActCtx(context, &cookie)) {
        Check(SUCCEEDED(CoCreateInstance(CLSID_CQarnClassFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory))),
              L"creating the class factory in the plug-in's context");
        Check(SUCCEEDED(CoCreateInstance(CLSID_CQarnUtilities, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&utilities))),
              L"creating a utilities object in the plug-in's context");
        DeactivateActCtx(0, cookie);
    }
    ReleaseActCtx(context);
    ComPtr<IQarnUtilities> outside;
    const HRESULT hr = CoCreateInstance(CLSID_CQarnUtilities, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&outside));
    Check(hr == REGDB_E_CLASSNOTREG, L"outside the plug-in's context a class is found: " + Hex(hr));
    if (!factory || !utilities) return;
    // The application and the parameter list create our classes and data-type objects inside.
    ComPtr<IQarnComApplication> application;
    Check(SUCCEEDED(factory->Create(&application)), L"Create of the class factory outside the plug-in's context");
    ComPtr<IParameterList> list;
    BSTR file = SysAllocString(L"Parts.xml"), alias = SysAllocString(L"CreatePart");
    Check(SUCCEEDED(utilities->GetXmlParameterList(file, alias, nullptr, &list)) && list,
          L"GetXmlParameterList outside the plug-in's context");
    SysFreeString(file);
    SysFreeString(alias);
    Check(SUCCEEDED(factory->Destroy()), L"Destroy of the class factory");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        wprintf(L"FAILED: COM could not be initialised\n");
        return 1;
    }
    if (argc > 1 && std::wstring(argv[1]) == L"--plugin") {
        RunAsPlugin();
    } else {
        CheckLibrary(LIBID_QarnComDatatypes, L"QarnComDatatypes");
        CheckLibrary(LIBID_QarnComConnector, L"QarnComConnector");
        // The version-independent ProgIDs that scripts and the connector itself use.
        CheckProgId(L"QarnComConnector.CQarnUtilities", IID_IQarnUtilities);
        CheckProgId(L"QarnComDatatypes.ParameterList", IID_IParameterList);
        CheckLoadedHere(L"QarnComDatatypes.dll");
        CheckLoadedHere(L"QarnComConnector.dll");
        CheckOtherApartments();
    }
    CoUninitialize();
    wprintf(L"regfree host: %d passed, %d failed\n", g_passed, g_failed);
    return g_failed == 0 ? 0 : 1;
}
