// Pixel tests of the screen grabber under a real display: a window paints a known pattern and
// the grabber must return exactly those pixels at the depth of the screen it runs on.

#include "engine/CaptureEngine.h"
#include "common/CaptureInfo.h"
#include "common/VorState.h"
#include "media/ScreenGrabber.h"
#include "tests/support/ScreenRig.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// Colours every depth shows exactly: the static colours of an 8-bit palette, with components
// that survive 5 and 6-bit channels.
const COLORREF kColours[] = {RGB(255, 0, 0),   RGB(0, 255, 0),   RGB(0, 0, 255),   RGB(255, 255, 0),
                             RGB(0, 255, 255), RGB(255, 0, 255), RGB(128, 0, 0),   RGB(0, 128, 0),
                             RGB(0, 0, 128),   RGB(128, 128, 0)};
constexpr int kColumns = 5;
constexpr int kCellWidth = 15;
constexpr int kCellHeight = 25;
// Odd width, so that every depth has padded rows.
constexpr int kPatternWidth = kColumns * kCellWidth;  // 75
constexpr int kPatternHeight = 2 * kCellHeight;       // 50
constexpr POINT kPatternAt{37, 23};

COLORREF PatternColour(int x, int y)
{
    return kColours[(y / kCellHeight) * kColumns + x / kCellWidth];
}

LRESULT CALLBACK PatternProc(HWND wnd, UINT message, WPARAM wp, LPARAM lp)
{
    if (message == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = ::BeginPaint(wnd, &ps);
        for (int i = 0; i < int(std::size(kColours)); ++i) {
            ScopedGdiObject<HBRUSH> brush(::CreateSolidBrush(kColours[i]));
            const int x = (i % kColumns) * kCellWidth;
            const int y = (i / kColumns) * kCellHeight;
            RECT r{x, y, x + kCellWidth, y + kCellHeight};
            ::FillRect(dc, &r, brush.get());
        }
        ::EndPaint(wnd, &ps);
        return 0;
    }
    return ::DefWindowProcA(wnd, message, wp, lp);
}

// One frame, read back as colours, top-down.
struct Frame {
    int width = 0;
    int height = 0;
    std::vector<COLORREF> pixels;
    COLORREF At(int x, int y) const { return pixels[size_t(y) * width + x]; }
};

// Decodes a DIB by the documented layout: bottom-up rows, 4-byte stride, blue-green-red(-unused)
// bytes, RGB555 words, palette indices through the colour table.
Frame DecodeDib(const VBitmapInfo& format, const uint8_t* bits)
{
    const VBitmapInfoHeader& h = format.bmiHeader;
    Frame f{h.biWidth, h.biHeight, {}};
    const size_t stride = size_t(DibStride(h.biWidth, h.biBitCount));
    for (int y = 0; y < h.biHeight; ++y) {
        const uint8_t* row = bits + stride * size_t(h.biHeight - 1 - y);
        for (int x = 0; x < h.biWidth; ++x) {
            COLORREF c = 0;
            if (h.biBitCount == 32) {
                c = RGB(row[x * 4 + 2], row[x * 4 + 1], row[x * 4]);
            } else if (h.biBitCount == 24) {
                c = RGB(row[x * 3 + 2], row[x * 3 + 1], row[x * 3]);
            } else if (h.biBitCount == 16) {
                const uint16_t w = uint16_t(row[x * 2] | row[x * 2 + 1] << 8);
                c = RGB(((w >> 10) & 31) << 3, ((w >> 5) & 31) << 3, (w & 31) << 3);
            } else {
                const VRgbQuad& q = format.bmiColors[row[x]];
                c = RGB(q.rgbRed, q.rgbGreen, q.rgbBlue);
            }
            f.pixels.push_back(c);
        }
    }
    return f;
}

// What a colour reads back as at a frame depth.
COLORREF AtDepth(COLORREF c, int bits)
{
    if (bits != 16)
        return c;
    return RGB(GetRValue(c) & 0xF8, GetGValue(c) & 0xF8, GetBValue(c) & 0xF8);
}

int ExpectedScreenBits()
{
    const char* depth = std::getenv("VORLUX_DEPTH");
    if (!depth)
        return 0;
    const int d = std::atoi(depth);
    return d == 24 ? 32 : d;  // Wine shows a 24-bit X screen as 32 bits per pixel
}

