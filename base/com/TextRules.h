// Text, path and file-content rules of the utility methods. Plain C++ without Windows calls, so
// that the rules also build natively (fuzzing); the COM members in strings.cpp, files.cpp and
// textfiles.cpp are thin layers over these functions.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qarn::text {

// A caller's text as the string methods see it: up to its first NUL character.
std::wstring_view UpToNul(const wchar_t* s, size_t length);

// Trimming: skips the characters equal to `c` at the start or the end (NUL never matches).
std::wstring_view TrimLeft(std::wstring_view s, wchar_t c);
std::wstring_view TrimRight(std::wstring_view s, wchar_t c);
// A document number padded with "0" in front to 25 characters (longer ones unchanged).
constexpr size_t kDocumentNumberLength = 25;
std::wstring PadDocumentNumber(std::wstring_view digits);
// Characters from min(start, size) on, at most `length` of them; both must be >= 0.
std::wstring_view SubStr(std::wstring_view s, size_t start, size_t length);

// Paths: only "\" separates parts, only the last "." starts an extension.
// The text after the last "." (empty when there is none).
std::wstring_view ExtensionOf(std::wstring_view name);
// The text before the last "." (the whole text when there is none).
std::wstring_view WithoutExtension(std::wstring_view name);
// The text after the last "\" (the whole text when there is none).
std::wstring_view NameOfPath(std::wstring_view path);
// The text before the last "\" (empty when there is none).
std::wstring_view DirectoryOfPath(std::wstring_view path);
// The non-empty parts of a path between "\" separators.
std::vector<std::wstring_view> PathTokens(std::wstring_view path);

// The files of a transaction definition file `file` (a name below the installation's xml folder):
// below ROOT\xml when the installation root is set, else relative to the current folder.
struct TransactionFilePaths {
    std::wstring regular;    // ROOT\xml\<file>, without a root <file>
    std::wstring customer;   // the customer's override: ROOT\xml\Customer_<file>, without a root Customer_<file>
    std::wstring xslFolder;  // the stylesheets: ROOT\xml\xsl, without a root xml\xsl
};
TransactionFilePaths TransactionFiles(std::wstring_view root, std::wstring_view file);

// What a path names when it is not an ordinary file.
enum class DeviceKind {
    None,         // a file (or a folder)
    Discard,      // NUL: written text is discarded, reading gives nothing
    Interactive,  // the console, a serial or parallel port: reading may wait forever
    Other,        // another path of the device namespace ("\\.\PhysicalDrive0", "\\.\pipe\x")
};
// Device names as Windows reads them in the last part of a path ("/" separates too): NUL, CON,
// CONIN$, CONOUT$, PRN, AUX, COM1-9, LPT1-9 in any letter case, also with an extension or trailing
// blanks ("nul.txt", "C:\x\CON .log"); and every path that starts with "\\.\" or "\\?\" and names
// a device rather than a drive ("\\.\COM12", "\\?\pipe\x"; "\\?\C:\x" is a file).
DeviceKind DeviceOfPath(std::wstring_view path);

// "&", "<", ">", "'" and "\"" as XML entities.
std::wstring EscapeXml(std::wstring_view s);
// Every "%" doubled, so that the text passes through formatted output unchanged.
std::wstring EscapeFormat(std::wstring_view s);

// Text argument of the formatters: nullopt is a null text, printed as "(null)".
using TextArg = std::optional<std::wstring_view>;

// Fills the "%s" conversions of a message template with `args` in order, "%%" gives "%".
// Anything else (other conversions, a "%s" beyond the arguments, a lone "%") stays as written, so a
// template from a configuration file can never read a missing argument. The result holds at most
// `capacity` - 1 characters; longer results are cut.
std::wstring FillTemplate(std::wstring_view format, const std::vector<TextArg>& args, size_t capacity);

// The one-argument formatter of scripts: `format` may hold one "%s" conversion (with optional
// "-" flag, width and precision) and any number of "%%". Returns the text cut to `capacity` - 1
// characters, or nullopt with `error` describing the first unsupported conversion.
std::optional<std::wstring> FormatOneText(std::wstring_view format, TextArg arg, size_t capacity,
                                          std::wstring& error);

// One line of a text: [begin, end) in the text it was split from.
struct Span {
    size_t begin;
    size_t end;
};
// The lines of a file's bytes read in text mode, as byte ranges: a Ctrl-Z ends the text; LF, CR LF
// and a lone CR end a line; the rest after the last break is one more line (empty when the text
// ends with a break). An empty text has no lines. Each line's text is its bytes, one character per
// byte (the C runtime's default single-byte conversion).
std::vector<Span> SplitTextModeLines(std::string_view bytes);
// The tokens of a line: every character of `delimiters` separates, runs of them count as one and
// leading or trailing ones give no token (the C runtime's tokenizer).
std::vector<std::wstring_view> SplitTokens(std::wstring_view line, std::wstring_view delimiters);
// The columns of a line: every occurrence of `separator` splits, so adjacent separators give
// empty columns and a leading or trailing one an empty first or last column.
std::vector<std::wstring_view> SplitColumns(std::wstring_view line, wchar_t separator);

// A network adapter's hardware address as upper-case hexadecimal byte pairs joined by "-"
// ("00-1A-2B-3C-4D-5E"); nullopt unless it has 6 or 8 bytes (other lengths are not listed).
std::optional<std::wstring> HardwareAddressText(const unsigned char* bytes, size_t length);

}  // namespace qarn::text
