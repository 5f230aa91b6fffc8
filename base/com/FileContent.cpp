#include "FileContent.h"

#include "Errors.h"
#include "Text.h"
#include "TextRules.h"

#include <algorithm>
#include <vector>

namespace qarn {

bool ReadsAsEmptyDevice(const wchar_t* path) {
    if (!path) return false;
    switch (text::DeviceOfPath(path)) {
        case text::DeviceKind::None: return false;
        case text::DeviceKind::Discard: return true;
        case text::DeviceKind::Interactive:
        case text::DeviceKind::Other: break;
    }
    THROW_MESSAGE(Format(L"Cannot read %s: the name is a device (console, port or device path), not a file.", path));
}

std::optional<std::string> ReadFileContent(const wchar_t* path) {
    if (!path) return std::nullopt;
    if (ReadsAsEmptyDevice(path)) return std::string();
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

// The error of the step that failed; a step may fail without setting one.
DWORD Failure() noexcept {
    const DWORD e = GetLastError();
    return e != ERROR_SUCCESS ? e : ERROR_WRITE_FAULT;
}

// A device (NUL, the console, a port, a path of the device namespace) is written as it is: no
// temporary file, no move, no turn lock and no flush (NUL and the console have nothing to flush,
// and a flush fails on them).
DWORD WriteDevice(const std::wstring& path, std::string_view bytes, bool* opened) {
    Handle device(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!device.Valid()) return GetLastError();
    if (opened) *opened = true;
    if (!WriteAll(device.get(), bytes)) return Failure();
    return device.Close() ? ERROR_SUCCESS : Failure();
}

// What belongs to a file rather than to its content, kept when the content is replaced.
struct Keep {
    DWORD attributes = 0;  // hidden, system, archive, not indexed (read-only is left to the move)
    FILETIME created{};
    DWORD links = 1;
    std::vector<char> access;  // the file's DACL as a self-relative security descriptor; empty: none readable
    bool protectedAccess = false;
};

constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// nullopt when `path` is no existing file.
std::optional<Keep> KeepOf(const std::wstring& path) {
    constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE opened = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES | READ_CONTROL, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
    // Without the right to read its access rules the rest is still kept.
    if (opened == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED)
        opened = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
    Handle file(opened);
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file.Valid() || !GetFileInformationByHandle(file.get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return std::nullopt;
    Keep keep;
    keep.attributes = info.dwFileAttributes & kKeptAttributes;
    keep.created = info.ftCreationTime;
    keep.links = info.nNumberOfLinks;
    DWORD needed = 0;
    GetKernelObjectSecurity(file.get(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
    if (needed > 0) {
        keep.access.resize(needed);
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        if (!GetKernelObjectSecurity(file.get(), DACL_SECURITY_INFORMATION, keep.access.data(), needed, &needed) ||
            !GetSecurityDescriptorControl(keep.access.data(), &control, &revision))
            keep.access.clear();
        keep.protectedAccess = (control & SE_DACL_PROTECTED) != 0;
    }
    return keep;
}

// Gives the new file what the old one keeps. Access rules that were read but cannot be set fail
// the replacement (the new content must not end up more open than the old one), unless the file
// system has no access rules at all.
DWORD ApplyKeep(HANDLE file, const Keep& keep) {
    if (!keep.access.empty()) {
        const SECURITY_INFORMATION which =
            DACL_SECURITY_INFORMATION |
            (keep.protectedAccess ? PROTECTED_DACL_SECURITY_INFORMATION : UNPROTECTED_DACL_SECURITY_INFORMATION);
        if (!SetKernelObjectSecurity(file, which, const_cast<char*>(keep.access.data()))) {
            const DWORD error = Failure();
            if (error != ERROR_NOT_SUPPORTED && error != ERROR_INVALID_FUNCTION) return error;
        }
    }
    FILE_BASIC_INFO basic{};  // times of 0 stay as they are
    basic.CreationTime.LowPart = keep.created.dwLowDateTime;
    basic.CreationTime.HighPart = static_cast<LONG>(keep.created.dwHighDateTime);
    basic.FileAttributes = keep.attributes;
    // Attributes and times are kept where the file system allows; a failure costs no content.
    SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic);
    return ERROR_SUCCESS;
}

// The temporary file beside `path`: "~" and hexadecimal digits, so never a device name. It is no
// longer than the room that MAX_PATH leaves beside the target: a target whose full path fits into
// MAX_PATH - 1 characters gets a temporary path that fits too (and a target name of up to 255
// characters a temporary name that is not longer).
HANDLE CreateTemporary(const std::wstring& path, std::wstring& temporary, DWORD& error) {
    constexpr size_t kLongest = 9;  // "~" and 8 digits
    const size_t slash = path.find_last_of(L"\\/");
    const size_t nameAt =
        slash != std::wstring::npos ? slash + 1 : (path.size() >= 2 && path[1] == L':' ? 2 : 0);
    size_t length = kLongest;
    wchar_t full[MAX_PATH];
    wchar_t* fullName = nullptr;
    const DWORD fullLength = GetFullPathNameW(path.c_str(), MAX_PATH, full, &fullName);
    if (fullLength > 0 && fullLength < MAX_PATH) {
        const size_t folderLength = fullName ? static_cast<size_t>(fullName - full) : fullLength;
        const size_t room = MAX_PATH - 1 > folderLength ? MAX_PATH - 1 - folderLength : 1;
        length = std::clamp<size_t>(room, 1, kLongest);
    }
    static volatile LONG counter = 0;
    // Different processes start at different names; the counter keeps this process's apart.
    ULONGLONG seed = (static_cast<ULONGLONG>(GetCurrentProcessId()) << 32) ^ GetTickCount64();
    seed ^= static_cast<ULONGLONG>(InterlockedIncrement(&counter)) * 0x9E3779B97F4A7C15ull;
    for (unsigned attempt = 0; attempt < 64; ++attempt) {
        ULONGLONG value = seed + attempt * 0x2545F4914F6CDD1Dull;
        std::wstring name = length > 1 ? L"~" : L"";
        while (name.size() < length) {
            name += L"0123456789abcdef"[value & 15];
            value >>= 4;
        }
        temporary = path.substr(0, nameAt) + name;
        HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE | WRITE_DAC | READ_CONTROL, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) return file;
        error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return INVALID_HANDLE_VALUE;
    }
    return INVALID_HANDLE_VALUE;
}

// Writes `bytes` to a new temporary file beside `path` and flushes it; on failure it is removed
// again. The old file's attributes, creation time and access rules go to the new one before it
// holds anything, so its content is never open to more than the old file's was.
DWORD WriteTemporary(const std::wstring& path, std::string_view bytes, const Keep* keep, std::wstring& temporary) {
    DWORD error = ERROR_SUCCESS;
    Handle file(CreateTemporary(path, temporary, error));
    if (!file.Valid()) return error;
    if (keep) error = ApplyKeep(file.get(), *keep);
    if (error == ERROR_SUCCESS && (!WriteAll(file.get(), bytes) || !FlushFileBuffers(file.get()))) error = Failure();
    if (!file.Close() && error == ERROR_SUCCESS) error = Failure();
    if (error != ERROR_SUCCESS) DeleteFileW(temporary.c_str());
    return error;
}

// A writer that does not get the file to itself in this time (another one stuck) fails.
constexpr ULONGLONG kRewriteWaitMs = 10000;

// Writes `bytes` into the existing file itself, once they are complete in a temporary file beside
// it. Writers of this module take turns (the file is opened without sharing writes); readers may
// see the file half-way. Only the part beyond the old end can need space, so it is written first:
// when that fails (a full disk) the file is cut back to its old length and its content is as it
// was. A crash after that step can leave the file torn; the temporary file then still holds the
// complete content. It is removed after success and after a failure that left the file as it was.
DWORD RewriteInPlace(const std::wstring& path, std::string_view bytes, const Keep& keep) {
    std::wstring temporary;
    DWORD error = WriteTemporary(path, bytes, &keep, temporary);
    if (error != ERROR_SUCCESS) return error;
    HANDLE opened = INVALID_HANDLE_VALUE;
    for (const ULONGLONG until = GetTickCount64() + kRewriteWaitMs;;) {
        opened = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (opened != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION || GetTickCount64() >= until)
            break;
        Sleep(1);
    }
    Handle file(opened);
    LARGE_INTEGER size{};
    if (!file.Valid() || !GetFileSizeEx(file.get(), &size)) {
        error = Failure();
        DeleteFileW(temporary.c_str());
        return error;
    }
    auto seek = [&](LONGLONG at) {
        LARGE_INTEGER to{};
        to.QuadPart = at;
        return SetFilePointerEx(file.get(), to, nullptr, FILE_BEGIN) != FALSE;
    };
    const LONGLONG oldSize = size.QuadPart;
    const size_t kept = static_cast<size_t>(std::min<LONGLONG>(oldSize, static_cast<LONGLONG>(bytes.size())));
    if (bytes.size() > kept &&
        (!seek(oldSize) || !WriteAll(file.get(), bytes.substr(kept)) || !FlushFileBuffers(file.get()))) {
        error = Failure();
        if (seek(oldSize)) SetEndOfFile(file.get());
        DeleteFileW(temporary.c_str());
        return error;
    }
    if (!seek(0) || !WriteAll(file.get(), bytes.substr(0, kept)) || !seek(static_cast<LONGLONG>(bytes.size())) ||
        !SetEndOfFile(file.get()) || !FlushFileBuffers(file.get()) || !file.Close())
        return Failure();  // the temporary file stays: it holds the only complete content
    DeleteFileW(temporary.c_str());
    return ERROR_SUCCESS;
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
    if (text::DeviceOfPath(path) != text::DeviceKind::None) return WriteDevice(path, bytes, nullptr);
    const std::optional<Keep> keep = KeepOf(path);
    if (keep && keep->links > 1) return RewriteInPlace(path, bytes, *keep);
    std::wstring temporary;
    DWORD error = WriteTemporary(path, bytes, keep ? &*keep : nullptr, temporary);
    if (error != ERROR_SUCCESS) return error;
    if (MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return ERROR_SUCCESS;
    error = Failure();
    DeleteFileW(temporary.c_str());
    return error;
}

DWORD AppendFileContent(const std::wstring& path, std::string_view bytes, bool* opened) {
    if (opened) *opened = false;
    if (text::DeviceOfPath(path) != text::DeviceKind::None) return WriteDevice(path, bytes, opened);
    // Appending only (FILE_APPEND_DATA without FILE_WRITE_DATA): the system puts every write at the
    // end of the file as it is at that moment, whatever other handles write meanwhile. Reading is
    // asked for because the turn lock needs it.
    Handle file(CreateFileW(path.c_str(), FILE_READ_DATA | FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) return GetLastError();
    if (opened) *opened = true;
    if (bytes.empty()) return file.Close() ? ERROR_SUCCESS : Failure();
    DWORD error = ERROR_SUCCESS;
    {
        AppendTurn turn(file.get());
        LARGE_INTEGER start{};
        if (!GetFileSizeEx(file.get(), &start)) return Failure();
        size_t written = 0;
        if (!WriteAll(file.get(), bytes, &written) || !FlushFileBuffers(file.get())) {
            error = Failure();
            CutBack(file.get(), start.QuadPart, written);
        }
    }
    if (!file.Close() && error == ERROR_SUCCESS) error = Failure();
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
