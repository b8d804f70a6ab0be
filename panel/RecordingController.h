#pragma once
// The one owner of "what the recorder is doing now". It owns the capture engine, and every
// start, stop, pause and snapshot - from the Movie page's buttons, the hot keys, the status
// icon's menu or the engine's failure notice - comes to it as a command. A command that does
// not fit the state is refused here, with a trace line. The pages and the status icon are told
// each change and draw their labels from it. No window of its own. UI thread.

#include "common/RecordingCounters.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CaptureEngine;
class CaptureFactory;
class Prefs;

// Asking: a question or a message of the controller's is open, and its own loop may deliver
// commands. Stopping: from the stop until the user has read why a recording failed.
// Snapshot: a snapshot waits for the screen to repaint.
enum class RecordingState { Idle, Asking, Recording, Paused, Stopping, Failed, Snapshot };
// Failure is the engine's notice that a recording ended on its own.
enum class RecordingCommand { Start, Stop, Pause, Frame, Failure };

inline constexpr int kRecordingStates = 7;
inline constexpr int kRecordingCommands = 5;

// What the controller needs of the window it works for.
class RecordingHost {
public:
    virtual void ShowMessage(const char* text, const char* title) = 0;
    // True for Yes.
    virtual bool AskMessage(const char* text, const char* title) = 0;
    // The bytes the caller may still write in `directory`; false when the system cannot tell.
    virtual bool FreeBytes(const char* directory, uint64_t& bytes) = 0;
    // Out of the way of the frames; shown again after the recording or snapshot.
    virtual void HideForCapture() = 0;
    virtual void ShowAfterCapture() = 0;
    // Calls OnSnapshotTimer about 100 ms from now; false when no timer could be set.
    virtual bool StartSnapshotTimer() = 0;
    // Hands a command back to the queue, behind what is already waiting.
    virtual void Repost(RecordingCommand command) = 0;

protected:
    ~RecordingHost() = default;
};

// Told each change; the state and its texts are read from the controller.
class RecordingListener {
public:
    virtual void OnRecordingState(RecordingState state) = 0;
    // A recording ended with its movie complete.
    virtual void OnRecordingSaved(const std::string&, const RecordingCounters&) {}
    // A recording ended on its own; `reason` says why and what is kept.
    virtual void OnRecordingFailed(const std::string&) {}
    // The stored area was refused and the default area stored instead.
    virtual void OnCaptureAreaReplaced() {}

protected:
    ~RecordingListener() = default;
};

class RecordingController {
public:
    RecordingController(Prefs& prefs, HINSTANCE instance, RecordingHost& host);
    ~RecordingController();
    RecordingController(const RecordingController&) = delete;
    RecordingController& operator=(const RecordingController&) = delete;

    // Builds the engine once; its failure notice is posted to `window` as `message`.
    void Attach(std::unique_ptr<CaptureFactory> factory, HWND window, UINT message);
    void AddListener(RecordingListener& listener);
    // The stored area, handed to the engine at once so that the Movie page shows what is recorded.
    void ApplyStoredArea();

    void Command(RecordingCommand command);
    void OnSnapshotTimer();
    // The panel is going away: a running recording ends, nobody is told.
    void Shutdown();

    RecordingState State() const { return state; }
    bool Recording() const { return state == RecordingState::Recording || state == RecordingState::Paused; }
    // Why the last recording failed, until the next one starts; empty when it did not.
    const std::string& FailureReason() const { return failureReason; }
    RecordingCounters Counters() const;
    CaptureEngine* Engine() const { return engine.get(); }

    // What a command does in a state; Refuse leaves everything as it is.
    enum class Action { Refuse, Start, Stop, Pause, Frame, Wait };
    static Action ActionFor(RecordingState state, RecordingCommand command);
    static const char* Name(RecordingState state);
    static const char* Name(RecordingCommand command);

private:
    void Start();
    void Stop();
    void Pause();
    void Frame();
    void SaveSnapshot();
    void SetState(RecordingState next);
    // Shows a message or asks, in state Asking so that commands from its loop are refused.
    void Tell(const std::string& text, int captionId);
    bool Ask(const std::string& text, int captionId);
    void ReportStartError(int32_t code);
    // The text that says why the recording ended on its own; empty when it did not.
    std::string FailureText();
    // False when the drive holds less than about a minute of recording at the engine's settings
    // and the user chose not to go on.
    bool ConfirmDiskSpace();
    void AreaReplaced();
    // The finished movie's time, and its size as the file now holds it.
    RecordingCounters SavedCounters() const;

    Prefs& prefs;
    HINSTANCE instance;
    RecordingHost& host;
    std::unique_ptr<CaptureEngine> engine;
    std::vector<RecordingListener*> listeners;  // not owned
    RecordingState state = RecordingState::Idle;
    RecordingState afterSnapshot = RecordingState::Idle;  // Idle or Failed
    std::string failureReason;
    std::string snapshotPath;                  // the snapshot waiting for its timer
    std::vector<RecordingCommand> waiting;     // commands that came meanwhile, in order
};
