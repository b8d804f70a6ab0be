#include "panel/Framer.h"

#include "ids/Messages.h"
#include "tests/support/WindowRig.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

constexpr char kProgram[] = "framer_tests.exe";
constexpr RECT kScreen{0, 0, 1024, 768};
constexpr SIZE kMinimum{20, 20};

// ---- ConstrainFramerRect and PanMarginRect ----

struct ConstrainCase {
    const char* name;
    RECT in;
    RECT bounds;
    SIZE minimum;
    RECT expected;
};

const ConstrainCase kConstrainCases[] = {
    {"width 333 rounds up to 336", {100, 100, 433, 200}, kScreen, kMinimum, {100, 100, 436, 200}},
    {"width 336 stays", {100, 100, 436, 200}, kScreen, kMinimum, {100, 100, 436, 200}},
    {"height 97 rounds up to 100", {10, 10, 110, 107}, kScreen, kMinimum, {10, 10, 110, 110}},
    {"wider than the screen", {100, 50, 2100, 150}, kScreen, kMinimum, {0, 50, 1024, 150}},
    {"taller than the screen", {10, 100, 110, 2000}, kScreen, kMinimum, {10, 0, 110, 768}},
    {"off the right edge", {1000, 10, 1100, 110}, kScreen, kMinimum, {924, 10, 1024, 110}},
    {"off the bottom edge", {10, 700, 110, 800}, kScreen, kMinimum, {10, 668, 110, 768}},
    {"off the left edge", {-50, 10, 50, 110}, kScreen, kMinimum, {0, 10, 100, 110}},
    {"above the top edge", {10, -30, 110, 70}, kScreen, kMinimum, {10, 0, 110, 100}},
    {"10 by 10 takes the minimum of 20", {5, 5, 15, 15}, kScreen, kMinimum, {5, 5, 25, 25}},
    {"the minimum wins over a small screen", {0, 0, 10, 10}, {0, 0, 16, 16}, kMinimum, {-4, -4, 16, 16}},
    {"an inverted rectangle becomes empty, not inverted", {100, 100, 90, 80}, kScreen, {0, 0}, {100, 100, 100, 100}},
    {"far outside, near the coordinate limit", {2147483000, 0, 2147483640, 100}, kScreen, kMinimum,
     {384, 0, 1024, 100}},
    {"bounds not at the origin", {0, 0, 50, 50}, {100, 200, 500, 600}, kMinimum, {100, 200, 152, 252}},
};

TEST(FramerGeometry, ConstrainFramerRect)
{
    for (const auto& c : kConstrainCases) {
        const RECT got = ConstrainFramerRect(c.in, c.bounds, c.minimum);
        EXPECT_TRUE(SameRect(got, c.expected)) << c.name << ": got " << Show(got) << ", expected " << Show(c.expected);
    }
}

struct PanCase {
    const char* name;
    RECT in;
    int32_t margin;
    RECT expected;
};

const PanCase kPanCases[] = {
    {"margin 100 insets by 1", {0, 0, 400, 300}, 100, {1, 1, 399, 299}},
    {"margin 50 on 400 by 300 insets by 74", {0, 0, 400, 300}, 50, {74, 74, 326, 226}},
    {"margin 0 on 400 by 300 insets by 149", {0, 0, 400, 300}, 0, {149, 149, 251, 151}},
    {"the smaller side counts", {0, 0, 300, 400}, 50, {74, 74, 226, 326}},
    {"moved rectangle", {100, 200, 500, 500}, 50, {174, 274, 426, 426}},
    {"a zero inset becomes 1", {0, 0, 20, 20}, 99, {1, 1, 19, 19}},
    {"a margin below 0 counts as 0", {0, 0, 400, 300}, -1, {149, 149, 251, 151}},
    {"a margin above 100 counts as 100", {0, 0, 400, 300}, 5000, {1, 1, 399, 299}},
    {"a huge rectangle does not overflow", {0, 0, 2147483647, 2147483647}, 0,
     {1071513599, 1071513599, 1075970048, 1075970048}},
};

