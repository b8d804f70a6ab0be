#include "media/ScreenGrabber.h"

#include "common/CaptureLimits.h"
#include "common/VorState.h"
#include "media/FrameFile.h"
#include "framework/Dpi.h"
#include "media/Tracking.h"
#include "media/KeyOverlay.h"
#include "media/avi/ByteBuffer.h"

#include <mmsystem.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <memory>
#include <new>

namespace {

constexpr uint16_t kBitmapFileType = 0x4D42;  // "BM"
constexpr uint32_t kBitmapFileHeaderBytes = 14;
constexpr int kPaletteVersion = 0x300;
constexpr int kPaletteEntries = VBitmapInfo::kMaxColours;

// LOGPALETTE with room for every entry.
struct FullLogPalette {
    WORD palVersion;
    WORD palNumEntries;
    PALETTEENTRY palPalEntry[kPaletteEntries];
};

// A short write is asked for the rest once more; a second short one is a full disk. The
// system's reason is left in GetLastError.
bool WriteAll(HANDLE file, const void* data, uint32_t size)
{
    const auto* p = static_cast<const uint8_t*>(data);
    for (int attempt = 0; attempt < 2; ++attempt) {
        DWORD written = 0;
        if (!::WriteFile(file, p, size, &written, nullptr))
            return false;
        if (written == size)
            return true;
        p += written;
        size -= written;
    }
    ::SetLastError(ERROR_HANDLE_DISK_FULL);
    return false;
}

BITMAPINFO* AsBitmapInfo(VBitmapInfo& v)
{
    return reinterpret_cast<BITMAPINFO*>(&v);
}

// Every coordinate is a physical pixel (the process is per-monitor DPI aware), so a mark's size
// follows the DPI of the monitor it is on.
int DpiAt(POINT p)
{
    return MonitorDpi(::MonitorFromPoint(p, MONITOR_DEFAULTTONEAREST), click_overlay::kBaseDpi);
}

}  // namespace

ScreenGrabber::ScreenGrabber(CaptureInfo& info)
    : info(info), bitmapInfo(info.bitmapInfo), origin(info.origin)
{
    ScopedCreatedDC display(::CreateDCA("DISPLAY", nullptr, nullptr, nullptr));
    if (display) {
        screenBitsPerPixel = ::GetDeviceCaps(display.get(), BITSPIXEL);
        screenWidth = ::GetDeviceCaps(display.get(), HORZRES);
        screenHeight = ::GetDeviceCaps(display.get(), VERTRES);
    }
}

ScreenGrabber::~ScreenGrabber() = default;

int32_t ScreenGrabber::CheckConfig()
{
    // A 32-bit screen is what every current desktop runs; GDI converts to 8, 16 or 24 bits.
    const int32_t screen = screenBitsPerPixel;
    if (screen != 8 && screen != 16 && screen != 24 && screen != 32)
        return kErrScreenDepth;
    // Lossless true colour takes 32-bit frames from a 24-bit screen too: the same colours with
    // a fourth, unused byte.
    const int32_t deepest = screen == 24 ? 32 : screen;
    const VBitmapInfoHeader& h = bitmapInfo.bmiHeader;
    if (deepest < h.biBitCount)
        return kErrDepthTooHigh;
    if (h.biWidth > screenWidth)
        return kErrTooWide;
    if (h.biHeight > screenHeight)
        return kErrTooHigh;
    return kStartOk;
}

void ScreenGrabber::InitCapturing()
{
    Prepare(true);
}

