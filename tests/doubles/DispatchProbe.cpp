#include <iterator>
#include <string>
#include <vector>

#include "Dispatch.h"
#include "Doubles.h"
#include "Errors.h"
#include "Text.h"

using namespace qarn;

namespace {

const wchar_t* const kWords[] = {L"alpha", L"beta", L"gamma"};
constexpr LONG kWordCount = static_cast<LONG>(std::size(kWords));

}  // namespace

STDMETHODIMP DispatchProbe::Split(BSTR text, BSTR* rest, BSTR* head) {
    return MethodFrame(L"DispatchProbe::Split", [&] {
        CHECK_POINTER(rest);
        CHECK_POINTER(head);
        *rest = *head = nullptr;
        const std::wstring_view all = View(text);
        const size_t colon = all.find(L':');
        Bstr first(all.substr(0, colon)), second(colon == std::wstring_view::npos ? std::wstring_view() : all.substr(colon + 1));
        *rest = second.Detach();
        *head = first.Detach();
    });
}

STDMETHODIMP DispatchProbe::FillList(BSTR name, BSTR value, IParameterList** list) {
    return MethodFrame(L"DispatchProbe::FillList", [&] {
        CHECK_POINTER(list);
        ComPtr<IParameterList> target = *list;
        if (!target) CHECK_HR(CoCreateInstance(CLSID_ParameterList, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&target)));
        ComPtr<IFieldCollection> fields;
        CHECK_HR(target->get_FieldCollection(&fields));
        CHECK_HR(fields->SetValue(name, Variant(View(value))));
        if (*list == target.Get()) return;
        if (*list) (*list)->Release();
        *list = target.Detach();
    });
}

STDMETHODIMP DispatchProbe::Toggle(VARIANT_BOOL* flag) {
    return MethodFrame(L"DispatchProbe::Toggle", [&] {
        CHECK_POINTER(flag);
        *flag = *flag ? VARIANT_FALSE : VARIANT_TRUE;
    });
}

STDMETHODIMP DispatchProbe::Bracket(BSTR* text) {
    return MethodFrame(L"DispatchProbe::Bracket", [&] {
        CHECK_POINTER(text);
        Bstr result(L"[" + std::wstring(View(*text)) + L"]");
        SysFreeString(*text);
        *text = result.Detach();
    });
}

STDMETHODIMP DispatchProbe::IsNullField(IField* field, VARIANT_BOOL* isNull) {
    return MethodFrame(L"DispatchProbe::IsNullField", [&] {
        CHECK_POINTER(isNull);
        *isNull = field ? VARIANT_FALSE : VARIANT_TRUE;
    });
}

STDMETHODIMP DispatchProbe::get_Word(LONG index, BSTR* word) {
    return MethodFrame(L"DispatchProbe::Word", [&] {
        CHECK_POINTER(word);
        *word = nullptr;
        if (index < 1 || index > kWordCount)
            THROW_MESSAGE(Format(L"Word index %ld is out of range 1 to %ld.", static_cast<long>(index), static_cast<long>(kWordCount)));
        *word = CopyBstr(kWords[index - 1]);
    });
}

STDMETHODIMP DispatchProbe::get_Count(LONG* count) {
    return MethodFrame(L"DispatchProbe::Count", [&] {
        CHECK_POINTER(count);
        *count = kWordCount;
    });
}

STDMETHODIMP DispatchProbe::get__NewEnum(IUnknown** ppEnum) {
    return MethodFrame(L"DispatchProbe::_NewEnum", [&] {
        CHECK_POINTER(ppEnum);
        *ppEnum = nullptr;
        std::vector<VARIANT> items;
        for (const wchar_t* w : kWords) items.push_back(Variant(std::wstring_view(w)).Detach());
        CHECK_HR(MakeEnumerator(std::move(items), ppEnum));
    });
}

STDMETHODIMP DispatchProbe::Fail(BSTR message) {
    return MethodFrame(L"DispatchProbe::Fail", [&] { THROW_MESSAGE(std::wstring(View(message))); });
}

STDMETHODIMP DispatchProbe::Describe(GUID guid, BSTR* text) {
    return MethodFrame(L"DispatchProbe::Describe", [&] {
        CHECK_POINTER(text);
        wchar_t buffer[40] = {};
        if (!StringFromGUID2(guid, buffer, static_cast<int>(std::size(buffer)))) ThrowHResult(E_UNEXPECTED);
        *text = CopyBstr(buffer);
    });
}
