#pragma once
// The single controller of recording: holds the parameters, prepares and releases the media
// parts, runs the recording on its capture thread and receives the filled sound buffers.

#include "engine/CaptureClock.h"
#include "engine/CaptureFactory.h"
#include "common/CaptureInfo.h"
#include "common/CaptureLimits.h"
#include "engine/Threads.h"
#include "common/VorState.h"
#include "framework/Scoped.h"

#include <windows.h>

#include <mmsystem.h>

#include <atomic>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CaptureEngine {
public:
    // Raises VorExcept 1 without a factory. The clock defaults to the system clock.
    explicit CaptureEngine(std::unique_ptr<CaptureFactory> partsFactory, std::unique_ptr<CaptureClock> frameClock = nullptr);
    ~CaptureEngine();
    CaptureEngine(const CaptureEngine&) = delete;
    CaptureEngine& operator=(const CaptureEngine&) = delete;

    // Parameters: UI thread, never while a recording runs. False leaves the record unchanged.
    bool SetCaptureRect(const VRect& rect);
    VRect GetCaptureRect() const;
    bool SetBitDepth(int16_t bits);
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

    // Where the engine's trace lines and statistics go; standard output by default.
    void SetTraceStream(std::ostream& out);
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

    struct SoundBuffer {
        WAVEHDR header{};
        VBits data;
    };

    // Filled buffers, oldest first. Fixed capacity, so the wave-in callback never allocates.
    class HeaderQueue {
    public:
        bool Push(WAVEHDR* h);
        WAVEHDR* Pop();
        size_t Size() const { return count; }
        void Clear() { head = count = 0; }

    private:
        WAVEHDR* items[capture_limits::kSoundBuffers] = {};
        size_t head = 0;
        size_t count = 0;
    };

    static void __stdcall WaveInCallback(void* device, unsigned message, uintptr_t instance, uintptr_t param1,
                                         uintptr_t param2);

    int32_t CheckConfig();
    int32_t InitCapturing();
    void EndCapturing();
    int32_t CaptureLoop();                                        // capture thread
    void WriteSoundBuffer(WAVEHDR* header, uint32_t samples, bool withCount);  // capture thread, locked
    void Trace(const std::string& line);                          // any thread
    bool FrameSizeAcceptable(int32_t width, int32_t height, int32_t bits) const;

    std::atomic<int32_t> state{0};
    std::unique_ptr<CaptureFactory> factory;
    std::unique_ptr<CaptureInfo> info;
    std::unique_ptr<ScreenGrabber> screenGrabber;
    std::unique_ptr<SoundGrabber> soundGrabber;
    std::unique_ptr<AVIWriter> aviWriter;
    std::unique_ptr<VideoRecorder> videoRecorder;
    std::unique_ptr<AudioRecorder> audioRecorder;
    std::unique_ptr<CaptureThread> captureThread;
    VCriticalSection lock;
    HANDLE threadHandle = nullptr;              // not owned: the capture thread owns its handle
    VBits frameBuffer;
    std::vector<std::unique_ptr<SoundBuffer>> allBuffers;
    HeaderQueue filledBuffers;

    std::unique_ptr<CaptureClock> clock;
    ScopedKernelHandle wake;                    // signalled by pause toggles and stop requests
    bool soundPrepared = false;                 // sound parts were prepared for this recording
    std::mutex traceMutex;
    std::ostream* trace;                        // not owned
};

// Bits per pixel of the display; a 32-bit screen delivers 24-bit frames.
int ScreenBitsPerPixel();
