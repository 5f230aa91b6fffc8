// The process's application as one apartment reaches it (a proxy when it lives in another
// apartment), kept while the process holds the same one: taking it from the process's table again
// for every lookup would cost a reference round trip to its apartment each time. Held by one
// object and used from that object's apartment only.
#pragma once

#include "base/ConnectorInterfaces.h"

namespace qarn::config {

class SharedApplication {
public:
    // The application; null when the process has none (yet).
    ComPtr<IQarnComApplication> Get();
    // Looks `name` up in the application with `lookup` (its GetProperty or GetMessage); S_OK and
    // no value without an application. An application whose apartment has ended is asked for
    // again once.
    HRESULT Ask(HRESULT (STDMETHODCALLTYPE IQarnComApplication::*lookup)(BSTR, BSTR*), BSTR name, BSTR* value);

private:
    ComPtr<IQarnComApplication> app_;
    unsigned long generation_ = 0;
};

}  // namespace qarn::config
