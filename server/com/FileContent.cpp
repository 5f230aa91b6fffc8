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

// Writes all of `bytes`; `written` counts what reached the file, also when a write fails.
bool WriteAll(HANDLE file, std::string_view bytes, size_t* written = nullptr) {
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 24));
        DWORD done = 0;
        const BOOL ok = WriteFile(file, bytes.data(), chunk, &done, nullptr);
        done = std::min(done, chunk);
        if (written) *written += done;
        if (!ok || done == 0) return false;
        bytes.remove_prefix(done);
    }
    return true;
}

// The appenders of this module take turns on a file: each holds an exclusive lock on one byte far
// beyond any real end of file while it appends and, after a failure, checks and cuts the file. The
// lock belongs to the file itself (not to a path spelling or a process), so it holds between
// threads, processes and, on a share, machines; it never blocks reading or writing the file's
// data, and the system drops it when the handle is closed, also when a process ends half-way.
constexpr DWORD kTurnOffsetHigh = 0x7FFFFFFF;  // byte 0x7FFFFFFF00000000
// A writer that does not get its turn in this time (another process stopped in the middle of an
// append, in a debugger) appends without it: the write still lands at the end in one piece.
constexpr ULONGLONG kTurnWaitMs = 10000;

class AppendTurn {
public:
    explicit AppendTurn(HANDLE file) noexcept : file_(file) {
        const ULONGLONG until = GetTickCount64() + kTurnWaitMs;
        for (unsigned attempt = 0;; ++attempt) {
            OVERLAPPED at = Position();
            if (LockFileEx(file_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
                held_ = true;
                return;
            }
            // Any other error: a file system without locks, where the append goes on without a turn.
            if (GetLastError() != ERROR_LOCK_VIOLATION || GetTickCount64() >= until) return;
            Sleep(attempt < 8 ? 0 : 1);
        }
    }
    ~AppendTurn() {
        if (!held_) return;
        OVERLAPPED at = Position();
        UnlockFileEx(file_, 0, 1, 0, &at);
    }
    AppendTurn(const AppendTurn&) = delete;
    AppendTurn& operator=(const AppendTurn&) = delete;

private:
    static OVERLAPPED Position() noexcept {
        OVERLAPPED at{};
        at.OffsetHigh = kTurnOffsetHigh;
        return at;
    }
    HANDLE file_;
    bool held_ = false;
};

// After a failed append that began at `start` and wrote `written` bytes: takes those bytes off
// again, but only when the file ends exactly where they ended. Then nobody has appended since (our
// own appenders wait for their turn; another program might not), and the cut takes nothing but
// our own bytes. A cut never needs space, so it works on a full disk too.
void CutBack(HANDLE file, LONGLONG start, size_t written) noexcept {
    LARGE_INTEGER end{};
    if (written == 0 || !GetFileSizeEx(file, &end) || end.QuadPart != start + static_cast<LONGLONG>(written)) return;
    // The append handle may not change the length: a second handle on the very same file may.
    Handle cutter(ReOpenFile(file, FILE_WRITE_DATA | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE, 0));
    if (!cutter.Valid()) return;
    FILE_END_OF_FILE_INFO length{};
    length.EndOfFile.QuadPart = start;
    SetFileInformationByHandle(cutter.get(), FileEndOfFileInfo, &length, sizeof length);
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
    // Appending only (FILE_APPEND_DATA without FILE_WRITE_DATA): the system puts every write at the
    // end of the file as it is at that moment, whatever other handles write meanwhile. Reading is
    // asked for because the turn lock needs it.
    Handle file(CreateFileW(path.c_str(), FILE_READ_DATA | FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) return GetLastError();
    if (opened) *opened = true;
    auto failure = [] { const DWORD e = GetLastError(); return e != ERROR_SUCCESS ? e : ERROR_WRITE_FAULT; };
    if (bytes.empty()) return file.Close() ? ERROR_SUCCESS : failure();
    DWORD error = ERROR_SUCCESS;
    {
        AppendTurn turn(file.get());
        LARGE_INTEGER start{};
        if (!GetFileSizeEx(file.get(), &start)) return failure();
        size_t written = 0;
        if (!WriteAll(file.get(), bytes, &written) || !FlushFileBuffers(file.get())) {
            error = failure();
            CutBack(file.get(), start.QuadPart, written);
        }
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
