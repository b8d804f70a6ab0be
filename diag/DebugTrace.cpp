#include "diag/DebugTrace.h"

std::atomic<bool> DebugTraceOn{true};

void DebugTrace(const char*, ...) {}
void DebugMarquee(int, int, const char*, ...) {}
void DebugPause() {}
void DebugScreenText(int, int, const char*, ...) {}
void DebugErrorFile(const char*, ...) {}
void DebugSetInstance(HINSTANCE) {}
void DebugCloseWindows() {}
void DebugSetTraceWindowSize(int, int) {}
void DebugSetStaticWindowSize(int, int) {}
void DebugSetLineDelay(int) {}

LRESULT CALLBACK DebugWndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    return DefWindowProcA(window, message, wparam, lparam);
}
