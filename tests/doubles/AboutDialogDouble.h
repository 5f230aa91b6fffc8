// AboutDialogDouble: the about dialog component ("QarnComDialogs.CQarnAboutDlg") that the
// application object asks to show itself through IForwardAboutDialogHelper. It shows nothing and
// counts the calls for the whole process. Registered only in the test prefix (OutsideComponents.rgs).
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>

#include "QarnTestDoubles.h"

#include "ComObject.h"

class AboutDialogDouble
    : public qarn::ComObject<AboutDialogDouble, IAboutDialogDouble, IForwardAboutDialogHelper> {
public:
    STDMETHODIMP get_ShownCount(LONG* count) override;
    STDMETHODIMP get_LastApplicationWasGiven(VARIANT_BOOL* given) override;
    STDMETHODIMP ShowAboutDialog(IDispatch* application) override;
};
