// Parameter-list engine: writes transaction definition files and builds them into parameter lists
// with GetXmlParameterList3 through COM.
//
// First the mixed definition: 2,000 fields, 50 structures of 10 fields and 20 tables of 50 rows of
// 5 fields (7,500 fields in all). Building it (parse included) is set against parsing the same
// file with DOMParse and selecting its Parameter element with selectSingleNode; the build must
// cost at most 1.5 times as much.
//
// Then definitions of 1,000, 10,000 and 100,000 fields marked mergeIntoInput="true", built against
// a context list that already holds every second of those fields: the time per field of the build
// (parse and merge included) should stay flat as the size grows (linear in total). The time per
// field of parse and select alone is printed beside it, and the engine's own part: the same build
// from a document parsed beforehand (GetXmlParameterList1), which leaves out the file load.
//
// Every figure is the median of several runs; a first build, not counted, activates the servers.
// The output is Markdown.
//
//   paramlist_bench [folder for the files, default: the temporary folder]
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <wrl/client.h>

#include "BenchClock.h"
#include "dom/Dom.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#undef GetMessage
#include "QarnComDatatypes.h"
#include "QarnComConnector.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr wchar_t kPath[] = L"Qarn/Transaction[Aliasname='A']/Import/Parameter";

struct Shape {
    int fields = 0;
    int structures = 0;
    int fieldsPerStructure = 0;
    int tables = 0;
    int rowsPerTable = 0;
    int fieldsPerRow = 0;
    bool merge = false;
    int Total() const { return fields + structures * fieldsPerStructure + tables * rowsPerTable * fieldsPerRow; }
};

void WriteFields(FILE* f, const char* prefix, int count) {
    fputs("<FieldCollection>\r\n", f);
    for (int i = 0; i < count; ++i)
        fprintf(f, "<Field><Name>%s%d</Name><Value>value of field %d with some text</Value></Field>\r\n",
                prefix, i, i);
    fputs("</FieldCollection>\r\n", f);
}

bool WriteDefinition(const std::wstring& path, const Shape& s) {
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f) return false;
    fputs("<?xml version=\"1.0\"?>\r\n<Qarn><Transaction><Aliasname>A</Aliasname><Import>\r\n", f);
    fprintf(f, "<Parameter%s>\r\n", s.merge ? " mergeIntoInput=\"true\"" : "");
    WriteFields(f, "F", s.fields);
    if (s.structures > 0) {
        fputs("<StructureCollection>\r\n", f);
        for (int i = 0; i < s.structures; ++i) {
            fprintf(f, "<Structure><Name>S%d</Name>\r\n", i);
            WriteFields(f, "SF", s.fieldsPerStructure);
            fputs("</Structure>\r\n", f);
        }
        fputs("</StructureCollection>\r\n", f);
    }
    if (s.tables > 0) {
        fputs("<TableCollection>\r\n", f);
        for (int i = 0; i < s.tables; ++i) {
            fprintf(f, "<Table><Name>T%d</Name><FieldCollectionTable>\r\n", i);
            for (int r = 0; r < s.rowsPerTable; ++r) WriteFields(f, "C", s.fieldsPerRow);
            fputs("</FieldCollectionTable></Table>\r\n", f);
        }
        fputs("</TableCollection>\r\n", f);
    }
    fputs("</Parameter></Import></Transaction></Qarn>\r\n", f);
    return fclose(f) == 0;
}

// Medians (seconds) of `runs` timings of the two steps, run in turns so that a change of the
// machine's load falls on both; zero when a run fails.
struct Timing {
    double first = 0;
    double second = 0;
};

Timing Medians(int runs, const std::function<bool()>& first, const std::function<bool()>& second) {
    std::vector<double> a, b;
    for (int i = 0; i < runs; ++i) {
        const double t0 = Now();
        if (!first()) return {};
        const double t1 = Now();
        if (!second()) return {};
        a.push_back(t1 - t0);
        b.push_back(Now() - t1);
    }
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    return {a[a.size() / 2], b[b.size() / 2]};
}

class Bench {
public:
    explicit Bench(ComPtr<IQarnUtilities> u) : u_(std::move(u)) {}
    ~Bench() {
        SysFreeString(path_);
        SysFreeString(alias_);
    }
    Bench(const Bench&) = delete;
    Bench& operator=(const Bench&) = delete;

