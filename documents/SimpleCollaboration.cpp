// CQarnSimpleCollaboration: field collections kept in ".CLB" files beside model files.
//
// The store file of a model is its full name with ".CLB" appended. It is written by
// CQarnUtilities::WriteXmlFile, which puts the complete text into a temporary file beside it
// before moving that over the old file: a process that dies while writing leaves the earlier
// content in place.
#include "documents/SimpleCollaboration.h"
#include "base/OwnContext.h"

#include "dom/DomRead.h"

using namespace qarn;

namespace {

constexpr wchar_t kModelFullName[] = L"ModelFullName";
constexpr wchar_t kSuffix[] = L".CLB";

ComPtr<IQarnUtilities> NewUtilities() {
    ComPtr<IQarnUtilities> utilities;
    CHECK_HR(CreateOwn(CLSID_CQarnUtilities, IID_PPV_ARGS(&utilities)));
    return utilities;
}

// The field ModelFullName of `fields`, or null.
ComPtr<IField> ModelField(IFieldCollection *fields) {
    ComPtr<IField> field;
    CHECK_HR(fields->get_Field(Bstr(kModelFullName), &field));
    return field;
}

// The model's name when the field's value is a text (a null text counts as empty).
std::optional<std::wstring> ModelName(IField *field) {
    Variant value;
    CHECK_HR(field->get_Value(value.Out()));
    if (value.vt != VT_BSTR) return std::nullopt;
    return std::wstring(View(value.bstrVal));
}

}  // namespace

void CQarnSimpleCollaboration::Store(const std::wstring &file, IFieldCollection *fields) {
    auto utilities = NewUtilities();
    auto list = objects_.New<IParameterList>(CLSID_ParameterList);
    CHECK_HR(list->put_FieldCollection(fields));
    CHECK_HR(utilities->WriteXmlFile(Bstr(file), list.Get()));
}

STDMETHODIMP CQarnSimpleCollaboration::Get(IFieldCollection *pInput, IFieldCollection **ppResult) {
    return MethodFrame(L"CQarnSimpleCollaboration::Get", [&] {
        OutParam(ppResult);
        if (!pInput) return;
        auto field = ModelField(pInput);
        if (!field) return;
        const Bstr file(ModelName(field.Get()).value_or(std::wstring()) + kSuffix);

        auto utilities = NewUtilities();
        VARIANT_BOOL exists = VARIANT_FALSE;
        CHECK_HR(utilities->FileExist2(file, &exists));
        if (exists != VARIANT_TRUE) return;
        ComPtr<IDispatch> document;
        CHECK_HR(utilities->DOMParse(Variant(file.View()), &document));
        auto stored = dom::SelectSingle(dom::AsNode(document.Get()).Get(), Bstr(L"Parameter/FieldCollection"));
        if (!stored) return;
        ComPtr<IDispatch> node;
        CHECK_HR(stored.As(&node));
        CHECK_HR(utilities->DOMCreateFieldCollectionEntry(node.Get(), nullptr, ppResult));
    });
}

STDMETHODIMP CQarnSimpleCollaboration::Add(IFieldCollection *pInput) {
    return MethodFrame(L"CQarnSimpleCollaboration::Add", [&] {
        if (!pInput) return;
        auto field = ModelField(pInput);
        if (!field) return;
        const auto name = ModelName(field.Get());
        if (name) Store(*name + kSuffix, pInput);
    });
}

STDMETHODIMP CQarnSimpleCollaboration::Get2(BSTR modelFullName, IFieldCollection **ppResult) {
    return MethodFrame(L"CQarnSimpleCollaboration::Get2", [&] {
        OutParam(ppResult);
        auto key = objects_.New<IFieldCollection>(CLSID_FieldCollection);
        Variant name;
        name.vt = VT_BSTR;
        name.bstrVal = Bstr(View(modelFullName)).Detach();
        CHECK_HR(key->SetValue(Bstr(kModelFullName), name));
        CHECK_HR(Get(key.Get(), ppResult));
    });
}

STDMETHODIMP CQarnSimpleCollaboration::Update(IFieldCollection *pInput) {
    return MethodFrame(L"CQarnSimpleCollaboration::Update", [&] {
        if (!pInput) return;
        ComPtr<IFieldCollection> stored;
        CHECK_HR(Get(pInput, &stored));
        if (stored)
            CHECK_HR(stored->AddFieldCollection(pInput));
        else
            stored = pInput;
        CHECK_HR(Add(stored.Get()));
    });
}

STDMETHODIMP CQarnSimpleCollaboration::Add2(BSTR modelFullName, IFieldCollection *pInput) {
    return MethodFrame(L"CQarnSimpleCollaboration::Add2", [&] {
        if (!pInput || !modelFullName) return;
        Store(std::wstring(View(modelFullName)) + kSuffix, pInput);
    });
}
