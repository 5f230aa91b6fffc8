// Configuration files, the application object and the class factory through real activation. The
// connectors are the doubles registered under the factory's class names; the Windchill double lacks
// the preparation interface.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "UtilitiesSupport.h"

using namespace test;

namespace {

std::string Properties(const std::string& properties, const std::string& jni = "") {
    return "<?xml version=\"1.0\"?><QarnConnector><Properties>" + properties + "</Properties><JniOptions>" + jni +
           "</JniOptions></QarnConnector>";
}

std::string PropertyFile(const char* name, const char* value) {
    return std::string("<Parameter><FieldCollection><Field><Name>") + name + "</Name><Value>" + value +
           "</Value></Field></FieldCollection></Parameter>";
}

const char kResources[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><QarnResource>"
    "<EN><M0011>Error creating file %s.</M0011></EN>"
    "<DE><M0011>Fehler beim Anlegen der Datei %s.</M0011></DE></QarnResource>";

// An installation root of its own, named by QarnRootDir while the test runs.
class Installation : public ::testing::Test {
protected:
    Installation() { CreateDirectoryW((root / L"xml").c_str(), nullptr); }
    void Configure(const std::string& properties, const std::string& jni = "") {
        root.Write(L"xml\\QarnConnector.xml", Properties(properties, jni));
    }
    std::wstring Xml(const std::wstring& name) const { return root / (L"xml\\" + name); }

    // A blank in the root, as under "C:\\Program Files".
    ScratchFolder root{L"config root"};
    ScopedVariable rootVariable{L"QarnRootDir", root.path().c_str()};
};

template <class Object>
Result Property(Object* o, const wchar_t* name) {
    BSTR value = nullptr;
    HRESULT hr = o->GetProperty(Str(name), &value);
    return Result(hr, value);
}

template <class Object>
std::wstring Message(Object* o, const wchar_t* id) {
    BSTR value = nullptr;
    o->GetMessage(Str(id), &value);
    return Result(S_OK, value).text;
}

using Configuration = Installation;

// A relative root names the folder below the current directory of the moment: two installations
// whose files have the same size and write time are still told apart.
TEST_F(Configuration, ARelativeRootFollowsTheCurrentDirectory) {
    ScratchFolder one{L"config one"}, two{L"config two"};
    for (const auto& [folder, site] : {std::pair{&one, "1"}, std::pair{&two, "2"}}) {
        CreateDirectoryW((*folder / L"inst").c_str(), nullptr);
        CreateDirectoryW((*folder / L"inst\\xml").c_str(), nullptr);
        folder->Write(L"inst\\xml\\QarnConnector.xml", Properties(std::string("<Site>") + site + "</Site>"));
    }
    FILETIME written;
    HANDLE file = CreateFileW((one / L"inst\\xml\\QarnConnector.xml").c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    GetFileTime(file, nullptr, nullptr, &written);
    CloseHandle(file);
    file = CreateFileW((two / L"inst\\xml\\QarnConnector.xml").c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                       0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    SetFileTime(file, nullptr, nullptr, &written);
    CloseHandle(file);

    ScopedVariable relative(L"QarnRootDir", L"inst");
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    std::wstring sites;
    for (const ScratchFolder* folder : {&one, &two, &one}) {
        SetCurrentDirectoryW(folder->path().c_str());
        auto u = Create<IQarnUtilities>(CLSID_CQarnUtilities);
        EXPECT_EQ(S_OK, u->ReadXmlConfigurationFiles()) << TakeMessage();
        sites += Property(u.Get(), L"Site").text;
    }
    SetCurrentDirectoryW(previous);
    EXPECT_EQ(L"121", sites);
}

TEST_F(Configuration, LanguagesPropertyFilesAndOptions) {
    ScopedVariable site(L"QARN_CFG_SITE", L"D:\\site");
    root.Write(L"xml\\a.xml", PropertyFile("FromA", "a"));
    root.Write(L"xml\\b.xml", PropertyFile("FromB", "b"));
    root.Write(L"xml\\res.xml", kResources);
    Configure("<Language>EN</Language><PropertyFiles>a.xml;;b.xml</PropertyFiles>"
              "<ResourceFiles>res.xml</ResourceFiles><Site>%QARN_CFG_SITE%\\x</Site>",
              "<Heap>-Xmx512m</Heap>");
    auto u = Create<IQarnUtilities>(CLSID_CQarnUtilities);
    ASSERT_EQ(S_OK, u->ReadXmlConfigurationFiles());
    EXPECT_EQ(L"Error creating file %s.", Message(u.Get(), L"M0011"));
    EXPECT_EQ(L"a b D:\\site\\x", Property(u.Get(), L"FromA").text + L" " + Property(u.Get(), L"FromB").text + L" " +
                                       Property(u.Get(), L"Site").text);
    ComPtr<IFieldCollection> jni;
    u->get_JNIOptions(&jni);
    EXPECT_EQ(Texts{L"Heap=-Xmx512m"}, Entries(jni.Get()));

    // The caller's language wins over the file's; a language without texts gives empty ones.
    ASSERT_EQ(S_OK, u->ReadXmlConfigurationFiles2(Str(L"DE")));
    EXPECT_EQ(L"Fehler beim Anlegen der Datei %s.", Message(u.Get(), L"M0011"));
    ASSERT_EQ(S_OK, u->ReadXmlConfigurationFiles2(Str(L"FR")));
    EXPECT_EQ(L"", Message(u.Get(), L"M0011"));
    Configure("<Language>DE</Language><ResourceFiles>res.xml</ResourceFiles>");
    ASSERT_EQ(S_OK, u->ReadXmlConfigurationFiles());
    EXPECT_EQ(L"Fehler beim Anlegen der Datei %s.", Message(u.Get(), L"M0011"));
    EXPECT_TRUE(Property(u.Get(), L"FromA").null) << "nothing of an earlier read survives";
}

TEST_F(Configuration, MissingAndBrokenFiles) {
    const ScratchFolder logs(L"config-log");
    const std::wstring log = logs / L"trace.log";
    ScopedVariable logVariable(L"QarnLogFile", log.c_str());
    root.Write(L"xml\\a.xml", PropertyFile("FromA", "a"));
    root.Write(L"xml\\broken.xml", "<Parameter>");
    const std::wstring missing = Xml(L"missing.xml"), broken = Xml(L"broken.xml");
    const std::wstring missingText = L"File " + missing + L" does not exist.";
    const struct {
        std::string properties;
        std::wstring message;  // empty: the read succeeds
    } cases[] = {
        {"<PropertyFiles strictFileExistCheck=\"FALSE\">missing.xml;a.xml</PropertyFiles>", L""},
        {"<ResourceFiles strictFileExistCheck=\"false\">missing.xml</ResourceFiles>", L""},
        {"<PropertyFiles strictFileExistCheck=\"no\">missing.xml</PropertyFiles>",
         L"Error reading Parameter list from '" + missing + L"'\n" + missingText},
        {"<ResourceFiles>missing.xml</ResourceFiles>", L"Error reading resource file '" + missing + L"'\n" + missingText},
        {"<PropertyFiles>broken.xml</PropertyFiles>", L"Error reading Parameter list from '" + broken + L"'\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.properties);
        Configure(c.properties);
        auto u = Create<IQarnUtilities>(CLSID_CQarnUtilities);
        const HRESULT hr = u->ReadXmlConfigurationFiles();
        EXPECT_EQ(c.message.empty() ? S_OK : DISP_E_EXCEPTION, hr);
        EXPECT_EQ(c.message, TakeMessage().substr(0, c.message.size()));
    }
    const std::string written = ScratchFolder::Read(log);
    EXPECT_EQ(2u, std::count(written.begin(), written.end(), '\n')) << written;
    EXPECT_NE(std::string::npos, written.find(" -  10 - File ")) << written;
    EXPECT_EQ(std::string::npos, written.find("a.xml")) << "only missing files are logged";

    // A file without settings, and no file at all, fail clearly and leave nothing behind.
    root.Write(L"xml\\QarnConnector.xml", "<QarnConnector><JniOptions><A>1</A></JniOptions></QarnConnector>");
    auto u = Create<IQarnUtilities>(CLSID_CQarnUtilities);
    EXPECT_NE(std::wstring::npos, Failure(u->ReadXmlConfigurationFiles()).find(L"QarnConnector/Properties is missing or empty"));
    DeleteFileW(Xml(L"QarnConnector.xml").c_str());
    ASSERT_EQ(DISP_E_EXCEPTION, u->ReadXmlConfigurationFiles2(Str(L"DE")));
    EXPECT_EQ(L"Error in CQarnUtilities::ReadXmlConfigurationFiles2\nFile " + Xml(L"QarnConnector.xml") +
                  L" does not exist.",
              TakeMessage());
    ComPtr<IFieldCollection> properties, jni;
    u->get_Properties(&properties);
    u->get_JNIOptions(&jni);
    EXPECT_FALSE(properties || jni);
}

TEST_F(Configuration, CheckInAndCheckOutFolders) {
    auto u = Create<IQarnUtilities>(CLSID_CQarnUtilities);
    BSTR userText = nullptr;
    u->GetSystemUserName(&userText);
    const std::wstring user = Result(S_OK, userText).text;
    const std::string bases = "<RemoteCheckinDir>D:\\in\\</RemoteCheckinDir><RemoteCheckoutDir>D:\\out\\</RemoteCheckoutDir>";
    const auto isPrivate = [&](const std::wstring& folder, const std::wstring& base) {
        const std::wstring head = base + user + L"\\{";
        return folder.size() == base.size() + user.size() + 40 && folder.compare(0, head.size(), head) == 0 &&
               folder.substr(folder.size() - 2) == L"}\\";
    };

    Configure(bases + "<SAPWebApplicationServer>true</SAPWebApplicationServer><LocalCheckoutDir>C:\\co\\</LocalCheckoutDir>");
    ASSERT_EQ(S_OK, u->ReadXmlConfigurationFiles());
    const std::wstring checkin = Property(u.Get(), L"RemoteCheckinDir").text;
    const std::wstring checkout = Property(u.Get(), L"RemoteCheckoutDir").text;
    EXPECT_TRUE(isPrivate(checkin, L"D:\\in\\")) << checkin;
    EXPECT_TRUE(isPrivate(checkout, L"D:\\out\\")) << checkout;
    EXPECT_NE(checkin.substr(checkin.size() - 39), checkout.substr(checkout.size() - 39));
    EXPECT_EQ(checkout, Property(u.Get(), L"CheckoutDir").text);
    ASSERT_EQ(S_OK, u->ReadXmlConfigurationFiles());
    EXPECT_NE(checkout, Property(u.Get(), L"CheckoutDir").text) << "every read makes new folders";

    Configure(bases + "<SAPWebApplicationServer>True</SAPWebApplicationServer><LocalCheckoutDir>C:\\co\\</LocalCheckoutDir>");
    ASSERT_EQ(S_OK, u->ReadXmlConfigurationFiles());
    EXPECT_EQ(L"C:\\co\\", Property(u.Get(), L"CheckoutDir").text);
    Configure("<Language>EN</Language>");
    ASSERT_EQ(S_OK, u->ReadXmlConfigurationFiles());
    // Without a local folder the field holds no text (Wine's VariantCopy turns a null text into "").
    EXPECT_EQ(L"", Property(u.Get(), L"CheckoutDir").text);
    EXPECT_TRUE(Property(u.Get(), L"RemoteCheckinDir").null);
}

// The shipped sample installation reads completely in both of its languages.
TEST(SampleInstallation, ReadsInBothLanguages) {
    ScopedVariable rootVariable(L"QarnRootDir", SourcePath("samples/installation").c_str());
    auto u = Create<IQarnUtilities>(CLSID_CQarnUtilities);
    ASSERT_EQ(S_OK, u->ReadXmlConfigurationFiles()) << TakeErrorDescription();
    EXPECT_EQ(L"Error creating file %s.", Message(u.Get(), L"M0011"));
    EXPECT_EQ(L"1100", Property(u.Get(), L"Plant").text) << "from the first property file";
    EXPECT_EQ(L"DRW", Property(u.Get(), L"DrawingDocumentType").text) << "from the second property file";
    EXPECT_EQ(L"C:\\QarnWork\\checkout\\", Property(u.Get(), L"CheckoutDir").text);
    ComPtr<IFieldCollection> jni;
    u->get_JNIOptions(&jni);
    EXPECT_EQ(5u, Entries(jni.Get()).size());
    ASSERT_EQ(S_OK, u->ReadXmlConfigurationFiles2(Str(L"DE")));
    EXPECT_EQ(L"Fehler beim Anlegen der Datei %s.", Message(u.Get(), L"M0011"));
    ComPtr<IFieldCollection> en, de;
    ASSERT_EQ(S_OK, u->get_Messages(&de));
    ASSERT_EQ(S_OK, u->ReadXmlConfigurationFiles2(Str(L"EN")));
    ASSERT_EQ(S_OK, u->get_Messages(&en));
    EXPECT_EQ(Entries(en.Get()).size(), Entries(de.Get()).size()) << "every message id in both languages";
}

TEST_F(Installation, ApplicationHoldsTheConfiguration) {
    auto app = Create<IQarnComApplication>(CLSID_CQarnComApplication);
    auto initialized = [&] {
        VARIANT_BOOL b = 2;
        app->get_IsInitialized(&b);
        return b;
    };
    EXPECT_EQ(VARIANT_FALSE, initialized());
    EXPECT_EQ(S_OK, app->SetProperty(Str(L"Early"), Str(L"x")));
    EXPECT_EQ(DISP_E_EXCEPTION, app->Init()) << "no configuration file yet";
    EXPECT_NE(std::wstring::npos, TakeErrorDescription().find(L"   at CQarnComApplication::Init: line "));
    EXPECT_EQ(VARIANT_FALSE, initialized());

    root.Write(L"xml\\res.xml", kResources);
    Configure("<Plant>1000</Plant><ResourceFiles>res.xml</ResourceFiles>", "<Heap>-Xmx1g</Heap>");
    ASSERT_EQ(S_OK, app->Init());
    EXPECT_EQ(VARIANT_TRUE, initialized());
    EXPECT_EQ(L"1000", Property(app.Get(), L"Plant").text);
    EXPECT_TRUE(Property(app.Get(), L"Early").null);
    EXPECT_EQ(L"Error creating file %s.", Message(app.Get(), L"M0011"));
    BSTR unknown = reinterpret_cast<BSTR>(1);
    EXPECT_EQ(S_OK, app->GetMessage(Str(L"M9999"), &unknown));
    EXPECT_EQ(nullptr, unknown) << "the application gives null for an unknown id";
    ASSERT_EQ(S_OK, app->SetProperty(Str(L"Plant"), Str(L"2000")));
    EXPECT_EQ(L"2000", Property(app.Get(), L"Plant").text);
    ComPtr<IFieldCollection> jni;
    app->get_JNIOptions(&jni);
    EXPECT_EQ(Texts{L"Heap=-Xmx1g"}, Entries(jni.Get()));
}

// Every factory test starts and ends without a shared application or connectors.
class Factory : public Installation {
protected:
    Factory() { factory->Destroy(); }
    ~Factory() override { factory->Destroy(); }
    ComPtr<IQarnClassFactory> factory = Create<IQarnClassFactory>(CLSID_CQarnClassFactory);
};

TEST_F(Factory, SharedApplicationAndStartCommands) {
    // The second command makes a property file that only the second read of Create finds.
    root.Write(L"late.template", PropertyFile("Written", "late"));
    root.Write(L"xml\\first.cmd", "@echo first>>\"%QarnRootDir%\\order.txt\"\r\n");
    // A program named like the root's path up to its blank must not be started in its place.
    const std::wstring decoy = root.path().substr(0, root.path().find(L' ')) + L".exe";
    ASSERT_TRUE(CopyFileW(L"C:\\windows\\system32\\hostname.exe", decoy.c_str(), FALSE));
    struct RemoveDecoy {
        const std::wstring& path;
        ~RemoveDecoy() { DeleteFileW(path.c_str()); }
    } removeDecoy{decoy};
    root.Write(L"xml\\second.cmd", "@echo second %1>>\"%QarnRootDir%\\order.txt\"\r\n"
                                   "@copy \"%QarnRootDir%\\late.template\" \"%QarnRootDir%\\xml\\late.xml\" >nul\r\n");
    Configure("<StartCommandShell>first.cmd;;second.cmd x;absent.cmd</StartCommandShell>"
              "<PropertyFiles strictFileExistCheck=\"false\">late.xml</PropertyFiles>");
    ComPtr<IQarnComApplication> app, again;
    ASSERT_EQ(S_OK, factory->Create(&app));
    ASSERT_EQ(S_OK, Create<IQarnClassFactory>(CLSID_CQarnClassFactory)->Create(&again));
    EXPECT_EQ(app.Get(), again.Get());
    EXPECT_EQ("first\r\nsecond x\r\n", ScratchFolder::Read(root / L"order.txt")) << "once, in order, with arguments";
    EXPECT_EQ(L"late", Property(app.Get(), L"Written").text);
    // Utilities objects without a configuration of their own answer from the shared application.
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(L"late", Property(Create<IQarnUtilities>(CLSID_CQarnUtilities).Get(), L"Written").text);

    ASSERT_EQ(S_OK, factory->Destroy());
    DeleteFileW(Xml(L"late.xml").c_str());
    Configure("<Plant>3000</Plant>");
    ComPtr<IQarnComApplication> fresh;
    ASSERT_EQ(S_OK, factory->Create(&fresh));
    EXPECT_NE(app.Get(), fresh.Get());
    EXPECT_EQ(L"3000", Property(fresh.Get(), L"Plant").text) << "Create after Destroy reads again";

    EXPECT_EQ(L"Unknown Error, code 0x80004003 (-2147467261)", Failure(factory->Create(nullptr)));
}

// Create after Destroy takes what the process read before while nothing it depended on changed:
// the same collections (attributes too), new private folders, and a new read as soon as a file's
// write time or size or the environment changes.
TEST_F(Factory, CreateAfterDestroyReadsOnlyWhatChanged) {
    ScopedVariable site(L"QARN_CFG_SITE", L"D:\\one");
    root.Write(L"xml\\a.xml", PropertyFile("FromA", "a1"));
    root.Write(L"xml\\res.xml", kResources);
    Configure("<PropertyFiles>a.xml</PropertyFiles><ResourceFiles>res.xml</ResourceFiles><Site>%QARN_CFG_SITE%</Site>"
              "<SAPSystem client=\"100\">PE1</SAPSystem><RemoteCheckinDir>D:\\in\\</RemoteCheckinDir>",
              "<Heap>-Xmx1g</Heap>");
    struct Read {
        Texts properties, messages, options, attributes;
        std::wstring checkin;
    };
    const auto create = [&] {
        factory->Destroy();
        ComPtr<IQarnComApplication> app;
        EXPECT_EQ(S_OK, factory->Create(&app));
        Read read;
        if (!app) return read;
        ComPtr<IFieldCollection> properties, messages, options;
        app->get_Properties(&properties);
        app->get_Messages(&messages);
        app->get_JNIOptions(&options);
        read.checkin = Property(app.Get(), L"RemoteCheckinDir").text;
        for (const std::wstring& entry : Entries(properties.Get()))
            if (entry.find(L"Dir=") == std::wstring::npos) read.properties.push_back(entry);
        read.messages = Entries(messages.Get());
        read.options = Entries(options.Get());
        ComPtr<IField> system;
        if (properties) properties->get_Field(Str(L"SAPSystem"), &system);
        read.attributes = AttributesOf(system.Get());
        return read;
    };
    const Read first = create(), second = create();
    EXPECT_EQ((Texts{L"PropertyFiles=a.xml", L"ResourceFiles=res.xml", L"Site=D:\\one", L"SAPSystem=PE1", L"FromA=a1"}),
              first.properties);
    EXPECT_EQ(first.properties, second.properties);
    EXPECT_EQ(Texts{L"M0011=Error creating file %s."}, second.messages);
    EXPECT_EQ(Texts{L"Heap=-Xmx1g"}, second.options);
    EXPECT_EQ(Texts{L"client=100"}, second.attributes);
    EXPECT_NE(first.checkin, second.checkin) << "every Create makes new private folders";

    // The same size and a later write time: read again.
    root.Write(L"xml\\a.xml", PropertyFile("FromA", "a2"));
    HANDLE file = CreateFileW(Xml(L"a.xml").c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    FILETIME written;
    GetFileTime(file, nullptr, nullptr, &written);
    written.dwHighDateTime += 1;
    SetFileTime(file, nullptr, nullptr, &written);
    CloseHandle(file);
    EXPECT_EQ(L"FromA=a2", create().properties.back());
    // Other bytes with the same size, attributes and write time (a file copied over another keeps
    // its source's time): read again.
    file = CreateFileW(Xml(L"a.xml").c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    GetFileTime(file, nullptr, nullptr, &written);
    CloseHandle(file);
    root.Write(L"xml\\a.xml", PropertyFile("FromA", "a3"));
    file = CreateFileW(Xml(L"a.xml").c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    SetFileTime(file, nullptr, nullptr, &written);
    CloseHandle(file);
    EXPECT_EQ(L"FromA=a3", create().properties.back());
    // A file that another program holds open without sharing it: the read fails as a fresh one does.
    HANDLE held = CreateFileW(Xml(L"a.xml").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    factory->Destroy();
    ComPtr<IQarnComApplication> refused;
    EXPECT_EQ(DISP_E_EXCEPTION, factory->Create(&refused)) << "a file no reader can open was taken as read";
    TakeMessage();
    CloseHandle(held);
    EXPECT_EQ(L"FromA=a3", create().properties.back());
    // A changed environment expands the values anew.
    SetEnvironmentVariableW(L"QARN_CFG_SITE", L"D:\\two");
    EXPECT_EQ(L"Site=D:\\two", create().properties[2]);
    // A file that appears is read.
    Configure("<PropertyFiles strictFileExistCheck=\"false\">late.xml</PropertyFiles>");
    EXPECT_EQ(Texts{L"PropertyFiles=late.xml"}, create().properties);
    root.Write(L"xml\\late.xml", PropertyFile("Late", "yes"));
    EXPECT_EQ((Texts{L"PropertyFiles=late.xml", L"Late=yes"}), create().properties);
}

std::wstring Text(IDispatch* object, const wchar_t* property) {
    Variant v = DispatchGet(object, property);
    return v.vt == VT_BSTR ? ToWide(v.bstrVal) : L"<none>";
}

TEST_F(Factory, ConnectorsAreCachedAndPrepared) {
    ComPtr<IDispatch> tce, tceAgain, sap, sap2, cee, gt, windchill, aras;
    ASSERT_EQ(S_OK, factory->CreateTCEConnector(&tce));
    ASSERT_EQ(S_OK, Create<IQarnClassFactory>(CLSID_CQarnClassFactory)->CreateTCEConnector(&tceAgain));
    EXPECT_EQ(tce.Get(), tceAgain.Get());
    EXPECT_EQ(L"QarnComJniConnector.CTCEConnector", Text(tce.Get(), L"ClassName"));
    EXPECT_EQ(L"Prepare;", Text(tce.Get(), L"Calls")) << "prepared once";
    ASSERT_EQ(S_OK, factory->CreateSAPConnector(&sap));
    ASSERT_EQ(S_OK, factory->CreateSAPConnector2(&sap2));
    EXPECT_EQ(sap.Get(), sap2.Get());
    EXPECT_NE(sap.Get(), tce.Get());
    ASSERT_EQ(S_OK, factory->CreateArasConnector(&aras));
    EXPECT_EQ(L"", Text(aras.Get(), L"Calls"));

    // The handler classes go to the connector unchanged; its own failure passes through uncached.
    ASSERT_EQ(S_OK, factory->CreateCEEConnector(Str(L"Handler"), NewFields({{L"a", L"1"}}).Get(), &cee));
    EXPECT_EQ(L"SetHandler(Handler,1);", Text(cee.Get(), L"Calls"));
    EXPECT_EQ(DISP_E_EXCEPTION, factory->CreateGTConnector(Str(L"fail"), nullptr, &gt));
    const std::wstring refused = TakeErrorDescription();
    EXPECT_EQ(0u, refused.find(L"The connector refused the handler class fail."));
    EXPECT_NE(std::wstring::npos, refused.find(L"at CQarnClassFactory::CreateGTConnector"));
    ASSERT_EQ(S_OK, factory->CreateGTConnector(nullptr, nullptr, &gt));
    EXPECT_EQ(L"SetHandler((null),null);", Text(gt.Get(), L"Calls"));

    EXPECT_EQ(L"IClassCreatorHelper is not implemented on this object. (requested class index: 5, "
              L"QarnComJniConnector.CWindchillConnector)", Failure(factory->CreateWindchillConnector(&windchill)));
    EXPECT_EQ(nullptr, windchill.Get());

    ASSERT_EQ(S_OK, factory->Destroy());
    ComPtr<IDispatch> newTce;
    ASSERT_EQ(S_OK, factory->CreateTCEConnector(&newTce));
    EXPECT_NE(tce.Get(), newTce.Get());
}

TEST_F(Factory, CreateClassByIndexAndByString) {
    const ScratchFolder logs(L"factory-log");
    const std::wstring log = logs / L"trace.log";
    ScopedVariable logVariable(L"QarnLogFile", log.c_str());
    auto traced = Create<IQarnClassFactory>(CLSID_CQarnClassFactory);
    for (int index : {10, -1}) {
        BSTR name = nullptr;
        ComPtr<IDispatch> object;
        EXPECT_EQ(DISP_E_EXCEPTION, traced->CreateClassByIndex(index, &name, &object));
        ComPtr<IErrorInfo> info;
        ASSERT_EQ(S_OK, GetErrorInfo(0, &info));
        Str text, source;
        info->GetDescription(text.Out());
        info->GetSource(source.Out());
        EXPECT_EQ(L"Unable to identify a class and IID with given index " + std::to_wstring(index) +
                      L" (not in valid range [0...9]).", text.View());
        EXPECT_EQ(L"QarnComConnector.CQarnClassFactory.1", source.View());
        EXPECT_EQ(nullptr, name);
    }
    for (int index : {6, 7}) {
        BSTR name = nullptr;
        ComPtr<IDispatch> object;
        ASSERT_EQ(S_OK, traced->CreateClassByIndex(index, &name, &object));
        EXPECT_EQ(L"QarnComJniConnector.CSAPConnector", Result(S_OK, name).text);
        EXPECT_EQ(L"QarnComJniConnector.CSAPConnector", Text(object.Get(), L"ClassName"));
    }
    const wchar_t tce[] = L"QarnComJniConnector.CTCEConnector";
    const wchar_t tceIid[] = L"{E043A072-CD81-454F-A553-7976F2B0FEAB}";
    const struct {
        const wchar_t* name;
        const wchar_t* iid;
        std::wstring message;
    } failures[] = {
        {L"Qarn.NotInstalled", tceIid, L"CLSID by name not found (Qarn.NotInstalled): 0x800401F3"},
        {tce, L"E043A072", L"IID not convertible (E043A072, QarnComJniConnector.CTCEConnector): 0x80070057"},
        {tce, L"{00000000-0000-0000-0000-00000000ABCD}",
         L"Cannot create instance QarnComJniConnector.CTCEConnector: 0x80004002"},
    };
    for (const auto& f : failures) {
        ComPtr<IDispatch> object;
        EXPECT_EQ(f.message, Failure(traced->CreateClassByString(Str(f.name), Str(f.iid), &object)));
        EXPECT_EQ(nullptr, object.Get());
    }
    const std::string written = ScratchFolder::Read(log);
    for (const char* line : {" 10 - --> CQarnClassFactory::CreateClassByIndex", "<-- CQarnClassFactory::CreateClassByIndex",
                             " 10 - Trying to create class QarnComJniConnector.CSAPConnector "
                             "({AF743BD4-806F-4367-8A37-8B9A94189A8B})..."})
        EXPECT_NE(std::string::npos, written.find(line)) << line;
    EXPECT_EQ(std::string::npos, written.find("<-- CQarnClassFactory::CreateClassByString"));
}

}  // namespace
