#pragma once
// The five pages of the settings panel, in tab order. Each stores a setting the moment its
// control changes and hands help requests to the main window. UI thread.

#include "framework/TControls.h"
#include "framework/TDialog.h"
#include "panel/HotKey.h"
#include "panel/RecordingController.h"

#include <mmreg.h>

#include <cstdint>
#include <functional>
#include <string>

class Prefs;

// What the pages ask of the settings panel.
class PanelCommands {
public:
    // Posts a recording command, so that a button and a hot key take the same path.
    virtual void PostCommand(RecordingCommand command) = 0;
    // A stop while a recording runs, else a start.
    virtual void PostStartOrStop() = 0;
    virtual RecordingState RecorderState() const = 0;
    // Adds or removes the status icon at once.
    virtual void ShowStatusIcon(bool on) = 0;
    // Registers the four hot keys from the store again.
    virtual void RegisterHotKeys() = 0;
    // The key of Hot Keys page row 0..3 could not be registered the last time.
    virtual bool HotKeyTaken(int row) const = 0;
    virtual void ShowMessage(const char* text, const char* title) = 0;

protected:
    ~PanelCommands() = default;
};

// The first page: recording settings and the four action buttons, which post the panel's
// commands so that a button and a hot key take the same path. Its labels follow the recorder.
class MoviePage : public TPropertyPage, public RecordingListener {
public:
    // Starts a program from a full command line; true when it started.
    using Launcher = std::function<bool(const std::string& commandLine)>;

    MoviePage(PanelCommands& sheet, Prefs& prefs, HINSTANCE instance);
    // The Start/Stop and Pause/Resume labels for `state`.
    void OnRecordingState(RecordingState state) override;
    void OnCaptureAreaReplaced() override;
    // Shows the stored capture area and the name of the stored capture mode.
    void ShowCaptureArea();
    void ShowCaptureMode();
    // Tests replace the process launch of Play Movie.
    void SetLauncher(Launcher replacement) { launcher = std::move(replacement); }
    // Play Movie: the companion player on the last movie recorded, or on `path`.
    void PlayLastMovie();
    void PlayMovie(const char* path);

    // The companion movie player started by Play Movie, looked for in the program directory.
    static constexpr const char* kPlayerName = "vored102.exe";
    // The text shown for a screen of `bitsPerPixel`: the depth a recording has on it, with the
    // Lossless switch on or off.
    static const char* DepthText(int bitsPerPixel, bool losslessOn);
    // The player and the movie, each quoted, so that a directory with spaces in it cannot
    // start another program. No movie yet gives the player alone.
    static std::string PlayerCommandLine(const char* programDirectory, const char* movie);

protected:
    bool SetupWindow() override;
    bool OnCommand(int id, int code, HWND control) override;
    void OnSheetHelp() override;

private:
    void FillFrameRates();
    void OnCloseUpFrameRate();
    void OnClickHideCursor();
    void OnClickHideVorlux();
    void OnClickLossless();
    void ShowDepth();
    void OnClickStatusIcon();
    void OnClickHighlightClicks();
    void OnClickCursorHalo();
    void FillShowKeys();
    void OnSelectShowKeys();
    void OnCloseUpMovieFormat();
    void OnCloseUpFrameFormat();
    // The Capture Area dialog runs here; after OK the page shows the stored mode and area
    // again with ShowCaptureMode and ShowCaptureArea.
    void OnClickResize();
    void OnClickPlayMovie();

    PanelCommands& sheet;
    Prefs& prefs;
    TComboBox frameRate;
    TStatic depth;
    TEdit mode;
    TStatic left;
    TStatic top;
    TStatic width;
    TStatic height;
    TCheckBox hideCursor;
    TCheckBox hideVorlux;
    TCheckBox lossless;
    TCheckBox statusIcon;
    TCheckBox highlightClicks;
    TCheckBox cursorHalo;
    TComboBox showKeys;
    TButton startStop;
    TComboBox movieFormat;
    TComboBox frameFormat;
    TButton pause;
    Launcher launcher;
};

