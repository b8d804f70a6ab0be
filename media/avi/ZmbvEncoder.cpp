#include "media/avi/ZmbvEncoder.h"

#include "media/avi/AviFormat.h"

#include <zlib.h>

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <cstring>
#include <iterator>
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
constexpr size_t kMaxBlockBytes = size_t(kBlockSide) * size_t(kBlockSide) * 4;
// At most this many changed blocks vote for the frame's scroll vectors, four rows each.
constexpr size_t kVotingBlocks = 512;
constexpr int kVotingRows = 4;
// At most this many inexact sources found by the search are weighed for one block: smooth
// pictures (gradients, a playing video) match a telling row in many places.
constexpr size_t kMaxTries = 16;
// zlib's slow (lazy) matcher, tuned apart for key and inter frames: level 9's deep search
// writes the smallest files but takes 3 to 4 times level 6's time on a key frame, the frame a
// live recording must absorb. Measured on the screen corpora (bench/compare_zmbv.sh) and on
// 1024x768 key frames (level 6's parameters: 19 ms, 2.77 MB for 50): a match of 258 (the
// longest) ending the search costs nothing on screen content and takes 13 % off key frames;
// chains of 256 take 2 % more for a fifth more time, 1024 6 % more for twice the time. Inter
// frames are small, so they get the longer chains: 8 % less on the 16-bit desktop than level
// 6's parameters for a quarter more time of the whole encoder.
struct Tuning {
    int goodLength, maxLazy, niceLength, maxChain;
};
constexpr Tuning kKeyTuning{16, 64, 258, 256};
constexpr Tuning kInterTuning{32, 128, 258, 1024};
constexpr int kZlibLevel = 9;  // for its matcher; the tunings set the effort

