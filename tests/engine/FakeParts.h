#pragma once
// Doubles for the media parts and a scripted clock, so that the engine runs without a screen,
// a sound card or a file, and without real time passing.

#include "engine/CaptureEngine.h"
#include "engine/FramePacing.h"
#include "media/AVIWriter.h"
#include "media/ScreenGrabber.h"
#include "media/SoundGrabber.h"

#include <windows.h>

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Calls the parts received, in order; shared by every double of one engine.
struct Journal {
    std::mutex m;
    std::vector<std::string> calls;
    void Add(const std::string& s)
    {
        std::lock_guard<std::mutex> hold(m);
        calls.push_back(s);
    }
    bool Has(const std::string& s)
    {
        std::lock_guard<std::mutex> hold(m);
        for (auto& c : calls)
            if (c == s)
                return true;
        return false;
    }
    size_t Size()
    {
        std::lock_guard<std::mutex> hold(m);
        return calls.size();
    }
    size_t Count(const std::string& s)
    {
        std::lock_guard<std::mutex> hold(m);
        size_t n = 0;
        for (auto& c : calls)
            n += c == s;
        return n;
    }
};

// Time moves only when the loop waits (by at most `maxStep` per wait) or a double advances it.
// A wait that would pass `limit`, and every pause wait, blocks until woken and signals `idle`.
class ScriptedClock : public CaptureClock {
public:
    explicit ScriptedClock(uint32_t start = 5000) : t(start), idle(::CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}
    ~ScriptedClock() override { ::CloseHandle(idle); }

    std::atomic<uint32_t> t;
    std::atomic<uint32_t> limit{0xFFFFFFFFu};
    uint32_t maxStep = 0xFFFFFFFFu;
    HANDLE idle;
    std::function<void()> onWait;  // runs on the capture thread before each wait

    uint32_t Now() override { return t.load(); }
    void Wait(HANDLE wake, DWORD ms) override
    {
        if (onWait)
            onWait();
        if (::WaitForSingleObject(wake, 0) == WAIT_OBJECT_0)
            return;
        if (ms != kForever) {
            uint32_t step = ms < maxStep ? ms : maxStep;
            if (uint64_t(t.load()) + step <= limit.load()) {
                t += step;
                return;
            }
        }
        ::SetEvent(idle);
        ::WaitForSingleObject(wake, INFINITE);
    }
    bool WaitIdle(DWORD ms = 20000) { return ::WaitForSingleObject(idle, ms) == WAIT_OBJECT_0; }
};

class FakeScreenGrabber : public ScreenGrabber {
public:
    FakeScreenGrabber(CaptureInfo& info, Journal& j) : ScreenGrabber(info), j(j) {}
    int32_t checkResult = 0;
    std::function<void(int frame)> onGrab;  // capture thread
    std::function<bool(int frame)> grabSucceeds;  // whether grab n succeeds; all do without it
    int grabs = 0;

    int32_t CheckConfig() override { j.Add("screen.Check"); return checkResult; }
    void InitCapturing() override { j.Add("screen.Init"); }
    bool GrabFrame(void* bits, uint32_t size) override
    {
        if (bits && size)
            static_cast<uint8_t*>(bits)[0] = uint8_t(grabs);
        if (onGrab)
            onGrab(grabs);
        const bool ok = !grabSucceeds || grabSucceeds(grabs);
        ++grabs;
        return ok;
    }
    void EndCapturing() override { j.Add("screen.End"); }
    bool saveResult = true;
    uint32_t saveError = 0;
    bool SaveFrame(const char* path) override
    {
        j.Add(std::string("screen.Save ") + path);
        return saveResult;
    }
    uint32_t LastSaveError() const override { return saveError; }

private:
    Journal& j;
};

// A wave-in device: queued headers come back through the engine's callback on request. Every
// sample it records carries its running number in its low byte (8-bit) or word (16-bit).
class FakeSoundGrabber : public SoundGrabber {
public:
    FakeSoundGrabber(CaptureInfo& info, Journal& j) : SoundGrabber(info), j(j) {}
    ~FakeSoundGrabber() override { JoinReturner(); }
    int32_t checkResult = 0;
    int32_t initResult = 0;
    bool startResult = true;
    int addsBeforeLoss = -1;  // AddBuffer calls that succeed before the device is gone; -1 for ever
    std::atomic<int> adds{0};
    std::deque<WAVEHDR*> queued;
    std::mutex m;
    uint32_t stopBytes = 0;         // what the buffer being filled holds when the device stops
    std::atomic<size_t> added{0};   // AddBuffer calls
    uint32_t recorded = 0;          // samples recorded so far
    DWORD returnAfterStopMs = 0;    // >0: the stop's buffers come back this late, from a thread of the device's

