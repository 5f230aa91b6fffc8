// Building blocks shared by the data-type classes: named members and the by-name index of the
// collections that hold them, 1-based index checks, enumerator snapshots and the release of deep
// structures without deep recursion.
#pragma once

#include "DatatypesInterfaces.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace qarn::dt {

class NamedMember;

// A collection that indexes members by name. A member that is renamed tells every such owner.
class NameIndexOwner {
public:
    virtual void MemberRenamed(NamedMember* member, const std::wstring& oldName) noexcept = 0;

protected:
    ~NameIndexOwner() = default;
};

// The name of one of our own Field, Structure or Table objects, and the collections it is in.
class NamedMember {
public:
    const std::wstring& Name() const noexcept { return name_; }
    // Sets the name and lets every collection holding this member re-file it.
    void SetName(std::wstring name);
    // Called by a collection once per slot it gives the member (a member may be added twice).
    void Join(NameIndexOwner* owner);
    void Leave(NameIndexOwner* owner) noexcept;

private:
    using Owner = std::pair<NameIndexOwner*, unsigned>;  // a collection and its slots for this member
    std::wstring name_;
    // Most members are in one collection: the first owner is kept in place, without an allocation.
    Owner first_{nullptr, 0};
    std::vector<Owner> more_;
};

}  // namespace qarn::dt

namespace qarn::dt {

// Recognising our own members without asking them. The Field, Structure and Table classes of this
// module record the table of virtual functions of their interface when an object is made; an
// interface pointer with that table is one of those objects. Anything else, a proxy of one of our
// objects in another apartment as well as another implementation, counts as a foreign member and
// is asked for its name through its interface: a query for an interface of our own on a proxy
// would be a call into the other apartment that can only fail.
template <class Itf>
class OwnVtable {
public:
    static void Record(Itf* own) noexcept {
        const void* table = Of(own);
        if (table_.load(std::memory_order_relaxed) != table) table_.store(table, std::memory_order_relaxed);
    }
    static bool Matches(Itf* item) noexcept {
        const void* table = table_.load(std::memory_order_relaxed);
        return item && table && Of(item) == table;
    }

private:
    // Every COM interface pointer points at its table of virtual functions.
    static const void* Of(Itf* p) noexcept { return *reinterpret_cast<const void* const*>(p); }
    static inline std::atomic<const void*> table_{nullptr};
};

// The member behind `item` when it is one of our own objects, else null (Members.cpp).
NamedMember* OwnMember(IField* item) noexcept;
NamedMember* OwnMember(IStructure* item) noexcept;
NamedMember* OwnMember(ITable* item) noexcept;

}  // namespace qarn::dt

