// The file service end to end: golden files, and FFmpeg as the independent decoder.

#include "tests/media/avi/AviTestSupport.h"
#include "tests/media/avi/RiffWalker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

using namespace avitest;

namespace {

struct Movie {
    uint32_t codec;
    int32_t width, height;
    int bits;
    int frames;
    bool audio;
};

// Writes frames 0..n-1 (and one sound buffer per frame) through the service.
void WriteMovie(const std::string& path, const Movie& m, int keyEvery = 5)
{
    auto file = avi::MovieFile::Create(path);
    ASSERT_TRUE(file);
    avi::Stream *raw = nullptr, *video = nullptr, *audio = nullptr;
    ASSERT_EQ(file->CreateStream(raw, VideoHeader(m.codec, m.width, m.height, 10)), 0);
    VAVICompressOptions options;
    options.fccHandler = m.codec;
    options.dwKeyFrameEvery = uint32_t(keyEvery);
    ASSERT_EQ(file->MakeCompressedStream(video, raw, options), 0);
    const VBitmapInfo format = Format(m.width, m.height, m.bits);
    ASSERT_EQ(video->SetFormat(0, &format, sizeof format), 0);
    const VWaveFormatEx wave = Pcm8Mono11k();
    if (m.audio) {
        ASSERT_EQ(file->CreateStream(audio, AudioHeader(wave)), 0);
        ASSERT_EQ(audio->SetFormat(0, &wave, sizeof wave), 0);
    }
    std::vector<uint8_t> sound(1102);
    for (int i = 0; i < m.frames; ++i) {
        const auto frame = Frame(m.width, m.height, m.bits, i);
        int32_t s = 0, b = 0;
        ASSERT_EQ(video->Write(i, 1, frame.data(), int32_t(frame.size()), avi::kAviifKeyFrame, &s, &b), 0);
        EXPECT_EQ(s, 1);
        EXPECT_GT(b, 0);
        if (audio) {
            for (size_t k = 0; k < sound.size(); ++k)
                sound[k] = uint8_t(128 + 40 * std::sin(double(k + size_t(i) * sound.size()) / 5));
            ASSERT_EQ(audio->Write(i * 1102, 1102, sound.data(), 1102, 0, &s, &b), 0);
            EXPECT_EQ(s, 1102);
        }
    }
    ASSERT_EQ(file->Close(), 0);
}

struct Sample {
    int32_t position;
    std::vector<uint8_t> bits;
};

// Writes samples through a compressing stream; `format` is the input format as a caller gives it.
void WriteSamples(const std::string& path, uint32_t codec, const VBitmapInfo& format, size_t formatBytes,
                  const std::vector<Sample>& samples, int keyEvery = 0)
{
    auto file = avi::MovieFile::Create(path);
    ASSERT_TRUE(file);
    avi::Stream *raw = nullptr, *video = nullptr;
    const int32_t w = format.bmiHeader.biWidth, h = format.bmiHeader.biHeight;
    ASSERT_EQ(file->CreateStream(raw, VideoHeader(codec, w, h, 10)), 0);
    VAVICompressOptions options;
    options.fccHandler = codec;
    options.dwKeyFrameEvery = uint32_t(keyEvery);
    ASSERT_EQ(file->MakeCompressedStream(video, raw, options), 0);
    ASSERT_EQ(video->SetFormat(0, &format, int32_t(formatBytes)), 0);
    for (const Sample& s : samples)
        ASSERT_EQ(video->Write(s.position, 1, s.bits.data(), int32_t(s.bits.size()), avi::kAviifKeyFrame, nullptr,
                               nullptr), 0);
    ASSERT_EQ(file->Close(), 0);
}

// A picture Video 1 codes exactly: each 4x4 block, counted from the top-left corner, is a
// checkerboard of two distant colours. Rows top-down, RGB555.
struct BlockPicture {
    int32_t width, height;
    std::vector<uint16_t> pixels;

