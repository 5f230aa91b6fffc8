// The append-only log file named by the environment variable QarnLogFile.
#pragma once

#include <windows.h>

#include "Text.h"

namespace qarn {

// Appends "<date> <time> - <level> - <message>" as one UTF-8 line. S_FALSE (nothing written) for
// a null path or message or a level below 1, else S_OK: logging never makes a method fail. A file
// that cannot be opened is skipped; a line that cannot be written completely (a full disk) is not
// left in part (the file keeps its earlier lines) and leaves no error object behind.
HRESULT AppendLogLine(const wchar_t* path, int level, const wchar_t* message);
// Appends `text` as it is (UTF-8, line feeds as CR LF), without date, time or level; failures as
// for AppendLogLine.
HRESULT AppendLogText(const wchar_t* path, const wchar_t* text);

// The log settings an object takes over when it is constructed.
class LogSettings {
public:
    static constexpr long kHighestLevel = 100;
    static constexpr long kTraceLevel = 10;

    // Logging is on when QarnLogFile is set, even to an empty text.
    void InitFromEnvironment();
    const Bstr& Path() const noexcept { return path_; }
    // Writes when enabled and 0 < level <= 100; returns AppendLogLine's result (S_OK or S_FALSE).
    HRESULT Write(long level, const wchar_t* message) const;
    // Level-10 trace line; never fails (a line that cannot be written is dropped).
    void Trace(const wchar_t* message) const noexcept;

private:
    bool enabled_ = false;
    Bstr path_;
    long highestLevel_ = kHighestLevel;
};

}  // namespace qarn
