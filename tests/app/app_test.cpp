// The application shell: program directory and help path, help commands, and the resources
// the program carries (strings, dialogs, pictures, version information, manifest).

#include "app/VorMain.h"

#include "ids/Messages.h"
#include "ids/resource.h"
#include "framework/ResourceText.h"
#include "panel/PropSheet.h"
#include "settings/Prefs.h"
#include "tests/support/WindowRig.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

TEST(ProgramDirectory, CutAtTheLastBackslash)
{
    struct Case {
        const char* path;
        const char* directory;
    };
    const Case cases[] = {
        {"C:\\Tools\\App\\prog.exe", "C:\\Tools\\App"},
        {"prog.exe", "prog.exe"},
        {"D:\\prog.exe", "D:"},
        {"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ProgramDirectoryFrom(c.path), c.directory) << c.path;
        EXPECT_EQ(HelpFileFor(ProgramDirectoryFrom(c.path)), std::string(c.directory) + "\\vorlux95.hlp");
    }
}

TEST(ProgramDirectory, OverlongPathIsBounded)
{
    std::string path = "C:\\" + std::string(400, 'a') + "\\prog.exe";
    std::string directory = ProgramDirectoryFrom(path.c_str());
    EXPECT_LT(directory.size(), 292u);
}

struct HelpCall {
    HWND owner;
    UINT command;
    ULONG_PTR data;
};

class RecordingHelp : public THelpFileManager {
public:
    std::vector<HelpCall> calls;
    void CallHelp(HWND owner, UINT command, ULONG_PTR data) override { calls.push_back({owner, command, data}); }
};

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        PrefsLocation here{HKEY_CURRENT_USER, "Software\\Quorvane\\VorluxAppTests"};
        prefs = std::make_unique<Prefs>(here, here);
        window = std::make_unique<VorMainWindow>(help, *prefs, ::GetModuleHandleA(nullptr));
        RECT place{0, 0, 10, 10};
        ASSERT_TRUE(window->Create(nullptr, "", WS_POPUP, 0, place, ::GetModuleHandleA(nullptr)));
    }
    void TearDown() override
    {
        window.reset();
        prefs.reset();
        ::RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Quorvane\\VorluxAppTests");
    }
    RecordingHelp help;
    std::unique_ptr<Prefs> prefs;
    std::unique_ptr<VorMainWindow> window;
};

TEST_F(MainWindowTest, SetUpDefersThePanelThroughItsPrivateMessage)
{
    MSG msg{};
    ASSERT_TRUE(::PeekMessageA(&msg, window->Handle(), kMsgStartPanel, kMsgStartPanel, PM_REMOVE));
    EXPECT_EQ(msg.message, 1280u);
}

TEST_F(MainWindowTest, HelpCommands)
{
    struct Case {
        int command;
        UINT helpCommand;
    };
    const Case cases[] = {{400, HELP_FINDER}, {401, HELP_CONTENTS}, {402, HELP_CONTENTS}, {403, HELP_CONTENTS}};
    for (const Case& c : cases) {
        help.calls.clear();
        ::SendMessageA(window->Handle(), WM_COMMAND, static_cast<WPARAM>(c.command), 0);
        ASSERT_EQ(help.calls.size(), 1u) << c.command;
        EXPECT_EQ(help.calls[0].command, c.helpCommand);
        EXPECT_EQ(help.calls[0].data, 0u);
        EXPECT_EQ(help.calls[0].owner, c.command == 400 ? ::GetParent(window->Handle()) : nullptr);
    }
}

