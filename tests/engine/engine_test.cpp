#include "FakeParts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <future>
#include <memory>
#include <sstream>

namespace {

constexpr UINT kNotice = WM_APP + 7;

// A window of the test's thread that the engine posts its failure notice to.
class NoticeWindow {
public:
    NoticeWindow()
        : window(::CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr))
    {
    }
    ~NoticeWindow() { ::DestroyWindow(window); }
    HWND Handle() const { return window; }
    // Takes the notices that arrived so far; waits up to `ms` for the first one.
    int Take(DWORD ms)
    {
        int count = 0;
        const DWORD start = ::GetTickCount();
        for (;;) {
            MSG msg;
            while (::PeekMessageA(&msg, window, kNotice, kNotice, PM_REMOVE))
                ++count;
            if (count > 0 || ::GetTickCount() - start >= ms)
                return count;
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_POSTMESSAGE);
        }
    }

private:
    HWND window;
};

// An engine on doubles, with its trace captured, a scripted clock, and its failure notice.
struct Rig {
    Journal journal;
    ScriptedClock* clock = new ScriptedClock();
    FakeFactory* factory = new FakeFactory(journal, clock);
    std::ostringstream trace;
    StreamLog traceLog{trace};
    CaptureEngine engine{std::unique_ptr<CaptureFactory>(factory), std::unique_ptr<CaptureClock>(clock)};
    NoticeWindow notice;

    Rig()
    {
        engine.SetLog(traceLog);
        engine.SetRecordSound(false);
        engine.SetFileName("movie.avi");
        engine.SetFailureNotice(notice.Handle(), kNotice);
    }
    // True once the engine has announced a recording that ended on its own.
    bool WaitForNotice(DWORD ms = 20000) { return notice.Take(ms) == 1; }
    // Records until the scripted clock reaches `ms` after the start, then stops.
    void RecordFor(uint32_t ms)
    {
        clock->limit = clock->t + ms;
        ASSERT_EQ(engine.BeginCapture(), 0);
        ASSERT_TRUE(clock->WaitIdle());
        ASSERT_EQ(engine.CaptureStop(), 1);
    }
    std::vector<int32_t> Indexes() const
    {
        std::vector<int32_t> v;
        for (auto& f : factory->video->frames)
            v.push_back(f.index);
        return v;
    }
    std::string Report() const
    {
        // The report, up to its last line: the UI thread's stop trace may come after it.
        std::string t = trace.str();
        auto at = t.find("\nFrames skipped:");
        if (at == std::string::npos)
            return "";
        auto end = t.find('\n', t.find("Total Time:", at));
        return t.substr(at, end == std::string::npos ? std::string::npos : end + 1 - at);
    }
};

// ---- parameters ------------------------------------------------------------------------------

TEST(CaptureParameters, CaptureRectTable)
{
    struct Case {
        VRect r;
        bool ok;
    } cases[] = {
        {{0, 0, 16, 16}, true},         {{0, 0, 15, 16}, false},     {{0, 0, 16, 15}, false},
        {{-1, 0, 100, 100}, false},     {{0, -1, 100, 100}, false},  {{0, 0, -1, 100}, false},
        {{10, 20, 330, 260}, true},     {{50, 50, 40, 100}, false},  {{0, 0, 1024, 768}, true},
        // 100000 x 100000 would size a frame buffer of tens of gigabytes.
        {{0, 0, 100000, 100000}, false}, {{0, 0, 0x7FFFFFFF, 20}, false},
    };
    for (const Case& c : cases) {
        Rig rig;
        ASSERT_TRUE(rig.engine.SetCaptureRect({5, 6, 105, 86}));
        EXPECT_EQ(rig.engine.SetCaptureRect(c.r), c.ok) << c.r.left << "," << c.r.top << "," << c.r.right << "," << c.r.bottom;
        VRect expect = c.ok ? c.r : VRect{5, 6, 105, 86};
        EXPECT_EQ(rig.engine.GetCaptureRect(), expect);
    }
}

TEST(CaptureParameters, FrameSizeLimitFollowsDepth)
{
    Rig rig;
    ASSERT_TRUE(rig.engine.SetBitDepth(8));
    // 16384 x 16384 at 8 bits is exactly 256 MiB; at 16 bits it is twice that.
    EXPECT_TRUE(rig.engine.SetCaptureRect({0, 0, 16384, 16384}));
    EXPECT_FALSE(rig.engine.SetBitDepth(16));
    EXPECT_EQ(rig.engine.GetBitDepth(), 8);
    EXPECT_FALSE(rig.engine.SetCaptureRect({0, 0, 16385, 16384}));
    // Lossless true colour: 8192 x 8192 at 32 bits is 256 MiB as well.
    ASSERT_TRUE(rig.engine.SetCaptureRect({0, 0, 8192, 8192}));
    EXPECT_TRUE(rig.engine.SetBitDepth(32));
    EXPECT_FALSE(rig.engine.SetCaptureRect({0, 0, 8193, 8192}));
}

TEST(CaptureParameters, ScalarSetters)
{
    Rig rig;
    CaptureEngine& e = rig.engine;
    struct {
        int16_t bits;
        bool ok;
        uint32_t clrUsed;
    } depths[] = {{8, true, 256}, {16, true, 0}, {24, true, 0}, {32, true, 0}, {15, false, 0}, {0, false, 0}};
    for (auto& d : depths) {
        ASSERT_TRUE(e.SetBitDepth(16));
        EXPECT_EQ(e.SetBitDepth(d.bits), d.ok) << d.bits;
        EXPECT_EQ(e.GetBitDepth(), d.ok ? d.bits : 16);
        EXPECT_EQ(e.Info().bitmapInfo.bmiHeader.biClrUsed, d.ok ? d.clrUsed : 0u);
    }

    struct {
        int32_t in;
        bool ok;
    } margins[] = {{0, true}, {100, true}, {50, true}, {101, false}, {-1, false}};
    for (auto& m : margins) {
        ASSERT_TRUE(e.SetPanMargin(7));
        EXPECT_EQ(e.SetPanMargin(m.in), m.ok);
        EXPECT_EQ(e.GetPanMargin(), m.ok ? m.in : 7);
    }

    EXPECT_TRUE(e.SetKeyFrameEvery(-1));
    EXPECT_EQ(e.GetKeyFrameEvery(), 15);
    EXPECT_TRUE(e.SetKeyFrameEvery(0));
    EXPECT_EQ(e.GetKeyFrameEvery(), 0);

    // The rate divides everywhere: below 1 it is refused and the previous rate kept.
    EXPECT_TRUE(e.SetFramesPerSecond(25));
    EXPECT_FALSE(e.SetFramesPerSecond(0));
    EXPECT_FALSE(e.SetFramesPerSecond(-3));
    EXPECT_EQ(e.GetFramesPerSecond(), 25);

    EXPECT_TRUE(e.SetCompressor(MakeFourCC("mrle")));
    EXPECT_EQ(e.GetCompressor(), MakeFourCC("mrle"));
    EXPECT_TRUE(e.SetCaptureMode(3));
    EXPECT_EQ(e.GetCaptureMode(), 3);
    EXPECT_TRUE(e.SetAttachCursorThread(7));
    EXPECT_TRUE(e.Info().attachCursorThread);
    EXPECT_TRUE(e.SetFileName("C:\\x\\y.avi"));
    EXPECT_STREQ(e.GetFileName(), "C:\\x\\y.avi");
    EXPECT_TRUE(e.SetFileName(nullptr));
    EXPECT_STREQ(e.GetFileName(), "");
}

TEST(CaptureParameters, WaveFormatTable)
{
    struct {
        uint16_t ch;
        uint32_t rate;
        uint16_t bits;
        bool ok;
        uint16_t align;
        uint32_t avg;
    } cases[] = {
        {2, 44100, 16, true, 4, 176400}, {1, 11025, 8, true, 1, 11025}, {2, 22050, 8, true, 2, 44100},
        {1, 8000, 8, false, 0, 0},       {3, 11025, 8, false, 0, 0},    {1, 11025, 12, false, 0, 0},
    };
    for (auto& c : cases) {
        Rig rig;
        ASSERT_TRUE(rig.engine.SetWaveFormat(1, 22050, 16));
        EXPECT_EQ(rig.engine.SetWaveFormat(c.ch, c.rate, c.bits), c.ok);
        WAVEFORMATEX f{};
        EXPECT_TRUE(rig.engine.GetWaveFormat(&f));
        EXPECT_EQ(f.wFormatTag, 1);
        EXPECT_EQ(f.cbSize, 0);
        if (c.ok) {
            EXPECT_EQ(f.nChannels, c.ch);
            EXPECT_EQ(f.nSamplesPerSec, c.rate);
            EXPECT_EQ(f.nBlockAlign, c.align);
            EXPECT_EQ(f.nAvgBytesPerSec, c.avg);
        } else {
            EXPECT_EQ(f.nSamplesPerSec, 22050u);
            EXPECT_EQ(f.nBlockAlign, 2);
        }
    }
}

