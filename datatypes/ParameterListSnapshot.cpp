// ParameterList snapshots: the whole list as bytes, taken in the list's own apartment in one call
// and rebuilt elsewhere as the copy that Clone makes there. A caller in another apartment that
// copies a list member by member pays one call into that apartment for each member; with a
// snapshot it pays one.
//
// The bytes: a header (the magic text and this build's own identity, so that only this very
// server reads them), then the list's objects in the order Clone visits them. Each object is
// written as a tag: null, a reference to an object written before (its number) or a new object
// with its content. A name or text is its length (0xFFFFFFFF for null) and its UTF-16 units; a
// value its type and its content. Values of other types than texts and numbers (objects, arrays,
// references) cannot be written: the snapshot is refused, and the caller copies the list as before.
#include <cstring>
#include <optional>
#include <unordered_map>

#include "Datatypes.h"

namespace qarn::dt {

namespace {

constexpr char kMagic[8] = {'Q', 'P', 'L', 'S', 'N', 'A', 'P', '1'};
constexpr int kMaxDepth = 256;  // as deep as Clone goes
enum Tag : uint8_t { kNull = 0, kNew = 1, kSeen = 2 };

// The scalar types whose whole content is the variant's first eight bytes of data.
bool IsScalar(VARTYPE vt) {
    switch (vt) {
        case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4: case VT_INT: case VT_UINT:
        case VT_BOOL: case VT_ERROR: case VT_R4: case VT_R8: case VT_DATE: case VT_CY: case VT_I8: case VT_UI8:
            return true;
        default:
            return false;
    }
}

// A BSTR's text; null stays apart from empty.
std::optional<std::wstring_view> TextOf(BSTR text) {
    if (!text) return std::nullopt;
    return std::wstring_view(text, SysStringLen(text));
}

[[noreturn]] void Refuse(const wchar_t* why) {
    THROW_MESSAGE(std::wstring(L"The parameter list cannot be taken as a snapshot: ") + why);
}

class Writer {
public:
    SnapshotBytes bytes;

    void List(CParameterList& list) {
        bytes.insert(bytes.end(), std::begin(kMagic), std::end(kMagic));
        Raw(&__uuidof(IQarnOwnObject), sizeof(GUID));
        Fields(list.Fields());
        Structures(list.Structures());
        Tables(list.Tables());
        Fields(Attributes(&list).Get());
    }

private:
    void Raw(const void* data, size_t size) {
        const auto* p = static_cast<const uint8_t*>(data);
        bytes.insert(bytes.end(), p, p + size);
    }
    void U8(uint8_t v) { bytes.push_back(v); }
    void U32(uint32_t v) { Raw(&v, sizeof v); }
    void Text(std::optional<std::wstring_view> text) {
        if (!text) return U32(0xFFFFFFFF);
        U32(static_cast<uint32_t>(text->size()));
        Raw(text->data(), text->size() * sizeof(wchar_t));
    }
    void Value(const VARIANT& v) {
        U32(v.vt);
        if (v.vt == VT_EMPTY || v.vt == VT_NULL) return;
        if (v.vt == VT_BSTR) return Text(TextOf(v.bstrVal));
        if (v.vt == VT_DECIMAL) return Raw(&v, sizeof v);
        if (!IsScalar(v.vt)) Refuse(L"a value is neither a text nor a number.");
        Raw(&v.llVal, sizeof v.llVal);
    }

    // Writes `source` once: `body` writes its content, a second meeting its number.
    template <class I, class Body>
    void Object(I* source, Body&& body) {
        if (!source) return U8(kNull);
        ComPtr<IUnknown> identity;
        CHECK_HR(source->QueryInterface(IID_PPV_ARGS(&identity)));
        auto it = numbers_.find(identity.Get());
        if (it != numbers_.end()) {
            if (!it->second.done) Refuse(L"an object contains itself through its attributes.");
            U8(kSeen);
            return U32(it->second.number);
        }
        if (depth_ >= kMaxDepth) Refuse(L"its objects are nested too deep.");
        numbers_.emplace(identity.Get(), Numbered{identity, static_cast<uint32_t>(numbers_.size()), false});
        U8(kNew);
        ++depth_;
        body(source);
        --depth_;
        numbers_[identity.Get()].done = true;
    }

