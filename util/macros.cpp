// Script macros and method invocation: members of CQarnUtilities.
//
// A script engine is any automation object with the members "RunMacro" and "RunMacro2" (the
// macro name, the input and the output object by reference) and "Destroy". Each utilities object
// keeps the engines it created, one per ProgID text, until DestroyScriptEngine succeeds.
#include "util/Utilities.h"

#include <cstring>
#include <initializer_list>

using namespace qarn;

namespace {

// Locale of the engine calls and of the ProgID comparison.
constexpr LCID kCallLocale = LOCALE_SYSTEM_DEFAULT;
constexpr LCID kCompareLocale = LOCALE_USER_DEFAULT;
// Engines may live in any server: in-process, handler, local or remote.
constexpr DWORD kEngineContext = CLSCTX_ALL;
static_assert(kCallLocale == 0x800 && kCompareLocale == 0x400 && kEngineContext == 23);

// Access codes of the self-test behind the function module "RunTestCases", one per variant.
constexpr std::wstring_view kQuickSelfTestCode = L"{FFD01A42-F1B9-4F5A-88BA-87C61CF77DF5}";
constexpr std::wstring_view kFullSelfTestCode = L"{1F0AEC45-C85D-4780-8669-EE4AE5B01389}";
constexpr std::wstring_view kSelfTestModule = L"RunTestCases";

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

// The text of the header field `name`; null when there is no such field.
Bstr HeaderText(IStructure* header, const wchar_t* name) {
    ComPtr<IField> field;
    CHECK_HR(header->GetField(Bstr(name), &field));
    Bstr value;
    if (field) CHECK_HR(field->get_StringValue(value.Out()));
    return value;
}

}  // namespace

size_t CQarnUtilities::FindScriptEngine(BSTR progId) const {
    for (size_t i = 0; i < scriptEngines_.size(); ++i)
        if (VarBstrCmp(scriptEngines_[i].progId, progId, kCompareLocale, 0) == VARCMP_EQ) return i;
    return scriptEngines_.size();
}

ComPtr<IDispatch> CQarnUtilities::ScriptEngineFor(BSTR progId) {
    const size_t found = FindScriptEngine(progId);
    if (found < scriptEngines_.size()) return scriptEngines_[found].engine;
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(progId, &clsid))) THROW_REPORT(Fill(L"Error getting clsid from %s.", {Arg(progId)}));
    ComPtr<IDispatch> engine;
    if (FAILED(CoCreateInstance(clsid, nullptr, kEngineContext, IID_PPV_ARGS(&engine))) || !engine)
        THROW_REPORT(Fill(L"Error creating instance %s.", {Arg(progId)}));
    scriptEngines_.push_back({Bstr(View(progId)), engine});
    return engine;
}

template <class I>
void CQarnUtilities::RunEngineMacro(BSTR progId, const wchar_t* member, BSTR macroName, const wchar_t* kind,
                                    I** ppInput, I** ppOutput) {
    if (Arg(progId).value_or(std::wstring_view()).empty())
        THROW_REPORT(Fill(L"Error getting clsid from %s.", {Arg(progId)}));
    if (!ppInput || !ppOutput) THROW_REPORT(L"Input or Output are NULL");
    // Held for the call: a macro that calls back into this object may empty the cache meanwhile.
    const ComPtr<IDispatch> engine = ScriptEngineFor(progId);
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

STDMETHODIMP CQarnUtilities::RunMacro(BSTR progID, BSTR methodName, IParameterList **ppInput, IParameterList **ppOutput) {
    return MethodFrame(L"CQarnUtilities::RunMacro", [&] {
        RunEngineMacro(progID, L"RunMacro", methodName, L"ParameterList", ppInput, ppOutput);
    });
}

STDMETHODIMP CQarnUtilities::RunMacro2(BSTR progID, BSTR methodName, IQarnDocument **ppInput, IQarnDocument **ppOutput) {
    return MethodFrame(L"CQarnUtilities::RunMacro2", [&] {
        RunEngineMacro(progID, L"RunMacro2", methodName, L"QarnDocument", ppInput, ppOutput);
    });
}

STDMETHODIMP CQarnUtilities::DestroyScriptEngine(BSTR progID) {
    return MethodFrame(L"CQarnUtilities::DestroyScriptEngine", [&] {
        if (!progID) return;
        const size_t index = FindScriptEngine(progID);
        if (index >= scriptEngines_.size()) return;
        const ComPtr<IDispatch> engine = scriptEngines_[index].engine;
        const DISPID id = MemberId(engine.Get(), L"Destroy", progID, false);
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        ExceptionInfo exception;
        if (!CallMethod(engine.Get(), id, none, exception)) THROW_MESSAGE(Fill(L"Error invoking method %s.", {L"Destroy"}));
        // Found again by its engine: the call may have changed the cache.
        for (auto entry = scriptEngines_.begin(); entry != scriptEngines_.end(); ++entry) {
            if (entry->engine.Get() != engine.Get()) continue;
            scriptEngines_.erase(entry);
            scriptEngines_.shrink_to_fit();
            break;
        }
    });
}

STDMETHODIMP CQarnUtilities::InvokeMethod(IParameterList **ppInput, IParameterList **ppOutput) {
    return MethodFrame(L"CQarnUtilities::InvokeMethod", [&] {
        if (!ppInput || !ppOutput || !*ppInput || !*ppOutput) return;
        ComPtr<IStructure> header;
        CHECK_HR((*ppInput)->GetStructure(Bstr(L"QarnHeader"), &header));
        if (!header) return;
        const Bstr module = HeaderText(header.Get(), L"functionmodule");
        if (module.IsEmpty()) return;
        if (module.View() != kSelfTestModule) THROW_REPORT(Fill(L"Unknown functionmodule %s", {Arg(module)}));
        const Bstr key = HeaderText(header.Get(), L"AccessKey");
        if (key.IsNull()) return;
        if (key.View() == kQuickSelfTestCode) RunSelfTest(1);
        else if (key.View() == kFullSelfTestCode) RunSelfTest(2);
    });
}

STDMETHODIMP CQarnUtilities::InvokeMethod2(IQarnDocument **ppInput, IQarnDocument **ppOutput) {
    return MethodFrame(L"CQarnUtilities::InvokeMethod2", [&] {
        if (!ppInput || !ppOutput || !*ppInput || !*ppOutput) return;
        ComPtr<IParameterList> input, output;
        CHECK_HR((*ppInput)->get_ParameterList(&input));
        CHECK_HR((*ppOutput)->get_ParameterList(&output));
        if (!input || !output) return;
        CHECK_HR(InvokeMethod(input.GetAddressOf(), output.GetAddressOf()));
    });
}
