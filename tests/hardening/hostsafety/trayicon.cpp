// The tray icon of the application used from two apartments: one icon whoever asks, its window
// served by the DLL's own thread (so it outlives the apartment that showed it and goes with the
// application without anybody pumping), and no message to the window can reach an object that is
// gone. Needs a display (the test command runs under a virtual one).
#include "HostSafety.h"

namespace hostsafety {
namespace {

constexpr wchar_t kWindowClass[] = L"QarnShellIconWindow";

// An EnumWindows callback (a plain function: the 32-bit build needs its stdcall form).
BOOL CALLBACK CollectIconWindow(HWND window, LPARAM list) {
    DWORD process = 0;
    const DWORD thread = GetWindowThreadProcessId(window, &process);
    wchar_t name[64] = {};
    if (process == GetCurrentProcessId() && GetClassNameW(window, name, 64) && std::wstring(name) == kWindowClass)
        reinterpret_cast<std::vector<std::pair<HWND, DWORD>>*>(list)->emplace_back(window, thread);
    return TRUE;
}

// The icon windows of this process with the thread of each.
std::vector<std::pair<HWND, DWORD>> IconWindows() {
    std::vector<std::pair<HWND, DWORD>> found;
    EnumWindows(CollectIconWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

// The one icon window there is; its thread must not be the caller's.
std::pair<HWND, DWORD> TheIconWindow(const wchar_t* when) {
    const auto windows = IconWindows();
    Expect(windows.size() == 1, std::wstring(when) + L": " + std::to_wstring(windows.size()) + L" icon windows, not one");
    Expect(windows[0].second != GetCurrentThreadId(), std::wstring(when) + L": the icon window belongs to the caller's thread");
    return windows[0];
}

void TrayIcon(Report& report) {
    HWND probe = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    if (!probe) return report.Note(L"skipped: no display (run the tests under xvfb-run)");
    DestroyWindow(probe);
    ComPtr<IQarnClassFactory> mainFactory = Create<IQarnClassFactory>(CLSID_CQarnClassFactory);
    Check(mainFactory->Destroy(), L"Destroy");
    std::pair<HWND, DWORD> first{};
    // One apartment shows the icon and ends.
    RunThreads(report, 1, COINIT_APARTMENTTHREADED, [&](int) {
        ComPtr<IQarnComApplication> app;
        Check(Create<IQarnClassFactory>(CLSID_CQarnClassFactory)->Create(&app), L"Create");
        Check(app->SetShellIconVisible(VARIANT_TRUE), L"SetShellIconVisible");
        first = TheIconWindow(L"shown by the first apartment");
    });
    Expect(IsWindow(first.first) != FALSE, L"the icon went with the apartment that showed it");
    // Another apartment that never pumps changes and removes it; the application goes with its icon.
    RunThreads(report, 1, COINIT_APARTMENTTHREADED, [&](int) {
        ComPtr<IQarnClassFactory> factory = Create<IQarnClassFactory>(CLSID_CQarnClassFactory);
        ComPtr<IQarnComApplication> app;
        Check(factory->Create(&app), L"Create in the second apartment");
        Check(app->SetShellIconVisible(VARIANT_TRUE), L"SetShellIconVisible from the second apartment");
        Expect(TheIconWindow(L"shown again from the second apartment") == first, L"a second icon window");
        Check(app->SetShellIconVisible(VARIANT_FALSE), L"SetShellIconVisible(FALSE) from the second apartment");
        Expect(IconWindows().empty(), L"the icon window stays after the second apartment hid it");
        Check(app->SetShellIconVisible(VARIANT_TRUE), L"SetShellIconVisible from the second apartment");
        const auto [window, owner] = TheIconWindow(L"shown from the second apartment");
        Expect(owner == first.second, L"the icon window moved to another thread");
        // Letting go of the last references: the application goes away while its icon is shown.
        app.Reset();
        Check(factory->Destroy(), L"Destroy");
        for (int i = 0; i < 100 && !IconWindows().empty(); ++i) Sleep(20);
        Expect(IconWindows().empty(), L"the icon window is still there 2 s after its application was released");
        // A message that reaches the window after its object is gone finds nothing to call.
        DWORD_PTR answer = 0;
        if (IsWindow(window)) {
            SendMessageTimeoutW(window, WM_USER, 0, WM_MOUSEMOVE, SMTO_NORMAL, 5000, &answer);
            SendMessageTimeoutW(window, WM_USER, 0, WM_LBUTTONUP, SMTO_NORMAL, 5000, &answer);
        }
    });
    Expect(IconWindows().empty(), L"an icon window is left");
}

}  // namespace

HOST_SAFETY_SECTION(40, "the tray icon from two apartments", TrayIcon);

}  // namespace hostsafety
