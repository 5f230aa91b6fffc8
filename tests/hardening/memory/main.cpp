// Running out of memory, as a host with a full address space meets it.
//   64-bit: every allocation our two DLLs ask for through their import tables (the C runtime's
//   heap, BSTRs, variant copies and conversions, safe arrays) is failed in turn, one failure per
//   run of an operation. Each run must end cleanly (no exception leaving a method, no abort, no
//   crash), with S_OK and the right answer, E_OUTOFMEMORY or a description that says memory ran
//   out; it must give back what it allocated; and the operation must work again afterwards.
//   32-bit: most of the address space is reserved, leaving a little more each round, and every
//   operation runs: it succeeds with the right answer or fails as above, nothing else.
#include "Memory.h"

#include <csignal>
#include <algorithm>
#include <mutex>

namespace {

// ---- the import table hooks ----------------------------------------------------------------------
std::atomic<bool> g_counting{false};
std::atomic<long> g_calls{0}, g_failAt{-1}, g_live{0};
// The return addresses of the failed allocation, innermost first.
void* g_failedStack[8];
USHORT g_failedDepth = 0;

bool FailNow() {
    if (!g_counting) return false;
    const long n = g_calls++;
    if (n != g_failAt) return false;
    g_failedDepth = RtlCaptureStackBackTrace(1, 8, g_failedStack, nullptr);
    return true;
}

// "<module>+0x<offset>" of an address in one of our DLLs (for addr2line with the image base).
std::string CodeAddress(void* address) {
    HMODULE module = nullptr;
    char name[MAX_PATH] = "?";
    if (!address || !GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                        static_cast<const char*>(address), &module))
        return "?";
    GetModuleFileNameA(module, name, MAX_PATH);
    const char* base = std::strrchr(name, '\\');
    char text[MAX_PATH + 32];
    std::snprintf(text, sizeof text, "%s+0x%llx", base ? base + 1 : name,
                  static_cast<unsigned long long>(static_cast<const char*>(address) - reinterpret_cast<const char*>(module)));
    return text;
}
// Where the failed allocation was asked for: the addresses of the stack that lie in our DLLs.
std::string FailedStack() {
    std::string text;
    for (USHORT i = 0; i < g_failedDepth; ++i) {
        const std::string at = CodeAddress(g_failedStack[i]);
        if (at.rfind("Qarn", 0) == 0) text += (text.empty() ? "" : " < ") + at;
    }
    return text.empty() ? "?" : text;
}
void* Counted(void* p) {
    if (p) ++g_live;
    return p;
}

void* __cdecl HookMalloc(size_t n) { return FailNow() ? nullptr : Counted(malloc(n)); }
void* __cdecl HookCalloc(size_t n, size_t size) { return FailNow() ? nullptr : Counted(calloc(n, size)); }
char* __cdecl HookStrdup(const char* s) { return FailNow() ? nullptr : static_cast<char*>(Counted(_strdup(s))); }
void* __cdecl HookRealloc(void* p, size_t n) {
    if (n && FailNow()) return nullptr;
    void* q = realloc(p, n);
    if (!p && q) ++g_live;
    if (p && !n) --g_live;
    return q;
}
void __cdecl HookFree(void* p) {
    if (p) --g_live;
    free(p);
}
BSTR WINAPI HookSysAllocString(const OLECHAR* s) { return FailNow() ? nullptr : SysAllocString(s); }
BSTR WINAPI HookSysAllocStringLen(const OLECHAR* s, UINT n) { return FailNow() ? nullptr : SysAllocStringLen(s, n); }
BSTR WINAPI HookSysAllocStringByteLen(LPCSTR s, UINT n) { return FailNow() ? nullptr : SysAllocStringByteLen(s, n); }
HRESULT WINAPI HookVariantCopy(VARIANT* to, VARIANT* from) {
    return FailNow() ? E_OUTOFMEMORY : VariantCopy(to, from);
}
HRESULT WINAPI HookVariantCopyInd(VARIANT* to, VARIANT* from) {
    return FailNow() ? E_OUTOFMEMORY : VariantCopyInd(to, from);
}
HRESULT WINAPI HookVariantChangeType(VARIANT* to, VARIANT* from, USHORT flags, VARTYPE vt) {
    return FailNow() ? E_OUTOFMEMORY : VariantChangeType(to, from, flags, vt);
}
HRESULT WINAPI HookVariantChangeTypeEx(VARIANT* to, VARIANT* from, LCID lcid, USHORT flags, VARTYPE vt) {
    return FailNow() ? E_OUTOFMEMORY : VariantChangeTypeEx(to, from, lcid, flags, vt);
}
SAFEARRAY* WINAPI HookSafeArrayCreateVector(VARTYPE vt, LONG low, ULONG count) {
    return FailNow() ? nullptr : SafeArrayCreateVector(vt, low, count);
}
SAFEARRAY* WINAPI HookSafeArrayCreate(VARTYPE vt, UINT dims, SAFEARRAYBOUND* bounds) {
    return FailNow() ? nullptr : SafeArrayCreate(vt, dims, bounds);
}
LPVOID WINAPI HookCoTaskMemAlloc(SIZE_T n) { return FailNow() ? nullptr : CoTaskMemAlloc(n); }

