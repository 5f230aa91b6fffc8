// QarnTool: the administrators' console tool. It works on an installation through the registered
// connector (QarnComConnector.dll) over COM, never with code of its own that reads the files.
#include <exception>

#include "Commands.h"
#include "ToolSupport.h"

namespace tool {

namespace {

const Command kCommands[] = {
    {L"encrypt-logon", L"FIELD VALUE", L"encrypt a logon value for a logon file",
     L"Encrypts VALUE for the logon file element FIELD (for example password, securityCredentials)\n"
     L"with the connector's EncryptLogon2 and prints the element to paste into the logon entry,\n"
     L"with the attribute x3nc=\"true\" that marks its text as encrypted. The text is bound to the\n"
     L"element name as written: password and PASSWORD give different texts.\n",
     EncryptLogon},
    {L"check-config", L"[ROOT]", L"check an installation's configuration files",
     L"Reads ROOT\\xml\\QarnConnector.xml and every property and resource file it names, each on its\n"
     L"own, and reports every problem with its file; then reads the whole configuration the way the\n"
     L"application does. ROOT defaults to QarnRootDir, else the current folder.\n"
     L"Exit code 1 when there is a problem, 0 otherwise (warnings do not count).\n",
     CheckConfig},
    {L"list-transactions", L"FILE", L"list the transactions declared in a transaction file",
     L"Lists the aliases declared in FILE, one per line, with the attributes of their Parameter\n"
     L"element, the number of fields, structures and tables, and whether the customer override\n"
     L"file (Customer_FILE) declares them. FILE is relative to %QarnRootDir%\\xml (to the current\n"
     L"folder without QarnRootDir) or an absolute path.\n",
     ListTransactions},
    {L"show-transaction", L"FILE ALIAS", L"build a transaction's parameter list and print it",
     L"Builds the parameter list of transaction ALIAS with the connector's GetXmlParameterList (the\n"
     L"customer override applies) after reading the installation's configuration, and prints its\n"
     L"context (source, transaction, ...), attributes, fields, structures and tables. FILE as for\n"
     L"list-transactions. No context object is passed: fields that take their value from the\n"
     L"caller's list stay empty.\n",
     ShowTransaction},
    {L"register", L"[--dir PATH]", L"register QarnComDatatypes.dll and QarnComConnector.dll",
     L"Registers QarnComDatatypes.dll, then QarnComConnector.dll, from the folder of QarnTool.exe\n"
     L"or from PATH (DllRegisterServer of each), and reports each DLL.\n",
     Register},
    {L"unregister", L"[--dir PATH]", L"unregister QarnComConnector.dll and QarnComDatatypes.dll",
     L"Unregisters QarnComConnector.dll, then QarnComDatatypes.dll, from the folder of QarnTool.exe\n"
     L"or from PATH (DllUnregisterServer of each), and reports each DLL.\n",
     Unregister},
};

const Command* Find(const std::wstring& name) {
    for (const Command& c : kCommands)
        if (name == c.name) return &c;
    return nullptr;
}

std::wstring CommandList() {
    std::wstring text = L"usage: QarnTool <command> [arguments]\n\ncommands:\n";
    for (const Command& c : kCommands) {
        std::wstring line = L"  " + std::wstring(c.name) + L' ' + c.synopsis;
        if (line.size() < 36) line.resize(36, L' ');
        text += line + L' ' + c.summary + L'\n';
    }
    text += L"\n\"QarnTool <command> --help\" describes a command.\n"
            L"Exit codes: 0 success, 1 failure or problems found, 2 wrong use.\n";
    return text;
}

int Run(const Arguments& all) {
    if (all.empty()) throw UsageError(CommandList());
    const std::wstring& name = all[0];
    if (name == L"--help" || name == L"-h" || name == L"/?" || name == L"help") {
        Out(CommandList());
        return 0;
    }
    const Command* command = Find(name);
    if (!command) throw UsageError(L"QarnTool: unknown command '" + name + L"'\n\n" + CommandList());
    const Arguments args(all.begin() + 1, all.end());
    for (const std::wstring& a : args) {
        if (a == L"--help" || a == L"-h" || a == L"/?") {
            Out(UsageLine(command->name) + L"\n\n" + command->help);
            return 0;
        }
    }
    return command->run(args);
}

}  // namespace

std::wstring UsageLine(const wchar_t* name) {
    const Command* c = Find(name);
    return L"usage: QarnTool " + std::wstring(name) + (c && c->synopsis[0] ? std::wstring(L" ") + c->synopsis : L"");
}

void WrongUse(const wchar_t* name, const std::wstring& problem) {
    throw UsageError(L"QarnTool " + std::wstring(name) + L": " + problem + L"\n" + UsageLine(name) +
                     L"\n\"QarnTool " + name + L" --help\" describes the command.\n");
}

}  // namespace tool

int wmain(int argc, wchar_t** argv) {
    using namespace tool;
    // No error dialogs of the system: a console tool reports and returns.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int code = 1;
    try {
        code = Run(Arguments(argv + 1, argv + argc));
    } catch (const UsageError& e) {
        Err(e.usage);
        code = 2;
    } catch (const Failure& e) {
        ErrLine(L"QarnTool: " + e.message);
        code = 1;
    } catch (const std::bad_alloc&) {
        ErrLine(L"QarnTool: out of memory");
        code = 1;
    } catch (const qarn::HResultError& e) {
        ErrLine(L"QarnTool: " + ComErrorText(e.hr, L"unexpected error"));
        code = 1;
    } catch (const std::exception& e) {
        std::string what = e.what();
        ErrLine(L"QarnTool: unexpected error: " + std::wstring(what.begin(), what.end()));
        code = 1;
    }
    if (SUCCEEDED(init)) CoUninitialize();
    return code;
}
