#pragma once
// The system-wide low-level mouse hook that collects button presses during a recording, on a
// hook thread of its own. The hook only stamps the press, puts it in the ring and passes the
// event on: every mouse event on the desktop waits for it.

#include "media/Clicks.h"
#include "media/HookThread.h"

#include <windows.h>

#include <cstdint>

class ClickHook {
public:
    // Presses go into `ring`, stamped by `clock`; both must outlive the hook.
    ClickHook(ClickRing& ring, const ClickClock& clock);
    ~ClickHook();  // stops
    ClickHook(const ClickHook&) = delete;
    ClickHook& operator=(const ClickHook&) = delete;

    // Starts the hook's thread; false, with nothing left running, when the hook could not be
    // installed. Starting a running hook changes nothing.
    bool Start() { return hook.Start(); }  // any thread
    // Removes the hook and waits for its thread to end. Safe when not started.
    void Stop() { hook.Stop(); }           // any thread but the hook's own
    bool Running() const { return hook.Running(); }

private:
    static LRESULT CALLBACK LowLevelMouse(int code, WPARAM message, LPARAM data);

    ClickRing& ring;          // not owned
    const ClickClock& clock;  // not owned
    HookThread hook{WH_MOUSE_LL, &ClickHook::LowLevelMouse, this};  // after what it writes into
};
