// The operations the out-of-memory program runs: each a setup, the run whose allocations are
// failed, a check made afterwards without any fault, and a teardown. Each step returns an HRESULT
// and adds to the operation's answer, which must come out the same whenever the run succeeds.
#pragma once

#include "QarnComConnector.h"
#include "tests/hardening/Hardening.h"

namespace memory {

using Step = std::function<HRESULT(std::wstring& answer)>;

struct Case {
    std::wstring name;
    Step setup, run, check, teardown;
    // Whether everything the run allocated must be given back when it fails.
    bool checkLeaks = true;
    // A lesser answer the operation may give, with S_OK, when memory runs out (where its own rules
    // say that it goes on without a part).
    std::function<bool(const std::wstring& answer)> degraded;
};

// Whether a text says that memory ran out: the frame's text for an out-of-memory failure, the code
// E_OUTOFMEMORY, or one of the encryption codes for a buffer that could not be allocated.
inline bool SaysOutOfMemory(const std::wstring& text) {
    for (const wchar_t* says : {L"Unknown error in ", L"memory", L"8007000E", L"0xE0100000", L"0xE0110000", L"0xE0120000",
                                L"0xD0100000", L"0xD0110000", L"0xD0120000", L"0xD0130000", L"0xD0140000"})
        if (text.find(says) != std::wstring::npos) return true;
    return false;
}
// The description of the last failed call (its error object's text).
inline std::wstring g_description;

// The scratch installation and the objects the operations share; the operations.
std::vector<Case> Prepare();
// Releases the shared objects and removes the scratch folder.
void Finish();

}  // namespace memory
