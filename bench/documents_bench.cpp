// Document files: a tree of 10,000 documents (a root, 99 children, 100 grandchildren each), every
// document with a parameter list of 20 fields, written with WriteQarnDocumentToFile and read back
// with ReadQarnDocumentFromFile through COM, set against MSXML alone loading the produced file and
// saving it again. Every figure is the median of several runs, the steps taken in turns. Then,
// once, a wide tree of 100,000 children of one field each, written and read back. The write must
// cost at most 3 times MSXML's save, the read at most 1.5 times MSXML's load of the same bytes.
// The output is Markdown.
//
//   documents_bench [folder for the files, default: the temporary folder]
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include "dom/Dom.h"
#include <wrl/client.h>

#include "BenchClock.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#undef GetMessage
#include "QarnComDatatypes.h"
#include "QarnComConnector.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr int kChildren = 99;
constexpr int kGrandchildren = 100;
constexpr int kFields = 20;
constexpr int kWide = 100000;
constexpr int kRuns = 5;

BSTR Text(const std::wstring& s) { return SysAllocStringLen(s.data(), static_cast<UINT>(s.size())); }

// Data-type objects through one class object per class.
struct Maker {
    ComPtr<IClassFactory> document, collection, list;
    bool Init() {
        return Check(CoGetClassObject(CLSID_QarnDocument, CLSCTX_ALL, nullptr, IID_PPV_ARGS(&document)), "QarnDocument") &&
               Check(CoGetClassObject(CLSID_QarnDocumentCollection, CLSCTX_ALL, nullptr, IID_PPV_ARGS(&collection)),
                     "QarnDocumentCollection") &&
               Check(CoGetClassObject(CLSID_ParameterList, CLSCTX_ALL, nullptr, IID_PPV_ARGS(&list)), "ParameterList");
    }
    ComPtr<IQarnDocument> Document(int id, int fields) {
        ComPtr<IParameterList> l;
        list->CreateInstance(nullptr, IID_PPV_ARGS(&l));
        ComPtr<IFieldCollection> f;
        l->get_FieldCollection(&f);
        for (int i = 0; i < fields; ++i) {
            BSTR name = Text(L"Field" + std::to_wstring(i));
            VARIANT value;
            value.vt = VT_BSTR;
            value.bstrVal = Text(L"value " + std::to_wstring(i) + L" of document " + std::to_wstring(id));
            f->SetValue(name, value);
            SysFreeString(name);
            VariantClear(&value);
        }
        ComPtr<IQarnDocument> d;
        document->CreateInstance(nullptr, IID_PPV_ARGS(&d));
        d->put_ParameterList(l.Get());
        return d;
    }
    ComPtr<IQarnDocumentCollection> Children(IQarnDocument* parent) {
        ComPtr<IQarnDocumentCollection> c;
        collection->CreateInstance(nullptr, IID_PPV_ARGS(&c));
        parent->put_Children(c.Get());
        return c;
    }
};

