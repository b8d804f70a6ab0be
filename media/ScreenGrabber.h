#pragma once
// Copies the capture area of the screen into frame buffers and single-frame bitmap files.

#include "common/CaptureInfo.h"
#include "framework/Scoped.h"
#include "common/VRecords.h"
#include "media/ClickHook.h"
#include "media/Clicks.h"
#include "media/KeyHook.h"
#include "media/KeyText.h"
#include "media/Keys.h"

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
    // Why the last SaveFrame failed: the system's error code, 0 when the screen could not be
    // read. UI thread.
    virtual uint32_t LastSaveError() const { return saveError; }
    // The recording was paused or resumed: the click animation stops and goes on with it, and
    // presses made meanwhile are dropped.
    void SetPaused(bool paused);                          // UI thread

    // Any thread, while no grab runs.
    bool Prepared() const { return prepared.load(); }
    VRect CaptureRect() const { return captureRect; }
    VRect InnerRect() const { return innerRect; }
    int32_t ScreenBitsPerPixel() const { return screenBitsPerPixel; }
    bool ClickHookRunning() const { return clickHook.Running(); }
    bool ClicksPaused() const { return clickClock.Paused(); }
    // Presses waiting for the next frame, and the animation clock's time now; tests hand the
    // grabber presses here as the hook would.
    ClickRing& PendingClicks() { return clickRing; }
    uint32_t ClickTimeNow() const;
    // The same for key events, which run on the click clock.
    bool KeyHookRunning() const { return keyHook.Running(); }
    KeyRing& PendingKeys() { return keyRing; }

protected:
    CaptureInfo& info;                 // not owned
    VBitmapInfo& bitmapInfo;           // not owned: info.bitmapInfo, the frame format
    const VPoint& origin;              // not owned: info.origin, where every recording starts
    // Read when the grabber is built.
    int32_t screenBitsPerPixel = 0;
    int32_t screenWidth = 0;
    int32_t screenHeight = 0;

private:
    // The cursor to draw: where it is, its image, and the box the image covers.
    struct CursorShape {
        POINT at{};
        HCURSOR cursor = nullptr;  // not owned
        POINT hotSpot{};
        SIZE size{};
    };

    // A single frame prepares without clicks or keys: no hook runs for it.
    void Prepare(bool withClicks);     // UI thread
    bool GrabInto(void* bits, uint64_t size);  // capture thread, or UI thread when saving
    void TrackCaptureArea();           // capture thread
    bool FindCursor(CursorShape& shape);  // capture thread
    void DrawCursor();                 // capture thread: into memoryDC
    // Marks drawn into the converted frame: the halo, the click rings, the key plates and then
    // the cursor on top, so the cursor is not hidden under its own marks.
    size_t CollectClicks(uint32_t now);          // capture thread
    size_t CollectKeys(uint32_t now);            // capture thread
    void DrawOverlays(uint8_t* bits, size_t rings, const POINT* halo, size_t plates, uint32_t now);  // capture thread
    void DrawPlates(const FrameView& frame, size_t plates, uint32_t now);  // capture thread
    void StopKeys();
    void DrawCursorOnFrame(uint8_t* bits);       // capture thread
    bool EnsureCursorCanvas(int32_t width, int32_t height);
    void ReleaseCursorCanvas();
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
    uint32_t saveError = 0;            // UI thread

    // Clicks: the hook fills the ring, each frame takes what is new from it into the timeline.
    ClickRing clickRing;
    ClickClock clickClock;
    ClickTimeline clickTimeline;       // capture thread
    ClickTimeline::Shown shownClicks[ClickTimeline::kMaxLive];  // capture thread
    bool clicksOn = false;             // this recording highlights clicks
    ClickHook clickHook{clickRing, clickClock};  // after what it writes into
    // Keys: the hook fills the ring, each frame turns what is new into plates.
    KeyRing keyRing;
    KeyPlates keyPlates;               // capture thread
    SystemKeyLayout keyLayout;         // capture thread
    PlateTexts plateTexts;             // capture thread
    bool keysOn = false;               // this recording shows keys
    KeyHook keyHook{keyRing, clickClock};  // after what it writes into
    // A small DIB of the frame's format where the cursor is drawn over marks already in the
    // frame; made at the first such frame of a recording.
    ScopedCreatedDC cursorDC;
    ScopedGdiObject<HBITMAP> cursorCanvas;
    uint8_t* cursorBits = nullptr;     // not owned: the canvas's pixels
    int32_t cursorWidth = 0;
    int32_t cursorHeight = 0;
};
