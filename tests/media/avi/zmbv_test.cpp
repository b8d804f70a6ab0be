// The ZMBV encoder against a strict decoder written from the format description: every frame
// decodes to its input, and the stream keeps the rules other decoders rely on (intra header,
// a fresh zlib stream at each key frame and a sync flush at the end of every frame, block info
// padded to 4 bytes, vectors within +-16, nothing left over).

#include "media/avi/ZmbvEncoder.h"
#include "tests/media/avi/ZmbvScenes.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

using namespace zmbvtest;

namespace {

struct Checker {
    // What the checker saw in the last inter frame.
    struct Blocks {
        size_t total = 0, moved = 0, xored = 0;
        size_t copied(int dx, int dy) const  // blocks copied whole from (dx, dy) away
        {
            return size_t(std::count_if(blocks.begin(), blocks.end(), [&](const Block& b) {
                return b.dx == dx && b.dy == dy && !b.xored;
            }));
        }
        struct Block {
            int dx, dy;
            bool xored;
        };
        std::vector<Block> blocks;
    };

    Checker(int32_t width, int32_t height, int bits)
        : width(width), height(height), pixelBytes(size_t(bits / 8)),
          format(bits == 8 ? 4 : bits == 16 ? 5 : 8), picture(size_t(width) * size_t(height) * pixelBytes),
          palette(768)
    {
        EXPECT_EQ(inflateInit(&z), Z_OK);
    }
    ~Checker() { inflateEnd(&z); }
    Checker(const Checker&) = delete;
    Checker& operator=(const Checker&) = delete;

    // Applies one coded frame; returns "" or what broke a rule.
    std::string Frame(const std::vector<uint8_t>& code, bool key)
    {
        if (code.empty())
            return "empty frame";
        const uint8_t flags = code[0];
        if ((flags & 1) != (key ? 1 : 0))
            return "intra flag differs from the key-frame mark";
        if (flags & ~3u)
            return "undefined flag bits set";
        size_t at = 1;
        if (key) {
            if (code.size() < 7)
                return "cut intra header";
            if (code[1] != 0 || code[2] != 1)
                return "version is not 0.1";
            if (code[3] != 1)
                return "compression is not zlib";
            if (code[4] != format)
                return "wrong pixel format " + std::to_string(code[4]);
            if (code[5] == 0 || code[6] == 0)
                return "zero block size";
            if (flags & 2)
                return "palette-change flag on an intra frame";
            blockW = code[5];
            blockH = code[6];
            // A decoder may start at any key frame: its data must open a new zlib stream.
            if (inflateReset(&z) != Z_OK)
                return "inflateReset";
            started = true;
            at = 7;
        } else if (!started) {
            return "inter frame before any key frame";
        } else if ((flags & 2) && pixelBytes != 1) {
            return "palette change in a frame without a palette";
        }
        // Every frame ends with a sync flush: an empty stored block.
        if (code.size() < at + 4 || code[code.size() - 4] != 0 || code[code.size() - 3] != 0 ||
            code[code.size() - 2] != 0xFF || code[code.size() - 1] != 0xFF)
            return "frame does not end with a zlib sync flush";
        std::vector<uint8_t> data(picture.size() + 768 + 65536);
        z.next_in = const_cast<Bytef*>(code.data() + at);
        z.avail_in = uInt(code.size() - at);
        z.next_out = data.data();
        z.avail_out = uInt(data.size());
        const int rc = inflate(&z, Z_SYNC_FLUSH);
        if (rc != Z_OK || z.avail_in != 0)
            return "inflate failed: " + std::string(z.msg ? z.msg : std::to_string(rc));
        data.resize(data.size() - z.avail_out);
        return key ? Intra(data) : Inter(data, (flags & 2) != 0);
    }

    std::string Intra(const std::vector<uint8_t>& data)
    {
        const size_t paletteBytes = pixelBytes == 1 ? 768 : 0;
        if (data.size() != paletteBytes + picture.size())
            return "intra frame holds " + std::to_string(data.size()) + " bytes";
        std::copy(data.begin(), data.begin() + long(paletteBytes), palette.begin());
        std::copy(data.begin() + long(paletteBytes), data.end(), picture.begin());
        return "";
    }