    int32_t CheckConfig() override { j.Add("sound.Check"); return checkResult; }
    int32_t InitCapturing() override { j.Add("sound.Init"); return initResult; }
    bool AddBuffer(WAVEHDR* h) override
    {
        if (addsBeforeLoss >= 0 && adds++ >= addsBeforeLoss) {
            j.Add("sound.AddRefused");
            return false;
        }
        std::lock_guard<std::mutex> hold(m);
        queued.push_back(h);
        ++added;
        return true;
    }
    void UnprepareBuffer(WAVEHDR*) override {}
    bool Start() override { j.Add("sound.Start"); return startResult; }
    // Like a device reset: every queued buffer comes back, the first with what it holds.
    void Stop() override
    {
        j.Add("sound.Stop");
        auto handBack = [this] {
            bool first = true;
            while (Return(first ? stopBytes : 0))
                first = false;
        };
        if (returnAfterStopMs == 0) {
            handBack();
            return;
        }
        returner = std::thread([this, handBack] {
            ::Sleep(returnAfterStopMs);
            handBack();
        });
    }
    void EndCapturing() override
    {
        JoinReturner();
        j.Add("sound.End");
    }

    // The device fills up to n queued buffers and hands each to the callback.
    void Fill(size_t n)
    {
        for (size_t i = 0; i < n; ++i)
            if (!Return(UINT32_MAX))
                return;
    }
    // The device goes away: the platform closes it under the recording (WIM_CLOSE).
    void Vanish()
    {
        info.waveInCallback(nullptr, 0x3BF, reinterpret_cast<uintptr_t>(info.waveInCallbackData), 0, 0);
    }

private:
    bool Return(uint32_t bytes)
    {
        WAVEHDR* h = nullptr;
        {
            std::lock_guard<std::mutex> hold(m);
            if (queued.empty())
                return false;
            h = queued.front();
            queued.pop_front();
        }
        h->dwBytesRecorded = bytes < h->dwBufferLength ? bytes : h->dwBufferLength;
        const uint32_t sampleBytes = info.waveFormat.nBlockAlign ? info.waveFormat.nBlockAlign : 1;
        for (uint32_t at = 0; at + sampleBytes <= h->dwBytesRecorded; at += sampleBytes, ++recorded) {
            h->lpData[at] = char(recorded & 0xFF);
            if (sampleBytes > 1)
                h->lpData[at + 1] = char(recorded >> 8 & 0xFF);
        }
        info.waveInCallback(nullptr, 0x3C0, reinterpret_cast<uintptr_t>(info.waveInCallbackData),
                            reinterpret_cast<uintptr_t>(h), 0);
        return true;
    }

    void JoinReturner()
    {
        if (returner.joinable())
            returner.join();
    }

    Journal& j;
    std::thread returner;
};

class FakeAVIWriter : public AVIWriter {
public:
    explicit FakeAVIWriter(Journal& j) : j(j) {}
    int32_t checkResult = 0;
    bool openResult = true;
    bool headersResult = true;
    bool closeResult = true;
    RecordingFailure reported;   // what the file says failed
    int64_t keptFrames = 0;
    std::atomic<uint64_t> fileBytes{0};  // what the file would hold; set by a test

    int32_t CheckConfig() override { j.Add("writer.Check"); return checkResult; }
    uint64_t FileBytes() const override { return fileBytes.load(); }
    bool SetFileName(const char* path) override { j.Add(std::string("writer.SetFileName ") + path); return true; }
    bool Open() override { j.Add("writer.Open"); return openResult; }
    bool WriteHeaders() override { j.Add("writer.Headers"); return headersResult; }
    bool Close() override { j.Add("writer.Close"); return closeResult; }
    // A started recording is settled while its thread already runs: only a discard is noted,
    // so that the journal's order stays fixed.
    void SettleStart(bool started) override
    {
        if (!started)
            j.Add("writer.Discard");
    }
    RecordingFailure Failure() const override { return reported; }
    int64_t KeptVideoFrames() const override { return keptFrames; }

private:
    Journal& j;
};

