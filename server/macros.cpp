// Script macros and method invocation: members of CQarnUtilities.
//
// The engines themselves are kept by components/ScriptEngines.
#include "server/Utilities.h"

#include <initializer_list>

using namespace qarn;

namespace {

// Access codes of the self-test behind the function module "RunTestCases", one per variant.
constexpr std::wstring_view kQuickSelfTestCode = L"{FFD01A42-F1B9-4F5A-88BA-87C61CF77DF5}";
constexpr std::wstring_view kFullSelfTestCode = L"{1F0AEC45-C85D-4780-8669-EE4AE5B01389}";
constexpr std::wstring_view kSelfTestModule = L"RunTestCases";

// A message with its "%s" conversions filled with the texts in order (null prints "(null)").
std::wstring Fill(std::wstring_view format, std::initializer_list<text::TextArg> args) {
    size_t capacity = format.size() + 2048;
    for (const auto& arg : args) capacity += arg ? arg->size() : 16;
    return text::FillTemplate(format, std::vector<text::TextArg>(args), capacity);
}

// The text of the header field `name`; null when there is no such field.
Bstr HeaderText(IStructure* header, const wchar_t* name) {
    ComPtr<IField> field;
    CHECK_HR(header->GetField(Bstr(name), &field));
    Bstr value;
    if (field) CHECK_HR(field->get_StringValue(value.Out()));
    return value;
}

}  // namespace

STDMETHODIMP CQarnUtilities::RunMacro(BSTR progID, BSTR methodName, IParameterList **ppInput, IParameterList **ppOutput) {
    return MethodFrame(L"CQarnUtilities::RunMacro", [&] {
        scriptEngines_.Run(progID, L"RunMacro", methodName, L"ParameterList", ppInput, ppOutput);
    });
}

STDMETHODIMP CQarnUtilities::RunMacro2(BSTR progID, BSTR methodName, IQarnDocument **ppInput, IQarnDocument **ppOutput) {
    return MethodFrame(L"CQarnUtilities::RunMacro2", [&] {
        scriptEngines_.Run(progID, L"RunMacro2", methodName, L"QarnDocument", ppInput, ppOutput);
    });
}

STDMETHODIMP CQarnUtilities::DestroyScriptEngine(BSTR progID) {
    return MethodFrame(L"CQarnUtilities::DestroyScriptEngine", [&] { scriptEngines_.Destroy(progID); });
}

STDMETHODIMP CQarnUtilities::InvokeMethod(IParameterList **ppInput, IParameterList **ppOutput) {
    return MethodFrame(L"CQarnUtilities::InvokeMethod", [&] {
        if (!ppInput || !ppOutput || !*ppInput || !*ppOutput) return;
        ComPtr<IStructure> header;
        CHECK_HR((*ppInput)->GetStructure(Bstr(L"QarnHeader"), &header));
        if (!header) return;
        const Bstr module = HeaderText(header.Get(), L"functionmodule");
        if (module.IsEmpty()) return;
        if (module.View() != kSelfTestModule) THROW_REPORT(Fill(L"Unknown functionmodule %s", {Arg(module)}));
        const Bstr key = HeaderText(header.Get(), L"AccessKey");
        if (key.IsNull()) return;
        if (key.View() == kQuickSelfTestCode) RunSelfTest(1);
        else if (key.View() == kFullSelfTestCode) RunSelfTest(2);
    });
}

STDMETHODIMP CQarnUtilities::InvokeMethod2(IQarnDocument **ppInput, IQarnDocument **ppOutput) {
    return MethodFrame(L"CQarnUtilities::InvokeMethod2", [&] {
        if (!ppInput || !ppOutput || !*ppInput || !*ppOutput) return;
        ComPtr<IParameterList> input, output;
        CHECK_HR((*ppInput)->get_ParameterList(&input));
        CHECK_HR((*ppOutput)->get_ParameterList(&output));
        if (!input || !output) return;
        CHECK_HR(InvokeMethod(input.GetAddressOf(), output.GetAddressOf()));
    });
}
