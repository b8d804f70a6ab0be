// The RLE8 encoder against a strict decoder: every frame of every width decodes to its input,
// with no command reaching past a row or the picture, and within the promised output size.

#include "common/VRecords.h"
#include "media/avi/Rle8Encoder.h"

#include <gtest/gtest.h>

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

}  // namespace