// deflateReset restores the level's own parameters: tune after it.
bool Tune(z_stream_s* z, const Tuning& t)
{
    return deflateTune(z, t.goodLength, t.maxLazy, t.niceLength, t.maxChain) == Z_OK;
}
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
        vectors.assign(size_t(blocksWide) * size_t(blocksHigh), Vector{0, 0});
        lastVectors.assign(vectors.size(), Vector{0, 0});
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
        ok = ok && Tune(zlib.get(), kKeyTuning);
        if (ok && pixelBytes == 1)
            ok = Deflate(palette.data(), kPaletteBytes, false, dst, end);
        ok = ok && Deflate(current.data(), current.size(), true, dst, end);
        sentPalette = palette;
        std::fill(vectors.begin(), vectors.end(), Vector{0, 0});
    } else {
        const bool newPalette = pixelBytes == 1 && palette != sentPalette;
        *dst++ = newPalette ? kFlagPalette : 0;
        uint8_t* p = delta.data();
        if (newPalette) {
            p = XorBytes(p, palette.data(), sentPalette.data(), kPaletteBytes);
            sentPalette = palette;
        }
        p = EncodeDelta(p);
        ok = Tune(zlib.get(), kInterTuning) && Deflate(delta.data(), size_t(p - delta.data()), true, dst, end);
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

bool ZmbvEncoder::Inside(int32_t index, Vector v) const
{
    const int32_t x0 = int32_t(index % blocksWide) * kBlockSide, y0 = int32_t(index / blocksWide) * kBlockSide;
    const int32_t bw = std::min(kBlockSide, width - x0), bh = std::min(kBlockSide, height - y0);
    // Only sources inside the picture: a decoder fills the rest with zeros.
    return x0 + v.dx >= 0 && y0 + v.dy >= 0 && x0 + v.dx + bw <= width && y0 + v.dy + bh <= height;
}

// Bytes of the block at `index` left after the XOR with its source `v` away, counted up to `limit`.
size_t ZmbvEncoder::Differs(int32_t index, Vector v, size_t limit) const
{
    const int32_t x0 = int32_t(index % blocksWide) * kBlockSide, y0 = int32_t(index / blocksWide) * kBlockSide;
    const int32_t bw = std::min(kBlockSide, width - x0), bh = std::min(kBlockSide, height - y0);
    const size_t n = size_t(bw) * pixelBytes;
    const uint8_t* block = &current[size_t(y0) * rowBytes + size_t(x0) * pixelBytes];
    const uint8_t* from = &previous[size_t(y0 + v.dy) * rowBytes + size_t(x0 + v.dx) * pixelBytes];
    size_t c = 0;
    for (int32_t r = 0; r < bh && c < limit; ++r)
        c += DifferentBytes(block + size_t(r) * rowBytes, from + size_t(r) * rowBytes, n);
    return c;
}

// What the XOR of the block at `index` with its source `v` away costs deflate, roughly: the
// entropy of its bytes, in sixteenths of a bit. A residue of few distinct values codes
// shorter than one with fewer non-zero bytes of many values.
uint32_t ZmbvEncoder::Entropy(int32_t index, Vector v) const
{
    const int32_t x0 = int32_t(index % blocksWide) * kBlockSide, y0 = int32_t(index / blocksWide) * kBlockSide;
    const int32_t bw = std::min(kBlockSide, width - x0), bh = std::min(kBlockSide, height - y0);
    const size_t n = size_t(bw) * pixelBytes;
    const uint8_t* block = &current[size_t(y0) * rowBytes + size_t(x0) * pixelBytes];
    const uint8_t* from = &previous[size_t(y0 + v.dy) * rowBytes + size_t(x0 + v.dx) * pixelBytes];
    uint16_t counts[256] = {};
    for (int32_t r = 0; r < bh; ++r) {
        const uint8_t* a = block + size_t(r) * rowBytes;
        const uint8_t* b = from + size_t(r) * rowBytes;
        for (size_t i = 0; i < n; ++i)
            ++counts[a[i] ^ b[i]];
    }
    // Sum of c log2(N / c) over the counts c of the N bytes = N log2 N - sum of c log2 c.
    static const std::vector<uint32_t> cLogC = [] {
        std::vector<uint32_t> t(kMaxBlockBytes + 1, 0);
        for (size_t c = 2; c <= kMaxBlockBytes; ++c)
            t[c] = uint32_t(std::lround(16.0 * double(c) * std::log2(double(c))));
        return t;
    }();
    uint32_t sum = 0;
    for (const uint16_t c : counts)
        sum += cLogC[c];
    return cLogC[n * size_t(bh)] - sum;
}

// The vector of a changed block; `residue` tells whether its XOR with the source is needed.
// First the likely ones: none, the block's own in the last frame, its left and upper
// neighbours' in this one (a moved window's blocks move together), the frame's scroll vectors.
// Unless one of them copies the block exactly, every vector in reach whose source matches one
// telling row of the block (a row that is not one colour) is tried too: that finds what moved
// alone, at a few nanoseconds a vector. Of sources that need a residue, the one whose residue
// has the least entropy wins.
ZmbvEncoder::Vector ZmbvEncoder::ChooseVector(int32_t index, bool& residue) const
{
    Vector guesses[8];
    size_t count = 0;
    auto guess = [&](Vector v) {
        for (size_t i = 0; i < count; ++i)
            if (guesses[i].dx == v.dx && guesses[i].dy == v.dy)
                return;
        if (count < std::size(guesses) && Inside(index, v))
            guesses[count++] = v;
    };
    const int32_t bx = index % blocksWide;
    guess({0, 0});
    guess(lastVectors[size_t(index)]);
    if (bx > 0)
        guess(vectors[size_t(index - 1)]);
    if (index >= blocksWide) {
        guess(vectors[size_t(index - blocksWide)]);
        if (bx + 1 < blocksWide)
            guess(vectors[size_t(index - blocksWide + 1)]);
    }
    for (const Vector& v : shifts)
        guess(v);
    residue = false;
    for (size_t i = 1; i < count; ++i)
        if (Differs(index, guesses[i], 1) == 0)
            return guesses[i];
    residue = true;
    Vector best{0, 0};
    uint32_t bestEntropy = Entropy(index, best);
    for (size_t i = 1; i < count; ++i) {
        const uint32_t e = Entropy(index, guesses[i]);
        if (e < bestEntropy) {
            best = guesses[i];
            bestEntropy = e;
        }
    }

    const int32_t x0 = bx * kBlockSide, y0 = int32_t(index / blocksWide) * kBlockSide;
    const int32_t bw = std::min(kBlockSide, width - x0), bh = std::min(kBlockSide, height - y0);
    const size_t n = size_t(bw) * pixelBytes;
    const uint8_t* block = &current[size_t(y0) * rowBytes + size_t(x0) * pixelBytes];
    // Telling rows: the first, middle and last that are not one colour.
    auto telling = [&](int32_t r) {
        return std::memcmp(block + size_t(r) * rowBytes, block + size_t(r) * rowBytes + pixelBytes, n - pixelBytes) != 0;
    };
    int32_t probes[3];
    size_t probeCount = 0;
    if (n >= 8)
        for (const int32_t start : {0, bh / 2, bh - 1}) {
            const int32_t step = start == bh - 1 ? -1 : 1;
            for (int32_t r = start; r >= 0 && r < bh; r += step)
                if (telling(r)) {
                    if (std::find(probes, probes + probeCount, r) == probes + probeCount)
                        probes[probeCount++] = r;
                    break;
                }
        }
    const int32_t dxLow = std::max(-kMaxShift, -x0), dxHigh = std::min(kMaxShift, width - bw - x0);
    const int32_t dyLow = std::max(-kMaxShift, -y0), dyHigh = std::min(kMaxShift, height - bh - y0);
    size_t tries = 0;
    for (size_t k = 0; k < probeCount && tries < kMaxTries; ++k) {
        const uint8_t* row = block + size_t(probes[k]) * rowBytes;
        uint64_t head;
        std::memcpy(&head, row, 8);
        for (int32_t dy = dyLow; dy <= dyHigh; ++dy) {
            const uint8_t* old = &previous[size_t(y0 + probes[k] + dy) * rowBytes + size_t(x0) * pixelBytes];
            for (int32_t dx = dxLow; dx <= dxHigh; ++dx) {
                const uint8_t* from = old + ptrdiff_t(dx) * ptrdiff_t(pixelBytes);
                uint64_t h;
                std::memcpy(&h, from, 8);
                if (h != head || std::memcmp(row + 8, from + 8, n - 8) != 0)
                    continue;
                if (Differs(index, {dx, dy}, 1) == 0) {
                    residue = false;
                    return {dx, dy};
                }
                if (++tries > kMaxTries)
                    break;
                const uint32_t e = Entropy(index, {dx, dy});
                if (e < bestEntropy) {
                    best = {dx, dy};
                    bestEntropy = e;
                }
            }
        }
    }
    return best;
}

// Block info and XOR data of an inter frame at dst; returns the end.
uint8_t* ZmbvEncoder::EncodeDelta(uint8_t* dst)
{
    const size_t blocks = size_t(blocksWide) * size_t(blocksHigh);
    uint8_t* const info = dst;
    const size_t infoBytes = (blocks * 2 + 3) & ~size_t(3);
    std::memset(info, 0, infoBytes);
    dst += infoBytes;
    lastVectors.swap(vectors);
    std::fill(vectors.begin(), vectors.end(), Vector{0, 0});
    MarkChangedBlocks();
    if (changed.empty())
        return dst;
    FindShifts();

    for (const uint32_t index : changed) {
        bool residue = false;
        const Vector best = ChooseVector(int32_t(index), residue);
        vectors[index] = best;
        info[2 * index] = uint8_t(best.dx * 2) | (residue ? kBlockXor : 0);
        info[2 * index + 1] = uint8_t(best.dy * 2);
        if (residue) {
            const int32_t x0 = int32_t(index % uint32_t(blocksWide)) * kBlockSide;
            const int32_t y0 = int32_t(index / uint32_t(blocksWide)) * kBlockSide;
            const int32_t bw = std::min(kBlockSide, width - x0), bh = std::min(kBlockSide, height - y0);
            const size_t n = size_t(bw) * pixelBytes;
            const uint8_t* block = &current[size_t(y0) * rowBytes + size_t(x0) * pixelBytes];
            const uint8_t* from = &previous[size_t(y0 + best.dy) * rowBytes + size_t(x0 + best.dx) * pixelBytes];
            for (int32_t r = 0; r < bh; ++r)
                dst = XorBytes(dst, block + size_t(r) * rowBytes, from + size_t(r) * rowBytes, n);
        }
    }
    return dst;
}

}  // namespace avi
