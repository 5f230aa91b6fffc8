// The process before and after everything: handles and committed memory may grow only by what
// Wine keeps once apartments and threads have been used, and both DLLs must be unloadable at the end.
#include "HostSafety.h"

namespace hostsafety {
namespace {

int g_handlesBefore = 0;
long long g_bytesBefore = 0;

// Warm-up: every kind of work once, so that what is created once per process (type information,
// class objects, MSXML, Wine's apartment windows) is there before the first count.
void Before(Report& report) {
    RunThreads(report, 2, COINIT_APARTMENTTHREADED, [](int) {
        ComPtr<IQarnUtilities> u;
        Check(CoCreateInstance(CLSID_CQarnUtilities, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&u)), L"CQarnUtilities");
        ComPtr<IParameterList> list;
        Check(u->GetXmlParameterList(Str(L"Parts.xml"), Str(L"CreatePart"), nullptr, &list), L"GetXmlParameterList");
    });
    g_handlesBefore = HandleCount();
    g_bytesBefore = PrivateBytes();
    report.Note(L"handles " + std::to_wstring(g_handlesBefore) + L", private memory " +
                std::to_wstring(g_bytesBefore / 1024) + L" KB");
}

void After(Report& report) {
    CoFreeUnusedLibraries();
    const int handles = HandleCount();
    const long long bytes = PrivateBytes();
    report.Note(L"handles " + std::to_wstring(handles) + L" (" + std::to_wstring(handles - g_handlesBefore) +
                L"), private memory " + std::to_wstring(bytes / 1024) + L" KB (" +
                std::to_wstring((bytes - g_bytesBefore) / 1024) + L" KB)");
    // Threads and apartments that have ended leave a few handles in Wine's own caches; a leak per
    // call or per thread leaves hundreds.
    constexpr int kHandleSlack = 64;
    constexpr long long kByteSlack = 32ll << 20;
    if (handles - g_handlesBefore > kHandleSlack)
        report.Fail(L"the process holds " + std::to_wstring(handles - g_handlesBefore) + L" more handles than before");
    if (bytes - g_bytesBefore > kByteSlack)
        report.Fail(L"private memory grew by " + std::to_wstring((bytes - g_bytesBefore) >> 20) + L" MB");
    for (const wchar_t* dll : {L"QarnComConnector.dll", L"QarnComDatatypes.dll"}) {
        const HRESULT hr = CanUnload(dll);
        if (hr != S_OK && hr != E_FAIL)
            report.Fail(std::wstring(dll) + L": DllCanUnloadNow is not S_OK at the end: objects or locks remain");
    }
}

}  // namespace

HOST_SAFETY_SECTION(0, "the process before", Before);
HOST_SAFETY_SECTION(1000, "the process after", After);

}  // namespace hostsafety
