#pragma once
// Small value records laid out like the platform's RECT, POINT, BITMAPINFO, WAVEFORMATEX,
// AVISTREAMINFOA and AVICOMPRESSOPTIONS. Portable: no platform header, so the AVI library and
// its native tests share them; the Windows side checks the layouts against the real records.

#include <cstdint>
#include <cstring>

struct VRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;   // exclusive
    int32_t bottom = 0;  // exclusive

    int32_t Width() const { return right - left; }
    int32_t Height() const { return bottom - top; }
    bool operator==(const VRect&) const = default;
};
static_assert(sizeof(VRect) == 16);

struct VPoint {
    int32_t x = 0;
    int32_t y = 0;
    bool operator==(const VPoint&) const = default;
};
static_assert(sizeof(VPoint) == 8);

// Fourcc with the first character in the low byte, as the AVI format stores it.
constexpr uint32_t MakeFourCC(const char (&s)[5])
{
    return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
           uint32_t(uint8_t(s[3])) << 24;
}

struct VBitmapInfoHeader {  // BITMAPINFOHEADER
    uint32_t biSize = 40;
    int32_t biWidth = 0;
    int32_t biHeight = 0;
    uint16_t biPlanes = 1;
    uint16_t biBitCount = 0;
    uint32_t biCompression = 0;
    uint32_t biSizeImage = 0;
    int32_t biXPelsPerMeter = 0;
    int32_t biYPelsPerMeter = 0;
    uint32_t biClrUsed = 0;
    uint32_t biClrImportant = 0;
};
static_assert(sizeof(VBitmapInfoHeader) == 40);

struct VRgbQuad {  // RGBQUAD
    uint8_t rgbBlue = 0;
    uint8_t rgbGreen = 0;
    uint8_t rgbRed = 0;
    uint8_t rgbReserved = 0;
};
static_assert(sizeof(VRgbQuad) == 4);

// A bitmap format: the header and room for a full 256-entry colour table.
struct VBitmapInfo {
    static constexpr int kMaxColours = 256;

    VBitmapInfoHeader bmiHeader;
    VRgbQuad bmiColors[kMaxColours] = {};

    VBitmapInfo() = default;
    VBitmapInfo(const VBitmapInfo& other) { *this = other; }

    // Copies the header and then only the colour-table entries the source format uses.
    VBitmapInfo& operator=(const VBitmapInfo& other)
    {
        if (this == &other)
            return *this;
        bmiHeader = other.bmiHeader;
        std::memcpy(bmiColors, other.bmiColors, UsedColours(other.bmiHeader) * sizeof(VRgbQuad));
        return *this;
    }

    // Entries a header uses: biClrUsed, or the full table of a 1, 4 or 8-bit format.
    static uint32_t UsedColours(const VBitmapInfoHeader& h)
    {
        uint32_t n = h.biClrUsed;
        if (n == 0) {
            switch (h.biBitCount) {
            case 1: n = 2; break;
            case 4: n = 16; break;
            case 8: n = 256; break;
            default: n = 0; break;
            }
        }
        return n > kMaxColours ? kMaxColours : n;
    }

    // Bytes of colour table a bitmap file carries for this header.
    uint32_t ColourTableBytes() const { return UsedColours(bmiHeader) * 4; }
};
static_assert(sizeof(VBitmapInfo) == 1064);

// Rows padded to 4 bytes. 64-bit so that no stored size can overflow before it is checked.
constexpr uint64_t DibStride(int64_t width, int64_t bitsPerPixel)
{
    return uint64_t((width * bitsPerPixel + 31) / 32) * 4;
}
constexpr uint64_t DibFrameBytes(int64_t width, int64_t height, int64_t bitsPerPixel)
{
    return DibStride(width, bitsPerPixel) * uint64_t(height);
}

#pragma pack(push, 1)
struct VWaveFormatEx {  // WAVEFORMATEX
    uint16_t wFormatTag = 0;
    uint16_t nChannels = 0;
    uint32_t nSamplesPerSec = 0;
    uint32_t nAvgBytesPerSec = 0;
    uint16_t nBlockAlign = 0;
    uint16_t wBitsPerSample = 0;
    uint16_t cbSize = 0;
};
#pragma pack(pop)
static_assert(sizeof(VWaveFormatEx) == 18);

struct VAVIStreamInfo {  // AVISTREAMINFOA
    uint32_t fccType = MakeFourCC("vids");
    uint32_t fccHandler = MakeFourCC("MSVC");
    uint32_t dwFlags = 0;
    uint32_t dwCaps = 0;
    uint16_t wPriority = 0;
    uint16_t wLanguage = 0;
    uint32_t dwScale = 1;
    uint32_t dwRate = 12;
    uint32_t dwStart = 0;
    uint32_t dwLength = 0;
    uint32_t dwInitialFrames = 0;
    uint32_t dwSuggestedBufferSize = 0;
    uint32_t dwQuality = uint32_t(-1);
    uint32_t dwSampleSize = 0;
    VRect rcFrame;
    uint32_t dwEditCount = 0;
    uint32_t dwFormatChangeCount = 0;
    char szName[64] = {};

    void Clear() { std::memset(static_cast<void*>(this), 0, sizeof(*this)); }
    // Copies a name, cut to fit and always terminated.
    void SetName(const char* name)
    {
        std::memset(szName, 0, sizeof(szName));
        std::strncpy(szName, name ? name : "", sizeof(szName) - 1);
    }
};
static_assert(sizeof(VAVIStreamInfo) == 140);

struct VAVICompressOptions {  // AVICOMPRESSOPTIONS
    uint32_t fccType = 0;
    uint32_t fccHandler = MakeFourCC("MSVC");
    uint32_t dwKeyFrameEvery = 0;
    uint32_t dwQuality = 10000;
    uint32_t dwBytesPerSecond = 0;
    uint32_t dwFlags = 0;
    void* lpFormat = nullptr;
    uint32_t cbFormat = 0;
    void* lpParms = nullptr;
    uint32_t cbParms = 0;
    uint32_t dwInterleaveEvery = 1;
};
