#include "panel/StatusIcon.h"

#include "diag/DebugTrace.h"
#include "ids/Messages.h"
#include "ids/resource.h"

#include <commctrl.h>

#include <cwchar>
#include <iterator>
#include <utility>

namespace {

// The pictures by RecorderState.
constexpr int kIconIds[] = {IDI_STATUS_IDLE, IDI_STATUS_RECORDING, IDI_STATUS_PAUSED, IDI_STATUS_FAILED};

constexpr char kNoticeTitle[] = "Vorlux 3.0";

struct MenuItem {
    StatusCommand command;
    const wchar_t* label;
    const wchar_t* activeLabel;  // while a recording runs (or, for Pause, while paused)
    bool separatorAfter;
};
constexpr MenuItem kMenu[] = {
    {StatusCommand::StartStop, L"&Start Recording", L"S&top Recording", false},
    {StatusCommand::PauseResume, L"&Pause Recording", L"&Resume Recording", false},
    {StatusCommand::CaptureFrame, L"&Capture Frame", nullptr, true},
    {StatusCommand::PlayLastMovie, L"Play &Last Movie", nullptr, false},
    {StatusCommand::OpenMovieFolder, L"Open Movie &Folder", nullptr, true},
    {StatusCommand::Settings, L"S&ettings\u2026", nullptr, true},
    {StatusCommand::Exit, L"E&xit", nullptr, false},
};

// The menu of a notification icon closes on a click elsewhere only when its owner is the
// foreground window, and the message posted after it lets the shell see the menu end.
UINT RunTrayMenu(HWND owner, HMENU menu, POINT at)
{
    ::SetForegroundWindow(owner);
    UINT flags = TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTBUTTON;
    flags |= ::GetSystemMetrics(SM_MENUDROPALIGNMENT) ? TPM_RIGHTALIGN : TPM_LEFTALIGN;
    auto chosen = static_cast<UINT>(::TrackPopupMenuEx(menu, flags, at.x, at.y, owner, nullptr));
    ::PostMessageA(owner, WM_NULL, 0, 0);
    return chosen;
}

template <size_t N>
void CopyText(wchar_t (&field)[N], const std::string& utf8)
{
    std::wstring wide = WideFromUtf8(utf8);
    std::wcsncpy(field, wide.c_str(), N - 1);
    field[N - 1] = L'\0';
}

std::string FileNameOf(const std::string& path)
{
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

StatusIcon::StatusIcon(StatusIconOwner& owner, HINSTANCE instance)
    : owner(owner), instance(instance), menuRunner(RunTrayMenu), taskbarCreated(::RegisterWindowMessageA("TaskbarCreated"))
{
    static_assert(std::size(kIconIds) == kStateCount);
}

StatusIcon::~StatusIcon()
{
    // The window goes with the base class, which no longer calls back: leave nothing behind.
    RemoveIcon();
}

bool StatusIcon::Start(bool show)
{
    visible = show;
    if (Handle())
        return true;
    RECT place{0, 0, 0, 0};
    return Create(nullptr, "Vorlux status", WS_POPUP, WS_EX_TOOLWINDOW, place, instance);
}

void StatusIcon::Stop()
{
    RemoveIcon();
    if (Handle())
        ::DestroyWindow(Handle());
}

bool StatusIcon::SetupWindow()
{
    if (!LoadIcons())
        return false;
    // An elevated copy still hears the shell's broadcast.
    if (taskbarCreated && !::ChangeWindowMessageFilterEx(Handle(), taskbarCreated, MSGFLT_ALLOW, nullptr))
        DebugTrace("Status icon: TaskbarCreated stays filtered (%lu)", ::GetLastError());
    if (visible)
        AddIcon();
    return true;
}

void StatusIcon::CleanupWindow()
{
    RemoveIcon();
}

bool StatusIcon::LoadIcons()
{
    for (size_t i = 0; i < std::size(icons); ++i) {
        HICON icon = nullptr;
        // The size the notification area draws at this screen's scale, from the 16 and 32 px
        // pictures; LoadImage at the small-icon size where the common controls lack it.
        if (FAILED(::LoadIconMetric(instance, MAKEINTRESOURCEW(kIconIds[i]), LIM_SMALL, &icon)) || !icon)
            icon = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(kIconIds[i]), IMAGE_ICON,
                                                   ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON), 0));
        if (!icon) {
            DebugTrace("Status icon: picture %d is missing", kIconIds[i]);
            return false;
        }
        icons[i].reset(icon);
    }
    return true;
}

