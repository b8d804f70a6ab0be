#pragma once
// Video 1 ("MSVC", bitmap compression 'CRAM') encoder, 16-bit output: each 4x4 block is
// skipped, filled with one colour, or drawn with two colours or two per quarter, whichever
// costs least in squared error plus a bit price set by the quality.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace avi {

class Video1Encoder {
public:
    // width, height up to kMaxFrameSide; input 16 (RGB555), 24 (BGR) or 32 (BGRX) bits,
    // bottom-up rows padded to 4 bytes; quality 0 to 10000 (best); a key frame every
    // keyFrameEvery frames (0: only the first).
    bool Init(int32_t width, int32_t height, int inputBits, int32_t quality, int32_t keyFrameEvery);
    // Encodes one frame of at least InputBytes(); returns false for a short frame.
    bool Encode(const uint8_t* frame, size_t bytes, bool forceKey, std::vector<uint8_t>& out, bool& key);

    size_t InputBytes() const { return inputBytes; }
    // The coded picture: the input padded to whole 4x4 blocks, which is what decoders show.
    int32_t OutputWidth() const { return blocksWide * 4; }
    int32_t OutputHeight() const { return blocksHigh * 4; }
    size_t MaxOutputBytes() const { return size_t(blocksWide) * blocksHigh * 18 + 2; }

private:
    void Convert(const uint8_t* frame);
    void EncodeBlockRow(int by, bool key, uint8_t*& dst, uint32_t& skipRun);

    int32_t width = 0, height = 0;
    int inputBits = 0;
    int32_t blocksWide = 0, blocksHigh = 0;
    size_t inputStride = 0, inputBytes = 0;
    int32_t keyFrameEvery = 0;
    int64_t framesSinceKey = -1;
    uint32_t lambda = 0;
    size_t planeStride = 0;           // pixels per padded row
    std::vector<uint16_t> current;    // this frame in RGB555, padded to whole blocks
    std::vector<uint16_t> decoded;    // what a decoder shows after the last frame
};

}  // namespace avi
