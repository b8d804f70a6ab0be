// The screen grabber with click highlighting and the cursor halo, on a real display of each
// depth: the marks land in the grabbed frame exactly as the pure drawing puts them, over the
// screen's content and under the cursor; the mouse hook runs with the recording, stamps real
// presses and drops those made while paused. The keyboard hook likewise, with its plates at the
// bottom centre and its password rule.

#include "media/ClickOverlay.h"
#include "media/KeyOverlay.h"
#include "media/ScreenGrabber.h"
#include "tests/media/ClickTestSupport.h"

#include <gtest/gtest.h>

#include <windows.h>

#include "framework/Dpi.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace click_test;

constexpr COLORREF kBackground = RGB(128, 128, 128);
constexpr RECT kWindow{40, 60, 240, 210};  // also the capture area
constexpr POINT kOutside{900, 700};        // a cursor position away from everything

int DpiOfMonitorAt(POINT p)
{
    return MonitorDpi(::MonitorFromPoint(p, MONITOR_DEFAULTTONEAREST), 96);
}

void SendButton(DWORD down, DWORD up)
{
    INPUT in[2]{};
    in[0].type = in[1].type = INPUT_MOUSE;
    in[0].mi.dwFlags = down;
    in[1].mi.dwFlags = up;
    ::SendInput(2, in, sizeof(INPUT));
}

class ClickGrabber : public ::testing::Test {
protected:
    static void SetUpTestSuite() { SetDpiAware(); }

    void SetUp() override
    {
        cursor = MakeBlockCursor();
        ASSERT_TRUE(cursor);
        window = std::make_unique<FlatWindow>(kWindow, kBackground, kBackground, cursor);
        ASSERT_TRUE(window->Handle());
        const int screenBits = ::GetDeviceCaps(ScopedWindowDC(nullptr).get(), BITSPIXEL);
        bits = screenBits == 32 ? 24 : screenBits;
        VBitmapInfoHeader& h = info.bitmapInfo.bmiHeader;
        h.biWidth = kWindow.right - kWindow.left;
        h.biHeight = kWindow.bottom - kWindow.top;
        h.biPlanes = 1;
        h.biBitCount = uint16_t(bits);
        h.biClrUsed = bits == 8 ? 256 : 0;
        info.origin = VPoint{kWindow.left, kWindow.top};
        info.frameBytes = int32_t(DibFrameBytes(h.biWidth, h.biHeight, bits));
        info.captureMode = kFixedArea;
        info.drawCursor = true;
        MoveCursor(kOutside);
    }

    void TearDown() override
    {
        window.reset();
        ::DestroyCursor(cursor);
    }

    void MoveCursor(POINT p)
    {
        ::SetCursorPos(p.x, p.y);
        ::SetCursor(cursor);
        PumpUntil([&] {
            POINT now;
            return ::GetCursorPos(&now) && now.x == p.x && now.y == p.y;
        }, 2000);
        PumpMessages(50);
    }

    std::vector<uint8_t> Grab(ScreenGrabber& g)
    {
        std::vector<uint8_t> frame(size_t(info.frameBytes), 0xCD);
        EXPECT_TRUE(g.GrabFrame(frame.data(), uint32_t(frame.size())));
        return frame;
    }

    // The area with nothing drawn in: grabs until the window's colour fills it (X draws late).
    std::vector<uint8_t> Plain(ScreenGrabber& g)
    {
        const bool highlight = info.highlightClicks;
        const bool halo = info.cursorHalo;
        const bool cursorOn = info.drawCursor;
        info.cursorHalo = false;
        info.drawCursor = false;
        std::vector<uint8_t> frame;
        for (int tries = 0; tries < 100; ++tries) {
            frame = Grab(g);
            const std::vector<uint8_t> again = Grab(g);
            if (frame == again && Uniform(frame))
                break;
            PumpMessages(20);
        }
        info.highlightClicks = highlight;
        info.cursorHalo = halo;
        info.drawCursor = cursorOn;
        return frame;
    }

