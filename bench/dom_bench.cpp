// DOM helpers scaling: writes parameter files of 1,000, 10,000 and 100,000 fields (each with one
// attribute), then for each size parses the file with DOMParse and reads the fields with
// DOMNodeGetChilds, both through COM, and prints the time per field of each step and their
// ratio. Both per-field times must stay flat as the size grows (linear in total).
// Baselines of the same run: MSXML alone loading the file by its name, as DOMParse does, and
// loading the file's bytes from memory (against DOMParse); MSXML alone walking the same children
// and reading each one's name, text and attributes (against DOMNodeGetChilds, which also makes a
// Field of each). Then the other XML readers (configuration, documents, logon) at 10,000 and 100,000
// elements: each must stay flat per element as well. The output is Markdown.
//
//   dom_bench [folder for the files, default: the temporary folder]
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <wrl/client.h>

#include "BenchClock.h"
#include "dom/Dom.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#undef GetMessage
#include "QarnComDatatypes.h"
#include "QarnComConnector.h"

using Microsoft::WRL::ComPtr;

namespace {

void WriteParameterFile(const std::wstring& path, int fields) {
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f) return;
    fputs("<?xml version=\"1.0\"?>\r\n<Parameter><FieldCollection>\r\n", f);
    for (int i = 0; i < fields; ++i)
        fprintf(f, "<Field%d kind=\"text\">value of field %d with some text</Field%d>\r\n", i % 500, i, i % 500);
    fputs("</FieldCollection></Parameter>\r\n", f);
    fclose(f);
}

// MSXML alone: the file loaded by its name; seconds, or a negative value on failure.
double LoadByName(const std::wstring& path) {
    const double start = Now();
    ComPtr<IXMLDOMDocument2> document;
    if (!Check(CoCreateInstance(qarn::dom::kDomDocument60, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&document)), "DOM"))
        return -1;
    VARIANT name;
    name.vt = VT_BSTR;
    name.bstrVal = SysAllocString(path.c_str());
    VARIANT_BOOL loaded = VARIANT_FALSE;
    const HRESULT hr = document->load(name, &loaded);
    VariantClear(&name);
    return SUCCEEDED(hr) && loaded ? Now() - start : -1;
}

// MSXML alone: the file's bytes loaded from memory; seconds, or a negative value on failure.
double LoadFromMemory(const std::wstring& path) {
    const double start = Now();
    VARIANT source = FileBytes(path.c_str());
    if (source.vt == VT_EMPTY) return -1;
    ComPtr<IXMLDOMDocument2> document;
    if (!Check(CoCreateInstance(qarn::dom::kDomDocument60, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&document)), "DOM")) {
        VariantClear(&source);
        return -1;
    }
    VARIANT_BOOL loaded = VARIANT_FALSE;
    const HRESULT hr = document->load(source, &loaded);
    VariantClear(&source);
    return SUCCEEDED(hr) && loaded ? Now() - start : -1;
}

// MSXML alone: the children of the node at `xpath`, each one's name, text and attribute count;
// returns the number of children, or -1.
long Walk(IDispatch* document, BSTR xpath) {
    ComPtr<IXMLDOMNode> root, parent;
    ComPtr<IXMLDOMNodeList> children;
    if (FAILED(document->QueryInterface(IID_PPV_ARGS(&root))) || FAILED(root->selectSingleNode(xpath, &parent)) ||
        !parent || FAILED(parent->get_childNodes(&children)))
        return -1;
    long count = 0;
    for (ComPtr<IXMLDOMNode> child; children->nextNode(child.ReleaseAndGetAddressOf()) == S_OK && child;) {
        DOMNodeType type;
        child->get_nodeType(&type);
        if (type != NODE_ELEMENT) continue;
        BSTR name = nullptr, text = nullptr;
        child->get_nodeName(&name);
        child->get_text(&text);
        ComPtr<IXMLDOMNamedNodeMap> attributes;
        long n = 0;
        if (SUCCEEDED(child->get_attributes(&attributes)) && attributes) attributes->get_length(&n);
        SysFreeString(name);
        SysFreeString(text);
        ++count;
    }
    return count;
}

bool WriteText(const std::wstring& path, const std::string& text) {
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f) return false;
    const bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
    return fclose(f) == 0 && ok;
}

// The other readers, each on a file of `count` elements of its kind below the folder; seconds for
// one read, or a negative value on failure.
struct Reader {
    const char* name;
    const char* element;
    double (*read)(IQarnUtilities* u, const std::wstring& folder, int count);
};

