#pragma once
// Where the capture area goes next. A pure function of the area, the screen, the cursor and the
// settings, so that every rule can be checked without a display; the grabber calls it per frame.

#include "common/CaptureMode.h"
#include "common/VRecords.h"

#include <cstdint>
#include <optional>

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

// The step of the panning modes; 0 for the other modes.
int32_t PanInset(const VRect& capture, int32_t mode, int32_t panMargin);
VRect InnerRect(const VRect& capture, int32_t inset);
// Keeps the size (cut to the screen, raised to the minimum) and pushes the area onto the screen.
VRect ClampToScreen(const VRect& area, const VRect& screen, int32_t minWidth, int32_t minHeight);
bool Contains(const VRect& r, const VPoint& p);

TrackingResult TrackArea(const TrackingInput& in);