TEST_F(MainWindowTest, HelpMessageShowsContextThenContents)
{
    help.AddContext(1234, 77);
    HELPINFO known{sizeof(HELPINFO), HELPINFO_WINDOW, 1234, nullptr, 0, {0, 0}};
    ::SendMessageA(window->Handle(), WM_HELP, 0, reinterpret_cast<LPARAM>(&known));
    ASSERT_EQ(help.calls.size(), 2u);
    EXPECT_EQ(help.calls[0].command, static_cast<UINT>(HELP_CONTEXTPOPUP));
    EXPECT_EQ(help.calls[0].data, 77u);
    EXPECT_EQ(help.calls[1].command, static_cast<UINT>(HELP_CONTENTS));

    help.calls.clear();
    HELPINFO unknown{sizeof(HELPINFO), HELPINFO_WINDOW, 99, nullptr, 0, {0, 0}};
    ::SendMessageA(window->Handle(), WM_HELP, 0, reinterpret_cast<LPARAM>(&unknown));
    ASSERT_EQ(help.calls.size(), 1u);
    EXPECT_EQ(help.calls[0].command, static_cast<UINT>(HELP_CONTENTS));
}

// Counts the help requests that reach a window's own procedure, before its handler runs:
// where the request goes, not what the handler opens.
LRESULT CALLBACK CountHelp(HWND wnd, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR, DWORD_PTR data)
{
    if (message == WM_HELP)
        ++*reinterpret_cast<int*>(data);
    return ::DefSubclassProc(wnd, message, wparam, lparam);
}

// The program's own window tree: the hidden frame, its client as the panel's parent, the panel.
TEST(PanelHelp, F1OnEveryPageReachesTheMainWindow)
{
    const char* tree = "Software\\Quorvane\\VorluxAppHelpTests";
    ::RegDeleteTreeA(HKEY_CURRENT_USER, tree);
    Prefs prefs(PrefsLocation{HKEY_CURRENT_USER, tree}, PrefsLocation{});
    HINSTANCE instance = ::GetModuleHandleA(nullptr);
    RecordingHelp help;
    TSDIDecFrame frame(VorMainApp::kName, std::make_unique<VorMainWindow>(help, prefs, instance), IDI_VORLUX);
    ASSERT_TRUE(frame.Create(instance));
    HWND main = frame.Client().Handle();
    // The modal panel the client would start is replaced by a modeless one below.
    MSG start{};
    ASSERT_TRUE(::PeekMessageA(&start, main, kMsgStartPanel, kMsgStartPanel, PM_REMOVE));
    int arrived = 0;
    ASSERT_TRUE(::SetWindowSubclass(main, CountHelp, 1, reinterpret_cast<DWORD_PTR>(&arrived)));

    PropSheet panel(main, instance, prefs);
    ASSERT_TRUE(panel.Create());
    ::ShowWindow(panel.Handle(), SW_SHOWNORMAL);
    ::SetForegroundWindow(panel.Handle());
    Pump();
    const char* titles[] = {"Movie", "Sound", "Movie Destination", "Hot Keys", "About"};
    for (int page = 0; page < 5; ++page) {
        SCOPED_TRACE(titles[page]);
        PropSheet_SetCurSel(panel.Handle(), nullptr, page);
        Pump();
        // The page's first control, or on the About page its picture.
        HWND shown = PropSheet_GetCurrentPageHwnd(panel.Handle());
        ::SetFocus(shown);
        Pump();
        arrived = 0;
        INPUT keys[2] = {};
        keys[0].type = keys[1].type = INPUT_KEYBOARD;
        keys[0].ki.wVk = keys[1].ki.wVk = VK_F1;
        keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
        ASSERT_EQ(::SendInput(2, keys, sizeof(INPUT)), 2u);
        EXPECT_EQ(::GetParent(::GetFocus()), shown);
        for (int i = 0; i < 20 && arrived == 0; ++i) {
            ::Sleep(20);
            Pump();
        }
        EXPECT_EQ(arrived, 1);
    }
    ::RemoveWindowSubclass(main, CountHelp, 1);
    panel.Destroy();
    ::DestroyWindow(frame.Handle());
    Pump();
    ::RegDeleteTreeA(HKEY_CURRENT_USER, tree);
}

std::string Text(int id)
{
    return LoadText(::GetModuleHandleA(nullptr), id);
}

