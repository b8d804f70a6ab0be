#pragma once
// The capture loop reads time and waits for its next frame only through this seam, so that
// pacing can be driven by a scripted clock in tests.

#include <windows.h>

#include <cstdint>

class CaptureClock {
public:
    static constexpr DWORD kForever = INFINITE;

    virtual ~CaptureClock() = default;
    // Milliseconds; wraps like timeGetTime. Any thread: the wave-in callback stamps buffers with it.
    virtual uint32_t Now() = 0;
    // Sleeps for at most `milliseconds` (kForever: no limit), or until `wake` is signalled.
    virtual void Wait(HANDLE wake, DWORD milliseconds) = 0;
};

// timeGetTime and a real wait, at 1 ms timer resolution for as long as the clock exists.
class SystemClock : public CaptureClock {
public:
    SystemClock();
    ~SystemClock() override;
    SystemClock(const SystemClock&) = delete;
    SystemClock& operator=(const SystemClock&) = delete;
    uint32_t Now() override;
    void Wait(HANDLE wake, DWORD milliseconds) override;
};