    std::string Inter(const std::vector<uint8_t>& data, bool newPalette)
    {
        size_t at = 0;
        if (newPalette) {
            if (data.size() < 768)
                return "cut palette";
            for (size_t i = 0; i < 768; ++i)
                palette[i] ^= data[i];
            at = 768;
        }
        const int32_t bw = (width + blockW - 1) / blockW, bh = (height + blockH - 1) / blockH;
        const size_t blocks = size_t(bw) * size_t(bh);
        const size_t infoBytes = (blocks * 2 + 3) / 4 * 4;
        if (data.size() < at + infoBytes)
            return "cut block info";
        const uint8_t* info = &data[at];
        for (size_t i = blocks * 2; i < infoBytes; ++i)
            if (info[i] != 0)
                return "block info padding is not zero";
        size_t xorAt = at + infoBytes;
        const std::vector<uint8_t> before = picture;
        last = Blocks{};
        last.total = blocks;
        for (size_t b = 0; b < blocks; ++b) {
            const int dx = int8_t(info[2 * b]) >> 1, dy = int8_t(info[2 * b + 1]) >> 1;
            const bool xored = info[2 * b] & 1;
            if (info[2 * b + 1] & 1)
                return "low bit of dy set";
            if (dx < -16 || dx > 16 || dy < -16 || dy > 16)
                return "vector out of range";
            const int32_t x0 = int32_t(b % size_t(bw)) * blockW, y0 = int32_t(b / size_t(bw)) * blockH;
            const int32_t w = std::min(blockW, width - x0), h = std::min(blockH, height - y0);
            last.moved += dx || dy;
            last.xored += xored;
            last.blocks.push_back({dx, dy, xored});
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x) {
                    const int32_t sx = x0 + x + dx, sy = y0 + y + dy;
                    uint8_t* px = &picture[(size_t(y0 + y) * size_t(width) + size_t(x0 + x)) * pixelBytes];
                    for (size_t k = 0; k < pixelBytes; ++k) {
                        const bool inside = sx >= 0 && sy >= 0 && sx < width && sy < height;
                        px[k] = inside ? before[(size_t(sy) * size_t(width) + size_t(sx)) * pixelBytes + k] : 0;
                    }
                }
            if (!xored)
                continue;
            const size_t bytes = size_t(w) * size_t(h) * pixelBytes;
            if (data.size() < xorAt + bytes)
                return "cut block data";
            for (int32_t y = 0; y < h; ++y)
                for (size_t k = 0; k < size_t(w) * pixelBytes; ++k)
                    picture[(size_t(y0 + y) * size_t(width) + size_t(x0)) * pixelBytes + k] ^= data[xorAt++];
        }
        if (xorAt != data.size())
            return std::to_string(data.size() - xorAt) + " bytes left over";
        return "";
    }

    // The palette as a DIB colour table holds it (the reserved bytes are not stored).
    bool PaletteIs(const Palette& p) const
    {
        for (size_t i = 0; i < 256; ++i)
            if (palette[3 * i] != p[i].rgbRed || palette[3 * i + 1] != p[i].rgbGreen || palette[3 * i + 2] != p[i].rgbBlue)
                return false;
        return true;
    }

    int32_t width, height;
    size_t pixelBytes;
    uint8_t format;
    int32_t blockW = 0, blockH = 0;
    bool started = false;
    z_stream z{};
    std::vector<uint8_t> picture, palette;
    Blocks last;
};

struct Case {
    int bits;
    int32_t width, height;
    Kind kind;
    int32_t keyEvery;
};

std::string Describe(const Case& c)
{
    return std::to_string(c.bits) + "-bit " + std::to_string(c.width) + "x" + std::to_string(c.height) + " " +
           Name(c.kind) + ", key every " + std::to_string(c.keyEvery);
}

