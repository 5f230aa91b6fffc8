// Script macros and InvokeMethod of CQarnUtilities, through real activation, against the
// ScriptEngine double ("QarnTest.ScriptEngine"), whose macros are chosen by name.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "TestSupport.h"
#include "UtilitiesSupport.h"

using test::ComPtr;
using test::ScratchFolder;
using test::Str;
using test::TakeMessage;
using test::Variant;

namespace {

constexpr wchar_t kEngine[] = L"QarnTest.ScriptEngine";
constexpr wchar_t kQuickCode[] = L"{FFD01A42-F1B9-4F5A-88BA-87C61CF77DF5}";
constexpr wchar_t kFullCode[] = L"{1F0AEC45-C85D-4780-8669-EE4AE5B01389}";

ComPtr<IParameterList> NewList(const wchar_t* text = nullptr) {
    auto list = test::Create<IParameterList>(CLSID_ParameterList);
    ComPtr<IFieldCollection> fields;
    list->get_FieldCollection(&fields);
    if (text) fields->SetValue(Str(L"text"), Variant(std::wstring_view(text)));
    return list;
}

ComPtr<IQarnDocument> NewDocument(const wchar_t* text = nullptr) {
    auto document = test::Create<IQarnDocument>(CLSID_QarnDocument);
    document->put_ParameterList(NewList(text).Get());
    return document;
}

// The text of a field of the list, or of the document's list.
std::wstring Value(IParameterList* list, const wchar_t* name) {
    if (!list) return L"<no list>";
    ComPtr<IFieldCollection> fields;
    Str value;
    list->get_FieldCollection(&fields);
    fields->GetValue(Str(name), value.Out());
    return std::wstring(value.View());
}
std::wstring Value(IQarnDocument* document, const wchar_t* name) {
    ComPtr<IParameterList> list;
    if (document) document->get_ParameterList(&list);
    return Value(list.Get(), name);
}

// References held on `object` by others than the caller's one.
ULONG OtherReferences(IUnknown* object) {
    object->AddRef();
    return object->Release() - 1;
}

class Macros : public ::testing::Test {
protected:
    ComPtr<IQarnUtilities> u = test::Create<IQarnUtilities>(CLSID_CQarnUtilities);

