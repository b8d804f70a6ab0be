// The diagnostics window under a real window manager (Xvfb), with the keyboard, clock and
// forced quit scripted through the module's hooks.

#include "diag/DebugHooks.h"
#include "diag/DebugTrace.h"
#include "diag/Log.h"
#include "framework/Scoped.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// The scripted world. Time only moves when the module sleeps, so nothing here blocks.
DWORD fakeNow = 1000000;
int keyReads = 0;
int beeps = 0;
std::vector<std::string> shown;
std::vector<DWORD> shownAt;
std::vector<std::string> quits;

struct KeyPhase {
    DWORD until;  // fake time up to which these keys are down
    std::vector<int> keys;
};
std::vector<KeyPhase> keyScript;

SHORT FakeKeyState(int key)
{
    ++keyReads;
    for (const KeyPhase& phase : keyScript) {
        if (fakeNow < phase.until) {
            for (int k : phase.keys)
                if (k == key)
                    return SHORT(0x8000);
            return 0;
        }
    }
    return 0;
}
DWORD FakeNow()
{
    return fakeNow;
}
void FakeSleep(DWORD ms)
{
    fakeNow += ms ? ms : 1;
}
void FakeBeep()
{
    ++beeps;
}
void FakeQuit(const char* caption)
{
    quits.push_back(caption);
}
void RecordShown(int, int, const char* text)
{
    shown.push_back(text);
    shownAt.push_back(fakeNow);
}

// Keys held from now on, phase by phase, each for the given milliseconds.
void ScriptKeys(std::vector<std::pair<DWORD, std::vector<int>>> phases)
{
    keyScript.clear();
    DWORD t = fakeNow;
    for (auto& [ms, keys] : phases) {
        t += ms;
        keyScript.push_back(KeyPhase{t, keys});
    }
}

class DiagTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DebugTraceOn = true;
        DebugCloseWindows();
        DebugSetLineDelay(-1);
        DebugSetHooks(DebugHooks{FakeKeyState, FakeNow, FakeSleep, FakeBeep, FakeQuit, RecordShown});
        fakeNow += 10000;  // well past any earlier resume
        keyReads = beeps = 0;
        shown.clear();
        shownAt.clear();
        quits.clear();
        keyScript.clear();
    }
    void TearDown() override
    {
        DebugCloseWindows();
        DebugSetTraceWindowSize(400, 600);
        DebugSetStaticWindowSize(600, 300);
        DebugSetHooks(DebugPlatformHooks());
        DebugTraceOn = true;
    }
};

HWND TraceWindow()
{
    return ::FindWindowA("DEBUG_CLASS", "Debug & Diagnostics");
}
HWND StaticWindow()
{
    return ::FindWindowA("STATIC_DEBUG_CLASS", "Debug & Diagnostics -Static");
}

void ExpectOuterRect(HWND window, int x, int width, int height)
{
    const int caption = ::GetSystemMetrics(SM_CYCAPTION);
    const int frame = ::GetSystemMetrics(SM_CYFRAME);
    RECT r{};
    ASSERT_TRUE(::GetWindowRect(window, &r));
    EXPECT_EQ(r.left, x);
    EXPECT_EQ(r.top, ::GetSystemMetrics(SM_CYFULLSCREEN) - height - frame);
    EXPECT_EQ(r.right - r.left, width);
    EXPECT_EQ(r.bottom - r.top, height + caption + frame);
}

TEST_F(DiagTest, SwitchOffDoesNothing)
{
    DebugTraceOn = false;
    char dir[MAX_PATH];
    ASSERT_TRUE(::GetTempPathA(MAX_PATH, dir));
    ASSERT_TRUE(::SetCurrentDirectoryA(dir));
    std::remove("error.txt");
    ScriptKeys({{100000, {VK_RBUTTON, VK_CONTROL, 'Q', 'S'}}});

    DebugTrace("line %d", 1);
    DebugMarquee(10, 10, "at %s", "place");
    DebugPause();
    DebugScreenText(0, 0, "screen");
    DebugErrorFile("error %d", 2);

    EXPECT_EQ(keyReads, 0);
    EXPECT_TRUE(shown.empty());
    EXPECT_TRUE(quits.empty());
    EXPECT_EQ(beeps, 0);
    EXPECT_EQ(TraceWindow(), nullptr);
    EXPECT_EQ(StaticWindow(), nullptr);
    EXPECT_EQ(std::fopen("error.txt", "r"), nullptr);
}

