// Reading the configuration files into a configuration store.
//
// The main file <root>\xml\QarnConnector.xml gives the properties and the JNI options; the property
// files it names add properties, the resource files it names give the messages of one language.
#include "config/ConfigurationReader.h"

#include "config/ConfigurationCache.h"
#include "TextRules.h"

#include <memory>
#include <optional>

#include <string>
#include <vector>

namespace qarn::config {

namespace {

// A folder as a full path (relative to the current directory of the moment); the text itself when
// the system cannot make one of it.
std::wstring FullPath(const std::wstring& folder) {
    std::wstring full(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD length = GetFullPathNameW(folder.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0) return folder;
        if (length < full.size()) {
            full.resize(length);
            return full;
        }
        full.resize(length);
    }
    return folder;
}

// The text of the field `name`, or a null text when there is no such field.
Bstr FieldText(IFieldCollection* collection, const wchar_t* name) {
    ComPtr<IField> field;
    CHECK_HR(collection->get_Field(Bstr(name), &field));
    Bstr text;
    if (field) CHECK_HR(field->get_StringValue(text.Out()));
    return text;
}

// A file list's check for missing files is on unless its strictFileExistCheck attribute says
// "false" in any letter case.
bool StrictFileCheck(IField* list) {
    ComPtr<IFieldCollection> attributes;
    CHECK_HR(list->get_Attributes(&attributes));
    if (!attributes) return true;
    Bstr value;
    CHECK_HR(attributes->GetValue(Bstr(L"strictFileExistCheck"), value.Out()));
    return !EqualIgnoringCase(value.View(), L"false");
}

// The names of a ";"-separated file list, empty pieces left out.
std::vector<std::wstring> FileNames(IField* list) {
    Bstr text;
    CHECK_HR(list->get_StringValue(text.Out()));
    std::vector<std::wstring> names;
    for (std::wstring_view name : text::SplitTokens(text.View(), L";")) names.emplace_back(name);
    return names;
}

// A check-in or check-out folder of its own for this read: base + user + "\" + {GUID} + "\".
std::wstring PrivateFolder(const Bstr& base, const Bstr& user) {
    GUID guid;
    CHECK_HR(CoCreateGuid(&guid));
    return std::wstring(base.View()) + std::wstring(user.View()) + L"\\" + GuidText(guid) + L"\\";
}

void ReplaceText(IFieldCollection* properties, const wchar_t* name, const std::wstring& text) {
    ComPtr<IField> field;
    CHECK_HR(properties->get_Field(Bstr(name), &field));
    if (field) CHECK_HR(field->put_Value(Variant(std::wstring_view(text))));
}

// The check-in and check-out folders of this read and the checkout folder the properties name.
void PrivateFolders(UtilityServices& sources, DataObjects& objects, IFieldCollection* properties) {
    Bstr user;
    CHECK_HR(sources.UserName(user.Out()));
    const Bstr sapServer = FieldText(properties, L"SAPWebApplicationServer");
    const Bstr checkinBase = FieldText(properties, L"RemoteCheckinDir");
    const Bstr checkoutBase = FieldText(properties, L"RemoteCheckoutDir");
    const Bstr localCheckout = FieldText(properties, L"LocalCheckoutDir");
    const std::wstring checkin = PrivateFolder(checkinBase, user);
    const std::wstring checkout = PrivateFolder(checkoutBase, user);
    ReplaceText(properties, L"RemoteCheckinDir", checkin);
    ReplaceText(properties, L"RemoteCheckoutDir", checkout);

    ComPtr<IField> checkoutDir = objects.New<IField>(CLSID_Field);
    CHECK_HR(checkoutDir->put_Name(Bstr(L"CheckoutDir")));
    Variant value;
    value.vt = VT_BSTR;
    value.bstrVal = sapServer.View() == L"true" ? CopyBstr(std::wstring_view(checkout)) : localCheckout.Copy();
    CHECK_HR(checkoutDir->put_Value(value));
    CHECK_HR(properties->Add(checkoutDir.Get()));
}

}  // namespace

void ConfigurationReader::Log(const std::wstring& line, std::vector<std::wstring>* kept) {
    sources_.Log(LogSettings::kTraceLevel, Bstr(std::wstring_view(line)));
    if (kept) kept->push_back(line);
}

void ConfigurationReader::Read(BSTR language, ConfigStore& store, std::wstring& context) {
    // The context the failures of the main file get (the caller's context on entry).
    const std::wstring readContext = context;
    // Nothing of an earlier read survives, not even when this one fails.
    store.Clear();

    Bstr root;
    CHECK_HR(sources_.RootFolder(root.Out()));
    // A thread that overrides variables expands values differently from the process: its reads
    // are neither kept nor taken from what was kept.
    const bool keepable = !ThreadEnvironmentOverride::Active();
    // Keyed on the root as a full path: a relative root names another folder once the current
    // directory changes.
    const std::wstring key = FullPath(std::wstring(root.View())) + L'\n' + (language ? L"=" + std::wstring(View(language)) : L"");
    if (keepable) {
        if (const std::shared_ptr<const ConfigurationSnapshot> kept = ConfigurationCache::Process().Find(key)) {
            Replay(*kept, store);
            return;
        }
    }
    // What this read depended on and gave, for a read that may be kept (null otherwise).
    std::shared_ptr<ConfigurationSnapshot> snapshot;
    if (keepable) {
        snapshot = std::make_shared<ConfigurationSnapshot>();
        // Taken before the files: a change while they are read makes the snapshot stale.
        snapshot->environment = EnvironmentBlock();
    }
    // What went into the read besides the files.
    const InputRecord inputs;

    const std::wstring xmlFolder = std::wstring(root.View()) + L"\\xml\\";
    const Bstr resourcePath = ReadMainFile(xmlFolder, language, store, snapshot.get());
    const ComPtr<IFieldCollection> properties = store.Get(ConfigStore::kProperties);
    ReadPropertyFiles(xmlFolder, properties.Get(), snapshot.get(), context);
    context = readContext;

    std::optional<PlainCollection> keptProperties, keptOptions;
    if (snapshot) {
        keptProperties = Capture(properties.Get());
        keptOptions = Capture(store.Get(ConfigStore::kJniOptions).Get());
    }
    PrivateFolders(sources_, objects_, properties.Get());
    ReadResourceFiles(xmlFolder, resourcePath, store, snapshot.get(), context);

    // Kept only when the files alone made it: nothing was looked up, run or decrypted meanwhile.
    if (!snapshot || !keptProperties || !keptOptions || !inputs.FilesOnly()) return;
    std::optional<PlainCollection> keptMessages = Capture(store.Get(ConfigStore::kMessages).Get());
    if (!keptMessages) return;
    snapshot->properties = std::move(*keptProperties);
    snapshot->jniOptions = std::move(*keptOptions);
    snapshot->messages = std::move(*keptMessages);
    ConfigurationCache::Process().Keep(key, std::move(snapshot));
}

Bstr ConfigurationReader::ReadMainFile(const std::wstring& xmlFolder, BSTR language, ConfigStore& store,
                                       ConfigurationSnapshot* snapshot) {
    const std::wstring mainFile = xmlFolder + L"QarnConnector.xml";
    if (snapshot) snapshot->files.push_back(FileStamp::Of(mainFile));
    ComPtr<IDispatch> document;
    CHECK_HR(sources_.ParseFile(Variant(std::wstring_view(mainFile)), &document));
    ComPtr<IXMLDOMDocument2> dom;
    CHECK_HR(document.As(&dom));

    ComPtr<IFieldCollection> properties;
    CHECK_HR(sources_.NodeFields(dom.Get(), Bstr(L"QarnConnector/Properties"), &properties));
    // Everything below needs the properties: without them the file is no configuration.
    if (!properties) {
        THROW_MESSAGE(L"The configuration file " + mainFile +
                      L" has no settings: its element QarnConnector/Properties is missing or empty.");
    }
    ComPtr<IField> languageField;
    CHECK_HR(properties->get_Field(Bstr(L"Language"), &languageField));
    ComPtr<IFieldCollection> jniOptions;
    CHECK_HR(sources_.NodeFields(dom.Get(), Bstr(L"QarnConnector/JniOptions"), &jniOptions));
    store.Put(ConfigStore::kProperties, properties.Get());
    store.Put(ConfigStore::kJniOptions, jniOptions.Get());

    // The caller's language wins over the file's, which wins over English.
    Bstr chosen(L"EN");
    if (languageField) CHECK_HR(languageField->get_StringValue(chosen.Out()));
    if (language) chosen = Bstr(View(language));
    return Bstr(L"QarnResource/" + std::wstring(chosen.View()));
}

void ConfigurationReader::ReadPropertyFiles(const std::wstring& xmlFolder, IFieldCollection* properties,
                                            ConfigurationSnapshot* snapshot, std::wstring& context) {
    ComPtr<IField> propertyFiles;
    CHECK_HR(properties->get_Field(Bstr(L"PropertyFiles"), &propertyFiles));
    if (!propertyFiles) return;
    const bool strict = StrictFileCheck(propertyFiles.Get());
    for (const std::wstring& name : FileNames(propertyFiles.Get())) {
        const Bstr path(xmlFolder + name);
        if (snapshot) snapshot->files.push_back(FileStamp::Of(std::wstring(path.View())));
        context = Format(L"Error reading property file '%s'\n", path.get());
        VARIANT_BOOL exists = VARIANT_TRUE;
        if (!strict) CHECK_HR(sources_.FileExists(path, &exists, false));
        if (!exists) {
            Log(Format(L"File %s does not exist.", path.get()), snapshot ? &snapshot->propertyFileLog : nullptr);
            continue;
        }
        context = Format(L"Error reading Parameter list from '%s'\n", path.get());
        ComPtr<IParameterList> list;
        CHECK_HR(sources_.ParameterList(path, Bstr(L"Parameter"), nullptr, &list));
        ComPtr<IFieldCollection> fields;
        if (list) CHECK_HR(list->get_FieldCollection(&fields));
        if (fields) CHECK_HR(properties->Append(fields.Get()));
    }
}

void ConfigurationReader::ReadResourceFiles(const std::wstring& xmlFolder, const Bstr& resourcePath,
                                            ConfigStore& store, ConfigurationSnapshot* snapshot,
                                            std::wstring& context) {
    ComPtr<IField> resourceFiles;
    CHECK_HR(store.Get(ConfigStore::kProperties)->get_Field(Bstr(L"ResourceFiles"), &resourceFiles));
    if (!resourceFiles) return;
    const bool strict = StrictFileCheck(resourceFiles.Get());
    for (const std::wstring& name : FileNames(resourceFiles.Get())) {
        const Bstr path(xmlFolder + name);
        if (snapshot) snapshot->files.push_back(FileStamp::Of(std::wstring(path.View())));
        context = Format(L"Error reading resource file '%s'\n", path.get());
        VARIANT_BOOL exists = VARIANT_TRUE;
        CHECK_HR(sources_.FileExists(path, &exists, strict));
        if (!exists) {
            Log(Format(L"File %s does not exist.", path.get()), snapshot ? &snapshot->resourceFileLog : nullptr);
            continue;
        }
        ComPtr<IDispatch> resources;
        CHECK_HR(sources_.ParseFile(Variant(path.View()), &resources));
        ComPtr<IXMLDOMDocument2> resourceDom;
        CHECK_HR(resources.As(&resourceDom));
        ComPtr<IFieldCollection> messages;
        CHECK_HR(sources_.NodeFields(resourceDom.Get(), resourcePath, &messages));
        if (!store.Has(ConfigStore::kMessages))
            store.Put(ConfigStore::kMessages, objects_.New<IFieldCollection>(CLSID_FieldCollection).Get());
        if (messages) CHECK_HR(store.Get(ConfigStore::kMessages)->Append(messages.Get()));
    }
}

// The same store as a read of the unchanged files gives, with this read's own folders.
void ConfigurationReader::Replay(const ConfigurationSnapshot& kept, ConfigStore& store) {
    ComPtr<IFieldCollection> properties = Rebuild(kept.properties, objects_);
    store.Put(ConfigStore::kProperties, properties.Get());
    store.Put(ConfigStore::kJniOptions, Rebuild(kept.jniOptions, objects_).Get());
    for (const std::wstring& line : kept.propertyFileLog) Log(line, nullptr);
    PrivateFolders(sources_, objects_, properties.Get());
    for (const std::wstring& line : kept.resourceFileLog) Log(line, nullptr);
    if (kept.messages.present) store.Put(ConfigStore::kMessages, Rebuild(kept.messages, objects_).Get());
}

}  // namespace qarn::config
