// The base of every COM class of the server: declare the interfaces once, get QueryInterface,
// reference counting, aggregation, ISupportErrorInfo and a type-library driven IDispatch.
//
//   class CQarnTimer : public qarn::ComObject<CQarnTimer, IQarnTimer> { ... };
//
// The first interface is the class's default (dual) interface: it answers IDispatch and the
// error-information query. Further interfaces may follow. A class that answers an interface known
// only at run time hides FindInterface with its own and falls back to ComObject::FindInterface.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>
#include <wrl/client.h>

#include <atomic>
#include <new>
#include <type_traits>

#include "Dispatch.h"
#include "ComModule.h"
#include "Text.h"

namespace qarn {

using Microsoft::WRL::ComPtr;

// Takes over a reference that the caller already owns. MinGW's ComPtr::Attach adds a reference of
// its own (the documented Attach does not), which leaks the object: use this instead.
template <class I>
void Adopt(ComPtr<I>& holder, I* owned) noexcept {
    *holder.ReleaseAndGetAddressOf() = owned;
}

template <class T, class Primary, class... Others>
class ComObject : public Primary, public Others..., public ISupportErrorInfo {
public:
    using DefaultInterface = Primary;

    ComObject() noexcept : inner_(this), outer_(&inner_) { module::Lock(); }
    virtual ~ComObject() { module::Unlock(); }
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    // IUnknown: always the controlling unknown (the outer object when aggregated).
    STDMETHODIMP QueryInterface(REFIID iid, void** ppv) override { return outer_->QueryInterface(iid, ppv); }
    STDMETHODIMP_(ULONG) AddRef() override { return outer_->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return outer_->Release(); }

    // IDispatch, driven by the module's type library (used when Primary is dual).
    STDMETHODIMP GetTypeInfoCount(UINT* count) {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
        if (!info) return E_POINTER;
        *info = nullptr;
        if (index != 0) return DISP_E_BADINDEX;
        return DispatchTypeInfo(__uuidof(Primary), info);
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
        return DispatchGetIDsOfNames(__uuidof(Primary), names, count, ids);
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                        UINT* argErr) {
        // A class may answer members beyond its type library's first (InvokeOwn; anything else
        // it leaves with DISP_E_MEMBERNOTFOUND).
        if constexpr (requires { static_cast<T*>(this)->InvokeOwn(id, flags, params, result); }) {
            const HRESULT own = static_cast<T*>(this)->InvokeOwn(id, flags, params, result);
            if (own != DISP_E_MEMBERNOTFOUND) {
                if (FAILED(own) && excep) FillDispatchException(own, excep);
                return FAILED(own) && excep ? DISP_E_EXCEPTION : own;
            }
        }
        return DispatchInvoke(__uuidof(Primary), static_cast<Primary*>(this), id, flags, params, result, excep,
                              argErr);
    }

    // ISupportErrorInfo: our own default interface reports rich errors.
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID iid) override {
        return InlineIsEqualGUID(iid, __uuidof(Primary)) ? S_OK : S_FALSE;
    }

    // Creation through a class object: `outer` non-null means aggregation, which needs IUnknown.
    static HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** ppv) noexcept {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer && !InlineIsEqualGUID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
        // A constructor that allocates may fail like the allocation of the object itself.
        T* object = nullptr;
        try {
            object = new T();
        } catch (...) {
            return CaughtResult();
        }
        if (outer) object->outer_ = outer;
        object->inner_.AddRef();
        HRESULT hr;
        try {
            hr = object->FinalConstruct();
        } catch (...) {
            hr = CaughtResult();
        }
        if (SUCCEEDED(hr)) hr = object->inner_.QueryInterface(iid, ppv);
        object->inner_.Release();
        return hr;
    }

    // Creation inside the module, without a class object. FinalConstruct runs as it does for
    // CreateInstance; its failure is raised (the object is gone by then).
    template <class... Args>
    static ComPtr<T> Make(Args&&... args) {
        ComPtr<T> object;
        Adopt(object, new T(std::forward<Args>(args)...));
        object->inner_.AddRef();
        const HRESULT hr = object->FinalConstruct();
        if (FAILED(hr)) ThrowHResult(hr);
        return object;
    }

    HRESULT FinalConstruct() { return S_OK; }

protected:
    void* FindInterface(REFIID iid) noexcept {
        if (InlineIsEqualGUID(iid, IID_ISupportErrorInfo)) return static_cast<ISupportErrorInfo*>(this);
        if constexpr (std::is_base_of_v<IDispatch, Primary>) {
            if (InlineIsEqualGUID(iid, IID_IDispatch)) return static_cast<Primary*>(this);
        }
        void* found = nullptr;
        ((found = found ? found : Match<Primary>(iid)), ..., (found = found ? found : Match<Others>(iid)));
        return found;
    }

private:
    template <class I>
    void* Match(REFIID iid) noexcept {
        return InlineIsEqualGUID(iid, __uuidof(I)) ? static_cast<I*>(this) : nullptr;
    }

    // The non-delegating unknown: owns the reference count and the QI table.
    class Inner : public IUnknown {
    public:
        explicit Inner(ComObject* self) noexcept : self_(self) {}
        STDMETHODIMP QueryInterface(REFIID iid, void** ppv) override {
            if (!ppv) return E_POINTER;
            *ppv = nullptr;
            if (InlineIsEqualGUID(iid, IID_IUnknown)) {
                *ppv = static_cast<IUnknown*>(this);
                AddRef();
                return S_OK;
            }
            void* p = static_cast<T*>(self_)->FindInterface(iid);
            if (!p) return E_NOINTERFACE;
            *ppv = p;
            self_->AddRef();
            return S_OK;
        }
        STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
        STDMETHODIMP_(ULONG) Release() override {
            ULONG n = --refs_;
            if (n == 0) delete static_cast<T*>(self_);
            return n;
        }

    private:
        ComObject* self_;
        std::atomic<ULONG> refs_{0};
    };

    Inner inner_;
    IUnknown* outer_;
};

}  // namespace qarn
