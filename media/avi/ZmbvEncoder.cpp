#include "media/avi/ZmbvEncoder.h"

#include "media/avi/AviFormat.h"

#include <zlib.h>

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>
#include <new>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace avi {
namespace {

// Frame flags, the first byte of every frame.
constexpr uint8_t kFlagKey = 0x01;      // intra frame
constexpr uint8_t kFlagPalette = 0x02;  // inter frame opens with the XOR of old and new palette
// Intra frame header after the flags.
constexpr uint8_t kVersionMajor = 0;
constexpr uint8_t kVersionMinor = 1;
constexpr uint8_t kCompressionZlib = 1;
constexpr uint8_t kFormat8 = 4;   // palettised
constexpr uint8_t kFormat15 = 5;  // RGB555
constexpr uint8_t kFormat32 = 8;  // BGR0
constexpr size_t kKeyHeaderBytes = 7;
constexpr size_t kPaletteBytes = 256 * 3;
// Block info: two bytes a block, (dx << 1 | XOR follows) and (dy << 1), padded to 4 bytes.
constexpr uint8_t kBlockXor = 0x01;
constexpr int kMaxShift = 16;  // the vectors decoders are known to take

// Square blocks of 16: on the true-colour screen corpus blocks of 8 wrote a few per cent more
// (block info) and blocks of 32 a seventh to a fifth more.
constexpr int32_t kBlockSide = 16;
// At most this many changed blocks vote for the frame's scroll vectors, four rows each.
constexpr size_t kVotingBlocks = 512;
constexpr int kVotingRows = 4;
// zlib level 6, the knee on the 1024x768 true-colour corpus (50 frames all key, and with a key
// frame in 25): level 1 takes about 7 ms a key frame and writes 6.3 MB (0.33 MB), level 6 about
// 13 ms for 2.8 MB (0.17 MB), level 8 about 30 ms for 2.2 MB (0.15 MB), level 9 about 60 ms for
// 2.2 MB (0.14 MB). Below 6 the files grow fast; above it the time of a key frame, the one a
// recording must absorb, more than doubles for a fifth less.
constexpr int kZlibLevel = 6;
constexpr int kZlibWindowBits = 15;
constexpr int kZlibMemLevel = 8;  // zlib's default; 9 wrote key frames 2% larger and no faster

// Bytes that differ between a[0..n) and b[0..n).
inline size_t DifferentBytes(const uint8_t* a, const uint8_t* b, size_t n)
{
    size_t count = 0, i = 0;
#if defined(__SSE2__)
    for (; i + 16 <= n; i += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
        const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
        count += size_t(16 - std::popcount(unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(x, y)))));
    }
#else
    constexpr uint64_t kLow7 = 0x7f7f7f7f7f7f7f7full, kHigh = 0x8080808080808080ull;
    for (; i + 8 <= n; i += 8) {
        uint64_t x, y;
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        const uint64_t d = x ^ y;
        count += size_t(std::popcount((((d & kLow7) + kLow7) | d) & kHigh));  // high bit: byte not zero
    }
#endif
    for (; i < n; ++i)
        count += a[i] != b[i];
    return count;
}

inline uint8_t* XorBytes(uint8_t* dst, const uint8_t* a, const uint8_t* b, size_t n)
{
    size_t i = 0;
#if defined(__SSE2__)
    for (; i + 16 <= n; i += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
        const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_xor_si128(x, y));
    }
#else
    for (; i + 8 <= n; i += 8) {
        uint64_t x, y;
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        x ^= y;
        std::memcpy(dst + i, &x, 8);
    }
#endif
    for (; i < n; ++i)
        dst[i] = a[i] ^ b[i];
    return dst + n;
}

// Worst case of one flushed piece of a running deflate stream: stored blocks cost 5 bytes each
// and hold at least 16383 bytes but the last; the flush marker and the stream header are 7.
constexpr size_t DeflatedBound(size_t bytes)
{
    return bytes + (bytes >> 10) + 64;
}

}  // namespace

void ZmbvEncoder::DeflateEnd::operator()(z_stream_s* stream) const
{
    deflateEnd(stream);
    delete stream;
}

