// Create/use/release cycles of every creatable class of both DLLs. After a warm-up of 1,000 cycles
// the process's committed private memory must not grow by more than kBoundPerCycle bytes per cycle
// over 10,000 cycles, and both DLLs must agree to be unloaded after each class and at the end.
#include "Hardening.h"
#include "QarnComConnector.h"


namespace {

constexpr long long kBoundPerCycle = 64;
constexpr long kCycles = 10000, kWarmUp = 1000;

// Calls a member by name through IDispatch, the way script clients do.
void InvokeByName(IDispatch* object, const wchar_t* name, WORD flags, VARIANT* arg, VARIANT* result) {
    DISPID id = 0, put = DISPID_PROPERTYPUT;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    Check(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), name);
    const UINT named = (flags & DISPATCH_PROPERTYPUT) ? 1 : 0;
    DISPPARAMS params{arg, named ? &put : nullptr, arg ? 1u : 0u, named};
    Check(object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, nullptr, nullptr), name);
}

template <class T>
ComPtr<T> Named(ComPtr<T> object, const wchar_t* name) {
    Check(object->put_Name(Str(name)), L"Name");
    return object;
}

// Takes one element from a collection's enumerator.
template <class C>
void EnumerateOne(C* collection) {
    ComPtr<IUnknown> unknown;
    ComPtr<IEnumVARIANT> e;
    Check(collection->get__NewEnum(&unknown), L"_NewEnum");
    Check(unknown.As(&e), L"IEnumVARIANT");
    Var item;
    ULONG fetched = 0;
    Check(e->Next(1, &item, &fetched), L"IEnumVARIANT.Next");
    Expect(fetched == 1, L"the enumerator gave no element");
}

// A scratch installation: a configuration file and a resource file, on a memory file system when
// there is one (Wine shows it as Z:\dev\shm): the store files are flushed to disk in every cycle.
struct Scratch {
    std::wstring root;
    Scratch() {
        wchar_t temp[MAX_PATH] = L"Z:\\dev\\shm\\";
        const DWORD shm = GetFileAttributesW(temp);
        if (shm == INVALID_FILE_ATTRIBUTES || !(shm & FILE_ATTRIBUTE_DIRECTORY)) GetTempPathW(MAX_PATH, temp);
        root = std::wstring(temp) + L"qarn-leaks-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(root.c_str(), nullptr);
        CreateDirectoryW((root + L"\\xml").c_str(), nullptr);
        Expect(WriteText(root + L"\\xml\\QarnConnector.xml",
                         "<?xml version=\"1.0\"?><QarnConnector><Properties><Plant>1000</Plant><ResourceFiles>res.xml"
                         "</ResourceFiles></Properties><JniOptions><Heap>-Xmx1g</Heap></JniOptions></QarnConnector>") &&
                   WriteText(root + L"\\xml\\res.xml",
                             "<?xml version=\"1.0\" encoding=\"UTF-8\"?><QarnResource><EN><M0011>Error creating file "
                             "%s.</M0011></EN></QarnResource>"),
               L"cannot write the scratch installation");
        SetEnvironmentVariableW(L"QarnRootDir", root.c_str());
    }
    ~Scratch() { RemoveTree(root); }
};

