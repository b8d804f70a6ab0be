#pragma once
// The registry layout of the settings store: every value with its sub-key, name, type, the
// default written when the store's root is created, and what a read gives when the stored value
// cannot be used. Creation walks the table in order, and every accessor reaches its value
// through it.

#include <cstddef>
#include <cstdint>
#include <iterator>

enum class PrefsSubKey : int { Movie, Sound, Key, Path, Capture, Misc };
inline constexpr std::size_t kPrefsSubKeyCount = 6;
// Indexed by PrefsSubKey; also the order in which the sub-keys are created.
inline constexpr const char* kPrefsSubKeyNames[kPrefsSubKeyCount] = {
    "Movie", "Sound", "Key", "Path", "Capture", "Misc"};

// The stored numbers of Movie\Format and Capture\Format.
enum class MovieFormat : int32_t { Avi = 0, Gif = 1 };
enum class FrameFormat : int32_t { Bmp = 0, Png = 1 };

enum class PrefsType {
    Number,     // REG_DWORD
    Text,       // REG_SZ stored with its terminating NUL
    TextNoNul,  // REG_SZ stored as its characters only
};

// One entry per value, in the order of kPrefsLayout.
enum class PrefsSetting : int {
    LastMovieRecorded, RecordMouseShape, FramesPerSecond, CaptureMode, CursorMode, VorluxMode,
    BitDepth, Left, Top, Width, Height, PanValue, KeyFrame, Lossless,
    EnableSoundCapture, BufferCount, Frequency, DataSize, Channels,
    StartKey, StopKey, PauseKey, CaptureKey,
    PathAutoIncrement, PathDirectory, PathFilename,
    CaptureAutoIncrement, CaptureDirectory,
    DefaultPosition,
    StatusIcon,
    HighlightClicks, CursorHalo,
    ShowKeys,
    MovieFormat, CaptureFormat,
    Count
};

// What a text read gives when the stored value cannot be used: missing, of another type, too
// long for a path buffer, or against the value's rule.
enum class PrefsFallback {
    Empty,    // empty text
    Default,  // the default of this table: a value that names where files go must never be empty
};

// What a stored text must also be to be used; a setter refuses text that is not.
enum class PrefsRule {
    Any,
    BareName,  // no path separator, so a file name cannot lead out of its directory
};

struct PrefsValue {
    PrefsSubKey subKey;
    const char* name;
    PrefsType type;
    uint32_t number;   // default of a Number
    const char* text;  // default of a Text or TextNoNul
    PrefsFallback fallback = PrefsFallback::Empty;
    PrefsRule rule = PrefsRule::Any;
};

// Hot keys: Ctrl+Shift (0x300) with F5 to F8 (0x74 to 0x77).
inline constexpr PrefsValue kPrefsLayout[] = {
    {PrefsSubKey::Movie, "LastMovieRecorded", PrefsType::Text, 0, ""},
    {PrefsSubKey::Movie, "RecordMouseShape", PrefsType::Number, 1, nullptr},
    {PrefsSubKey::Movie, "FramesPerSecond", PrefsType::Number, 10, nullptr},
    {PrefsSubKey::Movie, "CaptureMode", PrefsType::Number, 0, nullptr},
    {PrefsSubKey::Movie, "CursorMode", PrefsType::Number, 0, nullptr},
    {PrefsSubKey::Movie, "VorluxMode", PrefsType::Number, 0, nullptr},
    {PrefsSubKey::Movie, "BitDepth", PrefsType::Number, 8, nullptr},
    {PrefsSubKey::Movie, "Left", PrefsType::Number, 0, nullptr},
    {PrefsSubKey::Movie, "Top", PrefsType::Number, 0, nullptr},
    {PrefsSubKey::Movie, "Width", PrefsType::Number, 400, nullptr},
    {PrefsSubKey::Movie, "Height", PrefsType::Number, 300, nullptr},
    {PrefsSubKey::Movie, "PanValue", PrefsType::Number, 50, nullptr},
    {PrefsSubKey::Movie, "KeyFrame", PrefsType::Number, 10, nullptr},
    // 1 records losslessly (ZMBV); absent reads as off, as before the switch existed.
    {PrefsSubKey::Movie, "Lossless", PrefsType::Number, 0, nullptr},
    {PrefsSubKey::Sound, "EnableSoundCapture", PrefsType::Number, 0, nullptr},
    {PrefsSubKey::Sound, "BufferCount", PrefsType::Number, 0, nullptr},
    {PrefsSubKey::Sound, "Frequency", PrefsType::Number, 22050, nullptr},
    {PrefsSubKey::Sound, "DataSize", PrefsType::Number, 8, nullptr},
    {PrefsSubKey::Sound, "Channels", PrefsType::Number, 1, nullptr},
    {PrefsSubKey::Key, "StartKey", PrefsType::Number, 0x374, nullptr},
    {PrefsSubKey::Key, "StopKey", PrefsType::Number, 0x375, nullptr},
    {PrefsSubKey::Key, "PauseKey", PrefsType::Number, 0x376, nullptr},
    {PrefsSubKey::Key, "CaptureKey", PrefsType::Number, 0x377, nullptr},
    {PrefsSubKey::Path, "AutoIncrement", PrefsType::Number, 1, nullptr},
    {PrefsSubKey::Path, "Directory", PrefsType::TextNoNul, 0, "%c", PrefsFallback::Default},
    {PrefsSubKey::Path, "Filename", PrefsType::TextNoNul, 0, "VluxTake", PrefsFallback::Default,
     PrefsRule::BareName},
    {PrefsSubKey::Capture, "AutoIncrement", PrefsType::Number, 1, nullptr},
    {PrefsSubKey::Capture, "Directory", PrefsType::Text, 0, "%c", PrefsFallback::Default},
    {PrefsSubKey::Misc, "DefaultPosition", PrefsType::Number, 3, nullptr},
    {PrefsSubKey::Misc, "StatusIcon", PrefsType::Number, 1, nullptr},
    // Added in 3.0.2; a store made before has neither, which reads as off.
    {PrefsSubKey::Movie, "HighlightClicks", PrefsType::Number, 0, nullptr},
    {PrefsSubKey::Movie, "CursorHalo", PrefsType::Number, 0, nullptr},
    // Added later still; missing reads as off.
    {PrefsSubKey::Movie, "ShowKeys", PrefsType::Number, 0, nullptr},
    // The file formats: a movie as AVI (0) or animated GIF (1), a frame as BMP (0) or PNG (1).
    // A store without them, or with a number not listed, reads as AVI and BMP.
    {PrefsSubKey::Movie, "Format", PrefsType::Number, 0, nullptr},
    {PrefsSubKey::Capture, "Format", PrefsType::Number, 0, nullptr},
};
static_assert(std::size(kPrefsLayout) == static_cast<std::size_t>(PrefsSetting::Count));

constexpr const PrefsValue& PrefsLayoutOf(PrefsSetting setting)
{
    return kPrefsLayout[static_cast<std::size_t>(setting)];
}
