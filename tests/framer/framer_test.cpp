#include "panel/Framer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

bool operator==(const RECT& a, const RECT& b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

std::string Show(const RECT& r)
{
    return "(" + std::to_string(r.left) + ", " + std::to_string(r.top) + ", " + std::to_string(r.right) + ", " +
           std::to_string(r.bottom) + ")";
}

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
        EXPECT_TRUE(got == c.expected) << c.name << ": got " << Show(got) << ", expected " << Show(c.expected);
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
        EXPECT_TRUE(got == c.expected) << c.name << ": got " << Show(got) << ", expected " << Show(c.expected);
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
        if (message == kFramerNotifyMessage && self) {
            self->notified.push_back(*reinterpret_cast<const RECT*>(lparam));
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

// Dispatches until nothing has arrived for a while: X events reach Wine asynchronously.
void Pump()
{
    DWORD quietSince = ::GetTickCount();
    const DWORD start = quietSince;
    while (::GetTickCount() - quietSince < 150 && ::GetTickCount() - start < 5000) {
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
            quietSince = ::GetTickCount();
        }
        ::Sleep(5);
    }
}

RECT WindowRect(HWND wnd)
{
    RECT r{};
    ::GetWindowRect(wnd, &r);
    return r;
}

bool SettlePending(HWND framer)
{
    MSG msg;
    return ::PeekMessageA(&msg, framer, kFramerSettleMessage, kFramerSettleMessage, PM_NOREMOVE) != 0;
}

// Xvfb runs no window manager, and Wine waits seconds for one whenever a managed window (the
// framer has a sizing frame) is unmapped, as it is when it steps off the screen to paint. For this
// program only, Wine is told to manage no window; it must happen before the first window exists.
void LeaveWindowsUnmanaged()
{
    HKEY key = nullptr;
    if (::RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\framer_tests.exe\\X11 Driver", 0,
                          nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    ::RegSetValueExA(key, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2);
    ::RegCloseKey(key);
}

class FramerWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        LeaveWindowsUnmanaged();
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = Owner::Procedure;
        wc.hInstance = ::GetModuleHandleA(nullptr);
        wc.lpszClassName = "FramerTestOwner";
        ::RegisterClassExA(&wc);
        wc.lpfnWndProc = BackdropProcedure;
        wc.lpszClassName = "FramerTestBackdrop";
        ::RegisterClassExA(&wc);
    }

    void SetUp() override
    {
        // In a program shared with other tests the setting may come too late or affect them.
        char path[MAX_PATH] = {};
        ::GetModuleFileNameA(nullptr, path, MAX_PATH);
        const std::string program(path);
        if (program.size() < 16 || program.compare(program.size() - 16, 16, "framer_tests.exe") != 0)
            GTEST_SKIP() << "window tests run only as framer_tests.exe";
        owner.wnd = ::CreateWindowExA(0, "FramerTestOwner", "Owner", WS_POPUP | WS_VISIBLE, 900, 700, 100, 50,
                                       nullptr, nullptr, ::GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(owner.wnd, nullptr);
        ::SetWindowLongPtrA(owner.wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&owner));
    }

    void TearDown() override
    {
        if (!owner.wnd)
            return;
        DestroyFramer();
        if (backdrop)
            ::DestroyWindow(backdrop);
        ::DestroyWindow(owner.wnd);
        Pump();
    }

    HWND Open(const FramerParams& params)
    {
        HWND wnd = CreateFramer(::GetModuleHandleA(nullptr), owner.wnd, params);
        Pump();
        owner.notified.clear();
        return wnd;
    }

    void ShowBackdrop(const RECT& place)
    {
        backdrop = ::CreateWindowExA(0, "FramerTestBackdrop", "Backdrop", WS_POPUP | WS_VISIBLE, place.left,
                                      place.top, place.right - place.left, place.bottom - place.top, nullptr,
                                      nullptr, ::GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(backdrop, nullptr);
        ::UpdateWindow(backdrop);
        Pump();
    }

    Owner owner;
    HWND backdrop = nullptr;
};

const FramerParams kParams{100, 100, 500, 400, 50, 20, 20};

TEST_F(FramerWindow, CreatesOneFramerAtATime)
{
    HWND wnd = Open(kParams);
    ASSERT_NE(wnd, nullptr);
    char text[64] = {};
    ::GetClassNameA(wnd, text, sizeof text);
    EXPECT_STREQ(text, "CameraResize Class");
    ::GetWindowTextA(wnd, text, sizeof text);
    EXPECT_STREQ(text, "Framer Window");
    EXPECT_TRUE(::IsWindowVisible(wnd));
    EXPECT_TRUE(WindowRect(wnd) == (RECT{100, 100, 500, 400})) << Show(WindowRect(wnd));

    EXPECT_EQ(CreateFramer(::GetModuleHandleA(nullptr), owner.wnd, kParams), nullptr);
    EXPECT_TRUE(::IsWindow(wnd));

    EXPECT_TRUE(DestroyFramer());
    EXPECT_FALSE(::IsWindow(wnd));
    EXPECT_FALSE(DestroyFramer());

    HWND again = Open(kParams);
    EXPECT_NE(again, nullptr);
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
        HWND wnd = CreateFramer(::GetModuleHandleA(nullptr), owner.wnd, c.params);
        ASSERT_NE(wnd, nullptr) << c.name;
        Pump();
        ASSERT_FALSE(owner.notified.empty()) << c.name;
        const RECT r = owner.notified.back();
        EXPECT_TRUE(r == WindowRect(wnd)) << c.name << ": " << Show(r) << " vs window " << Show(WindowRect(wnd));
        EXPECT_GE(r.right - r.left, 20) << c.name;
        EXPECT_GE(r.bottom - r.top, 20) << c.name;
        EXPECT_EQ((r.right - r.left) % 4, 0) << c.name;
        EXPECT_EQ((r.bottom - r.top) % 4, 0) << c.name;
        EXPECT_GE(r.left, 0) << c.name;
        EXPECT_GE(r.top, 0) << c.name;
        EXPECT_LE(r.right, screenWidth) << c.name;
        EXPECT_LE(r.bottom, screenHeight) << c.name;
        EXPECT_TRUE(DestroyFramer()) << c.name;
        owner.notified.clear();
    }
}