    HRESULT Run(const wchar_t* progId, const wchar_t* macro, ComPtr<IParameterList>& in, ComPtr<IParameterList>& out,
                IQarnUtilities* utilities = nullptr) {
        return (utilities ? utilities : u.Get())
            ->RunMacro(Str(progId), Str(macro), in.GetAddressOf(), out.GetAddressOf());
    }
    HRESULT Run2(const wchar_t* progId, const wchar_t* macro, ComPtr<IQarnDocument>& in, ComPtr<IQarnDocument>& out) {
        return u->RunMacro2(Str(progId), Str(macro), in.GetAddressOf(), out.GetAddressOf());
    }
    // The engine's call count that a "Fill" macro reports (the engine counts this call too).
    std::wstring Calls(const wchar_t* progId, IQarnUtilities* utilities = nullptr) {
        ComPtr<IParameterList> in = NewList(), out = NewList();
        const HRESULT hr = Run(progId, L"Fill", in, out, utilities);
        return FAILED(hr) ? L"failed: " + TakeMessage() : Value(out.Get(), L"calls");
    }
};

TEST_F(Macros, OneEnginePerExactProgIdUntilItIsDestroyed) {
    ComPtr<IParameterList> in = NewList(L"from the caller"), out = NewList();
    ASSERT_EQ(S_OK, Run(kEngine, L"Fill", in, out));
    EXPECT_EQ(L"1", Value(out.Get(), L"calls"));
    EXPECT_EQ(L"RunMacro", Value(out.Get(), L"macro"));
    EXPECT_EQ(L"from the caller", Value(out.Get(), L"input")) << "macro name, input, output in this order";
    EXPECT_EQ(L"1", Calls(L"qarntest.scriptengine")) << "other letter case: a second engine";
    EXPECT_EQ(L"2", Calls(kEngine));

    // Destroying looks the ProgID up the same way; texts never used change nothing.
    for (const wchar_t* text : {L"QARNTEST.SCRIPTENGINE", L"QarnTest.NeverUsed", L"", static_cast<const wchar_t*>(nullptr)})
        EXPECT_EQ(S_OK, u->DestroyScriptEngine(Str(text)));
    EXPECT_EQ(L"3", Calls(kEngine));
    ASSERT_EQ(S_OK, u->DestroyScriptEngine(Str(kEngine)));
    EXPECT_EQ(L"1", Calls(kEngine)) << "a fresh engine after Destroy";
    EXPECT_EQ(L"2", Calls(L"qarntest.scriptengine")) << "the other entries stay";

    auto other = test::Create<IQarnUtilities>(CLSID_CQarnUtilities);
    EXPECT_EQ(L"1", Calls(kEngine, other.Get())) << "two utilities objects never share engines";
    EXPECT_EQ(L"2", Calls(kEngine));
}

TEST_F(Macros, EachFailureOfTheCallNamesWhatWasMissing) {
    ComPtr<IParameterList> in = NewList(), out = NewList();
    const struct {
        const wchar_t *progId, *macro;
        bool input, output;
        const wchar_t* message;
    } cases[] = {
        {nullptr, L"Fill", true, true, L"Error getting clsid from (null)."},
        {L"", L"Fill", true, true, L"Error getting clsid from ."},
        {nullptr, L"Fill", true, false, L"Error getting clsid from (null)."},  // the ProgID is checked first
        {kEngine, L"Fill", true, false, L"Input or Output are NULL"},
        {kEngine, L"Fill", false, true, L"Input or Output are NULL"},
        {L"QarnTest.NoSuchEngine", L"Fill", true, true, L"Error getting clsid from QarnTest.NoSuchEngine."},
        {L"QarnTest.MissingEngine", L"Fill", true, true, L"Error creating instance QarnTest.MissingEngine."},
        {L"QarnTest.DispatchProbe", L"Fill", true, true, L"Error finding member RunMacro in instance QarnTest.DispatchProbe."},
        {kEngine, L"FailBare", true, true, L"Error invoking method RunMacro."},  // no description of its own
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DISP_E_EXCEPTION, u->RunMacro(Str(c.progId), Str(c.macro), c.input ? in.GetAddressOf() : nullptr,
                                                c.output ? out.GetAddressOf() : nullptr));
        EXPECT_EQ(c.message, TakeMessage());
    }
    // An object without the entry members is kept like an engine: destroying it fails as well.
    EXPECT_EQ(DISP_E_EXCEPTION, u->DestroyScriptEngine(Str(L"QarnTest.DispatchProbe")));
    EXPECT_EQ(L"Error finding member Destroy in instance QarnTest.DispatchProbe.", TakeMessage());

    // The engine's own description passes unchanged, with this method's "at" lines.
    EXPECT_EQ(DISP_E_EXCEPTION, Run(kEngine, L"Fail", in, out));
    EXPECT_EQ(L"Macro failed on request\n   at CQarnUtilities::RunMacro: line #\n   at CQarnUtilities::RunMacro: line #",
              test::MaskLines(test::TakeErrorDescription()));
    EXPECT_EQ(L"3", Calls(kEngine)) << "the engine stays after failed calls";
}

TEST_F(Macros, ARefusedDestroyKeepsTheEngine) {
    ComPtr<IParameterList> in = NewList(), out = NewList();
    ASSERT_EQ(S_OK, Run(kEngine, L"RefuseDestroy", in, out));
    EXPECT_EQ(DISP_E_EXCEPTION, u->DestroyScriptEngine(Str(kEngine)));
    EXPECT_EQ(L"Error invoking method Destroy.\n   at CQarnUtilities::DestroyScriptEngine: line #\n"
              L"   at CQarnUtilities::DestroyScriptEngine: line #",
              test::MaskLines(test::TakeErrorDescription()));
    EXPECT_EQ(L"2", Calls(kEngine)) << "the entry stays";
    EXPECT_EQ(S_OK, u->DestroyScriptEngine(Str(kEngine)));
    EXPECT_EQ(L"1", Calls(kEngine));
}

