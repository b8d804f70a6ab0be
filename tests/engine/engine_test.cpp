#include "FakeParts.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

// An engine on doubles, with its trace captured and a scripted clock.
struct Rig {
    Journal journal;
    ScriptedClock* clock = new ScriptedClock();
    FakeFactory* factory = new FakeFactory(journal, clock);
    std::ostringstream trace;
    CaptureEngine engine{std::unique_ptr<CaptureFactory>(factory), std::unique_ptr<CaptureClock>(clock)};

    Rig()
    {
        engine.SetTraceStream(trace);
        engine.SetRecordSound(false);
        engine.SetFileName("movie.avi");
    }
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
}

TEST(CaptureParameters, ScalarSetters)
{
    Rig rig;
    CaptureEngine& e = rig.engine;
    struct {
        int16_t bits;
        bool ok;
        uint32_t clrUsed;
    } depths[] = {{8, true, 256}, {16, true, 0}, {24, true, 0}, {32, false, 0}, {15, false, 0}, {0, false, 0}};
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
    EXPECT_EQ(i.waveInCallbackData, &rig.engine);
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
    HANDLE gate = t->gate;
    HANDLE thread = t->Handle();
    try {
        t->~GateThread();
        ADD_FAILURE() << "destroyed a running thread";
    } catch (const BaseThread::BaseThreadError& e) {
        EXPECT_EQ(e.code, 7);
    }
    ::SetEvent(gate);
    ::WaitForSingleObject(thread, 10000);
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

TEST(CapturePacing, IndexRuleAtSixAndSeven)
{
    for (int fps : {6, 7}) {
        Rig rig;
        rig.clock->maxStep = 1;  // wake every millisecond, like a polling loop
        rig.engine.SetFramesPerSecond(fps);
        uint32_t start = rig.clock->t;
        rig.RecordFor(1000);
        const uint32_t period = 1000 / fps;  // 166 and 142, not 166.67 and 142.86
        auto& frames = rig.factory->video->frames;
        ASSERT_EQ(frames.size(), size_t(1000 / period + 1));
        for (size_t i = 0; i < frames.size(); ++i) {
            EXPECT_EQ(frames[i].index, int32_t(i));
            EXPECT_EQ(frames[i].time - start, i * period) << fps << " fps, frame " << i;
        }
        // Every millisecond up to the stop was a pass, and all but the frames' were too early.
        EXPECT_NE(rig.Report().find("TooEarly:         " + std::to_string(1000 - (frames.size() - 1)) + "\n"),
                  std::string::npos)
            << rig.Report();
    }
}

TEST(CapturePacing, SlowFrameSkipsSlots)
{
    Rig rig;
    rig.engine.SetFramesPerSecond(10);
    rig.factory->screen->onGrab = [&](int n) {
        if (n == 2)
            rig.clock->t += 400;
    };
    rig.RecordFor(1000);
    EXPECT_EQ(rig.Indexes(), (std::vector<int32_t>{0, 1, 2, 6, 7, 8, 9, 10}));
    EXPECT_NE(rig.Report().find("Frames skipped:   3\n"), std::string::npos) << rig.Report();
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

TEST(CapturePacing, ImmediateStopWritesFrameZero)
{
    Rig rig;
    ASSERT_EQ(rig.engine.BeginCapture(), 0);
    EXPECT_EQ(rig.engine.CaptureStop(), 1);
    EXPECT_EQ(rig.Indexes(), std::vector<int32_t>{0});
    EXPECT_NE(rig.Report().find("Frames captured:  1\nTooEarly:         0\nPrevFrame written:0\nTotal Time:       0\n"),
              std::string::npos)
        << rig.Report();
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

TEST(CapturePacing, FailedFrameWriteIsTracedAndCounted)
{
    Rig rig;
    rig.factory->video->writeResult = false;
    rig.RecordFor(400);
    EXPECT_EQ(rig.journal.Count("video.End"), 1u);
    size_t n = 0;
    for (size_t at = 0; (at = rig.trace.str().find("couldn't write bits!\n", at)) != std::string::npos; ++at)
        ++n;
    EXPECT_EQ(n, 3u);
    EXPECT_NE(rig.Report().find("Frames captured:  3\n"), std::string::npos);
}

// ---- sound -------------------------------------------------------------------------------

TEST(CaptureSound, DrainToOneAndInterleave)
{
    Rig rig;
    rig.engine.SetRecordSound(true);
    // The device returns three buffers before frame 1 and none afterwards.
    int waits = 0;
    rig.clock->onWait = [&] {
        if (waits++ == 0)
            rig.factory->sound->Fill(3);
    };
    rig.RecordFor(600);  // frames 0 to 3 at 6 fps
    auto& w = rig.factory->audio->writes;
    ASSERT_EQ(w.size(), 3u);
    for (auto& s : w) {
        EXPECT_EQ(s.bytes, 1837u);
        EXPECT_EQ(s.samples, 1837u);  // 11025 / 6
        EXPECT_EQ(s.position, -1);
    }
    std::string t = rig.trace.str();
    // Frame 0 had nothing; frame 1 drained 3 down to 1 (two with counts) and wrote one after.
    const char* expected[] = {"NO WAVE INFO!!!!\n", "WaveHeader samples rec: 1837 Size 1837list 2\n",
                              "WaveHeader samples rec: 1837 Size 1837list 1\n",
                              "WaveHeader samples rec: 1837 Size 1837\n", "NO WAVE INFO!!!!\n"};
    size_t at = 0;
    for (const char* e : expected) {
        at = t.find(e, at);
        ASSERT_NE(at, std::string::npos) << e << "\n" << t;
        ++at;
    }
    EXPECT_EQ(t.find("SOUND BUFFER LOST"), std::string::npos);
    EXPECT_TRUE(rig.journal.Has("sound.Start"));
    EXPECT_TRUE(rig.journal.Has("sound.Stop"));
    EXPECT_TRUE(rig.journal.Has("sound.End"));
    EXPECT_TRUE(rig.journal.Has("audio.End"));
}

TEST(CaptureSound, AllBuffersFilledIsALoss)
{
    Rig rig;
    rig.engine.SetRecordSound(true);
    int waits = 0;
    rig.clock->onWait = [&] {
        if (waits++ == 0)
            rig.factory->sound->Fill(5);
    };
    rig.RecordFor(200);
    std::string t = rig.trace.str();
    auto lost = t.find("!!!!!!!SOUND BUFFER LOST!!!!!!!\n");
    ASSERT_NE(lost, std::string::npos);
    EXPECT_EQ(t.find("SOUND BUFFER LOST", lost + 10), std::string::npos);
    EXPECT_EQ(rig.factory->audio->writes.size(), 5u);
    EXPECT_NE(t.find("list 4\n"), std::string::npos);
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
        for (const char* s : {"screen.Init", "sound.Init", "writer.Open", "video.Init", "writer.Close"})
            EXPECT_FALSE(rig.journal.Has(s)) << s;
    }
}

TEST(CaptureStart, UnopenableFileFailsWithSevenAndReleases)
{
    Rig rig;
    rig.engine.SetRecordSound(true);
    rig.factory->writer->openResult = false;
    EXPECT_EQ(rig.engine.BeginCapture(), 7);
    for (const char* s : {"screen.End", "sound.End", "video.End", "audio.End", "writer.Close"})
        EXPECT_TRUE(rig.journal.Has(s)) << s;
    EXPECT_EQ(rig.engine.CaptureStop(), 0);
}

TEST(CaptureStart, PreparesInOrderAndReleasesInOrder)
{
    Rig rig;
    rig.engine.SetRecordSound(true);
    rig.RecordFor(100);
    std::vector<std::string> expected = {"screen.Check", "writer.Check", "video.Check", "sound.Check", "audio.Check",
                                         "screen.Init", "sound.Init", "writer.SetFileName movie.avi", "writer.Open",
                                         "video.Init", "audio.Init", "sound.Start", "sound.Stop", "screen.End",
                                         "sound.End", "video.End", "audio.End", "writer.Close"};
    EXPECT_EQ(rig.journal.calls, expected);
    EXPECT_EQ(rig.engine.Info().frameBytes, 16 * 16 * ScreenBitsPerPixel() / 8);
}

uintptr_t FailingCreate(void*, unsigned, unsigned(__stdcall*)(void*), void*, unsigned, unsigned*)
{
    return 0;
}

TEST(CaptureStart, FailedThreadStartStaysPrepared)
{
    Rig rig;
    BaseThread::SetCreateFunctionForTesting(&FailingCreate);
    EXPECT_EQ(rig.engine.BeginCapture(), 2);
    BaseThread::SetCreateFunctionForTesting(nullptr);
    EXPECT_EQ(rig.journal.Count("writer.Open"), 1u);
    EXPECT_FALSE(rig.journal.Has("writer.Close"));

    // The next start does not prepare again.
    rig.clock->limit = rig.clock->t + 100;
    EXPECT_EQ(rig.engine.BeginCapture(), 0);
    ASSERT_TRUE(rig.clock->WaitIdle());
    EXPECT_EQ(rig.engine.CaptureStop(), 1);
    EXPECT_EQ(rig.journal.Count("writer.Open"), 1u);
    EXPECT_EQ(rig.journal.Count("screen.Init"), 1u);
    EXPECT_EQ(rig.journal.Count("writer.Close"), 1u);
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
    CaptureEngine engine{std::unique_ptr<CaptureFactory>(factory)};
    engine.SetTraceStream(trace);
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
    {
        CaptureEngine engine{std::unique_ptr<CaptureFactory>(factory), std::unique_ptr<CaptureClock>(clock)};
        engine.SetTraceStream(trace);
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
