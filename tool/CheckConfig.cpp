// check-config [ROOT]: every problem of an installation's configuration files, each with its file.
#include <map>

#include "Commands.h"
#include "ToolSupport.h"
#include "dom/DomRead.h"
#include "dom/XmlProlog.h"
#include "TextRules.h"

namespace tool {

namespace {

class Checker {
public:
    Checker(std::wstring root, ComPtr<IQarnUtilities> utilities) : root_(std::move(root)), u_(std::move(utilities)) {}

    int Run() {
        OutLine(L"Installation " + root_);
        const DWORD a = GetFileAttributesW(root_.c_str());
        if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY)) {
            Problem(root_, L"the installation folder does not exist");
        } else if (ReadMainFile()) {
            ReadPropertyFiles();
            ReadResourceFiles();
            ReadAsApplication();
        }
        return Summary();
    }

private:
    std::wstring Xml(std::wstring_view name) const { return root_ + L"\\xml\\" + std::wstring(name); }

    void Problem(const std::wstring& file, const std::wstring& text) {
        OutLine(L"  PROBLEM  " + file + L": " + IndentLines(text, L"             "));
        ++problems_;
    }
    void Warning(const std::wstring& file, const std::wstring& text) {
        OutLine(L"  warning  " + file + L": " + text);
        ++warnings_;
    }
    void Ok(const std::wstring& file, const std::wstring& text) {
        OutLine(L"  ok       " + file + L" (" + text + L")");
        ++filesRead_;
    }

    // The description of the connector's failure without its "at" lines, and where the XML parser
    // stops when the failure is about a file that exists but is not well-formed.
    static std::wstring Reason(HRESULT hr, const std::wstring& path = {}) {
        std::wstring text = ComErrorText(hr, L"");
        if (text.rfind(L": ", 0) == 0) text.erase(0, 2);
        const size_t code = text.rfind(L" (0x");
        if (code != std::wstring::npos && code > 0) text.erase(code);
        if (path.empty() || !FileExists(path)) return text;
        const std::optional<std::wstring> position = ParsePosition(path);
        return position ? L"not well-formed XML" + *position + L": " + text : text;
    }

    // Where the XML parser stops in a file that is not well-formed: " (line L, column C)", or empty
    // when the parser does not tell; nothing when the file is well-formed (or cannot be checked).
    // A device, or a file with a document type declaration, is not parsed here: the connector
    // refuses both before parsing, and its message says so.
    static std::optional<std::wstring> ParsePosition(const std::wstring& path) {
        if (qarn::text::DeviceOfPath(path) != qarn::text::DeviceKind::None || HasDoctype(path)) return std::nullopt;
        // A document as the connector's: no document type declaration, nothing external is read.
        ComPtr<IXMLDOMDocument2> document;
        try {
            document = qarn::dom::NewDocument();
        } catch (...) {
            return std::nullopt;
        }
        document->put_async(VARIANT_FALSE);
        VARIANT_BOOL loaded = VARIANT_FALSE;
        const HRESULT hr = document->load(qarn::Variant(path), &loaded);
        ComPtr<IXMLDOMParseError> error;
        long line = 0, column = 0;
        if (FAILED(hr) || loaded == VARIANT_TRUE) return std::nullopt;
        if (FAILED(document->get_parseError(&error)) || !error) return std::wstring();
        error->get_line(&line);
        error->get_linepos(&column);
        if (line <= 0) return std::wstring();
        return L" (line " + std::to_wstring(line) + L", column " + std::to_wstring(column) + L")";
    }

    static bool HasDoctype(const std::wstring& path) {
        FILE* file = _wfopen(path.c_str(), L"rb");
        if (!file) return false;
        const qarn::xml::Prolog prolog = qarn::xml::ScanFile(file);
        fclose(file);
        return prolog == qarn::xml::Prolog::Doctype;
    }

    ComPtr<IDispatch> Parse(const std::wstring& path) {
        ComPtr<IDispatch> dom;
        const HRESULT hr = DomParse(u_.Get(), path, dom);
        if (FAILED(hr) || !dom) {
            Problem(path, FAILED(hr) ? Reason(hr, path) : L"the parser returned no document");
            return nullptr;
        }
        return dom;
    }

