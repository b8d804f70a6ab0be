// The movie writer as the engine drives it: a movie named .gif becomes an animated GIF through
// the same recorders as an AVI; a full disk, a failed start and an area too large for a GIF.

#include "common/CaptureInfo.h"
#include "common/VorState.h"
#include "media/MovieWriter.h"
#include "media/avi/OutputFile.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kErrorDiskFull = 112;  // ERROR_DISK_FULL

std::vector<uint8_t> ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void FillInfo(CaptureInfo& info, const std::string& path, bool sound)
{
    info.fileName = path;
    info.bitmapInfo.bmiHeader.biWidth = 32;
    info.bitmapInfo.bmiHeader.biHeight = 24;
    info.bitmapInfo.bmiHeader.biBitCount = 24;
    info.framesPerSecond = 6;
    info.recordSound = sound;
    info.waveFormat = VWaveFormatEx{1, 1, 11025, 11025, 1, 8, 0};
    info.soundBufferBytes = 1837;
}

// A disk that takes `room` bytes and then nothing more.
class SmallDisk final : public avi::OutputFile {
public:
    SmallDisk(std::unique_ptr<avi::OutputFile> inner, uint64_t room) : inner(std::move(inner)), room(room) {}
    size_t Write(const void* data, size_t bytes) override
    {
        const size_t allowed = position >= room ? 0 : size_t(std::min<uint64_t>(bytes, room - position));
        const size_t done = inner->Write(data, allowed);
        position += done;
        full |= done < bytes;
        return done;
    }
    bool Seek(uint64_t offset) override
    {
        position = offset;
        return inner->Seek(offset);
    }
    bool Truncate(uint64_t bytes) override { return inner->Truncate(bytes); }
    bool Flush() override { return inner->Flush(); }
    bool Close() override { return inner->Close(); }
    RecordingFailure LastError() const override
    {
        return full ? RecordingFailure{FailureKind::DiskFull, kErrorDiskFull} : inner->LastError();
    }

private:
    std::unique_ptr<avi::OutputFile> inner;
    uint64_t room;
    uint64_t position = 0;
    bool full = false;
};

class WriterOnSmallDisk : public MovieWriter {
public:
    explicit WriterOnSmallDisk(uint64_t room) : room(room) {}

protected:
    std::unique_ptr<avi::OutputFile> CreateGifFile(const std::string& path) override
    {
        auto disk = avi::CreateDiskFile(path);
        return disk ? std::make_unique<SmallDisk>(std::move(disk), room) : nullptr;
    }

private:
    uint64_t room;
};

// A recording as the engine makes it, frames changing from one to the next.
struct GifRecording {
    CaptureInfo info;
    std::unique_ptr<MovieWriter> writer;
    std::unique_ptr<VideoRecorder> video;
    std::unique_ptr<AudioRecorder> audio;
    std::vector<uint8_t> frame = std::vector<uint8_t>(32 * 24 * 3, 0);

    GifRecording(const std::string& path, std::unique_ptr<MovieWriter> w, bool sound) : writer(std::move(w))
    {
        FillInfo(info, path, sound);
        video = std::make_unique<MovieVideoRecorder>(*writer, info);
        audio = std::make_unique<AudioRecorder>(*writer, info);
    }
    bool Start()
    {
        return writer->SetFileName(info.fileName.c_str()) && writer->Open() && video->InitCapturing(0) &&
               (!info.recordSound || audio->InitCapturing()) && writer->WriteHeaders();
    }
    bool Frame(int32_t index)
    {
        std::fill(frame.begin(), frame.end(), uint8_t(index * 40));
        return video->WriteFrame(frame.data(), uint32_t(frame.size()), index);
    }
    void End()
    {
        video->EndCapturing();
        audio->EndCapturing();
    }
};

}  // namespace

