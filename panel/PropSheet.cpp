#include "panel/PropSheet.h"

#include "ids/Messages.h"
#include "ids/resource.h"
#include "diag/DebugTrace.h"
#include "engine/CaptureEngine.h"
#include "framework/ResourceText.h"
#include "settings/Prefs.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace {
// The compressors a recording uses: Video 1 for 16- and 24-bit screens, RLE8 for 8-bit ones,
// ZMBV for lossless recordings at any depth.
constexpr uint32_t kCompressorVideo1 = MakeFourCC("MSVC");
constexpr uint32_t kCompressorRle8 = MakeFourCC("mrle");
constexpr uint32_t kCompressorZmbv = MakeFourCC("ZMBV");

constexpr int kStartErrorFileNotOpened = 7;
constexpr int kLastStartError = 9;
constexpr UINT kSnapshotDelayMs = 100;  // lets the screen repaint after the panel hides
constexpr UINT_PTR kSnapshotTimer = kMsgCaptureFrame;
constexpr uint64_t kSecondsForRoom = 60;  // a start warns with less room than this much recording

const char* const kHotKeyNames[] = {"HOTSTART", "HOTSTOP", "HOTPAUSE", "HOTCAPTURE"};

// Puts `values` in place of each "%s" of `pattern`, in order; anything else stays as it is.
std::string FillIn(const std::string& pattern, std::initializer_list<std::string> values)
{
    std::string text;
    auto value = values.begin();
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == 's' && value != values.end()) {
            text += *value++;
            ++i;
        } else {
            text += pattern[i];
        }
    }
    return text;
}

// "0:42", "12:05", or "1:02:03" from past an hour.
std::string Duration(int64_t milliseconds)
{
    const int64_t seconds = milliseconds > 0 ? milliseconds / 1000 : 0;
    char text[32];
    if (seconds >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                      static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                      static_cast<long long>(seconds % 60));
    return text;
}

// "840 KB", "3.5 MB", "1.4 GB".
std::string ByteSize(uint64_t bytes)
{
    char text[32];
    const double mib = double(bytes) / (1024.0 * 1024.0);
    if (bytes < 1024 * 1024)
        std::snprintf(text, sizeof text, "%llu KB", static_cast<unsigned long long>(bytes / 1024));
    else if (mib < 1024.0)
        std::snprintf(text, sizeof text, "%.1f MB", mib);
    else
        std::snprintf(text, sizeof text, "%.1f GB", mib / 1024.0);
    return text;
}
}  // namespace

PropSheet::PropSheet(HWND parent, HINSTANCE instance, Prefs& prefs)
    : TPropertySheet(parent, kCaption, instance),
      prefs(prefs),
      movie(*this, prefs, instance),
      sound(prefs, instance),
      destination(prefs, instance),
      keys(*this, prefs, instance),
      about(prefs, instance),
      status(*this, instance)
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

bool PropSheet::AskMessage(const char* text, const char* title)
{
    return ::MessageBoxA(Handle(), text, title, MB_YESNO | MB_ICONWARNING) == IDYES;
}

bool PropSheet::FreeBytes(const char* directory, uint64_t& bytes)
{
    ULARGE_INTEGER available{};
    if (!::GetDiskFreeSpaceExA(directory, &available, nullptr, nullptr))
        return false;
    bytes = available.QuadPart;
    return true;
}

LRESULT PropSheet::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_HOTKEY:
        OnHotKey(static_cast<int>(wparam), wparam, lparam);
        return 0;
    case WM_TIMER:
        if (!OnTimer(static_cast<UINT_PTR>(wparam)))
            break;
        return 0;
    case kMsgCaptureStart:
    case kMsgCaptureStop:
    case kMsgCapturePause:
    case kMsgCaptureFrame:
        OnCaptureCommand(message);
        return 0;
    case kMsgRecordingFailed:
        OnRecordingFailed();
        return 0;
    case kMsgReportHotKeys:
        ReportHotKeys();
        return 0;
    case WM_HELP:
        OnHelp(reinterpret_cast<const HELPINFO*>(lparam));
        return TRUE;
    }
    return TPropertySheet::HandleMessage(message, wparam, lparam);
}

// A command that arrives while a snapshot waits for the screen runs after it, as it would
// have waited in the queue.
void PropSheet::OnCaptureCommand(UINT command)
{
    if (!snapshotPath.empty()) {
        deferred.push_back(command);
        return;
    }
    switch (command) {
    case kMsgCaptureStart:
        CaptureStart();
        break;
    case kMsgCaptureStop:
        CaptureStop();
        break;
    case kMsgCapturePause:
        CapturePause();
        break;
    case kMsgCaptureFrame:
        CaptureFrame();
        break;
    }
}

