#include "media/avi/OutputFile.h"

#include <cerrno>
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
int OpenForWrite(const char* path)
{
    return _open(path, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
}
long long RawWrite(int fd, const void* data, unsigned bytes)
{
    return _write(fd, data, bytes);
}
bool RawSeek(int fd, uint64_t offset)
{
    return _lseeki64(fd, int64_t(offset), SEEK_SET) == int64_t(offset);
}
int RawClose(int fd)
{
    return _close(fd);
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
int RawClose(int fd)
{
    return close(fd);
}
#endif

// Unbuffered: the writer batches small chunks itself and knows exactly what reached the system.
class DiskFile final : public OutputFile {
public:
    explicit DiskFile(int fd) : fd(fd) {}
    ~DiskFile() override { Close(); }
    DiskFile(const DiskFile&) = delete;
    DiskFile& operator=(const DiskFile&) = delete;

    size_t Write(const void* data, size_t bytes) override
    {
        if (fd < 0)
            return 0;
        constexpr size_t kMaxCall = size_t(1) << 30;
        const auto* p = static_cast<const unsigned char*>(data);
        size_t done = 0;
        while (done < bytes) {
            const size_t part = bytes - done < kMaxCall ? bytes - done : kMaxCall;
            const long long n = RawWrite(fd, p + done, unsigned(part));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += size_t(n);
        }
        return done;
    }
    bool Seek(uint64_t offset) override { return fd >= 0 && RawSeek(fd, offset); }
    bool Flush() override { return fd >= 0; }
    bool Close() override
    {
        if (fd < 0)
            return true;
        const bool ok = RawClose(fd) == 0;
        fd = -1;
        return ok;
    }

private:
    int fd;
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
