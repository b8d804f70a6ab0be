#include "media/HookThread.h"

namespace {
// Each hook thread installs one hook, so the thread's own context is the hook's.
thread_local void* currentContext = nullptr;
}  // namespace

HookThread::HookThread(int type, HOOKPROC procedure, void* context)
    : type(type), procedure(procedure), context(context)
{
}

HookThread::~HookThread()
{
    Stop();
}

void* HookThread::Context()
{
    return currentContext;
}

bool HookThread::Start()
{
    if (Running())
        return true;
    ready.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!ready)
        return false;
    installed = false;
    thread.reset(::CreateThread(nullptr, 0, &HookThread::ThreadMain, this, 0, &threadId));
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

void HookThread::Stop()
{
    if (!thread)
        return;
    // WM_QUIT ends the loop; the queue exists before `ready` is signalled, so the post lands.
    ::PostThreadMessageA(threadId, WM_QUIT, 0, 0);
    ::WaitForSingleObject(thread.get(), INFINITE);
    thread.reset();
    threadId = 0;
}

DWORD WINAPI HookThread::ThreadMain(void* self)
{
    return static_cast<HookThread*>(self)->Run();
}

DWORD HookThread::Run()
{
    MSG msg;
    ::PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);  // makes the queue
    // A busy capture thread must not keep this one from answering.
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
    currentContext = context;
    HHOOK hook = ::SetWindowsHookExA(type, procedure, ::GetModuleHandleA(nullptr), 0);
    installed = hook != nullptr;
    ::SetEvent(ready.get());
    if (!hook)
        return 1;
    while (::GetMessageA(&msg, nullptr, 0, 0) > 0)
        ::DispatchMessageA(&msg);
    ::UnhookWindowsHookEx(hook);
    currentContext = nullptr;
    return 0;
}
