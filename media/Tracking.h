#pragma once
// Where the capture area goes next. A pure function of the area, the screen, the cursor and the
// settings, so that every rule can be checked without a display; the grabber calls it per frame.

#include "media/VRecords.h"

#include <cstdint>
#include <optional>

namespace tracking {
// Inset = (100 - pan margin) * 327 * shorter side / 65536: about half of (100 - margin) percent.
inline constexpr int64_t kInsetFactor = 327;
inline constexpr int kInsetShift = 16;
inline constexpr int32_t kMinInset = 1;
inline constexpr int32_t kMaxPanMargin = 100;
}  // namespace tracking

struct TrackingInput {
    VRect capture;                          // the area now, right and bottom exclusive
    VRect screen;                           // (0, 0, width, height)
    VPoint cursor;
    int32_t mode = 0;                       // CaptureMode; anything else behaves like Fixed Area
    int32_t panMargin = 0;                  // 0 to 100; values outside are taken as the nearest end
    int32_t minWidth = 16;
    int32_t minHeight = 16;
    std::optional<VPoint> foregroundTopLeft;  // Follow Windows: top-left of the window to follow
};

struct TrackingResult {
    VRect capture;
    VRect inner;   // empty unless the mode pans after the cursor
};

// True for modes that pan after the cursor (Smooth Pan, Follow Cursor, Follow Frame).
bool PansAfterCursor(int32_t mode);
// The step of the panning modes; 0 for the other modes.
int32_t PanInset(const VRect& capture, int32_t mode, int32_t panMargin);
VRect InnerRect(const VRect& capture, int32_t inset);
// Keeps the size (cut to the screen, raised to the minimum) and pushes the area onto the screen.
VRect ClampToScreen(const VRect& area, const VRect& screen, int32_t minWidth, int32_t minHeight);
bool Contains(const VRect& r, const VPoint& p);

TrackingResult TrackArea(const TrackingInput& in);
