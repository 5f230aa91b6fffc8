// CQarnClassFactory: creates the shared application and the cached PLM connectors.
#pragma once

#include "base/GlobalApp.h"
#include "base/ConnectorInterfaces.h"

class CQarnClassFactory : public qarn::ComObject<CQarnClassFactory, IQarnClassFactory> {
public:
    HRESULT FinalConstruct();

    STDMETHODIMP Create(IQarnComApplication **ppApp) override;
    STDMETHODIMP Destroy() override;
    STDMETHODIMP CreateSAPConnector(IDispatch **ppSAPConnector) override;
    STDMETHODIMP CreateTCEConnector(IDispatch **ppTCEConnector) override;
    STDMETHODIMP CreateMatrixConnector(IDispatch **ppMatrixConnector) override;
    STDMETHODIMP CreateCEEConnector(BSTR handlerClass, IFieldCollection *pEnvironment, IDispatch **ppCEEConnector) override;
    STDMETHODIMP CreateAgile9Connector(IDispatch **ppAgile9Connector) override;
    STDMETHODIMP CreateArasConnector(IDispatch **ppArasConnector) override;
    STDMETHODIMP CreateVariPDMConnector(IDispatch **ppVariPDMConnector) override;
    STDMETHODIMP WriteLogMessage(LONG logLevel, BSTR msg) override;
    STDMETHODIMP CreateSAPConnector2(IDispatch **ppSAPConnector) override;
    STDMETHODIMP CreateWindchillConnector(IDispatch **ppWindchillConnector) override;
    STDMETHODIMP CreateGTConnector(BSTR handlerClass, IFieldCollection *pEnvironment, IDispatch **ppGTConnector) override;
    STDMETHODIMP CreateClassByIndex(int index, BSTR *ppClassname, IDispatch **ppRes) override;
    STDMETHODIMP CreateClassByString(BSTR className, BSTR iidString, IDispatch **ppRes) override;

private:
    // What the factory does with a connector right after creating it.
    enum class Preparation { None, Prepare, SetHandler };

    // The steps every connector method shares: the cache entry, creation by class index, the
    // preparation, and the trace lines for `method` (the member's name without the class).
    HRESULT CreateConnector(const wchar_t* method, int index, GlobalApp::Connector entry, Preparation preparation,
                            BSTR handlerClass, IFieldCollection* environment, IDispatch** result);
    // On the home thread: the application, read, its start commands run, read again and kept for
    // the process.
    qarn::ComPtr<IQarnComApplication> CreateApplication();
    // On the home thread: connector `index` made, prepared and kept for the process (null when its
    // class hands out nothing).
    qarn::ComPtr<IDispatch> MakeConnector(int index, GlobalApp::Connector entry, Preparation preparation,
                                          BSTR handlerClass, IFieldCollection* environment);
    // Runs the ";"-separated start commands from the installation's xml folder, one after the other.
    void RunStartCommands(std::wstring_view commands);
    void Trace(const std::wstring& text) const noexcept { log_.Trace(text.c_str()); }

    qarn::LogSettings log_;
};
