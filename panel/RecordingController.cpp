#include "panel/RecordingController.h"

#include "diag/DebugTrace.h"
#include "engine/CaptureEngine.h"
#include "framework/ResourceText.h"
#include "ids/resource.h"
#include "panel/CaptureSettings.h"
#include "panel/Wording.h"
#include "settings/Prefs.h"

namespace {
using Action = RecordingController::Action;

constexpr int kStartErrorFileNotOpened = 7;
constexpr int kLastStartError = 10;
constexpr uint64_t kSecondsForRoom = 60;  // a start warns with less room than this much recording

// What each command does in each state. Rows: idle, asking, recording, paused, stopping,
// failed, snapshot; columns: start, stop, pause, frame, failure. While a question or message is
// open its own loop may deliver commands: all are refused, so nothing re-enters. A command
// during a snapshot waits for it, as it would have waited in the queue; a second snapshot is
// refused.
constexpr Action kActions[kRecordingStates][kRecordingCommands] = {
    {Action::Start, Action::Refuse, Action::Refuse, Action::Frame, Action::Refuse},
    {Action::Refuse, Action::Refuse, Action::Refuse, Action::Refuse, Action::Refuse},
    {Action::Refuse, Action::Stop, Action::Pause, Action::Refuse, Action::Stop},
    {Action::Refuse, Action::Stop, Action::Pause, Action::Refuse, Action::Stop},
    {Action::Refuse, Action::Refuse, Action::Refuse, Action::Refuse, Action::Refuse},
    {Action::Start, Action::Refuse, Action::Refuse, Action::Frame, Action::Refuse},
    {Action::Wait, Action::Wait, Action::Wait, Action::Refuse, Action::Refuse},
};

constexpr const char* kStateNames[kRecordingStates] = {"idle",    "asking", "recording", "paused",
                                                       "stopping", "failed", "snapshot"};
constexpr const char* kCommandNames[kRecordingCommands] = {"CaptureStart", "CaptureStop", "CapturePause",
                                                           "CaptureFrame", "RecordingFailed"};

void Beep(UINT sound)
{
    if (!::MessageBeep(sound))
        DebugTrace("No beep");
}
}  // namespace

RecordingController::RecordingController(Prefs& prefs, HINSTANCE instance, RecordingHost& host)
    : prefs(prefs), instance(instance), host(host)
{
}

RecordingController::~RecordingController()
{
    Shutdown();
}

void RecordingController::Attach(std::unique_ptr<CaptureFactory> factory, HWND window, UINT message)
{
    if (engine)
        return;
    engine = std::make_unique<CaptureEngine>(std::move(factory));
    engine->SetFailureNotice(window, message);
}

void RecordingController::AddListener(RecordingListener& listener)
{
    listeners.push_back(&listener);
}

RecordingController::Action RecordingController::ActionFor(RecordingState s, RecordingCommand c)
{
    return kActions[static_cast<int>(s)][static_cast<int>(c)];
}

const char* RecordingController::Name(RecordingState s)
{
    return kStateNames[static_cast<int>(s)];
}

const char* RecordingController::Name(RecordingCommand c)
{
    return kCommandNames[static_cast<int>(c)];
}

void RecordingController::Command(RecordingCommand command)
{
    DebugTrace("%s", Name(command));
    if (!engine)
        return;
    switch (ActionFor(state, command)) {
    case Action::Refuse:
        DebugTrace("%s refused while %s", Name(command), Name(state));
        break;
    case Action::Wait:
        waiting.push_back(command);
        break;
    case Action::Start:
        Start();
        break;
    case Action::Stop:
        Stop();
        break;
    case Action::Pause:
        Pause();
        break;
    case Action::Frame:
        Frame();
        break;
    }
}

void RecordingController::SetState(RecordingState next)
{
    state = next;
    for (RecordingListener* listener : listeners)
        listener->OnRecordingState(state);
}

void RecordingController::Start()
{
    const RecordingState before = state;
    const CaptureSettings settings = ReadCaptureSettings(prefs, Take::Movie);
    // Recording anywhere else than where the user asked would be worse than no recording.
    if (settings.path.empty()) {
        ReportStartError(kStartErrorFileNotOpened);
        return;
    }
    if (!ApplyCaptureSettings(*engine, settings))
        AreaReplaced();
    DebugTrace("CaptureStart - set all engine stuff");
    DebugTrace("Path is %s", settings.path.c_str());
    if (!ConfirmDiskSpace())
        return;
    if (settings.hidePanel)
        host.HideForCapture();
    Beep(static_cast<UINT>(-1));
    const int32_t err = engine->BeginCapture();
    if (err != 0) {
        SetState(before);
        ReportStartError(err);
        return;
    }
    // Only a movie that is really being made becomes the one Play Movie opens.
    prefs.SetLastMovieRecorded(settings.path.c_str());
    failureReason.clear();
    SetState(RecordingState::Recording);
}

void RecordingController::Stop()
{
    SetState(RecordingState::Stopping);
    engine->CaptureStop();
    Beep(static_cast<UINT>(-1));
    host.ShowAfterCapture();
    const std::string why = FailureText();
    if (why.empty()) {
        SetState(RecordingState::Idle);
        for (RecordingListener* listener : listeners)
            listener->OnRecordingSaved(engine->GetFileName(), SavedCounters());
        return;
    }
    // Said once: the engine hands its failure over a single time.
    failureReason = why;
    DebugTrace("%s", why.c_str());
    for (RecordingListener* listener : listeners)
        listener->OnRecordingFailed(why);
    host.ShowMessage(why.c_str(), LoadText(instance, IDS_RECORDING_STOPPED).c_str());
    SetState(RecordingState::Failed);
}

