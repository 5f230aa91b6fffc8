// The built-in self-test of CQarnUtilities, started by InvokeMethod with the function module
// "RunTestCases" and an access code. Every case calls methods through the object's own interface,
// as a client does, and writes one line to the object's log file; a summary line ends the run.
// Variant 1 checks text methods and an encryption round trip, variant 2 also the file methods in
// a fresh folder below the temporary folder. A failing case never makes the caller fail.
#include "server/Utilities.h"

#include <string>

using namespace qarn;

namespace {

// A check of a case that did not hold; its text goes into the case's log line.
struct CaseFailure {
    std::wstring text;
};

// The first line of the thread's error description (empty when there is none); takes it.
std::wstring TakeErrorText() {
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) != S_OK || !info) return {};
    Bstr description;
    info->GetDescription(description.Out());
    const std::wstring_view text = description.View();
    return std::wstring(text.substr(0, text.find(L'\n')));
}

void Succeeded(HRESULT hr, const wchar_t* call) {
    if (SUCCEEDED(hr)) return;
    const std::wstring reason = TakeErrorText();
    std::wstring text = Format(L"%s returned 0x%08X", call, static_cast<unsigned>(hr));
    if (!reason.empty()) text += L" (" + reason + L")";
    throw CaseFailure{text};
}

void Failed(HRESULT hr, const wchar_t* call) {
    SetErrorInfo(0, nullptr);
    if (FAILED(hr)) return;
    throw CaseFailure{std::wstring(call) + L" did not fail"};
}

void SameText(const Bstr& got, std::wstring_view expected, const wchar_t* call) {
    if (!got.IsNull() && got.View() == expected) return;
    const std::wstring shown = got.IsNull() ? std::wstring(L"null") : L"\"" + std::wstring(got.View()) + L"\"";
    throw CaseFailure{std::wstring(call) + L" gave " + shown + L" instead of \"" + std::wstring(expected) + L"\""};
}

void IsTrue(bool condition, const wchar_t* what) {
    if (!condition) throw CaseFailure{what};
}

// One run: counts the cases and writes their lines through the object's log writer.
class SelfTestRun {
public:
    explicit SelfTestRun(CQarnUtilities& owner) : owner_(owner) {}

    template <class Body>
    void Case(const wchar_t* name, Body&& body) {
        std::wstring line = L"Self-test " + std::wstring(name) + L": ";
        try {
            body();
            ++passed_;
            line += L"passed";
        } catch (const CaseFailure& failure) {
            ++failed_;
            line += L"failed: " + failure.text;
        } catch (...) {
            ++failed_;
            line += L"failed: unexpected error";
        }
        // Nothing a case left behind may be taken for a failure of the caller.
        SetErrorInfo(0, nullptr);
        Log(line);
    }

    void Summary(int variant) {
        Log(Format(L"Self-test variant %i: %i passed, %i failed", variant, passed_, failed_));
        SetErrorInfo(0, nullptr);
    }

private:
    void Log(const std::wstring& line) {
        try {
            owner_.WriteLogMessage(1, Bstr(std::wstring_view(line)));
        } catch (...) {
            // A line that cannot be written is lost; the run goes on.
        }
    }

    CQarnUtilities& owner_;
    int passed_ = 0;
    int failed_ = 0;
};

void RunTextCases(SelfTestRun& run, IQarnUtilities* u) {
    run.Case(L"TrimLeftAndRight", [&] {
        Bstr result;
        Succeeded(u->TrimLeftAndRight(Bstr(L"**Qarn*Connector**"), Bstr(L"*"), result.Out()), L"TrimLeftAndRight");
        SameText(result, L"Qarn*Connector", L"TrimLeftAndRight");
    });
    run.Case(L"GetExtension", [&] {
        Bstr result;
        Succeeded(u->GetExtension(Bstr(L"C:\\Exports\\parts.v2.csv"), result.Out()), L"GetExtension");
        SameText(result, L"CSV", L"GetExtension");
    });
    run.Case(L"sprintf1", [&] {
        Bstr result;
        Succeeded(u->sprintf1(Bstr(L"[%-6s] 100%%"), Bstr(L"ab"), result.Out()), L"sprintf1");
        SameText(result, L"[ab    ] 100%", L"sprintf1");
        Failed(u->sprintf1(Bstr(L"%d"), Bstr(L"ab"), result.Out()), L"sprintf1 with %d");
    });
    run.Case(L"ConvertBSTRToXMLString", [&] {
        Bstr result;
        Succeeded(u->ConvertBSTRToXMLString(Bstr(L"<a b='1'>\"R&D\"</a>"), result.Out()), L"ConvertBSTRToXMLString");
        SameText(result, L"&lt;a b=&apos;1&apos;&gt;&quot;R&amp;D&quot;&lt;/a&gt;", L"ConvertBSTRToXMLString");
    });
    run.Case(L"Encrypt3 and Decrypt3", [&] {
        const Bstr plain(L"Self-test \u00e4\u00f6\u00fc 4711");
        Bstr encrypted, decrypted;
        Succeeded(u->Encrypt3(plain, encrypted.Out()), L"Encrypt3");
        IsTrue(!encrypted.IsEmpty() && encrypted.View() != plain.View(), L"Encrypt3 gave the plain text back");
        Succeeded(u->Decrypt3(encrypted, decrypted.Out()), L"Decrypt3");
        SameText(decrypted, plain.View(), L"Decrypt3");
    });
}

