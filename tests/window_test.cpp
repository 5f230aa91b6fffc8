// The application's tray icon: its hidden window and the menu path of a right click. These tests
// need a display; the test command runs them under a virtual X server.
#include <gtest/gtest.h>

#include <string>

#include "TestSupport.h"
#include "UtilitiesSupport.h"

using namespace test;

namespace {

// Without a display Wine cannot create windows at all.
class Window : public ::testing::Test {
protected:
    void SetUp() override {
        if (!qarn::EnvironmentValue(L"DISPLAY")) GTEST_SKIP() << "no display: run the tests under xvfb-run";
    }
};

HWND IconWindow() { return FindWindowW(nullptr, L"ShellIconHiddenWindow"); }

// Right-clicks the icon and chooses "Info": the keys wait in the queue for the menu's own loop,
// and a timer closes a menu that did not take them, so a failure cannot hang the test.
void ChooseInfo(HWND window) {
    PostMessageW(window, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageW(window, WM_KEYDOWN, VK_RETURN, 0);
    const UINT_PTR guard = SetTimer(nullptr, 0, 5000, [](HWND, UINT, UINT_PTR, DWORD) { EndMenu(); });
    SetErrorInfo(0, nullptr);
    SendMessageW(window, WM_USER, 0, WM_RBUTTONUP);
    KillTimer(nullptr, guard);
}

TEST_F(Window, IconFollowsTheApplication) {
    auto app = Create<IQarnComApplication>(CLSID_CQarnComApplication);
    ASSERT_EQ(nullptr, IconWindow());
    ASSERT_EQ(S_OK, app->SetShellIconVisible(VARIANT_TRUE));
    EXPECT_NE(nullptr, IconWindow());
    ASSERT_EQ(S_OK, app->SetShellIconVisible(1));
    EXPECT_EQ(nullptr, IconWindow()) << "only VARIANT_TRUE shows the icon";
    ASSERT_EQ(S_OK, app->SetShellIconVisible(VARIANT_TRUE));
    ASSERT_EQ(S_OK, app->SetShellIconVisible(VARIANT_TRUE));
    app.Reset();
    EXPECT_EQ(nullptr, IconWindow()) << "a released application takes its icon along";
}

// "Info" hands the shared application to the about dialog; with the dialog's component missing the
// failure is reported on the thread and the icon goes on working.
TEST_F(Window, InfoOpensTheAboutDialog) {
    ScopedVariable rootVariable(L"QarnRootDir", SourcePath("samples/installation").c_str());
    auto factory = Create<IQarnClassFactory>(CLSID_CQarnClassFactory);
    ComPtr<IQarnComApplication> app;
    ASSERT_EQ(S_OK, factory->Create(&app));
    ASSERT_EQ(S_OK, app->SetShellIconVisible(VARIANT_TRUE));
    HWND window = IconWindow();
    ASSERT_NE(nullptr, window);
    const wchar_t progId[] = L"QarnComDialogs.CQarnAboutDlg";
    CLSID aboutClass;
    ASSERT_EQ(S_OK, CLSIDFromProgID(progId, &aboutClass));
    auto about = Create<IDispatch>(aboutClass);
    const long before = DispatchGet(about.Get(), L"ShownCount").lVal;

    ChooseInfo(window);
    EXPECT_EQ(before + 1, DispatchGet(about.Get(), L"ShownCount").lVal);
    EXPECT_EQ(VARIANT_TRUE, DispatchGet(about.Get(), L"LastApplicationWasGiven").boolVal);

    ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeW(HKEY_CLASSES_ROOT, progId));
    ChooseInfo(window);
    const std::wstring report = TakeErrorDescription();
    RegSetValueW(HKEY_CLASSES_ROOT, (std::wstring(progId) + L"\\CLSID").c_str(), REG_SZ, qarn::GuidText(aboutClass).c_str(), 0);
    EXPECT_EQ(0u, report.find(L"CLSID by name not found (QarnComDialogs.CQarnAboutDlg): 0x800401F3")) << report;
    EXPECT_NE(std::wstring::npos, report.find(L"at CQarnComApplication::OnUserCommand"));
    EXPECT_EQ(before + 1, DispatchGet(about.Get(), L"ShownCount").lVal);

    ASSERT_EQ(window, IconWindow());
    ChooseInfo(window);
    EXPECT_EQ(before + 2, DispatchGet(about.Get(), L"ShownCount").lVal) << "the icon keeps working";
    app->SetShellIconVisible(VARIANT_FALSE);
    factory->Destroy();
}

}  // namespace
