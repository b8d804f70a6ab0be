// The status icon: the state model and its texts on their own; the icon against a notification
// area that records what it is told; and the icon inside a live settings panel whose engine is
// built from doubles, where the menu drives real commands.

#include "panel/StatusIcon.h"

#include "ids/Messages.h"
#include "ids/resource.h"
#include "tests/support/SheetRig.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

// ---- the model ---------------------------------------------------------------------------

TEST(StatusModelTexts, Tooltips)
{
    using S = RecorderState;
    struct Case {
        S state;
        RecordingCounters counters;
        const char* tooltip;
    };
    const uint64_t mb = 1u << 20;
    const Case cases[] = {
        {S::Idle, {}, "Vorlux 3.0 \xC2\xB7 not recording"},
        {S::Recording, {42000, 12 * mb + 3 * mb / 10, 0}, "Recording 0:42 \xC2\xB7 12.3 MB \xC2\xB7 0 skipped"},
        {S::Recording, {999, 0, 0}, "Recording 0:00 \xC2\xB7 0.0 KB \xC2\xB7 0 skipped"},
        {S::Recording, {60000, 1536, 1}, "Recording 1:00 \xC2\xB7 1.5 KB \xC2\xB7 1 skipped"},
        {S::Paused, {3723000, 5ull << 30, 17}, "Paused 1:02:03 \xC2\xB7 5.0 GB \xC2\xB7 17 skipped"},
        {S::Recording, {599999, 1023, 2}, "Recording 9:59 \xC2\xB7 1.0 KB \xC2\xB7 2 skipped"},
        {S::Failed, {42000, mb, 3}, "Recording failed"},
    };
    for (const Case& c : cases) {
        StatusModel model;
        model.Show(c.state);
        EXPECT_EQ(model.Tooltip(c.counters), c.tooltip);
    }
    StatusModel failed;
    failed.Fail("The disk is full.");
    EXPECT_EQ(failed.Tooltip({}), "Recording failed: The disk is full.");
    EXPECT_FALSE(failed.Show(RecorderState::Failed));
    EXPECT_EQ(failed.FailureReason(), "The disk is full.") << "kept while the failure is in view";
    EXPECT_TRUE(failed.Show(RecorderState::Recording));
    EXPECT_EQ(failed.FailureReason(), "");
}

TEST(StatusModelTexts, Sizes)
{
    struct Case {
        uint64_t bytes;
        const char* text;
    };
    const Case cases[] = {
        {0, "0.0 KB"},
        {51, "0.0 KB"},
        {52, "0.1 KB"},  // rounded to the nearest tenth
        {1024, "1.0 KB"},
        {1048524, "1023.9 KB"},
        {1048525, "1.0 MB"},  // would round to 1024.0 KB
        {12 * 1048576 + 314573, "12.3 MB"},
        {(1ull << 30) - 1, "1.0 GB"},
        {3ull << 40, "3072.0 GB"},
        {UINT64_MAX, "17179869184.0 GB"},  // no overflow at the top
    };
    for (const Case& c : cases)
        EXPECT_EQ(StatusModel::FormatBytes(c.bytes), c.text) << c.bytes;
}

TEST(StatusModelTexts, Times)
{
    struct Case {
        uint32_t ms;
        const char* text;
    };
    const Case cases[] = {{0, "0:00"},         {59999, "0:59"},       {60000, "1:00"},
                          {3599999, "59:59"},  {3600000, "1:00:00"},  {UINT32_MAX, "1193:02:47"}};
    for (const Case& c : cases)
        EXPECT_EQ(StatusModel::FormatElapsed(c.ms), c.text) << c.ms;
}

// UTF-16 units of a UTF-8 text, counted independently of the model.
size_t Units(const std::string& utf8)
{
    return static_cast<size_t>(::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0));
}

