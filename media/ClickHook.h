#pragma once
// The system-wide low-level mouse hook that collects button presses during a recording. It runs
// on a thread of its own with a message loop, since the platform calls a low-level hook through
// the message queue of the thread that installed it. The hook only stamps the press, puts it in
// the ring and passes the event on: every mouse event on the desktop waits for it.

#include "framework/Scoped.h"
#include "media/Clicks.h"

#include <windows.h>

#include <cstdint>

class ClickHook {
public:
    // Presses go into `ring`, stamped by `clock`; both must outlive the hook.
    ClickHook(ClickRing& ring, const ClickClock& clock);
    ~ClickHook();  // stops
    ClickHook(const ClickHook&) = delete;
    ClickHook& operator=(const ClickHook&) = delete;

    // Starts the thread and waits until the hook is in place; false, with nothing left running,
    // when it could not be installed. Starting a running hook changes nothing.
    bool Start();  // any thread
    // Removes the hook and waits for its thread to end. Safe when not started.
    void Stop();   // any thread but the hook's own
    bool Running() const { return thread.get() != nullptr; }

private:
    static DWORD WINAPI ThreadMain(void* self);
    static LRESULT CALLBACK LowLevelMouse(int code, WPARAM message, LPARAM data);
    DWORD Run();  // hook thread

    ClickRing& ring;           // not owned
    const ClickClock& clock;   // not owned
    ScopedKernelHandle thread;
    DWORD threadId = 0;
    ScopedKernelHandle ready;  // signalled once the hook thread knows whether its hook is in
    bool installed = false;    // written by the hook thread before `ready` is signalled
};
