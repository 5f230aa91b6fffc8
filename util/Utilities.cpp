// Construction and logging of CQarnUtilities.
#include "util/Utilities.h"

using namespace qarn;

HRESULT CQarnUtilities::FinalConstruct() {
    return MethodFrame(L"CQarnUtilities::FinalConstruct", [&] { log_.InitFromEnvironment(); });
}

HRESULT CQarnUtilities::WriteLogMessage(long logLevel, BSTR msg) {
    return MethodFrame(L"CQarnUtilities::WriteLogMessage", [&] { CHECK_HR(log_.Write(logLevel, msg)); });
}
