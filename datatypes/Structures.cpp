// Structure (a named field collection) and StructureCollection.
#include "Datatypes.h"

using namespace qarn;
using namespace qarn::dt;

CStructure::~CStructure() { ReleaseLater(fields_); }

IFieldCollection* CStructure::Fields() {
    if (!fields_) fields_ = CFieldCollection::Make();
    return fields_.Get();
}

STDMETHODIMP CStructure::get_FieldCollection(IFieldCollection** result) {
    return MethodFrame(L"Structure::get_FieldCollection", [&] {
        OutParam(result) = Fields();
        (*result)->AddRef();
    });
}

STDMETHODIMP CStructure::put_FieldCollection(IFieldCollection* value) {
    // Nothing puts a new empty collection: the property never gives nothing.
    return MethodFrame(L"Structure::put_FieldCollection", [&] {
        ComPtr<IFieldCollection> next(value);
        if (!next) next = CFieldCollection::Make();
        std::swap(fields_, next);
        ReleaseLater(next);
    });
}

STDMETHODIMP CStructure::get_Text(BSTR* text) {
    return MethodFrame(L"Structure::get_Text", [&] {
        OutParam(text);
        IFieldCollection* fields = Fields();
        LONG count = 0;
        CHECK_HR(fields->get_Count(&count));
        // Values may be clear text: the texts made on the way are zeroed.
        secure::SecretWString result;
        for (LONG i = 1; i <= count; ++i) {
            ComPtr<IField> field;
            CHECK_HR(fields->get_Item(i, &field));
            if (!field) continue;
            Bstr name;
            secure::WipedBstr value;
            CHECK_HR(field->get_Name(name.Out()));
            CHECK_HR(field->get_StringValue(value.Out()));
            if (!result.empty()) result += L"; ";
            result += name.View();
            result += L'=';
            result += View(value);
        }
        *text = CopyBstr(result);
    });
}

STDMETHODIMP CStructure::AddFieldCollection(IFieldCollection* other) {
    return MethodFrame(L"Structure::AddFieldCollection", [&] {
        if (!other) return;
        CHECK_HR(Fields()->AddFieldCollection(other));
    });
}

STDMETHODIMP CStructure::GetField(BSTR name, IField** result) {
    return MethodFrame(L"Structure::GetField", [&] {
        OutParam(result);
        CHECK_HR(Fields()->get_Field(name, result));
    });
}

STDMETHODIMP CStructureCollection::Add(IStructure* structure) {
    return MethodFrame(L"StructureCollection::Add", [&] {
        if (!structure) THROW_MESSAGE(L"The structure to add is nothing.");
        items_.Append(structure);
    });
}

STDMETHODIMP CStructureCollection::get_Structure(BSTR name, IStructure** result) {
    return MethodFrame(L"StructureCollection::get_Structure", [&] {
        OutParam(result) = items_.FindLast(View(name));
        if (*result) (*result)->AddRef();
    });
}

STDMETHODIMP CStructureCollection::Append(IStructureCollection* other) {
    return MethodFrame(L"StructureCollection::Append", [&] {
        const auto members = MembersOf<IStructure>(other);
        for (const ComPtr<IStructure>& s : members) items_.Append(s.Get());
    });
}
