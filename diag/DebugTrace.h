#pragma once
// Diagnostics trace: a scrolling, always-on-top window for printf-style lines,
// a second window for text at a chosen position, and an "error.txt" appender.
// Every entry may be called from any thread; calls are serialised internally.

#include <windows.h>

#include <atomic>

// On at start-up; the settings panel clears it. While off, every entry except
// the setters and DebugCloseWindows returns at once. Any thread.
extern std::atomic<bool> DebugTraceOn;

// Formats into a bounded buffer (longer text is cut) and writes it to the
// program's log (diag/Log.h), of which the trace window is one reader.
void DebugTrace(const char* format, ...)
    __attribute__((format(gnu_printf, 1, 2)));

// Shows the text as the newest line of the trace window while the trace is on.
void DebugShowLine(const char* text);

// x = -1 and y = -1 scrolls the text into the trace window; any other pair
// writes it at (x, y) in the static window.
void DebugMarquee(int x, int y, const char* format, ...)
    __attribute__((format(gnu_printf, 3, 4)));

// Blocks the calling thread until CTRL + right button or CTRL+R.
void DebugPause();

// Draws straight onto the screen, word-wrapped in a 640 x 120 box at (x, y).
void DebugScreenText(int x, int y, const char* format, ...)
    __attribute__((format(gnu_printf, 3, 4)));

// Appends the text and a newline to "error.txt" in the current directory.
void DebugErrorFile(const char* format, ...)
    __attribute__((format(gnu_printf, 1, 2)));

void DebugSetInstance(HINSTANCE instance);
void DebugCloseWindows();

// A changed size destroys the window; the next line re-creates it. Sizes below 1 are ignored.
void DebugSetTraceWindowSize(int width, int height);
void DebugSetStaticWindowSize(int width, int height);

// Minimum milliseconds between two scrolling lines; -1 for none.
void DebugSetLineDelay(int milliseconds);
