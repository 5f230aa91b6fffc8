// The tray icon of the application used from two apartments: one icon whoever asks, changed and
// removed only by the thread that owns its window, and no message to the window can reach an
// object that is gone. Needs a display (the test command runs under a virtual one).
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

void ExpectOneWindowOf(DWORD thread, const wchar_t* when) {
    const auto windows = IconWindows();
    Expect(windows.size() == 1, std::wstring(when) + L": " + std::to_wstring(windows.size()) + L" icon windows, not one");
    Expect(windows[0].second == thread, std::wstring(when) + L": the icon window belongs to another thread");
}

void TrayIcon(Report& report) {
    HWND probe = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    if (!probe) return report.Note(L"skipped: no display (run the tests under xvfb-run)");
    DestroyWindow(probe);
    ComPtr<IQarnClassFactory> mainFactory = Create<IQarnClassFactory>(CLSID_CQarnClassFactory);
    Check(mainFactory->Destroy(), L"Destroy");
    std::atomic<DWORD> ownerThread{0};
    std::atomic<HWND> window{nullptr};
    Barrier shown(2), sharedShow(2), hidden(2), lastReleased(2), released(2), sent(2), end(2);
    RunThreads(report, 2, COINIT_APARTMENTTHREADED, [&](int index) {
        Barrier::OnExit arrive{end};
        ComPtr<IQarnClassFactory> factory = Create<IQarnClassFactory>(CLSID_CQarnClassFactory);
        ComPtr<IQarnComApplication> app;
        if (index == 0) {
            // The application's own apartment: it makes the icon and serves the other while waiting.
            Check(factory->Create(&app), L"Create");
            Check(app->SetShellIconVisible(VARIANT_TRUE), L"SetShellIconVisible");
            ownerThread = GetCurrentThreadId();
            ExpectOneWindowOf(ownerThread, L"shown by its own apartment");
            window = IconWindows()[0].first;
            shown.Arrive();
            sharedShow.Arrive();
            hidden.Arrive();
            app.Reset();  // from now on only the other apartment holds it (and the process's table)
            lastReleased.Arrive();
            released.Arrive();
            sent.Arrive();
            // The removal posted to this thread is done once it has pumped.
            for (int i = 0; i < 50 && !IconWindows().empty(); ++i) PumpingWait(GetCurrentThread(), 20);
            Expect(IconWindows().empty(), L"the icon window is still there after its application was released");
            return;
        }
        shown.Arrive();
        Check(factory->Create(&app), L"Create in the second apartment");
        // The call runs in the application's apartment: the icon there is shown already.
        Check(app->SetShellIconVisible(VARIANT_TRUE), L"SetShellIconVisible from the second apartment");
        ExpectOneWindowOf(ownerThread, L"shown again from the second apartment");
        Check(app->SetShellIconVisible(VARIANT_FALSE), L"SetShellIconVisible(FALSE) from the second apartment");
        Expect(IconWindows().empty(), L"the icon window stays after the second apartment hid it");
        Check(app->SetShellIconVisible(VARIANT_TRUE), L"SetShellIconVisible from the second apartment");
        ExpectOneWindowOf(ownerThread, L"shown from the second apartment");
        window = IconWindows()[0].first;
        sharedShow.Arrive();
        hidden.Arrive();
        lastReleased.Arrive();
        // Letting go of the last references: the application goes away while its icon is shown.
        app.Reset();
        Check(factory->Destroy(), L"Destroy");
        released.Arrive();
        // A message that reaches the window after its object is gone finds nothing to call.
        DWORD_PTR answer = 0;
        if (IsWindow(window)) {
            SendMessageTimeoutW(window, WM_USER, 0, WM_MOUSEMOVE, SMTO_NORMAL, 5000, &answer);
            SendMessageTimeoutW(window, WM_USER, 0, WM_LBUTTONUP, SMTO_NORMAL, 5000, &answer);
        }
        sent.Arrive();
    });
    Expect(IconWindows().empty(), L"an icon window is left");
}

}  // namespace

HOST_SAFETY_SECTION(40, "the tray icon from two apartments", TrayIcon);

}  // namespace hostsafety
