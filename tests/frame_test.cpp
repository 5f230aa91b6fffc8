// The method error frame, the raise routines and the log writer, called directly.
#include <gtest/gtest.h>

#include <regex>

#include "Errors.h"
#include "Log.h"
#include "TestSupport.h"
#include "UtilitiesSupport.h"

using namespace test;

namespace {

// Runs `body` in a frame named `name`, expects the frame's failure and returns its masked text.
template <class F>
std::wstring Failure(const wchar_t* name, F body) {
    EXPECT_EQ(DISP_E_EXCEPTION, qarn::MethodFrame(name, body));
    return MaskLines(TakeErrorDescription());
}

TEST(ErrorFrame, TurnsEveryKindOfFailureIntoADescription) {
    // A bare HRESULT (like any C++ exception) ends in the method's "Unknown error in" text.
    EXPECT_EQ(L"Unknown error in C::Bare\n   at C::Bare: line #", Failure(L"C::Bare", [] { qarn::ThrowHResult(E_OUTOFMEMORY); }));
    // An error object without description: the fixed text with "Unknown function" and line 0.
    EXPECT_EQ(DISP_E_EXCEPTION, qarn::MethodFrame(L"C::NoText", [] { throw qarn::ComError(E_FAIL, nullptr); }));
    EXPECT_EQ(L"Unknown message\n   at Unknown function: line 0", TakeErrorDescription());

    // A stale error object of an earlier, unread failure must not be taken for this one.
    qarn::SetErrorDescription(L"stale");
    EXPECT_EQ(L"Unknown Error, code 0x80004003 (-2147467261)\n   at CQarnClassFactory::Create: line #\n"
              L"   at CQarnClassFactory::Create: line #",
              Failure(L"CQarnClassFactory::Create", [] {
                  int* out = nullptr;
                  CHECK_POINTER(out);
              }));

    // The callee's text stays in front and every method adds its lines.
    EXPECT_EQ(L"Unknown Error, code 0x80070005 (-2147024891)\n   at Inner::Call: line #\n   at Inner::Call: line #\n"
              L"   at Outer::Call: line #\n   at Outer::Call: line #",
              Failure(L"Outer::Call", [] { CHECK_HR(qarn::MethodFrame(L"Inner::Call", [] { CHECK_HR(E_ACCESSDENIED); })); }));
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

TEST(ErrorFrame, NullTextsGetFixedOnesAndTheContextComesFirst) {
    // A caller's text is never a format: errors.vbs and errors.js fail with "50% of %s done %n".
    qarn::ReportMethodError(nullptr, L"C::M", 7);
    EXPECT_EQ(L"Unknown message\n   at Unknown function: line 0", TakeErrorDescription());
    EXPECT_EQ(DISP_E_EXCEPTION, qarn::SetErrorDescription(nullptr));
    EXPECT_EQ(L"Unknown error", TakeErrorDescription());

    const wchar_t* name = L"CQarnUtilities::GetPropertiesByName";
    std::wstring context = L"Error in CQarnUtilities::GetPropertiesByName\n";
    EXPECT_EQ(DISP_E_EXCEPTION, qarn::MethodFrame(name, [] { THROW_MESSAGE(L"inner text"); }, qarn::frame::WithContext{context}));
    EXPECT_EQ(L"Error in CQarnUtilities::GetPropertiesByName\ninner text\n   at CQarnUtilities::GetPropertiesByName: "
              L"line #\n   at CQarnUtilities::GetPropertiesByName: line #",
              MaskLines(TakeErrorDescription()));
    EXPECT_EQ(DISP_E_EXCEPTION, qarn::MethodFrame(name, [] { throw 1; }, qarn::frame::WithContext{context}));
    EXPECT_EQ(L"Error in CQarnUtilities::GetPropertiesByName\nUnknown error in CQarnUtilities::GetPropertiesByName\n"
              L"   at CQarnUtilities::GetPropertiesByName: line #",
              MaskLines(TakeErrorDescription()));
}

TEST(ErrorFrame, ReportWithSourceKeepsItsTextAndLastErrorBecomesAWin32HResult) {
    // The source ProgID is checked with every failure code of the Secure tests.
    EXPECT_EQ(DISP_E_EXCEPTION, qarn::ReportErrorWithSource(CLSID_CQarnClassFactory, "index 12 %s", GUID_NULL, 0));
    EXPECT_EQ(L"index 12 %s", TakeErrorDescription());

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

// The log file's text with every time stamp replaced by "T".
std::string LogText(const std::wstring& file) {
    static const std::regex stamp(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} - )");
    return std::regex_replace(ScratchFolder::Read(file), stamp, "T - ");
}

TEST(LogFile, LinesCarryStampLevelAndTextAsUtf8WithoutMark) {
    ScratchFolder dir(L"log");
    const std::wstring file = dir / L"deeper\\still\\trace.log";  // the missing folders are created
    EXPECT_EQ(S_OK, qarn::AppendLogLine(file.c_str(), 1, L"first"));
    EXPECT_EQ(S_OK, qarn::AppendLogLine(file.c_str(), 10, L"100% %s %n Gr\u00fc\u00dfe"));
    EXPECT_EQ(S_OK, qarn::AppendLogLine(file.c_str(), 100, L"last"));
    // Levels 0 and below and a null text: ClassFactory.WriteLogMessageHonoursLevelsAndTheEnvironment.
    EXPECT_EQ(S_FALSE, qarn::AppendLogLine(nullptr, 1, L"never"));
    EXPECT_EQ("T -   1 - first\r\nT -  10 - 100% %s %n Gr\xc3\xbc\xc3\x9f" "e\r\nT - 100 - last\r\n", LogText(file));
}


}  // namespace
