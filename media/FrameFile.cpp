#include "media/FrameFile.h"

#include "framework/Scoped.h"
#include "media/avi/PngWriter.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr char kPngExtension[] = ".png";
constexpr uint32_t kMaxWrite = 1u << 30;

int ScreenDotsPerInch()
{
    ScopedCreatedDC dc(::CreateDCA("DISPLAY", nullptr, nullptr, nullptr));
    return dc ? ::GetDeviceCaps(dc.get(), LOGPIXELSX) : 0;
}

}  // namespace

bool IsPngFrameName(const char* path)
{
    const size_t n = std::strlen(kPngExtension);
    const size_t length = path ? std::strlen(path) : 0;
    if (length < n)
        return false;
    return std::equal(path + length - n, path + length, kPngExtension,
                      [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
}

bool WritePngFile(HANDLE file, const VBitmapInfo& format, const void* pixels)
{
    const VBitmapInfoHeader& h = format.bmiHeader;
    std::array<uint32_t, 256> table{};
    for (size_t i = 0; i < table.size(); ++i) {
        const VRgbQuad& c = format.bmiColors[i];
        table[i] = uint32_t(c.rgbRed) << 16 | uint32_t(c.rgbGreen) << 8 | c.rgbBlue;
    }
    const int entries = h.biClrUsed >= 1 && h.biClrUsed <= 256 ? int(h.biClrUsed) : 256;
    avi::PngFrame frame{h.biWidth, h.biHeight, h.biBitCount, static_cast<const uint8_t*>(pixels), table.data(),
                        entries, ScreenDotsPerInch()};
    std::vector<uint8_t> png;
    if (!avi::EncodePng(frame, png)) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    for (size_t done = 0; done < png.size();) {
        const DWORD part = DWORD(std::min<size_t>(png.size() - done, kMaxWrite));
        DWORD written = 0;
        if (!::WriteFile(file, png.data() + done, part, &written, nullptr))
            return false;
        if (written == 0) {  // a disk that takes nothing more is full
            ::SetLastError(ERROR_HANDLE_DISK_FULL);
            return false;
        }
        done += written;
    }
    return true;
}
