#pragma once
// Little-endian field writer for headers built in memory, with nested chunks.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace avi {

inline void StoreLE32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

class ByteBuffer {
public:
    void U8(uint8_t v) { bytes.push_back(v); }
    void U16(uint16_t v)
    {
        U8(uint8_t(v));
        U8(uint8_t(v >> 8));
    }
    void U32(uint32_t v)
    {
        U16(uint16_t(v));
        U16(uint16_t(v >> 16));
    }
    void U64(uint64_t v)
    {
        U32(uint32_t(v));
        U32(uint32_t(v >> 32));
    }
    void Bytes(const void* data, size_t n)
    {
        const auto* p = static_cast<const uint8_t*>(data);
        bytes.insert(bytes.end(), p, p + n);
    }
    void Zeros(size_t n) { bytes.resize(bytes.size() + n, 0); }

    // Starts a chunk (or, with a list type, a LIST/RIFF); returns the offset of its size field.
    size_t BeginChunk(uint32_t id)
    {
        U32(id);
        const size_t at = bytes.size();
        U32(0);
        return at;
    }
    size_t BeginList(uint32_t id, uint32_t type)
    {
        const size_t at = BeginChunk(id);
        U32(type);
        return at;
    }
    // Pads to even and back-patches the size (the pad byte is not counted).
    void EndChunk(size_t sizeAt)
    {
        const size_t size = bytes.size() - sizeAt - 4;
        Patch32(sizeAt, uint32_t(size));
        if (size & 1)
            U8(0);
    }
    void Patch32(size_t at, uint32_t v) { StoreLE32(&bytes[at], v); }

    size_t Size() const { return bytes.size(); }
    const uint8_t* Data() const { return bytes.data(); }
    void Clear() { bytes.clear(); }

private:
    std::vector<uint8_t> bytes;
};

}  // namespace avi