namespace qarn::dt {

// Releasing a structure nested a hundred thousand levels deep would otherwise recurse once per
// level (each object releases its members from its destructor) and overflow the stack. Destructors
// hand their members to ReleaseLater; the outermost call releases them one after the other.
void ReleaseLater(IUnknown* object) noexcept;
template <class I>
void ReleaseLater(ComPtr<I>& object) noexcept {
    ReleaseLater(static_cast<IUnknown*>(object.Detach()));
}
// Object values of a variant go the same way; other contents are cleared.
void ReleaseLater(VARIANT& value) noexcept;

// The text of a value as Field.StringValue gives it: empty for empty, null, object and array
// values and for values that do not convert; everything else converted with the user's locale,
// booleans as "True" and "False".
std::wstring ValueText(const VARIANT& value);

// The by-name lookup of a collection: exact and case-sensitive, with the empty name for a null one.
struct NameHash {
    using is_transparent = void;
    size_t operator()(std::wstring_view s) const noexcept { return std::hash<std::wstring_view>{}(s); }
};
struct NameEqual {
    using is_transparent = void;
    bool operator()(std::wstring_view a, std::wstring_view b) const noexcept { return a == b; }
};

// A name as a key of the index. Names of up to 15 characters, the usual case, are kept inside the
// index entry, so that comparing a key costs no further memory access.
class IndexKey {
public:
    explicit IndexKey(std::wstring_view name) : size_(name.size()) {
        wchar_t* target = inline_;
        if (size_ > kInline) target = heap_ = new wchar_t[size_];
        std::copy(name.begin(), name.end(), target);
    }
    IndexKey(const IndexKey& other) : IndexKey(other.View()) {}
    IndexKey(IndexKey&& other) noexcept : size_(other.size_) {
        if (size_ > kInline) {
            heap_ = other.heap_;
            other.size_ = 0;
        } else {
            std::copy(other.inline_, other.inline_ + size_, inline_);
        }
    }
    IndexKey& operator=(const IndexKey&) = delete;
    ~IndexKey() {
        if (size_ > kInline) delete[] heap_;
    }
    std::wstring_view View() const noexcept { return {size_ > kInline ? heap_ : inline_, size_}; }
    operator std::wstring_view() const noexcept { return View(); }

private:
    static constexpr size_t kInline = 15;
    size_t size_;
    union {
        wchar_t inline_[kInline];
        wchar_t* heap_;
    };
};

// Collections answer Count as a long.
constexpr size_t kMaxMembers = 0x7FFFFFFF;

// "Index 7 is out of range (1..3)." for a 1-based index outside the collection.
[[noreturn]] void ThrowBadIndex(long index, size_t count, int line);
inline size_t CheckIndex(long index, size_t count, int line) {
    if (index < 1 || static_cast<unsigned long>(index) > count) ThrowBadIndex(index, count, line);
    return static_cast<size_t>(index - 1);
}
#define CHECK_INDEX(index, count) ::qarn::dt::CheckIndex((index), (count), __LINE__)
#define CHECK_ROOM(count)                                                               \
    do {                                                                                \
        if ((count) >= ::qarn::dt::kMaxMembers)                                         \
            THROW_MESSAGE(L"The collection cannot hold more than 2147483647 members."); \
    } while (0)

// An enumerator for For Each over a snapshot of the members.
template <class I>
HRESULT EnumerateMembers(const std::vector<ComPtr<I>>& members, IUnknown** result) {
    std::vector<VARIANT> items;
    try {
        items.reserve(members.size());
        for (const ComPtr<I>& m : members) {
            VARIANT v;
            VariantInit(&v);
            v.vt = VT_DISPATCH;
            v.pdispVal = m.Get();
            if (v.pdispVal) v.pdispVal->AddRef();
            items.push_back(v);
        }
    } catch (...) {
        for (VARIANT& v : items) VariantClear(&v);
        throw;
    }
    return MakeEnumerator(std::move(items), result);
}

// The members of any collection (ours or foreign), read through its interface before anything is
// added: the collection being read may be the one that receives them. Null members are skipped.
template <class Member, class Collection>
std::vector<ComPtr<Member>> MembersOf(Collection* collection) {
    std::vector<ComPtr<Member>> members;
    if (!collection) return members;
    LONG count = 0;
    CHECK_HR(collection->get_Count(&count));
    members.reserve(count > 0 ? static_cast<size_t>(count) : 0);
    for (LONG i = 1; i <= count; ++i) {
        ComPtr<Member> m;
        CHECK_HR(collection->get_Item(i, m.GetAddressOf()));
        if (m) members.push_back(std::move(m));
    }
    return members;
}

// An ordered list of named members (fields, structures or tables) with an index from name to the
// members of that name. Lookups find the member added last and cost the same for any size.
//
// Keeping the index right when names change: our own members (OwnMember) report every
// rename to each collection that holds them, which moves them to their new name in the index at
// once. Foreign members cannot report; a hit on a foreign member is checked against its current
// name and a mismatch rebuilds the index. A foreign member renamed *to* a name that is looked up
// is therefore only seen once the index is rebuilt (by such a mismatch, by AddField of a name that
// has foreign members, or by the removal of a foreign member).
//
// The index is built by the first lookup (or the first foreign member): a collection that is only
// filled and read by position, as most built from XML are, never pays for it.
template <class Itf>
class NamedList final : public NameIndexOwner {
public:
    using Member = Itf;

    NamedList() = default;
    NamedList(const NamedList&) = delete;
    NamedList& operator=(const NamedList&) = delete;
    ~NamedList() {
        for (Entry& e : items_) {
            if (e.own) e.own->Leave(this);
            ReleaseLater(e.item);
        }
    }

    size_t Count() const noexcept { return items_.size(); }
    Itf* At(size_t pos) const noexcept { return items_[pos].item.Get(); }
    // Leaves the index to the next lookup, which builds it in one pass: for appending many members.
    void DeferIndex() noexcept { stale_ = true; }

    // A copy of the members, for enumerators and for appending a collection to itself.
    std::vector<ComPtr<Itf>> Members() const {
        std::vector<ComPtr<Itf>> all;
        all.reserve(items_.size());
        for (const Entry& e : items_) all.push_back(e.item);
        return all;
    }

