// Reading the configuration files: members of CQarnUtilities.
#include "util/Utilities.h"

using namespace qarn;

STDMETHODIMP CQarnUtilities::ReadXmlConfigurationFiles() {
    return MethodFrame(L"CQarnUtilities::ReadXmlConfigurationFiles", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::ReadXmlConfigurationFiles2(BSTR language) {
    return MethodFrame(L"CQarnUtilities::ReadXmlConfigurationFiles2", [&] { ThrowNotImplemented(); });
}
