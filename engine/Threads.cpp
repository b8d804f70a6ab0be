#include "engine/Threads.h"

#include <process.h>

namespace {
std::atomic<BaseThread::CreateFn> g_createThread{&::_beginthreadex};
}

void BaseThread::SetCreateFunctionForTesting(CreateFn fn)
{
    g_createThread.store(fn ? fn : &::_beginthreadex);
}

void BaseThread::Terminate()
{
    terminate.store(true);
}

BaseThread::~BaseThread() noexcept(false)
{
    if (RefreshState() == Running)
        throw BaseThreadError{7};
}

int32_t BaseThread::Run()
{
    throw BaseThreadError{0};
}

BaseThread::ThreadState BaseThread::RefreshState()
{
    if (state.load() == Running && handle) {
        DWORD code = 0;
        if (::GetExitCodeThread(handle.get(), &code) && code != STILL_ACTIVE)
            state.store(Finished);
    }
    return state.load();
}

unsigned __stdcall BaseThread::StartRoutine(void* param)
{
    auto* self = static_cast<BaseThread*>(param);
    int32_t result = 0;
    try {
        result = self->Run();
    } catch (const BaseThreadError& e) {
        // A thread without work ends at once; its code tells the owner why.
        result = -1 - e.code;
    }
    self->state.store(Finished);
    return static_cast<unsigned>(result);
}

HANDLE BaseThread::Start()
{
    RefreshState();
    if (state.load() != NotStarted)
        handle.reset();
    terminate.store(false);
    // The C runtime's thread start keeps its per-thread data right under a static runtime.
    unsigned id = 0;
    state.store(Running);
    auto h = reinterpret_cast<HANDLE>(g_createThread.load()(nullptr, 0, &StartRoutine, this, 0, &id));
    if (!h) {
        state.store(CreateFailed);
        throw BaseThreadError{6};
    }
    handle.reset(h);
    return h;
}

DWORD BaseThread::Suspend()
{
    ThreadState s = RefreshState();
    if (s == NotStarted)
        throw BaseThreadError{1};
    if (s == Finished)
        throw BaseThreadError{4};
    DWORD previous = ::SuspendThread(handle.get());
    if (previous != DWORD(-1) && previous < 127)
        state.store(Suspended);
    return previous;
}

DWORD BaseThread::Resume()
{
    ThreadState s = RefreshState();
    if (s == NotStarted)
        throw BaseThreadError{2};
    if (s == Running)
        throw BaseThreadError{3};
    if (s == Finished)
        throw BaseThreadError{5};
    DWORD previous = ::ResumeThread(handle.get());
    if (previous <= 1)
        state.store(Running);
    return previous;
}

DWORD BaseThread::Wait(DWORD milliseconds)
{
    if (state.load() != Running || !handle)
        return DWORD(-1);
    return ::WaitForSingleObject(handle.get(), milliseconds);
}

DWORD BaseThread::TerminateAndWait(DWORD milliseconds)
{
    Terminate();
    return Wait(milliseconds);
}
