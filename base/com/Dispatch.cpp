#include "Dispatch.h"

#include <wrl/client.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>

#include "ComModule.h"
#include "Errors.h"
#include "Holders.h"
#include "SimpleUnknown.h"
#include "Text.h"

namespace qarn {

using Microsoft::WRL::ComPtr;

namespace {

// What a parameter holds once pointers to interfaces are taken as the interface itself.
enum class Kind { Scalar, Bstr, Variant, Interface, Guid };

struct Param {
    Kind kind = Kind::Scalar;
    VARTYPE vt = VT_EMPTY;      // for Scalar: the scalar type (VT_I4, VT_BOOL, VT_R8 ...)
    bool byRef = false;         // passed through a pointer ([out], [in,out], retval)
    bool in = true;
    bool out = false;
    bool retval = false;
    IID iid = IID_NULL;         // for Interface
    bool dispatchable = false;  // the interface derives from IDispatch
};

struct Method {
    MEMBERID id = 0;
    INVOKEKIND kind = INVOKE_FUNC;
    short vtableOffset = 0;
    std::vector<Param> params;  // in declaration order, retval included
};

struct InterfaceInfo {
    ComPtr<ITypeInfo> dispatchView;  // for GetTypeInfo
    ComPtr<ITypeInfo> vtableView;    // member layout
    std::multimap<MEMBERID, Method> methods;
};

class TypeDescError {};

// Reduces a TYPEDESC to our parameter kinds; the pointer count decides by-reference.
Param DescribeType(ITypeInfo* owner, const TYPEDESC& desc, int depth = 0) {
    if (depth > 8) throw TypeDescError{};
    Param p;
    int pointers = 0;
    const TYPEDESC* t = &desc;
    while (t->vt == VT_PTR) {
        ++pointers;
        t = t->lptdesc;
    }
    switch (t->vt) {
        case VT_USERDEFINED: {
            ComPtr<ITypeInfo> ref;
            if (FAILED(owner->GetRefTypeInfo(t->hreftype, &ref))) throw TypeDescError{};
            TypeAttr attr;
            if (FAILED(GetTypeAttr(ref.Get(), attr))) throw TypeDescError{};
            const TYPEKIND kind = attr->typekind;
            if (kind == TKIND_ALIAS) {
                Param inner = DescribeType(ref.Get(), attr->tdescAlias, depth + 1);
                inner.byRef = inner.byRef || pointers > 0;
                return inner;
            }
            if (kind == TKIND_INTERFACE || kind == TKIND_DISPATCH) {
                p.kind = Kind::Interface;
                p.iid = attr->guid;
                p.dispatchable = kind == TKIND_DISPATCH || (attr->wTypeFlags & TYPEFLAG_FDUAL) != 0;
                --pointers;  // the pointer to an interface is the value
            } else if (kind == TKIND_RECORD && attr->cbSizeInstance == sizeof(GUID)) {
                p.kind = Kind::Guid;
            } else if (kind == TKIND_ENUM) {
                p.kind = Kind::Scalar;
                p.vt = VT_I4;
            } else {
                throw TypeDescError{};
            }
            break;
        }
        case VT_DISPATCH:
            p.kind = Kind::Interface;
            p.iid = IID_IDispatch;
            p.dispatchable = true;
            break;
        case VT_UNKNOWN:
            p.kind = Kind::Interface;
            p.iid = IID_IUnknown;
            break;
        case VT_BSTR:
            p.kind = Kind::Bstr;
            break;
        case VT_VARIANT:
            p.kind = Kind::Variant;
            break;
        case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4: case VT_INT: case VT_UINT:
        case VT_BOOL: case VT_R4: case VT_R8: case VT_DATE: case VT_CY: case VT_I8: case VT_UI8: case VT_ERROR:
        case VT_HRESULT:
            p.kind = Kind::Scalar;
            p.vt = t->vt == VT_HRESULT ? static_cast<VARTYPE>(VT_ERROR) : t->vt;
            break;
        default:
            throw TypeDescError{};
    }
    if (pointers < 0 || pointers > 1) throw TypeDescError{};
    p.byRef = pointers == 1;
    return p;
}

std::unique_ptr<InterfaceInfo> LoadInterface(REFIID iid) {
    ComPtr<ITypeLib> lib;
    if (FAILED(module::TypeLib(&lib))) return nullptr;
    auto info = std::make_unique<InterfaceInfo>();
    if (FAILED(lib->GetTypeInfoOfGuid(iid, &info->dispatchView))) return nullptr;
    info->vtableView = info->dispatchView;
    TypeAttr attr;
    if (FAILED(GetTypeAttr(info->dispatchView.Get(), attr))) return nullptr;
    if (attr->typekind == TKIND_DISPATCH) {
        HREFTYPE href;
        if (SUCCEEDED(info->dispatchView->GetRefTypeOfImplType(static_cast<UINT>(-1), &href)))
            info->dispatchView->GetRefTypeInfo(href, &info->vtableView);
    }
    ITypeInfo* ti = info->vtableView.Get();
    if (FAILED(GetTypeAttr(ti, attr))) return nullptr;
    const WORD count = attr->cFuncs;
    attr.reset();
    for (UINT i = 0; i < count; ++i) {
        FuncDesc fd;
        if (FAILED(GetFuncDesc(ti, i, fd))) continue;
        Method m;
        m.id = fd->memid;
        m.kind = fd->invkind;
        m.vtableOffset = fd->oVft;
        bool usable = fd->funckind != FUNC_DISPATCH;
        try {
            for (SHORT a = 0; a < fd->cParams && usable; ++a) {
                const ELEMDESC& e = fd->lprgelemdescParam[a];
                Param p = DescribeType(ti, e.tdesc);
                USHORT f = e.paramdesc.wParamFlags;
                p.out = (f & PARAMFLAG_FOUT) != 0;
                p.retval = (f & PARAMFLAG_FRETVAL) != 0;
                p.in = (f & PARAMFLAG_FIN) != 0 || !p.out;
                if ((p.out || p.retval) && !p.byRef) usable = false;
                m.params.push_back(p);
            }
        } catch (const TypeDescError&) {
            usable = false;
        }
        if (usable) info->methods.emplace(m.id, std::move(m));
    }
    return info;
}

std::mutex g_cacheLock;
std::map<GUID, std::unique_ptr<InterfaceInfo>, bool (*)(const GUID&, const GUID&)> g_cache(
    [](const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) < 0; });

const InterfaceInfo* Lookup(REFIID iid) {
    std::lock_guard<std::mutex> lock(g_cacheLock);
    auto it = g_cache.find(iid);
    if (it != g_cache.end()) return it->second.get();
    auto info = LoadInterface(iid);
    const InterfaceInfo* raw = info.get();
    if (raw) g_cache.emplace(iid, std::move(info));
    return raw;
}

const Method* FindMethod(const InterfaceInfo& info, DISPID id, WORD flags) {
    auto [first, last] = info.methods.equal_range(id);
    auto pick = [&](auto pred) -> const Method* {
        for (auto it = first; it != last; ++it)
            if (pred(it->second.kind)) return &it->second;
        return nullptr;
    };
    if (flags & DISPATCH_PROPERTYPUTREF) {
        if (auto m = pick([](INVOKEKIND k) { return k == INVOKE_PROPERTYPUTREF; })) return m;
        if (auto m = pick([](INVOKEKIND k) { return k == INVOKE_PROPERTYPUT; })) return m;
    }
    if (flags & DISPATCH_PROPERTYPUT) {
        if (auto m = pick([](INVOKEKIND k) { return k == INVOKE_PROPERTYPUT; })) return m;
        if (auto m = pick([](INVOKEKIND k) { return k == INVOKE_PROPERTYPUTREF; })) return m;
    }
    if (flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET)) {
        // JScript calls property gets (parametrised ones, _NewEnum) as methods; VBScript reads
        // methods without arguments as properties.
        if (auto m = pick([](INVOKEKIND k) { return k == INVOKE_FUNC || k == INVOKE_PROPERTYGET; })) return m;
    }
    return nullptr;
}

