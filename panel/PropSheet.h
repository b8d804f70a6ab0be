#pragma once
// The settings panel: a property sheet that owns the capture engine, registers the four global
// hot keys and turns hot keys and the Movie page's buttons into the four commands. Every
// command reads the settings store afresh. UI thread.

#include "framework/TPropertySheet.h"
#include "framework/TShell.h"
#include "panel/Pages.h"
#include "panel/StatusIcon.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CaptureEngine;
class CaptureFactory;
class Prefs;

class PropSheet : public TPropertySheet, private StatusIconOwner {
public:
    static constexpr const char* kCaption = "Vorlux 3.0";

    PropSheet(HWND parent, HINSTANCE instance, Prefs& prefs);
    ~PropSheet() override;

    // Registers the four hot keys from the store, each as Ctrl+Shift+its key. A key that keeps
    // its combination stays registered; a key that another program holds is reported once the
    // message loop runs, and is left unregistered.
    void RegisterHotKeys();
    // The key of Hot Keys page row 0..3 could not be registered the last time.
    bool HotKeyTaken(int row) const;

    bool IsRecording() const { return recording; }
    CaptureEngine* Engine() const { return engine.get(); }
    MoviePage& Movie() { return movie; }
    PathPage& Destination() { return destination; }
    SoundPage& Sound() { return sound; }
    KeySetPage& Keys() { return keys; }
    StatusIcon& Status() { return status; }
    // The Movie page's "Show status icon": adds or removes the icon at once.
    void ShowStatusIcon(bool on) { status.SetVisible(on); }
    // Tests watch Open Movie Folder instead of opening a folder window.
    void SetShell(TShell& replacement) { shell = &replacement; }

protected:
    LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override;
    void SetupWindow() override;
    void CleanupWindow() override;
    bool CanClose() override;

    // Seams for tests: the parts the engine is built from, the message box with its OK button,
    // and the question with Yes and No (true for Yes).
    virtual std::unique_ptr<CaptureFactory> CreateFactory();
    virtual void ShowMessage(const char* text, const char* title);
    virtual bool AskMessage(const char* text, const char* title);
    // The bytes the caller may still write in `directory`; false when the system cannot tell.
    virtual bool FreeBytes(const char* directory, uint64_t& bytes);

private:
    void OnHotKey(int id, WPARAM wparam, LPARAM lparam);
    // F1 on the sheet's own controls (tabs, buttons): the help of the page in view.
    void OnHelp(const HELPINFO* info);
    void OnCaptureCommand(UINT command);
    void CaptureStart();
    void CaptureStop();
    void CapturePause();
    void CaptureFrame();
    void OnRecordingFailed();
    // The frame depth and the compressor, from the screen's depth and the Lossless switch.
    void ChooseFrameFormat();
    // False for a timer that is not the panel's.
    bool OnTimer(UINT_PTR id);
    // Saves the waiting snapshot, shows the panel and runs the commands that came meanwhile.
    void SaveSnapshot();
    void ReportStartError(int32_t code);
    // Says why the last recording ended on its own, once; nothing when it did not.
    void ReportRecordingFailure();
    void ReportHotKeys();
    void ReportSnapshotFailure(const char* path);
    // False when the movie's drive holds less than about a minute of recording at the engine's
    // settings and the user chose not to go on.
    bool ConfirmDiskSpace();
    void HideForCapture();
    // Hands the engine the stored capture area; one it refuses is replaced by the default
    // area, in the engine and in the store, so the Movie page shows what is recorded.
    void ApplyCaptureArea();
    // The output path from the stored directory and a name; false when it is empty or too long.
    bool JoinPath(const char* name, char* path, size_t size) const;
    void Post(UINT message, WPARAM wparam) const;
    void ShowPanel();
    // The finished movie's time, and its size as the file now holds it.
    RecordingCounters SavedCounters() const;

    // The status icon's questions and requests.
    RecordingCounters StatusCounters() override;
    bool CanPlayLastMovie() override;
    bool CanOpenMovieFolder() override;
    bool CanExit() override;
    void OnStatusCommand(StatusCommand command) override;
    void OnStatusActivate() override;
    void OnStatusPlayMovie(const std::string& path) override;

    struct HotKeySlot {
        UINT vk = 0;              // the key registered or tried last
        bool registered = false;  // ours now: to be unregistered before it changes
        bool taken = false;       // the registration failed
        int sharedWith = -1;      // taken by this row of ours, or -1
    };
    static constexpr int kHotKeyCount = 4;

    Prefs& prefs;
    std::unique_ptr<CaptureEngine> engine;  // built at set-up
    bool recording = false;                 // a recording this panel started and has not stopped
    HotKeySlot hotKeys[kHotKeyCount];       // ids 20 to 23
    std::string snapshotPath;               // the snapshot waiting for its timer, if any
    std::vector<UINT> deferred;             // commands that came meanwhile, in order
    MoviePage movie;
    SoundPage sound;
    PathPage destination;
    KeySetPage keys;
    AboutPage about;
    TShell systemShell;
    TShell* shell = &systemShell;  // not owned
    StatusIcon status;             // made with the window, gone before it
};
