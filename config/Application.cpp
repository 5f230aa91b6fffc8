// CQarnComApplication: the process's application object holding the configuration.
#include "config/Application.h"

#include "config/OutsideComponents.h"
#include "server/DataObjects.h"
#include "resources/resource.h"
#include "server/GlobalApp.h"

using namespace qarn;

namespace {

HRESULT GetCollection(const ComPtr<IFieldCollection>& member, IFieldCollection** pVal) {
    if (!pVal) {
        if (member) CHECK_POINTER(pVal);
        return S_OK;
    }
    *pVal = nullptr;
    if (member) member.CopyTo(pVal);
    return S_OK;
}

}  // namespace

STDMETHODIMP CQarnComApplication::Init() {
    return MethodFrame(L"CQarnComApplication::Init", [&] {
        properties_.Reset();
        messages_.Reset();
        jniOptions_.Reset();
        ComPtr<IQarnUtilities> utilities;
        CHECK_HR(CoCreateInstance(CLSID_CQarnUtilities, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&utilities)));
        CHECK_HR(utilities->ReadXmlConfigurationFiles());
        CHECK_HR(utilities->get_Properties(&properties_));
        CHECK_HR(utilities->get_Messages(&messages_));
        CHECK_HR(utilities->get_JNIOptions(&jniOptions_));
        initialized_ = VARIANT_TRUE;
    });
}

STDMETHODIMP CQarnComApplication::GetProperty(BSTR name, BSTR *value) {
    return MethodFrame(L"CQarnComApplication::GetProperty", [&] {
        OutParam(value);
        if (properties_) *value = TextValueOf(properties_.Get(), name).Detach();
    });
}

STDMETHODIMP CQarnComApplication::GetMessage(BSTR name, BSTR *value) {
    return MethodFrame(L"CQarnComApplication::GetMessage", [&] {
        OutParam(value);
        if (messages_) *value = TextValueOf(messages_.Get(), name).Detach();
    });
}

STDMETHODIMP CQarnComApplication::get_Properties(IFieldCollection **pVal) {
    return MethodFrame(L"CQarnComApplication::get_Properties", [&] { return GetCollection(properties_, pVal); });
}

STDMETHODIMP CQarnComApplication::put_Properties(IFieldCollection *newVal) {
    return MethodFrame(L"CQarnComApplication::put_Properties", [&] { properties_ = newVal; });
}

STDMETHODIMP CQarnComApplication::get_Messages(IFieldCollection **pVal) {
    return MethodFrame(L"CQarnComApplication::get_Messages", [&] { return GetCollection(messages_, pVal); });
}

STDMETHODIMP CQarnComApplication::put_Messages(IFieldCollection *newVal) {
    return MethodFrame(L"CQarnComApplication::put_Messages", [&] { messages_ = newVal; });
}

STDMETHODIMP CQarnComApplication::get_JNIOptions(IFieldCollection **pVal) {
    return MethodFrame(L"CQarnComApplication::get_JNIOptions", [&] { return GetCollection(jniOptions_, pVal); });
}

STDMETHODIMP CQarnComApplication::put_JNIOptions(IFieldCollection *newVal) {
    return MethodFrame(L"CQarnComApplication::put_JNIOptions", [&] { jniOptions_ = newVal; });
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
        if (!properties_) return;
        ComPtr<IField> field;
        CHECK_HR(CoCreateInstance(CLSID_Field, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&field)));
        CHECK_HR(field->put_Name(name));
        Variant text;
        text.vt = VT_BSTR;
        text.bstrVal = value ? CopyBstr(View(value)) : nullptr;
        CHECK_HR(field->put_Value(text));
        CHECK_HR(properties_->AddField(field.Get()));
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
