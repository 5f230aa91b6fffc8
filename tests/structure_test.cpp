// Structure information, modification states, removal of empty fields and the collaboration
// store, through real activation, on a small assembly: a bolt with collaboration data, a nut
// without, and a sub-assembly with a component of its own.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "UtilitiesSupport.h"

using namespace test;
using Docs = std::vector<ComPtr<IQarnDocument>>;

namespace {

// "name=value;name=value" as a field collection.
ComPtr<IFieldCollection> Fields(const std::wstring& pairs) {
    auto fields = test::Create<IFieldCollection>(CLSID_FieldCollection);
    for (size_t at = 0, end; at < pairs.size(); at = end + 1) {
        end = std::min(pairs.find(L';', at), pairs.size());
        const size_t eq = pairs.find(L'=', at);
        fields->SetValue(Str(pairs.substr(at, eq - at)), Variant(std::wstring_view(pairs).substr(eq + 1, end - eq - 1)));
    }
    return fields;
}

// The entries of a field collection as "name=value;name=value".
std::wstring Text(IFieldCollection* fields) { return Joined(Entries(fields), L";"); }

ComPtr<IParameterList> ListOf(IQarnDocument* doc) {
    ComPtr<IParameterList> list;
    doc->get_ParameterList(&list);
    return list;
}

// A model with its fields, collaboration data (null: none) and children (null: no collection).
ComPtr<IQarnDocument> Doc(const std::wstring& fields, const wchar_t* collaboration = nullptr, const Docs* children = nullptr) {
    auto doc = test::Create<IQarnDocument>(CLSID_QarnDocument);
    auto list = test::Create<IParameterList>(CLSID_ParameterList);
    list->put_FieldCollection(Fields(fields).Get());
    if (collaboration) AddStructure(list.Get(), L"QarnCollaboration", Fields(collaboration));
    doc->put_ParameterList(list.Get());
    if (children) {
        auto collection = test::Create<IQarnDocumentCollection>(CLSID_QarnDocumentCollection);
        for (auto& child : *children) collection->Add(child.Get());
        doc->put_Children(collection.Get());
    }
    return doc;
}

std::wstring FieldText(IParameterList* list) { return Joined(FieldsOf(list), L";"); }

// The rows of a table as "name=value;name=value" each.
Texts RowsOf(IParameterList* list, const wchar_t* name) { return Rows(list, name, L";"); }


class Structure : public ::testing::Test {
protected:
    // The parameter list a written file holds.
    ComPtr<IParameterList> ReadList(const std::wstring& file) {
        ComPtr<IParameterList> list;
        EXPECT_EQ(S_OK, u->GetXmlParameterList3(Str(file), Str(L"Parameter"), nullptr, &list)) << TakeMessage();
        return list;
    }

