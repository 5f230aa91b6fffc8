// What every command of QarnTool shares: console output, the two kinds of failure, COM calls
// with readable errors, text helpers for the data-type objects and the installation's paths.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>
#include <msxml2.h>
#undef GetMessage

#include <wrl/client.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "QarnComDatatypes.h"
#include "QarnComConnector.h"

#include "dom/MsxmlIds.h"
#include "Text.h"

namespace tool {

using Microsoft::WRL::ComPtr;
using qarn::Bstr;

// Wrong use of the command line: the usage text goes to stderr, exit code 2.
struct UsageError : std::runtime_error {
    explicit UsageError(std::wstring usageText) : std::runtime_error("usage"), usage(std::move(usageText)) {}
    std::wstring usage;
};

// A failed operation: the message goes to stderr, exit code 1.
struct Failure : std::runtime_error {
    explicit Failure(std::wstring text) : std::runtime_error("failure"), message(std::move(text)) {}
    std::wstring message;
};

// Console output: UTF-16 to a console, UTF-8 to files and pipes.
void Out(std::wstring_view text);
void Err(std::wstring_view text);
inline void OutLine(std::wstring_view text = {}) { Out(std::wstring(text) + L"\n"); }
inline void ErrLine(std::wstring_view text = {}) { Err(std::wstring(text) + L"\n"); }

// The text without the "   at Class::Method: line N" lines that the connector appends.
std::wstring WithoutTrace(std::wstring_view text);
// "<what>: <description of the thread's error object, or the system's text of hr> (0x........)".
std::wstring ComErrorText(HRESULT hr, std::wstring_view what);
// Throws a Failure with ComErrorText when hr failed.
void Check(HRESULT hr, std::wstring_view what);

// Creates the class registered under a ProgID and asks it for I.
template <class I>
ComPtr<I> CreateByProgId(const wchar_t* progId) {
    CLSID clsid{};
    HRESULT hr = CLSIDFromProgID(progId, &clsid);
    if (FAILED(hr))
        throw Failure(ComErrorText(hr, std::wstring(progId) + L" is not registered (run QarnTool register)"));
    ComPtr<I> p;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(I), reinterpret_cast<void**>(p.GetAddressOf()));
    Check(hr, std::wstring(L"cannot create ") + progId);
    return p;
}

ComPtr<IQarnUtilities> CreateUtilities();

// Text helpers for data-type objects; all of them accept null objects.
std::wstring FieldText(IField* field);  // the value as text, "(object)" for an object value
std::wstring FieldName(IField* field);
long FieldCount(IFieldCollection* fields);
ComPtr<IField> FieldAt(IFieldCollection* fields, long index);
std::optional<std::wstring> FieldValue(IFieldCollection* fields, const wchar_t* name);
// "name=value" of every field, joined with blanks (attributes of an element or an object).
std::wstring AttributeText(IFieldCollection* attributes);

std::wstring Lower(std::wstring_view text);
// Every line after the first starts with `indent`.
std::wstring IndentLines(std::wstring_view text, std::wstring_view indent);
std::wstring Hex(HRESULT hr);

// Windows paths.
bool IsAbsolutePath(std::wstring_view path);
bool FileExists(const std::wstring& path);
std::wstring WithoutTrailingBackslash(std::wstring path);
std::wstring FullPath(const std::wstring& path);

// The installation root as the connector finds it: QarnRootDir, else the current folder.
std::wstring DefaultRoot();

// A transaction file named on the command line, resolved as the connector resolves it: relative
// names below ROOT\xml (ROOT from QarnRootDir; without it relative to the current folder), an
// absolute path as it stands. `lookupRoot`, `lookupFolder` and `lookupName` are what to hand the
// connector's lookup so that it reads the same file and its customer override.
struct TransactionFile {
    std::wstring path;          // the regular file
    std::wstring customerPath;  // the customer override file beside it
    std::optional<std::wstring> lookupRoot;    // QarnRootDir for the lookup (none: unset it)
    std::optional<std::wstring> lookupFolder;  // current folder for the lookup (none: keep it)
    std::wstring lookupName;
};
TransactionFile ResolveTransactionFile(const std::wstring& argument);

// Sets or removes QarnRootDir of this process (read by the connector's lookups).
void SetRootVariable(const std::optional<std::wstring>& root);

// Parses an XML file with the connector's DOMParse; the connector's result code is returned.
HRESULT DomParse(IQarnUtilities* utilities, const std::wstring& path, ComPtr<IDispatch>& dom);

// The document element of a DOM document that DOMParse returned, and XPath helpers on it.
ComPtr<IXMLDOMDocument2> AsDocument(IDispatch* dom);
ComPtr<IXMLDOMNodeList> SelectNodes(IXMLDOMNode* node, const wchar_t* xpath);
ComPtr<IXMLDOMNode> SelectNode(IXMLDOMNode* node, const wchar_t* xpath);
std::wstring NodeText(IXMLDOMNode* node);
std::wstring NodeName(IXMLDOMNode* node);
// The attributes of an element, "name=value" joined with blanks.
std::wstring NodeAttributes(IXMLDOMNode* node);
long NodeCount(IXMLDOMNode* node, const wchar_t* xpath);

}  // namespace tool