void PropSheet::SetupWindow()
{
    RegisterHotKeys();
    if (!engine) {
        engine = std::make_unique<CaptureEngine>(CreateFactory());
        engine->SetFailureNotice(Handle(), kMsgRecordingFailed);
    }
    ApplyCaptureArea();
    if (!status.Start(prefs.GetStatusIcon()))
        DebugTrace("Status icon: its window could not be made");
}

void PropSheet::RegisterHotKeys()
{
    const int32_t stored[] = {prefs.GetStartKey(), prefs.GetStopKey(), prefs.GetPauseKey(),
                              prefs.GetCaptureKey()};
    UINT wanted[kHotKeyCount];
    for (int i = 0; i < kHotKeyCount; ++i)
        wanted[i] = static_cast<UINT>(stored[i]) & 0xFF;
    // A changed key gives up its old combination first (rather than keeping it beside the new
    // one), so that a combination passed from one action to another is taken up in this pass.
    for (int i = 0; i < kHotKeyCount; ++i) {
        if (hotKeys[i].registered && hotKeys[i].vk != wanted[i]) {
            ::UnregisterHotKey(Handle(), kHotKeyStart + i);
            hotKeys[i].registered = false;
        }
    }
    bool anyTaken = false;
    for (int i = 0; i < kHotKeyCount; ++i) {
        HotKeySlot& slot = hotKeys[i];
        // A key that works keeps working; one that failed is tried again.
        if (slot.registered)
            continue;
        slot = HotKeySlot{wanted[i], false, false, -1};
        if (slot.vk == 0)
            continue;  // no key chosen: nothing to register, nothing taken
        for (int other = 0; other < kHotKeyCount; ++other) {
            if (other != i && hotKeys[other].registered && hotKeys[other].vk == slot.vk)
                slot.sharedWith = other;
        }
        if (slot.sharedWith < 0) {
            const BOOL ok = ::RegisterHotKey(Handle(), kHotKeyStart + i, MOD_CONTROL | MOD_SHIFT, slot.vk);
            DebugTrace("Hotkey (%d)registered with %#04x", ok, slot.vk);
            slot.registered = ok != FALSE;
        }
        slot.taken = !slot.registered;
        anyTaken = anyTaken || slot.taken;
    }
    // Told once the loop runs: at start-up the panel is not on the screen yet.
    if (anyTaken)
        ::PostMessageA(Handle(), kMsgReportHotKeys, 0, 0);
}

bool PropSheet::HotKeyTaken(int row) const
{
    return row >= 0 && row < kHotKeyCount && hotKeys[row].taken;
}

void PropSheet::ReportHotKeys()
{
    std::string text;
    for (int i = 0; i < kHotKeyCount; ++i) {
        if (!hotKeys[i].taken)
            continue;
        if (!text.empty())
            text += "\n";
        const std::string key = RegisteredHotKeyName(static_cast<int32_t>(hotKeys[i].vk));
        const std::string action = LoadText(Instance(), IDS_ACTION_FIRST + i);
        const int other = hotKeys[i].sharedWith;
        text += other >= 0 ? FillIn(LoadText(Instance(), IDS_HOTKEY_SHARED),
                                    {key, action, LoadText(Instance(), IDS_ACTION_FIRST + other)})
                           : FillIn(LoadText(Instance(), IDS_HOTKEY_TAKEN), {key, action});
    }
    if (text.empty())
        return;  // freed again since
    DebugTrace("%s", text.c_str());
    ShowMessage(text.c_str(), LoadText(Instance(), IDS_HOTKEY_TAKEN_CAPTION).c_str());
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
        ApplyCaptureArea();
        engine->SetKeyFrameEvery(prefs.GetKeyFrame());
        int32_t mouse = prefs.GetRecordMouseShape();
        if (mouse >= 0)
            engine->SetAttachCursorThread(mouse);
        int32_t mode = prefs.GetCaptureMode();
        // A missing or unknown mode records a fixed area rather than keeping a stale mode.
        engine->SetCaptureMode(mode >= kFixedArea && mode <= kFollowWindows ? mode : kFixedArea);
        engine->SetFramesPerSecond(prefs.GetFramesPerSecond());
        engine->SetPanMargin(prefs.GetPanValue());

        ChooseFrameFormat();
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
        char previousMovie[kPrefsPathSize];
        prefs.GetLastMovieRecorded(previousMovie, sizeof previousMovie);
        engine->SetFileName(path);
        prefs.SetLastMovieRecorded(path);

        engine->SetRecordSound(prefs.GetEnableSoundCapture());
        engine->SetWaveFormat(static_cast<uint16_t>(prefs.GetChannels()),
                               static_cast<uint32_t>(prefs.GetFrequency()),
                               static_cast<uint16_t>(prefs.GetDataSize()));
        DebugTrace("CaptureStart - set all engine stuff");
        DebugTrace("Path is %s", path);
        if (!ConfirmDiskSpace())
            return;
        if (prefs.GetVorluxMode() != 0)
            HideForCapture();

        ::MessageBeep(static_cast<UINT>(-1));
        int32_t err = engine->BeginCapture();
        if (err == 0) {
            recording = true;
            status.Apply(RecorderEvent::Start);
        } else {
            // A failed start leaves no movie behind: Play Movie keeps the newest one there is.
            prefs.SetLastMovieRecorded(previousMovie);
            ReportStartError(err);
        }
    }
    if (recording)
        movie.ShowRecording(true);
}

