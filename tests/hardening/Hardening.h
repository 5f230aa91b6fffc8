// What the hardening programs share: COM start-up, object creation through cached class objects,
// owned texts and variants, the classes of our type libraries, files and folders.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <psapi.h>
#include <wrl/client.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "QarnComDatatypes.h"
#include "Text.h"
#include "tests/TestSupport.h"

using Microsoft::WRL::ComPtr;

// A failed step of a scenario.
struct Failure {
    std::wstring what;
};
inline void Expect(bool ok, const std::wstring& what) {
    if (!ok) throw Failure{what};
}

// A text owned for the scope (the COM layer's own); `s.Out()` receives an [out] text.
using Str = qarn::Bstr;

// The description of the last error a COM object reported (empty when there is none).
inline std::wstring TakeDescription() {
    ComPtr<IErrorInfo> info;
    Str text;
    if (GetErrorInfo(0, &info) == S_OK && info) info->GetDescription(text.Out());
    return std::wstring(text.View());
}

inline void Check(HRESULT hr, const std::wstring& what) {
    if (FAILED(hr)) {
        wchar_t code[16];
        swprintf(code, 16, L"0x%08lx", static_cast<unsigned long>(hr));
        throw Failure{what + L" failed: " + code + L" " + TakeDescription()};
    }
}

// Creation through class objects asked for once (CoCreateInstance looks in the registry each time,
// which is slow under Wine). Class objects do not keep their DLL from unloading.
inline std::vector<std::pair<CLSID, ComPtr<IClassFactory>>> g_factories;

template <class I>
ComPtr<I> New(REFCLSID clsid) {
    IClassFactory* factory = nullptr;
    for (auto& [id, f] : g_factories)
        if (IsEqualCLSID(id, clsid)) factory = f.Get();
    if (!factory) {
        ComPtr<IClassFactory> f;
        Check(CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_PPV_ARGS(&f)), L"CoGetClassObject");
        g_factories.emplace_back(clsid, f);
        factory = f.Get();
    }
    ComPtr<I> object;
    Check(factory->CreateInstance(nullptr, __uuidof(I), reinterpret_cast<void**>(object.GetAddressOf())), L"CreateInstance");
    return object;
}

// An object made by CoCreateInstance of its CLSID: usable on any thread (New<> is for the main
// thread), and from an MTA it gives a proxy of an object in the main STA.
template <class I>
ComPtr<I> Create(REFCLSID clsid, const wchar_t* what = L"CoCreateInstance") {
    ComPtr<I> object;
    Check(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(I), reinterpret_cast<void**>(object.GetAddressOf())),
          what);
    return object;
}

// COM on this thread for the scope of the program.
struct ComScope {
    const bool ok = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    ~ComScope() {
        g_factories.clear();
        if (ok) CoUninitialize();
    }
};

// Plain VARIANT values (owned by the caller) and a VARIANT owned for the scope.
inline VARIANT Of(VARTYPE vt) { VARIANT v{}; v.vt = vt; return v; }
inline VARIANT Text(const std::wstring& s) { VARIANT v = Of(VT_BSTR); v.bstrVal = Str(s).Detach(); return v; }
inline VARIANT Long(LONG n) { VARIANT v = Of(VT_I4); v.lVal = n; return v; }
struct Var : VARIANT {
    Var(const VARIANT& v = Of(VT_EMPTY)) : VARIANT(v) {}
    ~Var() { VariantClear(this); }
    Var(const Var&) = delete;
    Var& operator=(const Var&) = delete;
};

// Data objects: a field; `count` fields F0, F1, ... holding `value`; a parameter list and a
// document holding `fields`.
inline ComPtr<IField> NewField(const wchar_t* name, const wchar_t* value) {
    auto f = New<IField>(CLSID_Field);
    Check(f->put_Name(Str(name)), L"Field.Name");
    Check(f->put_Value(Var(Text(value))), L"Field.Value");
    return f;
}
inline ComPtr<IFieldCollection> NewFields(int count, const wchar_t* value = L"value") {
    auto fields = New<IFieldCollection>(CLSID_FieldCollection);
    for (int i = 0; i < count; ++i)
        Check(fields->SetValue(Str(L"F" + std::to_wstring(i)), Var(Text(value))), L"FieldCollection.SetValue");
    return fields;
}
inline ComPtr<IParameterList> NewList(const ComPtr<IFieldCollection>& fields) {
    auto list = New<IParameterList>(CLSID_ParameterList);
    Check(list->put_FieldCollection(fields.Get()), L"ParameterList.FieldCollection");
    return list;
}
inline ComPtr<IQarnDocument> NewDocument(const ComPtr<IFieldCollection>& fields) {
    auto document = New<IQarnDocument>(CLSID_QarnDocument);
    Check(document->put_ParameterList(NewList(fields).Get()), L"QarnDocument.ParameterList");
    return document;
}