    // DOMParse of the file and selectSingleNode of the Parameter element.
    bool ParseAndSelect(BSTR file) {
        VARIANT name;
        name.vt = VT_BSTR;
        name.bstrVal = file;
        ComPtr<IDispatch> document;
        if (FAILED(u_->DOMParse(name, &document)) || !document) return Fail("DOMParse");
        ComPtr<IXMLDOMNode> root, parameter;
        if (FAILED(document.As(&root)) || FAILED(root->selectSingleNode(path_, &parameter)) || !parameter)
            return Fail("selectSingleNode");
        return true;
    }

    // GetXmlParameterList3 with `context`; checks the number of fields, structures and tables.
    bool Build(BSTR file, IDispatch* context, long fields, long structures, long tables) {
        ComPtr<IParameterList> list;
        if (FAILED(u_->GetXmlParameterList3(file, path_, context, &list)) || !list) return Fail("GetXmlParameterList3");
        return Check(list.Get(), fields, structures, tables);
    }

    // The engine's own part: GetXmlParameterList1 on a document parsed beforehand.
    bool BuildFromDocument(IDispatch* document, IDispatch* context, long fields) {
        ComPtr<IParameterList> list;
        if (FAILED(u_->GetXmlParameterList1(document, alias_, context, &list)) || !list) return Fail("GetXmlParameterList1");
        return Check(list.Get(), fields, 0, 0);
    }

    ComPtr<IDispatch> Parse(BSTR file) {
        VARIANT name;
        name.vt = VT_BSTR;
        name.bstrVal = file;
        ComPtr<IDispatch> document;
        if (FAILED(u_->DOMParse(name, &document))) Fail("DOMParse");
        return document;
    }

private:
    bool Check(IParameterList* list, long fields, long structures, long tables) {
        ComPtr<IFieldCollection> f;
        ComPtr<IStructureCollection> s;
        ComPtr<ITableCollection> t;
        long nf = -1, ns = -1, nt = -1;
        if (SUCCEEDED(list->get_FieldCollection(&f)) && f) f->get_Count(&nf);
        if (SUCCEEDED(list->get_StructureCollection(&s)) && s) s->get_Count(&ns);
        if (SUCCEEDED(list->get_TableCollection(&t)) && t) t->get_Count(&nt);
        if (nf != fields || ns != structures || nt != tables) {
            std::printf("unexpected list: %ld fields, %ld structures, %ld tables\n", nf, ns, nt);
            return false;
        }
        return true;
    }

    bool Fail(const char* step) {
        BSTR text = nullptr;
        ComPtr<IErrorInfo> info;
        if (GetErrorInfo(0, &info) == S_OK && info) info->GetDescription(&text);
        std::printf("%s failed: %ls\n", step, text ? text : L"(no description)");
        SysFreeString(text);
        return false;
    }

    ComPtr<IQarnUtilities> u_;
    BSTR path_ = SysAllocString(kPath);
    BSTR alias_ = SysAllocString(L"A");
};

