#pragma once
// Copies the capture area of the screen into frame buffers and single-frame bitmap files.

#include "engine/CaptureInfo.h"

#include <cstdint>

class ScreenGrabber {
public:
    explicit ScreenGrabber(CaptureInfo& info);
    virtual ~ScreenGrabber();
    ScreenGrabber(const ScreenGrabber&) = delete;
    ScreenGrabber& operator=(const ScreenGrabber&) = delete;

    virtual int32_t CheckConfig();                        // UI thread; 0 or start error 3 to 6
    virtual void InitCapturing();                         // UI thread
    virtual bool GrabFrame(void* bits, uint32_t size);    // capture thread
    virtual void EndCapturing();                          // either thread, never both at once
    virtual bool SaveFrame(const char* path);             // UI thread, never while recording

protected:
    CaptureInfo& info;  // not owned
};
