// ZMBV movies written through the file service and decoded by FFmpeg: bit-exact at 8, 16 and
// 32 bits, with the stream format decoders expect.

#include "tests/media/avi/AviTestSupport.h"
#include "tests/media/avi/ZmbvScenes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace zmbvtest;

namespace {

struct Case {
    int bits;
    int32_t width, height;
    Kind kind;
    int32_t keyEvery;
    uint32_t fourcc;  // as the caller spells the compressor
};

std::string Describe(const Case& c)
{
    return std::to_string(c.bits) + "-bit " + std::to_string(c.width) + "x" + std::to_string(c.height) + " " +
           Name(c.kind) + ", key every " + std::to_string(c.keyEvery);
}

VBitmapInfo InputFormat(int32_t w, int32_t h, int bits, const Palette* palette)
{
    VBitmapInfo f;
    f.bmiHeader.biWidth = w;
    f.bmiHeader.biHeight = h;
    f.bmiHeader.biBitCount = uint16_t(bits);
    f.bmiHeader.biSizeImage = uint32_t(DibFrameBytes(w, h, bits));
    if (palette)
        std::copy(palette->begin(), palette->end(), f.bmiColors);
    return f;
}

// Writes the scene through the service; an 8-bit scene hands each new colour table over
// through SetFormat at the position of the frame that first uses it.
void WriteScene(const std::string& path, const Case& c, const Scene& scene)
{
    auto file = avi::MovieFile::Create(path);
    ASSERT_TRUE(file);
    avi::Stream *raw = nullptr, *video = nullptr;
    ASSERT_EQ(file->CreateStream(raw, avitest::VideoHeader(c.fourcc, c.width, c.height, 10)), 0);
    VAVICompressOptions options;
    options.fccHandler = c.fourcc;
    options.dwKeyFrameEvery = uint32_t(c.keyEvery);
    ASSERT_EQ(file->MakeCompressedStream(video, raw, options), 0);
    for (size_t i = 0; i < scene.frames.size(); ++i) {
        if (i == 0 || (c.bits == 8 && std::memcmp(&scene.palettes[i], &scene.palettes[i - 1], sizeof(Palette)) != 0)) {
            const VBitmapInfo format = InputFormat(c.width, c.height, c.bits, c.bits == 8 ? &scene.palettes[i] : nullptr);
            ASSERT_EQ(video->SetFormat(int32_t(i), &format, sizeof format), 0) << "frame " << i;
        }
        const auto dib = ToDib(scene.frames[i]);
        int32_t samples = 0, bytes = 0;
        ASSERT_EQ(video->Write(int32_t(i), 1, dib.data(), int32_t(dib.size()), 0, &samples, &bytes), 0);
        EXPECT_EQ(samples, 1);
    }
    ASSERT_EQ(file->Close(), 0);
}

// FFmpeg's decode in the decoder's own pixel format; 8-bit frames carry their 1024-byte
// palette (blue, green, red, alpha) after the pixels.
std::vector<uint8_t> Decode(const std::string& path, int bits)
{
    const char* format = bits == 8 ? "pal8" : bits == 16 ? "rgb555le" : "bgr0";
    const std::string raw = path + ".raw";
    avitest::Shell("ffmpeg -v error -i '" + path + "' -f rawvideo -pix_fmt " + format + " -y '" + raw + "' 2>&1");
    auto bytes = avitest::ReadFile(raw);
    std::remove(raw.c_str());
    return bytes;
}

void ExpectDecodesToScene(const std::string& path, const Case& c, const Scene& scene)
{
    const std::vector<uint8_t> decoded = Decode(path, c.bits);
    const size_t frameBytes = scene.frames[0].pixels.size() + (c.bits == 8 ? 1024 : 0);
    ASSERT_EQ(decoded.size(), frameBytes * scene.frames.size());
    for (size_t i = 0; i < scene.frames.size(); ++i) {
        const uint8_t* got = &decoded[i * frameBytes];
        const std::vector<uint8_t>& want = scene.frames[i].pixels;
        ASSERT_TRUE(std::equal(want.begin(), want.end(), got)) << "frame " << i << " differs";
        if (c.bits != 8)
            continue;
        const uint8_t* pal = got + want.size();
        for (size_t k = 0; k < 256; ++k) {
            const VRgbQuad& q = scene.palettes[i][k];
            ASSERT_TRUE(pal[4 * k] == q.rgbBlue && pal[4 * k + 1] == q.rgbGreen && pal[4 * k + 2] == q.rgbRed)
                << "frame " << i << " colour " << k;
        }
    }
}

TEST(ZmbvFfmpeg, DecodesBitExact)
{
    const uint32_t zmbv = avi::kFccZmbv, lower = MakeFourCC("zmbv");
    // Sizes off the 16-pixel blocks; 399x299 and 33x5 have an odd number of blocks, so their
    // block info needs its padding.
    const Case cases[] = {
        {8, 401, 299, Kind::Still, 0, zmbv},
        {8, 401, 299, Kind::ScrollUp, 4, zmbv},
        {8, 401, 299, Kind::MovingWindow, 0, zmbv},
        {8, 399, 299, Kind::Random, 3, lower},
        {8, 64, 48, Kind::PaletteChange, 0, zmbv},
        {8, 33, 5, Kind::PaletteChange, 3, zmbv},
        {16, 401, 299, Kind::Still, 0, zmbv},
        {16, 401, 299, Kind::ScrollDown, 0, zmbv},
        {16, 401, 299, Kind::ScrollLeft, 4, zmbv},
        {16, 401, 299, Kind::MovingWindow, 3, zmbv},
        {16, 399, 299, Kind::Random, 3, lower},
        {32, 401, 299, Kind::Still, 2, zmbv},
        {32, 401, 299, Kind::ScrollUp, 0, zmbv},
        {32, 401, 299, Kind::ScrollRight, 0, zmbv},
        {32, 401, 299, Kind::MovingWindow, 0, zmbv},
        {32, 401, 299, Kind::MovingWindow, 3, zmbv},
        {32, 399, 299, Kind::Random, 4, zmbv},
        {32, 33, 5, Kind::Random, 0, zmbv},
    };
    uint32_t seed = 11;
    for (const Case& c : cases) {
        SCOPED_TRACE(Describe(c));
        const Scene scene = MakeScene(c.kind, c.width, c.height, c.bits, 8, c.kind == Kind::ScrollUp ? 12 : 6, seed++);
        const std::string path = avitest::TempPath("zmbv_" + std::to_string(seed) + ".avi");
        WriteScene(path, c, scene);
        if (HasFatalFailure())
            return;
        const char* pixFmt = c.bits == 8 ? "pal8" : c.bits == 16 ? "rgb555le" : "bgr0";
        EXPECT_EQ(avitest::Probe(path, "codec_name,codec_tag_string,pix_fmt,width,height,nb_read_frames"),
                  "codec_name=zmbv\ncodec_tag_string=ZMBV\nwidth=" + std::to_string(c.width) + "\nheight=" +
                      std::to_string(c.height) + "\npix_fmt=" + pixFmt + "\nnb_read_frames=8\n");
        ExpectDecodesToScene(path, c, scene);
        std::remove(path.c_str());
    }
}

// A frame encoded but refused by the file (a gap too long) never reaches a decoder: the next
// one must not build on it, nor on its part of the running deflate stream.
TEST(ZmbvFfmpeg, FrameTheFileRefusedIsNotBuiltOn)
{
    const Case c{32, 64, 48, Kind::MovingWindow, 0, avi::kFccZmbv};
    const Scene scene = MakeScene(c.kind, c.width, c.height, c.bits, 3, 4, 5);
    const std::string path = avitest::TempPath("zmbv_refused_frame.avi");
    auto file = avi::MovieFile::Create(path);
    ASSERT_TRUE(file);
    avi::Stream *raw = nullptr, *video = nullptr;
    ASSERT_EQ(file->CreateStream(raw, avitest::VideoHeader(c.fourcc, c.width, c.height, 10)), 0);
    VAVICompressOptions options;
    options.fccHandler = c.fourcc;
    ASSERT_EQ(file->MakeCompressedStream(video, raw, options), 0);
    const VBitmapInfo format = InputFormat(c.width, c.height, c.bits, nullptr);
    ASSERT_EQ(video->SetFormat(0, &format, sizeof format), 0);
    const int32_t positions[] = {0, int32_t(avi::kMaxGapSamples) + 2, 1};
    for (size_t i = 0; i < 3; ++i) {
        const auto dib = ToDib(scene.frames[i]);
        EXPECT_EQ(video->Write(positions[i], 1, dib.data(), int32_t(dib.size()), 0, nullptr, nullptr) == 0, i != 1)
            << "frame " << i;
    }
    ASSERT_EQ(file->Close(), 0);
    Scene written;
    written.frames = {scene.frames[0], scene.frames[2]};
    ExpectDecodesToScene(path, c, written);
    std::remove(path.c_str());
}

// The stream format: biCompression 'ZMBV', the bit count as recorded, and for 8 bits the
// colour table the movie starts with.
TEST(ZmbvFfmpeg, StreamFormat)
{
    for (const int bits : {8, 16, 32}) {
        SCOPED_TRACE(std::to_string(bits) + "-bit");
        const Case c{bits, 33, 20, Kind::PaletteChange, 0, avi::kFccZmbv};
        const Scene scene = MakeScene(bits == 8 ? Kind::PaletteChange : Kind::Random, 33, 20, bits, 6, 0, 21);
        const std::string path = avitest::TempPath("zmbv_format.avi");
        WriteScene(path, c, scene);
        if (HasFatalFailure())
            return;
        const std::vector<uint8_t> file = avitest::ReadFile(path);
        std::remove(path.c_str());
        auto u32 = [&](size_t at) {
            return uint32_t(file[at]) | uint32_t(file[at + 1]) << 8 | uint32_t(file[at + 2]) << 16 |
                   uint32_t(file[at + 3]) << 24;
        };
        size_t strf = 0;
        for (size_t i = 0; i + 8 < file.size() && !strf; ++i)
            if (u32(i) == MakeFourCC("strf"))
                strf = i;
        ASSERT_NE(strf, size_t(0));
        const size_t header = strf + 8;
        EXPECT_EQ(u32(strf + 4), bits == 8 ? 40u + 1024u : 40u);            // chunk size
        EXPECT_EQ(u32(header + 4), 33u);                                   // biWidth
        EXPECT_EQ(u32(header + 8), 20u);                                   // biHeight
        EXPECT_EQ(file[header + 14] | file[header + 15] << 8, bits);       // biBitCount
        EXPECT_EQ(u32(header + 16), avi::kFccZmbv);                        // biCompression
        EXPECT_EQ(u32(header + 32), bits == 8 ? 256u : 0u);                // biClrUsed
        if (bits == 8)
            for (size_t k = 0; k < 256; ++k) {
                const VRgbQuad& q = scene.palettes[0][k];
                ASSERT_TRUE(file[header + 40 + 4 * k] == q.rgbBlue && file[header + 41 + 4 * k] == q.rgbGreen &&
                            file[header + 42 + 4 * k] == q.rgbRed)
                    << "colour " << k;
            }
    }
}

// A colour table is taken later only from an 8-bit ZMBV stream, at the next frame's position
// and with the same picture size; 24-bit frames are written uncompressed, as for every codec
// that cannot take them.
TEST(ZmbvFfmpeg, PaletteChangesAndBitCountsRefused)
{
    const std::string path = avitest::TempPath("zmbv_refused.avi");
    auto file = avi::MovieFile::Create(path);
    ASSERT_TRUE(file);
    VAVICompressOptions options;
    options.fccHandler = avi::kFccZmbv;
    avi::Stream *raw8 = nullptr, *video8 = nullptr, *raw16 = nullptr, *video16 = nullptr, *raw24 = nullptr,
                *video24 = nullptr;
    ASSERT_EQ(file->CreateStream(raw8, avitest::VideoHeader(avi::kFccZmbv, 32, 16, 10)), 0);
    ASSERT_EQ(file->MakeCompressedStream(video8, raw8, options), 0);
    ASSERT_EQ(file->CreateStream(raw16, avitest::VideoHeader(avi::kFccZmbv, 32, 16, 10)), 0);
    ASSERT_EQ(file->MakeCompressedStream(video16, raw16, options), 0);
    ASSERT_EQ(file->CreateStream(raw24, avitest::VideoHeader(avi::kFccZmbv, 32, 16, 10)), 0);
    ASSERT_EQ(file->MakeCompressedStream(video24, raw24, options), 0);
    Palette palette{};
    const VBitmapInfo f8 = InputFormat(32, 16, 8, &palette), f16 = InputFormat(32, 16, 16, nullptr);
    const VBitmapInfo f24 = InputFormat(32, 16, 24, nullptr), wider = InputFormat(48, 16, 8, &palette);
    ASSERT_EQ(video8->SetFormat(0, &f8, sizeof f8), 0);
    ASSERT_EQ(video16->SetFormat(0, &f16, sizeof f16), 0);
    ASSERT_EQ(video24->SetFormat(0, &f24, sizeof f24), 0);
    std::vector<uint8_t> frame(DibFrameBytes(32, 16, 24), 7);
    ASSERT_EQ(video8->Write(0, 1, frame.data(), int32_t(DibFrameBytes(32, 16, 8)), 0, nullptr, nullptr), 0);
    ASSERT_EQ(video16->Write(0, 1, frame.data(), int32_t(DibFrameBytes(32, 16, 16)), 0, nullptr, nullptr), 0);
    ASSERT_EQ(video24->Write(0, 1, frame.data(), int32_t(frame.size()), 0, nullptr, nullptr), 0);
    EXPECT_EQ(video8->Write(1, 1, frame.data(), 10, 0, nullptr, nullptr), avi::kErrorShortFrame);
    EXPECT_EQ(video8->SetFormat(1, &f8, sizeof f8), 0);       // the next frame's position
    EXPECT_NE(video8->SetFormat(2, &f8, sizeof f8), 0);       // past it
    EXPECT_NE(video8->SetFormat(-1, &f8, sizeof f8), 0);
    EXPECT_NE(video8->SetFormat(1, &wider, sizeof wider), 0);  // another picture size
    EXPECT_NE(video8->SetFormat(1, &f16, sizeof f16), 0);      // another bit count
    EXPECT_NE(video16->SetFormat(1, &f16, sizeof f16), 0);     // no palette to change
    EXPECT_NE(video24->SetFormat(1, &f24, sizeof f24), 0);
    ASSERT_EQ(file->Close(), 0);
    EXPECT_EQ(avitest::Probe(path, "codec_name,pix_fmt", 0), "codec_name=zmbv\npix_fmt=pal8\n");
    EXPECT_EQ(avitest::Probe(path, "codec_name,pix_fmt", 1), "codec_name=zmbv\npix_fmt=rgb555le\n");
    EXPECT_EQ(avitest::Probe(path, "codec_name,pix_fmt", 2), "codec_name=rawvideo\npix_fmt=bgr24\n");
    std::remove(path.c_str());
}

}  // namespace
