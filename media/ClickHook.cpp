#include "media/ClickHook.h"

#include <mmsystem.h>

namespace {
// The hook procedure has no context argument; it runs only on the thread that installed it, so
// that thread's own hook is found here.
thread_local ClickHook* currentHook = nullptr;
}  // namespace

ClickHook::ClickHook(ClickRing& ring, const ClickClock& clock) : ring(ring), clock(clock) {}

ClickHook::~ClickHook()
{
    Stop();
}

bool ClickHook::Start()
{
    if (Running())
        return true;
    ready.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!ready)
        return false;
    installed = false;
    thread.reset(::CreateThread(nullptr, 0, &ClickHook::ThreadMain, this, 0, &threadId));
    if (!thread)
        return false;
    // Either the hook is in, or the thread has given up and is ending.
    const HANDLE waits[] = {ready.get(), thread.get()};
    ::WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    if (::WaitForSingleObject(ready.get(), 0) == WAIT_OBJECT_0 && installed)
        return true;
    Stop();
    return false;
}

void ClickHook::Stop()
{
    if (!thread)
        return;
    // WM_QUIT ends the loop; the queue exists before `ready` is signalled, so the post lands.
    ::PostThreadMessageA(threadId, WM_QUIT, 0, 0);
    ::WaitForSingleObject(thread.get(), INFINITE);
    thread.reset();
    threadId = 0;
}

DWORD WINAPI ClickHook::ThreadMain(void* self)
{
    return static_cast<ClickHook*>(self)->Run();
}

DWORD ClickHook::Run()
{
    MSG msg;
    ::PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);  // makes the queue
    // Every mouse event of the desktop waits for this thread: a busy capture thread must not
    // keep it from answering.
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
    currentHook = this;
    HHOOK hook = ::SetWindowsHookExA(WH_MOUSE_LL, &ClickHook::LowLevelMouse, ::GetModuleHandleA(nullptr), 0);
    installed = hook != nullptr;
    ::SetEvent(ready.get());
    if (!hook)
        return 1;
    while (::GetMessageA(&msg, nullptr, 0, 0) > 0)
        ::DispatchMessageA(&msg);
    ::UnhookWindowsHookEx(hook);
    currentHook = nullptr;
    return 0;
}

LRESULT CALLBACK ClickHook::LowLevelMouse(int code, WPARAM message, LPARAM data)
{
    if (code == HC_ACTION && currentHook) {
        ClickButton button = ClickButton::Left;
        bool press = true;
        switch (message) {
        case WM_LBUTTONDOWN:
            break;
        case WM_RBUTTONDOWN:
            button = ClickButton::Right;
            break;
        case WM_MBUTTONDOWN:
            button = ClickButton::Middle;
            break;
        default:
            press = false;
        }
        uint32_t time = 0;
        if (press && currentHook->clock.Stamp(::timeGetTime(), time)) {
            const auto* event = reinterpret_cast<const MSLLHOOKSTRUCT*>(data);
            currentHook->ring.Push(ClickPress{time, VPoint{event->pt.x, event->pt.y}, button});
        }
    }
    return ::CallNextHookEx(nullptr, code, message, data);
}