TEST(FramerGeometry, PanMarginRect)
{
    for (const auto& c : kPanCases) {
        const RECT got = PanMarginRect(c.in, c.margin);
        EXPECT_TRUE(SameRect(got, c.expected)) << c.name << ": got " << Show(got) << ", expected " << Show(c.expected);
    }
}

// The rectangle travels by value in the notification: any screen coordinate comes back whole.
TEST(FramerGeometry, NotificationCarriesTheRectangle)
{
    const RECT cases[] = {
        {0, 0, 1024, 768}, {-4, -4, 16, 16}, {924, 668, 1024, 768}, {0, 0, 32767, 32767}, {-32768, -1, 0, 1},
    };
    for (const RECT& r : cases) {
        const WPARAM wparam = MAKEWPARAM(static_cast<WORD>(r.left), static_cast<WORD>(r.top));
        const LPARAM lparam = MAKELPARAM(static_cast<WORD>(r.right), static_cast<WORD>(r.bottom));
        EXPECT_TRUE(SameRect(FramerNotifyRect(wparam, lparam), r)) << Show(r);
    }
}

// ---- The window ----

// Stands in for the dialog: records every framer notification.
struct Owner {
    HWND wnd = nullptr;
    std::vector<RECT> notified;

    static LRESULT CALLBACK Procedure(HWND wnd, UINT message, WPARAM wparam, LPARAM lparam)
    {
        auto* self = reinterpret_cast<Owner*>(::GetWindowLongPtrA(wnd, GWLP_USERDATA));
        if (message == kMsgFramerNotify && self) {
            self->notified.push_back(FramerNotifyRect(wparam, lparam));
            return 0;
        }
        return ::DefWindowProcA(wnd, message, wparam, lparam);
    }
};

// Fills its client area with one colour: something for the framer to be seen through.
LRESULT CALLBACK BackdropProcedure(HWND wnd, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = ::BeginPaint(wnd, &ps);
        HBRUSH red = ::CreateSolidBrush(RGB(255, 0, 0));
        ::FillRect(dc, &ps.rcPaint, red);
        ::DeleteObject(red);
        ::EndPaint(wnd, &ps);
        return 0;
    }
    return ::DefWindowProcA(wnd, message, wparam, lparam);
}

bool SettlePending(HWND framer)
{
    MSG msg;
    return ::PeekMessageA(&msg, framer, kMsgFramerSettle, kMsgFramerSettle, PM_NOREMOVE) != 0;
}

class FramerWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        LeaveWindowsUnmanaged(kProgram);
        RegisterTestClass("FramerTestOwner", Owner::Procedure);
        RegisterTestClass("FramerTestBackdrop", BackdropProcedure);
    }

    void SetUp() override
    {
        // In a program shared with other tests the setting may come too late or affect them.
        if (!RunningAs(kProgram))
            GTEST_SKIP() << "window tests run only as " << kProgram;
        owner.wnd = ::CreateWindowExA(0, "FramerTestOwner", "Owner", WS_POPUP | WS_VISIBLE, 900, 700, 100, 50,
                                       nullptr, nullptr, ::GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(owner.wnd, nullptr);
        ::SetWindowLongPtrA(owner.wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&owner));
    }

    void TearDown() override
    {
        if (!owner.wnd)
            return;
        framer.reset();
        if (backdrop)
            ::DestroyWindow(backdrop);
        ::DestroyWindow(owner.wnd);
        PumpUntilQuiet();
    }

    // A new framer, settled; its window or null.
    HWND Open(const FramerParams& params)
    {
        framer = std::make_unique<Framer>();
        if (!framer->Create(::GetModuleHandleA(nullptr), owner.wnd, params))
            return nullptr;
        PumpUntilQuiet();
        owner.notified.clear();
        return framer->Handle();
    }

    void ShowBackdrop(const RECT& place)
    {
        backdrop = ::CreateWindowExA(0, "FramerTestBackdrop", "Backdrop", WS_POPUP | WS_VISIBLE, place.left,
                                      place.top, place.right - place.left, place.bottom - place.top, nullptr,
                                      nullptr, ::GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(backdrop, nullptr);
        ::UpdateWindow(backdrop);
        PumpUntilQuiet();
    }

    Owner owner;
    std::unique_ptr<Framer> framer;
    HWND backdrop = nullptr;
};

