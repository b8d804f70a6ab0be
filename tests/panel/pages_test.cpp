// The Movie, Sound, Movie Destination and Hot Keys pages inside a live settings panel whose
// engine is built from doubles; the file-save dialog, the format chooser, the hot-key dialog
// and the process launch are replaced where a test needs a modal platform dialog out of the
// way. Also the hot-key dialog itself, driven from a timer, and the companion player's logic.

#include "panel/Pages.h"

#include "ids/Messages.h"
#include "ids/resource.h"
#include "app/vored/Player.h"
#include "panel/HotKey.h"
#include "settings/Prefs.h"
#include "tests/support/SheetRig.h"

#include <gtest/gtest.h>

#include <cctype>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr char kTestTree[] = "Software\\Quorvane\\VorluxPagesTests";
constexpr int kMoviePageIndex = 0;
constexpr int kSoundPageIndex = 1;
constexpr int kDestinationPageIndex = 2;
constexpr int kKeysPageIndex = 3;

bool IsChecked(HWND dialog, int id)
{
    return ::IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}

std::string SelectedText(HWND dialog, int id)
{
    HWND list = ::GetDlgItem(dialog, id);
    auto index = ::SendMessageA(list, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR)
        return "(none)";
    char text[64] = {};
    ::SendMessageA(list, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text));
    return text;
}

// Receives the help commands the pages send to the main window.
struct HelpOwner {
    static inline std::vector<int> commands;
    static LRESULT CALLBACK Procedure(HWND wnd, UINT message, WPARAM wparam, LPARAM lparam)
    {
        if (message == WM_COMMAND)
            commands.push_back(LOWORD(wparam));
        return ::DefWindowProcA(wnd, message, wparam, lparam);
    }
    HWND Create()
    {
        WNDCLASSA wc{};
        wc.lpfnWndProc = Procedure;
        wc.hInstance = ::GetModuleHandleA(nullptr);
        wc.lpszClassName = "PagesTestOwner";
        ::RegisterClassA(&wc);
        return ::CreateWindowExA(0, wc.lpszClassName, "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, wc.hInstance,
                                 nullptr);
    }
};

class PagesTest : public SheetRig {
protected:
    PagesTest() : SheetRig(kTestTree) {}
    void SetUp() override
    {
        SheetRig::SetUp();
        ::CreateDirectoryA(Dir("PagesTest").c_str(), nullptr);
        prefs->SetProgramDirectory(Dir("PagesTest").c_str());
        HelpOwner::commands.clear();
        owner = HelpOwner().Create();
    }
    void TearDown() override
    {
        CloseSheet();
        ::DestroyWindow(owner);
        SheetRig::TearDown();
        for (const std::string& file : created)
            ::DeleteFileA(file.c_str());
        ::RemoveDirectoryA(Dir("PagesTest").c_str());
    }
    // Creates the panel and shows one page, which creates that page's window.
    HWND Open(int pageIndex)
    {
        OpenSheet(owner, pageIndex);
        return PropSheet_GetCurrentPageHwnd(sheet->Handle());
    }
    std::string Dir(const char* name) const { return std::string(directory) + "\\" + name; }
    void Touch(const std::string& path)
    {
        ScopedFile file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(file) << path;
        created.push_back(path);
    }
    void RemoveValue(const char* subKey, const char* name)
    {
        std::string path = std::string(kTestTree) + "\\" + subKey;
        ASSERT_EQ(::RegDeleteKeyValueA(HKEY_CURRENT_USER, path.c_str(), name), ERROR_SUCCESS) << name;
    }
    // A stored DWORD as the registry holds it; all ones when missing or of another type.
    DWORD StoredDword(const char* subKey, const char* name) const
    {
        const std::string path = std::string(kTestTree) + "\\" + subKey;
        DWORD value = 0;
        DWORD size = sizeof value;
        if (::RegGetValueA(HKEY_CURRENT_USER, path.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &size) !=
            ERROR_SUCCESS)
            return 0xFFFFFFFFu;
        return value;
    }
    // Counts every value the store writes from now on.
    void WatchWrites()
    {
        writes.clear();
        prefs->SetWriteObserver([this](const char* name) { writes.push_back(name); });
    }
    static void Click(HWND page, int id) { ::SendMessageA(::GetDlgItem(page, id), BM_CLICK, 0, 0); }
    static void CloseUp(HWND page, int id, int index)
    {
        HWND list = ::GetDlgItem(page, id);
        ::SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
        ::SendMessageA(page, WM_COMMAND, MAKEWPARAM(id, CBN_CLOSEUP), reinterpret_cast<LPARAM>(list));
    }
    static int FindText(HWND page, int id, const char* text)
    {
        return static_cast<int>(::SendMessageA(::GetDlgItem(page, id), CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                               reinterpret_cast<LPARAM>(text)));
    }
    // True when the panel holds Ctrl+Shift+vk: nobody else can register it.
    bool PanelHolds(UINT vk) const
    {
        if (::RegisterHotKey(owner, 99, MOD_CONTROL | MOD_SHIFT, vk)) {
            ::UnregisterHotKey(owner, 99);
            return false;
        }
        return true;
    }

    HWND owner = nullptr;
    std::vector<std::string> created;
    std::vector<std::string> writes;
};

// ---- Movie page ----

