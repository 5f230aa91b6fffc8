// QarnTestDoubles.dll: class table of the test doubles.
#include "Doubles.h"
#include "ComModule.h"

#include <cwchar>

namespace {

// The field function and the XSLT processor play "not registered" (the creation fails with
// REGDB_E_CLASSNOTREG) while the environment variable QarnTestUnregistered names them.
template <qarn::CreatorFn Create, const wchar_t* Name>
HRESULT UnlessUnregistered(IUnknown* outer, REFIID iid, void** ppv) {
    wchar_t names[256] = {};
    const DWORD length = GetEnvironmentVariableW(L"QarnTestUnregistered", names, 256);
    if (length > 0 && length < 256 && std::wcsstr(names, Name)) {
        if (ppv) *ppv = nullptr;
        return REGDB_E_CLASSNOTREG;
    }
    return Create(outer, iid, ppv);
}
constexpr wchar_t kFieldFunctionName[] = L"FieldFunction";
constexpr wchar_t kXsltProcessorName[] = L"XsltProcessor";

template <size_t I>
constexpr qarn::ClassEntry Connector() {
    return {&ConnectorDouble::kKinds[I].clsid, &ConnectorDouble::CreateKind<I>, 0};
}

// Doubles.rgs (script 101, on the first row) registers every class.
const qarn::ClassEntry kClasses[] = {
    {&CLSID_DispatchProbe, &DispatchProbe::CreateInstance, 101},
    {&CLSID_ScriptEngine, &ScriptEngine::CreateInstance, 0},
    {&CLSID_XsltProcessor, &UnlessUnregistered<&XsltProcessor::CreateInstance, kXsltProcessorName>, 0},
    {&CLSID_FieldFunction, &UnlessUnregistered<&FieldFunction::CreateInstance, kFieldFunctionName>, 0},
    Connector<0>(), Connector<1>(), Connector<2>(), Connector<3>(), Connector<4>(), Connector<5>(),
    Connector<6>(), Connector<7>(), Connector<8>(),
    {&CLSID_AboutDialogDouble, &AboutDialogDouble::CreateInstance, 0},
};

}  // namespace

const qarn::module::Definition& qarn::module::ThisModule() {
    static const Definition definition{kClasses};
    return definition;
}