TEST(MovieWriterGif, RecordsTheVideoStreamAsAGif)
{
    const std::string path = "movie_writer.gif";
    GifRecording r(path, std::make_unique<MovieWriter>(), true);
    ASSERT_TRUE(r.Start());
    r.writer->SettleStart(true);
    std::vector<uint8_t> sound(1837, 128);
    for (int32_t i : {0, 1, 2, 5}) {
        EXPECT_TRUE(r.Frame(i)) << i;
        EXPECT_TRUE(r.audio->WriteSound(sound.data(), uint32_t(sound.size()), 1837, -1)) << "sound is taken";
    }
    EXPECT_FALSE(r.Frame(4)) << "a frame behind the last one";
    EXPECT_GT(r.writer->FileBytes(), 0u);
    r.End();
    EXPECT_TRUE(r.writer->Close());
    EXPECT_FALSE(r.writer->Failure());
    EXPECT_EQ(r.writer->KeptVideoFrames(), 6);
    const auto bytes = ReadAll(path);
    ASSERT_GT(bytes.size(), 6u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 6), "GIF89a");
    EXPECT_EQ(bytes.back(), 0x3B);
    std::remove(path.c_str());

    // The same writer records an AVI again for another name.
    const std::string avi = "movie_writer.avi";
    GifRecording a(avi, std::make_unique<MovieWriter>(), false);
    ASSERT_TRUE(a.Start());
    EXPECT_TRUE(a.Frame(0));
    a.End();
    EXPECT_TRUE(a.writer->Close());
    const auto riff = ReadAll(avi);
    ASSERT_GT(riff.size(), 4u);
    EXPECT_EQ(std::string(riff.begin(), riff.begin() + 4), "RIFF");
    std::remove(avi.c_str());
}

TEST(MovieWriterGif, FullDiskIsTheRecordingsFailure)
{
    const std::string path = "movie_writer_full.gif";
    GifRecording r(path, std::make_unique<WriterOnSmallDisk>(1500), false);
    ASSERT_TRUE(r.Start());
    int written = 0;
    while (written < 100 && r.Frame(written))
        ++written;
    ASSERT_LT(written, 100) << "the disk never filled";
    EXPECT_GT(written, 0);
    EXPECT_EQ(r.writer->Failure().kind, FailureKind::DiskFull);
    EXPECT_EQ(r.writer->Failure().systemCode, kErrorDiskFull);
    EXPECT_FALSE(r.Frame(written + 1)) << "nothing more after the failure";
    r.End();
    r.writer->Close();
    EXPECT_EQ(r.writer->Failure().kind, FailureKind::DiskFull);
    EXPECT_EQ(r.writer->KeptVideoFrames(), written);
    const auto bytes = ReadAll(path);
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(bytes.back(), 0x3B) << "the file ends after its last whole frame";
    std::remove(path.c_str());
}

TEST(MovieWriterGif, FailedStartLeavesTheDirectoryAsItWas)
{
    const std::string path = "movie_writer_start.gif";
    std::ofstream(path, std::ios::binary) << "an older movie";
    GifRecording r(path, std::make_unique<MovieWriter>(), false);
    ASSERT_TRUE(r.Start());
    r.End();
    r.writer->SettleStart(false);
    const auto kept = ReadAll(path);
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "an older movie");
    std::remove(path.c_str());

    GifRecording fresh(path, std::make_unique<MovieWriter>(), false);
    ASSERT_TRUE(fresh.Start());
    fresh.End();
    fresh.writer->SettleStart(false);
    EXPECT_EQ(::GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES) << "no file of a failed start";
}

TEST(MovieWriterGif, AreaTooLargeForAGifIsRefusedBeforeTheStart)
{
    struct Case {
        const char* name;
        int32_t width, height;
        int32_t result;
    } cases[] = {
        {"clip.gif", 65535, 16, 0},
        {"clip.gif", 65536, 16, kErrGifTooLarge},
        {"clip.GIF", 16, 70000, kErrGifTooLarge},
        {"clip.avi", 70000, 16, 0},
    };
    for (const Case& c : cases) {
        CaptureInfo info;
        FillInfo(info, c.name, false);
        info.bitmapInfo.bmiHeader.biWidth = c.width;
        info.bitmapInfo.bmiHeader.biHeight = c.height;
        MovieWriter writer;
        MovieVideoRecorder video(writer, info);
        EXPECT_EQ(video.CheckConfig(), c.result) << c.name << " " << c.width << "x" << c.height;
    }
}