LRESULT StatusIcon::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case kMsgStatusIcon:
        // Version 4: the event in the low word of lParam, the anchor point in wParam.
        OnStatusIcon(LOWORD(lparam), POINT{static_cast<short>(LOWORD(wparam)), static_cast<short>(HIWORD(wparam))});
        return 0;
    case WM_TIMER:
        OnTimer(static_cast<UINT_PTR>(wparam));
        return 0;
    }
    if (message == taskbarCreated && taskbarCreated != 0) {
        OnTaskbarCreated();
        return 0;
    }
    return TWindow::HandleMessage(message, wparam, lparam);
}

void StatusIcon::OnStatusIcon(UINT event, POINT at)
{
    switch (event) {
    case NIN_SELECT:
    case NIN_KEYSELECT:
        owner.OnStatusActivate();
        break;
    case WM_CONTEXTMENU:
        OnContextMenu(at);
        break;
    case NIN_BALLOONUSERCLICK:
        OnNotificationClick();
        break;
    case NIN_BALLOONTIMEOUT:
    case NIN_BALLOONHIDE:
        notice = Notice::None;
        break;
    }
}

void StatusIcon::OnTimer(UINT_PTR id)
{
    if (id == kTooltipTimer)
        UpdateTooltip();
}

// Explorer started again and knows no icons: add ours anew. It says the same after the screen's
// scale changed, so the pictures are loaded again at the new size.
void StatusIcon::OnTaskbarCreated()
{
    added = false;
    if (!LoadIcons())
        DebugTrace("Status icon: the pictures could not be loaded again");
    if (visible)
        AddIcon();
}

void StatusIcon::OnContextMenu(POINT at)
{
    ScopedMenu menu = BuildMenu();
    if (!menu)
        return;
    UINT chosen = menuRunner(Handle(), menu.get(), at);
    if (chosen != 0)
        owner.OnStatusCommand(static_cast<StatusCommand>(chosen));
}

void StatusIcon::OnNotificationClick()
{
    Notice clicked = std::exchange(notice, Notice::None);
    if (clicked == Notice::Saved)
        owner.OnStatusPlayMovie(savedMovie);
    else
        owner.OnStatusActivate();
}

ScopedMenu StatusIcon::BuildMenu()
{
    ScopedMenu menu(::CreatePopupMenu());
    if (!menu)
        return menu;
    const RecorderState state = model.State();
    const bool recording = state == RecorderState::Recording || state == RecorderState::Paused;
    for (const MenuItem& item : kMenu) {
        bool enabled = true;
        bool active = false;
        switch (item.command) {
        case StatusCommand::StartStop:
            active = recording;
            break;
        case StatusCommand::PauseResume:
            enabled = recording;
            active = state == RecorderState::Paused;
            break;
        case StatusCommand::CaptureFrame:  // the panel takes no snapshot while recording
            enabled = !recording;
            break;
        case StatusCommand::PlayLastMovie:  // the last movie is the one being written
            enabled = !recording && owner.CanPlayLastMovie();
            break;
        case StatusCommand::OpenMovieFolder:
            enabled = owner.CanOpenMovieFolder();
            break;
        case StatusCommand::Exit:
            enabled = owner.CanExit();
            break;
        case StatusCommand::Settings:
            break;
        }
        const UINT flags = MF_STRING | (enabled ? MF_ENABLED : MF_GRAYED);
        const wchar_t* label = active && item.activeLabel ? item.activeLabel : item.label;
        if (!::AppendMenuW(menu.get(), flags, static_cast<UINT_PTR>(item.command), label))
            return ScopedMenu();
        if (item.separatorAfter && !::AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr))
            return ScopedMenu();
    }
    // What a click on the icon does, shown in bold.
    ::SetMenuDefaultItem(menu.get(), static_cast<UINT>(StatusCommand::Settings), FALSE);
    return menu;
}

NOTIFYICONDATAW StatusIcon::IconData(UINT flags) const
{
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = Handle();
    data.uID = kIconId;
    data.uFlags = flags;
    return data;
}