// The number of documents of a tree (without recursion).
long CountDocuments(IQarnDocument* root) {
    long count = 0;
    std::vector<ComPtr<IQarnDocument>> stack{root};
    while (!stack.empty()) {
        ComPtr<IQarnDocument> d = stack.back();
        stack.pop_back();
        ++count;
        ComPtr<IQarnDocumentCollection> children;
        d->get_Children(&children);
        long n = 0;
        if (children) children->get_Count(&n);
        for (long i = 1; i <= n; ++i) {
            ComPtr<IQarnDocument> child;
            children->get_Item(i, &child);
            stack.push_back(child);
        }
    }
    return count;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (FAILED(CoInitialize(nullptr))) return 1;
    const std::wstring folder = BenchFolder(argc, argv);
    BSTR file = Text(folder + L"qarn-documents-bench.xml");
    BSTR copy = Text(folder + L"qarn-documents-bench-msxml.xml");
    BSTR wideFile = Text(folder + L"qarn-documents-bench-wide.xml");

    ComPtr<IQarnUtilities> u;
    Maker make;
    if (!Check(CoCreateInstance(CLSID_CQarnUtilities, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&u)), "utilities") || !make.Init())
        return 1;

    int id = 0;
    ComPtr<IQarnDocument> root = make.Document(id++, kFields);
    ComPtr<IQarnDocumentCollection> children = make.Children(root.Get());
    for (int i = 0; i < kChildren; ++i) {
        ComPtr<IQarnDocument> child = make.Document(id++, kFields);
        children->Add(child.Get());
        ComPtr<IQarnDocumentCollection> grandchildren = make.Children(child.Get());
        for (int j = 0; j < kGrandchildren; ++j) grandchildren->Add(make.Document(id++, kFields).Get());
    }

    const auto writeAndRead = [&](double& write, double& read) {
        double start = Now();
        if (!Check(u->WriteQarnDocumentToFile(root.Get(), file), "WriteQarnDocumentToFile")) return false;
        write = Now() - start;
        ComPtr<IQarnDocument> back;
        start = Now();
        if (!Check(u->ReadQarnDocumentFromFile(file, &back), "ReadQarnDocumentFromFile")) return false;
        read = Now() - start;
        return CountDocuments(back.Get()) == id;
    };
    // MSXML alone: the file's bytes read and loaded from memory (as ReadQarnDocumentFromFile does),
    // then saved to another file. `byName` loads by the file name instead, which Wine does slowly.
    const auto msxml = [&](double& load, double& save, bool byName) {
        ComPtr<IXMLDOMDocument2> document;
        if (!Check(CoCreateInstance(qarn::dom::kDomDocument60, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&document)), "DOM"))
            return false;
        VARIANT source;
        VariantInit(&source);
        VARIANT_BOOL loaded = VARIANT_FALSE;
        double start = Now();
        if (byName) {
            source.vt = VT_BSTR;
            source.bstrVal = SysAllocString(file);
        } else {
            source = FileBytes(file);
            if (source.vt == VT_EMPTY) return false;
        }
        const HRESULT hr = document->load(source, &loaded);
        VariantClear(&source);
        if (!Check(hr, "load") || !loaded) return false;
        load = Now() - start;
        VARIANT name;
        name.vt = VT_BSTR;
        name.bstrVal = copy;
        start = Now();
        if (!Check(document->save(name), "save")) return false;
        save = Now() - start;
        return true;
    };

    std::vector<double> writes, reads, loads, saves;
    for (int run = 0; run <= kRuns; ++run) {
        double w = 0, r = 0, l = 0, s = 0;
        if (!writeAndRead(w, r)) {
            fprintf(stderr, "the tree read back differs in size\n");
            return 1;
        }
        if (!msxml(l, s, false)) return 1;
        if (run == 0) continue;  // the first round activates the servers
        writes.push_back(w), reads.push_back(r), loads.push_back(l), saves.push_back(s);
    }
    const double w = Median(writes) * 1000, r = Median(reads) * 1000, l = Median(loads) * 1000,
                 s = Median(saves) * 1000;
    double byName = 0, unused = 0;
    if (!msxml(byName, unused, true)) return 1;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    GetFileAttributesExW(file, GetFileExInfoStandard, &data);
    printf("A tree of %s documents of %d fields (a root, %d children, %d grandchildren each), file %.1f MB; medians "
           "of %d runs after one not counted. MSXML alone loads the file's bytes from memory and saves the document "
           "to another file.\n\n",
           Grouped(id).c_str(), kFields, kChildren, kGrandchildren, data.nFileSizeLow / 1048576.0, kRuns);
    const double top = std::max({w, r, l, s, byName * 1000});
    printf("| step | through COM ms | MSXML alone ms | ratio | COM | MSXML |\n|---|---:|---:|---:|:---|:---|\n");
    const auto ms = [](double v) { return Grouped(std::llround(v)); };
    printf("| write / save | %s | %s | %.2f | %s | %s |\n", ms(w).c_str(), ms(s).c_str(), w / s, Bar(w, top).c_str(),
           Bar(s, top).c_str());
    printf("| read / load from memory | %s | %s | %.2f | %s | %s |\n", ms(r).c_str(), ms(l).c_str(), r / l,
           Bar(r, top).c_str(), Bar(l, top).c_str());
    printf("| both | %s | %s | %.2f | | |\n", ms(w + r).c_str(), ms(l + s).c_str(), (w + r) / (l + s));
    printf("| MSXML load by file name (once) | | %s | | | %s |\n", ms(byName * 1000).c_str(),
           Bar(byName * 1000, top).c_str());
    // The wide tree, once.
    ComPtr<IQarnDocument> wide = make.Document(0, 1);
    ComPtr<IQarnDocumentCollection> all = make.Children(wide.Get());
    for (int i = 1; i <= kWide; ++i) all->Add(make.Document(i, 1).Get());
    double start = Now();
    if (!Check(u->WriteQarnDocumentToFile(wide.Get(), wideFile), "WriteQarnDocumentToFile (wide)")) return 1;
    const double wideWrite = Now() - start;
    ComPtr<IQarnDocument> back;
    start = Now();
    if (!Check(u->ReadQarnDocumentFromFile(wideFile, &back), "ReadQarnDocumentFromFile (wide)")) return 1;
    const double wideRead = Now() - start;
    const long wideCount = CountDocuments(back.Get());
    printf("\nThe wide tree, once: %s documents (a root with %s children of one field each), written in %s ms and "
           "read back in %s ms; %s documents read back.\n",
           Grouped(kWide + 1).c_str(), Grouped(kWide).c_str(), Grouped(std::llround(wideWrite * 1000)).c_str(),
           Grouped(std::llround(wideRead * 1000)).c_str(),
           Grouped(wideCount).c_str());
    if (wideCount != kWide + 1) return 1;
    // The verdict holds when every limit does; one line per limit: the step, its ratio, the limit.
    struct Limit {
        const char* step;
        double ratio, limit;
    };
    const Limit limits[] = {
        {"write / save", w / s, 3.0},
        {"read / load from memory", r / l, 1.5},
    };
    bool meets = true;
    std::string why;
    for (const Limit& limit : limits) {
        meets = meets && limit.ratio <= limit.limit;
        why += (why.empty() ? "" : "; ") + Format("%s %.2fx, limit %.1fx", limit.step, limit.ratio, limit.limit);
    }
    Verdict(meets, why);

    DeleteFileW(file);
    DeleteFileW(copy);
    DeleteFileW(wideFile);
    SysFreeString(file);
    SysFreeString(copy);
    SysFreeString(wideFile);
    back.Reset(), wide.Reset(), all.Reset(), root.Reset(), children.Reset(), u.Reset();
    make = Maker();
    CoUninitialize();
    return 0;
}
