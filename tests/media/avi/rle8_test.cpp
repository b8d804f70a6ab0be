// The RLE8 encoder against a strict decoder: every frame of every width decodes to its input,
// with no command reaching past a row or the picture, and within the promised output size.

#include "common/VRecords.h"
#include "media/avi/Rle8Encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

// Applies one encoded frame to `picture` (width × height, rows `stride` apart, bottom-up as the
// bitmap rows are). Returns an empty string or what was wrong with the stream.
std::string Decode(const std::vector<uint8_t>& code, int32_t width, int32_t height, size_t stride,
                   std::vector<uint8_t>& picture)
{
    int32_t x = 0, y = 0;
    size_t i = 0;
    auto fault = [](const char* what, size_t k) {
        std::string text = what;
        text += " at byte ";
        text += std::to_string(k);
        return text;
    };
    while (i + 1 < code.size()) {
        const uint8_t count = code[i], value = code[i + 1];
        i += 2;
        if (count > 0) {
            if (y >= height || x + count > width)
                return fault("run past the row", i - 2);
            for (int k = 0; k < count; ++k)
                picture[size_t(y) * stride + size_t(x++)] = value;
            continue;
        }
        switch (value) {
        case 0:  // end of line
            x = 0;
            ++y;
            break;
        case 1:  // end of bitmap
            return i == code.size() ? "" : fault("bytes after the end", i);
        case 2:  // delta
            if (i + 2 > code.size())
                return fault("cut delta", i);
            x += code[i];
            y += code[i + 1];
            i += 2;
            if (x > width || y >= height)
                return fault("delta past the picture", i - 4);
            break;
        default:  // absolute
            if (y >= height || x + value > width || i + value > code.size())
                return fault("absolute run past the row", i - 2);
            for (int k = 0; k < value; ++k)
                picture[size_t(y) * stride + size_t(x++)] = code[i + size_t(k)];
            i += value + (value & 1);
        }
    }
    return "no end of bitmap";
}

// A frame of runs of every length a row may hold, mixed with noise from few and from many colours.
void Fill(std::vector<uint8_t>& f, int32_t width, int32_t height, size_t stride, std::mt19937& rng)
{
    static const int lengths[] = {1, 2, 3, 4, 7, 8, 9, 15, 16, 17, 18, 31, 33, 254, 255, 256, 600};
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width;) {
            const int n = lengths[rng() % std::size(lengths)];
            const int kind = int(rng() % 3);
            const uint8_t v = uint8_t(rng() % 3);
            for (int32_t k = x; k < width && k < x + n; ++k)
                f[size_t(y) * stride + size_t(k)] = kind == 0 ? v : uint8_t(rng() % (kind == 1 ? 2 : 256));
            x += n;
        }
    }
}

// A later frame: a few stretches of each row changed, some by one pixel, some by many.
void Change(std::vector<uint8_t>& f, int32_t width, int32_t height, size_t stride, std::mt19937& rng)
{
    static const int lengths[] = {1, 2, 7, 8, 9, 16, 17, 40, 300};
    for (int32_t y = 0; y < height; ++y) {
        if (rng() % 4 == 0)
            continue;
        for (int c = int(rng() % 4); c > 0; --c) {
            const int32_t x = int32_t(rng() % uint32_t(width));
            const int n = lengths[rng() % std::size(lengths)];
            for (int32_t k = x; k < width && k < x + n; ++k)
                if (rng() % 8 != 0)
                    f[size_t(y) * stride + size_t(k)] = uint8_t(rng() % 4);
        }
    }
}

TEST(Rle8Encoder, EveryFrameOfEveryWidthDecodesToItsInput)
{
    std::mt19937 rng(12345);
    std::vector<int32_t> widths;
    for (int32_t w = 1; w <= 70; ++w)
        widths.push_back(w);
    for (int32_t w : {254, 255, 256, 257, 300, 511, 640, 1001})
        widths.push_back(w);
    for (const int32_t width : widths) {
        SCOPED_TRACE("width " + std::to_string(width));
        const int32_t height = width > 256 ? 6 : 3 + width % 5;
        const size_t stride = size_t(DibStride(width, 8));
        avi::Rle8Encoder encoder;
        ASSERT_TRUE(encoder.Init(width, height, 4));
        // The frame is exactly the input size, so a scan reading past it shows under ASan.
        std::vector<uint8_t> frame(encoder.InputBytes()), picture(frame.size());
        std::vector<uint8_t> code;
        for (int n = 0; n < 10; ++n) {
            if (n == 0 || n == 6)
                Fill(frame, width, height, stride, rng);
            else
                Change(frame, width, height, stride, rng);
            bool key = false;
            ASSERT_TRUE(encoder.Encode(frame.data(), frame.size(), false, code, key));
            EXPECT_EQ(key, n % 4 == 0) << "frame " << n;
            EXPECT_LE(code.size(), encoder.MaxOutputBytes()) << "frame " << n;
            if (key)  // a key frame must set every pixel: start from the opposite of each
                for (size_t k = 0; k < frame.size(); ++k)
                    picture[k] = uint8_t(~frame[k]);
            ASSERT_EQ(Decode(code, width, height, stride, picture), "") << "frame " << n;
            for (int32_t y = 0; y < height; ++y)
                ASSERT_TRUE(std::equal(frame.begin() + long(size_t(y) * stride),
                                       frame.begin() + long(size_t(y) * stride + size_t(width)),
                                       picture.begin() + long(size_t(y) * stride)))
                    << "frame " << n << " row " << y;
        }
    }
}

