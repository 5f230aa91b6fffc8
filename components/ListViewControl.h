// QarnGenericListViewControl: shows result documents in a modal list view dialog.
#pragma once

#include "server/Interfaces.h"

class CQarnGenericListViewControl : public qarn::ComObject<CQarnGenericListViewControl, IQarnGenericListViewControl> {
public:
    STDMETHODIMP Show(IQarnDocument *pData) override;
};