TEST(CaptureParameters, FreshEngineDefaults)
{
    Rig rig;
    const CaptureInfo& i = rig.engine.Info();
    const auto& h = i.bitmapInfo.bmiHeader;
    EXPECT_EQ(h.biWidth, 16);
    EXPECT_EQ(h.biHeight, 16);
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biBitCount, ScreenBitsPerPixel());
    EXPECT_EQ(h.biClrUsed, h.biBitCount == 8 ? 256u : 0u);
    EXPECT_EQ(i.frameBytes, 0);
    EXPECT_EQ(i.framesPerSecond, 6);
    EXPECT_EQ(i.soundBufferBytes, 1837);
    EXPECT_EQ(i.waveFormat.nSamplesPerSec, 11025u);
    EXPECT_EQ(i.waveFormat.nAvgBytesPerSec, 11025u);
    EXPECT_EQ(i.keyFrameEvery, 15);
    EXPECT_EQ(i.quality, 10000);
    EXPECT_EQ(i.compressor, MakeFourCC("MSVC"));
    EXPECT_TRUE(i.waveInCallback && i.waveInCallbackData);
}

TEST(CaptureParameters, ScreenDepthIsAFrameDepth)
{
    // Every accepted screen gives a depth the frames can have; a 32-bit screen gives 24.
    int bits = ScreenBitsPerPixel();
    EXPECT_TRUE(bits == 8 || bits == 16 || bits == 24) << bits;
}

TEST(VorStateTest, BitsAndBounds)
{
    EXPECT_EQ(Initialized.value, 2);
    EXPECT_EQ(Paused.value, 8);
    EXPECT_EQ(VorState(0, VorState::kPrivateBase).value, 1 << 20);
    EXPECT_EQ(VorState(31).value, int32_t(0x80000000u));
    for (auto [n, base] : {std::pair{0, 0}, {32, 0}, {-1, 0}, {12, 20}, {-20, 20}}) {
        try {
            VorState s(n, base);
            ADD_FAILURE() << "created state " << n << "+" << base;
        } catch (const VorExcept& e) {
            EXPECT_EQ(e.code, 1);
            EXPECT_EQ(e.message, "Can't create VorState, over the bounds");
        }
    }
    int32_t word = 0;
    Paused.Set(word);
    Initialized.Set(word);
    Paused.Clear(word);
    EXPECT_EQ(word, 2);
    EXPECT_TRUE(Initialized.IsSet(word));
    EXPECT_FALSE(Paused.IsSet(word));
}

TEST(CaptureEngineTest, NoFactoryRaises)
{
    try {
        CaptureEngine e(nullptr);
        ADD_FAILURE();
    } catch (const VorExcept& e) {
        EXPECT_EQ(e.code, 1);
        EXPECT_EQ(e.message, "");
    }
}

// ---- threads and locks -------------------------------------------------------------------

class GateThread : public BaseThread {
public:
    HANDLE gate = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<int> runs{0};
    std::atomic<bool> sawTerminate{false};
    ~GateThread() override { ::CloseHandle(gate); }

protected:
    int32_t Run() override
    {
        ++runs;
        ::WaitForSingleObject(gate, INFINITE);
        sawTerminate = TerminateRequested();
        return 42;
    }
};

TEST(BaseThreadTest, StateMachine)
{
    GateThread t;
    EXPECT_EQ(t.State(), BaseThread::NotStarted);
    EXPECT_EQ(t.Wait(0), DWORD(-1));  // never started: no wait at all
    EXPECT_THROW(t.Suspend(), BaseThread::BaseThreadError);
    try {
        t.Resume();
    } catch (const BaseThread::BaseThreadError& e) {
        EXPECT_EQ(e.code, 2);
    }

    HANDLE first = t.Start();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(t.State(), BaseThread::Running);
    try {
        t.Resume();
        ADD_FAILURE();
    } catch (const BaseThread::BaseThreadError& e) {
        EXPECT_EQ(e.code, 3);
    }
    t.Terminate();
    ::SetEvent(t.gate);
    // Not t.Wait: the thread may have finished already, and Wait answers -1 for a finished thread.
    EXPECT_EQ(::WaitForSingleObject(t.Handle(), 10000), WAIT_OBJECT_0);
    EXPECT_EQ(t.RefreshState(), BaseThread::Finished);
    EXPECT_TRUE(t.sawTerminate);
    DWORD code = 0;
    ASSERT_TRUE(::GetExitCodeThread(t.Handle(), &code));
    EXPECT_EQ(code, 42u);
    for (int expected : {4, 5}) {
        try {
            expected == 4 ? t.Suspend() : t.Resume();
            ADD_FAILURE();
        } catch (const BaseThread::BaseThreadError& e) {
            EXPECT_EQ(e.code, expected);
        }
    }

    // A restart clears the terminate flag and runs on a new thread.
    ::ResetEvent(t.gate);
    HANDLE second = t.Start();
    EXPECT_NE(second, nullptr);
    EXPECT_FALSE(t.TerminateRequested());
    ::SetEvent(t.gate);
    t.TerminateAndWait(10000);
    EXPECT_EQ(t.runs, 2);
    EXPECT_EQ(t.RefreshState(), BaseThread::Finished);
}

TEST(BaseThreadTest, SuspendAndResume)
{
    GateThread t;
    t.Start();
    EXPECT_EQ(t.Suspend(), 0u);
    EXPECT_EQ(t.State(), BaseThread::Suspended);
    EXPECT_EQ(t.Resume(), 1u);
    ::SetEvent(t.gate);
    t.Wait(10000);
}

TEST(BaseThreadTest, BaseRunHasNoWorkAndDestroyingRunningRaises)
{
    {
        BaseThread plain;  // its Run raises code 0; the thread just ends
        plain.Start();
        plain.Wait(10000);
        EXPECT_EQ(plain.RefreshState(), BaseThread::Finished);
    }
    {
        BaseThread never;  // destroying a never-started thread raises nothing
    }
    alignas(GateThread) unsigned char storage[sizeof(GateThread)];
    auto* t = new (storage) GateThread;
    t->Start();
    // The destruction closes the object's own handles: the thread is let go and waited for
    // through copies, so that it has ended before `storage` goes out of scope.
    const HANDLE self = ::GetCurrentProcess();
    HANDLE gateCopy = nullptr;
    HANDLE threadCopy = nullptr;
    ASSERT_TRUE(::DuplicateHandle(self, t->gate, self, &gateCopy, 0, FALSE, DUPLICATE_SAME_ACCESS));
    ScopedKernelHandle gate(gateCopy);
    ASSERT_TRUE(::DuplicateHandle(self, t->Handle(), self, &threadCopy, 0, FALSE, DUPLICATE_SAME_ACCESS));
    ScopedKernelHandle thread(threadCopy);
    try {
        t->~GateThread();
        ADD_FAILURE() << "destroyed a running thread";
    } catch (const BaseThread::BaseThreadError& e) {
        EXPECT_EQ(e.code, 7);
    }
    ::SetEvent(gate.get());
    EXPECT_EQ(::WaitForSingleObject(thread.get(), 10000), WAIT_OBJECT_0);
}

