// End to end under Wine: a real engine records a window of the test's own while xdotool clicks
// on it and moves the pointer, and FFmpeg decodes the movie. With highlighting on, the ring's
// colour is around the click point in the frames just after the click and in none before it;
// with it off, no frame has it. The same for the halo around a cursor at a known position.

#include "engine/CaptureEngine.h"
#include "tests/media/ClickTestSupport.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace click_test;

constexpr RECT kWindow{60, 80, 420, 340};
constexpr VRect kArea{100, 100, 420, 340};  // 320 x 240, inside the window
constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kFps = 5;
constexpr DWORD kPeriod = 1000 / kFps;
constexpr COLORREF kBefore = RGB(128, 128, 128);
constexpr COLORREF kAfter = RGB(192, 192, 192);  // the window once it has seen the press
constexpr POINT kClickAt{250, 200};
constexpr POINT kHaloAt{330, 280};
constexpr POINT kParked{400, 330};  // the pointer before the click: far from both

struct Rgb {
    uint8_t r, g, b;
};

// Ring and halo both tint towards yellow; the window's greys and the arrow cursor's black and
// white do not. Lossy frames blur the ring's edges but keep its middle yellow enough.
bool Yellowish(Rgb c)
{
    return c.r >= 150 && c.g >= 120 && c.b + 60 <= std::min(c.r, c.g);
}

struct Movie {
    std::vector<std::vector<Rgb>> frames;  // top-down, one per frame slot

    Rgb At(size_t frame, int x, int y) const { return frames[frame][size_t(y) * kWidth + size_t(x)]; }

    // Yellowish pixels in a ring of radii [from, to) around a point of the area.
    int YellowAround(size_t frame, POINT screen, double from, double to) const
    {
        const int cx = screen.x - kArea.left;
        const int cy = screen.y - kArea.top;
        int n = 0;
        for (int y = std::max(0, cy - int(to)); y < std::min(kHeight, cy + int(to) + 1); ++y)
            for (int x = std::max(0, cx - int(to)); x < std::min(kWidth, cx + int(to) + 1); ++x) {
                const double d = std::hypot(x - cx, y - cy);
                n += d >= from && d < to && Yellowish(At(frame, x, y));
            }
        return n;
    }
    int YellowAnywhere(size_t frame) const
    {
        int n = 0;
        for (const Rgb& c : frames[frame])
            n += Yellowish(c);
        return n;
    }
    // The window has seen the press: a corner of the area shows its second colour.
    bool Pressed(size_t frame) const { return At(frame, 4, 4).r > 160; }
};

class ClickMovieHeavy : public ::testing::Test {
protected:
    static void SetUpTestSuite() { SetDpiAware(); }

    void SetUp() override
    {
        window = std::make_unique<FlatWindow>(kWindow, kBefore, kAfter, ::LoadCursor(nullptr, IDC_ARROW));
        ASSERT_TRUE(window->Handle());
        ASSERT_EQ(RunShell(dir, "xdotool mousemove " + Coords(kParked)), 0) << "xdotool could not run";
        ASSERT_TRUE(CursorAt(kParked));
        PumpMessages(300);
    }

    static std::string Coords(POINT p) { return std::to_string(p.x) + " " + std::to_string(p.y); }

    bool CursorAt(POINT p)
    {
        return PumpUntil([&] {
            POINT now;
            return ::GetCursorPos(&now) && now.x == p.x && now.y == p.y;
        }, 5000);
    }

    std::unique_ptr<CaptureEngine> MakeEngine(const std::string& name, bool highlight, bool halo)
    {
        auto engine = std::make_unique<CaptureEngine>(std::make_unique<CaptureFactory>());
        engine->SetLog(traceLog);
        EXPECT_TRUE(engine->SetCaptureRect(kArea));
        engine->SetFramesPerSecond(kFps);
        engine->SetCaptureMode(kFixedArea);
        engine->SetRecordSound(false);
        engine->SetDrawCursor(true);
        engine->SetCompressor(MakeFourCC(engine->GetBitDepth() == 8 ? "mrle" : "MSVC"));
        engine->SetHighlightClicks(highlight);
        engine->SetCursorHalo(halo);
        engine->SetFileName(dir.Windows(name).c_str());
        return engine;
    }

    // FFmpeg's frames at the movie's rate: one per slot, a slot without a frame of its own
    // repeating the one before.
    Movie Decode(const std::string& name)
    {
        const std::string raw = name + ".rgb";
        const int status = RunShell(dir, "ffmpeg -v error -y -i " + dir.Unix(name) +
                                             " -f rawvideo -pix_fmt rgb24 " + dir.Unix(raw));
        EXPECT_EQ(status, 0) << "ffmpeg could not decode " << name;
        const std::vector<uint8_t> bytes = ReadFile(dir.Windows(raw));
        const size_t frameBytes = size_t(kWidth) * kHeight * 3;
        EXPECT_EQ(bytes.size() % frameBytes, 0u);
        Movie m;
        for (size_t at = 0; at + frameBytes <= bytes.size(); at += frameBytes) {
            std::vector<Rgb> f(size_t(kWidth) * kHeight);
            std::memcpy(f.data(), &bytes[at], frameBytes);
            m.frames.push_back(std::move(f));
        }
        return m;
    }

