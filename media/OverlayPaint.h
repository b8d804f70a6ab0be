#pragma once
// Blending one colour into the pixels of a frame of any of the four depths, shared by the marks
// drawn into frames (click rings, halo, key plates). An 8-bit frame cannot blend: it takes the
// colour-table entry nearest to the colour on a dithered share of the pixels instead.

#include "media/ClickOverlay.h"

#include <cstdint>

namespace overlay_paint {

// Ordered-dither thresholds: a mark of opacity a covers about a/256 of an 8-bit frame's pixels,
// in a fixed pattern that does not crawl from frame to frame.
inline constexpr uint8_t kBayer4[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

inline bool Covers(uint8_t opacity, int64_t x, int64_t y)
{
    return opacity > kBayer4[y & 3][x & 3] * 16 + 8;
}

inline uint8_t Blend(uint8_t under, uint8_t over, uint8_t opacity)
{
    return uint8_t((under * (255 - opacity) + over * opacity + 127) / 255);
}

inline uint8_t Widen5(unsigned v)
{
    return uint8_t(v << 3 | v >> 2);
}

}  // namespace overlay_paint

// Paints one colour over pixels of a frame the caller has checked with DrawableFrame; every
// coordinate handed in lies inside the frame.
class OverlayPainter {
public:
    OverlayPainter(const FrameView& frame, OverlayColour colour, uint8_t opacity)
        : frame(frame), colour(colour), opacity(opacity), stride(DibStride(frame.width, frame.bitsPerPixel))
    {
        if (frame.bitsPerPixel == 8)
            index = NearestColourIndex(frame.colours, frame.colourCount, colour);
    }

    // Pixels x0..x1 (inclusive) of row y (from the top) at the painter's opacity.
    void Run(int64_t y, int64_t x0, int64_t x1) const
    {
        uint8_t* row = Row(y);
        for (int64_t x = x0; x <= x1; ++x)
            Paint(row, x, y, opacity);
    }

    // One pixel at an opacity of its own.
    void Dot(int64_t y, int64_t x, uint8_t alpha) const { Paint(Row(y), x, y, alpha); }

private:
    uint8_t* Row(int64_t y) const { return frame.bits + stride * uint64_t(frame.height - 1 - y); }

    void Paint(uint8_t* row, int64_t x, int64_t y, uint8_t alpha) const
    {
        using namespace overlay_paint;
        switch (frame.bitsPerPixel) {
        case 8:
            if (Covers(alpha, x, y))
                row[x] = index;
            break;
        case 16: {
            uint8_t* p = row + x * 2;
            const unsigned w = unsigned(p[0]) | unsigned(p[1]) << 8;
            const unsigned r = Blend(Widen5(w >> 10 & 31), colour.red, alpha) >> 3;
            const unsigned g = Blend(Widen5(w >> 5 & 31), colour.green, alpha) >> 3;
            const unsigned b = Blend(Widen5(w & 31), colour.blue, alpha) >> 3;
            const unsigned out = (w & 0x8000) | r << 10 | g << 5 | b;
            p[0] = uint8_t(out);
            p[1] = uint8_t(out >> 8);
            break;
        }
        case 24:
        case 32: {
            uint8_t* p = row + x * (frame.bitsPerPixel / 8);
            p[0] = Blend(p[0], colour.blue, alpha);
            p[1] = Blend(p[1], colour.green, alpha);
            p[2] = Blend(p[2], colour.red, alpha);
            break;
        }
        }
    }

    const FrameView& frame;
    OverlayColour colour;
    uint8_t opacity;
    uint64_t stride;
    uint8_t index = 0;
};
