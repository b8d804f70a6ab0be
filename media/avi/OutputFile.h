#pragma once
// The file a movie is written to: positioned writes that say how far they got.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace avi {

class OutputFile {
public:
    virtual ~OutputFile() = default;
    // Writes at the current position; returns the bytes the system took (all of them on success).
    virtual size_t Write(const void* data, size_t bytes) = 0;
    virtual bool Seek(uint64_t offset) = 0;
    // Hands everything written to the system so another process sees it.
    virtual bool Flush() = 0;
    virtual bool Close() = 0;
};

// A disk file, created anew (truncated). Null when it cannot be created.
std::unique_ptr<OutputFile> CreateDiskFile(const std::string& path);

}  // namespace avi
