// Whole-file reading and writing shared by every reader and writer of files: XML and text files, documents, the log.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace qarn {

// Before a file is read: true for NUL (it reads as empty), false for a file; fails for the console,
// a port or another device path, which would keep the caller waiting for input that may never come.
bool ReadsAsEmptyDevice(const wchar_t* path);

// The whole content of a file; nullopt when it cannot be opened or read (a folder, no access).
// NUL reads as empty; any other device name (the console, a port, a path of the device namespace)
// is refused with a message naming the path, since reading it could wait forever.
std::optional<std::string> ReadFileContent(const wchar_t* path);

// UTF-8 without byte-order mark, every LF written as CR LF (what a text-mode stream writes).
std::string TextModeUtf8(std::wstring_view text);

// Replaces `path` with `bytes` only once they are complete on disk: they go to a temporary file
// beside it (a short name, so a path that fits MAX_PATH keeps fitting), which is then moved over the
// old file. What belongs to the old file rather than to its content stays: its hidden, system and
// archive attributes, creation time and access rules (DACL). A file with more than one name (hard
// links) is written in place once the temporary file is complete, so that every name sees the new
// content; a crash during that last step can leave it torn, with the complete content still in the
// temporary file. On failure the old file is untouched, the temporary file is removed, and the
// Win32 error code is returned (ERROR_SUCCESS otherwise). A device name (NUL, CON, COM1, "\\.\...")
// is written to as it is.
DWORD ReplaceFileContent(const std::wstring& path, std::string_view bytes);

// Appends `bytes` to `path` (created when missing) as one piece at the end of the file, also while
// other threads and processes append to it: the file is opened for appending only, so every write
// lands at the end as it is then, and the appenders of this module take turns on a file (a lock on
// the file that holds across processes). When a write or flush fails (a full disk), the new bytes
// are cut off again if the file still ends where they ended: the file never ends in a part of them,
// and a cut never takes what another writer added. Returns the Win32 error code or ERROR_SUCCESS;
// `opened` tells whether the file could be opened at all (callers that skip files they cannot open
// tell the two failures apart). The file must be readable as well as writable for the caller.
// A device name is written to as it is.
DWORD AppendFileContent(const std::wstring& path, std::string_view bytes, bool* opened = nullptr);

// The system's text of a Win32 error code ("There is not enough space on the disk."), or the code
// as a number when the system has none.
std::wstring SystemErrorText(DWORD error);

}  // namespace qarn
