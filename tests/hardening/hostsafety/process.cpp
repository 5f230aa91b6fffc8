// The process before and after everything: handles and committed memory may grow only by what
// Wine keeps once apartments and threads have been used, and both DLLs must be unloadable at the end.
#include "HostSafety.h"

namespace hostsafety {
namespace {

int g_handlesBefore = 0, g_threadsBefore = 0;
double g_platformHandlesPerThread = 0;
long long g_bytesBefore = 0;

// What the platform itself keeps per thread that ended after serving or calling another apartment
// (Wine keeps a few handles per apartment), measured with an object of the platform's own: a
// stream in one apartment read through a proxy from another, 8 times.
double PlatformHandlesPerThread(Report& report) {
    constexpr int kPairs = 8;
    const int before = HandleCount(), threadsBefore = ThreadsStarted();
    for (int pair = 0; pair < kPairs; ++pair) {
        DWORD cookie = 0;
        Barrier published(2), used(2);
        RunThreads(report, 2, COINIT_APARTMENTTHREADED, [&](int index) {
            ComPtr<IGlobalInterfaceTable> git = Git();
            if (index == 0) {
                ComPtr<IStream> stream;
                Check(CreateStreamOnHGlobal(nullptr, TRUE, &stream), L"CreateStreamOnHGlobal");
                Check(git->RegisterInterfaceInGlobal(stream.Get(), IID_IStream, &cookie), L"GIT");
            }
            published.Arrive();
            if (index == 1) {
                ComPtr<IStream> proxy;
                Check(git->GetInterfaceFromGlobal(cookie, IID_PPV_ARGS(&proxy)), L"GIT");
                ULARGE_INTEGER at{};
                Check(proxy->Seek(LARGE_INTEGER{}, STREAM_SEEK_END, &at), L"IStream.Seek");
            }
            used.Arrive();
            if (index == 0) git->RevokeInterfaceFromGlobal(cookie);
        });
    }
    return std::max(0.0, static_cast<double>(HandleCount() - before) / (ThreadsStarted() - threadsBefore));
}

// Warm-up: every kind of work once, so that what is created once per process (type information,
// class objects, MSXML, Wine's apartment windows) is there before the first count.
void Before(Report& report) {
    RunThreads(report, 2, COINIT_APARTMENTTHREADED, [](int) {
        ComPtr<IQarnUtilities> u = Create<IQarnUtilities>(CLSID_CQarnUtilities);
        ComPtr<IParameterList> list;
        Check(u->GetXmlParameterList(Str(L"Parts.xml"), Str(L"CreatePart"), nullptr, &list), L"GetXmlParameterList");
    });
    g_platformHandlesPerThread = PlatformHandlesPerThread(report);
    g_handlesBefore = HandleCount();
    g_threadsBefore = ThreadsStarted();
    g_bytesBefore = PrivateBytes();
    report.Note(L"handles " + std::to_wstring(g_handlesBefore) + L", private memory " +
                std::to_wstring(g_bytesBefore / 1024) + L" KB; the platform keeps " +
                std::to_wstring(g_platformHandlesPerThread).substr(0, 4) + L" handles per thread that used another apartment");
}

void After(Report& report) {
    CoFreeUnusedLibraries();
    const int handles = HandleCount();
    const long long bytes = PrivateBytes();
    report.Note(L"handles " + std::to_wstring(handles) + L" (" + std::to_wstring(handles - g_handlesBefore) +
                L"), private memory " + std::to_wstring(bytes / 1024) + L" KB (" +
                std::to_wstring((bytes - g_bytesBefore) / 1024) + L" KB)");
    // Threads and apartments that have ended leave what the platform keeps for each (measured
    // above with the platform's own objects); a leak per call leaves hundreds more.
    constexpr int kHandleSlack = 32;
    constexpr long long kByteSlack = 32ll << 20;
    const int threads = ThreadsStarted() - g_threadsBefore;
    const int allowed = kHandleSlack + static_cast<int>(g_platformHandlesPerThread * threads + 0.5);
    if (handles - g_handlesBefore > allowed)
        report.Fail(L"the process holds " + std::to_wstring(handles - g_handlesBefore) + L" more handles than before; " +
                    std::to_wstring(threads) + L" threads ended, which the platform accounts for with " +
                    std::to_wstring(allowed - kHandleSlack));
    if (bytes - g_bytesBefore > kByteSlack)
        report.Fail(L"private memory grew by " + std::to_wstring((bytes - g_bytesBefore) >> 20) + L" MB");
    for (const wchar_t* dll : kDlls) {
        const HRESULT hr = CanUnload(dll);
        if (hr != S_OK && hr != E_FAIL)
            report.Fail(std::wstring(dll) + L": DllCanUnloadNow is not S_OK at the end: objects or locks remain");
    }
    // The connector's own thread ends once nothing is in use and lets go of the DLL last: COM can
    // unload it now.
    CoFreeUnusedLibraries();
    for (int i = 0; i < 100 && GetModuleHandleW(L"QarnComConnector.dll"); ++i) PumpingWait(GetCurrentThread(), 20);
    if (GetModuleHandleW(L"QarnComConnector.dll"))
        report.Fail(L"QarnComConnector.dll is still loaded 2 s after CoFreeUnusedLibraries");
}

}  // namespace

HOST_SAFETY_SECTION(0, "the process before", Before);
HOST_SAFETY_SECTION(1000, "the process after", After);

}  // namespace hostsafety
