// The server called across apartments, with the calls marshaled by COM: from an MTA thread (our
// apartment-threaded objects then live in the main STA and are reached through proxies), from one
// STA into another through the Global Interface Table, and with a context list that lives in
// another apartment than the utilities object that reads it.
#include "HostSafety.h"

#include <algorithm>

namespace hostsafety {
namespace {

std::wstring Hex(HRESULT hr) {
    wchar_t text[16];
    swprintf(text, 16, L"0x%08lx", static_cast<unsigned long>(hr));
    return text;
}

// A proxy answers IMultiQI; our objects do not: the calls below really cross apartments.
void ExpectProxy(IUnknown* object, const wchar_t* what) {
    ComPtr<IMultiQI> proxy;
    Expect(SUCCEEDED(object->QueryInterface(IID_PPV_ARGS(&proxy))), std::wstring(what) + L" is not reached through a proxy");
}

std::wstring TextOf(IField* field, const wchar_t* what) {
    Expect(field != nullptr, std::wstring(what) + L" is missing");
    Str text;
    Check(field->get_StringValue(text.Out()), what);
    return std::wstring(text.View());
}

// The context of a part change as a caller hands it to GetXmlParameterList.
ComPtr<IParameterList> PartContext(const std::wstring& number) {
    auto fields = Create<IFieldCollection>(CLSID_FieldCollection, L"FieldCollection");
    const std::pair<const wchar_t*, std::wstring> values[] = {
        {L"PartNumber", number}, {L"ChangeNumber", L"ECN-" + number}, {L"Title", L"Bracket " + number}, {L"Mass", L"2.5"}};
    for (const auto& [name, value] : values) Check(fields->SetValue(Str(name), Var(Text(value))), L"SetValue");
    auto list = Create<IParameterList>(CLSID_ParameterList, L"ParameterList");
    Check(list->put_FieldCollection(fields.Get()), L"ParameterList.FieldCollection");
    return list;
}

ComPtr<IParameterList> ChangePart(IQarnUtilities* utilities, IParameterList* context) {
    ComPtr<IParameterList> list;
    Check(utilities->GetXmlParameterList(Str(L"Parts.xml"), Str(L"ChangePart"), context, &list),
          L"GetXmlParameterList(Parts.xml, ChangePart)");
    Expect(list != nullptr, L"GetXmlParameterList gave no list");
    return list;
}

std::wstring XmlOf(IParameterList* list) {
    Str xml;
    Check(list->get_Xml(xml.Out()), L"ParameterList.Xml");
    return std::wstring(xml.View());
}

// The names of a field collection's members, once through IEnumVARIANT and once by index.
void ExpectSameMembers(IFieldCollection* fields) {
    LONG count = 0;
    Check(fields->get_Count(&count), L"FieldCollection.Count");
    std::vector<std::wstring> byIndex, enumerated;
    for (LONG i = 1; i <= count; ++i) {
        ComPtr<IField> field;
        Check(fields->get_Item(i, &field), L"FieldCollection.Item");
        Str name;
        Check(field->get_Name(name.Out()), L"Field.Name");
        byIndex.emplace_back(name.View());
    }
    ComPtr<IUnknown> unknown;
    Check(fields->get__NewEnum(&unknown), L"FieldCollection._NewEnum");
    ComPtr<IEnumVARIANT> items;
    Check(unknown.As(&items), L"_NewEnum as IEnumVARIANT");
    for (;;) {
        VARIANT chunk[3] = {};
        ULONG got = 0;
        const HRESULT hr = items->Next(3, chunk, &got);
        Check(hr, L"IEnumVARIANT.Next");
        for (ULONG i = 0; i < got; ++i) {
            Var item(chunk[i]);
            ComPtr<IField> field;
            Expect(item.vt == VT_DISPATCH && item.pdispVal && SUCCEEDED(item.pdispVal->QueryInterface(IID_PPV_ARGS(&field))),
                   L"the enumerator gave something other than a field");
            Str name;
            Check(field->get_Name(name.Out()), L"Field.Name");
            enumerated.emplace_back(name.View());
        }
        if (hr == S_FALSE || got == 0) break;
    }
    Expect(count > 0 && enumerated == byIndex, L"the enumerator and the index give different members (" +
                                                   std::to_wstring(enumerated.size()) + L" and " +
                                                   std::to_wstring(byIndex.size()) + L")");
}

// What a part change built from `number` must hold: the plant's version of ChangePart merges its
// defaults into a copy of the context, keeping every value the context has.
void ExpectPartChange(IParameterList* list, const std::wstring& number) {
    ComPtr<IField> field;
    Check(list->GetField(Str(L"PartNumber"), &field), L"GetField(PartNumber)");
    Expect(TextOf(field.Get(), L"PartNumber") == number, L"PartNumber is not the context's");
    Check(list->GetField(Str(L"ChangeNumber"), &field), L"GetField(ChangeNumber)");
    Expect(TextOf(field.Get(), L"ChangeNumber") == L"ECN-" + number, L"the context's ChangeNumber was replaced");
    Check(list->GetField(Str(L"AuthorizationGroup"), &field), L"GetField(AuthorizationGroup)");
    Expect(TextOf(field.Get(), L"AuthorizationGroup") == L"CAD1", L"AuthorizationGroup is not the plant's default");
    Check(list->GetStructureField(Str(L"MRP_CONTROLLER"), Str(L"PLANTDATA"), &field), L"GetStructureField");
    Expect(TextOf(field.Get(), L"PLANTDATA.MRP_CONTROLLER") == L"D01", L"PLANTDATA.MRP_CONTROLLER is not the plant's default");
}

// The context itself is left as it was: four fields.
void ExpectUnchanged(IParameterList* context) {
    ComPtr<IFieldCollection> fields;
    Check(context->get_FieldCollection(&fields), L"ParameterList.FieldCollection");
    LONG count = 0;
    Check(fields->get_Count(&count), L"FieldCollection.Count");
    Expect(count == 4, L"the context list now has " + std::to_wstring(count) + L" fields instead of 4");
}

// IDispatch::Invoke by name; the description of a failure comes back in `description`.
HRESULT InvokeWithException(IDispatch* object, const wchar_t* name, std::vector<VARIANT> args, std::wstring& description) {
    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) {
        for (VARIANT& a : args) VariantClear(&a);
        return hr;
    }
    std::reverse(args.begin(), args.end());
    DISPPARAMS params{args.data(), nullptr, static_cast<UINT>(args.size()), 0};
    EXCEPINFO exception{};
    Var result;
    hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, &exception, nullptr);
    if (exception.pfnDeferredFillIn) exception.pfnDeferredFillIn(&exception);
    description = exception.bstrDescription ? exception.bstrDescription : L"";
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    for (VARIANT& a : args) VariantClear(&a);
    return hr;
}