TEST(StatusModelTexts, LongTextsFitTheNotificationArea)
{
    const std::string ellipsis = "\xE2\x80\xA6";
    const std::string e = "\xC3\xA9";            // é: two bytes, one unit
    const std::string face = "\xF0\x9F\x98\x80";  // an emoji: four bytes, two units
    struct Case {
        std::string reason;
    };
    const Case cases[] = {{std::string(300, 'x')}, {std::string(200, 'x') + e + std::string(100, 'y')},
                          {std::string(107, 'x') + face + face + face}, {face + std::string(200, 'z')}};
    for (const Case& c : cases) {
        StatusModel model;
        model.Fail(c.reason);
        const std::string tip = model.Tooltip({});
        EXPECT_LE(Units(tip), StatusModel::kMaxTooltip);
        EXPECT_GE(Units(tip), StatusModel::kMaxTooltip - 1);  // cut at the limit, not short of it
        EXPECT_EQ(tip.substr(tip.size() - 3), ellipsis);
        EXPECT_EQ(::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, tip.data(), static_cast<int>(tip.size()),
                                        nullptr, 0),
                  static_cast<int>(Units(tip)))
            << "a character was cut in half";
        const std::string notice = StatusModel::FailedText(c.reason);
        EXPECT_LE(Units(notice), StatusModel::kMaxNotification);
    }
    EXPECT_EQ(StatusModel::Bound("short", 127), "short");
    EXPECT_EQ(StatusModel::Bound("abc", 0), "");
}

TEST(StatusModelTexts, SavedNotification)
{
    EXPECT_EQ(StatusModel::SavedText("VluxTake003.avi", {42000, 12 * 1048576 + 314573, 0}),
              "Saved VluxTake003.avi \xE2\x80\x94 0:42, 12.3 MB");
    // A long name is cut; the time and size after it stay.
    const std::string saved = StatusModel::SavedText(std::string(400, 'n') + ".avi", {61000, 2048, 0});
    EXPECT_LE(Units(saved), StatusModel::kMaxNotification);
    EXPECT_EQ(saved.substr(saved.size() - std::strlen(" 1:01, 2.0 KB")), " 1:01, 2.0 KB");
}

// ---- the icon against a recording notification area ----------------------------------------

struct NotifyCall {
    DWORD message;
    NOTIFYICONDATAW data;
    std::string Tip() const { return Utf8(data.szTip); }
    std::string Info() const { return Utf8(data.szInfo); }
    static std::string Utf8(const wchar_t* text)
    {
        char out[1024] = {};
        ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out, sizeof out, nullptr, nullptr);
        return out;
    }
};

class RecordingArea : public TNotifyArea {
public:
    std::vector<NotifyCall> calls;
    bool accept = true;
    bool Notify(DWORD message, NOTIFYICONDATAW& data) override
    {
        calls.push_back({message, data});
        return accept;
    }
    size_t Count(DWORD message) const
    {
        size_t n = 0;
        for (const NotifyCall& c : calls)
            n += c.message == message;
        return n;
    }
    const NotifyCall* Last(DWORD message) const
    {
        for (auto it = calls.rbegin(); it != calls.rend(); ++it)
            if (it->message == message)
                return &*it;
        return nullptr;
    }
};

class FakeOwner : public StatusIconOwner {
public:
    RecordingCounters counters;
    bool canPlay = false;
    bool canOpen = false;
    bool canExit = true;
    std::vector<StatusCommand> commands;
    int activations = 0;
    std::vector<std::string> played;

    RecordingCounters StatusCounters() override { return counters; }
    bool CanPlayLastMovie() override { return canPlay; }
    bool CanOpenMovieFolder() override { return canOpen; }
    bool CanExit() override { return canExit; }
    void OnStatusCommand(StatusCommand command) override { commands.push_back(command); }
    void OnStatusActivate() override { ++activations; }
    void OnStatusPlayMovie(const std::string& path) override { played.push_back(path); }
};

struct MenuEntry {
    std::string label;
    bool enabled;
    bool operator==(const MenuEntry&) const = default;
};
std::ostream& operator<<(std::ostream& out, const MenuEntry& e)
{
    return out << e.label << (e.enabled ? "" : " (grey)");
}

// The menu's items by command, with their labels and whether they can be chosen.
std::map<StatusCommand, MenuEntry> ReadMenu(HMENU menu)
{
    std::map<StatusCommand, MenuEntry> items;
    for (int i = 0, n = ::GetMenuItemCount(menu); i < n; ++i) {
        UINT id = ::GetMenuItemID(menu, i);
        if (id == 0 || id == static_cast<UINT>(-1))
            continue;
        wchar_t label[128] = {};
        ::GetMenuStringW(menu, static_cast<UINT>(i), label, 128, MF_BYPOSITION);
        UINT state = ::GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION);
        items[static_cast<StatusCommand>(id)] = {NotifyCall::Utf8(label), !(state & (MF_GRAYED | MF_DISABLED))};
    }
    return items;
}

class StatusIconTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        icon = std::make_unique<StatusIcon>(owner, ::GetModuleHandleA(nullptr));
        icon->SetNotifyArea(area);
        icon->SetMenuRunner([this](HWND wnd, HMENU menu, POINT at) {
            menuOwner = wnd;
            menuAt = at;
            shownMenu = ReadMenu(menu);
            return menuChoice;
        });
    }
    void Notify(UINT event, int x = 0, int y = 0)
    {
        ::SendMessageA(icon->Handle(), kMsgStatusIcon, MAKEWPARAM(x, y), MAKELPARAM(event, StatusIcon::kIconId));
    }

    RecordingArea area;
    FakeOwner owner;
    std::unique_ptr<StatusIcon> icon;
    UINT menuChoice = 0;
    HWND menuOwner = nullptr;
    POINT menuAt{};
    std::map<StatusCommand, MenuEntry> shownMenu;
};

TEST_F(StatusIconTest, AddedVersionFourAtStartAndRemovedAtTheEnd)
{
    ASSERT_TRUE(icon->Start(true));
    ASSERT_GE(area.calls.size(), 2u);
    const NotifyCall& add = area.calls[0];
    EXPECT_EQ(add.message, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(add.data.hWnd, icon->Handle());
    EXPECT_EQ(add.data.uID, StatusIcon::kIconId);
    EXPECT_EQ(add.data.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP));
    EXPECT_EQ(add.data.uCallbackMessage, kMsgStatusIcon);
    EXPECT_NE(add.data.hIcon, nullptr);
    EXPECT_EQ(add.Tip(), "Vorlux 3.0 \xC2\xB7 not recording");
    EXPECT_EQ(area.calls[1].message, static_cast<DWORD>(NIM_SETVERSION));
    EXPECT_EQ(area.calls[1].data.uVersion, static_cast<UINT>(NOTIFYICON_VERSION_4));
    // The window can own a menu and hears broadcasts: top-level, never shown.
    EXPECT_EQ(::GetParent(icon->Handle()), nullptr);
    EXPECT_FALSE(::IsWindowVisible(icon->Handle()));

    HWND wnd = icon->Handle();
    icon.reset();
    ASSERT_EQ(area.Count(NIM_DELETE), 1u);
    EXPECT_EQ(area.Last(NIM_DELETE)->data.hWnd, wnd);
    EXPECT_EQ(area.Last(NIM_DELETE)->data.uID, StatusIcon::kIconId);
    EXPECT_FALSE(::IsWindow(wnd));
}

TEST_F(StatusIconTest, StopRemovesOnceAndHiddenIconsAreNeverAdded)
{
    ASSERT_TRUE(icon->Start(false));
    EXPECT_EQ(area.calls.size(), 0u);
    icon->OnRecordingState(RecordingState::Recording);  // followed while hidden
    icon->SetVisible(true);
    ASSERT_EQ(area.Count(NIM_ADD), 1u);
    EXPECT_EQ(area.Last(NIM_ADD)->Tip().rfind("Recording 0:00", 0), 0u) << area.Last(NIM_ADD)->Tip();
    icon->SetVisible(false);
    EXPECT_EQ(area.Count(NIM_DELETE), 1u);
    icon->SetVisible(true);
    EXPECT_EQ(area.Count(NIM_ADD), 2u);
    icon->Stop();
    icon.reset();
    EXPECT_EQ(area.Count(NIM_DELETE), 2u);
}

TEST_F(StatusIconTest, EachStateHasItsOwnPictureAndTooltip)
{
    ASSERT_TRUE(icon->Start(true));
    std::map<HICON, std::string> pictures;
    pictures[area.calls[0].data.hIcon] = "idle";
    owner.counters = {5000, 2048, 1};
    struct Step {
        std::function<void()> act;
        const char* state;
        const char* tooltip;
    };
    const Step steps[] = {
        {[&] { icon->OnRecordingState(RecordingState::Recording); }, "recording", "Recording 0:05 \xC2\xB7 2.0 KB \xC2\xB7 1 skipped"},
        {[&] { icon->OnRecordingState(RecordingState::Paused); }, "paused", "Paused 0:05 \xC2\xB7 2.0 KB \xC2\xB7 1 skipped"},
        {[&] { icon->OnRecordingFailed("The disk is full."); }, "failed", "Recording failed: The disk is full."},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.state);
        area.calls.clear();
        step.act();
        const NotifyCall* modify = nullptr;
        for (const NotifyCall& c : area.calls)
            if (c.message == NIM_MODIFY && (c.data.uFlags & NIF_ICON))
                modify = &c;
        ASSERT_NE(modify, nullptr);
        EXPECT_EQ(modify->Tip(), step.tooltip);
        EXPECT_TRUE(pictures.emplace(modify->data.hIcon, step.state).second)
            << "shares its picture with " << pictures[modify->data.hIcon];
    }
}

