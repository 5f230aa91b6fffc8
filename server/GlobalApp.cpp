#include "server/GlobalApp.h"

namespace {
GlobalApp g_globalApp;
}

GlobalApp& TheGlobalApp() noexcept { return g_globalApp; }

void GlobalApp::Reset() noexcept {
    for (Connector c : {SAP, TCE, Matrix, CEE}) connectors_[c].Reset();
    application_.Reset();
    for (Connector c : {Agile9, Aras, VariPDM, GT, Windchill}) connectors_[c].Reset();
    counter_ = 0;
}

void GlobalApp::Abandon() noexcept {
    for (auto& c : connectors_) c.Detach();
    application_.Detach();
}