// INT and UINT travel as their 32-bit equivalents.
VARTYPE SizedType(VARTYPE vt) {
    if (vt == VT_INT) return VT_I4;
    if (vt == VT_UINT) return VT_UI4;
    return vt;
}

// The value a caller passed, following VT_BYREF|VT_VARIANT; nullptr when a reference leads nowhere
// (a null pointer, or a chain of references that does not end, such as a variant referring to itself).
const VARIANT* Deref(const VARIANT* v) {
    constexpr int kMaxReferences = 16;
    for (int depth = 0; v && v->vt == (VT_BYREF | VT_VARIANT); ++depth) {
        if (depth == kMaxReferences) return nullptr;
        v = v->pvarVal;
    }
    if (v && (v->vt & VT_BYREF) && !v->byref) return nullptr;
    return v;
}

// VT_ERROR/DISP_E_PARAMNOTFOUND counts as missing.
bool IsMissing(const VARIANT& v) {
    return v.vt == VT_EMPTY || v.vt == VT_NULL || (v.vt == VT_ERROR && v.scode == DISP_E_PARAMNOTFOUND);
}

// One argument ready for the call: its value of the declared type, kept in `value`.
struct Slot {
    VARIANT value;  // owned; vt = VT_BSTR / VT_UNKNOWN / VT_VARIANT content / scalar
    GUID guid{};
    Slot() { VariantInit(&value); }
    ~Slot() { VariantClear(&value); }
    Slot(const Slot&) = delete;
    Slot& operator=(const Slot&) = delete;
};