TEST_F(StatusIconTest, TooltipFollowsTheCountersOncePerTickAndOnlyWhileRecording)
{
    ASSERT_TRUE(icon->Start(true));
    icon->OnRecordingState(RecordingState::Recording);
    // The tick is running: a timer of that id exists to be stopped.
    area.calls.clear();
    owner.counters = {1000, 4096, 0};
    ::SendMessageA(icon->Handle(), WM_TIMER, StatusIcon::kTooltipTimer, 0);
    ASSERT_EQ(area.calls.size(), 1u);
    EXPECT_EQ(area.calls[0].data.uFlags, static_cast<UINT>(NIF_TIP | NIF_SHOWTIP));
    EXPECT_EQ(area.calls[0].Tip(), "Recording 0:01 \xC2\xB7 4.0 KB \xC2\xB7 0 skipped");
    ::SendMessageA(icon->Handle(), WM_TIMER, StatusIcon::kTooltipTimer, 0);
    EXPECT_EQ(area.calls.size(), 1u) << "an unchanged tooltip is not sent again";

    icon->OnRecordingState(RecordingState::Idle);
    EXPECT_FALSE(::KillTimer(icon->Handle(), StatusIcon::kTooltipTimer)) << "the tick outlived the recording";
    icon->OnRecordingState(RecordingState::Recording);
    EXPECT_TRUE(::KillTimer(icon->Handle(), StatusIcon::kTooltipTimer)) << "no tick while recording";
}

TEST_F(StatusIconTest, TaskbarCreatedAddsTheIconAgain)
{
    ASSERT_TRUE(icon->Start(true));
    icon->OnRecordingState(RecordingState::Recording);
    const UINT taskbarCreated = ::RegisterWindowMessageA("TaskbarCreated");
    ::SendMessageA(icon->Handle(), taskbarCreated, 0, 0);
    ASSERT_EQ(area.Count(NIM_ADD), 2u);
    EXPECT_EQ(area.Last(NIM_ADD)->Tip().rfind("Recording", 0), 0u) << "the new icon shows the state";
    EXPECT_EQ(area.calls.back().message, static_cast<DWORD>(NIM_SETVERSION));

    icon->SetVisible(false);
    ::SendMessageA(icon->Handle(), taskbarCreated, 0, 0);
    EXPECT_EQ(area.Count(NIM_ADD), 2u) << "a hidden icon stays hidden";
}

