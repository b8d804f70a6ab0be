#include "panel/PropSheet.h"

#include "ids/Messages.h"
#include "ids/resource.h"
#include "diag/DebugTrace.h"
#include "engine/CaptureEngine.h"
#include "settings/Prefs.h"

#include <cstdio>
#include <cstring>

namespace {
// The compressors a recording can use, one FOURCC each: Video 1 for 16- and 24-bit screens,
// RLE8 for 8-bit ones.
constexpr uint32_t kCompressors[] = {MakeFourCC("MSVC"), MakeFourCC("mrle"), MakeFourCC("cvid"),
                                     MakeFourCC("TOLE")};
constexpr int kCompressorVideo1 = 0;
constexpr int kCompressorRle8 = 1;

constexpr int kStartErrorFileNotOpened = 7;
constexpr int kLastStartError = 8;
constexpr DWORD kSnapshotDelayMs = 100;  // lets the screen repaint after the panel hides

const char* const kHotKeyNames[] = {"HOTSTART", "HOTSTOP", "HOTPAUSE", "HOTCAPTURE"};
}  // namespace

PropSheet::PropSheet(HWND parent, HINSTANCE instance, Prefs& prefs)
    : TPropertySheet(parent, kCaption, instance),
      prefs(prefs),
      movie(*this, prefs, instance),
      sound(prefs, instance),
      destination(prefs, instance),
      keys(*this, prefs, instance),
      about(instance)
{
    DebugTraceOn = false;
    AddPage(movie);
    AddPage(sound);
    AddPage(destination);
    AddPage(keys);
    AddPage(about);
}

PropSheet::~PropSheet()
{
    // A modeless sheet still open: clean up while this class's hooks can run.
    Destroy();
    if (engine) {
        engine->CaptureStop();
        engine.reset();
    }
}

std::unique_ptr<CaptureFactory> PropSheet::CreateFactory()
{
    return std::make_unique<CaptureFactory>();
}

void PropSheet::ShowMessage(const char* text, const char* title)
{
    ::MessageBoxA(Handle(), text, title, MB_OK);
}

LRESULT PropSheet::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_HOTKEY:
        OnHotKey(static_cast<int>(wparam), wparam, lparam);
        return 0;
    case kMsgCaptureStart:
        CaptureStart();
        return 0;
    case kMsgCaptureStop:
        CaptureStop();
        return 0;
    case kMsgCapturePause:
        CapturePause();
        return 0;
    case kMsgCaptureFrame:
        CaptureFrame();
        return 0;
    }
    return TPropertySheet::HandleMessage(message, wparam, lparam);
}

void PropSheet::SetupWindow()
{
    RegisterHotKeys();
    if (!engine)
        engine = std::make_unique<CaptureEngine>(CreateFactory());
}

void PropSheet::RegisterHotKeys()
{
    const int32_t stored[] = {prefs.GetStartKey(), prefs.GetStopKey(), prefs.GetPauseKey(),
                              prefs.GetCaptureKey()};
    for (int i = 0; i < 4; ++i) {
        int id = kHotKeyStart + i;
        UINT vk = static_cast<UINT>(stored[i]) & 0xFF;
        // A changed key replaces the old one under the same id rather than joining it.
        ::UnregisterHotKey(Handle(), id);
        BOOL ok = ::RegisterHotKey(Handle(), id, MOD_CONTROL | MOD_SHIFT, vk);
        DebugTrace("Hotkey (%d)registered with %#04x", ok, vk);
    }
}

void PropSheet::OnHotKey(int id, WPARAM wparam, LPARAM lparam)
{
    if (id < kHotKeyStart || id > kHotKeyCapture)
        return;
    DebugTrace("%s", kHotKeyNames[id - kHotKeyStart]);
    ::PostMessageA(Handle(), WM_USER + static_cast<UINT>(id), wparam, lparam);
}

