#include "diag/DebugTrace.h"

#include "diag/DebugHooks.h"
#include "diag/Log.h"
#include "framework/Scoped.h"
#include "framework/TWindow.h"

#include <mmsystem.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <memory>

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

// A diagnostics window, made hidden and top-most at the bottom of the screen by the thread that
// first writes to it; any thread may draw into it. A left click in it pauses.
class DiagWindow : public TWindow {
public:
    bool Exists() const { return Handle() && ::IsWindow(Handle()); }
    // Makes the window unless it exists; one that cannot be made is tried again at the next line.
    void Ensure(HINSTANCE instance, int x, WindowSize size);

protected:
    void FillClass(WNDCLASSEXA& wc) const override;
    LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override;
    virtual const char* Title() const = 0;
    void ShowIfHidden() const;
    // Writes the text into `box` on a white ground, word-wrapped.
    static void Write(HDC dc, const char* text, RECT box);

private:
    void OnLButtonUp() const;
};

// Printf-style lines, each scrolled in at the bottom.
class TraceWindow : public DiagWindow {
public:
    void AddLine(const char* text) const;

protected:
    const char* ClassName() const override { return kTraceClass; }
    const char* Title() const override { return kTraceTitle; }
};

// Text at a chosen position, word-wrapped to the right edge.
class StaticWindow : public DiagWindow {
public:
    void WriteAt(int x, int y, const char* text) const;

protected:
    const char* ClassName() const override { return kStaticClass; }
    const char* Title() const override { return kStaticTitle; }
};

