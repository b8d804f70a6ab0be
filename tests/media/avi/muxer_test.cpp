// The RIFF/OpenDML writer: sample positions and gaps, segments past 1 GiB, crash safety
// (killed writer, cut files) and write failures.

#include "media/avi/Muxer.h"
#include "tests/media/avi/AviTestSupport.h"
#include "tests/media/avi/RiffWalker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <random>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace avitest;

namespace {

// A disk file that logs every write and fails as planned: one chosen write, which takes
// `partial` of its bytes first (the writes after it go through again unless `sticky`), or every
// byte past `budget`, like a disk that fills up.
struct FaultPlan {
    int failWrite = -1;
    size_t partial = 0;
    bool sticky = false;
    uint64_t budget = UINT64_MAX;
    RecordingFailure error{FailureKind::DiskFull, ENOSPC};
};

struct WriteCall {
    int phase;  // what the test was doing
    uint64_t offset;
    size_t bytes;
    bool audio;  // holds an audio chunk
    bool index;  // holds a standard index
};

class FaultyFile final : public avi::OutputFile {
public:
    FaultyFile(std::unique_ptr<avi::OutputFile> inner, const FaultPlan& plan) : inner(std::move(inner)), plan(plan) {}

    size_t Write(const void* data, size_t bytes) override
    {
        const int n = int(calls.size());
        calls.push_back({phase, pos, bytes, Holds(data, bytes, "01wb"), Holds(data, bytes, "ix0")});
        size_t allowed = bytes;
        if (n == plan.failWrite || (plan.sticky && plan.failWrite >= 0 && n > plan.failWrite))
            allowed = n == plan.failWrite ? std::min(plan.partial, bytes) : 0;
        if (pos + allowed > plan.budget)
            allowed = pos >= plan.budget ? 0 : size_t(plan.budget - pos);
        const size_t done = inner->Write(data, allowed);
        pos += done;
        if (done < bytes)
            failures++;
        return done;
    }
    bool Seek(uint64_t offset) override
    {
        pos = offset;
        return inner->Seek(offset);
    }
    bool Truncate(uint64_t size) override { return inner->Truncate(size); }
    bool Flush() override { return inner->Flush(); }
    bool Close() override { return inner->Close(); }
    RecordingFailure LastError() const override { return failures ? plan.error : inner->LastError(); }

    int phase = 0;
    std::vector<WriteCall> calls;
    int failures = 0;

private:
    static bool Holds(const void* data, size_t bytes, const char* text)
    {
        const auto* p = static_cast<const char*>(data);
        return std::search(p, p + bytes, text, text + std::strlen(text)) != p + bytes;
    }

    std::unique_ptr<avi::OutputFile> inner;
    FaultPlan plan;
    uint64_t pos = 0;
};

int AddVideo(avi::Muxer& m, int32_t w, int32_t h, uint32_t fps = 10)
{
    const int s = m.AddStream(VideoHeader(avi::kFccDib, w, h, fps));
    const VBitmapInfo f = Format(w, h, 24);
    EXPECT_EQ(m.SetFormat(s, &f, 40), avi::Status::Ok);
    return s;
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
        // Sample 9 written again after the checkpoint at 10 samples indexed it.
        {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 9}, avi::Status::Ok, 10, 10},
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
        EXPECT_EQ(WalkAvi(ReadFile(path)).Errors(), "");
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
        FaultPlan full;
        full.budget = budget;
        avi::Muxer m(std::make_unique<FaultyFile>(avi::CreateDiskFile(path), full));
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
        FaultPlan noRoom;
        noRoom.budget = 0;
        avi::Muxer m(std::make_unique<FaultyFile>(avi::CreateDiskFile(full), noRoom));
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

// The writer is killed while it is still writing: the header counts and the indexes on disk
// are those of its last checkpoint (once a second of movie), read here from the bytes.
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
    FILE* progress = fdopen(pipeFds[0], "r");
    ASSERT_TRUE(progress);
    constexpr int kKillAfter = 300;  // frames the writer has reported
    int reported = 0;
    char line[32];
    while (reported < kKillAfter && std::fgets(line, sizeof line, progress))
        reported = std::atoi(line);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    std::string rest;
    while (std::fgets(line, sizeof line, progress))
        rest = line;
    std::fclose(progress);
    ASSERT_TRUE(WIFSIGNALED(status));
    ASSERT_GE(reported, kKillAfter);
    EXPECT_NE(rest, "done\n") << "the writer had finished before it was killed";

