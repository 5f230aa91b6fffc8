// CQarnComApplication: the process's application object holding the configuration.
#include "config/Application.h"
#include "base/OwnContext.h"

#include "config/OutsideConnectors.h"
#include "base/DataObjects.h"
#include "resources/resource.h"
#include "base/GlobalApp.h"

#include <utility>

using namespace qarn;

namespace {

using Store = config::ConfigStore;

// A collection of the store for an [out] pointer; a null pointer is refused only when there is
// a collection to hand out.
void GetCollection(const Store& store, Store::Kind kind, IFieldCollection** pVal) {
    if (!pVal) {
        if (store.Has(kind)) CHECK_POINTER(pVal);
        return;
    }
    *pVal = store.Get(kind).Detach();
}

}  // namespace

STDMETHODIMP CQarnComApplication::Init() {
    return MethodFrame(L"CQarnComApplication::Init", [&] {
        config_.Clear();
        ComPtr<IQarnUtilities> utilities;
        CHECK_HR(CreateOwn(CLSID_CQarnUtilities, IID_PPV_ARGS(&utilities)));
        CHECK_HR(utilities->ReadXmlConfigurationFiles());
        for (const auto& [kind, get] : {std::pair{Store::kProperties, &IQarnUtilities::get_Properties},
                                       std::pair{Store::kMessages, &IQarnUtilities::get_Messages},
                                       std::pair{Store::kJniOptions, &IQarnUtilities::get_JNIOptions}}) {
            ComPtr<IFieldCollection> collection;
            CHECK_HR((utilities.Get()->*get)(&collection));
            config_.Put(kind, collection.Get());
        }
        initialized_ = VARIANT_TRUE;
    });
}

STDMETHODIMP CQarnComApplication::GetProperty(BSTR name, BSTR *value) {
    return MethodFrame(L"CQarnComApplication::GetProperty", [&] {
        OutParam(value) = config_.Text(Store::kProperties, name).Detach();
    });
}

STDMETHODIMP CQarnComApplication::GetMessage(BSTR name, BSTR *value) {
    return MethodFrame(L"CQarnComApplication::GetMessage", [&] {
        OutParam(value) = config_.Text(Store::kMessages, name).Detach();
    });
}

STDMETHODIMP CQarnComApplication::get_Properties(IFieldCollection **pVal) {
    return MethodFrame(L"CQarnComApplication::get_Properties", [&] { GetCollection(config_, Store::kProperties, pVal); });
}

STDMETHODIMP CQarnComApplication::put_Properties(IFieldCollection *newVal) {
    return MethodFrame(L"CQarnComApplication::put_Properties", [&] { config_.Put(Store::kProperties, newVal); });
}

STDMETHODIMP CQarnComApplication::get_Messages(IFieldCollection **pVal) {
    return MethodFrame(L"CQarnComApplication::get_Messages", [&] { GetCollection(config_, Store::kMessages, pVal); });
}

STDMETHODIMP CQarnComApplication::put_Messages(IFieldCollection *newVal) {
    return MethodFrame(L"CQarnComApplication::put_Messages", [&] { config_.Put(Store::kMessages, newVal); });
}

STDMETHODIMP CQarnComApplication::get_JNIOptions(IFieldCollection **pVal) {
    return MethodFrame(L"CQarnComApplication::get_JNIOptions", [&] { GetCollection(config_, Store::kJniOptions, pVal); });
}

STDMETHODIMP CQarnComApplication::put_JNIOptions(IFieldCollection *newVal) {
    return MethodFrame(L"CQarnComApplication::put_JNIOptions", [&] { config_.Put(Store::kJniOptions, newVal); });
}

STDMETHODIMP CQarnComApplication::get_IsInitialized(VARIANT_BOOL *pVal) {
    return MethodFrame(L"CQarnComApplication::get_IsInitialized", [&] {
        OutParam(pVal) = initialized_;
    });
}

STDMETHODIMP CQarnComApplication::SetShellIconVisible(VARIANT_BOOL b) {
    return MethodFrame(L"CQarnComApplication::SetShellIconVisible", [&] {
        // Only VARIANT_TRUE shows the icon; a window that cannot be made is not the caller's failure.
        CShellIconHelper::SetShellIconVisible(b == VARIANT_TRUE);
    });
}

STDMETHODIMP CQarnComApplication::SetProperty(BSTR name, BSTR value) {
    return MethodFrame(L"CQarnComApplication::SetProperty", [&] {
        config_.SetProperty(name, value, objects_);
    });
}

void CQarnComApplication::OnUserCommand(HWND window, LPARAM mouseMessage) noexcept {
    if (mouseMessage != WM_RBUTTONUP) return;
    MethodFrame(L"CQarnComApplication::OnUserCommand", [&]() -> HRESULT {
        if (config::ShowPopupMenu(window, IDR_POPUP_MENU) != ID_POPUP_INFO) return S_OK;
        ComPtr<IDispatch> dialog;
        const HRESULT created = config::CreateClassByName(Bstr(config::kAboutDialogClass),
                                                          Bstr(config::kAboutDialogIid),
                                                          L"CQarnComApplication::OnUserCommand", &dialog);
        if (FAILED(created)) return created;  // reported already
        if (!dialog) return S_OK;
        ComPtr<IForwardAboutDialogHelper> helper;
        const HRESULT hr = dialog.As(&helper);
        if (FAILED(hr)) {
            const std::wstring text = Format(
                L"QarnComDialogs.CQarnAboutDlg does not implement IForwardAboutDialogHelper: 0x%X (QueryInterface)",
                static_cast<unsigned>(hr));
            return ReportMethodError(text.c_str(), L"CQarnComApplication::OnUserCommand", __LINE__);
        }
        ComPtr<IQarnComApplication> app;
        CHECK_HR(TheGlobalApp().Application(&app));
        CHECK_HR(helper->ShowAboutDialog(app.Get()));
        return S_OK;
    });
}