// Module state; every field is guarded by the module lock.
struct DiagState {
    DebugHooks hooks = DebugPlatformHooks();
    HINSTANCE instance = nullptr;  // not owned
    TraceWindow traceWindow;       // destroyed by DebugCloseWindows or a size change
    StaticWindow staticWindow;
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

// Serialises the module's callers: a kernel mutex, re-entrant for the thread that holds it. A
// waiting thread keeps handling messages sent to it, so a holder that shows or scrolls a window
// owned by the waiter cannot deadlock with it.
class DiagLock {
public:
    DiagLock()
    {
        static const ScopedKernelHandle mutex(::CreateMutexA(nullptr, FALSE, nullptr));
        for (HANDLE wanted = mutex.get(); wanted;) {
            const DWORD woke =
                ::MsgWaitForMultipleObjectsEx(1, &wanted, INFINITE, QS_SENDMESSAGE, MWMO_INPUTAVAILABLE);
            if (woke == WAIT_OBJECT_0 || woke == WAIT_ABANDONED_0) {
                held = wanted;
                return;
            }
            // A mutex that cannot be waited for leaves the callers unserialised rather than hung.
            if (woke != WAIT_OBJECT_0 + 1)
                return;
            MSG msg;
            ::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
    }
    ~DiagLock()
    {
        if (held)
            ::ReleaseMutex(held);
    }
    DiagLock(const DiagLock&) = delete;
    DiagLock& operator=(const DiagLock&) = delete;

private:
    HANDLE held = nullptr;  // not owned
};

bool KeyDown(int key)
{
    return (State().hooks.keyState(key) & kKeyDown) != 0;
}

void DiagWindow::Ensure(HINSTANCE instance, int x, WindowSize size)
{
    if (Exists())
        return;
    const int caption = ::GetSystemMetrics(SM_CYCAPTION);
    const int frame = ::GetSystemMetrics(SM_CYFRAME);
    const int top = ::GetSystemMetrics(SM_CYFULLSCREEN) - size.height - frame;
    const RECT place{x, top, x + size.width, top + size.height + caption + frame};
    if (Create(nullptr, Title(), WS_OVERLAPPEDWINDOW, 0, place, instance ? instance : ::GetModuleHandleA(nullptr)))
        ::SetWindowPos(Handle(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

void DiagWindow::FillClass(WNDCLASSEXA& wc) const
{
    wc.style = CS_BYTEALIGNCLIENT | CS_DBLCLKS;
    wc.hIcon = ::LoadIconA(nullptr, IDI_APPLICATION);
    wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
}

LRESULT DiagWindow::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_LBUTTONUP:
        OnLButtonUp();
        return 0;
    }
    return TWindow::HandleMessage(message, wparam, lparam);
}

void DiagWindow::OnLButtonUp() const
{
    DebugPause();
}

void DiagWindow::ShowIfHidden() const
{
    if (!::IsWindowVisible(Handle()))
        ::ShowWindow(Handle(), SW_SHOW);
}

void DiagWindow::Write(HDC dc, const char* text, RECT box)
{
    ::FillRect(dc, &box, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    ::DrawTextA(dc, text, -1, &box, DT_WORDBREAK);
}

void TraceWindow::AddLine(const char* text) const
{
    ShowIfHidden();
    ScopedWindowDC dc(Handle());
    if (!dc)
        return;
    SIZE space{};
    ::GetTextExtentPoint32A(dc.get(), " ", 1, &space);
    RECT client{};
    ::GetClientRect(Handle(), &client);
    ::ScrollWindow(Handle(), 0, -space.cy, nullptr, nullptr);
    ::ValidateRect(Handle(), nullptr);
    Write(dc.get(), text, RECT{client.left, client.bottom - space.cy, client.right, client.bottom});
}

void StaticWindow::WriteAt(int x, int y, const char* text) const
{
    ShowIfHidden();
    ScopedWindowDC dc(Handle());
    if (!dc)
        return;
    RECT client{};
    ::GetClientRect(Handle(), &client);
    RECT measure{x, y, client.right, y};
    ::DrawTextA(dc.get(), text, -1, &measure, DT_WORDBREAK | DT_CALCRECT);
    Write(dc.get(), text, RECT{x, y, client.right, y + (measure.bottom - measure.top)});
}

void EnsureWindows()
{
    DiagState& s = State();
    s.staticWindow.Ensure(s.instance, 0, s.staticSize);
    const int screenWidth = ::GetSystemMetrics(SM_CXFULLSCREEN);
    s.traceWindow.Ensure(s.instance, screenWidth - s.traceSize.width, s.traceSize);
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
    if (s.traceWindow.Exists()) {
        if (scrolling)
            s.traceWindow.AddLine(text);
        else if (s.staticWindow.Exists())
            s.staticWindow.WriteAt(x, y, text);
        if (s.hooks.textShown)
            s.hooks.textShown(x, y, text);
    }
    if (scrolling)
        WaitForLineDelay();
    CheckKeys();
}

// A changed size destroys the window; the next line makes it again. Called under the lock.
void Resize(DiagWindow& window, WindowSize& size, WindowSize wanted)
{
    if (wanted.width <= 0 || wanted.height <= 0 || (size.width == wanted.width && size.height == wanted.height))
        return;
    size = wanted;
    window.Destroy();
}

// Formats into a buffer of N bytes (a longer text is cut) and hands the text to `use` under the
// module lock. Does nothing while the trace is off.
template <size_t N, typename Use>
void WithText(const char* format, va_list args, Use use)
{
    if (!DebugTraceOn)
        return;
    char text[N];
    std::vsnprintf(text, sizeof text, format, args);
    DiagLock hold;
    use(text);
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
    char text[kMarqueeBufferBytes];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    ProgramLog().Line(text);
}

void DebugShowLine(const char* text)
{
    if (!DebugTraceOn)
        return;
    DiagLock hold;
    ShowText(kScrolling, kScrolling, text);
}

void DebugMarquee(int x, int y, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    WithText<kMarqueeBufferBytes>(format, args, [x, y](const char* text) { ShowText(x, y, text); });
    va_end(args);
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
    va_list args;
    va_start(args, format);
    WithText<kShortBufferBytes>(format, args, [x, y](const char* text) {
        ScopedWindowDC screen(nullptr);
        if (!screen)
            return;
        RECT box{x, y, x + kScreenTextWidth, y + kScreenTextHeight};
        ::DrawTextA(screen.get(), text, -1, &box, DT_WORDBREAK);
    });
    va_end(args);
}

void DebugErrorFile(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    WithText<kShortBufferBytes>(format, args, [](const char* text) {
        std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen("error.txt", "a"), std::fclose);
        if (file)
            std::fprintf(file.get(), "%s\n", text);
    });
    va_end(args);
}

void DebugSetInstance(HINSTANCE instance)
{
    DiagLock hold;
    State().instance = instance;
}

void DebugCloseWindows()
{
    DiagLock hold;
    State().traceWindow.Destroy();
    State().staticWindow.Destroy();
}

void DebugSetTraceWindowSize(int width, int height)
{
    DiagLock hold;
    Resize(State().traceWindow, State().traceSize, WindowSize{width, height});
}

void DebugSetStaticWindowSize(int width, int height)
{
    DiagLock hold;
    Resize(State().staticWindow, State().staticSize, WindowSize{width, height});
}

void DebugSetLineDelay(int milliseconds)
{
    DiagLock hold;
    State().lineDelay = milliseconds;
}