TEST_F(PagesTest, MovieSetUpShowsTheStoredValues)
{
    struct Case {
        VRect area;
        int32_t mode;
        int32_t cursorMode;  // -2: value removed
        int32_t vorluxMode;
        int32_t fps;
        const char* left;
        const char* top;
        const char* width;
        const char* height;
        const char* modeName;
        bool cursorChecked;
        bool vorluxChecked;
        const char* fpsShown;
    };
    constexpr int32_t kMissing = -2;
    const Case cases[] = {
        {{40, 80, 360, 280}, 2, 1, 0, 12, "40", "80", "320", "200", "Follow Cursor", true, false, "12"},
        {{0, 0, 400, 300}, 4, 0, kMissing, 11, "0", "0", "400", "300", "Follow Windows", false, true, "(none)"},
        // Areas the engine cannot record are replaced by the default area at start-up.
        {{-999, -5, 9000, 20}, 0, kMissing, 1, 1, "0", "0", "400", "300", "Fixed Area", true, true, " 1"},
        {{INT_MIN, INT_MIN, -1, -1}, 7, 0, 0, 25, "0", "0", "400", "300", "", false, false, "25"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.width);
        prefs->SetCaptureArea(c.area);
        prefs->SetCaptureMode(c.mode);
        prefs->SetCursorMode(c.cursorMode);
        prefs->SetVorluxMode(c.vorluxMode);
        if (c.cursorMode == kMissing)
            RemoveValue("Movie", "CursorMode");
        if (c.vorluxMode == kMissing)
            RemoveValue("Movie", "VorluxMode");
        prefs->SetFramesPerSecond(c.fps);
        HWND page = Open(kMoviePageIndex);
        EXPECT_EQ(ItemText(page, IDC_MOVIE_LEFT), c.left);
        EXPECT_EQ(ItemText(page, IDC_MOVIE_TOP), c.top);
        EXPECT_EQ(ItemText(page, IDC_MOVIE_WIDTH), c.width);
        EXPECT_EQ(ItemText(page, IDC_MOVIE_HEIGHT), c.height);
        EXPECT_EQ(ItemText(page, IDC_MOVIE_MODE), c.modeName);
        EXPECT_EQ(IsChecked(page, IDC_MOVIE_HIDE_CURSOR), c.cursorChecked);
        EXPECT_EQ(IsChecked(page, IDC_MOVIE_HIDE_VORLUX), c.vorluxChecked);
        EXPECT_EQ(SelectedText(page, IDC_MOVIE_FPS), c.fpsShown);
        CloseSheet();
    }
    // Values far beyond any screen are shown whole, not cut or overrun.
    HWND page = Open(kMoviePageIndex);
    prefs->SetCaptureArea({INT_MIN, INT_MIN, -1, -1});
    sheet->Movie().ShowCaptureArea();
    EXPECT_EQ(ItemText(page, IDC_MOVIE_LEFT), "-2147483648");
    EXPECT_EQ(ItemText(page, IDC_MOVIE_TOP), "-2147483648");
    EXPECT_EQ(ItemText(page, IDC_MOVIE_WIDTH), "2147483647");
    EXPECT_EQ(ItemText(page, IDC_MOVIE_HEIGHT), "2147483647");
}

TEST_F(PagesTest, MovieDepthText)
{
    struct Case {
        int bits;
        bool lossless;
        const char* text;
    };
    const Case cases[] = {
        {8, false, " 8"},          {16, false, "16"},         {24, false, "24"},         {32, false, "24"},
        {4, false, "unsupported"}, {15, false, "unsupported"}, {0, false, "unsupported"},
        // Lossless records true colour at 32 bits, other screens at their own depth.
        {8, true, " 8"},           {16, true, "16"},          {24, true, "32"},          {32, true, "32"},
        {4, true, "unsupported"},  {15, true, "unsupported"},
    };
    for (const Case& c : cases)
        EXPECT_STREQ(MoviePage::DepthText(c.bits, c.lossless), c.text) << c.bits << " bits, lossless " << c.lossless;

    HWND page = Open(kMoviePageIndex);
    ScopedWindowDC screen(nullptr);
    EXPECT_EQ(ItemText(page, IDC_MOVIE_DEPTH), MoviePage::DepthText(::GetDeviceCaps(screen.get(), BITSPIXEL), false));
}

TEST_F(PagesTest, MovieLosslessBoxStoresAtOnceAndShowsTheRecordedDepth)
{
    const auto stored = [this] {
        DWORD value = 0xFFFF;
        DWORD size = sizeof value;
        const LSTATUS status = ::RegGetValueA(HKEY_CURRENT_USER, (std::string(kTestTree) + "\\Movie").c_str(),
                                              "Lossless", RRF_RT_REG_DWORD, nullptr, &value, &size);
        return status == ERROR_SUCCESS ? int64_t{value} : -1;
    };
    ScopedWindowDC screen(nullptr);
    const int screenBits = ::GetDeviceCaps(screen.get(), BITSPIXEL);
    const bool trueColour = screenBits == 24 || screenBits == 32;

    // Settings from before the switch existed: off.
    RemoveValue("Movie", "Lossless");
    HWND page = Open(kMoviePageIndex);
    EXPECT_FALSE(IsChecked(page, IDC_MOVIE_LOSSLESS));
    EXPECT_EQ(ItemText(page, IDC_MOVIE_DEPTH), MoviePage::DepthText(screenBits, false));

    Click(page, IDC_MOVIE_LOSSLESS);
    EXPECT_EQ(stored(), 1);
    EXPECT_EQ(ItemText(page, IDC_MOVIE_DEPTH), MoviePage::DepthText(screenBits, true));
    if (trueColour) {
        EXPECT_EQ(ItemText(page, IDC_MOVIE_DEPTH), "32");
    }

    Click(page, IDC_MOVIE_LOSSLESS);
    EXPECT_EQ(stored(), 0);
    EXPECT_EQ(ItemText(page, IDC_MOVIE_DEPTH), MoviePage::DepthText(screenBits, false));
    CloseSheet();

    prefs->SetLossless(true);
    page = Open(kMoviePageIndex);
    EXPECT_TRUE(IsChecked(page, IDC_MOVIE_LOSSLESS));
    EXPECT_EQ(ItemText(page, IDC_MOVIE_DEPTH), MoviePage::DepthText(screenBits, true));
}

