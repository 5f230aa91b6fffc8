#include "AboutDialogDouble.h"

#include <atomic>

#include "Errors.h"

using namespace qarn;

namespace {

std::atomic<LONG> g_shown{0};
std::atomic<bool> g_lastGiven{false};

}  // namespace

STDMETHODIMP AboutDialogDouble::get_ShownCount(LONG* count) {
    return MethodFrame(L"AboutDialogDouble::ShownCount", [&] {
        CHECK_POINTER(count);
        *count = g_shown.load();
    });
}

STDMETHODIMP AboutDialogDouble::get_LastApplicationWasGiven(VARIANT_BOOL* given) {
    return MethodFrame(L"AboutDialogDouble::LastApplicationWasGiven", [&] {
        CHECK_POINTER(given);
        *given = g_lastGiven.load() ? VARIANT_TRUE : VARIANT_FALSE;
    });
}

STDMETHODIMP AboutDialogDouble::ShowAboutDialog(IDispatch* application) {
    return MethodFrame(L"AboutDialogDouble::ShowAboutDialog", [&] {
        g_lastGiven = application != nullptr;
        ++g_shown;
    });
}
