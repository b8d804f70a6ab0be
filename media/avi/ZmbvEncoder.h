#pragma once
// ZMBV ("Zip Motion Blocks Video") encoder, lossless: 8-bit palettised, 16-bit RGB555 and 32-bit
// BGRX frames. Between key frames each block is skipped, copied from a moved place in the last
// frame, or sent as its XOR against that place; one zlib stream runs from each key frame to the
// next and is flushed at every frame.

#include "common/VRecords.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct z_stream_s;

namespace avi {

class ZmbvEncoder {
public:
    // width, height up to kMaxFrameSide; input 8 (palettised, see SetPalette), 16 (RGB555) or 32
    // (BGRX) bits, bottom-up rows padded to 4 bytes; a key frame every keyFrameEvery frames (0:
    // only the first). False for anything else, or when the buffers or zlib cannot be had.
    bool Init(int32_t width, int32_t height, int inputBits, int32_t keyFrameEvery);
    // 8-bit input: the colour table (blue, green, red, reserved per entry) from the next frame
    // on; entries past `count` are black. A change between key frames goes into the next frame.
    void SetPalette(const VRgbQuad* colours, size_t count);
    // Encodes one frame of at least InputBytes(); false for a short frame or a zlib failure
    // (after which the next frame is a key frame).
    bool Encode(const uint8_t* frame, size_t bytes, bool forceKey, std::vector<uint8_t>& out, bool& key);

    size_t InputBytes() const { return inputStride * size_t(height); }
    size_t MaxOutputBytes() const;

private:
    struct Vector {
        int dx, dy;
    };
    struct DeflateEnd {
        void operator()(z_stream_s* stream) const;
    };

    void Load(const uint8_t* frame);
    uint8_t* EncodeDelta(uint8_t* dst);
    void MarkChangedBlocks();
    void FindShifts();
    size_t Differs(int32_t index, Vector v, size_t limit) const;
    uint32_t Entropy(int32_t index, Vector v) const;
    Vector ChooseVector(int32_t index, bool& residue) const;
    bool Inside(int32_t index, Vector v) const;
    bool Deflate(const uint8_t* data, size_t bytes, bool flush, uint8_t*& dst, const uint8_t* end);

    int32_t width = 0, height = 0;
    size_t pixelBytes = 0;
    size_t inputStride = 0;
    size_t rowBytes = 0;               // a packed row of `current` and `previous`
    int32_t blocksWide = 0, blocksHigh = 0;
    int32_t keyFrameEvery = 0;
    int64_t framesSinceKey = -1;
    std::vector<uint8_t> current;      // this frame, top-down and packed
    std::vector<uint8_t> previous;     // what a decoder holds after the last frame
    std::vector<uint8_t> palette;      // 256 red, green, blue triplets for the next frame
    std::vector<uint8_t> sentPalette;  // the palette a decoder holds
    std::vector<uint32_t> changed;     // blocks that differ from the same place in `previous`
    std::vector<uint8_t> rowChanged;   // per block of one block row: differs
    std::vector<Vector> shifts;        // scroll vectors found in this frame, best first
    std::vector<Vector> vectors;       // per block: the vector chosen in this frame (0 if unchanged)
    std::vector<Vector> lastVectors;   // the same for the last frame
    std::vector<uint8_t> delta;        // an inter frame before compression
    std::vector<uint8_t> scratch;      // the coded frame, kept at its worst-case size
    std::unique_ptr<z_stream_s, DeflateEnd> zlib;
};

}  // namespace avi