const FramerParams kParams{100, 100, 500, 400, 50, 20, 20};

TEST_F(FramerWindow, CreatesOneWindowPerFramer)
{
    HWND wnd = Open(kParams);
    ASSERT_NE(wnd, nullptr);
    char text[64] = {};
    ::GetClassNameA(wnd, text, sizeof text);
    EXPECT_STREQ(text, "CameraResize Class");
    ::GetWindowTextA(wnd, text, sizeof text);
    EXPECT_STREQ(text, "Framer Window");
    EXPECT_TRUE(::IsWindowVisible(wnd));
    EXPECT_TRUE(SameRect(WindowRect(wnd), RECT{100, 100, 500, 400})) << Show(WindowRect(wnd));

    EXPECT_FALSE(framer->Create(::GetModuleHandleA(nullptr), owner.wnd, kParams));
    EXPECT_EQ(framer->Handle(), wnd);
    EXPECT_TRUE(::IsWindow(wnd));

    EXPECT_TRUE(framer->Destroy());
    EXPECT_FALSE(::IsWindow(wnd));
    EXPECT_EQ(framer->Handle(), nullptr);
    EXPECT_FALSE(framer->Destroy());

    EXPECT_TRUE(framer->Create(::GetModuleHandleA(nullptr), owner.wnd, kParams));
    HWND again = framer->Handle();
    EXPECT_NE(again, nullptr);
    framer.reset();
    EXPECT_FALSE(::IsWindow(again)) << "the window outlived its framer";
}

// Whatever the stored rectangle, the owner soon hears an on-screen, rounded one of at least the minimum.
TEST_F(FramerWindow, OpeningSettlesAStoredRectangle)
{
    const struct {
        const char* name;
        FramerParams params;
    } cases[] = {
        {"10 by 10", {100, 100, 110, 110, 50, 20, 20}},
        {"width 333", {100, 100, 433, 300, 50, 20, 20}},
        {"off the screen", {5000, 5000, 5333, 5200, 50, 20, 20}},
    };
    const int screenWidth = ::GetSystemMetrics(SM_CXSCREEN);
    const int screenHeight = ::GetSystemMetrics(SM_CYSCREEN);
    for (const auto& c : cases) {
        Framer opened;
        ASSERT_TRUE(opened.Create(::GetModuleHandleA(nullptr), owner.wnd, c.params)) << c.name;
        HWND wnd = opened.Handle();
        PumpUntilQuiet();
        ASSERT_FALSE(owner.notified.empty()) << c.name;
        const RECT r = owner.notified.back();
        EXPECT_TRUE(SameRect(r, WindowRect(wnd)))
            << c.name << ": " << Show(r) << " vs window " << Show(WindowRect(wnd));
        EXPECT_GE(r.right - r.left, 20) << c.name;
        EXPECT_GE(r.bottom - r.top, 20) << c.name;
        EXPECT_EQ((r.right - r.left) % 4, 0) << c.name;
        EXPECT_EQ((r.bottom - r.top) % 4, 0) << c.name;
        EXPECT_GE(r.left, 0) << c.name;
        EXPECT_GE(r.top, 0) << c.name;
        EXPECT_LE(r.right, screenWidth) << c.name;
        EXPECT_LE(r.bottom, screenHeight) << c.name;
        EXPECT_TRUE(opened.Destroy()) << c.name;
        owner.notified.clear();
    }
}

TEST_F(FramerWindow, UpdateWithNoChangeDoesNothing)
{
    HWND wnd = Open(kParams);
    ASSERT_NE(wnd, nullptr);
    const RECT before = WindowRect(wnd);
    ::ValidateRect(wnd, nullptr);
    framer->Update(RECT{100, 100, 500, 400}, 50);
    EXPECT_FALSE(::GetUpdateRect(wnd, nullptr, FALSE));
    EXPECT_FALSE(SettlePending(wnd));
    PumpUntilQuiet();
    EXPECT_TRUE(SameRect(WindowRect(wnd), before));
    EXPECT_TRUE(owner.notified.empty());
}

