// The activation context of this DLL's own assembly manifest, for hosts that use the DLLs without
// registration. A plug-in host (a CAD add-in, say) often activates the context that names our
// assembly only around its own creation of our classes. When one of our methods later creates a
// data-type object or another of our classes, or reaches the shared application from another
// apartment, COM would look in the registry and find nothing there. Each of those steps holds an
// OwnContext: while it lives, the context made from Qarn.ComConnector.manifest beside the DLL is
// active on the thread, so COM finds the same DLLs the host found.
// Without that manifest (a registered installation from the DLL files alone) it does nothing.
#pragma once

#include <windows.h>

namespace qarn {

class OwnContext {
public:
    OwnContext() noexcept;
    ~OwnContext();
    OwnContext(const OwnContext&) = delete;
    OwnContext& operator=(const OwnContext&) = delete;

private:
    ULONG_PTR cookie_ = 0;
    bool active_ = false;
};

// Creates one of our own classes or a data-type class the way a client would, in that context.
HRESULT CreateOwn(REFCLSID clsid, REFIID iid, void** object) noexcept;

}  // namespace qarn
