#pragma once
// The settings panel: a property sheet that owns the capture engine, registers the four global
// hot keys and turns hot keys and the Movie page's buttons into the four commands. Every
// command reads the settings store afresh. UI thread.

#include "framework/TPropertySheet.h"
#include "panel/Pages.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CaptureEngine;
class CaptureFactory;
class Prefs;

class PropSheet : public TPropertySheet {
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
    void OnCaptureCommand(UINT command);
    void CaptureStart();
    void CaptureStop();
    void CapturePause();
    void CaptureFrame();
    // False for a timer that is not the panel's.
    bool OnTimer(UINT_PTR id);
    // Saves the waiting snapshot, shows the panel and runs the commands that came meanwhile.
    void SaveSnapshot();
    void ReportStartError(int32_t code);
    void HideForCapture();
    // Hands the engine the stored capture area; one it refuses is replaced by the default
    // area, in the engine and in the store, so the Movie page shows what is recorded.
    void ApplyCaptureArea();
    // The output path from the stored directory and a name; false when it is empty or too long.
    bool JoinPath(const char* name, char* path, size_t size) const;

    Prefs& prefs;
    std::unique_ptr<CaptureEngine> engine;  // built at set-up
    bool recording = false;                 // a recording this panel started and has not stopped
    std::string snapshotPath;               // the snapshot waiting for its timer, if any
    std::vector<UINT> deferred;             // commands that came meanwhile, in order
    MoviePage movie;
    SoundPage sound;
    PathPage destination;
    KeySetPage keys;
    AboutPage about;
};
