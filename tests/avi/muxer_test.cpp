// The RIFF/OpenDML writer: sample positions and gaps, segments past 1 GiB, crash safety
// (killed writer, cut files) and write failures.

#include "media/avi/Muxer.h"
#include "tests/avi/AviTestSupport.h"
#include "tests/avi/RiffWalker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <random>
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
    avi::FileError error{avi::FileErrorKind::DiskFull, ENOSPC};
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
    avi::FileError LastError() const override { return failures ? plan.error : inner->LastError(); }

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
    avi::FileError error;
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
    ASSERT_EQ(clean.error.kind, avi::FileErrorKind::None);
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
    const avi::FileError otherError{avi::FileErrorKind::Other, EIO};
    struct Case {
        const char* name;
        int write;  // the write that fails
        size_t partial = 0;
        bool sticky = false;
        bool diskFills = false;  // no room from the failing write's offset + partial on
        Keeps keeps = Keeps::Everything;
        int ownSample = 0;  // 1: the failing call's own sample was whole on disk before its failure
        avi::FileError error{avi::FileErrorKind::DiskFull, ENOSPC};
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
        EXPECT_EQ(run.error.code, c.error.code);

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