    void Append(Itf* item) {
        CheckNotBusy();
        CHECK_ROOM(items_.size());
        NamedMember* own = OwnMember(item);
        // A foreign member is filed under the name it has now: the index must exist.
        if (!own && !built_) Rebuild();
        std::wstring name;
        if (!own)
            name = ForeignName(item);
        else if (!stale_)
            name = own->Name();
        if (own) own->Join(this);
        const uint64_t seq = nextSeq_++;
        try {
            items_.push_back(Entry{ComPtr<Itf>(item), own, seq});
        } catch (...) {
            if (own) own->Leave(this);
            throw;
        }
        if (stale_) return;
        try {
            index_[IndexKey(name)].push_back(Ref{seq, item, own});
        } catch (...) {
            stale_ = true;  // the next lookup rebuilds the index
        }
    }

    // The member of that name added last, or null.
    Itf* FindLast(std::wstring_view name) {
        if (stale_) Rebuild();
        for (int attempt = 0; attempt < 2; ++attempt) {
            auto it = index_.find(name);
            if (it == index_.end() || it->second.empty()) return nullptr;
            const Ref& last = it->second.back();
            if (last.own || attempt == 1) return last.item;
            Itf* found = last.item;
            bool current;
            {
                Busy busy(this);
                current = ForeignName(found) == name;
            }
            if (current) return found;
            Rebuild();  // a foreign member changed its name
        }
        return nullptr;
    }

    void RemoveAt(size_t pos) {
        CheckNotBusy();
        Entry removed = std::move(items_[pos]);
        items_.erase(items_.begin() + static_cast<ptrdiff_t>(pos));
        if (!stale_) {
            if (removed.own)
                DropRef(removed.own->Name(), removed.seq);
            else
                stale_ = true;  // its indexed name may be out of date
        }
        if (removed.own) removed.own->Leave(this);
        ReleaseLater(removed.item);
    }

    // Removes every member of that name; gives the number removed.
    size_t RemoveNamed(std::wstring_view name) {
        CheckNotBusy();
        if (stale_) Rebuild();
        auto it = index_.find(name);
        if (it == index_.end()) return 0;
        if (std::any_of(it->second.begin(), it->second.end(), [](const Ref& r) { return !r.own; })) {
            Rebuild();  // foreign members may have been renamed: file them under their current names
            it = index_.find(name);
            if (it == index_.end()) return 0;
        }
        // Allocate first: once the name has left the index nothing may fail.
        std::vector<Entry> removed;
        removed.reserve(static_cast<size_t>(it->second.end() - it->second.begin()));
        std::vector<Ref> refs = it->second.TakeAll();
        index_.erase(it);
        // Both lists are in the order of the sequence numbers: one merging pass.
        size_t keep = 0, r = 0;
        for (size_t i = 0; i < items_.size(); ++i) {
            if (r < refs.size() && items_[i].seq == refs[r].seq) {
                removed.push_back(std::move(items_[i]));
                ++r;
            } else {
                if (keep != i) items_[keep] = std::move(items_[i]);
                ++keep;
            }
        }
        items_.erase(items_.begin() + static_cast<ptrdiff_t>(keep), items_.end());
        if (r != refs.size()) stale_ = true;  // the index did not match the list
        for (Entry& e : removed) {
            if (e.own) e.own->Leave(this);
            ReleaseLater(e.item);
        }
        return removed.size();
    }

    void MemberRenamed(NamedMember* member, const std::wstring& oldName) noexcept override {
        if (busy_) {
            // A foreign member's name query renamed one of ours: re-read everything later.
            renamedWhileBusy_ = true;
            stale_ = true;
        }
        if (stale_) return;
        try {
            std::vector<Ref> moved;
            auto from = index_.find(std::wstring_view(oldName));
            if (from != index_.end()) {
                from->second.Edit([&](std::vector<Ref>& list) {
                    auto split = std::stable_partition(list.begin(), list.end(),
                                                       [member](const Ref& r) { return r.own != member; });
                    moved.assign(split, list.end());
                    list.erase(split, list.end());
                });
                if (from->second.empty()) index_.erase(from);
            }
            if (moved.empty()) {
                stale_ = true;
                return;
            }
            index_[IndexKey(member->Name())].Edit([&](std::vector<Ref>& to) {
                for (const Ref& m : moved) {
                    auto at = std::upper_bound(to.begin(), to.end(), m.seq,
                                               [](uint64_t seq, const Ref& r) { return seq < r.seq; });
                    to.insert(at, m);
                }
            });
        } catch (...) {
            stale_ = true;
        }
    }

private:
    struct Entry {
        ComPtr<Itf> item;
        NamedMember* own;  // set for our own members
        uint64_t seq;      // grows with the position
    };
    struct Ref {
        uint64_t seq;
        Itf* item;
        NamedMember* own;
    };

