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
      prefs_(prefs),
      movie_(*this, prefs, instance),
      sound_(prefs, instance),
      destination_(prefs, instance),
      keys_(*this, prefs, instance),
      about_(instance)
{
    DebugTraceOn = false;
    AddPage(movie_);
    AddPage(sound_);
    AddPage(destination_);
    AddPage(keys_);
    AddPage(about_);
}

PropSheet::~PropSheet()
{
    // A modeless sheet still open: clean up while this class's hooks can run.
    Destroy();
    if (engine_) {
        engine_->CaptureStop();
        engine_.reset();
    }
}

std::unique_ptr<CaptureFactory> PropSheet::CreateFactory()
{
    return std::make_unique<CaptureFactory>();
}

void PropSheet::ShowMessage(const char* text, const char* caption)
{
    ::MessageBoxA(Handle(), text, caption, MB_OK);
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
    if (!engine_)
        engine_ = std::make_unique<CaptureEngine>(CreateFactory());
}

void PropSheet::RegisterHotKeys()
{
    const int32_t keys[] = {prefs_.GetStartKey(), prefs_.GetStopKey(), prefs_.GetPauseKey(),
                            prefs_.GetCaptureKey()};
    for (int i = 0; i < 4; ++i) {
        int id = kHotKeyStart + i;
        UINT vk = static_cast<UINT>(keys[i]) & 0xFF;
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
    if (recording_)
        return;
    if (engine_) {
        engine_->SetCaptureRect(prefs_.GetCaptureArea());
        engine_->SetKeyFrameEvery(prefs_.GetKeyFrame());
        int32_t mouse = prefs_.GetRecordMouseShape();
        if (mouse >= 0)
            engine_->SetAttachCursorThread(mouse);
        int32_t mode = prefs_.GetCaptureMode();
        // A missing or unknown mode records a fixed area rather than keeping a stale mode.
        engine_->SetCaptureMode(mode >= kFixedArea && mode <= kFollowWindows ? mode : kFixedArea);
        engine_->SetFramesPerSecond(prefs_.GetFramesPerSecond());
        engine_->SetPanMargin(prefs_.GetPanValue());

        int compressor = kCompressorVideo1;
        switch (engine_->GetBitDepth()) {
        case 8:
            compressor = kCompressorRle8;
            break;
        case 16:
        case 24:
            break;
        default:
            DebugTrace("Couldn't set handle!!");
        }
        engine_->SetCompressor(kCompressors[compressor]);
        engine_->SetDrawCursor(prefs_.GetCursorMode() == 0);

        char name[kPrefsPathSize];
        prefs_.GetNextMovieName(name, sizeof name);
        char path[kPrefsPathSize];
        if (!JoinPath(name, path, sizeof path)) {
            // Recording anywhere else than where the user asked would be worse than no recording.
            ReportStartError(kStartErrorFileNotOpened);
            return;
        }
        engine_->SetFileName(path);
        prefs_.SetLastMovieRecorded(path);

        engine_->SetRecordSound(prefs_.GetEnableSoundCapture());
        engine_->SetWaveFormat(static_cast<uint16_t>(prefs_.GetChannels()),
                               static_cast<uint32_t>(prefs_.GetFrequency()),
                               static_cast<uint16_t>(prefs_.GetDataSize()));
        DebugTrace("CaptureStart - set all engine stuff");
        DebugTrace("Path is %s", path);
        if (prefs_.GetVorluxMode() != 0)
            HideForCapture();

        ::MessageBeep(static_cast<UINT>(-1));
        int32_t err = engine_->BeginCapture();
        if (err == 0)
            recording_ = true;
        else
            ReportStartError(err);
    }
    if (recording_)
        movie_.ShowRecording(true);
}

void PropSheet::ReportStartError(int32_t code)
{
    std::string caption = LoadText(IDS_START_ERROR);
    std::string text = code >= 1 && code <= kLastStartError ? LoadText(IDS_START_ERROR + code)
                                                             : LoadText(IDS_START_ERROR + 1);
    DebugTrace("%s: %s\n", caption.c_str(), text.c_str());
    ShowMessage(text.c_str(), caption.c_str());
    // A panel that hid itself for the recording must not stay hidden when there is none.
    if (!::IsWindowVisible(Handle()))
        ::ShowWindow(Handle(), SW_SHOWNORMAL);
}

void PropSheet::CaptureStop()
{
    if (recording_ && engine_) {
        engine_->CaptureStop();
        recording_ = false;
        movie_.ShowRecording(false);
        ::MessageBeep(static_cast<UINT>(-1));
        ::ShowWindow(Handle(), SW_SHOWNORMAL);
    }
    destination_.RefreshDestination();
    DebugTrace("CaptureStop");
}

void PropSheet::CapturePause()
{
    DebugTrace("CapturePause");
    if (!recording_ || !engine_)
        return;
    ::MessageBeep(static_cast<UINT>(-1));
    engine_->TogglePause();
    movie_.ShowPaused(engine_->IsPaused());
}

void PropSheet::CaptureFrame()
{
    if (recording_)
        return;
    char name[kPrefsPathSize];
    prefs_.GetNextSnapshotName(name, sizeof name);
    char path[kPrefsPathSize];
    bool havePath = JoinPath(name, path, sizeof path);
    DebugTrace("path is %s", havePath ? path : "");
    if (!engine_)
        return;
    if (!havePath) {
        ReportStartError(kStartErrorFileNotOpened);
        return;
    }
    engine_->SetCaptureRect(prefs_.GetCaptureArea());
    engine_->SetDrawCursor(prefs_.GetCursorMode() == 0);
    DebugTrace("CaptureFrame - set all engine stuff");
    if (prefs_.GetVorluxMode() != 0)
        HideForCapture();
    ::MessageBeep(0);
    ::Sleep(kSnapshotDelayMs);
    engine_->SaveFrame(path);
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
    prefs_.GetMovieDirectory(directory, sizeof directory);
    int n = std::snprintf(path, size, "%s\\%s", directory, name);
    return n > 0 && static_cast<size_t>(n) < size;
}

bool PropSheet::CanClose()
{
    if (engine_)
        engine_->CaptureStop();
    return true;
}

void PropSheet::CleanupWindow()
{
    for (int i = 0; i < 4; ++i) {
        BOOL ok = ::UnregisterHotKey(Handle(), kHotKeyStart + i);
        DebugTrace("Hotkey (%d)unregistered", ok);
    }
    if (engine_)
        engine_->CaptureStop();
}

std::string PropSheet::LoadText(int id) const
{
    char text[512];
    int n = ::LoadStringA(Instance(), static_cast<UINT>(id), text, sizeof text);
    return n > 0 ? std::string(text, static_cast<size_t>(n)) : std::string();
}
