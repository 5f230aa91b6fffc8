#include "config/ShellIcon.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace qarn::config {

namespace {

// The hidden windows that exist: the DLL must stay loaded while one of them may still receive a
// message (a removal posted to a thread that has not yet pumped).
std::mutex g_windowsLock;
std::vector<HWND> g_windows;

}  // namespace

void ShellIconWindowCreated(HWND window) noexcept {
    std::lock_guard<std::mutex> guard(g_windowsLock);
    try {
        g_windows.push_back(window);
    } catch (...) {
    }
}

void ShellIconWindowDestroyed(HWND window) noexcept {
    std::lock_guard<std::mutex> guard(g_windowsLock);
    g_windows.erase(std::remove(g_windows.begin(), g_windows.end(), window), g_windows.end());
}

bool ShellIconWindowsRemain() noexcept {
    std::lock_guard<std::mutex> guard(g_windowsLock);
    // A thread that ends takes its windows with it, without a message.
    g_windows.erase(std::remove_if(g_windows.begin(), g_windows.end(), [](HWND w) { return !IsWindow(w); }),
                    g_windows.end());
    return !g_windows.empty();
}

ATOM ShellIconWindowClass(WNDPROC procedure) noexcept {
    WNDCLASSEXW existing{sizeof(existing)};
    if (ATOM atom = static_cast<ATOM>(GetClassInfoExW(module::Instance(), kShellIconWindowClass, &existing)))
        return atom;
    WNDCLASSEXW definition{sizeof(definition)};
    definition.lpfnWndProc = procedure;
    definition.hInstance = module::Instance();
    definition.lpszClassName = kShellIconWindowClass;
    if (ATOM atom = RegisterClassExW(&definition)) return atom;
    // Another thread registered it at the same moment.
    return static_cast<ATOM>(GetClassInfoExW(module::Instance(), kShellIconWindowClass, &existing));
}

UINT ShowPopupMenu(HWND window, UINT menuId) noexcept {
    HMENU menu = LoadMenuW(module::Instance(), MAKEINTRESOURCEW(menuId));
    if (!menu) return 0;
    UINT command = 0;
    if (HMENU popup = GetSubMenu(menu, 0)) {
        POINT at{};
        GetCursorPos(&at);
        SetForegroundWindow(window);
        command = static_cast<UINT>(
            TrackPopupMenu(popup, TPM_RIGHTBUTTON | TPM_RETURNCMD, at.x, at.y, 0, window, nullptr));
        PostMessageW(window, WM_NULL, 0, 0);
    }
    DestroyMenu(menu);
    return command;
}

void RemoveShellIcon(HWND window) noexcept {
    if (!window) return;
    if (GetWindowThreadProcessId(window, nullptr) != GetCurrentThreadId()) {
        // A thread that has ended took its windows (and their icons) with it: nothing to post to.
        PostMessageW(window, kRemoveShellIconMessage, 0, 0);
        return;
    }
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof(data);
    data.hWnd = window;
    data.uID = 0;
    Shell_NotifyIconW(NIM_DELETE, &data);
    DestroyWindow(window);  // its timer goes with it
}

void UnregisterShellIconWindowClass() noexcept { UnregisterClassW(kShellIconWindowClass, module::Instance()); }

}  // namespace qarn::config
