#include "panel/Pages.h"

#include "ids/Messages.h"
#include "ids/resource.h"
#include "diag/DebugTrace.h"
#include "common/CaptureMode.h"
#include "framework/ResourceText.h"
#include "framework/Scoped.h"
#include "panel/Wording.h"
#include "panel/FormatChoices.h"
#include "panel/ResizePage.h"
#include "settings/Prefs.h"

#include "VorluxVersion.h"

#include <commdlg.h>
#include <msacm.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {
// The page goes with the command, so that help can open at its own topic.
void SendHelpCommand(HWND mainWindow, int command, HWND page)
{
    if (mainWindow)
        ::SendMessageA(mainWindow, WM_COMMAND, static_cast<WPARAM>(command), reinterpret_cast<LPARAM>(page));
}

// Any 32-bit value, or the difference of two, with its sign: the text never overruns.
void ShowNumber(const TControl& control, int64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "%lld", static_cast<long long>(value));
    control.SetText(text);
}

bool LaunchProcess(const std::string& commandLine)
{
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    ScopedKernelHandle processHandle(process.hProcess);
    ScopedKernelHandle threadHandle(process.hThread);
    return true;
}

// The list sorts its texts; the leading space keeps one-digit rates ahead of two-digit ones.
struct FrameRate {
    const char* text;
    int fps;
};
// The Show keys choices, in the order of their stored values 0, 1 and 2.
constexpr const char* kShowKeysChoices[] = {"Off", "Shortcuts only", "Every key"};

constexpr FrameRate kFrameRates[] = {{" 1", 1},  {" 2", 2},  {" 3", 3},  {" 4", 4},  {" 5", 5},
                                     {" 6", 6},  {" 7", 7},  {" 8", 8},  {" 9", 9},  {"10", 10},
                                     {"12", 12}, {"15", 15}, {"17", 17}, {"20", 20}, {"25", 25}};

struct BufferCount {
    const char* text;
    int count;
};
constexpr BufferCount kBufferCounts[] = {{"0", 0}, {"5", 5}, {"10", 10}};

// Stored sound values beyond these are not a format the chooser can open on.
constexpr int32_t kMaxChannels = 8;
constexpr int32_t kMinBits = 8;
constexpr int32_t kMaxBits = 32;
constexpr int32_t kMaxFrequency = 384000;

constexpr DWORD kSaveDialogFlags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_CREATEPROMPT |
                                   OFN_NOTESTFILECREATE | OFN_EXPLORER | OFN_LONGNAMES;
static_assert(kSaveDialogFlags == 0x292806);
constexpr char kSaveDialogFilter[] = "Movie Clips (*.AVI)\0*.avi\0All Files (*.*)\0*.*\0";
constexpr char kSaveDialogTitle[] = "Set Capture Destination";
constexpr char kSaveDialogExtension[] = "AVI";

// The rows of the Hot Keys page, in the order of their buttons.
struct KeyRow {
    int button;
    int title;
    PrefsSetting setting;  // for the default code
    int32_t (Prefs::*get)() const;
    void (Prefs::*set)(int32_t);
};
const KeyRow kKeyRows[] = {
    {IDC_KEYS_START, IDS_KEY_TITLE_START, PrefsSetting::StartKey, &Prefs::GetStartKey, &Prefs::SetStartKey},
    {IDC_KEYS_STOP, IDS_KEY_TITLE_STOP, PrefsSetting::StopKey, &Prefs::GetStopKey, &Prefs::SetStopKey},
    {IDC_KEYS_PAUSE, IDS_KEY_TITLE_PAUSE, PrefsSetting::PauseKey, &Prefs::GetPauseKey, &Prefs::SetPauseKey},
    {IDC_KEYS_CAPTURE, IDS_KEY_TITLE_CAPTURE, PrefsSetting::CaptureKey, &Prefs::GetCaptureKey,
     &Prefs::SetCaptureKey},
};
}  // namespace

MoviePage::MoviePage(PanelCommands& sheet, Prefs& prefs, HINSTANCE instance)
    : TPropertyPage(IDD_MOVIE, instance, true), sheet(sheet), prefs(prefs), launcher(LaunchProcess)
{
}