    bool Uniform(const std::vector<uint8_t>& frame)
    {
        const VBitmapInfoHeader& h = info.bitmapInfo.bmiHeader;
        const size_t stride = size_t(DibStride(h.biWidth, h.biBitCount));
        const size_t px = size_t(bits / 8);
        for (int y = 0; y < h.biHeight; ++y)
            for (int x = 0; x < h.biWidth; ++x)
                if (std::memcmp(&frame[stride * y + x * px], &frame[0], px) != 0)
                    return false;
        return true;
    }

    FrameView View(std::vector<uint8_t>& frame)
    {
        FrameView v;
        v.bits = frame.data();
        v.width = info.bitmapInfo.bmiHeader.biWidth;
        v.height = info.bitmapInfo.bmiHeader.biHeight;
        v.bitsPerPixel = bits;
        v.colours = info.bitmapInfo.bmiColors;
        v.colourCount = VBitmapInfo::UsedColours(info.bitmapInfo.bmiHeader);
        return v;
    }

    // Pixels that differ, ignoring the cursor's black block at `cursorAt` (screen coordinates),
    // where the frame must be black instead.
    int Differences(const std::vector<uint8_t>& got, const std::vector<uint8_t>& want, const POINT* cursorAt = nullptr)
    {
        const VBitmapInfoHeader& h = info.bitmapInfo.bmiHeader;
        const size_t stride = size_t(DibStride(h.biWidth, h.biBitCount));
        const size_t px = size_t(bits / 8);
        int bad = 0;
        for (int y = 0; y < h.biHeight; ++y) {
            for (int x = 0; x < h.biWidth; ++x) {
                const uint8_t* g = &got[stride * size_t(h.biHeight - 1 - y) + size_t(x) * px];
                const uint8_t* w = &want[stride * size_t(h.biHeight - 1 - y) + size_t(x) * px];
                bool inBlock = false;
                if (cursorAt) {
                    const int left = cursorAt->x - kHotSpot.x - kWindow.left;
                    const int top = cursorAt->y - kHotSpot.y - kWindow.top;
                    inBlock = x >= left && x < left + kBlockWidth && y >= top && y < top + kBlockHeight;
                }
                if (inBlock)
                    bad += !IsBlack(g);
                else
                    bad += std::memcmp(g, w, px) != 0;
            }
        }
        return bad;
    }

    bool IsBlack(const uint8_t* p)
    {
        if (bits == 8) {
            const VRgbQuad& q = info.bitmapInfo.bmiColors[*p];
            return q.rgbRed == 0 && q.rgbGreen == 0 && q.rgbBlue == 0;
        }
        for (int i = 0; i < bits / 8; ++i)
            if (p[i] != 0)
                return false;
        return true;
    }

    CaptureInfo info;
    int bits = 0;
    HCURSOR cursor = nullptr;
    std::unique_ptr<FlatWindow> window;
};

struct RingCase {
    const char* name;
    POINT press;  // screen coordinates
    ClickButton button;
};

const RingCase kRings[] = {
    {"inside", {kWindow.left + 70, kWindow.top + 50}, ClickButton::Left},
    {"right button at the bottom-right corner", {kWindow.right - 3, kWindow.bottom - 2}, ClickButton::Right},
    {"middle button outside the left edge", {kWindow.left - 12, kWindow.top + 80}, ClickButton::Middle},
    {"outside above", {kWindow.left + 100, kWindow.top - 15}, ClickButton::Left},
};

