#pragma once
// How the capture area moves during a recording; the numbers are stored in the registry.

#include <cstdint>

enum CaptureMode : int32_t {
    kFixedArea = 0,
    kSmoothPan = 1,
    kFollowCursor = 2,
    kFollowFrame = 3,
    kFollowWindows = 4,
};

// True for modes that pan after the cursor (Smooth Pan, Follow Cursor, Follow Frame).
constexpr bool PansAfterCursor(int32_t mode)
{
    return mode == kSmoothPan || mode == kFollowCursor || mode == kFollowFrame;
}