struct Hook {
    const char* name;
    void* replacement;
};
const Hook kHooks[] = {
    {"malloc", reinterpret_cast<void*>(HookMalloc)},
    {"calloc", reinterpret_cast<void*>(HookCalloc)},
    {"realloc", reinterpret_cast<void*>(HookRealloc)},
    {"free", reinterpret_cast<void*>(HookFree)},
    {"_strdup", reinterpret_cast<void*>(HookStrdup)},
    {"SysAllocString", reinterpret_cast<void*>(HookSysAllocString)},
    {"SysAllocStringLen", reinterpret_cast<void*>(HookSysAllocStringLen)},
    {"SysAllocStringByteLen", reinterpret_cast<void*>(HookSysAllocStringByteLen)},
    {"VariantCopy", reinterpret_cast<void*>(HookVariantCopy)},
    {"VariantCopyInd", reinterpret_cast<void*>(HookVariantCopyInd)},
    {"VariantChangeType", reinterpret_cast<void*>(HookVariantChangeType)},
    {"VariantChangeTypeEx", reinterpret_cast<void*>(HookVariantChangeTypeEx)},
    {"SafeArrayCreateVector", reinterpret_cast<void*>(HookSafeArrayCreateVector)},
    {"SafeArrayCreate", reinterpret_cast<void*>(HookSafeArrayCreate)},
    {"CoTaskMemAlloc", reinterpret_cast<void*>(HookCoTaskMemAlloc)},
};

// Points the module's import slots of the allocators at the hooks; the number of slots patched.
int PatchImports(HMODULE module) {
    auto* base = reinterpret_cast<BYTE*>(module);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    int patched = 0;
    for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name; ++d) {
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const char* name = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name;
            for (const Hook& h : kHooks) {
                if (std::strcmp(name, h.name) != 0) continue;
                DWORD old = 0;
                VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &old);
                slots->u1.Function = reinterpret_cast<ULONG_PTR>(h.replacement);
                VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, old, &old);
                ++patched;
            }
        }
    }
    return patched;
}

// ---- what went wrong, and where --------------------------------------------------------------------
// What runs now (read by the crash and hang reports), and since when.
class Where {
public:
    Where& operator=(const std::string& text) {
        std::lock_guard<std::mutex> lock(lock_);
        text_ = text;
        since = GetTickCount64();
        return *this;
    }
    std::string Text() const {
        std::lock_guard<std::mutex> lock(lock_);
        return text_;
    }
    const char* c_str() const { return (copy_ = Text()).c_str(); }
    std::atomic<ULONGLONG> since{0};

private:
    mutable std::mutex lock_;
    std::string text_ = "(setup)";
    mutable std::string copy_;
} g_where;
void __cdecl OnAbort(int) {
    std::printf("CRASH: abort during %s\n", g_where.c_str());
    std::fflush(stdout);
    TerminateProcess(GetCurrentProcess(), 3);
}
LONG WINAPI OnCrash(EXCEPTION_POINTERS* info) {
    std::printf("CRASH: exception 0x%08lx during %s\n", info->ExceptionRecord->ExceptionCode, g_where.c_str());
    std::fflush(stdout);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

// Runs one part of a case; an exception that leaves our DLLs is reported as such.
HRESULT Guarded(const memory::Step& step, std::wstring& answer) {
    if (!step) return S_OK;
    try {
        return step(answer);
    } catch (const Failure& f) {
        memory::g_description = f.what;
        return E_UNEXPECTED;
    } catch (...) {
        memory::g_description = L"a C++ exception left a COM method";
        return E_ABORT;
    }
}

// A clean failure: E_OUTOFMEMORY, or an error object whose text says that memory ran out.
bool CleanFailure(HRESULT hr, const std::wstring& description) {
    return hr == E_OUTOFMEMORY || (hr == DISP_E_EXCEPTION && memory::SaysOutOfMemory(description));
}
// S_OK with the right answer, or with a lesser one the operation allows that says why.
bool RightAnswer(const memory::Case& c, const std::wstring& answer, const std::wstring& expected) {
    return answer == expected || (c.degraded && c.degraded(answer));
}

std::string Hex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "%08lX", static_cast<unsigned long>(hr));
    return text;
}