void PropSheet::ChooseFrameFormat()
{
    // The engine's depth is the screen's, with a true-colour screen read as 24 bits. Lossless
    // records true colour as 32-bit frames; without it such a screen records 24-bit frames,
    // also after a lossless recording.
    const bool lossless = prefs.GetLossless();
    const uint16_t depth = engine->GetBitDepth();
    if (depth == 24 || depth == 32)
        engine->SetBitDepth(lossless ? 32 : 24);

    uint32_t compressor = kCompressorVideo1;
    switch (engine->GetBitDepth()) {
    case 8:
        compressor = lossless ? kCompressorZmbv : kCompressorRle8;
        break;
    case 16:
        compressor = lossless ? kCompressorZmbv : kCompressorVideo1;
        break;
    case 24:  // also lossless when a 32-bit frame would exceed the frame size limit: ZMBV has no 24-bit form
        break;
    case 32:
        compressor = kCompressorZmbv;
        break;
    default:
        DebugTrace("Couldn't set handle!!");
    }
    engine->SetCompressor(compressor);
}

void PropSheet::ReportStartError(int32_t code)
{
    std::string title = LoadText(Instance(), IDS_START_ERROR);
    std::string text = LoadText(Instance(), code >= 1 && code <= kLastStartError ? IDS_START_ERROR + code
                                                                                 : IDS_START_ERROR + 1);
    DebugTrace("%s: %s\n", title.c_str(), text.c_str());
    ShowMessage(text.c_str(), title.c_str());
    // A panel that hid itself for the recording must not stay hidden when there is none.
    if (!::IsWindowVisible(Handle()))
        ::ShowWindow(Handle(), SW_SHOWNORMAL);
}

bool PropSheet::ConfirmDiskSpace()
{
    char directory[kPrefsPathSize];
    prefs.GetMovieDirectory(directory, sizeof directory);
    uint64_t available = 0;
    // A directory the system cannot measure is left to the start, which says what is wrong.
    if (!FreeBytes(directory, available))
        return true;
    // Uncompressed frames and sound: more than any movie of these settings takes.
    const VRect area = engine->GetCaptureRect();
    uint64_t perSecond = DibFrameBytes(area.right - area.left, area.bottom - area.top, engine->GetBitDepth()) *
                         static_cast<uint64_t>(engine->GetFramesPerSecond());
    if (engine->Info().recordSound)
        perSecond += engine->Info().waveFormat.nAvgBytesPerSec;
    const uint64_t minute = perSecond * kSecondsForRoom;
    if (available >= minute)
        return true;
    const std::string text = FillIn(LoadText(Instance(), IDS_LOW_DISK), {directory, ByteSize(available), ByteSize(minute)});
    DebugTrace("%s", text.c_str());
    return AskMessage(text.c_str(), LoadText(Instance(), IDS_LOW_DISK_CAPTION).c_str());
}

void PropSheet::CaptureStop()
{
    if (recording && engine) {
        engine->CaptureStop();
        recording = false;
        movie.ShowRecording(false);
        // A recording that failed is shown as failed, with its reason, by the report below.
        if (!engine->Failure())
            status.ShowSaved(engine->GetFileName(), SavedCounters());
        ::MessageBeep(static_cast<UINT>(-1));
        ::ShowWindow(Handle(), SW_SHOWNORMAL);
    }
    destination.RefreshDestination();
    DebugTrace("CaptureStop");
    ReportRecordingFailure();
}

