// The process's application as one apartment reaches it.
#include "config/SharedApplication.h"

#include "base/GlobalApp.h"

namespace qarn::config {

ComPtr<IQarnComApplication> SharedApplication::Get() {
    GlobalApp& global = TheGlobalApp();
    // Read before the lookup: a change while it runs makes the next call look again.
    const unsigned long generation = global.ApplicationGeneration();
    if (generation != generation_) {
        ComPtr<IQarnComApplication> app;
        CHECK_HR(global.Application(&app));
        app_ = app;
        generation_ = generation;
    }
    return app_;
}

HRESULT SharedApplication::Ask(HRESULT (STDMETHODCALLTYPE IQarnComApplication::*lookup)(BSTR, BSTR*), BSTR name,
                              BSTR* value) {
    ComPtr<IQarnComApplication> app = Get();
    if (!app) return S_OK;
    HRESULT hr = (app.Get()->*lookup)(name, value);
    if (GlobalApp::Disconnected(hr)) {
        // Its apartment has ended since this object took it: ask the process again.
        app_.Reset();
        generation_ = 0;
        app = Get();
        hr = app ? (app.Get()->*lookup)(name, value) : S_OK;
    }
    return hr;
}

}  // namespace qarn::config