TEST_F(PagesTest, MovieFrameRateCloseUpStoresTheChoice)
{
    prefs->SetFramesPerSecond(11);
    HWND page = Open(kMoviePageIndex);
    // Closed without a choice: the stored rate, though not in the list, stays.
    CloseUp(page, IDC_MOVIE_FPS, -1);
    EXPECT_EQ(prefs->GetFramesPerSecond(), 11);
    const char* choices[] = {"25", " 1", "12"};
    const int32_t stored[] = {25, 1, 12};
    for (int i = 0; i < 3; ++i) {
        CloseUp(page, IDC_MOVIE_FPS, FindText(page, IDC_MOVIE_FPS, choices[i]));
        EXPECT_EQ(prefs->GetFramesPerSecond(), stored[i]) << choices[i];
    }
}

TEST_F(PagesTest, MovieCheckBoxesStoreZeroOrOne)
{
    struct Case {
        int box;
        int32_t (Prefs::*get)() const;
    };
    const Case cases[] = {{IDC_MOVIE_HIDE_CURSOR, &Prefs::GetCursorMode},
                          {IDC_MOVIE_HIDE_VORLUX, &Prefs::GetVorluxMode}};
    prefs->SetCursorMode(0);
    prefs->SetVorluxMode(0);
    HWND page = Open(kMoviePageIndex);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.box);
        Click(page, c.box);
        EXPECT_EQ(((*prefs).*c.get)(), 1);
        Click(page, c.box);
        EXPECT_EQ(((*prefs).*c.get)(), 0);
    }
}