TEST_F(StatusIconTest, NoNotificationAreaYetThenTaskbarCreated)
{
    area.accept = false;
    ASSERT_TRUE(icon->Start(true));
    EXPECT_FALSE(icon->Added());
    area.accept = true;
    ::SendMessageA(icon->Handle(), ::RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    EXPECT_TRUE(icon->Added());
    icon.reset();
    EXPECT_EQ(area.Count(NIM_DELETE), 1u);
}

TEST_F(StatusIconTest, ClicksAndKeysReachTheOwner)
{
    ASSERT_TRUE(icon->Start(true));
    Notify(NIN_SELECT);
    Notify(NIN_KEYSELECT);
    EXPECT_EQ(owner.activations, 2);
    // Mouse messages of the older versions are not acted on: version 4 sends the events above.
    Notify(WM_LBUTTONUP);
    Notify(WM_RBUTTONUP);
    EXPECT_EQ(owner.activations, 2);
    EXPECT_TRUE(shownMenu.empty());

    menuChoice = static_cast<UINT>(StatusCommand::CaptureFrame);
    Notify(WM_CONTEXTMENU, 1000, 740);
    EXPECT_EQ(menuOwner, icon->Handle());
    EXPECT_EQ(menuAt.x, 1000);
    EXPECT_EQ(menuAt.y, 740);
    EXPECT_EQ(owner.commands, std::vector<StatusCommand>{StatusCommand::CaptureFrame});
    menuChoice = 0;  // closed without a choice
    Notify(WM_CONTEXTMENU, 5, 5);
    EXPECT_EQ(owner.commands.size(), 1u);
}

TEST_F(StatusIconTest, MenuItemsAreGreyWhenTheyCannotApply)
{
    ASSERT_TRUE(icon->Start(true));
    using C = StatusCommand;
    using S = RecordingState;
    struct Case {
        S state;
        bool canPlay;
        bool canOpen;
        std::map<C, MenuEntry> menu;
    };
    const std::string settings = "S&ettings\xE2\x80\xA6";
    const Case cases[] = {
        {S::Idle, true, true,
         {{C::StartStop, {"&Start Recording", true}}, {C::PauseResume, {"&Pause Recording", false}},
          {C::CaptureFrame, {"&Capture Frame", true}}, {C::PlayLastMovie, {"Play &Last Movie", true}},
          {C::OpenMovieFolder, {"Open Movie &Folder", true}}, {C::Settings, {settings, true}},
          {C::Exit, {"E&xit", true}}}},
        {S::Idle, false, false,
         {{C::StartStop, {"&Start Recording", true}}, {C::PauseResume, {"&Pause Recording", false}},
          {C::CaptureFrame, {"&Capture Frame", true}}, {C::PlayLastMovie, {"Play &Last Movie", false}},
          {C::OpenMovieFolder, {"Open Movie &Folder", false}}, {C::Settings, {settings, true}},
          {C::Exit, {"E&xit", true}}}},
        {S::Recording, true, true,
         {{C::StartStop, {"S&top Recording", true}}, {C::PauseResume, {"&Pause Recording", true}},
          {C::CaptureFrame, {"&Capture Frame", false}}, {C::PlayLastMovie, {"Play &Last Movie", false}},
          {C::OpenMovieFolder, {"Open Movie &Folder", true}}, {C::Settings, {settings, true}},
          {C::Exit, {"E&xit", true}}}},
        {S::Paused, true, true,
         {{C::StartStop, {"S&top Recording", true}}, {C::PauseResume, {"&Resume Recording", true}},
          {C::CaptureFrame, {"&Capture Frame", false}}, {C::PlayLastMovie, {"Play &Last Movie", false}},
          {C::OpenMovieFolder, {"Open Movie &Folder", true}}, {C::Settings, {settings, true}},
          {C::Exit, {"E&xit", true}}}},
        {S::Failed, true, true,
         {{C::StartStop, {"&Start Recording", true}}, {C::PauseResume, {"&Pause Recording", false}},
          {C::CaptureFrame, {"&Capture Frame", true}}, {C::PlayLastMovie, {"Play &Last Movie", true}},
          {C::OpenMovieFolder, {"Open Movie &Folder", true}}, {C::Settings, {settings, true}},
          {C::Exit, {"E&xit", true}}}},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(i);
        icon->OnRecordingState(c.state);
        owner.canPlay = c.canPlay;
        owner.canOpen = c.canOpen;
        Notify(WM_CONTEXTMENU);
        EXPECT_EQ(shownMenu, c.menu);
    }
    ScopedMenu menu = icon->BuildMenu();
    EXPECT_EQ(::GetMenuDefaultItem(menu.get(), FALSE, 0), static_cast<UINT>(StatusCommand::Settings));
    owner.canExit = false;  // a dialog of the panel waits for an answer
    Notify(WM_CONTEXTMENU);
    EXPECT_EQ(shownMenu[StatusCommand::Exit], (MenuEntry{"E&xit", false}));
}

TEST_F(StatusIconTest, SavedNotificationPlaysItsMovieWhenClicked)
{
    ASSERT_TRUE(icon->Start(true));
    icon->OnRecordingState(RecordingState::Recording);
    icon->OnRecordingState(RecordingState::Idle);
    area.calls.clear();
    const std::string path = "C:\\Movies\\Caf\xE9\\VluxTake003.avi";  // the program's code page
    icon->OnRecordingSaved(path, {42000, 12 * 1048576 + 314573, 0});
    const NotifyCall* info = nullptr;
    for (const NotifyCall& c : area.calls)
        if (c.data.uFlags & NIF_INFO)
            info = &c;
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->Info(), "Saved VluxTake003.avi \xE2\x80\x94 0:42, 12.3 MB");
    EXPECT_EQ(NotifyCall::Utf8(info->data.szInfoTitle), "Vorlux 3.0");
    EXPECT_EQ(info->data.dwInfoFlags & NIIF_ICON_MASK, static_cast<DWORD>(NIIF_INFO));

    icon->OnRecordingState(RecordingState::Recording);  // a new take begins before the click
    Notify(NIN_BALLOONUSERCLICK);
    EXPECT_EQ(owner.played, std::vector<std::string>{path});
    Notify(NIN_BALLOONUSERCLICK);  // the notification is gone
    EXPECT_EQ(owner.played.size(), 1u);
}