TEST(Resources, StringTable)
{
    struct Case {
        int id;
        const char* text;
    };
    const Case cases[] = {
        {101, "Fixed Area"},
        {102, "Smooth Pan"},
        {103, "Follow Cursor"},
        {104, "Follow Frame"},
        {105, "Follow Windows"},
        {110, "Change START HotKey"},
        {111, "Change STOP HotKey"},
        {112, "Change PAUSE HotKey"},
        {113, "Change CAPTURE HotKey"},
        {250, "Could not start recording"},
        {251, "A General Vorlux error occurred"},
        {252, "The Capture Thread could not be created"},
        {253, "The Screen bit depth is not 8,16 or 24"},
        {254, "The Requested bit depth is higher than the screen depth"},
        {255, "The width requested is larger than the screen width"},
        {256, "The height requested is larger than the screen height"},
        {257, "File could not be opened"},
        {258, "The wave format requested is not supported"},
        {270, "Vorlux is already running"},
        {271, "If you can't see the other copy of Vorlux,\npress the STOP hotkey (default: CTRL+SHIFT+F6).\n\n"
              "If that doesn't work, try rebooting your computer.\n\nClick OK to run a second copy of Vorlux"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Text(c.id), c.text) << c.id;
}

// The template's title and size, and the ids of its controls, read from the DIALOGEX resource.
struct DialogTemplate {
    std::string title;
    int width = 0;
    int height = 0;
    std::vector<int> ids;
};

std::string ReadWide(const uint16_t*& p)
{
    std::string s;
    for (; *p; ++p)
        s += static_cast<char>(*p);
    ++p;
    return s;
}

void SkipSzOrOrd(const uint16_t*& p)
{
    if (*p == 0xFFFF)
        p += 2;
    else
        ReadWide(p);
}

bool LoadDialog(int id, DialogTemplate& out)
{
    HRSRC found = ::FindResourceA(nullptr, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5));  // RT_DIALOG
    if (!found)
        return false;
    auto* base = static_cast<const uint8_t*>(::LockResource(::LoadResource(nullptr, found)));
    auto* words = reinterpret_cast<const uint16_t*>(base);
    if (words[0] != 1 || words[1] != 0xFFFF)
        return false;  // not DIALOGEX
    uint16_t count = words[8];
    out.width = static_cast<int16_t>(words[11]);
    out.height = static_cast<int16_t>(words[12]);
    const uint16_t* p = words + 13;
    SkipSzOrOrd(p);  // menu
    SkipSzOrOrd(p);  // class
    out.title = ReadWide(p);
    p += 3;  // point size, weight, italic + charset
    ReadWide(p);  // face
    for (uint16_t i = 0; i < count; ++i) {
        auto at = reinterpret_cast<uintptr_t>(p);
        p = reinterpret_cast<const uint16_t*>((at + 3) & ~uintptr_t(3));
        auto* item = reinterpret_cast<const uint8_t*>(p);
        int32_t itemId;
        std::memcpy(&itemId, item + 20, 4);
        out.ids.push_back(itemId);
        p = reinterpret_cast<const uint16_t*>(item + 24);
        SkipSzOrOrd(p);  // class
        SkipSzOrOrd(p);  // text
        uint16_t extra = *p++;
        p = reinterpret_cast<const uint16_t*>(reinterpret_cast<const uint8_t*>(p) + extra);
    }
    return true;
}

