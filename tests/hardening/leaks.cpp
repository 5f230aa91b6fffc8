// Create/use/release cycles of every creatable class of both type libraries (a new class is
// covered without a change here). Each cycle creates the object, reads its type information and
// every property that takes no argument through IDispatch, and runs the class's deeper use below
// when it has one. After a warm-up of 500 cycles the process's committed private memory must not
// grow by more than kBoundPerCycle bytes per cycle over 4,000 cycles, and both DLLs must agree to
// be unloaded after each class and at the end. A class whose cycle takes an object from another
// apartment (the class factory's application lives in the DLL's own apartment) may grow by what the
// platform keeps for such a hand-over as well, measured in the same run with a plain object.
#include "Hardening.h"
#include "QarnComConnector.h"

#include <algorithm>
#include <map>
#include <thread>

namespace {

constexpr long long kBoundPerCycle = 64;
constexpr long kCycles = 4000, kWarmUp = 500;

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
    Var item;
    ULONG fetched = 0;
    Check(collection->get__NewEnum(&unknown), L"_NewEnum");
    Check(unknown.As(&e), L"IEnumVARIANT");
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
        Expect(WriteBytes(root + L"\\xml\\QarnConnector.xml",
                         "<?xml version=\"1.0\"?><QarnConnector><Properties><Plant>1000</Plant><ResourceFiles>res.xml"
                         "</ResourceFiles></Properties><JniOptions><Heap>-Xmx1g</Heap></JniOptions></QarnConnector>") &&
                   WriteBytes(root + L"\\xml\\res.xml",
                             "<?xml version=\"1.0\" encoding=\"UTF-8\"?><QarnResource><EN><M0011>Error creating file "
                             "%s.</M0011></EN></QarnResource>"),
               L"cannot write the scratch installation");
        SetEnvironmentVariableW(L"QarnRootDir", root.c_str());
    }
    ~Scratch() { RemoveTree(root); }
};

