// QarnTestDoubles.dll: class table of the test doubles.
#include "AboutDialogDouble.h"
#include "ConnectorDouble.h"
#include "DispatchProbe.h"
#include "FieldFunction.h"
#include "Module.h"
#include "ScriptEngine.h"
#include "XsltProcessor.h"

namespace {

// A connector's row; only the first one carries OutsideComponents.rgs, which registers all ten
// outside components.
template <size_t I>
constexpr qarn::ClassEntry Connector(UINT script = 0) {
    return {&ConnectorDouble::kKinds[I].clsid, &ConnectorDouble::CreateKind<I>, script};
}

const qarn::ClassEntry kClasses[] = {
    {&CLSID_DispatchProbe, &DispatchProbe::CreateInstance, 101},
    {&CLSID_ScriptEngine, &ScriptEngine::CreateInstance, 102},
    {&CLSID_XsltProcessor, &XsltProcessor::CreateInstance, 103},
    {&CLSID_FieldFunction, &FieldFunction::CreateInstance, 104},
    Connector<0>(105), Connector<1>(), Connector<2>(), Connector<3>(), Connector<4>(), Connector<5>(),
    Connector<6>(), Connector<7>(), Connector<8>(),
    {&CLSID_AboutDialogDouble, &AboutDialogDouble::CreateInstance, 0},
};

}  // namespace

const qarn::module::Definition& qarn::module::ThisModule() {
    static const Definition definition{kClasses};
    return definition;
}
