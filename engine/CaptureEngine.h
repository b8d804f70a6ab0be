#pragma once
// The single controller of recording: holds the parameters, prepares and releases the media
// parts, runs the recording on its capture thread and receives the filled sound buffers.

#include "engine/CaptureClock.h"
#include "engine/CaptureFactory.h"
#include "engine/SoundTrack.h"
#include "common/CaptureInfo.h"
#include "common/CaptureLimits.h"
#include "common/RecordingFailure.h"
#include "common/RecordingCounters.h"
#include "engine/Threads.h"
#include "common/VorState.h"
#include "diag/Log.h"
#include "framework/Scoped.h"

#include <windows.h>

#include <mmsystem.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CaptureEngine : private SoundTrack::Owner {
public:
    // Raises VorExcept 1 without a factory. The clock defaults to the system clock.
    explicit CaptureEngine(std::unique_ptr<CaptureFactory> partsFactory, std::unique_ptr<CaptureClock> frameClock = nullptr);
    ~CaptureEngine();
    CaptureEngine(const CaptureEngine&) = delete;
    CaptureEngine& operator=(const CaptureEngine&) = delete;

    // Parameters: UI thread, never while a recording runs. False leaves the record unchanged.
    bool SetCaptureRect(const VRect& rect);
    VRect GetCaptureRect() const;
    bool SetBitDepth(int16_t bits);  // 8, 16, 24, or 32 for lossless true colour
    uint16_t GetBitDepth() const;
    bool SetFramesPerSecond(int32_t fps);
    int32_t GetFramesPerSecond() const;
    bool SetCaptureMode(int32_t mode);
    int32_t GetCaptureMode() const;
    bool SetKeyFrameEvery(int32_t frames);
    int32_t GetKeyFrameEvery() const;
    bool SetPanMargin(int32_t margin);
    int32_t GetPanMargin() const;
    bool SetCompressor(uint32_t fourcc);
    uint32_t GetCompressor() const;
    bool SetDrawCursor(bool draw);
    bool SetAttachCursorThread(int attach);
    bool SetHighlightClicks(bool highlight);
    bool SetCursorHalo(bool halo);
    // Key plates (0 off, 1 shortcuts only, 2 every key; anything else is off) and the program's
    // own hot keys as stored (key in the low byte), which are never shown.
    bool SetShowKeys(int32_t mode, const std::array<int32_t, 4>& ownHotKeys);
    bool SetFileName(const char* path);
    const char* GetFileName() const;
    bool SetRecordSound(bool record);
    bool SetWaveFormat(uint16_t channels, uint32_t samplesPerSec, uint16_t bitsPerSample);
    bool GetWaveFormat(WAVEFORMATEX* format) const;

    // Commands: UI thread.
    int32_t BeginCapture();          // 0, or a start error code
    int32_t CaptureStop();           // 1 when a running recording was stopped
    int32_t TogglePause();
    bool IsPaused() const;           // any thread
    bool SaveFrame(const char* path);
    // Why the last SaveFrame failed: a system error code, 0 when the screen could not be read.
    uint32_t LastSaveError() const;

    // A recording that fails ends itself: no further writes, the file finished as a stop would.
    // Once the capture thread has finished, it posts `message` to `window`. UI thread, before
    // BeginCapture.
    void SetFailureNotice(HWND window, UINT message);
    // The first failure of the last recording; kind None while it has none. Any thread.
    RecordingFailure Failure() const { return failure.load(); }
    // The same, handed over once: afterwards None until a recording fails again. UI thread.
    RecordingFailure TakeFailure() { return failure.exchange(RecordingFailure{}); }
    // How much the last recording's movie holds, in milliseconds, once its loop has ended.
    int64_t KeptMilliseconds() const { return keptMilliseconds.load(); }
    // The running recording's counters as of its last frame, or the last recording's once it
    // has ended. Any thread.
    RecordingCounters Counters() const;

    // Where the engine's trace lines and each recording's statistics go; the program's log by
    // default. UI thread, before BeginCapture.
    void SetLog(LogSink& out) { log = &out; }
    const CaptureInfo& Info() const { return *info; }

private:
    class CaptureThread : public BaseThread {
    public:
        explicit CaptureThread(CaptureEngine* engine) : engine(engine) {}

    protected:
        int32_t Run() override;

    private:
        CaptureEngine* engine;  // not owned
    };

    int32_t CheckConfig();
    int32_t InitCapturing();
    bool EndCapturing();                                          // false: the file could not be finished
    int32_t CaptureLoop();                                        // capture thread
    // Keeps the first failure of the recording and wakes the loop. Capture thread or the
    // wave-in callback.
    void Fail(RecordingFailure why) override;
    bool Failed() const override { return bool(failure.load()); }
    RecordingFailure WriterFailure() const override;             // capture thread
    void Trace(const std::string& line) override;                // any thread
    void PublishCounters(uint32_t elapsedMs, int32_t skipped);    // capture thread
    bool FrameSizeAcceptable(int32_t width, int32_t height, int32_t bits) const;

    std::atomic<int32_t> state{0};
    // Written by the capture loop once a frame, read by any thread. Relaxed stores: the loop
    // neither waits nor locks for its readers, and a reader may see one frame's values mixed
    // with the next one's.
    std::atomic<uint32_t> publishedElapsedMs{0};
    std::atomic<uint64_t> publishedMovieBytes{0};
    std::atomic<uint32_t> publishedSkipped{0};
    std::unique_ptr<CaptureFactory> factory;
    std::unique_ptr<CaptureInfo> info;
    std::unique_ptr<ScreenGrabber> screenGrabber;
    std::unique_ptr<SoundGrabber> soundGrabber;
    std::unique_ptr<AVIWriter> aviWriter;
    std::unique_ptr<VideoRecorder> videoRecorder;
    std::unique_ptr<AudioRecorder> audioRecorder;
    std::unique_ptr<CaptureThread> captureThread;
    VBits frameBuffer;

    std::unique_ptr<CaptureClock> clock;
    std::unique_ptr<SoundTrack> soundTrack;
    ScopedKernelHandle wake;                    // signalled by pause toggles and stop requests
    bool soundPrepared = false;                 // sound parts were prepared for this recording
    std::atomic<RecordingFailure> failure{};    // written once per recording; see Fail
    std::atomic<int64_t> keptMilliseconds{0};   // written by the capture thread as its loop ends
    HWND noticeWindow = nullptr;                // not owned
    UINT noticeMessage = 0;
    LogSink* log;                               // not owned
};

// Bits per pixel of the display; a 32-bit screen delivers 24-bit frames.
int ScreenBitsPerPixel();
