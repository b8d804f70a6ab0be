#pragma once
// The recording's handle on the wave-in device, always reached through the wave mapper.

#include "common/CaptureInfo.h"
#include "diag/Log.h"
#include "framework/Scoped.h"

#include <windows.h>

#include <mmsystem.h>

#include <cstdint>
#include <memory>
#include <vector>

// The wave-in calls the grabber makes; results are the platform's MMRESULT codes.
class WaveInApi {
public:
    virtual ~WaveInApi() = default;
    virtual MMRESULT Open(HWAVEIN* device, const WAVEFORMATEX* format, DWORD_PTR callback, DWORD_PTR instance,
                          DWORD flags) = 0;
    virtual MMRESULT PrepareHeader(HWAVEIN device, WAVEHDR* header, UINT size) = 0;
    virtual MMRESULT AddBuffer(HWAVEIN device, WAVEHDR* header, UINT size) = 0;
    virtual MMRESULT UnprepareHeader(HWAVEIN device, WAVEHDR* header, UINT size) = 0;
    virtual MMRESULT Start(HWAVEIN device) = 0;
    virtual MMRESULT Stop(HWAVEIN device) = 0;
    virtual MMRESULT Reset(HWAVEIN device) = 0;
    virtual MMRESULT Close(HWAVEIN device) = 0;
};

// The real device: the winmm functions.
std::unique_ptr<WaveInApi> MakeWinmmWaveIn();

class SoundGrabber {
public:
    explicit SoundGrabber(CaptureInfo& info);
    SoundGrabber(CaptureInfo& info, std::unique_ptr<WaveInApi> waveIn);
    virtual ~SoundGrabber();
    SoundGrabber(const SoundGrabber&) = delete;
    SoundGrabber& operator=(const SoundGrabber&) = delete;

    // UI thread; 0, start error 8 (format refused) or 9 (no wave-in device at all).
    virtual int32_t CheckConfig();
    // UI thread: opens the device; 0 or a start error (8, 9, or 1 for any other refusal).
    virtual int32_t InitCapturing();
    // Capture thread: prepare and queue; false when the device refused the buffer.
    virtual bool AddBuffer(WAVEHDR* header);
    virtual void UnprepareBuffer(WAVEHDR* header); // capture thread
    virtual bool Start();                          // capture thread; false when the device refused
    virtual void Stop();                           // capture thread: stop, then reset
    // Either thread, never beside the capture thread: takes back and unprepares every buffer
    // still prepared, then closes the device. Afterwards the engine may free the buffers.
    virtual void EndCapturing();

    // Where failure lines go; the program's log by default. Set before a recording.
    void SetLog(LogSink& out) { log = &out; }
    bool IsOpen() const { return static_cast<bool>(device); }

protected:
    // A trace line for the diagnostics window.
    virtual void Trace(const char* text);

    CaptureInfo& info;  // not owned

private:
    void Fail(const char* text);
    void ReleaseBuffers();
    void Forget(WAVEHDR* header);
    void ReportCloseFailure(MMRESULT result);
    const WAVEFORMATEX* Format() const { return reinterpret_cast<const WAVEFORMATEX*>(&format); }

    // Closed through the wave-in calls by EndCapturing; the owner closes what is left open.
    ScopedWaveIn device;
    const VWaveFormatEx& format;         // not owned: info.waveFormat
    std::unique_ptr<WaveInApi> waveIn;
    std::vector<WAVEHDR*> prepared;      // not owned: headers prepared and not yet unprepared
    LogSink* log;                        // not owned
};
