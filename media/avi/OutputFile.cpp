#include "media/avi/OutputFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace avi {
namespace {

#ifdef _WIN32
// System error codes (winerror.h), for what the C runtime reports without one.
constexpr int kErrorAccessDenied = 5;       // ERROR_ACCESS_DENIED
constexpr int kErrorInvalidHandle = 6;      // ERROR_INVALID_HANDLE
constexpr int kErrorWriteFault = 29;        // ERROR_WRITE_FAULT
constexpr int kErrorHandleDiskFull = 39;    // ERROR_HANDLE_DISK_FULL
constexpr int kErrorInvalidParameter = 87;  // ERROR_INVALID_PARAMETER
constexpr int kErrorDiskFull = 112;         // ERROR_DISK_FULL

int OpenForWrite(const char* path)
{
    return _open(path, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
}
// A runtime may fail as a whole a write that the system cut short (a disk that fills up), with
// the system code of some earlier call: the file position then tells how far it got, and the
// caller asks again for the rest, which brings the real reason.
long long RawWrite(int fd, const void* data, unsigned bytes)
{
    const long long before = _telli64(fd);
    const long long n = _write(fd, data, bytes);
    if (n >= 0 || before < 0)
        return n;
    const long long after = _telli64(fd);
    return after > before ? after - before : n;
}
bool RawSeek(int fd, uint64_t offset)
{
    return _lseeki64(fd, int64_t(offset), SEEK_SET) == int64_t(offset);
}
bool RawTruncate(int fd, uint64_t size)
{
    const errno_t e = _chsize_s(fd, int64_t(size));
    if (e != 0)
        errno = e;
    return e == 0;
}
int RawClose(int fd)
{
    return _close(fd);
}
void ClearSystemError()
{
    errno = 0;
    _doserrno = 0;
}
// The runtime keeps the system's code when a system call failed; it fails some calls itself
// (a full disk that took no byte, a bad descriptor), and those get the matching system code.
RecordingFailure SystemError()
{
    int code = int(_doserrno);
    if (code == 0) {
        switch (errno) {
        case ENOSPC: code = kErrorDiskFull; break;
        case EBADF: code = kErrorInvalidHandle; break;
        case EACCES: code = kErrorAccessDenied; break;
        case EINVAL: code = kErrorInvalidParameter; break;
        default: code = kErrorWriteFault; break;
        }
    }
    const bool full = code == kErrorDiskFull || code == kErrorHandleDiskFull;
    return RecordingFailure{full ? FailureKind::DiskFull : FailureKind::WriteFailed, code};
}
RecordingFailure NoRoomError()
{
    return RecordingFailure{FailureKind::DiskFull, kErrorDiskFull};
}
RecordingFailure ClosedError()
{
    return RecordingFailure{FailureKind::WriteFailed, kErrorInvalidHandle};
}
#else
int OpenForWrite(const char* path)
{
    return open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}
long long RawWrite(int fd, const void* data, unsigned bytes)
{
    return write(fd, data, bytes);
}
bool RawSeek(int fd, uint64_t offset)
{
    return lseek(fd, off_t(offset), SEEK_SET) == off_t(offset);
}
bool RawTruncate(int fd, uint64_t size)
{
    int r;
    do
        r = ftruncate(fd, off_t(size));
    while (r != 0 && errno == EINTR);
    return r == 0;
}
int RawClose(int fd)
{
    return close(fd);
}
void ClearSystemError()
{
    errno = 0;
}
RecordingFailure SystemError()
{
    const int code = errno ? errno : EIO;
    return RecordingFailure{code == ENOSPC ? FailureKind::DiskFull : FailureKind::WriteFailed, code};
}
RecordingFailure NoRoomError()
{
    return RecordingFailure{FailureKind::DiskFull, ENOSPC};
}
RecordingFailure ClosedError()
{
    return RecordingFailure{FailureKind::WriteFailed, EBADF};
}
#endif

// Unbuffered: the writer batches small chunks itself and knows exactly what reached the system.
class DiskFile final : public OutputFile {
public:
    explicit DiskFile(int fd) : fd(fd) {}
    ~DiskFile() override { Close(); }
    DiskFile(const DiskFile&) = delete;
    DiskFile& operator=(const DiskFile&) = delete;

    // A short count is the system running out of room (or hitting a limit): the rest is asked
    // for once more, which either goes through or brings the system's reason.
    size_t Write(const void* data, size_t bytes) override
    {
        if (fd < 0)
            return Failed(ClosedError(), 0);
        constexpr size_t kMaxCall = size_t(1) << 30;
        const auto* p = static_cast<const unsigned char*>(data);
        size_t done = 0;
        bool retried = false;
        while (done < bytes) {
            const size_t part = std::min(bytes - done, kMaxCall);
            ClearSystemError();
            const long long n = RawWrite(fd, p + done, unsigned(part));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return Failed(SystemError(), done);
            done += size_t(n);
            if (size_t(n) == part)
                continue;
            if (retried)
                return Failed(NoRoomError(), done);
            retried = true;
        }
        return done;
    }
    bool Seek(uint64_t offset) override
    {
        if (fd < 0)
            return Failed(ClosedError(), false);
        ClearSystemError();
        return RawSeek(fd, offset) || Failed(SystemError(), false);
    }
    bool Truncate(uint64_t size) override
    {
        if (fd < 0)
            return Failed(ClosedError(), false);
        ClearSystemError();
        return RawTruncate(fd, size) || Failed(SystemError(), false);
    }
    bool Flush() override { return fd >= 0 || Failed(ClosedError(), false); }
    bool Close() override
    {
        if (fd < 0)
            return true;
        ClearSystemError();
        const bool ok = RawClose(fd) == 0;
        fd = -1;
        return ok || Failed(SystemError(), false);
    }
    RecordingFailure LastError() const override { return error; }

private:
    template <typename T>
    T Failed(RecordingFailure e, T result)
    {
        error = e;
        return result;
    }

    int fd;
    RecordingFailure error;
};

}  // namespace

std::unique_ptr<OutputFile> CreateDiskFile(const std::string& path)
{
    const int fd = OpenForWrite(path.c_str());
    if (fd < 0)
        return nullptr;
    return std::make_unique<DiskFile>(fd);
}

}  // namespace avi