TEST_F(Macros, EnginesMayReplaceOrClearTheObjectsButOnlyWithObjectsOfTheirKind) {
    ComPtr<IParameterList> in = NewList(L"a"), out = NewList(), firstIn = in, firstOut = out;
    ASSERT_EQ(S_OK, Run(kEngine, L"Replace", in, out));
    EXPECT_EQ(L"input", Value(in.Get(), L"replaced"));
    EXPECT_EQ(L"output", Value(out.Get(), L"replaced"));
    for (IUnknown* object : {firstIn.Get(), firstOut.Get(), in.Get(), out.Get()})
        EXPECT_EQ(0u, OtherReferences(object)) << "the old objects are released, the new ones are the caller's alone";

    ComPtr<IParameterList> none, nothing;
    ASSERT_EQ(S_OK, Run(kEngine, L"Replace", none, nothing)) << "null objects go in as null";
    EXPECT_EQ(L"input", Value(none.Get(), L"replaced"));
    EXPECT_EQ(L"output", Value(nothing.Get(), L"replaced"));
    ASSERT_EQ(S_OK, Run(kEngine, L"Clear", in, out));
    EXPECT_EQ(nullptr, in.Get());
    EXPECT_EQ(nullptr, out.Get());

    // An object of another kind fails the call; the caller keeps the objects it had.
    in = firstIn = NewList(L"kept");
    out = firstOut = NewList();
    const std::pair<const wchar_t*, const wchar_t*> wrong[] = {
        {L"ReplaceWrongKind", L"The macro ReplaceWrongKind replaced the output with an object that is not a ParameterList."},
        {L"ReplaceInputWrongKind",
         L"The macro ReplaceInputWrongKind replaced the input with an object that is not a ParameterList."}};
    for (const auto& [macro, message] : wrong) {
        EXPECT_EQ(DISP_E_EXCEPTION, Run(kEngine, macro, in, out));
        EXPECT_EQ(message, TakeMessage());
        EXPECT_EQ(firstIn.Get(), in.Get());
        EXPECT_EQ(firstOut.Get(), out.Get());
        EXPECT_EQ(1u, OtherReferences(in.Get())) << "the first and the current pointer: nothing else";
        EXPECT_EQ(1u, OtherReferences(out.Get()));
    }
    EXPECT_EQ(L"kept", Value(in.Get(), L"text"));
}

TEST_F(Macros, RunMacro2HandsDocumentsToTheSameEngines) {
    ComPtr<IQarnDocument> in = NewDocument(L"document text"), out = NewDocument();
    ASSERT_EQ(S_OK, Run2(kEngine, L"Fill", in, out));
    EXPECT_EQ(L"RunMacro2", Value(out.Get(), L"macro"));
    EXPECT_EQ(L"document text", Value(out.Get(), L"input"));
    EXPECT_EQ(L"2", Calls(kEngine)) << "RunMacro and RunMacro2 share the cache";

    ASSERT_EQ(S_OK, Run2(kEngine, L"Replace", in, out));
    EXPECT_EQ(L"input", Value(in.Get(), L"replaced"));
    EXPECT_EQ(L"output", Value(out.Get(), L"replaced"));

    ComPtr<IQarnDocument> before = out;
    EXPECT_EQ(DISP_E_EXCEPTION, Run2(kEngine, L"ReplaceWrongKind", in, out));
    EXPECT_EQ(L"The macro ReplaceWrongKind replaced the output with an object that is not a QarnDocument.", TakeMessage());
    EXPECT_EQ(before.Get(), out.Get());
    EXPECT_EQ(DISP_E_EXCEPTION, Run2(kEngine, L"FailBare", in, out));
    EXPECT_EQ(L"Error invoking method RunMacro2.", TakeMessage());
    EXPECT_EQ(DISP_E_EXCEPTION, Run2(L"QarnTest.DispatchProbe", L"Fill", in, out));
    EXPECT_EQ(L"Error finding member RunMacro2 in instance QarnTest.DispatchProbe.", TakeMessage());
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
        auto header = test::Create<IStructure>(CLSID_Structure);
        ComPtr<IFieldCollection> fields;
        ComPtr<IStructureCollection> structures;
        header->put_Name(Str(L"QarnHeader"));
        header->get_FieldCollection(&fields);
        if (functionModule) fields->SetValue(Str(L"functionmodule"), Variant(std::wstring_view(functionModule)));
        if (accessKey) fields->SetValue(Str(L"AccessKey"), Variant(std::wstring_view(accessKey)));
        auto list = NewList();
        list->get_StructureCollection(&structures);
        structures->Add(header.Get());
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
    bool LogWritten() { return GetFileAttributesW(log.c_str()) != INVALID_FILE_ATTRIBUTES; }
};

