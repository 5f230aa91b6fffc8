#include "FileContent.h"

#include "Text.h"

#include <algorithm>

namespace qarn {

std::optional<std::string> ReadFileContent(const wchar_t* path) {
    if (!path) return std::nullopt;
    FilePtr file(_wfopen(path, L"rb"));
    if (!file) return std::nullopt;
    std::string bytes;
    if (_fseeki64(file.get(), 0, SEEK_END) == 0) {
        const long long size = _ftelli64(file.get());
        if (size > 0) bytes.reserve(static_cast<size_t>(size));
        _fseeki64(file.get(), 0, SEEK_SET);
    }
    char chunk[64 * 1024];
    for (size_t got; (got = fread(chunk, 1, sizeof chunk, file.get())) > 0;) bytes.append(chunk, got);
    if (ferror(file.get())) return std::nullopt;
    return bytes;
}

std::string TextModeUtf8(std::wstring_view text) {
    std::wstring crlf;
    crlf.reserve(text.size() + text.size() / 16);
    for (wchar_t c : text) {
        if (c == L'\n') crlf += L'\r';
        crlf += c;
    }
    return ToUtf8(crlf);
}

namespace {

// A file handle that is closed on every path.
class Handle {
public:
    explicit Handle(HANDLE h) : h_(h) {}
    ~Handle() { Close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    bool Valid() const { return h_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return h_; }
    bool Close() {
        if (!Valid()) return true;
        const bool closed = CloseHandle(h_) != FALSE;
        h_ = INVALID_HANDLE_VALUE;
        return closed;
    }

private:
    HANDLE h_;
};

bool WriteAll(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 24));
        DWORD written = 0;
        if (!WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
        bytes.remove_prefix(written);
    }
    return true;
}

}  // namespace

DWORD ReplaceFileContent(const std::wstring& path, std::string_view bytes) {
    static volatile LONG counter = 0;
    const std::wstring temporary =
        path + Format(L".%lu-%ld.tmp", GetCurrentProcessId(), InterlockedIncrement(&counter));
    Handle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) return GetLastError();
    // The error of the step that failed; a step may fail without setting one.
    auto failure = [] { const DWORD e = GetLastError(); return e != ERROR_SUCCESS ? e : ERROR_WRITE_FAULT; };
    DWORD error = ERROR_SUCCESS;
    if (!WriteAll(file.get(), bytes) || !FlushFileBuffers(file.get())) error = failure();
    if (!file.Close() && error == ERROR_SUCCESS) error = failure();
    if (error == ERROR_SUCCESS &&
        !MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        error = failure();
    if (error != ERROR_SUCCESS) DeleteFileW(temporary.c_str());
    return error;
}

DWORD AppendFileContent(const std::wstring& path, std::string_view bytes, bool* opened) {
    if (opened) *opened = false;
    Handle file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) return GetLastError();
    if (opened) *opened = true;
    auto failure = [] { const DWORD e = GetLastError(); return e != ERROR_SUCCESS ? e : ERROR_WRITE_FAULT; };
    LARGE_INTEGER end{};
    if (!SetFilePointerEx(file.get(), LARGE_INTEGER{}, &end, FILE_END)) return failure();
    if (bytes.empty()) return file.Close() ? ERROR_SUCCESS : failure();
    DWORD error = ERROR_SUCCESS;
    if (!WriteAll(file.get(), bytes) || !FlushFileBuffers(file.get())) {
        error = failure();
        // Best effort: a cut never needs space, so it works on a full disk too.
        if (SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN)) SetEndOfFile(file.get());
    }
    if (!file.Close() && error == ERROR_SUCCESS) error = failure();
    return error;
}

std::wstring SystemErrorText(DWORD error) {
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = n && buffer ? std::wstring(buffer, n) : std::wstring();
    LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) text.pop_back();
    return text.empty() ? Format(L"error %lu", static_cast<unsigned long>(error)) : text;
}

}  // namespace qarn
