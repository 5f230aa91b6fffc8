// Field collection scaling: builds collections of N fields and looks every field up by name.
//
//   datatypes_bench [path\to\QarnComDatatypes.dll]
//
// Without a path the classes come from the registry (CoGetClassObject); with one, straight from
// that DLL's DllGetClassObject. For each N the time per operation is printed for four steps:
// creating and naming the fields, Add, Field(name) of every name in a scrambled order, and as many
// Field(name) calls confined to 256 of the names; then, as a memory baseline, AddRef and Release
// of every field in the same scrambled order. The "hot" column is the cost of the lookup itself,
// which must not grow with N; the full lookup adds the cache and TLB misses of a working set that
// grows with N (hundreds of megabytes at 1M fields), which the baseline shows on its own.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <wrl/client.h>

#include "BenchClock.h"

#include <cstdio>
#include <string>
#include <vector>

#include "QarnComDatatypes.h"

using Microsoft::WRL::ComPtr;

namespace {

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

HRESULT ClassObject(GetClassObjectFn direct, REFCLSID clsid, ComPtr<IClassFactory>& factory) {
    if (direct) return direct(clsid, IID_IClassFactory, reinterpret_cast<void**>(factory.GetAddressOf()));
    return CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                            reinterpret_cast<void**>(factory.GetAddressOf()));
}

struct Result {
    double create, add, lookup, hot, touch;  // seconds per operation
    long misses;
};

// A fixed pseudo-random order of the indexes 0..n-1, so that no phase walks memory in a pattern
// the processor could prefetch.
std::vector<long> Scrambled(long n) {
    std::vector<long> order(static_cast<size_t>(n));
    for (long i = 0; i < n; ++i) order[static_cast<size_t>(i)] = i;
    unsigned long long state = 0x9E3779B97F4A7C15ull;
    for (long i = n - 1; i > 0; --i) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        std::swap(order[static_cast<size_t>(i)],
                  order[static_cast<size_t>((state >> 33) % static_cast<unsigned long long>(i + 1))]);
    }
    return order;
}

// Field(name) for the names at the positions `order` gives; counts results that are not the field
// added under that name.
bool LookUp(IFieldCollection* collection, const std::vector<BSTR>& names, const std::vector<ComPtr<IField>>& made,
            const std::vector<long>& order, long& misses) {
    for (long at : order) {
        IField* found = nullptr;
        if (FAILED(collection->get_Field(names[static_cast<size_t>(at)], &found))) return false;
        if (found != made[static_cast<size_t>(at)].Get()) ++misses;
        if (found) found->Release();
    }
    return true;
}

bool Run(IClassFactory* fields, IClassFactory* collections, long n, Result& r) {
    std::vector<BSTR> names(static_cast<size_t>(n));
    for (long i = 0; i < n; ++i)
        names[static_cast<size_t>(i)] = SysAllocString((L"field" + std::to_wstring(i)).c_str());

    double t0 = Now();
    std::vector<ComPtr<IField>> made(static_cast<size_t>(n));
    for (long i = 0; i < n; ++i) {
        if (FAILED(fields->CreateInstance(nullptr, IID_IField,
                                          reinterpret_cast<void**>(made[static_cast<size_t>(i)].GetAddressOf()))) ||
            FAILED(made[static_cast<size_t>(i)]->put_Name(names[static_cast<size_t>(i)])))
            return false;
    }
    double t1 = Now();
    ComPtr<IFieldCollection> collection;
    if (FAILED(collections->CreateInstance(nullptr, IID_IFieldCollection,
                                           reinterpret_cast<void**>(collection.GetAddressOf()))))
        return false;
    for (long i = 0; i < n; ++i)
        if (FAILED(collection->Add(made[static_cast<size_t>(i)].Get()))) return false;
    double t2 = Now();
    // Every name once, in a scrambled order.
    const std::vector<long> order = Scrambled(n);
    long misses = 0;
    double t3 = Now();
    if (!LookUp(collection.Get(), names, made, order, misses)) return false;
    double t4 = Now();
    // As many lookups confined to 256 names: the cost of the lookup itself, without the cache
    // misses that a large working set brings.
    constexpr long kHot = 256;
    std::vector<long> hot(order.size());
    for (size_t i = 0; i < hot.size(); ++i) hot[i] = order[i] % kHot;
    double t5 = Now();
    if (!LookUp(collection.Get(), names, made, hot, misses)) return false;
    double t6 = Now();
    // The memory baseline: AddRef and Release of every field in the same scrambled order, an
    // operation that is constant-time by nature; it slows down with N exactly as far as memory does.
    for (long at : order) {
        IField* f = made[static_cast<size_t>(at)].Get();
        f->AddRef();
        f->Release();
    }
    double t7 = Now();
    r = {(t1 - t0) / n, (t2 - t1) / n, (t4 - t3) / n, (t6 - t5) / n, (t7 - t6) / n, misses};
    collection.Reset();
    made.clear();
    for (BSTR s : names) SysFreeString(s);
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    GetClassObjectFn direct = nullptr;
    if (argc > 1) {
        HMODULE dll = LoadLibraryW(argv[1]);
        if (!dll) {
            std::fprintf(stderr, "cannot load %ls\n", argv[1]);
            return 2;
        }
        direct = reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));
        if (!direct) return 2;
    }
    ComPtr<IClassFactory> fields, collections;
    if (FAILED(ClassObject(direct, CLSID_Field, fields)) ||
        FAILED(ClassObject(direct, CLSID_FieldCollection, collections))) {
        std::fprintf(stderr,
                     "the data-type classes are not available (register QarnComDatatypes.dll or pass its path)\n");
        return 2;
    }
    std::printf("%10s %14s %14s %14s %14s %14s %8s\n", "N", "create ns/op", "Add ns/op", "Field ns/op", "hot Field ns",
                "touch ns/op", "misses");
    double first = 0, last = 0, firstHot = 0, lastHot = 0;
    for (long n : {10000L, 100000L, 1000000L}) {
        Result r{};
        if (!Run(fields.Get(), collections.Get(), n, r)) {
            std::fprintf(stderr, "failed at N=%ld\n", n);
            return 1;
        }
        std::printf("%10ld %14.1f %14.1f %14.1f %14.1f %14.1f %8ld\n", n, r.create * 1e9, r.add * 1e9, r.lookup * 1e9,
                    r.hot * 1e9, r.touch * 1e9, r.misses);
        if (n == 10000L) {
            first = r.lookup;
            firstHot = r.hot;
        }
        last = r.lookup;
        lastHot = r.hot;
        if (r.misses) return 1;
    }
    std::printf("Field(name) per operation, 1M fields against 10k: %.2fx over all names, %.2fx over 256 names\n",
                last / first, lastHot / firstHot);
    fields.Reset();
    collections.Reset();
    CoUninitialize();
    return 0;
}
