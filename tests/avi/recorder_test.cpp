// AVIWriter, VideoRecorder and AudioRecorder on the file service, checked in the bytes of
// the movie they leave.

#include "common/CaptureInfo.h"
#include "media/AVIWriter.h"
#include "media/avi/AviFormat.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

class TestVideoRecorder : public VideoRecorder {
public:
    using VideoRecorder::VideoRecorder;
    int32_t NextFrame() const { return nextFrame; }
};
class TestAudioRecorder : public AudioRecorder {
public:
    using AudioRecorder::AudioRecorder;
    int32_t NextSample() const { return nextSample; }
};

std::vector<uint8_t> ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}
uint32_t U32(const std::vector<uint8_t>& b, size_t at)
{
    return at + 4 <= b.size() ? uint32_t(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24) : 0;
}
// Offset of the n-th chunk with this id (its data), or 0.
size_t Find(const std::vector<uint8_t>& b, const char* id, int n = 0)
{
    for (size_t i = 0; i + 8 <= b.size(); ++i)
        if (std::memcmp(&b[i], id, 4) == 0 && n-- == 0)
            return i + 8;
    return 0;
}

void FillInfo(CaptureInfo& info, const std::string& path, int bits, bool sound)
{
    info.fileName = path;
    info.bitmapInfo.bmiHeader.biWidth = 32;
    info.bitmapInfo.bmiHeader.biHeight = 24;
    info.bitmapInfo.bmiHeader.biBitCount = uint16_t(bits);
    info.framesPerSecond = 6;
    info.keyFrameEvery = 15;
    info.quality = 9000;
    info.recordSound = sound;
    info.waveFormat = VWaveFormatEx{1, 1, 11025, 11025, 1, 8, 0};
    info.soundBufferBytes = 1837;
}

TEST(AVIWriterFile, OpenCloseStates)
{
    AVIWriter w;
    EXPECT_EQ(w.CheckConfig(), 0);
    EXPECT_TRUE(w.SetFileName("no_such_dir\\sub\\movie.avi"));
    EXPECT_FALSE(w.Open());
    EXPECT_TRUE(w.Close());
    const std::string path = "recorder_open.avi";
    EXPECT_TRUE(w.SetFileName(path.c_str()));
    EXPECT_TRUE(w.Open());
    EXPECT_TRUE(w.Open());
    EXPECT_TRUE(w.Close());
    EXPECT_TRUE(w.Close());
    std::remove(path.c_str());
}