// One create/use/release cycle per class.
std::vector<std::pair<const wchar_t*, std::function<void()>>> Cases(const std::wstring& storeModel) {
    return {
        // ---- QarnComConnector.dll
        {L"CQarnUtilities", [] {
             auto u = New<IQarnUtilities>(CLSID_CQarnUtilities);
             Str encrypted, decrypted, nothing;
             Check(u->Encrypt3(Str(L"secret value"), encrypted.Out()), L"Encrypt3");
             Check(u->Decrypt3(encrypted, decrypted.Out()), L"Decrypt3");
             Expect(std::wstring(decrypted.View()) == L"secret value", L"Decrypt3 did not give the value back");
             ComPtr<IDispatch> dom;
             Check(u->DOMParse2(Str(L"<a><b x=\"1\">t</b><c>2</c></a>"), &dom), L"DOMParse2");
             ComPtr<IParameterList> list;
             Check(u->GetXmlParameterListFromXMLString(Str(L"<Parameter><FieldCollection><Field><Name>N</Name><Value>V"
                                                           L"</Value></Field></FieldCollection></Parameter>"),
                                                       Str(L""), nullptr, &list),
                   L"GetXmlParameterListFromXMLString");
             Expect(dom && list, L"DOMParse2 or GetXmlParameterListFromXMLString gave nothing");
             Expect(u->Decrypt3(Str(L"not an encrypted text"), nothing.Out()) != S_OK,
                    L"Decrypt3 of a plain text did not fail");
             TakeDescription();
         }},
        {L"CQarnComApplication", [] {
             auto app = New<IQarnComApplication>(CLSID_CQarnComApplication);
             Str plant;
             Check(app->SetProperty(Str(L"Plant"), Str(L"2000")), L"SetProperty");
             Check(app->GetProperty(Str(L"Plant"), plant.Out()), L"GetProperty");
         }},
        {L"CQarnClassFactory", [] {
             auto factory = New<IQarnClassFactory>(CLSID_CQarnClassFactory);
             ComPtr<IQarnComApplication> app;
             Str plant;
             Check(factory->Create(&app), L"Create");
             Check(app->GetProperty(Str(L"Plant"), plant.Out()), L"GetProperty");
             Expect(std::wstring(plant.View()) == L"1000", L"the application did not read the configuration");
             app.Reset();
             Check(factory->Destroy(), L"Destroy");
         }},
        {L"CGlobalApp", [] {
             auto global = New<IGlobalApp>(CLSID_CGlobalApp);
             UINT count = 0;
             ComPtr<ITypeInfo> info;
             Check(global->GetTypeInfoCount(&count), L"GetTypeInfoCount");
             Check(global->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info), L"GetTypeInfo");
         }},
        // Storing and reading take turns: each costs a file operation and a parse.
        {L"CQarnSimpleCollaboration", [storeModel, turn = 0]() mutable {
             auto collaboration = New<IQarnSimpleCollaboration>(CLSID_CQarnSimpleCollaboration);
             ComPtr<IFieldCollection> stored;
             if (turn++ % 2 == 0) {
                 Check(collaboration->Add2(Str(storeModel), NewFields(2).Get()), L"Add2");
             } else {
                 Check(collaboration->Get2(Str(storeModel), &stored), L"Get2");
                 Expect(stored != nullptr, L"Get2 found nothing");
             }
         }},
        {L"CQarnTimer", [] {
             auto timer = New<IQarnTimer>(CLSID_CQarnTimer);
             VARIANT_BOOL running = VARIANT_FALSE;
             double diff = -1;
             Check(timer->start(), L"start");
             Check(timer->IsRunning(&running), L"IsRunning");
             Check(timer->Stop(), L"Stop");
             Check(timer->GetTimeDiff(&diff), L"GetTimeDiff");
         }},
        {L"QarnGenericListViewControl", [] {
             auto control = New<IQarnGenericListViewControl>(CLSID_QarnGenericListViewControl);
             DISPID id = 0;
             LPOLESTR names[] = {const_cast<LPOLESTR>(L"Show")};
             Check(control->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), L"GetIDsOfNames");
         }},
        {L"CQarnGenericPlmInterface", [] {
             auto plm = New<IQarnGenericPlmInterface>(CLSID_CQarnGenericPlmInterface);
             auto document = NewDocument(NewFields(2));
             ComPtr<IQarnDocument> out;
             Check(plm->LockObject(document.Get(), &out), L"LockObject");
             Check(plm->AddSessionParameter(document.Get()), L"AddSessionParameter");
         }},
        {L"CQarnNumberGenerator", [] {
             auto generator = New<IQarnNumberGenerator>(CLSID_CQarnNumberGenerator);
             ComPtr<IFieldCollection> numbers;
             long count = 0;
             Check(generator->Get1(Str(L"P"), 1, 5, &numbers), L"Get1");
             if (numbers) Check(numbers->get_Count(&count), L"Count");
         }},
        {L"CQarnCommonCADAdapter", [] {
             auto cad = New<IQarnCommonCADAdapter>(CLSID_CQarnCommonCADAdapter);
             ComPtr<IQarnDocument> out;
             Str identifier;
             Check(cad->Open(NewDocument(NewFields(2)).Get(), &out), L"Open");
             Check(cad->get_CadIdentifier(identifier.Out()), L"CadIdentifier");
         }},
        {L"CQarnGenericSearchInterface", [] {
             auto search = New<IQarnGenericSearchInterface>(CLSID_CQarnGenericSearchInterface);
             ComPtr<IQarnDocument> out;
             Check(search->StartSearch(NewDocument(NewFields(2)).Get(), &out), L"StartSearch");
         }},
        // ---- QarnComDatatypes.dll
        {L"Field", [] {
             auto field = NewField(L"Name", L"value");
             Str text;
             Var value, put(Long(42));
             Check(field->get_StringValue(text.Out()), L"StringValue");
             Check(field->put_Attributes(NewFields(1).Get()), L"Field.Attributes");
             InvokeByName(field.Get(), L"Value", DISPATCH_PROPERTYGET, nullptr, &value);
             InvokeByName(field.Get(), L"Value", DISPATCH_PROPERTYPUT, &put, nullptr);
         }},
        {L"FieldCollection", [] {
             auto fields = NewFields(3);
             Str value;
             ComPtr<IField> item;
             Check(fields->Add(NewField(L"Extra", L"x").Get()), L"Add");
             Check(fields->GetValue(Str(L"F1"), value.Out()), L"GetValue");
             Check(fields->get_Item(2, &item), L"Item");
             Check(fields->Remove(1), L"Remove");
             EnumerateOne(fields.Get());
             Expect(fields->get_Item(99, &item) == DISP_E_EXCEPTION, L"Item(99) did not fail");
             TakeDescription();
         }},
        {L"ParameterList", [] {
             auto list = New<IParameterList>(CLSID_ParameterList);
             Str xml;
             ComPtr<IParameterList> copy;
             ComPtr<IField> field;
             Check(list->put_FieldCollection(NewFields(3).Get()), L"FieldCollection");
             Check(list->get_Xml(xml.Out()), L"Xml");
             Expect(!std::wstring(xml.View()).empty(), L"Xml gave no text");
             Check(list->Clone(&copy), L"Clone");
             Check(copy->GetField(Str(L"F2"), &field), L"GetField");
         }},
        {L"Structure", [] {
             auto structure = Named(New<IStructure>(CLSID_Structure), L"Head");
             Str text;
             ComPtr<IField> field;
             Check(structure->AddFieldCollection(NewFields(2).Get()), L"AddFieldCollection");
             Check(structure->get_Text(text.Out()), L"Text");
             Check(structure->GetField(Str(L"F1"), &field), L"GetField");
         }},
        {L"StructureCollection", [] {
             auto structures = New<IStructureCollection>(CLSID_StructureCollection);
             ComPtr<IStructure> found;
             Check(structures->Add(Named(New<IStructure>(CLSID_Structure), L"Head").Get()), L"Add");
             Check(structures->get_Structure(Str(L"Head"), &found), L"Structure");
             EnumerateOne(structures.Get());
         }},
        {L"Table", [] {
             auto table = Named(New<ITable>(CLSID_Table), L"Rows");
             auto rows = New<IFieldCollectionTable>(CLSID_FieldCollectionTable);
             ComPtr<IFieldCollectionTable> back;
             Check(rows->Add(NewFields(2).Get()), L"FieldCollectionTable.Add");
             Check(table->put_FieldCollectionTable(rows.Get()), L"FieldCollectionTable");
             Check(table->get_FieldCollectionTable(&back), L"FieldCollectionTable");
         }},
        {L"TableCollection", [] {
             auto tables = New<ITableCollection>(CLSID_TableCollection);
             ComPtr<ITable> found;
             long count = 0;
             Check(tables->Add(Named(New<ITable>(CLSID_Table), L"Rows").Get()), L"Add");
             Check(tables->get_Table(Str(L"Rows"), &found), L"Table");
             Check(tables->get_Count(&count), L"Count");
         }},
        {L"FieldCollectionTable", [] {
             auto rows = New<IFieldCollectionTable>(CLSID_FieldCollectionTable);
             ComPtr<IFieldCollection> row;
             Check(rows->Add(NewFields(2).Get()), L"Add");
             Check(rows->Add(NewFields(3).Get()), L"Add");
             Check(rows->FindRow(Str(L"F2"), Str(L"value"), &row), L"FindRow");
             Expect(row != nullptr, L"FindRow found nothing");
             EnumerateOne(rows.Get());
         }},
        {L"QarnDocument", [] {
             auto document = NewDocument(NewFields(2));
             auto children = New<IQarnDocumentCollection>(CLSID_QarnDocumentCollection);
             ComPtr<IParameterList> list;
             Check(children->Add(NewDocument(NewFields(2)).Get()), L"Add");
             Check(document->put_Children(children.Get()), L"Children");
             Check(document->get_ParameterList(&list), L"ParameterList");
             Check(document->put_Attributes(NewFields(1).Get()), L"Attributes");
         }},
        {L"QarnDocumentCollection", [] {
             auto documents = New<IQarnDocumentCollection>(CLSID_QarnDocumentCollection);
             ComPtr<IQarnDocument> item;
             Check(documents->Add(NewDocument(NewFields(2)).Get()), L"Add");
             Check(documents->get_Item(1, &item), L"Item");
             EnumerateOne(documents.Get());
         }},
    };
}