TEST_F(DiagTest, FirstLineCreatesBothWindowsAndShowsOnlyTheTrace)
{
    DebugTrace("first %d", 1);
    HWND trace = TraceWindow();
    HWND still = StaticWindow();
    ASSERT_NE(trace, nullptr);
    ASSERT_NE(still, nullptr);
    EXPECT_TRUE(::IsWindowVisible(trace));
    EXPECT_FALSE(::IsWindowVisible(still));
    EXPECT_TRUE(::GetWindowLongA(trace, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_TRUE(::GetWindowLongA(still, GWL_EXSTYLE) & WS_EX_TOPMOST);
    ExpectOuterRect(trace, ::GetSystemMetrics(SM_CXFULLSCREEN) - 400, 400, 600);
    ExpectOuterRect(still, 0, 600, 300);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "first 1");

    DebugTrace("second");
    EXPECT_EQ(TraceWindow(), trace);  // kept, not re-created
}

TEST_F(DiagTest, PositionedTextShowsTheStaticWindow)
{
    DebugMarquee(10, 20, "at %d,%d", 10, 20);
    ASSERT_NE(StaticWindow(), nullptr);
    EXPECT_TRUE(::IsWindowVisible(StaticWindow()));
    EXPECT_FALSE(::IsWindowVisible(TraceWindow()));
}

TEST_F(DiagTest, ClosedWindowIsCreatedAgain)
{
    DebugTrace("one");
    HWND trace = TraceWindow();
    ::SendMessageA(trace, WM_CLOSE, 0, 0);
    EXPECT_FALSE(::IsWindow(trace));
    DebugTrace("two");
    EXPECT_TRUE(::IsWindowVisible(TraceWindow()));
}

TEST_F(DiagTest, SizeSettersKeepOrRecreateTheWindows)
{
    DebugTrace("sized");
    HWND trace = TraceWindow();
    HWND still = StaticWindow();

    DebugSetTraceWindowSize(400, 600);
    DebugSetStaticWindowSize(600, 300);
    EXPECT_TRUE(::IsWindow(trace));
    EXPECT_TRUE(::IsWindow(still));

    DebugSetTraceWindowSize(0, 100);  // nonsense is ignored
    EXPECT_TRUE(::IsWindow(trace));

    DebugSetTraceWindowSize(300, 200);
    EXPECT_FALSE(::IsWindow(trace));
    EXPECT_TRUE(::IsWindow(still));
    DebugSetStaticWindowSize(500, 100);
    EXPECT_FALSE(::IsWindow(still));

    DebugTrace("resized");
    ExpectOuterRect(TraceWindow(), ::GetSystemMetrics(SM_CXFULLSCREEN) - 300, 300, 200);
    ExpectOuterRect(StaticWindow(), 0, 500, 100);
}

TEST_F(DiagTest, FinishedTextIsShownUnchanged)
{
    const std::string longText(2000, 'x');
    struct Case {
        const char* argument;
        std::string expected;
    } cases[] = {
        {"100% done %d %s %n", "100% done %d %s %n"},
        {"%%", "%%"},
        {longText.c_str(), std::string(511, 'x')},  // cut to the buffer, never past it
    };
    for (const Case& c : cases) {
        shown.clear();
        DebugTrace("%s", c.argument);
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0], c.expected);
    }
}