struct WrittenFrame {
    int32_t index;
    uint32_t time;
    uint32_t size;
};

class FakeVideoRecorder : public VideoRecorder {
public:
    FakeVideoRecorder(AVIWriter& w, CaptureInfo& info, Journal& j, ScriptedClock* clock)
        : VideoRecorder(w, info), j(j), clock(clock) {}
    int32_t checkResult = 0;
    bool initResult = true;
    bool writeResult = true;
    int failFromCall = -1;             // WriteFrame calls from this one on fail; -1 for none
    std::vector<WrittenFrame> frames;  // every call; read after the loop has ended

    int32_t CheckConfig() override { j.Add("video.Check"); return checkResult; }
    bool InitCapturing(uint32_t) override { j.Add("video.Init"); return initResult; }
    bool WriteFrame(const void*, uint32_t size, int32_t index) override
    {
        frames.push_back({index, clock ? clock->Now() : 0, size});
        if (failFromCall >= 0 && int(frames.size()) > failFromCall)
            return false;
        return writeResult;
    }
    bool EndCapturing() override { j.Add("video.End"); return true; }

private:
    Journal& j;
    ScriptedClock* clock;  // not owned
};

struct WrittenSound {
    uint32_t bytes;
    uint32_t samples;
    int32_t position;
    int32_t firstSample;  // the device's running number of the first sample written, -1 for none
    size_t journalAt;     // calls in the journal when it was written
};

class FakeAudioRecorder : public AudioRecorder {
public:
    FakeAudioRecorder(AVIWriter& w, CaptureInfo& info, Journal& j) : AudioRecorder(w, info), j(j) {}
    int32_t checkResult = 0;
    bool initResult = true;
    int failFromCall = -1;             // WriteSound calls from this one on fail; -1 for none
    std::vector<WrittenSound> writes;  // every call
    std::function<void()> onWrite;     // called after each call is noted, on the caller's thread

    int32_t CheckConfig() override { j.Add("audio.Check"); return checkResult; }
    bool InitCapturing() override { j.Add("audio.Init"); return initResult; }
    bool WriteSound(const void* data, uint32_t bytes, uint32_t samples, int32_t position) override
    {
        const auto* p = static_cast<const uint8_t*>(data);
        int32_t first = -1;
        if (p && bytes > 0)
            first = info.waveFormat.nBlockAlign > 1 && bytes > 1 ? int32_t(p[0] | p[1] << 8) : int32_t(p[0]);
        writes.push_back({bytes, samples, position, first, j.Size()});
        if (onWrite)
            onWrite();
        return failFromCall < 0 || int(writes.size()) <= failFromCall;
    }
    bool EndCapturing() override { j.Add("audio.End"); return true; }

private:
    Journal& j;
};

// Builds doubles and keeps plain pointers to them for the test to script and inspect.
class FakeFactory : public CaptureFactory {
public:
    FakeFactory(Journal& j, ScriptedClock* clock) : j(j), clock(clock) {}
    FakeScreenGrabber* screen = nullptr;
    FakeSoundGrabber* sound = nullptr;
    FakeAVIWriter* writer = nullptr;
    FakeVideoRecorder* video = nullptr;
    FakeAudioRecorder* audio = nullptr;

    std::unique_ptr<AudioRecorder> CreateAudioRecorder(AVIWriter& w, CaptureInfo& info) override
    {
        auto p = std::make_unique<FakeAudioRecorder>(w, info, j);
        audio = p.get();
        return p;
    }
    std::unique_ptr<AVIWriter> CreateAVIWriter() override
    {
        auto p = std::make_unique<FakeAVIWriter>(j);
        writer = p.get();
        return p;
    }
    std::unique_ptr<ScreenGrabber> CreateScreenGrabber(CaptureInfo& info) override
    {
        auto p = std::make_unique<FakeScreenGrabber>(info, j);
        screen = p.get();
        return p;
    }
    std::unique_ptr<SoundGrabber> CreateSoundGrabber(CaptureInfo& info) override
    {
        auto p = std::make_unique<FakeSoundGrabber>(info, j);
        sound = p.get();
        return p;
    }
    std::unique_ptr<VideoRecorder> CreateVideoRecorder(AVIWriter& w, CaptureInfo& info) override
    {
        auto p = std::make_unique<FakeVideoRecorder>(w, info, j, clock);
        video = p.get();
        return p;
    }

private:
    Journal& j;
    ScriptedClock* clock;  // not owned
};
