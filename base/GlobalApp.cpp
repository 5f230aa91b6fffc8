#include "base/GlobalApp.h"

#include "base/OwnContext.h"
#include "WineSeam.h"

#include <utility>

using namespace qarn;

namespace {

GlobalApp g_globalApp;

constexpr const wchar_t* kEntryNames[] = {L"SAP connector",      L"TCE connector",     L"Matrix connector",
                                          L"CEE connector",      L"Agile9 connector",  L"Aras connector",
                                          L"VariPDM connector",  L"Windchill connector", L"GT connector",
                                          L"application object"};

HRESULT Git(ComPtr<IGlobalInterfaceTable>* git) {
    return CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&*git));
}

}  // namespace

bool GlobalApp::Disconnected(HRESULT hr) noexcept { return wine_seam::ApartmentEnded(hr); }

namespace {

HRESULT Unreachable(int entry, const wchar_t* step, HRESULT hr) {
    SetErrorDescription(Format(L"The %s cannot be %s in this apartment: 0x%08X.", kEntryNames[entry], step,
                               static_cast<unsigned>(hr))
                            .c_str());
    return hr;
}

}  // namespace

GlobalApp& TheGlobalApp() noexcept { return g_globalApp; }

void GlobalApp::NextApplicationGeneration() noexcept {
    unsigned long next = applicationGeneration_.load() + 1;
    if (next == 0) next = 1;  // 0 is what a holder that never asked remembers
    applicationGeneration_.store(next);
}

void GlobalApp::Revoke(const std::vector<DWORD>& cookies) noexcept {
    if (cookies.empty()) return;
    ComPtr<IGlobalInterfaceTable> git;
    if (FAILED(Git(&git))) return;
    // Revoking lets go of the table's reference; holders in other apartments keep theirs.
    for (DWORD cookie : cookies) git->RevokeInterfaceFromGlobal(cookie);
}

bool GlobalApp::Retire(Slot& slot, DWORD cookie, std::vector<DWORD>& revokeNow) {
    if (!slot.cookie || (cookie && slot.cookie != cookie)) return false;
    // Noted first: a cookie that could not be revoked would keep its object for good.
    (slot.readers > 0 ? slot.retired : revokeNow).push_back(slot.cookie);
    slot.cookie = 0;
    if (&slot == &slots_[kApplicationEntry]) NextApplicationGeneration();
    return true;
}

HRESULT GlobalApp::Get(int entry, REFIID iid, void** object) {
    *object = nullptr;
    ComPtr<IGlobalInterfaceTable> git;
    HRESULT hr = Git(&git);
    if (FAILED(hr)) return Unreachable(entry, L"reached", hr);
    Slot& slot = slots_[entry];
    DWORD cookie;
    {
        std::lock_guard<std::mutex> guard(lock_);
        cookie = slot.cookie;
        if (!cookie) return S_OK;
        ++slot.readers;
    }
    hr = git->GetInterfaceFromGlobal(cookie, iid, object);
    if (FAILED(hr)) *object = nullptr;
    std::vector<DWORD> revoke;
    {
        std::lock_guard<std::mutex> guard(lock_);
        // The object's apartment has ended: nobody can call it any more, there is none now (when
        // memory runs out, the next call tries again).
        try {
            if (Disconnected(hr)) Retire(slot, cookie, revoke);
        } catch (...) {
        }
        if (--slot.readers == 0) {
            try {
                revoke.insert(revoke.end(), slot.retired.begin(), slot.retired.end());
                slot.retired.clear();
            } catch (...) {
            }
        }
    }
    Revoke(revoke);
    // E_INVALIDARG: taken out meanwhile (Destroy in another apartment), there is none now.
    if (SUCCEEDED(hr) || hr == E_INVALIDARG || Disconnected(hr)) return S_OK;
    return Unreachable(entry, L"reached", hr);
}

HRESULT GlobalApp::Set(int entry, IUnknown* object) {
    ComPtr<IGlobalInterfaceTable> git;
    HRESULT hr = Git(&git);
    if (FAILED(hr)) return Unreachable(entry, L"kept", hr);
    DWORD cookie = 0;
    std::vector<DWORD> revoke;
    try {
        revoke.reserve(1);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    if (object) {
        // Kept as the seam's interface and asked for `iid` by each apartment.
        hr = git->RegisterInterfaceInGlobal(object, wine_seam::kTravelsAs, &cookie);
        if (FAILED(hr)) return Unreachable(entry, L"kept", hr);
    }
    bool kept = true;
    {
        std::lock_guard<std::mutex> guard(lock_);
        try {
            // Retiring a stored application already moves the generation on.
            if (!Retire(slots_[entry], 0, revoke) && entry == kApplicationEntry) NextApplicationGeneration();
            slots_[entry].cookie = cookie;
        } catch (...) {
            // The entry stays as it was; the new object is let go again (room reserved above).
            revoke.assign(cookie ? 1 : 0, cookie);
            kept = false;
        }
    }
    Revoke(revoke);
    return kept ? S_OK : E_OUTOFMEMORY;
}

HRESULT GlobalApp::Application(ComPtr<IQarnComApplication>* app) {
    // From another apartment the application arrives through a proxy of our interface.
    const OwnContext context;
    return Get(kApplicationEntry, IID_IQarnComApplication, reinterpret_cast<void**>(app->ReleaseAndGetAddressOf()));
}

HRESULT GlobalApp::SetApplication(IQarnComApplication* app) {
    return Set(kApplicationEntry, app);
}

HRESULT GlobalApp::GetConnector(Connector which, ComPtr<IDispatch>* connector) {
    return Get(which, IID_IDispatch, reinterpret_cast<void**>(connector->ReleaseAndGetAddressOf()));
}

HRESULT GlobalApp::SetConnector(Connector which, IDispatch* connector) { return Set(which, connector); }

HRESULT GlobalApp::Reset() noexcept {
    std::vector<DWORD> revoke;
    HRESULT hr = S_OK;
    {
        std::lock_guard<std::mutex> guard(lock_);
        try {
            revoke.reserve(kEntries);
            for (int entry : {int(SAP), int(TCE), int(Matrix), int(CEE), kApplicationEntry, int(Agile9), int(Aras),
                              int(VariPDM), int(GT), int(Windchill)})
                Retire(slots_[entry], 0, revoke);
        } catch (...) {
            hr = E_OUTOFMEMORY;
        }
    }
    Revoke(revoke);
    return hr;
}

bool GlobalApp::Empty() noexcept {
    std::lock_guard<std::mutex> guard(lock_);
    for (const Slot& slot : slots_)
        if (slot.cookie || !slot.retired.empty()) return false;
    return true;
}

void GlobalApp::Abandon() noexcept {
    std::lock_guard<std::mutex> guard(lock_);
    for (Slot& slot : slots_) {
        slot.cookie = 0;
        slot.retired.clear();
    }
}
