// The RIFF/OpenDML writer: sample positions and gaps, segments past 1 GiB, crash safety
// (killed writer, cut files) and write failures.

#include "media/avi/Muxer.h"
#include "tests/avi/AviTestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <random>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace avitest;

namespace {

// A file that refuses every byte after the first `budget` bytes, like a full disk.
class FullDisk final : public avi::OutputFile {
public:
    FullDisk(std::unique_ptr<avi::OutputFile> inner, uint64_t budget) : inner(std::move(inner)), budget(budget) {}
    size_t Write(const void* data, size_t bytes) override
    {
        const uint64_t room = pos >= budget ? 0 : budget - pos;
        const size_t n = inner->Write(data, size_t(std::min<uint64_t>(bytes, room)));
        pos += n;
        return n;
    }
    bool Seek(uint64_t offset) override
    {
        pos = offset;
        return inner->Seek(offset);
    }
    bool Flush() override { return inner->Flush(); }
    bool Close() override { return inner->Close(); }

private:
    std::unique_ptr<avi::OutputFile> inner;
    uint64_t budget;
    uint64_t pos = 0;
};

int AddVideo(avi::Muxer& m, int32_t w, int32_t h, uint32_t fps = 10)
{
    const int s = m.AddStream(VideoHeader(avi::kFccDib, w, h, fps));
    const VBitmapInfo f = Format(w, h, 24);
    EXPECT_EQ(m.SetFormat(s, &f, 40), avi::Status::Ok);
    return s;
}

int Count(const std::string& probe, const char* key)
{
    const size_t at = probe.find(key);
    return at == std::string::npos ? -1 : std::atoi(probe.c_str() + at + std::strlen(key));
}

TEST(AviPositions, GapsAndReplacement)
{
    struct Case {
        std::vector<int64_t> positions;
        avi::Status lastResult;
        int length;       // samples in the stream (strh dwLength)
        int readFrames;   // non-empty samples ffmpeg reads
    } cases[] = {
        {{0, 1, 2, 5}, avi::Status::Ok, 6, 4},
        {{0, 1, 2, 5, 4}, avi::Status::BadArgument, 6, 4},
        {{0, 1, 1, 2}, avi::Status::Ok, 3, 3},        // the newest sample 1 wins
        {{0, 3, 3, 3}, avi::Status::Ok, 4, 2},
        {{10}, avi::Status::Ok, 11, 1},
    };
    for (const Case& c : cases) {
        const std::string path = TempPath("positions.avi");
        avi::Muxer m(avi::CreateDiskFile(path));
        const int s = AddVideo(m, 16, 16);
        avi::Status last = avi::Status::Ok;
        for (size_t i = 0; i < c.positions.size(); ++i) {
            const auto frame = Frame(16, 16, 24, int(i));
            last = m.Write(s, c.positions[i], frame.data(), uint32_t(frame.size()), true);
        }
        EXPECT_EQ(last, c.lastResult);
        EXPECT_EQ(m.StreamLength(s), c.length);
        ASSERT_EQ(m.Close(), avi::Status::Ok);
        const std::string probe = Probe(path, "nb_frames,nb_read_frames,duration");
        EXPECT_EQ(Count(probe, "nb_frames="), c.length) << probe;
        EXPECT_EQ(Count(probe, "nb_read_frames="), c.readFrames) << probe;
        EXPECT_NEAR(std::atof(probe.c_str() + probe.find("duration=") + 9), c.length / 10.0, 0.01) << probe;
        std::remove(path.c_str());
    }
}

TEST(AviPositions, AudioGapIsSilenceAndPastPositionRefused)
{
    const std::string path = TempPath("audio.avi");
    avi::Muxer m(avi::CreateDiskFile(path));
    const VWaveFormatEx w = Pcm8Mono11k();
    const int s = m.AddStream(AudioHeader(w));
    ASSERT_EQ(m.SetFormat(s, &w, sizeof w), avi::Status::Ok);
    std::vector<uint8_t> sound(1837, 200);
    EXPECT_EQ(m.Write(s, 0, sound.data(), 1837, true), avi::Status::Ok);
    EXPECT_EQ(m.Write(s, 1837 * 2, sound.data(), 1837, true), avi::Status::Ok);
    EXPECT_EQ(m.Write(s, 100, sound.data(), 1837, true), avi::Status::BadArgument);
    EXPECT_EQ(m.StreamLength(s), 1837 * 3);
    ASSERT_EQ(m.Close(), avi::Status::Ok);
    const std::string out = Shell("ffmpeg -v error -i '" + path + "' -f u8 - | od -An -tu1 -v | tr -s ' ' '\\n' | sort | uniq -c");
    EXPECT_NE(out.find("1837 128"), std::string::npos) << out;
    EXPECT_NE(out.find("3674 200"), std::string::npos) << out;
    std::remove(path.c_str());
}

TEST(AviPositions, LeadingAudioGapIsSilenceOfItsFormat)
{
    // Sound that starts late is written at its position: the stream begins with a gap, which
    // must play as silence whatever the sample format.
    struct Case {
        uint16_t channels, bits;
        const char* decode;  // FFmpeg's raw format of the stream
        int silence;         // the value of a silent sample
    } cases[] = {{1, 8, "u8", 128}, {2, 16, "s16le", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.decode);
        const std::string path = TempPath("late-sound.avi");
        avi::Muxer m(avi::CreateDiskFile(path));
        VWaveFormatEx w = Pcm8Mono11k();
        w.nChannels = c.channels;
        w.wBitsPerSample = c.bits;
        w.nBlockAlign = uint16_t(c.channels * c.bits / 8);
        w.nAvgBytesPerSec = w.nSamplesPerSec * w.nBlockAlign;
        const int s = m.AddStream(AudioHeader(w));
        ASSERT_EQ(m.SetFormat(s, &w, sizeof w), avi::Status::Ok);
        const uint32_t gap = 5000, samples = 1000;
        std::vector<uint8_t> sound(samples * w.nBlockAlign, 77);
        ASSERT_EQ(m.Write(s, gap, sound.data(), uint32_t(sound.size()), true), avi::Status::Ok);
        EXPECT_EQ(m.StreamLength(s), gap + samples);
        ASSERT_EQ(m.Close(), avi::Status::Ok);
        // One value per line: the gap's silent samples first, then the sound.
        const std::string t = c.bits == 8 ? "u1" : "d2";
        const std::string out = Shell("ffmpeg -v error -i '" + path + "' -f " + c.decode + " - | od -An -t" + t +
                                      " -v | tr -s ' ' '\\n' | grep -v '^$' | uniq -c | awk '{print $1, $2}'");
        const std::string loud = std::to_string(c.bits == 8 ? 77 : 77 | 77 << 8);
        const std::string expected = std::to_string(gap * c.channels) + " " + std::to_string(c.silence) + "\n" +
                                     std::to_string(samples * c.channels) + " " + loud + "\n";
        EXPECT_EQ(out, expected);
        std::remove(path.c_str());
    }
}

TEST(AviFailure, FullDiskKeepsFileValidUpToLastGoodSample)
{
    for (uint64_t budget : {uint64_t(1) << 20, uint64_t(3) << 20, uint64_t(100000)}) {
        SCOPED_TRACE(budget);
        const std::string path = TempPath("full.avi");
        avi::Muxer m(std::make_unique<FullDisk>(avi::CreateDiskFile(path), budget));
        const int s = AddVideo(m, 160, 120);
        const auto frame = Frame(160, 120, 24, 0);
        int written = 0;
        avi::Status st = avi::Status::Ok;
        for (int i = 0; i < 200 && st == avi::Status::Ok; ++i) {
            st = m.Write(s, i, frame.data(), uint32_t(frame.size()), true);
            written += st == avi::Status::Ok;
        }
        EXPECT_EQ(st, avi::Status::WriteFailed);
        EXPECT_EQ(m.Write(s, 500, frame.data(), uint32_t(frame.size()), true), avi::Status::WriteFailed);
        EXPECT_EQ(m.Close(), avi::Status::WriteFailed);
        const std::string probe = Probe(path, "nb_read_frames");
        const int read = Count(probe, "nb_read_frames=");
        EXPECT_GT(read, 0) << probe;
        EXPECT_LE(read, written) << probe;
        EXPECT_EQ(Shell("ffmpeg -v error -i '" + path + "' -f null - 2>&1"), "");
        std::remove(path.c_str());
    }
}

// A recording's start writes the headers: a disk too full for them fails there, otherwise they
// are on disk before the first sample and the movie goes on as usual.
TEST(AviFailure, BeginPutsTheHeadersOnDiskOrFails)
{
    {
        avi::Muxer m(avi::CreateDiskFile(TempPath("begin_none.avi")));
        EXPECT_EQ(m.Begin(), avi::Status::BadState) << "no stream yet";
    }
    const std::string full = TempPath("begin_full.avi");
    {
        avi::Muxer m(std::make_unique<FullDisk>(avi::CreateDiskFile(full), 0));
        AddVideo(m, 160, 120);
        EXPECT_EQ(m.Begin(), avi::Status::WriteFailed);
        EXPECT_EQ(m.Close(), avi::Status::WriteFailed);
    }
    std::remove(full.c_str());

    const std::string path = TempPath("begin.avi");
    avi::Muxer m(avi::CreateDiskFile(path));
    const int s = AddVideo(m, 160, 120);
    ASSERT_EQ(m.Begin(), avi::Status::Ok);
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_GT(st.st_size, 0);
    EXPECT_EQ(m.Begin(), avi::Status::Ok) << "once is enough";
    const VBitmapInfo f = Format(160, 120, 24);
    EXPECT_EQ(m.SetFormat(s, &f, 40), avi::Status::BadState);
    EXPECT_EQ(m.AddStream(VideoHeader(avi::kFccDib, 16, 16, 10)), -1);
    for (int i = 0; i < 3; ++i) {
        const auto frame = Frame(160, 120, 24, i);
        ASSERT_EQ(m.Write(s, i, frame.data(), uint32_t(frame.size()), true), avi::Status::Ok);
    }
    ASSERT_EQ(m.Close(), avi::Status::Ok);
    EXPECT_EQ(Count(Probe(path, "nb_read_frames"), "nb_read_frames="), 3);
    EXPECT_EQ(Shell("ffmpeg -v error -i '" + path + "' -f null - 2>&1"), "");
    std::remove(path.c_str());
}

// Cut anywhere after the first checkpoint, the file still opens and gives the frames of
// the last checkpoint before the cut.
TEST(AviCrash, FileCutAtRandomPoints)
{
    const std::string path = TempPath("whole.avi");
    {
        avi::Muxer m(avi::CreateDiskFile(path));
        const int s = AddVideo(m, 64, 48);
        for (int i = 0; i < 120; ++i) {
            const auto frame = Frame(64, 48, 24, i);
            ASSERT_EQ(m.Write(s, i, frame.data(), uint32_t(frame.size()), true), avi::Status::Ok);
        }
        // Leave without Close: the file holds only what the checkpoints made consistent.
        ASSERT_EQ(m.Checkpoint(), avi::Status::Ok);
    }
    const auto whole = ReadFile(path);
    std::mt19937 random(7);
    for (int round = 0; round < 8; ++round) {
        const size_t cut = 120000 + random() % (whole.size() - 120000);
        const std::string cutPath = TempPath("cut.avi");
        std::ofstream(cutPath, std::ios::binary).write(reinterpret_cast<const char*>(whole.data()), std::streamsize(cut));
        const int read = Count(Probe(cutPath, "nb_read_frames"), "nb_read_frames=");
        SCOPED_TRACE(cut);
        EXPECT_GE(read, int(cut / (64 * 48 * 3 + 8)) - 12);
        EXPECT_LE(read, 120);
        std::remove(cutPath.c_str());
    }
    std::remove(path.c_str());
}

TEST(AviCrash, KilledWriterLeavesReadableFile)
{
    const char* helper = std::getenv("AVI_CRASH_WRITER");
    ASSERT_TRUE(helper && *helper);
    const std::string path = TempPath("killed.avi");
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(pipeFds[1], 1);
        execl(helper, helper, path.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeFds[1]);
    char buf[8] = {};
    ASSERT_GT(read(pipeFds[0], buf, sizeof buf - 1), 0);
    usleep(300000);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    close(pipeFds[0]);
    ASSERT_TRUE(WIFSIGNALED(status));
    const std::string probe = Probe(path, "codec_name,nb_read_frames");
    EXPECT_GE(Count(probe, "nb_read_frames="), 50) << probe;
    EXPECT_EQ(Shell("ffmpeg -v error -i '" + path + "' -f null - 2>&1"), "");
    std::remove(path.c_str());
}

TEST(AviSegments, HeavyFilePastOneGibReadsEveryFrame)
{
    const std::string path = TempPath("big.avi");
    struct statvfs fs {};
    if (statvfs("/tmp", &fs) == 0 && uint64_t(fs.f_bavail) * fs.f_frsize < (uint64_t(3) << 30))
        GTEST_SKIP() << "less than 3 GB free";
    const int32_t w = 1024, h = 768;
    const int frames = 520;  // 520 x 2.25 MiB: 1.14 GiB, one AVIX segment
    {
        avi::Muxer m(avi::CreateDiskFile(path));
        const int s = AddVideo(m, w, h, 25);
        std::vector<uint8_t> frame(size_t(DibFrameBytes(w, h, 24)), 0x55);
        for (int i = 0; i < frames; ++i) {
            frame[0] = uint8_t(i);
            ASSERT_EQ(m.Write(s, i, frame.data(), uint32_t(frame.size()), true), avi::Status::Ok);
        }
        ASSERT_EQ(m.Close(), avi::Status::Ok);
    }
    const std::string probe = Probe(path, "nb_frames,nb_read_frames");
    std::remove(path.c_str());
    EXPECT_EQ(Count(probe, "nb_frames="), frames) << probe;
    EXPECT_EQ(Count(probe, "nb_read_frames="), frames) << probe;
}

}  // namespace