TEST_F(DiagTest, LineDelaySpacesScrollingLines)
{
    DebugSetLineDelay(100);
    DebugTrace("a");
    DebugTrace("b");
    DebugTrace("c");
    ASSERT_EQ(shownAt.size(), 3u);
    EXPECT_GE(shownAt[2] - shownAt[1], 100u);
    DebugMarquee(5, 5, "positioned lines are not delayed");
    EXPECT_EQ(shownAt[3], fakeNow);
}

const char kPaused[] = "<<< PAUSED.  CTRL-Right-Click Anywhere (or Press CTRL-R) to Resume ... >>>";
const char kUnpaused[] = "<<< UN-PAUSED >>>";

int Count(const std::string& text)
{
    int n = 0;
    for (const auto& s : shown)
        n += s == text;
    return n;
}

TEST_F(DiagTest, PauseKeysAtATraceLine)
{
    struct Case {
        const char* name;
        std::vector<int> atLine;    // held while the line is written
        std::vector<int> toResume;  // pressed afterwards
        bool pauses;
    } cases[] = {
        {"right button alone", {VK_RBUTTON}, {VK_CONTROL, 'R'}, true},
        {"ctrl+S", {VK_CONTROL, 'S'}, {VK_CONTROL, VK_RBUTTON}, true},
        {"ctrl+right button", {VK_CONTROL, VK_RBUTTON}, {}, false},
        {"S alone", {'S'}, {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        shown.clear();
        beeps = 0;
        fakeNow += 1000;
        ScriptKeys({{300, c.atLine}, {500, {}}, {50, c.toResume}});
        DebugTrace("line");
        EXPECT_EQ(Count(kPaused), c.pauses ? 1 : 0);  // the announcing line does not pause again
        EXPECT_EQ(Count(kUnpaused), c.pauses ? 1 : 0);
        EXPECT_EQ(beeps, c.pauses ? 1 : 0);
    }
}

TEST_F(DiagTest, ResumeWaitsAQuarterSecondAfterTheLastResume)
{
    ScriptKeys({{100000, {VK_CONTROL, 'R'}}});
    DebugPause();
    ASSERT_EQ(Count(kUnpaused), 1);
    const DWORD firstResume = shownAt.back();

    DebugPause();  // the resume keys are still held
    ASSERT_EQ(Count(kUnpaused), 2);
    EXPECT_GE(shownAt.back() - firstResume, 250u);
    EXPECT_LT(shownAt.back() - firstResume, 300u);
}

TEST_F(DiagTest, ForceQuitKeys)
{
    ScriptKeys({{10, {VK_CONTROL, 'Q'}}});
    DebugTrace("quit here");
    ASSERT_EQ(quits.size(), 1u);
    EXPECT_EQ(quits[0], "Marquee2");

    quits.clear();
    ScriptKeys({{10, {VK_RBUTTON}}, {400, {VK_CONTROL, 'Q'}}, {10, {VK_CONTROL, 'R'}}});
    DebugTrace("pause, then quit while paused");
    ASSERT_FALSE(quits.empty());
    EXPECT_EQ(quits[0], "VERROR");
}

TEST_F(DiagTest, LeftClickInTheWindowPauses)
{
    DebugTrace("click me");
    ScriptKeys({{400, {VK_CONTROL, 'R'}}});
    EXPECT_EQ(::SendMessageA(TraceWindow(), WM_LBUTTONUP, 0, 0), 0);
    EXPECT_EQ(Count(kPaused), 1);
    EXPECT_EQ(Count(kUnpaused), 1);
}

TEST_F(DiagTest, CallsFromSeveralThreadsAreSerialised)
{
    DebugTrace("windows first");
    shown.clear();  // RecordShown is not thread-safe: the module's lock makes it so
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 25; ++i)
                DebugTrace("thread %d line %d", t, i);
        });
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(shown.size(), 100u);
}

