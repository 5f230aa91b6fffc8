// File-system operations and text/CSV files of CQarnUtilities, through real activation, against
// files in a scratch folder of the test prefix.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "TestSupport.h"
#include "UtilitiesSupport.h"

using test::ComPtr;
using test::ScratchFolder;
using test::Str;
using test::Entries;
using test::ToWide;
using test::Variant;

namespace {

class Files : public ::testing::Test {
protected:
    ComPtr<IQarnUtilities> u = test::Create<IQarnUtilities>(CLSID_CQarnUtilities);
    ScratchFolder dir{L"files"};

    bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
    bool ReadOnly(const std::wstring& path) {
        return (GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_READONLY) != 0;
    }
    void MakeReadOnly(const std::wstring& path) { SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY); }
    std::wstring Message() { return test::TakeMessage(); }
};

TEST_F(Files, ExistenceAndAccessChecks) {
    const std::wstring file = dir.Write(L"a.txt", "x");
    VARIANT_BOOL r = VARIANT_FALSE;
    EXPECT_EQ(S_OK, u->FileExist(Str(file), &r));
    EXPECT_EQ(VARIANT_TRUE, r);
    EXPECT_EQ(S_OK, u->FileExist(Str(dir.path()), &r)) << "folders exist too";
    for (const wchar_t* missing : {static_cast<const wchar_t*>(nullptr), L"", L"C:\\no\\such.txt"}) {
        r = VARIANT_TRUE;
        EXPECT_EQ(DISP_E_EXCEPTION, u->FileExist(Str(missing), &r));
        EXPECT_EQ(VARIANT_FALSE, r);
        EXPECT_EQ(L"File " + std::wstring(missing ? missing : L"(null)") + L" does not exist.", Message());
        r = VARIANT_TRUE;
        EXPECT_EQ(S_OK, u->FileExist2(Str(missing), &r));
        EXPECT_EQ(VARIANT_FALSE, r);
    }
    EXPECT_EQ(S_OK, u->FileExist2(Str(file), &r));
    EXPECT_EQ(VARIANT_TRUE, r);
    const std::wstring huge(100000, L'h');
    EXPECT_EQ(DISP_E_EXCEPTION, u->FileExist(Str(huge), &r));
    EXPECT_EQ(L"File " + huge + L" does not exist.", Message()) << "a long name gives the complete text";

    EXPECT_EQ(S_OK, u->FileAccess(nullptr, 0, &r));
    EXPECT_EQ(VARIANT_FALSE, r);
    EXPECT_EQ(S_OK, u->FileAccess(Str(L""), 0, &r));
    EXPECT_EQ(VARIANT_FALSE, r);
    EXPECT_EQ(S_OK, u->FileAccess(Str(file), 6, &r));
    EXPECT_EQ(VARIANT_TRUE, r);
    EXPECT_EQ(DISP_E_EXCEPTION, u->FileAccess(Str(file), 8, &r));
    EXPECT_EQ(L"mode 00 -> Existence only\nmode 02 -> Write-only\nmode 04 -> Read-only\nmode 06 -> Read and Write\n"
              L"in CQarnUtilities::FileAccess",
              Message());
    EXPECT_EQ(DISP_E_EXCEPTION, u->FileExist(Str(file), nullptr));
}

