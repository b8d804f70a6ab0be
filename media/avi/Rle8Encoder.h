#pragma once
// BI_RLE8 ("mrle") encoder for 8-bit palettized bottom-up frames: encoded and absolute runs,
// end-of-line and end-of-bitmap; frames between key frames skip unchanged areas with deltas.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace avi {

class Rle8Encoder {
public:
    bool Init(int32_t width, int32_t height, int32_t keyFrameEvery);
    bool Encode(const uint8_t* frame, size_t bytes, bool forceKey, std::vector<uint8_t>& out, bool& key);

    size_t InputBytes() const { return stride * size_t(height); }
    // Worst mix of short runs costs 6 bytes per 5 pixels; moves and line ends are a few bytes a row.
    size_t MaxOutputBytes() const { return size_t(height) * (size_t(width) * 3 / 2 + 24) + 16; }

private:
    // Pixels [from, to) of a row; the scans may read ahead up to readEnd (the frame's end).
    void EncodeSpan(const uint8_t* row, int32_t from, int32_t to, const uint8_t* readEnd, uint8_t*& dst) const;

    int32_t width = 0, height = 0;
    size_t stride = 0;
    int32_t keyFrameEvery = 0;
    int64_t framesSinceKey = -1;
    std::vector<uint8_t> previous;  // the last frame, as a decoder holds it
    std::vector<uint8_t> scratch;   // the frame being encoded
};

}  // namespace avi
