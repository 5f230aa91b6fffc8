// File-system operations and text/CSV files of CQarnUtilities, through real activation, against
// files in a scratch folder of the test prefix.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>

#include "TestSupport.h"
#include "UtilitiesSupport.h"
#include "TextRules.h"

using namespace test;

namespace {

using Answer = std::pair<HRESULT, VARIANT_BOOL>;
const Answer yes{S_OK, VARIANT_TRUE}, no{S_OK, VARIANT_FALSE};

class Files : public ::testing::Test {
protected:
    ComPtr<IQarnUtilities> u = test::Create<IQarnUtilities>(CLSID_CQarnUtilities);
    ScratchFolder dir{L"files"};

    // A method with a VARIANT_BOOL answer; the answer starts as neither True nor False.
    template <class M, class... A>
    Answer Ask(M method, const A&... in) {
        VARIANT_BOOL r = 2;
        HRESULT hr = (u.Get()->*method)(in..., &r);
        return {hr, r};
    }
    static bool ReadOnly(const std::wstring& path) { return GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_READONLY; }
    static void MakeReadOnly(const std::wstring& path) { SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY); }
};

TEST_F(Files, ExistenceAndAccessChecks) {
    const std::wstring file = dir.Write(L"a.txt", "x"), huge(100000, L'h');
    EXPECT_EQ(yes, Ask(&IQarnUtilities::FileExist, Str(file)));
    EXPECT_EQ(yes, Ask(&IQarnUtilities::FileExist, Str(dir.path()))) << "folders exist too";
    // A long name gives the complete text; errors.vbs checks an ordinary missing file.
    for (const wchar_t* missing : {static_cast<const wchar_t*>(nullptr), huge.c_str()}) {
        EXPECT_EQ(Answer(DISP_E_EXCEPTION, VARIANT_FALSE), Ask(&IQarnUtilities::FileExist, Str(missing)));
        EXPECT_EQ(L"File " + std::wstring(missing ? missing : L"(null)") + L" does not exist.", TakeMessage());
        EXPECT_EQ(no, Ask(&IQarnUtilities::FileExist2, Str(missing)));
    }

    EXPECT_EQ(yes, Ask(&IQarnUtilities::FileAccess, Str(file), 6L));
    EXPECT_EQ(L"mode 00 -> Existence only\nmode 02 -> Write-only\nmode 04 -> Read-only\nmode 06 -> Read and Write\n"
              L"in CQarnUtilities::FileAccess",
              Failure(Ask(&IQarnUtilities::FileAccess, Str(file), 8L).first));
}

TEST_F(Files, CopyMoveAndRemoveHandleNullsReadOnlyTargetsAndFailures) {
    const std::wstring src = dir.Write(L"src.txt", "new"), dst = dir.Write(L"dst.txt", "old");
    EXPECT_EQ(S_OK, u->FileCopy(Str(src), nullptr));
    EXPECT_EQ(S_OK, u->FileCopy(Str(src), Str(dir / L"SRC.TXT"))) << "the same name in other case is no copy";

    MakeReadOnly(dst);
    ASSERT_EQ(S_OK, u->FileCopy(Str(src), Str(dst)));
    EXPECT_EQ("new", ScratchFolder::Read(dst));
    EXPECT_FALSE(ReadOnly(dst)) << "the read-only flag of the destination is cleared first";
    EXPECT_EQ(L"Error copying file  to " + dst + L".", Failure(u->FileCopy(Str(L""), Str(dst))));

    const std::wstring moved = dir.Write(L"moved.txt", "moved");
    ASSERT_EQ(S_OK, u->FileMove(Str(moved), Str(dst)));
    EXPECT_EQ("moved", ScratchFolder::Read(dst));
    EXPECT_FALSE(Exists(moved));
    EXPECT_EQ(L"Error moving file " + moved + L" to " + dst + L".", Failure(u->FileMove(Str(moved), Str(dst))));

    MakeReadOnly(dst);
    EXPECT_EQ(S_OK, u->FileRemove(Str(dst)));
    EXPECT_FALSE(Exists(dst)) << "read-only files are removed";
    EXPECT_EQ(L"Error removing file " + dst + L".", Failure(u->FileRemove(Str(dst))));

    // FilesRemove: directory and selection are joined as they are; folders and failures are skipped.
    dir.Write(L"x1.tmp", "1");
    MakeReadOnly(dir.Write(L"x2.tmp", "2"));
    CreateDirectoryW((dir / L"sub.tmp").c_str(), nullptr);
    EXPECT_EQ(S_OK, u->FilesRemove(Str(dir.path() + L"\\"), Str(L"*.tmp")));
    EXPECT_FALSE(Exists(dir / L"x1.tmp") || Exists(dir / L"x2.tmp"));
    EXPECT_TRUE(Exists(src) && Exists(dir / L"sub.tmp"));
}

