#include "common/CaptureInfo.h"
#include "media/Tracking.h"

#include <gtest/gtest.h>

#include <limits>
#include <ostream>
#include <optional>

void PrintTo(const VRect& r, std::ostream* os)
{
    *os << "(" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << ")";
}

namespace {

const VRect kScreen{0, 0, 1024, 768};
const VRect kArea{100, 100, 420, 340};  // inset 23 at pan margin 80, inner (123, 123, 397, 317)
constexpr int32_t kMax = std::numeric_limits<int32_t>::max();

struct InsetCase {
    const char* name;
    VRect area;
    int32_t mode;
    int32_t margin;
    int32_t inset;
};

const InsetCase kInsets[] = {
    {"worked example", kArea, kSmoothPan, 80, 23},
    {"follow cursor", kArea, kFollowCursor, 80, 23},
    {"follow frame", kArea, kFollowFrame, 80, 23},
    {"margin 100 leaves one pixel", kArea, kSmoothPan, 100, 1},
    {"margin 0 on 640x480", {0, 0, 640, 480}, kSmoothPan, 0, 239},
    {"fixed area has none", kArea, kFixedArea, 80, 0},
    {"follow windows has none", kArea, kFollowWindows, 80, 0},
    {"unknown mode has none", kArea, 9, 80, 0},
    {"margin below 0 taken as 0", {0, 0, 640, 480}, kSmoothPan, -5, 239},
    {"margin above 100 taken as 100", kArea, kSmoothPan, 150, 1},
    {"huge area does not wrap", {0, 0, 100000, 100000}, kSmoothPan, 0, 49896},
    {"inverted area gives the minimum", {100, 100, 50, 50}, kSmoothPan, 0, 1},
};

TEST(Tracking, PanInset)
{
    for (const InsetCase& c : kInsets)
        EXPECT_EQ(PanInset(c.area, c.mode, c.margin), c.inset) << c.name;
    EXPECT_EQ(InnerRect(kArea, 23), (VRect{123, 123, 397, 317}));
    EXPECT_EQ(InnerRect(kArea, 0), VRect{});
}

struct MoveCase {
    const char* name;
    int32_t mode;
    VRect area;
    VPoint cursor;
    VRect expected;
    int32_t margin = 80;
};

const MoveCase kMoves[] = {
    // Smooth Pan
    {"smooth: inside inner", kSmoothPan, kArea, {200, 200}, kArea},
    {"smooth: band right", kSmoothPan, kArea, {410, 200}, {113, 100, 433, 340}},
    {"smooth: beyond right", kSmoothPan, kArea, {500, 200}, {180, 100, 500, 340}},
    {"smooth: beyond left", kSmoothPan, kArea, {50, 200}, {50, 100, 370, 340}},
    {"smooth: beyond top", kSmoothPan, kArea, {200, 60}, {100, 60, 420, 300}},
    {"smooth: beyond bottom", kSmoothPan, kArea, {200, 400}, {100, 160, 420, 400}},
    {"smooth: on inner right edge", kSmoothPan, kArea, {397, 200}, kArea},
    {"smooth: on inner bottom edge", kSmoothPan, kArea, {200, 317}, kArea},
    {"smooth: on inner left edge is inside", kSmoothPan, kArea, {123, 200}, kArea},
    // Follow Cursor
    {"cursor: band right steps the inset", kFollowCursor, kArea, {410, 200}, {123, 100, 443, 340}},
    {"cursor: band left steps the inset", kFollowCursor, kArea, {110, 200}, {77, 100, 397, 340}},
    {"cursor: beyond right", kFollowCursor, kArea, {500, 200}, {226, 100, 546, 340}},
    {"cursor: beyond left", kFollowCursor, kArea, {50, 200}, {4, 100, 324, 340}},
    {"cursor: beyond top", kFollowCursor, kArea, {200, 50}, {100, 4, 420, 244}},
    {"cursor: beyond bottom", kFollowCursor, kArea, {200, 400}, {100, 206, 420, 446}},
    {"cursor: on inner right edge", kFollowCursor, kArea, {397, 200}, kArea},
    // Follow Frame
    {"frame: inside the band", kFollowFrame, kArea, {410, 200}, kArea},
    {"frame: beyond right", kFollowFrame, kArea, {430, 200}, {133, 100, 453, 340}},
    {"frame: beyond right, low", kFollowFrame, kArea, {430, 330}, {156, 123, 476, 363}},
    {"frame: beyond right and bottom", kFollowFrame, kArea, {500, 400}, {226, 206, 546, 446}},
    {"frame: beyond left", kFollowFrame, kArea, {90, 200}, {67, 100, 387, 340}},
    {"frame: on the outer right edge", kFollowFrame, kArea, {420, 200}, kArea},
    // Centre limit: area (100, 100, 140, 140), margin 0: inset 19, inner (119, 119, 121, 121), centre (120, 120)
    {"centre: step cut to the cursor", kFollowCursor, {100, 100, 140, 140}, {122, 120}, {102, 100, 142, 140}, 0},
    {"centre: step cut, leftwards", kFollowCursor, {100, 100, 140, 140}, {117, 120}, {97, 100, 137, 140}, 0},
    {"centre: smooth pan cut", kSmoothPan, {100, 100, 140, 140}, {122, 120}, {101, 100, 141, 140}, 0},
    // Clamp at each screen edge
    {"clamp: right edge", kFollowCursor, {700, 100, 1020, 340}, {1023, 200}, {704, 100, 1024, 340}},
    {"clamp: left edge", kFollowCursor, {10, 100, 330, 340}, {0, 200}, {0, 100, 320, 340}},
    {"clamp: top edge", kFollowCursor, {100, 10, 420, 250}, {200, 0}, {100, 0, 420, 240}},
    {"clamp: bottom edge", kFollowCursor, {100, 500, 420, 740}, {200, 767}, {100, 528, 420, 768}},
    {"clamp: a no-move still clamps", kSmoothPan, {900, 100, 1220, 340}, {1197, 200}, {704, 100, 1024, 340}},
    // Fixed Area and unknown modes never move nor clamp
    {"fixed: partly off the screen", kFixedArea, {900, 700, 1220, 940}, {0, 0}, {900, 700, 1220, 940}},
    {"unknown mode", 7, {900, 700, 1220, 940}, {0, 0}, {900, 700, 1220, 940}},
    // Pan margins
    {"margin 100: on the one-pixel band edge", kSmoothPan, kArea, {419, 200}, kArea, 100},
    {"margin 100: just outside", kSmoothPan, kArea, {420, 200}, {101, 100, 421, 340}, 100},
    {"margin 0: step cut at the centre", kFollowCursor, kArea, {310, 220}, {150, 100, 470, 340}, 0},
};

TEST(Tracking, CursorModes)
{
    for (const MoveCase& c : kMoves) {
        TrackingInput in;
        in.capture = c.area;
        in.screen = kScreen;
        in.cursor = c.cursor;
        in.mode = c.mode;
        in.panMargin = c.margin;
        const TrackingResult r = TrackArea(in);
        EXPECT_EQ(r.capture, c.expected) << c.name;
        const int32_t inset = PanInset(r.capture, c.mode, c.margin);
        EXPECT_EQ(r.inner, InnerRect(r.capture, inset)) << c.name;
    }
}

struct WindowCase {
    const char* name;
    VRect area;
    std::optional<VPoint> window;
    VRect expected;
};

const WindowCase kWindows[] = {
    {"jumps to the window", kArea, VPoint{300, 50}, {300, 50, 620, 290}},
    {"clamped at the bottom right", kArea, VPoint{900, 600}, {704, 528, 1024, 768}},
    {"minimised window far off", kArea, VPoint{-32000, -32000}, {0, 0, 320, 240}},
    {"no window stays", kArea, std::nullopt, kArea},
    {"same corner neither moves nor clamps", {900, 700, 1220, 940}, VPoint{900, 700}, {900, 700, 1220, 940}},
};

TEST(Tracking, FollowWindows)
{
    for (const WindowCase& c : kWindows) {
        TrackingInput in;
        in.capture = c.area;
        in.screen = kScreen;
        in.cursor = {500, 500};
        in.mode = kFollowWindows;
        in.panMargin = 80;
        in.foregroundTopLeft = c.window;
        const TrackingResult r = TrackArea(in);
        EXPECT_EQ(r.capture, c.expected) << c.name;
        EXPECT_EQ(r.inner, VRect{}) << c.name;
    }
}

struct ClampCase {
    const char* name;
    VRect area;
    VRect expected;
};

const ClampCase kClamps[] = {
    {"wider and higher than the screen", {-50, -50, 2000, 100}, {0, 0, 1024, 150}},
    {"raised to the minimum size", {10, 10, 15, 15}, {10, 10, 26, 26}},
    {"near the largest coordinate", {kMax - 100, kMax - 100, kMax, kMax}, {924, 668, 1024, 768}},
    {"inside stays", kArea, kArea},
};

TEST(Tracking, Clamp)
{
    for (const ClampCase& c : kClamps)
        EXPECT_EQ(ClampToScreen(c.area, kScreen, 16, 16), c.expected) << c.name;
}

TEST(Tracking, HugeMovesDoNotWrap)
{
    TrackingInput in;
    in.capture = {0, 0, 640, 480};
    in.screen = {0, 0, kMax, kMax};
    in.cursor = {kMax - 1, kMax - 1};
    in.mode = kFollowCursor;
    const TrackingResult r = TrackArea(in);
    EXPECT_EQ(r.capture.Width(), 640);
    EXPECT_EQ(r.capture.Height(), 480);
    EXPECT_GT(r.capture.left, 0);
    EXPECT_LE(r.capture.right, kMax);
}

}  // namespace
