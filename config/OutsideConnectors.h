// Outside components that the class factory and the application object create but do not ship:
// the PLM connectors, which the factory prepares right after creating them, and the about dialog
// of the tray icon's menu. Only these two interfaces of theirs are used.
#pragma once

#include "base/ConnectorInterfaces.h"

// {0570BFD8-9B3A-4EBF-805C-4F80D2C981CC}
struct IClassCreatorHelper : public IUnknown {
    // Tells a connector which handler class to use and the environment it runs in (CEE and GT).
    virtual HRESULT STDMETHODCALLTYPE SetHandler(BSTR handlerClass, IFieldCollection* environment) = 0;
    // Makes a newly created connector ready for use (every other connector kind).
    virtual HRESULT STDMETHODCALLTYPE Prepare() = 0;
};
__CRT_UUID_DECL(IClassCreatorHelper, 0x0570bfd8, 0x9b3a, 0x4ebf, 0x80, 0x5c, 0x4f, 0x80, 0xd2, 0xc9, 0x81, 0xcc)

// {632EE4A2-BC9F-4BAE-98F0-01C122BE4182}
struct IForwardAboutDialogHelper : public IUnknown {
    // Shows the about dialog for the process's application object.
    virtual HRESULT STDMETHODCALLTYPE ShowAboutDialog(IQarnComApplication* application) = 0;
};
__CRT_UUID_DECL(IForwardAboutDialogHelper, 0x632ee4a2, 0xbc9f, 0x4bae, 0x98, 0xf0, 0x01, 0xc1, 0x22, 0xbe, 0x41, 0x82)

namespace qarn::config {

inline constexpr wchar_t kAboutDialogClass[] = L"QarnComDialogs.CQarnAboutDlg";
inline constexpr wchar_t kAboutDialogIid[] = L"{075CBE50-17FA-46C0-8F84-2F9DF2B7CBD5}";

// Creates the class registered under the ProgID `className` in process, asks it for the interface
// named by `iidText` and then for IDispatch. Every failure is reported as the thread's error
// object with an "at" line of `reporter` and gives DISP_E_EXCEPTION; `result` is then untouched.
HRESULT CreateClassByName(BSTR className, BSTR iidText, const wchar_t* reporter, IDispatch** result);

}  // namespace qarn::config
