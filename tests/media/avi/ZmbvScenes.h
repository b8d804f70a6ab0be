#pragma once
// Frame sequences for the ZMBV tests: a still screen, a document scrolled by a fixed vector,
// a window dragged across a still desktop, random changes of every size, and 8-bit frames whose
// colour table changes mid-movie.
// Pictures are kept top-down and packed, as ZMBV stores them; ToDib makes the encoder's input.

#include "common/VRecords.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace zmbvtest {

struct Picture {
    int32_t width = 0, height = 0;
    int bits = 0;
    std::vector<uint8_t> pixels;  // top-down, rows of width * bits / 8 bytes

    size_t PixelBytes() const { return size_t(bits / 8); }
    size_t RowBytes() const { return size_t(width) * PixelBytes(); }
    const uint8_t* At(int32_t x, int32_t y) const { return &pixels[size_t(y) * RowBytes() + size_t(x) * PixelBytes()]; }
    uint8_t* At(int32_t x, int32_t y) { return &pixels[size_t(y) * RowBytes() + size_t(x) * PixelBytes()]; }
};

using Palette = std::array<VRgbQuad, 256>;

enum class Kind { Still, ScrollDown, ScrollUp, ScrollLeft, ScrollRight, MovingWindow, Random, PaletteChange };

inline const char* Name(Kind k)
{
    switch (k) {
    case Kind::Still: return "still";
    case Kind::ScrollDown: return "scroll down";
    case Kind::ScrollUp: return "scroll up";
    case Kind::ScrollLeft: return "scroll left";
    case Kind::ScrollRight: return "scroll right";
    case Kind::MovingWindow: return "moving window";
    case Kind::Random: return "random";
    case Kind::PaletteChange: return "palette change";
    }
    return "?";
}

struct Scene {
    std::vector<Picture> frames;
    std::vector<Palette> palettes;  // 8-bit: one per frame
    // Scrolls: where each block of a later frame is found in the one before (ZMBV's vector).
    int dx = 0, dy = 0;
};

// A colour in the picture's own format: an index, RGB555 or BGR0.
inline void Put(Picture& p, int32_t x, int32_t y, uint32_t colour)
{
    uint8_t* px = p.At(x, y);
    if (p.bits == 8) {
        px[0] = uint8_t(colour);
    } else if (p.bits == 16) {
        const uint16_t c = uint16_t(colour & 0x7FFF);
        px[0] = uint8_t(c);
        px[1] = uint8_t(c >> 8);
    } else {
        px[0] = uint8_t(colour);
        px[1] = uint8_t(colour >> 8);
        px[2] = uint8_t(colour >> 16);
        px[3] = 0;
    }
}

// Scatters text-like strokes with no period, so that no shift but the true one matches.
inline uint32_t Mix(int32_t x, int32_t y)
{
    uint32_t h = uint32_t(x) * 374761393u + uint32_t(y) * 668265263u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return h ^ (h >> 16);
}

// Screen-like content: a flat background, title bars, text-like strokes, photo-like noise.
inline Picture Page(int32_t width, int32_t height, int bits, std::mt19937& rng)
{
    Picture p{width, height, bits, std::vector<uint8_t>(size_t(width) * size_t(height) * size_t(bits / 8))};
    const uint32_t background = rng(), ink = rng(), bar = rng();
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            uint32_t c = background;
            if (y % 97 < 14)
                c = bar;
            else if (Mix(x, y) % 5 == 0 && y % 13 < 9 && x % 64 < 50)
                c = ink;  // "text"
            if (x % 151 > 120 && y % 89 > 60)
                c = rng();  // a picture
            Put(p, x, y, c);
        }
    return p;
}

inline Picture Crop(const Picture& from, int32_t x0, int32_t y0, int32_t width, int32_t height)
{
    Picture p{width, height, from.bits, {}};
    p.pixels.resize(p.RowBytes() * size_t(height));
    for (int32_t y = 0; y < height; ++y)
        std::memcpy(p.At(0, y), &from.pixels[size_t(y0 + y) * from.RowBytes() + size_t(x0) * from.PixelBytes()],
                    p.RowBytes());
    return p;
}

inline Palette RandomPalette(std::mt19937& rng)
{
    Palette pal;
    for (VRgbQuad& q : pal)
        q = VRgbQuad{uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), 0};
    return pal;
}

