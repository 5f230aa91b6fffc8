#include "secure/SecureDataMapper.h"

#include "base/WipedBstr.h"

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
    if (!seen_.try_emplace({identity.Get(), static_cast<int>(kind) * 2 + (force ? 1 : 0)}, identity).second) return;
    work_.push_back({identity, kind, force});
}

template <class Member, class Collection>
void QarnSecureDataMapper::AddItems(Collection* collection, Kind kind, std::vector<Part>& parts) {
    if (!collection) return;
    long count = 0;
    CHECK_HR(collection->get_Count(&count));
    for (long i = 1; i <= count; ++i) {
        ComPtr<Member> member;
        CHECK_HR(collection->get_Item(i, &member));
        parts.push_back({member, kind});
    }
}

HRESULT QarnSecureDataMapper::CheckAttributes(IFieldCollection* attributes, bool force, bool* marked) {
    MethodScope scope(L"QarnSecureDataMapper::CheckAttributes");
    *marked = false;
    pendingAttributes_.clear();
    if (!attributes) return S_OK;
    Bstr xdn1, x3nc;
    CHECK_HR(attributes->GetValue(Bstr(L"xdn1"), xdn1.Out()));
    CHECK_HR(attributes->GetValue(Bstr(L"x3nc"), x3nc.Out()));
    if (!IsTrue(xdn1) && !IsTrue(x3nc) && !force) return S_OK;
    *marked = true;
    // Every attribute is walked as a field with force on; the caller queues them.
    AddItems<IField>(attributes, Kind::Field, pendingAttributes_);
    return S_OK;
}

namespace {
template <class I>
ComPtr<IFieldCollection> AttributesOf(IUnknown* object) {
    ComPtr<IFieldCollection> attributes;
    CHECK_HR(As<I>(object)->get_Attributes(&attributes));
    return attributes;
}
}  // namespace

ComPtr<IFieldCollection> QarnSecureDataMapper::Attributes(Kind kind, IUnknown* object) {
    switch (kind) {
        case Kind::Document: return AttributesOf<IQarnDocument>(object);
        case Kind::DocumentCollection: return AttributesOf<IQarnDocumentCollection>(object);
        case Kind::ParameterList: return AttributesOf<IParameterList>(object);
        case Kind::StructureCollection: return AttributesOf<IStructureCollection>(object);
        case Kind::Structure: return AttributesOf<IStructure>(object);
        case Kind::TableCollection: return AttributesOf<ITableCollection>(object);
        case Kind::Table: return AttributesOf<ITable>(object);
        case Kind::FieldCollectionTable: return AttributesOf<IFieldCollectionTable>(object);
        case Kind::FieldCollection: return AttributesOf<IFieldCollection>(object);
        case Kind::Field: return AttributesOf<IField>(object);
        case Kind::FieldValue:
        case Kind::None: break;
    }
    return nullptr;
}

std::vector<QarnSecureDataMapper::Part> QarnSecureDataMapper::Parts(Kind kind, IUnknown* object) {
    std::vector<Part> parts;
    // Each getter runs in the order in which its part is walked.
    switch (kind) {
        case Kind::Document: {
            auto document = As<IQarnDocument>(object);
            ComPtr<IParameterList> list;
            CHECK_HR(document->get_ParameterList(&list));
            parts.push_back({list, Kind::ParameterList});
            ComPtr<IQarnDocumentCollection> children;
            CHECK_HR(document->get_Children(&children));
            parts.push_back({children, Kind::DocumentCollection});
            break;
        }
        case Kind::DocumentCollection:
            AddItems<IQarnDocument>(As<IQarnDocumentCollection>(object).Get(), Kind::Document, parts);
            break;
        case Kind::ParameterList: {
            auto list = As<IParameterList>(object);
            ComPtr<IFieldCollection> fields;
            CHECK_HR(list->get_FieldCollection(&fields));
            parts.push_back({fields, Kind::FieldCollection});
            ComPtr<IStructureCollection> structures;
            CHECK_HR(list->get_StructureCollection(&structures));
            parts.push_back({structures, Kind::StructureCollection});
            ComPtr<ITableCollection> tables;
            CHECK_HR(list->get_TableCollection(&tables));
            parts.push_back({tables, Kind::TableCollection});
            break;
        }
        case Kind::StructureCollection:
            AddItems<IStructure>(As<IStructureCollection>(object).Get(), Kind::Structure, parts);
            break;
        case Kind::Structure: {
            ComPtr<IFieldCollection> fields;
            CHECK_HR(As<IStructure>(object)->get_FieldCollection(&fields));
            parts.push_back({fields, Kind::FieldCollection});
            break;
        }
        case Kind::TableCollection:
            AddItems<ITable>(As<ITableCollection>(object).Get(), Kind::Table, parts);
            break;
        case Kind::Table: {
            ComPtr<IFieldCollectionTable> rows;
            CHECK_HR(As<ITable>(object)->get_FieldCollectionTable(&rows));
            parts.push_back({rows, Kind::FieldCollectionTable});
            break;
        }
        case Kind::FieldCollectionTable:
            AddItems<IFieldCollection>(As<IFieldCollectionTable>(object).Get(), Kind::FieldCollection, parts);
            break;
        case Kind::FieldCollection:
            AddItems<IField>(As<IFieldCollection>(object).Get(), Kind::Field, parts);
            break;
        case Kind::Field:
            parts.push_back({object, Kind::FieldValue});
            break;
        case Kind::FieldValue:
        case Kind::None: break;
    }
    return parts;
}

void QarnSecureDataMapper::Visit(const Item& item) {
    IUnknown* object = item.object.Get();
    if (item.kind == Kind::FieldValue) {
        if (item.force) ProcessValue(As<IField>(object).Get());
        return;
    }
    // The object's attributes are walked first, then its parts. On the stack the parts go below
    // the attributes, each group from its last member to its first.
    bool marked = false;
    CheckAttributes(Attributes(item.kind, object).Get(), item.force, &marked);
    std::vector<Part> attributes = std::move(pendingAttributes_);
    pendingAttributes_.clear();
    const bool force = marked || item.force;
    const std::vector<Part> parts = Parts(item.kind, object);
    for (auto part = parts.rbegin(); part != parts.rend(); ++part) Push(part->object.Get(), part->kind, force);
    for (auto part = attributes.rbegin(); part != attributes.rend(); ++part) Push(part->object.Get(), part->kind, true);
}

void QarnSecureDataMapper::ProcessValue(IField* field) {
    Bstr name;
    CHECK_HR(field->get_Name(name.Out()));
    if (name.IsNull() || name.IsEmpty() || IsMarkerName(name)) return;
    // The clear text is the value in one mode and the result in the other: both are zeroed.
    secure::WipedBstr value;
    CHECK_HR(field->get_StringValue(value.Out()));
    if (value.IsNull()) return;
    secure::WipedBstr result;
    const HRESULT hr = encrypt_ ? utilities_->Encrypt3(value, result.Out()) : utilities_->Decrypt3(value, result.Out());
    if (FAILED(hr) || result.IsNull()) {
        // A refused value stays as it is; its error object must not be taken for a later failure.
        SetErrorInfo(0, nullptr);
        return;
    }
    VARIANT text;
    text.vt = VT_BSTR;
    text.bstrVal = result;  // borrowed: put_Value copies it
    CHECK_HR(field->put_Value(text));
}
