#include "Log.h"

#include "FileContent.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace qarn {

HRESULT AppendLogLine(const wchar_t* path, int level, const wchar_t* message) {
    if (!path || !message || level < 1) return S_FALSE;

    std::wstring file(path);
    size_t slash = file.rfind(L'\\');
    if (slash != std::wstring::npos && slash > 0) {
        std::wstring folder = file.substr(0, slash);
        struct _stat info;
        if (_wstat(folder.c_str(), &info) != 0) {
            // One command creates the whole missing chain of folders. No Windows folder name holds a
            // quote or a control character: a name with one (also one that the conversion to the
            // code page turns into a quote, as U+FF02) is no folder, and in the command it would end
            // the quoted name and let the rest run as commands of their own.
            const std::string ansi = ToAnsi(folder);
            if (std::none_of(ansi.begin(), ansi.end(), [](char c) { return c == '"' || (c >= 0 && c < 0x20); })) {
                std::string command = "mkdir \"" + ansi + "\"";
                std::system(command.c_str());
            }
        }
    }

    // Local time; every field is -1 when the clock cannot be converted.
    int year = -1, month = -1, day = -1, hour = -1, minute = -1, second = -1;
    time_t now = time(nullptr);
    struct tm local = {};
    if (localtime_s(&local, &now) == 0) {
        year = local.tm_year + 1900;
        month = local.tm_mon + 1;
        day = local.tm_mday;
        hour = local.tm_hour;
        minute = local.tm_min;
        second = local.tm_sec;
    }
    std::wstring date = Format(L"%04i-%02i-%02i", year, month, day);
    std::wstring clock = Format(L"%02i:%02i:%02i", hour, minute, second);
    std::wstring stamp = Format(L"%s %s", date.c_str(), clock.c_str());
    std::wstring line =
        FormatCapped(stamp.size() + 2048 + wcslen(message), L"%s - %3i - %s\n", stamp.c_str(), level, message);
    return AppendLogText(path, line.c_str());
}

HRESULT AppendLogText(const wchar_t* path, const wchar_t* text) {
    if (!path || !text) return S_FALSE;
    // Logging never makes a method fail: a log that cannot be opened is skipped, and a line that
    // cannot be written completely (a full disk) has been taken off again (AppendFileContent).
    AppendFileContent(path, TextModeUtf8(text));
    return S_OK;
}

void LogSettings::InitFromEnvironment() {
    const std::optional<std::wstring> file = EnvironmentValue(L"QarnLogFile");
    if (!file) return;
    path_ = Bstr(file->c_str());
    enabled_ = true;
}

HRESULT LogSettings::Write(long level, const wchar_t* message) const {
    if (!enabled_ || !message || level > highestLevel_) return S_OK;
    return AppendLogLine(path_, static_cast<int>(level), message);
}

void LogSettings::Trace(const wchar_t* message) const noexcept {
    try {
        Write(kTraceLevel, message);
    } catch (...) {
        // Only an allocation can fail here; the line is dropped.
    }
}

}  // namespace qarn
