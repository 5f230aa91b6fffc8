// ParameterList.Clone: a deep copy.
//
// Every field, collection, structure, table and row is copied, and so is every attribute
// collection, to any depth; a field's value is copied as a value (an object value keeps referring
// to the same object). An object met twice (a field added to two collections, a collection shared
// as attributes) is copied once and the copy is shared the same way. Attribute collections can
// nest without end and even contain themselves, so the copy refuses a cycle and nesting deeper
// than kMaxDepth objects with a message instead of running out of stack.
#include <unordered_map>

#include "Datatypes.h"

namespace qarn::dt {

namespace {

constexpr int kMaxDepth = 256;

class Cloner {
public:
    ComPtr<IParameterList> List(CParameterList& source) {
        ComPtr<CParameterList> copy = CParameterList::Make();
        ComPtr<IFieldCollection> fields = Fields(source.Fields());
        ComPtr<IStructureCollection> structures = Structures(source.Structures());
        ComPtr<ITableCollection> tables = Tables(source.Tables());
        copy->Adopt(fields.Get(), structures.Get(), tables.Get());
        copy->SetAttributes(Fields(source.Attributes()).Get());
        return copy;
    }

private:
    // Copies `source` once: `build` makes the copy, a second meeting gives the same copy.
    template <class I, class Build>
    ComPtr<I> Copy(I* source, Build&& build) {
        if (!source) return nullptr;
        ComPtr<IUnknown> identity;
        CHECK_HR(source->QueryInterface(IID_PPV_ARGS(&identity)));
        auto it = copies_.find(identity.Get());
        if (it != copies_.end()) {
            if (!it->second.copy)
                THROW_MESSAGE(
                    L"The parameter list cannot be copied: an object contains itself through its attributes.");
            ComPtr<I> same;
            CHECK_HR(it->second.copy.As(&same));
            return same;
        }
        if (depth_ >= kMaxDepth)
            THROW_MESSAGE(Format(
                L"The parameter list cannot be copied: its objects are nested more than %d levels deep.", kMaxDepth));
        copies_.emplace(identity.Get(), Copied{identity, nullptr});
        struct Level {
            int& depth;
            explicit Level(int& d) : depth(d) { ++depth; }
            ~Level() { --depth; }
        } level(depth_);
        ComPtr<I> copy = build(source);
        CHECK_HR(copy.As(&copies_[identity.Get()].copy));
        return copy;
    }

    template <class I>
    ComPtr<IFieldCollection> AttributesOf(I* source) {
        ComPtr<IFieldCollection> attributes;
        CHECK_HR(source->get_Attributes(&attributes));
        return Fields(attributes.Get());
    }

    ComPtr<IField> Field(IField* source) {
        return Copy(source, [&](IField* s) {
            ComPtr<CField> copy = CField::Make();
            Bstr name;
            CHECK_HR(s->get_Name(name.Out()));
            copy->SetName(std::wstring(name.View()));
            secure::WipedVariant value;  // the value may be clear text
            CHECK_HR(s->get_Value(&value));
            copy->SetValue(value);
            copy->SetAttributes(AttributesOf(s).Get());
            return ComPtr<IField>(copy);
        });
    }

    ComPtr<IFieldCollection> Fields(IFieldCollection* source) {
        return Copy(source, [&](IFieldCollection* s) {
            ComPtr<CFieldCollection> copy = CFieldCollection::Make();
            for (const ComPtr<IField>& field : MembersOf<IField>(s)) copy->Items().Append(Field(field.Get()).Get());
            copy->SetAttributes(AttributesOf(s).Get());
            return ComPtr<IFieldCollection>(copy);
        });
    }

    ComPtr<IStructure> Structure(IStructure* source) {
        return Copy(source, [&](IStructure* s) {
            ComPtr<CStructure> copy = CStructure::Make();
            Bstr name;
            CHECK_HR(s->get_Name(name.Out()));
            copy->SetName(std::wstring(name.View()));
            ComPtr<IFieldCollection> fields;
            CHECK_HR(s->get_FieldCollection(&fields));
            copy->SetFields(Fields(fields.Get()).Get());
            copy->SetAttributes(AttributesOf(s).Get());
            return ComPtr<IStructure>(copy);
        });
    }

    ComPtr<IStructureCollection> Structures(IStructureCollection* source) {
        return Copy(source, [&](IStructureCollection* s) {
            ComPtr<CStructureCollection> copy = CStructureCollection::Make();
            for (const ComPtr<IStructure>& structure : MembersOf<IStructure>(s))
                copy->Items().Append(Structure(structure.Get()).Get());
            copy->SetAttributes(AttributesOf(s).Get());
            return ComPtr<IStructureCollection>(copy);
        });
    }

    ComPtr<IFieldCollectionTable> Rows(IFieldCollectionTable* source) {
        return Copy(source, [&](IFieldCollectionTable* s) {
            ComPtr<CFieldCollectionTable> copy = CFieldCollectionTable::Make();
            for (const ComPtr<IFieldCollection>& row : MembersOf<IFieldCollection>(s))
                copy->Items().Append(Fields(row.Get()).Get());
            copy->SetAttributes(AttributesOf(s).Get());
            return ComPtr<IFieldCollectionTable>(copy);
        });
    }

    ComPtr<ITable> Table(ITable* source) {
        return Copy(source, [&](ITable* s) {
            ComPtr<CTable> copy = CTable::Make();
            Bstr name;
            CHECK_HR(s->get_Name(name.Out()));
            copy->SetName(std::wstring(name.View()));
            ComPtr<IFieldCollectionTable> rows;
            CHECK_HR(s->get_FieldCollectionTable(&rows));
            copy->SetRows(Rows(rows.Get()).Get());
            copy->SetAttributes(AttributesOf(s).Get());
            return ComPtr<ITable>(copy);
        });
    }

    ComPtr<ITableCollection> Tables(ITableCollection* source) {
        return Copy(source, [&](ITableCollection* s) {
            ComPtr<CTableCollection> copy = CTableCollection::Make();
            for (const ComPtr<ITable>& table : MembersOf<ITable>(s)) copy->Items().Append(Table(table.Get()).Get());
            copy->SetAttributes(AttributesOf(s).Get());
            return ComPtr<ITableCollection>(copy);
        });
    }

    struct Copied {
        ComPtr<IUnknown> original;  // keeps the identity alive while the copy runs
        ComPtr<IUnknown> copy;      // null while the original is being copied
    };
    std::unordered_map<IUnknown*, Copied> copies_;
    int depth_ = 0;
};

}  // namespace

ComPtr<IParameterList> CloneParameterList(CParameterList& list) {
    Cloner cloner;
    return cloner.List(list);
}

}  // namespace qarn::dt
