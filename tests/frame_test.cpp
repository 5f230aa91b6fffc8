// The method error frame, the raise routines, the log writer, the environment and the records of
// outside inputs, called directly.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <optional>
#include <set>
#include <thread>

#include "Errors.h"
#include "Log.h"
#include "TestSupport.h"
#include "base/UtilityServices.h"
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

// Each failing statement stands on the line below its frame's call.
TEST(ErrorFrame, AtLinesNameTheFailingStatementAndTheMethodsFrame) {
    const auto expect = [](HRESULT hr, const wchar_t* message, int frameLine) {
        EXPECT_EQ(DISP_E_EXCEPTION, hr);
        EXPECT_EQ(qarn::Format(L"%s\n   at C::Lines: line %i\n   at C::Lines: line %i", message, frameLine + 1, frameLine),
                  TakeErrorDescription());
    };
    int frameLine = __LINE__ + 1;
    HRESULT hr = qarn::MethodFrame(L"C::Lines", [] {
        THROW_MESSAGE(L"message");
    });
    expect(hr, L"message", frameLine);
    frameLine = __LINE__ + 1;
    hr = qarn::MethodFrame(L"C::Lines", [] {
        CHECK_HR(E_ACCESSDENIED);
    });
    expect(hr, L"Unknown Error, code 0x80070005 (-2147024891)", frameLine);
    frameLine = __LINE__ + 1;
    hr = qarn::MethodFrame(L"C::Lines", [] {
        CHECK_POINTER(static_cast<int*>(nullptr));
    });
    expect(hr, L"Unknown Error, code 0x80004003 (-2147467261)", frameLine);
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

// Every read of the environment sees the calling thread's override, and only that thread does.
TEST(Environment, ReadsAndExpansionsSeeTheThreadsOverride) {
    ScopedVariable site(L"QARN_ENV_SITE", L"process");
    ScopedVariable empty(L"QARN_ENV_EMPTY", L"");
    const std::wstring text = L"%QARN_ENV_SITE%|%QARN_ENV_UNSET%|100%";
    EXPECT_EQ(L"process|%QARN_ENV_UNSET%|100%", qarn::ExpandEnvironment(text));
    const std::wstring longValue(200, L'v');
    ScopedVariable longOne(L"QARN_ENV_LONG", longValue.c_str());
    for (int overridden = 0; overridden < 2; ++overridden) {
        std::optional<qarn::ThreadEnvironmentOverride> scope;
        if (overridden) scope.emplace(L"qarn_env_site", L"thread");
        const std::wstring expected = overridden ? L"thread" : L"process";
        EXPECT_EQ(expected, qarn::EnvironmentValue(L"QARN_ENV_SITE"));
        EXPECT_EQ(expected + L"|%QARN_ENV_UNSET%|100%", qarn::ExpandEnvironment(text));
        EXPECT_TRUE(qarn::EnvironmentValueIs(L"QARN_ENV_SITE", expected));
        EXPECT_FALSE(qarn::EnvironmentValueIs(L"QARN_ENV_SITE", expected.substr(1))) << "a longer value";
        EXPECT_FALSE(qarn::EnvironmentValueIs(L"QARN_ENV_SITE", expected + L"s")) << "a shorter value";
        EXPECT_TRUE(qarn::EnvironmentValueIs(L"QARN_ENV_EMPTY", L"")) << "set to empty";
        EXPECT_FALSE(qarn::EnvironmentValueIs(L"QARN_ENV_UNSET", L""));
        EXPECT_TRUE(qarn::EnvironmentValueIs(L"QARN_ENV_LONG", longValue)) << "longer than the buffer";
        const std::wstring entry = overridden ? L"qarn_env_site=thread" : L"QARN_ENV_SITE=process";
        EXPECT_NE(std::wstring::npos, qarn::EnvironmentBlock().find(entry + L'\0')) << "in the block";
        std::wstring otherThread;
        std::thread([&] { otherThread = qarn::ExpandEnvironment(L"%QARN_ENV_SITE%"); }).join();
        EXPECT_EQ(L"process", otherThread);
    }
}

// A record notes outside inputs made while it is open on its thread, and so do the records around it.
TEST(InputRecord, NotesWhatHappensWhileItIsOpenOnItsThread) {
    qarn::InputRecord outer;
    EXPECT_TRUE(outer.FilesOnly());
    {
        qarn::InputRecord inner;
        std::thread([] { qarn::InputRecord::NoteOutside(); }).join();
        EXPECT_TRUE(inner.FilesOnly()) << "another thread's input";
        qarn::InputRecord::NoteOutside();
        EXPECT_FALSE(inner.FilesOnly());
    }
    EXPECT_FALSE(outer.FilesOnly());
    qarn::InputRecord later;
    EXPECT_TRUE(later.FilesOnly()) << "opened after the input";
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

    // A quote is in no folder's name: the command that creates missing folders is not run for one
    // (it would end the quoted name and run the rest).
    const std::wstring marker = dir / L"ran.txt";
    const std::wstring quoted = dir / (L"a\" & echo x > \"" + marker + L"\" & \"b\\trace.log");
    qarn::AppendLogLine(quoted.c_str(), 1, L"never");
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(marker.c_str())) << "the rest of the folder text ran as a command";
}


