// The server called across apartments, with the calls marshaled by COM: from an MTA thread (our
// apartment-threaded objects then live in the main STA and are reached through proxies), from one
// STA into another through the Global Interface Table, and with a context list that lives in
// another apartment than the utilities object that reads it.
#include "HostSafety.h"
#include "MixedWork.h"

namespace hostsafety {
namespace {

using mixedwork::Worker;

// A proxy answers IMultiQI; our objects do not: the calls below really cross apartments.
void ExpectProxy(IUnknown* object, const wchar_t* what) {
    ComPtr<IMultiQI> proxy;
    Expect(SUCCEEDED(object->QueryInterface(IID_PPV_ARGS(&proxy))), std::wstring(what) + L" is not reached through a proxy");
}

// The plant's ChangePart merged into a copy of the context (what the merge keeps is the unit
// tests' matter; here it must be the same whichever apartment the objects live in): the list's XML.
std::wstring ChangePart(IQarnUtilities* utilities, IParameterList* context) {
    ComPtr<IParameterList> list;
    Check(utilities->GetXmlParameterList(Str(L"Parts.xml"), Str(L"ChangePart"), context, &list), L"GetXmlParameterList");
    Expect(list != nullptr, L"GetXmlParameterList gave no list");
    Str xml;
    Check(list->get_Xml(xml.Out()), L"ParameterList.Xml");
    return std::wstring(xml.View());
}

// Text results, data-type objects in both directions and an enumerator, all called from an MTA.
void FromTheMta(Report& report) {
    const std::wstring expected = ChangePart(Create<IQarnUtilities>(CLSID_CQarnUtilities).Get(), Worker::Part(1).Get());
    RunThreads(report, 1, COINIT_MULTITHREADED, [&](int) {
        auto utilities = Create<IQarnUtilities>(CLSID_CQarnUtilities);
        ExpectProxy(utilities.Get(), L"CQarnUtilities made in the MTA");
        Str root;
        Check(utilities->GetRootDir(root.Out()), L"GetRootDir");
        Expect(root.View() == InstallationRoot(), L"GetRootDir gave \"" + std::wstring(root.View()) + L"\"");
        ComPtr<IParameterList> context = Worker::Part(1);
        ExpectProxy(context.Get(), L"ParameterList made in the MTA");
        Expect(ChangePart(utilities.Get(), context.Get()) == expected, L"the list differs from the one made in the main STA");
        // The context's fields through their enumerator: three fields, each an IField.
        ComPtr<IFieldCollection> fields;
        ComPtr<IUnknown> unknown;
        ComPtr<IEnumVARIANT> items;
        Check(context->get_FieldCollection(&fields), L"FieldCollection");
        Check(fields->get__NewEnum(&unknown), L"_NewEnum");
        Check(unknown.As(&items), L"IEnumVARIANT");
        VARIANT chunk[8] = {};
        ULONG got = 0;
        Check(items->Next(8, chunk, &got), L"IEnumVARIANT.Next");
        int fieldsSeen = 0;
        for (ULONG i = 0; i < got; ++i) {
            Var item(chunk[i]);
            ComPtr<IField> field;
            fieldsSeen += item.vt == VT_DISPATCH && item.pdispVal && SUCCEEDED(item.pdispVal->QueryInterface(IID_PPV_ARGS(&field)));
        }
        Expect(got == 3 && fieldsSeen == 3, L"the enumerator did not give the three fields");
    });
}

// An interface marshaled from one STA into another through the Global Interface Table, including
// a failing call whose description arrives in Invoke's EXCEPINFO (under Wine the error object
// itself does not cross apartments).
void BetweenStas(Report& report) {
    DWORD cookie = 0;
    Barrier published(2), finished(2);
    RunThreads(report, 2, COINIT_APARTMENTTHREADED, [&](int index) {
        ComPtr<IGlobalInterfaceTable> git = Git();
        if (index == 0) {
            // The owner: serves the other apartment's calls while it waits.
            Barrier::OnExit done{finished};
            Check(git->RegisterInterfaceInGlobal(Create<IQarnUtilities>(CLSID_CQarnUtilities).Get(), IID_IQarnUtilities,
                                                 &cookie),
                  L"RegisterInterfaceInGlobal");
            published.Arrive();
            return;
        }
        Barrier::OnExit done{finished};
        published.Arrive();
        ComPtr<IDispatch> utilities;
        Check(git->GetInterfaceFromGlobal(cookie, IID_PPV_ARGS(&utilities)), L"GetInterfaceFromGlobal");
        git->RevokeInterfaceFromGlobal(cookie);
        ExpectProxy(utilities.Get(), L"CQarnUtilities of the other STA");
        const std::wstring missing = ScratchFolder() + L"\\no such file.txt";
        DISPID id = 0;
        LPOLESTR names[] = {const_cast<LPOLESTR>(L"FileRemove")};
        Check(utilities->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), L"GetIDsOfNames");
        Var arg(Text(missing));
        DISPPARAMS params{&arg, nullptr, 1, 0};
        EXCEPINFO exception{};
        const HRESULT hr = utilities->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, &exception, nullptr);
        const std::wstring description = exception.bstrDescription ? exception.bstrDescription : L"";
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrHelpFile);
        Expect(hr == DISP_E_EXCEPTION && description.find(missing) != std::wstring::npos &&
                   description.find(L"CQarnUtilities::FileRemove") != std::wstring::npos,
               L"the failure's description did not arrive in EXCEPINFO: \"" + description + L"\"");
    });
}

