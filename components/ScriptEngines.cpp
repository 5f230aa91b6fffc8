// The script engines of a utilities object: created on first use per ProgID and kept until
// destroyed. A script engine is any automation object with the members "RunMacro" and "RunMacro2"
// (the macro name, the input and the output object by reference) and "Destroy".
#include "components/ScriptEngines.h"

#include "base/CallerText.h"

#include <cstring>
#include <initializer_list>

namespace qarn {

namespace {

// Locale of the engine calls and of the ProgID comparison.
constexpr LCID kCallLocale = LOCALE_SYSTEM_DEFAULT;
constexpr LCID kCompareLocale = LOCALE_USER_DEFAULT;
// Engines may live in any server: in-process, handler, local or remote.
constexpr DWORD kEngineContext = CLSCTX_ALL;
static_assert(kCallLocale == 0x800 && kCompareLocale == 0x400 && kEngineContext == 23);

// A message with its "%s" conversions filled with the texts in order (null prints "(null)").
std::wstring Fill(std::wstring_view format, std::initializer_list<text::TextArg> args) {
    size_t capacity = format.size() + 2048;
    for (const auto& arg : args) capacity += arg ? arg->size() : 16;
    return text::FillTemplate(format, std::vector<text::TextArg>(args), capacity);
}

// The exception information of one engine call; owns the texts the engine puts in it.
class ExceptionInfo : public EXCEPINFO {
public:
    ExceptionInfo() noexcept { std::memset(static_cast<EXCEPINFO*>(this), 0, sizeof(EXCEPINFO)); }
    ~ExceptionInfo() {
        SysFreeString(bstrSource);
        SysFreeString(bstrDescription);
        SysFreeString(bstrHelpFile);
    }
    ExceptionInfo(const ExceptionInfo&) = delete;
    ExceptionInfo& operator=(const ExceptionInfo&) = delete;

    // The engine's description (empty when it gave none), after its deferred fill-in if it asked for one.
    std::wstring Description() {
        if (pfnDeferredFillIn) {
            auto fill = pfnDeferredFillIn;
            pfnDeferredFillIn = nullptr;
            fill(this);
        }
        return bstrDescription ? std::wstring(*Arg(bstrDescription)) : std::wstring();
    }
};

// The dispatch id of the engine's member `member`. The macro calls fail with their own report
// (one "at" line); removing an engine raises the failure on (two).
DISPID MemberId(IDispatch* engine, const wchar_t* member, BSTR progId, bool report) {
    LPOLESTR name = const_cast<LPOLESTR>(member);
    DISPID id = DISPID_UNKNOWN;
    if (FAILED(engine->GetIDsOfNames(IID_NULL, &name, 1, kCallLocale, &id))) {
        const std::wstring text = Fill(L"Error finding member %s in instance %s.", {member, Arg(progId)});
        if (report) THROW_REPORT(text);
        THROW_MESSAGE(text);
    }
    return id;
}

// Calls a member as a method without asking for its result; false when it failed.
bool CallMethod(IDispatch* engine, DISPID id, DISPPARAMS& params, ExceptionInfo& exception) {
    UINT badArgument = 0;
    return SUCCEEDED(engine->Invoke(id, IID_NULL, kCallLocale, DISPATCH_METHOD, &params, nullptr, &exception,
                                    &badArgument));
}

// An object pointer the engine may replace through VT_BYREF | VT_DISPATCH; owns one reference.
struct DispatchSlot {
    IDispatch* object = nullptr;
    explicit DispatchSlot(IDispatch* p) : object(p) {
        if (object) object->AddRef();
    }
    ~DispatchSlot() {
        if (object) object->Release();
    }
    DispatchSlot(const DispatchSlot&) = delete;
    DispatchSlot& operator=(const DispatchSlot&) = delete;
};

// The object an engine left in a slot as the caller's interface; null stays null.
template <class I>
ComPtr<I> TakeAs(const DispatchSlot& slot, BSTR macroName, const wchar_t* role, const wchar_t* kind) {
    ComPtr<I> typed;
    if (slot.object && (FAILED(slot.object->QueryInterface(__uuidof(I), reinterpret_cast<void**>(typed.GetAddressOf()))) || !typed))
        THROW_REPORT(Fill(L"The macro %s replaced the %s with an object that is not a %s.", {Arg(macroName), role, kind}));
    return typed;
}

template <class I>
void Store(I** target, ComPtr<I> object) {
    if (*target) (*target)->Release();
    *target = object.Detach();
}

}  // namespace


size_t ScriptEngines::Find(BSTR progId) const {
    for (size_t i = 0; i < engines_.size(); ++i)
        if (VarBstrCmp(engines_[i].progId, progId, kCompareLocale, 0) == VARCMP_EQ) return i;
    return engines_.size();
}

ComPtr<IDispatch> ScriptEngines::EngineFor(BSTR progId) {
    const size_t found = Find(progId);
    if (found < engines_.size()) return engines_[found].engine;
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(progId, &clsid))) THROW_REPORT(Fill(L"Error getting clsid from %s.", {Arg(progId)}));
    ComPtr<IDispatch> engine;
    if (FAILED(CoCreateInstance(clsid, nullptr, kEngineContext, IID_PPV_ARGS(&engine))) || !engine)
        THROW_REPORT(Fill(L"Error creating instance %s.", {Arg(progId)}));
    engines_.push_back({Bstr(View(progId)), engine});
    return engine;
}

