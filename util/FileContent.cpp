#include "util/FileContent.h"

#include "Text.h"

#include <algorithm>

namespace qarn {

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

}  // namespace qarn