    // The members of one name in the order of their sequence numbers. Most names have one
    // member: it is kept in place, without an allocation of its own.
    class RefList {
    public:
        bool empty() const noexcept { return !hasOne_ && many_.empty(); }
        const Ref* begin() const noexcept { return hasOne_ ? &one_ : many_.data(); }
        const Ref* end() const noexcept { return hasOne_ ? &one_ + 1 : many_.data() + many_.size(); }
        const Ref& back() const noexcept { return hasOne_ ? one_ : many_.back(); }
        void push_back(const Ref& r) {
            if (empty()) {
                one_ = r;
                hasOne_ = true;
                return;
            }
            Edit([&](std::vector<Ref>& v) { v.push_back(r); });
        }
        std::vector<Ref> TakeAll() {
            std::vector<Ref> all;
            Edit([&](std::vector<Ref>& v) { all.swap(v); });
            return all;
        }
        // Changes the list as a vector.
        template <class F>
        void Edit(F&& change) {
            if (hasOne_) {
                many_.reserve(2);
                many_.push_back(one_);
                hasOne_ = false;
            }
            change(many_);
            if (many_.size() == 1) {
                one_ = many_.front();
                hasOne_ = true;
                std::vector<Ref>().swap(many_);
            }
        }

    private:
        Ref one_{};
        bool hasOne_ = false;
        std::vector<Ref> many_;
    };

    // While foreign members are asked for their names, a call back into this collection must not
    // change it.
    struct Busy {
        explicit Busy(NamedList* list) noexcept : list_(list) { ++list_->busy_; }
        ~Busy() { --list_->busy_; }
        NamedList* list_;
    };
    void CheckNotBusy() const {
        if (busy_) THROW_MESSAGE(L"The collection cannot be changed while it is being searched.");
    }

    static std::wstring ForeignName(Itf* item) {
        Bstr name;
        if (FAILED(item->get_Name(name.Out()))) return {};
        return std::wstring(name.View());
    }

    void DropRef(const std::wstring& name, uint64_t seq) {
        auto it = index_.find(std::wstring_view(name));
        if (it == index_.end()) {
            stale_ = true;
            return;
        }
        bool found = false;
        it->second.Edit([&](std::vector<Ref>& list) {
            auto at =
                std::lower_bound(list.begin(), list.end(), seq, [](const Ref& r, uint64_t s) { return r.seq < s; });
            if (at == list.end() || at->seq != seq) return;
            list.erase(at);
            found = true;
        });
        if (!found) stale_ = true;
        if (it->second.empty()) index_.erase(it);
    }

    void Rebuild() {
        Busy busy(this);
        Index fresh;
        fresh.reserve(items_.size());
        for (const Entry& e : items_)
            fresh[IndexKey(e.own ? e.own->Name() : ForeignName(e.item.Get()))].push_back(
                Ref{e.seq, e.item.Get(), e.own});
        index_.swap(fresh);
        stale_ = std::exchange(renamedWhileBusy_, false);
        built_ = true;
    }

    using Index = std::unordered_map<IndexKey, RefList, NameHash, NameEqual>;

    std::vector<Entry> items_;
    Index index_;
    uint64_t nextSeq_ = 1;
    bool stale_ = true;   // the index is to be rebuilt before its next use
    bool built_ = false;  // the index has been built once
    int busy_ = 0;
    bool renamedWhileBusy_ = false;
};

// An ordered list of unnamed members (rows, documents).
template <class Itf>
class MemberList {
public:
    using Member = Itf;

    MemberList() = default;
    MemberList(const MemberList&) = delete;
    MemberList& operator=(const MemberList&) = delete;
    ~MemberList() {
        for (ComPtr<Itf>& m : items_) ReleaseLater(m);
    }

    size_t Count() const noexcept { return items_.size(); }
    Itf* At(size_t pos) const noexcept { return items_[pos].Get(); }
    const std::vector<ComPtr<Itf>>& Members() const noexcept { return items_; }
    void Append(Itf* item) {
        CHECK_ROOM(items_.size());
        items_.emplace_back(item);
    }

private:
    std::vector<ComPtr<Itf>> items_;
};

}  // namespace qarn::dt