void PropSheet::CaptureStart()
{
    DebugTrace("CaptureStart");
    if (recording)
        return;
    if (engine) {
        engine->SetCaptureRect(prefs.GetCaptureArea());
        engine->SetKeyFrameEvery(prefs.GetKeyFrame());
        int32_t mouse = prefs.GetRecordMouseShape();
        if (mouse >= 0)
            engine->SetAttachCursorThread(mouse);
        int32_t mode = prefs.GetCaptureMode();
        // A missing or unknown mode records a fixed area rather than keeping a stale mode.
        engine->SetCaptureMode(mode >= kFixedArea && mode <= kFollowWindows ? mode : kFixedArea);
        engine->SetFramesPerSecond(prefs.GetFramesPerSecond());
        engine->SetPanMargin(prefs.GetPanValue());

        int compressor = kCompressorVideo1;
        switch (engine->GetBitDepth()) {
        case 8:
            compressor = kCompressorRle8;
            break;
        case 16:
        case 24:
            break;
        default:
            DebugTrace("Couldn't set handle!!");
        }
        engine->SetCompressor(kCompressors[compressor]);
        engine->SetDrawCursor(prefs.GetCursorMode() == 0);
        engine->SetHighlightClicks(prefs.GetHighlightClicks());
        engine->SetCursorHalo(prefs.GetCursorHalo());

        char name[kPrefsPathSize];
        prefs.GetNextMovieName(name, sizeof name);
        char path[kPrefsPathSize];
        if (!JoinPath(name, path, sizeof path)) {
            // Recording anywhere else than where the user asked would be worse than no recording.
            ReportStartError(kStartErrorFileNotOpened);
            return;
        }
        engine->SetFileName(path);
        prefs.SetLastMovieRecorded(path);

        engine->SetRecordSound(prefs.GetEnableSoundCapture());
        engine->SetWaveFormat(static_cast<uint16_t>(prefs.GetChannels()),
                               static_cast<uint32_t>(prefs.GetFrequency()),
                               static_cast<uint16_t>(prefs.GetDataSize()));
        DebugTrace("CaptureStart - set all engine stuff");
        DebugTrace("Path is %s", path);
        if (prefs.GetVorluxMode() != 0)
            HideForCapture();

        ::MessageBeep(static_cast<UINT>(-1));
        int32_t err = engine->BeginCapture();
        if (err == 0)
            recording = true;
        else
            ReportStartError(err);
    }
    if (recording)
        movie.ShowRecording(true);
}

void PropSheet::ReportStartError(int32_t code)
{
    std::string title = LoadText(IDS_START_ERROR);
    std::string text = code >= 1 && code <= kLastStartError ? LoadText(IDS_START_ERROR + code)
                                                             : LoadText(IDS_START_ERROR + 1);
    DebugTrace("%s: %s\n", title.c_str(), text.c_str());
    ShowMessage(text.c_str(), title.c_str());
    // A panel that hid itself for the recording must not stay hidden when there is none.
    if (!::IsWindowVisible(Handle()))
        ::ShowWindow(Handle(), SW_SHOWNORMAL);
}

void PropSheet::CaptureStop()
{
    if (recording && engine) {
        engine->CaptureStop();
        recording = false;
        movie.ShowRecording(false);
        ::MessageBeep(static_cast<UINT>(-1));
        ::ShowWindow(Handle(), SW_SHOWNORMAL);
    }
    destination.RefreshDestination();
    DebugTrace("CaptureStop");
}

void PropSheet::CapturePause()
{
    DebugTrace("CapturePause");
    if (!recording || !engine)
        return;
    ::MessageBeep(static_cast<UINT>(-1));
    engine->TogglePause();
    movie.ShowPaused(engine->IsPaused());
}

void PropSheet::CaptureFrame()
{
    if (recording)
        return;
    char name[kPrefsPathSize];
    prefs.GetNextSnapshotName(name, sizeof name);
    char path[kPrefsPathSize];
    bool havePath = JoinPath(name, path, sizeof path);
    DebugTrace("path is %s", havePath ? path : "");
    if (!engine)
        return;
    if (!havePath) {
        ReportStartError(kStartErrorFileNotOpened);
        return;
    }
    engine->SetCaptureRect(prefs.GetCaptureArea());
    engine->SetDrawCursor(prefs.GetCursorMode() == 0);
    engine->SetHighlightClicks(prefs.GetHighlightClicks());
    engine->SetCursorHalo(prefs.GetCursorHalo());
    DebugTrace("CaptureFrame - set all engine stuff");
    if (prefs.GetVorluxMode() != 0)
        HideForCapture();
    ::MessageBeep(0);
    ::Sleep(kSnapshotDelayMs);
    engine->SaveFrame(path);
    ::ShowWindow(Handle(), SW_SHOWNORMAL);
}

void PropSheet::HideForCapture()
{
    ::ShowWindow(Handle(), SW_HIDE);
    // Every window repaints what the panel covered before the first frame is grabbed.
    ::InvalidateRect(nullptr, nullptr, TRUE);
}

bool PropSheet::JoinPath(const char* name, char* path, size_t size) const
{
    if (!name[0])
        return false;
    char directory[kPrefsPathSize];
    prefs.GetMovieDirectory(directory, sizeof directory);
    int n = std::snprintf(path, size, "%s\\%s", directory, name);
    return n > 0 && static_cast<size_t>(n) < size;
}

bool PropSheet::CanClose()
{
    if (engine)
        engine->CaptureStop();
    return true;
}

void PropSheet::CleanupWindow()
{
    for (int i = 0; i < 4; ++i) {
        BOOL ok = ::UnregisterHotKey(Handle(), kHotKeyStart + i);
        DebugTrace("Hotkey (%d)unregistered", ok);
    }
    if (engine)
        engine->CaptureStop();
}

std::string PropSheet::LoadText(int id) const
{
    char text[512];
    int n = ::LoadStringA(Instance(), static_cast<UINT>(id), text, sizeof text);
    return n > 0 ? std::string(text, static_cast<size_t>(n)) : std::string();
}
