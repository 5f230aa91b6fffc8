// The generic PLM, search and CAD adapter classes: empty implementations of interfaces that other
// components implement for real. Every method accepts its call and does nothing: it reads no
// argument, writes no output (an [out] pointer keeps what the caller put there) and sets no error.
#pragma once

#include "base/ConnectorInterfaces.h"

class CQarnGenericPlmInterface : public qarn::ComObject<CQarnGenericPlmInterface, IQarnGenericPlmInterface> {
public:
    STDMETHODIMP LockObject(IQarnDocument*, IQarnDocument**) override { return S_OK; }
    STDMETHODIMP UnlockObject(IQarnDocument*, IQarnDocument**) override { return S_OK; }
    STDMETHODIMP GetMetaData(IQarnDocument*, IQarnDocument**) override { return S_OK; }
    STDMETHODIMP ReviseObject(IQarnDocument*, IQarnDocument**) override { return S_OK; }
    STDMETHODIMP CreateObject(IQarnDocument*, IQarnDocument**) override { return S_OK; }
    STDMETHODIMP Connect(IQarnDocument*, IQarnDocument**) override { return S_OK; }
    STDMETHODIMP Disconnect(IQarnDocument*, IQarnDocument**) override { return S_OK; }
    STDMETHODIMP CopyObject(IQarnDocument*, IQarnDocument**) override { return S_OK; }
    STDMETHODIMP DisplayObject(IQarnDocument*, IQarnDocument**) override { return S_OK; }
    STDMETHODIMP IsConnected(IQarnDocument*, IQarnDocument**) override { return S_OK; }
    STDMETHODIMP CheckIn(IQarnDocument*, IQarnDocument**) override { return S_OK; }
    STDMETHODIMP CheckOut(IQarnDocument*, IQarnDocument**) override { return S_OK; }
    STDMETHODIMP AddSessionParameter(IQarnDocument*) override { return S_OK; }
    STDMETHODIMP GetSessionParameter(IQarnDocument**) override { return S_OK; }
    STDMETHODIMP GetUser(IQarnDocument**) override { return S_OK; }
};

class CQarnGenericSearchInterface
    : public qarn::ComObject<CQarnGenericSearchInterface, IQarnGenericSearchInterface> {
public:
    STDMETHODIMP StartSearch(IQarnDocument*, IQarnDocument**) override { return S_OK; }
    STDMETHODIMP CopyObject(IQarnDocument*, IQarnDocument**) override { return S_OK; }
    STDMETHODIMP DownloadThumbnail(IQarnDocument*, IQarnDocument**) override { return S_OK; }
    STDMETHODIMP GetResources(IQarnDocument*, IQarnDocument**) override { return S_OK; }
    STDMETHODIMP GetSearchDefaultValues(IQarnDocument**) override { return S_OK; }
    STDMETHODIMP PutSearchDefaultValues(IQarnDocument*) override { return S_OK; }
    STDMETHODIMP LoadStructure(IQarnDocument*, IQarnDocument**) override { return S_OK; }
};

// Not dual: reachable through its vtable only.
class CQarnCommonCADAdapter : public qarn::ComObject<CQarnCommonCADAdapter, IQarnCommonCADAdapter> {
public:
    STDMETHODIMP get_CadIdentifier(BSTR*) override { return S_OK; }
    STDMETHODIMP Open(IQarnDocument*, IQarnDocument**) override { return S_OK; }
    STDMETHODIMP GetConfigurations(IQarnDocument*, IQarnDocument**) override { return S_OK; }
    STDMETHODIMP AddComponent(IQarnDocument*, IQarnDocument**) override { return S_OK; }
    STDMETHODIMP GetActiveDocument(IQarnDocument**) override { return S_OK; }
};
