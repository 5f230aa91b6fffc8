// The method error frame, the raise routines and the log writer, called directly.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <new>
#include <regex>
#include <sstream>

#include "Errors.h"
#include "Log.h"
#include "TestSupport.h"

using test::MaskLines;
using test::TakeErrorDescription;

namespace {

HRESULT FailingCallee() {
    return qarn::MethodFrame(L"Inner::Call", [&] { CHECK_HR(E_ACCESSDENIED); });
}

}  // namespace

TEST(ErrorFrame, TurnsEveryKindOfFailureIntoADescription) {
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(S_OK, qarn::MethodFrame(L"C::Ok", [] {}));
    EXPECT_EQ(S_FALSE, qarn::MethodFrame(L"C::False", [] { return S_FALSE; }));

    // A bare HRESULT and a C++ exception both end in the method's "Unknown error in" text.
    EXPECT_EQ(DISP_E_EXCEPTION, qarn::MethodFrame(L"C::Bare", [] { qarn::ThrowHResult(E_OUTOFMEMORY); }));
    EXPECT_EQ(L"Unknown error in C::Bare\n   at C::Bare: line #", MaskLines(TakeErrorDescription()));
    EXPECT_EQ(DISP_E_EXCEPTION, qarn::MethodFrame(L"C::Alloc", [] { throw std::bad_alloc(); }));
    EXPECT_EQ(L"Unknown error in C::Alloc\n   at C::Alloc: line #", MaskLines(TakeErrorDescription()));

    // An error object without description: the fixed text with "Unknown function" and line 0.
    EXPECT_EQ(DISP_E_EXCEPTION, qarn::MethodFrame(L"C::NoText", [] { throw qarn::ComError(E_FAIL, nullptr); }));
    EXPECT_EQ(L"Unknown message\n   at Unknown function: line 0", TakeErrorDescription());
}

TEST(ErrorFrame, NullOutPointerNamesThePointerErrorWithTwoAtLines) {
    // A stale error object of an earlier, unread failure must not be taken for this one.
    qarn::SetErrorDescription(L"stale");
    HRESULT hr = qarn::MethodFrame(L"CQarnClassFactory::Create", [] {
        int* out = nullptr;
        CHECK_POINTER(out);
    });
    EXPECT_EQ(DISP_E_EXCEPTION, hr);
    std::wstring text = TakeErrorDescription();
    EXPECT_EQ(L"Unknown Error, code 0x80004003 (-2147467261)\n   at CQarnClassFactory::Create: line #\n"
              L"   at CQarnClassFactory::Create: line #",
              MaskLines(text));
}

TEST(ErrorFrame, CalleeTextStaysInFrontAndEveryMethodAddsItsLines) {
    HRESULT hr = qarn::MethodFrame(L"Outer::Call", [] { CHECK_HR(FailingCallee()); });
    EXPECT_EQ(DISP_E_EXCEPTION, hr);
    EXPECT_EQ(L"Unknown Error, code 0x80070005 (-2147024891)\n   at Inner::Call: line #\n   at Inner::Call: line #\n"
              L"   at Outer::Call: line #\n   at Outer::Call: line #",
              MaskLines(TakeErrorDescription()));
}

TEST(ErrorFrame, AtLinesNameTheFailingStatementAndTheMethodsFrame) {
    const int frameLine = __LINE__ + 1;
    HRESULT hr = qarn::MethodFrame(L"C::Lines", [] {
        THROW_MESSAGE(L"message");
    });
    EXPECT_EQ(DISP_E_EXCEPTION, hr);
    EXPECT_EQ(qarn::Format(L"message\n   at C::Lines: line %i\n   at C::Lines: line %i", frameLine + 1, frameLine),
              TakeErrorDescription());
}

TEST(ErrorFrame, CallerTextsAreNeverFormats) {
    qarn::ReportMethodError(L"100%s %n %d done", L"C::M", 7);
    EXPECT_EQ(L"100%s %n %d done\n   at C::M: line 7", TakeErrorDescription());
    qarn::ReportMethodError(nullptr, L"C::M", 7);
    EXPECT_EQ(L"Unknown message\n   at Unknown function: line 0", TakeErrorDescription());
    EXPECT_EQ(DISP_E_EXCEPTION, qarn::SetErrorDescription(nullptr));
    EXPECT_EQ(L"Unknown error", TakeErrorDescription());
}

TEST(ErrorFrame, ContextFramePutsTheContextFirst) {
    std::wstring context = L"Error in CQarnUtilities::GetPropertiesByName\n";
    HRESULT hr = qarn::MethodFrameWithContext(L"CQarnUtilities::GetPropertiesByName", context,
                                              [] { THROW_MESSAGE(L"inner text"); });
    EXPECT_EQ(DISP_E_EXCEPTION, hr);
    EXPECT_EQ(L"Error in CQarnUtilities::GetPropertiesByName\ninner text\n   at CQarnUtilities::GetPropertiesByName: "
              L"line #\n   at CQarnUtilities::GetPropertiesByName: line #",
              MaskLines(TakeErrorDescription()));
    hr = qarn::MethodFrameWithContext(L"CQarnUtilities::GetPropertiesByName", context, [] { throw 1; });
    EXPECT_EQ(L"Error in CQarnUtilities::GetPropertiesByName\nUnknown error in CQarnUtilities::GetPropertiesByName\n"
              L"   at CQarnUtilities::GetPropertiesByName: line #",
              MaskLines(TakeErrorDescription()));
}

