// Windows of the server: the application's tray icon (its hidden window and the menu path of a right
// click) and the list view dialog. These tests need a display; the test command runs them under a
// virtual X server.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

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
void CALLBACK CloseMenu(HWND, UINT, UINT_PTR, DWORD) { EndMenu(); }

void ChooseInfo(HWND window) {
    PostMessageW(window, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageW(window, WM_KEYDOWN, VK_RETURN, 0);
    const UINT_PTR guard = SetTimer(nullptr, 0, 5000, CloseMenu);
    SetErrorInfo(0, nullptr);
    SendMessageW(window, WM_USER, 0, WM_RBUTTONUP);
    KillTimer(nullptr, guard);
}

// Only VARIANT_TRUE shows the icon (the shared application's icon from other apartments: host_safety).
// "Info" hands the process's application to the about dialog; with the dialog's component missing
// the failure is reported on the window's thread and the icon goes on working. The icon here is an
// application object of this apartment's own, so that its window is this thread's.
TEST_F(Window, InfoOpensTheAboutDialog) {
    ScopedVariable rootVariable(L"QarnRootDir", SourcePath("samples/installation").c_str());
    auto factory = Create<IQarnClassFactory>(CLSID_CQarnClassFactory);
    ComPtr<IQarnComApplication> shared;
    ASSERT_EQ(S_OK, factory->Create(&shared));
    auto app = Create<IQarnComApplication>(CLSID_CQarnComApplication);
    ASSERT_EQ(nullptr, IconWindow());
    ASSERT_EQ(S_OK, app->SetShellIconVisible(VARIANT_TRUE));
    EXPECT_NE(nullptr, IconWindow());
    ASSERT_EQ(S_OK, app->SetShellIconVisible(1));
    EXPECT_EQ(nullptr, IconWindow()) << "only VARIANT_TRUE shows the icon";
    for (int twice = 0; twice < 2; ++twice) ASSERT_EQ(S_OK, app->SetShellIconVisible(VARIANT_TRUE));
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

// What a second thread reads from the list view dialog through window messages before it presses OK.
struct DialogContent {
    bool found = false;
    bool closedByOk = false;
    std::wstring title;
    Texts headers;
    std::vector<int> widths;
    std::vector<std::vector<std::wstring>> rows;
};

// Window callbacks are plain functions: a lambda has no stdcall form for the 32-bit build.
BOOL CALLBACK FindVisibleDialog(HWND window, LPARAM out) {
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    if (std::wstring(name) != L"#32770" || !IsWindowVisible(window)) return TRUE;
    *reinterpret_cast<HWND*>(out) = window;
    return FALSE;
}

HWND VisibleDialogOf(DWORD thread) {
    HWND found = nullptr;
    EnumThreadWindows(thread, FindVisibleDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

std::wstring ItemText(HWND list, int item, int subItem) {
    wchar_t buffer[256] = {};
    LVITEMW cell{0, 0, subItem, 0, 0, buffer, 256};
    SendMessageW(list, LVM_GETITEMTEXTW, item, reinterpret_cast<LPARAM>(&cell));
    return buffer;
}

// Calls Show on this thread while a second thread waits for the dialog to become visible (it is
// shown after it has been filled), reads it and presses OK. Without a dialog within ten seconds the
// reader gives up, so a fault cannot hang the test.
HRESULT ShowAndRead(IQarnGenericListViewControl* control, IQarnDocument* document, DialogContent& content) {
    const DWORD thread = GetCurrentThreadId();
    std::thread reader([&] {
        HWND dialog = nullptr;
        for (int i = 0; i < 200 && !dialog; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            dialog = VisibleDialogOf(thread);
        }
        if (!dialog) return;
        content.found = true;
        wchar_t title[256] = {};
        GetWindowTextW(dialog, title, 256);
        content.title = title;
        HWND list = GetDlgItem(dialog, 202);
        const int columns = static_cast<int>(SendMessageW(reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0)), HDM_GETITEMCOUNT, 0, 0));
        for (int c = 0; c < columns; ++c) {
            wchar_t header[256] = {};
            LVCOLUMNW column{LVCF_TEXT, 0, 0, header, 256};
            SendMessageW(list, LVM_GETCOLUMNW, c, reinterpret_cast<LPARAM>(&column));
            content.headers.push_back(header);
            content.widths.push_back(static_cast<int>(SendMessageW(list, LVM_GETCOLUMNWIDTH, c, 0)));
        }
        const int items = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
        for (int r = 0; r < items; ++r) {
            content.rows.emplace_back();
            for (int c = 0; c < columns; ++c) content.rows.back().push_back(ItemText(list, r, c));
        }
        SendMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
        for (int i = 0; i < 100 && IsWindow(dialog); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        content.closedByOk = !IsWindow(dialog);
        if (!content.closedByOk) PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    const HRESULT hr = control->Show(document);
    reader.join();
    return hr;
}

std::wstring Field(const wchar_t* name, const wchar_t* value) {
    return std::wstring(L"<Field><Name>") + name + L"</Name><Value>" + value + L"</Value></Field>";
}

// A column description (a row of the table "Columns"): caption, width (null: none), where the cell comes from.
std::wstring Column(const wchar_t* caption, const wchar_t* width, const std::wstring& source) {
    return L"<FieldCollection>" + Field(L"Caption", caption) + (width ? Field(L"Width", width) : L"") + source + L"</FieldCollection>";
}

// A result row: the number as a field, the plant in the structure HEAD (when given), and two
// positions in the table ITEMS.
std::wstring ResultRow(const wchar_t* number, const wchar_t* plant) {
    const std::wstring head = plant ? L"<StructureCollection><Structure><Name>HEAD</Name><FieldCollection>" + Field(L"Plant", plant) +
                                          L"</FieldCollection></Structure></StructureCollection>" : L"";
    return L"<QarnDocument><Parameter><FieldCollection>" + Field(L"Number", number) + L"</FieldCollection>" + head +
           L"<TableCollection><Table><Name>ITEMS</Name><FieldCollectionTable><FieldCollection>" + Field(L"Pos", L"10") +
           L"</FieldCollection><FieldCollection>" + Field(L"Pos", number) +
           L"</FieldCollection></FieldCollectionTable></Table></TableCollection></Parameter></QarnDocument>";
}

// The document the dialog shows: a caption, the columns and, unless `rows` is empty, its rows.
ComPtr<IQarnDocument> ListDocument(IQarnUtilities* utilities, const std::wstring& rows) {
    // Widths and row numbers are read as far as they are numbers ("120px", "2 ").
    const std::wstring positions = Field(L"Subtype", L"TableCollection") + Field(L"Attribut", L"Pos") + Field(L"Tablename", L"ITEMS");
    const std::wstring columns =
        Column(L"Number", L"120px", Field(L"Subtype", L"FieldCollection") + Field(L"Attribut", L"Number")) +
        Column(L"No width", nullptr, positions + Field(L"Row", L"2 ")) +
        Column(L"Plant", L"-1", Field(L"Subtype", L"StructureCollection") + Field(L"Attribut", L"Plant") + Field(L"Structurename", L"HEAD")) +
        Column(L"First position", L"90", positions + Field(L"Row", L"1"));
    const std::wstring xml = L"<QarnDocument><Parameter><FieldCollection>" + Field(L"Caption", L"Parts found") +
                             L"</FieldCollection><TableCollection><Table><Name>Columns</Name><FieldCollectionTable>" + columns +
                             L"</FieldCollectionTable></Table></TableCollection></Parameter>" +
                             (rows.empty() ? L"" : L"<QarnDocumentCollection>" + rows + L"</QarnDocumentCollection>") + L"</QarnDocument>";
    ComPtr<IQarnDocument> document;
    EXPECT_EQ(S_OK, utilities->GetXmlQarnDocumentFromString(Str(xml.c_str()), nullptr, &document)) << TakeErrorDescription();
    return document;
}

ULONG References(IUnknown* object) { return object->AddRef(), object->Release(); }

// The incomplete description (no width) gets no column, but its cells still take the place of its
// number: description c fills sub-item c - 1 whatever columns exist, so the cells of the later
// descriptions move one column to the right and the last ones have no column. A row without the
// structure shows an empty cell in its place.
TEST_F(Window, ListViewShowsTheRows) {
    ScopedVariable rootVariable(L"QarnRootDir", SourcePath("samples/installation").c_str());
    auto utilities = Create<IQarnUtilities>(CLSID_CQarnUtilities);
    auto document = ListDocument(utilities.Get(), ResultRow(L"P-100", L"1000") + ResultRow(L"P-200", nullptr) +
                                                       ResultRow(L"P-300", L"2000"));
    ASSERT_TRUE(document);
    auto control = Create<IQarnGenericListViewControl>(CLSID_QarnGenericListViewControl);
    DialogContent shown;
    SetErrorInfo(0, nullptr);
    ASSERT_EQ(S_OK, ShowAndRead(control.Get(), document.Get(), shown)) << TakeErrorDescription();
    ASSERT_TRUE(shown.found);
    EXPECT_TRUE(shown.closedByOk);
    EXPECT_EQ(L"", TakeErrorDescription());
    EXPECT_EQ(L"Parts found", shown.title);
    EXPECT_EQ((Texts{L"Number", L"Plant", L"First position"}), shown.headers);
    ASSERT_EQ(3u, shown.widths.size());
    EXPECT_TRUE(shown.widths[0] == 120 && shown.widths[2] == 90);
    EXPECT_EQ((std::vector<Texts>{{L"P-100", L"P-100", L"1000"}, {L"P-200", L"P-200", L""}, {L"P-300", L"P-300", L"2000"}}),
              shown.rows);
}

// Without children only the headers show; a null document and a configuration that cannot be read
// leave the dialog empty (the latter reported on the thread). A new Show lets go of the last document.
TEST_F(Window, ListViewWithoutRows) {
    auto utilities = Create<IQarnUtilities>(CLSID_CQarnUtilities);
    auto document = ListDocument(utilities.Get(), L"");
    ASSERT_TRUE(document);
    auto control = Create<IQarnGenericListViewControl>(CLSID_QarnGenericListViewControl);
    const ULONG unused = References(document.Get());
    {
        ScopedVariable rootVariable(L"QarnRootDir", SourcePath("samples/installation").c_str());
        DialogContent shown;
        ASSERT_EQ(S_OK, ShowAndRead(control.Get(), document.Get(), shown)) << TakeErrorDescription();
        EXPECT_TRUE(shown.closedByOk && shown.title == L"Parts found" && shown.headers.size() == 3 && shown.rows.empty());
        EXPECT_EQ(unused + 1, References(document.Get())) << "the dialog object keeps its document";
    }
    DialogContent empty;
    ASSERT_EQ(S_OK, ShowAndRead(control.Get(), nullptr, empty));
    EXPECT_TRUE(empty.found && empty.closedByOk && empty.title.empty() && empty.headers.empty());
    EXPECT_EQ(unused, References(document.Get())) << "the earlier dialog object is released";

    ScopedVariable rootVariable(L"QarnRootDir", L"Z:\\nonexistent\\installation");
    DialogContent unconfigured;
    SetErrorInfo(0, nullptr);
    ASSERT_EQ(S_OK, ShowAndRead(control.Get(), document.Get(), unconfigured));
    EXPECT_TRUE(unconfigured.found && unconfigured.headers.empty() && unconfigured.title.empty());
    const std::wstring report = TakeErrorDescription();
    EXPECT_NE(std::wstring::npos, report.find(L"nonexistent")) << report;
    EXPECT_NE(std::wstring::npos, report.find(L"at CGenericListControl::OnInitDialog")) << report;
}

}  // namespace
