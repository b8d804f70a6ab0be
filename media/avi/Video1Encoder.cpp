#include "media/avi/Video1Encoder.h"

#include "media/avi/AviFormat.h"
#include "common/VRecords.h"

#include <algorithm>
#include <cstring>

namespace avi {
namespace {

// Block codes: the two leading bytes of each block.
constexpr uint32_t kSkipBase = 0x8400;      // 0x84xx-0x87xx: skip this and more blocks
constexpr uint32_t kMaxSkipRun = 0x3FF;
constexpr uint16_t kEightColourMark = 0x8000;  // set in the first colour of an 8-colour block
// Bits each block mode costs, for the rate side of the choice.
constexpr uint32_t kBitsSkip = 1, kBitsOne = 16, kBitsTwo = 48, kBitsEight = 144;

struct Rgb {
    int r, g, b;
};
inline Rgb Split(uint16_t c)
{
    return {c >> 10 & 31, c >> 5 & 31, c & 31};
}
inline uint16_t Join(int r, int g, int b)
{
    return uint16_t(r << 10 | g << 5 | b);
}
inline uint32_t Distance(uint16_t a, uint16_t b)
{
    const int dr = (a >> 10 & 31) - (b >> 10 & 31);
    const int dg = (a >> 5 & 31) - (b >> 5 & 31);
    const int db = (a & 31) - (b & 31);
    return uint32_t(dr * dr + dg * dg + db * db);
}
inline int Luma(uint16_t c)
{
    return 2 * (c >> 10 & 31) + 4 * (c >> 5 & 31) + (c & 31);
}
inline void Put16(uint8_t*& dst, uint32_t v)
{
    dst[0] = uint8_t(v);
    dst[1] = uint8_t(v >> 8);
    dst += 2;
}

// Best two colours for `n` pixels (given by index into px): seeds at the darkest and
// brightest pixel, one refinement. Sets bit i of mask for pixels that take colour a.
struct TwoColours {
    uint16_t a, b;
    uint32_t mask;
    uint32_t error;
};
TwoColours FitTwo(const uint16_t* px, const uint8_t* idx, int n)
{
    int lo = 0, hi = 0, loL = Luma(px[idx[0]]), hiL = loL;
    for (int i = 1; i < n; ++i) {
        const int l = Luma(px[idx[i]]);
        if (l < loL)
            loL = l, lo = i;
        if (l > hiL)
            hiL = l, hi = i;
    }
    uint16_t ca = px[idx[hi]], cb = px[idx[lo]];
    for (int round = 0; round < 2; ++round) {
        int sa[3] = {}, sb[3] = {}, na = 0, nb = 0;
        for (int i = 0; i < n; ++i) {
            const uint16_t c = px[idx[i]];
            const Rgb v = Split(c);
            if (Distance(c, ca) <= Distance(c, cb))
                sa[0] += v.r, sa[1] += v.g, sa[2] += v.b, ++na;
            else
                sb[0] += v.r, sb[1] += v.g, sb[2] += v.b, ++nb;
        }
        if (na)
            ca = Join((sa[0] + na / 2) / na, (sa[1] + na / 2) / na, (sa[2] + na / 2) / na);
        if (nb)
            cb = Join((sb[0] + nb / 2) / nb, (sb[1] + nb / 2) / nb, (sb[2] + nb / 2) / nb);
        if (!nb)
            cb = ca;
    }
    TwoColours t{ca, cb, 0, 0};
    for (int i = 0; i < n; ++i) {
        const uint16_t c = px[idx[i]];
        const uint32_t da = Distance(c, ca), db = Distance(c, cb);
        if (da <= db) {
            t.mask |= 1u << i;
            t.error += da;
        } else {
            t.error += db;
        }
    }
    return t;
}

constexpr uint8_t kAllPixels[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
// Pixels of each quarter in decoder order (bottom-left, bottom-right, top-left, top-right).
constexpr uint8_t kQuarter[4][4] = {{0, 1, 4, 5}, {2, 3, 6, 7}, {8, 9, 12, 13}, {10, 11, 14, 15}};

}  // namespace

bool Video1Encoder::Init(int32_t w, int32_t h, int bits, int32_t quality, int32_t keyEvery)
{
    if (w <= 0 || h <= 0 || w > kMaxFrameSide || h > kMaxFrameSide || (bits != 16 && bits != 24 && bits != 32))
        return false;
    width = w;
    height = h;
    inputBits = bits;
    blocksWide = (w + 3) / 4;
    blocksHigh = (h + 3) / 4;
    inputStride = size_t(DibStride(w, bits));
    inputBytes = inputStride * size_t(h);
    keyFrameEvery = std::max(keyEvery, 0);
    framesSinceKey = -1;
    // Quality 10000 accepts only a little error for a cheaper mode; lower quality more.
    const int32_t q = std::clamp(quality < 0 ? 7500 : quality, 0, 10000);
    lambda = uint32_t(1 + (10000 - q) / 100);
    planeStride = size_t(blocksWide) * 4;
    current.assign(planeStride * size_t(blocksHigh) * 4, 0);
    decoded.assign(current.size(), 0);
    return true;
}

// Pads to whole blocks: columns repeat at the right, rows at the bottom of the picture, so
// the picture keeps its top-left corner in a frame of the padded size.
void Video1Encoder::Convert(const uint8_t* frame)
{
    const size_t padRows = size_t(blocksHigh) * 4 - size_t(height);
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* src = frame + size_t(y) * inputStride;
        uint16_t* dst = &current[(size_t(y) + padRows) * planeStride];
        if (inputBits == 16) {
            for (int32_t x = 0; x < width; ++x)
                dst[x] = uint16_t((src[2 * x] | src[2 * x + 1] << 8) & 0x7FFF);
        } else {
            const int step = inputBits / 8;
            for (int32_t x = 0; x < width; ++x, src += step)
                dst[x] = uint16_t((src[2] >> 3) << 10 | (src[1] >> 3) << 5 | src[0] >> 3);
        }
        for (size_t x = size_t(width); x < planeStride; ++x)
            dst[x] = dst[width - 1];
    }
    for (size_t y = 0; y < padRows; ++y)
        std::memcpy(&current[y * planeStride], &current[padRows * planeStride], planeStride * 2);
}

void Video1Encoder::EncodeBlockRow(int by, bool key, uint8_t*& dst, uint32_t& skipRun)
{
    auto flushSkips = [&] {
        while (skipRun) {
            const uint32_t n = std::min(skipRun, kMaxSkipRun);
            Put16(dst, kSkipBase + n);
            skipRun -= n;
        }
    };
    uint16_t px[16];
    for (int bx = 0; bx < blocksWide; ++bx) {
        const size_t origin = size_t(by) * 4 * planeStride + size_t(bx) * 4;
        uint32_t skipError = 0;
        bool same = true;
        for (int y = 0; y < 4; ++y) {
            const uint16_t* row = &current[origin + size_t(y) * planeStride];
            std::memcpy(&px[y * 4], row, 8);
            if (!key) {
                const uint16_t* old = &decoded[origin + size_t(y) * planeStride];
                if (std::memcmp(row, old, 8) != 0) {
                    same = false;
                    for (int x = 0; x < 4; ++x)
                        skipError += Distance(row[x], old[x]);
                }
            }
        }
        if (!key && same) {
            ++skipRun;
            continue;
        }
        const uint32_t skipCost = key ? UINT32_MAX : skipError + lambda * kBitsSkip;

        // One colour: the mean; exact when the block is flat.
        int sum[3] = {};
        for (uint16_t c : px) {
            const Rgb v = Split(c);
            sum[0] += v.r, sum[1] += v.g, sum[2] += v.b;
        }
        const uint16_t mean = Join((sum[0] + 8) / 16, (sum[1] + 8) / 16, (sum[2] + 8) / 16);
        uint32_t oneError = 0;
        for (uint16_t c : px)
            oneError += Distance(c, mean);
        uint32_t best = skipCost;
        int mode = 0;  // 0 skip, 1 one colour, 2 two, 8 eight
        if (oneError + lambda * kBitsOne < best)
            best = oneError + lambda * kBitsOne, mode = 1;
        TwoColours two{}, quarter[4];
        if (oneError > 0 && best > lambda * kBitsTwo) {
            two = FitTwo(px, kAllPixels, 16);
            if (two.error + lambda * kBitsTwo < best)
                best = two.error + lambda * kBitsTwo, mode = 2;
            if (two.error > 0 && best > lambda * kBitsEight) {
                uint32_t e8 = 0;
                for (int q = 0; q < 4; ++q) {
                    quarter[q] = FitTwo(px, kQuarter[q], 4);
                    e8 += quarter[q].error;
                }
                if (e8 + lambda * kBitsEight < best)
                    mode = 8;
            }
        }
        // The one-colour code cannot carry colours whose high byte would read as a skip.
        if (mode == 1 && ((mean | 0x8000) >> 8 & 0xFC) == 0x84) {
            mode = 2;
            two = TwoColours{mean, mean, 0, oneError};
        }
        if (mode == 0) {
            ++skipRun;
            continue;
        }
        // The flags' top bit must stay clear (it marks the other codes): swap the pair it selects.
        if (mode == 2 && (two.mask & 0x8000)) {
            std::swap(two.a, two.b);
            two.mask = ~two.mask & 0xFFFF;
        }
        if (mode == 8 && (quarter[3].mask & 0x8)) {
            std::swap(quarter[3].a, quarter[3].b);
            quarter[3].mask = ~quarter[3].mask & 0xF;
        }
        flushSkips();
        uint16_t out[16];
        switch (mode) {
        case 1:
            Put16(dst, mean | 0x8000u);
            std::fill(out, out + 16, mean);
            break;
        case 2: {
            // Flag bit set: first colour. Keep the first colour's top bit clear (two-colour mark).
            Put16(dst, two.mask);
            Put16(dst, two.a);
            Put16(dst, two.b);
            for (int i = 0; i < 16; ++i)
                out[i] = two.mask >> i & 1 ? two.a : two.b;
            break;
        }
        default: {
            uint32_t flags = 0;
            for (int q = 0; q < 4; ++q)
                for (int i = 0; i < 4; ++i)
                    if (quarter[q].mask >> i & 1)
                        flags |= 1u << kQuarter[q][i];
            Put16(dst, flags);
            for (int q = 0; q < 4; ++q) {
                Put16(dst, q == 0 ? quarter[q].a | kEightColourMark : quarter[q].a);
                Put16(dst, quarter[q].b);
                for (int i = 0; i < 4; ++i)
                    out[kQuarter[q][i]] = quarter[q].mask >> i & 1 ? quarter[q].a : quarter[q].b;
            }
            break;
        }
        }
        for (int y = 0; y < 4; ++y)
            std::memcpy(&decoded[origin + size_t(y) * planeStride], &out[y * 4], 8);
    }
    if (by == blocksHigh - 1)
        flushSkips();
}

bool Video1Encoder::Encode(const uint8_t* frame, size_t bytes, bool forceKey, std::vector<uint8_t>& out, bool& key)
{
    if (!frame || bytes < inputBytes || current.empty())
        return false;
    Convert(frame);
    key = forceKey || framesSinceKey < 0 || (keyFrameEvery > 0 && framesSinceKey + 1 >= keyFrameEvery);
    framesSinceKey = key ? 0 : framesSinceKey + 1;
    out.resize(MaxOutputBytes());
    uint8_t* dst = out.data();
    uint32_t skipRun = 0;
    for (int by = 0; by < blocksHigh; ++by)
        EncodeBlockRow(by, key, dst, skipRun);
    Put16(dst, 0);  // end of frame
    out.resize(size_t(dst - out.data()));
    return true;
}

}  // namespace avi
