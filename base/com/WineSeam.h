// The one place where the connector does something only because its test bench, Wine, needs it.
// Each entry gives the same result on Windows as the plain way would; docs/dev/wine-seams.md lists
// them with what Windows does and what Wine does.
#pragma once

#include <windows.h>
#include <objbase.h>

namespace qarn::wine_seam {

// The interface an object travels as between apartments (the Global Interface Table, a marshaled
// stream); the receiver asks the arriving proxy for the interface it needs. On Windows this is the
// same as marshaling that interface. Under Wine, a marshaled interface that a type library
// describes keeps its stub, about 2 KB, for good; IUnknown's does not.
inline const IID& kTravelsAs = IID_IUnknown;

// Whether a call or an unmarshal failed because the object's apartment has ended. Windows answers
// with the RPC_E_* and CO_E_* codes below; Wine answers an unmarshal from an ended apartment with
// RPC_S_UNKNOWN_IF (as an HRESULT), which Windows does not give for it.
inline bool ApartmentEnded(HRESULT hr) noexcept {
    return hr == CO_E_OBJNOTCONNECTED || hr == RPC_E_DISCONNECTED || hr == RPC_E_SERVER_DIED ||
           hr == RPC_E_SERVER_DIED_DNE || hr == CO_E_OBJNOTREG || hr == RPC_E_INVALID_OBJECT ||
           hr == HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE) || hr == HRESULT_FROM_WIN32(RPC_S_CALL_FAILED_DNE) ||
           hr == HRESULT_FROM_WIN32(RPC_S_UNKNOWN_IF);  // Wine
}

}  // namespace qarn::wine_seam
