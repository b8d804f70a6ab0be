// Key plates as pure drawing over frame buffers of every depth: the plate, its edge and its text
// where they should be and in their colours, the fade, the frame's edges, the row's layout.

#include "media/KeyOverlay.h"
#include "tests/media/OverlayCanvas.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

using namespace key_overlay;
using namespace overlay_test;

constexpr int32_t kDepths[] = {8, 16, 24, 32};

uint8_t Mix(uint8_t under, uint8_t over, uint8_t opacity)
{
    return uint8_t(std::lround((under * (255.0 - opacity) + over * double(opacity)) / 255.0));
}

// What a pixel of `colour` at `opacity` over the grey background looks like at this depth; at
// 8 bits the nearest table entry, since plates there are opaque.
OverlayColour Expected(Canvas& c, OverlayColour colour, uint8_t opacity)
{
    if (c.bpp == 8) {
        const VRgbQuad& q = c.palette[NearestColourIndex(c.palette.data(), uint32_t(c.palette.size()), colour)];
        return {q.rgbRed, q.rgbGreen, q.rgbBlue};
    }
    const OverlayColour g = c.background;
    return {Mix(g.red, colour.red, opacity), Mix(g.green, colour.green, opacity), Mix(g.blue, colour.blue, opacity)};
}

bool Near(OverlayColour a, OverlayColour b, int slack)
{
    return std::abs(a.red - b.red) <= slack && std::abs(a.green - b.green) <= slack && std::abs(a.blue - b.blue) <= slack;
}

TEST(KeyOverlayTest, PlateEdgeAndTextWhereAndAsTheyShouldBe)
{
    const PlateBox box{40, 30, 120, 40};
    std::vector<uint8_t> ink(10 * 6, 255);  // a solid block of text, centred in the plate
    const TextMask text{ink.data(), 10, 6};
    for (int32_t bpp : kDepths) {
        SCOPED_TRACE(bpp);
        const int slack = bpp == 16 ? 8 : 1;
        for (uint8_t fade : {uint8_t{255}, uint8_t{128}}) {
            SCOPED_TRACE(int(fade));
            Canvas c(200, 100, bpp);
            DrawPlate(c.View(), box, text, fade, 96);
            const uint8_t bodyAlpha = uint8_t((kPlateOpacity * fade + 127) / 255);
            const uint8_t edgeAlpha = uint8_t((kEdgeOpacity * fade + 127) / 255);
            if (bpp != 8 || fade == 255) {
                EXPECT_TRUE(Near(c.Get(60, 50), Expected(c, kPlateColour, bodyAlpha), slack)) << "body";
                EXPECT_TRUE(Near(c.Get(100, 30), Expected(c, kEdgeColour, edgeAlpha), slack)) << "top edge";
                EXPECT_TRUE(Near(c.Get(40, 50), Expected(c, kEdgeColour, edgeAlpha), slack)) << "left edge";
                EXPECT_TRUE(Near(c.Get(159, 50), Expected(c, kEdgeColour, edgeAlpha), slack)) << "right edge";
                // Text goes over the body.
                const OverlayColour body = c.Get(60, 50);
                const OverlayColour over = {Mix(body.red, 255, fade), Mix(body.green, 255, fade), Mix(body.blue, 255, fade)};
                EXPECT_TRUE(Near(c.Get(100, 50), bpp == 8 ? Expected(c, kTextColour, fade) : over, slack)) << "text";
            } else {
                int painted = 0;  // dithered by the fade: about half the body
                for (int y = 40; y < 60; ++y)
                    for (int x = 60; x < 80; ++x)
                        painted += c.Untouched(x, y) ? 0 : 1;
                EXPECT_NEAR(painted, 200, 40);
            }
            // Rounded corners, and nothing outside the plate.
            EXPECT_TRUE(c.Untouched(40, 30)) << "corner";
            EXPECT_TRUE(c.Untouched(159, 69)) << "corner";
            for (auto [x, y] : {std::pair{39, 50}, {160, 50}, {100, 29}, {100, 70}})
                EXPECT_TRUE(c.Untouched(x, y)) << x << "," << y;
            EXPECT_TRUE(c.GuardIntact());
        }
    }
}

TEST(KeyOverlayTest, ClippedAtEveryEdgeAndGoneWhenFaded)
{
    std::vector<uint8_t> ink(300 * 20, 200);
    const TextMask text{ink.data(), 300, 20};
    const struct {
        const char* what;
        PlateBox box;
        int x, y;  // a pixel of the plate inside the frame, or -1
    } cases[] = {
        {"left", {-60, 30, 120, 40}, 0, 50},     {"right", {140, 30, 120, 40}, 199, 50},
        {"top", {40, -20, 120, 40}, 100, 0},     {"bottom", {40, 80, 120, 40}, 100, 99},
        {"all round", {-50, -50, 300, 200}, 100, 50}, {"outside", {500, 500, 100, 40}, -1, -1},
        {"far outside", {-(int64_t(1) << 40), 10, 100, 40}, -1, -1},
    };
    for (int32_t bpp : kDepths) {
        for (const auto& k : cases) {
            SCOPED_TRACE(std::to_string(bpp) + " " + k.what);
            Canvas c(200, 100, bpp);
            DrawPlate(c.View(), k.box, text, 255, 96);
            EXPECT_TRUE(c.GuardIntact());
            if (k.x >= 0) {
                EXPECT_FALSE(c.Untouched(k.x, k.y));
            }
            Canvas faded(200, 100, bpp);
            DrawPlate(faded.View(), k.box, text, 0, 96);
            for (int y = 0; y < 100; ++y)
                for (int x = 0; x < 200; ++x)
                    ASSERT_TRUE(faded.Untouched(x, y)) << x << "," << y;
        }
    }
}

TEST(KeyOverlayTest, RowCentredNearTheBottomAndScaledByDpi)
{
    const int32_t widths[] = {50, 80, 30};
    for (int dpi : {96, 144, 192}) {
        SCOPED_TRACE(dpi);
        const double s = dpi / 96.0;
        PlateBox b[3];
        LayoutPlates(1024, 768, widths, 3, dpi, b);
        EXPECT_EQ(b[0].height, std::lround(kTextHeight * s) + 2 * std::lround(kPadY * s));
        EXPECT_EQ(b[0].top + b[0].height, 768 - std::lround(kBottom * s));
        EXPECT_NEAR((b[0].left + b[2].left + b[2].width) / 2.0, 512, 1);
        EXPECT_EQ(b[1].width, 80 + 2 * std::lround(kPadX * s));
        EXPECT_EQ(b[1].left, b[0].left + b[0].width + std::lround(kGap * s));
    }
}

}  // namespace
