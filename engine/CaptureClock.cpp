#include "engine/CaptureClock.h"

#include <mmsystem.h>

SystemClock::SystemClock()
{
    ::timeBeginPeriod(1);
}

SystemClock::~SystemClock()
{
    ::timeEndPeriod(1);
}

uint32_t SystemClock::Now()
{
    return ::timeGetTime();
}

void SystemClock::Wait(HANDLE wake, DWORD milliseconds)
{
    ::WaitForSingleObject(wake, milliseconds);
}