// Text results, data-type objects in both directions and an enumerator, all called from an MTA.
void FromTheMta(Report& report) {
    RunThreads(report, 1, COINIT_MULTITHREADED, [](int) {
        auto utilities = Create<IQarnUtilities>(CLSID_CQarnUtilities, L"CQarnUtilities from the MTA");
        ExpectProxy(utilities.Get(), L"CQarnUtilities made in the MTA");
        Str root, trimmed, folder;
        Check(utilities->GetRootDir(root.Out()), L"GetRootDir");
        Expect(root.View() == InstallationRoot(), L"GetRootDir gave \"" + std::wstring(root.View()) + L"\"");
        Check(utilities->TrimLeftAndRight(Str(L"**Qarn*Connector**"), Str(L"*"), trimmed.Out()), L"TrimLeftAndRight");
        Expect(trimmed.View() == L"Qarn*Connector", L"TrimLeftAndRight gave \"" + std::wstring(trimmed.View()) + L"\"");
        Check(utilities->GetPathByFullname(Str(L"C:\\Temp\\myFolder\\myFile.txt"), folder.Out()), L"GetPathByFullname");
        Expect(folder.View() == L"C:\\Temp\\myFolder", L"GetPathByFullname gave \"" + std::wstring(folder.View()) + L"\"");

        // A list built here goes in as the context; the list built there comes back.
        ComPtr<IParameterList> context = PartContext(L"MTA-100");
        ExpectProxy(context.Get(), L"ParameterList made in the MTA");
        ComPtr<IParameterList> list = ChangePart(utilities.Get(), context.Get());
        ExpectPartChange(list.Get(), L"MTA-100");
        ExpectUnchanged(context.Get());
        ComPtr<IFieldCollection> fields;
        Check(list->get_FieldCollection(&fields), L"ParameterList.FieldCollection");
        ExpectSameMembers(fields.Get());
    });
}

