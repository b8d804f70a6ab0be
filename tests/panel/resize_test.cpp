// The Capture Area dialog run modally under Wine: set-up from the store, the fields and the
// framer following each other, the pan bar's steps, what OK and Cancel store, and the Movie
// page's flow around it.

#include "panel/ResizePage.h"

#include "ids/resource.h"
#include "panel/PropSheet.h"
#include "settings/Prefs.h"
#include "tests/engine/FakeParts.h"
#include "tests/support/PrefsRig.h"
#include "tests/support/WindowRig.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr char kTestTree[] = "Software\\Quorvane\\VorluxResizeTests";
constexpr char kProgram[] = "resize_tests.exe";
constexpr char kFramerClass[] = "CameraResize Class";

// Away from the dialog, which opens at the top-left corner.
constexpr VRect kStoredArea{300, 250, 700, 550};

// Width, height, left and top as the dialog shows them.
RECT Fields(HWND dialog)
{
    const int left = std::stoi("0" + ItemText(dialog, IDC_AREA_LEFT));
    const int top = std::stoi("0" + ItemText(dialog, IDC_AREA_TOP));
    return RECT{left, top, left + std::stoi("0" + ItemText(dialog, IDC_AREA_WIDTH)),
                top + std::stoi("0" + ItemText(dialog, IDC_AREA_HEIGHT))};
}

HWND FramerOnScreen()
{
    return ::FindWindowA(kFramerClass, nullptr);
}

// Types into a field and leaves it for the next, as the user would with the Tab key.
void Type(HWND dialog, int id, const char* text, int next)
{
    ::SetFocus(::GetDlgItem(dialog, id));
    ::SetDlgItemTextA(dialog, id, text);
    ::SetFocus(::GetDlgItem(dialog, next));
    PumpUntilQuiet();
}

void Scroll(HWND dialog, int code, int thumb = 0)
{
    ::SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(code, thumb),
                   reinterpret_cast<LPARAM>(::GetDlgItem(dialog, IDC_AREA_PAN_BAR)));
}

int PanPosition(HWND dialog)
{
    return ::GetScrollPos(::GetDlgItem(dialog, IDC_AREA_PAN_BAR), SB_CTL);
}

// Runs a script inside a modal loop: the dialog's own, once it has set itself up.
struct Script {
    static inline const ResizePage* dialog = nullptr;
    static inline std::function<void(HWND)> steps;
    static inline bool ran = false;

    static void CALLBACK Run(HWND, UINT, UINT_PTR id, DWORD)
    {
        ::KillTimer(nullptr, id);
        HWND wnd = dialog ? dialog->Handle() : ::FindWindowA("#32770", "Capture Area");
        if (!wnd)
            return;
        PumpUntilQuiet();
        ran = true;
        steps(wnd);
        // A script that forgot to close leaves nothing behind.
        if (::IsWindow(wnd))
            ::PostMessageA(wnd, WM_COMMAND, IDCANCEL, 0);
    }

    // `page` null: the dialog is found by its title.
    static void Start(const ResizePage* page, std::function<void(HWND)> script)
    {
        dialog = page;
        steps = std::move(script);
        ran = false;
        ::SetTimer(nullptr, 0, 10, Run);
    }
};

class CaptureAreaDialog : public ::testing::Test {
protected:
    static void SetUpTestSuite() { LeaveWindowsUnmanaged(kProgram); }

    void SetUp() override
    {
        // In a program shared with other tests the window setting may come too late.
        if (!RunningAs(kProgram))
            GTEST_SKIP() << "dialog tests run only as " << kProgram;
        prefs = FreshPrefs(kTestTree);
        prefs->SetCaptureMode(2);
        prefs->SetCaptureArea(kStoredArea);
        prefs->SetPanValue(30);
        prefs->SetKeyFrame(7);
    }

    void TearDown() override
    {
        PumpUntilQuiet();
        prefs.reset();
        ::RegDeleteTreeA(HKEY_CURRENT_USER, kTestTree);
    }

    // Runs the dialog modally with `script` inside; answers its result.
    INT_PTR Run(std::function<void(HWND)> script)
    {
        ResizePage page(nullptr, *prefs, ::GetModuleHandleA(nullptr));
        Script::Start(&page, std::move(script));
        const INT_PTR result = page.Execute();
        EXPECT_TRUE(Script::ran);
        EXPECT_EQ(FramerOnScreen(), nullptr) << "the framer outlived the dialog";
        return result;
    }

