#pragma once
// A frame buffer of any depth for the drawing tests of the marks drawn into frames: filled with
// one colour, read and written pixel by pixel as colours, with guard bytes after it.

#include "media/ClickOverlay.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace overlay_test {

constexpr OverlayColour kGrey{128, 128, 128};
constexpr uint8_t kGuard = 0xA5;
constexpr size_t kGuardBytes = 64;

// A 216-entry colour cube, a grey ramp and two exact entries a ring may want; the first entry
// is the background.
inline std::vector<VRgbQuad> TestPalette()
{
    std::vector<VRgbQuad> p;
    p.push_back(VRgbQuad{128, 128, 128, 0});
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b)
                p.push_back(VRgbQuad{uint8_t(b * 51), uint8_t(g * 51), uint8_t(r * 51), 0});
    for (int i = 0; p.size() < 256; ++i)
        p.push_back(VRgbQuad{uint8_t(i * 7), uint8_t(i * 7), uint8_t(i * 7), 0});
    return p;
}

// A frame of one depth filled with one colour, with guard bytes after its buffer.
struct Canvas {
    Canvas(int32_t w, int32_t h, int32_t bits, OverlayColour fill = kGrey) : width(w), height(h), bpp(bits)
    {
        stride = size_t(DibStride(w, bits));
        bytes.assign(stride * size_t(h) + kGuardBytes, kGuard);
        palette = TestPalette();
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                Set(x, y, fill);
        background = Get(0, 0);
    }

    // The fill colour as the frame holds it (16 bits keep 5 bits a channel).
    bool Untouched(int32_t x, int32_t y) { return Get(x, y) == background; }

    FrameView View()
    {
        FrameView v;
        v.bits = bytes.data();
        v.width = width;
        v.height = height;
        v.bitsPerPixel = bpp;
        v.colours = palette.data();
        v.colourCount = uint32_t(palette.size());
        return v;
    }

    uint8_t* At(int32_t x, int32_t y) { return &bytes[stride * size_t(height - 1 - y) + size_t(x) * size_t(bpp / 8)]; }

    void Set(int32_t x, int32_t y, OverlayColour c)
    {
        uint8_t* p = At(x, y);
        switch (bpp) {
        case 8:
            *p = c == kGrey ? 0 : NearestColourIndex(palette.data(), uint32_t(palette.size()), c);
            break;
        case 16: {
            const unsigned w = unsigned(c.red >> 3) << 10 | unsigned(c.green >> 3) << 5 | unsigned(c.blue >> 3);
            p[0] = uint8_t(w);
            p[1] = uint8_t(w >> 8);
            break;
        }
        default:
            p[0] = c.blue;
            p[1] = c.green;
            p[2] = c.red;
            if (bpp == 32)
                p[3] = 0x5A;  // the unused byte must survive
        }
    }

    OverlayColour Get(int32_t x, int32_t y)
    {
        const uint8_t* p = At(x, y);
        switch (bpp) {
        case 8: {
            const VRgbQuad& q = palette[*p];
            return {q.rgbRed, q.rgbGreen, q.rgbBlue};
        }
        case 16: {
            const unsigned w = unsigned(p[0]) | unsigned(p[1]) << 8;
            auto widen = [](unsigned v) { return uint8_t(v << 3 | v >> 2); };
            return {widen(w >> 10 & 31), widen(w >> 5 & 31), widen(w & 31)};
        }
        default:
            return {p[2], p[1], p[0]};
        }
    }

    bool GuardIntact() const
    {
        for (size_t i = stride * size_t(height); i < bytes.size(); ++i)
            if (bytes[i] != kGuard)
                return false;
        return true;
    }

    int32_t width;
    int32_t height;
    int32_t bpp;
    size_t stride;
    std::vector<uint8_t> bytes;
    std::vector<VRgbQuad> palette;
    OverlayColour background;
};

}  // namespace overlay_test