// A thread that holds the module's lock while it shows a window needs the window's own thread,
// which may be waiting for the lock: the waiter handles what is sent to it, so neither hangs.
struct LockHandOver {
    static inline HANDLE holding = nullptr;  // set by the holder inside its pause
    static inline HANDLE hidden = nullptr;   // set once the window's thread hid the window
    static inline std::atomic<bool> resume{false};

    static SHORT Keys(int key)
    {
        return resume && (key == VK_CONTROL || key == 'R') ? SHORT(0x8000) : 0;
    }
    static void Beep() { ::SetEvent(holding); }
    static void Nap(DWORD ms)
    {
        FakeSleep(ms);
        resume = ::WaitForSingleObject(hidden, 1) == WAIT_OBJECT_0;
    }
};

TEST_F(DiagTest, WaiterHandlesWhatTheHolderSendsIt)
{
    DebugSetHooks(DebugHooks{LockHandOver::Keys, FakeNow, LockHandOver::Nap, LockHandOver::Beep, FakeQuit,
                             RecordShown});
    ScopedKernelHandle holding(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    ScopedKernelHandle hidden(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    ScopedKernelHandle finished(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(holding && hidden && finished);
    LockHandOver::holding = holding.get();
    LockHandOver::hidden = hidden.get();
    LockHandOver::resume = false;
    DebugTrace("windows first");  // made by this thread
    // A hang here is the fault this test is about: end the program rather than wait for CTest.
    std::thread watchdog([&] {
        if (::WaitForSingleObject(finished.get(), 30000) == WAIT_TIMEOUT) {
            std::fprintf(stderr, "the waiter and the holder hang on each other\n");
            ::ExitProcess(1);
        }
    });
    // The holder pauses; once it is paused this thread hides the window, so that the holder's
    // resume line must show it again, through this thread, while this thread waits for the lock.
    std::thread holder([] { DebugPause(); });
    ASSERT_EQ(::WaitForSingleObject(holding.get(), 10000), WAIT_OBJECT_0);
    ::ShowWindow(TraceWindow(), SW_HIDE);
    ::SetEvent(hidden.get());
    DebugTrace("waited");
    holder.join();
    ::SetEvent(finished.get());
    watchdog.join();
    EXPECT_TRUE(::IsWindowVisible(TraceWindow()));
    EXPECT_EQ(shown, (std::vector<std::string>{"windows first", kPaused, kUnpaused, "waited"}));
}

TEST_F(DiagTest, ErrorFileAppendsCutLines)
{
    char dir[MAX_PATH];
    ASSERT_TRUE(::GetTempPathA(MAX_PATH, dir));
    ASSERT_TRUE(::SetCurrentDirectoryA(dir));
    std::remove("error.txt");
    DebugErrorFile("first %d", 1);
    DebugErrorFile("%s", std::string(500, 'e').c_str());
    std::ifstream in("error.txt");
    std::string a, b, c;
    ASSERT_TRUE(std::getline(in, a));
    ASSERT_TRUE(std::getline(in, b));
    EXPECT_FALSE(std::getline(in, c));
    EXPECT_EQ(a, "first 1");
    EXPECT_EQ(b, std::string(199, 'e'));
    in.close();
    std::remove("error.txt");
}

// The program's one log hands each entry, whole, to every reader attached; DebugTrace writes
// to it, and to the trace window alone once the log is taken back.
TEST(DiagLog, OneLogManyReaders)
{
    std::ostringstream first, second;
    StreamLog a(first), b(second);
    Log log;
    log.Attach(a);
    log.Attach(b);
    SetProgramLog(&log);
    DebugTrace("line %d", 1);
    log.Line("\nFrames skipped:   0\nTotal Time:       0");
    log.Detach(b);
    log.Line("only the first");
    SetProgramLog(nullptr);
    DebugTrace("the window's");
    EXPECT_EQ(first.str(), "line 1\n\nFrames skipped:   0\nTotal Time:       0\nonly the first\n");
    EXPECT_EQ(second.str(), "line 1\n\nFrames skipped:   0\nTotal Time:       0\n");
}

}  // namespace