    template <class I>
    ComPtr<IFieldCollection> Attributes(I* source) {
        ComPtr<IFieldCollection> attributes;
        CHECK_HR(source->get_Attributes(&attributes));
        return attributes;
    }
    template <class I>
    void Name(I* source) {
        Bstr name;
        CHECK_HR(source->get_Name(name.Out()));
        Text(TextOf(name));
    }

    void Field(IField* source) {
        Object(source, [&](IField* s) {
            Name(s);
            secure::WipedVariant value;  // the value may be clear text
            CHECK_HR(s->get_Value(&value));
            Value(value);
            Fields(Attributes(s).Get());
        });
    }
    // A collection: its members, each written by `member`, then its attributes.
    template <class Item, class C, class Member>
    void Collection(C* source, Member&& member) {
        Object(source, [&](C* s) {
            const auto members = MembersOf<Item>(s);
            U32(static_cast<uint32_t>(members.size()));
            for (const ComPtr<Item>& item : members) member(item.Get());
            Fields(Attributes(s).Get());
        });
    }
    void Fields(IFieldCollection* source) {
        Collection<IField>(source, [&](IField* field) { Field(field); });
    }
    void Structures(IStructureCollection* source) {
        Collection<IStructure>(source, [&](IStructure* structure) {
            Object(structure, [&](IStructure* one) {
                Name(one);
                ComPtr<IFieldCollection> fields;
                CHECK_HR(one->get_FieldCollection(&fields));
                Fields(fields.Get());
                Fields(Attributes(one).Get());
            });
        });
    }
    void Tables(ITableCollection* source) {
        Collection<ITable>(source, [&](ITable* table) {
            Object(table, [&](ITable* one) {
                Name(one);
                ComPtr<IFieldCollectionTable> rows;
                CHECK_HR(one->get_FieldCollectionTable(&rows));
                Collection<IFieldCollection>(rows.Get(), [&](IFieldCollection* row) { Fields(row); });
                Fields(Attributes(one).Get());
            });
        });
    }

    struct Numbered {
        ComPtr<IUnknown> original;  // keeps the identity alive while the walk runs
        uint32_t number;
        bool done;
    };
    std::unordered_map<IUnknown*, Numbered> numbers_;
    int depth_ = 0;
};

class Reader {
public:
    Reader(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}

    void List(CParameterList& list) {
        char magic[sizeof kMagic];
        GUID build;
        Raw(magic, sizeof magic);
        Raw(&build, sizeof build);
        if (std::memcmp(magic, kMagic, sizeof magic) != 0 || !IsEqualGUID(build, __uuidof(IQarnOwnObject)))
            Bad(L"it was not taken by this server.");
        ComPtr<IFieldCollection> fields = Fields();
        ComPtr<IStructureCollection> structures = Structures();
        ComPtr<ITableCollection> tables = Tables();
        list.Adopt(fields.Get(), structures.Get(), tables.Get());
        list.SetAttributes(Fields().Get());
        if (p_ != end_) Bad(L"it goes on after the list.");
    }

private:
    [[noreturn]] static void Bad(const wchar_t* why) {
        THROW_MESSAGE(std::wstring(L"The snapshot of a parameter list cannot be read: ") + why);
    }
    void Raw(void* out, size_t size) {
        if (static_cast<size_t>(end_ - p_) < size) Bad(L"it ends too early.");
        std::memcpy(out, p_, size);
        p_ += size;
    }
    uint8_t U8() {
        uint8_t v;
        Raw(&v, sizeof v);
        return v;
    }
    uint32_t U32() {
        uint32_t v;
        Raw(&v, sizeof v);
        return v;
    }
    // A count of members, each of which takes at least one byte.
    uint32_t Count() {
        const uint32_t n = U32();
        if (n > static_cast<size_t>(end_ - p_)) Bad(L"a count is larger than the rest.");
        return n;
    }
    std::optional<std::wstring> Text() {
        const uint32_t n = U32();
        if (n == 0xFFFFFFFF) return std::nullopt;
        if (n > static_cast<size_t>(end_ - p_) / sizeof(wchar_t)) Bad(L"a text is longer than the rest.");
        std::wstring text(n, L'\0');
        Raw(text.data(), n * sizeof(wchar_t));
        return text;
    }
    void Value(secure::WipedVariant& v) {
        const uint32_t vt = U32();
        if (vt > 0xFFFF) Bad(L"a value has no type.");
        if (vt == VT_EMPTY || vt == VT_NULL) {
            v.vt = static_cast<VARTYPE>(vt);
        } else if (vt == VT_BSTR) {
            const std::optional<std::wstring> text = Text();
            v.bstrVal = text ? Bstr::Alloc(text->data(), static_cast<UINT>(text->size())) : nullptr;
            v.vt = VT_BSTR;
            if (text) SecureZeroMemory(const_cast<wchar_t*>(text->data()), text->size() * sizeof(wchar_t));
        } else if (vt == VT_DECIMAL) {
            Raw(&v, sizeof v);
            v.vt = VT_DECIMAL;
        } else if (IsScalar(static_cast<VARTYPE>(vt))) {
            Raw(&v.llVal, sizeof v.llVal);
            v.vt = static_cast<VARTYPE>(vt);
        } else {
            Bad(L"a value is neither a text nor a number.");
        }
    }