TEST_F(StatusIconTest, FailedNotificationSaysWhy)
{
    ASSERT_TRUE(icon->Start(true));
    icon->OnRecordingState(RecordingState::Recording);
    area.calls.clear();
    icon->OnRecordingFailed("The movie could not be written: the disk is full.");
    const NotifyCall* info = area.Last(NIM_MODIFY);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->Info(), "Recording failed: The movie could not be written: the disk is full.");
    EXPECT_EQ(info->data.dwInfoFlags & NIIF_ICON_MASK, static_cast<DWORD>(NIIF_ERROR));

    icon->OnRecordingState(RecordingState::Failed);
    EXPECT_EQ(icon->Model().State(), RecorderState::Failed);
    Notify(NIN_BALLOONUSERCLICK);
    EXPECT_TRUE(owner.played.empty());
    EXPECT_EQ(owner.activations, 1) << "a click on the failure shows the panel";
}

// ---- the icon in the settings panel ---------------------------------------------------------

constexpr char kTestTree[] = "Software\\Quorvane\\VorluxStatusTests";

class RecordingShell : public TShell {
public:
    std::vector<std::string> opened;
    bool Execute(const std::string& file, const std::string&) override
    {
        opened.push_back(file);
        return true;
    }
    std::string BrowserCommand() override { return {}; }
};

class PanelStatusTest : public SheetRig {
protected:
    PanelStatusTest() : SheetRig(kTestTree) {}
    void SetUp() override
    {
        SheetRig::SetUp();
        directory += "\\VorluxStatusTest";
        ::CreateDirectoryA(directory.c_str(), nullptr);
        prefs->SetProgramDirectory(directory.c_str());
        prefs->SetDirectory(directory.c_str());
        OpenSheet(nullptr, 0, [this](TestSheet& made) {
            made.Status().SetNotifyArea(area);
            made.Status().SetMenuRunner([this](HWND, HMENU menu, POINT) {
                shownMenu = ReadMenu(menu);
                // A grey item cannot be chosen.
                auto item = shownMenu.find(static_cast<StatusCommand>(menuChoice));
                return item != shownMenu.end() && item->second.enabled ? menuChoice : 0u;
            });
            made.SetShell(shell);
            made.Movie().SetLauncher([this](const std::string& line) {
                launched.push_back(line);
                return true;
            });
        });
    }
    void TearDown() override
    {
        SheetRig::TearDown();
        for (const char* name : {"VluxTake000.avi", "VluxTake001.avi", "VluxTake000.bmp"})
            ::DeleteFileA((directory + "\\" + name).c_str());
        ::RemoveDirectoryA(directory.c_str());
    }
    // Chooses an item from the icon's menu, as a right click and a click on the item would.
    void Choose(StatusCommand command)
    {
        menuChoice = static_cast<UINT>(command);
        ::SendMessageA(sheet->Status().Handle(), kMsgStatusIcon, 0, MAKELPARAM(WM_CONTEXTMENU, StatusIcon::kIconId));
        Pump();
    }
    std::string LastTip() const
    {
        for (auto it = area.calls.rbegin(); it != area.calls.rend(); ++it)
            if (it->data.uFlags & NIF_TIP)
                return it->Tip();
        return {};
    }

    RecordingArea area;
    RecordingShell shell;
    UINT menuChoice = 0;
    std::map<StatusCommand, MenuEntry> shownMenu;
    std::vector<std::string> launched;
};

TEST_F(PanelStatusTest, ComesWithThePanelAndGoesWithIt)
{
    EXPECT_EQ(area.Count(NIM_ADD), 1u);
    EXPECT_EQ(area.calls[0].data.hWnd, sheet->Status().Handle());
    HWND panel = sheet->Handle();
    ::DestroyWindow(panel);  // as the sheet's end does
    Pump();
    EXPECT_EQ(area.Count(NIM_DELETE), 1u);
    sheet.reset();
    EXPECT_EQ(area.Count(NIM_DELETE), 1u) << "removed once";
}

