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
// Beside Add and Field(name), the plain baseline of the same work without COM: a
// std::unordered_map from the name text to the field, filled in the same order and looked up in
// the same scrambled order. The output is Markdown.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <wrl/client.h>

#include "BenchClock.h"

#include <cstdio>
#include <string>
#include <unordered_map>
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
    double mapInsert, mapFind, mapHot;       // the same for the plain map
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
    // The plain baseline: a hash map from the name to the field, filled and looked up the same way.
    std::unordered_map<std::wstring, IField*> map;
    double t8 = Now();
    for (long i = 0; i < n; ++i)
        map.emplace(std::wstring(names[static_cast<size_t>(i)], SysStringLen(names[static_cast<size_t>(i)])),
                    made[static_cast<size_t>(i)].Get());
    double t9 = Now();
    // The lookup takes the name as the COM call does, as a BSTR to be compared with the key.
    const auto find = [&](const std::vector<long>& positions) {
        for (long at : positions) {
            const BSTR name = names[static_cast<size_t>(at)];
            const auto it = map.find(std::wstring(name, SysStringLen(name)));
            if (it == map.end() || it->second != made[static_cast<size_t>(at)].Get()) ++misses;
        }
    };
    find(order);
    double t10 = Now();
    find(hot);
    double t11 = Now();
    r = {(t1 - t0) / n, (t2 - t1) / n, (t4 - t3) / n, (t6 - t5) / n, (t7 - t6) / n,
         (t9 - t8) / n, (t10 - t9) / n, (t11 - t10) / n, misses};
    map.clear();
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
    constexpr long kSizes[] = {10000L, 100000L, 1000000L};
    std::vector<Result> results;
    for (long n : kSizes) {
        Result r{};
        if (!Run(fields.Get(), collections.Get(), n, r)) {
            std::fprintf(stderr, "failed at N=%ld\n", n);
            return 1;
        }
        if (r.misses) {
            std::fprintf(stderr, "%ld lookups at N=%ld did not give the field added under that name\n", r.misses, n);
            return 1;
        }
        results.push_back(r);
    }
    std::printf("Nanoseconds per operation; \"map\" is a plain `std::unordered_map` from the name to the field, "
                "filled and looked up in the same order; \"hot\" repeats as many lookups over 256 of the names; "
                "\"touch\" is AddRef and Release of every field in the lookup order, the memory baseline.\n\n");
    std::printf("| fields | create | Add | map insert | ratio | Field(name) | map find | ratio | hot Field(name) "
                "| hot map find | ratio | touch |\n");
    std::printf("|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (size_t i = 0; i < results.size(); ++i) {
        const Result& r = results[i];
        const auto ns = [](double seconds) { return Grouped(std::llround(seconds * 1e9)); };
        std::printf("| %s | %s | %s | %s | %.1f | %s | %s | %.1f | %s | %s | %.1f | %s |\n", Grouped(kSizes[i]).c_str(),
                    ns(r.create).c_str(), ns(r.add).c_str(), ns(r.mapInsert).c_str(), r.add / r.mapInsert,
                    ns(r.lookup).c_str(), ns(r.mapFind).c_str(), r.lookup / r.mapFind, ns(r.hot).c_str(),
                    ns(r.mapHot).c_str(), r.hot / r.mapHot, ns(r.touch).c_str());
    }
    // The curves: per-operation time against the size.
    const auto curve = [&](const char* title, double Result::*com, double Result::*plain) {
        double top = 0;
        for (const Result& r : results) top = std::max({top, r.*com, r.*plain});
        std::printf("\n%s, ns per operation:\n\n| fields | COM | | plain | |\n|---:|---:|:---|---:|:---|\n", title);
        for (size_t i = 0; i < results.size(); ++i)
            std::printf("| %s | %s | %s | %s | %s |\n", Grouped(kSizes[i]).c_str(),
                        Grouped(std::llround(results[i].*com * 1e9)).c_str(), Bar(results[i].*com, top).c_str(),
                        Grouped(std::llround(results[i].*plain * 1e9)).c_str(), Bar(results[i].*plain, top).c_str());
    };
    curve("Add against map insert", &Result::add, &Result::mapInsert);
    curve("Field(name) against map find, every name", &Result::lookup, &Result::mapFind);
    curve("Field(name) against map find, 256 names", &Result::hot, &Result::mapHot);
    // The verdict: the cost per operation against the plain map's at 1,000,000 fields within twice
    // that at 100,000, for Add, for the lookup of every name and for the lookup alone (256 names).
    // The map is constant-time per operation by nature: what it loses with the size is the memory's
    // and the shared machine's share, which the ratio leaves out.
    const Result &mid = results[1], &big = results[2];
    const double add = (big.add / big.mapInsert) / (mid.add / mid.mapInsert),
                 full = (big.lookup / big.mapFind) / (mid.lookup / mid.mapFind),
                 hot = (big.hot / big.mapHot) / (mid.hot / mid.mapHot);
    Verdict(add <= 2.0 && full <= 2.0 && hot <= 2.0,
            Format("ratio to the map at 1,000,000 against 100,000 fields: Add %.2fx, Field(name) over every name %.2fx, "
                   "over 256 names %.2fx; limit 2x; per operation alone: Add %.2fx, Field(name) over 256 names %.2fx",
                   add, full, hot, big.add / mid.add, big.hot / mid.hot));
    fields.Reset();
    collections.Reset();
    CoUninitialize();
    return 0;
}