TEST_F(ClickGrabber, RingLandsInTheFrameExactlyAsDrawnOverTheContent)
{
    info.highlightClicks = true;
    ScreenGrabber g(info);
    g.InitCapturing();
    ASSERT_TRUE(g.Prepared());
    const std::vector<uint8_t> plain = Plain(g);
    ASSERT_TRUE(Uniform(plain));
    for (const RingCase& c : kRings) {
        SCOPED_TRACE(c.name);
        // A press long before the frame shows once, a quarter into its animation: an exact age.
        g.PendingClicks().Push(ClickPress{g.ClickTimeNow() - 1000, VPoint{c.press.x, c.press.y}, c.button});
        const std::vector<uint8_t> frame = Grab(g);
        std::vector<uint8_t> want = plain;
        DrawRing(View(want), c.press.x - kWindow.left, c.press.y - kWindow.top, c.button,
                 ClickTimeline::kLateAgeMs, DpiOfMonitorAt(c.press));
        EXPECT_NE(want, plain) << "the ring reaches into the area";
        EXPECT_EQ(Differences(frame, want), 0);
        EXPECT_EQ(Differences(Grab(g), plain), 0) << "shown once, then gone";
    }
    g.EndCapturing();
}

TEST_F(ClickGrabber, CursorIsDrawnOverTheRing)
{
    info.highlightClicks = true;
    ScreenGrabber g(info);
    g.InitCapturing();
    const std::vector<uint8_t> plain = Plain(g);
    const POINT at{kWindow.left + 90, kWindow.top + 60};
    MoveCursor(at);
    // The ring's bright band runs through the cursor's block.
    const int dpi = DpiOfMonitorAt(at);
    const POINT press{at.x - int(RingShapeAt(ClickTimeline::kLateAgeMs, dpi).radius), at.y};
    g.PendingClicks().Push(ClickPress{g.ClickTimeNow() - 1000, VPoint{press.x, press.y}, ClickButton::Left});
    const std::vector<uint8_t> frame = Grab(g);
    std::vector<uint8_t> want = plain;
    DrawRing(View(want), press.x - kWindow.left, press.y - kWindow.top, ClickButton::Left, ClickTimeline::kLateAgeMs,
             dpi);
    int underBlock = 0;
    const size_t stride = size_t(DibStride(info.bitmapInfo.bmiHeader.biWidth, bits));
    for (int y = at.y - kHotSpot.y; y < at.y - kHotSpot.y + kBlockHeight; ++y)
        for (int x = at.x - kHotSpot.x; x < at.x - kHotSpot.x + kBlockWidth; ++x) {
            const size_t i = stride * size_t(kWindow.bottom - 1 - y) + size_t(x - kWindow.left) * size_t(bits / 8);
            underBlock += std::memcmp(&want[i], &plain[i], size_t(bits / 8)) != 0;
        }
    ASSERT_GT(underBlock, 0) << "the ring passes under the block";
    EXPECT_EQ(Differences(frame, want, &at), 0);

    // With nothing to mark, the frame takes the usual path and shows the same cursor.
    const std::vector<uint8_t> usual = Grab(g);
    EXPECT_EQ(Differences(usual, plain, &at), 0);
    g.EndCapturing();
}

TEST_F(ClickGrabber, HaloUnderTheCursorAndClippedAtTheEdges)
{
    info.cursorHalo = true;
    ScreenGrabber g(info);
    g.InitCapturing();
    EXPECT_FALSE(g.ClickHookRunning()) << "the halo needs no hook";
    const std::vector<uint8_t> plain = Plain(g);
    const POINT spots[] = {{kWindow.left + 50, kWindow.top + 40}, {kWindow.left + 2, kWindow.bottom - 3}};
    for (const POINT& at : spots) {
        MoveCursor(at);
        const std::vector<uint8_t> frame = Grab(g);
        std::vector<uint8_t> want = plain;
        DrawHalo(View(want), at.x - kWindow.left, at.y - kWindow.top, DpiOfMonitorAt(at));
        EXPECT_EQ(Differences(frame, want, &at), 0) << at.x << "," << at.y;
    }
    // The halo stays when the cursor is not drawn, and goes when switched off.
    info.drawCursor = false;
    const POINT at = spots[0];
    std::vector<uint8_t> want = plain;
    DrawHalo(View(want), at.x - kWindow.left, at.y - kWindow.top, DpiOfMonitorAt(at));
    MoveCursor(at);
    EXPECT_EQ(Differences(Grab(g), want), 0);
    info.cursorHalo = false;
    EXPECT_EQ(Differences(Grab(g), plain), 0);
    g.EndCapturing();
}

