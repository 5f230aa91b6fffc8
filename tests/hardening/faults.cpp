// Writers on a full disk and in a folder nobody may write to: every failed write must report a
// readable error and leave the file it would have replaced (or appended to) exactly as it was.
//   faults.exe <folder on a small file system of its own> <read-only folder>
// tests/hardening/run-faults.sh provides both folders.
#include <windows.h>
#include <oaidl.h>
#include <wrl/client.h>

#include <cstdio>
#include <functional>
#include <optional>
#include <string>

#include "QarnComDatatypes.h"
#include "QarnComConnector.h"

using Microsoft::WRL::ComPtr;

namespace {

struct Failure {
    std::wstring what;
};

void Expect(bool ok, const std::wstring& what) {
    if (!ok) throw Failure{what};
}

template <class I>
ComPtr<I> New(REFCLSID clsid) {
    ComPtr<I> p;
    const HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(I), reinterpret_cast<void**>(p.GetAddressOf()));
    Expect(SUCCEEDED(hr), L"CoCreateInstance failed");
    return p;
}

class Str {
public:
    explicit Str(const std::wstring& text) : s_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    ~Str() { SysFreeString(s_); }
    Str(const Str&) = delete;
    Str& operator=(const Str&) = delete;
    operator BSTR() const { return s_; }

private:
    BSTR s_;
};

std::wstring TakeDescription() {
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) != S_OK || !info) return {};
    BSTR text = nullptr;
    info->GetDescription(&text);
    std::wstring result = text ? std::wstring(text, SysStringLen(text)) : std::wstring();
    SysFreeString(text);
    return result;
}

void Succeeds(HRESULT hr, const wchar_t* what) {
    if (FAILED(hr)) throw Failure{std::wstring(what) + L" failed: " + TakeDescription()};
}

// The call must fail with DISP_E_EXCEPTION and a description that contains `text`.
void FailsWith(HRESULT hr, const std::wstring& text, const wchar_t* what) {
    Expect(hr != S_OK, std::wstring(what) + L" returned S_OK");
    const std::wstring description = TakeDescription();
    Expect(hr == DISP_E_EXCEPTION && description.find(text) != std::wstring::npos,
           std::wstring(what) + L" failed without the description \"" + text + L"\": \"" + description + L"\"");
}

std::optional<std::string> Read(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return std::nullopt;
    std::string bytes;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got) bytes.append(buffer, got);
    CloseHandle(h);
    return bytes;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Fills the file system of `folder` up to the last byte; frees it again at the end of the scope.
class FullDisk {
public:
    explicit FullDisk(const std::wstring& folder) : path_(folder + L"\\filler.bin") {
        HANDLE h = CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        Expect(h != INVALID_HANDLE_VALUE, L"cannot create the filler file");
        static const char zeros[65536] = {};
        for (DWORD chunk : {65536u, 4096u, 1u}) {
            DWORD written = 0;
            while (WriteFile(h, zeros, chunk, &written, nullptr) && written == chunk) {
            }
        }
        CloseHandle(h);
    }
    ~FullDisk() { DeleteFileW(path_.c_str()); }
    FullDisk(const FullDisk&) = delete;
    FullDisk& operator=(const FullDisk&) = delete;

private:
    std::wstring path_;
};

