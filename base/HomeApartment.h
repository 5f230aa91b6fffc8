// The DLL's own apartment: a thread the DLL starts on first use, in a single-threaded apartment of
// its own, that does nothing but pump messages and run the jobs handed to it. The process-wide
// objects (the application, the cached connectors) are made there and live there, so they belong
// to no caller's thread: a caller that ends, blocks in a wait that does not pump, or leaves COM
// takes nothing down with it, and every other apartment reaches them through proxies served by a
// thread that always answers. The thread holds a reference to the DLL and lets go of it as the
// last thing it does, so the DLL never unloads under it, and nothing waits for it under the
// loader lock.
#pragma once

#include <windows.h>

#include <functional>

namespace qarn::home {

// Runs `job` on the home thread (starting it when none runs) and waits for its end; a caller in a
// single-threaded apartment serves the calls other apartments make into it meanwhile. Jobs run one
// at a time, in the order they came, never inside one another; on the home thread itself `job`
// runs at once. `job` runs with the caller's current method as its own (the "at" lines of its
// failures name it), and a failure it throws is thrown again here, on the caller's thread, with
// the same description. Interface pointers cross only
// marshaled (CoMarshalInterThreadInterfaceInStream).
void Run(const std::function<void()>& job);

// Whether the home thread runs now.
bool Running() noexcept;

// Asks the home thread to end: it runs what is still queued, leaves its apartment and the DLL.
// Returns at once; a later Run starts a new thread. For when nothing lives there any more.
void End() noexcept;

// Forgets the home window's class when the DLL is unloaded.
void UnregisterWindowClass() noexcept;

}  // namespace qarn::home
