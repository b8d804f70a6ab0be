// The settings panel with an engine built from doubles: what each command hands the engine,
// the labels, hiding and showing, the start-error messages and the hot keys.

#include "panel/PropSheet.h"

#include "framework/ResourceText.h"
#include "ids/Messages.h"
#include "ids/resource.h"
#include "settings/Prefs.h"
#include "tests/support/SheetRig.h"

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

// Pumps until the panel has shown `count` messages, or about ten seconds have passed.
bool PumpUntilMessages(const std::vector<ShownMessage>& messages, size_t count)
{
    PumpUntil([&] { return messages.size() >= count; }, 10000);
    Pump();
    return messages.size() == count;
}

class PanelTest : public SheetRig {
public:
    PanelTest() : SheetRig(kTestTree) {}
    void RawMovieValue(const char* name, DWORD type, const void* data, DWORD size)
    {
        const std::string key = std::string(kTestTree) + "\\Movie";
        ASSERT_EQ(::RegSetKeyValueA(HKEY_CURRENT_USER, key.c_str(), name, type, data, size), ERROR_SUCCESS);
    }

protected:
    void SetUp() override
    {
        SheetRig::SetUp();
        OpenSheet();
        ASSERT_NE(sheet->Engine(), nullptr);
    }
    void Reopen() { OpenSheet(); }
    std::string MovieLabel(int id) { return ItemText(sheet->Movie().Handle(), id); }
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

TEST_F(PanelTest, CompressorAndFrameDepthFollowTheScreenAndTheLosslessSwitch)
{
    constexpr int kAbsent = -1;
    struct Case {
        int16_t depth;  // the engine's depth before the start: the screen's, or a lossless recording's
        int lossless;   // the stored switch, or kAbsent
        uint32_t fourcc;
        uint16_t frameBits;
    };
    const Case cases[] = {
        {8, 0, MakeFourCC("mrle"), 8},
        {16, 0, MakeFourCC("MSVC"), 16},
        {24, 0, MakeFourCC("MSVC"), 24},
        // Settings stored before the switch existed record as they did.
        {8, kAbsent, MakeFourCC("mrle"), 8},
        {16, kAbsent, MakeFourCC("MSVC"), 16},
        {24, kAbsent, MakeFourCC("MSVC"), 24},
        // Lossless: true colour in 32-bit frames, other screens at their own depth.
        {8, 1, MakeFourCC("ZMBV"), 8},
        {16, 1, MakeFourCC("ZMBV"), 16},
        {24, 1, MakeFourCC("ZMBV"), 32},
        // Switched off after a lossless recording: back to 24-bit frames and Video 1.
        {32, 0, MakeFourCC("MSVC"), 24},
        {32, kAbsent, MakeFourCC("MSVC"), 24},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.depth << " bits, lossless " << c.lossless);
        ASSERT_TRUE(sheet->Engine()->SetBitDepth(c.depth));
        prefs->SetLossless(c.lossless == 1);
        if (c.lossless == kAbsent) {
            ASSERT_EQ(::RegDeleteKeyValueA(HKEY_CURRENT_USER, (std::string(kTestTree) + "\\Movie").c_str(), "Lossless"),
                      ERROR_SUCCESS);
        }
        Command(kMsgCaptureStart);
        EXPECT_EQ(sheet->Engine()->GetCompressor(), c.fourcc);
        EXPECT_EQ(sheet->Engine()->GetBitDepth(), c.frameBits);
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
    auto saves = [&] {
        std::lock_guard<std::mutex> hold(journal.m);
        return std::count_if(journal.calls.begin(), journal.calls.end(),
                             [](const std::string& call) { return call.rfind("screen.Save", 0) == 0; });
    };
    for (UINT command : {kMsgCaptureStart, kMsgCaptureFrame}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (command == kMsgCaptureStart ? ", start" : ", snapshot"));
            prefs->SetHighlightClicks(c.highlight);
            prefs->SetCursorHalo(c.halo);
            const auto saved = saves();
            Command(command);
            EXPECT_EQ(sheet->Engine()->Info().highlightClicks.load(), c.highlight);
            EXPECT_EQ(sheet->Engine()->Info().cursorHalo.load(), c.halo);
            // A snapshot is saved once the screen has repainted; commands meanwhile wait for it.
            if (command == kMsgCaptureFrame) {
                ASSERT_TRUE(PumpUntil([&] { return saves() > saved; }));
            }
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
                           "The wave format requested is not supported",
                           "No sound input device was found"};
    for (int code = 1; code <= 9; ++code) {
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
        bool declined;  // "No" to the low-disk question
        std::string before;
        std::string after;
    };
    const Case cases[] = {
        {"first start fails", 7, false, "", ""},
        {"recorded", 0, false, "", NextPath("VluxTake000.avi")},
        {"fails after a recording", 3, false, "C:\\Movies\\older.avi", "C:\\Movies\\older.avi"},
        {"declined at the low-disk question", 0, true, "C:\\Movies\\older.avi", "C:\\Movies\\older.avi"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        prefs->SetLastMovieRecorded(c.before.c_str());
        sheet->factory->screen->checkResult = c.failure;
        sheet->freeBytes = c.declined ? 0 : -1;
        sheet->answer = !c.declined;
        Command(kMsgCaptureStart);
        EXPECT_EQ(sheet->IsRecording(), c.failure == 0 && !c.declined);
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
    CloseSheet();
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

// The labels and the status icon are drawn from the recorder's state: a stop ends the pause,
// and so does a recording that ends on its own while paused.
TEST_F(PanelTest, LabelsAndIconFollowTheRecorder)
{
    using R = RecorderState;
    struct Step {
        UINT command;
        const char* start;
        const char* pause;
        R icon;
    };
    const Step steps[] = {
        {kMsgCaptureStart, "&Stop Recording", "&Pause Recording", R::Recording},
        {kMsgCapturePause, "&Stop Recording", "&Resume Recording", R::Paused},
        {kMsgCaptureStop, "&Start Recording", "&Pause Recording", R::Idle},
        {kMsgCaptureStart, "&Stop Recording", "&Pause Recording", R::Recording},
        {kMsgCapturePause, "&Stop Recording", "&Resume Recording", R::Paused},
        {kMsgCapturePause, "&Stop Recording", "&Pause Recording", R::Recording},
        {kMsgCapturePause, "&Stop Recording", "&Resume Recording", R::Paused},
        {kMsgRecordingFailed, "&Start Recording", "&Pause Recording", R::Idle},
        {kMsgCaptureStart, "&Stop Recording", "&Pause Recording", R::Recording},
    };
    int i = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(i++);
        Command(step.command);
        EXPECT_EQ(MovieLabel(IDC_MOVIE_START), step.start);
        EXPECT_EQ(MovieLabel(IDC_MOVIE_PAUSE), step.pause);
        EXPECT_EQ(sheet->Engine()->IsPaused(), std::string(step.pause) == "&Resume Recording");
        EXPECT_EQ(int(sheet->Status().Model().State()), int(step.icon));
    }
    Command(kMsgCaptureStop);
    EXPECT_EQ(journal.Count("screen.Init"), 3u);
    EXPECT_EQ(journal.Count("screen.End"), 3u);
}

// The question's own message loop delivers a second start from the hot key, the Movie page and
// the status icon's menu: each is refused, and one recording with one capture loop results.
TEST_F(PanelTest, StartsWhileTheLowDiskQuestionIsOpenAreRefused)
{
    sheet->freeBytes = 0;
    sheet->Status().SetMenuRunner([](HWND, HMENU, POINT) { return static_cast<UINT>(StatusCommand::StartStop); });
    int rounds = 0;
    sheet->whileOpen = [&] {
        if (rounds++ > 0)
            return;
        ::PostMessageA(sheet->Handle(), WM_HOTKEY, kHotKeyStart, 0);
        Click(sheet->Movie().Handle(), IDC_MOVIE_START);
        ::SendMessageA(sheet->Status().Handle(), kMsgStatusIcon, 0, MAKELPARAM(WM_CONTEXTMENU, StatusIcon::kIconId));
        Pump();
        EXPECT_FALSE(sheet->IsRecording());
    };
    Command(kMsgCaptureStart);
    EXPECT_EQ(sheet->questions.size(), 1u);
    EXPECT_TRUE(sheet->IsRecording());
    EXPECT_EQ(journal.Count("screen.Init"), 1u);
    Command(kMsgCaptureStop);
    EXPECT_FALSE(sheet->IsRecording());
    EXPECT_EQ(journal.Count("screen.End"), 1u);
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
// waited in the queue: the recording starts only once the snapshot is saved. A second snapshot
// meanwhile is refused.
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
    EXPECT_EQ(order, (std::vector<std::string>{"screen.Save " + NextPath("VluxTake000.bmp"), "screen.Init"}));
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

namespace {

// ---- failures --------------------------------------------------------------------------------

// A recording that ends on its own ends as a stop would, shows the panel (also when it hid for
// the recording) and says once what happened and how much of the movie is kept.
TEST_F(PanelTest, RecordingThatFailsIsStoppedAndToldOnce)
{
    const std::string movie = NextPath("VluxTake000.avi");
    const std::string kept = " The movie " + movie + " keeps the first 0:42.";
    struct Case {
        const char* name;
        RecordingFailure fromFile;
        bool soundLost;
        std::string text;
    } cases[] = {
        {"disk full", {FailureKind::DiskFull, 112}, false, "The disk is full." + kept},
        {"other error", {FailureKind::WriteFailed, ERROR_ACCESS_DENIED}, false,
         "The movie could not be written: " + SystemText(ERROR_ACCESS_DENIED) + kept},
        {"no reason given", {}, false, "The movie could not be written: the file refused the data." + kept},
        {"sound device gone", {}, true, "The sound device stopped." + kept},
    };
    prefs->SetVorluxMode(1);
    prefs->SetFramesPerSecond(25);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sheet->messages.clear();
        FakeFactory& parts = *sheet->factory;
        parts.writer->reported = c.fromFile;
        parts.writer->keptFrames = 42 * 25 + 3;
        parts.video->frames.clear();
        parts.video->failFromCall = c.soundLost ? -1 : 2;
        prefs->SetEnableSoundCapture(c.soundLost);
        const size_t opened = journal.Count("writer.Open");
        Command(kMsgCaptureStart);  // hides the panel; the failure may come at any time now
        ASSERT_EQ(journal.Count("writer.Open"), opened + 1);
        if (c.soundLost) {
            ::Sleep(100);
            parts.sound->Vanish();  // mid-recording: the platform closes the device
        }
        ASSERT_TRUE(PumpUntilMessages(sheet->messages, 1));
        EXPECT_EQ(sheet->messages[0].text, c.text);
        EXPECT_EQ(sheet->messages[0].caption, "Recording stopped");
        EXPECT_TRUE(sheet->messages[0].panelVisible);
        EXPECT_FALSE(sheet->IsRecording());
        EXPECT_EQ(MovieLabel(IDC_MOVIE_START), "&Start Recording");
        EXPECT_FALSE(sheet->Engine()->Failure());

        // Nothing more is said, and the next recording works.
        parts.video->failFromCall = -1;
        parts.writer->reported = {};
        Command(kMsgCaptureStart);
        ASSERT_TRUE(sheet->IsRecording());
        ::Sleep(50);
        Command(kMsgCaptureStop);
        EXPECT_FALSE(sheet->IsRecording());
        EXPECT_EQ(sheet->messages.size(), 1u);
        ::DeleteFileA(movie.c_str());
    }
}

TEST_F(PanelTest, StopThatMeetsAFailureTellsItOnce)
{
    FakeFactory& parts = *sheet->factory;
    parts.writer->reported = {FailureKind::DiskFull, 112};
    parts.video->failFromCall = 0;
    ::SendMessageA(sheet->Handle(), kMsgCaptureStart, 0, 0);  // no messages pumped from here on
    ASSERT_TRUE(sheet->IsRecording());
    // The user's stop comes before the capture thread's notice is handled.
    for (int i = 0; i < 1000 && !sheet->Engine()->Failure(); ++i)
        ::Sleep(10);
    ASSERT_TRUE(sheet->Engine()->Failure());
    ::SendMessageA(sheet->Handle(), kMsgCaptureStop, 0, 0);  // ahead of the notice in the queue
    ASSERT_EQ(sheet->messages.size(), 1u);
    EXPECT_EQ(sheet->messages[0].text.rfind("The disk is full. ", 0), 0u) << sheet->messages[0].text;
    EXPECT_FALSE(sheet->IsRecording());
    for (int i = 0; i < 20; ++i) {
        Pump();
        ::Sleep(10);
    }
    EXPECT_EQ(sheet->messages.size(), 1u);
}

TEST_F(PanelTest, SnapshotThatCannotBeWrittenSaysWhy)
{
    const std::string path = NextPath("VluxTake000.bmp");
    struct Case {
        uint32_t code;
        std::string text;
    } cases[] = {
        {ERROR_DISK_FULL, "The frame could not be saved as " + path + ": " + SystemText(ERROR_DISK_FULL)},
        {0, "The frame could not be saved as " + path + ": the screen could not be read."},
    };
    for (const Case& c : cases) {
        sheet->messages.clear();
        sheet->factory->screen->saveResult = false;
        sheet->factory->screen->saveError = c.code;
        Command(kMsgCaptureFrame);
        ASSERT_TRUE(PumpUntilMessages(sheet->messages, 1));
        EXPECT_EQ(sheet->messages[0].text, c.text);
        EXPECT_EQ(sheet->messages[0].caption, "Could not capture frame");
        EXPECT_TRUE(sheet->messages[0].panelVisible);
    }
    sheet->messages.clear();
    sheet->factory->screen->saveResult = true;
    const size_t saves = journal.Count("screen.Save " + path);
    Command(kMsgCaptureFrame);
    ASSERT_TRUE(PumpUntil([&] { return journal.Count("screen.Save " + path) > saves; }));
    Pump();
    EXPECT_TRUE(sheet->messages.empty());
}

// Less room than a minute of uncompressed frames: the user decides.
TEST_F(PanelTest, LowDiskSpaceAsksBeforeTheStart)
{
    prefs->SetCaptureArea(VRect{0, 0, 640, 480});
    prefs->SetFramesPerSecond(25);
    ASSERT_TRUE(sheet->Engine()->SetBitDepth(24));
    const int64_t minute = 640LL * 480 * 3 * 25 * 60;  // 1.3 GB
    struct Case {
        int64_t free;
        bool answer;
        bool asked;
        bool records;
    } cases[] = {{minute, false, false, true}, {minute - 1, true, true, true}, {3 << 20, false, true, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.free);
        sheet->questions.clear();
        sheet->freeBytes = c.free;
        sheet->answer = c.answer;
        Command(kMsgCaptureStart);
        ASSERT_EQ(sheet->questions.size(), c.asked ? 1u : 0u);
        EXPECT_EQ(sheet->IsRecording(), c.records);
        if (c.asked) {
            EXPECT_EQ(sheet->questions[0].caption, "Low disk space");
            EXPECT_NE(sheet->questions[0].text.find(directory), std::string::npos) << sheet->questions[0].text;
            EXPECT_NE(sheet->questions[0].text.find("1.3 GB"), std::string::npos) << sheet->questions[0].text;
        }
        Command(kMsgCaptureStop);
    }
    EXPECT_EQ(journal.Count("screen.Init"), 2u);
    EXPECT_TRUE(sheet->messages.empty());
}

// ---- hot keys taken by another program ---------------------------------------------------------

class HotKeyHolder {
public:
    HotKeyHolder() : window(::CreateWindowExA(0, "STATIC", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr)) {}
    ~HotKeyHolder() { ::DestroyWindow(window); }
    bool Hold(int id, UINT vk) { return ::RegisterHotKey(window, id, MOD_CONTROL | MOD_SHIFT, vk) != FALSE; }
    void Release(int id) { ::UnregisterHotKey(window, id); }
    // True when the combination is free, that is nobody (the panel included) holds it.
    bool Free(UINT vk)
    {
        if (!Hold(99, vk))
            return false;
        Release(99);
        return true;
    }

private:
    HWND window;
};

TEST_F(PanelTest, HotKeyTakenAtStartUpIsReportedAndTheOthersWork)
{
    CloseSheet();
    HotKeyHolder other;
    ASSERT_TRUE(other.Hold(1, VK_F7));
    OpenSheet();
    ASSERT_EQ(sheet->messages.size(), 1u);
    EXPECT_EQ(sheet->messages[0].text,
              "Ctrl+Shift+F7 (Pause Recording) is used by another program; choose another key on the Hot Keys page.");
    EXPECT_EQ(sheet->messages[0].caption, "Hot key not available");
    EXPECT_TRUE(sheet->HotKeyTaken(2));
    for (int row : {0, 1, 3})
        EXPECT_FALSE(sheet->HotKeyTaken(row)) << row;
    for (UINT vk : {VK_F5, VK_F6, VK_F8})
        EXPECT_FALSE(other.Free(vk)) << vk;  // the panel holds them

    // The Hot Keys page marks the taken key.
    PropSheet_SetCurSel(sheet->Handle(), nullptr, 3);
    Pump();
    EXPECT_EQ(ItemText(sheet->Keys().Handle(), IDC_KEYS_PAUSE), "CTRL+SHIFT+F7 (taken)");
    EXPECT_EQ(ItemText(sheet->Keys().Handle(), IDC_KEYS_START), "CTRL+SHIFT+F5");
}

// After every change on the Hot Keys page: each key that could not be registered, by name and
// action; the page marks it; a key freed since is registered and unmarked.
TEST_F(PanelTest, HotKeyChangeReportsEveryTakenKey)
{
    HotKeyHolder other;
    ASSERT_TRUE(other.Hold(1, VK_F9));
    ASSERT_TRUE(other.Hold(2, VK_F10));
    PropSheet_SetCurSel(sheet->Handle(), nullptr, 3);
    Pump();
    HWND page = sheet->Keys().Handle();
    int32_t chosen = 0;
    sheet->Keys().SetKeyDialog([&](HotKeyBlock& block) {
        block.key = chosen;
        return kHotKeyChosen;
    });
    auto choose = [&](int button, int32_t code) {
        chosen = code;
        ::SendMessageA(page, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
        Pump();
    };

    choose(IDC_KEYS_START, 0x378);  // Ctrl+Shift+F9: taken
    ASSERT_EQ(sheet->messages.size(), 1u);
    EXPECT_EQ(sheet->messages[0].text,
              "Ctrl+Shift+F9 (Start Recording) is used by another program; choose another key on the Hot Keys page.");
    EXPECT_EQ(ItemText(page, IDC_KEYS_START), "CTRL+SHIFT+F9 (taken)");
    EXPECT_TRUE(other.Free(VK_F5));  // the old key is given back

    choose(IDC_KEYS_CAPTURE, 0x379);  // Ctrl+Shift+F10: taken as well; both are named
    ASSERT_EQ(sheet->messages.size(), 2u);
    EXPECT_EQ(sheet->messages[1].text,
              "Ctrl+Shift+F9 (Start Recording) is used by another program; choose another key on the Hot Keys page.\n"
              "Ctrl+Shift+F10 (Capture Frame) is used by another program; choose another key on the Hot Keys page.");
    EXPECT_FALSE(other.Free(VK_F6));  // keys that registered keep working
    EXPECT_FALSE(other.Free(VK_F7));

    // Freed by the other program: the next change registers it and nothing is reported for it.
    other.Release(1);
    choose(IDC_KEYS_CAPTURE, 0x377);
    ASSERT_EQ(sheet->messages.size(), 2u);
    EXPECT_FALSE(sheet->HotKeyTaken(0));
    EXPECT_FALSE(other.Free(VK_F9));
    EXPECT_EQ(ItemText(page, IDC_KEYS_START), "CTRL+SHIFT+F9");
    EXPECT_EQ(ItemText(page, IDC_KEYS_CAPTURE), "CTRL+SHIFT+F8");

    // The same combination for two actions: the second is told which action has it.
    choose(IDC_KEYS_STOP, 0x378);
    ASSERT_EQ(sheet->messages.size(), 3u);
    EXPECT_EQ(sheet->messages[2].text,
              "Ctrl+Shift+F9 (Stop Recording) is already the key for Start Recording; choose another key on the Hot "
              "Keys page.");
    EXPECT_EQ(ItemText(page, IDC_KEYS_STOP), "CTRL+SHIFT+F9 (taken)");
    EXPECT_TRUE(other.Free(VK_F6));  // its old key is given back
    choose(IDC_KEYS_STOP, 0x375);
    EXPECT_EQ(sheet->messages.size(), 3u);
    EXPECT_FALSE(other.Free(VK_F6));

    // The panel's hot key messages still run their commands for keys that registered late.
    ::PostMessageA(sheet->Handle(), WM_HOTKEY, kHotKeyStart, 0);
    Pump();
    EXPECT_TRUE(sheet->IsRecording());
    ::PostMessageA(sheet->Handle(), WM_HOTKEY, kHotKeyStop, 0);
    Pump();
    EXPECT_FALSE(sheet->IsRecording());
}

}  // namespace