// The two click switches: shown from the store at set-up (missing reads as off), stored as a
// DWORD 0 or 1 the moment they are clicked, and each only into its own value.
TEST_F(PagesTest, MovieClickSwitchesShowAndStoreAtOnce)
{
    struct Case {
        int box;
        const char* name;
        int other;
        const char* otherName;
    };
    const Case cases[] = {{IDC_MOVIE_HIGHLIGHT_CLICKS, "HighlightClicks", IDC_MOVIE_CURSOR_HALO, "CursorHalo"},
                          {IDC_MOVIE_CURSOR_HALO, "CursorHalo", IDC_MOVIE_HIGHLIGHT_CLICKS, "HighlightClicks"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RemoveValue("Movie", c.name);
        RemoveValue("Movie", c.otherName);
        HWND page = Open(kMoviePageIndex);
        EXPECT_FALSE(IsChecked(page, c.box)) << "missing reads as off";
        WatchWrites();
        Click(page, c.box);
        EXPECT_EQ(writes, std::vector<std::string>{c.name});
        EXPECT_EQ(StoredDword("Movie", c.name), 1u);
        EXPECT_FALSE(IsChecked(page, c.other));
        Click(page, c.box);
        EXPECT_EQ(StoredDword("Movie", c.name), 0u);
        Click(page, c.box);
        CloseSheet();
        // Shown as stored the next time the page is set up.
        page = Open(kMoviePageIndex);
        EXPECT_TRUE(IsChecked(page, c.box));
        EXPECT_FALSE(IsChecked(page, c.other));
        CloseSheet();
        prefs->SetHighlightClicks(false);
        prefs->SetCursorHalo(false);
    }
}

// Show keys: shown from the store at set-up (missing or out of range reads as off), and stored
// the moment another choice is picked.
TEST_F(PagesTest, MovieShowKeysShowsAndStoresAtOnce)
{
    const char* const choices[] = {"Off", "Shortcuts only", "Every key"};
    RemoveValue("Movie", "ShowKeys");
    HWND page = Open(kMoviePageIndex);
    EXPECT_EQ(SelectedText(page, IDC_MOVIE_SHOW_KEYS), "Off") << "missing reads as off";
    HWND list = ::GetDlgItem(page, IDC_MOVIE_SHOW_KEYS);
    for (DWORD mode : {2u, 1u, 0u}) {
        SCOPED_TRACE(mode);
        WatchWrites();
        ::SendMessageA(list, CB_SETCURSEL, FindText(page, IDC_MOVIE_SHOW_KEYS, choices[mode]), 0);
        ::SendMessageA(page, WM_COMMAND, MAKEWPARAM(IDC_MOVIE_SHOW_KEYS, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
        EXPECT_EQ(writes, std::vector<std::string>{"ShowKeys"});
        EXPECT_EQ(StoredDword("Movie", "ShowKeys"), mode);
    }
    CloseSheet();
    for (int32_t stored : {1, 2, 7}) {
        SCOPED_TRACE(stored);
        const DWORD value = DWORD(stored);
        ::RegSetKeyValueA(HKEY_CURRENT_USER, (std::string(kTestTree) + "\\Movie").c_str(), "ShowKeys", REG_DWORD, &value, sizeof value);
        page = Open(kMoviePageIndex);
        EXPECT_EQ(SelectedText(page, IDC_MOVIE_SHOW_KEYS), choices[stored <= 2 ? stored : 0]);
        CloseSheet();
    }
    prefs->SetShowKeys(0);
}

TEST_F(PagesTest, MovieButtonsPostTheirCommands)
{
    struct Case {
        bool recording;
        int button;
        UINT message;
        WPARAM wparam;
    };
    const Case cases[] = {
        {false, IDC_MOVIE_START, kMsgCaptureStart, 0}, {true, IDC_MOVIE_START, kMsgCaptureStop, 1},
        {false, IDC_MOVIE_PAUSE, kMsgCapturePause, 0}, {true, IDC_MOVIE_PAUSE, kMsgCapturePause, 0},
        {false, IDC_MOVIE_FRAME, kMsgCaptureFrame, 0},
    };
    HWND page = Open(kMoviePageIndex);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.button * 2 + c.recording);
        if (c.recording != sheet->IsRecording())
            Command(c.recording ? kMsgCaptureStart : kMsgCaptureStop);
        EXPECT_EQ(ItemText(page, IDC_MOVIE_START), c.recording ? "&Stop Recording" : "&Start Recording");
        Click(page, c.button);
        // Posted, not run: the command waits in the panel's queue.
        MSG msg{};
        ASSERT_TRUE(::PeekMessageA(&msg, sheet->Handle(), kMsgCaptureStart, kMsgCaptureFrame, PM_REMOVE));
        EXPECT_EQ(msg.message, c.message);
        EXPECT_EQ(msg.wParam, c.wparam);
        EXPECT_EQ(msg.lParam, 0);
        EXPECT_FALSE(::PeekMessageA(&msg, sheet->Handle(), kMsgCaptureStart, kMsgCaptureFrame, PM_REMOVE));
    }
    Command(kMsgCaptureStop);
}

TEST_F(PagesTest, PlayMovieQuotesThePlayerAndTheMovie)
{
    struct Case {
        const char* program;
        const char* movie;
        const char* commandLine;
    };
    const Case cases[] = {
        {"C:\\Program Files\\Vorlux", "C:\\My Movies\\VluxTake003.avi",
         "\"C:\\Program Files\\Vorlux\\vored102.exe\" \"C:\\My Movies\\VluxTake003.avi\""},
        {"C:\\Vorlux", "", "\"C:\\Vorlux\\vored102.exe\" "},
        {"", "D:\\a.avi", "\"\\vored102.exe\" \"D:\\a.avi\""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MoviePage::PlayerCommandLine(c.program, c.movie), c.commandLine) << c.movie;

    std::vector<std::string> launched;
    HWND page = Open(kMoviePageIndex);
    sheet->Movie().SetLauncher([&](const std::string& line) {
        launched.push_back(line);
        return launched.size() > 1;  // the first start fails: it is told, nothing else is tried
    });
    prefs->SetProgramDirectory("C:\\Program Files\\Vorlux");
    Click(page, IDC_MOVIE_PLAY);
    prefs->SetLastMovieRecorded("C:\\My Movies\\VluxTake003.avi");
    Click(page, IDC_MOVIE_PLAY);
    ASSERT_EQ(launched.size(), 2u);
    EXPECT_EQ(launched[0], "\"C:\\Program Files\\Vorlux\\vored102.exe\" ");
    EXPECT_EQ(launched[1], cases[0].commandLine);
    // The user hears of the player that did not start.
    ASSERT_EQ(sheet->messages.size(), 1u);
    EXPECT_EQ(sheet->messages[0].text, "The movie player could not be started: " + launched[0]);
    EXPECT_EQ(sheet->messages[0].caption, "Could not play movie");
}

TEST_F(PagesTest, SheetHelpGoesToTheMainWindow)
{
    struct Case {
        int page;
        int command;
    };
    const Case cases[] = {{kMoviePageIndex, kCmdHelpMovie},
                          {kSoundPageIndex, kCmdHelpDestinationSound},
                          {kDestinationPageIndex, kCmdHelpDestinationSound},
                          {kKeysPageIndex, kCmdHelpHotKeys}};
    Open(kMoviePageIndex);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.page);
        HelpOwner::commands.clear();
        PropSheet_SetCurSel(sheet->Handle(), nullptr, c.page);
        PropSheet_PressButton(sheet->Handle(), PSBTN_HELP);
        Pump();
        EXPECT_EQ(HelpOwner::commands, std::vector<int>{c.command});
    }
}

// ---- Hot Keys page ----

TEST_F(PagesTest, FormatHotKeyNames)
{
    struct Case {
        int32_t code;
        const char* name;
    };
    const Case cases[] = {
        {0x374, "CTRL+SHIFT+F5"},
        {0x375, "CTRL+SHIFT+F6"},
        {0x078, "F9"},
        {0x300, "CTRL+SHIFT+None!"},
        {0x000, "None!"},
        {0x778, "CTRL+SHIFT+ALT+F9"},  // fixed order whatever was pressed first
        {0x678, "CTRL+ALT+F9"},
        {0x578, "SHIFT+ALT+F9"},
        {0x478, "ALT+F9"},
        {0x3A0, "CTRL+SHIFT+None!"},  // left Shift and beyond are never named
        {0x3FF, "CTRL+SHIFT+None!"},
        {0x307, "CTRL+SHIFT+0x07 ?"},  // no scan code on any layout
        {0xB74, "CTRL+SHIFT+F5"},      // the extended-key bit is ignored
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormatHotKey(c.code), c.name) << std::hex << c.code;
    for (int32_t code = 0; code < 0x800; ++code)
        ASSERT_LE(FormatHotKey(code).size(), 255u) << code;
}

