// The settings panel with an engine built from doubles: what each command hands the engine,
// the labels, hiding and showing, the start-error messages and the hot keys.

#include "panel/PropSheet.h"

#include "ids/Messages.h"
#include "ids/resource.h"
#include "settings/Prefs.h"
#include "tests/engine/FakeParts.h"
#include "tests/support/PrefsRig.h"
#include "tests/support/WindowRig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <map>
#include <iterator>
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

class PanelTest : public ::testing::Test {
public:
    void RawMovieValue(const char* name, DWORD type, const void* data, DWORD size)
    {
        const std::string key = std::string(kTestTree) + "\\Movie";
        ASSERT_EQ(::RegSetKeyValueA(HKEY_CURRENT_USER, key.c_str(), name, type, data, size), ERROR_SUCCESS);
    }

protected:
    void SetUp() override
    {
        prefs = FreshPrefs(kTestTree);
        directory = TempDirectory();
        prefs->SetProgramDirectory(directory.c_str());
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
    // A new panel on the store as it is now, as at the program's start.
    void Reopen()
    {
        sheet.reset();
        Pump();
        sheet = std::make_unique<TestSheet>(*prefs, journal);
        ASSERT_TRUE(sheet->Create());
        ::ShowWindow(sheet->Handle(), SW_SHOWNORMAL);
        Pump();
    }
    std::string MovieLabel(int id) { return ItemText(sheet->Movie().Handle(), id); }
    std::string NextPath(const char* name) { return std::string(directory) + "\\" + name; }

    Journal journal;
    std::unique_ptr<Prefs> prefs;
    std::unique_ptr<TestSheet> sheet;
    std::string directory;
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

// Hand-edited areas the engine cannot record, each with the default area it is replaced by.
struct RefusedArea {
    const char* what;
    std::function<void(PanelTest&)> spoil;
};

std::vector<RefusedArea> RefusedAreas()
{
    static const DWORD all = 0xFFFFFFFF;
    static const DWORD zero = 0;
    static const DWORD small = 15;
    static const DWORD huge = 200000;
    return {
        {"width 0xFFFFFFFF", [](PanelTest& t) { t.RawMovieValue("Width", REG_DWORD, &all, 4); }},
        {"width 0", [](PanelTest& t) { t.RawMovieValue("Width", REG_DWORD, &zero, 4); }},
        {"width text", [](PanelTest& t) { t.RawMovieValue("Width", REG_SZ, "abc", 4); }},
        {"height below the minimum", [](PanelTest& t) { t.RawMovieValue("Height", REG_DWORD, &small, 4); }},
        {"frame too large", [](PanelTest& t) { t.RawMovieValue("Height", REG_DWORD, &huge, 4); t.RawMovieValue("Width", REG_DWORD, &huge, 4); }},
        {"left 0xFFFFFFFF", [](PanelTest& t) { t.RawMovieValue("Left", REG_DWORD, &all, 4); }},
        {"left text", [](PanelTest& t) { t.RawMovieValue("Left", REG_SZ, "abc", 4); }},
        {"top 0xFFFFFFFF", [](PanelTest& t) { t.RawMovieValue("Top", REG_DWORD, &all, 4); }},
        {"top two bytes", [](PanelTest& t) { t.RawMovieValue("Top", REG_BINARY, &zero, 2); }},
    };
}

TEST_F(PanelTest, RefusedStoredAreaBecomesTheDefaultAtStartUp)
{
    const VRect fallback{0, 0, 400, 300};
    for (const RefusedArea& c : RefusedAreas()) {
        SCOPED_TRACE(c.what);
        prefs->SetCaptureArea(VRect{10, 20, 330, 260});
        c.spoil(*this);
        Reopen();
        EXPECT_EQ(sheet->Engine()->GetCaptureRect(), fallback);
        EXPECT_EQ(prefs->GetCaptureArea(), fallback) << "written back";
        for (auto [id, text] : {std::pair{IDC_MOVIE_LEFT, "0"}, {IDC_MOVIE_TOP, "0"}, {IDC_MOVIE_WIDTH, "400"},
                                {IDC_MOVIE_HEIGHT, "300"}})
            EXPECT_EQ(ItemText(sheet->Movie().Handle(), id), text) << id;
        Command(kMsgCaptureStart);
        EXPECT_EQ(sheet->Engine()->Info().bitmapInfo.bmiHeader.biWidth, 400);
        EXPECT_EQ(sheet->Engine()->Info().bitmapInfo.bmiHeader.biHeight, 300);
        Command(kMsgCaptureStop);
    }
    // An area the engine accepts is left as it was stored.
    prefs->SetCaptureArea(VRect{10, 20, 330, 260});
    Reopen();
    EXPECT_EQ(sheet->Engine()->GetCaptureRect(), (VRect{10, 20, 330, 260}));
    EXPECT_EQ(prefs->GetCaptureArea(), (VRect{10, 20, 330, 260}));
}

TEST_F(PanelTest, AreaSpoiledWhileOpenIsReplacedAtTheNextStartAndFrame)
{
    const std::vector<RefusedArea> areas = RefusedAreas();
    for (UINT command : {kMsgCaptureStart, kMsgCaptureFrame}) {
        SCOPED_TRACE(command);
        prefs->SetCaptureArea(VRect{10, 20, 330, 260});
        Reopen();
        areas[0].spoil(*this);
        Command(command);
        EXPECT_EQ(sheet->Engine()->GetCaptureRect(), (VRect{0, 0, 400, 300}));
        EXPECT_EQ(prefs->GetCaptureArea(), (VRect{0, 0, 400, 300}));
        EXPECT_EQ(MovieLabel(IDC_MOVIE_WIDTH), "400");
        Command(kMsgCaptureStop);
    }
}

TEST_F(PanelTest, FailedStartKeepsTheLastMovieThatPlayMovieStarts)
{
    std::vector<std::string> launched;
    sheet->Movie().SetLauncher([&](const std::string& line) {
        launched.push_back(line);
        return true;
    });
    auto playMovie = [&] {
        launched.clear();
        ::SendMessageA(sheet->Movie().Handle(), WM_COMMAND, MAKEWPARAM(IDC_MOVIE_PLAY, BN_CLICKED), 0);
        return launched.size() == 1 ? launched[0] : std::string("(none)");
    };
    auto lastMovie = [&] {
        char last[kPrefsPathSize];
        prefs->GetLastMovieRecorded(last, sizeof last);
        return std::string(last);
    };
    const std::string program = directory;
    struct Case {
        const char* what;
        int failure;  // start error the checks give; 0 for a start that records
        std::string before;
        std::string after;
    };
    const Case cases[] = {
        {"first start fails", 7, "", ""},
        {"recorded", 0, "", NextPath("VluxTake000.avi")},
        {"fails after a recording", 3, "C:\\Movies\\older.avi", "C:\\Movies\\older.avi"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        prefs->SetLastMovieRecorded(c.before.c_str());
        sheet->factory->screen->checkResult = c.failure;
        Command(kMsgCaptureStart);
        EXPECT_EQ(sheet->IsRecording(), c.failure == 0);
        Command(kMsgCaptureStop);
        EXPECT_EQ(lastMovie(), c.after);
        EXPECT_EQ(playMovie(), MoviePage::PlayerCommandLine(program.c_str(), c.after.c_str()));
    }
}

// The real screen behind the panel: a frame taken while the panel lies over the area must show
// what is under the panel, not the panel.
class ScreenSheet : public PropSheet {
public:
    explicit ScreenSheet(Prefs& prefs) : PropSheet(nullptr, ::GetModuleHandleA(nullptr), prefs) {}

protected:
    void ShowMessage(const char*, const char*) override {}
};

// The pixels of a 24- or 32-bit bitmap file, bottom row first; empty for anything else.
std::vector<COLORREF> ReadPixels(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> b((std::istreambuf_iterator<char>(in)), {});
    if (b.size() < sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER))
        return {};
    BITMAPFILEHEADER file;
    BITMAPINFOHEADER info;
    std::memcpy(&file, b.data(), sizeof file);
    std::memcpy(&info, b.data() + sizeof file, sizeof info);
    const int bytes = info.biBitCount / 8;
    if ((bytes != 3 && bytes != 4) || info.biWidth <= 0 || info.biHeight <= 0)
        return {};
    const size_t stride = (size_t(info.biWidth) * bytes + 3) & ~size_t(3);
    if (file.bfOffBits + stride * size_t(info.biHeight) > b.size())
        return {};
    std::vector<COLORREF> pixels;
    for (int y = 0; y < info.biHeight; ++y) {
        const uint8_t* row = b.data() + file.bfOffBits + stride * size_t(y);
        for (int x = 0; x < info.biWidth; ++x) {
            const uint8_t* p = row + size_t(x) * bytes;
            pixels.push_back(RGB(p[2], p[1], p[0]));
        }
    }
    return pixels;
}

double ShareEqual(const std::vector<COLORREF>& a, const std::vector<COLORREF>& b)
{
    size_t same = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        same += a[i] == b[i];
    return a.empty() ? 0.0 : double(same) / double(a.size());
}

double ShareOfCommonest(const std::vector<COLORREF>& pixels)
{
    std::map<COLORREF, size_t> counts;
    size_t most = 0;
    for (COLORREF c : pixels)
        most = std::max(most, ++counts[c]);
    return pixels.empty() ? 1.0 : double(most) / double(pixels.size());
}

TEST_F(PanelTest, PanelIsNotInTheFrameItHidesForAndComesBack)
{
    sheet.reset();
    Pump();
    ScreenSheet screen(*prefs);
    ASSERT_TRUE(screen.Create());
    ::SetWindowPos(screen.Handle(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
    Pump();
    ::Sleep(300);
    Pump();
    RECT panel{};
    ASSERT_TRUE(::GetWindowRect(screen.Handle(), &panel));
    // The panel's body, inside its frame and caption.
    prefs->SetCaptureArea(VRect{panel.left + 10, panel.top + 40, panel.right - 10, panel.bottom - 10});
    auto frame = [&](int32_t hide) {
        prefs->SetVorluxMode(hide);
        const std::string path = NextPath("VluxTake000.bmp");
        ::DeleteFileA(path.c_str());
        ::PostMessageA(screen.Handle(), kMsgCaptureFrame, 0, 0);
        // The frame is written, and the panel shown again, once the screen has repainted.
        EXPECT_TRUE(PumpUntil([&] { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }));
        std::vector<COLORREF> pixels = ReadPixels(path);
        ::DeleteFileA(path.c_str());
        EXPECT_TRUE(::IsWindowVisible(screen.Handle())) << "back after the frame";
        return pixels;
    };
    // With the panel shown the frame holds the panel: a picture, not one colour.
    const std::vector<COLORREF> shown = frame(0);
    ASSERT_FALSE(shown.empty());
    ASSERT_LT(ShareOfCommonest(shown), 0.8);
    // Hidden for the frame: what lies under the panel, which has next to nothing in common with it.
    const std::vector<COLORREF> hidden = frame(1);
    ASSERT_EQ(hidden.size(), shown.size());
    EXPECT_LT(ShareEqual(hidden, shown), 0.2);
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
    EXPECT_TRUE(PumpUntil([&] { return journal.Has("screen.Save " + NextPath("VluxTake000.bmp")); }));
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
    // The snapshot waits for the screen to repaint without holding the panel's thread: the
    // command returns with the panel hidden and nothing saved yet.
    ::SendMessageA(sheet->Handle(), kMsgCaptureFrame, 0, 0);
    EXPECT_FALSE(::IsWindowVisible(sheet->Handle()));
    EXPECT_FALSE(journal.Has("screen.Save " + NextPath("VluxTake000.bmp")));
    ASSERT_TRUE(PumpUntil([&] { return journal.Has("screen.Save " + NextPath("VluxTake000.bmp")); }));
    EXPECT_EQ(sheet->Engine()->Info().origin, (VPoint{4, 8}));
    EXPECT_TRUE(::IsWindowVisible(sheet->Handle()));
    EXPECT_FALSE(sheet->IsRecording());
}

// Commands that arrive while a snapshot waits run after it, in order, as they would have
// waited in the queue: the recording starts only once the snapshot is saved.
TEST_F(PanelTest, CommandsDuringASnapshotRunAfterIt)
{
    prefs->SetVorluxMode(1);
    ::SendMessageA(sheet->Handle(), kMsgCaptureFrame, 0, 0);
    ::SendMessageA(sheet->Handle(), kMsgCaptureFrame, 0, 0);
    ::SendMessageA(sheet->Handle(), kMsgCaptureStart, 0, 0);
    EXPECT_FALSE(sheet->IsRecording());
    ASSERT_TRUE(PumpUntil([&] { return sheet->IsRecording(); }));
    std::vector<std::string> order;
    for (const std::string& call : journal.calls)
        if (call.rfind("screen.Save", 0) == 0 || call == "screen.Init")
            order.push_back(call);
    EXPECT_EQ(order, (std::vector<std::string>{"screen.Save " + NextPath("VluxTake000.bmp"),
                                               "screen.Save " + NextPath("VluxTake000.bmp"), "screen.Init"}));
    Command(kMsgCaptureStop);
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
