// The application shell: program directory and help path, and the resources the program
// carries (strings, dialogs, pictures, icons, version information, manifest). Help is in
// help_test.cpp.

#include "app/VorMain.h"

#include "ids/Messages.h"
#include "ids/resource.h"
#include "framework/ResourceText.h"
#include "panel/PropSheet.h"
#include "settings/Prefs.h"
#include "tests/support/WindowRig.h"

#include <gtest/gtest.h>

#include <algorithm>
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
        EXPECT_EQ(HelpFileFor(ProgramDirectoryFrom(c.path)), std::string(c.directory) + "\\vorlux-help.html");
    }
}

TEST(ProgramDirectory, OverlongPathIsBounded)
{
    std::string path = "C:\\" + std::string(400, 'a') + "\\prog.exe";
    std::string directory = ProgramDirectoryFrom(path.c_str());
    EXPECT_LT(directory.size(), 292u);
}

// Help that goes nowhere: these tests count where the requests arrive, not what they open.
class QuietHelp : public THelpFileManager {
protected:
    void ReportMissingHelp(const std::string&) override {}
    void ReportHelpNotOpened(const std::string&) override {}
};

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
    QuietHelp help;
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
        {101, "Movie", 260, 176, {100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 110, 111, 112, 113, 117, 120}},
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

// The sizes an icon resource holds, from its group directory (RT_GROUP_ICON): a picture drawn
// at each size the notification area uses stays crisp, where a scaled one blurs.
std::vector<int> IconSizes(int id)
{
    std::vector<int> sizes;
    HRSRC found = ::FindResourceA(nullptr, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(14));  // RT_GROUP_ICON
    if (!found)
        return sizes;
    auto* base = static_cast<const uint8_t*>(::LockResource(::LoadResource(nullptr, found)));
    uint16_t count = 0;
    std::memcpy(&count, base + 4, 2);
    for (uint16_t i = 0; i < count; ++i) {
        const uint8_t* entry = base + 6 + 14 * i;  // GRPICONDIRENTRY
        sizes.push_back(entry[0] == 0 ? 256 : entry[0]);
        EXPECT_EQ(entry[0], entry[1]) << "icon " << id << " entry " << i << " is not square";
    }
    std::sort(sizes.begin(), sizes.end());
    return sizes;
}

TEST(Resources, IconsAreDrawnAtSixteenAndThirtyTwo)
{
    for (int id : {IDI_VORLUX, IDI_STATUS_IDLE, IDI_STATUS_RECORDING, IDI_STATUS_PAUSED, IDI_STATUS_FAILED})
        EXPECT_EQ(IconSizes(id), (std::vector<int>{16, 32})) << id;
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