struct Totals {
    long cases = 0, runs = 0, failed = 0;
} g_totals;

void Fault(const std::string& what) {
    ++g_totals.failed;
    std::printf("FAILED: %s: %s\n", g_where.Text().c_str(), what.c_str());
    std::fflush(stdout);
}

// One clean run with nothing failed: its answer (or an empty optional when it does not work).
std::optional<std::wstring> CleanRun(const memory::Case& c) {
    std::wstring answer;
    HRESULT hr = Guarded(c.setup, answer);
    if (SUCCEEDED(hr)) hr = Guarded(c.run, answer);
    if (SUCCEEDED(hr)) hr = Guarded(c.check, answer);
    std::wstring rest;
    Guarded(c.teardown, rest);
    if (FAILED(hr)) {
        Fault("fails without any fault: 0x" + Hex(hr) + " " + Narrow(memory::g_description));
        return std::nullopt;
    }
    return answer;
}

// Whether failing allocation `at` of the case's run leaves allocations behind on each of three runs.
bool LeaksEachTime(const memory::Case& c, long at) {
    for (int i = 0; i < 3; ++i) {
        std::wstring answer;
        const long live = g_live;
        Guarded(c.setup, answer);
        g_calls = 0, g_failAt = at, g_counting = true;
        Guarded(c.run, answer);
        g_counting = false;
        Guarded(c.teardown, answer);
        if (g_live <= live) return false;
    }
    return true;
}

// ---- 64-bit: each allocation failed in turn ----------------------------------------------------------
void Sweep(const memory::Case& c) {
    g_where = Narrow(c.name) + " (clean run)";
    auto expected = CleanRun(c);
    if (!expected || !CleanRun(c)) return;  // the second run fills what the first one cached
    // How many allocations one run makes.
    std::wstring answer;
    Guarded(c.setup, answer);
    g_calls = 0, g_failAt = -1, g_counting = true;
    Guarded(c.run, answer);
    g_counting = false;
    Guarded(c.teardown, answer);
    const long total = g_calls;
    // Every allocation up to a bound (the largest operation makes about 500), evenly beyond it.
    const long points = std::min(total, 2000L);
    for (long i = 0; i < points; ++i) {
        const long at = points == total ? i : i * total / points;
        g_where = Narrow(c.name) + ", allocation " + std::to_string(at + 1) + " of " + std::to_string(total);
        const std::string where = g_where.Text();
        answer.clear();
        memory::g_description.clear();
        const long live = g_live;
        if (FAILED(Guarded(c.setup, answer))) {
            Fault("its setup fails: " + Narrow(memory::g_description));
            return;
        }
        g_calls = 0, g_failAt = at, g_failedDepth = 0, g_counting = true;
        HRESULT hr = Guarded(c.run, answer);
        g_counting = false;
        const std::wstring description = memory::g_description;
        if (hr == S_OK && FAILED(Guarded(c.check, answer))) answer += L" (its check fails)";
        std::wstring rest;
        Guarded(c.teardown, rest);
        ++g_totals.runs;
        g_where = where + " (from " + FailedStack() + ")";
        if (hr == E_ABORT || hr == E_UNEXPECTED) Fault(Narrow(description));
        else if (hr == S_OK && !RightAnswer(c, answer, *expected))
            Fault("S_OK with a wrong answer: \"" + Narrow(answer) + "\" instead of \"" + Narrow(*expected) + "\"");
        else if (FAILED(hr) && !CleanFailure(hr, description))
            Fault("not an out-of-memory failure: 0x" + Hex(hr) + " \"" + Narrow(description) + "\"");
        // A run that keeps allocations is repeated: a lazily made cache or a thread of the DLL
        // allocates once, a leak keeps allocating.
        if (c.checkLeaks && g_live > live && LeaksEachTime(c, at))
            Fault("keeps allocations each time it fails here");
        g_where = Narrow(c.name) + ", again after allocation " + std::to_string(at + 1);
        auto again = CleanRun(c);
        if (!again) return;
        if (*again != *expected) Fault("works differently afterwards: \"" + Narrow(*again) + "\"");
    }
    std::printf("%s: %ld allocations, %ld failed in turn\n", Narrow(c.name).c_str(), total, points);
    std::fflush(stdout);
}

