// Property and message store: members of CQarnUtilities.
#include "server/Utilities.h"

#include "base/DataObjects.h"

using namespace qarn;

using Store = config::ConfigStore;

STDMETHODIMP CQarnUtilities::get_Properties(IFieldCollection **pVal) {
    return MethodFrame(L"CQarnUtilities::get_Properties", [&] { OutParam(pVal) = config_.Get(Store::kProperties).Detach(); });
}

STDMETHODIMP CQarnUtilities::put_Properties(IFieldCollection *newVal) {
    return MethodFrame(L"CQarnUtilities::put_Properties", [&] { config_.Put(Store::kProperties, newVal); });
}

STDMETHODIMP CQarnUtilities::get_Messages(IFieldCollection **pVal) {
    return MethodFrame(L"CQarnUtilities::get_Messages", [&] { OutParam(pVal) = config_.Get(Store::kMessages).Detach(); });
}

STDMETHODIMP CQarnUtilities::put_Messages(IFieldCollection *newVal) {
    return MethodFrame(L"CQarnUtilities::put_Messages", [&] { config_.Put(Store::kMessages, newVal); });
}

STDMETHODIMP CQarnUtilities::get_JNIOptions(IFieldCollection **pVal) {
    return MethodFrame(L"CQarnUtilities::get_JNIOptions", [&] { OutParam(pVal) = config_.Get(Store::kJniOptions).Detach(); });
}

STDMETHODIMP CQarnUtilities::put_JNIOptions(IFieldCollection *newVal) {
    return MethodFrame(L"CQarnUtilities::put_JNIOptions", [&] { config_.Put(Store::kJniOptions, newVal); });
}

STDMETHODIMP CQarnUtilities::GetProperty(BSTR name, BSTR *value) {
    return MethodFrame(L"CQarnUtilities::GetProperty", [&] {
        OutParam(value);
        if (config_.Has(Store::kProperties)) {
            *value = config_.Text(Store::kProperties, name).Detach();
        } else {
            // An object without a configuration of its own answers from the shared application.
            CHECK_HR(sharedApp_.Ask(&IQarnComApplication::GetProperty, name, value));
        }
    });
}

STDMETHODIMP CQarnUtilities::SetProperty(BSTR name, BSTR value) {
    return MethodFrame(L"CQarnUtilities::SetProperty", [&] {
        config_.SetProperty(name, value, objects_);
    });
}

STDMETHODIMP CQarnUtilities::GetMessage(BSTR name, BSTR *value) {
    return MethodFrame(L"CQarnUtilities::GetMessageW", [&] {
        OutParam(value);
        try {
            Bstr text;
            if (config_.Has(Store::kMessages)) {
                text = config_.Text(Store::kMessages, name);
            } else {
                CHECK_HR(sharedApp_.Ask(&IQarnComApplication::GetMessage, name, text.Out()));
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
    std::wstring context;  // made inside the frame, where running out of memory is answered
    return MethodFrame(L"CQarnUtilities::GetPropertiesByName", [&] {
        context = L"Error in CQarnUtilities::GetPropertiesByName\n";
        OutParam(ppFieldCollection) = config_.PropertiesByName(name, objects_).Detach();
    }, frame::WithContext{context});
}