    int32_t BlocksWide() const { return (width + 3) / 4; }
    int32_t BlocksHigh() const { return (height + 3) / 4; }
    static BlockPicture Make(int32_t w, int32_t h, uint32_t seed)
    {
        BlockPicture p{w, h, std::vector<uint16_t>(size_t(w) * size_t(h))};
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                const uint32_t block = uint32_t(y / 4) * 7919u + uint32_t(x / 4) * 104729u + seed * 2654435761u;
                const uint32_t mix = (block ^ block >> 15) * 2246822519u;
                // Channels 0-11 and 20-31: far enough apart that one colour never pays.
                const uint16_t dark = uint16_t((mix >> 17) % 12 << 10 | (mix >> 22) % 12 << 5 | (mix >> 27) % 12);
                const uint16_t light = uint16_t(dark + (20 << 10 | 20 << 5 | 20));
                p.pixels[size_t(y) * size_t(w) + size_t(x)] = (x + y) % 2 ? dark : light;
            }
        return p;
    }
    // Changes the k-th block in the order the code stream visits them (bottom row of blocks
    // first, each row left to right); its two colours stay apart.
    void ChangeCodedBlock(int32_t k)
    {
        const int32_t bx = k % BlocksWide(), by = BlocksHigh() - 1 - k / BlocksWide();
        for (int32_t y = by * 4; y < std::min(height, by * 4 + 4); ++y)
            for (int32_t x = bx * 4; x < std::min(width, bx * 4 + 4); ++x)
                pixels[size_t(y) * size_t(width) + size_t(x)] ^= 0x4210;
    }
    // The 16-bit DIB a caller writes: bottom-up, rows padded to 4 bytes.
    std::vector<uint8_t> Dib() const
    {
        const size_t stride = size_t(DibStride(width, 16));
        std::vector<uint8_t> dib(stride * size_t(height));
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x) {
                const uint16_t c = pixels[size_t(height - 1 - y) * size_t(width) + size_t(x)];
                dib[size_t(y) * stride + size_t(x) * 2] = uint8_t(c);
                dib[size_t(y) * stride + size_t(x) * 2 + 1] = uint8_t(c >> 8);
            }
        return dib;
    }
};

// Compares decoded Video 1 pictures (padded to whole blocks, top-down, RGB555) with the
// expected ones in their visible area; returns what differs first.
std::string CompareVideo1(const std::vector<uint8_t>& decoded, const std::vector<BlockPicture>& expected)
{
    if (expected.empty())
        return "nothing expected";
    const BlockPicture& first = expected.front();
    const size_t shownWidth = size_t(first.BlocksWide()) * 4;
    const size_t frameBytes = shownWidth * size_t(first.BlocksHigh()) * 4 * 2;
    if (decoded.size() != frameBytes * expected.size())
        return "decoded " + std::to_string(decoded.size()) + " bytes, expected " +
               std::to_string(frameBytes * expected.size());
    for (size_t f = 0; f < expected.size(); ++f)
        for (int32_t y = 0; y < first.height; ++y)
            for (int32_t x = 0; x < first.width; ++x) {
                const size_t at = f * frameBytes + (size_t(y) * shownWidth + size_t(x)) * 2;
                const uint16_t got = uint16_t(decoded[at] | decoded[at + 1] << 8) & 0x7FFF;
                const uint16_t want = expected[f].pixels[size_t(y) * size_t(first.width) + size_t(x)];
                if (got != want)
                    return "frame " + std::to_string(f) + " row " + std::to_string(y) + " column " +
                           std::to_string(x) + ": " + std::to_string(got) + ", expected " + std::to_string(want);
            }
    return "";
}

VBitmapInfo Video1Input(int32_t w, int32_t h)
{
    return Format(w, h, 16);
}

// Golden files: a change here is a change of the file format and comes with new values.
TEST(AviGolden, PinnedSizeAndHash)
{
    struct Case {
        const char* name;
        Movie movie;
        size_t size;
        uint64_t hash;
    } cases[] = {
        {"video1", {avi::kFccMsvc, 64, 48, 16, 12, false}, 22246, 0x8d22a3e8612ade96ull},
        {"rle8", {avi::kFccMrle, 66, 40, 8, 12, false}, 25096, 0x0d01cf972c52a7ffull},
        {"video_audio", {avi::kFccMsvc, 32, 32, 24, 6, true}, 41786, 0x5daf68cbaeecdc0dull},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = TempPath(std::string("golden_") + c.name + ".avi");
        WriteMovie(path, c.movie);
        const auto bytes = ReadFile(path);
        EXPECT_EQ(bytes.size(), c.size);
        EXPECT_EQ(Hash(bytes), c.hash);
        std::remove(path.c_str());
    }
}

