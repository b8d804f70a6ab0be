// The click rings and the cursor halo as pure drawing over frame buffers of every depth: where
// the pixels go, how strong they are, what the edges of the frame cut off, and which colour-table
// entries an 8-bit frame gets. The oracle classifies each pixel by its distance from the centre,
// independently of the row-by-row runs the drawing uses.

#include "media/ClickOverlay.h"
#include "tests/media/OverlayCanvas.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace click_overlay;
using namespace overlay_test;

double Distance(int64_t x, int64_t y, int64_t cx, int64_t cy)
{
    return std::sqrt(double(x - cx) * double(x - cx) + double(y - cy) * double(y - cy));
}

// What the oracle expects of one pixel of a ring: its band, or none.
enum class Band { None, Outline, Bright };

Band RingBand(const RingShape& s, double d)
{
    const double inner = std::max(s.radius - s.width / 2, 0.0);
    const double outer = s.radius + s.width / 2;
    if (d >= inner && d < outer)
        return Band::Bright;
    if ((d >= std::max(inner - s.outline, 0.0) && d < inner) || (d >= outer && d < outer + s.outline))
        return Band::Outline;
    return Band::None;
}

uint8_t Mix(uint8_t under, uint8_t over, uint8_t opacity)
{
    return uint8_t(std::lround((under * (255.0 - opacity) + over * double(opacity)) / 255.0));
}

OverlayColour Mix(OverlayColour under, OverlayColour over, uint8_t opacity)
{
    return {Mix(under.red, over.red, opacity), Mix(under.green, over.green, opacity), Mix(under.blue, over.blue, opacity)};
}

// Each channel within `slack`.
bool Near(OverlayColour a, OverlayColour b, int slack)
{
    return std::abs(a.red - b.red) <= slack && std::abs(a.green - b.green) <= slack && std::abs(a.blue - b.blue) <= slack;
}

// 16-bit frames keep 5 bits a channel.
int SlackOf(int bpp)
{
    return bpp == 16 ? 9 : 1;
}

struct RingCount {
    int bad = 0;        // pixels the oracle does not allow
    int bright = 0;     // pixels of the bright band, and how many of them got the ring's colour
    int brightHit = 0;
    int outline = 0;
    int outlineHit = 0;
};

// Checks every pixel of a canvas with one ring of shape `s` (and nothing else) drawn on grey.
RingCount CheckRing(Canvas& c, int64_t cx, int64_t cy, ClickButton button, const RingShape& s)
{
    const OverlayColour ring = RingColour(button);
    RingCount n;
    const uint8_t ringIndex = NearestColourIndex(c.palette.data(), 256, ring);
    const uint8_t outlineIndex = NearestColourIndex(c.palette.data(), 256, kOutlineColour);
    for (int32_t y = 0; y < c.height; ++y) {
        for (int32_t x = 0; x < c.width; ++x) {
            const Band band = s.opacity ? RingBand(s, Distance(x, y, cx, cy)) : Band::None;
            const OverlayColour want = band == Band::Bright ? ring : kOutlineColour;
            if (c.bpp == 8) {
                // No blending: the background, or the nearest entry to the band's colour.
                const uint8_t index = *c.At(x, y);
                const bool hit = band != Band::None && index == (band == Band::Bright ? ringIndex : outlineIndex);
                n.bad += !(index == 0 || hit);
                (band == Band::Bright ? n.brightHit : n.outlineHit) += hit;
            } else {
                const OverlayColour got = c.Get(x, y);
                const OverlayColour expected = band == Band::None ? kGrey : Mix(kGrey, want, s.opacity);
                const bool ok = Near(got, expected, SlackOf(c.bpp));
                n.bad += !ok;
                if (band == Band::Bright)
                    n.brightHit += ok;
                if (band == Band::Outline)
                    n.outlineHit += ok;
                if (c.bpp == 32)
                    n.bad += c.At(x, y)[3] != 0x5A;
            }
            n.bright += band == Band::Bright;
            n.outline += band == Band::Outline;
        }
    }
    return n;
}

const int kDepths[] = {8, 16, 24, 32};

