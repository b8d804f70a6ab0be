#include "panel/ResizePage.h"

#include "ids/Messages.h"
#include "ids/resource.h"
#include "common/CaptureMode.h"
#include "framework/ResourceText.h"
#include "panel/Framer.h"
#include "settings/Prefs.h"

#include <algorithm>
#include <cstdlib>
#include <string>

namespace {

constexpr int32_t kModeCount = kFollowWindows + 1;

std::string ModeName(HINSTANCE instance, int32_t mode)
{
    return LoadText(instance, IDS_MODE_FIRST + mode);
}

// The number at the start of a field's first `chars` characters; 0 when there is none.
int32_t ReadNumber(const TEdit& field, size_t chars)
{
    const std::string text = field.GetText().substr(0, chars);
    return static_cast<int32_t>(std::strtol(text.c_str(), nullptr, 10));
}

void ShowNumber(const TEdit& field, int64_t value)
{
    field.Clear();
    field.Insert(std::to_string(value).c_str());
}

// Where a pan bar notification leaves the thumb.
int NextPanPosition(int current, int code, int thumb)
{
    switch (code) {
    case SB_LINELEFT:
        return current - ResizePage::kPanLineStep;
    case SB_LINERIGHT:
        return current + ResizePage::kPanLineStep;
    case SB_PAGELEFT:
        return current - ResizePage::kPanPageStep;
    case SB_PAGERIGHT:
        return current + ResizePage::kPanPageStep;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION:
        return thumb;
    case SB_LEFT:
        return 0;
    case SB_RIGHT:
        return ResizePage::kPanMax;
    default:
        return current;
    }
}

}  // namespace

ResizePage::ResizePage(HWND parent, Prefs& prefs, HINSTANCE instance)
    : TDialog(parent, IDD_CAPTURE_AREA, instance), prefs(prefs)
{
}

ResizePage::~ResizePage() = default;

INT_PTR ResizePage::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_HSCROLL:
        if (reinterpret_cast<HWND>(lparam) != panBar.Handle())
            break;
        OnScrollPanBar(LOWORD(wparam), HIWORD(wparam));
        return TRUE;
    case kMsgFramerNotify:
        OnFramerNotify(FramerNotifyRect(wparam, lparam));
        SetResult(0);
        return TRUE;
    }
    return TDialog::HandleMessage(message, wparam, lparam);
}

bool ResizePage::SetupWindow()
{
    HWND dialog = Handle();
    mode.Attach(dialog, IDC_AREA_MODE);
    keyFrame.Attach(dialog, IDC_AREA_KEYFRAME);
    panValue.Attach(dialog, IDC_AREA_PAN_VALUE);
    panBar.Attach(dialog, IDC_AREA_PAN_BAR);
    width.Attach(dialog, IDC_AREA_WIDTH);
    height.Attach(dialog, IDC_AREA_HEIGHT);
    left.Attach(dialog, IDC_AREA_LEFT);
    top.Attach(dialog, IDC_AREA_TOP);

    FillModeList(prefs.GetCaptureMode());

    // A damaged stored margin is shown, and used, as the nearest one the bar can take.
    const int32_t pan = std::clamp<int32_t>(prefs.GetPanValue(), 0, kPanMax);
    panBar.SetRange(0, kPanMax);
    panBar.SetPosition(pan);
    ShowPanValue();

    const VRect area = prefs.GetCaptureArea();
    ShowArea(RECT{area.left, area.top, area.right, area.bottom});
    ShowNumber(keyFrame, prefs.GetKeyFrame());

    const FramerParams params{area.left, area.top, area.right, area.bottom, pan, kMinFramerSize, kMinFramerSize};
    framer = std::make_unique<Framer>();
    // Without a framer the fields still work.
    if (!framer->Create(Instance(), dialog, params))
        framer.reset();
    return true;
}

void ResizePage::CleanupWindow()
{
    framer.reset();
}