TEST_F(Files, CopyMoveAndRemoveHandleNullsReadOnlyTargetsAndFailures) {
    const std::wstring src = dir.Write(L"src.txt", "new"), dst = dir.Write(L"dst.txt", "old");
    EXPECT_EQ(S_OK, u->FileCopy(nullptr, Str(dst)));
    EXPECT_EQ(S_OK, u->FileCopy(Str(src), nullptr));
    EXPECT_EQ(S_OK, u->FileCopy(Str(L""), Str(L"")));
    EXPECT_EQ(S_OK, u->FileCopy(Str(src), Str(dir / L"SRC.TXT"))) << "the same name in other case is no copy";

    MakeReadOnly(dst);
    ASSERT_EQ(S_OK, u->FileCopy(Str(src), Str(dst)));
    EXPECT_EQ("new", ScratchFolder::Read(dst));
    EXPECT_FALSE(ReadOnly(dst)) << "the read-only flag of the destination is cleared first";

    EXPECT_EQ(DISP_E_EXCEPTION, u->FileCopy(Str(L""), Str(dst)));
    EXPECT_EQ(L"Error copying file  to " + dst + L".", Message());
    EXPECT_EQ(DISP_E_EXCEPTION, u->FileCopy(Str(dir / L"none"), Str(dst)));
    EXPECT_EQ(L"Error copying file " + (dir / L"none") + L" to " + dst + L".", Message());

    const std::wstring moved = dir.Write(L"moved.txt", "moved");
    MakeReadOnly(dst);
    ASSERT_EQ(S_OK, u->FileMove(Str(moved), Str(dst)));
    EXPECT_EQ("moved", ScratchFolder::Read(dst));
    EXPECT_FALSE(Exists(moved));
    EXPECT_EQ(DISP_E_EXCEPTION, u->FileMove(Str(moved), Str(dst)));
    EXPECT_EQ(L"Error moving file " + moved + L" to " + dst + L".", Message());

    MakeReadOnly(dst);
    EXPECT_EQ(S_OK, u->FileRemove(Str(dst)));
    EXPECT_FALSE(Exists(dst)) << "read-only files are removed";
    EXPECT_EQ(S_OK, u->FileRemove(nullptr));
    EXPECT_EQ(DISP_E_EXCEPTION, u->FileRemove(Str(dst)));
    EXPECT_EQ(L"Error removing file " + dst + L".", Message());

    // FilesRemove: directory and selection are joined as they are; folders and failures are skipped.
    dir.Write(L"x1.tmp", "1");
    dir.Write(L"x2.tmp", "2");
    MakeReadOnly(dir / L"x2.tmp");
    CreateDirectoryW((dir / L"sub.tmp").c_str(), nullptr);
    EXPECT_EQ(S_OK, u->FilesRemove(Str(dir.path() + L"\\"), Str(L"*.tmp")));
    EXPECT_FALSE(Exists(dir / L"x1.tmp"));
    EXPECT_FALSE(Exists(dir / L"x2.tmp"));
    EXPECT_TRUE(Exists(src));
    EXPECT_TRUE(Exists(dir / L"sub.tmp"));
    EXPECT_EQ(S_OK, u->FilesRemove(Str(dir / L"missing\\"), Str(L"*")));
    EXPECT_EQ(S_OK, u->FilesRemove(nullptr, Str(L"*")));
}

TEST_F(Files, FileWriteAppendsUtf8WithoutMarkAndChmodTogglesWriting) {
    const std::wstring file = dir / L"out.txt";
    ASSERT_EQ(S_OK, u->FileWrite(Str(file), Str(L"Gr\u00fc\u00dfe\nline 2")));
    ASSERT_EQ(S_OK, u->FileWrite(Str(file), Str(L" \u20ac 100%s%d\n")));
    EXPECT_EQ("Gr\xc3\xbc\xc3\x9f" "e\r\nline 2 \xe2\x82\xac 100%s%d\r\n", ScratchFolder::Read(file));
    EXPECT_EQ(S_OK, u->FileWrite(nullptr, Str(L"x")));
    EXPECT_EQ(S_OK, u->FileWrite(Str(dir / L"no\\such\\folder.txt"), Str(L"x"))) << "cannot open: nothing happens";

    ASSERT_EQ(S_OK, u->Chmod(Str(file), 0));
    EXPECT_TRUE(ReadOnly(file));
    VARIANT_BOOL writable = VARIANT_TRUE;
    u->FileAccess(Str(file), 2, &writable);
    EXPECT_EQ(VARIANT_FALSE, writable);
    ASSERT_EQ(S_OK, u->Chmod(Str(file), 0x80 | 0x100));
    EXPECT_FALSE(ReadOnly(file));
    EXPECT_EQ(S_OK, u->Chmod(nullptr, 0));
    EXPECT_EQ(S_OK, u->Chmod(Str(dir / L"missing"), 0));
}