bool MoviePage::SetupWindow()
{
    HWND page = Handle();
    frameRate.Attach(page, IDC_MOVIE_FPS);
    depth.Attach(page, IDC_MOVIE_DEPTH);
    mode.Attach(page, IDC_MOVIE_MODE);
    left.Attach(page, IDC_MOVIE_LEFT);
    top.Attach(page, IDC_MOVIE_TOP);
    width.Attach(page, IDC_MOVIE_WIDTH);
    height.Attach(page, IDC_MOVIE_HEIGHT);
    hideCursor.Attach(page, IDC_MOVIE_HIDE_CURSOR);
    hideVorlux.Attach(page, IDC_MOVIE_HIDE_VORLUX);
    lossless.Attach(page, IDC_MOVIE_LOSSLESS);
    statusIcon.Attach(page, IDC_MOVIE_STATUS_ICON);
    highlightClicks.Attach(page, IDC_MOVIE_HIGHLIGHT_CLICKS);
    cursorHalo.Attach(page, IDC_MOVIE_CURSOR_HALO);
    showKeys.Attach(page, IDC_MOVIE_SHOW_KEYS);
    startStop.Attach(page, IDC_MOVIE_START);
    pause.Attach(page, IDC_MOVIE_PAUSE);
    movieFormat.Attach(page, IDC_MOVIE_FORMAT);
    frameFormat.Attach(page, IDC_MOVIE_FRAME_FORMAT);

    ShowCaptureArea();
    ShowCaptureMode();
    // A missing value (-1) counts as on.
    hideCursor.SetCheck(prefs.GetCursorMode() != 0);
    hideVorlux.SetCheck(prefs.GetVorluxMode() != 0);
    lossless.SetCheck(prefs.GetLossless());
    statusIcon.SetCheck(prefs.GetStatusIcon());
    highlightClicks.SetCheck(prefs.GetHighlightClicks());
    cursorHalo.SetCheck(prefs.GetCursorHalo());
    FillFrameRates();
    FillShowKeys();
    FillMovieFormats(movieFormat, prefs);
    FillFrameFormats(frameFormat, prefs);
    ShowDepth();
    OnRecordingState(sheet.RecorderState());
    return true;
}

void MoviePage::ShowDepth()
{
    ScopedWindowDC screen(nullptr);
    depth.SetText(DepthText(screen ? ::GetDeviceCaps(screen.get(), BITSPIXEL) : 0, prefs.GetLossless()));
}

void MoviePage::ShowCaptureArea()
{
    VRect r = prefs.GetCaptureArea();
    ShowNumber(width, int64_t{r.right} - r.left);
    ShowNumber(height, int64_t{r.bottom} - r.top);
    ShowNumber(left, r.left);
    ShowNumber(top, r.top);
}

void MoviePage::ShowCaptureMode()
{
    const int32_t stored = prefs.GetCaptureMode();
    // An unknown mode keeps whatever name is shown.
    if (stored < kFixedArea || stored > kFollowWindows)
        return;
    std::string name = LoadText(Instance(), IDS_MODE_FIRST + stored);
    if (!name.empty())
        mode.SetText(name.c_str());
}

void MoviePage::FillFrameRates()
{
    for (const FrameRate& rate : kFrameRates)
        frameRate.Add(rate.text, rate.fps);
    frameRate.Select(frameRate.FindData(prefs.GetFramesPerSecond()));
}

void MoviePage::FillShowKeys()
{
    for (const char* choice : kShowKeysChoices)
        showKeys.Add(choice, showKeys.Count());
    showKeys.Select(showKeys.FindData(prefs.GetShowKeys()));
}

const char* MoviePage::DepthText(int bitsPerPixel, bool losslessOn)
{
    switch (bitsPerPixel) {
    case 8:
        return " 8";
    case 16:
        return "16";
    case 24:
    case 32:  // 24-bit frames, or 32-bit ones when lossless
        return losslessOn ? "32" : "24";
    }
    return "unsupported";
}

std::string MoviePage::PlayerCommandLine(const char* programDirectory, const char* movie)
{
    std::string line = "\"";
    line += programDirectory;
    line += '\\';
    line += kPlayerName;
    line += "\" ";
    if (movie[0]) {
        line += '"';
        line += movie;
        line += '"';
    }
    return line;
}

void MoviePage::OnRecordingState(RecordingState state)
{
    if (!Handle())
        return;  // drawn at set-up
    const bool recording = state == RecordingState::Recording || state == RecordingState::Paused;
    startStop.SetText(recording ? "&Stop Recording" : "&Start Recording");
    pause.SetText(state == RecordingState::Paused ? "&Resume Recording" : "&Pause Recording");
}

void MoviePage::OnCaptureAreaReplaced()
{
    if (Handle())
        ShowCaptureArea();
}

