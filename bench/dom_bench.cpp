// DOM helpers scaling: writes parameter files of 1,000, 10,000 and 100,000 fields (each with one
// attribute), then for each size parses the file with DOMParse and reads the fields with
// DOMNodeGetChilds, both through COM, and prints the time per field of each step and their
// ratio. Both per-field times must stay flat as the size grows (linear in total).
//
//   dom_bench [folder for the files, default: the temporary folder]
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <wrl/client.h>

#include "BenchClock.h"

#include <cstdio>
#include <string>

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
        std::printf("%9s %14s %16s %12s %6s\n", "fields", "parse us/field", "childs us/field", "childs ms", "ratio");
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
            if (FAILED(parsed) || FAILED(read) || count != fields) {
                std::printf("failed at %d fields (0x%08lx 0x%08lx, %ld fields)\n", fields, parsed, read, count);
                return 1;
            }
            std::printf("%9d %14.2f %16.2f %12.0f %6.1f\n", fields, (t1 - t0) * 1e6 / fields, (t2 - t1) * 1e6 / fields,
                        (t2 - t1) * 1e3, (t2 - t1) / (t1 - t0));
            SysFreeString(xpath);
            SysFreeString(name);
            DeleteFileW(path.c_str());
        }
    }
    CoUninitialize();
    return 0;
}