bool TemporaryFilesLeft(const std::wstring& folder) {
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((folder + L"\\*.tmp").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return false;
    FindClose(find);
    return true;
}

// About 40 bytes per field: 400 fields never fit into what a full disk has left.
ComPtr<IFieldCollection> Fields(int count) {
    auto fields = New<IFieldCollection>(CLSID_FieldCollection);
    for (int i = 0; i < count; ++i) {
        VARIANT value;
        VariantInit(&value);
        value.vt = VT_BSTR;
        value.bstrVal = SysAllocString(L"a value of some length");
        Succeeds(fields->SetValue(Str(L"Field" + std::to_wstring(i)), value), L"SetValue");
        VariantClear(&value);
    }
    return fields;
}

int FieldCount(bool big) { return big ? 400 : 2; }

ComPtr<IParameterList> List(bool big) {
    auto list = New<IParameterList>(CLSID_ParameterList);
    Succeeds(list->put_FieldCollection(Fields(FieldCount(big)).Get()), L"put_FieldCollection");
    return list;
}

ComPtr<IQarnDocument> Document(bool big, const std::wstring& model = L"") {
    auto document = New<IQarnDocument>(CLSID_QarnDocument);
    auto list = List(big);
    if (!model.empty()) {
        ComPtr<IFieldCollection> fields;
        Succeeds(list->get_FieldCollection(&fields), L"get_FieldCollection");
        VARIANT value;
        VariantInit(&value);
        value.vt = VT_BSTR;
        value.bstrVal = SysAllocString(model.c_str());
        Succeeds(fields->SetValue(Str(L"ModelFullName"), value), L"SetValue");
        VariantClear(&value);
    }
    Succeeds(document->put_ParameterList(list.Get()), L"put_ParameterList");
    return document;
}

struct Folders {
    std::wstring small;   // on a file system of a few hundred kilobytes
    std::wstring locked;  // no new entries allowed
};

// A writer that replaces a whole file: `write(path, big)` writes a small or a big version.
void ReplacingWriter(const Folders& folders, const std::wstring& name, const std::wstring& error,
                     const std::function<HRESULT(const std::wstring&, bool)>& write) {
    const std::wstring file = folders.small + L"\\" + name;
    DeleteFileW(file.c_str());
    Succeeds(write(file, false), L"the first write");
    const std::optional<std::string> before = Read(file);
    Expect(before && !before->empty(), L"the first write left no file");
    {
        FullDisk full(folders.small);
        FailsWith(write(file, true), error + file, L"the write on a full disk");
        Expect(Read(file) == before, L"the earlier file was changed by a failed write");
        Expect(!TemporaryFilesLeft(folders.small), L"a temporary file was left behind");
    }
    // The same write works with space: the failure above came from the full disk.
    Succeeds(write(file, true), L"the write after freeing space");
    const std::optional<std::string> after = Read(file);
    Expect(after && after->size() > before->size() + 4096, L"the big version is not in the file");

    const std::wstring denied = folders.locked + L"\\" + name;
    FailsWith(write(denied, false), error + denied, L"the write into a read-only folder");
    Expect(!Exists(denied), L"a file appeared in the read-only folder");
    DeleteFileW(file.c_str());
}

void DocumentFiles(const Folders& folders) {
    auto u = New<IQarnUtilities>(CLSID_CQarnUtilities);
    ReplacingWriter(folders, L"document.xml", L"Error creating file ", [&](const std::wstring& path, bool big) {
        return u->WriteQarnDocumentToFile(Document(big).Get(), Str(path));
    });
}

void ParameterListFiles(const Folders& folders) {
    auto u = New<IQarnUtilities>(CLSID_CQarnUtilities);
    ReplacingWriter(folders, L"list.xml", L"Error creating file ",
                    [&](const std::wstring& path, bool big) { return u->WriteXmlFile(Str(path), List(big).Get()); });
}

std::wstring WithoutSuffix(const std::wstring& path) { return path.substr(0, path.size() - 4); }

void CollaborationFiles(const Folders& folders) {
    auto collaboration = New<IQarnSimpleCollaboration>(CLSID_CQarnSimpleCollaboration);
    ReplacingWriter(folders, L"A.asm.CLB", L"Error creating file ", [&](const std::wstring& path, bool big) {
        return collaboration->Add2(Str(WithoutSuffix(path)), Fields(FieldCount(big)).Get());
    });
    // What is stored survives a failed Add2 and is still read.
    const std::wstring model = folders.small + L"\\B.asm";
    Succeeds(collaboration->Add2(Str(model), Fields(2).Get()), L"Add2");
    {
        FullDisk full(folders.small);
        FailsWith(collaboration->Add2(Str(model), Fields(400).Get()), L"Error creating file ", L"Add2 on a full disk");
        ComPtr<IFieldCollection> stored;
        Succeeds(collaboration->Get2(Str(model), &stored), L"Get2");
        long count = 0;
        Expect(stored && SUCCEEDED(stored->get_Count(&count)) && count == 2, L"Get2 lost the stored fields");
    }
    DeleteFileW((model + L".CLB").c_str());

    auto u = New<IQarnUtilities>(CLSID_CQarnUtilities);
    ReplacingWriter(folders, L"C.asm.STR", L"Error creating file ", [&](const std::wstring& path, bool big) {
        return u->CreateStructureInformation3(Document(big, WithoutSuffix(path)).Get());
    });
}

// The text of `count` bytes that a failed append must not leave in part.
std::wstring LongText() { return std::wstring(20000, L'x'); }

bool EndsWithCompleteLine(const std::string& text) { return text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0; }

void LogFile(const Folders& folders) {
    const std::wstring log = folders.small + L"\\qarn.log";
    DeleteFileW(log.c_str());
    SetEnvironmentVariableW(L"QarnLogFile", log.c_str());
    auto factory = New<IQarnClassFactory>(CLSID_CQarnClassFactory);
    const std::wstring denied = folders.locked + L"\\qarn.log";
    SetEnvironmentVariableW(L"QarnLogFile", denied.c_str());
    auto lockedFactory = New<IQarnClassFactory>(CLSID_CQarnClassFactory);
    SetEnvironmentVariableW(L"QarnLogFile", nullptr);

    Succeeds(factory->WriteLogMessage(1, Str(L"first line")), L"WriteLogMessage");
    const std::optional<std::string> before = Read(log);
    Expect(before && EndsWithCompleteLine(*before), L"the first line is not in the log");
    {
        FullDisk full(folders.small);
        FailsWith(factory->WriteLogMessage(1, Str(LongText())), L"Error writing log file " + log,
                  L"WriteLogMessage on a full disk");
        Expect(Read(log) == before, L"a failed log line changed the log");
        // A method with trace lines still succeeds; whatever reached the log is complete lines.
        Succeeds(factory->Destroy(), L"Destroy on a full disk");
        const std::optional<std::string> traced = Read(log);
        Expect(traced && traced->compare(0, before->size(), *before) == 0 && EndsWithCompleteLine(*traced),
               L"trace lines on a full disk damaged the log");
    }
    Succeeds(factory->WriteLogMessage(1, Str(LongText())), L"WriteLogMessage after freeing space");
    Expect(Read(log)->size() > before->size() + 20000, L"the long line is not in the log");

    // A log that cannot be opened is skipped.
    Succeeds(lockedFactory->WriteLogMessage(1, Str(L"line")), L"WriteLogMessage into a read-only folder");
    Expect(!Exists(denied), L"a log appeared in the read-only folder");
    DeleteFileW(log.c_str());
}

void AppendedFile(const Folders& folders) {
    auto u = New<IQarnUtilities>(CLSID_CQarnUtilities);
    const std::wstring file = folders.small + L"\\export.csv";
    DeleteFileW(file.c_str());
    Succeeds(u->FileWrite(Str(file), Str(L"Number;Plant\n")), L"FileWrite");
    const std::optional<std::string> before = Read(file);
    Expect(before == std::string("Number;Plant\r\n"), L"FileWrite wrote another text");
    {
        FullDisk full(folders.small);
        FailsWith(u->FileWrite(Str(file), Str(LongText())), L"Error writing file " + file, L"FileWrite on a full disk");
        Expect(Read(file) == before, L"a failed FileWrite changed the file");
    }
    Succeeds(u->FileWrite(Str(file), Str(LongText())), L"FileWrite after freeing space");
    Expect(Read(file) == *before + std::string(20000, 'x'), L"FileWrite did not append the long text");

    // A file that cannot be opened is skipped, as for a missing folder.
    const std::wstring denied = folders.locked + L"\\export.csv";
    Succeeds(u->FileWrite(Str(denied), Str(L"x")), L"FileWrite into a read-only folder");
    Expect(!Exists(denied), L"a file appeared in the read-only folder");
    DeleteFileW(file.c_str());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        fwprintf(stderr, L"usage: faults <folder on a small file system> <read-only folder>\n");
        return 2;
    }
    const Folders folders{argv[1], argv[2]};
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        fwprintf(stderr, L"CoInitializeEx failed\n");
        return 1;
    }
    const struct {
        const wchar_t* name;
        void (*run)(const Folders&);
    } scenarios[] = {
        {L"document files", DocumentFiles},     {L"parameter-list files", ParameterListFiles},
        {L"collaboration files", CollaborationFiles}, {L"log file", LogFile},
        {L"FileWrite", AppendedFile},
    };
    int passed = 0, failed = 0;
    for (const auto& s : scenarios) {
        try {
            s.run(folders);
            ++passed;
            wprintf(L"ok    %ls\n", s.name);
        } catch (const Failure& f) {
            ++failed;
            wprintf(L"FAIL  %ls: %ls\n", s.name, f.what.c_str());
        }
        fflush(stdout);
    }
    wprintf(L"faults: %d passed, %d failed\n", passed, failed);
    CoUninitialize();
    return failed ? 1 : 0;
}