class Grabber : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        SetDpiAware();
        WNDCLASSA wc{};
        wc.lpfnWndProc = PatternProc;
        wc.hInstance = ::GetModuleHandleA(nullptr);
        wc.lpszClassName = "GrabberPattern";
        ::RegisterClassA(&wc);
    }

    void SetUp() override
    {
        screenBits = ::GetDeviceCaps(ScopedWindowDC(nullptr).get(), BITSPIXEL);
        frameBits = screenBits == 32 ? 24 : screenBits;
        window = ::CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, "GrabberPattern", "", WS_POPUP | WS_VISIBLE,
                                   kPatternAt.x, kPatternAt.y, kPatternWidth, kPatternHeight, nullptr, nullptr,
                                   ::GetModuleHandleA(nullptr), nullptr);
        ASSERT_TRUE(window);
        cursor = MakeBlockCursor();
        ASSERT_TRUE(cursor);
        ::SetClassLongPtrA(window, GCLP_HCURSOR, LONG_PTR(cursor));
        ::SetCursorPos(900, 700);  // away from the pattern
        PumpMessages(100);
        SetFormat(VRect{kPatternAt.x, kPatternAt.y, kPatternAt.x + kPatternWidth, kPatternAt.y + kPatternHeight},
                  frameBits);
    }

    void TearDown() override
    {
        ::DestroyWindow(window);
        ::DestroyCursor(cursor);
    }

    void SetFormat(const VRect& area, int bits)
    {
        VBitmapInfoHeader& h = info.bitmapInfo.bmiHeader;
        h.biWidth = area.Width();
        h.biHeight = area.Height();
        h.biPlanes = 1;
        h.biBitCount = uint16_t(bits);
        h.biClrUsed = bits == 8 ? 256 : 0;
        info.origin = VPoint{area.left, area.top};
        info.frameBytes = int32_t(DibFrameBytes(h.biWidth, h.biHeight, bits));
        info.captureMode = kFixedArea;
    }

    std::vector<uint8_t> Grab(ScreenGrabber& g)
    {
        std::vector<uint8_t> bits(size_t(info.frameBytes), 0xCD);
        EXPECT_TRUE(g.GrabFrame(bits.data(), uint32_t(bits.size())));
        return bits;
    }

    // Mismatching pixels between a frame and the pattern at the area's position.
    int PatternMismatches(const Frame& f, int bits)
    {
        int bad = 0;
        for (int y = 0; y < f.height; ++y)
            for (int x = 0; x < f.width; ++x)
                bad += f.At(x, y) != AtDepth(PatternColour(x, y), bits);
        return bad;
    }

    // Grabs until the pattern has reached the screen (X draws asynchronously).
    Frame GrabPattern(ScreenGrabber& g)
    {
        Frame f;
        for (int tries = 0; tries < 100; ++tries) {
            PumpMessages(20);
            std::vector<uint8_t> bits = Grab(g);
            f = DecodeDib(info.bitmapInfo, bits.data());
            if (PatternMismatches(f, info.bitmapInfo.bmiHeader.biBitCount) == 0)
                break;
        }
        return f;
    }

    // The frame depths this screen can give: up to its own, and 32 (lossless) on a true-colour one.
    bool ScreenAllows(int bits) const { return bits <= frameBits || (bits == 32 && frameBits == 24); }

    CaptureInfo info;
    int screenBits = 0;
    int frameBits = 0;
    HWND window = nullptr;
    HCURSOR cursor = nullptr;
};

TEST_F(Grabber, ScreenHasTheRequestedDepth)
{
    if (ExpectedScreenBits() == 0)
        GTEST_SKIP() << "VORLUX_DEPTH not set";
    EXPECT_EQ(screenBits, ExpectedScreenBits());
    ScreenGrabber g(info);
    EXPECT_EQ(g.ScreenBitsPerPixel(), screenBits);
}