TEST_F(FramerWindow, UpdateWithNoChangeDoesNothing)
{
    HWND wnd = Open(kParams);
    ASSERT_NE(wnd, nullptr);
    const RECT before = WindowRect(wnd);
    ::ValidateRect(wnd, nullptr);
    EXPECT_TRUE(UpdateFramer(RECT{100, 100, 500, 400}, 50));
    EXPECT_FALSE(::GetUpdateRect(wnd, nullptr, FALSE));
    EXPECT_FALSE(SettlePending(wnd));
    Pump();
    EXPECT_TRUE(WindowRect(wnd) == before);
    EXPECT_TRUE(owner.notified.empty());
}

TEST_F(FramerWindow, PanMarginAloneRedrawsWithoutMovingOrNotifying)
{
    HWND wnd = Open(kParams);
    ASSERT_NE(wnd, nullptr);
    ::ValidateRect(wnd, nullptr);
    EXPECT_TRUE(UpdateFramer(RECT{100, 100, 500, 400}, 80));
    EXPECT_TRUE(::GetUpdateRect(wnd, nullptr, FALSE));
    EXPECT_TRUE(SettlePending(wnd));
    Pump();
    EXPECT_TRUE(WindowRect(wnd) == (RECT{100, 100, 500, 400})) << Show(WindowRect(wnd));
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
        EXPECT_TRUE(UpdateFramer(c.typed, 50));
        Pump();
        ASSERT_FALSE(owner.notified.empty()) << c.name;
        EXPECT_TRUE(owner.notified.back() == c.settled)
            << c.name << ": told " << Show(owner.notified.back()) << ", expected " << Show(c.settled);
        EXPECT_TRUE(WindowRect(wnd) == c.settled) << c.name << ": window at " << Show(WindowRect(wnd));
    }
}

// A move made from outside, as a drag or another program would, is reported like a typed one.
TEST_F(FramerWindow, MovedWindowNotifiesOwner)
{
    HWND wnd = Open(kParams);
    ASSERT_NE(wnd, nullptr);
    ::SetWindowPos(wnd, nullptr, 200, 150, 301, 201, SWP_NOZORDER);
    Pump();
    ASSERT_FALSE(owner.notified.empty());
    EXPECT_TRUE(owner.notified.back() == (RECT{200, 150, 504, 354})) << Show(owner.notified.back());
    EXPECT_TRUE(WindowRect(wnd) == (RECT{200, 150, 504, 354}));
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

void SendMouse(DWORD flags, int x, int y)
{
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = x * 65535 / (::GetSystemMetrics(SM_CXSCREEN) - 1);
    input.mi.dy = y * 65535 / (::GetSystemMetrics(SM_CYSCREEN) - 1);
    input.mi.dwFlags = flags | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    ::SendInput(1, &input, sizeof input);
}

// A drag with the mouse from anywhere inside moves the framer; the owner hears where it settled
// and stays the active window.
TEST_F(FramerWindow, DragInsideMovesAndNotifies)
{
    HWND wnd = Open(kParams);
    ASSERT_NE(wnd, nullptr);
    SendMouse(0, 300, 250);
    Pump();
    SendMouse(MOUSEEVENTF_LEFTDOWN, 300, 250);
    for (int step = 1; step <= 5; ++step)
        SendMouse(0, 300 + 10 * step, 250 + 8 * step);
    SendMouse(MOUSEEVENTF_LEFTUP, 350, 290);
    Pump();
    ASSERT_FALSE(owner.notified.empty());
    EXPECT_TRUE(owner.notified.back() == (RECT{150, 140, 550, 440})) << Show(owner.notified.back());
    EXPECT_TRUE(WindowRect(wnd) == (RECT{150, 140, 550, 440})) << Show(WindowRect(wnd));
    EXPECT_EQ(::GetActiveWindow(), owner.wnd);
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
    Pump();
    EXPECT_EQ(ScreenPixel(300, 250), RGB(255, 0, 0)) << "inside";
    EXPECT_EQ(ScreenPixel(100, 250), RGB(0, 0, 0)) << "outer outline";
    EXPECT_EQ(ScreenPixel(174, 250), RGB(0, 0, 0)) << "pan margin outline";
    EXPECT_EQ(ScreenPixel(180, 250), RGB(255, 0, 0)) << "between the outlines";
    EXPECT_EQ(::GetThreadPriority(::GetCurrentThread()), THREAD_PRIORITY_NORMAL);

    // Pan margin 80 on 400 by 300: the inner outline moves out to an inset of 29.
    UpdateFramer(RECT{100, 100, 500, 400}, 80);
    Pump();
    EXPECT_EQ(ScreenPixel(129, 250), RGB(0, 0, 0)) << "new pan margin outline";
    EXPECT_EQ(ScreenPixel(300, 250), RGB(255, 0, 0)) << "inside after the redraw";
}

}  // namespace
