#include "base/HomeApartment.h"

#include "base/OwnContext.h"
#include "Errors.h"
#include "ComModule.h"

#include <deque>
#include <exception>
#include <mutex>

namespace qarn::home {

namespace {

constexpr wchar_t kWindowClass[] = L"QarnHomeApartment";
constexpr UINT kRunJobs = WM_APP + 1;  // posted to the home window: run what is queued
constexpr UINT kEnd = WM_APP + 2;      // posted to the home window: leave the message loop

// One job and what came out of it. It lives on the waiting caller's stack: the home thread does
// not touch it after setting `done`.
struct Job {
    const std::function<void()>* body;
    const wchar_t* method;
    HANDLE done;
    // A failure with an error object, copied into plain texts on the home thread.
    bool failed = false;
    HRESULT hr = S_OK;
    bool complete = false;
    Bstr description, source, helpFile;
    GUID guid = GUID_NULL;
    DWORD helpContext = 0;
    // Any other exception (out of memory, say): plain C++ objects, thrown again as they are.
    std::exception_ptr other;
};

// One home thread. Made by the thread that starts it; deleted by the home thread at its end.
struct Home {
    HMODULE module = nullptr;  // the DLL reference the thread lets go of last
    HANDLE ready = nullptr;    // set when the window exists (or could not be made)
    HWND window = nullptr;     // message-only: it wakes the thread, also inside a modal loop
    DWORD threadId = 0;
    std::deque<Job*> queue;    // guarded by g_lock
    bool inJob = false;        // home thread only
};

std::mutex g_lock;
Home* g_home = nullptr;  // the running home; null when none runs or it is ending
thread_local Home* t_home = nullptr;

void Capture(Job& job, const ComError& e) noexcept {
    try {
        job.hr = e.Error();
        job.complete = e.Complete();
        if (IErrorInfo* info = e.Info()) {
            info->GetDescription(job.description.Out());
            info->GetSource(job.source.Out());
            info->GetHelpFile(job.helpFile.Out());
            info->GetGUID(&job.guid);
            info->GetHelpContext(&job.helpContext);
        }
        job.failed = true;
    } catch (...) {
        job.other = std::current_exception();
    }
}

void Execute(Job& job) noexcept {
    MethodScope scope(job.method);
    SetErrorInfo(0, nullptr);
    try {
        (*job.body)();
    } catch (const ComError& e) {
        Capture(job, e);
    } catch (...) {
        job.other = std::current_exception();
    }
}

// Runs the queued jobs one after the other; a job that pumps (an outgoing call) finds the next
// ones left for later.
void RunQueued(Home& home) noexcept {
    if (home.inJob) return;
    for (;;) {
        Job* job;
        {
            std::lock_guard<std::mutex> guard(g_lock);
            if (home.queue.empty()) return;
            job = home.queue.front();
            home.queue.pop_front();
        }
        home.inJob = true;
        Execute(*job);
        home.inJob = false;
        SetEvent(job->done);
    }
}

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    if (message == kRunJobs) {
        if (t_home) RunQueued(*t_home);
        return 0;
    }
    if (message == kEnd) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

bool RegisterWindowClass() noexcept {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &WindowProcedure;
    windowClass.hInstance = module::Instance();
    windowClass.lpszClassName = kWindowClass;
    return RegisterClassExW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

DWORD WINAPI ThreadMain(void* parameter) {
    Home* home = static_cast<Home*>(parameter);
    const HMODULE module = home->module;
    t_home = home;
    const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    {
        // The classes this thread creates are found the way the DLL's host found the DLL.
        const OwnContext context;
        if (com && RegisterWindowClass())
            home->window = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                           module::Instance(), nullptr);
        const bool running = home->window != nullptr;
        // Without a window the starting thread takes the home back: this one touches it no more.
        SetEvent(home->ready);
        if (!running) home = nullptr;
        if (running) {
            MSG message;
            while (GetMessageW(&message, nullptr, 0, 0) > 0) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
            // Jobs queued before the end was asked for still run.
            RunQueued(*home);
            DestroyWindow(home->window);
        }
    }
    if (com) CoUninitialize();
    t_home = nullptr;
    if (home) {
        CloseHandle(home->ready);
        delete home;
    }
    FreeLibraryAndExitThread(module, 0);
}

// Starts a home thread and waits until it can take jobs. Called under g_lock.
Home* Start() {
    auto home = std::make_unique<Home>();
    home->ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!home->ready) ThrowLastError();
    // The thread's own reference to the DLL: nothing unloads the DLL while the thread runs.
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&ThreadMain),
                            &home->module)) {
        const DWORD error = GetLastError();
        CloseHandle(home->ready);
        SetLastError(error);
        ThrowLastError();
    }
    HANDLE thread = CreateThread(nullptr, 0, &ThreadMain, home.get(), 0, &home->threadId);
    if (!thread) {
        const DWORD error = GetLastError();
        FreeLibrary(home->module);
        CloseHandle(home->ready);
        SetLastError(error);
        ThrowLastError();
    }
    CloseHandle(thread);
    WaitForSingleObject(home->ready, INFINITE);
    if (!home->window) {
        CloseHandle(home->ready);
        ThrowMessage(L"The connector's own apartment could not be started.", __LINE__);
    }
    return home.release();
}