void RecordingController::Pause()
{
    Beep(static_cast<UINT>(-1));
    engine->TogglePause();
    SetState(engine->IsPaused() ? RecordingState::Paused : RecordingState::Recording);
}

// Snapshots read the store afresh rather than reuse the last start's settings: a snapshot is
// taken while idle, of what the Movie page shows now, and an area or switch changed since the
// last recording must count.
void RecordingController::Frame()
{
    const CaptureSettings settings = ReadCaptureSettings(prefs, Take::Snapshot);
    DebugTrace("path is %s", settings.path.c_str());
    if (settings.path.empty()) {
        ReportStartError(kStartErrorFileNotOpened);
        return;
    }
    if (!ApplySnapshotSettings(*engine, settings))
        AreaReplaced();
    DebugTrace("CaptureFrame - set all engine stuff");
    if (settings.hidePanel)
        host.HideForCapture();
    Beep(0);
    // The frame is grabbed once the windows below have repainted; the panel's thread runs on.
    afterSnapshot = state;
    snapshotPath = settings.path;
    SetState(RecordingState::Snapshot);
    if (!host.StartSnapshotTimer())
        SaveSnapshot();
}

void RecordingController::OnSnapshotTimer()
{
    if (state == RecordingState::Snapshot)
        SaveSnapshot();
}

void RecordingController::SaveSnapshot()
{
    const std::string path = snapshotPath;
    snapshotPath.clear();
    const bool saved = engine->SaveFrame(path.c_str());
    host.ShowAfterCapture();
    SetState(afterSnapshot);
    if (!saved) {
        const uint32_t code = engine->LastSaveError();
        const std::string why = code != 0 ? SystemText(code) : LoadText(instance, IDS_SNAPSHOT_NO_SCREEN);
        Tell(FillIn(LoadText(instance, IDS_SNAPSHOT_FAILED), {path, why}), IDS_SNAPSHOT_FAILED_CAPTION);
    }
    for (const RecordingCommand command : waiting)
        host.Repost(command);
    waiting.clear();
}

void RecordingController::Shutdown()
{
    snapshotPath.clear();
    waiting.clear();
    if (engine)
        engine->CaptureStop();
    state = RecordingState::Idle;
}

void RecordingController::Tell(const std::string& text, int captionId)
{
    const RecordingState before = state;
    DebugTrace("%s", text.c_str());
    SetState(RecordingState::Asking);
    host.ShowMessage(text.c_str(), LoadText(instance, captionId).c_str());
    SetState(before);
}

bool RecordingController::Ask(const std::string& text, int captionId)
{
    const RecordingState before = state;
    DebugTrace("%s", text.c_str());
    SetState(RecordingState::Asking);
    const bool yes = host.AskMessage(text.c_str(), LoadText(instance, captionId).c_str());
    SetState(before);
    return yes;
}

void RecordingController::ReportStartError(int32_t code)
{
    Tell(LoadText(instance, code >= 1 && code <= kLastStartError ? IDS_START_ERROR + code : IDS_START_ERROR + 1),
         IDS_START_ERROR);
    // A panel that hid itself for the recording must not stay hidden when there is none.
    host.ShowAfterCapture();
}

std::string RecordingController::FailureText()
{
    const RecordingFailure why = engine->TakeFailure();
    std::string reason;
    switch (why.kind) {
    case FailureKind::None:
        return {};
    case FailureKind::DiskFull:
        reason = LoadText(instance, IDS_FAILURE_DISK_FULL);
        break;
    case FailureKind::WriteFailed:
        reason = FillIn(LoadText(instance, IDS_FAILURE_WRITE),
                        {why.systemCode != 0 ? SystemText(static_cast<DWORD>(why.systemCode))
                                             : LoadText(instance, IDS_FAILURE_NO_REASON)});
        break;
    case FailureKind::SoundDevice:
        reason = LoadText(instance, IDS_FAILURE_SOUND);
        break;
    }
    return reason + " " +
           FillIn(LoadText(instance, IDS_FAILURE_KEPT), {engine->GetFileName(), Duration(engine->KeptMilliseconds())});
}

bool RecordingController::ConfirmDiskSpace()
{
    char directory[kPrefsPathSize];
    prefs.GetMovieDirectory(directory, sizeof directory);
    uint64_t available = 0;
    // A directory the system cannot measure is left to the start, which says what is wrong.
    if (!host.FreeBytes(directory, available))
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
    return Ask(FillIn(LoadText(instance, IDS_LOW_DISK), {directory, ByteSize(available), ByteSize(minute)}),
               IDS_LOW_DISK_CAPTION);
}

void RecordingController::ApplyStoredArea()
{
    if (engine && !ApplyCaptureArea(*engine, prefs.GetCaptureArea()))
        AreaReplaced();
}

void RecordingController::AreaReplaced()
{
    prefs.SetCaptureArea(Prefs::DefaultCaptureArea());
    for (RecordingListener* listener : listeners)
        listener->OnCaptureAreaReplaced();
}

RecordingCounters RecordingController::Counters() const
{
    return engine ? engine->Counters() : RecordingCounters{};
}

RecordingCounters RecordingController::SavedCounters() const
{
    RecordingCounters counters = Counters();
    WIN32_FILE_ATTRIBUTE_DATA file{};
    if (engine && ::GetFileAttributesExA(engine->GetFileName(), GetFileExInfoStandard, &file))
        counters.movieBytes = (uint64_t{file.nFileSizeHigh} << 32) | file.nFileSizeLow;
    return counters;
}
