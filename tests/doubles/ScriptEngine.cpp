#include "Doubles.h"

#include <string>

#include "Errors.h"
#include "Text.h"

using namespace qarn;

namespace {

ComPtr<IDispatch> CreateByProgId(const wchar_t* progId) {
    CLSID clsid;
    CHECK_HR(CLSIDFromProgID(progId, &clsid));
    ComPtr<IDispatch> object;
    CHECK_HR(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&object)));
    return object;
}

// The parameter list a macro works on: the object itself, or the document's list (created when
// the document has none).
ComPtr<IParameterList> ListOf(IDispatch* object, bool documents) {
    if (!object) THROW_MESSAGE(L"The macro needs an object to work on.");
    ComPtr<IParameterList> list;
    if (!documents) {
        CHECK_HR(object->QueryInterface(IID_PPV_ARGS(&list)));
        return list;
    }
    ComPtr<IQarnDocument> document;
    CHECK_HR(object->QueryInterface(IID_PPV_ARGS(&document)));
    CHECK_HR(document->get_ParameterList(&list));
    if (!list) {
        CHECK_HR(CreateByProgId(L"QarnComDatatypes.ParameterList").As(&list));
        CHECK_HR(document->put_ParameterList(list.Get()));
    }
    return list;
}

ComPtr<IFieldCollection> FieldsOf(IParameterList* list) {
    ComPtr<IFieldCollection> fields;
    CHECK_HR(list->get_FieldCollection(&fields));
    return fields;
}

void SetText(IParameterList* list, const wchar_t* name, std::wstring_view value) {
    CHECK_HR(FieldsOf(list)->SetValue(Bstr(name), Variant(value)));
}

// A new list or document whose field "replaced" tells which argument it took the place of.
ComPtr<IDispatch> Replacement(bool documents, const wchar_t* which) {
    ComPtr<IDispatch> object = CreateByProgId(documents ? L"QarnComDatatypes.QarnDocument" : L"QarnComDatatypes.ParameterList");
    SetText(ListOf(object.Get(), documents).Get(), L"replaced", which);
    return object;
}

// Adds to `list` a structure "RETURN" holding TYPE = "S" and MESSAGE = `message`, as a macro
// reports its outcome.
void AddReturn(IParameterList* list, std::wstring_view message) {
    ComPtr<IStructure> structure;
    CHECK_HR(CreateByProgId(L"QarnComDatatypes.Structure").As(&structure));
    CHECK_HR(structure->put_Name(Bstr(L"RETURN")));
    ComPtr<IFieldCollection> fields;
    CHECK_HR(CreateByProgId(L"QarnComDatatypes.FieldCollection").As(&fields));
    CHECK_HR(fields->SetValue(Bstr(L"TYPE"), Variant(std::wstring_view(L"S"))));
    CHECK_HR(fields->SetValue(Bstr(L"MESSAGE"), Variant(message)));
    CHECK_HR(structure->put_FieldCollection(fields.Get()));
    ComPtr<IStructureCollection> structures;
    CHECK_HR(list->get_StructureCollection(&structures));
    CHECK_HR(structures->Add(structure.Get()));
}

// Stores `object` in an [in,out] argument, releasing what it held.
void Put(IDispatch** slot, ComPtr<IDispatch> object) {
    if (*slot) (*slot)->Release();
    *slot = object.Detach();
}

}  // namespace

STDMETHODIMP ScriptEngine::RunMacro(BSTR macroName, IDispatch** input, IDispatch** output) {
    return Run(L"ScriptEngine::RunMacro", false, macroName, input, output);
}

STDMETHODIMP ScriptEngine::RunMacro2(BSTR macroName, IDispatch** input, IDispatch** output) {
    return Run(L"ScriptEngine::RunMacro2", true, macroName, input, output);
}

HRESULT ScriptEngine::Run(const wchar_t* member, bool documents, BSTR macroName, IDispatch** input,
                          IDispatch** output) {
    return MethodFrame(member, [&]() -> HRESULT {
        CHECK_POINTER(input);
        CHECK_POINTER(output);
        ++calls_;
        const std::wstring_view macro = View(macroName);
        if (macro == L"Fill") {
            // What the engine saw: its call count, the entry member and the input's "text" field.
            ComPtr<IParameterList> target = ListOf(*output, documents);
            Bstr text;
            CHECK_HR(FieldsOf(ListOf(*input, documents).Get())->GetValue(Bstr(L"text"), text.Out()));
            SetText(target.Get(), L"calls", std::to_wstring(calls_));
            SetText(target.Get(), L"macro", documents ? L"RunMacro2" : L"RunMacro");
            SetText(target.Get(), L"input", text.View());
        } else if (macro == L"Event") {
            // What a transaction event sees: the number of fields the input holds at that moment.
            ComPtr<IParameterList> source = ListOf(*input, documents), target = ListOf(*output, documents);
            long count = 0;
            CHECK_HR(FieldsOf(source.Get())->get_Count(&count));
            const std::wstring seen = L"seen " + std::to_wstring(count);
            SetText(source.Get(), L"event", seen);
            AddReturn(target.Get(), seen);
        } else if (macro == L"Replace") {
            Put(input, Replacement(documents, L"input"));
            Put(output, Replacement(documents, L"output"));
        } else if (macro == L"Clear") {
            Put(input, nullptr);
            Put(output, nullptr);
        } else if (macro == L"ReplaceWrongKind" || macro == L"ReplaceInputWrongKind") {
            Put(macro == L"ReplaceWrongKind" ? output : input, CreateByProgId(L"QarnComDatatypes.Field"));
        } else if (macro == L"Fail") {
            return SetErrorDescription(L"Macro failed on request");
        } else if (macro == L"FailBare") {
            return E_FAIL;
        } else if (macro == L"RefuseDestroy") {
            refuseDestroy_ = true;
        } else {
            THROW_MESSAGE(L"Unknown macro " + std::wstring(macro));
        }
        return S_OK;
    });
}

STDMETHODIMP ScriptEngine::Destroy() {
    return MethodFrame(L"ScriptEngine::Destroy", [&] {
        if (refuseDestroy_) {
            refuseDestroy_ = false;
            THROW_MESSAGE(L"Destroy refused on request");
        }
    });
}
