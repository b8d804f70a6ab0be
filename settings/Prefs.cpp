#include "settings/Prefs.h"

#include "settings/IniStore.h"

#include <knownfolders.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <limits>

namespace {

constexpr char kRootPrefix[] = "SOFTWARE\\Quorvane\\Vorlux\\";

constexpr char kTokenProgram[] = "%c";
constexpr char kTokenWindows[] = "%w";
constexpr char kTokenSystem[] = "%s";
constexpr char kInstallerKeyParent = '\\';

constexpr int kMaxNumberedName = 999;
constexpr char kMovieExtension[] = ".avi";
constexpr char kGifExtension[] = ".gif";
constexpr char kSnapshotExtension[] = ".bmp";
constexpr char kPngExtension[] = ".png";

void ClearText(char* buffer, std::size_t size)
{
    if (buffer && size > 0)
        buffer[0] = '\0';
}

// Copies the whole text or nothing: a cut path would name another place.
void CopyWhole(const char* text, char* buffer, std::size_t size)
{
    const std::size_t length = std::strlen(text);
    if (length >= size) {
        ClearText(buffer, size);
        return;
    }
    std::memcpy(buffer, text, length + 1);
}

// snprintf that gives empty text instead of a cut one.
template <typename... Args>
bool FormatWhole(char* buffer, std::size_t size, const char* format, Args... args)
{
    const int written = std::snprintf(buffer, size, format, args...);
    if (written < 0 || static_cast<std::size_t>(written) >= size) {
        ClearText(buffer, size);
        return false;
    }
    return true;
}

bool FileExists(const char* path)
{
    return ::GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool FollowsRule(const char* text, PrefsRule rule)
{
    switch (rule) {
    case PrefsRule::Any:
        return true;
    case PrefsRule::BareName:
        return std::strpbrk(text, "\\/") == nullptr;
    }
    return false;
}

std::string RunningProgramDirectory()
{
    char path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path)
        return {};
    std::string directory(path, length);
    const std::size_t slash = directory.find_last_of('\\');
    return slash == std::string::npos ? std::string() : directory.substr(0, slash);
}

// The setup program's choice of movie directory, beside the store's own key; empty when none.
std::string InstallerDirectory(const PrefsLocation& location)
{
    const std::size_t slash = location.path.find_last_of(kInstallerKeyParent);
    if (!location.hive || slash == std::string::npos)
        return {};
    HKEY opened = nullptr;
    if (::RegOpenKeyExA(location.hive, location.path.substr(0, slash).c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return {};
    ScopedRegKey key(opened);
    char text[kPrefsPathSize] = {};
    DWORD type = REG_NONE;
    DWORD length = sizeof text - 1;
    if (::RegQueryValueExA(key.get(), kPrefsInstallerDirectory, nullptr, &type, reinterpret_cast<BYTE*>(text),
                           &length) != ERROR_SUCCESS ||
        type != REG_SZ)
        return {};
    return text;
}

// A known folder as ANSI text; false when the system has none or its path does not fit.
bool KnownFolder(REFKNOWNFOLDERID id, char (&path)[kPrefsPathSize])
{
    PWSTR wide = nullptr;
    const HRESULT result = ::SHGetKnownFolderPath(id, 0, nullptr, &wide);
    BOOL lossy = FALSE;
    const int length = SUCCEEDED(result) ? ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, path,
                                                                 sizeof path, nullptr, &lossy)
                                         : 0;
    ::CoTaskMemFree(wide);
    return length > 0 && !lossy;
}

}  // namespace

Prefs& Prefs::Global()
{
    static const std::unique_ptr<Prefs> prefs = [] {
        const std::string root = std::string(kRootPrefix) + kPrefsVersion;
        return ForProgram(RunningProgramDirectory(), PrefsLocation{HKEY_LOCAL_MACHINE, root},
                          PrefsLocation{HKEY_CURRENT_USER, root});
    }();
    return *prefs;
}

std::unique_ptr<Prefs> Prefs::ForProgram(const std::string& programDirectory, const PrefsLocation& primary,
                                         const PrefsLocation& fallback)
{
    const std::string ini = programDirectory + "\\" + kPrefsIniName;
    if (!programDirectory.empty() && FileExists(ini.c_str()))
        return std::make_unique<Prefs>(std::make_unique<IniStore>(ini), kTokenProgram);
    std::string directory = InstallerDirectory(primary);
    if (directory.empty())
        directory = InstallerDirectory(fallback);
    return std::make_unique<Prefs>(std::make_unique<RegistryStore>(primary, fallback), directory);
}

Prefs::Prefs(const char* version)
    : Prefs(PrefsLocation{HKEY_LOCAL_MACHINE, std::string(kRootPrefix) + version},
            PrefsLocation{HKEY_CURRENT_USER, std::string(kRootPrefix) + version})
{
}

// The machine-wide location stays first so existing installations keep their settings; a
// standard user, who may not write there, gets the same tree of their own.
Prefs::Prefs(PrefsLocation primary, PrefsLocation fallback)
{
    auto registry = std::make_unique<RegistryStore>(primary, fallback);
    hive = registry->Hive();
    store = std::move(registry);
    if (store->Created())
        CreateDefaults();
}

Prefs::Prefs(std::unique_ptr<PrefsStore> chosen, std::string directory)
    : store(std::move(chosen)), directoryDefault(std::move(directory))
{
    if (const auto* registry = dynamic_cast<const RegistryStore*>(store.get()))
        hive = registry->Hive();
    if (store->Created())
        CreateDefaults();
}

Prefs::~Prefs() = default;

// Only a tree made just now gets its defaults: an existing one never gets missing sub-keys or
// values back.
void Prefs::CreateDefaults()
{
    for (std::size_t i = 0; i < kPrefsSubKeyCount; ++i) {
        if (!store->CreateSection(static_cast<PrefsSubKey>(i)))
            continue;
        for (std::size_t v = 0; v < std::size(kPrefsLayout); ++v) {
            const PrefsValue& value = kPrefsLayout[v];
            if (static_cast<std::size_t>(value.subKey) != i)
                continue;
            const auto setting = static_cast<PrefsSetting>(v);
            if (value.type == PrefsType::Number)
                WriteNumber(setting, static_cast<int32_t>(value.number));
            else
                WriteText(setting, DefaultText(setting));
        }
    }
}

const char* Prefs::DefaultText(PrefsSetting setting) const
{
    if (setting == PrefsSetting::PathDirectory && !directoryDefault.empty())
        return directoryDefault.c_str();
    return PrefsLayoutOf(setting).text;
}

bool Prefs::ReadNumber(PrefsSetting setting, int32_t& value) const
{
    const PrefsValue& layout = PrefsLayoutOf(setting);
    uint32_t data = 0;
    if (!store->ReadNumber(layout.subKey, layout.name, data))
        return false;
    value = static_cast<int32_t>(data);
    return true;
}

int32_t Prefs::ReadNumberOr(PrefsSetting setting, int32_t failure) const
{
    int32_t value = failure;
    return ReadNumber(setting, value) ? value : failure;
}

void Prefs::WriteNumber(PrefsSetting setting, int32_t value)
{
    const PrefsValue& layout = PrefsLayoutOf(setting);
    if (writeObserver)
        writeObserver(layout.name);
    store->WriteNumber(layout.subKey, layout.name, static_cast<uint32_t>(value));
}

// Text against the value's rule is unusable like missing text.
bool Prefs::ReadStoredText(PrefsSetting setting, char (&text)[kPrefsPathSize]) const
{
    const PrefsValue& layout = PrefsLayoutOf(setting);
    if (!store->ReadText(layout.subKey, layout.name, text) || !FollowsRule(text, layout.rule)) {
        text[0] = '\0';
        return false;
    }
    return true;
}

void Prefs::GetText(PrefsSetting setting, char* buffer, std::size_t size) const
{
    ClearText(buffer, size);
    const auto index = static_cast<int>(setting);
    if (!buffer || size == 0 || index < 0 || index >= static_cast<int>(PrefsSetting::Count))
        return;
    const PrefsValue& value = PrefsLayoutOf(setting);
    if (value.type == PrefsType::Number)
        return;
    char text[kPrefsPathSize];
    if (ReadStoredText(setting, text))
        CopyWhole(text, buffer, size);
    else if (value.fallback == PrefsFallback::Default)
        CopyWhole(DefaultText(setting), buffer, size);
}

// Text longer than a path buffer, or against the value's rule, is refused: it could never be
// read back.
void Prefs::WriteText(PrefsSetting setting, const char* text)
{
    if (!text)
        return;
    const std::size_t length = std::strlen(text);
    const PrefsValue& value = PrefsLayoutOf(setting);
    if (length >= kPrefsPathSize || !FollowsRule(text, value.rule))
        return;
    if (writeObserver)
        writeObserver(value.name);
    store->WriteText(value.subKey, value.name, text, value.type != PrefsType::TextNoNul);
}

int32_t Prefs::GetFramesPerSecond() const { return ReadNumberOr(PrefsSetting::FramesPerSecond, -1); }
void Prefs::SetFramesPerSecond(int32_t fps) { WriteNumber(PrefsSetting::FramesPerSecond, fps); }
int32_t Prefs::GetRecordMouseShape() const { return ReadNumberOr(PrefsSetting::RecordMouseShape, -1); }
int32_t Prefs::GetCaptureMode() const { return ReadNumberOr(PrefsSetting::CaptureMode, -1); }
void Prefs::SetCaptureMode(int32_t mode) { WriteNumber(PrefsSetting::CaptureMode, mode); }

int32_t Prefs::GetCursorMode() const
{
    int32_t mode = 0;
    return ReadNumber(PrefsSetting::CursorMode, mode) ? (mode != 0 ? 1 : 0) : -1;
}
void Prefs::SetCursorMode(int32_t mode) { WriteNumber(PrefsSetting::CursorMode, mode); }

int32_t Prefs::GetVorluxMode() const
{
    int32_t mode = 0;
    return ReadNumber(PrefsSetting::VorluxMode, mode) ? (mode != 0 ? 1 : 0) : -1;
}
void Prefs::SetVorluxMode(int32_t mode) { WriteNumber(PrefsSetting::VorluxMode, mode); }

// A stored extent that would carry an edge past the coordinate range counts as missing.
VRect Prefs::GetCaptureArea() const
{
    int32_t left = 0, top = 0, width = 0, height = 0;
    if (!ReadNumber(PrefsSetting::Left, left) || !ReadNumber(PrefsSetting::Top, top) ||
        !ReadNumber(PrefsSetting::Width, width) || !ReadNumber(PrefsSetting::Height, height))
        return {};
    const int64_t right = int64_t{left} + width;
    const int64_t bottom = int64_t{top} + height;
    constexpr int64_t lowest = std::numeric_limits<int32_t>::min();
    constexpr int64_t highest = std::numeric_limits<int32_t>::max();
    if (right < lowest || right > highest || bottom < lowest || bottom > highest)
        return {};
    return {left, top, static_cast<int32_t>(right), static_cast<int32_t>(bottom)};
}

VRect Prefs::DefaultCaptureArea()
{
    const auto number = [](PrefsSetting setting) { return static_cast<int32_t>(PrefsLayoutOf(setting).number); };
    const int32_t left = number(PrefsSetting::Left);
    const int32_t top = number(PrefsSetting::Top);
    return {left, top, left + number(PrefsSetting::Width), top + number(PrefsSetting::Height)};
}

// An area whose extent does not fit a 32-bit value is not stored at all.
void Prefs::SetCaptureArea(const VRect& area)
{
    const int64_t width = int64_t{area.right} - area.left;
    const int64_t height = int64_t{area.bottom} - area.top;
    constexpr int64_t lowest = std::numeric_limits<int32_t>::min();
    constexpr int64_t highest = std::numeric_limits<int32_t>::max();
    if (width < lowest || width > highest || height < lowest || height > highest)
        return;
    WriteNumber(PrefsSetting::Top, area.top);
    WriteNumber(PrefsSetting::Left, area.left);
    WriteNumber(PrefsSetting::Width, static_cast<int32_t>(width));
    WriteNumber(PrefsSetting::Height, static_cast<int32_t>(height));
}

int32_t Prefs::GetPanValue() const { return ReadNumberOr(PrefsSetting::PanValue, -1); }
void Prefs::SetPanValue(int32_t percent) { WriteNumber(PrefsSetting::PanValue, percent); }
int32_t Prefs::GetKeyFrame() const { return ReadNumberOr(PrefsSetting::KeyFrame, -1); }
void Prefs::SetKeyFrame(int32_t every) { WriteNumber(PrefsSetting::KeyFrame, every); }
bool Prefs::GetLossless() const { return ReadNumberOr(PrefsSetting::Lossless, 0) != 0; }
void Prefs::SetLossless(bool on) { WriteNumber(PrefsSetting::Lossless, on ? 1 : 0); }
bool Prefs::GetHighlightClicks() const { return ReadNumberOr(PrefsSetting::HighlightClicks, 0) != 0; }
void Prefs::SetHighlightClicks(bool on) { WriteNumber(PrefsSetting::HighlightClicks, on ? 1 : 0); }
bool Prefs::GetCursorHalo() const { return ReadNumberOr(PrefsSetting::CursorHalo, 0) != 0; }
void Prefs::SetCursorHalo(bool on) { WriteNumber(PrefsSetting::CursorHalo, on ? 1 : 0); }

namespace {
int32_t ShowKeysMode(int32_t mode)
{
    return mode == 1 || mode == 2 ? mode : 0;
}
}  // namespace

int32_t Prefs::GetShowKeys() const { return ShowKeysMode(ReadNumberOr(PrefsSetting::ShowKeys, 0)); }
void Prefs::SetShowKeys(int32_t mode) { WriteNumber(PrefsSetting::ShowKeys, ShowKeysMode(mode)); }
MovieFormat Prefs::GetMovieFormat() const
{
    return ReadNumberOr(PrefsSetting::MovieFormat, 0) == 1 ? MovieFormat::Gif : MovieFormat::Avi;
}
void Prefs::SetMovieFormat(MovieFormat format) { WriteNumber(PrefsSetting::MovieFormat, static_cast<int32_t>(format)); }
FrameFormat Prefs::GetFrameFormat() const
{
    return ReadNumberOr(PrefsSetting::CaptureFormat, 0) == 1 ? FrameFormat::Png : FrameFormat::Bmp;
}
void Prefs::SetFrameFormat(FrameFormat format) { WriteNumber(PrefsSetting::CaptureFormat, static_cast<int32_t>(format)); }

int32_t Prefs::GetStartKey() const { return ReadNumberOr(PrefsSetting::StartKey, 0); }
void Prefs::SetStartKey(int32_t key) { WriteNumber(PrefsSetting::StartKey, key); }
int32_t Prefs::GetStopKey() const { return ReadNumberOr(PrefsSetting::StopKey, 0); }
void Prefs::SetStopKey(int32_t key) { WriteNumber(PrefsSetting::StopKey, key); }
int32_t Prefs::GetPauseKey() const { return ReadNumberOr(PrefsSetting::PauseKey, 0); }
void Prefs::SetPauseKey(int32_t key) { WriteNumber(PrefsSetting::PauseKey, key); }
int32_t Prefs::GetCaptureKey() const { return ReadNumberOr(PrefsSetting::CaptureKey, 0); }
void Prefs::SetCaptureKey(int32_t key) { WriteNumber(PrefsSetting::CaptureKey, key); }

bool Prefs::GetAutoIncrement() const { return ReadNumberOr(PrefsSetting::PathAutoIncrement, 0) != 0; }
void Prefs::SetAutoIncrement(bool on) { WriteNumber(PrefsSetting::PathAutoIncrement, on ? 1 : 0); }

void Prefs::GetDirectory(char* buffer, std::size_t size) const
{
    GetText(PrefsSetting::PathDirectory, buffer, size);
}
void Prefs::SetDirectory(const char* directory) { WriteText(PrefsSetting::PathDirectory, directory); }
void Prefs::GetFilename(char* buffer, std::size_t size) const
{
    GetText(PrefsSetting::PathFilename, buffer, size);
}
void Prefs::SetFilename(const char* baseName) { WriteText(PrefsSetting::PathFilename, baseName); }

// Tokens are matched exactly, so "%C" is a literal directory name.
void Prefs::GetMovieDirectory(char* buffer, std::size_t size) const
{
    char directory[kPrefsPathSize];
    GetDirectory(directory, sizeof directory);
    char folder[kPrefsPathSize];
    if (std::strcmp(directory, kTokenProgram) == 0) {
        CopyWhole(programDirectory, buffer, size);
    } else if (std::strcmp(directory, kPrefsVideosToken) == 0) {
        if (KnownFolder(FOLDERID_Videos, folder) || KnownFolder(FOLDERID_Documents, folder))
            CopyWhole(folder, buffer, size);
        else
            CopyWhole(programDirectory, buffer, size);
    } else if (std::strcmp(directory, kTokenWindows) == 0 ||
               std::strcmp(directory, kTokenSystem) == 0) {
        char system[kPrefsPathSize];
        const UINT length = std::strcmp(directory, kTokenWindows) == 0
                                ? ::GetWindowsDirectoryA(system, sizeof system)
                                : ::GetSystemDirectoryA(system, sizeof system);
        if (length == 0 || length >= sizeof system)
            ClearText(buffer, size);
        else
            CopyWhole(system, buffer, size);
    } else {
        CopyWhole(directory, buffer, size);
    }
}

void Prefs::GetNextMovieName(char* buffer, std::size_t size) const
{
    NextName(GetMovieFormat() == MovieFormat::Gif ? kGifExtension : kMovieExtension, buffer, size);
}

void Prefs::GetNextSnapshotName(char* buffer, std::size_t size) const
{
    NextName(GetFrameFormat() == FrameFormat::Png ? kPngExtension : kSnapshotExtension, buffer, size);
}

// A name is free when nothing of that name exists in the directory; when all numbers are
// taken the last one is given. A name whose full path would not fit a path buffer is empty.
void Prefs::NextName(const char* extension, char* buffer, std::size_t size) const
{
    ClearText(buffer, size);
    if (!buffer || size == 0)
        return;
    char directory[kPrefsPathSize];
    GetMovieDirectory(directory, sizeof directory);
    char base[kPrefsPathSize];
    GetFilename(base, sizeof base);

    char name[kPrefsPathSize];
    char path[kPrefsPathSize];
    if (!GetAutoIncrement()) {
        if (!FormatWhole(name, sizeof name, "%s%s", base, extension) ||
            !FormatWhole(path, sizeof path, "%s\\%s", directory, name))
            return;
        CopyWhole(name, buffer, size);
        return;
    }
    for (int n = 0; n <= kMaxNumberedName; ++n) {
        if (!FormatWhole(name, sizeof name, "%s%.3d%s", base, n, extension) ||
            !FormatWhole(path, sizeof path, "%s\\%s", directory, name))
            return;
        if (!FileExists(path))
            break;
    }
    CopyWhole(name, buffer, size);
}

bool Prefs::GetEnableSoundCapture() const { return ReadNumberOr(PrefsSetting::EnableSoundCapture, 0) != 0; }
void Prefs::SetEnableSoundCapture(bool on) { WriteNumber(PrefsSetting::EnableSoundCapture, on ? 1 : 0); }
int32_t Prefs::GetBufferCount() const { return ReadNumberOr(PrefsSetting::BufferCount, -1); }
void Prefs::SetBufferCount(int32_t count) { WriteNumber(PrefsSetting::BufferCount, count); }
int32_t Prefs::GetFrequency() const { return ReadNumberOr(PrefsSetting::Frequency, -1); }
void Prefs::SetFrequency(int32_t samplesPerSecond) { WriteNumber(PrefsSetting::Frequency, samplesPerSecond); }
int32_t Prefs::GetDataSize() const { return ReadNumberOr(PrefsSetting::DataSize, -1); }
void Prefs::SetDataSize(int32_t bitsPerSample) { WriteNumber(PrefsSetting::DataSize, bitsPerSample); }
int32_t Prefs::GetChannels() const { return ReadNumberOr(PrefsSetting::Channels, -1); }
void Prefs::SetChannels(int32_t channels) { WriteNumber(PrefsSetting::Channels, channels); }

bool Prefs::GetStatusIcon() const { return ReadNumberOr(PrefsSetting::StatusIcon, 1) != 0; }
void Prefs::SetStatusIcon(bool on) { WriteNumber(PrefsSetting::StatusIcon, on ? 1 : 0); }

void Prefs::GetLastMovieRecorded(char* buffer, std::size_t size) const
{
    GetText(PrefsSetting::LastMovieRecorded, buffer, size);
}
void Prefs::SetLastMovieRecorded(const char* path) { WriteText(PrefsSetting::LastMovieRecorded, path); }

void Prefs::SetProgramDirectory(const char* directory)
{
    if (directory)
        CopyWhole(directory, programDirectory, sizeof programDirectory);
    else
        ClearText(programDirectory, sizeof programDirectory);
}
