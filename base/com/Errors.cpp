#include "Errors.h"
#include "Holders.h"

#include <new>

namespace qarn {

namespace {
thread_local const wchar_t* t_currentMethod = nullptr;
}

const wchar_t* CurrentMethod() noexcept { return t_currentMethod ? t_currentMethod : L"Unknown function"; }

MethodScope::MethodScope(const wchar_t* name) noexcept : previous_(t_currentMethod) { t_currentMethod = name; }
MethodScope::~MethodScope() { t_currentMethod = previous_; }

Bstr ComError::Description() const {
    Bstr text;
    if (info_) info_->GetDescription(text.Out());
    return text;
}

HRESULT ComError::Install() const noexcept {
    SetErrorInfo(0, info_.Get());
    return DISP_E_EXCEPTION;
}

std::wstring UnknownErrorText(const wchar_t* name) {
    // The handler's text is kept as an ANSI literal and converted with the thread's code page.
    return FromAnsi("Unknown error in " + ToAnsi(name ? name : L"Unknown function"));
}

HRESULT SetErrorDescription(const wchar_t* text) {
    ComPtr<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(&create))) return DISP_E_EXCEPTION;
    create->SetDescription(const_cast<LPOLESTR>(text ? text : L"Unknown error"));
    ComPtr<IErrorInfo> info;
    if (SUCCEEDED(create.As(&info))) SetErrorInfo(0, info.Get());
    return DISP_E_EXCEPTION;
}

HRESULT ReportWithoutMemory() noexcept {
    // A literal: nothing of ours is allocated for it.
    return SetErrorDescription(L"Not enough memory.");
}

HRESULT ReportMethodError(const wchar_t* message, const wchar_t* function, int line) {
    if (!message || !function) {
        message = L"Unknown message";
        function = L"Unknown function";
        line = 0;
    }
    Bstr copy(message);
    std::wstring text = FormatCapped(copy.Length() + 2048, L"%s\n   at %s: line %i", copy.get(), function, line);
    return SetErrorDescription(text.c_str());
}

void ThrowComError(HRESULT hr, const wchar_t* function, int line) {
    Bstr description;
    {
        ComPtr<IErrorInfo> previous;
        if (GetErrorInfo(0, &previous) == S_OK && previous) previous->GetDescription(description.Out());
    }
    std::wstring text = description.IsNull()
                            ? Format(L"Unknown Error, code 0x%X (%ld)", static_cast<unsigned>(hr), static_cast<long>(hr))
                            : std::wstring(description.View());
    ReportMethodError(text.c_str(), function ? function : L"Unknown function", function ? line : 0);
    ComPtr<IErrorInfo> info;
    GetErrorInfo(0, &info);
    throw ComError(hr, std::move(info));
}

void ThrowMessage(const std::wstring& text, int line, bool complete) {
    ReportMethodError(text.c_str(), CurrentMethod(), line);
    ComPtr<IErrorInfo> info;
    GetErrorInfo(0, &info);
    throw ComError(DISP_E_EXCEPTION, std::move(info), complete);
}

namespace frame {

HRESULT Report::Failure(const ComError& e, const wchar_t* name, int line) const {
    if (e.Complete()) return e.Install();
    Bstr text = e.Description();
    if (text.IsNull()) return ReportMethodError(L"Unknown message", L"Unknown function", 0);
    return ReportMethodError(text, name, line);
}

HRESULT Report::Unexpected(const wchar_t* name, int line) const {
    return ReportMethodError(UnknownErrorText(name).c_str(), name, line);
}

HRESULT WithContext::Failure(const ComError& e, const wchar_t* name, int line) const {
    Bstr text = e.Description();
    return ReportMethodError((context + std::wstring(text.View())).c_str(), name, line);
}

HRESULT WithContext::Unexpected(const wchar_t* name, int line) const {
    return ReportMethodError((context + UnknownErrorText(name)).c_str(), name, line);
}

HRESULT OwnCodes::Unexpected(const wchar_t* name, int) const {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (const HResultError& e) {
        if (e.hr == E_OUTOFMEMORY) return e.hr;
    } catch (...) {
    }
    return SetErrorDescription(UnknownErrorText(name).c_str());
}

}  // namespace frame

void ThrowLastError() {
    DWORD err = GetLastError();
    HRESULT hr = static_cast<HRESULT>(err);
    if (static_cast<LONG>(err) > 0) hr = HRESULT_FROM_WIN32(err);
    ThrowHResult(hr);
}

HRESULT ReportErrorWithSource(REFCLSID clsid, const char* text, REFIID iid, HRESULT hr) {
    if (!text) return E_POINTER;
    std::wstring wide;
    try {
        wide = FromAnsi(text);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    ComPtr<ICreateErrorInfo> create;
    if (SUCCEEDED(CreateErrorInfo(&create))) {
        create->SetGUID(iid);
        LPOLESTR progId = nullptr;
        if (SUCCEEDED(ProgIDFromCLSID(clsid, &progId))) create->SetSource(TaskText(progId).get());
        create->SetDescription(const_cast<LPOLESTR>(wide.c_str()));
        ComPtr<IErrorInfo> info;
        if (SUCCEEDED(create.As(&info))) SetErrorInfo(0, info.Get());
    }
    return hr != 0 ? hr : DISP_E_EXCEPTION;
}

}  // namespace qarn