// A single frame prepares without clicks: no hook runs for it, so it shows no rings.
void ScreenGrabber::Prepare(bool withClicks)
{
    clickHook.Stop();
    clicksOn = false;
    clickRing.Clear();
    clickClock.Reset();
    clickTimeline.Reset();
    StopKeys();
    VBitmapInfoHeader& h = bitmapInfo.bmiHeader;
    if (h.biWidth <= 0 || h.biHeight <= 0)
        return;
    if (!screenDC)
        screenDC.reset(::CreateDCA("DISPLAY", nullptr, nullptr, nullptr));
    if (!screenDC)
        return;
    if (!memoryDC)
        memoryDC.reset(::CreateCompatibleDC(screenDC.get()));
    if (!frameBitmap || bitmapWidth != h.biWidth || bitmapHeight != h.biHeight) {
        frameBitmap.reset(::CreateCompatibleBitmap(screenDC.get(), h.biWidth, h.biHeight));
        bitmapWidth = h.biWidth;
        bitmapHeight = h.biHeight;
    }
    if (!memoryDC || !frameBitmap) {
        EndCapturing();
        return;
    }

    screenRect = VRect{0, 0, ::GetDeviceCaps(screenDC.get(), HORZRES), ::GetDeviceCaps(screenDC.get(), VERTRES)};
    captureRect = VRect{origin.x, origin.y, origin.x + h.biWidth, origin.y + h.biHeight};
    innerRect = ::InnerRect(captureRect, PanInset(captureRect, info.captureMode, info.panMargin));

    h.biClrUsed = h.biBitCount == 8 ? kPaletteEntries : 0;
    if (h.biBitCount == 8 && !PrepareColourTable()) {
        EndCapturing();
        return;
    }
    dibInfo = bitmapInfo;
    ReleaseCursorCanvas();  // of the last recording's format
    if (withClicks && info.highlightClicks) {
        clicksOn = true;
        // Without the hook the recording goes on, only without rings.
        if (!clickHook.Start())
            std::cout << "SetWindowsHookEx FAILED" << std::endl;
    }
    const ShowKeys showKeys = ShowKeysFrom(info.showKeys);
    if (withClicks && showKeys != ShowKeys::Off) {
        keyPlates.Reset(showKeys, info.ownHotKeys.data(), info.ownHotKeys.size());
        // Without the hook the recording goes on, only without plates.
        keysOn = keyHook.Start();
        if (!keysOn)
            std::cout << "SetWindowsHookEx FAILED" << std::endl;
    }
    prepared = true;
}

void ScreenGrabber::SetPaused(bool paused)
{
    if (paused)
        clickClock.Pause(::timeGetTime());
    else
        clickClock.Resume(::timeGetTime());
}

uint32_t ScreenGrabber::ClickTimeNow() const
{
    return clickClock.Now(::timeGetTime());
}

bool ScreenGrabber::PrepareColourTable()
{
    // The system palette in index order; a screen without one gets the halftone palette, since
    // its system palette holds only the 20 static colours.
    FullLogPalette logical{};
    logical.palVersion = kPaletteVersion;
    logical.palNumEntries = kPaletteEntries;
    const bool hasPalette = (::GetDeviceCaps(screenDC.get(), RASTERCAPS) & RC_PALETTE) != 0;
    const UINT entries =
        hasPalette ? ::GetSystemPaletteEntries(screenDC.get(), 0, kPaletteEntries, logical.palPalEntry) : 0;
    if (entries == kPaletteEntries) {
        for (PALETTEENTRY& e : logical.palPalEntry)
            e.peFlags = 0;
        framePalette.reset(::CreatePalette(reinterpret_cast<LOGPALETTE*>(&logical)));
    } else {
        framePalette.reset(::CreateHalftonePalette(screenDC.get()));
    }
    if (!framePalette)
        return false;
    ::SelectPalette(memoryDC.get(), framePalette.get(), TRUE);
    ::RealizePalette(memoryDC.get());

    // The stream must carry exactly the table the conversion maps pixels into.
    VBitmapInfo probe;
    probe.bmiHeader = bitmapInfo.bmiHeader;
    if (!::GetDIBits(memoryDC.get(), frameBitmap.get(), 0, UINT(bitmapHeight), nullptr, AsBitmapInfo(probe),
                     DIB_RGB_COLORS))
        return false;
    for (int i = 0; i < kPaletteEntries; ++i) {
        bitmapInfo.bmiColors[i] = probe.bmiColors[i];
        bitmapInfo.bmiColors[i].rgbReserved = 0;
    }
    return true;
}

bool ScreenGrabber::GrabFrame(void* bits, uint32_t size)
{
    if (info.frameBytes < 0 || size < uint32_t(info.frameBytes))
        return false;
    return GrabInto(bits, size);
}