double ReadConfiguration(IQarnUtilities* u, const std::wstring& folder, int count) {
    const std::wstring root = folder + L"qarn-dom-bench-config-" + std::to_wstring(count);
    CreateDirectoryW(root.c_str(), nullptr);
    CreateDirectoryW((root + L"\\xml").c_str(), nullptr);
    std::string text = "<?xml version=\"1.0\"?>\r\n<QarnConnector><Properties>\r\n";
    char line[160];
    for (int i = 0; i < count; ++i) {
        std::snprintf(line, sizeof line, "<Setting%d scope=\"site\">value of setting %d</Setting%d>\r\n", i, i, i);
        text += line;
    }
    text += "</Properties></QarnConnector>\r\n";
    if (!WriteText(root + L"\\xml\\QarnConnector.xml", text)) return -1;
    SetEnvironmentVariableW(L"QarnRootDir", root.c_str());
    const double start = Now();
    const HRESULT hr = u->ReadXmlConfigurationFiles();
    const double elapsed = Now() - start;
    SetEnvironmentVariableW(L"QarnRootDir", nullptr);
    return SUCCEEDED(hr) ? elapsed : -1;
}

double ReadDocuments(IQarnUtilities* u, const std::wstring& folder, int count) {
    const std::wstring path = folder + L"qarn-dom-bench-documents.xml";
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<QarnDocuments><QarnDocument><Parameter>"
                       "<FieldCollection/></Parameter><Children>\r\n";
    char line[200];
    for (int i = 1; i < count; ++i) {
        std::snprintf(line, sizeof line, "<QarnDocument><Parameter><FieldCollection><Field><Name>Number</Name><Value>%d"
                      "</Value></Field></FieldCollection></Parameter></QarnDocument>\r\n", i);
        text += line;
    }
    text += "</Children></QarnDocument></QarnDocuments>\r\n";
    if (!WriteText(path, text)) return -1;
    BSTR name = SysAllocString(path.c_str());
    ComPtr<IQarnDocument> document;
    const double start = Now();
    const HRESULT hr = u->ReadQarnDocumentFromFile(name, &document);
    const double elapsed = Now() - start;
    SysFreeString(name);
    DeleteFileW(path.c_str());
    return SUCCEEDED(hr) && document ? elapsed : -1;
}

double ReadLogon(IQarnUtilities* u, const std::wstring& folder, int count) {
    const std::wstring root = folder + L"qarn-dom-bench-logon";
    CreateDirectoryW(root.c_str(), nullptr);
    CreateDirectoryW((root + L"\\xml").c_str(), nullptr);
    std::string text = "<?xml version=\"1.0\"?>\r\n<SAPLogonParameter>\r\n";
    char line[300];
    for (int i = 0; i < count; ++i) {
        const bool last = i + 1 == count;
        std::snprintf(line, sizeof line, "<logon><computername>%s%d</computername><computeruser>%s</computeruser>"
                      "<client>%d</client><user>RFC</user><language>EN</language></logon>\r\n",
                      last ? "default" : "pc", last ? 0 : i, last ? "default" : "someone", 100 + i % 800);
        text += line;
    }
    text += "</SAPLogonParameter>\r\n";
    if (!WriteText(root + L"\\xml\\QarnSAPLogonParameter.xml", text)) return -1;
    SetEnvironmentVariableW(L"QarnRootDir", root.c_str());
    BSTR client = nullptr;
    const double start = Now();
    const HRESULT hr = u->GetSAPLogonClient(&client);
    const double elapsed = Now() - start;
    SetEnvironmentVariableW(L"QarnRootDir", nullptr);
    SysFreeString(client);
    return SUCCEEDED(hr) ? elapsed : -1;
}

