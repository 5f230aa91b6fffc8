// ScriptEngine: a script engine as CQarnUtilities::RunMacro and RunMacro2 call it. The macro name
// picks what it does to the objects it gets by reference. Registered only in the test prefix
// ("QarnTest.ScriptEngine").
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>

#include "QarnTestDoubles.h"

#include "ComObject.h"

class ScriptEngine : public qarn::ComObject<ScriptEngine, IScriptEngineDouble> {
public:
    STDMETHODIMP RunMacro(BSTR macroName, IDispatch** input, IDispatch** output) override;
    STDMETHODIMP RunMacro2(BSTR macroName, IDispatch** input, IDispatch** output) override;
    STDMETHODIMP Destroy() override;

private:
    // One macro call; `documents` tells RunMacro2 (QarnDocuments) from RunMacro (ParameterLists).
    HRESULT Run(const wchar_t* member, bool documents, BSTR macroName, IDispatch** input, IDispatch** output);

    long calls_ = 0;  // macro calls of this engine, both entry members
    bool refuseDestroy_ = false;
};