// Parameter lists whose context list lives in this (the main) apartment while the utilities
// object is in another STA: every item of the context is a proxy there, and our collections must
// treat it as a foreign member without asking it for private interfaces (which leaked handles).
// Under Wine each interface that crosses costs milliseconds: at least kMinCalls, at most 4 seconds.
void ContextFromAnotherApartment(Report& report) {
    constexpr int kMinCalls = 25, kHandleSlack = 16;  // a leak of one handle per call shows as 25 or more
    ComPtr<IGlobalInterfaceTable> git = Git();
    DWORD cookie = 0;
    Check(git->RegisterInterfaceInGlobal(Worker::Part(2).Get(), IID_IParameterList, &cookie), L"GIT");
    RunThreads(report, 1, COINIT_APARTMENTTHREADED, [&](int) {
        ComPtr<IParameterList> remote;
        Check(git->GetInterfaceFromGlobal(cookie, IID_PPV_ARGS(&remote)), L"GetInterfaceFromGlobal");
        ExpectProxy(remote.Get(), L"the context list of the main apartment");
        auto utilities = Create<IQarnUtilities>(CLSID_CQarnUtilities);
        const std::wstring expected = ChangePart(utilities.Get(), Worker::Part(2).Get());
        // A few calls first: what COM sets up once per interface and apartment is then in place.
        for (int i = 0; i < 3; ++i) ChangePart(utilities.Get(), remote.Get());
        const int handlesBefore = HandleCount();
        const ULONGLONG start = GetTickCount64();
        int calls = 0;
        for (Deadline end(4); calls < kMinCalls || (end.Running() && calls < 200); ++calls)
            Expect(ChangePart(utilities.Get(), remote.Get()) == expected,
                   L"the list differs from the one with a local context list");
        const int grown = HandleCount() - handlesBefore;
        report.Note(std::to_wstring(calls) + L" calls with a context list from another apartment: " +
                    std::to_wstring((GetTickCount64() - start) * 1000 / calls) + L" us per call, handles " +
                    std::to_wstring(grown));
        Expect(grown <= kHandleSlack, L"the process holds " + std::to_wstring(grown) + L" more handles after " +
                                          std::to_wstring(calls) + L" calls");
    });
    git->RevokeInterfaceFromGlobal(cookie);
}

void Apartments(Report& report) {
    report.Guard(L"MTA caller", [&] { FromTheMta(report); });
    report.Guard(L"between two STAs", [&] { BetweenStas(report); });
    report.Guard(L"context list from another apartment", [&] { ContextFromAnotherApartment(report); });
}

}  // namespace

HOST_SAFETY_SECTION(50, "MTA callers and interfaces between apartments", Apartments);

}  // namespace hostsafety