bool ScreenGrabber::GrabInto(void* bits, uint64_t size)
{
    const VBitmapInfoHeader& h = dibInfo.bmiHeader;
    // The conversion writes a whole frame of the prepared format, whatever the caller thinks.
    if (!prepared || !bits || size < DibFrameBytes(h.biWidth, h.biHeight, h.biBitCount))
        return false;

    // The frame's moment on the click clock, before the copy: a press after it is the next frame's.
    const uint32_t clickNow = clickClock.Now(::timeGetTime());
    TrackCaptureArea();
    const size_t rings = CollectClicks(clickNow);
    const size_t plates = CollectKeys(clickNow);
    POINT cursorAt{};
    const bool halo = info.cursorHalo && ::GetCursorPos(&cursorAt);
    const bool marks = rings > 0 || halo || plates > 0;
    {
        ScopedSelect select(memoryDC.get(), frameBitmap.get());
        ::BitBlt(memoryDC.get(), 0, 0, bitmapWidth, bitmapHeight, screenDC.get(), captureRect.left, captureRect.top,
                 SRCCOPY);
        if (info.drawCursor && !marks)
            DrawCursor();
    }
    if (::GetDIBits(memoryDC.get(), frameBitmap.get(), 0, UINT(bitmapHeight), bits, AsBitmapInfo(dibInfo),
                    DIB_RGB_COLORS) != bitmapHeight)
        return false;
    if (marks)
        DrawOverlays(static_cast<uint8_t*>(bits), rings, halo ? &cursorAt : nullptr, plates, clickNow);
    return true;
}

size_t ScreenGrabber::CollectClicks(uint32_t now)
{
    if (!clicksOn)
        return 0;
    ClickPress fresh[ClickRing::kCapacity];
    const size_t n = clickRing.Drain(fresh, ClickRing::kCapacity);
    for (size_t i = 0; i < n; ++i)
        clickTimeline.Add(fresh[i], DpiAt(POINT{fresh[i].at.x, fresh[i].at.y}));
    return clickTimeline.Frame(now, shownClicks, ClickTimeline::kMaxLive);
}

size_t ScreenGrabber::CollectKeys(uint32_t now)
{
    if (!keysOn)
        return 0;
    KeyStroke fresh[KeyRing::kCapacity];
    const size_t n = keyRing.Drain(fresh, KeyRing::kCapacity);
    if (n > 0)
        keyLayout.Refresh();
    for (size_t i = 0; i < n; ++i)
        keyPlates.Add(fresh[i], keyLayout);
    std::fill(fresh, fresh + n, KeyStroke{});  // no copy of the keys stays on the stack
    return keyPlates.Frame(now);
}

void ScreenGrabber::DrawPlates(const FrameView& frame, size_t plates, uint32_t now)
{
    plates = std::min(plates, key_plates::kMaxPlates);
    // Sized for the monitor the middle of the area is on.
    const int dpi = DpiAt(POINT{captureRect.left + (captureRect.right - captureRect.left) / 2,
                                captureRect.top + (captureRect.bottom - captureRect.top) / 2});
    TextMask masks[key_plates::kMaxPlates];
    int32_t widths[key_plates::kMaxPlates] = {};
    for (size_t i = 0; i < plates; ++i) {
        masks[i] = plateTexts.For(i, keyPlates.Plate(i), dpi);
        widths[i] = masks[i].width;
    }
    PlateBox boxes[key_plates::kMaxPlates];
    LayoutPlates(frame.width, frame.height, widths, plates, dpi, boxes);
    for (size_t i = 0; i < plates; ++i)
        DrawPlate(frame, boxes[i], masks[i], KeyPlates::Opacity(keyPlates.Plate(i), now), dpi);
}

void ScreenGrabber::StopKeys()
{
    keyHook.Stop();
    keysOn = false;
    keyRing.Clear();
    keyPlates.Reset(ShowKeys::Off, nullptr, 0);
    plateTexts.Clear();
}

