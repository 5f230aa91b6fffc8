#include "ToolSupport.h"

#include <cwctype>

#include "TextRules.h"

namespace tool {

namespace {

void Write(DWORD handleId, std::wstring_view text) {
    const HANDLE h = GetStdHandle(handleId);
    if (h == nullptr || h == INVALID_HANDLE_VALUE || text.empty()) return;
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(h, &mode)) {
        WriteConsoleW(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const std::string bytes = qarn::ToUtf8(text);
    if (bytes.empty()) return;
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::wstring SystemText(HRESULT hr) {
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = n && buffer ? std::wstring(buffer, n) : std::wstring();
    LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) text.pop_back();
    return text;
}

}  // namespace

void Out(std::wstring_view text) { Write(STD_OUTPUT_HANDLE, text); }
void Err(std::wstring_view text) { Write(STD_ERROR_HANDLE, text); }

std::wstring Hex(HRESULT hr) { return qarn::Format(L"0x%08X", static_cast<unsigned>(hr)); }

std::wstring WithoutTrace(std::wstring_view text) {
    std::wstring kept;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring_view::npos) end = text.size();
        std::wstring_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == L'\r') line.remove_suffix(1);
        const size_t first = line.find_first_not_of(L" \t");
        const bool trace = first != std::wstring_view::npos && first > 0 && line.substr(first, 3) == L"at " &&
                           line.find(L": line ") != std::wstring_view::npos;
        if (!trace) {
            if (start > 0) kept += L'\n';
            kept += line;
        }
        start = end + 1;
    }
    while (!kept.empty() && (kept.back() == L'\n' || kept.back() == L' ')) kept.pop_back();
    return kept;
}

std::wstring ComErrorText(HRESULT hr, std::wstring_view what) {
    std::wstring description;
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) == S_OK && info) {
        Bstr text;
        if (SUCCEEDED(info->GetDescription(text.Out()))) description = text.View();
    }
    if (description.empty()) description = SystemText(hr);
    description = WithoutTrace(description);
    std::wstring result(what);
    if (!description.empty()) result += L": " + description;
    return result + L" (" + Hex(hr) + L")";
}

void Check(HRESULT hr, std::wstring_view what) {
    if (FAILED(hr)) throw Failure(ComErrorText(hr, what));
}

ComPtr<IQarnUtilities> CreateUtilities() { return CreateByProgId<IQarnUtilities>(L"QarnComConnector.CQarnUtilities"); }

std::wstring FieldText(IField* field) {
    if (!field) return {};
    qarn::Variant v;
    std::wstring text;
    if (SUCCEEDED(field->get_Value(v.Out()))) {
        if (v.vt == VT_DISPATCH || v.vt == VT_UNKNOWN) {
            text = L"(object)";
        } else if (v.vt == VT_BSTR) {
            text = qarn::View(v.bstrVal);
        } else if (v.vt != VT_EMPTY && v.vt != VT_NULL) {
            Bstr s;
            if (SUCCEEDED(field->get_StringValue(s.Out()))) text = s.View();
        }
    }
    return text;
}

std::wstring FieldName(IField* field) {
    Bstr name;
    if (field) field->get_Name(name.Out());
    return std::wstring(name.View());
}

long FieldCount(IFieldCollection* fields) {
    long n = 0;
    if (fields && FAILED(fields->get_Count(&n))) n = 0;
    return n;
}

ComPtr<IField> FieldAt(IFieldCollection* fields, long index) {
    ComPtr<IField> field;
    if (fields) fields->get_Item(index, &field);
    return field;
}

std::optional<std::wstring> FieldValue(IFieldCollection* fields, const wchar_t* name) {
    if (!fields) return std::nullopt;
    ComPtr<IField> field;
    if (FAILED(fields->get_Field(Bstr(name), &field)) || !field) return std::nullopt;
    return FieldText(field.Get());
}

std::wstring AttributeText(IFieldCollection* attributes) {
    std::wstring text;
    for (long i = 1, n = FieldCount(attributes); i <= n; ++i) {
        const ComPtr<IField> f = FieldAt(attributes, i);
        if (!text.empty()) text += L' ';
        text += FieldName(f.Get()) + L'=' + FieldText(f.Get());
    }
    return text;
}

std::wstring Lower(std::wstring_view text) {
    std::wstring s(text);
    for (wchar_t& c : s) c = static_cast<wchar_t>(std::towlower(c));
    return s;
}

std::wstring IndentLines(std::wstring_view text, std::wstring_view indent) {
    std::wstring result;
    for (wchar_t c : text) {
        if (c == L'\r') continue;
        result += c;
        if (c == L'\n') result += indent;
    }
    return result;
}

bool IsAbsolutePath(std::wstring_view path) {
    if (path.size() >= 2 && path[1] == L':') return true;
    return !path.empty() && (path[0] == L'\\' || path[0] == L'/');
}

