// FieldFunction: the field function component that CQarnUtilities::DOMCreateFieldEntry calls for
// a Field element with a Function child. Registered only in the test prefix
// ("QarnTest.FieldFunction").
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>

#include "QarnTestDoubles.h"

#include "ComObject.h"

class FieldFunction : public qarn::ComObject<FieldFunction, IFieldFunction> {
public:
    STDMETHODIMP Evaluate(BSTR value, BSTR functionName, BSTR* result) override;
};
