// IDispatch on top of the module's type library, with the argument handling script clients
// rely on: by-reference variants for [out] and [in,out] parameters, property gets called as
// methods, null/empty for object parameters, and EXCEPINFO filled from the error object.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <vector>

namespace qarn {

// None of them lets an exception out: running out of memory is E_OUTOFMEMORY.
HRESULT DispatchTypeInfo(REFIID iid, ITypeInfo** info) noexcept;
HRESULT DispatchGetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, DISPID* ids) noexcept;
// `self` is the object's pointer of the interface `iid` (the vtable that is called).
HRESULT DispatchInvoke(REFIID iid, void* self, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                       EXCEPINFO* excep, UINT* argErr) noexcept;

// Fills the caller's EXCEPINFO with `hr` and the thread's error object (which stays in place).
void FillDispatchException(HRESULT hr, EXCEPINFO* excep) noexcept;

// An enumerator (IEnumVARIANT) over a snapshot of values, for _NewEnum members.
HRESULT MakeEnumerator(std::vector<VARIANT>&& items, IUnknown** result);

}  // namespace qarn
