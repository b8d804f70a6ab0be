// Help: which topic each help command and F1 opens, the address and the browser command made for
// it, what a missing help file or a browser that will not start does, F1 on every page and in
// the Capture Area dialog through the real window chain, and the shipped page itself.

#include "app/VorMain.h"

#include "framework/TDialog.h"
#include "framework/TShell.h"
#include "ids/Messages.h"
#include "ids/resource.h"
#include "panel/PropSheet.h"
#include "panel/ResizePage.h"
#include "settings/Prefs.h"
#include "tests/support/SheetRig.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr char kTestTree[] = "Software\\Quorvane\\VorluxHelpTests";
constexpr char kBrowser[] = "C:\\Browsers\\web.exe";
constexpr UINT kKeyF1 = 0x004D;  // WM_KEYF1: what the system sends the focus window for F1

struct ShellCall {
    std::string file;
    std::string parameters;
    bool operator==(const ShellCall&) const = default;
};

std::ostream& operator<<(std::ostream& out, const ShellCall& call)
{
    return out << "{" << call.file << " | " << call.parameters << "}";
}

// The shell as the help sees it: a browser whose command puts the address in one argument.
class RecordingShell : public TShell {
public:
    std::string browser = std::string("\"") + kBrowser + "\" --single-argument %1";
    bool starts = true;
    std::vector<ShellCall> calls;

    bool Execute(const std::string& file, const std::string& parameters) override
    {
        calls.push_back({file, parameters});
        return starts;
    }
    std::string BrowserCommand() override { return browser; }
};

class RecordingHelp : public THelpFileManager {
public:
    std::vector<std::string> missing;
    std::vector<std::string> notOpened;

protected:
    void ReportMissingHelp(const std::string& path) override { missing.push_back(path); }
    void ReportHelpNotOpened(const std::string& url) override { notOpened.push_back(url); }
};

std::string TempDirectory()
{
    char temp[MAX_PATH] = {};
    ::GetTempPathA(sizeof temp, temp);
    std::string dir(temp);
    if (!dir.empty() && dir.back() == '\\')
        dir.pop_back();
    return dir;
}

// The help file in a directory whose name needs escaping in an address.
class HelpTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        directory = TempDirectory() + "\\vorlux help #1";
        ::CreateDirectoryA(directory.c_str(), nullptr);
        file = directory + "\\vorlux-help.html";
        std::ofstream(file) << "<html></html>";
        help.SetHelpFile(file);
        help.SetShell(shell);
        AddHelpTopics(help);
        ::RegDeleteTreeA(HKEY_CURRENT_USER, kTestTree);
        PrefsLocation here{HKEY_CURRENT_USER, kTestTree};
        prefs = std::make_unique<Prefs>(here, here);
        window = std::make_unique<VorMainWindow>(help, *prefs, ::GetModuleHandleA(nullptr));
        RECT place{0, 0, 10, 10};
        ASSERT_TRUE(window->Create(nullptr, "", WS_POPUP, 0, place, ::GetModuleHandleA(nullptr)));
        MSG msg;
        ::PeekMessageA(&msg, window->Handle(), kMsgStartPanel, kMsgStartPanel, PM_REMOVE);  // no panel here
    }
    void TearDown() override
    {
        window.reset();
        prefs.reset();
        ::RegDeleteTreeA(HKEY_CURRENT_USER, kTestTree);
        ::DeleteFileA(file.c_str());
        ::RemoveDirectoryA(directory.c_str());
    }
    // The address of the help file, written out by hand: drive path, forward slashes, the
    // space and the "#" of the directory's name escaped.
    std::string Url(const std::string& anchor) const
    {
        std::string temp = TempDirectory();
        for (char& c : temp)
            if (c == '\\')
                c = '/';
        return "file:///" + temp + "/vorlux%20help%20%231/vorlux-help.html#" + anchor;
    }
    ShellCall BrowserCall(const std::string& anchor) const
    {
        return {kBrowser, "--single-argument " + Url(anchor)};
    }
    void Command(int command, HWND sender = nullptr)
    {
        ::SendMessageA(window->Handle(), WM_COMMAND, static_cast<WPARAM>(command), reinterpret_cast<LPARAM>(sender));
    }
    // A child window of the main window carrying `context`, with a control inside it.
    HWND Child(DWORD context)
    {
        HWND child = ::CreateWindowExA(0, "STATIC", "", WS_CHILD, 0, 0, 5, 5, window->Handle(), nullptr,
                                       ::GetModuleHandleA(nullptr), nullptr);
        ::SetWindowContextHelpId(child, context);
        return child;
    }

    std::string directory;
    std::string file;
    RecordingShell shell;
    RecordingHelp help;
    std::unique_ptr<Prefs> prefs;
    std::unique_ptr<VorMainWindow> window;
};

