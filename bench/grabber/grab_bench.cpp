// What one grab costs at common frame sizes on the current screen: milliseconds per frame and
// the share of a 25 fps frame period. Prints figures; asserts nothing.

#include "common/CaptureInfo.h"
#include "media/ScreenGrabber.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <vector>

int main()
{
    using Clock = std::chrono::steady_clock;
    constexpr int kFrames = 50;
    constexpr double kPeriodMs = 1000.0 / 25;
    const struct {
        int width;
        int height;
    } sizes[] = {{640, 480}, {1024, 768}, {1920, 1080}};

    for (int bits : {16, 24, 32}) {  // 32: lossless true colour
        for (const auto& s : sizes) {
            CaptureInfo info;
            VBitmapInfoHeader& h = info.bitmapInfo.bmiHeader;
            h.biWidth = s.width;
            h.biHeight = s.height;
            h.biPlanes = 1;
            h.biBitCount = uint16_t(bits);
            info.frameBytes = int32_t(DibFrameBytes(s.width, s.height, bits));
            info.drawCursor = true;
            ScreenGrabber grabber(info);
            if (grabber.CheckConfig() != 0) {
                std::printf("%4dx%-4d %2d bits: screen too small or too shallow, skipped\n", s.width, s.height, bits);
                continue;
            }
            grabber.InitCapturing();
            std::vector<uint8_t> frame(size_t(info.frameBytes));
            grabber.GrabFrame(frame.data(), uint32_t(frame.size()));  // warm-up
            const auto start = Clock::now();
            for (int i = 0; i < kFrames; ++i)
                grabber.GrabFrame(frame.data(), uint32_t(frame.size()));
            const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count() / kFrames;
            grabber.EndCapturing();
            std::printf("%4dx%-4d %2d bits: %7.2f ms per frame, %5.1f%% of a 25 fps period\n", s.width, s.height, bits,
                        ms, 100.0 * ms / kPeriodMs);
        }
    }
    return 0;
}