// ---- 32-bit: the address space nearly full -------------------------------------------------------
// The address space of the process, reserved up to `leave` bytes; given back at the end. The heaps
// are left as they are: the test platform's own 32-bit runtime shares the address space and ends
// the process when it finds none left (docs/dev/wine-seams.md).
class Filled {
public:
    explicit Filled(size_t leave) {
        blocks_.reserve(1 << 16);
        for (size_t size = size_t(1) << 30; size >= 64 * 1024; size /= 2)
            while (blocks_.size() < blocks_.capacity())
                if (void* p = VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS)) blocks_.push_back({p, size});
                else break;
        for (size_t given = 0; given < leave && !blocks_.empty(); given += blocks_.back().size) Give();
    }
    ~Filled() {
        while (!blocks_.empty()) Give();
    }

private:
    struct Block {
        void* p;
        size_t size;
    };
    void Give() {
        VirtualFree(blocks_.back().p, 0, MEM_RELEASE);
        blocks_.pop_back();
    }
    std::vector<Block> blocks_;
};

void Pressure(const std::vector<memory::Case>& cases) {
    for (size_t leave : {size_t(256) << 10, size_t(1) << 20, size_t(4) << 20, size_t(16) << 20}) {
        std::vector<std::optional<std::wstring>> expected;
        for (const memory::Case& c : cases) {
            g_where = Narrow(c.name) + " (clean run)";
            expected.push_back(CleanRun(c));
        }
        std::optional<Filled> filled(std::in_place, leave);
        long ok = 0, clean = 0;
        for (size_t i = 0; i < cases.size(); ++i) {
            const memory::Case& c = cases[i];
            g_where = Narrow(c.name) + " with " + std::to_string(leave >> 10) + " KB of address space left";
            std::wstring answer;
            memory::g_description.clear();
            HRESULT hr = Guarded(c.setup, answer);
            if (SUCCEEDED(hr)) hr = Guarded(c.run, answer);
            if (SUCCEEDED(hr)) hr = Guarded(c.check, answer);
            const std::wstring description = memory::g_description;
            std::wstring rest;
            Guarded(c.teardown, rest);
            ++g_totals.runs;
            if (hr == S_OK && expected[i] && RightAnswer(c, answer, *expected[i])) ++ok;
            else if (FAILED(hr) && CleanFailure(hr, description)) ++clean;
            else if (hr == S_OK) Fault("S_OK with a wrong answer: \"" + Narrow(answer) + "\"");
            else Fault("0x" + Hex(hr) + " \"" + Narrow(description) + "\"");
        }
        filled.reset();
        std::printf("%zu KB of address space left: %ld operations succeeded, %ld failed cleanly\n", leave >> 10, ok, clean);
        std::fflush(stdout);
    }
}

}  // namespace

int wmain() {
    SetUnhandledExceptionFilter(OnCrash);
    std::signal(SIGABRT, OnAbort);
    ComScope com;
    const auto started = GetTickCount64();
    Watchdog watchdog(g_where.since, 20000, [] { return g_where.Text(); });
    try {
        Expect(com.ok, L"COM could not be started");
        std::vector<memory::Case> cases = memory::Prepare();
        g_totals.cases = static_cast<long>(cases.size());
        if (sizeof(void*) == 8) {
            int patched = 0;
            for (const wchar_t* dll : kDlls) {
                HMODULE module = LoadLibraryW((BinFolder() + L"\\" + dll).c_str());  // kept loaded to the end
                Expect(module != nullptr, std::wstring(L"cannot load ") + dll);
                patched += PatchImports(module);
            }
            Expect(patched >= 10, L"too few allocators found in the import tables");
            for (const memory::Case& c : cases) Sweep(c);
        } else {
            Pressure(cases);
        }
        memory::Finish();
    } catch (const Failure& f) {
        Fault(Narrow(f.what));
    }
    std::printf("out of memory: %ld operations, %ld runs in %llu s, %ld failed\n", g_totals.cases, g_totals.runs,
                (GetTickCount64() - started) / 1000, g_totals.failed);
    std::fflush(stdout);
    return g_totals.failed ? 1 : 0;
}
