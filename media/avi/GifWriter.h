#pragma once
// Animated GIF movies from screen frames, written as they come. Each frame stores only the
// rectangle that changed, with its unchanged pixels transparent; a frame without change
// lengthens the one before. The trailer follows the last frame at all times, so a file cut off
// by a killed recording still reads up to its last whole frame.

#include "media/avi/ByteBuffer.h"
#include "media/avi/OutputFile.h"
#include "media/avi/Quantizer.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace avi {

struct PixelRect {
    int x = 0, y = 0, width = 0, height = 0;
    bool Empty() const { return width <= 0 || height <= 0; }
    bool operator==(const PixelRect& o) const = default;
};

// The smallest rectangle holding every pixel where two top-down frames differ; empty when none.
PixelRect ChangedRect(const uint32_t* before, const uint32_t* after, int width, int height);

// A bottom-up DIB frame (rows padded to 4 bytes; 8-bit through `table`, 16-bit RGB555, 24-bit
// BGR, 32-bit BGRX) as top-down 0x00RRGGBB pixels. `table` holds 256 colours for 8 bits.
void DibToRgb(const uint8_t* dib, int width, int height, int bits, const uint32_t* table, uint32_t* out);

// GIF's LZW: the minimum code size byte, the data sub-blocks and their terminator.
void LzwEncode(const uint8_t* indices, size_t count, int minCodeSize, ByteBuffer& out);

// Frame slot `index` of a movie at `fps` begins at this many hundredths of a second. Each
// delay is the difference of two such times, so rounding never adds up.
int64_t SlotHundredths(int64_t index, int fps);

class GifWriter {
public:
    // `bits` of the frames: 8, 16, 24 or 32. The file is not owned.
    GifWriter(OutputFile& file, int width, int height, int bits, int fps);

    static bool SizeFits(int width, int height);
    // The header and the loop; false when the size does not fit or the file refused.
    bool Begin();
    // The colour table of 8-bit frames, 0x00RRGGBB, from the next frame on.
    void SetColourTable(const uint32_t* rgb, int entries);
    // One frame at its slot. False for a slot behind the last one, a short frame, or a write
    // the file refused (FirstError says why; the file then ends after the last whole frame).
    bool WriteFrame(const void* dib, size_t bytes, int64_t index);

    // Frame slots the movie covers so far: up to the end of its last frame's time.
    int64_t CoveredSlots() const { return covered; }
    int64_t Frames() const { return framesWritten; }
    uint64_t Bytes() const { return end + 1; }
    RecordingFailure FirstError() const { return error; }

private:
    bool WriteFrameOrThrow(const void* dib, size_t bytes, int64_t index);
    bool WriteAt(uint64_t offset, const uint8_t* data, size_t bytes);
    // The last frame lasts until `hundredths`; filler frames carry what one delay cannot.
    bool ExtendLastFrame(int64_t hundredths);
    bool AppendFrame(ByteBuffer& frame, uint64_t delayAt, bool first);
    void HeaderInto(ByteBuffer& out, const Palette* global) const;
    // The image of rectangle `r` of the changed pixels with `table`: descriptor, the table
    // unless it is the global one, and the codes.
    void ImageInto(ByteBuffer& out, const PixelRect& r, const Palette& table, bool keeps);
    static uint8_t KeepIndex(const Palette& table);
    bool Fail();

    OutputFile& file;  // not owned
    int width, height, bits, fps;
    size_t frameBytes = 0;
    std::vector<uint32_t> table;     // 8-bit frames' colours
    std::vector<uint32_t> previous;  // the last frame's pixels
    std::vector<uint32_t> current;
    std::vector<uint32_t> changed;   // the rectangle's pixels, unchanged ones kKeepPixel
    std::vector<uint8_t> indices;
    Quantizer quantizer;
    Palette palette;                 // the last frame's table
    Palette global;                  // the first frame's table, the one frames may leave out
    ByteBuffer frame;
    ByteBuffer image;
    ByteBuffer alternative;
    uint64_t end = 0;                // where the trailer lies
    uint64_t delayAt = 0;            // the last frame's delay field
    int64_t lastStart = 0;           // hundredths at which the last frame begins
    int64_t lastIndex = -1;
    int64_t covered = 0;
    int64_t framesWritten = 0;
    bool failed = false;
    RecordingFailure error;
};

}  // namespace avi