bool MoviePage::OnCommand(int id, int code, HWND)
{
    if (id == IDC_MOVIE_FPS || id == IDC_MOVIE_FORMAT || id == IDC_MOVIE_FRAME_FORMAT) {
        if (code != CBN_CLOSEUP)
            return false;
        if (id == IDC_MOVIE_FPS)
            OnCloseUpFrameRate();
        else if (id == IDC_MOVIE_FORMAT)
            OnCloseUpMovieFormat();
        else
            OnCloseUpFrameFormat();
        return true;
    }
    if (id == IDC_MOVIE_SHOW_KEYS) {
        if (code != CBN_SELCHANGE)
            return false;
        OnSelectShowKeys();
        return true;
    }
    if (code != BN_CLICKED)
        return false;
    switch (id) {
    case IDC_MOVIE_HIDE_CURSOR:
        OnClickHideCursor();
        return true;
    case IDC_MOVIE_HIDE_VORLUX:
        OnClickHideVorlux();
        return true;
    case IDC_MOVIE_LOSSLESS:
        OnClickLossless();
        return true;
    case IDC_MOVIE_STATUS_ICON:
        OnClickStatusIcon();
        return true;
    case IDC_MOVIE_HIGHLIGHT_CLICKS:
        OnClickHighlightClicks();
        return true;
    case IDC_MOVIE_CURSOR_HALO:
        OnClickCursorHalo();
        return true;
    case IDC_MOVIE_START:
        sheet.PostStartOrStop();
        return true;
    case IDC_MOVIE_PAUSE:
        sheet.PostCommand(RecordingCommand::Pause);
        return true;
    case IDC_MOVIE_FRAME:
        sheet.PostCommand(RecordingCommand::Frame);
        return true;
    case IDC_MOVIE_RESIZE:
        OnClickResize();
        return true;
    case IDC_MOVIE_PLAY:
        OnClickPlayMovie();
        return true;
    }
    return false;
}

void MoviePage::OnCloseUpFrameRate()
{
    int index = frameRate.Selection();
    // Closed without a choice (the stored rate is not in the list): the stored rate stays.
    if (index < 0)
        return;
    auto fps = static_cast<int32_t>(frameRate.Data(index, -1));
    DebugTrace("FPS change %d", fps);
    prefs.SetFramesPerSecond(fps);
}

void MoviePage::OnCloseUpMovieFormat()
{
    StoreMovieFormat(movieFormat, prefs);
}

void MoviePage::OnCloseUpFrameFormat()
{
    StoreFrameFormat(frameFormat, prefs);
}

void MoviePage::OnClickHideCursor()
{
    int32_t hide = hideCursor.IsChecked() ? 1 : 0;
    DebugTrace("HideCursor change %d", hide);
    prefs.SetCursorMode(hide);
}

void MoviePage::OnClickHideVorlux()
{
    int32_t hide = hideVorlux.IsChecked() ? 1 : 0;
    DebugTrace("HideVorlux change %d", hide);
    prefs.SetVorluxMode(hide);
}

void MoviePage::OnClickLossless()
{
    const bool on = lossless.IsChecked();
    DebugTrace("Lossless change %d", on ? 1 : 0);
    prefs.SetLossless(on);
    ShowDepth();
}

void MoviePage::OnClickStatusIcon()
{
    const bool show = statusIcon.IsChecked();
    DebugTrace("StatusIcon change %d", show ? 1 : 0);
    prefs.SetStatusIcon(show);
    sheet.ShowStatusIcon(show);
}

void MoviePage::OnClickHighlightClicks()
{
    const bool on = highlightClicks.IsChecked();
    DebugTrace("HighlightClicks change %d", on ? 1 : 0);
    prefs.SetHighlightClicks(on);
}

void MoviePage::OnClickCursorHalo()
{
    const bool on = cursorHalo.IsChecked();
    DebugTrace("CursorHalo change %d", on ? 1 : 0);
    prefs.SetCursorHalo(on);
}

void MoviePage::OnSelectShowKeys()
{
    const auto mode = int32_t(showKeys.Data(showKeys.Selection(), 0));
    DebugTrace("ShowKeys change %d", mode);
    prefs.SetShowKeys(mode);
}

void MoviePage::OnClickResize()
{
    RunCaptureAreaDialog(Handle(), Sheet(), prefs, Instance(), [this] {
        ShowCaptureMode();
        ShowCaptureArea();
    });
}

