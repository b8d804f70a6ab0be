#include "diag/DebugTrace.h"

#include "diag/DebugHooks.h"
#include "framework/Scoped.h"

#include <mmsystem.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>

std::atomic<bool> DebugTraceOn{true};

namespace {

constexpr size_t kMarqueeBufferBytes = 512;
constexpr size_t kShortBufferBytes = 200;
constexpr int kScrolling = -1;            // x and y of a scrolling line
constexpr int kNoLineDelay = -1;
constexpr DWORD kResumeGapMs = 250;       // a resume key still held must not end the next pause
constexpr DWORD kKeyPollMs = 10;
constexpr int kScreenTextWidth = 640;
constexpr int kScreenTextHeight = 120;
constexpr SHORT kKeyDown = SHORT(0x8000);

constexpr char kTraceClass[] = "DEBUG_CLASS";
constexpr char kTraceTitle[] = "Debug & Diagnostics";
constexpr char kStaticClass[] = "STATIC_DEBUG_CLASS";
constexpr char kStaticTitle[] = "Debug & Diagnostics -Static";
constexpr char kForceQuitText[] = "*** You Have Just Press << CTRL-Q >> to Force Quit this Application ***";
constexpr char kPausedText[] = "<<< PAUSED.  CTRL-Right-Click Anywhere (or Press CTRL-R) to Resume ... >>>";
constexpr char kUnpausedText[] = "<<< UN-PAUSED >>>";

SHORT PlatformKeyState(int key)
{
    return ::GetAsyncKeyState(key);
}
DWORD PlatformNow()
{
    return ::timeGetTime();
}
void PlatformSleep(DWORD ms)
{
    ::Sleep(ms);
}
void PlatformBeep()
{
    ::MessageBeep(0xFFFFFFFF);
}
void PlatformForceQuit(const char* caption)
{
    ::MessageBoxA(nullptr, kForceQuitText, caption, MB_ICONERROR | MB_SYSTEMMODAL);
    std::exit(1);
}

struct WindowSize {
    int width;
    int height;
};

// Module state; every field is guarded by the module lock.
struct DiagState {
    DebugHooks hooks = DebugPlatformHooks();
    HINSTANCE instance = nullptr;  // not owned
    HWND traceWindow = nullptr;    // destroyed by DebugCloseWindows or a size change
    HWND staticWindow = nullptr;
    WindowSize traceSize{400, 600};
    WindowSize staticSize{600, 300};
    int lineDelay = kNoLineDelay;
    DWORD lastLine = 0;
    bool paused = false;
    DWORD lastResume = 0;
};

DiagState& State()
{
    static DiagState state;
    return state;
}

std::recursive_mutex& Mutex()
{
    static std::recursive_mutex mutex;
    return mutex;
}

// Serialises the module's callers. A waiting thread keeps handling messages sent to it, so a
// holder that shows or scrolls a window owned by the waiter cannot deadlock with it.
class DiagLock {
public:
    DiagLock()
    {
        while (!Mutex().try_lock()) {
            ::MsgWaitForMultipleObjectsEx(0, nullptr, 1, QS_SENDMESSAGE, 0);
            MSG msg;
            ::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
    }
    ~DiagLock() { Mutex().unlock(); }
    DiagLock(const DiagLock&) = delete;
    DiagLock& operator=(const DiagLock&) = delete;
};

bool KeyDown(int key)
{
    return (State().hooks.keyState(key) & kKeyDown) != 0;
}

void DestroyDiagWindow(HWND& window)
{
    // Only the creating thread may destroy a window; another thread asks it to close.
    if (window && ::IsWindow(window) && !::DestroyWindow(window))
        ::PostMessageA(window, WM_CLOSE, 0, 0);
    window = nullptr;
}

void RegisterDiagClass(const char* className)
{
    WNDCLASSA wc{};
    wc.style = CS_BYTEALIGNCLIENT | CS_DBLCLKS;
    wc.lpfnWndProc = DebugWndProc;
    wc.hInstance = State().instance;
    wc.hIcon = ::LoadIconA(nullptr, IDI_APPLICATION);
    wc.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = className;
    ::RegisterClassA(&wc);  // already registered by an earlier window: fine
}

// Creates the window hidden and top-most unless it is still alive. Left at null on failure, so
// that the next line tries again.
void EnsureWindow(HWND& window, const char* className, const char* title, int x, WindowSize size)
{
    if (window && ::IsWindow(window))
        return;
    const int caption = ::GetSystemMetrics(SM_CYCAPTION);
    const int frame = ::GetSystemMetrics(SM_CYFRAME);
    const int screenHeight = ::GetSystemMetrics(SM_CYFULLSCREEN);
    RegisterDiagClass(className);
    window = ::CreateWindowExA(0, className, title, WS_OVERLAPPEDWINDOW, x, screenHeight - size.height - frame,
                               size.width, size.height + caption + frame, nullptr, nullptr, State().instance,
                               nullptr);
    if (window)
        ::SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

void EnsureWindows()
{
    DiagState& s = State();
    EnsureWindow(s.staticWindow, kStaticClass, kStaticTitle, 0, s.staticSize);
    const int screenWidth = ::GetSystemMetrics(SM_CXFULLSCREEN);
    EnsureWindow(s.traceWindow, kTraceClass, kTraceTitle, screenWidth - s.traceSize.width, s.traceSize);
}

void Draw(HWND target, bool scrolling, int x, int y, const char* text)
{
    if (!::IsWindowVisible(target))
        ::ShowWindow(target, SW_SHOW);
    ScopedWindowDC dc(target);
    if (!dc)
        return;
    SIZE space{};
    ::GetTextExtentPoint32A(dc.get(), " ", 1, &space);
    RECT client{};
    ::GetClientRect(target, &client);
    const auto white = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
    RECT box{};
    if (scrolling) {
        ::ScrollWindow(target, 0, -space.cy, nullptr, nullptr);
        ::ValidateRect(target, nullptr);
        box = RECT{client.left, client.bottom - space.cy, client.right, client.bottom};
    } else {
        RECT measure{x, y, client.right, y};
        ::DrawTextA(dc.get(), text, -1, &measure, DT_WORDBREAK | DT_CALCRECT);
        box = RECT{x, y, client.right, y + (measure.bottom - measure.top)};
    }
    ::FillRect(dc.get(), &box, white);
    ::DrawTextA(dc.get(), text, -1, &box, DT_WORDBREAK);
}

void WaitForLineDelay()
{
    DiagState& s = State();
    if (s.lineDelay == kNoLineDelay)
        return;
    const auto delay = DWORD(s.lineDelay);
    for (DWORD gone = s.hooks.now() - s.lastLine; gone < delay; gone = s.hooks.now() - s.lastLine)
        s.hooks.sleep(delay - gone);
    s.lastLine = s.hooks.now();
}

void CheckKeys()
{
    const bool ctrl = KeyDown(VK_CONTROL);
    if ((ctrl && KeyDown('S')) || (KeyDown(VK_RBUTTON) && !ctrl))
        DebugPause();
    if (KeyDown(VK_CONTROL) && KeyDown('Q'))
        State().hooks.forceQuit("Marquee2");
}

// Shows a finished text as it is: it is never used as a format again. Called under the lock.
void ShowText(int x, int y, const char* text)
{
    DiagState& s = State();
    const bool scrolling = x == kScrolling && y == kScrolling;
    EnsureWindows();
    if (s.traceWindow && ::IsWindow(s.traceWindow)) {
        HWND target = scrolling ? s.traceWindow : s.staticWindow;
        if (target && ::IsWindow(target))
            Draw(target, scrolling, x, y, text);
        if (s.hooks.textShown)
            s.hooks.textShown(x, y, text);
    }
    if (scrolling)
        WaitForLineDelay();
    CheckKeys();
}

}  // namespace

DebugHooks DebugPlatformHooks()
{
    return DebugHooks{PlatformKeyState, PlatformNow, PlatformSleep, PlatformBeep, PlatformForceQuit, nullptr};
}

void DebugSetHooks(const DebugHooks& hooks)
{
    DiagLock hold;
    State().hooks = hooks;
}

void DebugTrace(const char* format, ...)
{
    if (!DebugTraceOn)
        return;
    char text[kMarqueeBufferBytes];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);  // cuts a longer text
    va_end(args);
    DiagLock hold;
    ShowText(kScrolling, kScrolling, text);
}

void DebugMarquee(int x, int y, const char* format, ...)
{
    if (!DebugTraceOn)
        return;
    char text[kMarqueeBufferBytes];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    DiagLock hold;
    ShowText(x, y, text);
}

void DebugPause()
{
    if (!DebugTraceOn)
        return;
    DiagLock hold;
    DiagState& s = State();
    if (s.paused)
        return;
    s.paused = true;
    ShowText(kScrolling, kScrolling, kPausedText);
    s.hooks.beep();
    for (DWORD gone = s.hooks.now() - s.lastResume; gone < kResumeGapMs; gone = s.hooks.now() - s.lastResume)
        s.hooks.sleep(kResumeGapMs - gone);
    // Polled rather than waited for: the keys may be pressed while any application has the focus.
    while (!(KeyDown(VK_CONTROL) && (KeyDown(VK_RBUTTON) || KeyDown('R')))) {
        if (KeyDown(VK_CONTROL) && KeyDown('Q'))
            s.hooks.forceQuit("VERROR");
        s.hooks.sleep(kKeyPollMs);
    }
    s.lastResume = s.hooks.now();
    ShowText(kScrolling, kScrolling, kUnpausedText);
    s.paused = false;
}

void DebugScreenText(int x, int y, const char* format, ...)
{
    if (!DebugTraceOn)
        return;
    char text[kShortBufferBytes];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    DiagLock hold;
    ScopedWindowDC screen(nullptr);
    if (!screen)
        return;
    RECT box{x, y, x + kScreenTextWidth, y + kScreenTextHeight};
    ::DrawTextA(screen.get(), text, -1, &box, DT_WORDBREAK);
}

void DebugErrorFile(const char* format, ...)
{
    if (!DebugTraceOn)
        return;
    char text[kShortBufferBytes];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    DiagLock hold;
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen("error.txt", "a"), std::fclose);
    if (file)
        std::fprintf(file.get(), "%s\n", text);
}

