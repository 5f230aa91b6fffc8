#include "secure/SecureDataMapper.h"

using namespace qarn;

namespace {

using Kind = QarnSecureDataMapper::Kind;

Kind Classify(IUnknown* object) {
    static const std::pair<const IID*, Kind> kinds[] = {
        {&IID_IQarnDocument, Kind::Document},
        {&IID_IParameterList, Kind::ParameterList},
        {&IID_IFieldCollection, Kind::FieldCollection},
        {&IID_IStructureCollection, Kind::StructureCollection},
        {&IID_ITableCollection, Kind::TableCollection},
        {&IID_IStructure, Kind::Structure},
        {&IID_ITable, Kind::Table},
        {&IID_IField, Kind::Field},
        {&IID_IFieldCollectionTable, Kind::FieldCollectionTable},
        {&IID_IQarnDocumentCollection, Kind::DocumentCollection},
    };
    for (const auto& [iid, kind] : kinds) {
        ComPtr<IUnknown> p;
        if (SUCCEEDED(object->QueryInterface(*iid, reinterpret_cast<void**>(p.GetAddressOf()))) && p) return kind;
    }
    return Kind::None;
}

template <class I>
ComPtr<I> As(IUnknown* object) {
    ComPtr<I> p;
    CHECK_HR(object->QueryInterface(__uuidof(I), reinterpret_cast<void**>(p.GetAddressOf())));
    return p;
}

// "true" in any letter case, exactly these four letters.
bool IsTrue(const Bstr& value) {
    const std::wstring_view v = value.View();
    if (v.size() != 4) return false;
    for (size_t i = 0; i < 4; ++i) {
        wchar_t c = v[i];
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
        if (c != L"true"[i]) return false;
    }
    return true;
}

bool IsMarkerName(const Bstr& name) { return name.View() == L"x3nc" || name.View() == L"xdn1"; }

}  // namespace

HRESULT QarnSecureDataMapper::Process(IDispatch* object) {
    MethodScope scope(L"QarnSecureDataMapper::Process");
    if (!object) return S_FALSE;
    const Kind kind = Classify(object);
    if (kind == Kind::None) return S_FALSE;
    work_.clear();
    seen_.clear();
    keepAlive_.clear();
    Push(object, kind, false);
    while (!work_.empty()) {
        Item item = std::move(work_.back());
        work_.pop_back();
        Visit(item);
    }
    return S_OK;
}

void QarnSecureDataMapper::Push(IUnknown* object, Kind kind, bool force) {
    if (!object) return;  // a missing part or item is skipped
    ComPtr<IUnknown> identity;
    CHECK_HR(object->QueryInterface(IID_PPV_ARGS(&identity)));
    if (!seen_.insert({identity.Get(), static_cast<int>(kind) * 2 + (force ? 1 : 0)}).second) return;
    keepAlive_.push_back(identity);
    work_.push_back({identity, kind, force});
}

template <class Member, class Collection>
void QarnSecureDataMapper::PushItems(Collection* collection, Kind kind, bool force) {
    if (!collection) return;
    long count = 0;
    CHECK_HR(collection->get_Count(&count));
    // Pushed from the last to the first, so that they are visited from the first on.
    for (long i = count; i >= 1; --i) {
        ComPtr<Member> member;
        CHECK_HR(collection->get_Item(i, &member));
        Push(member.Get(), kind, force);
    }
}

HRESULT QarnSecureDataMapper::CheckAttributes(IFieldCollection* attributes, bool force, bool* marked) {
    MethodScope scope(L"QarnSecureDataMapper::CheckAttributes");
    *marked = Marks(attributes, force);
    if (*marked) PushItems<IField>(attributes, Kind::Field, true);
    return S_OK;
}

bool QarnSecureDataMapper::Marks(IFieldCollection* attributes, bool force) {
    if (!attributes) return false;
    if (force) return true;
    Bstr xdn1, x3nc;
    CHECK_HR(attributes->GetValue(Bstr(L"xdn1"), xdn1.Out()));
    CHECK_HR(attributes->GetValue(Bstr(L"x3nc"), x3nc.Out()));
    return IsTrue(xdn1) || IsTrue(x3nc);
}

