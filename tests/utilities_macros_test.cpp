// Script macros and InvokeMethod of CQarnUtilities, through real activation, against the
// ScriptEngine double ("QarnTest.ScriptEngine"), whose macros are chosen by name.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "TestSupport.h"
#include "UtilitiesSupport.h"

using namespace test;

namespace {

constexpr wchar_t kEngine[] = L"QarnTest.ScriptEngine";
constexpr wchar_t kQuickCode[] = L"{FFD01A42-F1B9-4F5A-88BA-87C61CF77DF5}";
constexpr wchar_t kFullCode[] = L"{1F0AEC45-C85D-4780-8669-EE4AE5B01389}";

ComPtr<IParameterList> NewList() { return test::Create<IParameterList>(CLSID_ParameterList); }

ComPtr<IQarnDocument> NewDocument() {
    auto document = test::Create<IQarnDocument>(CLSID_QarnDocument);
    document->put_ParameterList(NewList().Get());
    return document;
}

// The text of a field of the list.
std::wstring Value(IParameterList* list, const wchar_t* name) {
    ComPtr<IField> field;
    Str value;
    if (SUCCEEDED(list->GetField(Str(name), &field)) && field) field->get_StringValue(value.Out());
    return std::wstring(value.View());
}

// References held on `object` by others than the caller's one.
ULONG OtherReferences(IUnknown* object) { return object->AddRef(), object->Release() - 1; }

class Macros : public ::testing::Test {
protected:
    ComPtr<IQarnUtilities> u = test::Create<IQarnUtilities>(CLSID_CQarnUtilities);

    HRESULT Run(const wchar_t* progId, const wchar_t* macro, ComPtr<IParameterList>& in, ComPtr<IParameterList>& out,
                IQarnUtilities* utilities = nullptr) {
        return (utilities ? utilities : u.Get())
            ->RunMacro(Str(progId), Str(macro), in.GetAddressOf(), out.GetAddressOf());
    }
    // The engine's call count that a "Fill" macro reports (the engine counts this call too).
    std::wstring Calls(const wchar_t* progId, IQarnUtilities* utilities = nullptr) {
        ComPtr<IParameterList> in = NewList(), out = NewList();
        const HRESULT hr = Run(progId, L"Fill", in, out, utilities);
        return FAILED(hr) ? L"failed: " + TakeMessage() : Value(out.Get(), L"calls");
    }
};

// macros.vbs checks that the engine sees the input and that RunMacro2 shares the engines.
TEST_F(Macros, OneEnginePerExactProgIdUntilItIsDestroyed) {
    ComPtr<IParameterList> in = NewList(), out = NewList();
    ASSERT_EQ(S_OK, Run(kEngine, L"Fill", in, out));
    EXPECT_EQ(L"1", Value(out.Get(), L"calls"));
    EXPECT_EQ(L"RunMacro", Value(out.Get(), L"macro"));
    EXPECT_EQ(L"1", Calls(L"qarntest.scriptengine")) << "other letter case: a second engine";
    EXPECT_EQ(L"2", Calls(kEngine));

    // Destroying looks the ProgID up the same way; texts never used change nothing.
    for (const wchar_t* text : {L"QARNTEST.SCRIPTENGINE", L"QarnTest.NeverUsed", L"", static_cast<const wchar_t*>(nullptr)})
        EXPECT_EQ(S_OK, u->DestroyScriptEngine(Str(text)));
    EXPECT_EQ(L"3", Calls(kEngine));
    ASSERT_EQ(S_OK, u->DestroyScriptEngine(Str(kEngine)));
    EXPECT_EQ(L"1", Calls(kEngine)) << "a fresh engine after Destroy";
    EXPECT_EQ(L"2", Calls(L"qarntest.scriptengine")) << "the other entries stay";

    // A refused Destroy keeps the entry.
    ASSERT_EQ(S_OK, Run(kEngine, L"RefuseDestroy", in, out));
    EXPECT_EQ(DISP_E_EXCEPTION, u->DestroyScriptEngine(Str(kEngine)));
    EXPECT_EQ(L"Error invoking method Destroy.\n   at CQarnUtilities::DestroyScriptEngine: line #\n"
              L"   at CQarnUtilities::DestroyScriptEngine: line #",
              test::MaskLines(test::TakeErrorDescription()));
    EXPECT_EQ(L"3", Calls(kEngine));

    auto other = test::Create<IQarnUtilities>(CLSID_CQarnUtilities);
    EXPECT_EQ(L"1", Calls(kEngine, other.Get())) << "two utilities objects never share engines";
    EXPECT_EQ(L"4", Calls(kEngine));
}

// macros.vbs checks that an engine's own description passes unchanged.
TEST_F(Macros, EachFailureOfTheCallNamesWhatWasMissing) {
    ComPtr<IParameterList> in = NewList(), out = NewList();
    const struct {
        const wchar_t *progId, *macro;
        bool input, output;
        const wchar_t* message;
    } cases[] = {
        {nullptr, L"Fill", true, true, L"Error getting clsid from (null)."},
        {kEngine, L"Fill", true, false, L"Input or Output are NULL"},
        {kEngine, L"Fill", false, true, L"Input or Output are NULL"},
        {L"QarnTest.NoSuchEngine", L"Fill", true, true, L"Error getting clsid from QarnTest.NoSuchEngine."},
        {L"QarnTest.MissingEngine", L"Fill", true, true, L"Error creating instance QarnTest.MissingEngine."},
        {L"QarnTest.DispatchProbe", L"Fill", true, true, L"Error finding member RunMacro in instance QarnTest.DispatchProbe."},
        {kEngine, L"FailBare", true, true, L"Error invoking method RunMacro."},  // no description of its own
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DISP_E_EXCEPTION,
                  u->RunMacro(Str(c.progId), Str(c.macro), c.input ? in.GetAddressOf() : nullptr, c.output ? out.GetAddressOf() : nullptr));
        EXPECT_EQ(c.message + std::wstring(L"\n   at CQarnUtilities::RunMacro: line #"), TakeReport()) << "one \"at\" line";
    }
    // An object without the entry members is kept like an engine: destroying it fails as well.
    EXPECT_EQ(L"Error finding member Destroy in instance QarnTest.DispatchProbe.",
              Failure(u->DestroyScriptEngine(Str(L"QarnTest.DispatchProbe"))));
    EXPECT_EQ(L"2", Calls(kEngine)) << "the engine stays after a failed call";
}

