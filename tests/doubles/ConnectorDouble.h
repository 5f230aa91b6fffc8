// ConnectorDouble: the PLM connectors that CQarnClassFactory creates by ProgID. One class
// registered under nine CLSIDs, one per connector; an object knows its ProgID and answers the
// interface the factory asks that connector for with its IConnectorDouble. It records the
// IClassCreatorHelper calls it gets; the Windchill connector has no IClassCreatorHelper.
// Registered only in the test prefix (OutsideComponents.rgs).
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>

#include <cstddef>
#include <string>

#include "QarnTestDoubles.h"

#include "ComObject.h"

class ConnectorDouble : public qarn::ComObject<ConnectorDouble, IConnectorDouble, IClassCreatorHelper> {
public:
    // One registered connector.
    struct Kind {
        const wchar_t* progId;
        bool helper;  // implements IClassCreatorHelper
        CLSID clsid;
        IID iid;      // what the factory asks for
    };
    static constexpr size_t kKindCount = 9;
    static const Kind kKinds[kKindCount];

    explicit ConnectorDouble(const Kind& kind) noexcept : kind_(kind) {}

    // The class object's creator of kKinds[I]. Connectors are not aggregated.
    template <size_t I>
    static HRESULT CreateKind(IUnknown* outer, REFIID iid, void** ppv) noexcept {
        static_assert(I < kKindCount);
        return Create(kKinds[I], outer, iid, ppv);
    }

    // The kind's interface in front of the declared ones.
    void* FindInterface(REFIID iid) noexcept;
    // IClassCreatorHelper reports its failures with a description too.
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID iid) override;

    STDMETHODIMP get_Calls(BSTR* calls) override;
    STDMETHODIMP get_ClassName(BSTR* progId) override;
    STDMETHODIMP SetHandler(BSTR handlerClass, IFieldCollection* environment) override;
    STDMETHODIMP Prepare() override;

private:
    static HRESULT Create(const Kind& kind, IUnknown* outer, REFIID iid, void** ppv) noexcept;

    const Kind& kind_;
    std::wstring calls_;
};
