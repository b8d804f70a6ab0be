#include "media/Tracking.h"

#include "common/PanInset.h"

#include <algorithm>
#include <limits>

namespace {

// Every sum is formed in 64 bits and saturated, so no area or cursor can wrap a coordinate.
int32_t Saturate(int64_t v)
{
    return int32_t(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

// Moves the area, stopping at the coordinate range so that its size is kept.
VRect Offset(const VRect& r, int64_t dx, int64_t dy)
{
    constexpr int64_t lowest = std::numeric_limits<int32_t>::min();
    constexpr int64_t highest = std::numeric_limits<int32_t>::max();
    const int64_t width = std::max<int64_t>(0, int64_t(r.right) - r.left);
    const int64_t height = std::max<int64_t>(0, int64_t(r.bottom) - r.top);
    const int64_t left = std::clamp<int64_t>(r.left + dx, lowest, highest - width);
    const int64_t top = std::clamp<int64_t>(r.top + dy, lowest, highest - height);
    return VRect{int32_t(left), int32_t(top), int32_t(left + width), int32_t(top + height)};
}

// One axis of the Follow Cursor step rule; leaves `d` alone when no edge is passed.
int64_t StepRule(int64_t d, int64_t p, int64_t innerLow, int64_t innerHigh, int64_t outerLow, int64_t outerHigh,
                 int64_t a)
{
    if (p > innerHigh)
        d = a;
    else if (p < innerLow)
        d = -a;
    if (p > outerHigh)
        d = p - innerHigh + a;
    else if (p < outerLow)
        d = p - innerLow - a;
    return d;
}

// A move never carries the area's centre beyond the cursor.
int64_t CentreLimit(int64_t d, int64_t p, int64_t centre)
{
    if (d == 0)
        return 0;
    const int64_t e = p - centre;
    return e > 0 ? std::min(d, e) : std::max(d, e);
}

}  // namespace

int32_t PanInset(const VRect& capture, int32_t mode, int32_t panMargin)
{
    if (!PansAfterCursor(mode))
        return 0;
    return Saturate(PanInsetFor(int64_t(capture.right) - capture.left, int64_t(capture.bottom) - capture.top,
                                panMargin));
}

VRect InnerRect(const VRect& capture, int32_t inset)
{
    if (inset == 0)
        return VRect{};
    return VRect{Saturate(int64_t(capture.left) + inset), Saturate(int64_t(capture.top) + inset),
                 Saturate(int64_t(capture.right) - inset), Saturate(int64_t(capture.bottom) - inset)};
}

VRect ClampToScreen(const VRect& area, const VRect& screen, int32_t minWidth, int32_t minHeight)
{
    const int64_t width = std::max<int64_t>(
        std::min(int64_t(area.right) - area.left, int64_t(screen.right) - screen.left), minWidth);
    const int64_t height = std::max<int64_t>(
        std::min(int64_t(area.bottom) - area.top, int64_t(screen.bottom) - screen.top), minHeight);
    int64_t left = area.left;
    int64_t top = area.top;
    if (left < screen.left)
        left = screen.left;
    if (top < screen.top)
        top = screen.top;
    if (left + width > screen.right)
        left = screen.right - width;
    if (top + height > screen.bottom)
        top = screen.bottom - height;
    return VRect{Saturate(left), Saturate(top), Saturate(left + width), Saturate(top + height)};
}

bool Contains(const VRect& r, const VPoint& p)
{
    return r.left <= p.x && p.x < r.right && r.top <= p.y && p.y < r.bottom;
}

TrackingResult TrackArea(const TrackingInput& in)
{
    TrackingResult out{in.capture, VRect{}};

    if (in.mode == kFollowWindows) {
        if (in.foregroundTopLeft) {
            const int64_t dx = int64_t(in.foregroundTopLeft->x) - in.capture.left;
            const int64_t dy = int64_t(in.foregroundTopLeft->y) - in.capture.top;
            if (dx != 0 || dy != 0)
                out.capture = ClampToScreen(Offset(in.capture, dx, dy), in.screen, in.minWidth, in.minHeight);
        }
        return out;
    }
    if (!PansAfterCursor(in.mode))
        return out;

    const int64_t a = PanInset(in.capture, in.mode, in.panMargin);
    const VRect o = in.capture;
    const VRect i = InnerRect(o, int32_t(a));
    out.inner = i;
    const VPoint p = in.cursor;
    if (in.mode == kFollowFrame ? Contains(o, p) : Contains(i, p))
        return out;

    const int64_t cx = (int64_t(o.left) + o.right) / 2;
    const int64_t cy = (int64_t(o.top) + o.bottom) / 2;
    int64_t dx = 0;
    int64_t dy = 0;
    switch (in.mode) {
    case kSmoothPan:
        // Inside the band the area follows until the cursor sits on the inner edge; beyond the
        // area it moves until the cursor sits on the outer edge, and later frames close in.
        if (p.x > i.right)
            dx = int64_t(p.x) - i.right;
        else if (p.x < i.left)
            dx = int64_t(p.x) - i.left;
        if (p.y > i.bottom)
            dy = int64_t(p.y) - i.bottom;
        else if (p.y < i.top)
            dy = int64_t(p.y) - i.top;
        if (p.x > o.right)
            dx = int64_t(p.x) - o.right;
        else if (p.x < o.left)
            dx = int64_t(p.x) - o.left;
        if (p.y > o.bottom)
            dy = int64_t(p.y) - o.bottom;
        else if (p.y < o.top)
            dy = int64_t(p.y) - o.top;
        break;
    case kFollowCursor:
        dx = StepRule(dx, p.x, i.left, i.right, o.left, o.right, a);
        dy = StepRule(dy, p.y, i.top, i.bottom, o.top, o.bottom, a);
        break;
    case kFollowFrame:
        // Once the area must move, the other axis follows by the step rule as well.
        if (p.x > o.right)
            dx = int64_t(p.x) - o.right + a;
        else if (p.x < o.left)
            dx = int64_t(p.x) - o.left - a;
        if (p.y > o.bottom)
            dy = int64_t(p.y) - o.bottom + a;
        else if (p.y < o.top)
            dy = int64_t(p.y) - o.top - a;
        if (dx != 0)
            dy = StepRule(dy, p.y, i.top, i.bottom, o.top, o.bottom, a);
        if (dy != 0)
            dx = StepRule(dx, p.x, i.left, i.right, o.left, o.right, a);
        break;
    default:
        break;
    }
    dx = CentreLimit(dx, p.x, cx);
    dy = CentreLimit(dy, p.y, cy);

    out.capture = ClampToScreen(Offset(o, dx, dy), in.screen, in.minWidth, in.minHeight);
    out.inner = InnerRect(out.capture, PanInset(out.capture, in.mode, in.panMargin));
    return out;
}