void MoviePage::OnClickPlayMovie()
{
    PlayLastMovie();
}

void MoviePage::PlayLastMovie()
{
    char movie[kPrefsPathSize];
    prefs.GetLastMovieRecorded(movie, sizeof movie);
    PlayMovie(movie);
}

void MoviePage::PlayMovie(const char* movie)
{
    std::string commandLine = PlayerCommandLine(prefs.GetProgramDirectory(), movie);
    if (launcher(commandLine))
        return;
    const std::string text = FillIn(LoadText(Instance(), IDS_PLAYER_FAILED), {commandLine});
    DebugTrace("%s", text.c_str());
    sheet.ShowMessage(text.c_str(), LoadText(Instance(), IDS_PLAYER_FAILED_CAPTION).c_str());
}

void MoviePage::OnSheetHelp()
{
    SendHelpCommand(SheetOwner(), kCmdHelpMovie, Handle());
}

SoundPage::SoundPage(Prefs& prefs, HINSTANCE instance)
    : TPropertyPage(IDD_SOUND, instance, true), prefs(prefs), chooser(RunAcmChooser)
{
}

bool SoundPage::SetupWindow()
{
    HWND page = Handle();
    enable.Attach(page, IDC_SOUND_ENABLE);
    bufferCount.Attach(page, IDC_SOUND_BUFFERS);
    frequency.Attach(page, IDC_SOUND_FREQUENCY);
    dataSize.Attach(page, IDC_SOUND_DATASIZE);
    channels.Attach(page, IDC_SOUND_CHANNELS);

    enable.SetCheck(prefs.GetEnableSoundCapture());
    for (const BufferCount& entry : kBufferCounts)
        bufferCount.Add(entry.text, entry.count);
    bufferCount.Select(bufferCount.FindData(prefs.GetBufferCount()));
    ShowFormat();
    return true;
}

void SoundPage::ShowFormat()
{
    ShowNumber(frequency, prefs.GetFrequency());
    ShowNumber(dataSize, prefs.GetDataSize());
    ShowNumber(channels, prefs.GetChannels());
}

bool SoundPage::OnCommand(int id, int code, HWND)
{
    switch (id) {
    case IDC_SOUND_ENABLE:
        if (code != BN_CLICKED)
            return false;
        OnClickEnable();
        return true;
    case IDC_SOUND_FORMAT:
        if (code != BN_CLICKED)
            return false;
        OnClickFormat();
        return true;
    case IDC_SOUND_BUFFERS:
        if (code != CBN_CLOSEUP)
            return false;
        OnCloseUpBufferCount();
        return true;
    }
    return false;
}

bool SoundPage::OnNotify(int id, NMHDR* header)
{
    // The movie format may have changed on the Movie page since this page was last shown.
    if (header->code == PSN_SETACTIVE)
        ShowGifSoundNote(::GetDlgItem(Handle(), IDC_SOUND_GIF_NOTE), prefs);
    return TPropertyPage::OnNotify(id, header);
}

void SoundPage::OnClickEnable()
{
    prefs.SetEnableSoundCapture(enable.IsChecked());
    DebugTrace("Enable Sound Capture %d", prefs.GetEnableSoundCapture() ? 1 : 0);
}

void SoundPage::OnCloseUpBufferCount()
{
    int index = bufferCount.Selection();
    // Closed without a choice: the stored count stays.
    if (index < 0)
        return;
    prefs.SetBufferCount(static_cast<int32_t>(bufferCount.Data(index, -1)));
    DebugTrace("AudioBuffers %d", prefs.GetBufferCount());
}

WAVEFORMATEX SoundPage::InitialFormat(int32_t channels, int32_t frequency, int32_t bits)
{
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    if (channels < 1 || channels > kMaxChannels || bits < kMinBits || bits > kMaxBits || frequency < 1 ||
        frequency > kMaxFrequency)
        return format;
    format.nChannels = static_cast<WORD>(channels);
    format.wBitsPerSample = static_cast<WORD>(bits);
    format.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    format.nSamplesPerSec = static_cast<DWORD>(frequency);
    format.nAvgBytesPerSec = format.nBlockAlign * format.nSamplesPerSec;
    format.cbSize = 0;
    return format;
}