// ---- the ring over time --------------------------------------------------------------------

struct AgeCase {
    uint32_t age;
    double radius;    // at 96 DPI
    uint8_t opacity;
};
const AgeCase kAges[] = {{0, 8, 255}, {200, 18, 128}, {400, 28, 0}, {100000, 28, 0}};

// The shape a ring must have, from the table rather than from RingShapeAt.
RingShape Expected(const AgeCase& a, int dpi)
{
    const double s = dpi / 96.0;
    return RingShape{a.radius * s, kRingWidth * s, kOutlineWidth * s, a.opacity};
}

TEST(RingShape, GrowsAndFadesOverItsAnimation)
{
    for (const AgeCase& a : kAges) {
        SCOPED_TRACE("age " + std::to_string(a.age));
        for (int dpi : {96, 144, 192}) {
            const RingShape s = RingShapeAt(a.age, dpi);
            EXPECT_DOUBLE_EQ(s.radius, a.radius * dpi / 96) << dpi;
            EXPECT_DOUBLE_EQ(s.width, kRingWidth * dpi / 96) << dpi;
            EXPECT_EQ(s.opacity, a.opacity) << dpi;
        }
    }
    // Strictly growing and fading in between.
    for (uint32_t t = 1; t < kRingMs; ++t) {
        EXPECT_GT(RingShapeAt(t, 96).radius, RingShapeAt(t - 1, 96).radius) << t;
        EXPECT_LE(RingShapeAt(t, 96).opacity, RingShapeAt(t - 1, 96).opacity) << t;
    }
}

TEST(RingShape, UnusableDpiFallsBackOrIsClamped)
{
    const struct {
        int dpi;
        int used;
    } cases[] = {{0, 96}, {-120, 96}, {1, kMinDpi}, {kMinDpi, kMinDpi}, {120, 120}, {100000, kMaxDpi}};
    for (const auto& c : cases) {
        EXPECT_EQ(OverlayDpi(c.dpi), c.used) << c.dpi;
        EXPECT_DOUBLE_EQ(RingShapeAt(0, c.dpi).radius, RingShapeAt(0, c.used).radius) << c.dpi;
    }
}

TEST(RingPixels, PositionRadiusAndOpacityAtEveryDepth)
{
    for (int bpp : kDepths) {
        for (const AgeCase& a : kAges) {
            for (int dpi : {96, 192}) {
                SCOPED_TRACE(std::to_string(bpp) + " bits, age " + std::to_string(a.age) + ", dpi " + std::to_string(dpi));
                Canvas c(161, 131, bpp);  // odd width: padded rows
                DrawRing(c.View(), 80, 62, ClickButton::Left, a.age, dpi);
                const RingCount n = CheckRing(c, 80, 62, ClickButton::Left, Expected(a, dpi));
                EXPECT_EQ(n.bad, 0);
                EXPECT_TRUE(c.GuardIntact());
                if (a.opacity == 0) {
                    EXPECT_EQ(n.brightHit + n.outlineHit, 0);
                    continue;
                }
                ASSERT_GT(n.bright, 0);
                ASSERT_GT(n.outline, 0);
                if (bpp == 8) {
                    // Dithered: the share of pixels covered follows the opacity.
                    const double want = a.opacity / 256.0;
                    EXPECT_NEAR(double(n.brightHit) / n.bright, want, 0.08);
                    EXPECT_NEAR(double(n.outlineHit) / n.outline, want, 0.12);
                } else {
                    EXPECT_EQ(n.brightHit, n.bright);
                    EXPECT_EQ(n.outlineHit, n.outline);
                }
            }
        }
    }
}