TEST_F(PagesTest, HotKeySetUpNamesTheStoredKeys)
{
    prefs->SetPauseKey(0);
    HWND page = Open(kKeysPageIndex);
    EXPECT_EQ(ItemText(page, IDC_KEYS_START), "CTRL+SHIFT+F5");
    EXPECT_EQ(ItemText(page, IDC_KEYS_STOP), "CTRL+SHIFT+F6");
    EXPECT_EQ(ItemText(page, IDC_KEYS_PAUSE), "None!");
    EXPECT_EQ(ItemText(page, IDC_KEYS_CAPTURE), "CTRL+SHIFT+F8");
}

TEST_F(PagesTest, HotKeyDialogResultsStoreAndRegister)
{
    struct Case {
        int button;
        int32_t before;      // stored before the click
        INT_PTR result;      // what the dialog answers
        int32_t chosen;      // the dialog's new code for kHotKeyChosen
        int32_t after;       // stored afterwards
        const char* shown;
        bool registered;     // Ctrl+Shift+low byte of `after` held by the panel afterwards
        const char* title;
    };
    const Case cases[] = {
        {IDC_KEYS_START, 0x374, kHotKeyChosen, 0x378, 0x378, "CTRL+SHIFT+F9", true, "Change START HotKey"},
        {IDC_KEYS_STOP, 0x37A, kHotKeyDefault, 0x37B, 0x375, "CTRL+SHIFT+F6", true, "Change STOP HotKey"},
        // F9 alone is stored as such but registered as Ctrl+Shift+F9, which the start key holds
        // since the first row: the page marks it.
        {IDC_KEYS_PAUSE, 0x376, kHotKeyChosen, 0x078, 0x078, "F9 (taken)", true, "Change PAUSE HotKey"},
        // Unchanged: the stored key is not registered again, so a key stored behind the page's
        // back stays free.
        {IDC_KEYS_CAPTURE, 0x37B, kHotKeyUnchanged, 0x379, 0x37B, "CTRL+SHIFT+F8", false, "Change CAPTURE HotKey"},
    };
    HWND page = Open(kKeysPageIndex);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        std::vector<HotKeyBlock> seen;
        sheet->Keys().SetKeyDialog([&](HotKeyBlock& block) {
            seen.push_back(block);
            block.key = c.chosen;
            return c.result;
        });
        switch (c.button) {
        case IDC_KEYS_START: prefs->SetStartKey(c.before); break;
        case IDC_KEYS_STOP: prefs->SetStopKey(c.before); break;
        case IDC_KEYS_PAUSE: prefs->SetPauseKey(c.before); break;
        default: prefs->SetCaptureKey(c.before); break;
        }
        WatchWrites();
        Click(page, c.button);
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].title, c.title);
        EXPECT_EQ(seen[0].key, c.before);
        EXPECT_EQ(seen[0].owner, page);
        int32_t stored = c.button == IDC_KEYS_START  ? prefs->GetStartKey()
                         : c.button == IDC_KEYS_STOP ? prefs->GetStopKey()
                         : c.button == IDC_KEYS_PAUSE ? prefs->GetPauseKey()
                                                      : prefs->GetCaptureKey();
        EXPECT_EQ(stored, c.after);
        EXPECT_EQ(writes.size(), c.result == kHotKeyUnchanged ? 0u : 1u);
        EXPECT_EQ(ItemText(page, c.button), c.shown);
        EXPECT_EQ(PanelHolds(static_cast<UINT>(c.after & 0xFF)), c.registered);
    }
}

// The real hot-key dialog: a thread timer finds it once it runs modally, types into its
// control as the control sees keys, and presses one of its buttons.
struct DialogScript {
    std::vector<UINT> keys;  // key-down messages for the control, in order
    int button;
    static inline DialogScript* current = nullptr;
    static inline std::string title;
    static inline int shownCode = -1;

    static void CALLBACK Tick(HWND, UINT, UINT_PTR timer, DWORD)
    {
        HWND dialog = ::FindWindowA("#32770", title.c_str());
        if (!dialog || !current)
            return;
        ::KillTimer(nullptr, timer);
        HWND control = ::GetDlgItem(dialog, IDC_HOTKEY_CONTROL);
        shownCode = static_cast<int>(::SendMessageA(control, HKM_GETHOTKEY, 0, 0));
        // Keys typed while Alt is down arrive as system keys.
        bool alt = false;
        for (UINT key : current->keys) {
            alt = alt || key == VK_MENU;
            ::SendMessageA(control, alt ? WM_SYSKEYDOWN : WM_KEYDOWN, key, 0);
        }
        ::SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(current->button, BN_CLICKED),
                       reinterpret_cast<LPARAM>(::GetDlgItem(dialog, current->button)));
    }
};

