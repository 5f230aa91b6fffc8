// QarnGenericListViewControl: shows result documents in a modal list view dialog.
//
// The caller passes one document: the field "Caption" of its parameter list is the dialog's title,
// its table "Columns" describes the columns (header, width, and where each cell's value is found in
// a row's parameter list), and its child documents are the rows.
#pragma once

#include "base/ConnectorInterfaces.h"

#include <memory>
#include <vector>

// The dialog behind the control (dialog resource IDD_GENERICLISTCONTROL). Each member runs in its
// own error frame: a failure is left on the thread as its error object and the dialog stays open
// with what was filled so far.
class CGenericListControl {
public:
    explicit CGenericListControl(IQarnDocument* document) : document_(document) {}
    CGenericListControl(const CGenericListControl&) = delete;
    CGenericListControl& operator=(const CGenericListControl&) = delete;

    // Runs the dialog modally, owned by `owner`; returns once it has been closed.
    void DoModal(HWND owner);

    HRESULT OnInitDialog();
    HRESULT DisplayResult();
    HRESULT AddLine(IQarnDocument* row, long number);

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    qarn::ComPtr<IQarnDocument> document_;
    qarn::ComPtr<IParameterList> parameters_;
    qarn::ComPtr<IFieldCollection> fields_;
    qarn::ComPtr<IQarnDocumentCollection> children_;
    qarn::ComPtr<IFieldCollectionTable> columns_;
    qarn::ComPtr<IQarnUtilities> utilities_;
    HWND dialog_ = nullptr;
    HWND list_ = nullptr;
};

class CQarnGenericListViewControl : public qarn::ComObject<CQarnGenericListViewControl, IQarnGenericListViewControl> {
public:
    STDMETHODIMP Show(IQarnDocument *pData) override;

private:
    // The dialog of the last Show; a new Show releases it.
    std::shared_ptr<CGenericListControl> dialog_;
};
