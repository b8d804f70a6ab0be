#include "media/avi/Rle8Encoder.h"

#include "media/avi/AviFormat.h"
#include "common/VRecords.h"

#include <algorithm>
#include <bit>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace avi {
namespace {

constexpr uint8_t kEscape = 0;
constexpr uint8_t kEndOfLine = 0;
constexpr uint8_t kEndOfBitmap = 1;
constexpr uint8_t kDelta = 2;
constexpr int32_t kMaxRun = 255;
constexpr int32_t kMinAbsolute = 3;  // shorter absolute counts are the escape codes
// An unchanged stretch shorter than this is cheaper to repeat than to jump over.
constexpr int32_t kMinSkip = 8;

// The scans below look at 16 pixels at a time: bit i of the mask says a[i] == b[i].
constexpr int32_t kBlock = 16;

#if defined(__SSE2__)
inline uint32_t EqualMask(const uint8_t* a, const uint8_t* b)
{
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a));
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b));
    return uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(x, y)));
}
inline uint32_t SameMask(const uint8_t* p, uint8_t v)  // bit i: p[i] == v
{
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    return uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(x, _mm_set1_epi8(char(v)))));
}
#else
// Eight bits, one per byte of a little-endian word: set where the byte is zero.
inline uint32_t ZeroBytes(uint64_t v)
{
    constexpr uint64_t kLow7 = 0x7f7f7f7f7f7f7f7full, kHigh = 0x8080808080808080ull;
    const uint64_t zero = ~(((v & kLow7) + kLow7) | v) & kHigh;
    return uint32_t(((zero >> 7) * 0x0102040810204080ull) >> 56);
}
inline uint32_t EqualMask(const uint8_t* a, const uint8_t* b)
{
    static_assert(std::endian::native == std::endian::little, "byte i is bits 8i..8i+7");
    uint64_t a0, a1, b0, b1;
    std::memcpy(&a0, a, 8);
    std::memcpy(&a1, a + 8, 8);
    std::memcpy(&b0, b, 8);
    std::memcpy(&b1, b + 8, 8);
    return ZeroBytes(a0 ^ b0) | ZeroBytes(a1 ^ b1) << 8;
}
inline uint32_t SameMask(const uint8_t* p, uint8_t v)
{
    const uint64_t pattern = 0x0101010101010101ull * v;
    uint64_t p0, p1;
    std::memcpy(&p0, p, 8);
    std::memcpy(&p1, p + 8, 8);
    return ZeroBytes(p0 ^ pattern) | ZeroBytes(p1 ^ pattern) << 8;
}
#endif

// Length of the run of equal bytes at p, at most `limit`. Bytes up to readEnd may be read.
inline int32_t RunLength(const uint8_t* p, int32_t limit, const uint8_t* readEnd)
{
    const uint8_t v = p[0];
    int32_t n = 1;
    for (; n + kBlock <= limit; n += kBlock) {
        const uint32_t same = SameMask(p + n, v);
        if (same != 0xffff)
            return n + std::countr_one(same);
    }
    if (n < limit && readEnd - (p + n) >= kBlock)  // fewer than kBlock left: stop at the limit
        return n + std::countr_zero(~SameMask(p + n, v) | 1u << (limit - n));
    while (n < limit && p[n] == v)
        ++n;
    return n;
}

// First x in [from, to) where a and b differ, or `to`.
inline int32_t FirstDifference(const uint8_t* a, const uint8_t* b, int32_t from, int32_t to)
{
    int32_t x = from;
    for (; x + kBlock <= to; x += kBlock) {
        const uint32_t same = EqualMask(a + x, b + x);
        if (same != 0xffff)
            return x + std::countr_one(same);
    }
    while (x < to && a[x] == b[x])
        ++x;
    return x;
}

// Where the first stretch of `kMinSkip` pixels equal in a and b starts in [from, to); without
// one, `to` less the equal pixels just before it (but never below `from`).
inline int32_t UnchangedStretch(const uint8_t* a, const uint8_t* b, int32_t from, int32_t to)
{
    static_assert(kMinSkip == 8, "the mask test below finds stretches of exactly 8");
    int32_t x = from, same = 0;  // equal pixels just before x
    for (; x + kBlock <= to; x += kBlock) {
        const uint32_t m = EqualMask(a + x, b + x);
        if (same + std::countr_one(m) >= kMinSkip)
            return x - same;
        uint32_t inside = m & m >> 1;  // bit i: pixels i .. i + 7 are all equal
        inside &= inside >> 2;
        inside &= inside >> 4;
        if (inside)
            return x + std::countr_zero(inside);
        same = std::countl_one(m << 16);  // equal pixels at the block's end
    }
    for (; x < to; ++x) {
        same = a[x] == b[x] ? same + 1 : 0;
        if (same >= kMinSkip)
            return x + 1 - same;
    }
    int32_t end = to;
    while (end > from && a[end - 1] == b[end - 1])
        --end;
    return end;
}

