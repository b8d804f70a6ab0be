// The file service end to end: golden files, and FFmpeg as the independent decoder.

#include "tests/avi/AviTestSupport.h"

#include <gtest/gtest.h>

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

}  // namespace
