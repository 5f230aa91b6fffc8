// register / unregister: DllRegisterServer or DllUnregisterServer of our two DLLs.
#include "Commands.h"
#include "ToolSupport.h"
#include "TextRules.h"

namespace tool {

namespace {

// The data types first on register: the connector's type library imports theirs.
const wchar_t* const kDlls[] = {L"QarnComDatatypes.dll", L"QarnComConnector.dll"};

std::wstring ToolFolder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) throw Failure(L"cannot find the folder of QarnTool.exe (" + Hex(HRESULT_FROM_WIN32(GetLastError())) + L")");
        if (n < path.size()) {
            path.resize(n);
            return std::wstring(qarn::text::DirectoryOfPath(path));
        }
        path.resize(path.size() * 2);
    }
}

std::wstring Folder(const wchar_t* command, const Arguments& args) {
    if (args.empty()) return ToolFolder();
    // Asked for often by users without administrator rights; the answer is the way without registration.
    if (args[0] == L"--user")
        WrongUse(command, L"there is no per-user registration: the DLLs register for the whole machine only. Without "
                          L"administrator rights, use them without registration (docs\\installing.md)");
    if (args[0] != L"--dir") WrongUse(command, L"unknown argument '" + args[0] + L"'");
    if (args.size() < 2) WrongUse(command, L"--dir needs a PATH");
    if (args.size() > 2) WrongUse(command, L"too many arguments");
    return WithoutTrailingBackslash(FullPath(args[1]));
}

// Loads one DLL and calls its entry point; true on success. Reports either way.
bool CallEntry(const std::wstring& folder, const wchar_t* dll, const char* entry, const wchar_t* done) {
    const std::wstring path = folder + L"\\" + dll;
    const std::wstring entryName(entry, entry + strlen(entry));
    if (!FileExists(path)) {
        ErrLine(L"QarnTool: " + path + L" does not exist");
        return false;
    }
    const HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module) {
        ErrLine(L"QarnTool: " + ComErrorText(HRESULT_FROM_WIN32(GetLastError()), L"cannot load " + path));
        return false;
    }
    bool ok = false;
    using EntryPoint = HRESULT(STDAPICALLTYPE*)();
    const auto function = reinterpret_cast<EntryPoint>(reinterpret_cast<void*>(GetProcAddress(module, entry)));
    if (!function) {
        ErrLine(L"QarnTool: " + path + L" has no " + entryName);
    } else {
        SetErrorInfo(0, nullptr);
        const HRESULT hr = function();
        if (FAILED(hr)) {
            ErrLine(L"QarnTool: " + ComErrorText(hr, entryName + L" of " + path + L" failed"));
        } else {
            OutLine(std::wstring(done) + L" " + dll + L" (" + path + L")");
            ok = true;
        }
    }
    FreeLibrary(module);
    return ok;
}

}  // namespace

int Register(const Arguments& args) {
    const std::wstring folder = Folder(L"register", args);
    bool ok = true;
    for (const wchar_t* dll : kDlls) ok = CallEntry(folder, dll, "DllRegisterServer", L"registered") && ok;
    return ok ? 0 : 1;
}

int Unregister(const Arguments& args) {
    const std::wstring folder = Folder(L"unregister", args);
    bool ok = true;
    for (auto it = std::rbegin(kDlls); it != std::rend(kDlls); ++it)
        ok = CallEntry(folder, *it, "DllUnregisterServer", L"unregistered") && ok;
    return ok ? 0 : 1;
}

}  // namespace tool
