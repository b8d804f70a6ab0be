#pragma once
// Copies the capture area of the screen into frame buffers and single-frame bitmap files.

#include "common/CaptureInfo.h"
#include "framework/Scoped.h"
#include "common/VRecords.h"

#include <windows.h>

#include <atomic>
#include <cstdint>

class ScreenGrabber {
public:
    explicit ScreenGrabber(CaptureInfo& info);  // reads the screen's depth and size
    virtual ~ScreenGrabber();
    ScreenGrabber(const ScreenGrabber&) = delete;
    ScreenGrabber& operator=(const ScreenGrabber&) = delete;

    virtual int32_t CheckConfig();                        // UI thread; 0 or start error 3 to 6
    virtual void InitCapturing();                         // UI thread
    virtual bool GrabFrame(void* bits, uint32_t size);    // capture thread
    virtual void EndCapturing();                          // either thread, never both at once
    virtual bool SaveFrame(const char* path);             // UI thread, never while recording

    // Any thread, while no grab runs.
    bool Prepared() const { return prepared.load(); }
    VRect CaptureRect() const { return captureRect; }
    VRect InnerRect() const { return innerRect; }
    int32_t ScreenBitsPerPixel() const { return screenBitsPerPixel; }

protected:
    CaptureInfo& info;                 // not owned
    VBitmapInfo& bitmapInfo;           // not owned: info.bitmapInfo, the frame format
    const VPoint& origin;              // not owned: info.origin, where every recording starts
    // Read when the grabber is built.
    int32_t screenBitsPerPixel = 0;
    int32_t screenWidth = 0;
    int32_t screenHeight = 0;

private:
    bool GrabInto(void* bits, uint64_t size);  // capture thread, or UI thread when saving
    void TrackCaptureArea();           // capture thread
    void DrawCursor();                 // capture thread
    bool PrepareColourTable();         // UI thread
    bool WriteBitmapFile(HANDLE file, const void* pixels, uint32_t size);

    ScopedCreatedDC screenDC;
    ScopedGdiObject<HPALETTE> framePalette;  // 8-bit frames: selected into memoryDC, outlives it
    ScopedCreatedDC memoryDC;
    ScopedGdiObject<HBITMAP> frameBitmap;
    int32_t bitmapWidth = 0;           // size frameBitmap was made with
    int32_t bitmapHeight = 0;
    VBitmapInfo dibInfo;               // written by the DIB conversion; info.bitmapInfo stays as set
    VRect captureRect;
    VRect innerRect;
    VRect screenRect;
    std::atomic<bool> prepared{false};
};