void PropSheet::OnRecordingFailed()
{
    // The capture thread has finished the file and ends; the stop waits for it and says why.
    CaptureStop();
}

void PropSheet::ReportRecordingFailure()
{
    if (!engine)
        return;
    const RecordingFailure why = engine->TakeFailure();
    std::string reason;
    switch (why.kind) {
    case FailureKind::None:
        return;
    case FailureKind::DiskFull:
        reason = LoadText(Instance(), IDS_FAILURE_DISK_FULL);
        break;
    case FailureKind::WriteFailed:
        reason = FillIn(LoadText(Instance(), IDS_FAILURE_WRITE),
                        {why.systemCode != 0 ? SystemText(static_cast<DWORD>(why.systemCode))
                                             : LoadText(Instance(), IDS_FAILURE_NO_REASON)});
        break;
    case FailureKind::SoundDevice:
        reason = LoadText(Instance(), IDS_FAILURE_SOUND);
        break;
    }
    const std::string kept =
        FillIn(LoadText(Instance(), IDS_FAILURE_KEPT), {engine->GetFileName(), Duration(engine->KeptMilliseconds())});
    const std::string text = reason + " " + kept;
    DebugTrace("%s", text.c_str());
    status.ShowFailed(text);
    ShowMessage(text.c_str(), LoadText(Instance(), IDS_RECORDING_STOPPED).c_str());
}

void PropSheet::CapturePause()
{
    DebugTrace("CapturePause");
    if (!recording || !engine)
        return;
    ::MessageBeep(static_cast<UINT>(-1));
    engine->TogglePause();
    const bool paused = engine->IsPaused();
    movie.ShowPaused(paused);
    status.Apply(paused ? RecorderEvent::Pause : RecorderEvent::Resume);
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
    ApplyCaptureArea();
    engine->SetDrawCursor(prefs.GetCursorMode() == 0);
    engine->SetHighlightClicks(prefs.GetHighlightClicks());
    engine->SetCursorHalo(prefs.GetCursorHalo());
    DebugTrace("CaptureFrame - set all engine stuff");
    if (prefs.GetVorluxMode() != 0)
        HideForCapture();
    ::MessageBeep(0);
    // The frame is grabbed once the windows below have repainted; the panel's thread runs on.
    snapshotPath = path;
    if (!::SetTimer(Handle(), kSnapshotTimer, kSnapshotDelayMs, nullptr))
        SaveSnapshot();
}

bool PropSheet::OnTimer(UINT_PTR id)
{
    if (id != kSnapshotTimer)
        return false;
    ::KillTimer(Handle(), kSnapshotTimer);
    SaveSnapshot();
    return true;
}

void PropSheet::SaveSnapshot()
{
    if (snapshotPath.empty())
        return;
    const std::string path = snapshotPath;
    snapshotPath.clear();
    const bool saved = engine && engine->SaveFrame(path.c_str());
    ::ShowWindow(Handle(), SW_SHOWNORMAL);
    if (engine && !saved)
        ReportSnapshotFailure(path.c_str());
    for (const UINT command : deferred)
        ::PostMessageA(Handle(), command, 0, 0);
    deferred.clear();
}

void PropSheet::ReportSnapshotFailure(const char* path)
{
    const uint32_t code = engine->LastSaveError();
    const std::string why = code != 0 ? SystemText(code) : LoadText(Instance(), IDS_SNAPSHOT_NO_SCREEN);
    const std::string text = FillIn(LoadText(Instance(), IDS_SNAPSHOT_FAILED), {path, why});
    DebugTrace("%s", text.c_str());
    ShowMessage(text.c_str(), LoadText(Instance(), IDS_SNAPSHOT_FAILED_CAPTION).c_str());
}

void PropSheet::HideForCapture()
{
    ::ShowWindow(Handle(), SW_HIDE);
    // Every window repaints what the panel covered before the first frame is grabbed.
    ::InvalidateRect(nullptr, nullptr, TRUE);
}