void ScreenGrabber::DrawOverlays(uint8_t* bits, size_t rings, const POINT* halo, size_t plates, uint32_t now)
{
    const VBitmapInfoHeader& h = dibInfo.bmiHeader;
    FrameView frame;
    frame.bits = bits;
    frame.width = h.biWidth;
    frame.height = h.biHeight;
    frame.bitsPerPixel = h.biBitCount;
    frame.colours = dibInfo.bmiColors;
    frame.colourCount = VBitmapInfo::UsedColours(h);
    // Halo first, then the rings over it, oldest first so that the newest ring is on top.
    if (halo)
        DrawHalo(frame, int64_t(halo->x) - captureRect.left, int64_t(halo->y) - captureRect.top, DpiAt(*halo));
    for (size_t i = 0; i < rings; ++i) {
        const ClickTimeline::Shown& c = shownClicks[i];
        DrawRing(frame, int64_t(c.press.at.x) - captureRect.left, int64_t(c.press.at.y) - captureRect.top,
                 c.press.button, c.ageMs, c.dpi);
    }
    if (plates > 0)
        DrawPlates(frame, plates, now);
    if (info.drawCursor)
        DrawCursorOnFrame(bits);
}

void ScreenGrabber::TrackCaptureArea()
{
    TrackingInput in;
    in.capture = captureRect;
    in.screen = screenRect;
    in.mode = info.captureMode;
    in.panMargin = info.panMargin;
    in.minWidth = info.minWidth;
    in.minHeight = info.minHeight;

    if (in.mode == kFollowWindows) {
        HWND window = ::GetForegroundWindow();
        if (!window)
            window = ::GetForegroundWindow();
        if (!window)
            window = ::GetFocus();
        RECT r;
        if (window && ::GetWindowThreadProcessId(window, nullptr) != ::GetCurrentThreadId() &&
            ::GetWindowRect(window, &r))
            in.foregroundTopLeft = VPoint{r.left, r.top};
    } else if (PansAfterCursor(in.mode)) {
        POINT p;
        if (!::GetCursorPos(&p)) {
            innerRect = ::InnerRect(captureRect, PanInset(captureRect, in.mode, in.panMargin));
            return;
        }
        in.cursor = VPoint{p.x, p.y};
    }
    const TrackingResult result = TrackArea(in);
    captureRect = result.capture;
    innerRect = result.inner;
}

bool ScreenGrabber::FindCursor(CursorShape& shape)
{
    POINT p;
    if (!::GetCursorPos(&p) || !Contains(captureRect, VPoint{p.x, p.y}))
        return false;

    // The system-wide cursor first; without one, the cursor of the thread under the point.
    HCURSOR cursor = nullptr;
    CURSORINFO global{};
    global.cbSize = sizeof(global);
    if (::GetCursorInfo(&global)) {
        if (!(global.flags & CURSOR_SHOWING))
            return false;
        cursor = global.hCursor;
    }
    if (!cursor) {
        const DWORD self = ::GetCurrentThreadId();
        const HWND under = ::WindowFromPoint(p);
        const DWORD owner = under ? ::GetWindowThreadProcessId(under, nullptr) : 0;
        if (info.attachCursorThread && owner != 0 && owner != self && ::AttachThreadInput(self, owner, TRUE)) {
            cursor = ::GetCursor();
            ::AttachThreadInput(self, owner, FALSE);
        } else {
            cursor = ::GetCursor();
        }
    }
    if (!cursor)
        return false;

    ICONINFO icon;
    if (!::GetIconInfo(cursor, &icon))
        return false;
    // GetIconInfo hands over copies of both bitmaps.
    ScopedGdiObject<HBITMAP> mask(icon.hbmMask);
    ScopedGdiObject<HBITMAP> colour(icon.hbmColor);
    BITMAP bm{};
    if (colour) {
        ::GetObjectA(colour.get(), sizeof bm, &bm);
    } else if (mask && ::GetObjectA(mask.get(), sizeof bm, &bm)) {
        bm.bmHeight /= 2;  // a monochrome cursor stacks its AND and XOR masks
    }
    // DrawIcon draws at the system's icon size.
    shape.size.cx = std::max<LONG>(bm.bmWidth, ::GetSystemMetrics(SM_CXICON));
    shape.size.cy = std::max<LONG>(bm.bmHeight, ::GetSystemMetrics(SM_CYICON));
    shape.at = p;
    shape.cursor = cursor;
    shape.hotSpot = POINT{LONG(icon.xHotspot), LONG(icon.yHotspot)};
    return true;
}

