// CQarnClassFactory: creates the shared application and the cached PLM connectors.
#pragma once

#include "server/Interfaces.h"

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
    qarn::LogSettings log_;
};