    ComPtr<IFieldCollection> Children(IDispatch* dom, const std::wstring& path) {
        ComPtr<IFieldCollection> fields;
        Check(u_->DOMNodeGetChilds(dom, Bstr(path), &fields), L"DOMNodeGetChilds(" + path + L") failed");
        return fields;
    }

    bool ConnectorFileExists(const std::wstring& path) {
        VARIANT_BOOL exists = VARIANT_FALSE;
        Check(u_->FileExist2(Bstr(path), &exists), L"FileExist2 failed");
        return exists == VARIANT_TRUE;
    }

    static std::wstring DocumentElement(IDispatch* dom) {
        ComPtr<IXMLDOMElement> element;
        if (FAILED(AsDocument(dom)->get_documentElement(&element)) || !element) return {};
        return NodeName(element.Get());
    }

    bool ReadMainFile() {
        const std::wstring path = Xml(L"QarnConnector.xml");
        if (!ConnectorFileExists(path)) {
            Problem(path, L"the configuration file does not exist");
            return false;
        }
        const ComPtr<IDispatch> dom = Parse(path);
        if (!dom) return false;
        const std::wstring element = DocumentElement(dom.Get());
        if (element != L"QarnConnector") {
            Problem(path, L"the document element is <" + element + L">, expected <QarnConnector>");
            return false;
        }
        properties_ = Children(dom.Get(), L"QarnConnector/Properties");
        const long count = FieldCount(properties_.Get());
        if (count == 0) {
            Problem(path, L"no <Properties> element with properties under <QarnConnector>");
            return false;
        }
        const long jni = FieldCount(Children(dom.Get(), L"QarnConnector/JniOptions").Get());
        propertyCount_ += count;
        language_ = FieldValue(properties_.Get(), L"Language").value_or(L"EN");
        Ok(path, std::to_wstring(count) + L" properties, " + std::to_wstring(jni) + L" JNI options, language " +
                     (language_.empty() ? L"(empty)" : language_));
        if (language_.empty()) Warning(path, L"the Language property is empty: no message section is selected");
        return true;
    }

    // The files of a list property, with its strictFileExistCheck; missing ones reported here.
    std::vector<std::wstring> ListedFiles(const wchar_t* property) {
        std::vector<std::wstring> present;
        ComPtr<IField> field;
        if (FAILED(properties_->get_Field(Bstr(property), &field)) || !field) return present;
        ComPtr<IFieldCollection> attributes;
        field->get_Attributes(&attributes);
        const std::optional<std::wstring> strictText = FieldValue(attributes.Get(), L"strictFileExistCheck");
        const bool strict = !(strictText && Lower(*strictText) == L"false");
        const std::wstring names = FieldText(field.Get());
        for (const std::wstring_view name : qarn::text::SplitTokens(names, L";")) {
            const std::wstring path = Xml(name);
            if (ConnectorFileExists(path)) {
                present.push_back(path);
            } else if (strict) {
                Problem(path, std::wstring(L"the file named in ") + property + L" does not exist");
            } else {
                Warning(path, std::wstring(L"the file named in ") + property +
                                  L" does not exist; skipped since strictFileExistCheck is false");
            }
        }
        return present;
    }

    void ReadPropertyFiles() {
        for (const std::wstring& path : ListedFiles(L"PropertyFiles")) {
            ComPtr<IParameterList> list;
            const HRESULT hr = u_->GetXmlParameterList3(Bstr(path), Bstr(L"Parameter"), nullptr, &list);
            if (FAILED(hr)) {
                Problem(path, Reason(hr, path));
                continue;
            }
            ComPtr<IFieldCollection> fields;
            if (list) list->get_FieldCollection(&fields);
            const long count = FieldCount(fields.Get());
            propertyCount_ += count;
            Ok(path, std::to_wstring(count) + L" properties");
        }
    }