TEST(AviProbe, StreamsCodecSizeFramesRate)
{
    struct Case {
        Movie movie;
        const char* codec;
        int32_t shownWidth, shownHeight;
    } cases[] = {
        {{avi::kFccMsvc, 64, 48, 16, 9, false}, "msvideo1", 64, 48},
        {{avi::kFccMsvc, 62, 46, 24, 9, false}, "msvideo1", 64, 48},  // padded to whole blocks
        {{avi::kFccMrle, 66, 40, 8, 9, false}, "msrle", 66, 40},
        {{avi::kFccMrle, 40, 30, 24, 9, false}, "rawvideo", 40, 30},  // no RLE8 for 24 bits
        {{MakeFourCC("XVID"), 40, 30, 16, 9, false}, "rawvideo", 40, 30},
        {{avi::kFccMsvc, 32, 32, 16, 9, true}, "msvideo1", 32, 32},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.codec);
        const std::string path = TempPath("probe.avi");
        WriteMovie(path, c.movie);
        const std::string video = Probe(path, "codec_name,width,height,r_frame_rate,nb_read_frames");
        EXPECT_NE(video.find(std::string("codec_name=") + c.codec), std::string::npos) << video;
        EXPECT_NE(video.find("width=" + std::to_string(c.shownWidth)), std::string::npos) << video;
        EXPECT_NE(video.find("height=" + std::to_string(c.shownHeight)), std::string::npos) << video;
        EXPECT_NE(video.find("r_frame_rate=10/1"), std::string::npos) << video;
        EXPECT_NE(video.find("nb_read_frames=9"), std::string::npos) << video;
        const std::string all = Shell("ffprobe -v error -show_entries stream=codec_type,codec_name,sample_rate,channels "
                                    "-of csv=p=0 '" + path + "'");
        if (c.movie.audio)
            EXPECT_NE(all.find("pcm_u8,audio,11025,1"), std::string::npos) << all;
        else
            EXPECT_EQ(all.find("audio"), std::string::npos) << all;
        std::remove(path.c_str());
    }
}

TEST(AviDecode, Rle8IsBitExact)
{
    const Movie m{avi::kFccMrle, 66, 40, 8, 12, false};
    const std::string path = TempPath("rle8_exact.avi");
    WriteMovie(path, m, 4);
    const std::string out = Shell("ffmpeg -v error -i '" + path + "' -vf vflip -f rawvideo -pix_fmt rgb24 -y '" + path +
                                ".rgb' 2>&1");
    EXPECT_EQ(out, "");
    const auto rgb = ReadFile(path + ".rgb");
    const VBitmapInfo format = Format(m.width, m.height, 8);
    std::vector<uint8_t> expected;
    for (int i = 0; i < m.frames; ++i) {
        const auto frame = Frame(m.width, m.height, 8, i);
        for (int32_t y = 0; y < m.height; ++y)
            for (int32_t x = 0; x < m.width; ++x) {
                const VRgbQuad& q = format.bmiColors[frame[size_t(y) * size_t(DibStride(m.width, 8)) + size_t(x)]];
                expected.insert(expected.end(), {q.rgbRed, q.rgbGreen, q.rgbBlue});
            }
    }
    EXPECT_TRUE(rgb == expected) << "decoded " << rgb.size() << " bytes, expected " << expected.size();
    std::remove(path.c_str());
    std::remove((path + ".rgb").c_str());
}