TEST_F(FramerWindow, PanMarginAloneRedrawsWithoutMovingOrNotifying)
{
    HWND wnd = Open(kParams);
    ASSERT_NE(wnd, nullptr);
    ::ValidateRect(wnd, nullptr);
    framer->Update(RECT{100, 100, 500, 400}, 80);
    EXPECT_TRUE(::GetUpdateRect(wnd, nullptr, FALSE));
    EXPECT_TRUE(SettlePending(wnd));
    PumpUntilQuiet();
    EXPECT_TRUE(SameRect(WindowRect(wnd), RECT{100, 100, 500, 400})) << Show(WindowRect(wnd));
    EXPECT_TRUE(owner.notified.empty());
    EXPECT_FALSE(::GetUpdateRect(wnd, nullptr, FALSE));
}

// A typed rectangle moves the framer, which settles on the constrained one and tells the owner.
TEST_F(FramerWindow, UpdateMovesSettlesAndNotifies)
{
    const struct {
        const char* name;
        RECT typed;
        RECT settled;
    } cases[] = {
        {"width 333", {100, 100, 433, 300}, {100, 100, 436, 300}},
        {"off the right edge", {1000, 100, 1100, 200}, {924, 100, 1024, 200}},
        {"10 by 10", {40, 40, 50, 50}, {40, 40, 60, 60}},
        {"wider than the screen", {300, 10, 1400, 110}, {0, 10, 1024, 110}},
    };
    HWND wnd = Open(kParams);
    ASSERT_NE(wnd, nullptr);
    for (const auto& c : cases) {
        owner.notified.clear();
        framer->Update(c.typed, 50);
        PumpUntilQuiet();
        ASSERT_FALSE(owner.notified.empty()) << c.name;
        EXPECT_TRUE(SameRect(owner.notified.back(), c.settled))
            << c.name << ": told " << Show(owner.notified.back()) << ", expected " << Show(c.settled);
        EXPECT_TRUE(SameRect(WindowRect(wnd), c.settled)) << c.name << ": window at " << Show(WindowRect(wnd));
    }
}

// A move made from outside, as a drag or another program would, is reported like a typed one.
TEST_F(FramerWindow, MovedWindowNotifiesOwner)
{
    HWND wnd = Open(kParams);
    ASSERT_NE(wnd, nullptr);
    ::SetWindowPos(wnd, nullptr, 200, 150, 301, 201, SWP_NOZORDER);
    PumpUntilQuiet();
    ASSERT_FALSE(owner.notified.empty());
    EXPECT_TRUE(SameRect(owner.notified.back(), RECT{200, 150, 504, 354})) << Show(owner.notified.back());
    EXPECT_TRUE(SameRect(WindowRect(wnd), RECT{200, 150, 504, 354}));
}

// Inside moves, the frame still resizes.
TEST_F(FramerWindow, HitTest)
{
    HWND wnd = Open(kParams);
    ASSERT_NE(wnd, nullptr);
    const struct {
        int x, y;
        LRESULT hit;
    } cases[] = {
        {300, 250, HTCAPTION}, {101, 250, HTLEFT}, {498, 250, HTRIGHT}, {300, 101, HTTOP}, {499, 399, HTBOTTOMRIGHT},
    };
    for (const auto& c : cases)
        EXPECT_EQ(::SendMessageA(wnd, WM_NCHITTEST, 0, MAKELPARAM(c.x, c.y)), c.hit) << c.x << ", " << c.y;
    EXPECT_EQ(::SendMessageA(wnd, WM_ERASEBKGND, 0, 0), 1);
}

// A drag with the mouse from anywhere inside moves the framer; the owner hears where it settled
// and stays the active window.
TEST_F(FramerWindow, DragInsideMovesAndNotifies)
{
    HWND wnd = Open(kParams);
    ASSERT_NE(wnd, nullptr);
    SendMouse(0, 300, 250);
    PumpUntilQuiet();
    SendMouse(MOUSEEVENTF_LEFTDOWN, 300, 250);
    for (int step = 1; step <= 5; ++step)
        SendMouse(0, 300 + 10 * step, 250 + 8 * step);
    SendMouse(MOUSEEVENTF_LEFTUP, 350, 290);
    PumpUntilQuiet();
    ASSERT_FALSE(owner.notified.empty());
    EXPECT_TRUE(SameRect(owner.notified.back(), RECT{150, 140, 550, 440})) << Show(owner.notified.back());
    EXPECT_TRUE(SameRect(WindowRect(wnd), RECT{150, 140, 550, 440})) << Show(WindowRect(wnd));
    EXPECT_EQ(::GetActiveWindow(), owner.wnd);
}