// `count` frames of `kind`; scrolls move the picture by `step` pixels a frame.
inline Scene MakeScene(Kind kind, int32_t width, int32_t height, int bits, int count, int step, uint32_t seed)
{
    std::mt19937 rng(seed);
    Scene s;
    const int32_t travel = step * (count - 1);
    const bool vertical = kind == Kind::ScrollDown || kind == Kind::ScrollUp;
    const bool horizontal = kind == Kind::ScrollLeft || kind == Kind::ScrollRight;
    const Picture page = Page(width + (horizontal ? travel : 0), height + (vertical ? travel : 0), bits, rng);
    Palette palette = RandomPalette(rng);
    const Picture window =
        kind == Kind::MovingWindow ? Page(std::max(1, width / 3), std::max(1, height / 3), bits, rng) : Picture{};
    for (int i = 0; i < count; ++i) {
        switch (kind) {
        case Kind::ScrollUp:  // the view moves down the page: content goes up
            s.frames.push_back(Crop(page, 0, step * i, width, height));
            s.dy = step;
            break;
        case Kind::ScrollDown:
            s.frames.push_back(Crop(page, 0, travel - step * i, width, height));
            s.dy = -step;
            break;
        case Kind::ScrollLeft:
            s.frames.push_back(Crop(page, step * i, 0, width, height));
            s.dx = step;
            break;
        case Kind::ScrollRight:
            s.frames.push_back(Crop(page, travel - step * i, 0, width, height));
            s.dx = -step;
            break;
        case Kind::Still:
            s.frames.push_back(page);
            break;
        case Kind::MovingWindow: {
            // A third of the picture, dragged right and up by (step, step / 2) a frame and
            // clipped at the edges.
            Picture p = page;
            const int32_t left = width / 8 + step * i, top = height / 2 - step * i / 2;
            for (int32_t y = 0; y < window.height; ++y)
                for (int32_t x = 0; x < window.width; ++x)
                    if (left + x < width && top + y >= 0 && top + y < height)
                        std::memcpy(p.At(left + x, top + y), window.At(x, y), p.PixelBytes());
            s.frames.push_back(std::move(p));
            break;
        }
        case Kind::Random:
        case Kind::PaletteChange: {
            Picture p = i == 0 ? page : s.frames.back();
            // Rectangles of every size: single pixels, slivers, blocks, most of the picture.
            const int rects = kind == Kind::Random ? 1 + int(rng() % 6) : 1;
            for (int r = 0; r < rects && i > 0; ++r) {
                const int32_t w = 1 + int32_t(rng() % uint32_t(r == 0 ? width : std::max(1, width / 4)));
                const int32_t h = 1 + int32_t(rng() % uint32_t(r == 0 ? std::max(1, height / 8) : std::max(1, height / 3)));
                const int32_t x0 = int32_t(rng() % uint32_t(width - w + 1)), y0 = int32_t(rng() % uint32_t(height - h + 1));
                const bool noise = rng() % 2 == 0;
                const uint32_t flat = rng();
                for (int32_t y = y0; y < y0 + h; ++y)
                    for (int32_t x = x0; x < x0 + w; ++x)
                        Put(p, x, y, noise ? uint32_t(rng()) : flat);
            }
            // Some entries at frames 2 and 3 (a key frame when there is one every 3), all at 5.
            if (kind == Kind::PaletteChange && (i == 2 || i == 3 || i == 5)) {
                for (int k = 0; k < 40; ++k)  // some entries, not all
                    palette[rng() % 256] = VRgbQuad{uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), 0};
                if (i == 5)
                    palette = RandomPalette(rng);
            }
            s.frames.push_back(std::move(p));
            break;
        }
        }
        s.palettes.push_back(palette);
    }
    return s;
}

// The encoder's input: bottom-up rows padded to 4 bytes.
inline std::vector<uint8_t> ToDib(const Picture& p)
{
    const size_t stride = size_t(DibStride(p.width, p.bits));
    std::vector<uint8_t> dib(stride * size_t(p.height), 0);
    for (int32_t y = 0; y < p.height; ++y)
        std::memcpy(&dib[size_t(p.height - 1 - y) * stride], &p.pixels[size_t(y) * p.RowBytes()], p.RowBytes());
    return dib;
}

}  // namespace zmbvtest