// Sound on or off and the sound format, which changes only through the platform's format
// chooser.
class SoundPage : public TPropertyPage {
public:
    // Runs the format chooser owned by `owner`, opened on `format`; true with the choice in
    // `format`, false when cancelled or failed.
    using FormatChooser = std::function<bool(HWND owner, WAVEFORMATEX& format)>;

    SoundPage(Prefs& prefs, HINSTANCE instance);
    void SetFormatChooser(FormatChooser replacement) { chooser = std::move(replacement); }

    // PCM in the stored format; all zero but the tag when a stored value is missing or absurd,
    // so that the chooser opens on its own default.
    static WAVEFORMATEX InitialFormat(int32_t channels, int32_t frequency, int32_t bits);
    // The audio compression manager's chooser, limited to what a wave-in device records.
    static bool RunAcmChooser(HWND owner, WAVEFORMATEX& format);

protected:
    bool SetupWindow() override;
    bool OnCommand(int id, int code, HWND control) override;
    void OnSheetHelp() override;

private:
    void ShowFormat();
    void OnClickEnable();
    void OnClickFormat();
    void OnCloseUpBufferCount();
    bool OnNotify(int id, NMHDR* header) override;

    Prefs& prefs;
    TCheckBox enable;
    TComboBox bufferCount;
    TEdit frequency;
    TEdit dataSize;
    TEdit channels;
    FormatChooser chooser;
};

// Shows the path the next recording will be written to and lets the user choose another
// directory and base name. A recording's end moves it on to the next name.
class PathPage : public TPropertyPage, public RecordingListener {
public:
    // Runs the file-save dialog owned by `owner` in `directory`; true with the chosen full
    // path, false when cancelled.
    using SaveDialog = std::function<bool(HWND owner, const char* directory, std::string& chosen)>;

    PathPage(Prefs& prefs, HINSTANCE instance);
    void RefreshDestination();
    void OnRecordingState(RecordingState state) override;
    void SetSaveDialog(SaveDialog dialog) { saveDialog = std::move(dialog); }

    struct Destination {
        std::string directory;  // before the last backslash; "D:" for a file at a drive's root
        std::string baseName;   // the file name cut at its first dot
    };
    // False when the path has no directory part.
    static bool SplitDestination(const std::string& full, Destination& out);
    // "%c", "%w" or "%s" when `directory` is the program, Windows or system directory,
    // ignoring case; otherwise the directory itself.
    static std::string DirectoryToken(const std::string& directory, const char* programDirectory);
    static bool RunSaveDialog(HWND owner, const char* directory, std::string& chosen);

protected:
    INT_PTR HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override;
    bool SetupWindow() override;
    bool OnCommand(int id, int code, HWND control) override;
    void OnSheetHelp() override;

private:
    void OnClickAutoIncrement();
    void OnClickReset();

    Prefs& prefs;
    TEdit path;
    TCheckBox autoIncrement;
    SaveDialog saveDialog;
};

// The four global hot keys by name; each is changed in the hot-key dialog or put back to its
// default, stored at once and registered again.
class KeySetPage : public TPropertyPage {
public:
    // Runs the hot-key dialog on `block`; one of kHotKeyChosen, kHotKeyDefault,
    // kHotKeyUnchanged.
    using KeyDialog = std::function<INT_PTR(HotKeyBlock& block)>;

    KeySetPage(PanelCommands& sheet, Prefs& prefs, HINSTANCE instance);
    void SetKeyDialog(KeyDialog dialog) { keyDialog = std::move(dialog); }

protected:
    bool SetupWindow() override;
    bool OnCommand(int id, int code, HWND control) override;
    void OnSheetHelp() override;

private:
    static constexpr int kKeyCount = 4;
    void OnClickKey(int row);
    void ShowKey(int row);

    PanelCommands& sheet;
    Prefs& prefs;
    TButton keys[kKeyCount];
    KeyDialog keyDialog;
};

// The product picture, the version and where the settings are; no input, no Help button.
class AboutPage : public TPropertyPage {
public:
    AboutPage(Prefs& prefs, HINSTANCE instance);

protected:
    bool SetupWindow() override;

private:
    Prefs& prefs;
};