// Encodes the scene, checks every frame; the checker's view of the last inter frame goes to `last`.
void EncodeAndCheck(const Case& c, const Scene& scene, Checker::Blocks* last = nullptr)
{
    avi::ZmbvEncoder encoder;
    ASSERT_TRUE(encoder.Init(c.width, c.height, c.bits, c.keyEvery));
    Checker checker(c.width, c.height, c.bits);
    std::vector<uint8_t> code;
    for (size_t i = 0; i < scene.frames.size(); ++i) {
        if (c.bits == 8)
            encoder.SetPalette(scene.palettes[i].data(), 256);
        // Exactly the input size, so a read past it shows under ASan.
        const std::vector<uint8_t> dib = ToDib(scene.frames[i]);
        ASSERT_EQ(dib.size(), encoder.InputBytes());
        bool key = false;
        ASSERT_TRUE(encoder.Encode(dib.data(), dib.size(), false, code, key)) << "frame " << i;
        const bool expectKey = i == 0 || (c.keyEvery > 0 && i % size_t(c.keyEvery) == 0);
        EXPECT_EQ(key, expectKey) << "frame " << i;
        EXPECT_LE(code.size(), encoder.MaxOutputBytes()) << "frame " << i;
        ASSERT_EQ(checker.Frame(code, key), "") << "frame " << i;
        ASSERT_TRUE(checker.picture == scene.frames[i].pixels) << "frame " << i << " decodes to other pixels";
        if (c.bits == 8) {
            ASSERT_TRUE(checker.PaletteIs(scene.palettes[i])) << "frame " << i << " decodes to another palette";
        }
    }
    if (last)
        *last = checker.last;
}

TEST(ZmbvEncoder, EveryFrameDecodesToItsInput)
{
    std::vector<Case> cases;
    const Kind kinds[] = {Kind::Still,       Kind::ScrollUp,     Kind::ScrollDown, Kind::ScrollLeft,
                          Kind::ScrollRight, Kind::MovingWindow, Kind::Random,    Kind::PaletteChange};
    for (const int bits : {8, 16, 32})
        for (const auto& [w, h] : {std::pair{1, 1}, {3, 2}, {16, 16}, {17, 33}, {64, 48}, {401, 299}})
            for (const Kind kind : kinds)
                if (kind != Kind::PaletteChange || bits == 8)
                    for (const int32_t keyEvery : {0, 3})
                        cases.push_back({bits, w, h, kind, keyEvery});
    uint32_t seed = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(Describe(c));
        const int step = c.kind == Kind::ScrollUp || c.kind == Kind::ScrollDown ? 7 : 5;
        EncodeAndCheck(c, MakeScene(c.kind, c.width, c.height, c.bits, 7, step, seed++));
    }
}

// A scrolled document is coded as copies with the scroll's vector: only the strip that comes
// into view carries data. Vertical steps up to the format's limit, horizontal both ways.
TEST(ZmbvEncoder, ScrollIsFoundAndCopied)
{
    struct Scroll {
        Kind kind;
        int step;
    } scrolls[] = {{Kind::ScrollUp, 1}, {Kind::ScrollUp, 13}, {Kind::ScrollDown, 16},
                   {Kind::ScrollLeft, 3}, {Kind::ScrollRight, 9}};
    for (const int bits : {8, 16, 32})
        for (const Scroll& s : scrolls) {
            const Case c{bits, 320, 240, s.kind, 0};
            SCOPED_TRACE(Describe(c) + " by " + std::to_string(s.step));
            const Scene scene = MakeScene(s.kind, c.width, c.height, bits, 4, s.step, 99);
            Checker::Blocks last;
            EncodeAndCheck(c, scene, &last);
            // 20x15 blocks: all but the row or column at the incoming edge are copies, or
            // unchanged where the page is flat along the scroll.
            EXPECT_GE(last.copied(scene.dx, scene.dy) + last.copied(0, 0), last.total - 20);
            EXPECT_GE(last.copied(scene.dx, scene.dy), last.total * 3 / 4);
            EXPECT_LE(last.xored, size_t(20));
        }
}

