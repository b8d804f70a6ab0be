#pragma once
// A screen frame as a PNG picture: 8-bit frames as a palette image with the frame's colours,
// 16-bit (RGB555) widened exactly to 24-bit RGB, 24- and 32-bit frames as 24-bit RGB, and the
// screen's resolution in a pHYs chunk.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace avi {

struct PngFrame {
    int width = 0;
    int height = 0;
    int bits = 0;                      // 8, 16, 24 or 32
    const uint8_t* dib = nullptr;      // bottom-up, rows padded to 4 bytes
    const uint32_t* table = nullptr;   // 8 bits: the colours, 0x00RRGGBB
    int tableEntries = 256;
    int dotsPerInch = 0;               // 0: no pHYs chunk
};

// False for a frame it cannot describe or when zlib fails (out of memory).
bool EncodePng(const PngFrame& frame, std::vector<uint8_t>& out);

}  // namespace avi