TEST_F(PanelStatusTest, StoredOffMeansNoIcon)
{
    CloseSheet();
    area.calls.clear();
    prefs->SetStatusIcon(false);
    OpenSheet(nullptr, 0, [this](TestSheet& made) { made.Status().SetNotifyArea(area); });
    EXPECT_EQ(area.Count(NIM_ADD), 0u);
}

TEST_F(PanelStatusTest, CheckBoxStoresAtOnceAndAddsOrRemovesTheIcon)
{
    PropSheet_SetCurSel(sheet->Handle(), nullptr, 0);
    HWND page = PropSheet_GetCurrentPageHwnd(sheet->Handle());
    EXPECT_EQ(::IsDlgButtonChecked(page, IDC_MOVIE_STATUS_ICON), BST_CHECKED);
    ::SendMessageA(::GetDlgItem(page, IDC_MOVIE_STATUS_ICON), BM_CLICK, 0, 0);
    EXPECT_FALSE(prefs->GetStatusIcon());
    EXPECT_EQ(area.Count(NIM_DELETE), 1u);
    ::SendMessageA(::GetDlgItem(page, IDC_MOVIE_STATUS_ICON), BM_CLICK, 0, 0);
    EXPECT_TRUE(prefs->GetStatusIcon());
    EXPECT_EQ(area.Count(NIM_ADD), 2u);
}

TEST_F(PanelStatusTest, CommandsMoveTheIconAndTheEndSaysWhereTheMovieWent)
{
    sheet->factory->writer->fileBytes = 3 * 1048576;  // published with the first frame
    Command(kMsgCaptureStart);
    EXPECT_EQ(sheet->Status().Model().State(), RecorderState::Recording);
    EXPECT_EQ(LastTip().rfind("Recording 0:", 0), 0u) << LastTip();
    Command(kMsgCaptureStop);
    EXPECT_EQ(sheet->Status().Model().State(), RecorderState::Idle);
    const NotifyCall* info = nullptr;
    for (const NotifyCall& c : area.calls)
        if (c.data.uFlags & NIF_INFO)
            info = &c;
    ASSERT_NE(info, nullptr);
    // The doubles write no file: the size is the writer's last count.
    EXPECT_EQ(info->Info().rfind("Saved VluxTake000.avi \xE2\x80\x94 0:0", 0), 0u) << info->Info();
    EXPECT_NE(info->Info().find(", 3.0 MB"), std::string::npos) << info->Info();

    // A failed start leaves the icon idle: the message box says why.
    sheet->factory->screen->checkResult = 5;
    Command(kMsgCaptureStart);
    EXPECT_EQ(sheet->Status().Model().State(), RecorderState::Idle);
}

TEST_F(PanelStatusTest, RecordingThatFailsShowsItsReasonAndIsNotCalledSaved)
{
    FakeFactory& parts = *sheet->factory;
    parts.writer->reported = {FailureKind::DiskFull, 112};
    parts.video->failFromCall = 2;
    Command(kMsgCaptureStart);
    // The capture thread fails on its third frame and tells the panel, which stops.
    for (int i = 0; i < 500 && sheet->IsRecording(); ++i) {
        ::Sleep(10);
        Pump();
    }
    ASSERT_FALSE(sheet->IsRecording());
    EXPECT_EQ(sheet->Status().Model().State(), RecorderState::Failed);
    EXPECT_NE(LastTip().find("The disk is full."), std::string::npos) << LastTip();
    for (const NotifyCall& c : area.calls) {
        if (c.data.uFlags & NIF_INFO) {
            EXPECT_EQ(c.Info().find("Saved"), std::string::npos) << c.Info();
        }
    }

    // The next take clears it.
    parts.video->failFromCall = -1;
    parts.writer->reported = {};
    Command(kMsgCaptureStart);
    EXPECT_EQ(sheet->Status().Model().State(), RecorderState::Recording);
    Command(kMsgCaptureStop);
    EXPECT_EQ(sheet->Status().Model().State(), RecorderState::Idle);
}