// Which source and whether a residue, on hand-made 64x64 pictures of noise where one block
// (16, 16) changes in a way whose right coding is known.
TEST(ZmbvEncoder, ChoosesTheSourceThatCodesShortest)
{
    constexpr int32_t kSide = 64, kBlock = 16;
    auto copyBlock = [](Picture& to, int32_t tx, int32_t ty, const Picture& from, int32_t fx, int32_t fy) {
        for (int32_t y = 0; y < kBlock; ++y)
            std::memcpy(to.At(tx, ty + y), from.At(fx, fy + y), size_t(kBlock) * to.PixelBytes());
    };
    using Copy = void (*)(Picture& to, int32_t tx, int32_t ty, const Picture& from, int32_t fx, int32_t fy);
    struct Choice {
        const char* what;
        void (*make)(Picture& last, Picture& now, Copy copy);
        size_t block;  // of the 4x4
        int dx, dy;
        bool xored;
    };
    const Choice choices[] = {
        {"a block moved alone is found anywhere within reach",
         [](Picture& last, Picture& now, Copy copy) { copy(now, 16, 16, last, 11, 19); }, 5, -5, 3, false},
        {"an exact copy from afar beats a residue of one pixel in place",
         [](Picture& last, Picture& now, Copy copy) {
             copy(last, 32, 0, last, 16, 16);
             last.At(35, 3)[0] ^= 0x21;
             copy(now, 32, 0, last, 32, 0);
             copy(now, 16, 16, last, 32, 0);
         },
         5, 16, -16, false},
        {"a residue of one value beats one of fewer bytes of many values",
         [](Picture& last, Picture& now, Copy copy) {
             const size_t row = size_t(kBlock) * now.PixelBytes();
             copy(now, 16, 16, last, 0, 32);
             for (int32_t y = 4; y < kBlock; ++y)
                 for (size_t k = 0; k < row; ++k)
                     now.At(16, 16 + y)[k] ^= 0x5A;
             copy(last, 16, 16, now, 16, 16);  // in place: half as many bytes differ, at random
             for (int32_t y = 10; y < kBlock; ++y)
                 for (size_t k = 0; k < row; ++k)
                     last.At(16, 16 + y)[k] = uint8_t(Mix(int32_t(k), y) >> 5);
         },
         5, -16, 16, true},
        {"rows of one colour each take their left neighbour's vector",
         [](Picture& last, Picture& now, Copy copy) {
             for (int32_t y = 16; y < 40; ++y)
                 for (int32_t x = 32; x < kSide; ++x)
                     std::memset(last.At(x, y), 3 * y + 1, last.PixelBytes());
             now = last;
             copy(now, 16, 16, last, 19, 20);
             copy(now, 32, 16, last, 35, 20);
         },
         6, 3, 4, false},
    };
    for (const int bits : {8, 16, 32})
        for (const Choice& c : choices) {
            SCOPED_TRACE(std::to_string(bits) + "-bit: " + c.what);
            std::mt19937 rng(7);
            Picture last{kSide, kSide, bits, std::vector<uint8_t>(size_t(kSide * kSide * bits / 8))};
            for (uint8_t& b : last.pixels)
                b = uint8_t(rng());
            Picture now = last;
            c.make(last, now, copyBlock);
            Scene scene;
            scene.frames = {last, now};
            scene.palettes.assign(2, RandomPalette(rng));
            Checker::Blocks seen;
            EncodeAndCheck({bits, kSide, kSide, Kind::Random, 0}, scene, &seen);
            ASSERT_EQ(seen.blocks.size(), size_t(16));
            const auto& b = seen.blocks[c.block];
            EXPECT_EQ(b.dx, c.dx);
            EXPECT_EQ(b.dy, c.dy);
            EXPECT_EQ(b.xored, c.xored);
        }
}