TEST_F(Files, FileWriteAppendsUtf8WithoutMarkChmodTogglesWritingAndStampsAreUnixSeconds) {
    const std::wstring file = dir / L"out.txt";
    ASSERT_EQ(S_OK, u->FileWrite(Str(file), Str(L"Gr\u00fc\u00dfe\nline 2")));
    ASSERT_EQ(S_OK, u->FileWrite(Str(file), Str(L" \u20ac 100%s%d\n")));
    EXPECT_EQ("Gr\xc3\xbc\xc3\x9f" "e\r\nline 2 \xe2\x82\xac 100%s%d\r\n", ScratchFolder::Read(file));
    EXPECT_EQ(S_OK, u->FileWrite(Str(dir / L"no\\such\\folder.txt"), Str(L"x"))) << "cannot open: nothing happens";

    ASSERT_EQ(S_OK, u->Chmod(Str(file), 0));
    EXPECT_TRUE(ReadOnly(file));
    EXPECT_EQ(no, Ask(&IQarnUtilities::FileAccess, Str(file), 2L)) << "not writable";
    ASSERT_EQ(S_OK, u->Chmod(Str(file), 0x80 | 0x100));
    EXPECT_FALSE(ReadOnly(file));

    HANDLE h = CreateFileW(file.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    // 2021-01-01 00:00:00 UTC = 1609459200 s after 1970.
    ULONGLONG ticks = (1609459200ULL + 11644473600ULL) * 10000000ULL;
    FILETIME ft{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SetFileTime(h, nullptr, nullptr, &ft);
    CloseHandle(h);
    LONG stamp = 0;
    ASSERT_EQ(S_OK, u->GetFileStamp(Str(file), &stamp));
    EXPECT_EQ(1609459200, stamp);
    Str text;
    ASSERT_EQ(S_OK, u->GetFileStamp2(Str(file), text.Out()));
    EXPECT_EQ(L"1609459200", test::ToWide(text));
    stamp = 5;
    EXPECT_EQ(S_OK, u->GetFileStamp(Str(dir / L"missing"), &stamp));
    EXPECT_EQ(0, stamp);
}

TEST_F(Files, ListingSkipsPlainFoldersAndRecordsTheQuery) {
    dir.Write(L"b.xml", "");
    dir.Write(L"a.txt", "");
    CreateDirectoryW((dir / L"plain").c_str(), nullptr);
    CreateDirectoryW((dir / L"hidden").c_str(), nullptr);
    SetFileAttributesW((dir / L"hidden").c_str(), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN);

    ComPtr<IFieldCollection> list;
    ASSERT_EQ(S_OK, u->GetFilesInDirectory(Str(dir.path()), Str(L"*"), &list));
    std::vector<std::wstring> entries = Entries(list.Get());
    std::sort(entries.begin(), entries.end());
    auto entry = [&](const wchar_t* name) { return (dir / name) + L"=" + (dir / name); };
    EXPECT_EQ((std::vector<std::wstring>{entry(L"a.txt"), entry(L"b.xml"), entry(L"hidden")}), entries)
        << "a folder with another attribute is listed";
    ComPtr<IFieldCollection> attributes;
    list->get_Attributes(&attributes);
    EXPECT_EQ((std::vector<std::wstring>{L"directory=" + dir.path(), L"filter=*"}), Entries(attributes.Get()));

    ASSERT_EQ(S_OK, u->GetFilesInDirectory(Str(dir.path()), Str(L"*.xml"), &list));
    EXPECT_EQ(std::vector<std::wstring>{entry(L"b.xml")}, Entries(list.Get()));
    for (auto [folder, filter] : {std::pair{dir.path().c_str(), L""}, {nullptr, L"*"}}) {
        EXPECT_EQ(S_OK, u->GetFilesInDirectory(Str(folder), Str(filter), &list)) << filter;
        EXPECT_EQ(nullptr, list.Get()) << filter;
    }
}

TEST_F(Files, MkdirCreatesEveryLevelAndRmdirRemovesEmptyFolders) {
    const std::wstring deep = dir.path() + L"\\\\one\\two\\\\three\\", three = dir / L"one\\two\\three";
    ASSERT_EQ(S_OK, u->Mkdir(Str(deep)));
    EXPECT_TRUE(Exists(three));
    EXPECT_EQ(S_OK, u->Mkdir(Str(deep))) << "existing levels are fine";
    const std::wstring tooLong = dir.path() + L"\\" + std::wstring(300, L'n');
    EXPECT_EQ(L"Error creating directory " + tooLong + L"\\.", Failure(u->Mkdir(Str(tooLong))));

    dir.Write(L"one\\two\\three\\f.txt", "x");
    EXPECT_EQ(L"Error deleting directory " + three + L".", Failure(u->Rmdir(Str(three))));
    DeleteFileW((three + L"\\f.txt").c_str());
    EXPECT_EQ(S_OK, u->Rmdir(Str(three)));
    EXPECT_FALSE(Exists(three));
    EXPECT_EQ(S_OK, u->Rmdir(Str(three))) << "a missing folder is no failure";
}

// ---------------------------------------------------------------------------------------------
// Text and CSV files

TEST_F(Files, TextLinesAreNumberedAndSplitAtEveryBreak) {
    auto lines = [&](const std::string& bytes) {
        ComPtr<IFieldCollection> lines;
        EXPECT_EQ(S_OK, u->ReadTextFile(Str(dir.Write(L"lines.txt", bytes)), &lines));
        EXPECT_TRUE(lines);
        return Entries(lines.Get());
    };
    using Lines = std::vector<std::wstring>;
    EXPECT_EQ((Lines{L"1=a", L"2=b", L"3=", L"4=c d", L"5="}), lines("a\rb\n\nc d\r\n"))
        << "CR, LF and CR LF end a line; a final line break gives a last, empty line";
    EXPECT_EQ((Lines{L"1=caf\u00e9", L"2=end"}), lines("caf\xe9\nend\x1a" "after"))
        << "single bytes map to characters; Ctrl-Z ends the text";
    EXPECT_TRUE(lines("").empty());

    // Lines beyond the first thousands are fields like the others: found by their number, renamed.
    std::string many;
    for (int i = 1; i <= 5000; ++i) many += "line " + std::to_string(i) + "\n";
    ComPtr<IFieldCollection> big;
    ASSERT_EQ(S_OK, u->ReadTextFile(Str(dir.Write(L"many.txt", many)), &big));
    long count = 0;
    ComPtr<IField> line;
    Str text, renamed;
    big->get_Count(&count);
    EXPECT_EQ(5001, count);
    ASSERT_EQ(S_OK, big->get_Field(Str(L"4097"), &line));
    ASSERT_TRUE(line);
    line->put_Name(Str(L"renamed"));
    big->GetValue(Str(L"renamed"), renamed.Out());
    big->GetValue(Str(L"5000"), text.Out());
    EXPECT_EQ(L"line 4097|line 5000", ToWide(renamed) + L"|" + ToWide(text));
    line.Reset();
    EXPECT_EQ(S_OK, big->get_Field(Str(L"4097"), &line));
    EXPECT_FALSE(line);

    ComPtr<IFieldCollection> none;
    EXPECT_EQ(S_FALSE, u->ReadTextFile(nullptr, &none));
    EXPECT_EQ(S_OK, u->ReadTextFile(Str(dir / L"missing.txt"), &none));
    EXPECT_EQ(nullptr, none.Get());
}

TEST_F(Files, CsvPairsPairUpTokensPerLineAndCsvTablesNameColumnsByTheHeader) {
    const std::wstring file = dir.Write(L"pairs.csv", ";;a;1;b;;2;dropped\r\nc,3\r\n\r\nlonely\r\n");
    ComPtr<IFieldCollection> pairs;
    ASSERT_EQ(S_OK, u->ReadCSVFile(Str(file), Str(L";,"), &pairs));
    EXPECT_EQ((std::vector<std::wstring>{L"a=1", L"b=2", L"c=3"}), Entries(pairs.Get()));
    EXPECT_EQ(S_OK, u->ReadCSVFile(Str(file), Str(L"|"), &pairs));
    EXPECT_EQ(nullptr, pairs.Get()) << "no pair at all gives no collection";

    // ReadCSVFile2: the first line names the columns.
    using Rows = std::vector<std::vector<std::wstring>>;
    auto rows = [&](const std::string& bytes, const wchar_t* sep) {
        Rows out;
        ComPtr<IFieldCollectionTable> table;
        EXPECT_TRUE(SUCCEEDED(u->ReadCSVFile2(Str(dir.Write(L"table.csv", bytes)), Str(sep), &table)));
        ComPtr<IFieldCollection> row;
        for (long i = 1; table && SUCCEEDED(table->get_Item(i, row.ReleaseAndGetAddressOf())); ++i)
            out.push_back(Entries(row.Get()));
        return out;
    };
    EXPECT_EQ((Rows{{L"=", L"author=uer", L"company=qarn"}}), rows(";author;company\n;uer;qarn\n", L";"));
    EXPECT_EQ((Rows{{L"a=1", L"b=2", L"c=3", L"Index3=4", L"Index4=5"}, {L"a=x", L"b=", L"c="}}),
              rows("a;b;c\n1;2;3;4;5\n\nx\n", L";,"))
        << "only the first separator character counts; short rows get empty values";
    EXPECT_EQ((Rows{{L"Index0=1", L"Index1=2"}}), rows("\n1,2", L",")) << "an empty first line leaves no header";
    EXPECT_TRUE(rows("h\n", L",").empty());

    ComPtr<IFieldCollectionTable> table;
    EXPECT_EQ(S_FALSE, u->ReadCSVFile2(Str(dir.Write(L"t.csv", "a;b\n1;2\n")), Str(L""), &table));
    EXPECT_EQ(nullptr, table.Get());
}

// Device names are written to as they are: NUL takes every writer's text and no file appears.
TEST_F(Files, EveryWriterWritesToNulWithoutAFile) {
    auto list = test::Create<IParameterList>(CLSID_ParameterList);
    ComPtr<IFieldCollection> fields;
    list->get_FieldCollection(&fields);
    fields->SetValue(Str(L"F"), Variant(std::wstring_view(L"1")));
    auto document = test::Create<IQarnDocument>(CLSID_QarnDocument);
    document->put_ParameterList(list.Get());
    auto collaboration = test::Create<IQarnSimpleCollaboration>(CLSID_CQarnSimpleCollaboration);
    for (const std::wstring& nul : {std::wstring(L"NUL"), dir / L"NUL.txt", dir / L"nul"}) {
        SCOPED_TRACE(nul);
        EXPECT_EQ(S_OK, u->FileWrite(Str(nul), Str(L"text\n"))) << TakeMessage();
        EXPECT_EQ(S_OK, u->WriteXmlFile(Str(nul), list.Get())) << TakeMessage();
        EXPECT_EQ(S_OK, u->WriteQarnDocumentToFile(document.Get(), Str(nul))) << TakeMessage();
        EXPECT_EQ(S_OK, collaboration->Add2(Str(nul), fields.Get())) << TakeMessage();  // NUL.CLB
        ScopedVariable log(L"QarnLogFile", nul.c_str());
        auto factory = test::Create<IQarnClassFactory>(CLSID_CQarnClassFactory);
        EXPECT_EQ(S_OK, factory->WriteLogMessage(1, Str(L"line"))) << TakeMessage();
    }
    EXPECT_EQ(L"", FolderEntries(dir.path())) << "no file, no temporary file";
}

constexpr const wchar_t* kDevices[] = {L"CON", L"COM1", L"\\\\.\\COM1", L"C:\\data\\con.txt"};

// The console and ports are refused at once with the path in the message (reading them could wait
// forever); NUL reads as empty. The calls run on a thread of their own, so that a reader that
// waits fails the test instead of hanging the run.
TEST(DeviceReaders, ConsoleAndPortsAreRefusedAtOnceNulIsEmpty) {
    struct Reads {
        std::vector<std::wstring> answers;  // the messages, or "read"
        long nulLines = -1;
        std::atomic<bool> done{false};
    };
    auto reads = std::make_shared<Reads>();  // a thread that never ends keeps it
    std::thread([reads] {
        auto answer = [&](HRESULT hr) { reads->answers.push_back(hr == DISP_E_EXCEPTION ? TakeMessage() : L"read"); };
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        {
            auto u = test::Create<IQarnUtilities>(CLSID_CQarnUtilities);
            ComPtr<IFieldCollection> lines;
            ComPtr<IFieldCollectionTable> table;
            ComPtr<IQarnDocument> document;
            for (const wchar_t* path : kDevices) {
                answer(u->ReadTextFile(Str(path), &lines));
                answer(u->ReadCSVFile(Str(path), Str(L";"), &lines));
                answer(u->ReadCSVFile2(Str(path), Str(L";"), &table));
                answer(u->GetXmlQarnDocumentFromFile(Str(path), nullptr, &document));
            }
            if (u->ReadTextFile(Str(L"NUL"), &lines) == S_OK && lines) lines->get_Count(&reads->nulLines);
        }
        CoUninitialize();
        reads->done = true;
    }).detach();
    for (int waited = 0; !reads->done && waited < 30000; waited += 50) Sleep(50);
    ASSERT_TRUE(reads->done) << "a reader is still waiting after 30 s";
    ASSERT_EQ(4 * std::size(kDevices), reads->answers.size());
    for (size_t i = 0; i < reads->answers.size(); ++i) {
        const std::wstring path = kDevices[i / 4], &answer = reads->answers[i];
        if (i % 4 < 3)  // the text and CSV readers
            EXPECT_EQ(L"Cannot read " + path + L": the name is a device (console, port or device path), not a file.", answer);
        else  // the XML description reader fails, whatever it says, naming the path
            EXPECT_NE(std::wstring::npos, answer.find(path)) << answer;
    }
    EXPECT_EQ(0, reads->nulLines) << "NUL reads as an empty file";
}

}  // namespace

TEST(DevicePaths, ReservedNamesInTheLastPartAndTheDeviceNamespace) {
    using qarn::text::DeviceKind;
    using qarn::text::DeviceOfPath;
    for (const wchar_t* path : {L"NUL", L"nul.txt", L"C:\\out\\Nul", L"NUL:", L"C:NUL", L"x/nul .log", L"\\\\.\\NUL"})
        EXPECT_EQ(DeviceKind::Discard, DeviceOfPath(path)) << path;
    for (const wchar_t* path : {L"CON", L"conin$", L"CONOUT$", L"prn.xml", L"AUX", L"COM1", L"c:\\x\\lpt9.csv",
                                L"\\\\.\\COM12", L"\\\\?\\CON"})
        EXPECT_EQ(DeviceKind::Interactive, DeviceOfPath(path)) << path;
    for (const wchar_t* path : {L"\\\\.\\pipe\\x", L"\\\\.\\PhysicalDrive0", L"\\\\?\\GLOBALROOT"})
        EXPECT_EQ(DeviceKind::Other, DeviceOfPath(path)) << path;
    for (const wchar_t* path : {L"", L"COM0", L"COM10", L"LPT", L"CONSOLE.txt", L"NUL\\x.txt", L"C:\\nullable",
                                L"\\\\?\\C:\\NULL", L"\\\\server\\share\\file", L"\\\\?\\UNC\\server\\share\\f"})
        EXPECT_EQ(DeviceKind::None, DeviceOfPath(path)) << path;
}