TEST_F(Grabber, FramesCarryThePatternAtEveryDepthTheScreenAllows)
{
    for (int bits : {8, 16, 24, 32}) {
        if (!ScreenAllows(bits))
            continue;
        SCOPED_TRACE("frame bits " + std::to_string(bits));
        SetFormat(VRect{kPatternAt.x, kPatternAt.y, kPatternAt.x + kPatternWidth, kPatternAt.y + kPatternHeight},
                  bits);
        ScreenGrabber g(info);
        g.InitCapturing();
        ASSERT_TRUE(g.Prepared());
        EXPECT_EQ(info.bitmapInfo.bmiHeader.biClrUsed, bits == 8 ? 256u : 0u);
        const Frame f = GrabPattern(g);
        EXPECT_EQ(PatternMismatches(f, bits), 0);
        g.EndCapturing();
        EXPECT_FALSE(g.Prepared());
    }
}

TEST_F(Grabber, RefusesSmallBuffersAndTouchesNothing)
{
    ScreenGrabber g(info);
    g.InitCapturing();
    std::vector<uint8_t> bits(size_t(info.frameBytes), 0xCD);
    EXPECT_FALSE(g.GrabFrame(bits.data(), uint32_t(bits.size() - 1)));
    EXPECT_EQ(std::vector<uint8_t>(bits.size(), 0xCD), bits);
    // A frameBytes smaller than the prepared format must not let the conversion overrun.
    info.frameBytes = 16;
    EXPECT_FALSE(g.GrabFrame(bits.data(), 16));
    g.EndCapturing();
    EXPECT_FALSE(g.GrabFrame(bits.data(), uint32_t(bits.size())));
}

TEST_F(Grabber, CursorDrawnWithItsHotSpotOnTheCursorPosition)
{
    ScreenGrabber g(info);
    g.InitCapturing();
    info.drawCursor = false;
    const Frame plain = GrabPattern(g);
    ASSERT_EQ(PatternMismatches(plain, frameBits), 0);

    const POINT at{kPatternAt.x + 40, kPatternAt.y + 30};
    ::SetCursorPos(at.x, at.y);
    ::SetCursor(cursor);
    PumpMessages(100);
    POINT now;
    ASSERT_TRUE(::GetCursorPos(&now));
    ASSERT_EQ(now.x, at.x);
    ASSERT_EQ(now.y, at.y);

    info.drawCursor = true;
    std::vector<uint8_t> bits = Grab(g);
    const Frame drawn = DecodeDib(info.bitmapInfo, bits.data());
    const int left = at.x - kHotSpot.x - kPatternAt.x;
    const int top = at.y - kHotSpot.y - kPatternAt.y;
    int bad = 0;
    for (int y = 0; y < drawn.height; ++y) {
        for (int x = 0; x < drawn.width; ++x) {
            const bool inBlock = x >= left && x < left + kBlockWidth && y >= top && y < top + kBlockHeight;
            bad += drawn.At(x, y) != (inBlock ? RGB(0, 0, 0) : plain.At(x, y));
        }
    }
    EXPECT_EQ(bad, 0);

    info.drawCursor = false;
    bits = Grab(g);
    EXPECT_EQ(PatternMismatches(DecodeDib(info.bitmapInfo, bits.data()), frameBits), 0) << "drawing switched off";

    info.drawCursor = true;
    ::SetCursorPos(kPatternAt.x + kPatternWidth + 20, kPatternAt.y + 10);
    PumpMessages(50);
    bits = Grab(g);
    EXPECT_EQ(PatternMismatches(DecodeDib(info.bitmapInfo, bits.data()), frameBits), 0) << "cursor outside";
    g.EndCapturing();
}

TEST_F(Grabber, TrackingMovesTheAreaAfterTheCursor)
{
    // Smooth Pan, worked example: the cursor 13 pixels right of the inner rectangle.
    SetFormat(VRect{100, 100, 420, 340}, frameBits);
    info.captureMode = kSmoothPan;
    info.panMargin = 80;
    info.drawCursor = false;
    ScreenGrabber g(info);
    g.InitCapturing();
    EXPECT_EQ(g.InnerRect(), (VRect{123, 123, 397, 317}));
    ::SetCursorPos(410, 200);
    PumpMessages(50);
    Grab(g);
    EXPECT_EQ(g.CaptureRect(), (VRect{113, 100, 433, 340}));
    g.EndCapturing();
    // A new recording starts where the user put the area.
    g.InitCapturing();
    EXPECT_EQ(g.CaptureRect(), (VRect{100, 100, 420, 340}));
    g.EndCapturing();
}