template <class I>
void ScriptEngines::Run(BSTR progId, const wchar_t* member, BSTR macroName, const wchar_t* kind, I** ppInput,
                        I** ppOutput) {
    if (Arg(progId).value_or(std::wstring_view()).empty())
        THROW_REPORT(Fill(L"Error getting clsid from %s.", {Arg(progId)}));
    if (!ppInput || !ppOutput) THROW_REPORT(L"Input or Output are NULL");
    // Held for the call: a macro that calls back into the owner may empty the cache meanwhile.
    const ComPtr<IDispatch> engine = EngineFor(progId);
    const DISPID id = MemberId(engine.Get(), member, progId, true);

    // The engine works on copies of the caller's pointers; what it leaves there reaches the caller
    // only when it is an object of the caller's kind (or null).
    DispatchSlot input(*ppInput), output(*ppOutput);
    VARIANTARG args[3];
    for (VARIANTARG& arg : args) VariantInit(&arg);
    // Arguments in reverse order: macro name, input, output.
    args[2].vt = VT_BSTR;
    args[2].bstrVal = macroName;  // borrowed for the call
    args[1].vt = VT_BYREF | VT_DISPATCH;
    args[1].ppdispVal = &input.object;
    args[0].vt = VT_BYREF | VT_DISPATCH;
    args[0].ppdispVal = &output.object;
    DISPPARAMS params{args, nullptr, 3, 0};
    ExceptionInfo exception;
    if (!CallMethod(engine.Get(), id, params, exception)) {
        std::wstring description = exception.Description();
        if (description.empty()) description = Fill(L"Error invoking method %s.", {member});
        THROW_REPORT(description);
    }
    ComPtr<I> newInput = TakeAs<I>(input, macroName, L"input", kind);
    ComPtr<I> newOutput = TakeAs<I>(output, macroName, L"output", kind);
    Store(ppInput, std::move(newInput));
    Store(ppOutput, std::move(newOutput));
}

template void ScriptEngines::Run<IParameterList>(BSTR, const wchar_t*, BSTR, const wchar_t*, IParameterList**,
                                                  IParameterList**);
template void ScriptEngines::Run<IQarnDocument>(BSTR, const wchar_t*, BSTR, const wchar_t*, IQarnDocument**,
                                                 IQarnDocument**);

void ScriptEngines::Destroy(BSTR progId) {
    if (!progId) return;
    const size_t index = Find(progId);
    if (index >= engines_.size()) return;
    const ComPtr<IDispatch> engine = engines_[index].engine;
    const DISPID id = MemberId(engine.Get(), L"Destroy", progId, false);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    ExceptionInfo exception;
    if (!CallMethod(engine.Get(), id, none, exception)) THROW_MESSAGE(Fill(L"Error invoking method %s.", {L"Destroy"}));
    // Found again by its engine: the call may have changed the cache.
    for (auto entry = engines_.begin(); entry != engines_.end(); ++entry) {
        if (entry->engine.Get() != engine.Get()) continue;
        engines_.erase(entry);
        engines_.shrink_to_fit();
        break;
    }
}

}  // namespace qarn
