// Reading the configuration files: members of CQarnUtilities. The reading itself is
// config/ConfigurationReader's.
#include "server/Utilities.h"

using namespace qarn;

namespace {

constexpr wchar_t kReadName[] = L"CQarnUtilities::ReadXmlConfigurationFiles2";
constexpr wchar_t kReadContext[] = L"Error in CQarnUtilities::ReadXmlConfigurationFiles2\n";

}  // namespace

STDMETHODIMP CQarnUtilities::ReadXmlConfigurationFiles() {
    return MethodFrame(L"CQarnUtilities::ReadXmlConfigurationFiles",
                       [&] { CHECK_HR(ReadXmlConfigurationFiles2(nullptr)); });
}

STDMETHODIMP CQarnUtilities::ReadXmlConfigurationFiles2(BSTR language) {
    std::wstring context;  // made inside the frame, where running out of memory is answered
    return MethodFrame(kReadName, [&] {
        context = kReadContext;
        configReader_.Read(language, config_, context);
    }, frame::WithContext{context});
}