// Converts the caller's value (by reference already followed) into the declared type.
HRESULT Coerce(const Param& p, const VARIANT& source, Slot& slot) {
    VARIANT src;
    VariantInit(&src);
    HRESULT hr = VariantCopyInd(&src, const_cast<VARIANT*>(&source));
    if (FAILED(hr)) return hr;
    struct Guard {
        VARIANT& v;
        ~Guard() { VariantClear(&v); }
    } guard{src};
    switch (p.kind) {
        case Kind::Variant:
            return VariantCopy(&slot.value, &src);
        case Kind::Interface: {
            slot.value.vt = VT_UNKNOWN;
            slot.value.punkVal = nullptr;
            if (IsMissing(src)) return S_OK;
            IUnknown* unk = nullptr;
            if (src.vt == VT_DISPATCH) unk = src.pdispVal;
            else if (src.vt == VT_UNKNOWN) unk = src.punkVal;
            else return DISP_E_TYPEMISMATCH;
            if (!unk) return S_OK;
            void* p2 = nullptr;
            if (FAILED(unk->QueryInterface(p.iid, &p2))) return DISP_E_TYPEMISMATCH;
            slot.value.punkVal = static_cast<IUnknown*>(p2);
            return S_OK;
        }
        case Kind::Bstr:
            if (src.vt == VT_NULL) {
                slot.value.vt = VT_BSTR;
                slot.value.bstrVal = nullptr;
                return S_OK;
            }
            return VariantChangeType(&slot.value, &src, 0, VT_BSTR);
        case Kind::Guid: {
            VARIANT text;
            VariantInit(&text);
            hr = VariantChangeType(&text, &src, 0, VT_BSTR);
            if (hr == E_OUTOFMEMORY) return hr;
            if (FAILED(hr)) return DISP_E_TYPEMISMATCH;
            hr = text.bstrVal ? CLSIDFromString(text.bstrVal, &slot.guid) : E_INVALIDARG;
            VariantClear(&text);
            return FAILED(hr) ? DISP_E_TYPEMISMATCH : S_OK;
        }
        case Kind::Scalar: {
            VARTYPE target = SizedType(p.vt);
            if (IsMissing(src) && src.vt != VT_EMPTY) return DISP_E_TYPEMISMATCH;
            // Not a number is no integer (some runtimes convert it to an arbitrary one).
            const bool nan = (src.vt == VT_R8 && std::isnan(src.dblVal)) || (src.vt == VT_R4 && std::isnan(src.fltVal));
            if (nan && target != VT_R8 && target != VT_R4) return DISP_E_TYPEMISMATCH;
            hr = VariantChangeType(&slot.value, &src, 0, target);
            return hr;
        }
    }
    return DISP_E_TYPEMISMATCH;
}

// The VARIANT type under which a by-reference slot is handed back to the caller.
VARTYPE ResultType(const Param& p) {
    switch (p.kind) {
        case Kind::Bstr: return VT_BSTR;
        case Kind::Variant: return VT_VARIANT;
        case Kind::Interface: return p.dispatchable ? VT_DISPATCH : VT_UNKNOWN;
        case Kind::Guid: return VT_BSTR;
        case Kind::Scalar: return SizedType(p.vt);
    }
    return VT_EMPTY;
}

// The VARIANT type a slot keeps its value under.
VARTYPE StorageType(const Param& p) {
    if (p.kind == Kind::Interface) return VT_UNKNOWN;
    return ResultType(p);
}