TEST(Resources, Dialogs)
{
    struct Case {
        int id;
        const char* title;
        int width;
        int height;
        std::vector<int> ids;
    };
    const Case cases[] = {
        {100, "About", 260, 160, {}},
        {101, "Movie", 260, 160, {100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 110, 111, 112, 113}},
        {102, "Hot Keys", 260, 160, {100, 101, 102, 103}},
        {103, "Movie Destination", 260, 160, {100, 102, 104}},
        {104, "Sound", 260, 160, {100, 101, 102, 103, 104, 105}},
        {107, "Hotkey", 185, 97, {1, 2, 100, 101}},
        {108, "Capture Area", 163, 120, {1, 2, 100, 101, 103, 104, 105, 106, 107, 108}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        DialogTemplate t;
        ASSERT_TRUE(LoadDialog(c.id, t));
        EXPECT_EQ(t.title, c.title);
        EXPECT_EQ(t.width, c.width);
        EXPECT_EQ(t.height, c.height);
        for (int wanted : c.ids)
            EXPECT_NE(std::find(t.ids.begin(), t.ids.end(), wanted), t.ids.end()) << "control " << wanted;
    }
}

TEST(Resources, PicturesAndIcon)
{
    struct Case {
        int id;
        int width;
        int height;
    };
    const Case cases[] = {{IDB_ABOUT, 373, 217}, {IDB_STRIP, 0, 0}};
    for (const Case& c : cases) {
        HRSRC found = ::FindResourceA(nullptr, MAKEINTRESOURCEA(c.id), MAKEINTRESOURCEA(2));  // RT_BITMAP
        ASSERT_NE(found, nullptr) << c.id;
        auto* header = static_cast<const BITMAPINFOHEADER*>(::LockResource(::LoadResource(nullptr, found)));
        EXPECT_EQ(header->biBitCount, 8) << c.id;
        if (c.width) {
            EXPECT_EQ(header->biWidth, c.width);
            EXPECT_EQ(header->biHeight, c.height);
        }
    }
    EXPECT_NE(::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_VORLUX)), nullptr);
}

std::string VersionString(const std::vector<char>& block, const char* name)
{
    std::string query = std::string("\\StringFileInfo\\040904E4\\") + name;
    char* value = nullptr;
    UINT size = 0;
    if (!::VerQueryValueA(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &size) || !value)
        return "(missing)";
    return value;
}

TEST(Resources, VersionInformation)
{
    char path[MAX_PATH];
    ASSERT_GT(::GetModuleFileNameA(nullptr, path, sizeof path), 0u);
    DWORD handle = 0;
    DWORD size = ::GetFileVersionInfoSizeA(path, &handle);
    ASSERT_GT(size, 0u);
    std::vector<char> block(size);
    ASSERT_TRUE(::GetFileVersionInfoA(path, 0, size, block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    ASSERT_TRUE(::VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &fixedSize));
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(0, 3));
    EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(0, 2));
    EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(0, 3));
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);
    EXPECT_EQ(fixed->dwFileFlagsMask, static_cast<DWORD>(VS_FFI_FILEFLAGSMASK));
    EXPECT_EQ(fixed->dwFileFlags, static_cast<DWORD>(VS_FF_PRERELEASE | VS_FF_PRIVATEBUILD));

    struct Case {
        const char* name;
        const char* value;
    };
    const Case cases[] = {{"FileDescription", "Vorlux 3.0 recorder"}, {"FileVersion", "3.0.2"},
                          {"InternalName", "recorder"},            {"ProductName", "Vorlux"},
                          {"ProductVersion", "3.0.0"}};
    for (const Case& c : cases)
        EXPECT_EQ(VersionString(block, c.name), c.value) << c.name;
    for (const char* present : {"CompanyName", "LegalCopyright", "OriginalFilename"})
        EXPECT_NE(VersionString(block, present), "(missing)") << present;
}

TEST(Resources, Manifest)
{
    HRSRC found = ::FindResourceA(nullptr, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));  // RT_MANIFEST
    ASSERT_NE(found, nullptr);
    std::string text(static_cast<const char*>(::LockResource(::LoadResource(nullptr, found))),
                     ::SizeofResource(nullptr, found));
    for (const char* wanted : {"Microsoft.Windows.Common-Controls", "version=\"6.0.0.0\"", "PerMonitorV2",
                               "level=\"asInvoker\""})
        EXPECT_NE(text.find(wanted), std::string::npos) << wanted;
}

}  // namespace