TEST_F(Files, StampsOfFilesAndMissingFiles) {
    const std::wstring file = dir.Write(L"stamp.txt", "x");
    HANDLE h = CreateFileW(file.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    // 2021-01-01 00:00:00 UTC = 1609459200 s after 1970.
    ULONGLONG ticks = (1609459200ULL + 11644473600ULL) * 10000000ULL;
    FILETIME ft{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SetFileTime(h, nullptr, nullptr, &ft);
    CloseHandle(h);
    LONG stamp = 0;
    ASSERT_EQ(S_OK, u->GetFileStamp(Str(file), &stamp));
    EXPECT_EQ(1609459200, stamp);
    BSTR text = nullptr;
    ASSERT_EQ(S_OK, u->GetFileStamp2(Str(file), &text));
    EXPECT_EQ(L"1609459200", ToWide(text));
    SysFreeString(text);
    stamp = 5;
    EXPECT_EQ(S_OK, u->GetFileStamp(Str(dir / L"missing"), &stamp));
    EXPECT_EQ(0, stamp);
    EXPECT_EQ(DISP_E_EXCEPTION, u->GetFileStamp(Str(file), nullptr));
}

TEST_F(Files, ListingSkipsPlainFoldersAndRecordsTheQuery) {
    dir.Write(L"b.xml", "");
    dir.Write(L"a.txt", "");
    CreateDirectoryW((dir / L"plain").c_str(), nullptr);
    CreateDirectoryW((dir / L"hidden").c_str(), nullptr);
    SetFileAttributesW((dir / L"hidden").c_str(), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN);

    ComPtr<IFieldCollection> list;
    ASSERT_EQ(S_OK, u->GetFilesInDirectory(Str(dir.path()), Str(L"*"), &list));
    ASSERT_TRUE(list);
    std::vector<std::wstring> entries = Entries(list.Get());
    std::sort(entries.begin(), entries.end());
    ASSERT_EQ(3u, entries.size());
    EXPECT_EQ((dir / L"a.txt") + L"=" + (dir / L"a.txt"), entries[0]);
    EXPECT_EQ((dir / L"b.xml") + L"=" + (dir / L"b.xml"), entries[1]);
    EXPECT_EQ((dir / L"hidden") + L"=" + (dir / L"hidden"), entries[2]) << "a folder with another attribute is listed";
    ComPtr<IFieldCollection> attributes;
    list->get_Attributes(&attributes);
    ASSERT_TRUE(attributes);
    EXPECT_EQ((std::vector<std::wstring>{L"directory=" + dir.path(), L"filter=*"}), Entries(attributes.Get()));

    ASSERT_EQ(S_OK, u->GetFilesInDirectory(Str(dir.path()), Str(L"*.xml"), &list));
    EXPECT_EQ(1u, Entries(list.Get()).size());
    EXPECT_EQ(S_OK, u->GetFilesInDirectory(Str(dir.path()), Str(L""), &list));
    EXPECT_EQ(nullptr, list.Get());
    EXPECT_EQ(S_OK, u->GetFilesInDirectory(Str(dir.path()), Str(L"*.none"), &list));
    EXPECT_EQ(nullptr, list.Get());
    EXPECT_EQ(S_OK, u->GetFilesInDirectory(nullptr, Str(L"*"), &list));
    EXPECT_EQ(nullptr, list.Get());
    ASSERT_EQ(S_OK, u->GetFilesInDirectory(Str(L""), Str(L"*"), &list));
    ASSERT_TRUE(list) << "an empty folder name lists the root of the current drive";
    EXPECT_EQ(L'\\', Entries(list.Get())[0][0]);
}

TEST_F(Files, MkdirCreatesEveryLevelAndRmdirRemovesEmptyFolders) {
    const std::wstring deep = dir.path() + L"\\\\one\\two\\\\three\\";
    ASSERT_EQ(S_OK, u->Mkdir(Str(deep)));
    EXPECT_TRUE(Exists(dir / L"one\\two\\three"));
    EXPECT_EQ(S_OK, u->Mkdir(Str(deep))) << "existing levels are fine";
    EXPECT_EQ(S_OK, u->Mkdir(nullptr));
    EXPECT_EQ(S_OK, u->Mkdir(Str(L"")));

    const std::wstring tooLong = dir.path() + L"\\" + std::wstring(300, L'n');
    EXPECT_EQ(DISP_E_EXCEPTION, u->Mkdir(Str(tooLong)));
    EXPECT_EQ(L"Error creating directory " + tooLong + L"\\.", Message());

    dir.Write(L"one\\two\\three\\f.txt", "x");
    EXPECT_EQ(DISP_E_EXCEPTION, u->Rmdir(Str(dir / L"one\\two\\three")));
    EXPECT_EQ(L"Error deleting directory " + (dir / L"one\\two\\three") + L".", Message());
    DeleteFileW((dir / L"one\\two\\three\\f.txt").c_str());
    EXPECT_EQ(S_OK, u->Rmdir(Str(dir / L"one\\two\\three")));
    EXPECT_FALSE(Exists(dir / L"one\\two\\three"));
    EXPECT_EQ(S_OK, u->Rmdir(Str(dir / L"one\\two\\three")));
    EXPECT_EQ(S_OK, u->Rmdir(nullptr));
    EXPECT_EQ(S_OK, u->Rmdir(Str(L"")));
}

// ---------------------------------------------------------------------------------------------
// Text and CSV files

class TextFiles : public Files {
protected:
    std::vector<std::wstring> Lines(const std::string& bytes) {
        ComPtr<IFieldCollection> lines;
        EXPECT_EQ(S_OK, u->ReadTextFile(Str(dir.Write(L"lines.txt", bytes)), &lines));
        EXPECT_TRUE(lines);
        return Entries(lines.Get());
    }
};

TEST_F(TextFiles, LinesAreNumberedAndSplitAtEveryBreak) {
    const std::string four = "test 1st line\r\ntest 2nd line\r\ntest 3rd line\r\ntest 4th line";
    EXPECT_EQ((std::vector<std::wstring>{L"1=test 1st line", L"2=test 2nd line", L"3=test 3rd line", L"4=test 4th line"}),
              Lines(four));
    EXPECT_EQ(5u, Lines(four + "\r\n").size());
    EXPECT_EQ(L"5=", Lines(four + "\r\n").back());
    EXPECT_EQ((std::vector<std::wstring>{L"1=a", L"2=b", L"3=", L"4=c"}), Lines("a\rb\n\nc"));
    EXPECT_EQ((std::vector<std::wstring>{L"1=caf\u00e9", L"2=end"}), Lines("caf\xe9\nend\x1a" "after"))
        << "single bytes map to characters; Ctrl-Z ends the text";
    EXPECT_TRUE(Lines("").empty());

    ComPtr<IFieldCollection> none;
    EXPECT_EQ(S_FALSE, u->ReadTextFile(nullptr, &none));
    EXPECT_EQ(S_FALSE, u->ReadTextFile(Str(L""), &none));
    EXPECT_EQ(S_OK, u->ReadTextFile(Str(dir / L"missing.txt"), &none));
    EXPECT_EQ(nullptr, none.Get());
}

TEST_F(TextFiles, CsvPairsPairUpTokensPerLine) {
    const std::wstring file = dir.Write(L"pairs.csv", ";;a;1;b;;2;dropped\r\nc,3\r\n\r\nlonely\r\n");
    ComPtr<IFieldCollection> pairs;
    ASSERT_EQ(S_OK, u->ReadCSVFile(Str(file), Str(L";,"), &pairs));
    EXPECT_EQ((std::vector<std::wstring>{L"a=1", L"b=2", L"c=3"}), Entries(pairs.Get()));
    EXPECT_EQ(S_OK, u->ReadCSVFile(Str(file), Str(L"|"), &pairs));
    EXPECT_EQ(nullptr, pairs.Get()) << "no pair at all gives no collection";
    EXPECT_EQ(S_FALSE, u->ReadCSVFile(Str(file), nullptr, &pairs));
    EXPECT_EQ(S_OK, u->ReadCSVFile(Str(dir / L"missing"), Str(L";"), &pairs));
    EXPECT_EQ(nullptr, pairs.Get());
}

TEST_F(TextFiles, CsvTablesNameColumnsByTheHeader) {
    auto rows = [&](const std::string& bytes, const wchar_t* sep) {
        std::vector<std::vector<std::wstring>> out;
        ComPtr<IFieldCollectionTable> table;
        HRESULT hr = u->ReadCSVFile2(Str(dir.Write(L"table.csv", bytes)), Str(sep), &table);
        EXPECT_TRUE(SUCCEEDED(hr));
        long n = 0;
        if (table) table->get_Count(&n);
        for (long i = 1; i <= n; ++i) {
            ComPtr<IFieldCollection> row;
            table->get_Item(i, &row);
            out.push_back(Entries(row.Get()));
        }
        return out;
    };
    using Rows = std::vector<std::vector<std::wstring>>;
    EXPECT_EQ((Rows{{L"=", L"author=uer", L"company=qarn"}}), rows(";author;company\n;uer;qarn\n", L";"));
    EXPECT_EQ((Rows{{L"a=1", L"b=2", L"c=3", L"Index3=4", L"Index4=5"}, {L"a=x", L"b=", L"c="}}),
              rows("a;b;c\n1;2;3;4;5\n\nx\n", L";,"))
        << "only the first separator character counts; short rows get empty values";
    EXPECT_EQ((Rows{{L"Index0=1", L"Index1=2"}}), rows("\n1,2", L",")) << "an empty first line leaves no header";
    EXPECT_TRUE(rows("h\n", L",").empty());

    ComPtr<IFieldCollectionTable> table;
    const std::wstring file = dir.Write(L"t.csv", "a;b\n1;2\n");
    EXPECT_EQ(S_FALSE, u->ReadCSVFile2(Str(file), nullptr, &table));
    EXPECT_EQ(S_FALSE, u->ReadCSVFile2(Str(file), Str(L""), &table));
    EXPECT_EQ(nullptr, table.Get());
}

}  // namespace