TEST_F(ClickGrabber, SingleFrameShowsTheHaloAndLeavesNoHookRunning)
{
    TempDir dir("click-grabber");
    info.cursorHalo = true;
    info.highlightClicks = true;
    info.drawCursor = false;
    ScreenGrabber g(info);
    g.InitCapturing();
    const std::vector<uint8_t> plain = Plain(g);
    g.EndCapturing();
    const POINT at{kWindow.left + 60, kWindow.top + 70};
    MoveCursor(at);
    ASSERT_TRUE(g.SaveFrame(dir.Windows("frame.bmp").c_str()));
    EXPECT_FALSE(g.ClickHookRunning());
    const std::vector<uint8_t> file = ReadFile(dir.Windows("frame.bmp"));
    const size_t offset = bits == 8 ? 1078 : 54;
    ASSERT_EQ(file.size(), offset + plain.size());
    std::vector<uint8_t> want = plain;
    DrawHalo(View(want), at.x - kWindow.left, at.y - kWindow.top, DpiOfMonitorAt(at));
    EXPECT_EQ(Differences(std::vector<uint8_t>(file.begin() + ptrdiff_t(offset), file.end()), want), 0);
}

// The display's DPI under Wine comes from the user's LogPixels, read once when a process starts:
// a run at another DPI is a second process of this test program, started with the value set.
constexpr int kHighDpi = 144;
constexpr const char* kDpiVariable = "VORLUX_CLICK_TEST_DPI";

// Sets the user's LogPixels for as long as it lives, then puts back what was there.
class ScopedLogPixels {
public:
    explicit ScopedLogPixels(DWORD dpi)
    {
        HKEY key = nullptr;
        if (::RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr) != ERROR_SUCCESS)
            return;
        desktop.reset(key);
        DWORD size = sizeof old;
        had = ::RegQueryValueExA(key, "LogPixels", nullptr, nullptr, reinterpret_cast<BYTE*>(&old), &size) ==
              ERROR_SUCCESS;
        set = ::RegSetValueExA(key, "LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof dpi) ==
              ERROR_SUCCESS;
    }
    ~ScopedLogPixels()
    {
        if (!set)
            return;
        if (had)
            ::RegSetValueExA(desktop.get(), "LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&old), sizeof old);
        else
            ::RegDeleteValueA(desktop.get(), "LogPixels");
    }
    bool Set() const { return set; }

private:
    ScopedRegKey desktop;
    DWORD old = 0;
    bool had = false;
    bool set = false;
};

// Runs one test of this program in a process of its own with `variable` set; its exit code.
DWORD RunThisTestAlone(const char* test, const char* variable, const std::string& value)
{
    char self[MAX_PATH];
    if (!::GetModuleFileNameA(nullptr, self, sizeof self))
        return DWORD(-1);
    std::string line = std::string("\"") + self + "\" --gtest_filter=" + test;
    ::SetEnvironmentVariableA(variable, value.c_str());
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    const BOOL started = ::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
    ::SetEnvironmentVariableA(variable, nullptr);
    if (!started)
        return DWORD(-1);
    ScopedKernelHandle process(pi.hProcess);
    ScopedKernelHandle thread(pi.hThread);
    if (::WaitForSingleObject(process.get(), 120000) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.get(), 1);
        return DWORD(-1);
    }
    DWORD code = DWORD(-1);
    ::GetExitCodeProcess(process.get(), &code);
    return code;
}