void ScreenGrabber::DrawCursor()
{
    CursorShape c;
    if (!FindCursor(c))
        return;
    ::DrawIcon(memoryDC.get(), c.at.x - c.hotSpot.x - captureRect.left, c.at.y - c.hotSpot.y - captureRect.top,
               c.cursor);
}

// The cursor's box is copied out of the frame into a small canvas of the frame's format, the
// cursor drawn there exactly as DrawCursor draws it, and the box copied back.
void ScreenGrabber::DrawCursorOnFrame(uint8_t* bits)
{
    CursorShape c;
    if (!FindCursor(c))
        return;
    const VBitmapInfoHeader& h = dibInfo.bmiHeader;
    const int32_t left = c.at.x - c.hotSpot.x - captureRect.left;
    const int32_t top = c.at.y - c.hotSpot.y - captureRect.top;
    const int32_t x0 = std::max(left, 0);
    const int32_t y0 = std::max(top, 0);
    const int32_t x1 = std::min<int32_t>(left + c.size.cx, h.biWidth);
    const int32_t y1 = std::min<int32_t>(top + c.size.cy, h.biHeight);
    if (x0 >= x1 || y0 >= y1 || !EnsureCursorCanvas(c.size.cx, c.size.cy))
        return;

    const size_t pixelBytes = h.biBitCount / 8;
    const size_t frameStride = size_t(DibStride(h.biWidth, h.biBitCount));
    const size_t canvasStride = size_t(DibStride(cursorWidth, h.biBitCount));
    const size_t runBytes = size_t(x1 - x0) * pixelBytes;
    // The frame runs bottom-up, the canvas top-down.
    auto frameRow = [&](int32_t y) { return bits + frameStride * size_t(h.biHeight - 1 - y) + size_t(x0) * pixelBytes; };
    auto canvasRow = [&](int32_t y) { return cursorBits + canvasStride * size_t(y - top) + size_t(x0 - left) * pixelBytes; };
    for (int32_t y = y0; y < y1; ++y)
        std::memcpy(canvasRow(y), frameRow(y), runBytes);
    ::DrawIcon(cursorDC.get(), 0, 0, c.cursor);
    ::GdiFlush();
    for (int32_t y = y0; y < y1; ++y)
        std::memcpy(frameRow(y), canvasRow(y), runBytes);
}

bool ScreenGrabber::EnsureCursorCanvas(int32_t width, int32_t height)
{
    if (cursorCanvas && width <= cursorWidth && height <= cursorHeight)
        return true;
    ReleaseCursorCanvas();
    if (!cursorDC)
        cursorDC.reset(::CreateCompatibleDC(screenDC.get()));
    if (!cursorDC)
        return false;
    VBitmapInfo format = dibInfo;  // the frame's colour table for 8 bits
    format.bmiHeader.biWidth = width;
    format.bmiHeader.biHeight = -height;  // top-down
    format.bmiHeader.biSizeImage = 0;
    void* pixels = nullptr;
    cursorCanvas.reset(::CreateDIBSection(cursorDC.get(), AsBitmapInfo(format), DIB_RGB_COLORS, &pixels, nullptr, 0));
    if (!cursorCanvas || !pixels) {
        cursorCanvas.reset();
        return false;
    }
    // Stays selected for the recording; EndCapturing deletes the context before the canvas.
    ::SelectObject(cursorDC.get(), cursorCanvas.get());
    cursorBits = static_cast<uint8_t*>(pixels);
    cursorWidth = width;
    cursorHeight = height;
    return true;
}

void ScreenGrabber::ReleaseCursorCanvas()
{
    cursorDC.reset();  // before the canvas selected into it
    cursorCanvas.reset();
    cursorBits = nullptr;
    cursorWidth = cursorHeight = 0;
}

