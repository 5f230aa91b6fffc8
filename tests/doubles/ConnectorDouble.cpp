#include "ConnectorDouble.h"

#include "Errors.h"
#include "Text.h"

using namespace qarn;

const ConnectorDouble::Kind ConnectorDouble::kKinds[kKindCount] = {
    // {006C1E96-137C-43E7-8CEB-BFF63546C65D}, asked for {4D184FB0-2ED0-4A08-853D-50B13D970239}
    {L"QarnArasConnector.CArasInnovator", true,
     {0x006C1E96, 0x137C, 0x43E7, {0x8C, 0xEB, 0xBF, 0xF6, 0x35, 0x46, 0xC6, 0x5D}},
     {0x4D184FB0, 0x2ED0, 0x4A08, {0x85, 0x3D, 0x50, 0xB1, 0x3D, 0x97, 0x02, 0x39}}},
    // {2409E045-5B1A-4A53-84FE-125C1E5CA9C0}, asked for {8C0B514B-CA9C-4309-947E-82924ABCC7D8}
    {L"QarnComJniConnector.CVariPDMConnector", true,
     {0x2409E045, 0x5B1A, 0x4A53, {0x84, 0xFE, 0x12, 0x5C, 0x1E, 0x5C, 0xA9, 0xC0}},
     {0x8C0B514B, 0xCA9C, 0x4309, {0x94, 0x7E, 0x82, 0x92, 0x4A, 0xBC, 0xC7, 0xD8}}},
    // {68C7CA72-C005-4844-B1C6-2129148322EF}, asked for {F8C9AB12-45B3-4E63-85D6-9DF4E40813A4}
    {L"QarnComJniConnector.CAgile9Connector", true,
     {0x68C7CA72, 0xC005, 0x4844, {0xB1, 0xC6, 0x21, 0x29, 0x14, 0x83, 0x22, 0xEF}},
     {0xF8C9AB12, 0x45B3, 0x4E63, {0x85, 0xD6, 0x9D, 0xF4, 0xE4, 0x08, 0x13, 0xA4}}},
    // {A5B08C13-C84F-444A-8104-617550DD481F}, asked for {17EAE100-ED62-463D-AA1D-2D7BED9848E1}
    {L"QarnComJniConnector.CMatrixConnector", true,
     {0xA5B08C13, 0xC84F, 0x444A, {0x81, 0x04, 0x61, 0x75, 0x50, 0xDD, 0x48, 0x1F}},
     {0x17EAE100, 0xED62, 0x463D, {0xAA, 0x1D, 0x2D, 0x7B, 0xED, 0x98, 0x48, 0xE1}}},
    // {23B41301-72D7-458E-AB4F-F97762999401}, asked for {E043A072-CD81-454F-A553-7976F2B0FEAB}
    {L"QarnComJniConnector.CTCEConnector", true,
     {0x23B41301, 0x72D7, 0x458E, {0xAB, 0x4F, 0xF9, 0x77, 0x62, 0x99, 0x94, 0x01}},
     {0xE043A072, 0xCD81, 0x454F, {0xA5, 0x53, 0x79, 0x76, 0xF2, 0xB0, 0xFE, 0xAB}}},
    // {22085CAD-556A-4660-A320-568FED8185CE}, asked for {66D72202-542A-4AEB-BBFA-4472CBDD0B59}
    {L"QarnComJniConnector.CWindchillConnector", false,
     {0x22085CAD, 0x556A, 0x4660, {0xA3, 0x20, 0x56, 0x8F, 0xED, 0x81, 0x85, 0xCE}},
     {0x66D72202, 0x542A, 0x4AEB, {0xBB, 0xFA, 0x44, 0x72, 0xCB, 0xDD, 0x0B, 0x59}}},
    // {DEF23AB0-B9BA-4D8C-933E-3CC99E223839}, asked for {AF743BD4-806F-4367-8A37-8B9A94189A8B}
    {L"QarnComJniConnector.CSAPConnector", true,
     {0xDEF23AB0, 0xB9BA, 0x4D8C, {0x93, 0x3E, 0x3C, 0xC9, 0x9E, 0x22, 0x38, 0x39}},
     {0xAF743BD4, 0x806F, 0x4367, {0x8A, 0x37, 0x8B, 0x9A, 0x94, 0x18, 0x9A, 0x8B}}},
    // {325B2A61-9F00-4BA0-B118-069662001C97}, asked for {4149A7AA-E73C-4A05-8A2B-8C704FC9B3B5}
    {L"QarnComJniConnector.CCEEConnector", true,
     {0x325B2A61, 0x9F00, 0x4BA0, {0xB1, 0x18, 0x06, 0x96, 0x62, 0x00, 0x1C, 0x97}},
     {0x4149A7AA, 0xE73C, 0x4A05, {0x8A, 0x2B, 0x8C, 0x70, 0x4F, 0xC9, 0xB3, 0xB5}}},
    // {476E29F9-785E-41F9-A317-818DF221D285}, asked for {0626BEA9-F0A7-4F97-B695-E4332405E38E}
    {L"QarnComJniConnector.CGTConnector", true,
     {0x476E29F9, 0x785E, 0x41F9, {0xA3, 0x17, 0x81, 0x8D, 0xF2, 0x21, 0xD2, 0x85}},
     {0x0626BEA9, 0xF0A7, 0x4F97, {0xB6, 0x95, 0xE4, 0x33, 0x24, 0x05, 0xE3, 0x8E}}},
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