bool SoundPage::RunAcmChooser(HWND owner, WAVEFORMATEX& format)
{
    // Room for the largest format description of any installed codec.
    DWORD size = 0;
    if (::acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, &size) != MMSYSERR_NOERROR || size < sizeof format)
        size = sizeof format;
    std::vector<BYTE> block(size);
    std::memcpy(block.data(), &format, sizeof format);

    ACMFORMATCHOOSEA choose{};
    choose.cbStruct = sizeof choose;
    choose.fdwStyle = format.nSamplesPerSec != 0 ? ACMFORMATCHOOSE_STYLEF_INITTOWFXSTRUCT : 0;
    choose.hwndOwner = owner;
    choose.pwfx = reinterpret_cast<WAVEFORMATEX*>(block.data());
    choose.cbwfx = size;
    choose.fdwEnum = ACM_FORMATENUMF_HARDWARE | ACM_FORMATENUMF_INPUT;
    if (::acmFormatChooseA(&choose) != MMSYSERR_NOERROR)
        return false;
    std::memcpy(&format, block.data(), sizeof format);
    return true;
}

void SoundPage::OnClickFormat()
{
    WAVEFORMATEX format = InitialFormat(prefs.GetChannels(), prefs.GetFrequency(), prefs.GetDataSize());
    if (!chooser(Sheet(), format))
        return;
    prefs.SetFrequency(static_cast<int32_t>(format.nSamplesPerSec));
    prefs.SetChannels(format.nChannels);
    prefs.SetDataSize(format.wBitsPerSample);
    ShowFormat();
}

void SoundPage::OnSheetHelp()
{
    SendHelpCommand(SheetOwner(), kCmdHelpDestinationSound, Handle());
}

PathPage::PathPage(Prefs& prefs, HINSTANCE instance)
    : TPropertyPage(IDD_DESTINATION, instance, true), prefs(prefs), saveDialog(RunSaveDialog)
{
}

INT_PTR PathPage::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_PAINT) {
        // The next free number depends on the files on disk: show it afresh whenever the page
        // comes into view. The default dialog painting still runs.
        RefreshDestination();
        return FALSE;
    }
    return TPropertyPage::HandleMessage(message, wparam, lparam);
}

bool PathPage::SetupWindow()
{
    path.Attach(Handle(), IDC_DEST_PATH);
    autoIncrement.Attach(Handle(), IDC_DEST_AUTO);
    RefreshDestination();
    return true;
}

void PathPage::OnRecordingState(RecordingState state)
{
    if (state == RecordingState::Idle || state == RecordingState::Failed)
        RefreshDestination();
}

void PathPage::RefreshDestination()
{
    if (!Handle())
        return;
    char directory[kPrefsPathSize];
    char name[kPrefsPathSize];
    prefs.GetMovieDirectory(directory, sizeof directory);
    prefs.GetNextMovieName(name, sizeof name);
    char next[2 * kPrefsPathSize];
    std::snprintf(next, sizeof next, "%s\\%s", directory, name);
    std::string shown = path.GetText();
    if (shown != next)  // setting the same text again would repaint, and repainting refreshes
        path.SetText(next);
    autoIncrement.SetCheck(prefs.GetAutoIncrement());
}

bool PathPage::OnCommand(int id, int code, HWND)
{
    if (code != BN_CLICKED)
        return false;
    switch (id) {
    case IDC_DEST_AUTO:
        OnClickAutoIncrement();
        return true;
    case IDC_DEST_RESET:
        OnClickReset();
        return true;
    }
    return false;
}

void PathPage::OnClickAutoIncrement()
{
    prefs.SetAutoIncrement(autoIncrement.IsChecked());
    RefreshDestination();
}

bool PathPage::SplitDestination(const std::string& full, Destination& out)
{
    size_t slash = full.rfind('\\');
    if (slash == std::string::npos || slash == 0)
        return false;
    out.directory = full.substr(0, slash);
    std::string name = full.substr(slash + 1);
    out.baseName = name.substr(0, name.find('.'));
    return true;
}

std::string PathPage::DirectoryToken(const std::string& directory, const char* programDirectory)
{
    char windows[MAX_PATH];
    UINT windowsLength = ::GetWindowsDirectoryA(windows, sizeof windows);
    char system[MAX_PATH];
    UINT systemLength = ::GetSystemDirectoryA(system, sizeof system);
    const struct {
        const char* directory;
        bool known;
        const char* token;
    } candidates[] = {
        {programDirectory, programDirectory[0] != '\0', "%c"},
        {windows, windowsLength > 0 && windowsLength < sizeof windows, "%w"},
        {system, systemLength > 0 && systemLength < sizeof system, "%s"},
    };
    for (const auto& candidate : candidates)
        if (candidate.known && ::lstrcmpiA(directory.c_str(), candidate.directory) == 0)
            return candidate.token;
    return directory;
}

