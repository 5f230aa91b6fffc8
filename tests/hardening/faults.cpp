// Writers on a full disk and in a folder nobody may write to: every failed write must report a
// readable error and leave the file it would have replaced (or appended to) exactly as it was.
//   faults.exe <folder on a small file system of its own> <read-only folder>
// tests/hardening/run-faults.sh provides both folders.
#include "Hardening.h"
#include "QarnComConnector.h"

#include <algorithm>

namespace {

std::wstring g_small, g_locked;  // a folder on a file system of a few hundred kilobytes; a read-only one

// The call must fail with DISP_E_EXCEPTION and a description that contains `text`.
void FailsWith(HRESULT hr, const std::wstring& text, const std::wstring& what) {
    Expect(hr != S_OK, what + L" returned S_OK");
    const std::wstring description = TakeDescription();
    Expect(hr == DISP_E_EXCEPTION && description.find(text) != std::wstring::npos,
           what + L" failed without the description \"" + text + L"\": \"" + description + L"\"");
}

// Fills the small file system up to the last byte; frees it again at the end of the scope.
struct FullDisk {
    const std::wstring path = g_small + L"\\filler.bin";
    FullDisk() {
        HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        Expect(h != INVALID_HANDLE_VALUE, L"cannot create the filler file");
        static const char zeros[65536] = {};
        DWORD written = 0;
        for (DWORD chunk : {65536u, 4096u, 1u})
            while (WriteFile(h, zeros, chunk, &written, nullptr) && written == chunk) {}
        CloseHandle(h);
    }
    ~FullDisk() { DeleteFileW(path.c_str()); }
    // Gives back `bytes` (whole pages of the file system) and one page more.
    void Free(size_t bytes) {
        HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        LARGE_INTEGER size{};
        GetFileSizeEx(h, &size);
        size.QuadPart -= static_cast<LONGLONG>((bytes + 4095) / 4096 * 4096 + 4096);
        Expect(size.QuadPart > 0 && SetFilePointerEx(h, size, nullptr, FILE_BEGIN) && SetEndOfFile(h),
               L"cannot free space");
        CloseHandle(h);
    }
};

// About 40 bytes per field: a big version (400 fields) never fits into what a full disk has left.
ComPtr<IFieldCollection> Fields(bool big, const std::wstring& model = L"") {
    auto fields = NewFields(big ? 400 : 2, L"a value of some length");
    if (!model.empty()) Check(fields->SetValue(Str(L"ModelFullName"), Var(Text(model))), L"SetValue");
    return fields;
}

std::wstring WithoutSuffix(const std::wstring& path) { return path.substr(0, path.size() - 4); }

// Nothing but `names` (and the filler) in the small folder: no temporary file was left behind.
void ExpectOnly(std::initializer_list<std::wstring> names) {
    ForEachEntry(g_small, [&](const std::wstring& entry, bool) {
        Expect(entry == L"filler.bin" || std::find(names.begin(), names.end(), entry) != names.end(),
               L"a temporary file was left behind: " + entry);
    });
}

// A writer that replaces a whole file: `write(path, big)` writes a small or a big version.
void ReplacingWriter(const std::wstring& name, const std::function<HRESULT(const std::wstring&, bool)>& write) {
    const std::wstring file = g_small + L"\\" + name, denied = g_locked + L"\\" + name;
    DeleteFileW(file.c_str());
    Check(write(file, false), L"the first write");
    const std::optional<std::string> before = ReadBytes(file);
    Expect(before && !before->empty(), L"the first write left no file");
    {
        FullDisk full;
        FailsWith(write(file, true), L"Error creating file " + file, L"the write on a full disk");
        Expect(ReadBytes(file) == before, L"the earlier file was changed by a failed write");
        ExpectOnly({name});
    }
    // The same write works with space: the failure above came from the full disk.
    Check(write(file, true), L"the write after freeing space");
    const std::optional<std::string> after = ReadBytes(file);
    Expect(after && after->size() > before->size() + 4096, L"the big version is not in the file");
    FailsWith(write(denied, false), L"Error creating file " + denied, L"the write into a read-only folder");
    Expect(!Exists(denied), L"a file appeared in the read-only folder");
    DeleteFileW(file.c_str());
}

void DocumentFiles() {
    auto u = New<IQarnUtilities>(CLSID_CQarnUtilities);
    ReplacingWriter(L"document.xml", [&](auto& path, bool big) { return u->WriteQarnDocumentToFile(NewDocument(Fields(big)).Get(), Str(path)); });
}

void ParameterListFiles() {
    auto u = New<IQarnUtilities>(CLSID_CQarnUtilities);
    ReplacingWriter(L"list.xml", [&](auto& path, bool big) { return u->WriteXmlFile(Str(path), NewList(Fields(big)).Get()); });
}

void CollaborationFiles() {
    auto collaboration = New<IQarnSimpleCollaboration>(CLSID_CQarnSimpleCollaboration);
    ReplacingWriter(L"A.asm.CLB", [&](auto& path, bool big) { return collaboration->Add2(Str(WithoutSuffix(path)), Fields(big).Get()); });
    // What is stored survives a failed Add2 and is still read.
    const std::wstring model = g_small + L"\\B.asm";
    Check(collaboration->Add2(Str(model), Fields(false).Get()), L"Add2");
    {
        FullDisk full;
        FailsWith(collaboration->Add2(Str(model), Fields(true).Get()), L"Error creating file ", L"Add2 on a full disk");
        ComPtr<IFieldCollection> stored;
        Check(collaboration->Get2(Str(model), &stored), L"Get2");
        long count = 0;
        Expect(stored && SUCCEEDED(stored->get_Count(&count)) && count == 2, L"Get2 lost the stored fields");
    }
    DeleteFileW((model + L".CLB").c_str());
    auto u = New<IQarnUtilities>(CLSID_CQarnUtilities);
    ReplacingWriter(L"C.asm.STR", [&](auto& path, bool big) {
        return u->CreateStructureInformation3(NewDocument(Fields(big, WithoutSuffix(path))).Get());
    });
}

// A file with a second name (hard link) is rewritten in place, so both names see the new content.
// With room for the temporary file but not for the file to grow as well, the write fails and both
// names still show the old content.
void LinkedFile() {
    auto u = New<IQarnUtilities>(CLSID_CQarnUtilities);
    const std::wstring file = g_small + L"\\linked.xml", link = g_small + L"\\link.xml";
    auto write = [&](bool big) { return u->WriteXmlFile(Str(file), NewList(Fields(big)).Get()); };
    Check(write(true), L"the big version");
    const size_t bigSize = ReadBytes(file)->size();
    DeleteFileW(file.c_str());
    Check(write(false), L"the first write");
    Expect(CreateHardLinkW(link.c_str(), file.c_str(), nullptr), L"cannot make a hard link");
    const std::optional<std::string> before = ReadBytes(link);
    {
        FullDisk full;
        full.Free(bigSize);
        FailsWith(write(true), L"Error creating file " + file, L"growing a linked file on a full disk");
        Expect(ReadBytes(file) == before && ReadBytes(link) == before, L"a failed write changed the linked file");
        ExpectOnly({L"linked.xml", L"link.xml"});
    }
    Check(write(true), L"the write after freeing space");
    const std::optional<std::string> after = ReadBytes(link);
    Expect(after && after->size() == bigSize && after == ReadBytes(file), L"the other name does not see the new content");
    DeleteFileW(link.c_str());
    DeleteFileW(file.c_str());
}

bool EndsWithCompleteLine(const std::optional<std::string>& text) {
    return text && text->size() >= 2 && text->compare(text->size() - 2, 2, "\r\n") == 0;
}

void LogFile() {
    const std::wstring log = g_small + L"\\qarn.log", denied = g_locked + L"\\qarn.log", longText(20000, L'x');
    DeleteFileW(log.c_str());
    SetEnvironmentVariableW(L"QarnLogFile", log.c_str());
    auto factory = New<IQarnClassFactory>(CLSID_CQarnClassFactory);
    SetEnvironmentVariableW(L"QarnLogFile", denied.c_str());
    auto lockedFactory = New<IQarnClassFactory>(CLSID_CQarnClassFactory);
    SetEnvironmentVariableW(L"QarnLogFile", nullptr);

    // The utilities object logs a warning for a missing optional resource file (a line of about
    // 2,000 characters: the name is long).
    const std::wstring root = g_small + L"\\root";
    CreateDirectoryW(root.c_str(), nullptr);
    CreateDirectoryW((root + L"\\xml").c_str(), nullptr);
    const std::string configuration =
        "<?xml version=\"1.0\"?><QarnConnector><Properties><ResourceFiles strictFileExistCheck=\"false\">" +
        std::string(3000, 'm') + "</ResourceFiles></Properties><JniOptions/></QarnConnector>";
    WriteBytes(root + L"\\xml\\QarnConnector.xml", configuration.c_str());
    SetEnvironmentVariableW(L"QarnLogFile", log.c_str());
    SetEnvironmentVariableW(L"QarnRootDir", root.c_str());
    auto utilities = New<IQarnUtilities>(CLSID_CQarnUtilities);
    SetEnvironmentVariableW(L"QarnLogFile", nullptr);

    // The first line fills most of the log's first block: the lines below need another one.
    Check(factory->WriteLogMessage(1, Str(L"first line " + std::wstring(3900, L'f'))), L"WriteLogMessage");
    const std::optional<std::string> before = ReadBytes(log);
    Expect(EndsWithCompleteLine(before), L"the first line is not in the log");
    // Logging never makes a method fail, nor leaves an error object behind for its caller.
    auto succeedsCleanly = [](HRESULT hr, const std::wstring& what) {
        Check(hr, what);
        const std::wstring left = TakeDescription();
        Expect(left.empty(), what + L" left an error object: \"" + left + L"\"");
    };
    {
        FullDisk full;
        succeedsCleanly(factory->WriteLogMessage(1, Str(longText)), L"WriteLogMessage on a full disk");
        Expect(ReadBytes(log) == before, L"a failed log line changed the log");
        succeedsCleanly(utilities->ReadXmlConfigurationFiles2(Str(L"EN")),
                        L"ReadXmlConfigurationFiles2 with a warning on a full disk");
        Expect(ReadBytes(log) == before, L"a failed warning changed the log");
        // A method with trace lines still succeeds; whatever reached the log is complete lines.
        Check(factory->Destroy(), L"Destroy on a full disk");
        const std::optional<std::string> traced = ReadBytes(log);
        Expect(EndsWithCompleteLine(traced) && traced->compare(0, before->size(), *before) == 0,
               L"trace lines on a full disk damaged the log");
    }
    Check(factory->WriteLogMessage(1, Str(longText)), L"WriteLogMessage after freeing space");
    Expect(ReadBytes(log)->size() > before->size() + 20000, L"the long line is not in the log");
    // A log that cannot be opened is skipped.
    Check(lockedFactory->WriteLogMessage(1, Str(L"line")), L"WriteLogMessage into a read-only folder");
    Expect(!Exists(denied), L"a log appeared in the read-only folder");
    SetEnvironmentVariableW(L"QarnRootDir", nullptr);
    RemoveTree(root);
    DeleteFileW(log.c_str());
}

void AppendedFile() {
    auto u = New<IQarnUtilities>(CLSID_CQarnUtilities);
    const std::wstring file = g_small + L"\\export.csv", denied = g_locked + L"\\export.csv", longText(20000, L'x');
    DeleteFileW(file.c_str());
    Check(u->FileWrite(Str(file), Str(L"Number;Plant\n")), L"FileWrite");
    const std::optional<std::string> before = ReadBytes(file);
    Expect(before == std::string("Number;Plant\r\n"), L"FileWrite wrote another text");
    {
        FullDisk full;
        FailsWith(u->FileWrite(Str(file), Str(longText)), L"Error writing file " + file, L"FileWrite on a full disk");
        Expect(ReadBytes(file) == before, L"a failed FileWrite changed the file");
    }
    Check(u->FileWrite(Str(file), Str(longText)), L"FileWrite after freeing space");
    Expect(ReadBytes(file) == *before + std::string(20000, 'x'), L"FileWrite did not append the long text");
    // A file that cannot be opened is skipped, as for a missing folder.
    Check(u->FileWrite(Str(denied), Str(L"x")), L"FileWrite into a read-only folder");
    Expect(!Exists(denied), L"a file appeared in the read-only folder");
    DeleteFileW(file.c_str());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) return fwprintf(stderr, L"usage: faults <folder on a small file system> <read-only folder>\n"), 2;
    g_small = argv[1];
    g_locked = argv[2];
    ComScope com;
    if (!com.ok) return fwprintf(stderr, L"faults: COM could not be started\n"), 1;
    const std::pair<const wchar_t*, void (*)()> scenarios[] = {
        {L"document files", DocumentFiles}, {L"parameter-list files", ParameterListFiles},
        {L"collaboration files", CollaborationFiles}, {L"linked file", LinkedFile}, {L"log file", LogFile},
        {L"FileWrite", AppendedFile}};
    int passed = 0, failed = 0;
    for (const auto& [name, run] : scenarios) {
        try {
            run();
            ++passed;
            wprintf(L"ok    %ls\n", name);
        } catch (const Failure& f) {
            ++failed;
            wprintf(L"FAIL  %ls: %ls\n", name, f.what.c_str());
        }
        fflush(stdout);
    }
    wprintf(L"faults: %d passed, %d failed\n", passed, failed);
    return failed ? 1 : 0;
}