bool ZmbvEncoder::Init(int32_t w, int32_t h, int inputBits, int32_t keyEvery)
{
    zlib.reset();
    current.clear();
    if (w <= 0 || h <= 0 || w > kMaxFrameSide || h > kMaxFrameSide ||
        (inputBits != 8 && inputBits != 16 && inputBits != 32))
        return false;
    width = w;
    height = h;
    pixelBytes = size_t(inputBits / 8);
    inputStride = size_t(DibStride(w, inputBits));
    rowBytes = size_t(w) * pixelBytes;
    blocksWide = (w + kBlockSide - 1) / kBlockSide;
    blocksHigh = (h + kBlockSide - 1) / kBlockSide;
    keyFrameEvery = std::max(keyEvery, 0);
    framesSinceKey = -1;
    try {
        current.assign(rowBytes * size_t(h), 0);
        previous.assign(current.size(), 0);
        palette.assign(kPaletteBytes, 0);
        sentPalette.assign(kPaletteBytes, 0);
        changed.reserve(size_t(blocksWide) * size_t(blocksHigh));
        rowChanged.assign(size_t(blocksWide), 0);
        delta.resize(kPaletteBytes + size_t(blocksWide) * size_t(blocksHigh) * 2 + 4 + current.size());
        scratch.resize(MaxOutputBytes());
        auto stream = std::unique_ptr<z_stream_s, DeflateEnd>(new z_stream_s{});
        if (deflateInit2(stream.get(), kZlibLevel, Z_DEFLATED, kZlibWindowBits, kZlibMemLevel, Z_DEFAULT_STRATEGY) !=
            Z_OK) {
            delete stream.release();  // never started: nothing for deflateEnd to free
            current.clear();
            return false;
        }
        zlib = std::move(stream);
    } catch (const std::bad_alloc&) {
        current.clear();
        return false;
    }
    return true;
}

void ZmbvEncoder::SetPalette(const VRgbQuad* colours, size_t count)
{
    if (palette.size() != kPaletteBytes)
        return;
    for (size_t i = 0; i < 256; ++i) {
        const VRgbQuad c = colours && i < count ? colours[i] : VRgbQuad{};
        palette[3 * i] = c.rgbRed;
        palette[3 * i + 1] = c.rgbGreen;
        palette[3 * i + 2] = c.rgbBlue;
    }
}

size_t ZmbvEncoder::MaxOutputBytes() const
{
    return kKeyHeaderBytes + DeflatedBound(kPaletteBytes + size_t(blocksWide) * size_t(blocksHigh) * 2 + 4 +
                                           rowBytes * size_t(height));
}

// Bottom-up padded rows to top-down packed ones.
void ZmbvEncoder::Load(const uint8_t* frame)
{
    for (int32_t y = 0; y < height; ++y)
        std::memcpy(&current[size_t(y) * rowBytes], frame + size_t(height - 1 - y) * inputStride, rowBytes);
}

bool ZmbvEncoder::Deflate(const uint8_t* data, size_t bytes, bool flush, uint8_t*& dst, const uint8_t* end)
{
    z_stream_s& z = *zlib;
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = uInt(bytes);
    z.next_out = dst;
    z.avail_out = uInt(end - dst);
    const int rc = deflate(&z, flush ? Z_SYNC_FLUSH : Z_NO_FLUSH);
    dst = z.next_out;
    // Out of room means the flush may be incomplete: the bound was wrong, and the frame with it.
    return (rc == Z_OK || rc == Z_BUF_ERROR) && z.avail_in == 0 && z.avail_out > 0;
}

