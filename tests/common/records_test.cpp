#include "common/VRecords.h"

#include <gtest/gtest.h>

namespace {

TEST(VRecords, BitmapInfoCopiesOnlyTheColoursInUse)
{
    struct Case {
        uint16_t bits;
        uint32_t clrUsed;
        int copied;
    } cases[] = {{1, 0, 2}, {4, 0, 16}, {8, 0, 256}, {8, 17, 17}, {16, 0, 0}, {24, 0, 0}, {24, 3, 3}, {8, 9999, 256}};
    for (const Case& c : cases) {
        VBitmapInfo src;
        src.bmiHeader.biBitCount = c.bits;
        src.bmiHeader.biClrUsed = c.clrUsed;
        src.bmiHeader.biWidth = 33;
        for (int i = 0; i < VBitmapInfo::kMaxColours; ++i)
            src.bmiColors[i] = VRgbQuad{uint8_t(i), 1, 2, 0};
        VBitmapInfo dst;
        for (auto& q : dst.bmiColors)
            q = VRgbQuad{9, 9, 9, 9};
        dst = src;
        EXPECT_EQ(dst.bmiHeader.biWidth, 33);
        int copied = 0;
        while (copied < VBitmapInfo::kMaxColours && dst.bmiColors[copied].rgbGreen == 1)
            ++copied;
        EXPECT_EQ(copied, c.copied) << c.bits << " bits, " << c.clrUsed << " used";
        if (copied < VBitmapInfo::kMaxColours) {
            EXPECT_EQ(dst.bmiColors[copied].rgbBlue, 9);
        }
    }
}

TEST(VRecords, ColourTableBytes)
{
    VBitmapInfo b;
    for (auto [bits, used, bytes] : {std::tuple{1, 0, 8}, {4, 0, 64}, {8, 0, 1024}, {16, 0, 0}, {24, 0, 0}, {8, 20, 80}}) {
        b.bmiHeader.biBitCount = uint16_t(bits);
        b.bmiHeader.biClrUsed = uint32_t(used);
        EXPECT_EQ(b.ColourTableBytes(), uint32_t(bytes));
    }
}

TEST(VRecords, FrameLayout)
{
    EXPECT_EQ(DibStride(16, 8), 16u);
    EXPECT_EQ(DibStride(17, 8), 20u);
    EXPECT_EQ(DibStride(17, 16), 36u);
    EXPECT_EQ(DibStride(17, 24), 52u);
    EXPECT_EQ(DibFrameBytes(320, 240, 24), 230400u);
    // Sizes that overflow 32 bits stay exact, so that they can be refused.
    EXPECT_EQ(DibFrameBytes(0x7FFFFFFF, 20, 24), uint64_t((0x7FFFFFFFll * 24 + 31) / 32) * 4 * 20);
}

TEST(VRecords, StreamInfoDefaultsAndName)
{
    VAVIStreamInfo s;
    EXPECT_EQ(s.fccType, MakeFourCC("vids"));
    EXPECT_EQ(s.fccHandler, MakeFourCC("MSVC"));
    EXPECT_EQ(s.dwScale, 1u);
    EXPECT_EQ(s.dwRate, 12u);
    EXPECT_EQ(s.dwQuality, 0xFFFFFFFFu);
    std::string longName(100, 'x');
    s.SetName(longName.c_str());
    EXPECT_EQ(std::string(s.szName), std::string(63, 'x'));
    s.Clear();
    EXPECT_EQ(s.fccType, 0u);
    EXPECT_EQ(s.szName[0], 0);
    VAVICompressOptions o;
    EXPECT_EQ(o.dwQuality, 10000u);
    EXPECT_EQ(o.dwInterleaveEvery, 1u);
    EXPECT_EQ(o.fccHandler, MakeFourCC("MSVC"));
}

}  // namespace