    // One object: null, one read before (of the same kind), or a new one that `make` reads.
    template <class I, class Make>
    ComPtr<I> Object(Make&& make) {
        const uint8_t tag = U8();
        if (tag == kNull) return nullptr;
        if (tag == kSeen) {
            const uint32_t number = U32();
            ComPtr<I> same;
            if (number >= objects_.size() || !objects_[number] || FAILED(objects_[number].As(&same)))
                Bad(L"it refers to an object it does not hold.");
            return same;
        }
        if (tag != kNew) Bad(L"an object has no tag.");
        if (depth_ >= kMaxDepth) Bad(L"its objects are nested too deep.");
        const size_t number = objects_.size();
        objects_.emplace_back();
        ++depth_;
        ComPtr<I> object = make();
        --depth_;
        CHECK_HR(object.As(&objects_[number]));
        return object;
    }

    ComPtr<IField> Field() {
        return Object<IField>([&] {
            ComPtr<CField> field = CField::Make();
            field->SetName(Text().value_or(std::wstring()));
            secure::WipedVariant value;
            Value(value);
            field->TakeValue(value);
            field->SetAttributes(Fields().Get());
            return ComPtr<IField>(field);
        });
    }
    // A collection of `C` whose members `member` reads, none of them null, then its attributes.
    template <class C, class I, class Member>
    ComPtr<I> Collection(Member&& member) {
        return Object<I>([&] {
            ComPtr<C> collection = C::Make();
            for (uint32_t i = Count(); i > 0; --i) {
                auto item = member();
                if (!item) Bad(L"a collection holds nothing.");
                collection->Items().Append(item.Get());
            }
            collection->SetAttributes(Fields().Get());
            return ComPtr<I>(collection);
        });
    }
    ComPtr<IFieldCollection> Fields() {
        return Collection<CFieldCollection, IFieldCollection>([&] { return Field(); });
    }
    ComPtr<IStructureCollection> Structures() {
        return Collection<CStructureCollection, IStructureCollection>([&] {
            return Object<IStructure>([&] {
                ComPtr<CStructure> one = CStructure::Make();
                one->SetName(Text().value_or(std::wstring()));
                one->SetFields(Fields().Get());
                one->SetAttributes(Fields().Get());
                return ComPtr<IStructure>(one);
            });
        });
    }
    ComPtr<ITableCollection> Tables() {
        return Collection<CTableCollection, ITableCollection>([&] {
            return Object<ITable>([&] {
                ComPtr<CTable> one = CTable::Make();
                one->SetName(Text().value_or(std::wstring()));
                one->SetRows(Collection<CFieldCollectionTable, IFieldCollectionTable>([&] { return Fields(); }).Get());
                one->SetAttributes(Fields().Get());
                return ComPtr<ITable>(one);
            });
        });
    }

    const uint8_t* p_;
    const uint8_t* end_;
    std::vector<ComPtr<IUnknown>> objects_;
    int depth_ = 0;
};

}  // namespace

SnapshotBytes TakeSnapshot(CParameterList& list) {
    Writer writer;
    writer.List(list);
    return std::move(writer.bytes);
}

void ReadSnapshot(CParameterList& list, const uint8_t* data, size_t size) {
    Reader reader(data, size);
    reader.List(list);
}

}  // namespace qarn::dt