    // Records with a click at kClickAt after about a second. Times are timeGetTime readings.
    struct ClickRun {
        Movie movie;
        DWORD begin = 0;   // just before BeginCapture: no frame slot starts earlier
        DWORD begun = 0;   // just after it: every frame slot starts at most this late
        DWORD launch = 0;  // xdotool started: no press before this
        DWORD press = 0;   // the window had the press
    };
    ClickRun RecordClick(const std::string& name, bool highlight)
    {
        ClickRun run;
        auto engine = MakeEngine(name, highlight, false);
        run.begin = ::timeGetTime();
        EXPECT_EQ(engine->BeginCapture(), 0);
        run.begun = ::timeGetTime();
        PumpMessages(1200);
        run.launch = ::timeGetTime();
        EXPECT_EQ(RunShell(dir, "xdotool mousemove " + Coords(kClickAt) + " click 1"), 0);
        EXPECT_TRUE(PumpUntil([&] { return window->Presses() > 0; }, 5000)) << "the click reached the window";
        run.press = window->FirstPressTime();
        PumpMessages(1200);
        EXPECT_EQ(engine->CaptureStop(), 1);
        engine.reset();
        run.movie = Decode(name);
        return run;
    }

    TempDir dir{"click-movie"};
    std::ostringstream trace;
    StreamLog traceLog{trace};
    std::unique_ptr<FlatWindow> window;
};

TEST_F(ClickMovieHeavy, RingAroundTheClickJustAfterItAndNeverBefore)
{
    const ClickRun run = RecordClick("ring.avi", true);
    const Movie& m = run.movie;
    ASSERT_GE(m.frames.size(), size_t(8)) << trace.str();

    // Frames whose slot ended, at the latest, well before xdotool even started.
    size_t before = 0;
    for (size_t i = 0; i < m.frames.size(); ++i) {
        const DWORD slotEnd = run.begun + DWORD(i + 1) * kPeriod + 50;
        if (int32_t(run.launch - slotEnd) <= 0)
            break;
        EXPECT_EQ(m.YellowAnywhere(i), 0) << "frame " << i << " is from before the click";
        ++before;
    }
    EXPECT_GE(before, size_t(3));

    // The first frame grabbed after the window saw the press shows the ring around the point.
    size_t first = 0;
    while (first < m.frames.size() && !m.Pressed(first))
        ++first;
    ASSERT_LT(first, m.frames.size()) << "no frame shows the window after the press";
    EXPECT_GE(first, before);
    EXPECT_GE(m.YellowAround(first, kClickAt, 4, 40), 12) << "frame " << first;
    EXPECT_EQ(m.YellowAnywhere(first) - m.YellowAround(first, kClickAt, 4, 40), 0) << "yellow only around the click";

    // Once the animation is over, the ring is gone.
    for (size_t i = 0; i < m.frames.size(); ++i) {
        const DWORD slotStart = run.begin + DWORD(i) * kPeriod;
        if (int32_t(slotStart - (run.press + 400 + 2 * kPeriod)) > 0) {
            EXPECT_EQ(m.YellowAnywhere(i), 0) << "frame " << i << " is long after the click";
        }
    }
}

TEST_F(ClickMovieHeavy, WithoutHighlightingNoFrameHasRingColours)
{
    const ClickRun run = RecordClick("plain.avi", false);
    const Movie& m = run.movie;
    ASSERT_GE(m.frames.size(), size_t(8)) << trace.str();
    bool pressedSeen = false;
    for (size_t i = 0; i < m.frames.size(); ++i) {
        pressedSeen = pressedSeen || m.Pressed(i);
        EXPECT_EQ(m.YellowAnywhere(i), 0) << "frame " << i;
    }
    EXPECT_TRUE(pressedSeen) << "the click happened during the recording";
}

TEST_F(ClickMovieHeavy, HaloAroundTheCursorOnlyWhenSwitchedOn)
{
    ASSERT_EQ(RunShell(dir, "xdotool mousemove " + Coords(kHaloAt)), 0);
    ASSERT_TRUE(CursorAt(kHaloAt));
    for (bool halo : {true, false}) {
        SCOPED_TRACE(halo ? "halo on" : "halo off");
        const std::string name = halo ? "halo.avi" : "nohalo.avi";
        auto engine = MakeEngine(name, false, halo);
        ASSERT_EQ(engine->BeginCapture(), 0);
        PumpMessages(1200);
        EXPECT_EQ(engine->CaptureStop(), 1);
        engine.reset();
        const Movie m = Decode(name);
        ASSERT_GE(m.frames.size(), size_t(4)) << trace.str();
        for (size_t i = 0; i < m.frames.size(); ++i) {
            const int around = m.YellowAround(i, kHaloAt, 4, 18);
            if (halo) {
                EXPECT_GE(around, 40) << "frame " << i;
                EXPECT_EQ(m.YellowAnywhere(i) - m.YellowAround(i, kHaloAt, 0, 24), 0) << "frame " << i;
            } else {
                EXPECT_EQ(m.YellowAnywhere(i), 0) << "frame " << i;
            }
        }
    }
}

}  // namespace
