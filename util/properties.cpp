// Property and message store: members of CQarnUtilities.
#include "util/Utilities.h"

#include "server/DataObjects.h"
#include "server/GlobalApp.h"

using namespace qarn;

namespace {

HRESULT GetCollection(const ComPtr<IFieldCollection>& member, IFieldCollection** pVal) {
    OutParam(pVal);
    if (member) member.CopyTo(pVal);
    return S_OK;
}

}  // namespace

STDMETHODIMP CQarnUtilities::get_Properties(IFieldCollection **pVal) {
    return MethodFrame(L"CQarnUtilities::get_Properties", [&] { return GetCollection(properties_, pVal); });
}

STDMETHODIMP CQarnUtilities::put_Properties(IFieldCollection *newVal) {
    return MethodFrame(L"CQarnUtilities::put_Properties", [&] { properties_ = newVal; });
}

STDMETHODIMP CQarnUtilities::get_Messages(IFieldCollection **pVal) {
    return MethodFrame(L"CQarnUtilities::get_Messages", [&] { return GetCollection(messages_, pVal); });
}

STDMETHODIMP CQarnUtilities::put_Messages(IFieldCollection *newVal) {
    return MethodFrame(L"CQarnUtilities::put_Messages", [&] { messages_ = newVal; });
}

STDMETHODIMP CQarnUtilities::get_JNIOptions(IFieldCollection **pVal) {
    return MethodFrame(L"CQarnUtilities::get_JNIOptions", [&] { return GetCollection(jniOptions_, pVal); });
}

STDMETHODIMP CQarnUtilities::put_JNIOptions(IFieldCollection *newVal) {
    return MethodFrame(L"CQarnUtilities::put_JNIOptions", [&] { jniOptions_ = newVal; });
}

STDMETHODIMP CQarnUtilities::GetProperty(BSTR name, BSTR *value) {
    return MethodFrame(L"CQarnUtilities::GetProperty", [&] {
        OutParam(value);
        if (properties_) {
            *value = TextValueOf(properties_.Get(), name).Detach();
        } else {
            // An object without a configuration of its own answers from the shared application.
            CHECK_HR(AskSharedApplication(&IQarnComApplication::GetProperty, name, value));
        }
    });
}

STDMETHODIMP CQarnUtilities::SetProperty(BSTR name, BSTR value) {
    return MethodFrame(L"CQarnUtilities::SetProperty", [&] {
        if (!properties_) return;
        ComPtr<IField> field = objects_.New<IField>(CLSID_Field);
        CHECK_HR(field->put_Name(name));
        Variant text;
        text.vt = VT_BSTR;
        text.bstrVal = value ? CopyBstr(View(value)) : nullptr;  // a null value stays null
        CHECK_HR(field->put_Value(text));
        CHECK_HR(properties_->AddField(field.Get()));
    });
}

STDMETHODIMP CQarnUtilities::GetMessage(BSTR name, BSTR *value) {
    return MethodFrame(L"CQarnUtilities::GetMessageW", [&] {
        OutParam(value);
        try {
            Bstr text;
            if (messages_) {
                text = TextValueOf(messages_.Get(), name);
            } else {
                CHECK_HR(AskSharedApplication(&IQarnComApplication::GetMessage, name, text.Out()));
            }
            *value = text.IsNull() ? CopyBstr(L"") : text.Detach();
        } catch (...) {
            // The caller gets an empty text along with the error.
            if (!*value) *value = SysAllocString(L"");
            throw;
        }
    });
}

STDMETHODIMP CQarnUtilities::GetPropertiesByName(BSTR name, IFieldCollection **ppFieldCollection) {
    std::wstring context = L"Error in CQarnUtilities::GetPropertiesByName\n";
    return MethodFrame(L"CQarnUtilities::GetPropertiesByName", [&] {
        OutParam(ppFieldCollection);
        if (!properties_ || !name) return;
        long count = 0;
        CHECK_HR(properties_->get_Count(&count));
        ComPtr<IFieldCollection> result;
        for (long i = 1; i <= count; ++i) {
            ComPtr<IField> field;
            CHECK_HR(properties_->get_Item(i, &field));
            if (!field) continue;
            Bstr fieldName;
            CHECK_HR(field->get_Name(fieldName.Out()));
            if (!EqualIgnoringCase(Arg(fieldName).value_or(std::wstring_view()), *Arg(name))) continue;
            if (!result) result = objects_.New<IFieldCollection>(CLSID_FieldCollection);
            CHECK_HR(result->Add(field.Get()));
        }
        *ppFieldCollection = result.Detach();
    }, frame::WithContext{context});
}

ComPtr<IQarnComApplication> CQarnUtilities::SharedApplication() {
    GlobalApp& global = TheGlobalApp();
    // Read before the lookup: a change while it runs makes the next call look again.
    const unsigned long generation = global.ApplicationGeneration();
    if (generation != sharedAppGeneration_) {
        ComPtr<IQarnComApplication> app;
        CHECK_HR(global.Application(&app));
        sharedApp_ = app;
        sharedAppGeneration_ = generation;
    }
    return sharedApp_;
}

HRESULT CQarnUtilities::AskSharedApplication(HRESULT (STDMETHODCALLTYPE IQarnComApplication::*lookup)(BSTR, BSTR*),
                                             BSTR name, BSTR* value) {
    ComPtr<IQarnComApplication> app = SharedApplication();
    if (!app) return S_OK;
    HRESULT hr = (app.Get()->*lookup)(name, value);
    if (GlobalApp::Disconnected(hr)) {
        // Its apartment has ended since this object took it: ask the process again.
        sharedApp_.Reset();
        sharedAppGeneration_ = 0;
        app = SharedApplication();
        hr = app ? (app.Get()->*lookup)(name, value) : S_OK;
    }
    return hr;
}

std::wstring CQarnUtilities::MessageText(const wchar_t *id, std::wstring_view fallback) {
    Bstr text;
    Bstr idText(id);
    // A store that cannot answer must not hide the failure being reported: use the default text.
    if (FAILED(GetMessage(idText, text.Out())) || text.IsEmpty()) {
        SetErrorInfo(0, nullptr);
        return std::wstring(fallback);
    }
    return std::wstring(text.View());
}

void CQarnUtilities::ThrowStoreMessage(const wchar_t *id, std::wstring_view fallback,
                                       const std::vector<text::TextArg> &args, int line, bool complete) {
    const std::wstring format = MessageText(id, fallback);
    size_t capacity = format.size() + 2048;
    for (const auto &arg : args) capacity += arg ? arg->size() : 16;
    ThrowMessage(text::FillTemplate(format, args, capacity), line, complete);
}