std::string Contents(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : std::string("(missing)");
}
void Write(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

// Each start either records or leaves the directory as it found it: a file it created is
// removed, a file it replaced comes back.
TEST(AVIWriterFile, FailedStartLeavesTheDirectoryAsItWas)
{
    const std::string path = "recorder_settle.avi";
    const struct {
        const char* what;
        std::vector<std::pair<std::string, std::string>> before;  // file and contents
        bool started;
        std::vector<std::pair<std::string, std::string>> after;   // "(missing)" for none
    } cases[] = {
        {"new, failed", {}, false, {{path, "(missing)"}, {path + ".previous", "(missing)"}}},
        {"new, started", {}, true, {{path, ""}, {path + ".previous", "(missing)"}}},
        {"replacing, failed", {{path, "older movie"}}, false, {{path, "older movie"}, {path + ".previous", "(missing)"}}},
        {"replacing, started", {{path, "older movie"}}, true, {{path, ""}, {path + ".previous", "(missing)"}}},
        {"replacing beside a file of the aside name, failed",
         {{path, "older movie"}, {path + ".previous", "kept"}}, false,
         {{path, "older movie"}, {path + ".previous", "kept"}, {path + ".previous1", "(missing)"}}},
        {"replacing beside a file of the aside name, started",
         {{path, "older movie"}, {path + ".previous", "kept"}}, true,
         {{path, ""}, {path + ".previous", "kept"}, {path + ".previous1", "(missing)"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (const char* suffix : {"", ".previous", ".previous1"})
            std::remove((path + suffix).c_str());
        for (const auto& [file, text] : c.before)
            Write(file, text);
        AVIWriter w;
        ASSERT_TRUE(w.SetFileName(path.c_str()));
        ASSERT_TRUE(w.Open());
        EXPECT_EQ(Contents(path), "") << "a new file while the start runs";
        w.SettleStart(c.started);
        EXPECT_TRUE(w.Close());
        for (const auto& [file, text] : c.after)
            EXPECT_EQ(Contents(file), text) << file;
        for (const char* suffix : {"", ".previous", ".previous1"})
            std::remove((path + suffix).c_str());
    }
}

TEST(AVIWriterFile, FileThatCannotBeMovedAsideIsOverwrittenAndNeverRemoved)
{
    const std::string path = "recorder_held.avi";
    const char* asides[] = {".previous", ".previous1", ".previous2", ".previous3"};
    Write(path, "older movie");
    // Every name it could be moved to is taken.
    for (const char* suffix : asides)
        Write(path + suffix, suffix);
    AVIWriter w;
    ASSERT_TRUE(w.SetFileName(path.c_str()));
    ASSERT_TRUE(w.Open());
    EXPECT_EQ(Contents(path), "") << "overwritten in place";
    w.SettleStart(false);
    EXPECT_TRUE(w.Close());
    EXPECT_NE(Contents(path), "(missing)") << "a file that was there is not this start's to remove";
    for (const char* suffix : asides) {
        EXPECT_EQ(Contents(path + suffix), suffix);
        std::remove((path + suffix).c_str());
    }
    std::remove(path.c_str());
}

TEST(AVIWriterFile, HeadersAreOnDiskBeforeTheFirstFrame)
{
    const std::string path = "recorder_headers.avi";
    CaptureInfo info;
    FillInfo(info, path, 16, false);
    AVIWriter w;
    EXPECT_FALSE(w.WriteHeaders()) << "no file";
    VideoRecorder v(w, info);
    ASSERT_TRUE(w.SetFileName(path.c_str()));
    ASSERT_TRUE(w.Open());
    ASSERT_TRUE(v.InitCapturing(MakeFourCC("MSVC")));
    EXPECT_EQ(ReadAll(path).size(), 0u);
    ASSERT_TRUE(w.WriteHeaders());
    const auto b = ReadAll(path);
    EXPECT_NE(Find(b, "avih"), 0u);
    EXPECT_NE(Find(b, "strf"), 0u);
    // Frames follow as usual.
    std::vector<uint8_t> frame(32 * 24 * 2, 0x42);
    EXPECT_TRUE(v.WriteFrame(frame.data(), uint32_t(frame.size()), 0));
    EXPECT_TRUE(v.EndCapturing());
    EXPECT_TRUE(w.Close());
    EXPECT_EQ(U32(ReadAll(path), Find(ReadAll(path), "strh") + 32), 1u);  // dwLength
    std::remove(path.c_str());
}

TEST(VideoRecorderFrames, PositionCases)
{
    const std::string path = "recorder_video.avi";
    CaptureInfo info;
    FillInfo(info, path, 16, false);
    AVIWriter w;
    TestVideoRecorder v(w, info);
    ASSERT_TRUE(w.SetFileName(path.c_str()));
    ASSERT_TRUE(w.Open());
    ASSERT_TRUE(v.InitCapturing(MakeFourCC("MSVC")));
    std::vector<uint8_t> frame(32 * 24 * 2, 0x42);
    struct Step {
        int32_t index;
        bool result;
        int32_t next;
    } steps[] = {{0, true, 0}, {1, true, 1}, {2, true, 2}, {5, true, 5}, {4, false, 5}, {5, true, 5}, {-1, true, 6}};
    for (const Step& s : steps) {
        SCOPED_TRACE(s.index);
        EXPECT_EQ(v.WriteFrame(frame.data(), uint32_t(frame.size()), s.index), s.result);
        EXPECT_EQ(v.NextFrame(), s.next);
    }
    EXPECT_FALSE(v.WriteFrame(frame.data(), 10, 7));  // shorter than a frame: nothing written
    EXPECT_TRUE(v.EndCapturing());
    EXPECT_EQ(v.NextFrame(), 0);
    EXPECT_TRUE(w.Close());

    const auto b = ReadAll(path);
    const size_t avih = Find(b, "avih");
    ASSERT_NE(avih, 0u);
    EXPECT_EQ(U32(b, avih + 24), 1u);  // dwStreams: video only
    const size_t strh = Find(b, "strh");
    EXPECT_EQ(U32(b, strh + 4), MakeFourCC("MSVC"));  // fccHandler
    EXPECT_EQ(U32(b, strh + 24), 6u);                  // dwRate
    EXPECT_EQ(U32(b, strh + 32), 6u);                  // dwLength: samples 0..5
    EXPECT_EQ(U32(b, strh + 40), 9000u);               // dwQuality
    const size_t strf = Find(b, "strf");
    EXPECT_EQ(U32(b, strf + 16), MakeFourCC("CRAM"));  // biCompression
    EXPECT_NE(Find(b, "Vorlux 3 Video Stream"), 0u);
    std::remove(path.c_str());
}

TEST(AudioRecorderSound, RunningPositionsAndHeader)
{
    const std::string path = "recorder_sound.avi";
    CaptureInfo info;
    FillInfo(info, path, 8, true);
    AVIWriter w;
    TestVideoRecorder v(w, info);
    TestAudioRecorder a(w, info);
    ASSERT_TRUE(w.SetFileName(path.c_str()));
    ASSERT_TRUE(w.Open());
    ASSERT_TRUE(v.InitCapturing(MakeFourCC("mrle")));
    ASSERT_TRUE(a.InitCapturing());
    std::vector<uint8_t> frame(32 * 24, 3), sound(1837, 128);
    const uint32_t samples = info.waveFormat.nSamplesPerSec / uint32_t(info.framesPerSecond);
    ASSERT_EQ(samples, 1837u);
    for (int32_t i = 0; i < 3; ++i) {
        EXPECT_TRUE(v.WriteFrame(frame.data(), uint32_t(frame.size()), i));
        EXPECT_EQ(a.NextSample(), i * 1837);
        EXPECT_TRUE(a.WriteSound(sound.data(), 1837, samples, -1));
    }
    EXPECT_FALSE(a.WriteSound(sound.data(), 1837, samples, 100));
    EXPECT_EQ(a.NextSample(), 3 * 1837);
    EXPECT_TRUE(v.EndCapturing());
    EXPECT_TRUE(a.EndCapturing());
    EXPECT_EQ(a.NextSample(), 0);
    EXPECT_TRUE(w.Close());

    const auto b = ReadAll(path);
    EXPECT_EQ(U32(b, Find(b, "avih") + 24), 2u);  // dwStreams
    const size_t strh = Find(b, "strh", 1);
    EXPECT_EQ(U32(b, strh), MakeFourCC("auds"));
    EXPECT_EQ(U32(b, strh + 20), 1u);       // dwScale: nBlockAlign
    EXPECT_EQ(U32(b, strh + 24), 11025u);   // dwRate: nAvgBytesPerSec
    EXPECT_EQ(U32(b, strh + 32), 3u * 1837); // dwLength
    EXPECT_EQ(U32(b, strh + 44), 1u);       // dwSampleSize
    EXPECT_EQ(U32(b, Find(b, "strf") + 16), 1u);  // BI_RLE8 on 8-bit frames
    EXPECT_NE(Find(b, "Vorlux 3 Audio Stream"), 0u);
    std::remove(path.c_str());
}

}  // namespace