// The costliest inputs for the coder: runs of two, alternating pixels, and short runs of three.
TEST(Rle8Encoder, WorstCaseInputsStayWithinTheOutputBound)
{
    const int32_t width = 641, height = 5;
    const size_t stride = size_t(DibStride(width, 8));
    const std::vector<std::vector<uint8_t>> cycles = {{1, 1, 2, 2}, {1, 2}, {1, 1, 1, 2, 3}, {1, 1, 1, 2}, {5}};
    for (const auto& cycle : cycles) {
        avi::Rle8Encoder encoder;
        ASSERT_TRUE(encoder.Init(width, height, 0));
        std::vector<uint8_t> frame(encoder.InputBytes()), picture(frame.size()), code;
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x)
                frame[size_t(y) * stride + size_t(x)] = cycle[size_t(x + y) % cycle.size()];
        bool key = false;
        ASSERT_TRUE(encoder.Encode(frame.data(), frame.size(), false, code, key));
        EXPECT_LE(code.size(), encoder.MaxOutputBytes());
        ASSERT_EQ(Decode(code, width, height, stride, picture), "");
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x)
                ASSERT_EQ(picture[size_t(y) * stride + size_t(x)], frame[size_t(y) * stride + size_t(x)]);
        // Unchanged, the next frame is only the end of the bitmap.
        ASSERT_TRUE(encoder.Encode(frame.data(), frame.size(), false, code, key));
        EXPECT_FALSE(key);
        EXPECT_EQ(code, (std::vector<uint8_t>{0, 1}));
    }
}

// Changes far below the decoder's position: a delta moves at most 255 rows (and columns), so
// longer moves take several; a change left of the decoder's column first ends the line.
TEST(Rle8Encoder, ChangesAfterManyUnchangedRowsDecode)
{
    struct Change {
        int32_t row, column, length;
    };
    struct Case {
        int32_t width, height;
        std::vector<Change> changes;
    } cases[] = {
        {64, 300, {{299, 10, 5}}},                          // 299 unchanged rows first
        {64, 600, {{0, 40, 3}, {299, 2, 9}, {599, 63, 1}}},
        {600, 300, {{0, 590, 4}, {256, 10, 2}, {257, 599, 1}}},
        {16, 520, {{255, 0, 16}, {511, 4, 4}, {512, 4, 4}}},  // moves of exactly 255 and 256 rows
    };
    std::mt19937 rng(99);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        const size_t stride = size_t(DibStride(c.width, 8));
        avi::Rle8Encoder encoder;
        ASSERT_TRUE(encoder.Init(c.width, c.height, 0));
        std::vector<uint8_t> frame(encoder.InputBytes()), picture(frame.size()), code;
        Fill(frame, c.width, c.height, stride, rng);
        bool key = false;
        ASSERT_TRUE(encoder.Encode(frame.data(), frame.size(), false, code, key));
        ASSERT_TRUE(key);
        ASSERT_EQ(Decode(code, c.width, c.height, stride, picture), "");
        for (const Change& change : c.changes)
            for (int32_t x = change.column; x < change.column + change.length; ++x)
                frame[size_t(change.row) * stride + size_t(x)] ^= 0x5A;
        ASSERT_TRUE(encoder.Encode(frame.data(), frame.size(), false, code, key));
        EXPECT_FALSE(key);
        ASSERT_EQ(Decode(code, c.width, c.height, stride, picture), "");
        for (int32_t y = 0; y < c.height; ++y)
            ASSERT_TRUE(std::equal(frame.begin() + long(size_t(y) * stride),
                                   frame.begin() + long(size_t(y) * stride + size_t(c.width)),
                                   picture.begin() + long(size_t(y) * stride)))
                << "row " << y;
    }
}

}  // namespace