bool StatusIcon::AddIcon()
{
    if (added || !Handle())
        return added;
    tooltip = model.Tooltip(owner.StatusCounters());
    NOTIFYICONDATAW data = IconData(NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP);
    data.uCallbackMessage = kMsgStatusIcon;
    data.hIcon = icons[static_cast<int>(model.State())].get();
    CopyText(data.szTip, tooltip);
    if (!notifyArea->Notify(NIM_ADD, data)) {
        // No notification area yet (the shell is starting): TaskbarCreated brings it.
        DebugTrace("Status icon: the notification area refused the icon");
        return false;
    }
    added = true;
    NOTIFYICONDATAW version = IconData(0);
    version.uVersion = NOTIFYICON_VERSION_4;
    if (!notifyArea->Notify(NIM_SETVERSION, version))
        DebugTrace("Status icon: version 4 refused");
    SyncTimer();
    return true;
}

void StatusIcon::RemoveIcon()
{
    if (Handle())
        ::KillTimer(Handle(), kTooltipTimer);
    if (!added)
        return;
    NOTIFYICONDATAW data = IconData(0);
    if (!notifyArea->Notify(NIM_DELETE, data))
        DebugTrace("Status icon: could not remove the icon");
    added = false;
    notice = Notice::None;
}

void StatusIcon::SetVisible(bool show)
{
    visible = show;
    if (show)
        AddIcon();
    else
        RemoveIcon();
}

void StatusIcon::OnRecordingState(RecordingState state)
{
    RecorderState shown = RecorderState::Idle;
    switch (state) {
    case RecordingState::Recording:
        shown = RecorderState::Recording;
        break;
    case RecordingState::Paused:
        shown = RecorderState::Paused;
        break;
    case RecordingState::Failed:
        shown = RecorderState::Failed;
        break;
    case RecordingState::Idle:
    case RecordingState::Stopping:  // a failure is shown as soon as it is told
    case RecordingState::Asking:
    case RecordingState::Snapshot:
        break;
    }
    if (model.Show(shown))
        Refresh();
}

void StatusIcon::OnRecordingSaved(const std::string& path, const RecordingCounters& counters)
{
    savedMovie = path;
    ShowNotice(Notice::Saved, StatusModel::SavedText(Utf8FromAnsi(FileNameOf(path)), counters), NIIF_INFO);
}

void StatusIcon::OnRecordingFailed(const std::string& reason)
{
    const std::string utf8 = Utf8FromAnsi(reason);
    model.Fail(utf8);
    Refresh();
    ShowNotice(Notice::Failed, StatusModel::FailedText(utf8), NIIF_ERROR);
}

void StatusIcon::ShowNotice(Notice kind, const std::string& utf8Text, DWORD infoFlags)
{
    if (!added)
        return;
    NOTIFYICONDATAW data = IconData(NIF_INFO);
    CopyText(data.szInfo, StatusModel::Bound(utf8Text, StatusModel::kMaxNotification));
    CopyText(data.szInfoTitle, StatusModel::Bound(kNoticeTitle, StatusModel::kMaxNotificationTitle));
    data.dwInfoFlags = infoFlags;
    if (notifyArea->Notify(NIM_MODIFY, data))
        notice = kind;
    else
        DebugTrace("Status icon: the notification was refused");
}

// The tooltip counts once a second while a recording runs or is paused, and only then.
void StatusIcon::SyncTimer()
{
    if (!Handle())
        return;
    const RecorderState state = model.State();
    const bool counting = state == RecorderState::Recording || state == RecorderState::Paused;
    if (!counting || !added)
        ::KillTimer(Handle(), kTooltipTimer);
    else if (!::SetTimer(Handle(), kTooltipTimer, kTooltipPeriodMs, nullptr))
        DebugTrace("Status icon: no tooltip timer");
}

void StatusIcon::Refresh()
{
    SyncTimer();
    if (!added)
        return;
    tooltip = model.Tooltip(owner.StatusCounters());
    NOTIFYICONDATAW data = IconData(NIF_ICON | NIF_TIP | NIF_SHOWTIP);
    data.hIcon = icons[static_cast<int>(model.State())].get();
    CopyText(data.szTip, tooltip);
    if (!notifyArea->Notify(NIM_MODIFY, data))
        DebugTrace("Status icon: the shell refused the new state");
}

void StatusIcon::UpdateTooltip()
{
    if (!added)
        return;
    std::string text = model.Tooltip(owner.StatusCounters());
    if (text == tooltip)
        return;
    NOTIFYICONDATAW data = IconData(NIF_TIP | NIF_SHOWTIP);
    CopyText(data.szTip, text);
    if (notifyArea->Notify(NIM_MODIFY, data))
        tooltip = text;
}