const Reader kReaders[] = {
    {"configuration (`ReadXmlConfigurationFiles`)", "property", ReadConfiguration},
    {"documents (`ReadQarnDocumentFromFile`)", "document", ReadDocuments},
    {"logon (`GetSAPLogonClient`, the entry found last)", "logon entry", ReadLogon},
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    const std::wstring folder = BenchFolder(argc, argv);
    {
        ComPtr<IQarnUtilities> u;
        if (FAILED(CoCreateInstance(CLSID_CQarnUtilities, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&u)))) {
            std::printf("CQarnUtilities is not registered\n");
            return 1;
        }
        struct Row {
            int fields;
            double parse, byName, load, childs, walk;  // seconds
        };
        std::vector<Row> rows;
        for (int fields : {1000, 10000, 100000}) {
            const std::wstring path = folder + L"qarn-dom-bench.xml";
            WriteParameterFile(path, fields);
            BSTR name = SysAllocString(path.c_str());
            VARIANT file;
            file.vt = VT_BSTR;
            file.bstrVal = name;
            ComPtr<IDispatch> doc;
            const double t0 = Now();
            const HRESULT parsed = u->DOMParse(file, &doc);
            const double t1 = Now();
            ComPtr<IFieldCollection> result;
            BSTR xpath = SysAllocString(L"Parameter/FieldCollection");
            const HRESULT read = u->DOMNodeGetChilds(doc.Get(), xpath, &result);
            const double t2 = Now();
            long count = 0;
            if (result) result->get_Count(&count);
            result.Reset();
            const long walked = doc ? Walk(doc.Get(), xpath) : -1;
            const double t3 = Now();
            const double byName = LoadByName(path);
            const double load = LoadFromMemory(path);
            SysFreeString(xpath);
            SysFreeString(name);
            DeleteFileW(path.c_str());
            if (FAILED(parsed) || FAILED(read) || count != fields || walked != fields || load < 0 || byName < 0) {
                std::fprintf(stderr, "failed at %d fields (0x%08lx 0x%08lx, %ld fields, %ld walked)\n", fields,
                             static_cast<unsigned long>(parsed), static_cast<unsigned long>(read), count, walked);
                return 1;
            }
            rows.push_back({fields, t1 - t0, byName, load, t2 - t1, t3 - t2});
        }
        std::printf("Microseconds per field.\n\n| fields | DOMParse | MSXML load by name | ratio | MSXML load from memory "
                    "| DOMNodeGetChilds | MSXML walk | ratio | DOMNodeGetChilds ms |\n"
                    "|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
        double top = 0;
        for (const Row& r : rows) top = std::max({top, r.parse / r.fields, r.childs / r.fields});
        for (const Row& r : rows)
            std::printf("| %s | %.1f | %.1f | %.2f | %.1f | %.1f | %.1f | %.1f | %s |\n", Grouped(r.fields).c_str(),
                        r.parse * 1e6 / r.fields, r.byName * 1e6 / r.fields, r.parse / r.byName,
                        r.load * 1e6 / r.fields, r.childs * 1e6 / r.fields, r.walk * 1e6 / r.fields, r.childs / r.walk,
                        Grouped(std::llround(r.childs * 1e3)).c_str());
        std::printf("\nThe curves, microseconds per field:\n\n| fields | DOMNodeGetChilds | | DOMParse | |\n"
                    "|---:|---:|:---|---:|:---|\n");
        for (const Row& r : rows)
            std::printf("| %s | %.1f | %s | %.1f | %s |\n", Grouped(r.fields).c_str(), r.childs * 1e6 / r.fields,
                        Bar(r.childs / r.fields, top).c_str(), r.parse * 1e6 / r.fields,
                        Bar(r.parse / r.fields, top).c_str());
        const auto perField = [&](size_t i, double Row::*step) { return rows[i].*step / rows[i].fields; };
        const double childs = perField(2, &Row::childs) / perField(1, &Row::childs),
                     parse = perField(2, &Row::parse) / perField(1, &Row::parse),
                     byName = perField(2, &Row::byName) / perField(1, &Row::byName),
                     load = perField(2, &Row::load) / perField(1, &Row::load);

        // The other readers: microseconds per element at 10,000 and 100,000 (the smaller read twice,
        // the first not counted).
        std::printf("\nThe other readers, microseconds per element (one read each; the first read of 10,000 not "
                    "counted):\n\n| reader | element | 10,000 | 100,000 | ratio |\n|---|---|---:|---:|---:|\n");
        double worst = 0;
        for (const Reader& reader : kReaders) {
            const double warm = reader.read(u.Get(), folder, 10000), small = reader.read(u.Get(), folder, 10000),
                         large = reader.read(u.Get(), folder, 100000);
            if (warm < 0 || small < 0 || large < 0) {
                std::fprintf(stderr, "the reader %s failed\n", reader.name);
                return 1;
            }
            const double ratio = (large / 100000) / (small / 10000);
            worst = std::max(worst, ratio);
            std::printf("| %s | %s | %.1f | %.1f | %.2f |\n", reader.name, reader.element, small * 1e6 / 10000,
                        large * 1e6 / 100000, ratio);
        }
        Verdict(childs <= 2.0 && parse <= 2.0 && worst <= 2.0,
                Format("per element at 100,000 against 10,000: DOMNodeGetChilds %.2fx, DOMParse %.2fx, the other "
                       "readers at most %.2fx, limit 2x; MSXML's own load by name %.2fx, from memory %.2fx",
                       childs, parse, worst, byName, load));
    }
    CoUninitialize();
    return 0;
}