// Moves the slot's value into `target` (an owned VARIANT), as the declared type.
void MoveOut(const Param& p, Slot& slot, VARIANT* target) {
    VariantClear(target);
    if (p.kind == Kind::Variant) {
        *target = slot.value;
        VariantInit(&slot.value);
        return;
    }
    if (p.kind == Kind::Guid) {
        BSTR text = SysAllocString(GuidText(slot.guid).c_str());
        if (!text) throw std::bad_alloc();
        target->vt = VT_BSTR;
        target->bstrVal = text;
        return;
    }
    *target = slot.value;
    target->vt = ResultType(p);
    VariantInit(&slot.value);
}

// Writes a by-reference result back into a caller's typed by-reference variant.
void StoreTyped(const Param& p, Slot& slot, const VARIANT& callerArg) {
    VARTYPE want = ResultType(p);
    VARTYPE have = static_cast<VARTYPE>(callerArg.vt & ~VT_BYREF);
    if (have == VT_VARIANT) {
        MoveOut(p, slot, callerArg.pvarVal);
        return;
    }
    if (have != want && !(p.kind == Kind::Interface && (have == VT_DISPATCH || have == VT_UNKNOWN))) return;
    switch (have) {
        case VT_BSTR:
            SysFreeString(*callerArg.pbstrVal);
            *callerArg.pbstrVal = slot.value.bstrVal;
            break;
        case VT_DISPATCH:
        case VT_UNKNOWN:
            if (*callerArg.ppunkVal) (*callerArg.ppunkVal)->Release();
            *callerArg.ppunkVal = slot.value.punkVal;
            break;
        case VT_BOOL: *callerArg.pboolVal = slot.value.boolVal; break;
        case VT_I2: case VT_UI2: *callerArg.piVal = slot.value.iVal; break;
        case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_ERROR: *callerArg.plVal = slot.value.lVal; break;
        case VT_R8: *callerArg.pdblVal = slot.value.dblVal; break;
        default: return;
    }
    VariantInit(&slot.value);
}

#ifdef _WIN64
constexpr VARTYPE kPointerVt = VT_UI8;
#else
constexpr VARTYPE kPointerVt = VT_UI4;
#endif

// The argument list of one DispCallFunc call: each value with the type DispCallFunc passes it as.
struct CallArgs {
    std::vector<VARIANT> values;
    std::vector<VARTYPE> types;

    void Push(const VARIANT& value, VARTYPE type) {
        values.push_back(value);
        types.push_back(type);
    }
    void PushPointer(const void* p) {
        VARIANT v;
        std::memset(&v, 0, sizeof v);
        v.vt = kPointerVt;
#ifdef _WIN64
        v.ullVal = reinterpret_cast<ULONGLONG>(p);
#else
        v.ulVal = reinterpret_cast<ULONG>(p);
#endif
        Push(v, kPointerVt);
    }
};

// Slot address handed to the callee for a by-reference parameter.
void* SlotAddress(const Param& p, Slot& slot) {
    switch (p.kind) {
        case Kind::Variant: return &slot.value;
        case Kind::Guid: return &slot.guid;
        case Kind::Bstr: return &slot.value.bstrVal;
        case Kind::Interface: return &slot.value.punkVal;
        case Kind::Scalar: return &slot.value.lVal;  // all scalars start at the union's first byte
    }
    return nullptr;
}

void PushValue(CallArgs& args, const Param& p, Slot& slot) {
    switch (p.kind) {
        case Kind::Variant:
            // The callee receives the VARIANT by value; DispCallFunc copies it (or passes its address on x64).
            args.Push(slot.value, VT_VARIANT);
            return;
        case Kind::Bstr: args.PushPointer(slot.value.bstrVal); return;
        case Kind::Interface: args.PushPointer(slot.value.punkVal); return;
        case Kind::Guid:
#ifdef _WIN64
            // A 16-byte structure is passed by the address of a copy.
            args.PushPointer(&slot.guid);
#else
            {
                const ULONG* words = reinterpret_cast<const ULONG*>(&slot.guid);
                for (int i = 0; i < 4; ++i) {
                    VARIANT v;
                    std::memset(&v, 0, sizeof v);
                    v.vt = VT_UI4;
                    v.ulVal = words[i];
                    args.Push(v, VT_UI4);
                }
            }
#endif
            return;
        case Kind::Scalar: {
            VARIANT v;
            std::memset(&v, 0, sizeof v);
            v.vt = SizedType(p.vt);
            std::memcpy(&v.llVal, &slot.value.llVal, sizeof v.llVal);
            args.Push(v, v.vt);
            return;
        }
    }
}

