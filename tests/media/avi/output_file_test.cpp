// The disk file under real limits: a full device, and a file size limit that cuts a write
// short. Short writes are failures with the system's reason, and a movie cut off by one stays
// a playable file up to the failure.

#include "media/avi/OutputFile.h"
#include "tests/media/avi/AviTestSupport.h"
#include "tests/media/avi/RiffWalker.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <sys/resource.h>

using namespace avitest;

namespace {

// Limits the size of every file this process writes, and ignores the signal that going past
// the limit raises, for as long as it lives.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ok = getrlimit(RLIMIT_FSIZE, &saved) == 0;
        previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limited{bytes, saved.rlim_max};
        ok = ok && setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previousHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool ok = false;

private:
    rlimit saved{};
    void (*previousHandler)(int) = SIG_DFL;
};

TEST(DiskFile, ShortAndRefusedWritesFailWithTheSystemsReason)
{
    const std::vector<uint8_t> data(100000, 0x5A);
    {
        SCOPED_TRACE("a full device");
        auto file = avi::CreateDiskFile("/dev/full");
        ASSERT_TRUE(file);
        EXPECT_EQ(file->LastError().kind, FailureKind::None);
        EXPECT_EQ(file->Write(data.data(), data.size()), 0u);
        EXPECT_EQ(file->LastError().kind, FailureKind::DiskFull);
        EXPECT_EQ(file->LastError().systemCode, ENOSPC);
    }
    {
        SCOPED_TRACE("a file size limit inside the write");
        const std::string path = TempPath("limited.bin");
        size_t done = 0;
        RecordingFailure error;
        {
            auto file = avi::CreateDiskFile(path);
            ASSERT_TRUE(file);
            FileSizeLimit limit(30000);
            ASSERT_TRUE(limit.ok);
            done = file->Write(data.data(), data.size());
            error = file->LastError();
        }
        EXPECT_EQ(done, 30000u);
        EXPECT_EQ(error.kind, FailureKind::WriteFailed);
        EXPECT_EQ(error.systemCode, EFBIG);
        EXPECT_EQ(ReadFile(path).size(), 30000u);
        std::remove(path.c_str());
    }
    {
        SCOPED_TRACE("a closed file");
        const std::string path = TempPath("closed.bin");
        auto file = avi::CreateDiskFile(path);
        ASSERT_TRUE(file);
        EXPECT_TRUE(file->Close());
        EXPECT_EQ(file->Write(data.data(), 10), 0u);
        EXPECT_EQ(file->LastError().kind, FailureKind::WriteFailed);
        EXPECT_FALSE(file->Seek(0));
        std::remove(path.c_str());
    }
    EXPECT_EQ(avi::CreateDiskFile(TempPath("no_such_dir/movie.avi")), nullptr);
}

// A movie written until the file size limit stops it: the write that meets the limit fails,
// and the file holds the frames before it, with headers and indexes that say so.
TEST(DiskFile, MovieCutByTheFileSizeLimitStaysPlayable)
{
    const std::string path = TempPath("limited.avi");
    const int32_t w = 160, h = 120;
    constexpr rlim_t kLimit = 2000000;
    int written = 0;
    int result = 0;
    int closed = 0;
    RecordingFailure error;
    {
        auto file = avi::MovieFile::Create(path);
        ASSERT_TRUE(file);
        avi::Stream* video = nullptr;
        ASSERT_EQ(file->CreateStream(video, VideoHeader(avi::kFccDib, w, h, 10)), 0);
        const VBitmapInfo format = Format(w, h, 24);
        ASSERT_EQ(video->SetFormat(0, &format, sizeof(VBitmapInfoHeader)), 0);
        FileSizeLimit limit(kLimit);
        ASSERT_TRUE(limit.ok);
        for (int i = 0; i < 100 && result == 0; ++i) {
            const auto frame = Frame(w, h, 24, i);
            result = video->Write(i, 1, frame.data(), int32_t(frame.size()), avi::kAviifKeyFrame, nullptr, nullptr);
            written += result == 0;
        }
        closed = file->Close();
        error = file->FirstError();
    }
    EXPECT_EQ(result, int(avi::Status::WriteFailed));
    EXPECT_EQ(closed, int(avi::Status::WriteFailed));
    EXPECT_EQ(error.kind, FailureKind::WriteFailed);
    EXPECT_EQ(error.systemCode, EFBIG);
    EXPECT_GT(written, 20);
    const WalkedFile walked = WalkAvi(ReadFile(path));
    EXPECT_EQ(walked.Errors(), "");
    ASSERT_EQ(walked.streams.size(), 1u);
    EXPECT_LE(walked.streams[0].length, uint32_t(written));
    // Frames fill the file up to the limit, but for room for the last index.
    const uint64_t chunkBytes = DibFrameBytes(w, h, 24) + 8;
    EXPECT_GT(ReadFile(path).size() + 2 * chunkBytes, uint64_t(kLimit));
    EXPECT_EQ(Count(Probe(path, "nb_read_frames"), "nb_read_frames="), int(walked.streams[0].length));
    EXPECT_EQ(Shell("ffmpeg -v error -i '" + path + "' -f null - 2>&1"), "");
    std::remove(path.c_str());
}

}  // namespace