TEST(RingPixels, EachButtonHasItsColourAndADarkOutline)
{
    const ClickButton buttons[] = {ClickButton::Left, ClickButton::Right, ClickButton::Middle};
    for (ClickButton b : buttons) {
        Canvas c(80, 80, 24);
        DrawRing(c.View(), 40, 40, b, 0, 96);
        EXPECT_EQ(CheckRing(c, 40, 40, b, Expected(kAges[0], 96)).bad, 0);
        // Straight right of the centre: outline, bright band, outline, background.
        EXPECT_EQ(c.Get(40 + 5, 40), kOutlineColour);
        EXPECT_EQ(c.Get(40 + 8, 40), RingColour(b));
        EXPECT_EQ(c.Get(40 + 10, 40), kOutlineColour);
        EXPECT_EQ(c.Get(40 + 12, 40), kGrey);
        EXPECT_EQ(c.Get(40, 40), kGrey) << "the press point itself stays visible";
    }
    // Bright on dark content, dark edge on bright content: each colour stands apart from both.
    for (ClickButton b : buttons) {
        const OverlayColour r = RingColour(b);
        EXPECT_GT(std::max({r.red, r.green, r.blue}), 200);
    }
}

TEST(RingPixels, DoubleClickShowsTwoRings)
{
    Canvas c(100, 100, 24);
    DrawRing(c.View(), 50, 50, ClickButton::Left, 250, 96);  // first press
    DrawRing(c.View(), 50, 50, ClickButton::Left, 50, 96);   // second press
    const double older = RingShapeAt(250, 96).radius;
    const double newer = RingShapeAt(50, 96).radius;
    EXPECT_NE(c.Get(50 + int(std::lround(older)), 50), kGrey);
    EXPECT_NE(c.Get(50 + int(std::lround(newer)), 50), kGrey);
    EXPECT_EQ(c.Get(50 + int(std::lround((older + newer) / 2)), 50), kGrey) << "two rings, not one thick one";
}

// ---- the edges of the frame ----------------------------------------------------------------

struct EdgeCase {
    const char* name;
    int64_t x;
    int64_t y;
};

// A 37 x 29 frame; the ring at age 200 reaches about 22 pixels from its centre.
const EdgeCase kEdges[] = {
    {"left edge", 0, 14},       {"right edge", 36, 14},      {"top edge", 18, 0},        {"bottom edge", 18, 28},
    {"top-left", 0, 0},         {"top-right", 36, 0},        {"bottom-left", 0, 28},     {"bottom-right", 36, 28},
    {"outside left", -15, 14},  {"outside right", 50, 14},   {"outside top", 18, -12},   {"outside bottom", 18, 44},
    {"outside corner", -14, -14}, {"far outside corner", 53, 48}, {"centre", 18, 14},
    {"just out of reach", -23, 14}, {"far away", -100000, 5}, {"beyond 32 bits", int64_t(1) << 40, -(int64_t(1) << 40)},
};

TEST(RingClipping, EveryEdgeAndCornerCutsExactlyWhatLiesOutside)
{
    // Oracle: the same ring on a frame with a wide margin, cut back to the small frame. The
    // margin is a multiple of 4, so 8-bit dithering keeps its phase.
    constexpr int32_t kMargin = 64;
    for (int bpp : kDepths) {
        for (const EdgeCase& e : kEdges) {
            SCOPED_TRACE(std::to_string(bpp) + " bits, " + e.name);
            Canvas small(37, 29, bpp);
            DrawRing(small.View(), e.x, e.y, ClickButton::Right, 200, 96);
            EXPECT_TRUE(small.GuardIntact());
            // Row padding stays as it was.
            const size_t used = size_t(37 * bpp / 8);
            for (int32_t y = 0; y < 29; ++y)
                for (size_t i = used; i < small.stride; ++i)
                    EXPECT_EQ(small.bytes[small.stride * size_t(y) + i], kGuard);

            const bool representable = std::llabs(e.x) < 1000 && std::llabs(e.y) < 1000;
            if (!representable) {
                EXPECT_EQ(small.bytes, Canvas(37, 29, bpp).bytes) << "nothing drawn";
                continue;
            }
            Canvas big(37 + 2 * kMargin, 29 + 2 * kMargin, bpp);
            DrawRing(big.View(), e.x + kMargin, e.y + kMargin, ClickButton::Right, 200, 96);
            const RingShape shape = RingShapeAt(200, 96);
            int bad = 0;
            int drawn = 0;
            int reached = 0;  // pixels of the frame inside one of the ring's bands
            for (int32_t y = 0; y < 29; ++y) {
                for (int32_t x = 0; x < 37; ++x) {
                    bad += std::memcmp(small.At(x, y), big.At(x + kMargin, y + kMargin), size_t(bpp / 8)) != 0;
                    drawn += !small.Untouched(x, y);
                    reached += RingBand(shape, Distance(x, y, e.x, e.y)) != Band::None;
                }
            }
            EXPECT_EQ(bad, 0);
            // A press outside whose ring reaches into the frame shows that part, and only that.
            if (reached == 0) {
                EXPECT_EQ(drawn, 0);
            } else if (bpp != 8 || reached > 16) {
                EXPECT_GT(drawn, 0);
            }
        }
    }
}

