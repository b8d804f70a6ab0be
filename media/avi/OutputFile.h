#pragma once
// The file a movie is written to: positioned writes that say how far they got, and why not.

#include "common/RecordingFailure.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace avi {

class OutputFile {
public:
    virtual ~OutputFile() = default;
    // Writes at the current position; returns the bytes the system took. Fewer than asked is
    // a failure, which LastError() describes.
    virtual size_t Write(const void* data, size_t bytes) = 0;
    virtual bool Seek(uint64_t offset) = 0;
    // Cuts the file (or extends it with zeros) to `size` bytes.
    virtual bool Truncate(uint64_t size) = 0;
    // Hands everything written to the system so another process sees it.
    virtual bool Flush() = 0;
    virtual bool Close() = 0;
    // Why the last call that failed failed (kind None while none has): DiskFull for a full disk,
    // WriteFailed otherwise, with errno here or the system error code (GetLastError's) on Windows.
    virtual RecordingFailure LastError() const = 0;
};

// A disk file, created anew (truncated). Null when it cannot be created.
std::unique_ptr<OutputFile> CreateDiskFile(const std::string& path);

}  // namespace avi
