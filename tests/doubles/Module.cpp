// QarnTestDoubles.dll: class table of the test doubles.
#include "DispatchProbe.h"
#include "Module.h"

namespace {

const qarn::ClassEntry kClasses[] = {
    {&CLSID_DispatchProbe, &DispatchProbe::CreateInstance, 101},
};

}  // namespace

const qarn::module::Definition& qarn::module::ThisModule() {
    static const Definition definition{kClasses};
    return definition;
}