// A context list whose field collection holds fields F0, F2, F4, ... below `fields`.
ComPtr<IParameterList> ContextList(int fields) {
    ComPtr<IParameterList> list;
    if (FAILED(CoCreateInstance(CLSID_ParameterList, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&list)))) return nullptr;
    ComPtr<IFieldCollection> collection;
    if (FAILED(list->get_FieldCollection(&collection)) || !collection) return nullptr;
    for (int i = 0; i < fields; i += 2) {
        BSTR name = SysAllocString((L"F" + std::to_wstring(i)).c_str());
        VARIANT value;
        value.vt = VT_BSTR;
        value.bstrVal = SysAllocString(L"context value");
        const HRESULT hr = collection->SetValue(name, value);
        VariantClear(&value);
        SysFreeString(name);
        if (FAILED(hr)) return nullptr;
    }
    return list;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    const std::wstring folder = BenchFolder(argc, argv);
    const std::wstring path = folder + L"qarn-paramlist-bench.xml";
    int status = 0;
    {
        ComPtr<IQarnUtilities> u;
        if (FAILED(CoCreateInstance(CLSID_CQarnUtilities, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&u)))) {
            std::printf("CQarnUtilities is not registered\n");
            return 1;
        }
        Bench bench(u);
        BSTR file = SysAllocString(path.c_str());

        // The mixed definition.
        const Shape mixed{2000, 50, 10, 20, 50, 5, false};
        constexpr int kMixedRuns = 9;
        const auto buildMixed = [&] { return bench.Build(file, nullptr, mixed.fields, mixed.structures, mixed.tables); };
        const auto parseMixed = [&] { return bench.ParseAndSelect(file); };
        if (!WriteDefinition(path, mixed)) {
            std::printf("cannot write %ls\n", path.c_str());
            status = 1;
        } else if (!buildMixed()) {  // activation, not counted
            status = 1;
        }
        const Timing timing = status ? Timing{} : Medians(kMixedRuns, parseMixed, buildMixed);
        const double parse = timing.first, build = timing.second;
        if (parse <= 0 || build <= 0) {
            status = 1;
        } else {
            std::printf("Mixed definition: %s fields, %d structures of %d fields, %d tables of %d rows of %d fields "
                        "(%s fields in all), medians of %d runs.\n\n",
                        Grouped(mixed.fields).c_str(), mixed.structures, mixed.fieldsPerStructure, mixed.tables,
                        mixed.rowsPerTable, mixed.fieldsPerRow, Grouped(mixed.Total()).c_str(), kMixedRuns);
            std::printf("| parse + select ms | build ms | ratio |\n|---:|---:|---:|\n");
            std::printf("| %.1f | %.1f | %.2f |\n\n", parse * 1e3, build * 1e3, build / parse);
        }

        // Growth, with the merge into a context list holding every second field.
        if (status == 0) {
            std::printf("Merged definitions against a context list that holds every second field; microseconds per "
                        "field, \"engine\" is the same build from a document parsed beforehand.\n\n");
        }
        struct Row {
            int fields, runs;
            double parse, build, engine;  // seconds
        };
        std::vector<Row> rows;
        for (const auto& [fields, runs] : {std::pair{1000, 15}, std::pair{10000, 5}, std::pair{100000, 3}}) {
            if (status) break;
            const Shape shape{fields, 0, 0, 0, 0, 0, true};
            const ComPtr<IParameterList> context = ContextList(fields);
            if (!context || !WriteDefinition(path, shape)) {
                std::printf("cannot prepare %d fields\n", fields);
                status = 1;
                break;
            }
            ComPtr<IDispatch> contextDispatch;
            context.As(&contextDispatch);
            const Timing timing = Medians(
                runs, [&] { return bench.ParseAndSelect(file); },
                [&] { return bench.Build(file, contextDispatch.Get(), fields, 0, 0); });
            // The engine alone: the same build from a document parsed beforehand.
            const ComPtr<IDispatch> document = bench.Parse(file);
            const Timing engine = document ? Medians(
                runs, [] { return true; }, [&] { return bench.BuildFromDocument(document.Get(), contextDispatch.Get(), fields); })
                                           : Timing{};
            const double p = timing.first, b = timing.second, e = engine.second;
            if (p <= 0 || b <= 0 || e <= 0) {
                status = 1;
                break;
            }
            rows.push_back({fields, runs, p, b, e});
        }
        if (status == 0) {
            std::printf("| fields | runs | parse + select | build | ratio | build ms | engine | engine / parse |\n"
                        "|---:|---:|---:|---:|---:|---:|---:|---:|\n");
            double top = 0;
            for (const Row& r : rows) top = std::max(top, r.build / r.fields);
            for (const Row& r : rows)
                std::printf("| %s | %d | %.1f | %.1f | %.2f | %s | %.1f | %.2f |\n", Grouped(r.fields).c_str(), r.runs,
                            r.parse * 1e6 / r.fields, r.build * 1e6 / r.fields, r.build / r.parse,
                            Grouped(std::llround(r.build * 1e3)).c_str(), r.engine * 1e6 / r.fields, r.engine / r.parse);
            std::printf("\nThe curves, microseconds per field:\n\n| fields | build | | engine | | parse + select | |\n"
                        "|---:|---:|:---|---:|:---|---:|:---|\n");
            for (const Row& r : rows)
                std::printf("| %s | %.1f | %s | %.1f | %s | %.1f | %s |\n", Grouped(r.fields).c_str(),
                            r.build * 1e6 / r.fields, Bar(r.build / r.fields, top).c_str(), r.engine * 1e6 / r.fields,
                            Bar(r.engine / r.fields, top).c_str(), r.parse * 1e6 / r.fields,
                            Bar(r.parse / r.fields, top).c_str());
            const auto growth = [&](double Row::*step) {
                return (rows[2].*step / rows[2].fields) / (rows[1].*step / rows[1].fields);
            };
            const double mixedRatio = build / parse, b = growth(&Row::build), e = growth(&Row::engine),
                         p = growth(&Row::parse);
            Verdict(mixedRatio <= 1.5 && b <= 2.0,
                    Format("mixed build %.2fx its parse, limit 1.5x; per field at 100,000 against 10,000 fields: build "
                           "%.2fx, limit 2x; the engine's own part %.2fx, parse + select %.2fx",
                           mixedRatio, b, e, p));
        }
        SysFreeString(file);
        DeleteFileW(path.c_str());
    }
    CoUninitialize();
    return status;
}