    const WalkedFile walked = WalkAvi(ReadFile(path));
    EXPECT_EQ(walked.Errors(), "");
    ASSERT_EQ(walked.streams.size(), 1u);
    const uint32_t frames = walked.streams[0].length;
    // Checkpoints come every 25 frames; the one at the reported count was written before the report.
    EXPECT_EQ(frames % 25, 0u) << frames;
    EXPECT_GE(frames, uint32_t(reported / 25 * 25));
    EXPECT_EQ(walked.totalFrames, frames);
    EXPECT_EQ(walked.grandFrames, frames);
    EXPECT_EQ(walked.streams[0].superDuration, frames);
    EXPECT_EQ(walked.microSecPerFrame, 40000u);
    // What players show without counting: the duration from the header.
    const std::string probe = Shell("ffprobe -v error -select_streams 0 -show_entries stream=duration "
                                    "-of default=noprint_wrappers=1 '" + path + "'");
    EXPECT_NEAR(std::atof(probe.c_str() + probe.find("duration=") + 9), frames / 25.0, 0.001) << probe;
    // FFmpeg also finds frames that reached the disk after the checkpoint, past the RIFF's end.
    EXPECT_GE(Count(Probe(path, "nb_read_frames"), "nb_read_frames="), int(frames));
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

// Empty stretches of a sound stream are silence of its sample format: 128 for 8-bit samples,
// 0 for 16-bit ones.
TEST(AviPositions, AudioGapsAreSilenceOfTheSampleFormat)
{
    struct Case {
        const char* name;
        uint16_t bits, channels;
        const char* rawFormat;  // ffmpeg's name for the samples as stored
        uint8_t silence;
    } cases[] = {
        {"8-bit mono", 8, 1, "u8", 0x80},
        {"16-bit mono", 16, 1, "s16le", 0x00},
        {"16-bit stereo", 16, 2, "s16le", 0x00},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VWaveFormatEx w{};
        w.wFormatTag = 1;
        w.nChannels = c.channels;
        w.nSamplesPerSec = 11025;
        w.wBitsPerSample = c.bits;
        w.nBlockAlign = uint16_t(c.channels * c.bits / 8);
        w.nAvgBytesPerSec = w.nSamplesPerSec * w.nBlockAlign;
        const size_t sound = 1000, gap = 1500;
        const std::vector<uint8_t> tone(sound * w.nBlockAlign, 0x37);
        const std::string path = TempPath("silence.avi");
        {
            avi::Muxer m(avi::CreateDiskFile(path));
            const int s = m.AddStream(AudioHeader(w));
            ASSERT_EQ(m.SetFormat(s, &w, sizeof w), avi::Status::Ok);
            ASSERT_EQ(m.Write(s, 0, tone.data(), uint32_t(tone.size()), true), avi::Status::Ok);
            ASSERT_EQ(m.Write(s, int64_t(sound + gap), tone.data(), uint32_t(tone.size()), true), avi::Status::Ok);
            ASSERT_EQ(m.Close(), avi::Status::Ok);
        }
        std::vector<uint8_t> expected = tone;
        expected.resize(expected.size() + gap * w.nBlockAlign, c.silence);
        expected.insert(expected.end(), tone.begin(), tone.end());
        const std::string out = Shell("ffmpeg -v error -i '" + path + "' -f " + c.rawFormat + " - 2>&1");
        EXPECT_TRUE(std::vector<uint8_t>(out.begin(), out.end()) == expected)
            << out.size() << " bytes, expected " << expected.size();
        std::remove(path.c_str());
    }
}

// Small segments: samples written again (after a checkpoint has indexed them, and when the
// sound stream has just begun a new segment), and empty samples, across many AVIX segments.
// Every index entry names a chunk of its size, each chunk once, and the durations add up.
TEST(AviIndexes, ReplacementsAndGapsAcrossSegmentsStayIndexed)
{
    const int32_t w = 16, h = 16;
    const size_t frameBytes = size_t(DibFrameBytes(w, h, 24));
    // Segments the sound stream begins, so that the video sample written again right after
    // it lies in the segment before: the case this test is for, in the first segment (which
    // has idx1) and in later ones.
    int soundBeginsSecond = 0, soundBeginsLater = 0;
    for (uint64_t segmentBytes : {64000, 65000, 66000, 67000, 68000}) {
        SCOPED_TRACE(segmentBytes);
        const std::string path = TempPath("segments.avi");
        std::vector<int> newest;  // per video position: the value of its newest picture, -1 when empty
        {
            avi::Muxer m(avi::CreateDiskFile(path), segmentBytes);
            const int video = AddVideo(m, w, h);
            const VWaveFormatEx wave = Pcm8Mono11k();
            const int audio = m.AddStream(AudioHeader(wave));
            ASSERT_EQ(m.SetFormat(audio, &wave, sizeof wave), avi::Status::Ok);
            int64_t position = 0;
            for (int i = 0; i < 400; ++i) {
                if (i % 7 == 3) {
                    ++position;
                    newest.push_back(-1);
                }
                const std::vector<uint8_t> first(frameBytes, uint8_t(2 * i)), again(frameBytes, uint8_t(2 * i + 1));
                ASSERT_EQ(m.Write(video, position, first.data(), uint32_t(frameBytes), true), avi::Status::Ok);
                const std::vector<uint8_t> sound(1102, uint8_t(i));
                ASSERT_EQ(m.Write(audio, int64_t(i) * 1102, sound.data(), 1102, true), avi::Status::Ok);
                ASSERT_EQ(m.Write(video, position, again.data(), uint32_t(frameBytes), true), avi::Status::Ok);
                newest.push_back(uint8_t(2 * i + 1));
                ++position;
            }
            EXPECT_EQ(m.StreamLength(video), int64_t(newest.size()));
            ASSERT_EQ(m.Close(), avi::Status::Ok);
        }
        const WalkedFile walked = WalkAvi(ReadFile(path));
        EXPECT_EQ(walked.Errors(), "");
        EXPECT_EQ(walked.trailingBytes, 0u);
        ASSERT_EQ(walked.streams.size(), 2u);
        EXPECT_GT(walked.riffs, 10);
        EXPECT_EQ(walked.streams[0].length, newest.size());
        EXPECT_EQ(walked.streams[1].length, 400u * 1102);
        for (size_t r = 1; r < walked.riffStarts.size(); ++r) {
            const uint64_t from = walked.riffStarts[r];
            const uint64_t to = r + 1 < walked.riffStarts.size() ? walked.riffStarts[r + 1] : UINT64_MAX;
            uint64_t firstVideo = UINT64_MAX, firstAudio = UINT64_MAX;
            for (uint64_t pos : walked.streams[0].inMovi)
                if (pos >= from && pos < to)
                    firstVideo = std::min(firstVideo, pos);
            for (uint64_t pos : walked.streams[1].inMovi)
                if (pos >= from && pos < to)
                    firstAudio = std::min(firstAudio, pos);
            if (firstAudio < firstVideo)
                ++(r == 1 ? soundBeginsSecond : soundBeginsLater);
        }

        std::vector<uint8_t> expected;
        for (int v : newest)
            if (v >= 0)
                expected.insert(expected.end(), frameBytes, uint8_t(v));
        const auto decoded = DecodeVideo(path, "bgr24");
        EXPECT_TRUE(decoded == expected) << "decoded " << decoded.size() << " bytes, expected " << expected.size();
        std::remove(path.c_str());
    }
    EXPECT_GT(soundBeginsSecond, 0);
    EXPECT_GT(soundBeginsLater, 0);
}

// Failures at the file, one kind of write at a time. A clean run logs every write the muxer
// makes; each case then fails the one it picks from that log. Afterwards the call in which
// the failure happened has said so with the file's error, and Close has left a standard AVI
// whose headers and indexes agree with the frames in it.
constexpr int32_t kFaultWidth = 400, kFaultHeight = 300;  // frames past the batch size, written straight through
constexpr int kFaultFrames = 20;
constexpr uint32_t kFaultSoundSamples = 1103;  // 8-bit mono: odd chunks, with a pad byte
constexpr int kClosePhase = 1000;

struct FaultRun {
    int failedPhase = -1;  // the first call that did not succeed: 2 i video, 2 i + 1 sound, kClosePhase
    avi::Status failedStatus = avi::Status::Ok;
    avi::Status closeStatus = avi::Status::Ok;
    int videoWritten = 0;      // samples of the calls that succeeded
    int64_t audioWritten = 0;
    RecordingFailure error;
    std::vector<WriteCall> calls;
};

FaultRun WriteFaultMovie(const std::string& path, const FaultPlan& plan)
{
    FaultRun run;
    auto owned = std::make_unique<FaultyFile>(avi::CreateDiskFile(path), plan);
    FaultyFile* file = owned.get();  // owned by the muxer, which outlives its use here
    avi::Muxer m(std::move(owned));
    const int video = AddVideo(m, kFaultWidth, kFaultHeight);
    const VWaveFormatEx wave = Pcm8Mono11k();
    const int audio = m.AddStream(AudioHeader(wave));
    EXPECT_EQ(m.SetFormat(audio, &wave, sizeof wave), avi::Status::Ok);
    std::vector<uint8_t> sound(kFaultSoundSamples);
    auto failed = [&](int phase, avi::Status st) {
        if (st == avi::Status::Ok)
            return false;
        run.failedPhase = phase;
        run.failedStatus = st;
        return true;
    };
    for (int i = 0; i < kFaultFrames; ++i) {
        const auto frame = Frame(kFaultWidth, kFaultHeight, 24, i);
        file->phase = 2 * i;
        if (failed(2 * i, m.Write(video, i, frame.data(), uint32_t(frame.size()), true)))
            break;
        ++run.videoWritten;
        std::fill(sound.begin(), sound.end(), uint8_t(i + 1));
        file->phase = 2 * i + 1;
        if (failed(2 * i + 1, m.Write(audio, int64_t(i) * kFaultSoundSamples, sound.data(), uint32_t(sound.size()), true)))
            break;
        run.audioWritten += kFaultSoundSamples;
    }
    file->phase = kClosePhase;
    run.closeStatus = m.Close();
    if (run.failedPhase < 0)
        failed(kClosePhase, run.closeStatus);
    run.error = m.FirstError();
    run.calls = file->calls;
    return run;
}

TEST(AviFailure, EveryKindOfWriteFailsCleanly)
{
    const std::string path = TempPath("fault.avi");
    const FaultRun clean = WriteFaultMovie(path, FaultPlan{});
    ASSERT_EQ(clean.failedPhase, -1);
    ASSERT_EQ(clean.error.kind, FailureKind::None);
    const std::vector<WriteCall>& calls = clean.calls;
    const uint64_t headerBytes = calls.at(0).bytes;  // the first write: the headers up to the movi list
    const size_t frameBytes = size_t(DibFrameBytes(kFaultWidth, kFaultHeight, 24));
    auto first = [&](auto&& wanted) {
        for (size_t k = 0; k < calls.size(); ++k)
            if (wanted(calls[k]))
                return int(k);
        ADD_FAILURE() << "no such write in the clean run";
        return 0;
    };
    auto frameData = [&](int frame) {
        return first([&](const WriteCall& c) { return c.phase == 2 * frame && c.bytes == frameBytes; });
    };
    const int audioChunk = first([&](const WriteCall& c) { return c.phase >= 10 && c.audio && !c.index; });

    enum class Keeps {
        Everything,      // every sample of a call that succeeded
        AllButTheLast,   // room for the last index came from the last sample of a stream
        LastCheckpoint,  // nothing could be written any more: the file as the last checkpoint left it
    };
    const RecordingFailure otherError{FailureKind::WriteFailed, EIO};
    struct Case {
        const char* name;
        int write;  // the write that fails
        size_t partial = 0;
        bool sticky = false;
        bool diskFills = false;  // no room from the failing write's offset + partial on
        Keeps keeps = Keeps::Everything;
        int ownSample = 0;  // 1: the failing call's own sample was whole on disk before its failure
        RecordingFailure error{FailureKind::DiskFull, ENOSPC};
    } cases[] = {
        {.name = "the headers", .write = 0, .error = otherError},
        {.name = "the first frame", .write = frameData(0)},
        {.name = "a later frame", .write = frameData(13), .error = otherError},
        {.name = "a sound chunk", .write = audioChunk},
        {.name = "a checkpoint's index",
         .write = first([](const WriteCall& c) { return c.phase < kClosePhase && c.index; }),
         .ownSample = 1},
        {.name = "a checkpoint's header patch",
         .write = first([&](const WriteCall& c) { return c.phase > 0 && c.phase < kClosePhase && c.offset < headerBytes; }),
         .ownSample = 1},
        {.name = "the index at close", .write = first([](const WriteCall& c) { return c.phase == kClosePhase && c.index; })},
        {.name = "a header patch at close",
         .write = first([&](const WriteCall& c) { return c.phase == kClosePhase && c.offset < headerBytes; })},
        {.name = "half a frame", .write = frameData(13), .partial = frameBytes / 2},
        {.name = "part of a sound chunk", .write = audioChunk, .partial = 100, .error = otherError},
        // The flush begins with the sound chunk: all of it but its pad byte.
        {.name = "a sound chunk but its pad byte", .write = audioChunk, .partial = 8 + kFaultSoundSamples},
        {.name = "the disk fills between two frames", .write = frameData(13), .diskFills = true,
         .keeps = Keeps::AllButTheLast},
        {.name = "the disk fills inside a frame", .write = frameData(14), .partial = 5000, .diskFills = true,
         .keeps = Keeps::AllButTheLast},
        {.name = "the disk fills before close",
         .write = first([&](const WriteCall& c) { return c.phase == kClosePhase && c.offset >= headerBytes; }),
         .diskFills = true, .keeps = Keeps::AllButTheLast},
        {.name = "the disk fails for good", .write = frameData(13), .sticky = true, .keeps = Keeps::LastCheckpoint,
         .error = otherError},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FaultPlan plan;
        plan.error = c.error;
        if (c.diskFills) {
            plan.budget = calls[size_t(c.write)].offset + c.partial;
        } else {
            plan.failWrite = c.write;
            plan.partial = c.partial;
            plan.sticky = c.sticky;
        }
        const FaultRun run = WriteFaultMovie(path, plan);

        // Reported by the call that made the write, with the file's reason.
        EXPECT_EQ(run.failedPhase, calls[size_t(c.write)].phase);
        EXPECT_EQ(run.failedStatus, avi::Status::WriteFailed);
        EXPECT_EQ(run.closeStatus, avi::Status::WriteFailed);
        EXPECT_EQ(run.error.kind, c.error.kind);
        EXPECT_EQ(run.error.systemCode, c.error.systemCode);

        const WalkedFile walked = WalkAvi(ReadFile(path));
        EXPECT_EQ(walked.Errors(), "");
        EXPECT_EQ(walked.trailingBytes, 0u);
        ASSERT_EQ(walked.streams.size(), 2u);
        const uint32_t frames = walked.streams[0].length, samples = walked.streams[1].length;
        switch (c.keeps) {
        case Keeps::Everything:
            EXPECT_EQ(frames, uint32_t(run.videoWritten + c.ownSample));
            EXPECT_EQ(samples, uint32_t(run.audioWritten));
            break;
        case Keeps::AllButTheLast:
            EXPECT_LE(frames, uint32_t(run.videoWritten));
            EXPECT_GE(frames + 1, uint32_t(run.videoWritten));
            EXPECT_LE(samples, uint32_t(run.audioWritten));
            EXPECT_GE(samples + kFaultSoundSamples, uint32_t(run.audioWritten));
            break;
        case Keeps::LastCheckpoint:
            EXPECT_EQ(frames, uint32_t(run.videoWritten / 10 * 10));
            break;
        }
        EXPECT_EQ(Shell("ffmpeg -v error -i '" + path + "' -f null - 2>&1"), "");
        EXPECT_EQ(Count(Probe(path, "nb_read_frames"), "nb_read_frames="), int(frames));
    }
    std::remove(path.c_str());
}

}  // namespace
