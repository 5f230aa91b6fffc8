// CQarnComApplication: the process's application object. It holds the configuration read from the
// installation's XML files for every other object of the DLL, and can show a tray icon whose menu
// opens the about dialog.
#pragma once

#include "config/ConfigStore.h"
#include "config/ShellIcon.h"
#include "base/ConnectorInterfaces.h"

class CQarnComApplication : public qarn::ComObject<CQarnComApplication, IQarnComApplication>,
                            public qarn::config::CShellIconHelper<CQarnComApplication> {
public:
    STDMETHODIMP Init() override;
    STDMETHODIMP GetProperty(BSTR name, BSTR *value) override;
    STDMETHODIMP GetMessage(BSTR name, BSTR *value) override;
    STDMETHODIMP get_Properties(IFieldCollection **pVal) override;
    STDMETHODIMP put_Properties(IFieldCollection *newVal) override;
    STDMETHODIMP get_Messages(IFieldCollection **pVal) override;
    STDMETHODIMP put_Messages(IFieldCollection *newVal) override;
    STDMETHODIMP get_IsInitialized(VARIANT_BOOL *pVal) override;
    STDMETHODIMP SetShellIconVisible(VARIANT_BOOL b) override;
    STDMETHODIMP SetProperty(BSTR name, BSTR value) override;
    STDMETHODIMP get_JNIOptions(IFieldCollection **pVal) override;
    STDMETHODIMP put_JNIOptions(IFieldCollection *newVal) override;

    // The icon's callback message: a right click opens the menu, its "Info" the about dialog with
    // the process's application. Failures are left as the thread's error object; nothing leaves
    // the window procedure.
    static void OnUserCommand(HWND window, LPARAM mouseMessage) noexcept;

private:
    // The calls of every apartment reach this object through its own apartment, one at a time:
    // the store needs no lock of its own.
    qarn::config::ConfigStore config_;
    qarn::DataObjects objects_;
    VARIANT_BOOL initialized_ = VARIANT_FALSE;
};
