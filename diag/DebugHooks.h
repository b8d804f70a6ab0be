#pragma once
// The platform calls of the diagnostics module that a test must be able to script: the
// keyboard and mouse state, the clock, waiting, the beep and the forced quit.

#include <windows.h>

struct DebugHooks {
    SHORT (*keyState)(int virtualKey);        // top bit set while the key is down
    DWORD (*now)();                           // milliseconds since system start
    void (*sleep)(DWORD milliseconds);
    void (*beep)();
    void (*forceQuit)(const char* caption);   // shows the CTRL-Q box; the real one ends the process
    void (*textShown)(int x, int y, const char* text);    // each finished text; may be null
};

// The real platform: GetAsyncKeyState, timeGetTime, Sleep, MessageBeep, a message box and exit(1).
DebugHooks DebugPlatformHooks();

// Any thread; takes effect for the next call into the module.
void DebugSetHooks(const DebugHooks& hooks);