void PropSheet::ApplyCaptureArea()
{
    if (!engine || engine->SetCaptureRect(prefs.GetCaptureArea()))
        return;
    const VRect fallback = Prefs::DefaultCaptureArea();
    DebugTrace("Capture area refused, recording %d,%d to %d,%d", fallback.left, fallback.top, fallback.right,
               fallback.bottom);
    engine->SetCaptureRect(fallback);
    prefs.SetCaptureArea(fallback);
    if (movie.Handle())
        movie.ShowCaptureArea();
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
    // A snapshot still waiting goes with the window and its timer.
    snapshotPath.clear();
    deferred.clear();
    // Only keys this panel holds: another program's key under the same combination stays its own.
    for (int i = 0; i < kHotKeyCount; ++i) {
        if (!hotKeys[i].registered)
            continue;
        BOOL ok = ::UnregisterHotKey(Handle(), kHotKeyStart + i);
        DebugTrace("Hotkey (%d)unregistered", ok);
        hotKeys[i] = HotKeySlot{};
    }
    if (engine)
        engine->CaptureStop();
    status.Stop();
}

void PropSheet::Post(UINT message, WPARAM wparam) const
{
    if (!::PostMessageA(Handle(), message, wparam, 0))
        DebugTrace("Could not post %u to the panel", message);
}

void PropSheet::ShowPanel()
{
    ::ShowWindow(Handle(), SW_SHOWNORMAL);
    ::SetForegroundWindow(Handle());
}

void PropSheet::OnHelp(const HELPINFO* info)
{
    HWND owner = ::GetWindow(Handle(), GW_OWNER);
    if (!owner || !info)
        return;
    HELPINFO asked = *info;
    if (HWND page = PropSheet_GetCurrentPageHwnd(Handle())) {
        asked.hItemHandle = page;
        asked.iCtrlId = ::GetDlgCtrlID(page);
        asked.dwContextId = 0;
    }
    ::SendMessageA(owner, WM_HELP, 0, reinterpret_cast<LPARAM>(&asked));
}

RecordingCounters PropSheet::SavedCounters() const
{
    RecordingCounters counters = engine ? engine->Counters() : RecordingCounters{};
    WIN32_FILE_ATTRIBUTE_DATA file{};
    if (engine && ::GetFileAttributesExA(engine->GetFileName(), GetFileExInfoStandard, &file))
        counters.movieBytes = (uint64_t{file.nFileSizeHigh} << 32) | file.nFileSizeLow;
    return counters;
}

RecordingCounters PropSheet::StatusCounters()
{
    return engine ? engine->Counters() : RecordingCounters{};
}

bool PropSheet::CanPlayLastMovie()
{
    char last[kPrefsPathSize];
    prefs.GetLastMovieRecorded(last, sizeof last);
    DWORD attributes = last[0] ? ::GetFileAttributesA(last) : INVALID_FILE_ATTRIBUTES;
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool PropSheet::CanOpenMovieFolder()
{
    char directory[kPrefsPathSize];
    prefs.GetMovieDirectory(directory, sizeof directory);
    DWORD attributes = directory[0] ? ::GetFileAttributesA(directory) : INVALID_FILE_ATTRIBUTES;
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A dialog of the panel is open (Capture Area, a hot key, the file or sound format chooser): the
// panel is disabled under it, and closing it now would pull the panel from beneath the dialog.
bool PropSheet::CanExit()
{
    return ::IsWindowEnabled(Handle()) != FALSE;
}

// Each item takes the path of its hot key or button: the commands are posted, Play Last Movie
// is the Movie page's Play Movie.
void PropSheet::OnStatusCommand(StatusCommand command)
{
    switch (command) {
    case StatusCommand::StartStop:
        Post(recording ? kMsgCaptureStop : kMsgCaptureStart, recording ? 1 : 0);
        break;
    case StatusCommand::PauseResume:
        Post(kMsgCapturePause, 0);
        break;
    case StatusCommand::CaptureFrame:
        Post(kMsgCaptureFrame, 0);
        break;
    case StatusCommand::PlayLastMovie:
        movie.PlayLastMovie();
        break;
    case StatusCommand::OpenMovieFolder: {
        char directory[kPrefsPathSize];
        prefs.GetMovieDirectory(directory, sizeof directory);
        if (!shell->Execute(directory, ""))
            DebugTrace("Could not open the movie folder %s", directory);
        break;
    }
    case StatusCommand::Settings:
        ShowPanel();
        break;
    case StatusCommand::Exit:
        // As the close box: a running recording is finished first.
        Post(WM_SYSCOMMAND, SC_CLOSE);
        break;
    }
}

void PropSheet::OnStatusActivate()
{
    ShowPanel();
}

void PropSheet::OnStatusPlayMovie(const std::string& path)
{
    movie.PlayMovie(path.c_str());
}
