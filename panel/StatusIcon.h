#pragma once
// The recorder's icon in the notification area. Its picture and tooltip follow the recording's
// state, its menu offers what the hot keys and the Movie page's buttons do, and a notification
// says where a finished movie went. It lives on a hidden top-level window of its own: a
// message-only window would miss the shell's TaskbarCreated broadcast and could not own the
// menu. UI thread.

#include "common/RecordingCounters.h"
#include "framework/Scoped.h"
#include "framework/TShell.h"
#include "framework/TWindow.h"
#include "panel/RecordingController.h"
#include "panel/StatusModel.h"

#include <functional>
#include <string>

// The menu's items by command id, in menu order.
enum class StatusCommand : UINT {
    StartStop = 1,
    PauseResume,
    CaptureFrame,
    PlayLastMovie,
    OpenMovieFolder,
    Settings,
    Exit,
};

// What the icon asks of the window it belongs to, the settings panel. UI thread.
class StatusIconOwner {
public:
    virtual RecordingCounters StatusCounters() = 0;
    // Whether Play Last Movie and Open Movie Folder have something to open now.
    virtual bool CanPlayLastMovie() = 0;
    virtual bool CanOpenMovieFolder() = 0;
    // Whether the program may end now: not while one of its dialogs waits for an answer.
    virtual bool CanExit() = 0;
    virtual void OnStatusCommand(StatusCommand command) = 0;
    // A click on the icon, Enter on it, or a click on a notification that named no movie.
    virtual void OnStatusActivate() = 0;
    // A click on the notification of a saved movie: that movie, as its path was given.
    virtual void OnStatusPlayMovie(const std::string& path) = 0;

protected:
    ~StatusIconOwner() = default;
};

class StatusIcon : public TWindow, public RecordingListener {
public:
    // Shows the menu at a screen point for `owner`; the chosen command's id, or 0.
    using MenuRunner = std::function<UINT(HWND owner, HMENU menu, POINT at)>;

    static constexpr UINT kIconId = 1;
    static constexpr UINT_PTR kTooltipTimer = 1;
    static constexpr UINT kTooltipPeriodMs = 1000;

    StatusIcon(StatusIconOwner& owner, HINSTANCE instance);
    ~StatusIcon() override;

    // Tests replace the notification area and the menu before Start.
    void SetNotifyArea(TNotifyArea& area) { notifyArea = &area; }
    void SetMenuRunner(MenuRunner runner) { menuRunner = std::move(runner); }

    // Makes the window and, when `visible`, adds the icon. False when the window cannot be made.
    bool Start(bool visible);
    // Removes the icon and destroys the window.
    void Stop();
    // Adds or removes the icon; the state goes on being followed either way.
    void SetVisible(bool visible);
    bool Visible() const { return visible; }
    bool Added() const { return added; }

    // The recorder's state: the picture, the tooltip and the menu follow it.
    void OnRecordingState(RecordingState state) override;
    // A recording ended with its movie complete: `path` in the program's code page, its time
    // and size. The notification's click plays it.
    void OnRecordingSaved(const std::string& path, const RecordingCounters& counters) override;
    // A recording failed: the failed picture, and the reason in the tooltip and a notification
    // (text in the program's code page, as a message box shows it).
    void OnRecordingFailed(const std::string& reason) override;

    const StatusModel& Model() const { return model; }
    // The menu as it would show now; the caller owns it.
    ScopedMenu BuildMenu();

protected:
    const char* ClassName() const override { return "VorluxStatusIcon"; }
    LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override;
    bool SetupWindow() override;
    void CleanupWindow() override;

private:
    enum class Notice { None, Saved, Failed };
    static constexpr size_t kStateCount = 4;  // RecorderState's values

    void OnStatusIcon(UINT event, POINT at);
    void OnTimer(UINT_PTR id);
    void OnTaskbarCreated();
    void OnContextMenu(POINT at);
    void OnNotificationClick();

    bool LoadIcons();
    NOTIFYICONDATAW IconData(UINT flags) const;
    bool AddIcon();
    void RemoveIcon();
    // Picture and tooltip for the model's state.
    void Refresh();
    void SyncTimer();
    void UpdateTooltip();
    void ShowNotice(Notice kind, const std::string& utf8Text, DWORD infoFlags);

    StatusIconOwner& owner;
    HINSTANCE instance;
    StatusModel model;
    TNotifyArea systemArea;
    TNotifyArea* notifyArea = &systemArea;  // not owned
    MenuRunner menuRunner;
    ScopedIcon icons[kStateCount];          // by RecorderState
    UINT taskbarCreated = 0;                // the shell's broadcast after it (re)starts
    bool visible = false;                   // the user wants the icon
    bool added = false;                     // the shell has it
    std::string tooltip;                    // as the shell has it, UTF-8
    Notice notice = Notice::None;
    std::string savedMovie;                 // the saved notification's movie
};
