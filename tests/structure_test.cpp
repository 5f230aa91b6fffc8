// Structure information files, modification states, removal of empty fields and the simple
// collaboration store, through real activation. The model is a small assembly: a bolt with
// collaboration data, a nut without, and a sub-assembly that has a component of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "TestSupport.h"
#include "UtilitiesSupport.h"

using namespace test;
using Texts = std::vector<std::wstring>;
using Pairs = std::vector<std::pair<const wchar_t*, const wchar_t*>>;

namespace {

ComPtr<IFieldCollection> Fields(const Pairs& pairs) {
    auto fields = test::Create<IFieldCollection>(CLSID_FieldCollection);
    for (const auto& [name, value] : pairs) fields->SetValue(Str(name), Variant(std::wstring_view(value)));
    return fields;
}

void AddStructure(IParameterList* list, const wchar_t* name, const Pairs& pairs) {
    auto structure = test::Create<IStructure>(CLSID_Structure);
    structure->put_Name(Str(name));
    structure->put_FieldCollection(Fields(pairs).Get());
    ComPtr<IStructureCollection> structures;
    list->get_StructureCollection(&structures);
    structures->Add(structure.Get());
}

// A document whose list holds `fields` and, when given, the collaboration structure.
ComPtr<IQarnDocument> Doc(const Pairs& fields, std::optional<Pairs> collaboration = std::nullopt,
                          std::vector<ComPtr<IQarnDocument>> children = {}, bool withChildren = false) {
    auto doc = test::Create<IQarnDocument>(CLSID_QarnDocument);
    auto list = test::Create<IParameterList>(CLSID_ParameterList);
    list->put_FieldCollection(Fields(fields).Get());
    if (collaboration) AddStructure(list.Get(), L"QarnCollaboration", *collaboration);
    doc->put_ParameterList(list.Get());
    if (withChildren || !children.empty()) {
        auto collection = test::Create<IQarnDocumentCollection>(CLSID_QarnDocumentCollection);
        for (auto& child : children) collection->Add(child.Get());
        doc->put_Children(collection.Get());
    }
    return doc;
}

ComPtr<IParameterList> ListOf(IQarnDocument* doc) {
    ComPtr<IParameterList> list;
    doc->get_ParameterList(&list);
    return list;
}

Texts FieldsOf(IParameterList* list) {
    ComPtr<IFieldCollection> fields;
    if (list) list->get_FieldCollection(&fields);
    return Entries(fields.Get());
}

// Rows of a table, each "name=value" entries joined by ", "; nullopt when the table is missing.
std::optional<Texts> Rows(IParameterList* list, const wchar_t* name) {
    ComPtr<ITable> table;
    ComPtr<IFieldCollectionTable> all;
    if (!list || FAILED(list->GetTable(Str(name), &table)) || !table) return std::nullopt;
    table->get_FieldCollectionTable(&all);
    Texts rows;
    long count = 0;
    all->get_Count(&count);
    for (long i = 1; i <= count; ++i) {
        ComPtr<IFieldCollection> row;
        all->get_Item(i, &row);
        std::wstring text;
        for (const std::wstring& entry : Entries(row.Get())) text += (text.empty() ? L"" : L", ") + entry;
        rows.push_back(text);
    }
    return rows;
}

std::wstring FromUtf8(const std::string& bytes) {
    std::wstring out(bytes.size(), L'\0');
    out.resize(MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(),
                                   static_cast<int>(out.size())));
    return out;
}