void QarnSecureDataMapper::Visit(const Item& item) {
    IUnknown* object = item.object.Get();
    if (item.kind == Kind::FieldValue) {
        ProcessValue(As<IField>(object).Get());
        return;
    }
    // The attributes decide whether the object is marked; its parts are queued first and its
    // attributes on top of them, so that the attributes are walked before the parts.
    ComPtr<IFieldCollection> attributes;
    bool force = item.force;
    auto markedBy = [&](auto* typed) {
        CHECK_HR(typed->get_Attributes(&attributes));
        force = Marks(attributes.Get(), item.force) || item.force;
    };
    switch (item.kind) {
        case Kind::Document: {
            auto document = As<IQarnDocument>(object);
            markedBy(document.Get());
            ComPtr<IQarnDocumentCollection> children;
            CHECK_HR(document->get_Children(&children));
            Push(children.Get(), Kind::DocumentCollection, force);
            ComPtr<IParameterList> list;
            CHECK_HR(document->get_ParameterList(&list));
            Push(list.Get(), Kind::ParameterList, force);
            break;
        }
        case Kind::DocumentCollection: {
            auto documents = As<IQarnDocumentCollection>(object);
            markedBy(documents.Get());
            PushItems<IQarnDocument>(documents.Get(), Kind::Document, force);
            break;
        }
        case Kind::ParameterList: {
            auto list = As<IParameterList>(object);
            markedBy(list.Get());
            ComPtr<ITableCollection> tables;
            CHECK_HR(list->get_TableCollection(&tables));
            Push(tables.Get(), Kind::TableCollection, force);
            ComPtr<IStructureCollection> structures;
            CHECK_HR(list->get_StructureCollection(&structures));
            Push(structures.Get(), Kind::StructureCollection, force);
            ComPtr<IFieldCollection> fields;
            CHECK_HR(list->get_FieldCollection(&fields));
            Push(fields.Get(), Kind::FieldCollection, force);
            break;
        }
        case Kind::StructureCollection: {
            auto structures = As<IStructureCollection>(object);
            markedBy(structures.Get());
            PushItems<IStructure>(structures.Get(), Kind::Structure, force);
            break;
        }
        case Kind::Structure: {
            auto structure = As<IStructure>(object);
            markedBy(structure.Get());
            ComPtr<IFieldCollection> fields;
            CHECK_HR(structure->get_FieldCollection(&fields));
            Push(fields.Get(), Kind::FieldCollection, force);
            break;
        }
        case Kind::TableCollection: {
            auto tables = As<ITableCollection>(object);
            markedBy(tables.Get());
            PushItems<ITable>(tables.Get(), Kind::Table, force);
            break;
        }
        case Kind::Table: {
            auto table = As<ITable>(object);
            markedBy(table.Get());
            ComPtr<IFieldCollectionTable> rows;
            CHECK_HR(table->get_FieldCollectionTable(&rows));
            Push(rows.Get(), Kind::FieldCollectionTable, force);
            break;
        }
        case Kind::FieldCollectionTable: {
            auto rows = As<IFieldCollectionTable>(object);
            markedBy(rows.Get());
            PushItems<IFieldCollection>(rows.Get(), Kind::FieldCollection, force);
            break;
        }
        case Kind::FieldCollection: {
            auto fields = As<IFieldCollection>(object);
            markedBy(fields.Get());
            PushItems<IField>(fields.Get(), Kind::Field, force);
            break;
        }
        case Kind::Field: {
            auto field = As<IField>(object);
            markedBy(field.Get());
            if (force) Push(field.Get(), Kind::FieldValue, true);
            break;
        }
        case Kind::FieldValue:
        case Kind::None:
            return;
    }
    bool marked = false;
    CheckAttributes(attributes.Get(), item.force, &marked);
}

void QarnSecureDataMapper::ProcessValue(IField* field) {
    Bstr name;
    CHECK_HR(field->get_Name(name.Out()));
    if (name.IsNull() || name.IsEmpty() || IsMarkerName(name)) return;
    Bstr value;
    CHECK_HR(field->get_StringValue(value.Out()));
    if (value.IsNull()) return;
    Bstr result;
    const HRESULT hr = encrypt_ ? utilities_->Encrypt3(value, result.Out()) : utilities_->Decrypt3(value, result.Out());
    if (FAILED(hr) || result.IsNull()) {
        // A refused value stays as it is; its error object must not be taken for a later failure.
        SetErrorInfo(0, nullptr);
        return;
    }
    Variant text;
    text.vt = VT_BSTR;
    text.bstrVal = result.Detach();
    CHECK_HR(field->put_Value(text));
}