    ComPtr<IQarnUtilities> u = test::Create<IQarnUtilities>(CLSID_CQarnUtilities);
    ScratchFolder dir{L"structure"};
};

TEST_F(Structure, StructureInformationFiles) {
    const Docs washer{Doc(L"ModelFullName=washer.prt")}, none{};
    const Docs parts{Doc(L"ModelFullName=bolt.prt;Quantity=4", L"ModelStamp=S1;Revision=A"), Doc(L"ModelFullName=nut.prt"),
                     Doc(L"ModelFullName=sub.asm", L"ModelStamp=S3", &washer)};
    auto assembly = [&](const std::wstring& file) {
        auto top = Doc(L"ModelFullName=top.asm;ModelLocalStructureFile=" + file, nullptr, &parts);
        AddStructure(ListOf(top.Get()).Get(), L"ModelConfigurationNames", Fields(L"Default=1"));
        return top;
    };
    using Method = HRESULT (STDMETHODCALLTYPE IQarnUtilities::*)(IQarnDocument*);
    for (Method method : {&IQarnUtilities::CreateStructureInformation, &IQarnUtilities::CreateStructureInformation2}) {
        const std::wstring file = dir / L"top.xml", single = dir / L"single.xml";
        ASSERT_EQ(S_OK, (u.Get()->*method)(assembly(file).Get())) << TakeMessage();
        auto info = ReadList(file);
        EXPECT_EQ(L"ModelFullName=top.asm;ModelLocalStructureFile=" + file, FieldText(info.Get()));
        EXPECT_EQ((Texts{L"ModelStamp=S1;Revision=A;ModelFullName=bolt.prt;Quantity=4", L"ModelFullName=nut.prt",
                         L"ModelStamp=S3;ModelFullName=sub.asm"}),
                  RowsOf(info.Get(), L"Children"));
        ComPtr<IField> configuration;
        info->GetStructureField(Str(L"Default"), Str(L"ModelConfigurationNames"), &configuration);
        EXPECT_TRUE(configuration);

        ASSERT_EQ(S_OK, (u.Get()->*method)(Doc(L"ModelLocalStructureFile=" + single).Get()));
        EXPECT_EQ(Texts{}, RowsOf(ReadList(single).Get(), L"Children"));
        DeleteFileW(file.c_str());
        EXPECT_EQ(S_OK, (u.Get()->*method)(Doc(L"ModelFullName=" + file, nullptr, &none).Get()));
        EXPECT_FALSE(Exists(file)) << "without a structure file name nothing is written";
        EXPECT_EQ(L"Error creating file " + dir / L"no\\top.xml.", Failure((u.Get()->*method)(assembly(dir / L"no\\top.xml").Get())));
    }
}

TEST_F(Structure, StructureFileBesideTheModelAndAModelThatContainsItself) {
    const std::wstring model = dir / L"A.asm";
    const Docs parts{Doc(L"ModelFullName=bolt.prt;Revision=B", L"Revision=C;ModelStamp=S1"),
                     test::Create<IQarnDocument>(CLSID_QarnDocument), Doc(L"ModelFullName=nut.prt")};
    auto top = Doc(L"ModelFullName=" + model, nullptr, &parts);
    const Texts rows{L"ModelFullName=bolt.prt;Revision=C;ModelStamp=S1", L"ModelFullName=nut.prt"};
    for (int call = 1; call <= 2; ++call) {
        ASSERT_EQ(S_OK, u->CreateStructureInformation3(top.Get())) << TakeMessage();
        EXPECT_EQ(L"ModelFullName=" + model + L";ModelStructureFile=" + model + L".STR", FieldText(ListOf(top.Get()).Get()));
        EXPECT_EQ(rows, RowsOf(ListOf(top.Get()).Get(), L"Children")) << "call " << call;
        EXPECT_EQ(rows, RowsOf(ReadList(model + L".STR").Get(), L"Children"));
    }
    EXPECT_EQ(L"Error creating file " + dir / L"no\\B.asm.STR.",
              Failure(u->CreateStructureInformation3(Doc(L"ModelFullName=" + dir / L"no\\B.asm").Get())));

    // Only direct children are read: a model among its own children is one row like any other.
    const Docs empty{};
    auto loop = Doc(L"ModelFullName=" + model, L"ModelStamp=S", &empty);
    ComPtr<IQarnDocumentCollection> children;
    loop->get_Children(&children);
    children->Add(loop.Get());
    EXPECT_EQ(S_OK, u->CreateStructureInformation3(loop.Get())) << TakeMessage();
    EXPECT_EQ(Texts{L"ModelFullName=" + model + L";ModelStructureFile=" + model + L".STR;ModelStamp=S"},
              RowsOf(ReadList(model + L".STR").Get(), L"Children"));
    loop->put_Children(nullptr);
}

TEST_F(Structure, ModificationStates) {
    const struct {
        const wchar_t *stamp, *collaboration;
        VARIANT_BOOL modified;
    } cases[] = {
        {L"S1", L"ModelStamp=S1", VARIANT_FALSE},
        {L"S1", L"ModelStamp=S1;ModelTraverseFlag=", VARIANT_FALSE},
        {L"S1", L"ModelStamp=S1;ModelTraverseFlag=0", VARIANT_FALSE},
        {L"S1", L"ModelStamp=S1;ModelTraverseFlag=1 ", VARIANT_FALSE},
        {L"S1", L"ModelStamp=S1;ModelTraverseFlag=1", VARIANT_TRUE},
        {L"S1", L"ModelStamp=s1", VARIANT_TRUE},
        {L"S1", L"Revision=A", VARIANT_TRUE},
        {L"S1", nullptr, VARIANT_TRUE},
        {L"", L"ModelStamp=", VARIANT_TRUE},  // no ModelStamp field of the model
    };
    for (const auto& c : cases) {
        auto doc = Doc(*c.stamp ? std::wstring(L"ModelStamp=") + c.stamp : L"", c.collaboration);
        VARIANT_BOOL modified = !c.modified;
        ASSERT_EQ(S_OK, u->CheckModificationState(doc.Get(), &modified)) << TakeMessage();
        EXPECT_EQ(c.modified, modified) << c.stamp << L" / " << (c.collaboration ? c.collaboration : L"(none)");
    }
    VARIANT_BOOL modified = VARIANT_FALSE;
    EXPECT_EQ(S_OK, u->CheckModificationState(nullptr, &modified));
    EXPECT_EQ(VARIANT_TRUE, modified);
}

TEST_F(Structure, RemoveEmptyFields) {
    auto list = ListOf(Doc(L"A=;B=x;C=;D=;E=0", L"P=").Get());
    AddTable(list.Get(), L"Rows", {Fields(L"R=;S=s;T="), Fields(L"U=")});
    ASSERT_EQ(S_OK, u->RemoveEmptyFields(list.Get())) << TakeMessage();
    EXPECT_EQ(L"B=x;E=0", FieldText(list.Get()));
    EXPECT_EQ((Texts{L"S=s", L""}), RowsOf(list.Get(), L"Rows"));
    ComPtr<IField> removed;
    list->GetStructureField(Str(L"P"), Str(L"QarnCollaboration"), &removed);
    EXPECT_FALSE(removed);
}

class Collaboration : public Structure {
protected:
    std::wstring Stored(const std::wstring& model) {
        ComPtr<IFieldCollection> result;
        EXPECT_EQ(S_OK, c->Get2(Str(model), &result)) << TakeMessage();
        return result ? Text(result.Get()) : L"(nothing)";
    }
    ComPtr<IQarnSimpleCollaboration> c = test::Create<IQarnSimpleCollaboration>(CLSID_CQarnSimpleCollaboration);
};

TEST_F(Collaboration, AddGetAndUpdate) {
    const std::wstring model = dir / L"m.prt", other = dir / L"other.prt", stored = L"ModelFullName=" + model + L";Status=Draft";
    ASSERT_EQ(S_OK, c->Add(Fields(stored + L";Note=50% done").Get())) << TakeMessage();
    EXPECT_EQ(0u, ScratchFolder::Read(model + L".CLB")
                      .rfind("\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?><Parameter><FieldCollection><Field>", 0));
    ComPtr<IFieldCollection> result;
    ASSERT_EQ(S_OK, c->Get(Fields(L"ModelFullName=" + model).Get(), &result)) << TakeMessage();
    EXPECT_EQ(stored + L";Note=50% done", Text(result.Get()));
    // The new fields follow the stored ones: a look-up by name finds the newest value.
    ASSERT_EQ(S_OK, c->Update(Fields(L"ModelFullName=" + model + L";Status=Released").Get())) << TakeMessage();
    EXPECT_EQ(stored + L";Note=50% done;ModelFullName=" + model + L";Status=Released", Stored(model));

    EXPECT_EQ(L"(nothing)", Stored(other));
    ASSERT_EQ(S_OK, c->Update(Fields(L"ModelFullName=" + other + L";Status=New").Get()));
    EXPECT_EQ(L"ModelFullName=" + other + L";Status=New", Stored(other));
    ASSERT_EQ(S_OK, c->Add2(Str(dir / L"third.prt"), Fields(L"Status=Given").Get()));
    EXPECT_EQ(L"Status=Given", Stored(dir / L"third.prt"));
    EXPECT_EQ(S_OK, c->Add2(nullptr, Fields(L"Status=x").Get()));
    EXPECT_EQ(S_OK, c->Add(Fields(L"Status=x").Get()));
    EXPECT_FALSE(Exists(L".CLB") || Exists(L"x.CLB"));
}

TEST_F(Collaboration, FailuresKeepTheStore) {
    EXPECT_EQ(L"Error creating file " + dir / L"no\\m.prt.CLB.", Failure(c->Add(Fields(L"ModelFullName=" + dir / L"no\\m.prt").Get())));

    // A store file that does not parse fails Get and Update with the parser's message.
    const std::wstring broken = dir.Write(L"broken.prt.CLB", "<Parameter><FieldCollection>");
    ComPtr<IDispatch> parsed;
    ComPtr<IFieldCollection> result;
    const std::wstring parseError = Failure(u->DOMParse(Variant(std::wstring_view(broken)), &parsed));
    EXPECT_EQ(parseError, Failure(c->Get2(Str(dir / L"broken.prt"), &result)));
    EXPECT_EQ(parseError, Failure(c->Update(Fields(L"ModelFullName=" + dir / L"broken.prt").Get())));

    // An update whose file cannot be replaced keeps the stored fields and no temporary file.
    const std::wstring model = dir / L"kept.prt";
    ASSERT_EQ(S_OK, c->Add(Fields(L"ModelFullName=" + model + L";Status=Draft").Get()));
    HANDLE held = CreateFileW((model + L".CLB").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(L"Error creating file " + model + L".CLB.", Failure(c->Update(Fields(L"ModelFullName=" + model + L";Status=X").Get())));
    CloseHandle(held);
    EXPECT_EQ(L"ModelFullName=" + model + L";Status=Draft", Stored(model));
    WIN32_FIND_DATAW entry;
    EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstFileW((dir / L"*.tmp").c_str(), &entry));
}

}  // namespace
