// DispatchProbe: a test double whose members cover each kind of argument that script clients
// pass through our IDispatch layer. Registered only in the test prefix ("QarnTest.DispatchProbe").
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>

#include "QarnTestDoubles.h"

#include "ComObject.h"

class DispatchProbe : public qarn::ComObject<DispatchProbe, IDispatchProbe> {
public:
    STDMETHODIMP Split(BSTR text, BSTR* rest, BSTR* head) override;
    STDMETHODIMP FillList(BSTR name, BSTR value, IParameterList** list) override;
    STDMETHODIMP Toggle(VARIANT_BOOL* flag) override;
    STDMETHODIMP Bracket(BSTR* text) override;
    STDMETHODIMP IsNullField(IField* field, VARIANT_BOOL* isNull) override;
    STDMETHODIMP get_Word(LONG index, BSTR* word) override;
    STDMETHODIMP get_Count(LONG* count) override;
    STDMETHODIMP get__NewEnum(IUnknown** ppEnum) override;
    STDMETHODIMP Fail(BSTR message) override;
    STDMETHODIMP Describe(GUID guid, BSTR* text) override;
};
