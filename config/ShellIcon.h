// CShellIconHelper: an icon in the notification area of the taskbar, owned by a hidden window. The
// window belongs to the thread that made the icon visible: only that thread changes or removes the
// icon (a request from another thread is posted to it). The window keeps no pointer to the object
// it serves, so a message that arrives after the object is gone finds nothing to call. The
// deriving class T provides `static void OnUserCommand(HWND window, LPARAM mouseMessage)` for the
// icon's callback message (WM_USER); every other message goes to the default window procedure.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>

#include "ComModule.h"
#include "Text.h"

namespace qarn::config {

inline constexpr wchar_t kShellIconWindowClass[] = L"QarnShellIconWindow";
inline constexpr wchar_t kShellIconWindowName[] = L"ShellIconHiddenWindow";
inline constexpr UINT kDefaultIcon = 201;  // the DLL's icon group

// The taskbar takes the full wide-character notify data.
static_assert(sizeof(void*) != 8 || sizeof(NOTIFYICONDATAW) == 976);

// Registers the hidden window's class once per process; `procedure` receives its messages.
ATOM ShellIconWindowClass(WNDPROC procedure) noexcept;
// Forgets the class when the DLL goes away, so that no class points into unloaded code.
void UnregisterShellIconWindowClass() noexcept;

// The bookkeeping of the hidden windows that exist (any thread).
void ShellIconWindowCreated(HWND window) noexcept;
void ShellIconWindowDestroyed(HWND window) noexcept;
// Whether a hidden window still exists: the DLL cannot be unloaded then.
bool ShellIconWindowsRemain() noexcept;

// Sent to the hidden window: remove the icon and destroy the window on the window's own thread.
inline constexpr UINT kRemoveShellIconMessage = WM_APP + 1;

// Shows the first pop-up of menu `menuId` at the cursor for `window`; the chosen command, or 0.
UINT ShowPopupMenu(HWND window, UINT menuId) noexcept;
// Removes the icon of `window` and destroys the window: at once on its own thread, else by a
// message to it (so the thread that owns the window does it).
void RemoveShellIcon(HWND window) noexcept;

template <class T>
class CShellIconHelper {
public:
    CShellIconHelper() = default;
    CShellIconHelper(const CShellIconHelper&) = delete;
    CShellIconHelper& operator=(const CShellIconHelper&) = delete;

    // An icon still shown when its owner goes away is removed with its window, by the window's
    // own thread.
    virtual ~CShellIconHelper() { RemoveShellIcon(window_); }

    virtual HRESULT CreateShellIconWindow() {
        if (!ShellIconWindowClass(&WindowProcedure)) return HRESULT_FROM_WIN32(GetLastError());
        HWND window = CreateWindowExW(0, kShellIconWindowClass, kShellIconWindowName, WS_POPUP, 0, 0, 0, 0, nullptr,
                                      nullptr, module::Instance(), nullptr);
        if (!window) return HRESULT_FROM_WIN32(GetLastError());
        ShellIconWindowCreated(window);
        window_ = window;
        NOTIFYICONDATAW data = NotifyData();
        Shell_NotifyIconW(NIM_ADD, &data);
        return S_OK;
    }

    virtual HRESULT DestroyShellIconWindow() {
        if (!window_) return S_OK;
        RemoveShellIcon(window_);
        window_ = nullptr;
        timerRunning_ = false;  // a window's timer ends with it
        return S_OK;
    }

    // Timers belong to the window's thread: elsewhere only the setting is stored.
    virtual HRESULT SetTimer(bool enable, UINT interval) {
        if (OnWindowThread()) {
            if (timerRunning_) KillTimer(window_, kTimerId);
            timerRunning_ = false;
            if (enable) timerRunning_ = ::SetTimer(window_, kTimerId, interval, nullptr) != 0;
        }
        timerEnabled_ = enable;
        timerInterval_ = interval;
        return S_OK;
    }

    virtual HRESULT SetShellIconVisible(bool visible) {
        HRESULT hr = S_OK;
        if (visible) {
            if (!window_) hr = CreateShellIconWindow();
            if (SUCCEEDED(hr)) SetTimer(timerEnabled_, timerInterval_);
        } else if (window_) {
            if (timerRunning_ && OnWindowThread()) KillTimer(window_, kTimerId);
            timerRunning_ = false;
            DestroyShellIconWindow();
        }
        return hr;
    }

private:
    static constexpr UINT_PTR kTimerId = 1;

    static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
        if (message == WM_USER) {
            T::OnUserCommand(window, lParam);
            return 0;
        }
        if (message == kRemoveShellIconMessage) {
            RemoveShellIcon(window);
            return 0;
        }
        if (message == WM_NCDESTROY) ShellIconWindowDestroyed(window);
        return DefWindowProcW(window, message, wParam, lParam);
    }

    bool OnWindowThread() const noexcept {
        return window_ && GetWindowThreadProcessId(window_, nullptr) == GetCurrentThreadId();
    }

    // The notify data of every call: the hidden window's icon 0 with message, icon and tip.
    NOTIFYICONDATAW NotifyData() const {
        NOTIFYICONDATAW data{};
        data.cbSize = sizeof(data);
        data.hWnd = window_;
        data.uID = 0;
        data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
        data.uCallbackMessage = WM_USER;
        data.hIcon = LoadIconW(module::Instance(), MAKEINTRESOURCEW(kDefaultIcon));
        lstrcpynW(data.szTip, L"QarnComConnector", ARRAYSIZE(data.szTip));
        return data;
    }

    HWND window_ = nullptr;
    bool timerEnabled_ = false;
    bool timerRunning_ = false;
    UINT timerInterval_ = 0;
};

}  // namespace qarn::config
