// The sound grabber over a scripted wave-in device, then over the real one (a known tone when
// the test environment provides it).

#include "media/SoundGrabber.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <mmsystem.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

// Wave-in calls and trace lines, in the order they happened.
struct Journal {
    Lines events;
    std::map<std::string, std::deque<MMRESULT>> results;  // scripted per call; 0 once used up
    DWORD openFlags = 0;
    DWORD_PTR openCallback = 0;
    DWORD_PTR openInstance = 0;
    const WAVEFORMATEX* openFormat = nullptr;
};

const auto kDevice = reinterpret_cast<HWAVEIN>(uintptr_t(0x5150));

class ScriptedWaveIn : public WaveInApi {
public:
    explicit ScriptedWaveIn(Journal& j) : j(j) {}

    MMRESULT Open(HWAVEIN* device, const WAVEFORMATEX* format, DWORD_PTR callback, DWORD_PTR instance,
                  DWORD flags) override
    {
        j.openFlags = flags;
        j.openCallback = callback;
        j.openInstance = instance;
        j.openFormat = format;
        const MMRESULT r = Next(flags & WAVE_FORMAT_QUERY ? "query" : "open");
        if (device)
            *device = r == MMSYSERR_NOERROR ? kDevice : nullptr;
        return r;
    }
    MMRESULT PrepareHeader(HWAVEIN, WAVEHDR* h, UINT size) override
    {
        EXPECT_EQ(size, sizeof(WAVEHDR));
        const MMRESULT r = Next("prepare");
        if (r == MMSYSERR_NOERROR)
            h->dwFlags |= WHDR_PREPARED;
        return r;
    }
    MMRESULT AddBuffer(HWAVEIN, WAVEHDR* h, UINT) override
    {
        const MMRESULT r = Next("add");
        if (r == MMSYSERR_NOERROR) {
            h->dwFlags = (h->dwFlags | WHDR_INQUEUE) & ~DWORD(WHDR_DONE);
            queued.push_back(h);
        }
        return r;
    }
    MMRESULT UnprepareHeader(HWAVEIN, WAVEHDR* h, UINT) override
    {
        const MMRESULT r = Next("unprepare");
        if (r == MMSYSERR_NOERROR)
            h->dwFlags &= ~DWORD(WHDR_PREPARED);
        return r;
    }
    MMRESULT Start(HWAVEIN) override { return Next("start"); }
    MMRESULT Stop(HWAVEIN) override { return Next("stop"); }
    MMRESULT Reset(HWAVEIN) override
    {
        const MMRESULT r = Next("reset");
        if (r == MMSYSERR_NOERROR) {
            for (WAVEHDR* h : queued)
                h->dwFlags = (h->dwFlags & ~DWORD(WHDR_INQUEUE)) | WHDR_DONE;
            queued.clear();
        }
        return r;
    }
    MMRESULT Close(HWAVEIN) override { return Next("close"); }

private:
    MMRESULT Next(const std::string& call)
    {
        j.events.push_back(call);
        auto& script = j.results[call];
        if (script.empty())
            return MMSYSERR_NOERROR;
        const MMRESULT r = script.front();
        script.pop_front();
        return r;
    }

    Journal& j;
    std::vector<WAVEHDR*> queued;
};

