// Type information queries of CQarnUtilities against the registrations of the test prefix.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "ForeignObject.h"
#include "UtilitiesSupport.h"

using namespace test;

namespace {

constexpr wchar_t kOurLibrary[] = L"{53D70BEF-7A49-4E4E-8BE6-660E8613DBE0}";
constexpr wchar_t kDoublesLibrary[] = L"{F2710973-0809-4B66-B2FD-8DA6F3BE1BCF}";

GUID Guid(const wchar_t* text) {
    GUID g{};
    CLSIDFromString(text, &g);
    return g;
}

class TypeInfo : public ::testing::Test {
protected:
    ComPtr<IQarnUtilities> u = test::Create<IQarnUtilities>(CLSID_CQarnUtilities);
    const std::wstring ourDll = test::ServerPath(GuidText(CLSID_CQarnUtilities).c_str());
};

TEST_F(TypeInfo, InformationOfAnObjectAndOfALibrary) {
    ComPtr<IFieldCollection> info;
    ASSERT_EQ(S_OK, u->GetInterfaceInfo1(u.Get(), &info));
    EXPECT_EQ((Texts{L"PathName=" + ourDll, L"TLIB_GUID=" + std::wstring(kOurLibrary), L"TYPE_GUID=" + GuidText(IID_IQarnUtilities)}),
              Entries(info.Get()));
    // An automation object that offers no type information.
    EXPECT_EQ(S_OK, u->GetInterfaceInfo1(ComPtr<IDispatch>(new ForeignObject<IDispatch>).Get(), &info));
    EXPECT_FALSE(info);

    // Our library is registered for German (1031), its own locale, and for the neutral locale
    // that the marshaler between apartments asks for, which every other locale falls back to.
    const Texts ours{L"PathName=" + ourDll, L"TLIB_GUID=" + std::wstring(kOurLibrary), L"FILE_VERSION=2.1.50.117"};
    for (LCID lcid : {0, 1031, 1033}) {
        ASSERT_EQ(S_OK, u->GetInterfaceInfo2(Guid(kOurLibrary), 1, 0, lcid, &info));
        EXPECT_EQ(ours, Entries(info.Get())) << lcid;
    }
    EXPECT_EQ(S_OK, u->GetInterfaceInfo2(Guid(kOurLibrary), 2, 0, 0, &info));
    EXPECT_FALSE(info) << "no version 2.0";
    // The doubles' DLL carries no version resource.
    ASSERT_EQ(S_OK, u->GetInterfaceInfo2(Guid(kDoublesLibrary), 1, 0, 0, &info));
    EXPECT_EQ(L"FILE_VERSION=", Entries(info.Get()).at(2));
    EXPECT_EQ(S_OK, u->GetInterfaceInfo2(CLSID_CQarnUtilities, 1, 0, 0, &info));
    EXPECT_FALSE(info) << "a class id is no library";
}

// A sibling library of the installation, made and registered for the test in version 2.0.
class SiblingLibrary {
public:
    // The platform of this build: a library registers its path for its own platform only.
    static constexpr SYSKIND kPlatform = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
    static constexpr wchar_t kGuid[] = L"{6866D554-1A51-4068-91EE-F2448C390F82}";
    explicit SiblingLibrary(const std::wstring& file) {
        ComPtr<ICreateTypeLib2> create;
        if (FAILED(CreateTypeLib2(kPlatform, file.c_str(), &create))) return;
        create->SetGuid(Guid(kGuid));
        create->SetVersion(2, 0);
        create->SetLcid(0);
        create->SetName(const_cast<LPOLESTR>(L"Sibling"));
        ComPtr<ITypeLib> library;
        if (FAILED(create->SaveAllChanges()) || FAILED(create.As(&library))) return;
        registered_ = SUCCEEDED(RegisterTypeLib(library.Get(), const_cast<LPOLESTR>(file.c_str()), nullptr));
    }
    ~SiblingLibrary() {
        if (registered_) UnRegisterTypeLib(Guid(kGuid), 2, 0, 0, kPlatform);
    }
    bool registered() const { return registered_; }

private:
    bool registered_ = false;
};

TEST_F(TypeInfo, KnownLibrariesOfTheInstallation) {
    ComPtr<IFieldCollectionTable> table;
    ASSERT_EQ(S_OK, u->GetInterfaceInfos(&table));
    long rows = -1;
    table->get_Count(&rows);
    ASSERT_EQ(1, rows) << "our own library, the others are not installed here";
    ComPtr<IFieldCollection> row;
    table->get_Item(1, &row);
    EXPECT_EQ(L"TLIB_GUID=" + std::wstring(kOurLibrary), Entries(row.Get()).at(1));

    test::ScratchFolder dir(L"typeinfo");
    const std::wstring file = dir / L"sibling.tlb";
    SiblingLibrary sibling(file);
    ASSERT_TRUE(sibling.registered());
    ComPtr<IFieldCollection> info;
    EXPECT_EQ(S_OK, u->GetInterfaceInfo2(Guid(SiblingLibrary::kGuid), 1, 0, 0, &info));
    EXPECT_FALSE(info) << "registered as 2.0 only";
    ASSERT_EQ(S_OK, u->GetInterfaceInfos(&table));
    table->get_Count(&rows);
    ASSERT_EQ(2, rows);
    table->get_Item(1, &row);
    EXPECT_EQ(L"TLIB_GUID=" + std::wstring(kOurLibrary), Entries(row.Get()).at(1)) << "this library comes first";
    table->get_Item(2, &row);
    EXPECT_EQ((Texts{L"PathName=" + file, L"TLIB_GUID=" + std::wstring(SiblingLibrary::kGuid), L"FILE_VERSION="}), Entries(row.Get()))
        << "a type library file has no version resource";
}

TEST_F(TypeInfo, ClassOfAProgId) {
    Str clsid;
    ASSERT_EQ(S_OK, u->GetCLSIDFromProgID(Str(L"QarnComConnector.CQarnUtilities"), clsid.Out()));
    EXPECT_EQ(GuidText(CLSID_CQarnUtilities), clsid.View());
    EXPECT_EQ(S_OK, u->GetCLSIDFromProgID(Str(L"No.Such.Class"), clsid.Out()));
    EXPECT_TRUE(clsid.IsNull()) << "an unknown name gives the empty text";
}

}  // namespace