const std::vector<std::string> kTextCases = {
    "Self-test TrimLeftAndRight: passed", "Self-test GetExtension: passed", "Self-test sprintf1: passed",
    "Self-test ConvertBSTRToXMLString: passed", "Self-test Encrypt3 and Decrypt3: passed"};

TEST_F(Invoke, OnlyTheExactHeaderStartsTheSelfTest) {
    ComPtr<IParameterList> in = NewList(), out = NewList(), none;
    EXPECT_EQ(S_OK, u->InvokeMethod(nullptr, out.GetAddressOf()));
    EXPECT_EQ(S_OK, u->InvokeMethod(none.GetAddressOf(), out.GetAddressOf()));
    EXPECT_EQ(S_OK, u->InvokeMethod(in.GetAddressOf(), out.GetAddressOf())) << "no QarnHeader";
    EXPECT_EQ(S_OK, Invoke1(nullptr, kQuickCode)) << "no functionmodule";

    EXPECT_EQ(DISP_E_EXCEPTION, Invoke1(L"runtestcases", kQuickCode));
    EXPECT_EQ(L"Unknown functionmodule runtestcases\n   at CQarnUtilities::InvokeMethod: line #\n"
              L"   at CQarnUtilities::InvokeMethod: line #",
              test::MaskLines(test::TakeErrorDescription()));
    EXPECT_EQ(DISP_E_EXCEPTION, Invoke1(L"100%s", nullptr));
    EXPECT_EQ(L"Unknown functionmodule 100%s", TakeMessage());

    std::wstring lower = kQuickCode;
    for (wchar_t& c : lower) c = towlower(c);
    for (const wchar_t* key : {static_cast<const wchar_t*>(nullptr), L"", lower.c_str(), L"{00000000-0000-0000-0000-000000000000}"})
        EXPECT_EQ(S_OK, Invoke1(L"RunTestCases", key)) << (key ? key : L"(no field)");

    // InvokeMethod2 takes the documents' lists.
    ComPtr<IQarnDocument> doc = NewDocument(), bare = NewDocument(), noDocument;
    bare->put_ParameterList(nullptr);
    EXPECT_EQ(S_OK, u->InvokeMethod2(nullptr, doc.GetAddressOf()));
    EXPECT_EQ(S_OK, u->InvokeMethod2(noDocument.GetAddressOf(), doc.GetAddressOf()));
    doc->put_ParameterList(WithHeader(L"RunTestCases", kQuickCode).Get());
    EXPECT_EQ(S_OK, u->InvokeMethod2(doc.GetAddressOf(), bare.GetAddressOf())) << "an output without a list";
    EXPECT_FALSE(LogWritten());
    doc->put_ParameterList(WithHeader(L"runtestcases", kQuickCode).Get());
    EXPECT_EQ(DISP_E_EXCEPTION, u->InvokeMethod2(doc.GetAddressOf(), doc.GetAddressOf()));
    EXPECT_EQ(L"Unknown functionmodule runtestcases", TakeMessage());
}