TEST(RingClipping, APressOutsideTheAreaShowsTheArcThatReachesIn)
{
    // 20 pixels left of the frame: the arc of the bright band crosses the first columns.
    Canvas c(60, 60, 24);
    DrawRing(c.View(), -20, 30, ClickButton::Left, 200, 96);
    EXPECT_EQ(CheckRing(c, -20, 30, ClickButton::Left, Expected(kAges[1], 96)).bad, 0);
    int leftColumn = 0;
    for (int32_t y = 0; y < 60; ++y)
        leftColumn += c.Get(0, y) != kGrey;
    EXPECT_GT(leftColumn, 0);
    for (int32_t y = 0; y < 60; ++y)
        EXPECT_EQ(c.Get(5, y), kGrey) << y;  // beyond the ring's reach
}

// ---- 8-bit frames ---------------------------------------------------------------------------

TEST(PaletteFrames, NearestEntryByDistanceLowestIndexOnATie)
{
    std::vector<VRgbQuad> table = {{0, 0, 0, 0}, {0, 0, 250, 0}, {0, 0, 255, 0}, {0, 0, 255, 0}, {10, 240, 250, 0}};
    const struct {
        OverlayColour colour;
        uint8_t index;
    } cases[] = {
        {{255, 0, 0}, 2},       // exact, and the first of two equal entries
        {{252, 0, 0}, 1},       // 2 away from 250, 3 from 255
        {{0, 0, 0}, 0},
        {{255, 230, 0}, 4},     // yellow goes to the yellowish entry, not to red
        {{100, 100, 100}, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NearestColourIndex(table.data(), uint32_t(table.size()), c.colour), c.index);
    EXPECT_EQ(NearestColourIndex(table.data(), 1, {255, 0, 0}), 0) << "only the entries the count names";
    EXPECT_EQ(NearestColourIndex(nullptr, 256, {255, 0, 0}), 0);
}

TEST(PaletteFrames, RingUsesOnlyTheNearestEntriesAndNeverBlends)
{
    Canvas c(90, 90, 8);
    DrawRing(c.View(), 45, 45, ClickButton::Middle, 0, 96);
    DrawRing(c.View(), 30, 30, ClickButton::Left, 120, 96);
    const uint8_t allowed[] = {0, NearestColourIndex(c.palette.data(), 256, RingColour(ClickButton::Middle)),
                               NearestColourIndex(c.palette.data(), 256, RingColour(ClickButton::Left)),
                               NearestColourIndex(c.palette.data(), 256, kOutlineColour)};
    std::set<uint8_t> seen;
    for (int32_t y = 0; y < 90; ++y)
        for (int32_t x = 0; x < 90; ++x)
            seen.insert(*c.At(x, y));
    for (uint8_t i : seen)
        EXPECT_NE(std::find(std::begin(allowed), std::end(allowed), i), std::end(allowed)) << int(i);
    EXPECT_EQ(seen.size(), 4u);
    // The middle button's blue (40, 110, 255) takes the cube's (51, 102, 255).
    EXPECT_EQ(c.palette[allowed[1]].rgbRed, 51);
    EXPECT_EQ(c.palette[allowed[1]].rgbGreen, 102);
    EXPECT_EQ(c.palette[allowed[1]].rgbBlue, 255);
}

TEST(PaletteFrames, FrameWithoutATableIsLeftAlone)
{
    Canvas c(40, 40, 8);
    const std::vector<uint8_t> before = c.bytes;
    FrameView v = c.View();
    v.colours = nullptr;
    DrawRing(v, 20, 20, ClickButton::Left, 0, 96);
    v.colours = c.palette.data();
    v.colourCount = 0;
    DrawHalo(v, 20, 20, 96);
    v.colourCount = 257;
    DrawHalo(v, 20, 20, 96);
    EXPECT_EQ(c.bytes, before);
}

// ---- the halo -------------------------------------------------------------------------------

TEST(Halo, TranslucentDiscUnderThePointAtEveryDepth)
{
    for (int bpp : kDepths) {
        for (int dpi : {96, 144}) {
            SCOPED_TRACE(std::to_string(bpp) + " bits, dpi " + std::to_string(dpi));
            Canvas c(71, 61, bpp);
            DrawHalo(c.View(), 30, 33, dpi);
            const double radius = HaloRadius(dpi);
            EXPECT_DOUBLE_EQ(radius, kHaloRadius * dpi / 96);
            const uint8_t yellow = NearestColourIndex(c.palette.data(), 256, kHaloColour);
            int inside = 0;
            int covered = 0;
            int bad = 0;
            for (int32_t y = 0; y < c.height; ++y) {
                for (int32_t x = 0; x < c.width; ++x) {
                    const bool in = Distance(x, y, 30, 33) < radius;
                    inside += in;
                    if (bpp == 8) {
                        const uint8_t i = *c.At(x, y);
                        covered += in && i == yellow;
                        bad += !(i == 0 || (in && i == yellow));
                    } else {
                        const OverlayColour want = in ? Mix(kGrey, kHaloColour, kHaloOpacity) : kGrey;
                        bad += !Near(c.Get(x, y), want, SlackOf(bpp));
                    }
                }
            }
            EXPECT_EQ(bad, 0);
            EXPECT_TRUE(c.GuardIntact());
            if (bpp == 8) {
                EXPECT_NEAR(double(covered) / inside, kHaloOpacity / 256.0, 0.05);
            } else {
                EXPECT_NE(c.Get(30, 33), kHaloColour) << "translucent: what lies under it shows through";
            }
        }
    }
}

TEST(Halo, ClippedAtTheEdgesLikeTheRing)
{
    for (int bpp : kDepths) {
        Canvas c(25, 25, bpp);
        DrawHalo(c.View(), -5, 24, 96);
        EXPECT_TRUE(c.GuardIntact()) << bpp;
        EXPECT_FALSE(c.Untouched(0, 24)) << bpp;
        EXPECT_TRUE(c.Untouched(24, 0)) << bpp;
    }
}

// ---- bad frames -----------------------------------------------------------------------------

TEST(BadFrames, NothingIsWrittenAndNothingCrashes)
{
    Canvas c(20, 20, 24);
    const std::vector<uint8_t> before = c.bytes;
    const struct {
        const char* what;
        void (*spoil)(FrameView&);
    } cases[] = {
        {"no bits", [](FrameView& v) { v.bits = nullptr; }},
        {"zero width", [](FrameView& v) { v.width = 0; }},
        {"negative height", [](FrameView& v) { v.height = -20; }},
        {"15 bits", [](FrameView& v) { v.bitsPerPixel = 15; }},
        {"4 bits", [](FrameView& v) { v.bitsPerPixel = 4; }},
    };
    for (const auto& k : cases) {
        FrameView v = c.View();
        k.spoil(v);
        EXPECT_FALSE(DrawableFrame(v)) << k.what;
        DrawRing(v, 10, 10, ClickButton::Left, 0, 96);
        DrawHalo(v, 10, 10, 96);
        EXPECT_EQ(c.bytes, before) << k.what;
    }
    EXPECT_TRUE(DrawableFrame(c.View()));
    // Coordinates at the ends of the range.
    DrawRing(c.View(), INT64_MAX / 4, INT64_MIN / 4, ClickButton::Left, 0, kMaxDpi);
    DrawHalo(c.View(), INT64_MIN / 4, 0, kMaxDpi);
    EXPECT_EQ(c.bytes, before);
}

}  // namespace
