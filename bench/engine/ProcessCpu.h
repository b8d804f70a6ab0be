#pragma once
// The CPU this process has used so far, kernel and user, in seconds.

#include <windows.h>

#include <cstdint>

inline double CpuSeconds()
{
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto toSeconds = [](const FILETIME& f) {
        return double((uint64_t(f.dwHighDateTime) << 32) | f.dwLowDateTime) * 1e-7;
    };
    return toSeconds(kernel) + toSeconds(user);
}
