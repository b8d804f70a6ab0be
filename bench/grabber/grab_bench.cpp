// What one grab costs at common frame sizes on the current screen: milliseconds per frame and
// the share of a 25 fps frame period. Then, at 1024x768, what the click marks add: drawing five
// live rings and the halo into a frame, in microseconds and as a share of that frame's grab, and
// a whole grab with the halo on. The same for three key plates, and what the keyboard hook's
// callback costs per event. Prints figures; asserts nothing.

#include "common/CaptureInfo.h"
#include "media/ClickOverlay.h"
#include "media/KeyHook.h"
#include "media/KeyOverlay.h"
#include "media/KeyText.h"
#include "media/Keys.h"
#include "media/ScreenGrabber.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kFrames = 50;
constexpr double kPeriodMs = 1000.0 / 25;

void Describe(CaptureInfo& info, int width, int height, int bits)
{
    VBitmapInfoHeader& h = info.bitmapInfo.bmiHeader;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = uint16_t(bits);
    h.biClrUsed = bits == 8 ? 256 : 0;
    info.frameBytes = int32_t(DibFrameBytes(width, height, bits));
    info.drawCursor = true;
}

// Milliseconds per grab; negative when the screen cannot give this format.
double GrabMs(CaptureInfo& info)
{
    ScreenGrabber grabber(info);
    if (grabber.CheckConfig() != 0)
        return -1;
    grabber.InitCapturing();
    std::vector<uint8_t> frame(size_t(info.frameBytes));
    grabber.GrabFrame(frame.data(), uint32_t(frame.size()));  // warm-up
    const auto start = Clock::now();
    for (int i = 0; i < kFrames; ++i)
        grabber.GrabFrame(frame.data(), uint32_t(frame.size()));
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count() / kFrames;
    grabber.EndCapturing();
    return ms;
}

FrameView ViewOf(const CaptureInfo& info, std::vector<uint8_t>& frame)
{
    const VBitmapInfoHeader& h = info.bitmapInfo.bmiHeader;
    FrameView view;
    view.bits = frame.data();
    view.width = h.biWidth;
    view.height = h.biHeight;
    view.bitsPerPixel = h.biBitCount;
    view.colours = info.bitmapInfo.bmiColors;
    view.colourCount = VBitmapInfo::UsedColours(h);
    return view;
}

// Microseconds to draw the halo and five rings, at ages spread over the animation, into a
// frame of the given format, as the grabber draws them.
double MarksUs(const CaptureInfo& info)
{
    std::vector<uint8_t> frame(size_t(info.frameBytes), 0x80);
    const FrameView view = ViewOf(info, frame);
    constexpr int kRounds = 2000;
    const auto start = Clock::now();
    for (int i = 0; i < kRounds; ++i) {
        DrawHalo(view, 500 + i % 7, 400, 96);
        for (int r = 0; r < 5; ++r)
            DrawRing(view, 200 + 150 * r, 300 + i % 5, ClickButton(r % 3), uint32_t(r * 80 + i % 20), 96);
    }
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / kRounds;
}

// Microseconds to draw three plates as the grabber does each frame: their texts rendered once
// (as when they appear), then laid out and drawn, one of them fading.
double PlatesUs(const CaptureInfo& info)
{
    std::vector<uint8_t> frame(size_t(info.frameBytes), 0x80);
    const FrameView view = ViewOf(info, frame);
    const char* const texts[] = {"Ctrl + Shift + T", "Enter", "hello world"};
    KeyPlate plates[3];
    PlateTexts rendered;
    TextMask masks[3];
    int32_t widths[3];
    for (int i = 0; i < 3; ++i) {
        for (const char* c = texts[i]; *c; ++c)
            plates[i].text[plates[i].length++] = char16_t(*c);
        plates[i].version = uint32_t(i + 1);
        masks[i] = rendered.For(size_t(i), plates[i], 96);
        widths[i] = masks[i].width;
    }
    constexpr int kRounds = 2000;
    const auto start = Clock::now();
    for (int r = 0; r < kRounds; ++r) {
        PlateBox boxes[3];
        for (int i = 0; i < 3; ++i)
            masks[i] = rendered.For(size_t(i), plates[i], 96);
        LayoutPlates(view.width, view.height, widths, 3, 96, boxes);
        for (int i = 0; i < 3; ++i)
            DrawPlate(view, boxes[i], masks[i], i == 0 ? uint8_t(100 + r % 100) : uint8_t(255), 96);
    }
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / kRounds;
}

// Microseconds the keyboard hook's callback spends on one event: stamping and the hand-over into
// the ring, and for a press the question whether the focus is in a password box.
double HookCallbackUs(WPARAM message)
{
    ClickClock clock;
    KeyRing ring;
    KBDLLHOOKSTRUCT event{};
    event.vkCode = 'S';
    event.scanCode = 0x1F;
    constexpr int kEvents = 20000;
    const auto start = Clock::now();
    for (int i = 0; i < kEvents; ++i)
        ring.Push(KeyHook::Stroke(event, message, clock));
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / kEvents;
}

}  // namespace

int main()
{
    const struct {
        int width;
        int height;
    } sizes[] = {{640, 480}, {1024, 768}, {1920, 1080}};

    for (int bits : {16, 24, 32}) {  // 32: lossless true colour
        for (const auto& s : sizes) {
            CaptureInfo info;
            Describe(info, s.width, s.height, bits);
            const double ms = GrabMs(info);
            if (ms < 0) {
                std::printf("%4dx%-4d %2d bits: screen too small or too shallow, skipped\n", s.width, s.height, bits);
                continue;
            }
            std::printf("%4dx%-4d %2d bits: %7.2f ms per frame, %5.1f%% of a 25 fps period\n", s.width, s.height, bits,
                        ms, 100.0 * ms / kPeriodMs);
        }
    }

    std::printf("\nClick marks at 1024x768 (halo and 5 live rings, 96 DPI):\n");
    for (int bits : {8, 16, 24}) {
        CaptureInfo info;
        Describe(info, 1024, 768, bits);
        const double grabMs = GrabMs(info);
        if (grabMs < 0) {
            std::printf("%2d bits: screen too small or too shallow, skipped\n", bits);
            continue;
        }
        const double drawUs = MarksUs(info);
        info.cursorHalo = true;
        const double haloGrabMs = GrabMs(info);
        std::printf("%2d bits: grab %7.2f ms, drawing %6.1f us = %4.2f%% of the grab (goal < 2%%); "
                    "a grab with the halo on %7.2f ms\n",
                    bits, grabMs, drawUs, 100.0 * drawUs / (grabMs * 1000.0), haloGrabMs);
    }

    std::printf("\nKey plates at 1024x768 (three plates, one fading, 96 DPI):\n");
    for (int bits : {8, 16, 24, 32}) {
        CaptureInfo info;
        Describe(info, 1024, 768, bits);
        const double grabMs = GrabMs(info);
        if (grabMs < 0) {
            std::printf("%2d bits: screen too small or too shallow, skipped\n", bits);
            continue;
        }
        const double drawUs = PlatesUs(info);
        std::printf("%2d bits: grab %7.2f ms, drawing %6.1f us = %4.2f%% of the grab (goal < 2%%)\n", bits, grabMs,
                    drawUs, 100.0 * drawUs / (grabMs * 1000.0));
    }
    std::printf("\nKeyboard hook callback (goal < 50 us): %.2f us per press, %.2f us per release\n",
                HookCallbackUs(WM_KEYDOWN), HookCallbackUs(WM_KEYUP));
    return 0;
}
