#pragma once
// The five pages of the settings panel, in tab order. Each stores a setting the moment its
// control changes and hands help requests to the main window. UI thread.

#include "framework/TControls.h"
#include "framework/TDialog.h"

class Prefs;
class PropSheet;

// The first page: recording settings and the four action buttons, which post the panel's
// commands so that a button and a hot key take the same path.
class MoviePage : public TPropertyPage {
public:
    MoviePage(PropSheet& sheet, Prefs& prefs, HINSTANCE instance);
    // Called by the panel: the Start/Stop and Pause/Resume labels.
    void ShowRecording(bool recording);
    void ShowPaused(bool paused);

protected:
    bool SetupWindow() override;
    bool OnCommand(int id, int code, HWND control) override;
    void OnSheetHelp() override;

private:
    void OnClickStartStop();
    void PostCommand(UINT message, WPARAM wparam) const;

    PropSheet& sheet_;
    Prefs& prefs_;
    TButton startStop_;
    TButton pause_;
    bool recording_ = false;  // mirrors the panel's flag
};

class SoundPage : public TPropertyPage {
public:
    SoundPage(Prefs& prefs, HINSTANCE instance);

protected:
    void OnSheetHelp() override;

private:
    Prefs& prefs_;
};

// Shows the path the next recording will be written to.
class PathPage : public TPropertyPage {
public:
    PathPage(Prefs& prefs, HINSTANCE instance);
    void RefreshDestination();

protected:
    INT_PTR HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override;
    bool SetupWindow() override;
    bool OnCommand(int id, int code, HWND control) override;
    void OnSheetHelp() override;

private:
    void OnClickAutoIncrement();

    Prefs& prefs_;
    TEdit path_;
    TCheckBox autoIncrement_;
};

class KeySetPage : public TPropertyPage {
public:
    KeySetPage(PropSheet& sheet, Prefs& prefs, HINSTANCE instance);

protected:
    void OnSheetHelp() override;

private:
    PropSheet& sheet_;
    Prefs& prefs_;
};

// The product picture; no input, no Help button.
class AboutPage : public TPropertyPage {
public:
    explicit AboutPage(HINSTANCE instance);
};
