// The commands of QarnTool. Each takes the arguments after its name (options already removed
// where the command has none) and returns the process exit code; wrong use throws UsageError,
// a failed operation throws Failure.
#pragma once

#include <string>
#include <vector>

namespace tool {

using Arguments = std::vector<std::wstring>;

struct Command {
    const wchar_t* name;
    const wchar_t* synopsis;  // the argument part of the usage line
    const wchar_t* summary;   // one line for the command list
    const wchar_t* help;      // the rest of the command's help text
    int (*run)(const Arguments& args);
};

int EncryptLogon(const Arguments& args);
int CheckConfig(const Arguments& args);
int ListTransactions(const Arguments& args);
int ShowTransaction(const Arguments& args);
int Register(const Arguments& args);
int Unregister(const Arguments& args);

// The usage line of a command: "usage: QarnTool <name> <synopsis>".
std::wstring UsageLine(const wchar_t* name);
// Throws the UsageError of a command (its usage line and a hint to its --help).
[[noreturn]] void WrongUse(const wchar_t* name, const std::wstring& problem);

}  // namespace tool
