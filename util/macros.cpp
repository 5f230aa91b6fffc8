// Script macros and method invocation: members of CQarnUtilities.
#include "util/Utilities.h"

using namespace qarn;

STDMETHODIMP CQarnUtilities::RunMacro(BSTR progID, BSTR methodName, IParameterList **ppInput, IParameterList **ppOutput) {
    return MethodFrame(L"CQarnUtilities::RunMacro", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::DestroyScriptEngine(BSTR progID) {
    return MethodFrame(L"CQarnUtilities::DestroyScriptEngine", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::RunMacro2(BSTR progID, BSTR methodName, IQarnDocument **ppInput, IQarnDocument **ppOutput) {
    return MethodFrame(L"CQarnUtilities::RunMacro2", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::InvokeMethod(IParameterList **ppInput, IParameterList **ppOutput) {
    return MethodFrame(L"CQarnUtilities::InvokeMethod", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::InvokeMethod2(IQarnDocument **ppInput, IQarnDocument **ppOutput) {
    return MethodFrame(L"CQarnUtilities::InvokeMethod2", [&] { ThrowNotImplemented(); });
}
