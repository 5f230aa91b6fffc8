// CQarnComApplication: the process's application object holding the configuration.
#pragma once

#include "server/Interfaces.h"

class CQarnComApplication : public qarn::ComObject<CQarnComApplication, IQarnComApplication> {
public:
    STDMETHODIMP Init() override;
    STDMETHODIMP GetProperty(BSTR name, BSTR *value) override;
    STDMETHODIMP GetMessage(BSTR name, BSTR *value) override;
    STDMETHODIMP get_Properties(IFieldCollection **pVal) override;
    STDMETHODIMP put_Properties(IFieldCollection *newVal) override;
    STDMETHODIMP get_Messages(IFieldCollection **pVal) override;
    STDMETHODIMP put_Messages(IFieldCollection *newVal) override;
    STDMETHODIMP get_IsInitialized(VARIANT_BOOL *pVal) override;
    STDMETHODIMP SetShellIconVisible(VARIANT_BOOL b) override;
    STDMETHODIMP SetProperty(BSTR name, BSTR value) override;
    STDMETHODIMP get_JNIOptions(IFieldCollection **pVal) override;
    STDMETHODIMP put_JNIOptions(IFieldCollection *newVal) override;
};
