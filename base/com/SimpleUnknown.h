// IUnknown of the layer's small internal objects (the class objects, the enumerators) that answer
// one interface besides IUnknown and are never aggregated. The object starts with the one
// reference its creator holds and deletes itself when the last one goes.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <atomic>

namespace qarn {

template <class I>
class SimpleUnknown : public I {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (InlineIsEqualGUID(iid, IID_IUnknown) || InlineIsEqualGUID(iid, __uuidof(I))) {
            *ppv = static_cast<I*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG n = --refs_;
        if (!n) delete this;
        return n;
    }

protected:
    virtual ~SimpleUnknown() = default;

private:
    std::atomic<ULONG> refs_{1};
};

}  // namespace qarn
