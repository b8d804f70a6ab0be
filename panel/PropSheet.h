#pragma once
// The settings panel: a property sheet that holds the recording controller, registers the four
// global hot keys and turns hot keys, the Movie page's buttons and the status icon's menu into
// the controller's commands, each posted so that all take one path. UI thread.

#include "framework/TPropertySheet.h"
#include "framework/TShell.h"
#include "panel/GlobalHotKeys.h"
#include "panel/Pages.h"
#include "panel/RecordingController.h"
#include "panel/StatusIcon.h"

#include <cstdint>
#include <memory>
#include <string>

class CaptureEngine;
class CaptureFactory;
class Prefs;

class PropSheet : public TPropertySheet,
                  private StatusIconOwner,
                  private PanelCommands,
                  private RecordingHost {
public:
    static constexpr const char* kCaption = "Vorlux 3.0";

    PropSheet(HWND parent, HINSTANCE instance, Prefs& prefs);
    ~PropSheet() override;

    // Registers the four hot keys from the store; a key another program holds is reported once
    // the message loop runs, and is left unregistered.
    void RegisterHotKeys() override;
    bool HotKeyTaken(int row) const override;

    const RecordingController& Recorder() const { return recorder; }
    bool IsRecording() const { return recorder.Recording(); }
    CaptureEngine* Engine() const { return recorder.Engine(); }
    MoviePage& Movie() { return movie; }
    PathPage& Destination() { return destination; }
    SoundPage& Sound() { return sound; }
    KeySetPage& Keys() { return keys; }
    StatusIcon& Status() { return status; }
    // Tests watch Open Movie Folder instead of opening a folder window.
    void SetShell(TShell& replacement) { shell = &replacement; }

protected:
    LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override;
    void SetupWindow() override;
    void CleanupWindow() override;
    bool CanClose() override;

    // Seams for tests: the parts the engine is built from, the message box with its OK button,
    // the question with Yes and No (true for Yes), and the room on the movie's drive.
    virtual std::unique_ptr<CaptureFactory> CreateFactory();
    void ShowMessage(const char* text, const char* title) override;
    bool AskMessage(const char* text, const char* title) override;
    bool FreeBytes(const char* directory, uint64_t& bytes) override;

private:
    void OnHotKey(int id);
    // F1 on the sheet's own controls (tabs, buttons): the help of the page in view.
    void OnHelp(const HELPINFO* info);
    void ReportHotKeys();
    void Post(UINT message, WPARAM wparam) const;
    void ShowPanel();

    // The pages' requests.
    void PostCommand(RecordingCommand command) override;
    void PostStartOrStop() override;
    RecordingState RecorderState() const override { return recorder.State(); }
    void ShowStatusIcon(bool on) override { status.SetVisible(on); }

    // What the controller needs of this window.
    void HideForCapture() override;
    void ShowAfterCapture() override;
    bool StartSnapshotTimer() override;
    void Repost(RecordingCommand command) override { PostCommand(command); }

    // The status icon's questions and requests.
    RecordingCounters StatusCounters() override { return recorder.Counters(); }
    bool CanPlayLastMovie() override;
    bool CanOpenMovieFolder() override;
    bool CanExit() override;
    void OnStatusCommand(StatusCommand command) override;
    void OnStatusActivate() override;
    void OnStatusPlayMovie(const std::string& path) override;

    Prefs& prefs;
    GlobalHotKeys hotKeys;  // ids 20 to 23
    MoviePage movie;
    SoundPage sound;
    PathPage destination;
    KeySetPage keys;
    AboutPage about;
    TShell systemShell;
    TShell* shell = &systemShell;  // not owned
    StatusIcon status;             // made with the window, gone before it
    RecordingController recorder;  // made after the pages and the icon it tells, gone before them
};
