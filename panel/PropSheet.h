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

class CaptureEngine;
class CaptureFactory;
class Prefs;

class PropSheet : public TPropertySheet, private StatusIconOwner {
public:
    static constexpr const char* kCaption = "Vorlux 3.0";

    PropSheet(HWND parent, HINSTANCE instance, Prefs& prefs);
    ~PropSheet() override;

    // Registers the four hot keys from the store, each as Ctrl+Shift+its key.
    void RegisterHotKeys();

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

    // Seams for tests: the parts the engine is built from, and the start-error message box.
    virtual std::unique_ptr<CaptureFactory> CreateFactory();
    virtual void ShowMessage(const char* text, const char* title);

private:
    void OnHotKey(int id, WPARAM wparam, LPARAM lparam);
    // F1 on the sheet's own controls (tabs, buttons): the help of the page in view.
    void OnHelp(const HELPINFO* info);
    void CaptureStart();
    void CaptureStop();
    void CapturePause();
    void CaptureFrame();
    void ReportStartError(int32_t code);
    void HideForCapture();
    // Hands the engine the stored capture area; one it refuses is replaced by the default
    // area, in the engine and in the store, so the Movie page shows what is recorded.
    void ApplyCaptureArea();
    // The output path from the stored directory and a name; false when it is empty or too long.
    bool JoinPath(const char* name, char* path, size_t size) const;
    std::string LoadText(int id) const;
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

    Prefs& prefs;
    std::unique_ptr<CaptureEngine> engine;  // built at set-up
    bool recording = false;                 // a recording this panel started and has not stopped
    MoviePage movie;
    SoundPage sound;
    PathPage destination;
    KeySetPage keys;
    AboutPage about;
    TShell systemShell;
    TShell* shell = &systemShell;  // not owned
    StatusIcon status;             // made with the window, gone before it
};