TEST_F(Invoke, TheQuickVariantChecksTheTextMethodsAndLeavesTheListsAlone) {
    ComPtr<IParameterList> in = WithHeader(L"RunTestCases", kQuickCode), out = NewList(), firstIn = in, firstOut = out;
    ASSERT_EQ(S_OK, u->InvokeMethod(in.GetAddressOf(), out.GetAddressOf()));
    EXPECT_EQ(firstIn.Get(), in.Get());
    EXPECT_EQ(firstOut.Get(), out.Get());
    ComPtr<IFieldCollection> fields;
    ComPtr<IStructureCollection> structures;
    ComPtr<ITableCollection> tables;
    long counts[3] = {-1, -1, -1};
    out->get_FieldCollection(&fields);
    out->get_StructureCollection(&structures);
    out->get_TableCollection(&tables);
    fields->get_Count(&counts[0]);
    structures->get_Count(&counts[1]);
    tables->get_Count(&counts[2]);
    EXPECT_EQ(0, counts[0] + counts[1] + counts[2]) << "the output list stays empty";

    ComPtr<IQarnDocument> inDocument = NewDocument(), outDocument = NewDocument();
    inDocument->put_ParameterList(in.Get());
    ASSERT_EQ(S_OK, u->InvokeMethod2(inDocument.GetAddressOf(), outDocument.GetAddressOf()));
    std::vector<std::string> expected = kTextCases;
    expected.push_back("Self-test variant 1: 5 passed, 0 failed");
    const std::vector<std::string> once = expected;
    expected.insert(expected.end(), once.begin(), once.end());
    EXPECT_EQ(expected, Lines()) << "InvokeMethod, then InvokeMethod2";
}

TEST_F(Invoke, TheFullVariantAddsTheFileMethodsInAFolderItRemoves) {
    ASSERT_EQ(S_OK, Invoke1(L"RunTestCases", kFullCode));
    std::vector<std::string> expected = kTextCases;
    for (const char* name : {"Mkdir", "FileWrite", "FileExist", "ReadTextFile", "FileRemove", "Rmdir"})
        expected.push_back(std::string("Self-test ") + name + ": passed");
    expected.push_back("Self-test variant 2: 11 passed, 0 failed");
    EXPECT_EQ(expected, Lines());

    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((std::wstring(temp) + L"qarn-selftest-*").c_str(), &entry);
    EXPECT_EQ(INVALID_HANDLE_VALUE, find) << "no work folder is left";
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
}

TEST_F(Invoke, FailingCasesAreLoggedAndTheCallStillSucceeds) {
    // A temporary folder below a file: no work folder can be made there.
    const std::wstring blocker = dir.Write(L"blocker", "x");
    wchar_t previous[MAX_PATH] = {};
    const DWORD had = GetEnvironmentVariableW(L"TMP", previous, MAX_PATH);
    SetEnvironmentVariableW(L"TMP", (blocker + L"\\").c_str());
    const HRESULT hr = Invoke1(L"RunTestCases", kFullCode);
    SetEnvironmentVariableW(L"TMP", had ? previous : nullptr);
    EXPECT_EQ(S_OK, hr);

    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(12u, lines.size());
    EXPECT_EQ(kTextCases, std::vector<std::string>(lines.begin(), lines.begin() + 5));
    EXPECT_EQ(0u, lines[5].find("Self-test Mkdir: failed: Mkdir returned 0x80020009 (Error creating directory "))
        << lines[5];
    EXPECT_EQ("Self-test FileWrite: failed: FileWrite did not create the file", lines[6]);
    EXPECT_EQ("Self-test Rmdir: failed: there is no folder to remove", lines[10]);
    EXPECT_EQ("Self-test variant 2: 5 passed, 6 failed", lines[11]);
}

}  // namespace