TEST_F(PagesTest, HotKeyDialogAppliesTheControlRules)
{
    struct Case {
        const char* title;
        std::vector<UINT> keys;
        int button;
        INT_PTR result;
        int32_t key;  // in the block afterwards
    };
    const Case cases[] = {
        {"Alt+F9 becomes Ctrl+Shift+F9", {VK_MENU, VK_F9}, IDOK, kHotKeyChosen, 0x378},
        {"F9 alone stays", {VK_F9}, IDOK, kHotKeyChosen, 0x078},
        {"Ctrl+Shift+F10", {VK_CONTROL, VK_SHIFT, VK_F10}, IDOK, kHotKeyChosen, 0x379},
        {"Ctrl alone becomes Ctrl+Shift", {VK_CONTROL, VK_F11}, IDOK, kHotKeyChosen, 0x37A},
        {"OK untouched", {}, IDOK, kHotKeyUnchanged, 0x375},
        {"Default ignores the control", {VK_F9}, IDC_HOTKEY_DEFAULT, kHotKeyDefault, 0x375},
        {"Cancel", {VK_F9}, IDCANCEL, kHotKeyUnchanged, 0x375},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        HotKeyBlock block;
        block.title = c.title;
        block.key = 0x375;
        block.owner = owner;
        DialogScript script{c.keys, c.button};
        DialogScript::current = &script;
        DialogScript::title = c.title;
        DialogScript::shownCode = -1;
        ::SetTimer(nullptr, 0, 20, DialogScript::Tick);
        INT_PTR result = HotKeyDialog(block, ::GetModuleHandleA(nullptr)).Execute();
        DialogScript::current = nullptr;
        EXPECT_EQ(DialogScript::shownCode, 0x375);  // opened on the block's code
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(block.key, c.key);
    }
}

// ---- Sound page ----