TEST_F(PanelStatusTest, MenuItemsTakeTheCommandsPaths)
{
    Choose(StatusCommand::StartStop);
    EXPECT_TRUE(sheet->IsRecording());
    EXPECT_TRUE(journal.Has("writer.Open"));
    EXPECT_EQ(shownMenu[StatusCommand::StartStop], (MenuEntry{"&Start Recording", true}));
    Choose(StatusCommand::PauseResume);
    EXPECT_TRUE(sheet->Engine()->IsPaused());
    Choose(StatusCommand::PauseResume);
    EXPECT_FALSE(sheet->Engine()->IsPaused());
    Choose(StatusCommand::StartStop);
    EXPECT_EQ(shownMenu[StatusCommand::StartStop], (MenuEntry{"S&top Recording", true}));
    EXPECT_FALSE(sheet->IsRecording());
    EXPECT_TRUE(journal.Has("writer.Close"));

    Choose(StatusCommand::CaptureFrame);
    // Saved once the screen has repainted under the hidden panel.
    EXPECT_TRUE(PumpUntil([&] { return journal.Has("screen.Save " + directory + "\\VluxTake000.bmp"); }));

    // Play Last Movie is the Movie page's Play Movie, once the movie exists.
    Choose(StatusCommand::PlayLastMovie);
    EXPECT_FALSE(shownMenu[StatusCommand::PlayLastMovie].enabled);
    const std::string movie = directory + "\\VluxTake000.avi";
    ScopedFile(::CreateFileA(movie.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    Choose(StatusCommand::PlayLastMovie);
    EXPECT_TRUE(shownMenu[StatusCommand::PlayLastMovie].enabled);
    EXPECT_EQ(launched, std::vector<std::string>{MoviePage::PlayerCommandLine(directory.c_str(), movie.c_str())});

    Choose(StatusCommand::OpenMovieFolder);
    EXPECT_EQ(shell.opened, std::vector<std::string>{directory});

    ::ShowWindow(sheet->Handle(), SW_HIDE);
    Choose(StatusCommand::Settings);
    EXPECT_TRUE(::IsWindowVisible(sheet->Handle()));
    ::ShowWindow(sheet->Handle(), SW_HIDE);
    ::SendMessageA(sheet->Status().Handle(), kMsgStatusIcon, 0, MAKELPARAM(NIN_SELECT, StatusIcon::kIconId));
    EXPECT_TRUE(::IsWindowVisible(sheet->Handle())) << "a click on the icon shows the panel";

    // Not while a dialog of the panel is open.
    ::EnableWindow(sheet->Handle(), FALSE);
    Choose(StatusCommand::Exit);
    EXPECT_FALSE(shownMenu[StatusCommand::Exit].enabled);
    EXPECT_NE(PropSheet_GetCurrentPageHwnd(sheet->Handle()), nullptr);
    ::EnableWindow(sheet->Handle(), TRUE);

    // Exit closes the panel as its close box does, finishing a running recording first.
    Choose(StatusCommand::StartStop);
    ASSERT_TRUE(sheet->IsRecording());
    Choose(StatusCommand::Exit);
    EXPECT_EQ(PropSheet_GetCurrentPageHwnd(sheet->Handle()), nullptr) << "the sheet did not end";
    EXPECT_EQ(journal.Count("writer.Close"), 2u);
}

TEST_F(PanelStatusTest, NotificationClickPlaysTheSavedMovie)
{
    Command(kMsgCaptureStart);
    Command(kMsgCaptureStop);
    const std::string first = directory + "\\VluxTake000.avi";
    ::SendMessageA(sheet->Status().Handle(), kMsgStatusIcon, 0, MAKELPARAM(NIN_BALLOONUSERCLICK, StatusIcon::kIconId));
    EXPECT_EQ(launched, std::vector<std::string>{MoviePage::PlayerCommandLine(directory.c_str(), first.c_str())});
}

// The real engine's counters reach the tooltip: the tick after a second of recording shows it.
TEST_F(PanelStatusTest, TooltipChangesWhileRecording)
{
    Command(kMsgCaptureStart);
    const std::string first = LastTip();
    for (int i = 0; i < 1000 && sheet->Engine()->Counters().elapsedMs < 1000; ++i) {
        ::Sleep(10);
        Pump();
    }
    ::SendMessageA(sheet->Status().Handle(), WM_TIMER, StatusIcon::kTooltipTimer, 0);
    const std::string later = LastTip();
    EXPECT_NE(later, first);
    EXPECT_EQ(later.rfind("Recording 0:0", 0), 0u) << later;
    EXPECT_EQ(later.find("Recording 0:00"), std::string::npos) << later;
    Command(kMsgCaptureStop);
}

}  // namespace
