#include "config/ShellIcon.h"

namespace qarn::config {

ATOM ShellIconWindowClass(WNDPROC procedure) noexcept {
    WNDCLASSEXW existing{sizeof(existing)};
    if (ATOM atom = static_cast<ATOM>(GetClassInfoExW(module::Instance(), kShellIconWindowClass, &existing)))
        return atom;
    WNDCLASSEXW definition{sizeof(definition)};
    definition.lpfnWndProc = procedure;
    definition.hInstance = module::Instance();
    definition.lpszClassName = kShellIconWindowClass;
    return RegisterClassExW(&definition);
}

void UnregisterShellIconWindowClass() noexcept { UnregisterClassW(kShellIconWindowClass, module::Instance()); }

}  // namespace qarn::config
