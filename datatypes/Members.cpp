// Named members, deferred release and value text shared by all classes.
#include "Datatypes.h"

namespace qarn::dt {

void NamedMember::SetName(std::wstring name) {
    if (name == name_) return;
    std::wstring old = std::exchange(name_, std::move(name));
    // The owners only move index entries; none of them calls back into this member.
    if (first_.first) first_.first->MemberRenamed(this, old);
    for (auto& [owner, slots] : more_) owner->MemberRenamed(this, old);
}

void NamedMember::Join(NameIndexOwner* owner) {
    if (first_.first == owner) {
        ++first_.second;
        return;
    }
    for (auto& [o, slots] : more_) {
        if (o == owner) {
            ++slots;
            return;
        }
    }
    if (!first_.first)
        first_ = {owner, 1u};
    else
        more_.emplace_back(owner, 1u);
}

void NamedMember::Leave(NameIndexOwner* owner) noexcept {
    if (first_.first == owner) {
        if (--first_.second > 0) return;
        first_ = {nullptr, 0};
        if (!more_.empty()) {
            first_ = more_.back();
            more_.pop_back();
        }
        return;
    }
    for (auto it = more_.begin(); it != more_.end(); ++it) {
        if (it->first != owner) continue;
        if (--it->second == 0) more_.erase(it);
        return;
    }
}

namespace {
template <class Class, class Itf>
NamedMember* Recognised(Itf* item) noexcept {
    return OwnVtable<Itf>::Matches(item) ? static_cast<Class*>(item) : nullptr;
}
}  // namespace

NamedMember* OwnMember(IField* item) noexcept { return Recognised<CField>(item); }
NamedMember* OwnMember(IStructure* item) noexcept { return Recognised<CStructure>(item); }
NamedMember* OwnMember(ITable* item) noexcept { return Recognised<CTable>(item); }

namespace {
// The objects still to be released by the outermost ReleaseLater of this thread, or null.
thread_local std::vector<IUnknown*>* t_pending = nullptr;
}  // namespace

void ReleaseLater(IUnknown* object) noexcept {
    if (!object) return;
    if (t_pending) {
        try {
            t_pending->push_back(object);
            return;
        } catch (...) {
            object->Release();  // out of memory: release at once, recursion and all
            return;
        }
    }
    std::vector<IUnknown*> pending;
    t_pending = &pending;
    object->Release();
    while (!pending.empty()) {
        IUnknown* next = pending.back();
        pending.pop_back();
        next->Release();
    }
    t_pending = nullptr;
}

void ReleaseLater(VARIANT& value) noexcept {
    if ((value.vt == VT_DISPATCH || value.vt == VT_UNKNOWN) && value.punkVal) {
        IUnknown* object = value.punkVal;
        value.vt = VT_EMPTY;
        ReleaseLater(object);
        return;
    }
    VariantClear(&value);
}

std::wstring ValueText(const VARIANT& value) {
    switch (value.vt) {
        case VT_EMPTY:
        case VT_NULL:
        case VT_DISPATCH:
        case VT_UNKNOWN: return {};
        case VT_BSTR: return std::wstring(View(value.bstrVal));
        default: break;
    }
    if (value.vt & (VT_ARRAY | VT_BYREF)) return {};
    Variant text;
    const HRESULT hr =
        VariantChangeTypeEx(&text, const_cast<VARIANT*>(&value), LOCALE_USER_DEFAULT, VARIANT_ALPHABOOL, VT_BSTR);
    if (hr == E_OUTOFMEMORY) ThrowHResult(hr);
    if (FAILED(hr) || text.vt != VT_BSTR) return {};
    return std::wstring(View(text.bstrVal));
}

void ThrowBadIndex(long index, size_t count, int line) {
    ThrowMessage(Format(L"Index %ld is out of range (1..%ld).", index, static_cast<long>(count)), line);
}

}  // namespace qarn::dt