// The ring and the halo take the size of the monitor's DPI: at 144 DPI both are half as large
// again as at 96. Run here, the test starts itself again at 144 DPI; that run checks the marks.
TEST_F(ClickGrabber, MarksAreSizedByTheMonitorsDpi)
{
    char wanted[16] = {};
    if (!::GetEnvironmentVariableA(kDpiVariable, wanted, sizeof wanted)) {
        ScopedLogPixels high(kHighDpi);
        ASSERT_TRUE(high.Set());
        EXPECT_EQ(RunThisTestAlone("ClickGrabber.MarksAreSizedByTheMonitorsDpi", kDpiVariable,
                                   std::to_string(kHighDpi)),
                  0u)
            << "the run at " << kHighDpi << " DPI failed (its output is above)";
        return;
    }
    const POINT press{kWindow.left + 100, kWindow.top + 75};
    const POINT cursorAt{kWindow.left + 60, kWindow.top + 50};
    const int dpi = DpiOfMonitorAt(press);
    ASSERT_EQ(dpi, std::atoi(wanted)) << "the monitor does not have the DPI this run is for";
    info.highlightClicks = true;
    info.drawCursor = false;
    ScreenGrabber g(info);
    g.InitCapturing();
    ASSERT_TRUE(g.Prepared());
    const std::vector<uint8_t> plain = Plain(g);
    ASSERT_TRUE(Uniform(plain));

    g.PendingClicks().Push(ClickPress{g.ClickTimeNow() - 1000, VPoint{press.x, press.y}, ClickButton::Left});
    std::vector<uint8_t> want = plain;
    DrawRing(View(want), press.x - kWindow.left, press.y - kWindow.top, ClickButton::Left, ClickTimeline::kLateAgeMs,
             dpi);
    std::vector<uint8_t> at96 = plain;
    DrawRing(View(at96), press.x - kWindow.left, press.y - kWindow.top, ClickButton::Left, ClickTimeline::kLateAgeMs,
             click_overlay::kBaseDpi);
    ASSERT_NE(want, at96) << "a ring at this DPI looks like one at 96";
    EXPECT_EQ(Differences(Grab(g), want), 0) << "ring";

    info.highlightClicks = false;
    info.cursorHalo = true;
    MoveCursor(cursorAt);
    want = plain;
    DrawHalo(View(want), cursorAt.x - kWindow.left, cursorAt.y - kWindow.top, dpi);
    at96 = plain;
    DrawHalo(View(at96), cursorAt.x - kWindow.left, cursorAt.y - kWindow.top, click_overlay::kBaseDpi);
    ASSERT_NE(want, at96) << "a halo at this DPI looks like one at 96";
    EXPECT_EQ(Differences(Grab(g), want), 0) << "halo";
    g.EndCapturing();
}

struct ButtonCase {
    DWORD down;
    DWORD up;
    ClickButton button;
};