std::vector<uint8_t> ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t at)
{
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

// Runs a Unix program (Wine starts ELF files as Unix processes). Such a process gives Wine no
// handle to wait on, so the caller's output file is watched until it has the expected size.
bool RunUnixUntil(const char* program, const std::string& arguments, const std::string& output, size_t size)
{
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    std::string line = std::string(program) + " " + arguments;
    if (!::CreateProcessA(program, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return false;
    ScopedKernelHandle process(pi.hProcess);
    ScopedKernelHandle thread(pi.hThread);
    for (int i = 0; i < 600; ++i) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (::GetFileAttributesExA(output.c_str(), GetFileExInfoStandard, &data) && data.nFileSizeLow >= size)
            return true;
        ::Sleep(50);
    }
    return false;
}

// The same directory seen from both sides: Wine maps Z: to the Unix root.
struct TempDir {
    TempDir()
    {
        unix = "/tmp/vorlux-grab-" + std::to_string(::GetCurrentProcessId());
        windows = "Z:" + unix;
        for (char& c : windows)
            c = c == '/' ? '\\' : c;
        ::CreateDirectoryA(windows.c_str(), nullptr);
    }
    ~TempDir()
    {
        for (const char* name : {"frame.bmp", "frame.rgb"})
            ::DeleteFileA((windows + "\\" + name).c_str());
        ::RemoveDirectoryA(windows.c_str());
    }
    std::string unix;
    std::string windows;
};

TEST_F(Grabber, SaveFrameWritesABitmapThatDecodesToThePattern)
{
    TempDir dir;
    const std::string bmp = dir.windows + "\\frame.bmp";
    for (int bits : {8, 16, 24, 32}) {
        if (!ScreenAllows(bits))
            continue;
        SCOPED_TRACE("frame bits " + std::to_string(bits));
        SetFormat(VRect{kPatternAt.x, kPatternAt.y, kPatternAt.x + kPatternWidth, kPatternAt.y + kPatternHeight},
                  bits);
        const uint32_t size = uint32_t(info.frameBytes);
        info.frameBytes = 100000000;  // left over from a larger recording
        ScreenGrabber g(info);
        g.InitCapturing();
        ASSERT_EQ(PatternMismatches(GrabPattern(g), bits), 0);
        g.EndCapturing();
        info.captureMode = kFollowCursor;

        ASSERT_TRUE(g.SaveFrame(bmp.c_str()));
        EXPECT_FALSE(g.Prepared());
        EXPECT_EQ(info.captureMode.load(), kFollowCursor);

        const std::vector<uint8_t> file = ReadFile(dir.unix + "/frame.bmp");
        const uint32_t offset = bits == 8 ? 1078 : 54;
        ASSERT_EQ(file.size(), offset + size);
        EXPECT_EQ(file[0], 'B');
        EXPECT_EQ(file[1], 'M');
        EXPECT_EQ(Le32(file, 2), offset + size);
        EXPECT_EQ(Le32(file, 10), offset);
        EXPECT_EQ(Le32(file, 14), 40u);
        VBitmapInfo format;
        std::memcpy(&format.bmiHeader, &file[14], 40);
        std::memcpy(format.bmiColors, &file[54], offset - 54);
        EXPECT_EQ(PatternMismatches(DecodeDib(format, &file[offset]), bits), 0);

        // An outside decoder must agree.
        const std::string raw = dir.unix + "/frame.rgb";
        ::DeleteFileA((dir.windows + "\\frame.rgb").c_str());
        const size_t rgbSize = size_t(kPatternWidth * kPatternHeight * 3);
        ASSERT_TRUE(RunUnixUntil("/usr/bin/ffmpeg",
                                 "-v error -y -i " + dir.unix + "/frame.bmp -f rawvideo -pix_fmt rgb24 " + raw,
                                 dir.windows + "\\frame.rgb", rgbSize));
        ::Sleep(100);  // let the writer close the file
        const std::vector<uint8_t> rgb = ReadFile(raw);
        ASSERT_EQ(rgb.size(), rgbSize);
        int bad = 0;
        for (int y = 0; y < kPatternHeight; ++y)
            for (int x = 0; x < kPatternWidth; ++x) {
                const uint8_t* p = &rgb[(size_t(y) * kPatternWidth + x) * 3];
                const COLORREF want = AtDepth(PatternColour(x, y), bits);
                // FFmpeg widens 5-bit channels by repeating their top bits.
                const int mask = bits == 16 ? 0xF8 : 0xFF;
                bad += RGB(p[0] & mask, p[1] & mask, p[2] & mask) != want;
            }
        EXPECT_EQ(bad, 0);
    }
}

TEST_F(Grabber, SaveFrameKeepsAPreparedGrabberPreparedAndUnmoved)
{
    TempDir dir;
    info.captureMode = kSmoothPan;
    ScreenGrabber g(info);
    g.InitCapturing();
    const VRect before = g.CaptureRect();
    ::SetCursorPos(900, 700);  // far outside: a tracking grab would move the area
    PumpMessages(50);
    ASSERT_TRUE(g.SaveFrame((dir.windows + "\\frame.bmp").c_str()));
    EXPECT_TRUE(g.Prepared());
    EXPECT_EQ(g.CaptureRect(), before);
    EXPECT_EQ(info.captureMode.load(), kSmoothPan);
    g.EndCapturing();
}

TEST_F(Grabber, SaveFrameToAnUnwritablePathGivesFalseAndNoFile)
{
    ScreenGrabber g(info);
    const char* path = "Z:\\tmp\\vorlux-no-such-dir\\frame.bmp";
    EXPECT_FALSE(g.SaveFrame(path));
    EXPECT_EQ(::GetFileAttributesA(path), INVALID_FILE_ATTRIBUTES);
    // The system's reason is kept for the message the user sees.
    EXPECT_EQ(g.LastSaveError(), uint32_t(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(g.SaveFrame(""));
    EXPECT_NE(g.LastSaveError(), 0u);
    EXPECT_FALSE(g.SaveFrame(nullptr));
}

// Test seam: a grabber that believes the screen has the given depth and size.
class ScreenOf : public ScreenGrabber {
public:
    ScreenOf(CaptureInfo& info, int bits, int width, int height) : ScreenGrabber(info)
    {
        screenBitsPerPixel = bits;
        screenWidth = width;
        screenHeight = height;
    }
};

struct CheckCase {
    const char* name;
    int screenBits;
    int frameBits;
    int width;
    int height;
    int32_t code;
};

const CheckCase kChecks[] = {
    {"32-bit screen, 24-bit frames", 32, 24, 320, 240, kStartOk},
    {"32-bit screen, 16-bit frames", 32, 16, 320, 240, kStartOk},
    {"32-bit screen, 8-bit frames", 32, 8, 320, 240, kStartOk},
    {"24-bit screen", 24, 24, 320, 240, kStartOk},
    {"32-bit screen, 32-bit frames", 32, 32, 320, 240, kStartOk},
    {"24-bit screen, 32-bit frames", 24, 32, 320, 240, kStartOk},
    {"32-bit frames on a 16-bit screen", 16, 32, 320, 240, kErrDepthTooHigh},
    {"32-bit frames on an 8-bit screen", 8, 32, 320, 240, kErrDepthTooHigh},
    {"8-bit screen, 8-bit frames", 8, 8, 320, 240, kStartOk},
    {"1-bit screen", 1, 8, 320, 240, kErrScreenDepth},
    {"4-bit screen before any other check", 4, 24, 5000, 5000, kErrScreenDepth},
    {"15-bit screen", 15, 8, 320, 240, kErrScreenDepth},
    {"24-bit frames on a 16-bit screen", 16, 24, 320, 240, kErrDepthTooHigh},
    {"depth before width", 8, 16, 5000, 5000, kErrDepthTooHigh},
    {"exactly the screen", 16, 16, 1024, 768, kStartOk},
    {"one pixel too wide", 16, 16, 1025, 768, kErrTooWide},
    {"width before height", 16, 16, 1025, 769, kErrTooWide},
    {"one pixel too high", 32, 24, 1024, 769, kErrTooHigh},
};

TEST_F(Grabber, CheckCodesInOrder)
{
    for (const CheckCase& c : kChecks) {
        SetFormat(VRect{0, 0, c.width, c.height}, c.frameBits);
        ScreenOf g(info, c.screenBits, 1024, 768);
        EXPECT_EQ(g.CheckConfig(), c.code) << c.name;
    }
    ScreenGrabber real(info);
    SetFormat(VRect{0, 0, 1024, 768}, frameBits);
    EXPECT_EQ(real.CheckConfig(), kStartOk) << "the screen this test runs on";
}

}  // namespace