// The file cases in a fresh folder "<temp>qarn-selftest-<guid>\data"; removed at the end whatever
// the cases left.
void RunFileCases(SelfTestRun& run, IQarnUtilities* u) {
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    Bstr guid;
    const bool named = SUCCEEDED(u->CreateGuid(guid.Out())) && !guid.IsNull();
    SetErrorInfo(0, nullptr);
    const std::wstring root = std::wstring(temp, length <= MAX_PATH ? length : 0) + L"qarn-selftest-" +
                              (named ? std::wstring(guid.View()) : std::to_wstring(GetTickCount()));
    const Bstr folder(std::wstring_view(root + L"\\data"));
    const Bstr file(std::wstring_view(root + L"\\data\\lines.txt"));

    run.Case(L"Mkdir", [&] {
        IsTrue(length > 0 && length <= MAX_PATH, L"no temporary folder");
        Succeeded(u->Mkdir(folder), L"Mkdir");
        IsTrue(GetFileAttributesW(folder) != INVALID_FILE_ATTRIBUTES, L"Mkdir did not create the folder");
    });
    run.Case(L"FileWrite", [&] {
        Succeeded(u->FileWrite(file, Bstr(L"first line\n")), L"FileWrite");
        Succeeded(u->FileWrite(file, Bstr(L"second line\n")), L"FileWrite");
        IsTrue(GetFileAttributesW(file) != INVALID_FILE_ATTRIBUTES, L"FileWrite did not create the file");
    });
    run.Case(L"FileExist", [&] {
        VARIANT_BOOL exists = VARIANT_FALSE;
        Succeeded(u->FileExist(file, &exists), L"FileExist");
        IsTrue(exists == VARIANT_TRUE, L"FileExist answered false for the written file");
        Failed(u->FileExist(Bstr(std::wstring_view(root + L"\\data\\missing.txt")), &exists), L"FileExist of a missing file");
    });
    run.Case(L"ReadTextFile", [&] {
        ComPtr<IFieldCollection> lines;
        Succeeded(u->ReadTextFile(file, &lines), L"ReadTextFile");
        IsTrue(lines != nullptr, L"ReadTextFile gave no lines");
        long count = 0;
        Succeeded(lines->get_Count(&count), L"Count");
        IsTrue(count == 3, L"ReadTextFile did not give two lines and the empty last one");
        Bstr first, second;
        Succeeded(lines->GetValue(Bstr(L"1"), first.Out()), L"GetValue");
        Succeeded(lines->GetValue(Bstr(L"2"), second.Out()), L"GetValue");
        SameText(first, L"first line", L"ReadTextFile line 1");
        SameText(second, L"second line", L"ReadTextFile line 2");
    });
    run.Case(L"FileRemove", [&] {
        Succeeded(u->FileRemove(file), L"FileRemove");
        VARIANT_BOOL exists = VARIANT_TRUE;
        Succeeded(u->FileExist2(file, &exists), L"FileExist2");
        IsTrue(exists == VARIANT_FALSE, L"the file is still there");
    });
    run.Case(L"Rmdir", [&] {
        IsTrue(GetFileAttributesW(folder) != INVALID_FILE_ATTRIBUTES, L"there is no folder to remove");
        Succeeded(u->Rmdir(folder), L"Rmdir");
        Succeeded(u->Rmdir(Bstr(std::wstring_view(root))), L"Rmdir");
        IsTrue(GetFileAttributesW(root.c_str()) == INVALID_FILE_ATTRIBUTES, L"the folder is still there");
    });

    if (length == 0 || length > MAX_PATH) return;
    SetFileAttributesW(file, FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(file);
    RemoveDirectoryW(folder);
    RemoveDirectoryW(root.c_str());
}

}  // namespace

void CQarnUtilities::RunSelfTest(int variant) {
    SelfTestRun run(*this);
    IQarnUtilities* self = this;
    RunTextCases(run, self);
    if (variant >= 2) RunFileCases(run, self);
    run.Summary(variant);
}
