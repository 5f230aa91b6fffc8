// CQarnClassFactory: creates the shared application and the cached PLM connectors.
#include "config/ClassFactory.h"

using namespace qarn;

HRESULT CQarnClassFactory::FinalConstruct() {
    return MethodFrame(L"CQarnClassFactory::FinalConstruct", [&] { log_.InitFromEnvironment(); });
}

STDMETHODIMP CQarnClassFactory::Create(IQarnComApplication **ppApp) {
    return MethodFrame(L"CQarnClassFactory::Create", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnClassFactory::Destroy() {
    return MethodFrame(L"CQarnClassFactory::Destroy", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnClassFactory::CreateSAPConnector(IDispatch **ppSAPConnector) {
    return MethodFrame(L"CQarnClassFactory::CreateSAPConnector", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnClassFactory::CreateTCEConnector(IDispatch **ppTCEConnector) {
    return MethodFrame(L"CQarnClassFactory::CreateTCEConnector", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnClassFactory::CreateMatrixConnector(IDispatch **ppMatrixConnector) {
    return MethodFrame(L"CQarnClassFactory::CreateMatrixConnector", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnClassFactory::CreateCEEConnector(BSTR handlerClass, IFieldCollection *pEnvironment, IDispatch **ppCEEConnector) {
    return MethodFrame(L"CQarnClassFactory::CreateCEEConnector", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnClassFactory::CreateAgile9Connector(IDispatch **ppAgile9Connector) {
    return MethodFrame(L"CQarnClassFactory::CreateAgile9Connector", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnClassFactory::CreateArasConnector(IDispatch **ppArasConnector) {
    return MethodFrame(L"CQarnClassFactory::CreateArasConnector", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnClassFactory::CreateVariPDMConnector(IDispatch **ppVariPDMConnector) {
    return MethodFrame(L"CQarnClassFactory::CreateVariPDMConnector", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnClassFactory::WriteLogMessage(LONG logLevel, BSTR msg) {
    return MethodFrame(L"CQarnClassFactory::WriteLogMessage", [&] { CHECK_HR(log_.Write(logLevel, msg)); });
}

STDMETHODIMP CQarnClassFactory::CreateSAPConnector2(IDispatch **ppSAPConnector) {
    return MethodFrame(L"CQarnClassFactory::CreateSAPConnector2", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnClassFactory::CreateWindchillConnector(IDispatch **ppWindchillConnector) {
    return MethodFrame(L"CQarnClassFactory::CreateWindchillConnector", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnClassFactory::CreateGTConnector(BSTR handlerClass, IFieldCollection *pEnvironment, IDispatch **ppGTConnector) {
    return MethodFrame(L"CQarnClassFactory::CreateGTConnector", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnClassFactory::CreateClassByIndex(int index, BSTR *ppClassname, IDispatch **ppRes) {
    return MethodFrame(L"CQarnClassFactory::CreateClassByIndex", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnClassFactory::CreateClassByString(BSTR className, BSTR iidString, IDispatch **ppRes) {
    return MethodFrame(L"CQarnClassFactory::CreateClassByString", [&] { ThrowNotImplemented(); });
}