// Flat panels and two-colour strokes are exact in Video 1; only the moving bar's edges and
// mixed blocks lose detail, so the picture stays far above FFmpeg's own encoder (about 23 dB).
TEST(AviDecode, Video1AbovePsnrFloor)
{
    const Movie m{avi::kFccMsvc, 64, 48, 16, 10, false};
    const std::string path = TempPath("video1_psnr.avi");
    const std::string rawPath = TempPath("video1_psnr.raw");
    WriteMovie(path, m);
    {
        std::ofstream raw(rawPath, std::ios::binary);
        for (int i = 0; i < m.frames; ++i) {
            const auto f = Frame(m.width, m.height, 16, i);
            raw.write(reinterpret_cast<const char*>(f.data()), std::streamsize(f.size()));
        }
    }
    const std::string out = Shell("ffmpeg -v info -i '" + path + "' -f rawvideo -framerate 10 -pix_fmt rgb555le -s 64x48 -i '" +
                                rawPath + "' -lavfi \"[0:v]format=gbrp[a];[1:v]vflip,format=gbrp[b];[a][b]psnr\" -f null - 2>&1");
    const size_t at = out.find("average:");
    ASSERT_NE(at, std::string::npos) << out;
    const double psnr = std::atof(out.c_str() + at + 8);
    EXPECT_GT(psnr, 30.0) << out.substr(at, 40);
    std::remove(path.c_str());
    std::remove(rawPath.c_str());
}

// Runs of unchanged blocks longer than one skip code carries (1023 blocks) are split, and
// the block after each run lands where it belongs: a still frame, then changes after runs of
// 1023, 1024, 2047 and 2048 unchanged blocks, then a still frame again.
TEST(AviDecode, Video1LongStillAreasAreExact)
{
    const int32_t w = 1024, h = 768;
    BlockPicture first = BlockPicture::Make(w, h, 1), changed = first;
    for (int32_t k : {0, 1024, 2049, 4097, 6146, 49151})
        changed.ChangeCodedBlock(k);
    const std::string path = TempPath("video1_still.avi");
    WriteSamples(path, avi::kFccMsvc, Video1Input(w, h), sizeof(VBitmapInfoHeader),
                 {{0, first.Dib()}, {1, first.Dib()}, {2, changed.Dib()}, {3, changed.Dib()}});
    EXPECT_EQ(CompareVideo1(DecodeVideo(path, "rgb555le"), {first, first, changed, changed}), "");
    std::remove(path.c_str());
}

// Sizes that are not whole blocks: the picture keeps its rows (top-left corner in place), the
// padding repeats its edges, and the encoder reads only the rows and columns the DIB holds.
TEST(AviDecode, Video1PaddedSizesKeepTheirRows)
{
    struct Case {
        int32_t width, height;
    } cases[] = {{641, 480}, {640, 479}, {643, 477}, {5, 3}, {1, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        BlockPicture first = BlockPicture::Make(c.width, c.height, 3), second = first;
        for (int32_t k = 0; k < second.BlocksWide() * second.BlocksHigh(); k += 7)
            second.ChangeCodedBlock(k);
        const std::string path = TempPath("video1_padded.avi");
        WriteSamples(path, avi::kFccMsvc, Video1Input(c.width, c.height), sizeof(VBitmapInfoHeader),
                     {{0, first.Dib()}, {1, second.Dib()}});
        EXPECT_EQ(CompareVideo1(DecodeVideo(path, "rgb555le"), {first, second}), "");
        std::remove(path.c_str());
    }
}

// 8-bit frames that no compressor here takes are stored as they are, with the colour table the
// caller gave (all of it, or the entries biClrUsed names).
TEST(AviDecode, EightBitFramesKeepTheirColourTable)
{
    struct Case {
        const char* name;
        uint32_t codec;
        uint32_t coloursUsed;
    } cases[] = {
        {"uncompressed", avi::kFccDib, 0},
        {"video 1 asked for", avi::kFccMsvc, 0},
        {"unknown compressor", MakeFourCC("XVID"), 0},
        {"16 colours", avi::kFccDib, 16},
    };
    const int32_t w = 38, h = 30;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VBitmapInfo format = Format(w, h, 8);
        format.bmiHeader.biClrUsed = c.coloursUsed;
        const size_t formatBytes = sizeof(VBitmapInfoHeader) + VBitmapInfo::UsedColours(format.bmiHeader) * 4;
        std::vector<Sample> samples;
        std::vector<uint8_t> expected;
        for (int i = 0; i < 3; ++i) {
            auto frame = Frame(w, h, 8, i * 4);
            if (c.coloursUsed)
                for (uint8_t& p : frame)
                    p &= uint8_t(c.coloursUsed - 1);
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x) {
                    const VRgbQuad& q = format.bmiColors[frame[size_t(y) * size_t(DibStride(w, 8)) + size_t(x)]];
                    expected.insert(expected.end(), {q.rgbRed, q.rgbGreen, q.rgbBlue});
                }
            samples.push_back({i, frame});
        }
        const std::string path = TempPath("eight_bit.avi");
        WriteSamples(path, c.codec, format, formatBytes, samples);
        const auto rgb = DecodeVideo(path, "rgb24", "vflip");
        EXPECT_TRUE(rgb == expected) << "decoded " << rgb.size() << " bytes, expected " << expected.size();
        std::remove(path.c_str());
    }
}