TEST_F(Macros, EnginesMayReplaceOrClearTheObjectsButOnlyWithObjectsOfTheirKind) {
    ComPtr<IParameterList> in = NewList(), out = NewList(), firstIn = in, firstOut = out;
    ASSERT_EQ(S_OK, Run(kEngine, L"Replace", in, out));
    EXPECT_EQ(L"input", Value(in.Get(), L"replaced"));
    EXPECT_EQ(L"output", Value(out.Get(), L"replaced"));
    for (IUnknown* object : {firstIn.Get(), firstOut.Get(), in.Get(), out.Get()})
        EXPECT_EQ(0u, OtherReferences(object)) << "the old objects are released, the new ones are the caller's alone";
    ASSERT_EQ(S_OK, Run(kEngine, L"Clear", in, out));
    EXPECT_TRUE(!in && !out);

    // An object of another kind fails the call; the caller keeps the objects it had.
    in = firstIn;
    out = firstOut;
    const std::pair<const wchar_t*, const wchar_t*> wrong[] = {
        {L"ReplaceWrongKind", L"The macro ReplaceWrongKind replaced the output with an object that is not a ParameterList."},
        {L"ReplaceInputWrongKind",
         L"The macro ReplaceInputWrongKind replaced the input with an object that is not a ParameterList."}};
    for (const auto& [macro, message] : wrong) {
        EXPECT_EQ(message, Failure(Run(kEngine, macro, in, out)));
        EXPECT_TRUE(in.Get() == firstIn.Get() && out.Get() == firstOut.Get());
        EXPECT_EQ(1u, OtherReferences(in.Get())) << "the first and the current pointer: nothing else";
        EXPECT_EQ(1u, OtherReferences(out.Get()));
    }
}

// RunMacro2 runs the same code as RunMacro with documents; its own member name and kind show in its failures.
TEST_F(Macros, RunMacro2NamesItsMemberAndKindInFailures) {
    ComPtr<IQarnDocument> in = NewDocument(), out = NewDocument(), before = out;
    EXPECT_EQ(L"The macro ReplaceWrongKind replaced the output with an object that is not a QarnDocument.", Failure(u->RunMacro2(Str(kEngine), Str(L"ReplaceWrongKind"), in.GetAddressOf(), out.GetAddressOf())));
    EXPECT_EQ(before.Get(), out.Get());
    EXPECT_EQ(L"Error invoking method RunMacro2.", Failure(u->RunMacro2(Str(kEngine), Str(L"FailBare"), in.GetAddressOf(), out.GetAddressOf())));
    EXPECT_EQ(L"Error finding member RunMacro2 in instance QarnTest.DispatchProbe.", Failure(u->RunMacro2(Str(L"QarnTest.DispatchProbe"), nullptr, in.GetAddressOf(), out.GetAddressOf())));
}

// InvokeMethod writes the self-test's lines to the log file the object took at construction.
class Invoke : public ::testing::Test {
protected:
    ScratchFolder dir{L"invoke"};
    std::wstring log = dir / L"utilities.log";
    ComPtr<IQarnUtilities> u = LoggingUtilities(log);

