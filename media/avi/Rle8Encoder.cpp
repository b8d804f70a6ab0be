#include "media/avi/Rle8Encoder.h"

#include "media/avi/AviFormat.h"
#include "media/VRecords.h"

#include <algorithm>
#include <cstring>

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

// Length of the run of equal bytes at p, at most `limit`.
inline int32_t RunLength(const uint8_t* p, int32_t limit)
{
    const uint8_t v = p[0];
    int32_t n = 1;
    if (limit >= 8) {
        uint64_t pattern = 0x0101010101010101ull * v;
        while (n + 8 <= limit) {
            uint64_t w;
            std::memcpy(&w, p + n, 8);
            if (w != pattern)
                break;
            n += 8;
        }
    }
    while (n < limit && p[n] == v)
        ++n;
    return n;
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
void Rle8Encoder::EncodeSpan(const uint8_t* row, int32_t from, int32_t to, uint8_t*& dst) const
{
    int32_t x = from;
    while (x < to) {
        const int32_t run = RunLength(row + x, std::min(kMaxRun, to - x));
        if (run >= kMinAbsolute || to - x < kMinAbsolute) {
            *dst++ = uint8_t(run);
            *dst++ = row[x];
            x += run;
            continue;
        }
        // Absolute: until a run of three starts or 255 pixels are gathered.
        int32_t end = x + run;
        const int32_t limit = std::min(to, x + kMaxRun);
        while (end < limit) {
            if (end + 2 < to && row[end] == row[end + 1] && row[end] == row[end + 2])
                break;
            ++end;
        }
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
    out.resize(MaxOutputBytes());
    uint8_t* dst = out.data();

    if (key) {
        for (int32_t y = 0; y < height; ++y) {
            EncodeSpan(frame + size_t(y) * stride, 0, width, dst);
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
                while (x < width && row[x] == old[x])
                    ++x;
                if (x == width)
                    break;
                // Changed stretch: ends where at least kMinSkip unchanged pixels follow.
                int32_t end = x + 1, same = 0;
                while (end < width && same < kMinSkip) {
                    same = row[end] == old[end] ? same + 1 : 0;
                    ++end;
                }
                if (same >= kMinSkip)
                    end -= same;
                else
                    while (end > x && row[end - 1] == old[end - 1])
                        --end;
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
                EncodeSpan(row, x, end, dst);
                cx = end;
                x = end;
            }
        }
        *dst++ = kEscape;
        *dst++ = kEndOfBitmap;
    }
    for (int32_t y = 0; y < height; ++y)
        std::memcpy(&previous[size_t(y) * stride], frame + size_t(y) * stride, size_t(width));
    out.resize(size_t(dst - out.data()));
    return true;
}

}  // namespace avi