bool ResizePage::OnCommand(int id, int code, HWND control)
{
    switch (id) {
    case IDOK:
        OnClickOk();
        return true;
    case IDC_AREA_WIDTH:
    case IDC_AREA_HEIGHT:
    case IDC_AREA_LEFT:
    case IDC_AREA_TOP:
        if (code != EN_KILLFOCUS)
            return false;
        UpdateFramerFromFields();
        return true;
    }
    return TDialog::OnCommand(id, code, control);
}

// The platform's help request goes to the application's main window, the root of the owners.
bool ResizePage::OnHelp(const HELPINFO* info)
{
    HWND main = ::GetAncestor(Handle(), GA_ROOTOWNER);
    if (main && main != Handle())
        ::SendMessageA(main, WM_HELP, 0, reinterpret_cast<LPARAM>(info));
    return true;
}

// A scroll bar control leaves moving its thumb to its owner.
void ResizePage::OnScrollPanBar(int code, int thumb)
{
    const int position = std::clamp(NextPanPosition(panBar.Position(), code, thumb), 0, kPanMax);
    panBar.SetPosition(position);
    ShowPanValue();
    UpdateFramerFromFields();
}

// Setting the texts raises no kill-focus, so the framer is not updated in return.
void ResizePage::OnFramerNotify(RECT settled)
{
    ShowArea(settled);
}

void ResizePage::OnClickOk()
{
    // No name selected (the stored mode was unknown and the user chose none): the stored mode stays.
    if (const int32_t selected = SelectedMode(); selected >= 0)
        prefs.SetCaptureMode(selected);
    // Stored as typed: a value confirmed before the framer answered is not constrained.
    const RECT area = AreaFromFields();
    prefs.SetCaptureArea(VRect{area.left, area.top, area.right, area.bottom});
    prefs.SetPanValue(panBar.Position());
    prefs.SetKeyFrame(std::clamp(ReadNumber(keyFrame, kKeyFrameFieldChars), kKeyFrameMin, kKeyFrameMax));
    CloseWindow(IDOK);
}

// The control sorts the names, so the stored mode's entry is found by its number once all
// are in: an index noted while adding moves with every later name sorted before it.
void ResizePage::FillModeList(int32_t stored)
{
    for (int32_t i = 0; i < kModeCount; ++i)
        mode.Add(ModeName(Instance(), i).c_str(), i);
    mode.Select(mode.FindData(stored));
}

int32_t ResizePage::SelectedMode() const
{
    const int index = mode.Selection();
    if (index < 0)
        return -1;
    const std::string name = mode.Text(index);
    for (int32_t i = 0; i < kModeCount; ++i)
        if (name == ModeName(Instance(), i))
            return i;
    return -1;
}

void ResizePage::ShowArea(RECT area) const
{
    ShowNumber(width, int64_t{area.right} - area.left);
    ShowNumber(height, int64_t{area.bottom} - area.top);
    ShowNumber(left, area.left);
    ShowNumber(top, area.top);
}

void ResizePage::ShowPanValue() const
{
    panValue.SetText(std::to_string(panBar.Position()).c_str());
}

RECT ResizePage::AreaFromFields() const
{
    const int32_t x = ReadNumber(left, kAreaFieldChars);
    const int32_t y = ReadNumber(top, kAreaFieldChars);
    return RECT{x, y, x + ReadNumber(width, kAreaFieldChars), y + ReadNumber(height, kAreaFieldChars)};
}

void ResizePage::UpdateFramerFromFields() const
{
    if (framer)
        framer->Update(AreaFromFields(), panBar.Position());
}

INT_PTR RunCaptureAreaDialog(HWND page, HWND panel, Prefs& prefs, HINSTANCE instance,
                             const std::function<void()>& refresh)
{
    ResizePage dialog(page, prefs, instance);
    ::ShowWindow(panel, SW_HIDE);
    const INT_PTR result = dialog.Execute();
    if (result == IDOK && refresh)
        refresh();
    ::ShowWindow(panel, SW_SHOW);
    return result;
}