// The members a class's frames may name: the methods and properties (get_/put_/putref_) of every
// interface its coclass implements in the type library `lib`.
void AddMembers(ITypeLib* lib, std::map<std::wstring, std::set<std::wstring>>& members) {
    for (UINT i = 0, n = lib->GetTypeInfoCount(); i < n; ++i) {
        ComPtr<ITypeInfo> coclass;
        TYPEATTR* attr = nullptr;
        ASSERT_EQ(S_OK, lib->GetTypeInfo(i, &coclass));
        ASSERT_EQ(S_OK, coclass->GetTypeAttr(&attr));
        const bool isClass = attr->typekind == TKIND_COCLASS;
        const WORD implemented = attr->cImplTypes;
        coclass->ReleaseTypeAttr(attr);
        if (!isClass) continue;
        BSTR className = nullptr;
        coclass->GetDocumentation(MEMBERID_NIL, &className, nullptr, nullptr, nullptr);
        std::set<std::wstring>& names = members[className];
        SysFreeString(className);
        for (UINT k = 0; k < implemented; ++k) {
            HREFTYPE ref = 0;
            ComPtr<ITypeInfo> iface;
            ASSERT_EQ(S_OK, coclass->GetRefTypeOfImplType(k, &ref));
            ASSERT_EQ(S_OK, coclass->GetRefTypeInfo(ref, &iface));
            TYPEATTR* ia = nullptr;
            ASSERT_EQ(S_OK, iface->GetTypeAttr(&ia));
            for (UINT f = 0; f < ia->cFuncs; ++f) {
                FUNCDESC* desc = nullptr;
                ASSERT_EQ(S_OK, iface->GetFuncDesc(f, &desc));
                BSTR name = nullptr;
                iface->GetDocumentation(desc->memid, &name, nullptr, nullptr, nullptr);
                const wchar_t* prefix = desc->invkind == INVOKE_PROPERTYGET      ? L"get_"
                                        : desc->invkind == INVOKE_PROPERTYPUT    ? L"put_"
                                        : desc->invkind == INVOKE_PROPERTYPUTREF ? L"putref_"
                                                                                 : L"";
                names.insert(prefix + std::wstring(name));
                SysFreeString(name);
                iface->ReleaseFuncDesc(desc);
            }
            iface->ReleaseTypeAttr(ia);
        }
    }
}

}  // namespace