TEST_F(HelpTest, MainWindowDefersThePanelThroughItsPrivateMessage)
{
    window.reset();
    window = std::make_unique<VorMainWindow>(help, *prefs, ::GetModuleHandleA(nullptr));
    RECT place{0, 0, 10, 10};
    ASSERT_TRUE(window->Create(nullptr, "", WS_POPUP, 0, place, ::GetModuleHandleA(nullptr)));
    MSG msg{};
    ASSERT_TRUE(::PeekMessageA(&msg, window->Handle(), kMsgStartPanel, kMsgStartPanel, PM_REMOVE));
    EXPECT_EQ(msg.message, 1280u);
}

TEST_F(HelpTest, CommandsOpenTheirTopicsInTheBrowser)
{
    struct Case {
        int command;
        const char* anchor;
    };
    const Case cases[] = {{kCmdHelpFinder, "contents"},
                          {kCmdHelpMovie, "movie"},
                          {kCmdHelpDestinationSound, "destination-and-sound"},
                          {kCmdHelpHotKeys, "hot-keys"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        shell.calls.clear();
        Command(c.command);
        EXPECT_EQ(shell.calls, std::vector<ShellCall>{BrowserCall(c.anchor)});
    }
    EXPECT_TRUE(help.missing.empty());
    EXPECT_TRUE(help.notOpened.empty());
}

TEST_F(HelpTest, HelpButtonOpensTheTopicOfThePageThatSentIt)
{
    struct Case {
        int command;
        DWORD senderContext;
        const char* anchor;
    };
    const Case cases[] = {
        {kCmdHelpDestinationSound, DialogHelpContext(IDD_SOUND), "sound"},
        {kCmdHelpDestinationSound, DialogHelpContext(IDD_DESTINATION), "destination"},
        {kCmdHelpDestinationSound, 0, "destination-and-sound"},  // a sender without a topic
        {kCmdHelpMovie, DialogHelpContext(IDD_MOVIE), "movie"},
        {kCmdHelpHotKeys, 0x12345, "hot-keys"},  // a context the help does not know
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.anchor);
        shell.calls.clear();
        HWND sender = Child(c.senderContext);
        Command(c.command, sender);
        ::DestroyWindow(sender);
        EXPECT_EQ(shell.calls, std::vector<ShellCall>{BrowserCall(c.anchor)});
    }
}

