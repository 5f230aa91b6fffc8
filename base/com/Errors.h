// Error reporting of every interface method: the method error frame, the raise routines and the
// COM error object they leave for the caller.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <source_location>
#include <string>

#include "Text.h"

namespace qarn {

using Microsoft::WRL::ComPtr;

// A failure that carries a COM error object (its description travels with it).
class ComError {
public:
    ComError(HRESULT hr, ComPtr<IErrorInfo> info, bool complete = false)
        : hr_(hr), info_(std::move(info)), complete_(complete) {}
    HRESULT Error() const noexcept { return hr_; }
    // The error object's description, or a null text when there is none.
    Bstr Description() const;
    // A failure the method reports as it is: the frame installs its error object unchanged,
    // adding no "at" line of its own.
    bool Complete() const noexcept { return complete_; }
    // Installs the error object as the thread's; DISP_E_EXCEPTION.
    HRESULT Install() const noexcept;
    IErrorInfo* Info() const noexcept { return info_.Get(); }

private:
    HRESULT hr_;
    ComPtr<IErrorInfo> info_;
    bool complete_;
};

// Installs `text` (or "Unknown error" for null) as the thread's error object; DISP_E_EXCEPTION.
HRESULT SetErrorDescription(const wchar_t* text);
// "<message>\n   at <function>: line <line>" as the thread's error object; DISP_E_EXCEPTION.
HRESULT ReportMethodError(const wchar_t* message, const wchar_t* function, int line);
// An error object with a source (the ProgID of `clsid`) and an ANSI text.
HRESULT ReportErrorWithSource(REFCLSID clsid, const char* text, REFIID iid, HRESULT hr);
// Raises `hr` with the description the failed callee left (or the code text) plus an "at" line.
[[noreturn]] void ThrowComError(HRESULT hr, const wchar_t* function, int line);
[[noreturn]] void ThrowLastError();

// The name of the interface method whose frame is innermost on this thread ("Unknown function"
// outside any frame); CHECK_HR uses it for its "at" line.
const wchar_t* CurrentMethod() noexcept;

class MethodScope {
public:
    explicit MethodScope(const wchar_t* name) noexcept;
    ~MethodScope();
    MethodScope(const MethodScope&) = delete;
    MethodScope& operator=(const MethodScope&) = delete;

private:
    const wchar_t* previous_;
};

// The report when not even the description can be made: a fixed text; DISP_E_EXCEPTION.
HRESULT ReportWithoutMemory() noexcept;

// Text of the catch-all handler: "Unknown error in <name>".
std::wstring UnknownErrorText(const wchar_t* name);

namespace detail {
template <class F>
HRESULT RunBody(F& body) {
    if constexpr (std::is_void_v<decltype(body())>) {
        body();
        return S_OK;
    } else {
        return body();
    }
}
}  // namespace detail

// How a method frame answers the two kinds of failure: `Failure` a failure carrying an error
// object, `Unexpected` anything else (called inside the catch handler, so it may rethrow to look
// at the exception). Each policy is a small value passed as the frame's third argument.
namespace frame {

// The standard answer: the failure's description with an "at" line for the method (a failure the
// method reports as it is keeps its error object unchanged); anything else "Unknown error in <name>".
struct Report {
    HRESULT Failure(const ComError& e, const wchar_t* name, int line) const;
    HRESULT Unexpected(const wchar_t* name, int line) const;
};

// The standard answer with a context text the method keeps, put in front of every description.
struct WithContext {
    const std::wstring& context;
    HRESULT Failure(const ComError& e, const wchar_t* name, int line) const;
    HRESULT Unexpected(const wchar_t* name, int line) const;
};

// The standard answer for failures; anything else is answered by the method's own `unexpected()`.
template <class U>
struct WithFallback : Report {
    explicit WithFallback(U u) : unexpected(std::move(u)) {}
    U unexpected;
    HRESULT Unexpected(const wchar_t*, int) const { return unexpected(); }
};

// Methods that report their own codes: a failure's error object stays in place as it is,
// E_OUTOFMEMORY stays itself, anything else is "Unknown error in <name>" without an "at" line.
struct OwnCodes {
    HRESULT Failure(const ComError& e, const wchar_t*, int) const { return e.Install(); }
    HRESULT Unexpected(const wchar_t* name, int line) const;
};

}  // namespace frame

// The method error frame every interface method runs in: runs `body` (which returns an HRESULT or
// nothing) with `name` (Class::Method) as the thread's current method, and turns every exception
// into an HRESULT and an error object as `policy` says. The "at" line of the standard answers is
// the line of the method's `return MethodFrame(...)` statement.
template <class F, class Policy = frame::Report>
HRESULT MethodFrame(const wchar_t* name, F&& body, const Policy& policy = {},
                    std::source_location where = std::source_location::current()) noexcept {
    const int line = static_cast<int>(where.line());
    MethodScope scope(name);
    // An error object left over from an earlier failure must not be taken for this call's.
    SetErrorInfo(0, nullptr);
    try {
        return detail::RunBody(body);
    } catch (const ComError& e) {
        try {
            return policy.Failure(e, name, line);
        } catch (...) {
            return ReportWithoutMemory();
        }
    } catch (...) {
        try {
            return policy.Unexpected(name, line);
        } catch (...) {
            return ReportWithoutMemory();
        }
    }
}

// Checks an [out] pointer (E_POINTER with the calling line when it is null), clears what it points
// to and returns that slot, so the method can assign its result to it: `OutParam(ppResult) = x;`.
template <class T>
T& OutParam(T* p, std::source_location where = std::source_location::current()) {
    if (!p) ThrowComError(E_POINTER, CurrentMethod(), static_cast<int>(where.line()));
    *p = T{};
    return *p;
}

inline void CheckHr(HRESULT hr, int line) {
    if (FAILED(hr)) ThrowComError(hr, CurrentMethod(), line);
}

// Raises a failed HRESULT with the calling line.
#define CHECK_HR(expr) ::qarn::CheckHr((expr), __LINE__)
// Raises E_POINTER for a null [out] pointer.
#define CHECK_POINTER(p) \
    do {                 \
        if (!(p)) ::qarn::ThrowComError(E_POINTER, ::qarn::CurrentMethod(), __LINE__); \
    } while (0)
// Raises a message of our own with an "at" line of the calling method (the frame adds its own).
#define THROW_MESSAGE(text) ::qarn::ThrowMessage((text), __LINE__)
// Fails the calling method with a message and this one "at" line: the method returns the report
// as it stands (as `return ReportMethodError(text, method, __LINE__)` would).
#define THROW_REPORT(text) ::qarn::ThrowMessage((text), __LINE__, true)

[[noreturn]] void ThrowMessage(const std::wstring& text, int line, bool complete = false);

}  // namespace qarn
