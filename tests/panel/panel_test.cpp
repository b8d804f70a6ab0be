// The settings panel with an engine built from doubles: what each command hands the engine,
// the labels, hiding and showing, the start-error messages and the hot keys.

#include "panel/PropSheet.h"

#include "ids/Messages.h"
#include "ids/resource.h"
#include "settings/Prefs.h"
#include "tests/engine/FakeParts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr char kTestTree[] = "Software\\Quorvane\\VorluxPanelTests";

struct ShownMessage {
    std::string text;
    std::string caption;
    bool panelVisible;
};

class TestSheet : public PropSheet {
public:
    TestSheet(Prefs& prefs, Journal& journal) : PropSheet(nullptr, ::GetModuleHandleA(nullptr), prefs), journal(journal) {}
    Journal& journal;
    FakeFactory* factory = nullptr;  // not owned: the engine owns it
    std::vector<ShownMessage> messages;

protected:
    std::unique_ptr<CaptureFactory> CreateFactory() override
    {
        auto f = std::make_unique<FakeFactory>(journal, nullptr);
        factory = f.get();
        return f;
    }
    void ShowMessage(const char* text, const char* caption) override
    {
        messages.push_back({text, caption, ::IsWindowVisible(Handle()) != FALSE});
    }
};

void Pump()
{
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
}

std::string ItemText(HWND dialog, int id)
{
    char text[256] = {};
    ::GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

class PanelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::RegDeleteTreeA(HKEY_CURRENT_USER, kTestTree);
        PrefsLocation here{HKEY_CURRENT_USER, kTestTree};
        prefs = std::make_unique<Prefs>(here, here);
        ::GetTempPathA(sizeof directory, directory);
        size_t n = std::strlen(directory);
        if (n && directory[n - 1] == '\\')
            directory[n - 1] = '\0';
        prefs->SetProgramDirectory(directory);
        sheet = std::make_unique<TestSheet>(*prefs, journal);
        ASSERT_TRUE(sheet->Create());
        ASSERT_NE(sheet->Engine(), nullptr);
        ::ShowWindow(sheet->Handle(), SW_SHOWNORMAL);
        Pump();
    }
    void TearDown() override
    {
        sheet.reset();
        Pump();
        prefs.reset();
        ::RegDeleteTreeA(HKEY_CURRENT_USER, kTestTree);
    }
    void Command(UINT message)
    {
        ::PostMessageA(sheet->Handle(), message, 0, 0);
        Pump();
    }
    std::string MovieLabel(int id) { return ItemText(sheet->Movie().Handle(), id); }
    std::string NextPath(const char* name) { return std::string(directory) + "\\" + name; }

    Journal journal;
    std::unique_ptr<Prefs> prefs;
    std::unique_ptr<TestSheet> sheet;
    char directory[MAX_PATH] = {};
};

TEST_F(PanelTest, StartHandsTheEngineEveryStoredValue)
{
    prefs->SetCaptureArea(VRect{10, 20, 330, 260});
    prefs->SetKeyFrame(7);
    prefs->SetCaptureMode(kFollowCursor);
    prefs->SetFramesPerSecond(12);
    prefs->SetPanValue(30);
    prefs->SetCursorMode(1);
    prefs->SetEnableSoundCapture(true);
    prefs->SetChannels(2);
    prefs->SetFrequency(22050);
    prefs->SetDataSize(16);

    Command(kMsgCaptureStart);

    const CaptureInfo& info = sheet->Engine()->Info();
    EXPECT_EQ(info.origin, (VPoint{10, 20}));
    EXPECT_EQ(info.bitmapInfo.bmiHeader.biWidth, 320);
    EXPECT_EQ(info.bitmapInfo.bmiHeader.biHeight, 240);
    EXPECT_EQ(info.keyFrameEvery, 7);
    EXPECT_EQ(info.captureMode.load(), kFollowCursor);
    EXPECT_EQ(info.framesPerSecond, 12);
    EXPECT_EQ(info.panMargin.load(), 30);
    EXPECT_FALSE(info.drawCursor.load());        // Hide Cursor on
    EXPECT_TRUE(info.attachCursorThread.load());  // RecordMouseShape default 1
    EXPECT_TRUE(info.recordSound);
    EXPECT_EQ(info.waveFormat.nChannels, 2);
    EXPECT_EQ(info.waveFormat.nSamplesPerSec, 22050u);
    EXPECT_EQ(info.waveFormat.wBitsPerSample, 16);
    EXPECT_EQ(info.fileName, NextPath("VluxTake000.avi"));
    char last[kPrefsPathSize];
    prefs->GetLastMovieRecorded(last, sizeof last);
    EXPECT_EQ(std::string(last), NextPath("VluxTake000.avi"));
    EXPECT_TRUE(sheet->IsRecording());
    EXPECT_EQ(MovieLabel(IDC_MOVIE_START), "&Stop Recording");
    EXPECT_TRUE(sheet->messages.empty());

    Command(kMsgCaptureStop);
    EXPECT_FALSE(sheet->IsRecording());
    EXPECT_EQ(MovieLabel(IDC_MOVIE_START), "&Start Recording");
    EXPECT_TRUE(journal.Has("screen.End"));
}

