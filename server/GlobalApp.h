// The process-wide holder of the application object and the cached connectors.
#pragma once

#include "server/Interfaces.h"

// The cache itself. Exactly one lives for the whole process (TheGlobalApp); it is reached only by
// code inside this DLL and is not reference-counted.
class GlobalApp {
public:
    enum Connector { SAP, TCE, Matrix, CEE, Agile9, Aras, VariPDM, Windchill, GT, ConnectorCount };

    IQarnComApplication* get_Application() const noexcept { return application_.Get(); }
    void set_Application(IQarnComApplication* app) noexcept { application_ = app; }
    IDispatch* GetConnector(Connector which) const noexcept { return connectors_[which].Get(); }
    void SetConnector(Connector which, IDispatch* connector) noexcept { connectors_[which] = connector; }
    long Counter() const noexcept { return counter_; }
    void SetCounter(long value) noexcept { counter_ = value; }

    // Releases the connectors (SAP, TCE, Matrix, CEE), then the application, then the rest, and
    // returns to the initial state.
    void Reset() noexcept;
    // At process exit the objects may belong to DLLs already gone: forget them without release.
    void Abandon() noexcept;

private:
    qarn::ComPtr<IQarnComApplication> application_;
    qarn::ComPtr<IDispatch> connectors_[ConnectorCount];
    long counter_ = 0;
};

GlobalApp& TheGlobalApp() noexcept;

// The creatable class: a client that creates it gets an empty instance of its own.
class CGlobalApp : public qarn::ComObject<CGlobalApp, IGlobalApp>, public GlobalApp {};