    void ReadResourceFiles() {
        ComPtr<IField> listed;
        if (FAILED(properties_->get_Field(Bstr(L"ResourceFiles"), &listed)) || !listed)
            Warning(Xml(L"QarnConnector.xml"), L"no ResourceFiles property: every message falls back to its built-in English text");
        const int problemsBefore = problems_;
        for (const std::wstring& path : ListedFiles(L"ResourceFiles")) {
            const ComPtr<IDispatch> dom = Parse(path);
            if (!dom) continue;
            const std::wstring element = DocumentElement(dom.Get());
            if (element != L"QarnResource") {
                Problem(path, L"the document element is <" + element + L">, expected <QarnResource>");
                continue;
            }
            ComPtr<IXMLDOMElement> root;
            AsDocument(dom.Get())->get_documentElement(&root);
            std::wstring sections;
            const ComPtr<IXMLDOMNodeList> languages = SelectNodes(root.Get(), L"*");
            long n = 0;
            if (languages) languages->get_length(&n);
            for (long i = 0; i < n; ++i) {
                ComPtr<IXMLDOMNode> section;
                if (languages->get_item(i, &section) != S_OK) continue;
                const std::wstring language = NodeName(section.Get());
                const long count = FieldCount(Children(dom.Get(), L"QarnResource/" + language).Get());
                if (!messages_.count(language)) order_.push_back(language);
                messages_[language] += count;
                if (!sections.empty()) sections += L", ";
                sections += language + L' ' + std::to_wstring(count);
            }
            Ok(path, L"messages " + (sections.empty() ? std::wstring(L"none") : sections));
        }
        if (listed && problems_ == problemsBefore && !language_.empty() && !messages_.count(language_))
            Warning(Xml(L"QarnConnector.xml"), L"no resource file has a section for the language " + language_ +
                                                   L": every message falls back to its built-in English text");
    }

    // The read of the application object, which must succeed when the files above are right.
    void ReadAsApplication() {
        const HRESULT hr = u_->ReadXmlConfigurationFiles();
        if (FAILED(hr)) {
            const std::wstring reason = Reason(hr);
            if (problems_ == 0) {
                Problem(Xml(L"QarnConnector.xml"), L"the application cannot read the configuration: " + reason);
            } else {
                OutLine(L"  The application cannot read this configuration: " + IndentLines(reason, L"    "));
            }
            return;
        }
        ComPtr<IFieldCollection> properties;
        ComPtr<IFieldCollection> messages;
        u_->get_Properties(&properties);
        u_->get_Messages(&messages);
        OutLine(L"  The application reads this configuration: " + std::to_wstring(FieldCount(properties.Get())) +
                L" properties (CheckoutDir included), " + std::to_wstring(FieldCount(messages.Get())) +
                L" messages in " + (language_.empty() ? L"(no language)" : language_) + L".");
    }

    static std::wstring Counted(int n, const wchar_t* what) {
        return std::to_wstring(n) + L' ' + what + (n == 1 ? L"" : L"s");
    }

    int Summary() {
        std::wstring messages;
        for (const std::wstring& language : order_) {
            if (!messages.empty()) messages += L", ";
            messages += language + L' ' + std::to_wstring(messages_[language]);
        }
        OutLine();
        OutLine(L"Summary: " + Counted(filesRead_, L"file") + L" read, " + std::to_wstring(propertyCount_) +
                L" properties, messages: " + (messages.empty() ? std::wstring(L"none") : messages) + L", " +
                Counted(warnings_, L"warning") + L", " + Counted(problems_, L"problem"));
        return problems_ ? 1 : 0;
    }

    std::wstring root_;
    ComPtr<IQarnUtilities> u_;
    ComPtr<IFieldCollection> properties_;
    std::wstring language_;
    std::map<std::wstring, long> messages_;
    std::vector<std::wstring> order_;
    int filesRead_ = 0;
    long propertyCount_ = 0;
    int warnings_ = 0;
    int problems_ = 0;
};

}  // namespace

int CheckConfig(const Arguments& args) {
    if (args.size() > 1) WrongUse(L"check-config", L"too many arguments");
    if (!args.empty() && args[0].rfind(L"--", 0) == 0) WrongUse(L"check-config", L"unknown option '" + args[0] + L"'");
    const std::wstring root = args.empty() ? DefaultRoot() : WithoutTrailingBackslash(FullPath(args[0]));
    // The connector finds the installation through QarnRootDir, as in the application's process.
    SetRootVariable(root);
    Checker checker(root, CreateUtilities());
    return checker.Run();
}

}  // namespace tool