// An interface marshaled from one STA into another through the Global Interface Table, including
// a failing call whose description arrives in Invoke's EXCEPINFO.
void BetweenStas(Report& report) {
    ComPtr<IGlobalInterfaceTable> table;
    Check(CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&table)),
          L"the Global Interface Table");
    DWORD cookie = 0;
    HANDLE published = CreateEventW(nullptr, TRUE, FALSE, nullptr), finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    struct Signal {
        HANDLE h;
        ~Signal() { SetEvent(h); }
    };
    RunThreads(report, 2, COINIT_APARTMENTTHREADED, [&](int index) {
        if (index == 0) {
            // The owner: keeps serving the other apartment's calls until it is done.
            {
                Signal done{published};
                auto utilities = Create<IQarnUtilities>(CLSID_CQarnUtilities, L"CQarnUtilities");
                Check(table->RegisterInterfaceInGlobal(utilities.Get(), __uuidof(IQarnUtilities), &cookie),
                      L"RegisterInterfaceInGlobal");
            }
            const bool ended = PumpingWait(finished, 30000);
            if (cookie) table->RevokeInterfaceFromGlobal(cookie);
            Expect(ended, L"the caller's apartment did not finish");
            return;
        }
        Signal done{finished};
        Expect(PumpingWait(published, 30000) && cookie, L"the object was not published");
        ComPtr<IQarnUtilities> utilities;
        Check(table->GetInterfaceFromGlobal(cookie, IID_PPV_ARGS(&utilities)), L"GetInterfaceFromGlobal");
        ExpectProxy(utilities.Get(), L"CQarnUtilities of the other STA");
        Str root;
        Check(utilities->GetRootDir(root.Out()), L"GetRootDir");
        Expect(root.View() == InstallationRoot(), L"GetRootDir gave \"" + std::wstring(root.View()) + L"\"");

        const std::wstring missing = ScratchFolder() + L"\\no such file.txt";
        const HRESULT direct = utilities->FileRemove(Str(missing));
        Expect(direct == DISP_E_EXCEPTION, L"FileRemove of a missing file through the proxy returned " + Hex(direct));
        SetErrorInfo(0, nullptr);
        ComPtr<IDispatch> dispatch;
        Check(utilities.As(&dispatch), L"IDispatch of the proxy");
        std::wstring description;
        const HRESULT hr = InvokeWithException(dispatch.Get(), L"FileRemove", {Text(missing)}, description);
        Expect(hr == DISP_E_EXCEPTION, L"Invoke(FileRemove) of a missing file returned " + Hex(hr));
        Expect(description.find(missing) != std::wstring::npos && description.find(L"CQarnUtilities::FileRemove") != std::wstring::npos,
               L"the failure's description did not arrive in EXCEPINFO: \"" + description + L"\"");
    });
    CloseHandle(published);
    CloseHandle(finished);
}

// Parameter lists whose context list lives in this (the main) apartment while the utilities
// object and its caller are in another STA: every item of the context is a proxy there. The
// plant's ChangePart merges into a copy of the context, which therefore lives in the main
// apartment too; under Wine each interface that crosses costs milliseconds, so the calls stop after
// kMaxCalls or, once kMinCalls are done, after kSeconds.
void ContextFromAnotherApartment(Report& report) {
    constexpr int kMinCalls = 25, kMaxCalls = 200;
    constexpr double kSeconds = 4.0;
    constexpr int kHandleSlack = 16;  // a leak of one handle per call shows as 25 or more
    ComPtr<IGlobalInterfaceTable> table;
    Check(CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&table)),
          L"the Global Interface Table");
    ComPtr<IParameterList> owned = PartContext(L"STA-200");
    DWORD cookie = 0;
    Check(table->RegisterInterfaceInGlobal(owned.Get(), __uuidof(IParameterList), &cookie), L"RegisterInterfaceInGlobal");
    RunThreads(report, 1, COINIT_APARTMENTTHREADED, [&](int) {
        ComPtr<IParameterList> remote;
        Check(table->GetInterfaceFromGlobal(cookie, IID_PPV_ARGS(&remote)), L"GetInterfaceFromGlobal");
        ExpectProxy(remote.Get(), L"the context list of the main apartment");
        auto utilities = Create<IQarnUtilities>(CLSID_CQarnUtilities, L"CQarnUtilities");
        const std::wstring expected = XmlOf(ChangePart(utilities.Get(), PartContext(L"STA-200").Get()).Get());
        ExpectPartChange(ChangePart(utilities.Get(), remote.Get()).Get(), L"STA-200");
        // A few calls first: what COM sets up once per interface and apartment is then in place.
        for (int i = 0; i < 3; ++i) ChangePart(utilities.Get(), remote.Get());

        const int handlesBefore = HandleCount();
        const ULONGLONG start = GetTickCount64();
        int calls = 0, different = 0;
        for (Deadline end(kSeconds); calls < kMaxCalls && (calls < kMinCalls || end.Running()); ++calls)
            different += XmlOf(ChangePart(utilities.Get(), remote.Get()).Get()) != expected;
        const ULONGLONG elapsed = GetTickCount64() - start;
        const int grown = HandleCount() - handlesBefore;
        report.Note(std::to_wstring(calls) + L" calls with a context list from another apartment: " +
                    std::to_wstring(elapsed * 1000 / calls) + L" us per call, handles " + (grown >= 0 ? L"+" : L"") +
                    std::to_wstring(grown));
        ExpectUnchanged(remote.Get());
        Expect(different == 0, std::to_wstring(different) + L" answers differ from the one with a local context list");
        Expect(grown <= kHandleSlack, L"the process holds " + std::to_wstring(grown) + L" more handles after " +
                                          std::to_wstring(calls) + L" calls");
    });
    table->RevokeInterfaceFromGlobal(cookie);
}

void Apartments(Report& report) {
    report.Guard(L"MTA caller", [&] { FromTheMta(report); });
    report.Guard(L"between two STAs", [&] { BetweenStas(report); });
    report.Guard(L"context list from another apartment", [&] { ContextFromAnotherApartment(report); });
}

}  // namespace

HOST_SAFETY_SECTION(50, "MTA callers and interfaces between apartments", Apartments);

}  // namespace hostsafety