void ScreenGrabber::EndCapturing()
{
    prepared = false;
    clickHook.Stop();
    clicksOn = false;
    StopKeys();
    ReleaseCursorCanvas();
    memoryDC.reset();      // first: the frame palette may still be selected into it
    framePalette.reset();
    frameBitmap.reset();
    bitmapWidth = bitmapHeight = 0;
    screenDC.reset();
}

bool ScreenGrabber::SaveFrame(const char* path)
{
    saveError = ERROR_INVALID_NAME;
    if (!path || !*path)
        return false;
    // The frame size of the current format, not the last recording's frameBytes.
    const VBitmapInfoHeader& h = bitmapInfo.bmiHeader;
    const uint64_t size = DibFrameBytes(h.biWidth, h.biHeight, h.biBitCount);
    saveError = ERROR_INVALID_PARAMETER;
    if (size == 0 || size > capture_limits::kMaxFrameBytes)
        return false;
    std::unique_ptr<uint8_t[]> pixels(new (std::nothrow) uint8_t[size_t(size)]);
    saveError = ERROR_NOT_ENOUGH_MEMORY;
    if (!pixels)
        return false;

    ScopedFile file(::CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        saveError = ::GetLastError();
        return false;
    }

    // A single frame never moves the area.
    const int32_t mode = info.captureMode.exchange(kFixedArea);
    const bool wasPrepared = prepared;
    if (!wasPrepared)
        Prepare(false);
    const bool grabbed = GrabInto(pixels.get(), size);
    if (!wasPrepared)
        EndCapturing();
    info.captureMode = mode;

    // An unfilled frame or a short write leaves no file behind.
    saveError = 0;  // the screen could not be read
    // The picture's format follows its name: PNG for ".png", a bitmap file otherwise.
    const bool written = grabbed && (IsPngFrameName(path) ? WritePngFile(file.get(), bitmapInfo, pixels.get())
                                                          : WriteBitmapFile(file.get(), pixels.get(), uint32_t(size)));
    if (!written) {
        if (grabbed)
            saveError = ::GetLastError();
        file.reset();
        ::DeleteFileA(path);
        return false;
    }
    return true;
}

bool ScreenGrabber::WriteBitmapFile(HANDLE file, const void* pixels, uint32_t size)
{
    const VBitmapInfoHeader& h = bitmapInfo.bmiHeader;
    const uint32_t table = bitmapInfo.ColourTableBytes();
    const uint32_t pixelOffset = kBitmapFileHeaderBytes + h.biSize + table;

    avi::ByteBuffer head;
    head.U16(kBitmapFileType);                 // bfType
    head.U32(pixelOffset + size);              // bfSize
    head.U16(0);                               // bfReserved1
    head.U16(0);                               // bfReserved2
    head.U32(pixelOffset);                     // bfOffBits
    head.U32(h.biSize);                        // biSize
    head.U32(uint32_t(h.biWidth));             // biWidth
    head.U32(uint32_t(h.biHeight));            // biHeight
    head.U16(h.biPlanes);                      // biPlanes
    head.U16(h.biBitCount);                    // biBitCount
    head.U32(h.biCompression);                 // biCompression
    head.U32(h.biSizeImage);                   // biSizeImage
    head.U32(uint32_t(h.biXPelsPerMeter));     // biXPelsPerMeter
    head.U32(uint32_t(h.biYPelsPerMeter));     // biYPelsPerMeter
    head.U32(h.biClrUsed);                     // biClrUsed
    head.U32(h.biClrImportant);                // biClrImportant
    for (uint32_t i = 0; i < table / 4; ++i) {
        const VRgbQuad& c = bitmapInfo.bmiColors[i];
        head.U8(c.rgbBlue);
        head.U8(c.rgbGreen);
        head.U8(c.rgbRed);
        head.U8(0);                            // rgbReserved
    }
    return head.Size() == pixelOffset && WriteAll(file, head.Data(), uint32_t(head.Size())) &&
           WriteAll(file, pixels, size);
}