// A second single-threaded apartment that runs jobs on its thread and serves calls while it waits.
class OtherApartment {
public:
    OtherApartment()
        : go_(CreateEventW(nullptr, FALSE, FALSE, nullptr)), done_(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
          thread_([this] {
              CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
              for (;;) {
                  if (MsgWaitForMultipleObjectsEx(1, &go_, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE) != WAIT_OBJECT_0) {
                      MSG message;
                      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
                      continue;
                  }
                  if (!job_) break;
                  job_();
                  SetEvent(done_);
              }
              CoUninitialize();
          }) {}
    ~OtherApartment() {
        Run(nullptr);
        thread_.join();
        CloseHandle(go_);
        CloseHandle(done_);
    }
    void Run(std::function<void()> job) {
        job_ = std::move(job);
        SetEvent(go_);
        if (job_) WaitForSingleObject(done_, INFINITE);
    }

private:
    HANDLE go_, done_;
    std::function<void()> job_;
    std::thread thread_;
};

// What the platform keeps per object handed from another apartment the way the class factory hands
// over the application (marshaled as IUnknown there, asked here for an interface that the type
// library describes, used and released): a new timer each cycle. Wine keeps about 2 KB.
long long PlatformBytesPerHandOver() {
    constexpr long kHandOvers = 3000;
    OtherApartment other;
    const auto handOver = [&other] {
        ComPtr<IStream> stream;
        other.Run([&stream] {
            Check(CoMarshalInterThreadInterfaceInStream(IID_IUnknown, Create<IUnknown>(CLSID_CQarnTimer).Get(), &stream),
                  L"CoMarshalInterThreadInterfaceInStream");
        });
        ComPtr<IUnknown> proxy;
        ComPtr<IQarnTimer> timer;
        Check(CoGetInterfaceAndReleaseStream(stream.Detach(), IID_IUnknown, reinterpret_cast<void**>(proxy.GetAddressOf())),
              L"CoGetInterfaceAndReleaseStream");
        Check(proxy.As(&timer), L"IQarnTimer");
        Check(timer->start(), L"start");
    };
    for (long i = 0; i < kWarmUp; ++i) handOver();
    const long long before = PrivateBytes();
    for (long i = 0; i < kHandOvers; ++i) handOver();
    return std::max(0ll, (PrivateBytes() - before) / kHandOvers);
}

// The classes whose cycle takes an object from another apartment.
bool HandsOver(const std::wstring& name) { return name == L"CQarnClassFactory"; }

// The deeper use of a class beyond its plain properties, by class name.
std::map<std::wstring, std::function<void()>> DeeperUse(const std::wstring& storeModel) {
    return {
        {L"CQarnUtilities", [] {
             auto u = New<IQarnUtilities>(CLSID_CQarnUtilities);
             Str encrypted, decrypted, nothing;
             ComPtr<IDispatch> dom;
             ComPtr<IParameterList> list;
             Check(u->Encrypt3(Str(L"secret value"), encrypted.Out()), L"Encrypt3");
             Check(u->Decrypt3(encrypted, decrypted.Out()), L"Decrypt3");
             Expect(decrypted.View() == L"secret value", L"Decrypt3 did not give the value back");
             Check(u->DOMParse2(Str(L"<a><b x=\"1\">t</b><c>2</c></a>"), &dom), L"DOMParse2");
             Check(u->GetXmlParameterListFromXMLString(Str(L"<Parameter><FieldCollection><Field><Name>N</Name><Value>V"
                                                           L"</Value></Field></FieldCollection></Parameter>"),
                                                       Str(L""), nullptr, &list),
                   L"GetXmlParameterListFromXMLString");
             Expect(u->Decrypt3(Str(L"not an encrypted text"), nothing.Out()) != S_OK, L"Decrypt3 of a plain text did not fail");
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
             Expect(plant.View() == L"1000", L"the application did not read the configuration");
             app.Reset();
             Check(factory->Destroy(), L"Destroy");
         }},
        // Storing and reading take turns: each costs a file operation and a parse.
        {L"CQarnSimpleCollaboration", [storeModel, turn = 0]() mutable {
             auto collaboration = New<IQarnSimpleCollaboration>(CLSID_CQarnSimpleCollaboration);
             ComPtr<IFieldCollection> stored;
             if (turn++ % 2 == 0) return Check(collaboration->Add2(Str(storeModel), NewFields(2).Get()), L"Add2");
             Check(collaboration->Get2(Str(storeModel), &stored), L"Get2");
             Expect(stored != nullptr, L"Get2 found nothing");
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
        {L"CQarnGenericPlmInterface", [] {
             auto plm = New<IQarnGenericPlmInterface>(CLSID_CQarnGenericPlmInterface);
             auto document = NewDocument(NewFields(2));
             ComPtr<IQarnDocument> out;
             Check(plm->LockObject(document.Get(), &out), L"LockObject");
             Check(plm->AddSessionParameter(document.Get()), L"AddSessionParameter");
         }},
        {L"CQarnNumberGenerator", [] {
             ComPtr<IFieldCollection> numbers;
             Check(New<IQarnNumberGenerator>(CLSID_CQarnNumberGenerator)->Get1(Str(L"P"), 1, 5, &numbers), L"Get1");
         }},
        {L"CQarnCommonCADAdapter", [] {
             ComPtr<IQarnDocument> out;
             Check(New<IQarnCommonCADAdapter>(CLSID_CQarnCommonCADAdapter)->Open(NewDocument(NewFields(2)).Get(), &out), L"Open");
         }},
        {L"CQarnGenericSearchInterface", [] {
             ComPtr<IQarnDocument> out;
             auto search = New<IQarnGenericSearchInterface>(CLSID_CQarnGenericSearchInterface);
             Check(search->StartSearch(NewDocument(NewFields(2)).Get(), &out), L"StartSearch");
         }},
        {L"Field", [] {
             auto field = NewField(L"Name", L"value");
             Check(field->put_Attributes(NewFields(1).Get()), L"Field.Attributes");
             Check(field->put_Value(Var(Long(42))), L"Value");
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
             ComPtr<IParameterList> copy;
             ComPtr<IField> field;
             Check(NewList(NewFields(3))->Clone(&copy), L"Clone");
             Check(copy->GetField(Str(L"F2"), &field), L"GetField");
         }},
        {L"Structure", [] {
             auto structure = Named(New<IStructure>(CLSID_Structure), L"Head");
             ComPtr<IField> field;
             Check(structure->AddFieldCollection(NewFields(2).Get()), L"AddFieldCollection");
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
             auto rows = New<IFieldCollectionTable>(CLSID_FieldCollectionTable);
             Check(rows->Add(NewFields(2).Get()), L"FieldCollectionTable.Add");
             Check(Named(New<ITable>(CLSID_Table), L"Rows")->put_FieldCollectionTable(rows.Get()), L"FieldCollectionTable");
         }},
        {L"TableCollection", [] {
             auto tables = New<ITableCollection>(CLSID_TableCollection);
             ComPtr<ITable> found;
             Check(tables->Add(Named(New<ITable>(CLSID_Table), L"Rows").Get()), L"Add");
             Check(tables->get_Table(Str(L"Rows"), &found), L"Table");
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
             Check(children->Add(NewDocument(NewFields(2)).Get()), L"Add");
             Check(document->put_Children(children.Get()), L"Children");
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

// The names of the members of `c` that are properties without arguments.
std::vector<std::wstring> PlainProperties(const CoClass& c) {
    std::vector<std::wstring> names;
    TYPEATTR* attr = nullptr;
    if (!c.dual || FAILED(c.itf->GetTypeAttr(&attr))) return names;
    for (UINT i = 0; i < attr->cFuncs; ++i) {
        FUNCDESC* fd = nullptr;
        if (FAILED(c.itf->GetFuncDesc(i, &fd))) continue;
        Str name;
        const bool plain = fd->invkind == INVOKE_PROPERTYGET && fd->cParams == 1;
        if (plain && SUCCEEDED(c.itf->GetDocumentation(fd->memid, name.Out(), nullptr, nullptr, nullptr)))
            names.emplace_back(name.View());
        c.itf->ReleaseFuncDesc(fd);
    }
    c.itf->ReleaseTypeAttr(attr);
    return names;
}

// The cycle every class gets: created, its type information and plain properties read through
// IDispatch (by name, as script clients do), released; then the deeper use.
std::function<void()> Cycle(const CoClass& c, std::function<void()> deeper) {
    return [clsid = c.clsid, dual = c.dual, names = PlainProperties(c), deeper] {
        if (!dual) return (void)New<IUnknown>(clsid);
        auto object = New<IDispatch>(clsid);
        UINT count = 0;
        ComPtr<ITypeInfo> info;
        Check(object->GetTypeInfoCount(&count), L"GetTypeInfoCount");
        Check(object->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info), L"GetTypeInfo");
        for (const std::wstring& name : names) {
            DISPID id = 0;
            LPOLESTR member[] = {const_cast<LPOLESTR>(name.c_str())};
            DISPPARAMS none{};
            Var value;
            Check(object->GetIDsOfNames(IID_NULL, member, 1, LOCALE_USER_DEFAULT, &id), name);
            Check(object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr), name);
        }
        if (deeper) deeper();
    };
}

// Neither DLL holds an object or a lock (a DLL not loaded yet answers E_FAIL).
bool BothUnloadable() {
    return std::all_of(std::begin(kDlls), std::end(kDlls), [](const wchar_t* dll) { return CanUnload(dll) != S_FALSE; });
}

}  // namespace

int wmain(int, wchar_t**) {
    ComScope com;
    if (!com.ok) {
        fwprintf(stderr, L"leak cycles: COM could not be started\n");
        return 1;
    }
    Scratch scratch;
    auto deeper = DeeperUse(scratch.root + L"\\A.asm");
    int failures = 0;
    long long handOverBytes = 0;
    try {
        handOverBytes = PlatformBytesPerHandOver();
    } catch (const Failure& f) {
        ++failures;
        wprintf(L"hand-over between apartments: %ls\n", f.what.c_str());
    }
    wprintf(L"the platform keeps %lld bytes per object handed over from another apartment\n", handOverBytes);
    size_t classes = 0;
    wprintf(L"%-28ls %12ls %10ls %8ls %8ls  %ls\n", L"class", L"growth", L"per cycle", L"unload", L"ms", L"result");
    for (const wchar_t* dll : kDlls) {
        std::vector<CoClass> all;
        try {
            all = CreatableClasses(dll);
        } catch (const Failure& f) {
            ++failures;
            wprintf(L"%ls: %ls\n", dll, f.what.c_str());
        }
        for (const CoClass& c : all) {
            ++classes;
            const auto use = deeper.find(c.name);
            const std::function<void()> cycle = Cycle(c, use == deeper.end() ? nullptr : use->second);
            if (use != deeper.end()) deeper.erase(use);
            try {
                for (long i = 0; i < kWarmUp; ++i) cycle();
                const long long before = PrivateBytes();
                const ULONGLONG start = GetTickCount64();
                for (long i = 0; i < kCycles; ++i) cycle();
                const long long growth = PrivateBytes() - before, perCycle = growth / kCycles;
                // No object of either DLL may be left: a connector class keeps no data-type object either.
                const long long bound = kBoundPerCycle + (HandsOver(c.name) ? handOverBytes : 0);
                const bool unload = BothUnloadable(), ok = perCycle <= bound && unload;
                failures += !ok;
                wprintf(L"%-28ls %12lld %10lld %8ls %8llu  %ls\n", c.name.c_str(), growth, perCycle,
                        unload ? L"S_OK" : L"S_FALSE", GetTickCount64() - start, ok ? L"ok" : L"LEAK");
            } catch (const Failure& f) {
                ++failures;
                wprintf(L"%-28ls error: %ls\n", c.name.c_str(), f.what.c_str());
            }
            fflush(stdout);
        }
    }
    for (const auto& [name, use] : deeper) wprintf(L"%ls: no such class in the type libraries\n", name.c_str());
    failures += static_cast<int>(deeper.size());
    g_factories.clear();
    const HRESULT connector = CanUnload(L"QarnComConnector.dll"), datatypes = CanUnload(L"QarnComDatatypes.dll");
    wprintf(L"DllCanUnloadNow: QarnComConnector.dll 0x%08lx, QarnComDatatypes.dll 0x%08lx\n", static_cast<unsigned long>(connector),
            static_cast<unsigned long>(datatypes));
    failures += connector != S_OK || datatypes != S_OK;
    if (failures == 0)
        wprintf(L"leak cycles: %zu classes x %ld cycles, none above %lld bytes per cycle, both DLLs unloadable "
                L"(with the platform's %lld bytes per hand-over from another apartment on top)\n",
                classes, kCycles, kBoundPerCycle, handOverBytes);
    else
        wprintf(L"leak cycles: %d failure(s)\n", failures);
    return failures ? 1 : 0;
}
