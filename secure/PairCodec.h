// Encryption and decryption of one name and value pair as BSTRs. A failure is reported with the
// bare code text of the encoding and the owner's class as the error source. Used from the owner's
// apartment only (the trace flag is per call).
#pragma once

#include "base/ConnectorInterfaces.h"

namespace qarn::secure {

class PairCodec {
public:
    explicit PairCodec(REFCLSID source) : source_(source) {}

    HRESULT Encrypt(BSTR name, BSTR value, BSTR* text);
    HRESULT Decrypt(BSTR name, BSTR text, BSTR* value);

private:
    CLSID source_;
    // Tracing of the current call (set from the environment on entry).
    bool traceOn_ = false;
};

// Whether a failed Encrypt or Decrypt ran out of memory: E_OUTOFMEMORY, or the thread's error object
// holds the code of a buffer that could not be allocated (the error object stays in place).
bool RanOutOfMemory(HRESULT hr);

}  // namespace qarn::secure