TEST_F(ClickGrabber, HookRunsWithTheRecordingAndStampsRealPresses)
{
    info.highlightClicks = false;
    {
        ScreenGrabber off(info);
        off.InitCapturing();
        EXPECT_FALSE(off.ClickHookRunning()) << "highlighting off: no hook";
        off.EndCapturing();
    }
    info.highlightClicks = true;
    info.drawCursor = false;
    ScreenGrabber g(info);
    g.InitCapturing();
    ASSERT_TRUE(g.ClickHookRunning());
    const std::vector<uint8_t> plain = Plain(g);
    const POINT at{kWindow.left + 80, kWindow.top + 40};
    MoveCursor(at);

    const ButtonCase buttons[] = {{MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP, ClickButton::Left},
                                  {MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_RIGHTUP, ClickButton::Right},
                                  {MOUSEEVENTF_MIDDLEDOWN, MOUSEEVENTF_MIDDLEUP, ClickButton::Middle}};
    for (const ButtonCase& b : buttons) {
        const uint32_t before = g.ClickTimeNow();
        SendButton(b.down, b.up);
        ASSERT_TRUE(PumpUntil([&] { return g.PendingClicks().Size() > 0; }, 5000));
        PumpMessages(50);
        ClickPress got[ClickRing::kCapacity];
        ASSERT_EQ(g.PendingClicks().Drain(got, ClickRing::kCapacity), 1u) << "a press, and no release";
        EXPECT_EQ(got[0].at, (VPoint{at.x, at.y}));
        EXPECT_EQ(got[0].button, b.button);
        EXPECT_GE(int32_t(got[0].time - before), 0);
        EXPECT_LE(int32_t(g.ClickTimeNow() - got[0].time), 5000);
    }

    // While paused, presses are dropped; after the pause they count again.
    g.SetPaused(true);
    EXPECT_TRUE(g.ClicksPaused());
    const int seen = window->Presses();
    SendButton(MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP);
    ASSERT_TRUE(PumpUntil([&] { return window->Presses() > seen; }, 5000)) << "the click reached the window";
    PumpMessages(100);
    EXPECT_EQ(g.PendingClicks().Size(), 0u);
    g.SetPaused(false);
    SendButton(MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP);
    EXPECT_TRUE(PumpUntil([&] { return g.PendingClicks().Size() == 1; }, 5000));

    // A real press shows in the next frame, around the point where it was made.
    const std::vector<uint8_t> frame = Grab(g);
    const VBitmapInfoHeader& h = info.bitmapInfo.bmiHeader;
    const size_t stride = size_t(DibStride(h.biWidth, h.biBitCount));
    const size_t px = size_t(bits / 8);
    const double reach = RingShapeAt(click_overlay::kRingMs - 1, DpiOfMonitorAt(at)).radius + 8;
    int close = 0;
    int away = 0;
    for (int y = 0; y < h.biHeight; ++y) {
        for (int x = 0; x < h.biWidth; ++x) {
            const size_t i = stride * size_t(h.biHeight - 1 - y) + size_t(x) * px;
            if (std::memcmp(&frame[i], &plain[i], px) == 0)
                continue;
            const double d = std::hypot(x + kWindow.left - at.x, y + kWindow.top - at.y);
            (d < reach ? close : away) += 1;
        }
    }
    EXPECT_GT(close, 20);
    EXPECT_EQ(away, 0);

    // The hook ends with the recording.
    g.EndCapturing();
    EXPECT_FALSE(g.ClickHookRunning());
    const int presses = window->Presses();
    SendButton(MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP);
    ASSERT_TRUE(PumpUntil([&] { return window->Presses() > presses; }, 5000));
    PumpMessages(100);
    EXPECT_EQ(g.PendingClicks().Size(), 0u);

    // And starts again with the next one.
    g.InitCapturing();
    EXPECT_TRUE(g.ClickHookRunning());
    EXPECT_FALSE(g.ClicksPaused());
    g.EndCapturing();
}

void SendKeys(std::initializer_list<std::pair<WORD, bool>> keys)
{
    std::vector<INPUT> in;
    for (auto [vk, down] : keys) {
        INPUT k{};
        k.type = INPUT_KEYBOARD;
        k.ki.wVk = vk;
        k.ki.wScan = WORD(::MapVirtualKeyA(vk, MAPVK_VK_TO_VSC));
        k.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
        in.push_back(k);
    }
    ::SendInput(UINT(in.size()), in.data(), sizeof(INPUT));
}

