// encrypt-logon FIELD VALUE: the encrypted element to paste into a logon file.
#include "Commands.h"
#include "ToolSupport.h"

namespace tool {

namespace {

// The value elements of the SAP and web application server logon files, in both spellings the
// connector reads.
const wchar_t* const kLogonElements[] = {
    L"client", L"user", L"password", L"language", L"hostname", L"systemnumber",
    L"factoryContext", L"providerUrl", L"securityPrincipal", L"securityCredentials",
    L"CLIENT", L"USER", L"PASSWORD", L"LANGUAGE", L"HOSTNAME", L"SYSTEMNUMBER",
    L"FACTORYCONTEXT", L"PROVIDERURL", L"SECURITYPRINCIPAL", L"SECURITYCREDENTIALS"};

bool IsLogonElement(const std::wstring& name) {
    for (const wchar_t* e : kLogonElements)
        if (name == e) return true;
    return false;
}

// An XML element name: a letter or '_' first, then letters, digits, '_', '-', '.'.
bool IsElementName(const std::wstring& name) {
    if (name.empty()) return false;
    for (size_t i = 0; i < name.size(); ++i) {
        const wchar_t c = name[i];
        const bool letter = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || c == L'_' || c > 0x7f;
        const bool more = (c >= L'0' && c <= L'9') || c == L'-' || c == L'.';
        if (!letter && (i == 0 || !more)) return false;
    }
    return true;
}

}  // namespace

int EncryptLogon(const Arguments& args) {
    if (args.size() != 2) WrongUse(L"encrypt-logon", args.size() < 2 ? L"FIELD and VALUE are required" : L"too many arguments");
    const std::wstring& field = args[0];
    const std::wstring& value = args[1];
    if (!IsElementName(field)) WrongUse(L"encrypt-logon", L"'" + field + L"' is not an XML element name");

    const ComPtr<IQarnUtilities> utilities = CreateUtilities();
    Bstr text;
    Check(utilities->EncryptLogon2(Bstr(field), Bstr(value), text.Out()), L"EncryptLogon2 failed");
    if (text.IsEmpty()) throw Failure(L"EncryptLogon2 returned no text");

    OutLine(L"<" + field + L" x3nc=\"true\">" + std::wstring(text.View()) + L"</" + field + L">");
    OutLine(L"Paste this element into the logon entry in place of the plain <" + field +
            L">: the attribute x3nc=\"true\" marks its text as encrypted; without it the text is used as it stands.");
    if (!IsLogonElement(field))
        ErrLine(L"QarnTool: warning: '" + field + L"' is not a value element of the logon files; the text is only "
                L"readable in an element of exactly this name.");
    return 0;
}

}  // namespace tool
