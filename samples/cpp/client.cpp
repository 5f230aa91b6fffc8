// A C++ client of QarnComConnector through its dual interfaces: plain COM calls, WRL's ComPtr
// and a small BSTR holder. It is compiled either with the headers made from the type libraries
// (include\QarnComConnector.h, QarnComDatatypes.h) and their identifiers (include\*_i.c), with
// MinGW or MSVC, or, with MSVC and QARN_IMPORT defined, with #import of the type libraries
// themselves: the data types first, because the connector's library refers to theirs;
// raw_interfaces_only gives the same plain interfaces as the headers, no_namespace and
// named_guids the same names (CLSID_..., IID_...). CMakeLists.txt beside this file builds it.
//
// It builds the parameter list of the transaction CreatePart of the sample installation and
// shows what the CAD add-in would hand to the SAP connector, then shows how a failure arrives:
// as an HRESULT with a description in the thread's error object.
// Run it with QarnRootDir set to the installation root:
//   set QarnRootDir=C:\Qarn\samples\installation
//   QarnClientSample.exe
#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <cstdio>
#include <string>

#if defined(QARN_IMPORT)
#import "QarnComDatatypes.tlb" raw_interfaces_only no_namespace named_guids
#import "QarnComConnector.tlb" raw_interfaces_only no_namespace named_guids
#else
#include "QarnComDatatypes.h"
#include "QarnComConnector.h"
#endif

using Microsoft::WRL::ComPtr;

namespace {

// Owns one BSTR; frees it at the end of the scope.
class Text {
public:
    Text() = default;
    explicit Text(const wchar_t* value) : bstr_(SysAllocString(value)) {}
    ~Text() { SysFreeString(bstr_); }
    Text(const Text&) = delete;
    Text& operator=(const Text&) = delete;
    BSTR* Out() { SysFreeString(bstr_); bstr_ = nullptr; return &bstr_; }
    operator BSTR() const { return bstr_; }
    const wchar_t* c_str() const { return bstr_ ? bstr_ : L""; }

private:
    BSTR bstr_ = nullptr;
};

// A failed call: its HRESULT and the description the server left in the error object.
std::wstring Describe(HRESULT hr) {
    wchar_t code[32];
    swprintf(code, 32, L"0x%08lX", static_cast<unsigned long>(hr));
    std::wstring text = code;
    ComPtr<IErrorInfo> info;
    Text description;
    if (GetErrorInfo(0, &info) == S_OK && SUCCEEDED(info->GetDescription(description.Out())))
        text += std::wstring(L": ") + description.c_str();
    return text;
}

// Stops the sample with the server's message when a call fails.
struct Failure {
    std::wstring what;
};
void Check(HRESULT hr, const wchar_t* call) {
    if (FAILED(hr)) throw Failure{std::wstring(call) + L" failed with " + Describe(hr)};
}

void PrintFields(IFieldCollection* fields, const wchar_t* indent) {
    long count = 0;
    Check(fields->get_Count(&count), L"FieldCollection.Count");
    for (long i = 1; i <= count; ++i) {
        ComPtr<IField> field;
        Check(fields->get_Item(i, &field), L"FieldCollection.Item");
        Text name, value;
        Check(field->get_Name(name.Out()), L"Field.Name");
        Check(field->get_StringValue(value.Out()), L"Field.StringValue");
        // Long texts (a warning with its "at" lines) are shown by their first line.
        std::wstring shown = value.c_str();
        if (const auto end = shown.find(L'\n'); end != std::wstring::npos) shown = shown.substr(0, end) + L" ...";
        wprintf(L"%ls%-22ls %ls\n", indent, name.c_str(), shown.c_str());
    }
}

void PrintList(IParameterList* list) {
    ComPtr<IFieldCollection> attributes, fields;
    Check(list->get_Attributes(&attributes), L"ParameterList.Attributes");
    if (attributes) PrintFields(attributes.Get(), L"  [attribute] ");
    Check(list->get_FieldCollection(&fields), L"ParameterList.FieldCollection");
    PrintFields(fields.Get(), L"  ");
    ComPtr<IStructureCollection> structures;
    Check(list->get_StructureCollection(&structures), L"ParameterList.StructureCollection");
    long count = 0;
    Check(structures->get_Count(&count), L"StructureCollection.Count");
    for (long i = 1; i <= count; ++i) {
        ComPtr<IStructure> structure;
        Check(structures->get_Item(i, &structure), L"StructureCollection.Item");
        Text name, text;
        Check(structure->get_Name(name.Out()), L"Structure.Name");
        Check(structure->get_Text(text.Out()), L"Structure.Text");
        wprintf(L"  structure %ls: %ls\n", name.c_str(), text.c_str());
    }
}

void SetValue(IFieldCollection* fields, const wchar_t* name, const wchar_t* value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(value);
    const HRESULT hr = fields->SetValue(Text(name), v);
    VariantClear(&v);
    Check(hr, L"FieldCollection.SetValue");
}

void Run() {
    // The class factory's application reads the installation's configuration once per process;
    // every utilities object then answers properties and messages from it.
    ComPtr<IQarnClassFactory> factory;
    Check(CoCreateInstance(CLSID_CQarnClassFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory)),
          L"Creating CQarnClassFactory (is QarnComConnector.dll registered?)");
    ComPtr<IQarnComApplication> application;
    Check(factory->Create(&application), L"CQarnClassFactory.Create");

    ComPtr<IQarnUtilities> utilities;
    Check(CoCreateInstance(CLSID_CQarnUtilities, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&utilities)),
          L"Creating CQarnUtilities (is QarnComConnector.dll registered?)");
    Text root;
    Check(utilities->GetRootDir(root.Out()), L"GetRootDir");
    wprintf(L"Installation root: %ls\n", root.c_str());

    // The CAD add-in's part, as the context list of the transaction.
    ComPtr<IParameterList> part;
    Check(CoCreateInstance(CLSID_ParameterList, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&part)),
          L"Creating a ParameterList (is QarnComDatatypes.dll registered?)");
    ComPtr<IFieldCollection> partFields;
    Check(part->get_FieldCollection(&partFields), L"ParameterList.FieldCollection");
    SetValue(partFields.Get(), L"PartNumber", L"100-4713");
    SetValue(partFields.Get(), L"Title", L"Bearing cover");
    SetValue(partFields.Get(), L"Mass", L"0.48");

    ComPtr<IParameterList> list;
    Check(utilities->GetXmlParameterList(Text(L"Parts.xml"), Text(L"CreatePart"), part.Get(), &list),
          L"GetXmlParameterList(Parts.xml, CreatePart)");
    wprintf(L"Parameter list of CreatePart:\n");
    PrintList(list.Get());

    // A transaction the file does not declare: the call fails, and the error object says why and
    // through which methods the failure passed.
    ComPtr<IParameterList> missing;
    const HRESULT hr = utilities->GetXmlParameterList(Text(L"Parts.xml"), Text(L"ScrapPart"), part.Get(), &missing);
    wprintf(L"A transaction that does not exist gives %ls\n", FAILED(hr) ? Describe(hr).c_str() : L"no error");

    // Releases the shared application (and any cached connector) of this process.
    Check(factory->Destroy(), L"CQarnClassFactory.Destroy");
}

}  // namespace

int wmain() {
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        fwprintf(stderr, L"COM could not be initialised\n");
        return 1;
    }
    int status = 0;
    try {
        Run();
        wprintf(L"done\n");
    } catch (const Failure& failure) {
        fwprintf(stderr, L"%ls\n", failure.what.c_str());
        status = 1;
    }
    CoUninitialize();
    return status;
}
