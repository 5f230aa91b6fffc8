// Whole-file writing shared by the writers of XML and text files.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace qarn {

// UTF-8 without byte-order mark, every LF written as CR LF (what a text-mode stream writes).
std::string TextModeUtf8(std::wstring_view text);

// Replaces `path` with `bytes` only once they are complete on disk: they go to a temporary file
// beside it, which is then moved over the old file. On failure the old file is untouched, the
// temporary file is removed, and the Win32 error code is returned (ERROR_SUCCESS otherwise).
DWORD ReplaceFileContent(const std::wstring& path, std::string_view bytes);

}  // namespace qarn