// A sample written again replaces the last one: the new one is a key frame (the one it would
// follow is gone) and the index names it, so the file shows the newest picture.
TEST(AviIndexes, ReplacedSampleIsAKeyFrameAndIndexed)
{
    const int32_t w = 64, h = 48;
    const size_t stride8 = size_t(DibStride(w, 8));
    // Pictures 2 and 2' differ a little, 1 and 2 a lot, so a 2' coded against 2 shows wrong.
    // Every block of 1 differs clearly from 0, so that 1 is coded exactly as a delta frame.
    std::vector<BlockPicture> blocks{BlockPicture::Make(w, h, 1)};
    blocks.push_back(blocks[0]);
    for (int32_t k = 0; k < blocks[1].BlocksWide() * blocks[1].BlocksHigh(); ++k)
        blocks[1].ChangeCodedBlock(k);
    blocks.push_back(BlockPicture::Make(w, h, 3));
    blocks.push_back(blocks[2]);
    blocks[3].ChangeCodedBlock(5);
    blocks.push_back(blocks[3]);
    blocks[4].ChangeCodedBlock(9);
    std::vector<std::vector<uint8_t>> indexed;
    for (int i : {0, 10, 20, 20, 30})
        indexed.push_back(Frame(w, h, 8, i));
    indexed[3][stride8 * 7 + 3] ^= 0x11;

    const int32_t positions[] = {0, 1, 2, 2, 3};
    for (const bool video1 : {true, false}) {
        SCOPED_TRACE(video1 ? "video 1" : "rle8");
        std::vector<Sample> samples;
        for (size_t i = 0; i < std::size(positions); ++i)
            samples.push_back({positions[i], video1 ? blocks[i].Dib() : indexed[i]});
        const std::string path = TempPath("replaced.avi");
        if (video1)
            WriteSamples(path, avi::kFccMsvc, Video1Input(w, h), sizeof(VBitmapInfoHeader), samples);
        else
            WriteSamples(path, avi::kFccMrle, Format(w, h, 8), sizeof(VBitmapInfo), samples);

        const WalkedFile walked = WalkAvi(ReadFile(path));
        EXPECT_EQ(walked.Errors(), "");
        ASSERT_EQ(walked.streams.size(), 1u);
        const auto& chunks = walked.streams[0].indexed;
        ASSERT_EQ(chunks.size(), 4u);
        EXPECT_TRUE(chunks[0].key);
        EXPECT_FALSE(chunks[1].key);
        EXPECT_TRUE(chunks[2].key) << "the replacement";
        EXPECT_FALSE(chunks[3].key);

        if (video1) {
            EXPECT_EQ(CompareVideo1(DecodeVideo(path, "rgb555le"), {blocks[0], blocks[1], blocks[3], blocks[4]}), "");
        } else {
            const VBitmapInfo format = Format(w, h, 8);
            std::vector<uint8_t> expected;
            for (size_t i : {0, 1, 3, 4})
                for (int32_t y = 0; y < h; ++y)
                    for (int32_t x = 0; x < w; ++x) {
                        const VRgbQuad& q = format.bmiColors[indexed[i][size_t(y) * stride8 + size_t(x)]];
                        expected.insert(expected.end(), {q.rgbRed, q.rgbGreen, q.rgbBlue});
                    }
            EXPECT_TRUE(DecodeVideo(path, "rgb24", "vflip") == expected);
        }
        std::remove(path.c_str());
    }
}

}  // namespace
