// The script engines a utilities object has created, one per ProgID text as the caller wrote it,
// in order of creation. Each entry holds one reference to its engine until Destroy succeeds or the
// owner goes away. Used from the owner's apartment only.
#pragma once

#include "base/ConnectorInterfaces.h"

#include <vector>

namespace qarn {

class ScriptEngines {
public:
    // Calls the entry member `member` of the engine of `progId` (created on first use) with the
    // macro name and the two objects by reference (I: IParameterList or IQarnDocument, named
    // `kind` in messages). What the engine leaves there is stored in *ppInput and *ppOutput only
    // when both are of kind I or null. Failures are raised as the calling method's report.
    template <class I>
    void Run(BSTR progId, const wchar_t* member, BSTR macroName, const wchar_t* kind, I** ppInput, I** ppOutput);
    // Calls the engine's "Destroy" and forgets it; an unknown or null ProgID is left alone.
    void Destroy(BSTR progId);

private:
    struct Entry {
        Bstr progId;
        ComPtr<IDispatch> engine;
    };
    // Index of the first entry whose ProgID equals `progId` exactly, or the number of entries.
    size_t Find(BSTR progId) const;
    // The cached engine of `progId`, created and appended on first use.
    ComPtr<IDispatch> EngineFor(BSTR progId);

    std::vector<Entry> engines_;
};

}  // namespace qarn