TEST_F(HelpTest, F1OpensTheTopicOfTheNearestWindowThatHasOne)
{
    HWND page = Child(DialogHelpContext(IDD_HOTKEYS));
    HWND control = ::CreateWindowExA(0, "BUTTON", "", WS_CHILD, 0, 0, 5, 5, page, nullptr, nullptr, nullptr);
    struct Case {
        const char* what;
        int type;
        HWND item;
        DWORD context;
        const char* anchor;
    };
    const Case cases[] = {
        {"a control on a page", HELPINFO_WINDOW, control, 0, "hot-keys"},
        {"the page itself", HELPINFO_WINDOW, page, 0, "hot-keys"},
        {"a control with a topic of its own", HELPINFO_WINDOW, control, DialogHelpContext(IDD_ABOUT), "about"},
        {"an unknown context of its own", HELPINFO_WINDOW, control, 777, "hot-keys"},
        {"a window outside any page", HELPINFO_WINDOW, window->Handle(), 0, "contents"},
        {"a menu item", HELPINFO_MENUITEM, nullptr, 0, "contents"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        shell.calls.clear();
        HELPINFO info{sizeof(HELPINFO), c.type, 0, c.item, c.context, {0, 0}};
        ::SendMessageA(window->Handle(), WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
        EXPECT_EQ(shell.calls, std::vector<ShellCall>{BrowserCall(c.anchor)});
    }
    ::DestroyWindow(page);
}

TEST_F(HelpTest, MissingHelpFileIsReportedAndNothingIsStarted)
{
    ASSERT_TRUE(::DeleteFileA(file.c_str()));
    Command(kCmdHelpMovie);
    EXPECT_TRUE(shell.calls.empty());
    EXPECT_EQ(help.missing, std::vector<std::string>{file});
}

TEST_F(HelpTest, WithoutABrowserTheShellOpensTheAddress)
{
    shell.browser.clear();
    Command(kCmdHelpMovie);
    EXPECT_EQ(shell.calls, (std::vector<ShellCall>{{Url("movie"), ""}}));
}

TEST_F(HelpTest, ABrowserThatWillNotStartFallsBackThenIsReported)
{
    shell.starts = false;
    Command(kCmdHelpHotKeys);
    std::string page = Url("hot-keys");
    page.resize(page.find('#'));
    EXPECT_EQ(shell.calls, (std::vector<ShellCall>{BrowserCall("hot-keys"), {Url("hot-keys"), ""}, {page, ""}}));
    EXPECT_EQ(help.notOpened, std::vector<std::string>{Url("hot-keys")});
}

TEST(HelpAddress, FileUrlEscapesWhatWouldCutIt)
{
    struct Case {
        const char* path;
        const char* anchor;
        const char* url;
    };
    const Case cases[] = {
        {"C:\\Program Files\\Vorlux\\vorlux-help.html", "movie",
         "file:///C:/Program%20Files/Vorlux/vorlux-help.html#movie"},
        {"D:\\a#b\\50%\\help.html", "", "file:///D:/a%23b/50%25/help.html"},
        {"\\\\server\\share\\help.html", "sound", "file://server/share/help.html#sound"},
        {"C:\\Caf\xC3\xA9\\h.html", "x", "file:///C:/Caf%C3%A9/h.html#x"},  // UTF-8 bytes, each escaped
        {"C:\\a:b?c&d\\h.html", "", "file:///C:/a%3Ab%3Fc%26d/h.html"},   // only a drive's colon stays
    };
    for (const Case& c : cases)
        EXPECT_EQ(FileUrl(c.path, c.anchor), c.url) << c.path;
}

TEST(HelpAddress, BrowserCommandTakesTheAddressWhereItsPlaceholderIs)
{
    const std::string url = "file:///C:/h.html#movie";
    struct Case {
        const char* command;
        const char* program;
        const char* parameters;
    };
    const Case cases[] = {
        {"\"C:\\Program Files\\Web\\web.exe\" --single-argument %1", "C:\\Program Files\\Web\\web.exe",
         "--single-argument file:///C:/h.html#movie"},
        {"\"C:\\Fox\\fox.exe\" -osint -url \"%1\"", "C:\\Fox\\fox.exe", "-osint -url \"file:///C:/h.html#movie\""},
        {"C:\\windows\\system32\\winebrowser.exe \"%1\"", "C:\\windows\\system32\\winebrowser.exe",
         "\"file:///C:/h.html#movie\""},
        {"\"C:\\Old\\browse.exe\"", "C:\\Old\\browse.exe", "\"file:///C:/h.html#movie\""},  // no placeholder
        {"\"C:\\B\\b.exe\" %L", "C:\\B\\b.exe", "file:///C:/h.html#movie"},
        {"   ", "", ""},
        {"\"C:\\unclosed.exe %1", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        TLaunch launch = BrowserLaunch(c.command, url);
        EXPECT_EQ(launch.program, c.program);
        if (launch.program.empty())
            continue;
        EXPECT_EQ(launch.parameters, c.parameters);
    }
    // An address holding "%1" is placed once and not replaced again.
    EXPECT_EQ(BrowserLaunch("b.exe %1 %1", "file:///C:/x%1y").parameters, "file:///C:/x%1y file:///C:/x%1y");
}

// The help page as the build ships it beside the program (and beside this test).
std::string ShippedPage()
{
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, sizeof path);
    std::string page(path);
    page = page.substr(0, page.find_last_of('\\') + 1) + "vorlux-help.html";
    std::ifstream in(page, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(HelpPage, EveryTopicHasItsAnchorAndEveryPictureIsShipped)
{
    const std::string page = ShippedPage();
    ASSERT_FALSE(page.empty()) << "no vorlux-help.html beside the program";
    std::set<std::string> ids;
    const std::regex idPattern("id=\"([^\"]+)\"");
    for (auto it = std::sregex_iterator(page.begin(), page.end(), idPattern); it != std::sregex_iterator(); ++it)
        EXPECT_TRUE(ids.insert((*it)[1]).second) << "anchor " << (*it)[1] << " twice";
    for (const HelpTopic& topic : HelpTopics())
        EXPECT_EQ(ids.count(topic.anchor), 1u) << "no anchor " << topic.anchor << " for context " << topic.context;
    // Every link inside the page lands on an anchor.
    const std::regex linkPattern("href=\"#([^\"]+)\"");
    for (auto it = std::sregex_iterator(page.begin(), page.end(), linkPattern); it != std::sregex_iterator(); ++it)
        EXPECT_EQ(ids.count((*it)[1]), 1u) << "link to a missing anchor " << (*it)[1];

    char self[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, self, sizeof self);
    std::string directory(self);
    directory.resize(directory.find_last_of('\\'));
    const std::regex picturePattern("src=\"([^\"]+)\"");
    int pictures = 0;
    for (auto it = std::sregex_iterator(page.begin(), page.end(), picturePattern); it != std::sregex_iterator();
         ++it) {
        std::string relative = (*it)[1];
        for (char& c : relative)
            if (c == '/')
                c = '\\';
        const std::string picture = directory + "\\" + relative;
        EXPECT_NE(::GetFileAttributesA(picture.c_str()), INVALID_FILE_ATTRIBUTES) << picture;
        ++pictures;
    }
    EXPECT_GE(pictures, 8);
}

// ---- F1 and the Help buttons through the real windows ---------------------------------------

class NoNotifyArea : public TNotifyArea {
public:
    bool Notify(DWORD, NOTIFYICONDATAW&) override { return true; }
};

// The panel owned by the main window, as in the program.
class PanelHelpTest : public HelpTest {
protected:
    void SetUp() override
    {
        HelpTest::SetUp();
        sheet = std::make_unique<TestSheet>(window->Handle(), *prefs, journal);
        sheet->Status().SetNotifyArea(notifyArea);
        ASSERT_TRUE(sheet->Create());
        ::ShowWindow(sheet->Handle(), SW_SHOWNORMAL);
        Pump();
    }
    void TearDown() override
    {
        sheet.reset();
        Pump();
        HelpTest::TearDown();
    }
    HWND ShowPage(int index)
    {
        PropSheet_SetCurSel(sheet->Handle(), nullptr, index);
        Pump();
        return PropSheet_GetCurrentPageHwnd(sheet->Handle());
    }

    Journal journal;
    NoNotifyArea notifyArea;
    std::unique_ptr<TestSheet> sheet;
};

struct PageTopic {
    int index;
    const char* anchor;
};
const PageTopic kPageTopics[] = {{0, "movie"}, {1, "sound"}, {2, "destination"}, {3, "hot-keys"}, {4, "about"}};

TEST_F(PanelHelpTest, F1OnEveryPageOpensThatPagesTopic)
{
    for (const PageTopic& p : kPageTopics) {
        SCOPED_TRACE(p.anchor);
        HWND page = ShowPage(p.index);
        ASSERT_NE(page, nullptr);
        // F1 in the page's first control, and on the page where it has none to focus.
        HWND control = ::GetNextDlgTabItem(page, nullptr, FALSE);
        for (HWND focus : {control, page}) {
            if (!focus)
                continue;
            shell.calls.clear();
            ::SendMessageA(focus, kKeyF1, 0, 0);
            EXPECT_EQ(shell.calls, std::vector<ShellCall>{BrowserCall(p.anchor)});
        }
    }
}

TEST_F(PanelHelpTest, F1OnTheSheetsOwnButtonsOpensThePageInView)
{
    for (const PageTopic& p : kPageTopics) {
        SCOPED_TRACE(p.anchor);
        ShowPage(p.index);
        shell.calls.clear();
        ::SendMessageA(::GetDlgItem(sheet->Handle(), IDOK), kKeyF1, 0, 0);
        EXPECT_EQ(shell.calls, std::vector<ShellCall>{BrowserCall(p.anchor)});
    }
}

TEST_F(PanelHelpTest, HelpButtonOnEveryPageOpensThatPagesTopic)
{
    for (const PageTopic& p : kPageTopics) {
        if (p.index == 4)
            continue;  // the About page has no Help button
        SCOPED_TRACE(p.anchor);
        ShowPage(p.index);
        shell.calls.clear();
        PropSheet_PressButton(sheet->Handle(), PSBTN_HELP);
        Pump();
        EXPECT_EQ(shell.calls, std::vector<ShellCall>{BrowserCall(p.anchor)});
    }
}

// The Capture Area dialog runs modally: F1 is pressed from a timer inside its loop.
struct InDialog {
    static inline std::function<void(HWND)> steps;
    static inline bool ran = false;
    static void CALLBACK Run(HWND, UINT, UINT_PTR id, DWORD)
    {
        ::KillTimer(nullptr, id);
        HWND dialog = ::FindWindowA("#32770", "Capture Area");
        if (!dialog)
            return;
        ran = true;
        steps(dialog);
        ::PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    }
};

TEST_F(PanelHelpTest, CaptureAreaDialogF1OpensItsTopic)
{
    InDialog::ran = false;
    InDialog::steps = [&](HWND dialog) {
        for (HWND focus : {::GetDlgItem(dialog, IDC_AREA_WIDTH), ::GetDlgItem(dialog, IDC_AREA_PAN_BAR), dialog}) {
            shell.calls.clear();
            ::SendMessageA(focus, kKeyF1, 0, 0);
            EXPECT_EQ(shell.calls, std::vector<ShellCall>{BrowserCall("capture-area")});
        }
    };
    HWND page = ShowPage(0);
    ResizePage dialog(page, *prefs, ::GetModuleHandleA(nullptr));
    ::SetTimer(nullptr, 0, 50, InDialog::Run);
    dialog.Execute();
    EXPECT_TRUE(InDialog::ran);
}

}  // namespace
