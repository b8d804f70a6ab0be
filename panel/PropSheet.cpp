#include "panel/PropSheet.h"

#include "diag/DebugTrace.h"
#include "engine/CaptureFactory.h"
#include "framework/ResourceText.h"
#include "ids/Messages.h"
#include "ids/resource.h"
#include "settings/Prefs.h"

namespace {
constexpr UINT kSnapshotDelayMs = 100;  // lets the screen repaint after the panel hides
constexpr UINT_PTR kSnapshotTimer = kMsgCaptureFrame;

const char* const kHotKeyNames[] = {"HOTSTART", "HOTSTOP", "HOTPAUSE", "HOTCAPTURE"};

// The posted message of each command; the failure notice is the engine's own.
constexpr UINT kCommandMessages[kRecordingCommands] = {kMsgCaptureStart, kMsgCaptureStop, kMsgCapturePause,
                                                       kMsgCaptureFrame, kMsgRecordingFailed};
}  // namespace

PropSheet::PropSheet(HWND parent, HINSTANCE instance, Prefs& prefs)
    : TPropertySheet(parent, kCaption, instance),
      prefs(prefs),
      movie(*this, prefs, instance),
      sound(prefs, instance),
      destination(prefs, instance),
      keys(*this, prefs, instance),
      about(prefs, instance),
      status(*this, instance),
      recorder(prefs, instance, *this)
{
    DebugTraceOn = false;
    AddPage(movie);
    AddPage(sound);
    AddPage(destination);
    AddPage(keys);
    AddPage(about);
    recorder.AddListener(movie);
    recorder.AddListener(destination);
    recorder.AddListener(status);
}

PropSheet::~PropSheet()
{
    // A modeless sheet still open: clean up while this class's hooks can run.
    Destroy();
    recorder.Shutdown();
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
        OnHotKey(static_cast<int>(wparam));
        return 0;
    case WM_TIMER:
        if (wparam != kSnapshotTimer)
            break;
        ::KillTimer(Handle(), kSnapshotTimer);
        recorder.OnSnapshotTimer();
        return 0;
    case kMsgCaptureStart:
    case kMsgCaptureStop:
    case kMsgCapturePause:
    case kMsgCaptureFrame:
    case kMsgRecordingFailed:
        for (int c = 0; c < kRecordingCommands; ++c) {
            if (kCommandMessages[c] == message)
                recorder.Command(static_cast<RecordingCommand>(c));
        }
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

void PropSheet::SetupWindow()
{
    RegisterHotKeys();
    recorder.Attach(CreateFactory(), Handle(), kMsgRecordingFailed);
    recorder.ApplyStoredArea();
    if (!status.Start(prefs.GetStatusIcon()))
        DebugTrace("Status icon: its window could not be made");
}

void PropSheet::RegisterHotKeys()
{
    // Told once the loop runs: at start-up the panel is not on the screen yet.
    if (hotKeys.Register(Handle(), prefs))
        Post(kMsgReportHotKeys, 0);
}

bool PropSheet::HotKeyTaken(int row) const
{
    return hotKeys.Taken(row);
}

void PropSheet::ReportHotKeys()
{
    const std::string text = hotKeys.TakenText(Instance());
    if (text.empty())
        return;  // freed again since
    DebugTrace("%s", text.c_str());
    ShowMessage(text.c_str(), LoadText(Instance(), IDS_HOTKEY_TAKEN_CAPTION).c_str());
}

void PropSheet::OnHotKey(int id)
{
    if (id < kHotKeyStart || id > kHotKeyCapture)
        return;
    DebugTrace("%s", kHotKeyNames[id - kHotKeyStart]);
    // The hot keys 20 to 23 are the start, stop, pause and frame commands, in that order.
    PostCommand(static_cast<RecordingCommand>(id - kHotKeyStart));
}

void PropSheet::PostCommand(RecordingCommand command)
{
    Post(kCommandMessages[static_cast<int>(command)], command == RecordingCommand::Stop ? 1 : 0);
}

void PropSheet::PostStartOrStop()
{
    PostCommand(recorder.Recording() ? RecordingCommand::Stop : RecordingCommand::Start);
}

void PropSheet::HideForCapture()
{
    ::ShowWindow(Handle(), SW_HIDE);
    // Every window repaints what the panel covered before the first frame is grabbed.
    ::InvalidateRect(nullptr, nullptr, TRUE);
}

void PropSheet::ShowAfterCapture()
{
    ::ShowWindow(Handle(), SW_SHOWNORMAL);
}

bool PropSheet::StartSnapshotTimer()
{
    return ::SetTimer(Handle(), kSnapshotTimer, kSnapshotDelayMs, nullptr) != 0;
}

bool PropSheet::CanClose()
{
    recorder.Shutdown();
    return true;
}

void PropSheet::CleanupWindow()
{
    hotKeys.Unregister(Handle());
    recorder.Shutdown();
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
        PostStartOrStop();
        break;
    case StatusCommand::PauseResume:
        PostCommand(RecordingCommand::Pause);
        break;
    case StatusCommand::CaptureFrame:
        PostCommand(RecordingCommand::Frame);
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