TEST_F(PagesTest, SoundSetUpShowsTheStoredValues)
{
    struct Case {
        bool enable;
        int32_t frequency;
        int32_t bits;
        int32_t channels;
        int32_t buffers;
        const char* selected;
    };
    const Case cases[] = {
        {true, 22050, 8, 1, 0, "0"},     {false, 44100, 16, 2, 5, "5"}, {true, 11025, 16, 1, 10, "10"},
        {false, 8000, 8, 1, 3, "(none)"}, {false, -1, -1, -1, -1, "(none)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.buffers);
        prefs->SetEnableSoundCapture(c.enable);
        prefs->SetFrequency(c.frequency);
        prefs->SetDataSize(c.bits);
        prefs->SetChannels(c.channels);
        prefs->SetBufferCount(c.buffers);
        HWND page = Open(kSoundPageIndex);
        EXPECT_EQ(IsChecked(page, IDC_SOUND_ENABLE), c.enable);
        EXPECT_EQ(ItemText(page, IDC_SOUND_FREQUENCY), std::to_string(c.frequency));
        EXPECT_EQ(ItemText(page, IDC_SOUND_DATASIZE), std::to_string(c.bits));
        EXPECT_EQ(ItemText(page, IDC_SOUND_CHANNELS), std::to_string(c.channels));
        EXPECT_EQ(SelectedText(page, IDC_SOUND_BUFFERS), c.selected);
        CloseSheet();
    }
}

TEST_F(PagesTest, SoundEnableBoxAndBufferCountStoreAtOnce)
{
    prefs->SetEnableSoundCapture(false);
    prefs->SetBufferCount(3);
    HWND page = Open(kSoundPageIndex);
    Click(page, IDC_SOUND_ENABLE);
    EXPECT_TRUE(prefs->GetEnableSoundCapture());
    Click(page, IDC_SOUND_ENABLE);
    EXPECT_FALSE(prefs->GetEnableSoundCapture());

    CloseUp(page, IDC_SOUND_BUFFERS, -1);
    EXPECT_EQ(prefs->GetBufferCount(), 3);
    const struct {
        const char* text;
        int32_t count;
    } choices[] = {{"10", 10}, {"0", 0}, {"5", 5}};
    for (const auto& choice : choices) {
        CloseUp(page, IDC_SOUND_BUFFERS, FindText(page, IDC_SOUND_BUFFERS, choice.text));
        EXPECT_EQ(prefs->GetBufferCount(), choice.count) << choice.text;
    }
    // The sheet's Cancel undoes nothing.
    Click(page, IDC_SOUND_ENABLE);
    PropSheet_PressButton(sheet->Handle(), PSBTN_CANCEL);
    Pump();
    EXPECT_TRUE(prefs->GetEnableSoundCapture());
}

TEST_F(PagesTest, SoundInitialFormat)
{
    struct Case {
        int32_t channels, frequency, bits;
        WORD blockAlign;
        DWORD rate, bytesPerSecond;
    };
    const Case cases[] = {
        {1, 22050, 8, 1, 22050, 22050},
        {2, 44100, 16, 4, 44100, 176400},
        {2, 11025, 8, 2, 11025, 22050},
        {-1, 22050, 8, 0, 0, 0},  // missing values open the chooser on its own default
        {1, -1, 8, 0, 0, 0},
        {70000, 22050, 16, 0, 0, 0},
        {1, 22050, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.channels * 100000 + c.frequency);
        WAVEFORMATEX f = SoundPage::InitialFormat(c.channels, c.frequency, c.bits);
        EXPECT_EQ(f.wFormatTag, WAVE_FORMAT_PCM);
        EXPECT_EQ(f.nBlockAlign, c.blockAlign);
        EXPECT_EQ(f.nSamplesPerSec, c.rate);
        EXPECT_EQ(f.nAvgBytesPerSec, c.bytesPerSecond);
        EXPECT_EQ(f.cbSize, 0);
    }
}

TEST_F(PagesTest, SoundChooserResultIsStoredAndShown)
{
    prefs->SetFrequency(44100);
    prefs->SetDataSize(16);
    prefs->SetChannels(2);
    HWND page = Open(kSoundPageIndex);
    std::vector<WAVEFORMATEX> given;
    std::vector<HWND> owners;
    bool choose = false;
    sheet->Sound().SetFormatChooser([&](HWND chooserOwner, WAVEFORMATEX& format) {
        given.push_back(format);
        owners.push_back(chooserOwner);
        format = WAVEFORMATEX{WAVE_FORMAT_PCM, 2, 11025, 44100, 4, 16, 0};
        return choose;
    });

    WatchWrites();
    Click(page, IDC_SOUND_FORMAT);  // cancelled
    EXPECT_TRUE(writes.empty());
    EXPECT_EQ(ItemText(page, IDC_SOUND_FREQUENCY), "44100");

    choose = true;
    Click(page, IDC_SOUND_FORMAT);
    ASSERT_EQ(given.size(), 2u);
    EXPECT_EQ(given[1].nSamplesPerSec, 44100u);
    EXPECT_EQ(given[1].nBlockAlign, 4);
    EXPECT_EQ(given[1].nAvgBytesPerSec, 176400u);
    EXPECT_EQ(owners[1], sheet->Handle());
    EXPECT_EQ(prefs->GetFrequency(), 11025);
    EXPECT_EQ(prefs->GetDataSize(), 16);
    EXPECT_EQ(prefs->GetChannels(), 2);
    EXPECT_EQ(ItemText(page, IDC_SOUND_FREQUENCY), "11025");
    EXPECT_EQ(ItemText(page, IDC_SOUND_DATASIZE), "16");
    EXPECT_EQ(ItemText(page, IDC_SOUND_CHANNELS), "2");
}

// ---- Movie Destination page ----

TEST_F(PagesTest, DestinationSplit)
{
    struct Case {
        const char* full;
        bool ok;
        const char* directory;
        const char* baseName;
    };
    const Case cases[] = {
        {"C:\\Movies\\demo.avi", true, "C:\\Movies", "demo"},
        {"C:\\Movies\\take.one.avi", true, "C:\\Movies", "take"},
        {"D:\\clip.avi", true, "D:", "clip"},
        {"C:\\a b\\c d\\no extension", true, "C:\\a b\\c d", "no extension"},
        {"C:\\Movies\\.avi", true, "C:\\Movies", ""},
        {"\\\\server\\share\\x.AVI", true, "\\\\server\\share", "x"},
        {"clip.avi", false, "", ""},
        {"\\clip.avi", false, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.full);
        PathPage::Destination d;
        EXPECT_EQ(PathPage::SplitDestination(c.full, d), c.ok);
        if (c.ok) {
            EXPECT_EQ(d.directory, c.directory);
            EXPECT_EQ(d.baseName, c.baseName);
        }
    }
}

std::string ChangeCase(std::string text, bool upper)
{
    for (char& ch : text)
        ch = static_cast<char>(upper ? std::toupper(static_cast<unsigned char>(ch))
                                     : std::tolower(static_cast<unsigned char>(ch)));
    return text;
}

TEST_F(PagesTest, DestinationTokens)
{
    char windows[MAX_PATH];
    ::GetWindowsDirectoryA(windows, sizeof windows);
    char system[MAX_PATH];
    ::GetSystemDirectoryA(system, sizeof system);
    const char* program = "C:\\Program Files\\Vorlux";
    struct Case {
        std::string directory;
        const char* programDirectory;
        std::string token;
    };
    const Case cases[] = {
        {"c:\\program files\\VORLUX", program, "%c"},
        {ChangeCase(windows, true), program, "%w"},
        {ChangeCase(system, false), program, "%s"},
        {windows, windows, "%c"},  // the program directory is compared first
        {"C:\\Movies", program, "C:\\Movies"},
        {"", "", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PathPage::DirectoryToken(c.directory, c.programDirectory), c.token) << c.directory;
}

TEST_F(PagesTest, DestinationChosenInTheSaveDialog)
{
    struct Case {
        std::string chosen;
        const char* directory;  // stored
        const char* filename;
        std::string shown;
    };
    const std::string movies = Dir("PagesTest");
    const Case cases[] = {
        {movies + "\\demo.avi", "%c", "demo", movies + "\\demo000.avi"},
        {directory + "\\take.one.avi", directory.c_str(), "take", directory + "\\take000.avi"},
        {"D:\\clip.avi", "D:", "clip", "D:\\clip000.avi"},
    };
    prefs->SetAutoIncrement(true);
    HWND page = Open(kDestinationPageIndex);
    std::vector<std::string> initial;
    std::vector<HWND> owners;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.chosen);
        sheet->Destination().SetSaveDialog([&](HWND dialogOwner, const char* start, std::string& chosen) {
            initial.push_back(start);
            owners.push_back(dialogOwner);
            chosen = c.chosen;
            return true;
        });
        Click(page, IDC_DEST_RESET);
        char stored[kPrefsPathSize];
        prefs->GetDirectory(stored, sizeof stored);
        EXPECT_STREQ(stored, c.directory);
        prefs->GetFilename(stored, sizeof stored);
        EXPECT_STREQ(stored, c.filename);
        EXPECT_EQ(ItemText(page, IDC_DEST_PATH), c.shown);
    }
    ASSERT_EQ(initial.size(), 3u);
    EXPECT_EQ(initial[0], directory);  // opens in the current movie directory
    EXPECT_EQ(initial[1], movies);
    EXPECT_EQ(owners[0], page);

    // A recording took the first number: the next refresh names the following one.
    prefs->SetDirectory("%c");
    prefs->SetFilename("demo");
    Touch(movies + "\\demo000.avi");
    sheet->Destination().RefreshDestination();
    EXPECT_EQ(ItemText(page, IDC_DEST_PATH), movies + "\\demo001.avi");
}