void FillException(HRESULT hr, EXCEPINFO* excep) noexcept {
    if (!excep) return;
    std::memset(excep, 0, sizeof *excep);
    excep->scode = hr;
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) == S_OK && info) {
        info->GetDescription(&excep->bstrDescription);
        info->GetSource(&excep->bstrSource);
        info->GetHelpFile(&excep->bstrHelpFile);
        info->GetHelpContext(&excep->dwHelpContext);
        // Keep the error object available for clients that ask the thread afterwards.
        SetErrorInfo(0, info.Get());
    }
}

HRESULT InvokeMethod(const InterfaceInfo& itf, void* self, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                     EXCEPINFO* excep, UINT* argErr);

}  // namespace

void FillDispatchException(HRESULT hr, EXCEPINFO* excep) noexcept { FillException(hr, excep); }

HRESULT DispatchTypeInfo(REFIID iid, ITypeInfo** info) noexcept try {
    const InterfaceInfo* itf = Lookup(iid);
    if (!itf) return TYPE_E_ELEMENTNOTFOUND;
    *info = itf->dispatchView.Get();
    (*info)->AddRef();
    return S_OK;
} catch (...) {
    return CaughtResult();
}

HRESULT DispatchGetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, DISPID* ids) noexcept try {
    if (!names || !ids) return E_POINTER;
    const InterfaceInfo* itf = Lookup(iid);
    if (!itf) return TYPE_E_ELEMENTNOTFOUND;
    return itf->dispatchView->GetIDsOfNames(names, count, ids);
} catch (...) {
    return CaughtResult();
}

HRESULT DispatchInvoke(REFIID iid, void* self, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                       EXCEPINFO* excep, UINT* argErr) noexcept try {
    const InterfaceInfo* itf = Lookup(iid);
    if (!itf) return TYPE_E_ELEMENTNOTFOUND;
    return InvokeMethod(*itf, self, id, flags, params, result, excep, argErr);
} catch (...) {
    return CaughtResult();
}