bool FileExists(const std::wstring& path) {
    const DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring WithoutTrailingBackslash(std::wstring path) {
    // "C:\" becomes "C:", which the connector joins to "C:\xml\...".
    while (path.size() > 1 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    return path;
}

std::wstring FullPath(const std::wstring& path) {
    const DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (n == 0) return path;
    std::wstring full(n, L'\0');
    const DWORD m = GetFullPathNameW(path.c_str(), n, full.data(), nullptr);
    full.resize(m < n ? m : 0);
    return full.empty() ? path : full;
}

std::wstring DefaultRoot() {
    const std::optional<std::wstring> root = qarn::EnvironmentValue(L"QarnRootDir");
    if (root && !root->empty()) return WithoutTrailingBackslash(*root);
    return WithoutTrailingBackslash(FullPath(L"."));
}

TransactionFile ResolveTransactionFile(const std::wstring& argument) {
    TransactionFile file;
    if (IsAbsolutePath(argument)) {
        // A full path separates its parts with "\" only.
        file.path = FullPath(argument);
        const std::wstring_view folder = qarn::text::DirectoryOfPath(file.path);
        const std::wstring_view installation = qarn::text::DirectoryOfPath(folder);
        file.lookupName = qarn::text::NameOfPath(file.path);
        // The connector's customer file relative to that folder.
        file.customerPath = std::wstring(folder) + L"\\" + qarn::text::TransactionFiles({}, file.lookupName).customer;
        if (Lower(qarn::text::NameOfPath(folder)) == L"xml" && !installation.empty()) {
            file.lookupRoot = std::wstring(installation);  // an installation's own xml folder
        } else {
            file.lookupFolder = std::wstring(folder);  // any other folder: looked up relative to it
        }
        return file;
    }
    // The connector's rule: below ROOT\xml with an installation root, else the current folder.
    const std::optional<std::wstring> root = qarn::EnvironmentValue(L"QarnRootDir");
    const bool hasRoot = root && !root->empty();
    const qarn::text::TransactionFilePaths paths =
        qarn::text::TransactionFiles(hasRoot ? std::wstring_view(*root) : std::wstring_view(), argument);
    file.lookupName = argument;
    if (hasRoot) {
        file.path = paths.regular;
        file.customerPath = paths.customer;
        file.lookupRoot = *root;
    } else {
        file.path = FullPath(paths.regular);
        file.customerPath = FullPath(paths.customer);
    }
    return file;
}

void SetRootVariable(const std::optional<std::wstring>& root) {
    SetEnvironmentVariableW(L"QarnRootDir", root ? root->c_str() : nullptr);
}

ComPtr<IXMLDOMDocument2> AsDocument(IDispatch* dom) {
    ComPtr<IXMLDOMDocument2> document;
    if (!dom || FAILED(dom->QueryInterface(__uuidof(IXMLDOMDocument2), reinterpret_cast<void**>(document.GetAddressOf()))))
        throw Failure(L"the parser returned no XML document");
    return document;
}

ComPtr<IXMLDOMNodeList> SelectNodes(IXMLDOMNode* node, const wchar_t* xpath) {
    ComPtr<IXMLDOMNodeList> list;
    if (node) node->selectNodes(Bstr(xpath), &list);
    return list;
}

ComPtr<IXMLDOMNode> SelectNode(IXMLDOMNode* node, const wchar_t* xpath) {
    ComPtr<IXMLDOMNode> found;
    if (node && node->selectSingleNode(Bstr(xpath), &found) != S_OK) found.Reset();
    return found;
}

std::wstring NodeText(IXMLDOMNode* node) {
    Bstr text;
    if (node) node->get_text(text.Out());
    return std::wstring(text.View());
}

std::wstring NodeName(IXMLDOMNode* node) {
    Bstr name;
    if (node) node->get_nodeName(name.Out());
    return std::wstring(name.View());
}

std::wstring NodeAttributes(IXMLDOMNode* node) {
    std::wstring text;
    ComPtr<IXMLDOMNamedNodeMap> attributes;
    if (!node || node->get_attributes(&attributes) != S_OK || !attributes) return text;
    long n = 0;
    attributes->get_length(&n);
    for (long i = 0; i < n; ++i) {
        ComPtr<IXMLDOMNode> a;
        if (attributes->get_item(i, &a) != S_OK || !a) continue;
        if (!text.empty()) text += L' ';
        text += NodeName(a.Get()) + L'=' + NodeText(a.Get());
    }
    return text;
}

long NodeCount(IXMLDOMNode* node, const wchar_t* xpath) {
    const ComPtr<IXMLDOMNodeList> list = SelectNodes(node, xpath);
    long n = 0;
    if (list) list->get_length(&n);
    return n;
}

HRESULT DomParse(IQarnUtilities* utilities, const std::wstring& path, ComPtr<IDispatch>& dom) {
    dom.Reset();
    return utilities->DOMParse(qarn::Variant(path), &dom);
}

}  // namespace tool