// The paint does not hold the thread while the windows below repaint: it returns with the
// framer off the screen, which comes back drawn when its timer fires. The trip is no move.
TEST_F(FramerWindow, PaintReturnsWhileTheWindowsBelowRepaint)
{
    HWND wnd = Open(kParams);
    ASSERT_NE(wnd, nullptr);
    ::InvalidateRect(wnd, nullptr, FALSE);
    ::UpdateWindow(wnd);
    EXPECT_GE(WindowRect(wnd).left, ::GetSystemMetrics(SM_CXVIRTUALSCREEN)) << Show(WindowRect(wnd));
    PumpUntilQuiet();
    EXPECT_TRUE(SameRect(WindowRect(wnd), RECT{100, 100, 500, 400})) << Show(WindowRect(wnd));
    EXPECT_FALSE(::GetUpdateRect(wnd, nullptr, FALSE));
    EXPECT_TRUE(owner.notified.empty());
}

// A move while the framer is off the screen wins over its way back.
TEST_F(FramerWindow, MoveDuringTheTripSettlesWhereItWasPut)
{
    const struct {
        const char* name;
        bool typed;  // through Update, else from outside
        RECT to;
        RECT settled;
    } cases[] = {
        {"typed", true, {200, 150, 501, 351}, {200, 150, 504, 354}},
        {"from outside", false, {300, 200, 601, 401}, {300, 200, 604, 404}},
    };
    for (const auto& c : cases) {
        HWND wnd = Open(kParams);
        ASSERT_NE(wnd, nullptr) << c.name;
        ::InvalidateRect(wnd, nullptr, FALSE);
        ::UpdateWindow(wnd);
        if (c.typed)
            framer->Update(c.to, 50);
        else
            ::SetWindowPos(wnd, nullptr, c.to.left, c.to.top, c.to.right - c.to.left, c.to.bottom - c.to.top,
                           SWP_NOZORDER | SWP_NOACTIVATE);
        PumpUntilQuiet();
        EXPECT_TRUE(SameRect(WindowRect(wnd), c.settled)) << c.name << ": " << Show(WindowRect(wnd));
        ASSERT_FALSE(owner.notified.empty()) << c.name;
        EXPECT_TRUE(SameRect(owner.notified.back(), c.settled)) << c.name << ": " << Show(owner.notified.back());
    }
}

COLORREF ScreenPixel(int x, int y)
{
    HDC screen = ::GetDC(nullptr);
    const COLORREF c = ::GetPixel(screen, x, y);
    ::ReleaseDC(nullptr, screen);
    return c;
}

// The framer shows what lies below it, with the two outlines drawn over it.
TEST_F(FramerWindow, SeeThroughWithOutlines)
{
    ShowBackdrop(RECT{50, 50, 600, 500});
    HWND wnd = Open(kParams);
    ASSERT_NE(wnd, nullptr);
    PumpUntilQuiet();
    EXPECT_EQ(ScreenPixel(300, 250), RGB(255, 0, 0)) << "inside";
    EXPECT_EQ(ScreenPixel(100, 250), RGB(0, 0, 0)) << "outer outline";
    EXPECT_EQ(ScreenPixel(174, 250), RGB(0, 0, 0)) << "pan margin outline";
    EXPECT_EQ(ScreenPixel(180, 250), RGB(255, 0, 0)) << "between the outlines";
    EXPECT_EQ(::GetThreadPriority(::GetCurrentThread()), THREAD_PRIORITY_NORMAL);

    // Pan margin 80 on 400 by 300: the inner outline moves out to an inset of 29.
    framer->Update(RECT{100, 100, 500, 400}, 80);
    PumpUntilQuiet();
    EXPECT_EQ(ScreenPixel(129, 250), RGB(0, 0, 0)) << "new pan margin outline";
    EXPECT_EQ(ScreenPixel(300, 250), RGB(255, 0, 0)) << "inside after the redraw";
}

}  // namespace
