// The process-wide holder of the application object and the cached connectors.
//
// Hosts use the server from several apartments at once. The objects held here are made in the DLL's
// own apartment (base/HomeApartment.h) and kept in the process's Global Interface Table: every
// apartment that asks gets its own reference, a proxy served by the DLL's own thread, and that
// thread gets the object itself. The table of cookies is guarded by one lock that is never held
// across a call into an object, and every reader leaves with a reference of its own.
#pragma once

#include "base/ConnectorInterfaces.h"

#include <atomic>
#include <mutex>
#include <vector>

class GlobalApp {
public:
    enum Connector { SAP, TCE, Matrix, CEE, Agile9, Aras, VariPDM, Windchill, GT, ConnectorCount };

    GlobalApp() = default;
    GlobalApp(const GlobalApp&) = delete;
    GlobalApp& operator=(const GlobalApp&) = delete;

    // The application as the calling apartment may use it, or null when there is none. An
    // application whose apartment has ended (its creating thread left COM) is dropped and counts
    // as none. Fails, with the thread's error object set, when it exists but cannot be reached
    // from here.
    HRESULT Application(qarn::ComPtr<IQarnComApplication>* app);
    // Stores the application; the one stored before, if any, is let go.
    HRESULT SetApplication(IQarnComApplication* app);
    // Changes whenever the application is stored or let go (never 0): a holder of an earlier
    // answer of Application knows that it is still the process's application while this is unchanged.
    unsigned long ApplicationGeneration() const noexcept { return applicationGeneration_.load(); }
    HRESULT GetConnector(Connector which, qarn::ComPtr<IDispatch>* connector);
    HRESULT SetConnector(Connector which, IDispatch* connector);
    // Whether a call failed because the object's apartment has ended: nobody can call it any more.
    static bool Disconnected(HRESULT hr) noexcept;

    // Lets go of the connectors (SAP, TCE, Matrix, CEE), then the application, then the rest, and
    // returns to the initial state. E_OUTOFMEMORY when memory runs out on the way: the objects not
    // let go yet stay as they are, and a later call finishes the job.
    HRESULT Reset() noexcept;
    // When the DLL goes away the objects may belong to apartments or DLLs already gone: forget
    // them without a call.
    void Abandon() noexcept;

    // Whether the process keeps an application or a connector.
    bool Empty() noexcept;

    static constexpr int kApplicationEntry = ConnectorCount;

private:
    static constexpr int kEntries = ConnectorCount + 1;

    // One entry of the table. A cookie taken out while some thread still unmarshals from the
    // entry is revoked by the last such thread: a proxy that is being made must get its own
    // references before the table lets go of the object (else it may end up disconnected).
    struct Slot {
        DWORD cookie = 0;  // Global Interface Table cookie; 0: empty
        int readers = 0;   // threads unmarshaling from this entry now
        std::vector<DWORD> retired;
    };

    HRESULT Get(int entry, REFIID iid, void** object);
    HRESULT Set(int entry, IUnknown* object);
    // Takes the cookie out of the slot when it is still `cookie` (0: whatever it holds); gives the
    // cookies to revoke now (the others wait for the slot's last reader). Called under the lock;
    // true when a cookie was taken. Throws std::bad_alloc, with the slot as it was, when the cookie
    // cannot be noted for revoking.
    bool Retire(Slot& slot, DWORD cookie, std::vector<DWORD>& revokeNow);
    static void Revoke(const std::vector<DWORD>& cookies) noexcept;
    // Called under the lock whenever the application entry changes.
    void NextApplicationGeneration() noexcept;

    std::mutex lock_;
    Slot slots_[kEntries];
    std::atomic<unsigned long> applicationGeneration_{1};
};

GlobalApp& TheGlobalApp() noexcept;

// The creatable class: a client that creates it gets an empty instance of its own.
class CGlobalApp : public qarn::ComObject<CGlobalApp, IGlobalApp>, public GlobalApp {};