void DebugSetInstance(HINSTANCE instance)
{
    DiagLock hold;
    State().instance = instance;
}

void DebugCloseWindows()
{
    DiagLock hold;
    DestroyDiagWindow(State().traceWindow);
    DestroyDiagWindow(State().staticWindow);
}

void DebugSetTraceWindowSize(int width, int height)
{
    DiagLock hold;
    DiagState& s = State();
    if (width <= 0 || height <= 0 || (s.traceSize.width == width && s.traceSize.height == height))
        return;
    s.traceSize = WindowSize{width, height};
    DestroyDiagWindow(s.traceWindow);
}

void DebugSetStaticWindowSize(int width, int height)
{
    DiagLock hold;
    DiagState& s = State();
    if (width <= 0 || height <= 0 || (s.staticSize.width == width && s.staticSize.height == height))
        return;
    s.staticSize = WindowSize{width, height};
    DestroyDiagWindow(s.staticWindow);
}

void DebugSetLineDelay(int milliseconds)
{
    DiagLock hold;
    State().lineDelay = milliseconds;
}

LRESULT CALLBACK DebugWndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_DESTROY:
        return 0;
    case WM_LBUTTONUP:
        DebugPause();
        return 0;
    default:
        return ::DefWindowProcA(window, message, wparam, lparam);
    }
}