    std::unique_ptr<Prefs> prefs;
};

// ---- Set-up ----

TEST_F(CaptureAreaDialog, ShowsTheStoredValues)
{
    Run([](HWND dialog) {
        HWND list = ::GetDlgItem(dialog, IDC_AREA_MODE);
        std::vector<std::string> names;
        for (int i = 0, n = static_cast<int>(::SendMessageA(list, CB_GETCOUNT, 0, 0)); i < n; ++i) {
            char text[64] = {};
            ::SendMessageA(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
            names.push_back(text);
        }
        const std::vector<std::string> sorted{"Fixed Area", "Follow Cursor", "Follow Frame", "Follow Windows",
                                              "Smooth Pan"};
        EXPECT_EQ(names, sorted);
        EXPECT_EQ(ItemText(dialog, IDC_AREA_MODE), "Follow Cursor");
        EXPECT_EQ(PanPosition(dialog), 30);
        EXPECT_EQ(ItemText(dialog, IDC_AREA_PAN_VALUE), "30");
        EXPECT_EQ(ItemText(dialog, IDC_AREA_WIDTH), "400");
        EXPECT_EQ(ItemText(dialog, IDC_AREA_HEIGHT), "300");
        EXPECT_EQ(ItemText(dialog, IDC_AREA_LEFT), "300");
        EXPECT_EQ(ItemText(dialog, IDC_AREA_TOP), "250");
        EXPECT_EQ(ItemText(dialog, IDC_AREA_KEYFRAME), "7");
        HWND framer = FramerOnScreen();
        ASSERT_NE(framer, nullptr);
        EXPECT_TRUE(::IsWindowVisible(framer));
        EXPECT_TRUE(SameRect(WindowRect(framer), RECT{300, 250, 700, 550})) << Show(WindowRect(framer));
        Click(dialog, IDCANCEL);
    });
}

// Each stored mode selects its own name; an unknown one selects nothing.
TEST_F(CaptureAreaDialog, SelectsTheStoredModeName)
{
    const struct {
        int32_t stored;
        const char* shown;
    } cases[] = {
        {0, "Fixed Area"}, {1, "Smooth Pan"}, {2, "Follow Cursor"}, {3, "Follow Frame"},
        {4, "Follow Windows"}, {-1, ""}, {5, ""},
    };
    for (const auto& c : cases) {
        prefs->SetCaptureMode(c.stored);
        Run([&](HWND dialog) {
            EXPECT_EQ(ItemText(dialog, IDC_AREA_MODE), c.shown) << "stored " << c.stored;
            Click(dialog, IDCANCEL);
        });
    }
}

// A stored rectangle the framer cannot take comes back into the fields as the framer settled it.
TEST_F(CaptureAreaDialog, StoredAreaSettlesIntoTheFields)
{
    const struct {
        const char* name;
        VRect stored;
        RECT shown;
    } cases[] = {
        {"10 by 10 grows to the minimum", {300, 250, 310, 260}, {300, 250, 320, 270}},
        {"width 333 rounds up", {300, 250, 633, 450}, {300, 250, 636, 450}},
        {"off the right edge", {900, 250, 1100, 450}, {824, 250, 1024, 450}},
    };
    for (const auto& c : cases) {
        prefs->SetCaptureArea(c.stored);
        Run([&](HWND dialog) {
            EXPECT_TRUE(SameRect(Fields(dialog), c.shown)) << c.name << ": " << Show(Fields(dialog));
            EXPECT_TRUE(SameRect(WindowRect(FramerOnScreen()), c.shown)) << c.name;
            Click(dialog, IDCANCEL);
        });
    }
}

// ---- Fields and framer ----

TEST_F(CaptureAreaDialog, TypedValueSettlesIntoTheFields)
{
    const struct {
        const char* name;
        int field;
        const char* typed;
        RECT shown;
    } cases[] = {
        {"width 333 becomes 336", IDC_AREA_WIDTH, "333", {300, 250, 636, 550}},
        {"height 10 becomes the minimum", IDC_AREA_HEIGHT, "10", {300, 250, 700, 270}},
        {"left 900 is pulled back on the screen", IDC_AREA_LEFT, "900", {624, 250, 1024, 550}},
        {"top 10 moves up", IDC_AREA_TOP, "10", {300, 10, 700, 310}},
        {"width 5000 becomes the screen's", IDC_AREA_WIDTH, "5000", {0, 250, 1024, 550}},
    };
    for (const auto& c : cases) {
        Run([&](HWND dialog) {
            const int next = c.field == IDC_AREA_TOP ? IDC_AREA_LEFT : IDC_AREA_TOP;
            Type(dialog, c.field, c.typed, next);
            EXPECT_TRUE(SameRect(Fields(dialog), c.shown)) << c.name << ": " << Show(Fields(dialog));
            const RECT framer = WindowRect(FramerOnScreen());
            EXPECT_TRUE(SameRect(framer, c.shown)) << c.name << ": " << Show(framer);
            Click(dialog, IDCANCEL);
        });
    }
}

// Moving the framer, from outside or with the mouse, shows where it settled.
TEST_F(CaptureAreaDialog, MovedFramerUpdatesTheFields)
{
    Run([](HWND dialog) {
        HWND framer = FramerOnScreen();
        ASSERT_NE(framer, nullptr);
        ::SetWindowPos(framer, nullptr, 200, 300, 301, 201, SWP_NOZORDER | SWP_NOACTIVATE);
        PumpUntilQuiet();
        EXPECT_TRUE(SameRect(Fields(dialog), RECT{200, 300, 504, 504})) << Show(Fields(dialog));

        SendMouse(0, 350, 400);
        PumpUntilQuiet();
        SendMouse(MOUSEEVENTF_LEFTDOWN, 350, 400);
        for (int step = 1; step <= 5; ++step)
            SendMouse(0, 350 + 20 * step, 400 - 10 * step);
        SendMouse(MOUSEEVENTF_LEFTUP, 450, 350);
        PumpUntilQuiet();
        EXPECT_TRUE(SameRect(Fields(dialog), RECT{300, 250, 604, 454})) << Show(Fields(dialog));
        EXPECT_EQ(::GetActiveWindow(), dialog);
        Click(dialog, IDCANCEL);
    });
}

TEST_F(CaptureAreaDialog, PanBarSteps)
{
    const struct {
        const char* name;
        int from;
        int code;
        int thumb;
        int to;
    } cases[] = {
        {"line right", 50, SB_LINERIGHT, 0, 51},  {"line left", 50, SB_LINELEFT, 0, 49},
        {"page right", 50, SB_PAGERIGHT, 0, 60},  {"page left", 50, SB_PAGELEFT, 0, 40},
        {"page right at 95", 95, SB_PAGERIGHT, 0, 100}, {"page left at 5", 5, SB_PAGELEFT, 0, 0},
        {"line left at 0", 0, SB_LINELEFT, 0, 0}, {"line right at 100", 100, SB_LINERIGHT, 0, 100},
        {"thumb", 50, SB_THUMBTRACK, 42, 42},    {"far right", 50, SB_RIGHT, 0, 100},
        {"end of scroll", 50, SB_ENDSCROLL, 0, 50},
    };
    for (const auto& c : cases) {
        prefs->SetPanValue(c.from);
        Run([&](HWND dialog) {
            const RECT before = WindowRect(FramerOnScreen());
            Scroll(dialog, c.code, c.thumb);
            PumpUntilQuiet();
            EXPECT_EQ(PanPosition(dialog), c.to) << c.name;
            EXPECT_EQ(ItemText(dialog, IDC_AREA_PAN_VALUE), std::to_string(c.to)) << c.name;
            // The framer only redraws its inner rectangle: it stays where it was.
            EXPECT_TRUE(SameRect(WindowRect(FramerOnScreen()), before)) << c.name;
            EXPECT_TRUE(SameRect(Fields(dialog), RECT{300, 250, 700, 550})) << c.name;
            Click(dialog, IDCANCEL);
        });
    }
}

// ---- OK and Cancel ----

TEST_F(CaptureAreaDialog, OkStoresEveryValue)
{
    const struct {
        const char* name;
        const char* keyFrame;
        int32_t storedKeyFrame;
    } cases[] = {
        {"in range", "55", 55},
        {"0 is raised to 1", "0", 1},
        {"1000 is read as its first three digits", "1000", 100},
        {"empty reads as 0, raised to 1", "", 1},
        {"999 stays", "999", 999},
    };
    for (const auto& c : cases) {
        prefs->SetCaptureMode(2);
        prefs->SetPanValue(30);
        const INT_PTR result = Run([&](HWND dialog) {
            ::SendDlgItemMessageA(dialog, IDC_AREA_MODE, CB_SELECTSTRING, static_cast<WPARAM>(-1),
                                  reinterpret_cast<LPARAM>("Follow Frame"));
            ::SetDlgItemTextA(dialog, IDC_AREA_KEYFRAME, c.keyFrame);
            Scroll(dialog, SB_PAGERIGHT);
            // Typed and confirmed before the framer could answer: stored as typed.
            ::SetDlgItemTextA(dialog, IDC_AREA_LEFT, "12");
            ::SetDlgItemTextA(dialog, IDC_AREA_TOP, "34");
            ::SetDlgItemTextA(dialog, IDC_AREA_WIDTH, "333");
            ::SetDlgItemTextA(dialog, IDC_AREA_HEIGHT, "123456");
            Click(dialog, IDOK);
        });
        EXPECT_EQ(result, IDOK) << c.name;
        EXPECT_EQ(prefs->GetCaptureMode(), 3) << c.name;
        EXPECT_EQ(prefs->GetCaptureArea(), (VRect{12, 34, 12 + 333, 34 + 12345})) << c.name;
        EXPECT_EQ(prefs->GetPanValue(), 40) << c.name;
        EXPECT_EQ(prefs->GetKeyFrame(), c.storedKeyFrame) << c.name;
    }
}

// With no name selected OK keeps the stored mode rather than one that matches no name.
TEST_F(CaptureAreaDialog, OkWithoutModeKeepsTheStoredMode)
{
    for (const int32_t stored : {-1, 5, 1000}) {
        prefs->SetCaptureMode(stored);
        EXPECT_EQ(Run([](HWND dialog) { Click(dialog, IDOK); }), IDOK);
        EXPECT_EQ(prefs->GetCaptureMode(), stored);
        EXPECT_EQ(prefs->GetCaptureArea(), kStoredArea);
        EXPECT_EQ(prefs->GetKeyFrame(), 7);
    }
}

TEST_F(CaptureAreaDialog, CancelStoresNothing)
{
    std::vector<const char*> written;
    prefs->SetWriteObserver([&](const char* name) { written.push_back(name); });
    const INT_PTR result = Run([](HWND dialog) {
        ::SetWindowPos(FramerOnScreen(), nullptr, 100, 400, 200, 100, SWP_NOZORDER | SWP_NOACTIVATE);
        PumpUntilQuiet();
        EXPECT_TRUE(SameRect(Fields(dialog), RECT{100, 400, 300, 500})) << Show(Fields(dialog));
        Scroll(dialog, SB_PAGELEFT);
        ::SendDlgItemMessageA(dialog, IDC_AREA_MODE, CB_SETCURSEL, 0, 0);
        ::SetDlgItemTextA(dialog, IDC_AREA_KEYFRAME, "99");
        Click(dialog, IDCANCEL);
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_TRUE(written.empty()) << written.size() << " values written, the first " << written.front();
    EXPECT_EQ(prefs->GetCaptureArea(), kStoredArea);
    EXPECT_EQ(prefs->GetCaptureMode(), 2);
    EXPECT_EQ(prefs->GetPanValue(), 30);
    EXPECT_EQ(prefs->GetKeyFrame(), 7);
}

// A damaged stored margin opens as the nearest one the bar can take.
TEST_F(CaptureAreaDialog, OutOfRangePanValueIsShownInRange)
{
    const struct {
        int32_t stored;
        int shown;
    } cases[] = {{-1, 0}, {250, 100}};
    for (const auto& c : cases) {
        prefs->SetPanValue(c.stored);
        Run([&](HWND dialog) {
            EXPECT_EQ(PanPosition(dialog), c.shown);
            EXPECT_EQ(ItemText(dialog, IDC_AREA_PAN_VALUE), std::to_string(c.shown));
            Click(dialog, IDCANCEL);
        });
    }
}

// ---- The Movie page's flow ----

// Stands in for the main window, the panel and its page.
struct Windows {
    HWND main = nullptr;
    HWND panel = nullptr;
    HWND page = nullptr;
    static inline int helpRequests = 0;

    static LRESULT CALLBACK MainProcedure(HWND wnd, UINT message, WPARAM wparam, LPARAM lparam)
    {
        if (message == WM_HELP) {
            ++helpRequests;
            return TRUE;
        }
        return ::DefWindowProcA(wnd, message, wparam, lparam);
    }

    Windows()
    {
        HINSTANCE instance = ::GetModuleHandleA(nullptr);
        RegisterTestClass("ResizeTestMain", MainProcedure);
        main = ::CreateWindowExA(0, "ResizeTestMain", "Main", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, instance, nullptr);
        panel = ::CreateWindowExA(0, "STATIC", "Panel", WS_POPUP | WS_VISIBLE, 600, 10, 300, 200, main, nullptr,
                                  instance, nullptr);
        page = ::CreateWindowExA(0, "STATIC", "Page", WS_CHILD | WS_VISIBLE, 0, 0, 300, 200, panel, nullptr,
                                 instance, nullptr);
        helpRequests = 0;
    }
    ~Windows() { ::DestroyWindow(main); }
};

TEST_F(CaptureAreaDialog, FlowHidesThePanelAndRefreshesAfterOk)
{
    const struct {
        int button;
        int refreshes;
    } cases[] = {{IDOK, 1}, {IDCANCEL, 0}};
    for (const auto& c : cases) {
        Windows windows;
        ASSERT_NE(windows.page, nullptr);
        int refreshes = 0;
        int32_t modeAtRefresh = -1;
        Script::Start(nullptr, [&](HWND dialog) {
            ASSERT_NE(dialog, nullptr);
            EXPECT_FALSE(::IsWindowVisible(windows.panel)) << "the panel stays up";
            ::SendMessageA(dialog, WM_HELP, 0, 0);
            EXPECT_EQ(Windows::helpRequests, 1);
            ::SendDlgItemMessageA(dialog, IDC_AREA_MODE, CB_SELECTSTRING, static_cast<WPARAM>(-1),
                                  reinterpret_cast<LPARAM>("Smooth Pan"));
            Click(dialog, c.button);
        });
        const INT_PTR result = RunCaptureAreaDialog(windows.page, windows.panel, *prefs, ::GetModuleHandleA(nullptr),
                                                    [&] {
                                                        ++refreshes;
                                                        modeAtRefresh = prefs->GetCaptureMode();
                                                    });
        EXPECT_TRUE(Script::ran);
        EXPECT_EQ(result, c.button);
        EXPECT_EQ(refreshes, c.refreshes);
        if (c.refreshes) {
            EXPECT_EQ(modeAtRefresh, 1) << "refreshed before the values were stored";
        }
        EXPECT_TRUE(::IsWindowVisible(windows.panel));
        EXPECT_EQ(FramerOnScreen(), nullptr);
    }
}

// The Movie page's button: the panel hides, and after OK the page shows the stored mode and
// the area as the framer settled it.
class PanelWithFakeEngine : public PropSheet {
public:
    PanelWithFakeEngine(Prefs& prefs) : PropSheet(nullptr, ::GetModuleHandleA(nullptr), prefs) {}

protected:
    std::unique_ptr<CaptureFactory> CreateFactory() override { return std::make_unique<FakeFactory>(journal, nullptr); }

private:
    Journal journal;
};

TEST_F(CaptureAreaDialog, MoviePageButtonRunsTheFlow)
{
    PanelWithFakeEngine panel(*prefs);
    ASSERT_TRUE(panel.Create());
    ::ShowWindow(panel.Handle(), SW_SHOWNORMAL);
    PumpUntilQuiet();
    HWND page = panel.Movie().Handle();
    ASSERT_NE(page, nullptr);
    Script::Start(nullptr, [&](HWND dialog) {
        ASSERT_NE(dialog, nullptr);
        EXPECT_FALSE(::IsWindowVisible(panel.Handle()));
        ::SendDlgItemMessageA(dialog, IDC_AREA_MODE, CB_SELECTSTRING, static_cast<WPARAM>(-1),
                              reinterpret_cast<LPARAM>("Follow Windows"));
        Type(dialog, IDC_AREA_WIDTH, "333", IDC_AREA_HEIGHT);
        Click(dialog, IDOK);
    });
    ::SendMessageA(page, WM_COMMAND, MAKEWPARAM(IDC_MOVIE_RESIZE, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(page, IDC_MOVIE_RESIZE)));
    PumpUntilQuiet();
    EXPECT_TRUE(Script::ran);
    EXPECT_TRUE(::IsWindowVisible(panel.Handle()));
    EXPECT_EQ(prefs->GetCaptureMode(), 4);
    EXPECT_EQ(prefs->GetCaptureArea(), (VRect{300, 250, 636, 550}));
    EXPECT_EQ(ItemText(page, IDC_MOVIE_MODE), "Follow Windows");
    EXPECT_EQ(ItemText(page, IDC_MOVIE_WIDTH), "336");
    EXPECT_EQ(ItemText(page, IDC_MOVIE_LEFT), "300");
    EXPECT_EQ(FramerOnScreen(), nullptr);
}

}  // namespace