// Every "Class::Member" a frame or a report names in the product's sources is a member of that
// class in the type libraries, so that the "at" lines callers see name what they called. The
// exceptions are the names of internal steps whose reports carry their own name.
TEST(ErrorFrame, FrameNamesAreTheTypeLibrarysMemberNames) {
    std::map<std::wstring, std::set<std::wstring>> members;
    for (const GUID* lib : {&LIBID_QarnComConnector, &LIBID_QarnComDatatypes}) {
        ComPtr<ITypeLib> library;
        ASSERT_EQ(S_OK, LoadRegTypeLib(*lib, 1, 0, 0, &library));
        AddMembers(library.Get(), members);
    }
    ASSERT_GT(members[L"CQarnUtilities"].size(), 100u);
    // Classes whose frames carry another name than their coclass.
    const std::map<std::wstring, std::wstring> classAliases = {
        {L"CGenericListControl", L"QarnGenericListViewControl"},
        {L"CQarnGenericListViewControl", L"QarnGenericListViewControl"},
    };
    // Internal steps that report under their own name (the data-type server's internal interfaces
    // among them); GetMessageW is GetMessage as the Windows headers rename it.
    const std::set<std::wstring> internal = {
        L"CGenericListControl::AddLine", L"CGenericListControl::DisplayResult",
        L"CGenericListControl::OnInitDialog", L"CQarnClassFactory::FinalConstruct",
        L"CQarnComApplication::OnUserCommand", L"CQarnTimer::Start", L"CQarnUtilities::CheckForMerge",
        L"CQarnUtilities::DOMCreateFieldCollectionEntry_intern", L"CQarnUtilities::DOMCreateMapping",
        L"CQarnUtilities::DOMCreateStructureCollectionEntry_intern",
        L"CQarnUtilities::DOMCreateTableCollectionEntry_intern", L"CQarnUtilities::DecryptLogon2",
        L"CQarnUtilities::DetermineNodeNameForAliasName", L"CQarnUtilities::FinalConstruct",
        L"CQarnUtilities::GetMessageW", L"CQarnUtilities::GetParameterList", L"CQarnUtilities::GetSAPInformation",
        L"CQarnUtilities::GetSAPLogonFC", L"CQarnUtilities::Mapping_intern", L"CQarnUtilities::MergeByFlag",
        L"CQarnUtilities::SetContext", L"CQarnUtilities::WriteLogMessage", L"FieldCollection::AppendTextFields",
        L"FieldCollection::NewAttributedField", L"ParameterList::GetWellFormedXml", L"ParameterList::ReadSnapshot",
        L"ParameterList::Snapshot",
        L"QarnSecureDataMapper::CheckAttributes", L"QarnSecureDataMapper::Process",
    };

    static const std::wregex named(LR"(L"([A-Za-z_]\w*)::(\w+)\")");
    size_t checked = 0;
    std::set<std::wstring> used;
    for (const char* folder : {"base", "server", "config", "paramlist", "documents", "dom", "secure", "logon", "components",
                               "datatypes"}) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(SourcePath(folder))) {
            const std::wstring ext = entry.path().extension().wstring();
            if (ext != L".cpp" && ext != L".h") continue;
            const std::string bytes = ScratchFolder::Read(entry.path().wstring());
            const std::wstring text(bytes.begin(), bytes.end());
            for (std::wsregex_iterator it(text.begin(), text.end(), named), end; it != end; ++it) {
                const std::wstring full = (*it)[1].str() + L"::" + (*it)[2].str();
                ++checked;
                if (internal.count(full)) {
                    used.insert(full);
                    continue;
                }
                const auto alias = classAliases.find((*it)[1].str());
                const std::wstring cls = alias == classAliases.end() ? (*it)[1].str() : alias->second;
                EXPECT_TRUE(members.count(cls) && members[cls].count((*it)[2].str()))
                    << std::string(full.begin(), full.end()) << " in " << entry.path().string() << " is no member of the type library";
            }
        }
    }
    EXPECT_GT(checked, 200u);
    // An exception nobody names any more goes from the list.
    for (const std::wstring& name : internal) EXPECT_TRUE(used.count(name)) << std::string(name.begin(), name.end()) << " is not used";
}