// First x in [from, limit) where three equal pixels start (all three before `to`), or `limit`.
inline int32_t TripleStart(const uint8_t* row, int32_t from, int32_t limit, int32_t to, const uint8_t* readEnd)
{
    int32_t x = from;
    for (; x < limit && x + 2 + kBlock <= to; x += kBlock) {
        const uint32_t triple = EqualMask(row + x, row + x + 1) & EqualMask(row + x + 1, row + x + 2);
        if (triple)
            return std::min(limit, x + std::countr_zero(triple));
    }
    const int32_t starts = std::min(limit, to - 2) - x;  // fewer than kBlock
    if (starts <= 0)
        return limit;
    if (readEnd - (row + x + 2) >= kBlock) {
        const uint32_t triple = EqualMask(row + x, row + x + 1) & EqualMask(row + x + 1, row + x + 2) &
                                ~(~0u << starts);
        return triple ? x + std::countr_zero(triple) : limit;
    }
    for (; x < limit; ++x)
        if (x + 2 < to && row[x] == row[x + 1] && row[x] == row[x + 2])
            return x;
    return limit;
}

}  // namespace

bool Rle8Encoder::Init(int32_t w, int32_t h, int32_t keyEvery)
{
    if (w <= 0 || h <= 0 || w > kMaxFrameSide || h > kMaxFrameSide)
        return false;
    width = w;
    height = h;
    stride = size_t(DibStride(w, 8));
    keyFrameEvery = std::max(keyEvery, 0);
    framesSinceKey = -1;
    previous.assign(stride * size_t(h), 0);
    return true;
}

// Pixels [from, to) of one row as encoded runs, with absolute runs for mixed stretches.
void Rle8Encoder::EncodeSpan(const uint8_t* row, int32_t from, int32_t to, const uint8_t* readEnd, uint8_t*& dst) const
{
    int32_t x = from;
    while (x < to) {
        const int32_t run = RunLength(row + x, std::min(kMaxRun, to - x), readEnd);
        if (run >= kMinAbsolute || to - x < kMinAbsolute) {
            *dst++ = uint8_t(run);
            *dst++ = row[x];
            x += run;
            continue;
        }
        // Absolute: until a run of three starts or 255 pixels are gathered.
        const int32_t end = TripleStart(row, x + run, std::min(to, x + kMaxRun), to, readEnd);
        const int32_t n = end - x;
        if (n < kMinAbsolute) {
            for (int32_t i = x; i < end; ++i) {
                *dst++ = 1;
                *dst++ = row[i];
            }
        } else {
            *dst++ = kEscape;
            *dst++ = uint8_t(n);
            std::memcpy(dst, row + x, size_t(n));
            dst += n;
            if (n & 1)
                *dst++ = 0;
        }
        x = end;
    }
}

bool Rle8Encoder::Encode(const uint8_t* frame, size_t bytes, bool forceKey, std::vector<uint8_t>& out, bool& key)
{
    if (!frame || bytes < InputBytes() || previous.empty())
        return false;
    key = forceKey || framesSinceKey < 0 || (keyFrameEvery > 0 && framesSinceKey + 1 >= keyFrameEvery);
    framesSinceKey = key ? 0 : framesSinceKey + 1;
    // Encoded into a buffer kept at its worst-case size: growing `out` to it would clear it.
    scratch.resize(MaxOutputBytes());
    uint8_t* dst = scratch.data();
    const uint8_t* const frameEnd = frame + InputBytes();

    if (key) {
        for (int32_t y = 0; y < height; ++y) {
            EncodeSpan(frame + size_t(y) * stride, 0, width, frameEnd, dst);
            *dst++ = kEscape;
            *dst++ = y + 1 < height ? kEndOfLine : kEndOfBitmap;
        }
    } else {
        int32_t cx = 0, cy = 0;  // where the decoder stands
        for (int32_t y = 0; y < height; ++y) {
            const uint8_t* row = frame + size_t(y) * stride;
            const uint8_t* old = &previous[size_t(y) * stride];
            if (std::memcmp(row, old, size_t(width)) == 0)
                continue;
            int32_t x = 0;
            while (x < width) {
                x = FirstDifference(row, old, x, width);
                if (x == width)
                    break;
                // Changed stretch: ends where at least kMinSkip unchanged pixels follow.
                const int32_t end = UnchangedStretch(row, old, x + 1, width);
                // Move the decoder to (x, y).
                if (cy < y && cx > x) {
                    *dst++ = kEscape;
                    *dst++ = kEndOfLine;
                    cx = 0;
                    ++cy;
                }
                while (cy < y || cx < x) {
                    const int32_t dx = std::min(kMaxRun, x - cx), dy = std::min(kMaxRun, y - cy);
                    *dst++ = kEscape;
                    *dst++ = kDelta;
                    *dst++ = uint8_t(dx);
                    *dst++ = uint8_t(dy);
                    cx += dx;
                    cy += dy;
                }
                EncodeSpan(row, x, end, frameEnd, dst);
                cx = end;
                x = end;
            }
        }
        *dst++ = kEscape;
        *dst++ = kEndOfBitmap;
    }
    for (int32_t y = 0; y < height; ++y)
        std::memcpy(&previous[size_t(y) * stride], frame + size_t(y) * stride, size_t(width));
    out.assign(scratch.data(), dst);
    return true;
}

}  // namespace avi
