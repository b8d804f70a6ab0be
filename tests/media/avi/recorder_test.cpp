// AVIWriter, VideoRecorder and AudioRecorder on the file service, checked in the bytes of
// the movie they leave.

#include "common/CaptureInfo.h"
#include "media/AVIWriter.h"
#include "media/avi/AviFormat.h"
#include "media/avi/OutputFile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
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

// ---- failures reach the recorders' callers ------------------------------------------------------

constexpr int kErrorDiskFull = 112;  // ERROR_DISK_FULL

// A disk file on a disk with `room` bytes: the write that would pass it is cut short, and every
// write after that takes nothing, as on a full disk.
class FullDisk final : public avi::OutputFile {
public:
    FullDisk(std::unique_ptr<avi::OutputFile> inner, uint64_t room) : inner(std::move(inner)), room(room) {}

    size_t Write(const void* data, size_t bytes) override
    {
        size_t allowed = bytes;
        if (position + bytes > std::max(size, room))
            allowed = position >= std::max(size, room) ? 0 : size_t(std::max(size, room) - position);
        const size_t done = inner->Write(data, allowed);
        position += done;
        size = std::max(size, position);
        if (done < bytes)
            full = true;
        return done;
    }
    bool Seek(uint64_t offset) override
    {
        position = offset;
        return inner->Seek(offset);
    }
    bool Truncate(uint64_t bytes) override
    {
        size = bytes;
        return inner->Truncate(bytes);
    }
    bool Flush() override { return inner->Flush(); }
    bool Close() override { return inner->Close(); }
    RecordingFailure LastError() const override
    {
        return full ? RecordingFailure{FailureKind::DiskFull, kErrorDiskFull} : inner->LastError();
    }
    uint64_t Size() const { return size; }

private:
    std::unique_ptr<avi::OutputFile> inner;
    uint64_t room;
    uint64_t position = 0;
    uint64_t size = 0;
    bool full = false;
};

class WriterOnSmallDisk : public AVIWriter {
public:
    explicit WriterOnSmallDisk(uint64_t room) : room(room) {}

protected:
    std::unique_ptr<avi::MovieFile> CreateMovieFile(const std::string& path) override
    {
        auto disk = avi::CreateDiskFile(path);
        if (!disk)
            return nullptr;
        auto full = std::make_unique<FullDisk>(std::move(disk), room);
        this->disk = full.get();
        return std::make_unique<avi::MovieFile>(std::move(full));
    }

public:
    FullDisk* disk = nullptr;  // owned by the open file

private:
    uint64_t room;
};

// The recording of the tests below: an uncompressed frame (every one takes the same room) and,
// with sound, two sound buffers per frame, so that the sound reaches a checkpoint first.
struct SmallMovie {
    CaptureInfo info;
    WriterOnSmallDisk writer;
    TestVideoRecorder video{writer, info};
    TestAudioRecorder audio{writer, info};
    std::vector<uint8_t> frame = std::vector<uint8_t>(32 * 24 * 3, 0x5A);
    std::vector<uint8_t> sound = std::vector<uint8_t>(1837, 128);

    SmallMovie(const std::string& path, uint64_t room, bool withSound) : writer(room)
    {
        FillInfo(info, path, 24, withSound);
        EXPECT_TRUE(writer.SetFileName(path.c_str()));
        EXPECT_TRUE(writer.Open());
        EXPECT_TRUE(video.InitCapturing(0));
        if (withSound) {
            EXPECT_TRUE(audio.InitCapturing());
        }
    }
    // One frame and its sound; which call was refused, if one was.
    enum Refused { None, Frame, Sound };
    Refused Step(int index)
    {
        if (!video.WriteFrame(frame.data(), uint32_t(frame.size()), index))
            return Frame;
        for (int i = 0; i < 2 && info.recordSound; ++i)
            if (!audio.WriteSound(sound.data(), uint32_t(sound.size()), 1837, -1))
                return Sound;
        return None;
    }
};