TEST(ZmbvEncoder, UnchangedBlocksCostNothing)
{
    for (const int bits : {8, 16, 32}) {
        SCOPED_TRACE(std::to_string(bits) + "-bit");
        const int32_t w = 640, h = 480;
        Scene scene = MakeScene(Kind::Still, w, h, bits, 3, 0, 5);
        Put(scene.frames[2], 100, 200, 0x12345);  // one pixel, in block (6, 12)
        avi::ZmbvEncoder encoder;
        ASSERT_TRUE(encoder.Init(w, h, bits, 0));
        Checker checker(w, h, bits);
        std::vector<uint8_t> code;
        std::vector<size_t> sizes;
        for (const Picture& p : scene.frames) {
            const auto dib = ToDib(p);
            bool key = false;
            ASSERT_TRUE(encoder.Encode(dib.data(), dib.size(), false, code, key));
            ASSERT_EQ(checker.Frame(code, key), "");
            sizes.push_back(code.size());
        }
        // An unchanged frame is its block info (all zero) squeezed to a few bytes.
        EXPECT_LT(sizes[1], size_t(40));
        EXPECT_EQ(checker.last.moved, size_t(0));
        EXPECT_EQ(checker.last.xored, size_t(1));
        EXPECT_TRUE(checker.picture == scene.frames[2].pixels);
    }
}

// A replaced sample is a key frame and restarts the count; frames after it follow the rule.
TEST(ZmbvEncoder, KeyFramesFollowTheRuleAndForcedKeys)
{
    const Scene scene = MakeScene(Kind::Random, 40, 30, 16, 10, 0, 3);
    avi::ZmbvEncoder encoder;
    ASSERT_TRUE(encoder.Init(40, 30, 16, 4));
    Checker checker(40, 30, 16);
    const bool force[] = {false, false, true, false, false, false, false, false, false, false};
    const bool expected[] = {true, false, true, false, false, false, true, false, false, false};
    std::vector<uint8_t> code;
    for (size_t i = 0; i < scene.frames.size(); ++i) {
        const auto dib = ToDib(scene.frames[i]);
        bool key = false;
        ASSERT_TRUE(encoder.Encode(dib.data(), dib.size(), force[i], code, key));
        EXPECT_EQ(key, expected[i]) << "frame " << i;
        ASSERT_EQ(checker.Frame(code, key), "") << "frame " << i;
        ASSERT_TRUE(checker.picture == scene.frames[i].pixels) << "frame " << i;
    }
}

TEST(ZmbvEncoder, RefusesBadSetupAndShortFrames)
{
    struct Setup {
        int32_t width, height;
        int bits;
    } bad[] = {{0, 10, 16}, {10, 0, 16}, {-5, 10, 32}, {16385, 10, 8}, {10, 16385, 8}, {10, 10, 24},
               {10, 10, 4}, {10, 10, 0}, {10, 10, 64}};
    for (const Setup& s : bad) {
        avi::ZmbvEncoder encoder;
        EXPECT_FALSE(encoder.Init(s.width, s.height, s.bits, 0)) << s.width << "x" << s.height << "x" << s.bits;
        std::vector<uint8_t> frame(64), out;
        bool key = false;
        EXPECT_FALSE(encoder.Encode(frame.data(), frame.size(), false, out, key));
    }
    avi::ZmbvEncoder encoder;
    std::vector<uint8_t> out;
    bool key = false;
    const uint8_t byte = 0;
    EXPECT_FALSE(encoder.Encode(&byte, 1, false, out, key));  // before Init
    encoder.SetPalette(nullptr, 0);                           // before Init: nothing to set
    ASSERT_TRUE(encoder.Init(33, 7, 16, 0));
    EXPECT_EQ(encoder.InputBytes(), size_t(68 * 7));  // rows padded to 4 bytes
    std::vector<uint8_t> frame(encoder.InputBytes());
    EXPECT_FALSE(encoder.Encode(frame.data(), frame.size() - 1, false, out, key));
    EXPECT_FALSE(encoder.Encode(nullptr, frame.size(), false, out, key));
    // A refused frame leaves the stream as it was: the next one is still the first key frame.
    ASSERT_TRUE(encoder.Encode(frame.data(), frame.size(), false, out, key));
    EXPECT_TRUE(key);
}

}  // namespace