TEST(ErrorFrame, ReportWithSourceNamesTheProgIdOfTheClass) {
    EXPECT_EQ(DISP_E_EXCEPTION, qarn::ReportErrorWithSource(CLSID_CQarnClassFactory, "index 12 %s", GUID_NULL, 0));
    Microsoft::WRL::ComPtr<IErrorInfo> info;
    ASSERT_EQ(S_OK, GetErrorInfo(0, &info));
    BSTR source = nullptr, text = nullptr;
    info->GetSource(&source);
    info->GetDescription(&text);
    EXPECT_EQ(L"QarnComConnector.CQarnClassFactory.1", test::ToWide(source));
    EXPECT_EQ(L"index 12 %s", test::ToWide(text));
    SysFreeString(source);
    SysFreeString(text);
    EXPECT_EQ(E_POINTER, qarn::ReportErrorWithSource(CLSID_CQarnClassFactory, nullptr, GUID_NULL, 0));
    EXPECT_EQ(E_ACCESSDENIED, qarn::ReportErrorWithSource(CLSID_CQarnClassFactory, "x", GUID_NULL, E_ACCESSDENIED));
    SetErrorInfo(0, nullptr);
}

TEST(ErrorFrame, LastErrorBecomesAWin32HResult) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    try {
        qarn::ThrowLastError();
        FAIL();
    } catch (const qarn::HResultError& e) {
        EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), e.hr);
    }
}

TEST(Format, WideFormatsReadWideTextAndLongResultsAreCut) {
    EXPECT_EQ(L"a=x\u00fc b=7", qarn::Format(L"a=%s b=%i", L"x\u00fc", 7));
    std::wstring longText(5000, L'y');
    EXPECT_EQ(2047u, qarn::Format(L"%s", longText.c_str()).size());
    EXPECT_EQ(9u, qarn::FormatCapped(10, L"%s", longText.c_str()).size());
}

namespace {

std::string ReadFile(const std::wstring& path) {
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f) return {};
    std::string data;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) data.append(buf, n);
    fclose(f);
    return data;
}

std::wstring TempFolder(const wchar_t* leaf) {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    return std::wstring(base) + leaf;
}

}  // namespace

TEST(LogFile, LinesCarryStampLevelAndTextAsUtf8) {
    std::wstring folder = TempFolder(L"qarnlog-a");
    std::wstring file = folder + L"\\deeper\\still\\trace.log";
    DeleteFileW(file.c_str());
    // The missing chain of folders is created in one step.
    EXPECT_EQ(S_OK, qarn::AppendLogLine(file.c_str(), 1, L"first"));
    EXPECT_EQ(S_OK, qarn::AppendLogLine(file.c_str(), 10, L"100% %s %n Gr\u00fc\u00dfe"));
    EXPECT_EQ(S_OK, qarn::AppendLogLine(file.c_str(), 100, L"last"));
    EXPECT_EQ(S_FALSE, qarn::AppendLogLine(file.c_str(), 0, L"never"));
    EXPECT_EQ(S_FALSE, qarn::AppendLogLine(nullptr, 1, L"never"));
    EXPECT_EQ(S_FALSE, qarn::AppendLogLine(file.c_str(), 1, nullptr));

    std::string data = ReadFile(file);
    std::regex line(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} - ( {2}1| 10|100) - ([^\r\n]*)\r\n)");
    std::vector<std::string> levels, texts;
    for (std::sregex_iterator it(data.begin(), data.end(), line), end; it != end; ++it) {
        levels.push_back((*it)[1]);
        texts.push_back((*it)[2]);
    }
    ASSERT_EQ(3u, levels.size()) << data;
    EXPECT_EQ("  1", levels[0]);
    EXPECT_EQ(" 10", levels[1]);
    EXPECT_EQ("100", levels[2]);
    EXPECT_EQ("100% %s %n Gr\xc3\xbc\xc3\x9f" "e", texts[1]);
    EXPECT_EQ(std::string::npos, data.find("never"));
    EXPECT_NE(0xEF, static_cast<unsigned char>(data[0])) << "no byte-order mark";
}

TEST(LogFile, SettingsFollowTheEnvironmentAndTheLevelLimit) {
    std::wstring file = TempFolder(L"qarnlog-b.log");
    DeleteFileW(file.c_str());
    SetEnvironmentVariableW(L"QarnLogFile", nullptr);
    qarn::LogSettings off;
    off.InitFromEnvironment();
    EXPECT_FALSE(off.Enabled());
    EXPECT_EQ(S_OK, off.Write(10, L"nothing"));

    // Set, even to an empty text, switches logging on.
    SetEnvironmentVariableW(L"QarnLogFile", L"");
    qarn::LogSettings empty;
    empty.InitFromEnvironment();
    EXPECT_TRUE(empty.Enabled());

    SetEnvironmentVariableW(L"QarnLogFile", file.c_str());
    qarn::LogSettings on;
    on.InitFromEnvironment();
    SetEnvironmentVariableW(L"QarnLogFile", nullptr);
    ASSERT_TRUE(on.Enabled());
    EXPECT_EQ(S_OK, on.Write(101, L"too high"));
    EXPECT_EQ(S_FALSE, on.Write(-1, L"too low"));
    EXPECT_EQ(S_OK, on.Write(100, L"kept"));
    std::string data = ReadFile(file);
    EXPECT_NE(std::string::npos, data.find(" - 100 - kept"));
    EXPECT_EQ(std::string::npos, data.find("too"));
}
