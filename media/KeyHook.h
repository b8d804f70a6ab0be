#pragma once
// The system-wide low-level keyboard hook that collects key events during a recording that shows
// keys. Like the click hook it runs on a hook thread of its own; the callback only
// stamps the event, marks it hidden when it goes to a password box or the recording is paused,
// puts it in the ring and passes it on: every key press on the desktop waits for it.

#include "media/Clicks.h"
#include "media/HookThread.h"
#include "media/Keys.h"

#include <windows.h>

class KeyHook {
public:
    // Events go into `ring`, stamped by `clock`; both must outlive the hook.
    KeyHook(KeyRing& ring, const ClickClock& clock);
    ~KeyHook();  // stops
    KeyHook(const KeyHook&) = delete;
    KeyHook& operator=(const KeyHook&) = delete;

    // Starts the hook's thread; false, with nothing left running, when the hook could not be
    // installed. Starting a running hook changes nothing.
    bool Start() { return hook.Start(); }  // any thread
    // Removes the hook and waits for its thread to end. Safe when not started.
    void Stop() { hook.Stop(); }           // any thread but the hook's own
    bool Running() const { return hook.Running(); }

    // The stroke the callback makes of one hook event (also what the benchmark times).
    static KeyStroke Stroke(const KBDLLHOOKSTRUCT& event, WPARAM message, const ClickClock& clock);
    // Whether keys typed now go to a password box: the focused control of the foreground thread
    // is an edit control with ES_PASSWORD.
    static bool FocusIsPassword();

private:
    static LRESULT CALLBACK LowLevelKeyboard(int code, WPARAM message, LPARAM data);

    KeyRing& ring;            // not owned
    const ClickClock& clock;  // not owned
    HookThread hook{WH_KEYBOARD_LL, &KeyHook::LowLevelKeyboard, this};  // after what it writes into
};