TEST_F(PagesTest, DestinationCancelStoresNothing)
{
    HWND page = Open(kDestinationPageIndex);
    std::string before = ItemText(page, IDC_DEST_PATH);
    const char* answers[] = {nullptr, "no directory.avi"};  // cancelled; unusable
    for (const char* answer : answers) {
        sheet->Destination().SetSaveDialog([&](HWND, const char*, std::string& chosen) {
            if (answer)
                chosen = answer;
            return answer != nullptr;
        });
        WatchWrites();
        Click(page, IDC_DEST_RESET);
        EXPECT_TRUE(writes.empty());
        EXPECT_EQ(ItemText(page, IDC_DEST_PATH), before);
    }
}

TEST_F(PagesTest, DestinationAutoIncrementRefreshesTheName)
{
    prefs->SetAutoIncrement(true);
    prefs->SetFilename("VluxTake");
    HWND page = Open(kDestinationPageIndex);
    EXPECT_TRUE(IsChecked(page, IDC_DEST_AUTO));
    EXPECT_EQ(ItemText(page, IDC_DEST_PATH), std::string(directory) + "\\VluxTake000.avi");
    Click(page, IDC_DEST_AUTO);
    EXPECT_FALSE(prefs->GetAutoIncrement());
    EXPECT_EQ(ItemText(page, IDC_DEST_PATH), std::string(directory) + "\\VluxTake.avi");
    Click(page, IDC_DEST_AUTO);
    EXPECT_TRUE(prefs->GetAutoIncrement());
    EXPECT_EQ(ItemText(page, IDC_DEST_PATH), std::string(directory) + "\\VluxTake000.avi");
}

TEST_F(PagesTest, DestinationShowsWhereAnUnusableValueSendsTheMovie)
{
    const std::string path = std::string(kTestTree) + "\\Path";
    const DWORD number = 1;
    const std::string tooLong(300, 'd');
    const struct {
        const char* what;
        const char* name;
        DWORD type;
        const void* data;
        DWORD size;
    } cases[] = {
        {"directory a number", "Directory", REG_DWORD, &number, 4},
        {"directory too long", "Directory", REG_SZ, tooLong.c_str(), DWORD(tooLong.size() + 1)},
        {"name a number", "Filename", REG_DWORD, &number, 4},
        {"name leading out", "Filename", REG_SZ, "..\\..\\x", 8},
    };
    const std::string beside = Dir("PagesTest") + "\\VluxTake000.avi";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        prefs->SetDirectory("%c");
        prefs->SetFilename("VluxTake");
        ASSERT_EQ(::RegSetKeyValueA(HKEY_CURRENT_USER, path.c_str(), c.name, c.type, c.data, c.size), ERROR_SUCCESS);
        HWND page = Open(kDestinationPageIndex);
        EXPECT_EQ(ItemText(page, IDC_DEST_PATH), beside);
        CloseSheet();
    }
}

// ---- The companion player ----

TEST_F(PagesTest, PlayerOpensOnlyAnExistingMovie)
{
    std::string movieA = Dir("PagesTest") + "\\take 1.avi";
    Touch(movieA);
    std::wstring movie(movieA.begin(), movieA.end());
    std::wstring folder = movie.substr(0, movie.rfind(L'\\'));
    struct Case {
        std::wstring path;
        bool opens;
        PlayResult result;
    };
    const Case cases[] = {
        {movie, true, PlayResult::Opened},
        {movie, false, PlayResult::NotOpened},
        {movie + L".missing", true, PlayResult::Missing},
        {folder, true, PlayResult::Missing},
        {L"", true, PlayResult::NoMovie},
    };
    for (const Case& c : cases) {
        std::vector<std::wstring> opened;
        PlayResult result = PlayMovie(c.path, [&](const std::wstring& p) {
            opened.push_back(p);
            return c.opens;
        });
        EXPECT_EQ(result, c.result);
        bool tried = c.result == PlayResult::Opened || c.result == PlayResult::NotOpened;
        EXPECT_EQ(opened.size(), tried ? 1u : 0u);
        EXPECT_EQ(PlayMessage(result, c.path).empty(), result == PlayResult::Opened);
    }
    EXPECT_NE(PlayMessage(PlayResult::Missing, movie).find(movie), std::wstring::npos);
}

TEST_F(PagesTest, PlayerReadsTheMovieFromItsCommandLine)
{
    struct Case {
        const wchar_t* commandLine;
        const wchar_t* movie;
    };
    const Case cases[] = {
        {L"\"C:\\Program Files\\Vorlux\\vored102.exe\" \"C:\\My Movies\\a.avi\"", L"C:\\My Movies\\a.avi"},
        {L"\"C:\\Vorlux\\vored102.exe\" ", L""},
        {L"vored102.exe C:\\My Movies\\a.avi", L"C:\\My Movies\\a.avi"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MovieFromCommandLine(c.commandLine), c.movie);
}

}  // namespace