TEST(BaseThreadTest, LockIsReentrantAndExclusive)
{
    VCriticalSection cs;
    std::atomic<int> inside{0};
    struct Locker : BaseThread {
        VCriticalSection* cs = nullptr;
        std::atomic<int>* inside = nullptr;
        int32_t Run() override
        {
            VCriticalSection::VLock hold(cs);
            ++*inside;
            return 0;
        }
    } other;
    other.cs = &cs;
    other.inside = &inside;
    {
        VCriticalSection::VLock outer(&cs);
        {
            VCriticalSection::VLock nested(&cs);  // the same thread enters again
        }
        other.Start();
        EXPECT_EQ(other.Wait(200), DWORD(WAIT_TIMEOUT));
        EXPECT_EQ(inside, 0);
    }
    EXPECT_EQ(::WaitForSingleObject(other.Handle(), 10000), WAIT_OBJECT_0);
    EXPECT_EQ(inside, 1);
}

// ---- pacing ------------------------------------------------------------------------------

// The pacing rules, step by step: T asks at a time which slot is due (-1: too early) and writes
// it, W asks how long to wait, P/R pause and resume. Times are after the start.
TEST(CapturePacing, Rules)
{
    struct Step {
        char op;
        uint32_t at;
        int64_t expect;  // T: the slot; W: the wait
    };
    struct Case {
        const char* name;
        uint32_t fps;
        uint32_t start;
        std::vector<Step> steps;
        const char* report;
    } cases[] = {
        {"a stop right away keeps frame 0", 15, 5000, {{'T', 0, 0}},
         "\nFrames skipped:   0\nFrames captured:  1\nTooEarly:         0\nPrevFrame written:0\nTotal Time:       0\n"},
        // 7 fps is 142 whole milliseconds, not 142.86.
        {"slots of whole milliseconds", 7, 5000,
         {{'T', 0, 0}, {'W', 0, 142}, {'T', 141, -1}, {'W', 141, 1}, {'T', 142, 1}, {'T', 283, -1}, {'T', 284, 2}},
         "\nFrames skipped:   0\nFrames captured:  3\nTooEarly:         2\nPrevFrame written:2\nTotal Time:       0.284\n"},
        {"a slow frame skips slots", 10, 5000, {{'T', 0, 0}, {'T', 100, 1}, {'T', 600, 6}, {'W', 650, 50}},
         "\nFrames skipped:   4\nFrames captured:  3\nTooEarly:         0\nPrevFrame written:6\nTotal Time:       0.6\n"},
        {"a pause is no recording time", 10, 5000,
         {{'T', 0, 0}, {'T', 100, 1}, {'P', 150, 0}, {'R', 5150, 0}, {'W', 5150, 50}, {'T', 5199, -1}, {'T', 5200, 2}},
         "\nFrames skipped:   0\nFrames captured:  3\nTooEarly:         1\nPrevFrame written:2\nTotal Time:       0.2\n"},
        {"a stop right after a resume", 10, 5000, {{'T', 0, 0}, {'T', 300, 3}, {'P', 350, 0}, {'R', 5350, 0}},
         "\nFrames skipped:   2\nFrames captured:  2\nTooEarly:         0\nPrevFrame written:3\nTotal Time:       0.3\n"},
        // Beyond the 2^24 ms a float holds exactly, and across the clock's wrap.
        {"a long recording", 15, 5000, {{'T', 0, 0}, {'T', 66u * 300000 - 1, 299999}}, nullptr},
        {"the clock wraps", 15, 0xFFFFFF00u, {{'T', 0, 0}, {'T', 132, 2}, {'W', 140, 58}}, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FramePacing pacing(c.fps, c.start);
        uint32_t pausedAt = 0;
        for (const Step& s : c.steps) {
            const uint32_t at = c.start + s.at;
            if (s.op == 'T') {
                const int32_t index = pacing.Due(at);
                EXPECT_EQ(index, s.expect) << "at " << s.at;
                if (index >= 0)
                    pacing.Written(index, at);
            } else if (s.op == 'W') {
                EXPECT_EQ(pacing.UntilNext(at), s.expect) << "at " << s.at;
            } else if (s.op == 'P') {
                pausedAt = at;
            } else {
                pacing.Resume(pausedAt, at);
            }
        }
        if (c.report) {
            EXPECT_EQ(pacing.Report(), c.report);
        }
    }
}

TEST(CapturePacing, StatisticsReportExactly)
{
    Rig rig;
    rig.engine.SetFramesPerSecond(15);
    // Two slow frames cost one slot each: 10 seconds at 15 fps, two frame times missed.
    rig.factory->screen->onGrab = [&](int n) {
        if (n == 10 || n == 20)
            rig.clock->t += 132;
    };
    rig.RecordFor(10000);
    EXPECT_EQ(rig.Report(),
              "\nFrames skipped:   2\nFrames captured:  150\nTooEarly:         0\nPrevFrame written:151\n"
              "Total Time:       9.966\n");
}

// However late the thread starts, the loop writes frame 0 before it sees a stop at once.
TEST(CapturePacing, ImmediateStopEndsTheLoop)
{
    Rig rig;
    ASSERT_EQ(rig.engine.BeginCapture(), 0);
    EXPECT_EQ(rig.engine.CaptureStop(), 1);
    ASSERT_FALSE(rig.Indexes().empty());
    EXPECT_EQ(rig.Indexes().front(), 0);
    EXPECT_NE(rig.Report().find("Frames skipped:   0\n"), std::string::npos) << rig.Report();
    // The stop's own trace line may fall anywhere between the loop's lines.
    const std::string t = rig.trace.str();
    const auto breaking = t.find("BREAKING OUT\n");
    ASSERT_NE(breaking, std::string::npos) << t;
    EXPECT_NE(t.find("************BRoken OUT********\n", breaking), std::string::npos) << t;
}

TEST(CapturePacing, PauseIsExcludedFromFrameTime)
{
    Rig rig;
    rig.engine.SetFramesPerSecond(10);
    uint32_t start = rig.clock->t;
    rig.clock->limit = start + 350;  // frames 0 to 3
    ASSERT_EQ(rig.engine.BeginCapture(), 0);
    ASSERT_TRUE(rig.clock->WaitIdle());
    rig.engine.TogglePause();
    EXPECT_TRUE(rig.engine.IsPaused());
    ASSERT_TRUE(rig.clock->WaitIdle());  // now waiting in the pause
    rig.clock->t += 5000;
    rig.clock->limit = start + 5000 + 650;
    rig.engine.TogglePause();
    EXPECT_FALSE(rig.engine.IsPaused());
    ASSERT_TRUE(rig.clock->WaitIdle());
    EXPECT_EQ(rig.engine.CaptureStop(), 1);
    EXPECT_EQ(rig.Indexes(), (std::vector<int32_t>{0, 1, 2, 3, 4, 5, 6}));
    EXPECT_NE(rig.Report().find("Total Time:       0.6\n"), std::string::npos) << rig.Report();
}

// The click animation is the grabber's; a pause of the recording must reach it, both ways.
TEST(CapturePacing, PauseAndResumeReachTheGrabbersClickClock)
{
    Rig rig;
    rig.clock->limit = rig.clock->t + 200;
    ASSERT_EQ(rig.engine.BeginCapture(), 0);
    ASSERT_TRUE(rig.clock->WaitIdle());
    EXPECT_FALSE(rig.factory->screen->ClicksPaused());
    rig.engine.TogglePause();
    EXPECT_TRUE(rig.factory->screen->ClicksPaused());
    rig.engine.TogglePause();
    EXPECT_FALSE(rig.factory->screen->ClicksPaused());
    rig.engine.TogglePause();
    EXPECT_TRUE(rig.factory->screen->ClicksPaused());
    EXPECT_EQ(rig.engine.CaptureStop(), 1);
}

TEST(CapturePacing, StopWhilePausedEndsAndClearsPause)
{
    Rig rig;
    rig.clock->limit = rig.clock->t + 200;
    ASSERT_EQ(rig.engine.BeginCapture(), 0);
    ASSERT_TRUE(rig.clock->WaitIdle());
    rig.engine.TogglePause();
    ASSERT_TRUE(rig.clock->WaitIdle());
    rig.clock->t += 3000;
    EXPECT_EQ(rig.engine.CaptureStop(), 1);
    EXPECT_FALSE(rig.engine.IsPaused());
    // The stop ends the recording where it paused.
    EXPECT_NE(rig.Report().find("PrevFrame written:1\nTotal Time:       0.166\n"), std::string::npos) << rig.Report();
    EXPECT_TRUE(rig.journal.Has("writer.Close"));

    // The next recording starts unpaused.
    rig.clock->limit = rig.clock->t + 100;
    ASSERT_EQ(rig.engine.BeginCapture(), 0);
    ASSERT_TRUE(rig.clock->WaitIdle());
    EXPECT_EQ(rig.engine.CaptureStop(), 1);
    EXPECT_EQ(rig.factory->video->frames.size(), 3u);
}

TEST(CapturePacing, FailedFrameWriteIsTracedOnceAndNotCounted)
{
    Rig rig;
    rig.factory->video->writeResult = false;
    rig.clock->limit = rig.clock->t + 400;
    ASSERT_EQ(rig.engine.BeginCapture(), 0);
    ASSERT_TRUE(rig.WaitForNotice());
    rig.engine.CaptureStop();
    EXPECT_EQ(rig.journal.Count("video.End"), 1u);
    size_t n = 0;
    for (size_t at = 0; (at = rig.trace.str().find("couldn't write bits!\n", at)) != std::string::npos; ++at)
        ++n;
    EXPECT_EQ(n, 1u);
    EXPECT_NE(rig.Report().find("Frames captured:  0\n"), std::string::npos) << rig.Report();
}

// ---- failures ----------------------------------------------------------------------------

// A recording that can no longer be written ends at that write and says why, once.
TEST(CaptureFailure, WriteFailureEndsTheLoopAtThatFrame)
{
    struct Case {
        const char* name;
        int failingCall;               // the WriteFrame call that fails
        RecordingFailure fromFile;     // what the writer says
        RecordingFailure expected;
        const char* line;
    } cases[] = {
        {"first frame, disk full", 0, {FailureKind::DiskFull, 112}, {FailureKind::DiskFull, 112},
         "Recording ended: the disk is full (system code 112)\n"},
        {"later frame, access denied", 3, {FailureKind::WriteFailed, 5}, {FailureKind::WriteFailed, 5},
         "Recording ended: the movie could not be written (system code 5)\n"},
        {"refused without a reason", 2, {}, {FailureKind::WriteFailed, 0},
         "Recording ended: the movie could not be written\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.engine.SetFramesPerSecond(10);
        rig.factory->video->failFromCall = c.failingCall;
        rig.factory->writer->reported = c.fromFile;
        rig.factory->writer->keptFrames = c.failingCall;
        rig.clock->limit = rig.clock->t + 60000;
        ASSERT_EQ(rig.engine.BeginCapture(), 0);
        ASSERT_TRUE(rig.WaitForNotice());

        // The capture thread ended the recording on its own, as a stop would.
        EXPECT_EQ(rig.factory->video->frames.size(), size_t(c.failingCall + 1));
        const RecordingFailure seen = rig.engine.Failure();
        EXPECT_EQ(seen.kind, c.expected.kind);
        EXPECT_EQ(seen.systemCode, c.expected.systemCode);
        EXPECT_EQ(rig.engine.KeptMilliseconds(), c.failingCall * 100);
        rig.engine.CaptureStop();
        EXPECT_EQ(rig.journal.Count("writer.Close"), 1u);
        EXPECT_EQ(rig.journal.Count("video.End"), 1u);
        // The counters keep the last frame written; the report is as always, then the reason.
        EXPECT_NE(rig.Report().find("Frames captured:  " + std::to_string(c.failingCall) +
                                    "\nTooEarly:         0\nPrevFrame written:" + std::to_string(c.failingCall - 1)),
                  std::string::npos)
            << rig.Report();
        const std::string t = rig.trace.str();
        EXPECT_NE(t.find(rig.Report() + c.line), std::string::npos) << t;
        EXPECT_EQ(rig.notice.Take(0), 0);

        // The next recording starts normally.
        rig.factory->video->failFromCall = -1;
        rig.factory->writer->reported = {};
        rig.clock->limit = rig.clock->t + 250;
        const size_t before = rig.factory->video->frames.size();
        ASSERT_EQ(rig.engine.BeginCapture(), 0);
        EXPECT_FALSE(rig.engine.Failure());
        ASSERT_TRUE(rig.clock->WaitIdle());
        EXPECT_EQ(rig.engine.CaptureStop(), 1);
        EXPECT_EQ(rig.factory->video->frames.size() - before, 3u);
        EXPECT_FALSE(rig.engine.Failure());
        EXPECT_EQ(rig.notice.Take(0), 0);
    }
}

// A refused grab is no reason to end: the movie keeps time with the previous picture, and the
// trace says so once for each run of refusals.
TEST(CaptureFailure, RefusedGrabRepeatsThePictureAndIsTraced)
{
    Rig rig;
    rig.engine.SetFramesPerSecond(10);
    rig.factory->screen->grabSucceeds = [](int n) { return n != 1 && n != 2 && n != 4; };
    rig.RecordFor(550);
    EXPECT_EQ(rig.Indexes(), (std::vector<int32_t>{0, 1, 2, 3, 4, 5}));
    EXPECT_FALSE(rig.engine.Failure());
    const std::string t = rig.trace.str();
    size_t n = 0;
    for (size_t at = 0; (at = t.find("couldn't grab the screen", at)) != std::string::npos; ++at)
        ++n;
    EXPECT_EQ(n, 2u) << t;
}

TEST(CaptureFailure, SoundWriteFailureStopsEveryWrite)
{
    Rig rig;
    rig.engine.SetRecordSound(true);
    rig.factory->audio->failFromCall = 1;  // the second sound write
    rig.factory->writer->reported = {FailureKind::DiskFull, 39};
    // The device hands back one buffer a frame, each heard during the frame before.
    rig.clock->onWait = [&] { rig.factory->sound->Fill(1); };
    size_t framesAtFailure = 0;
    rig.factory->audio->onWrite = [&] {
        if (rig.factory->audio->writes.size() == 2)
            framesAtFailure = rig.factory->video->frames.size();
    };
    rig.clock->limit = rig.clock->t + 60000;
    ASSERT_EQ(rig.engine.BeginCapture(), 0);
    ASSERT_TRUE(rig.WaitForNotice());
    rig.engine.CaptureStop();
    // Nothing after the failed write: no sound, not even the stop's, and no frame.
    EXPECT_EQ(rig.factory->audio->writes.size(), 2u);
    EXPECT_GT(framesAtFailure, 0u);
    EXPECT_EQ(rig.factory->video->frames.size(), framesAtFailure);
    EXPECT_EQ(rig.engine.Failure().kind, FailureKind::DiskFull);
    EXPECT_EQ(rig.engine.Failure().systemCode, 39);
    EXPECT_TRUE(rig.journal.Has("sound.Stop"));
    EXPECT_TRUE(rig.journal.Has("writer.Close"));
}

// The wave-in device going away mid-recording ends it like a failed write.
TEST(CaptureFailure, SoundDeviceLost)
{
    struct Case {
        const char* name;
        int addsBeforeLoss;  // -1: the device takes every buffer
        bool startResult;
        bool vanishWhilePaused;
        size_t frames;       // WriteFrame calls made
    } cases[] = {
        {"a buffer refused at the start", 2, true, false, 0},
        {"the start refused", -1, false, false, 0},
        {"a buffer refused on its way back", 5, true, false, 2},
        {"the device closed under a paused recording", -1, true, true, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.engine.SetRecordSound(true);
        FakeSoundGrabber& device = *rig.factory->sound;
        device.addsBeforeLoss = c.addsBeforeLoss;
        device.startResult = c.startResult;
        int waits = 0;
        rig.clock->onWait = [&] {
            if (waits++ == 0)
                device.Fill(1);
        };
        rig.clock->limit = rig.clock->t + (c.vanishWhilePaused ? 200 : 60000);
        ASSERT_EQ(rig.engine.BeginCapture(), 0);
        if (c.vanishWhilePaused) {
            ASSERT_TRUE(rig.clock->WaitIdle());
            rig.engine.TogglePause();
            ASSERT_TRUE(rig.clock->WaitIdle());
            device.Vanish();
        }
        ASSERT_TRUE(rig.WaitForNotice());
        rig.engine.CaptureStop();
        EXPECT_EQ(rig.engine.Failure().kind, FailureKind::SoundDevice);
        EXPECT_EQ(rig.factory->video->frames.size(), c.frames);
        EXPECT_EQ(rig.journal.Has("sound.Start"), c.addsBeforeLoss != 2);
        EXPECT_FALSE(rig.engine.IsPaused());  // the next recording does not begin paused
        EXPECT_NE(rig.trace.str().find("Recording ended: the sound device stopped\n"), std::string::npos);
        EXPECT_TRUE(rig.journal.Has("sound.End"));
        // A close of the device by the engine itself is no loss.
        EXPECT_EQ(rig.notice.Take(0), 0);
    }
}

// A wave-in device behind the real sound grabber: buffers come back through the callback when the
// test delivers them, and the device refuses every buffer after the first `accepted`.
class ScriptedDevice : public WaveInApi {
public:
    explicit ScriptedDevice(int accepted) : accepted(accepted) {}
    std::atomic<int> adds{0};

    MMRESULT Open(HWAVEIN* device, const WAVEFORMATEX*, DWORD_PTR cb, DWORD_PTR data, DWORD flags) override
    {
        if (flags & WAVE_FORMAT_QUERY)
            return MMSYSERR_NOERROR;
        callback = reinterpret_cast<WaveInCallbackFn>(cb);
        instance = data;
        *device = reinterpret_cast<HWAVEIN>(uintptr_t(0x5150));
        return MMSYSERR_NOERROR;
    }
    MMRESULT PrepareHeader(HWAVEIN, WAVEHDR*, UINT) override { return MMSYSERR_NOERROR; }
    MMRESULT AddBuffer(HWAVEIN, WAVEHDR* h, UINT) override
    {
        if (adds++ >= accepted)
            return MMSYSERR_NODRIVER;  // unplugged
        std::lock_guard<std::mutex> hold(m);
        queued.push_back(h);
        return MMSYSERR_NOERROR;
    }
    MMRESULT UnprepareHeader(HWAVEIN, WAVEHDR*, UINT) override { return MMSYSERR_NOERROR; }
    MMRESULT Start(HWAVEIN) override { return MMSYSERR_NOERROR; }
    MMRESULT Stop(HWAVEIN) override { return MMSYSERR_NOERROR; }
    MMRESULT Reset(HWAVEIN) override
    {
        Deliver(queued.size());
        return MMSYSERR_NOERROR;
    }
    MMRESULT Close(HWAVEIN) override
    {
        callback(nullptr, 0x3BF, instance, 0, 0);  // WIM_CLOSE, as the platform sends it
        return MMSYSERR_NOERROR;
    }
    void Deliver(size_t n)
    {
        for (size_t i = 0; i < n; ++i) {
            WAVEHDR* h = nullptr;
            {
                std::lock_guard<std::mutex> hold(m);
                if (queued.empty())
                    return;
                h = queued.front();
                queued.pop_front();
            }
            h->dwBytesRecorded = h->dwBufferLength;
            callback(nullptr, 0x3C0, instance, reinterpret_cast<uintptr_t>(h), 0);
        }
    }

private:
    int accepted;
    WaveInCallbackFn callback = nullptr;
    DWORD_PTR instance = 0;
    std::mutex m;
    std::deque<WAVEHDR*> queued;
};

class ScriptedDeviceFactory : public FakeFactory {
public:
    ScriptedDeviceFactory(Journal& j, ScriptedClock* clock, ScriptedDevice* device) : FakeFactory(j, clock), device(device) {}
    std::unique_ptr<SoundGrabber> CreateSoundGrabber(CaptureInfo& info) override
    {
        return std::make_unique<SoundGrabber>(info, std::unique_ptr<WaveInApi>(device));
    }

private:
    ScriptedDevice* device;  // handed to the grabber
};

// Through the real sound grabber: a device that stops taking buffers mid-recording ends it.
TEST(CaptureFailure, ScriptedDeviceThatStopsMidRecording)
{
    Journal journal;
    auto* clock = new ScriptedClock();
    auto* device = new ScriptedDevice(6);  // the five at the start, and one on its way back
    auto* factory = new ScriptedDeviceFactory(journal, clock, device);
    std::ostringstream trace;
    StreamLog traceLog(trace);
    NoticeWindow notice;
    CaptureEngine engine{std::unique_ptr<CaptureFactory>(factory), std::unique_ptr<CaptureClock>(clock)};
    engine.SetLog(traceLog);
    engine.SetRecordSound(true);
    engine.SetFileName("movie.avi");
    engine.SetFailureNotice(notice.Handle(), kNotice);
    clock->onWait = [&] { device->Deliver(1); };
    clock->limit = clock->t + 60000;
    ASSERT_EQ(engine.BeginCapture(), 0);
    ASSERT_EQ(notice.Take(20000), 1);
    engine.CaptureStop();
    EXPECT_EQ(engine.Failure().kind, FailureKind::SoundDevice);
    EXPECT_EQ(device->adds.load(), 7);  // the refused one, and none after it
    // The first buffer came back as the recording started, all of it heard before: left out.
    // The second was written, and its return to the device was refused.
    EXPECT_EQ(factory->audio->writes.size(), 1u);
    EXPECT_NE(trace.str().find("Recording ended: the sound device stopped\n"), std::string::npos) << trace.str();
    // The engine's own close of the device afterwards is no failure of the next recording.
    EXPECT_EQ(notice.Take(0), 0);
}

TEST(CaptureFailure, CloseThatCannotFinishTheFileIsAFailure)
{
    Rig rig;
    rig.factory->writer->closeResult = false;
    rig.factory->writer->reported = {FailureKind::DiskFull, 112};
    rig.RecordFor(300);
    EXPECT_EQ(rig.notice.Take(20000), 1);
    EXPECT_EQ(rig.engine.TakeFailure().kind, FailureKind::DiskFull);
    // Handed over once.
    EXPECT_FALSE(rig.engine.TakeFailure());
    EXPECT_FALSE(rig.engine.Failure());
}

TEST(CaptureFailure, NormalStopPostsNothing)
{
    Rig rig;
    rig.engine.SetRecordSound(true);
    rig.RecordFor(500);
    EXPECT_FALSE(rig.engine.Failure());
    EXPECT_EQ(rig.notice.Take(300), 0);
    EXPECT_EQ(rig.trace.str().find("Recording ended"), std::string::npos);
}

TEST(CaptureFailure, StreamsThatCannotBeSetUpFailTheStart)
{
    struct Case {
        const char* name;
        int32_t soundInit;
        bool videoInit;
        bool audioInit;
        int32_t expected;
    } cases[] = {
        {"no wave-in device", 9, true, true, 9},
        {"device refused", 1, true, true, 1},
        {"video stream", 0, false, true, 1},
        {"audio stream", 0, true, false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.engine.SetRecordSound(true);
        rig.factory->sound->initResult = c.soundInit;
        rig.factory->video->initResult = c.videoInit;
        rig.factory->audio->initResult = c.audioInit;
        EXPECT_EQ(rig.engine.BeginCapture(), c.expected);
        // Whatever was prepared is released, and no recording runs.
        for (const char* s : {"screen.End", "sound.End", "video.End", "audio.End", "writer.Close"})
            EXPECT_TRUE(rig.journal.Has(s)) << s;
        EXPECT_EQ(rig.engine.CaptureStop(), 0);
        EXPECT_TRUE(rig.factory->video->frames.empty());
    }
}

TEST(CaptureFailure, SaveFrameSaysWhy)
{
    Rig rig;
    rig.factory->screen->saveResult = false;
    rig.factory->screen->saveError = ERROR_DISK_FULL;
    EXPECT_FALSE(rig.engine.SaveFrame("a.bmp"));
    EXPECT_EQ(rig.engine.LastSaveError(), uint32_t(ERROR_DISK_FULL));
}

// ---- counters -----------------------------------------------------------------------------

// What the status icon reads while the loop runs: published once a frame, pauses excluded,
// the writer's file size, the slots skipped; zero again at the next start.
TEST(CaptureCounters, PublishedEachFrameAndReadFromAnotherThread)
{
    Rig rig;
    rig.engine.SetFramesPerSecond(10);
    rig.factory->screen->onGrab = [&](int n) {
        rig.factory->writer->fileBytes = 1000u * uint64_t(n + 1);
        if (n == 2)
            rig.clock->t += 400;  // a slow frame: slots 3, 4 and 5 pass without one
    };
    const uint32_t start = rig.clock->t;
    rig.clock->limit = start + 750;
    ASSERT_EQ(rig.engine.BeginCapture(), 0);
    ASSERT_TRUE(rig.clock->WaitIdle());  // frames at 0, 100, 200, 600 and 700 ms
    RecordingCounters c = rig.engine.Counters();
    EXPECT_EQ(c.elapsedMs, 700u);
    EXPECT_EQ(c.skippedFrames, 3u);
    EXPECT_EQ(c.movieBytes, 5000u);

    rig.engine.TogglePause();
    ASSERT_TRUE(rig.clock->WaitIdle());
    rig.clock->t += 5000;  // five paused seconds count for nothing
    EXPECT_EQ(rig.engine.Counters().elapsedMs, 700u);
    rig.clock->limit = rig.clock->t + 250;
    rig.engine.TogglePause();
    ASSERT_TRUE(rig.clock->WaitIdle());  // two more frames, at 800 and 900 ms of recording
    c = rig.engine.Counters();
    EXPECT_EQ(c.elapsedMs, 900u);
    EXPECT_EQ(c.skippedFrames, 3u);
    EXPECT_EQ(c.movieBytes, 7000u);

    // The last recording's figures stay readable once it has ended.
    ASSERT_EQ(rig.engine.CaptureStop(), 1);
    c = rig.engine.Counters();
    EXPECT_EQ(c.elapsedMs, 900u);
    EXPECT_EQ(c.skippedFrames, 3u);
    EXPECT_NE(rig.Report().find("Frames skipped:   3\n"), std::string::npos) << rig.Report();

    rig.factory->screen->onGrab = nullptr;
    rig.clock->limit = rig.clock->t.load();
    ASSERT_EQ(rig.engine.BeginCapture(), 0);
    c = rig.engine.Counters();
    EXPECT_EQ(c.elapsedMs, 0u);
    EXPECT_EQ(c.skippedFrames, 0u);
    ASSERT_TRUE(rig.clock->WaitIdle());
    EXPECT_EQ(rig.engine.CaptureStop(), 1);
}

// ---- sound -------------------------------------------------------------------------------

// Lines of `text` in this order (others may come between).
::testing::AssertionResult InOrder(const std::string& text, const std::vector<std::string>& lines)
{
    size_t at = 0;
    for (const std::string& line : lines) {
        at = text.find(line, at);
        if (at == std::string::npos)
            return ::testing::AssertionFailure() << "no \"" << line << "\" in order in:\n" << text;
        at += line.size();
    }
    return ::testing::AssertionSuccess();
}

size_t Occurrences(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// A device that fills one buffer every `everyMs` of the scripted clock, on time, while the loop
// wakes every millisecond.
void DeviceFillsEvery(Rig& rig, double everyMs, std::function<void(uint32_t elapsed)> also = nullptr)
{
    rig.clock->maxStep = 1;
    const uint32_t start = rig.clock->t;
    auto due = std::make_shared<double>(everyMs);
    rig.clock->onWait = [&rig, start, due, everyMs, also] {
        const uint32_t elapsed = rig.clock->t - start;
        while (elapsed >= *due) {
            rig.factory->sound->Fill(1);
            *due += everyMs;
        }
        if (also)
            also(elapsed);
    };
}

// A device that holds buffers and hands none back for two seconds is lost, the movie keeping
// what it has; a longer pause is none of its doing.
TEST(CaptureSound, DeviceThatFallsSilentIsLost)
{
    struct Case {
        const char* name;
        uint32_t pauseMs;  // 0: no pause
        FailureKind kind;
        size_t frames;
    } cases[] = {
        {"silent while recording", 0, FailureKind::SoundDevice, 13},  // up to 1992 ms at 6 fps
        {"silent while paused", 5000, FailureKind::None, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.engine.SetRecordSound(true);
        rig.clock->limit = rig.clock->t + (c.pauseMs ? 600 : 60000);
        ASSERT_EQ(rig.engine.BeginCapture(), 0);
        if (c.pauseMs) {
            ASSERT_TRUE(rig.clock->WaitIdle());
            rig.engine.TogglePause();
            ASSERT_TRUE(rig.clock->WaitIdle());
            rig.clock->t += c.pauseMs;
            rig.clock->limit = rig.clock->t + 300;
            rig.engine.TogglePause();
            ASSERT_TRUE(rig.clock->WaitIdle());
        } else {
            ASSERT_TRUE(rig.WaitForNotice());
        }
        rig.engine.CaptureStop();
        EXPECT_EQ(rig.engine.Failure().kind, c.kind);
        EXPECT_EQ(rig.factory->video->frames.size(), c.frames);
        EXPECT_TRUE(rig.journal.Has("writer.Close"));
    }
}

TEST(CaptureSound, DrainToOneAndInterleave)
{
    Rig rig;
    rig.engine.SetRecordSound(true);
    // The device hands back three buffers at once before frame 5 and none afterwards.
    int waits = 0;
    uint32_t filledAt = 0;
    rig.clock->onWait = [&] {
        if (waits++ == 4) {
            filledAt = rig.clock->t;
            rig.factory->sound->Fill(3);
        }
    };
    const uint32_t start = rig.clock->t;
    rig.RecordFor(1000);  // frames 0 to 6 at 6 fps
    auto& w = rig.factory->audio->writes;
    ASSERT_EQ(w.size(), 4u);  // three buffers, then silence to the end of the last frame
    // The first buffer's sound ended when the device handed it back, by the frame clock (not
    // when the loop took it a frame later): the movie's picture time of 11025 / (166 x 6) per ms.
    const double perMs = 11025.0 / (166 * 6);
    const auto first = int32_t(std::llround((filledAt - start - 1837 * 1000.0 / 11025) * perMs));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(w[i].bytes, 1837u);
        EXPECT_EQ(w[i].samples, 1837u);
        EXPECT_EQ(w[i].position, first + i * 1837);
        EXPECT_EQ(w[i].firstSample, (i * 1837) & 0xFF);
    }
    EXPECT_EQ(w[3].bytes, 0u);
    EXPECT_EQ(w[3].position, 7 * 11025 / 6);  // the end of frame 6
    // Frame 4 had nothing; frame 5 drained 3 down to 1 (two with counts) and wrote one after.
    EXPECT_TRUE(InOrder(rig.trace.str(),
                        {"NO WAVE INFO!!!!\n", "WaveHeader samples rec: 1837 Size 1837list 2\n",
                         "Sound starts at 0.499 s: " + std::to_string(first) + " samples of silence first\n",
                         "WaveHeader samples rec: 1837 Size 1837list 1\n", "WaveHeader samples rec: 1837 Size 1837\n",
                         "NO WAVE INFO!!!!\n"}));
    EXPECT_EQ(rig.trace.str().find("SOUND BUFFER LOST"), std::string::npos);
    EXPECT_EQ(rig.trace.str().find("Sound drift"), std::string::npos);
    EXPECT_TRUE(rig.journal.Has("sound.Start"));
    EXPECT_TRUE(rig.journal.Has("sound.Stop"));
    EXPECT_TRUE(rig.journal.Has("sound.End"));
    EXPECT_TRUE(rig.journal.Has("audio.End"));
}

TEST(CaptureSound, AllBuffersFilledIsALoss)
{
    Rig rig;
    rig.engine.SetRecordSound(true);
    const uint32_t start = rig.clock->t;
    // While the loop is held up after frame 0, the device fills all five buffers, one every
    // 167 ms, and then has none to record into for half a second.
    int waits = 0;
    uint32_t sixthAt = 0;
    rig.clock->onWait = [&] {
        ++waits;
        if (waits == 1) {
            for (int i = 0; i < 5; ++i) {
                rig.clock->t += 167;
                rig.factory->sound->Fill(1);
            }
            rig.clock->t += 500;
        } else if (waits == 3) {
            sixthAt = rig.clock->t;
            rig.factory->sound->Fill(1);
        }
    };
    rig.RecordFor(2000);
    const std::string t = rig.trace.str();
    EXPECT_EQ(Occurrences(t, "!!!!!!!SOUND BUFFER LOST!!!!!!!\n"), 1u);
    EXPECT_NE(t.find("list 4\n"), std::string::npos);
    auto& w = rig.factory->audio->writes;
    ASSERT_EQ(w.size(), 7u);  // five, the one after the gap, silence to the end
    for (int i = 1; i < 5; ++i)
        EXPECT_EQ(w[i].position, w[0].position + i * 1837);
    // What the device missed is silence: the sixth buffer goes where it was heard.
    const double perMs = 11025.0 / (166 * 6);
    const auto due = int32_t(std::llround((sixthAt - start - 1837 * 1000.0 / 11025) * perMs));
    EXPECT_EQ(w[5].position, due);
    EXPECT_GT(due, w[4].position + 1837);
    EXPECT_EQ(Occurrences(t, "Sound lost: "), 1u) << t;
    EXPECT_TRUE(InOrder(t, {"!!!!!!!SOUND BUFFER LOST!!!!!!!\n", "Sound lost: "}));
}

TEST(CaptureSound, StopWritesWhatTheDeviceHandsBack)
{
    // The reset hands the buffers back before it returns, or a moment later from the device's thread.
    for (DWORD lateMs : {0u, 60u}) {
        SCOPED_TRACE(testing::Message() << "handed back " << lateMs << " ms after the reset");
        Rig rig;
        rig.engine.SetRecordSound(true);
        rig.engine.SetFramesPerSecond(10);
        rig.factory->sound->stopBytes = 400;  // the buffer being filled when the device stops
        rig.factory->sound->returnAfterStopMs = lateMs;
        DeviceFillsEvery(rig, 100);
        rig.RecordFor(1050);
        auto& w = rig.factory->audio->writes;
        ASSERT_GE(w.size(), 3u);
        const auto& calls = rig.journal.calls;
        const size_t stopAt = size_t(std::find(calls.begin(), calls.end(), "sound.Stop") - calls.begin());
        const size_t endAt = size_t(std::find(calls.begin(), calls.end(), "audio.End") - calls.begin());
        ASSERT_LT(stopAt, endAt);
        // After the stop, before the stream is released: the partly filled buffer, right after
        // the sound before it, and silence to the end of the last frame (frame 10).
        const WrittenSound& partial = w[w.size() - 2];
        const WrittenSound& last = w.back();
        EXPECT_EQ(partial.bytes, 400u);
        EXPECT_GT(partial.journalAt, stopAt);
        EXPECT_LE(last.journalAt, endAt);
        const WrittenSound& before = w[w.size() - 3];
        EXPECT_EQ(partial.position, before.position + int32_t(before.samples));
        EXPECT_EQ(last.bytes, 0u);
        EXPECT_EQ(last.position, 11 * 11025 / 10);
        // The empty buffers handed back are not written.
        for (const WrittenSound& s : w)
            EXPECT_TRUE(s.bytes > 0 || &s == &last);
    }
}

TEST(CaptureSound, PauseLeavesOutItsSound)
{
    Rig rig;
    rig.engine.SetRecordSound(true);
    rig.engine.SetFramesPerSecond(10);
    ASSERT_TRUE(rig.engine.SetWaveFormat(1, 11025, 16));
    size_t addedAtPause = 0, addedAtResume = 0;
    DeviceFillsEvery(rig, 100, [&](uint32_t elapsed) {
        if (elapsed >= 1000 && addedAtPause == 0) {
            addedAtPause = rig.factory->sound->added;
            rig.engine.TogglePause();
        } else if (elapsed >= 2000 && addedAtResume == 0) {
            addedAtResume = rig.factory->sound->added;
            rig.engine.TogglePause();
        }
    });
    rig.RecordFor(3050);
    ASSERT_GT(addedAtResume, 0u);
    // The buffers went back to the device while paused, so that it could go on recording.
    EXPECT_GE(addedAtResume - addedAtPause, 8u);
    auto& w = rig.factory->audio->writes;
    ASSERT_FALSE(w.empty());
    int64_t samples = 0;
    for (size_t i = 0; i + 1 < w.size(); ++i) {
        // No sample heard while paused (sample k was heard k / 11.025 ms into the recording).
        const double from = w[i].firstSample / 11.025, to = (w[i].firstSample + w[i].samples - 1) / 11.025;
        EXPECT_FALSE(to > 1002 && from < 1998) << "written: sound heard from " << from << " to " << to << " ms";
        // Sound goes on where it left off: the pause leaves no gap.
        if (i > 0) {
            EXPECT_EQ(w[i].position, w[i - 1].position + int32_t(w[i - 1].samples)) << i;
        }
        samples += w[i].samples;
    }
    EXPECT_NEAR(double(samples), 2.05 * 11025, 1102);
    EXPECT_EQ(w.back().position, 21 * 11025 / 10);  // two seconds and a frame of picture
}

TEST(CaptureSound, DriftIsCorrectedAndTraced)
{
    struct Case {
        double fillEveryMs;  // the device fills a 100 ms buffer this often
        const char* line;
    } cases[] = {
        {98, "ms behind the picture at "},
        {102, "ms ahead of the picture at "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        Rig rig;
        rig.engine.SetRecordSound(true);
        rig.engine.SetFramesPerSecond(10);
        DeviceFillsEvery(rig, c.fillEveryMs);
        rig.RecordFor(8000);
        const std::string t = rig.trace.str();
        EXPECT_GE(Occurrences(t, "Sound drift: "), 2u) << t;
        EXPECT_EQ(Occurrences(t, "Sound drift: "), Occurrences(t, c.line)) << t;
        // Sound and picture end together, within a frame.
        auto& w = rig.factory->audio->writes;
        ASSERT_GE(w.size(), 2u);
        const WrittenSound& sound = w[w.size() - 2];
        EXPECT_NEAR(double(sound.position + int32_t(sound.samples)), 8.0 * 11025, 1102);
        for (size_t i = 1; i < w.size(); ++i)
            EXPECT_GE(w[i].position, w[i - 1].position + int32_t(w[i - 1].samples));
    }
}

TEST(CaptureSound, NoSoundTracesWithoutSound)
{
    Rig rig;
    rig.RecordFor(1000);
    std::string t = rig.trace.str();
    for (const char* s : {"WaveHeader samples rec: ", "NO WAVE INFO!!!!", "SOUND BUFFER LOST"})
        EXPECT_EQ(t.find(s), std::string::npos) << s;
    for (const char* s : {"sound.Check", "sound.Init", "sound.Start", "sound.Stop", "sound.End", "audio.Check",
                          "audio.Init", "audio.End"})
        EXPECT_FALSE(rig.journal.Has(s)) << s;
}

// The device hands a buffer back while the capture thread is inside a frame grab and inside a
// sound write: the callback returns while they are still under way, so it never waits for a
// slow screen or disk.
TEST(CaptureSound, DeviceCallbackNeverWaitsForTheLoop)
{
    Rig rig;
    rig.engine.SetRecordSound(true);
    std::vector<std::future<void>> callbacks;  // joined by the test, never inside the loop
    std::vector<std::string> waited;
    auto handBackMeanwhile = [&](const char* during) {
        callbacks.push_back(std::async(std::launch::async, [&] { rig.factory->sound->Fill(1); }));
        if (callbacks.back().wait_for(std::chrono::seconds(10)) != std::future_status::ready)
            waited.push_back(during);
    };
    rig.factory->screen->onGrab = [&](int frame) {
        if (frame == 2)
            handBackMeanwhile("a frame grab");
    };
    rig.factory->audio->onWrite = [&] {
        if (rig.factory->audio->writes.size() == 1)
            handBackMeanwhile("a sound write");
    };
    rig.RecordFor(1000);
    for (auto& c : callbacks)
        c.wait();
    EXPECT_EQ(callbacks.size(), 2u);
    EXPECT_TRUE(waited.empty()) << "the device's callback waited for " << waited.front();
}

// ---- start errors ------------------------------------------------------------------------

TEST(CaptureStart, ErrorCodesInOrder)
{
    // Each row: which check fails with which code, with or without sound.
    struct Case {
        int screen, writer, video, sound, audio;
        bool recordSound;
        int expected;
    } cases[] = {
        {4, 0, 0, 8, 0, true, 4}, {0, 0, 0, 8, 0, true, 8}, {0, 0, 0, 8, 0, false, 0},
        {6, 0, 0, 0, 0, true, 6}, {0, 1, 0, 8, 0, true, 1}, {0, 0, 2, 0, 0, true, 2},
        {0, 0, 0, 0, 3, true, 3}, {3, 5, 0, 0, 0, true, 3},
    };
    for (const Case& c : cases) {
        Rig rig;
        rig.engine.SetRecordSound(c.recordSound);
        rig.factory->screen->checkResult = c.screen;
        rig.factory->writer->checkResult = c.writer;
        rig.factory->video->checkResult = c.video;
        rig.factory->sound->checkResult = c.sound;
        rig.factory->audio->checkResult = c.audio;
        int result = rig.engine.BeginCapture();
        EXPECT_EQ(result, c.expected);
        if (result == 0) {
            rig.engine.CaptureStop();
            continue;
        }
        // A failed check prepares nothing and opens no file.
        for (const char* s : {"screen.Init", "sound.Init", "writer.Open", "video.Init", "writer.Close",
                              "writer.Discard"})
            EXPECT_FALSE(rig.journal.Has(s)) << s;
    }
}

TEST(CaptureStart, UnopenableFileFailsWithSevenAndReleases)
{
    Rig rig;
    rig.engine.SetRecordSound(true);
    rig.factory->writer->openResult = false;
    EXPECT_EQ(rig.engine.BeginCapture(), 7);
    for (const char* s : {"screen.End", "sound.End", "video.End", "audio.End", "writer.Close", "writer.Discard"})
        EXPECT_TRUE(rig.journal.Has(s)) << s;
    EXPECT_EQ(rig.engine.CaptureStop(), 0);
}

TEST(CaptureStart, HeadersThatCannotBeWrittenFailWithSevenAndDiscardTheFile)
{
    Rig rig;
    rig.engine.SetRecordSound(true);
    rig.factory->writer->headersResult = false;
    EXPECT_EQ(rig.engine.BeginCapture(), 7);
    std::vector<std::string> expected = {"screen.Check", "writer.Check", "video.Check", "sound.Check", "audio.Check",
                                         "screen.Init", "sound.Init", "writer.SetFileName movie.avi", "writer.Open",
                                         "video.Init", "audio.Init", "writer.Headers", "screen.End", "sound.End",
                                         "video.End", "audio.End", "writer.Close", "writer.Discard"};
    EXPECT_EQ(rig.journal.calls, expected);
    EXPECT_EQ(rig.engine.CaptureStop(), 0);

    // Nothing stays prepared: the next start opens its file again.
    rig.factory->writer->headersResult = true;
    rig.clock->limit = rig.clock->t + 100;
    EXPECT_EQ(rig.engine.BeginCapture(), 0);
    ASSERT_TRUE(rig.clock->WaitIdle());
    EXPECT_EQ(rig.engine.CaptureStop(), 1);
    EXPECT_EQ(rig.journal.Count("writer.Open"), 2u);
    EXPECT_EQ(rig.journal.Count("writer.Discard"), 1u);
}

TEST(CaptureStart, PreparesInOrderAndReleasesInOrder)
{
    Rig rig;
    rig.engine.SetRecordSound(true);
    rig.RecordFor(100);
    std::vector<std::string> expected = {"screen.Check", "writer.Check", "video.Check", "sound.Check", "audio.Check",
                                         "screen.Init", "sound.Init", "writer.SetFileName movie.avi", "writer.Open",
                                         "video.Init", "audio.Init", "writer.Headers", "sound.Start", "sound.Stop", "screen.End",
                                         "sound.End", "video.End", "audio.End", "writer.Close"};
    EXPECT_EQ(rig.journal.calls, expected);
    EXPECT_EQ(rig.engine.Info().frameBytes, 16 * 16 * ScreenBitsPerPixel() / 8);
}

uintptr_t FailingCreate(void*, unsigned, unsigned(__stdcall*)(void*), void*, unsigned, unsigned*)
{
    return 0;
}

TEST(CaptureStart, FailedThreadStartReleasesAndDiscardsTheFile)
{
    Rig rig;
    BaseThread::SetCreateFunctionForTesting(&FailingCreate);
    EXPECT_EQ(rig.engine.BeginCapture(), 2);
    BaseThread::SetCreateFunctionForTesting(nullptr);
    EXPECT_EQ(rig.journal.Count("writer.Open"), 1u);
    EXPECT_EQ(rig.journal.Count("screen.End"), 1u);
    EXPECT_EQ(rig.journal.Count("writer.Close"), 1u);
    EXPECT_EQ(rig.journal.Count("writer.Discard"), 1u);

    // The next start prepares again, for the file name it is given then.
    rig.engine.SetFileName("next.avi");
    rig.clock->limit = rig.clock->t + 100;
    EXPECT_EQ(rig.engine.BeginCapture(), 0);
    ASSERT_TRUE(rig.clock->WaitIdle());
    EXPECT_EQ(rig.engine.CaptureStop(), 1);
    EXPECT_EQ(rig.journal.Count("writer.Open"), 2u);
    EXPECT_TRUE(rig.journal.Has("writer.SetFileName next.avi"));
    EXPECT_EQ(rig.journal.Count("screen.Init"), 2u);
    EXPECT_EQ(rig.journal.Count("writer.Close"), 2u);
    EXPECT_EQ(rig.journal.Count("writer.Discard"), 1u);
}

TEST(CaptureStop, WithoutRecordingDoesNothing)
{
    Rig rig;
    EXPECT_EQ(rig.engine.CaptureStop(), 0);
    EXPECT_EQ(rig.trace.str(), "");
    EXPECT_EQ(rig.engine.TogglePause(), 0);
    EXPECT_EQ(rig.engine.TogglePause(), 0);
    EXPECT_FALSE(rig.engine.IsPaused());
    EXPECT_FALSE(rig.engine.SaveFrame(nullptr));
    EXPECT_TRUE(rig.journal.calls.empty());
    EXPECT_TRUE(rig.engine.SaveFrame("a.bmp"));
    EXPECT_TRUE(rig.journal.Has("screen.Save a.bmp"));
}

TEST(CaptureStop, RealClockStopsPromptlyWhilePaused)
{
    Journal journal;
    auto* factory = new FakeFactory(journal, nullptr);
    std::ostringstream trace;
    StreamLog traceLog(trace);
    CaptureEngine engine{std::unique_ptr<CaptureFactory>(factory)};
    engine.SetLog(traceLog);
    engine.SetRecordSound(false);
    engine.SetFramesPerSecond(1);  // the loop would otherwise sleep a whole second
    ASSERT_EQ(engine.BeginCapture(), 0);
    ::Sleep(50);
    engine.TogglePause();
    ::Sleep(50);
    DWORD before = ::GetTickCount();
    EXPECT_EQ(engine.CaptureStop(), 1);
    EXPECT_LT(::GetTickCount() - before, 900u);
    EXPECT_FALSE(engine.IsPaused());
}

TEST(CaptureStop, ManyCyclesLeakNoHandles)
{
    Rig rig;
    auto cycle = [&] {
        rig.clock->limit = rig.clock->t + 50;
        ASSERT_EQ(rig.engine.BeginCapture(), 0);
        ASSERT_TRUE(rig.clock->WaitIdle());
        ASSERT_EQ(rig.engine.CaptureStop(), 1);
    };
    cycle();  // first use creates what lives for the whole process
    DWORD before = 0;
    ASSERT_TRUE(::GetProcessHandleCount(::GetCurrentProcess(), &before));
    for (int i = 0; i < 200; ++i)
        cycle();
    DWORD after = 0;
    ASSERT_TRUE(::GetProcessHandleCount(::GetCurrentProcess(), &after));
    EXPECT_LE(after, before + 2);  // at most the last thread's handle, still open until the next start
}

TEST(CaptureStop, DestroyingARecordingEngineStopsIt)
{
    Journal journal;
    auto* clock = new ScriptedClock();
    auto* factory = new FakeFactory(journal, clock);
    std::ostringstream trace;
    StreamLog traceLog(trace);
    {
        CaptureEngine engine{std::unique_ptr<CaptureFactory>(factory), std::unique_ptr<CaptureClock>(clock)};
        engine.SetLog(traceLog);
        engine.SetRecordSound(false);
        clock->limit = clock->t + 100;
        ASSERT_EQ(engine.BeginCapture(), 0);
        ASSERT_TRUE(clock->WaitIdle());
    }
    // The loop ended and reported before the parts were destroyed.
    EXPECT_NE(trace.str().find("Frames captured:  1\n"), std::string::npos) << trace.str();
    EXPECT_GE(journal.Count("writer.Close"), 1u);
}

}  // namespace
