// QarnTestDoubles.dll: class table of the test doubles.
#include "DispatchProbe.h"
#include "Module.h"
#include "ScriptEngine.h"

namespace {

const qarn::ClassEntry kClasses[] = {
    {&CLSID_DispatchProbe, &DispatchProbe::CreateInstance, 101},
    {&CLSID_ScriptEngine, &ScriptEngine::CreateInstance, 102},
};

}  // namespace

const qarn::module::Definition& qarn::module::ThisModule() {
    static const Definition definition{kClasses};
    return definition;
}
