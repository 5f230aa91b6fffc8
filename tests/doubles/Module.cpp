// QarnTestDoubles.dll: class table of the test doubles.
#include "DispatchProbe.h"
#include "FieldFunction.h"
#include "Module.h"
#include "ScriptEngine.h"
#include "XsltProcessor.h"

namespace {

const qarn::ClassEntry kClasses[] = {
    {&CLSID_DispatchProbe, &DispatchProbe::CreateInstance, 101},
    {&CLSID_ScriptEngine, &ScriptEngine::CreateInstance, 102},
    {&CLSID_XsltProcessor, &XsltProcessor::CreateInstance, 103},
    {&CLSID_FieldFunction, &FieldFunction::CreateInstance, 104},
};

}  // namespace

const qarn::module::Definition& qarn::module::ThisModule() {
    static const Definition definition{kClasses};
    return definition;
}