class TracedGrabber : public SoundGrabber {
public:
    TracedGrabber(CaptureInfo& info, Journal& j) : SoundGrabber(info, std::make_unique<ScriptedWaveIn>(j)), j(j)
    {
        SetLog(failureLog);
    }
    // The scripted device is closed by the scripted calls: the real close must never be handed it.
    ~TracedGrabber() override { EndCapturing(); }
    Lines FailureLines() const
    {
        Lines lines;
        std::istringstream in(failures.str());
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

protected:
    void Trace(const char* text) override { j.events.push_back(std::string("trace ") + text); }

private:
    Journal& j;
    std::ostringstream failures;
    StreamLog failureLog{failures};
};

void __stdcall IgnoreBuffer(void*, unsigned, uintptr_t, uintptr_t, uintptr_t) {}

class SoundGrabberTest : public ::testing::Test {
protected:
    CaptureInfo info;
    Journal j;
    TracedGrabber grabber{info, j};
    WAVEHDR headers[5] = {};
};

TEST_F(SoundGrabberTest, CheckConfigQueriesTheMapper)
{
    struct Case {
        MMRESULT query;
        int32_t expected;
    } cases[] = {
        {MMSYSERR_NOERROR, 0},
        {WAVERR_BADFORMAT, 8},
        {MMSYSERR_ALLOCATED, 8},
        {MMSYSERR_BADDEVICEID, 9},  // no device at all
        {MMSYSERR_NODRIVER, 9},
    };
    for (const Case& c : cases) {
        j.events.clear();
        j.results["query"] = {c.query};
        EXPECT_EQ(grabber.CheckConfig(), c.expected);
        EXPECT_EQ(j.events, (Lines{"query", "trace CheckConfig: waveInOpen"}));
        EXPECT_EQ(j.openFlags, DWORD(WAVE_FORMAT_QUERY));
        EXPECT_FALSE(grabber.IsOpen());
    }
}

TEST_F(SoundGrabberTest, InitCapturingOpensWithTheEngineCallback)
{
    int callbackData = 0;
    info.waveInCallbackData = &callbackData;
    info.waveInCallback = &IgnoreBuffer;
    EXPECT_EQ(grabber.InitCapturing(), 0);
    EXPECT_TRUE(grabber.IsOpen());
    EXPECT_EQ(j.openFlags, DWORD(CALLBACK_FUNCTION));
    EXPECT_EQ(j.openCallback, reinterpret_cast<DWORD_PTR>(info.waveInCallback));
    EXPECT_EQ(j.openInstance, reinterpret_cast<DWORD_PTR>(&callbackData));
    EXPECT_EQ(static_cast<const void*>(j.openFormat), static_cast<const void*>(&info.waveFormat));
    EXPECT_EQ(j.events, (Lines{"open", "trace InitCapturing: waveInOpen"}));
    EXPECT_TRUE(grabber.FailureLines().empty());
}

TEST_F(SoundGrabberTest, EachFailedCallWritesItsLine)
{
    struct Case {
        const char* name;
        const char* failing;  // call scripted to fail
        Lines events;         // of the step after opening
        Lines failures;
    } cases[] = {
        {"prepare", "prepare", {"prepare"}, {"WaveInPrepareHeader FAILED"}},
        {"add", "add", {"prepare", "add"}, {"WaveInAddBuffer FAILED"}},
        {"unprepare", "unprepare", {"unprepare"}, {"WaveInUnprepareHeader FAILED"}},
        {"start", "start", {"start", "trace Start: waveInStart"}, {"WaveInStart FAILED"}},
        {"stop skips the reset", "stop", {"stop", "trace Stop: waveInStop"}, {"WaveInStop FAILED"}},
        {"reset", "reset", {"stop", "trace Stop: waveInStop", "reset", "trace Stop: waveInReset"},
         {"WaveInReset FAILED"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CaptureInfo caseInfo;
        Journal cj;
        TracedGrabber g(caseInfo, cj);
        WAVEHDR h{};
        g.InitCapturing();
        cj.events.clear();
        cj.results[c.failing] = {MMSYSERR_ERROR};
        const std::string step = c.name;
        // A buffer or a start the device refuses is reported to the caller as well.
        if (step == "prepare" || step == "add")
            EXPECT_FALSE(g.AddBuffer(&h));
        else if (step == "unprepare")
            g.UnprepareBuffer(&h);
        else if (step == "start")
            EXPECT_FALSE(g.Start());
        else
            g.Stop();
        EXPECT_EQ(cj.events, c.events);
        EXPECT_EQ(g.FailureLines(), c.failures);
    }
}

TEST_F(SoundGrabberTest, FailedOpenLeavesTheDeviceClosed)
{
    // The start error the engine returns: no device, a refused format, or anything else.
    struct Case {
        MMRESULT open;
        int32_t expected;
    } cases[] = {{MMSYSERR_ALLOCATED, 1}, {MMSYSERR_NODRIVER, 9}, {MMSYSERR_BADDEVICEID, 9}, {WAVERR_BADFORMAT, 8}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.open);
        CaptureInfo caseInfo;
        Journal cj;
        TracedGrabber g(caseInfo, cj);
        cj.results["open"] = {c.open};
        EXPECT_EQ(g.InitCapturing(), c.expected);
        EXPECT_FALSE(g.IsOpen());
        EXPECT_EQ(g.FailureLines(), (Lines{"WaveInOpen FAILED"}));
        cj.events.clear();
        g.EndCapturing();
        EXPECT_TRUE(cj.events.empty());
    }
}

TEST_F(SoundGrabberTest, AcceptedBuffersAndStartSayTrue)
{
    ASSERT_EQ(grabber.InitCapturing(), 0);
    for (WAVEHDR& h : headers)
        EXPECT_TRUE(grabber.AddBuffer(&h));
    EXPECT_TRUE(grabber.Start());
    grabber.Stop();
    grabber.EndCapturing();
}

TEST_F(SoundGrabberTest, EndCapturingWithoutADeviceCallsNothing)
{
    grabber.EndCapturing();
    EXPECT_TRUE(j.events.empty());
}

TEST_F(SoundGrabberTest, RefusedCloseIsRetried)
{
    struct Case {
        MMRESULT code;
        Lines failures;
    } cases[] = {
        {MMSYSERR_INVALHANDLE, {"WaveInClose FAILED", "Specified device handle is invalid.", "trying to waveclose again"}},
        {MMSYSERR_NODRIVER, {"WaveInClose FAILED", "No device driver is present.", "trying to waveclose again"}},
        {MMSYSERR_NOMEM, {"WaveInClose FAILED", "Unable to allocate or lock memory.", "trying to waveclose again"}},
        {WAVERR_STILLPLAYING, {"WaveInClose FAILED", "There are still buffers in the queue.", "trying to waveclose again"}},
        {MMSYSERR_ERROR, {"WaveInClose FAILED", "trying to waveclose again"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        CaptureInfo caseInfo;
        Journal cj;
        TracedGrabber g(caseInfo, cj);
        g.InitCapturing();
        cj.events.clear();
        cj.results["close"] = {c.code};
        g.EndCapturing();
        EXPECT_EQ(cj.events,
                  (Lines{"close", "trace EndCapturing: waveInClose", "close", "trace EndCapturing: waveInClose"}));
        EXPECT_EQ(g.FailureLines(), c.failures);
        EXPECT_FALSE(g.IsOpen());
    }
}

TEST_F(SoundGrabberTest, CloseThatNeverSucceedsIsGivenUp)
{
    grabber.InitCapturing();
    j.events.clear();
    j.results["close"] = std::deque<MMRESULT>(1000, WAVERR_STILLPLAYING);
    grabber.EndCapturing();
    EXPECT_EQ(std::count(j.events.begin(), j.events.end(), "close"), 50);
    const Lines lines = grabber.FailureLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "WaveInClose gave up: device forgotten");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "trying to waveclose again"), 49);
    EXPECT_FALSE(grabber.IsOpen());
    j.events.clear();
    grabber.EndCapturing();
    EXPECT_TRUE(j.events.empty());
}

TEST_F(SoundGrabberTest, BuffersAreUnpreparedBeforeTheClose)
{
    grabber.InitCapturing();
    for (WAVEHDR& h : headers)
        grabber.AddBuffer(&h);
    grabber.Start();
    grabber.UnprepareBuffer(&headers[0]);  // one came back and was written; it is not added again
    grabber.Stop();
    j.events.clear();
    grabber.EndCapturing();
    EXPECT_EQ(j.events, (Lines{"unprepare", "unprepare", "unprepare", "unprepare", "close",
                               "trace EndCapturing: waveInClose"}));
    for (const WAVEHDR& h : headers)
        EXPECT_FALSE(h.dwFlags & WHDR_PREPARED);
}

TEST_F(SoundGrabberTest, BuffersStillQueuedAfterAFailedStopAreTakenBack)
{
    grabber.InitCapturing();
    for (WAVEHDR& h : headers)
        grabber.AddBuffer(&h);
    grabber.Start();
    j.results["stop"] = {MMSYSERR_ERROR};
    grabber.Stop();
    j.events.clear();
    grabber.EndCapturing();
    EXPECT_EQ(j.events, (Lines{"reset", "trace EndCapturing: waveInReset", "unprepare", "unprepare", "unprepare",
                               "unprepare", "unprepare", "close", "trace EndCapturing: waveInClose"}));
    for (const WAVEHDR& h : headers) {
        EXPECT_FALSE(h.dwFlags & WHDR_INQUEUE);
        EXPECT_FALSE(h.dwFlags & WHDR_PREPARED);
    }
}

// ---- the real wave-in device -----------------------------------------------------------------

struct Recorded {
    std::mutex m;
    std::vector<WAVEHDR*> done;
};

void __stdcall CollectBuffer(void*, unsigned message, uintptr_t instance, uintptr_t param1, uintptr_t)
{
    if (message != WIM_DATA)
        return;
    auto* r = reinterpret_cast<Recorded*>(instance);
    std::lock_guard<std::mutex> hold(r->m);
    r->done.push_back(reinterpret_cast<WAVEHDR*>(param1));
}

// Power of one frequency in the first channel (Goertzel), and the peak distance from silence.
struct ToneFacts {
    double tone;
    double below;  // at 0.6 of the tone
    double above;  // at 1.5 times the tone
    int peak;
};

double PowerAt(const std::vector<int>& s, double hz, double rate)
{
    const double w = 2.0 * std::acos(-1.0) * hz / rate;
    double prev = 0, prev2 = 0;
    for (int x : s) {
        const double v = x + 2.0 * std::cos(w) * prev - prev2;
        prev2 = prev;
        prev = v;
    }
    return prev * prev + prev2 * prev2 - 2.0 * std::cos(w) * prev * prev2;
}

ToneFacts Analyse(const std::vector<uint8_t>& bytes, const WAVEFORMATEX& f, double hz)
{
    const size_t frame = f.nBlockAlign;
    std::vector<int> s;
    for (size_t i = 0; i + frame <= bytes.size(); i += frame)
        s.push_back(f.wBitsPerSample == 8 ? int(bytes[i]) - 128 : int(int16_t(bytes[i] | bytes[i + 1] << 8)));
    int peak = 0;
    for (int x : s)
        peak = std::max(peak, std::abs(x));
    const double rate = f.nSamplesPerSec;
    return ToneFacts{PowerAt(s, hz, rate), PowerAt(s, hz * 0.6, rate), PowerAt(s, hz * 1.5, rate), peak};
}

TEST(SoundDeviceTest, RecordsTheFormatsOfTheEngine)
{
    struct Case {
        uint16_t channels;
        uint32_t rate;
        uint16_t bits;
    } cases[] = {{1, 22050, 8}, {2, 44100, 16}, {1, 11025, 16}};
    const char* tone = std::getenv("VORLUX_TONE_HZ");
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rate << " Hz " << c.bits << " bit " << c.channels << " ch");
        CaptureInfo info;
        VWaveFormatEx& f = info.waveFormat;
        f.wFormatTag = WAVE_FORMAT_PCM;
        f.nChannels = c.channels;
        f.nSamplesPerSec = c.rate;
        f.wBitsPerSample = c.bits;
        f.nBlockAlign = uint16_t(c.channels * c.bits / 8);
        f.nAvgBytesPerSec = c.rate * f.nBlockAlign;
        Recorded recorded;
        info.waveInCallback = &CollectBuffer;
        info.waveInCallbackData = &recorded;

