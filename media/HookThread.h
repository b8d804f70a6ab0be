#pragma once
// A system-wide low-level input hook on a thread of its own with a message loop: the platform
// calls a low-level hook through the message queue of the thread that installed it, and every
// input event on the desktop waits for that call, so the thread runs at high priority and the
// hook procedure should only copy the event and pass it on.

#include "framework/Scoped.h"

#include <windows.h>

class HookThread {
public:
    // `type` is WH_MOUSE_LL or WH_KEYBOARD_LL; `context` is what Context() gives the procedure.
    HookThread(int type, HOOKPROC procedure, void* context);
    ~HookThread();  // stops
    HookThread(const HookThread&) = delete;
    HookThread& operator=(const HookThread&) = delete;

    // Starts the thread and waits until the hook is in place; false, with nothing left running,
    // when it could not be installed. Starting a running hook changes nothing.
    bool Start();  // any thread
    // Removes the hook and waits for its thread to end. Safe when not started.
    void Stop();   // any thread but the hook's own
    bool Running() const { return thread.get() != nullptr; }

    // The context of the hook installed by the calling thread, or null: the hook procedure has no
    // context argument of its own. Hook thread.
    static void* Context();

private:
    static DWORD WINAPI ThreadMain(void* self);
    DWORD Run();  // hook thread

    const int type;
    const HOOKPROC procedure;
    void* const context;       // not owned
    ScopedKernelHandle thread;
    DWORD threadId = 0;
    ScopedKernelHandle ready;  // signalled once the hook thread knows whether its hook is in
    bool installed = false;    // written by the hook thread before `ready` is signalled
};
