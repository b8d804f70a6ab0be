#pragma once
// The DPI of a monitor on every Windows the program runs on: Windows 8.1 and later answer per
// monitor (SHCORE.dll, taken at run time); before that there is no answer and the caller's
// fallback holds.

#include <windows.h>

// The effective DPI of `monitor`, or `fallback` when the system cannot tell.
int MonitorDpi(HMONITOR monitor, int fallback);
