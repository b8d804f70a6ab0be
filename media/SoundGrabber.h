#pragma once
// The recording's handle on the wave-in device, always reached through the wave mapper.

#include "engine/CaptureInfo.h"

#include <windows.h>

#include <mmsystem.h>

#include <cstdint>

class SoundGrabber {
public:
    explicit SoundGrabber(CaptureInfo& info);
    virtual ~SoundGrabber();
    SoundGrabber(const SoundGrabber&) = delete;
    SoundGrabber& operator=(const SoundGrabber&) = delete;

    virtual int32_t CheckConfig();                 // UI thread; 0 or start error 8
    virtual void InitCapturing();                  // UI thread: opens the device
    virtual void AddBuffer(WAVEHDR* header);       // capture thread: prepare and queue
    virtual void UnprepareBuffer(WAVEHDR* header); // capture thread
    virtual void Start();                          // capture thread
    virtual void Stop();                           // capture thread: stop, then reset
    virtual void EndCapturing();                   // either thread: closes the device

protected:
    CaptureInfo& info;  // not owned
};
