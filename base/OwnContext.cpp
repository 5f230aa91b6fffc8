#include "base/OwnContext.h"

#include <string>

#include "ComModule.h"

namespace qarn {

namespace {

constexpr const wchar_t* kManifest = L"Qarn.ComConnector.manifest";

// Made once per process on first use, from the manifest in the DLL's folder; released when the
// DLL unloads.
class Context {
public:
    Context() noexcept {
        try {
            std::wstring path = module::Path();
            const auto slash = path.find_last_of(L'\\');
            if (slash == std::wstring::npos) return;
            path.resize(slash + 1);
            path += kManifest;
            if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return;
            ACTCTXW request{};
            request.cbSize = sizeof request;
            request.lpSource = path.c_str();
            // A manifest that does not parse leaves the registry to decide, as without one.
            handle_ = CreateActCtxW(&request);
        } catch (...) {
            handle_ = INVALID_HANDLE_VALUE;
        }
    }
    ~Context() {
        if (handle_ != INVALID_HANDLE_VALUE) ReleaseActCtx(handle_);
    }
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;
    HANDLE Handle() const noexcept { return handle_; }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace

OwnContext::OwnContext() noexcept {
    static const Context context;
    if (context.Handle() != INVALID_HANDLE_VALUE) active_ = ActivateActCtx(context.Handle(), &cookie_) != FALSE;
}

OwnContext::~OwnContext() {
    if (active_) DeactivateActCtx(0, cookie_);
}

HRESULT CreateOwn(REFCLSID clsid, REFIID iid, void** object) noexcept {
    const OwnContext context;
    return CoCreateInstance(clsid, nullptr, CLSCTX_ALL, iid, object);
}

}  // namespace qarn
