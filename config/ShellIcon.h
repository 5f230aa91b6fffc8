// CShellIconHelper: an icon in the notification area of the taskbar, owned by a hidden window whose
// messages go to the deriving class T. T provides `void OnUserCommand(LPARAM mouseMessage)` for the
// icon's callback message (WM_USER); every other message goes to the default window procedure.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>

#include "server/com/Module.h"
#include "server/com/Text.h"

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

template <class T>
class CShellIconHelper {
public:
    CShellIconHelper() = default;
    CShellIconHelper(const CShellIconHelper&) = delete;
    CShellIconHelper& operator=(const CShellIconHelper&) = delete;

    // An icon still shown when its owner goes away is removed with its window.
    virtual ~CShellIconHelper() {
        if (window_) {
            if (timerRunning_) KillTimer(window_, kTimerId);
            CShellIconHelper::DestroyShellIconWindow();
        }
    }

    virtual LRESULT HandleWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
        if (message == WM_USER) {
            static_cast<T*>(this)->OnUserCommand(lParam);
            return 0;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

    virtual HRESULT CreateShellIconWindow() {
        if (!ShellIconWindowClass(&WindowProcedure)) return HRESULT_FROM_WIN32(GetLastError());
        HWND window = CreateWindowExW(0, kShellIconWindowClass, kShellIconWindowName, WS_POPUP, 0, 0, 0, 0, nullptr,
                                      nullptr, module::Instance(), this);
        if (!window) return HRESULT_FROM_WIN32(GetLastError());
        window_ = window;
        NOTIFYICONDATAW data = NotifyData();
        Shell_NotifyIconW(NIM_ADD, &data);
        return S_OK;
    }

    virtual HRESULT DestroyShellIconWindow() {
        if (!window_) return S_OK;
        NOTIFYICONDATAW data = NotifyData();
        Shell_NotifyIconW(NIM_DELETE, &data);
        DestroyWindow(window_);
        window_ = nullptr;
        return S_OK;
    }

    virtual HRESULT SetTooltipText(const char* text) {
        tooltip_ = text ? text : "";
        return Update();
    }

    virtual HRESULT ChangeIcon(UINT iconId) {
        iconId_ = iconId;
        return Update();
    }

    virtual HRESULT SetTimer(bool enable, UINT interval) {
        if (window_ && timerRunning_) KillTimer(window_, kTimerId);
        timerRunning_ = false;
        if (enable && window_) timerRunning_ = ::SetTimer(window_, kTimerId, interval, nullptr) != 0;
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
            if (timerRunning_) KillTimer(window_, kTimerId);
            timerRunning_ = false;
            DestroyShellIconWindow();
        }
        visible_ = visible;
        return hr;
    }

    // Shows the first pop-up of menu `menuId` at the cursor; the chosen command, or 0.
    virtual UINT TrackPopupMenu(UINT menuId) {
        HMENU menu = LoadMenuW(module::Instance(), MAKEINTRESOURCEW(menuId));
        if (!menu) return 0;
        UINT command = 0;
        if (HMENU popup = GetSubMenu(menu, 0)) {
            POINT at{};
            GetCursorPos(&at);
            SetForegroundWindow(window_);
            command = static_cast<UINT>(
                ::TrackPopupMenu(popup, TPM_RIGHTBUTTON | TPM_RETURNCMD, at.x, at.y, 0, window_, nullptr));
            PostMessageW(window_, WM_NULL, 0, 0);
        }
        DestroyMenu(menu);
        return command;
    }

    HWND ShellIconWindow() const noexcept { return window_; }

private:
    static constexpr UINT_PTR kTimerId = 1;

    static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
        if (message == WM_NCCREATE) {
            auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
            SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        auto* self = reinterpret_cast<CShellIconHelper*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (!self) return DefWindowProcW(window, message, wParam, lParam);
        return self->HandleWindowMessage(window, message, wParam, lParam);
    }

    // The notify data of every call: the hidden window's icon 0 with message, icon and tip.
    NOTIFYICONDATAW NotifyData() const {
        NOTIFYICONDATAW data{};
        data.cbSize = sizeof(data);
        data.hWnd = window_;
        data.uID = 0;
        data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
        data.uCallbackMessage = WM_USER;
        data.hIcon = LoadIconW(module::Instance(), MAKEINTRESOURCEW(iconId_ ? iconId_ : kDefaultIcon));
        const std::wstring tip = FromAnsi(tooltip_);
        lstrcpynW(data.szTip, tip.c_str(), ARRAYSIZE(data.szTip));  // at most 63 characters
        return data;
    }

    HRESULT Update() {
        if (!window_) return S_OK;
        NOTIFYICONDATAW data = NotifyData();
        Shell_NotifyIconW(NIM_MODIFY, &data);
        return S_OK;
    }

    HWND window_ = nullptr;
    bool visible_ = false;
    UINT iconId_ = 0;
    std::string tooltip_ = "QarnComConnector";
    bool timerEnabled_ = false;
    bool timerRunning_ = false;
    UINT timerInterval_ = 0;
};

}  // namespace qarn::config