    static ComPtr<IQarnUtilities> LoggingUtilities(const std::wstring& file) {
        SetEnvironmentVariableW(L"QarnLogFile", file.c_str());
        auto utilities = test::Create<IQarnUtilities>(CLSID_CQarnUtilities);
        SetEnvironmentVariableW(L"QarnLogFile", nullptr);
        return utilities;
    }
    // A list with a "QarnHeader" structure holding the given fields (null: field left out).
    static ComPtr<IParameterList> WithHeader(const wchar_t* functionModule, const wchar_t* accessKey) {
        auto fields = NewFields();
        if (functionModule) fields->SetValue(Str(L"functionmodule"), Variant(std::wstring_view(functionModule)));
        if (accessKey) fields->SetValue(Str(L"AccessKey"), Variant(std::wstring_view(accessKey)));
        auto list = NewList();
        AddStructure(list.Get(), L"QarnHeader", fields);
        return list;
    }
    HRESULT Invoke1(const wchar_t* functionModule, const wchar_t* accessKey) {
        ComPtr<IParameterList> in = WithHeader(functionModule, accessKey), out = NewList();
        return u->InvokeMethod(in.GetAddressOf(), out.GetAddressOf());
    }
    // The messages of the log's lines (after "<date> <time> -   1 - ").
    std::vector<std::string> Lines() {
        std::vector<std::string> lines;
        std::istringstream data(ScratchFolder::Read(log));
        for (std::string line; std::getline(data, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            const size_t marker = line.find(" -   1 - ");
            lines.push_back(marker == std::string::npos ? "<" + line + ">" : line.substr(marker + 9));
        }
        return lines;
    }
};

const std::vector<std::string> kTextCases = {
    "Self-test TrimLeftAndRight: passed", "Self-test GetExtension: passed", "Self-test sprintf1: passed",
    "Self-test ConvertBSTRToXMLString: passed", "Self-test Encrypt3 and Decrypt3: passed"};

TEST_F(Invoke, OnlyTheExactHeaderStartsTheSelfTest) {
    ComPtr<IParameterList> in = NewList(), out = NewList();
    EXPECT_EQ(S_OK, u->InvokeMethod(in.GetAddressOf(), out.GetAddressOf())) << "no QarnHeader";
    EXPECT_EQ(S_OK, Invoke1(nullptr, kQuickCode)) << "no functionmodule";
    EXPECT_EQ(DISP_E_EXCEPTION, Invoke1(L"100%s", nullptr));
    EXPECT_EQ(L"Unknown functionmodule 100%s\n   at CQarnUtilities::InvokeMethod: line #", TakeReport());
    for (const wchar_t* key : {static_cast<const wchar_t*>(nullptr), L"", L"{ffd01a42-f1b9-4f5a-88ba-87c61cf77df5}",
                               L"{00000000-0000-0000-0000-000000000000}"})
        EXPECT_EQ(S_OK, Invoke1(L"RunTestCases", key)) << (key ? key : L"(no field)");

    // InvokeMethod2 takes the documents' lists.
    ComPtr<IQarnDocument> doc = NewDocument(), bare = NewDocument();
    bare->put_ParameterList(nullptr);
    doc->put_ParameterList(WithHeader(L"RunTestCases", kQuickCode).Get());
    EXPECT_EQ(S_OK, u->InvokeMethod2(doc.GetAddressOf(), bare.GetAddressOf())) << "an output without a list";
    doc->put_ParameterList(WithHeader(L"runtestcases", kQuickCode).Get());
    EXPECT_EQ(L"Unknown functionmodule runtestcases", Failure(u->InvokeMethod2(doc.GetAddressOf(), doc.GetAddressOf())));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(log.c_str())) << "nothing is logged up to here";

    // The quick variant through InvokeMethod, the full one through InvokeMethod2.
    ComPtr<IParameterList> firstIn = in = WithHeader(L"RunTestCases", kQuickCode), firstOut = out;
    ASSERT_EQ(S_OK, u->InvokeMethod(in.GetAddressOf(), out.GetAddressOf()));
    EXPECT_TRUE(in.Get() == firstIn.Get() && out.Get() == firstOut.Get());
    Str xml, empty;
    out->get_Xml(xml.Out());
    NewList()->get_Xml(empty.Out());
    EXPECT_EQ(empty.View(), xml.View()) << "the output list stays empty";
    doc->put_ParameterList(WithHeader(L"RunTestCases", kFullCode).Get());
    ASSERT_EQ(S_OK, u->InvokeMethod2(doc.GetAddressOf(), doc.GetAddressOf()));
    std::vector<std::string> expected = kTextCases;
    expected.push_back("Self-test variant 1: 5 passed, 0 failed");
    expected.insert(expected.end(), kTextCases.begin(), kTextCases.end());
    for (const char* name : {"Mkdir", "FileWrite", "FileExist", "ReadTextFile", "FileRemove", "Rmdir"})
        expected.push_back(std::string("Self-test ") + name + ": passed");
    expected.push_back("Self-test variant 2: 11 passed, 0 failed");
    EXPECT_EQ(expected, Lines());

    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    EXPECT_EQ(std::wstring::npos, FolderEntries(temp).find(L"qarn-selftest-")) << "no work folder is left";
}

}  // namespace