bool ZmbvEncoder::Encode(const uint8_t* frame, size_t bytes, bool forceKey, std::vector<uint8_t>& out, bool& key)
{
    if (!frame || !zlib || bytes < InputBytes())
        return false;
    key = forceKey || framesSinceKey < 0 || (keyFrameEvery > 0 && framesSinceKey + 1 >= keyFrameEvery);
    Load(frame);

    uint8_t* dst = scratch.data();
    const uint8_t* const end = scratch.data() + scratch.size();
    bool ok = true;
    if (key) {
        *dst++ = kFlagKey;
        *dst++ = kVersionMajor;
        *dst++ = kVersionMinor;
        *dst++ = kCompressionZlib;
        *dst++ = pixelBytes == 1 ? kFormat8 : pixelBytes == 2 ? kFormat15 : kFormat32;
        *dst++ = uint8_t(kBlockSide);
        *dst++ = uint8_t(kBlockSide);
        // Each key frame starts a fresh zlib stream, so a decoder can begin at any of them.
        ok = deflateReset(zlib.get()) == Z_OK;
        if (ok && pixelBytes == 1)
            ok = Deflate(palette.data(), kPaletteBytes, false, dst, end);
        ok = ok && Deflate(current.data(), current.size(), true, dst, end);
        sentPalette = palette;
    } else {
        const bool newPalette = pixelBytes == 1 && palette != sentPalette;
        *dst++ = newPalette ? kFlagPalette : 0;
        uint8_t* p = delta.data();
        if (newPalette) {
            p = XorBytes(p, palette.data(), sentPalette.data(), kPaletteBytes);
            sentPalette = palette;
        }
        p = EncodeDelta(p);
        ok = Deflate(delta.data(), size_t(p - delta.data()), true, dst, end);
    }
    if (!ok) {
        framesSinceKey = -1;  // the stream is broken: start a new one
        return false;
    }
    framesSinceKey = key ? 0 : framesSinceKey + 1;
    current.swap(previous);
    out.assign(scratch.data(), dst);
    return true;
}

// Fills `changed` with the blocks that differ from the same place in the last frame.
void ZmbvEncoder::MarkChangedBlocks()
{
    changed.clear();
    std::vector<uint8_t>& differs = rowChanged;
    const size_t blockBytes = size_t(kBlockSide) * pixelBytes;
    for (int32_t by = 0; by < blocksHigh; ++by) {
        std::fill(differs.begin(), differs.end(), 0);
        int32_t found = 0;
        const int32_t y0 = by * kBlockSide, y1 = std::min(height, y0 + kBlockSide);
        for (int32_t y = y0; y < y1 && found < blocksWide; ++y) {
            const uint8_t* c = &current[size_t(y) * rowBytes];
            const uint8_t* p = &previous[size_t(y) * rowBytes];
            if (std::memcmp(c, p, rowBytes) == 0)
                continue;
            for (int32_t bx = 0; bx < blocksWide; ++bx) {
                const size_t at = size_t(bx) * blockBytes;
                if (!differs[size_t(bx)] && std::memcmp(c + at, p + at, std::min(blockBytes, rowBytes - at)) != 0) {
                    differs[size_t(bx)] = 1;
                    ++found;
                }
            }
        }
        for (int32_t bx = 0; bx < blocksWide; ++bx)
            if (differs[size_t(bx)])
                changed.push_back(uint32_t(by * blocksWide + bx));
    }
}

