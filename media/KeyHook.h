#pragma once
// The system-wide low-level keyboard hook that collects key events during a recording that shows
// keys. Like the click hook it runs on a thread of its own with a message loop; the callback only
// stamps the event, marks it hidden when it goes to a password box or the recording is paused,
// puts it in the ring and passes it on: every key press on the desktop waits for it.

#include "framework/Scoped.h"
#include "media/Clicks.h"
#include "media/Keys.h"

#include <windows.h>

class KeyHook {
public:
    // Events go into `ring`, stamped by `clock`; both must outlive the hook.
    KeyHook(KeyRing& ring, const ClickClock& clock);
    ~KeyHook();  // stops
    KeyHook(const KeyHook&) = delete;
    KeyHook& operator=(const KeyHook&) = delete;

    // Starts the thread and waits until the hook is in place; false, with nothing left running,
    // when it could not be installed. Starting a running hook changes nothing.
    bool Start();  // any thread
    // Removes the hook and waits for its thread to end. Safe when not started.
    void Stop();   // any thread but the hook's own
    bool Running() const { return thread.get() != nullptr; }

    // The stroke the callback makes of one hook event (also what the benchmark times).
    static KeyStroke Stroke(const KBDLLHOOKSTRUCT& event, WPARAM message, const ClickClock& clock);
    // Whether keys typed now go to a password box: the focused control of the foreground thread
    // is an edit control with ES_PASSWORD.
    static bool FocusIsPassword();

private:
    static DWORD WINAPI ThreadMain(void* self);
    static LRESULT CALLBACK LowLevelKeyboard(int code, WPARAM message, LPARAM data);
    DWORD Run();  // hook thread

    KeyRing& ring;             // not owned
    const ClickClock& clock;   // not owned
    ScopedKernelHandle thread;
    DWORD threadId = 0;
    ScopedKernelHandle ready;  // signalled once the hook thread knows whether its hook is in
    bool installed = false;    // written by the hook thread before `ready` is signalled
};
