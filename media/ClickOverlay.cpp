#include "media/ClickOverlay.h"

#include "media/OverlayPaint.h"

#include <algorithm>
#include <cmath>

using namespace click_overlay;

namespace {

// Largest d >= 0 with d * d < limit (limit > 0).
int64_t LargestBelow(double limit)
{
    auto d = int64_t(std::sqrt(limit));
    while (d > 0 && double(d) * double(d) >= limit)
        --d;
    while (double(d + 1) * double(d + 1) < limit)
        ++d;
    return d;
}

// Smallest d >= 0 with d * d >= limit (limit > 0).
int64_t SmallestAtLeast(double limit)
{
    auto d = int64_t(std::ceil(std::sqrt(limit)));
    while (d > 0 && double(d - 1) * double(d - 1) >= limit)
        --d;
    while (double(d) * double(d) < limit)
        ++d;
    return d;
}

// Every pixel (x, y) with inner <= distance from (cx, cy) < outer, clipped to the frame. Rows
// are cut into runs analytically, so the cost follows the pixels painted, not the bounding box.
void FillAnnulus(const FrameView& frame, int64_t cx, int64_t cy, double inner, double outer, OverlayColour colour,
                 uint8_t opacity)
{
    if (opacity == 0 || !(outer > 0) || !DrawableFrame(frame))
        return;
    const auto reach = int64_t(std::ceil(outer));
    if (cx + reach < 0 || cx - reach >= frame.width || cy + reach < 0 || cy - reach >= frame.height)
        return;
    const OverlayPainter paint(frame, colour, opacity);
    const double outer2 = outer * outer;
    const double inner2 = inner > 0 ? inner * inner : 0;
    const int64_t firstRow = std::max<int64_t>(cy - reach, 0);
    const int64_t lastRow = std::min<int64_t>(cy + reach, frame.height - 1);
    const int64_t right = frame.width - 1;
    auto run = [&](int64_t y, int64_t from, int64_t to) {
        from = std::max<int64_t>(from, 0);
        to = std::min(to, right);
        if (from <= to)
            paint.Run(y, from, to);
    };
    for (int64_t y = firstRow; y <= lastRow; ++y) {
        const double dy2 = double(y - cy) * double(y - cy);
        if (outer2 - dy2 <= 0)
            continue;
        const int64_t out = LargestBelow(outer2 - dy2);
        if (inner2 - dy2 <= 0) {
            run(y, cx - out, cx + out);
            continue;
        }
        const int64_t in = SmallestAtLeast(inner2 - dy2);
        if (in > out)
            continue;
        run(y, cx - out, cx - in);
        run(y, cx + in, cx + out);
    }
}

double Scale(int dpi)
{
    return double(OverlayDpi(dpi)) / kBaseDpi;
}

}  // namespace

OverlayColour RingColour(ClickButton button)
{
    switch (button) {
    case ClickButton::Right:
        return {235, 40, 40};
    case ClickButton::Middle:
        return {40, 110, 255};
    case ClickButton::Left:
        break;
    }
    return {255, 230, 0};
}

int OverlayDpi(int dpi)
{
    if (dpi <= 0)
        return kBaseDpi;
    return std::clamp(dpi, kMinDpi, kMaxDpi);
}

RingShape RingShapeAt(uint32_t ageMs, int dpi)
{
    const double s = Scale(dpi);
    RingShape shape;
    shape.width = kRingWidth * s;
    shape.outline = kOutlineWidth * s;
    if (ageMs >= kRingMs) {
        shape.radius = kRingEndRadius * s;
        return shape;
    }
    const double t = double(ageMs) / kRingMs;
    shape.radius = (kRingStartRadius + (kRingEndRadius - kRingStartRadius) * t) * s;
    shape.opacity = uint8_t(std::lround(255.0 * double(kRingMs - ageMs) / kRingMs));
    return shape;
}

double HaloRadius(int dpi)
{
    return kHaloRadius * Scale(dpi);
}

bool DrawableFrame(const FrameView& frame)
{
    if (!frame.bits || frame.width <= 0 || frame.height <= 0)
        return false;
    switch (frame.bitsPerPixel) {
    case 8:
        return frame.colours && frame.colourCount >= 1 && frame.colourCount <= uint32_t(VBitmapInfo::kMaxColours);
    case 16:
    case 24:
    case 32:
        return true;
    }
    return false;
}

uint8_t NearestColourIndex(const VRgbQuad* colours, uint32_t count, OverlayColour colour)
{
    count = std::min<uint32_t>(count, VBitmapInfo::kMaxColours);
    uint32_t best = 0;
    int64_t bestDistance = INT64_MAX;
    for (uint32_t i = 0; colours && i < count; ++i) {
        const int64_t r = int64_t(colours[i].rgbRed) - colour.red;
        const int64_t g = int64_t(colours[i].rgbGreen) - colour.green;
        const int64_t b = int64_t(colours[i].rgbBlue) - colour.blue;
        const int64_t d = r * r + g * g + b * b;
        if (d < bestDistance) {
            bestDistance = d;
            best = i;
        }
    }
    return uint8_t(best);
}

void DrawRing(const FrameView& frame, int64_t x, int64_t y, ClickButton button, uint32_t ageMs, int dpi)
{
    const RingShape shape = RingShapeAt(ageMs, dpi);
    if (shape.opacity == 0)
        return;
    // Three disjoint bands, so that no pixel is blended twice: dark, bright, dark.
    const double inner = std::max(shape.radius - shape.width / 2, 0.0);
    const double outer = shape.radius + shape.width / 2;
    FillAnnulus(frame, x, y, std::max(inner - shape.outline, 0.0), inner, kOutlineColour, shape.opacity);
    FillAnnulus(frame, x, y, inner, outer, RingColour(button), shape.opacity);
    FillAnnulus(frame, x, y, outer, outer + shape.outline, kOutlineColour, shape.opacity);
}

void DrawHalo(const FrameView& frame, int64_t x, int64_t y, int dpi)
{
    FillAnnulus(frame, x, y, 0, HaloRadius(dpi), kHaloColour, kHaloOpacity);
}
