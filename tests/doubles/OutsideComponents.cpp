// The outside components the server creates: the PLM connectors, the about dialog and the field
// function.
#include "Doubles.h"

#include <atomic>
#include <cwctype>
#include <string>

#include "Errors.h"
#include "Text.h"

using namespace qarn;

namespace {

constexpr unsigned Hex(const char* s, int n) {
    unsigned v = 0;
    for (int i = 0; i < n; ++i) v = v * 16 + (s[i] <= '9' ? s[i] - '0' : (s[i] | 0x20) - 'a' + 10);
    return v;
}
// "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX"
constexpr GUID Guid(const char* s) {
    GUID g{Hex(s, 8), static_cast<unsigned short>(Hex(s + 9, 4)), static_cast<unsigned short>(Hex(s + 14, 4)), {}};
    for (int i = 0; i < 8; ++i) g.Data4[i] = static_cast<unsigned char>(Hex(s + (i < 2 ? 19 + 2 * i : 20 + 2 * i), 2));
    return g;
}

std::atomic<LONG> g_shown{0};
std::atomic<bool> g_lastGiven{false};

}  // namespace

// ProgID, implements IClassCreatorHelper, CLSID, the interface the factory asks for.
const ConnectorDouble::Kind ConnectorDouble::kKinds[kKindCount] = {
    {L"QarnArasConnector.CArasInnovator", true, Guid("006C1E96-137C-43E7-8CEB-BFF63546C65D"), Guid("4D184FB0-2ED0-4A08-853D-50B13D970239")},
    {L"QarnComJniConnector.CVariPDMConnector", true, Guid("2409E045-5B1A-4A53-84FE-125C1E5CA9C0"), Guid("8C0B514B-CA9C-4309-947E-82924ABCC7D8")},
    {L"QarnComJniConnector.CAgile9Connector", true, Guid("68C7CA72-C005-4844-B1C6-2129148322EF"), Guid("F8C9AB12-45B3-4E63-85D6-9DF4E40813A4")},
    {L"QarnComJniConnector.CMatrixConnector", true, Guid("A5B08C13-C84F-444A-8104-617550DD481F"), Guid("17EAE100-ED62-463D-AA1D-2D7BED9848E1")},
    {L"QarnComJniConnector.CTCEConnector", true, Guid("23B41301-72D7-458E-AB4F-F97762999401"), Guid("E043A072-CD81-454F-A553-7976F2B0FEAB")},
    {L"QarnComJniConnector.CWindchillConnector", false, Guid("22085CAD-556A-4660-A320-568FED8185CE"), Guid("66D72202-542A-4AEB-BBFA-4472CBDD0B59")},
    {L"QarnComJniConnector.CSAPConnector", true, Guid("DEF23AB0-B9BA-4D8C-933E-3CC99E223839"), Guid("AF743BD4-806F-4367-8A37-8B9A94189A8B")},
    {L"QarnComJniConnector.CCEEConnector", true, Guid("325B2A61-9F00-4BA0-B118-069662001C97"), Guid("4149A7AA-E73C-4A05-8A2B-8C704FC9B3B5")},
    {L"QarnComJniConnector.CGTConnector", true, Guid("476E29F9-785E-41F9-A317-818DF221D285"), Guid("0626BEA9-F0A7-4F97-B695-E4332405E38E")},
};

HRESULT ConnectorDouble::Create(const Kind& kind, IUnknown* outer, REFIID iid, void** ppv) noexcept {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    try {
        return Make(kind)->QueryInterface(iid, ppv);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

void* ConnectorDouble::FindInterface(REFIID iid) noexcept {
    if (InlineIsEqualGUID(iid, kind_.iid)) return static_cast<IConnectorDouble*>(this);
    if (!kind_.helper && InlineIsEqualGUID(iid, __uuidof(IClassCreatorHelper))) return nullptr;
    return ComObject::FindInterface(iid);
}

STDMETHODIMP ConnectorDouble::InterfaceSupportsErrorInfo(REFIID iid) {
    if (kind_.helper && InlineIsEqualGUID(iid, __uuidof(IClassCreatorHelper))) return S_OK;
    return ComObject::InterfaceSupportsErrorInfo(iid);
}

STDMETHODIMP ConnectorDouble::get_Calls(BSTR* calls) {
    return MethodFrame(L"ConnectorDouble::Calls", [&] {
        CHECK_POINTER(calls);
        *calls = CopyBstr(std::wstring_view(calls_));
    });
}

STDMETHODIMP ConnectorDouble::get_ClassName(BSTR* progId) {
    return MethodFrame(L"ConnectorDouble::ClassName", [&] {
        CHECK_POINTER(progId);
        *progId = CopyBstr(kind_.progId);
    });
}

STDMETHODIMP ConnectorDouble::put_Note(BSTR text) {
    return MethodFrame(L"ConnectorDouble::Note", [&] { calls_ += L"Note(" + std::wstring(View(text)) + L");"; });
}

STDMETHODIMP ConnectorDouble::SetHandler(BSTR handlerClass, IFieldCollection* environment) {
    return MethodFrame(L"ConnectorDouble::SetHandler", [&] {
        std::wstring fields = L"null";
        if (environment) {
            long count = 0;
            CHECK_HR(environment->get_Count(&count));
            fields = std::to_wstring(count);
        }
        const std::wstring handler(handlerClass ? View(handlerClass) : std::wstring_view(L"(null)"));
        calls_ += L"SetHandler(" + handler + L"," + fields + L");";
        if (handler == L"fail") THROW_MESSAGE(L"The connector refused the handler class " + handler + L".");
    });
}

STDMETHODIMP ConnectorDouble::Prepare() {
    return MethodFrame(L"ConnectorDouble::Prepare", [&] { calls_ += L"Prepare;"; });
}

STDMETHODIMP AboutDialogDouble::get_ShownCount(LONG* count) {
    return MethodFrame(L"AboutDialogDouble::ShownCount", [&] {
        CHECK_POINTER(count);
        *count = g_shown.load();
    });
}

STDMETHODIMP AboutDialogDouble::get_LastApplicationWasGiven(VARIANT_BOOL* given) {
    return MethodFrame(L"AboutDialogDouble::LastApplicationWasGiven", [&] {
        CHECK_POINTER(given);
        *given = g_lastGiven.load() ? VARIANT_TRUE : VARIANT_FALSE;
    });
}

STDMETHODIMP AboutDialogDouble::ShowAboutDialog(IDispatch* application) {
    return MethodFrame(L"AboutDialogDouble::ShowAboutDialog", [&] {
        g_lastGiven = application != nullptr;
        ++g_shown;
    });
}

STDMETHODIMP FieldFunction::Evaluate(BSTR value, BSTR functionName, BSTR* result) {
    return MethodFrame(L"FieldFunction::Evaluate", [&]() -> HRESULT {
        CHECK_POINTER(result);
        *result = nullptr;
        const std::wstring_view name = View(functionName);
        std::wstring text(View(value));
        if (name == L"upper") {
            for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
        } else if (name == L"trim") {
            const size_t first = text.find_first_not_of(L' ');
            text = first == std::wstring::npos ? std::wstring() : text.substr(first, text.find_last_not_of(L' ') - first + 1);
        } else if (name == L"today") {
            SYSTEMTIME now;
            GetLocalTime(&now);
            text = Format(L"%04u-%02u-%02u", now.wYear, now.wMonth, now.wDay);
        } else if (name == L"fail") {
            *result = CopyBstr(std::wstring_view(L"failed"));
            return E_FAIL;
        }
        *result = CopyBstr(std::wstring_view(text));
        return S_OK;
    });
}