TEST_F(ClickGrabber, KeyHookRunsWithTheRecordingAndPlatesLandAtTheBottomCentre)
{
    info.showKeys = 0;
    {
        ScreenGrabber off(info);
        off.InitCapturing();
        EXPECT_FALSE(off.KeyHookRunning()) << "keys off: no hook";
        off.EndCapturing();
    }
    info.showKeys = 1;
    info.drawCursor = false;
    ScreenGrabber g(info);
    g.InitCapturing();
    ASSERT_TRUE(g.KeyHookRunning());
    const std::vector<uint8_t> plain = Plain(g);
    SendKeys({{VK_LCONTROL, true}, {'S', true}, {'S', false}, {VK_LCONTROL, false}});
    ASSERT_TRUE(PumpUntil([&] { return g.PendingKeys().Size() >= 4; }, 5000));

    // Everything the plate changes lies in a box centred on the frame, its bottom the plate's.
    const std::vector<uint8_t> frame = Grab(g);
    const VBitmapInfoHeader& h = info.bitmapInfo.bmiHeader;
    const size_t stride = size_t(DibStride(h.biWidth, h.biBitCount));
    const size_t px = size_t(bits / 8);
    int changed = 0;
    int left = h.biWidth;
    int right = -1;
    int bottom = -1;
    for (int y = 0; y < h.biHeight; ++y) {
        for (int x = 0; x < h.biWidth; ++x) {
            const size_t i = stride * size_t(h.biHeight - 1 - y) + size_t(x) * px;
            if (std::memcmp(&frame[i], &plain[i], px) == 0)
                continue;
            ++changed;
            left = std::min(left, x);
            right = std::max(right, x);
            bottom = std::max(bottom, y);
        }
    }
    const int dpi = DpiOfMonitorAt(POINT{kWindow.left, kWindow.top});
    EXPECT_GT(changed, 500);
    EXPECT_NEAR((left + right) / 2.0, h.biWidth / 2.0, 1.0);
    EXPECT_EQ(bottom, h.biHeight - 1 - std::lround(key_overlay::kBottom * dpi / 96.0));

    // While paused a key is still seen, but marked never to show.
    g.SetPaused(true);
    SendKeys({{VK_F2, true}, {VK_F2, false}});
    ASSERT_TRUE(PumpUntil([&] { return g.PendingKeys().Size() >= 2; }, 5000));
    KeyStroke got[KeyRing::kCapacity];
    ASSERT_EQ(g.PendingKeys().Drain(got, KeyRing::kCapacity), 2u);
    EXPECT_TRUE(got[0].hidden && got[1].hidden);
    g.SetPaused(false);

    g.EndCapturing();
    EXPECT_FALSE(g.KeyHookRunning());
    EXPECT_EQ(g.PendingKeys().Size(), 0u);
}

// A password box is told from a plain edit box through the foreground thread's focus, and the
// hook marks the keys typed into it hidden.
TEST_F(ClickGrabber, KeysIntoAPasswordBoxArriveHidden)
{
    info.showKeys = 2;
    ScreenGrabber g(info);
    g.InitCapturing();
    ASSERT_TRUE(g.KeyHookRunning());
    // The window's activation arrives late under X and would take the focus back to the window.
    ::SetForegroundWindow(window->Handle());
    PumpMessages(300);
    for (const DWORD style : {DWORD{ES_PASSWORD}, DWORD{0}, DWORD{ES_PASSWORD}}) {
        SCOPED_TRACE(style);
        HWND edit = ::CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_VISIBLE | style, 10, 10, 100, 20, window->Handle(),
                                      nullptr, nullptr, nullptr);
        ASSERT_TRUE(edit);
        ::SetForegroundWindow(window->Handle());
        ::SetFocus(edit);
        PumpMessages(100);
        EXPECT_EQ(KeyHook::FocusIsPassword(), style != 0);
        SendKeys({{'A', true}, {'A', false}});
        ASSERT_TRUE(PumpUntil([&] { return g.PendingKeys().Size() >= 2; }, 5000));
        KeyStroke got[KeyRing::kCapacity];
        ASSERT_EQ(g.PendingKeys().Drain(got, KeyRing::kCapacity), 2u);
        EXPECT_EQ(got[0].hidden, style != 0);
        ::DestroyWindow(edit);
    }
    g.EndCapturing();
}

}  // namespace