// ---- the classes -----------------------------------------------------------------------------------
using CoClass = test::Coclass;

// bin\ (the folder of both DLLs; the test programs are in bin\tests).
inline std::wstring BinFolder() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring bin = path;
    bin.resize(bin.find_last_of(L'\\'));
    return bin.substr(0, bin.find_last_of(L'\\'));
}

// Every creatable class of the type library of `dll` (in BinFolder()).
inline std::vector<CoClass> CreatableClasses(const wchar_t* dll) {
    std::vector<CoClass> all = test::Coclasses(BinFolder() + L"\\" + dll), classes;
    Expect(!all.empty(), std::wstring(L"the type library of ") + dll + L" cannot be loaded");
    for (CoClass& c : all)
        if (c.creatable) classes.push_back(std::move(c));
    return classes;
}
inline const wchar_t* const kDlls[] = {L"QarnComDatatypes.dll", L"QarnComConnector.dll"};

inline std::string Narrow(const std::wstring& w) {
    std::string s;
    for (wchar_t c : w) s += c >= 32 && c < 127 ? static_cast<char>(c) : '?';
    return s;
}

// ---- the watchdog ----------------------------------------------------------------------------------
// A thread that ends the process with "HANG: <what()> still running after <limit> ms" once the step
// begun at `begun` (a GetTickCount64 value, 0 while none runs) takes longer than `limitMs`; `each`
// runs every 50 ms besides. It stops with the object.
class Watchdog {
public:
    Watchdog(const std::atomic<ULONGLONG>& begun, ULONGLONG limitMs, std::function<std::string()> what,
             std::function<void()> each = nullptr)
        : thread_([this, &begun, limitMs, what = std::move(what), each = std::move(each)] {
              while (!stop_) {
                  Sleep(50);
                  const ULONGLONG start = begun;
                  if (start && GetTickCount64() - start > limitMs) {
                      std::printf("HANG: %s still running after %llu ms\n", what().c_str(), limitMs);
                      std::fflush(stdout);
                      TerminateProcess(GetCurrentProcess(), 3);
                  }
                  if (each) each();
              }
          }) {}
    ~Watchdog() { stop_ = true, thread_.join(); }

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// ---- the process ----------------------------------------------------------------------------------
// Committed private memory. Wine reports PrivateUsage as 0 and keeps the commit charge in
// PagefileUsage (on Windows both hold the same figure).
inline long long PrivateBytes() {
    PROCESS_MEMORY_COUNTERS_EX c{};
    c.cb = sizeof c;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&c), sizeof c)) return -1;
    return static_cast<long long>(c.PrivateUsage ? c.PrivateUsage : c.PagefileUsage);
}

// DllCanUnloadNow of a loaded DLL: S_OK when none of its objects is alive and no lock is held;
// E_FAIL when the DLL is not loaded.
inline HRESULT CanUnload(const wchar_t* dll) {
    HMODULE module = GetModuleHandleW(dll);
    FARPROC canUnload = module ? GetProcAddress(module, "DllCanUnloadNow") : nullptr;
    return canUnload ? reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(reinterpret_cast<void*>(canUnload))() : E_FAIL;
}

// ---- files ----------------------------------------------------------------------------------------
using test::CopyTree, test::Exists, test::ForEachEntry, test::ReadBytes, test::RemoveTree, test::WriteBytes;

#ifdef QARN_SOURCE_DIR
// A copy of the sample installation (samples/installation of the source tree, seen through Z:).
inline void CopySampleInstallation(const std::wstring& to) {
    std::wstring samples = L"Z:" QARN_SOURCE_DIR "/samples/installation";
    for (wchar_t& c : samples) c = c == L'/' ? L'\\' : c;
    CopyTree(samples, to);
}
#endif