bool BothUnloadable() { return CanUnload(L"QarnComConnector.dll") == S_OK && CanUnload(L"QarnComDatatypes.dll") == S_OK; }

}  // namespace

int wmain(int, wchar_t**) {
    ComScope com;
    if (!com.ok) {
        fwprintf(stderr, L"leak cycles: COM could not be started\n");
        return 1;
    }
    Scratch scratch;
    const auto cases = Cases(scratch.root + L"\\A.asm");
    int failures = 0;
    wprintf(L"%-28ls %12ls %10ls %8ls %8ls  %ls\n", L"class", L"growth", L"per cycle", L"unload", L"ms", L"result");
    for (const auto& [name, cycle] : cases) {
        try {
            for (long i = 0; i < kWarmUp; ++i) cycle();
            const long long before = PrivateBytes();
            const ULONGLONG start = GetTickCount64();
            for (long i = 0; i < kCycles; ++i) cycle();
            const long long growth = PrivateBytes() - before, perCycle = growth / kCycles;
            // No object of either DLL may be left: a connector class keeps no data-type object either.
            const bool unload = BothUnloadable(), ok = perCycle <= kBoundPerCycle && unload;
            failures += !ok;
            wprintf(L"%-28ls %12lld %10lld %8ls %8llu  %ls\n", name, growth, perCycle,
                    unload ? L"S_OK" : L"S_FALSE", GetTickCount64() - start, ok ? L"ok" : L"LEAK");
        } catch (const Failure& f) {
            ++failures;
            wprintf(L"%-28ls error: %ls\n", name, f.what.c_str());
        }
        fflush(stdout);
    }
    g_factories.clear();
    wprintf(L"DllCanUnloadNow: QarnComConnector.dll 0x%08lx, QarnComDatatypes.dll 0x%08lx\n",
            static_cast<unsigned long>(CanUnload(L"QarnComConnector.dll")),
            static_cast<unsigned long>(CanUnload(L"QarnComDatatypes.dll")));
    failures += !BothUnloadable();
    if (failures == 0)
        wprintf(L"leak cycles: %zu classes x %ld cycles, none above %lld bytes per cycle, both DLLs unloadable\n",
                cases.size(), kCycles, kBoundPerCycle);
    else
        wprintf(L"leak cycles: %d failure(s)\n", failures);
    return failures ? 1 : 0;
}