// Waits for `done`; a caller in a single-threaded apartment goes on serving calls into it. The
// home window is woken again now and then, should a wake-up have been lost (a full queue).
void Wait(HANDLE done, HWND window) noexcept {
    for (;;) {
        DWORD index = 0;
        const HRESULT hr = CoWaitForMultipleHandles(0, 1000, 1, &done, &index);
        if (hr == S_OK) return;
        // A thread without COM (or a wait COM refuses) waits without serving calls.
        if (hr != RPC_S_CALLPENDING && WaitForSingleObject(done, 1000) == WAIT_OBJECT_0) return;
        PostMessageW(window, kRunJobs, 0, 0);
    }
}

[[noreturn]] void Rethrow(Job& job) {
    if (job.other) std::rethrow_exception(job.other);
    ComPtr<ICreateErrorInfo> create;
    ComPtr<IErrorInfo> info;
    if (SUCCEEDED(CreateErrorInfo(&create))) {
        create->SetDescription(job.description.get());
        create->SetSource(job.source.get());
        create->SetHelpFile(job.helpFile.get());
        create->SetGUID(job.guid);
        create->SetHelpContext(job.helpContext);
        create.As(&info);
    }
    SetErrorInfo(0, info.Get());
    throw ComError(job.hr, std::move(info), job.complete);
}

}  // namespace

void Run(const std::function<void()>& job) {
    if (t_home) {
        job();
        return;
    }
    Job entry;
    entry.body = &job;
    entry.method = CurrentMethod();
    entry.done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!entry.done) ThrowLastError();
    HWND window;
    try {
        std::lock_guard<std::mutex> guard(g_lock);
        if (!g_home) g_home = Start();
        g_home->queue.push_back(&entry);
        window = g_home->window;
    } catch (...) {
        CloseHandle(entry.done);
        throw;
    }
    PostMessageW(window, kRunJobs, 0, 0);
    Wait(entry.done, window);
    CloseHandle(entry.done);
    if (entry.failed || entry.other) Rethrow(entry);
}

bool Running() noexcept {
    std::lock_guard<std::mutex> guard(g_lock);
    return g_home != nullptr;
}

void End() noexcept {
    std::lock_guard<std::mutex> guard(g_lock);
    if (!g_home) return;
    PostMessageW(g_home->window, kEnd, 0, 0);
    g_home = nullptr;
}

void UnregisterWindowClass() noexcept { UnregisterClassW(kWindowClass, module::Instance()); }

}  // namespace qarn::home