// Names in a folder ("." and ".." left out).
Texts Listing(const std::wstring& folder) {
    Texts names;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        if (std::wstring(entry.cFileName) != L"." && std::wstring(entry.cFileName) != L"..") names.push_back(entry.cFileName);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

class Structure : public ::testing::Test {
protected:
    // A parameter list read back from a file this system wrote.
    ComPtr<IParameterList> ReadList(const std::wstring& file) {
        std::wstring xml = FromUtf8(ScratchFolder::Read(file));
        const size_t start = xml.find(L"<Parameter");
        EXPECT_NE(std::wstring::npos, start) << file;
        ComPtr<IParameterList> list;
        EXPECT_EQ(S_OK, u->GetXmlParameterListFromXMLString3(Str(xml.substr(start == std::wstring::npos ? 0 : start)),
                                                             Str(L"Parameter"), nullptr, &list))
            << TakeMessage();
        return list;
    }

    // The assembly: bolt (with collaboration data), nut (without) and a sub-assembly with a washer.
    ComPtr<IQarnDocument> Assembly(const std::wstring& structureFile) {
        auto bolt = Doc({{L"ModelFullName", L"C:\\M\\bolt.prt"}, {L"Quantity", L"4"}},
                        Pairs{{L"ModelStamp", L"S1"}, {L"Revision", L"A"}});
        auto nut = Doc({{L"ModelFullName", L"C:\\M\\nut.prt"}});
        auto washer = Doc({{L"ModelFullName", L"C:\\M\\washer.prt"}});
        auto sub = Doc({{L"ModelFullName", L"C:\\M\\sub.asm"}}, Pairs{{L"ModelStamp", L"S3"}}, {washer});
        auto top = Doc({{L"ModelFullName", L"C:\\M\\top.asm"}, {L"ModelLocalStructureFile", structureFile.c_str()}},
                       std::nullopt, {bolt, nut, sub});
        AddStructure(ListOf(top.Get()).Get(), L"ModelConfigurationNames", {{L"Default", L"1"}, {L"Light", L"2"}});
        return top;
    }

    ComPtr<IQarnUtilities> u = test::Create<IQarnUtilities>(CLSID_CQarnUtilities);
    ScratchFolder dir{L"structure"};
};

const Texts kAssemblyRows{L"ModelStamp=S1, Revision=A, ModelFullName=C:\\M\\bolt.prt, Quantity=4",
                          L"ModelFullName=C:\\M\\nut.prt", L"ModelStamp=S3, ModelFullName=C:\\M\\sub.asm"};

TEST_F(Structure, StructureInformationFiles) {
    using Method = HRESULT (STDMETHODCALLTYPE IQarnUtilities::*)(IQarnDocument*);
    for (Method method : {&IQarnUtilities::CreateStructureInformation, &IQarnUtilities::CreateStructureInformation2}) {
        const std::wstring file = dir / L"top.xml";
        DeleteFileW(file.c_str());
        auto top = Assembly(file);
        ASSERT_EQ(S_OK, (u.Get()->*method)(top.Get())) << TakeMessage();
        auto info = ReadList(file);
        EXPECT_EQ((Texts{L"ModelFullName=C:\\M\\top.asm", L"ModelLocalStructureFile=" + file}), FieldsOf(info.Get()));
        EXPECT_EQ(kAssemblyRows, Rows(info.Get(), L"Children"));
        ComPtr<IField> light;
        info->GetStructureField(Str(L"Light"), Str(L"ModelConfigurationNames"), &light);
        EXPECT_TRUE(light) << "the configuration names are copied";
        EXPECT_EQ((Texts{L"ModelFullName=C:\\M\\top.asm", L"ModelLocalStructureFile=" + file}),
                  FieldsOf(ListOf(top.Get()).Get()))
            << "the model itself is left as it was";

        // Without children: no table; without a file name: no file; without a document: nothing.
        const std::wstring single = dir / L"single.xml";
        ASSERT_EQ(S_OK, (u.Get()->*method)(Doc({{L"ModelLocalStructureFile", single.c_str()}}).Get()));
        EXPECT_FALSE(Rows(ReadList(single).Get(), L"Children").has_value());
        DeleteFileW(single.c_str());
        DeleteFileW(file.c_str());
        EXPECT_EQ(S_OK, (u.Get()->*method)(Doc({{L"ModelFullName", L"x"}}, std::nullopt, {}, true).Get()));
        EXPECT_EQ(S_OK, (u.Get()->*method)(nullptr));
        EXPECT_EQ(Texts{}, Listing(dir.path()));

        const std::wstring nowhere = dir / L"no-folder\\top.xml";
        EXPECT_EQ(DISP_E_EXCEPTION, (u.Get()->*method)(Assembly(nowhere).Get()));
        EXPECT_EQ(L"Error creating file " + nowhere + L".", TakeMessage());
    }
}

TEST_F(Structure, StructureFileBesideTheModel) {
    const std::wstring model = dir / L"A.asm";
    auto bolt = Doc({{L"ModelFullName", L"bolt.prt"}, {L"Revision", L"B"}, {L"Quantity", L"4"}},
                    Pairs{{L"Revision", L"C"}, {L"ModelStamp", L"S1"}});
    auto noList = test::Create<IQarnDocument>(CLSID_QarnDocument);
    auto top = Doc({{L"ModelFullName", model.c_str()}}, std::nullopt, {bolt, noList, Doc({{L"ModelFullName", L"nut.prt"}})});
    const Texts rows{L"ModelFullName=bolt.prt, Revision=C, Quantity=4, ModelStamp=S1", L"ModelFullName=nut.prt"};

    for (int call = 1; call <= 2; ++call) {
        ASSERT_EQ(S_OK, u->CreateStructureInformation3(top.Get())) << TakeMessage();
        auto list = ListOf(top.Get());
        ComPtr<IField> structureFile;
        list->GetField(Str(L"ModelStructureFile"), &structureFile);
        ASSERT_TRUE(structureFile);
        Str value;
        structureFile->get_StringValue(value.Out());
        EXPECT_EQ(model + L".STR", value.View());
        EXPECT_EQ(rows, Rows(list.Get(), L"Children")) << "call " << call << " builds the rows anew";
        EXPECT_EQ(rows, Rows(ReadList(model + L".STR").Get(), L"Children"));
    }
    EXPECT_EQ(S_OK, u->CreateStructureInformation3(nullptr));
    EXPECT_EQ(S_OK, u->CreateStructureInformation3(test::Create<IQarnDocument>(CLSID_QarnDocument).Get()));

    const std::wstring nowhere = dir / L"no-folder\\B.asm";
    EXPECT_EQ(DISP_E_EXCEPTION, u->CreateStructureInformation3(Doc({{L"ModelFullName", nowhere.c_str()}}).Get()));
    EXPECT_EQ(L"Error creating file " + nowhere + L".STR.", TakeMessage());
}

TEST_F(Structure, ModificationStates) {
    struct Case {
        const wchar_t* stamp;            // the model's ModelStamp, null: none
        std::optional<Pairs> collaboration;
        bool modified;
    };
    const Case cases[] = {
        {L"S1", Pairs{{L"ModelStamp", L"S1"}}, false},
        {L"S1", Pairs{{L"ModelStamp", L"S1"}, {L"ModelTraverseFlag", L""}}, false},
        {L"S1", Pairs{{L"ModelStamp", L"S1"}, {L"ModelTraverseFlag", L"0"}}, false},
        {L"S1", Pairs{{L"ModelStamp", L"S1"}, {L"ModelTraverseFlag", L"1"}}, true},
        {L"S1", Pairs{{L"ModelStamp", L"S1"}, {L"ModelTraverseFlag", L"1 "}}, false},
        {L"S1", Pairs{{L"ModelStamp", L"s1"}}, true},
        {L"S1", Pairs{{L"ModelStamp", L"S2"}}, true},
        {L"S1", Pairs{{L"Revision", L"A"}}, true},
        {L"S1", std::nullopt, true},
        {nullptr, Pairs{{L"ModelStamp", L"S1"}}, true},
    };
    for (const Case& c : cases) {
        auto doc = c.stamp ? Doc({{L"ModelStamp", c.stamp}}, c.collaboration) : Doc({}, c.collaboration);
        VARIANT_BOOL modified = c.modified ? VARIANT_FALSE : VARIANT_TRUE;
        ASSERT_EQ(S_OK, u->CheckModificationState(doc.Get(), &modified)) << TakeMessage();
        EXPECT_EQ(c.modified ? VARIANT_TRUE : VARIANT_FALSE, modified) << (c.stamp ? c.stamp : L"(no stamp)");
    }
    for (auto doc : {ComPtr<IQarnDocument>(), test::Create<IQarnDocument>(CLSID_QarnDocument)}) {
        VARIANT_BOOL modified = VARIANT_FALSE;
        EXPECT_EQ(S_OK, u->CheckModificationState(doc.Get(), &modified));
        EXPECT_EQ(VARIANT_TRUE, modified);
    }
    EXPECT_EQ(DISP_E_EXCEPTION, u->CheckModificationState(nullptr, nullptr));
    EXPECT_EQ(L"Unknown Error, code 0x80004003 (-2147467261)", TakeMessage());
}

TEST_F(Structure, RemoveEmptyFields) {
    auto list = test::Create<IParameterList>(CLSID_ParameterList);
    list->put_FieldCollection(Fields({{L"A", L""}, {L"B", L"x"}, {L"C", L""}, {L"D", L""}, {L"E", L"0"}}).Get());
    AddStructure(list.Get(), L"Empty", {{L"P", L""}, {L"Q", L""}});
    auto table = test::Create<ITable>(CLSID_Table);
    table->put_Name(Str(L"Rows"));
    ComPtr<IFieldCollectionTable> rows;
    table->get_FieldCollectionTable(&rows);
    rows->Add(Fields({{L"R", L""}, {L"S", L"s"}}).Get());
    rows->Add(Fields({{L"T", L""}}).Get());
    ComPtr<ITableCollection> tables;
    list->get_TableCollection(&tables);
    tables->Add(table.Get());

    ASSERT_EQ(S_OK, u->RemoveEmptyFields(list.Get())) << TakeMessage();
    EXPECT_EQ((Texts{L"B=x", L"E=0"}), FieldsOf(list.Get()));
    EXPECT_EQ((Texts{L"S=s", L""}), Rows(list.Get(), L"Rows"));
    ComPtr<IStructure> empty;
    list->GetStructure(Str(L"Empty"), &empty);
    ComPtr<IFieldCollection> emptyFields;
    empty->get_FieldCollection(&emptyFields);
    EXPECT_EQ(Texts{}, Entries(emptyFields.Get()));
    EXPECT_EQ(S_OK, u->RemoveEmptyFields(nullptr));
}

// A model that is its own component is read one level deep like any other.
TEST_F(Structure, HostileTrees) {
    const std::wstring model = dir / L"loop.asm";
    const std::wstring infoFile = model + L".xml";
    auto loop = Doc({{L"ModelFullName", model.c_str()}, {L"ModelLocalStructureFile", infoFile.c_str()}, {L"ModelStamp", L"S"}},
                    Pairs{{L"ModelStamp", L"S"}}, {}, true);
    ComPtr<IQarnDocumentCollection> children;
    loop->get_Children(&children);
    children->Add(loop.Get());
    EXPECT_EQ(S_OK, u->CreateStructureInformation(loop.Get())) << TakeMessage();
    EXPECT_EQ(S_OK, u->CreateStructureInformation3(loop.Get())) << TakeMessage();
    EXPECT_EQ(1u, Rows(ListOf(loop.Get()).Get(), L"Children")->size());
    VARIANT_BOOL modified;
    EXPECT_EQ(S_OK, u->CheckModificationState(loop.Get(), &modified));
    EXPECT_EQ(VARIANT_FALSE, modified);
    EXPECT_EQ(Texts{L"ModelStamp=S, ModelFullName=" + model + L", ModelLocalStructureFile=" + infoFile + L", ModelStamp=S"},
              Rows(ReadList(infoFile).Get(), L"Children"));
    loop->put_Children(nullptr);  // breaks the reference cycle
}

class Collaboration : public Structure {
protected:
    Texts Stored(const std::wstring& model) {
        ComPtr<IFieldCollection> result;
        EXPECT_EQ(S_OK, c->Get2(Str(model), &result)) << TakeMessage();
        return Entries(result.Get());
    }
    ComPtr<IQarnSimpleCollaboration> c = test::Create<IQarnSimpleCollaboration>(CLSID_CQarnSimpleCollaboration);
};

TEST_F(Collaboration, AddGetAndUpdate) {
    const std::wstring model = dir / L"m.prt";
    auto input = Fields({{L"ModelFullName", model.c_str()}, {L"Status", L"Draft"}, {L"Note", L"50% done"}});
    const Texts stored{L"ModelFullName=" + model, L"Status=Draft", L"Note=50% done"};
    ASSERT_EQ(S_OK, c->Add(input.Get())) << TakeMessage();
    EXPECT_EQ(Texts{L"m.prt.CLB"}, Listing(dir.path()));
    const std::string content = ScratchFolder::Read(model + L".CLB");
    EXPECT_EQ(0u, content.rfind("\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?><Parameter><FieldCollection>", 0))
        << content;

    ComPtr<IFieldCollection> result;
    ASSERT_EQ(S_OK, c->Get(Fields({{L"ModelFullName", model.c_str()}}).Get(), &result)) << TakeMessage();
    EXPECT_EQ(stored, Entries(result.Get()));
    EXPECT_EQ(stored, Stored(model));

    // Update adds the new fields after the stored ones; a lookup by name finds the newest value.
    ASSERT_EQ(S_OK, c->Update(Fields({{L"ModelFullName", model.c_str()}, {L"Status", L"Released"}}).Get()))
        << TakeMessage();
    Texts updated = stored;
    updated.insert(updated.end(), {L"ModelFullName=" + model, L"Status=Released"});
    EXPECT_EQ(updated, Stored(model));
    ComPtr<IFieldCollection> reread;
    c->Get2(Str(model), &reread);
    Str status;
    reread->GetValue(Str(L"Status"), status.Out());
    EXPECT_EQ(L"Released", status.View());

    // Never stored: Get2 gives nothing, Update stores like Add.
    const std::wstring other = dir / L"other.prt";
    ComPtr<IFieldCollection> none;
    EXPECT_EQ(S_OK, c->Get2(Str(other), &none));
    EXPECT_FALSE(none);
    ASSERT_EQ(S_OK, c->Update(Fields({{L"ModelFullName", other.c_str()}, {L"Status", L"New"}}).Get()));
    EXPECT_EQ((Texts{L"ModelFullName=" + other, L"Status=New"}), Stored(other));

    // Add2 stores the collection unchanged under the given name.
    const std::wstring third = dir / L"third.prt";
    ASSERT_EQ(S_OK, c->Add2(Str(third), Fields({{L"Status", L"Given"}}).Get())) << TakeMessage();
    EXPECT_EQ(Texts{L"Status=Given"}, Stored(third));
}

TEST_F(Collaboration, InputsThatStoreOrReturnNothing) {
    const Texts before = Listing(dir.path());
    ComPtr<IFieldCollection> result;
    EXPECT_EQ(S_OK, c->Add(nullptr));
    EXPECT_EQ(S_OK, c->Add(Fields({{L"Status", L"x"}}).Get()));
    EXPECT_EQ(S_OK, c->Add2(nullptr, Fields({{L"Status", L"x"}}).Get()));
    EXPECT_EQ(S_OK, c->Add2(Str(dir / L"x.prt"), nullptr));
    EXPECT_EQ(S_OK, c->Update(nullptr));
    EXPECT_EQ(S_OK, c->Update(Fields({{L"Status", L"x"}}).Get()));
    EXPECT_EQ(before, Listing(dir.path()));
    EXPECT_EQ(S_OK, c->Get(nullptr, &result));
    EXPECT_FALSE(result);
    EXPECT_EQ(S_OK, c->Get(Fields({{L"Status", L"x"}}).Get(), &result));
    EXPECT_FALSE(result);
    EXPECT_EQ(DISP_E_EXCEPTION, c->Get2(Str(L"x"), nullptr));
    EXPECT_EQ(L"Unknown Error, code 0x80004003 (-2147467261)", TakeMessage());
}

TEST_F(Collaboration, BrokenStoreFilesAndFailedWrites) {
    const std::wstring nowhere = dir / L"no-folder\\m.prt";
    EXPECT_EQ(DISP_E_EXCEPTION, c->Add(Fields({{L"ModelFullName", nowhere.c_str()}}).Get()));
    EXPECT_EQ(L"Error creating file " + nowhere + L".CLB.", TakeMessage());

    // A store file that does not parse fails Get and Update with the parser's message, untouched.
    const std::wstring broken = dir / L"broken.prt";
    dir.Write(L"broken.prt.CLB", "<Parameter><FieldCollection>");
    ComPtr<IDispatch> parsed;
    EXPECT_EQ(DISP_E_EXCEPTION, u->DOMParse(Variant(std::wstring_view(broken + L".CLB")), &parsed));
    const std::wstring parseError = TakeMessage();
    ComPtr<IFieldCollection> result;
    EXPECT_EQ(DISP_E_EXCEPTION, c->Get2(Str(broken), &result));
    EXPECT_EQ(parseError, TakeMessage());
    EXPECT_EQ(DISP_E_EXCEPTION, c->Update(Fields({{L"ModelFullName", broken.c_str()}}).Get()));
    EXPECT_EQ(parseError, TakeMessage());
    EXPECT_EQ("<Parameter><FieldCollection>", ScratchFolder::Read(broken + L".CLB"));

    // An update whose file cannot be replaced keeps the stored fields and leaves no temporary file.
    const std::wstring model = dir / L"kept.prt";
    ASSERT_EQ(S_OK, c->Add(Fields({{L"ModelFullName", model.c_str()}, {L"Status", L"Draft"}}).Get()));
    const std::string content = ScratchFolder::Read(model + L".CLB");
    HANDLE held = CreateFileW((model + L".CLB").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_EQ(DISP_E_EXCEPTION, c->Update(Fields({{L"ModelFullName", model.c_str()}, {L"Status", L"X"}}).Get()));
    EXPECT_EQ(L"Error creating file " + model + L".CLB.", TakeMessage());
    CloseHandle(held);
    EXPECT_EQ(content, ScratchFolder::Read(model + L".CLB"));
    EXPECT_EQ((Texts{L"broken.prt.CLB", L"kept.prt.CLB"}), Listing(dir.path()));
}

}  // namespace
