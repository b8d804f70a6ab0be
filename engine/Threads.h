#pragma once
// The engine's worker thread, lock and owned memory block.

#include "framework/Scoped.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>

// A thread whose work is the virtual Run.
class BaseThread {
public:
    struct BaseThreadError {
        int32_t code;
    };
    enum ThreadState : int32_t { NotStarted = 0, Running = 1, Suspended = 2, Finished = 3, CreateFailed = 4 };

    BaseThread() = default;
    BaseThread(const BaseThread&) = delete;
    BaseThread& operator=(const BaseThread&) = delete;

    virtual void Terminate();                   // any thread
    virtual ~BaseThread() noexcept(false);      // owner's thread; raises 7 while running

    HANDLE Start();                             // owner's thread
    DWORD Suspend();
    DWORD Resume();
    DWORD Wait(DWORD milliseconds);             // -1 when not running
    DWORD TerminateAndWait(DWORD milliseconds);

    // Test seam: stands in for the C runtime's thread creation; null restores it.
    using CreateFn = uintptr_t (*)(void* security, unsigned stack, unsigned(__stdcall* start)(void*), void* arg,
                                   unsigned flags, unsigned* id);
    static void SetCreateFunctionForTesting(CreateFn fn);

    ThreadState State() const { return state.load(); }
    ThreadState RefreshState();                 // asks the platform whether a running thread has ended
    bool TerminateRequested() const { return terminate.load(); }  // any thread
    HANDLE Handle() const { return handle.get(); }

protected:
    virtual int32_t Run();                      // the work; on the new thread

private:
    static unsigned __stdcall StartRoutine(void* self);

    ScopedKernelHandle handle;                 // replaced on restart
    std::atomic<ThreadState> state{NotStarted};
    std::atomic<bool> terminate{false};
};

// An owned critical section; re-entrant for the thread that holds it.
class VCriticalSection {
public:
    VCriticalSection() { ::InitializeCriticalSection(&cs); }
    ~VCriticalSection() { ::DeleteCriticalSection(&cs); }
    VCriticalSection(const VCriticalSection&) = delete;
    VCriticalSection& operator=(const VCriticalSection&) = delete;

    class VLock {
    public:
        explicit VLock(VCriticalSection* cs) : cs(cs) { ::EnterCriticalSection(&cs->cs); }
        ~VLock() { ::LeaveCriticalSection(&cs->cs); }
        VLock(const VLock&) = delete;
        VLock& operator=(const VLock&) = delete;

    private:
        VCriticalSection* cs;  // not owned
    };

private:
    CRITICAL_SECTION cs;
};

// An owned memory block. Allocation failure leaves it empty instead of throwing.
class VBits {
public:
    bool Allocate(size_t bytes)
    {
        data.reset(new (std::nothrow) uint8_t[bytes]);
        size = data ? bytes : 0;
        return data != nullptr;
    }
    void Free()
    {
        data.reset();
        size = 0;
    }
    uint8_t* Data() const { return data.get(); }
    size_t Size() const { return size; }

private:
    std::unique_ptr<uint8_t[]> data;
    size_t size = 0;
};