// Every kind of write that meets the full disk comes back false from the recorder, the writer
// names the disk as full, and the file it closes says how many frames it holds.
TEST(RecorderFailures, FullDiskReachesTheCaller)
{
    const std::string path = "recorder_full.avi";
    // What the first frame puts on the disk: with a little more room, the next checkpoint's
    // write goes past the end of the disk.
    uint64_t firstBytes[2] = {};
    for (bool withSound : {false, true}) {
        SmallMovie probe(path, UINT64_MAX, withSound);
        ASSERT_EQ(probe.Step(0), SmallMovie::None);
        ASSERT_NE(probe.writer.disk, nullptr);
        firstBytes[withSound] = probe.writer.disk->Size();
        probe.video.EndCapturing();
        probe.audio.EndCapturing();
        EXPECT_TRUE(probe.writer.Close());
    }
    struct Case {
        const char* name;
        bool sound;
        bool roomForTheFirst;       // the disk takes what the first frame puts on it, and 8 KiB
        SmallMovie::Refused refused;
    } cases[] = {
        {"the first frame", false, false, SmallMovie::Frame},
        {"a later frame", false, true, SmallMovie::Frame},
        {"a sound chunk", true, true, SmallMovie::Sound},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const uint64_t room = c.roomForTheFirst ? firstBytes[c.sound] + 8192 : 1000;
        SmallMovie m(path, room, c.sound);
        AVIWriter& w = m.writer;
        EXPECT_FALSE(w.Failure());
        int written = 0;
        SmallMovie::Refused refused = SmallMovie::None;
        for (int i = 0; i < 100 && refused == SmallMovie::None; ++i) {
            refused = m.Step(i);
            written += refused != SmallMovie::Frame;
        }
        ASSERT_NE(refused, SmallMovie::None) << "the disk never filled";
        EXPECT_EQ(refused, c.refused);
        EXPECT_EQ(written > 0, c.roomForTheFirst) << written;
        EXPECT_EQ(w.Failure().kind, FailureKind::DiskFull);
        EXPECT_EQ(w.Failure().systemCode, kErrorDiskFull);
        // Nothing more goes in after the failure.
        EXPECT_FALSE(m.video.WriteFrame(m.frame.data(), uint32_t(m.frame.size()), 99));
        m.video.EndCapturing();
        m.audio.EndCapturing();
        EXPECT_FALSE(w.Close());
        EXPECT_EQ(w.Failure().kind, FailureKind::DiskFull);  // kept after the close

        // The closed file holds the frames written before the failure, and its header says so.
        const auto b = ReadAll(path);
        const size_t strh = Find(b, "strh");
        ASSERT_NE(strh, 0u);
        EXPECT_EQ(int64_t(U32(b, strh + 32)), w.KeptVideoFrames());  // dwLength
        EXPECT_LE(w.KeptVideoFrames(), written);
        EXPECT_GE(w.KeptVideoFrames(), c.roomForTheFirst ? 1 : 0);
        std::remove(path.c_str());
    }
    {
        // The next file starts with no failure.
        AVIWriter next;
        ASSERT_TRUE(next.SetFileName(path.c_str()));
        ASSERT_TRUE(next.Open());
        EXPECT_FALSE(next.Failure());
        EXPECT_TRUE(next.Close());
        std::remove(path.c_str());
    }
}

// A stream that cannot be set up is a failed InitCapturing, not a quiet one.
TEST(RecorderFailures, StreamsThatCannotBeSetUp)
{
    const std::string path = "recorder_setup.avi";
    CaptureInfo info;
    FillInfo(info, path, 24, true);
    AVIWriter w;
    TestVideoRecorder v(w, info);
    TestAudioRecorder a(w, info);
    // No file open: nothing can be created.
    EXPECT_FALSE(v.InitCapturing(MakeFourCC("MSVC")));
    EXPECT_FALSE(a.InitCapturing());
    ASSERT_TRUE(w.SetFileName(path.c_str()));
    ASSERT_TRUE(w.Open());
    info.bitmapInfo.bmiHeader.biWidth = 0;  // a format no compressor takes
    EXPECT_FALSE(v.InitCapturing(MakeFourCC("MSVC")));
    EXPECT_TRUE(w.Failure());
    v.EndCapturing();
    w.Close();
    std::remove(path.c_str());
}

}  // namespace