// Scrolls: rows sampled from the changed blocks vote for every vertical and horizontal shift
// under which they appear in the last frame; the shifts with the most votes are tried for every
// changed block. Flat rows and rows that did not change say nothing and do not vote.
void ZmbvEncoder::FindShifts()
{
    shifts.clear();
    int votesY[2 * kMaxShift + 1] = {}, votesX[2 * kMaxShift + 1] = {};
    const size_t step = std::max<size_t>(1, changed.size() / kVotingBlocks);
    for (size_t k = 0; k < changed.size(); k += step) {
        const int32_t bx = int32_t(changed[k] % uint32_t(blocksWide)), by = int32_t(changed[k] / uint32_t(blocksWide));
        const int32_t x0 = bx * kBlockSide, y0 = by * kBlockSide;
        const int32_t bw = std::min(kBlockSide, width - x0), bh = std::min(kBlockSide, height - y0);
        const size_t n = size_t(bw) * pixelBytes;
        for (int r = 0; r < kVotingRows; ++r) {
            const int32_t y = y0 + (bh * (2 * r + 1)) / (2 * kVotingRows);
            const uint8_t* row = &current[size_t(y) * rowBytes + size_t(x0) * pixelBytes];
            const uint8_t* old = &previous[size_t(y) * rowBytes + size_t(x0) * pixelBytes];
            if (std::memcmp(row, old, n) == 0 || std::memcmp(row, row + pixelBytes, n - pixelBytes) == 0)
                continue;
            for (int d = -kMaxShift; d <= kMaxShift; ++d) {
                if (d == 0)
                    continue;
                if (y + d >= 0 && y + d < height && std::memcmp(row, old + ptrdiff_t(d) * ptrdiff_t(rowBytes), n) == 0)
                    ++votesY[d + kMaxShift];
                if (x0 + d >= 0 && x0 + d + bw <= width && std::memcmp(row, old + ptrdiff_t(d) * ptrdiff_t(pixelBytes), n) == 0)
                    ++votesX[d + kMaxShift];
            }
        }
    }
    // The two best vertical shifts (windows often scroll by different amounts) and the best horizontal one.
    auto best = [](const int* votes, int skip) {
        int at = kMaxShift;
        for (int i = 0; i <= 2 * kMaxShift; ++i)
            if (i != kMaxShift && i != skip && votes[i] > 0 && (at == kMaxShift || votes[i] > votes[at]))
                at = i;
        return at;
    };
    const int y1 = best(votesY, kMaxShift);
    if (y1 != kMaxShift) {
        shifts.push_back({0, y1 - kMaxShift});
        const int y2 = best(votesY, y1);
        if (y2 != kMaxShift)
            shifts.push_back({0, y2 - kMaxShift});
    }
    const int x1 = best(votesX, kMaxShift);
    if (x1 != kMaxShift)
        shifts.push_back({x1 - kMaxShift, 0});
}

// Block info and XOR data of an inter frame at dst; returns the end.
uint8_t* ZmbvEncoder::EncodeDelta(uint8_t* dst)
{
    const size_t blocks = size_t(blocksWide) * size_t(blocksHigh);
    uint8_t* const info = dst;
    const size_t infoBytes = (blocks * 2 + 3) & ~size_t(3);
    std::memset(info, 0, infoBytes);
    dst += infoBytes;
    MarkChangedBlocks();
    if (changed.empty())
        return dst;
    FindShifts();

    for (const uint32_t index : changed) {
        const int32_t x0 = int32_t(index % uint32_t(blocksWide)) * kBlockSide;
        const int32_t y0 = int32_t(index / uint32_t(blocksWide)) * kBlockSide;
        const int32_t bw = std::min(kBlockSide, width - x0), bh = std::min(kBlockSide, height - y0);
        const size_t n = size_t(bw) * pixelBytes;
        const uint8_t* const block = &current[size_t(y0) * rowBytes + size_t(x0) * pixelBytes];
        auto source = [&](const Vector& v) {
            return &previous[size_t(y0 + v.dy) * rowBytes + size_t(x0 + v.dx) * pixelBytes];
        };
        // Cost of a vector: bytes left after the XOR, counted up to `limit`.
        auto cost = [&](const Vector& v, size_t limit) {
            const uint8_t* from = source(v);
            size_t c = 0;
            for (int32_t r = 0; r < bh && c < limit; ++r)
                c += DifferentBytes(block + size_t(r) * rowBytes, from + size_t(r) * rowBytes, n);
            return c;
        };
        Vector best{0, 0};
        size_t bestCost = cost(best, SIZE_MAX);
        for (const Vector& v : shifts) {
            // Only sources inside the picture: a decoder fills the rest with zeros.
            if (x0 + v.dx < 0 || y0 + v.dy < 0 || x0 + v.dx + bw > width || y0 + v.dy + bh > height)
                continue;
            const size_t c = cost(v, bestCost);
            if (c < bestCost) {
                best = v;
                bestCost = c;
                if (c == 0)
                    break;
            }
        }
        info[2 * index] = uint8_t(best.dx * 2) | (bestCost ? kBlockXor : 0);
        info[2 * index + 1] = uint8_t(best.dy * 2);
        if (bestCost) {
            const uint8_t* from = source(best);
            for (int32_t r = 0; r < bh; ++r)
                dst = XorBytes(dst, block + size_t(r) * rowBytes, from + size_t(r) * rowBytes, n);
        }
    }
    return dst;
}

}  // namespace avi
