#include "panel/Pages.h"

#include "app/Messages.h"
#include "app/resource.h"
#include "panel/PropSheet.h"
#include "settings/Prefs.h"

#include <cstdio>

namespace {
void SendHelpCommand(HWND mainWindow, int command)
{
    if (mainWindow)
        ::SendMessageA(mainWindow, WM_COMMAND, static_cast<WPARAM>(command), 0);
}
}  // namespace

MoviePage::MoviePage(PropSheet& sheet, Prefs& prefs, HINSTANCE instance)
    : TPropertyPage(IDD_MOVIE, instance, true), sheet_(sheet), prefs_(prefs)
{
}

bool MoviePage::SetupWindow()
{
    startStop_.Attach(Handle(), IDC_MOVIE_START);
    pause_.Attach(Handle(), IDC_MOVIE_PAUSE);
    return true;
}

void MoviePage::ShowRecording(bool recording)
{
    recording_ = recording;
    startStop_.SetText(recording ? "&Stop Recording" : "&Start Recording");
}

void MoviePage::ShowPaused(bool paused)
{
    pause_.SetText(paused ? "&Resume Recording" : "&Pause Recording");
}

bool MoviePage::OnCommand(int id, int code, HWND)
{
    if (code != BN_CLICKED)
        return false;
    switch (id) {
    case IDC_MOVIE_START:
        OnClickStartStop();
        return true;
    case IDC_MOVIE_PAUSE:
        PostCommand(kMsgCapturePause, 0);
        return true;
    case IDC_MOVIE_FRAME:
        PostCommand(kMsgCaptureFrame, 0);
        return true;
    }
    return false;
}

void MoviePage::OnClickStartStop()
{
    PostCommand(recording_ ? kMsgCaptureStop : kMsgCaptureStart, recording_ ? 1 : 0);
}

void MoviePage::PostCommand(UINT message, WPARAM wparam) const
{
    ::PostMessageA(sheet_.Handle(), message, wparam, 0);
}

void MoviePage::OnSheetHelp()
{
    SendHelpCommand(SheetOwner(), kCmdHelpMovie);
}

SoundPage::SoundPage(Prefs& prefs, HINSTANCE instance) : TPropertyPage(IDD_SOUND, instance, true), prefs_(prefs)
{
}

void SoundPage::OnSheetHelp()
{
    SendHelpCommand(SheetOwner(), kCmdHelpDestinationSound);
}

PathPage::PathPage(Prefs& prefs, HINSTANCE instance)
    : TPropertyPage(IDD_DESTINATION, instance, true), prefs_(prefs)
{
}

INT_PTR PathPage::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_PAINT) {
        // The next free number depends on the files on disk: show it afresh whenever the page
        // comes into view. The default dialog painting still runs.
        RefreshDestination();
        return FALSE;
    }
    return TPropertyPage::HandleMessage(message, wparam, lparam);
}

bool PathPage::SetupWindow()
{
    path_.Attach(Handle(), IDC_DEST_PATH);
    autoIncrement_.Attach(Handle(), IDC_DEST_AUTO);
    RefreshDestination();
    return true;
}

void PathPage::RefreshDestination()
{
    if (!Handle())
        return;
    char directory[kPrefsPathSize];
    char name[kPrefsPathSize];
    prefs_.GetMovieDirectory(directory, sizeof directory);
    prefs_.GetNextMovieName(name, sizeof name);
    char path[2 * kPrefsPathSize];
    std::snprintf(path, sizeof path, "%s\\%s", directory, name);
    std::string shown = path_.GetText();
    if (shown != path)  // setting the same text again would repaint, and repainting refreshes
        path_.SetText(path);
    autoIncrement_.SetCheck(prefs_.GetAutoIncrement());
}

bool PathPage::OnCommand(int id, int code, HWND)
{
    if (id == IDC_DEST_AUTO && code == BN_CLICKED) {
        OnClickAutoIncrement();
        return true;
    }
    return false;
}

void PathPage::OnClickAutoIncrement()
{
    prefs_.SetAutoIncrement(autoIncrement_.IsChecked());
    RefreshDestination();
}

void PathPage::OnSheetHelp()
{
    SendHelpCommand(SheetOwner(), kCmdHelpDestinationSound);
}

KeySetPage::KeySetPage(PropSheet& sheet, Prefs& prefs, HINSTANCE instance)
    : TPropertyPage(IDD_HOTKEYS, instance, true), sheet_(sheet), prefs_(prefs)
{
}

void KeySetPage::OnSheetHelp()
{
    SendHelpCommand(SheetOwner(), kCmdHelpHotKeys);
}

AboutPage::AboutPage(HINSTANCE instance) : TPropertyPage(IDD_ABOUT, instance, false) {}
