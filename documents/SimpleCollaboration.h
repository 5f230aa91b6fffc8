// CQarnSimpleCollaboration: field collections kept in ".CLB" files beside model files.
#pragma once

#include "base/ConnectorInterfaces.h"
#include "base/DataObjects.h"

#include <string>

class CQarnSimpleCollaboration : public qarn::ComObject<CQarnSimpleCollaboration, IQarnSimpleCollaboration> {
public:
    STDMETHODIMP Get(IFieldCollection *pInput, IFieldCollection **ppResult) override;
    STDMETHODIMP Add(IFieldCollection *pInput) override;
    STDMETHODIMP Get2(BSTR modelFullName, IFieldCollection **ppResult) override;
    STDMETHODIMP Update(IFieldCollection *pInput) override;
    STDMETHODIMP Add2(BSTR modelFullName, IFieldCollection *pInput) override;

private:
    // Writes `fields` as the field collection of a parameter list to `file` (WriteXmlFile).
    void Store(const std::wstring &file, IFieldCollection *fields);

    qarn::DataObjects objects_;
};