namespace {

// Maps the caller's arguments onto the method's parameters, calls it through its vtable and hands
// back the [out] values and the result.
HRESULT InvokeMethod(const InterfaceInfo& info, void* self, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                     EXCEPINFO* excep, UINT* argErr) {
    const InterfaceInfo* itf = &info;
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    if (!params) params = &none;
    if (params->cArgs && !params->rgvarg) return E_INVALIDARG;
    if (params->cNamedArgs && !params->rgdispidNamedArgs) return E_INVALIDARG;
    const Method* m = FindMethod(*itf, id, flags);
    if (!m) return DISP_E_MEMBERNOTFOUND;

    const size_t paramCount = m->params.size();
    const bool isPut = m->kind == INVOKE_PROPERTYPUT || m->kind == INVOKE_PROPERTYPUTREF;

    // Which caller argument feeds each parameter (nullptr = none).
    std::vector<const VARIANT*> source(paramCount, nullptr);
    std::vector<UINT> sourceIndex(paramCount, 0);
    const UINT named = params->cNamedArgs;
    if (named > params->cArgs) return E_INVALIDARG;
    const UINT positional = params->cArgs - named;
    size_t declared = 0;
    for (const Param& p : m->params)
        if (!p.retval) ++declared;
    for (UINT i = 0; i < positional; ++i) {
        if (i >= declared) return DISP_E_BADPARAMCOUNT;
        UINT index = params->cArgs - 1 - i;
        source[i] = &params->rgvarg[index];
        sourceIndex[i] = index;
    }
    for (UINT j = 0; j < named; ++j) {
        DISPID target = params->rgdispidNamedArgs[j];
        size_t pos;
        if (target == DISPID_PROPERTYPUT && isPut && declared > 0) pos = declared - 1;
        else if (target >= 0 && static_cast<size_t>(target) < declared) pos = static_cast<size_t>(target);
        else return DISP_E_PARAMNOTFOUND;
        if (source[pos]) return DISP_E_PARAMNOTFOUND;
        source[pos] = &params->rgvarg[j];
        sourceIndex[pos] = j;
    }

    std::vector<Slot> slots(paramCount);
    for (size_t i = 0; i < paramCount; ++i) {
        const Param& p = m->params[i];
        if (p.retval || (p.out && !p.in)) {
            // Typed empty storage, so that whatever the callee stores is released with the slot.
            if (p.kind != Kind::Variant && p.kind != Kind::Guid) slots[i].value.vt = StorageType(p);
            if (p.retval) continue;
        }
        const VARIANT* arg = source[i];
        if (!arg) {
            if (p.out && !p.in) continue;  // an [out] parameter the caller did not pass
            return DISP_E_PARAMNOTOPTIONAL;
        }
        // A reference to nothing is refused like a value of the wrong type, [out] ones included.
        const VARIANT* value = Deref(arg);
        if (!value) {
            if (argErr) *argErr = sourceIndex[i];
            return DISP_E_TYPEMISMATCH;
        }
        if (p.out && !p.in) continue;
        HRESULT hr = Coerce(p, *value, slots[i]);
        if (hr == E_OUTOFMEMORY) return hr;
        if (FAILED(hr)) {
            if (argErr) *argErr = sourceIndex[i];
            return DISP_E_TYPEMISMATCH;
        }
    }

    CallArgs args;
    for (size_t i = 0; i < paramCount; ++i) {
        const Param& p = m->params[i];
        if (p.byRef) args.PushPointer(SlotAddress(p, slots[i]));
        else PushValue(args, p, slots[i]);
    }
    std::vector<VARIANT*> argPtrs(args.values.size());
    for (size_t i = 0; i < args.values.size(); ++i) argPtrs[i] = &args.values[i];

    VARIANT ret;
    VariantInit(&ret);
    HRESULT hr;
    try {
        hr = DispCallFunc(self, m->vtableOffset, CC_STDCALL, VT_ERROR, static_cast<UINT>(argPtrs.size()),
                          args.types.data(), argPtrs.data(), &ret);
    } catch (...) {
        // Every member answers with an HRESULT of its own; one that lets an exception out is at
        // fault, and its caller still gets an answer that says so.
        SetErrorDescription(Format(L"Internal error: the member with DISPID %ld let an exception out.",
                                   static_cast<long>(id)).c_str());
        FillException(E_UNEXPECTED, excep);
        return DISP_E_EXCEPTION;
    }
    if (FAILED(hr)) return hr;
    HRESULT callResult = ret.scode;

    // Hand [out] and [in,out] values back to the caller's variables, and the retval to the result.
    for (size_t i = 0; i < paramCount; ++i) {
        const Param& p = m->params[i];
        if (!p.out && !p.retval) continue;
        if (p.retval) {
            if (result && SUCCEEDED(callResult)) MoveOut(p, slots[i], result);
            continue;
        }
        const VARIANT* arg = source[i];
        if (arg && (arg->vt & VT_BYREF)) StoreTyped(p, slots[i], *arg);
    }
    if (FAILED(callResult)) {
        FillException(callResult, excep);
        return DISP_E_EXCEPTION;
    }
    return S_OK;
}

class EnumVariant final : public SimpleUnknown<IEnumVARIANT> {
public:
    explicit EnumVariant(std::shared_ptr<std::vector<VARIANT>> items, size_t pos = 0)
        : items_(std::move(items)), pos_(pos) {
        module::Lock();
    }
    ~EnumVariant() { module::Unlock(); }
    STDMETHODIMP Next(ULONG count, VARIANT* out, ULONG* fetched) override {
        if (!out) return E_POINTER;
        ULONG n = 0;
        while (n < count && pos_ < items_->size()) {
            VariantInit(&out[n]);
            HRESULT hr = VariantCopy(&out[n], &(*items_)[pos_]);
            if (FAILED(hr)) {
                for (ULONG k = 0; k < n; ++k) VariantClear(&out[k]);
                if (fetched) *fetched = 0;
                return hr;
            }
            ++n;
            ++pos_;
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG count) override {
        size_t left = items_->size() - pos_;
        if (count > left) {
            pos_ = items_->size();
            return S_FALSE;
        }
        pos_ += count;
        return S_OK;
    }
    STDMETHODIMP Reset() override {
        pos_ = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumVARIANT** out) override {
        if (!out) return E_POINTER;
        *out = new (std::nothrow) EnumVariant(items_, pos_);
        return *out ? S_OK : E_OUTOFMEMORY;
    }

private:
    std::shared_ptr<std::vector<VARIANT>> items_;
    size_t pos_;
};

struct VariantVectorDeleter {
    void operator()(std::vector<VARIANT>* v) const {
        for (VARIANT& x : *v) VariantClear(&x);
        delete v;
    }
};

}  // namespace

HRESULT MakeEnumerator(std::vector<VARIANT>&& items, IUnknown** result) {
    if (!result) return E_POINTER;
    *result = nullptr;
    try {
        std::shared_ptr<std::vector<VARIANT>> shared(new std::vector<VARIANT>(std::move(items)),
                                                     VariantVectorDeleter{});
        *result = new EnumVariant(std::move(shared));
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace qarn