bool PathPage::RunSaveDialog(HWND owner, const char* directory, std::string& chosen)
{
    char file[MAX_PATH] = {};
    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = kSaveDialogFilter;
    dialog.lpstrFile = file;
    dialog.nMaxFile = sizeof file;
    dialog.lpstrInitialDir = directory;
    dialog.lpstrTitle = kSaveDialogTitle;
    dialog.Flags = kSaveDialogFlags;
    dialog.lpstrDefExt = kSaveDialogExtension;
    if (!::GetSaveFileNameA(&dialog))
        return false;
    chosen = file;
    return true;
}

void PathPage::OnClickReset()
{
    char directory[kPrefsPathSize];
    prefs.GetMovieDirectory(directory, sizeof directory);
    std::string chosen;
    if (!saveDialog(Handle(), directory, chosen))
        return;
    Destination destination;
    if (!SplitDestination(chosen, destination) || destination.directory.size() >= kPrefsPathSize ||
        destination.baseName.size() >= kPrefsPathSize) {
        DebugTrace("Destination not usable: %s", chosen.c_str());
        return;
    }
    prefs.SetDirectory(DirectoryToken(destination.directory, prefs.GetProgramDirectory()).c_str());
    prefs.SetFilename(destination.baseName.c_str());
    RefreshDestination();
}

void PathPage::OnSheetHelp()
{
    SendHelpCommand(SheetOwner(), kCmdHelpDestinationSound, Handle());
}

KeySetPage::KeySetPage(PanelCommands& sheet, Prefs& prefs, HINSTANCE instance)
    : TPropertyPage(IDD_HOTKEYS, instance, true),
      sheet(sheet),
      prefs(prefs),
      keyDialog([instance](HotKeyBlock& block) { return HotKeyDialog(block, instance).Execute(); })
{
    static_assert(std::size(kKeyRows) == kKeyCount);
}

bool KeySetPage::SetupWindow()
{
    for (int row = 0; row < kKeyCount; ++row) {
        keys[row].Attach(Handle(), kKeyRows[row].button);
        ShowKey(row);
    }
    return true;
}

void KeySetPage::ShowKey(int row)
{
    std::string name = FormatHotKey((prefs.*kKeyRows[row].get)());
    // A key another program holds says so on its button.
    if (sheet.HotKeyTaken(row)) {
        const std::string mark = LoadText(Instance(), IDS_HOTKEY_TAKEN_MARK);
        const size_t at = mark.find("%s");
        if (at != std::string::npos)
            name = mark.substr(0, at) + name + mark.substr(at + 2);
    }
    keys[row].SetText(name.c_str());
}

bool KeySetPage::OnCommand(int id, int code, HWND)
{
    if (code != BN_CLICKED)
        return false;
    for (int row = 0; row < kKeyCount; ++row) {
        if (kKeyRows[row].button == id) {
            OnClickKey(row);
            return true;
        }
    }
    return false;
}

void KeySetPage::OnClickKey(int row)
{
    const KeyRow& key = kKeyRows[row];
    HotKeyBlock block;
    block.title = LoadText(Instance(), key.title);
    block.key = (prefs.*key.get)();
    block.owner = Handle();
    switch (keyDialog(block)) {
    case kHotKeyChosen:
        (prefs.*key.set)(block.key);
        break;
    case kHotKeyDefault:
        (prefs.*key.set)(static_cast<int32_t>(PrefsLayoutOf(key.setting).number));
        break;
    default:  // unchanged, cancelled, or the dialog could not be shown
        return;
    }
    sheet.RegisterHotKeys();
    // Any key may have been freed or taken since: every row shows where it stands now.
    for (int shown = 0; shown < kKeyCount; ++shown)
        ShowKey(shown);
}

void KeySetPage::OnSheetHelp()
{
    SendHelpCommand(SheetOwner(), kCmdHelpHotKeys, Handle());
}

AboutPage::AboutPage(Prefs& prefs, HINSTANCE instance) : TPropertyPage(IDD_ABOUT, instance, false), prefs(prefs) {}

bool AboutPage::SetupWindow()
{
    const std::string info = "Version " VORLUX_VERSION_TEXT ". Settings: " + prefs.Where();
    return ::SetDlgItemTextA(Handle(), IDC_ABOUT_INFO, info.c_str()) != FALSE;
}
