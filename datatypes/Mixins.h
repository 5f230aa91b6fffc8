// The members every data-type class shares, written once: the Attributes property of all ten
// classes, Name of the three named members and Count, Item and _NewEnum of the five collections.
//
//   class CTableCollection : public qarn::dt::IndexedCollection<CTableCollection, ITableCollection,
//                                                               qarn::dt::NamedList<ITable>> {
//   public:
//       static constexpr wchar_t kName[] = L"TableCollection";  // frames: "TableCollection::get_Count"
//       ...
//   };
#pragma once

#include <array>
#include <cstddef>

#include "Members.h"

namespace qarn::dt {

// A method name as a template argument.
template <size_t N>
struct MethodName {
    wchar_t chars[N]{};
    constexpr MethodName(const wchar_t (&name)[N]) {
        for (size_t i = 0; i < N; ++i) chars[i] = name[i];
    }
};

template <size_t C, size_t M>
constexpr std::array<wchar_t, C + M + 1> JoinFrameName(const wchar_t (&cls)[C], const wchar_t (&method)[M]) {
    std::array<wchar_t, C + M + 1> text{};
    size_t at = 0;
    for (size_t i = 0; i + 1 < C; ++i) text[at++] = cls[i];
    text[at++] = L':';
    text[at++] = L':';
    for (size_t i = 0; i < M; ++i) text[at++] = method[i];
    return text;
}

// "Class::Method", the frame name of a method of Derived (named by Derived::kName), as a constant.
template <class Derived, MethodName Method>
inline constexpr auto kFrameName = JoinFrameName(Derived::kName, Method.chars);

// The Attributes property: nothing until a collection is put; the object keeps the very
// collection it is given. `Internal` are further interfaces of the class (OwnAccess.h).
template <class Derived, class Itf, class... Internal>
class WithAttributes : public ComObject<Derived, Itf, Internal...> {
public:
    STDMETHODIMP get_Attributes(IFieldCollection** attributes) override {
        return MethodFrame(kFrameName<Derived, L"get_Attributes">.data(), [&] {
            OutParam(attributes) = attributes_.Get();
            if (*attributes) (*attributes)->AddRef();
        });
    }
    STDMETHODIMP put_Attributes(IFieldCollection* attributes) override {
        return MethodFrame(kFrameName<Derived, L"put_Attributes">.data(), [&] {
            ComPtr<IFieldCollection> old = std::exchange(attributes_, ComPtr<IFieldCollection>(attributes));
            ReleaseLater(old);
        });
    }

    IFieldCollection* Attributes() const noexcept { return attributes_.Get(); }
    void SetAttributes(IFieldCollection* attributes) noexcept { attributes_ = attributes; }

protected:
    ~WithAttributes() { ReleaseLater(attributes_); }

private:
    ComPtr<IFieldCollection> attributes_;
};

// The Name property of the named members (Field, Structure, Table). The most derived class records
// its table of virtual functions (OwnVtable) in its own constructor: while a base class is being
// built, the object does not have its final table yet.
template <class Derived, class Itf, class... Internal>
class WithName : public WithAttributes<Derived, Itf, Internal...>, public NamedMember {
public:
    STDMETHODIMP get_Name(BSTR* name) override {
        return MethodFrame(kFrameName<Derived, L"get_Name">.data(), [&] {
            OutParam(name) = CopyBstr(Name());
        });
    }
    STDMETHODIMP put_Name(BSTR name) override {
        return MethodFrame(kFrameName<Derived, L"put_Name">.data(), [&] { SetName(std::wstring(View(name))); });
    }
};

// A collection over an ordered member list (NamedList or MemberList): Count, the 1-based Item and
// a For Each enumerator over a snapshot, plus the Attributes property.
template <class Derived, class Itf, class List, class... Internal>
class IndexedCollection : public WithAttributes<Derived, Itf, Internal...> {
public:
    using Item = typename List::Member;

    STDMETHODIMP get_Count(LONG* count) override {
        return MethodFrame(kFrameName<Derived, L"get_Count">.data(),
                           [&] { OutParam(count) = static_cast<LONG>(items_.Count()); });
    }
    STDMETHODIMP get_Item(LONG index, Item** result) override {
        return MethodFrame(kFrameName<Derived, L"get_Item">.data(), [&] {
            OutParam(result) = items_.At(CHECK_INDEX(index, items_.Count()));
            (*result)->AddRef();
        });
    }
    STDMETHODIMP get__NewEnum(IUnknown** result) override {
        return MethodFrame(kFrameName<Derived, L"get__NewEnum">.data(), [&] {
            OutParam(result);
            CHECK_HR(EnumerateMembers(items_.Members(), result));
        });
    }

    List& Items() noexcept { return items_; }

protected:
    List items_;
};

}  // namespace qarn::dt