        SoundGrabber grabber(info);
        std::ostringstream failures;
        StreamLog failureLog(failures);
        grabber.SetLog(failureLog);
        if (grabber.CheckConfig() != 0)
            GTEST_SKIP() << "no wave-in device takes this format here";
        grabber.InitCapturing();
        ASSERT_TRUE(grabber.IsOpen()) << failures.str();

        // Five buffers of a tenth of a second, as the engine uses at 10 frames per second.
        const uint32_t bytes = f.nAvgBytesPerSec / 10;
        std::vector<std::vector<char>> data(5, std::vector<char>(bytes));
        std::vector<WAVEHDR> headers(5);
        for (size_t i = 0; i < headers.size(); ++i) {
            headers[i].lpData = data[i].data();
            headers[i].dwBufferLength = bytes;
            grabber.AddBuffer(&headers[i]);
        }
        grabber.Start();
        std::vector<uint8_t> sound;
        const DWORD until = ::GetTickCount() + 15000;
        while (sound.size() < 10 * bytes && ::GetTickCount() < until) {
            std::vector<WAVEHDR*> back;
            {
                std::lock_guard<std::mutex> hold(recorded.m);
                back.swap(recorded.done);
            }
            for (WAVEHDR* h : back) {
                grabber.UnprepareBuffer(h);
                sound.insert(sound.end(), h->lpData, h->lpData + h->dwBytesRecorded);
                grabber.AddBuffer(h);
            }
            ::Sleep(5);
        }
        grabber.Stop();
        grabber.EndCapturing();
        EXPECT_FALSE(grabber.IsOpen());
        EXPECT_EQ(failures.str(), "");
        ASSERT_GE(sound.size(), 10u * bytes) << "the device returned too little in 15 s";
        for (const WAVEHDR& h : headers)
            EXPECT_FALSE(h.dwFlags & WHDR_PREPARED);  // safe to free

        if (!tone) {
            std::printf("no test tone: recorded %zu bytes\n", sound.size());
            continue;
        }
        const ToneFacts facts = Analyse(sound, reinterpret_cast<const WAVEFORMATEX&>(f), std::atof(tone));
        EXPECT_GT(facts.tone, 20 * facts.below);
        EXPECT_GT(facts.tone, 20 * facts.above);
        EXPECT_GT(facts.peak, c.bits == 8 ? 4 : 1000);
    }
    if (!tone)
        GTEST_SKIP() << "VORLUX_TONE_HZ unset: the device records silence, the tone was not checked";
}

}  // namespace
