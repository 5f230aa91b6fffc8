// FieldCollection: an ordered list of fields with a by-name lookup that finds the field added last.
#include "Datatypes.h"

using namespace qarn;
using namespace qarn::dt;

namespace {

// The current name of any field (ours or foreign).
std::wstring NameOf(IField* field) {
    if (NamedMember* own = OwnMember(field)) return own->Name();
    Bstr name;
    CHECK_HR(field->get_Name(name.Out()));
    return std::wstring(name.View());
}

}  // namespace

void CFieldCollection::AppendAll(IFieldCollection* other) {
    for (const ComPtr<IField>& field : MembersOf<IField>(other)) items_.Append(field.Get());
}

STDMETHODIMP CFieldCollection::Add(IField* field) {
    return MethodFrame(L"FieldCollection::Add", [&] {
        if (!field) THROW_MESSAGE(L"The field to add is nothing.");
        items_.Append(field);
    });
}

STDMETHODIMP CFieldCollection::AddField(IField* field) {
    return MethodFrame(L"FieldCollection::AddField", [&] {
        if (!field) THROW_MESSAGE(L"The field to add is nothing.");
        ComPtr<IField> keep(field);  // it may be a member of this collection already
        items_.RemoveNamed(NameOf(field));
        items_.Append(field);
    });
}

STDMETHODIMP CFieldCollection::get_Field(BSTR name, IField** field) {
    return MethodFrame(L"FieldCollection::get_Field", [&] {
        OutParam(field) = items_.FindLast(View(name));
        if (*field) (*field)->AddRef();
    });
}

STDMETHODIMP CFieldCollection::Append(IFieldCollection* other) {
    return MethodFrame(L"FieldCollection::Append", [&] { AppendAll(other); });
}

STDMETHODIMP CFieldCollection::AddFieldCollection(IFieldCollection* other) {
    return MethodFrame(L"FieldCollection::AddFieldCollection", [&] { AppendAll(other); });
}

STDMETHODIMP CFieldCollection::GetValue(BSTR name, BSTR* value) {
    // Fails only for a null out pointer and when memory runs out: an absent field or one whose
    // text cannot be read gives the empty text.
    if (!value) return MethodFrame(L"FieldCollection::GetValue", [&] { OutParam(value); });
    *value = nullptr;
    // The field's text is handed out as the field gives it: no copy of a value that may be clear
    // text stays behind.
    secure::WipedBstr found;
    try {
        if (IField* field = items_.FindLast(View(name))) {
            const HRESULT hr = field->get_StringValue(found.Out());
            // Our own fields always have a text: theirs fails only when memory runs out.
            if (hr == E_OUTOFMEMORY || (FAILED(hr) && qarn::dt::OwnVtable<IField>::Matches(field))) return E_OUTOFMEMORY;
            if (FAILED(hr)) found.Reset();
        }
    } catch (...) {
        if (CaughtResult() == E_OUTOFMEMORY) return E_OUTOFMEMORY;
        found.Reset();
    }
    *value = found.IsNull() ? SysAllocStringLen(nullptr, 0) : found.Detach();
    return *value ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CFieldCollection::SetValue(BSTR name, VARIANT value) {
    return MethodFrame(L"FieldCollection::SetValue", [&] {
        ComPtr<CField> field = CField::Make();
        field->SetName(std::wstring(View(name)));
        field->SetValue(value);
        items_.Append(field.Get());
    });
}

STDMETHODIMP CFieldCollection::Remove(LONG index) {
    return MethodFrame(L"FieldCollection::Remove", [&] { items_.RemoveAt(CHECK_INDEX(index, items_.Count())); });
}