TEST_F(PanelTest, CompressorFollowsTheScreenDepth)
{
    struct Case {
        int16_t depth;
        uint32_t fourcc;
    };
    const Case cases[] = {{8, MakeFourCC("mrle")}, {16, MakeFourCC("MSVC")}, {24, MakeFourCC("MSVC")}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.depth);
        ASSERT_TRUE(sheet->Engine()->SetBitDepth(c.depth));
        Command(kMsgCaptureStart);
        EXPECT_EQ(sheet->Engine()->GetCompressor(), c.fourcc);
        Command(kMsgCaptureStop);
    }
}

// Each command reads the two switches afresh, so a change on the Movie page counts at the next
// start or snapshot; a store without them (made by an older version) means both off.
TEST_F(PanelTest, ClickSwitchesReachTheEngineAtEveryStartAndSnapshot)
{
    struct Case {
        const char* what;
        bool highlight;
        bool halo;
    };
    const Case cases[] = {{"both on", true, true}, {"highlight only", true, false},
                          {"halo only", false, true}, {"both off", false, false}};
    for (UINT command : {kMsgCaptureStart, kMsgCaptureFrame}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (command == kMsgCaptureStart ? ", start" : ", snapshot"));
            prefs->SetHighlightClicks(c.highlight);
            prefs->SetCursorHalo(c.halo);
            Command(command);
            EXPECT_EQ(sheet->Engine()->Info().highlightClicks.load(), c.highlight);
            EXPECT_EQ(sheet->Engine()->Info().cursorHalo.load(), c.halo);
            Command(kMsgCaptureStop);
        }
    }
    sheet->Engine()->SetHighlightClicks(true);
    sheet->Engine()->SetCursorHalo(true);
    ScopedRegKey movie;
    HKEY key = nullptr;
    ASSERT_EQ(::RegOpenKeyExA(HKEY_CURRENT_USER, (std::string(kTestTree) + "\\Movie").c_str(), 0, KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    movie.reset(key);
    ::RegDeleteValueA(movie.get(), "HighlightClicks");
    ::RegDeleteValueA(movie.get(), "CursorHalo");
    Command(kMsgCaptureStart);
    EXPECT_FALSE(sheet->Engine()->Info().highlightClicks.load());
    EXPECT_FALSE(sheet->Engine()->Info().cursorHalo.load());
    Command(kMsgCaptureStop);
}

TEST_F(PanelTest, UnknownCaptureModeRecordsAFixedArea)
{
    struct Case {
        int32_t stored;
        int32_t expected;
    };
    const Case cases[] = {{3, 3}, {5, kFixedArea}, {-1, kFixedArea}, {4, 4}, {1000, kFixedArea}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        sheet->Engine()->SetCaptureMode(kFollowWindows);
        prefs->SetCaptureMode(c.stored);
        Command(kMsgCaptureStart);
        EXPECT_EQ(sheet->Engine()->GetCaptureMode(), c.expected);
        Command(kMsgCaptureStop);
    }
}

TEST_F(PanelTest, EveryStartErrorShowsItsMessage)
{
    const char* texts[] = {"A General Vorlux error occurred",
                           "The Capture Thread could not be created",
                           "The Screen bit depth is not 8,16 or 24",
                           "The Requested bit depth is higher than the screen depth",
                           "The width requested is larger than the screen width",
                           "The height requested is larger than the screen height",
                           "File could not be opened",
                           "The wave format requested is not supported"};
    for (int code = 1; code <= 8; ++code) {
        SCOPED_TRACE(code);
        sheet->messages.clear();
        sheet->factory->screen->checkResult = code;
        Command(kMsgCaptureStart);
        ASSERT_EQ(sheet->messages.size(), 1u);
        EXPECT_EQ(sheet->messages[0].text, texts[code - 1]);
        EXPECT_EQ(sheet->messages[0].caption, "Could not start recording");
        EXPECT_FALSE(sheet->IsRecording());
        EXPECT_EQ(MovieLabel(IDC_MOVIE_START), "&Start Recording");
    }
}

TEST_F(PanelTest, FailedStartWhileHiddenShowsThePanelAgain)
{
    prefs->SetVorluxMode(1);
    sheet->factory->screen->checkResult = 3;
    Command(kMsgCaptureStart);
    ASSERT_EQ(sheet->messages.size(), 1u);
    EXPECT_FALSE(sheet->messages[0].panelVisible);
    EXPECT_TRUE(::IsWindowVisible(sheet->Handle()));
}

TEST_F(PanelTest, MoviePathThatDoesNotFitIsAFailedStart)
{
    sheet->Engine()->SetFileName("C:\\before.avi");
    prefs->SetFilename(std::string(250, 'n').c_str());
    Command(kMsgCaptureStart);
    ASSERT_EQ(sheet->messages.size(), 1u);
    EXPECT_EQ(sheet->messages[0].text, "File could not be opened");
    EXPECT_FALSE(sheet->IsRecording());
    EXPECT_EQ(sheet->Engine()->Info().fileName, "C:\\before.avi");
    EXPECT_FALSE(journal.Has("screen.Init"));
}

TEST_F(PanelTest, StateTable)
{
    // Idle: stop and pause do nothing.
    Command(kMsgCaptureStop);
    Command(kMsgCapturePause);
    EXPECT_FALSE(sheet->IsRecording());
    EXPECT_FALSE(sheet->Engine()->IsPaused());
    EXPECT_FALSE(journal.Has("screen.Check"));

    // Start twice: one recording.
    Command(kMsgCaptureStart);
    Command(kMsgCaptureStart);
    EXPECT_TRUE(sheet->IsRecording());
    EXPECT_EQ(journal.Count("screen.Init"), 1u);

    // Pause twice while recording: the label follows the engine.
    Command(kMsgCapturePause);
    EXPECT_TRUE(sheet->Engine()->IsPaused());
    EXPECT_EQ(MovieLabel(IDC_MOVIE_PAUSE), "&Resume Recording");
    Command(kMsgCapturePause);
    EXPECT_FALSE(sheet->Engine()->IsPaused());
    EXPECT_EQ(MovieLabel(IDC_MOVIE_PAUSE), "&Pause Recording");

    // No snapshot while recording.
    Command(kMsgCaptureFrame);
    for (const std::string& call : journal.calls)
        EXPECT_EQ(call.rfind("screen.Save", 0), std::string::npos) << call;

    Command(kMsgCaptureStop);
    EXPECT_FALSE(sheet->IsRecording());
    EXPECT_EQ(journal.Count("screen.End"), 1u);
}

TEST_F(PanelTest, MovieButtonsPostTheCommands)
{
    HWND page = sheet->Movie().Handle();
    ::SendMessageA(page, WM_COMMAND, MAKEWPARAM(IDC_MOVIE_START, BN_CLICKED), 0);
    Pump();
    EXPECT_TRUE(sheet->IsRecording());
    ::SendMessageA(page, WM_COMMAND, MAKEWPARAM(IDC_MOVIE_PAUSE, BN_CLICKED), 0);
    Pump();
    EXPECT_TRUE(sheet->Engine()->IsPaused());
    ::SendMessageA(page, WM_COMMAND, MAKEWPARAM(IDC_MOVIE_START, BN_CLICKED), 0);
    Pump();
    EXPECT_FALSE(sheet->IsRecording());
    ::SendMessageA(page, WM_COMMAND, MAKEWPARAM(IDC_MOVIE_FRAME, BN_CLICKED), 0);
    Pump();
    EXPECT_TRUE(journal.Has("screen.Save " + NextPath("VluxTake000.bmp")));
}

TEST_F(PanelTest, HiddenWhileRecordingAndShownAfterStop)
{
    prefs->SetVorluxMode(1);
    Command(kMsgCaptureStart);
    EXPECT_TRUE(sheet->IsRecording());
    EXPECT_FALSE(::IsWindowVisible(sheet->Handle()));
    Command(kMsgCaptureStop);
    EXPECT_TRUE(::IsWindowVisible(sheet->Handle()));
}

TEST_F(PanelTest, FrameHidesSavesAndShows)
{
    prefs->SetVorluxMode(1);
    prefs->SetCaptureArea(VRect{4, 8, 104, 108});
    Command(kMsgCaptureFrame);
    EXPECT_TRUE(journal.Has("screen.Save " + NextPath("VluxTake000.bmp")));
    EXPECT_EQ(sheet->Engine()->Info().origin, (VPoint{4, 8}));
    EXPECT_TRUE(::IsWindowVisible(sheet->Handle()));
    EXPECT_FALSE(sheet->IsRecording());
}

TEST_F(PanelTest, HotKeysAreCtrlShiftWhateverTheStoredModifiers)
{
    struct Case {
        int32_t stored;
        UINT vk;
    };
    const Case cases[] = {{0x374, VK_F5}, {0x474, VK_F5}, {0x078, VK_F9}};
    HWND other = ::CreateWindowExA(0, "STATIC", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        prefs->SetStartKey(c.stored);
        sheet->RegisterHotKeys();
        // Taken by the panel: nobody else can have the same key.
        EXPECT_FALSE(::RegisterHotKey(other, 1, MOD_CONTROL | MOD_SHIFT, c.vk));
        ::UnregisterHotKey(other, 1);
    }
    // The stop key stays registered as Ctrl+Shift+F6.
    EXPECT_FALSE(::RegisterHotKey(other, 2, MOD_CONTROL | MOD_SHIFT, VK_F6));
    ::DestroyWindow(other);
}

TEST_F(PanelTest, HotKeyMessageRunsItsCommand)
{
    ::PostMessageA(sheet->Handle(), WM_HOTKEY, kHotKeyStart, 0);
    Pump();
    EXPECT_TRUE(sheet->IsRecording());
    ::PostMessageA(sheet->Handle(), WM_HOTKEY, kHotKeyStop, 0);
    Pump();
    EXPECT_FALSE(sheet->IsRecording());
}

TEST_F(PanelTest, ClosingWhileRecordingEndsTheRecording)
{
    Command(kMsgCaptureStart);
    ASSERT_TRUE(sheet->IsRecording());
    ::PostMessageA(sheet->Handle(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    Pump();
    EXPECT_TRUE(journal.Has("screen.End"));
}

TEST_F(PanelTest, PagesInTabOrder)
{
    HWND tabs = PropSheet_GetTabControl(sheet->Handle());
    const char* titles[] = {"Movie", "Sound", "Movie Destination", "Hot Keys", "About"};
    ASSERT_EQ(TabCtrl_GetItemCount(tabs), 5);
    for (int i = 0; i < 5; ++i) {
        char text[64] = {};
        TCITEMA item{};
        item.mask = TCIF_TEXT;
        item.pszText = text;
        item.cchTextMax = sizeof text;
        ::SendMessageA(tabs, TCM_GETITEMA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
        EXPECT_STREQ(text, titles[i]);
    }
    char caption[64] = {};
    ::GetWindowTextA(sheet->Handle(), caption, sizeof caption);
    EXPECT_STREQ(caption, "Vorlux 3.0");
}

}  // namespace
