#pragma once
// The settings store: every persistent setting lives in the registry, or in a file beside the
// program when one is there (PrefsStore), and is read afresh on each call, so a value stored by
// one page is seen at once by every other part.
// UI thread only: the pages, the settings panel and start-up call it; there is no lock.

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "framework/Scoped.h"
#include "common/VRecords.h"
#include "settings/PrefsLayout.h"
#include "settings/PrefsStore.h"
#include "settings/RegistryStore.h"

// The fixed version text the program's store is opened with.
inline constexpr char kPrefsVersion[] = "3.02";

// The directory token of the user's Videos folder (Documents when there is none), which an
// installed copy's new store gets as its movie directory.
inline constexpr char kPrefsVideosToken[] = "%v";
// The value below SOFTWARE\Quorvane\Vorlux (machine or user) in which the setup program leaves
// the movie directory a new store starts with.
inline constexpr char kPrefsInstallerDirectory[] = "MovieDirectory";

class Prefs {
public:
    // The process-wide store, opened with kPrefsVersion on first use and closed at exit, in
    // the place ForProgram chooses for the running executable's directory.
    static Prefs& Global();
    // The file kPrefsIniName in `programDirectory` when it exists (a portable copy, movies
    // beside the program by default); else the registry at the two locations, a new store
    // taking its movie directory from the setup program's choice at the locations' parent key.
    static std::unique_ptr<Prefs> ForProgram(const std::string& programDirectory, const PrefsLocation& primary,
                                             const PrefsLocation& fallback);

    // SOFTWARE\Quorvane\Vorlux\<version> below HKEY_LOCAL_MACHINE, or below HKEY_CURRENT_USER
    // when the machine-wide key can be neither opened nor created (a standard user).
    explicit Prefs(const char* version);
    // The same rules at chosen locations: primary first, then fallback. Tests use this to give
    // each case a tree of its own.
    Prefs(PrefsLocation primary, PrefsLocation fallback);
    // A store of the caller's choosing; `directoryDefault` replaces the layout's default
    // movie directory, for a new store and for an unusable stored value.
    Prefs(std::unique_ptr<PrefsStore> store, std::string directoryDefault);
    ~Prefs();
    Prefs(const Prefs&) = delete;
    Prefs& operator=(const Prefs&) = delete;

    // The hive the store ended up in; null when neither location could be opened or created.
    HKEY Hive() const { return hive; }
    // Where the settings are, for people: a registry key or a file's path.
    std::string Where() const { return store->Where(); }
    // Called with each value's name just before it is written; lets tests see write order.
    void SetWriteObserver(std::function<void(const char* name)> observer)
    {
        writeObserver = std::move(observer);
    }

    // Movie. Missing numbers read as -1.
    int32_t GetFramesPerSecond() const;
    void SetFramesPerSecond(int32_t fps);
    int32_t GetRecordMouseShape() const;
    int32_t GetCaptureMode() const;
    void SetCaptureMode(int32_t mode);
    int32_t GetCursorMode() const;  // -1 when missing, else 0 or 1
    void SetCursorMode(int32_t mode);
    int32_t GetVorluxMode() const;  // -1 when missing, else 0 or 1
    void SetVorluxMode(int32_t mode);
    VRect GetCaptureArea() const;  // the empty rectangle when any of its values is missing
    void SetCaptureArea(const VRect& area);
    // The area a new store is created with, from the layout's defaults.
    static VRect DefaultCaptureArea();
    int32_t GetPanValue() const;
    void SetPanValue(int32_t percent);
    int32_t GetKeyFrame() const;
    void SetKeyFrame(int32_t every);
    bool GetLossless() const;  // false when missing
    void SetLossless(bool on);
    // Click rings and the cursor halo drawn into the movie; missing reads as off.
    bool GetHighlightClicks() const;
    void SetHighlightClicks(bool on);
    bool GetCursorHalo() const;
    void SetCursorHalo(bool on);
    // Keys drawn into the movie: 0 off, 1 shortcuts only, 2 every key. Missing, of another type
    // or out of range reads as 0; a value out of range is stored as 0.
    int32_t GetShowKeys() const;
    void SetShowKeys(int32_t mode);
    // The movie's and the single frame's file format; missing or unknown reads as AVI and BMP.
    MovieFormat GetMovieFormat() const;
    void SetMovieFormat(MovieFormat format);
    FrameFormat GetFrameFormat() const;
    void SetFrameFormat(FrameFormat format);

    // Hot keys: virtual-key code in the low byte, modifiers in the next. Missing reads as 0.
    int32_t GetStartKey() const;
    void SetStartKey(int32_t key);
    int32_t GetStopKey() const;
    void SetStopKey(int32_t key);
    int32_t GetPauseKey() const;
    void SetPauseKey(int32_t key);
    int32_t GetCaptureKey() const;
    void SetCaptureKey(int32_t key);

    // Movie destination. Text getters fill a caller's buffer of `size` bytes (normally
    // kPrefsPathSize), always NUL-terminated, with the whole text or empty text when it does
    // not fit. A stored value that is missing, of another type, of kPrefsPathSize characters or
    // more, or against its rule reads as the layout's fallback: the default for the directory
    // and the base name, so a movie never goes anywhere but where the store says. Reading a
    // fallback writes nothing. Text setters refuse text of kPrefsPathSize characters or more,
    // and a base name with a path separator, and keep the stored value.
    bool GetAutoIncrement() const;  // false when missing
    void SetAutoIncrement(bool on);
    void GetDirectory(char* buffer, std::size_t size) const;
    void SetDirectory(const char* directory);
    void GetFilename(char* buffer, std::size_t size) const;
    void SetFilename(const char* baseName);
    // The stored directory with "%c", "%w", "%s" and "%v" resolved to the program, Windows,
    // system and Videos directory.
    void GetMovieDirectory(char* buffer, std::size_t size) const;
    // The next output file name without its directory ("VluxTake000.avi"), with the extension
    // of the chosen format (.avi or .gif, .bmp or .png); empty text when the directory and
    // name do not fit in a path.
    void GetNextMovieName(char* buffer, std::size_t size) const;
    void GetNextSnapshotName(char* buffer, std::size_t size) const;

    // Sound. Missing numbers read as -1, a missing switch as false.
    bool GetEnableSoundCapture() const;
    void SetEnableSoundCapture(bool on);
    int32_t GetBufferCount() const;
    void SetBufferCount(int32_t count);
    int32_t GetFrequency() const;
    void SetFrequency(int32_t samplesPerSecond);
    int32_t GetDataSize() const;
    void SetDataSize(int32_t bitsPerSample);
    int32_t GetChannels() const;
    void SetChannels(int32_t channels);

    // The notification-area icon; a missing value reads as on, as it was before the setting.
    bool GetStatusIcon() const;
    void SetStatusIcon(bool on);

    // Full path of the movie the last start configured.
    void GetLastMovieRecorded(char* buffer, std::size_t size) const;
    void SetLastMovieRecorded(const char* path);

    // Any text value of the layout by its entry, with the same rules as the named getters;
    // empty text for a number.
    void GetText(PrefsSetting setting, char* buffer, std::size_t size) const;

    // Directory of the running executable without a trailing backslash; kept in memory only.
    // Text longer than kPrefsPathSize - 1 characters is refused and leaves it empty.
    void SetProgramDirectory(const char* directory);
    const char* GetProgramDirectory() const { return programDirectory; }

private:
    void CreateDefaults();
    const char* DefaultText(PrefsSetting setting) const;
    bool ReadNumber(PrefsSetting setting, int32_t& value) const;
    int32_t ReadNumberOr(PrefsSetting setting, int32_t failure) const;
    void WriteNumber(PrefsSetting setting, int32_t value);
    bool ReadStoredText(PrefsSetting setting, char (&text)[kPrefsPathSize]) const;
    void WriteText(PrefsSetting setting, const char* text);
    void NextName(const char* extension, char* buffer, std::size_t size) const;

    std::unique_ptr<PrefsStore> store;
    HKEY hive = nullptr;  // not owned
    std::string directoryDefault;
    char programDirectory[kPrefsPathSize] = {};
    std::function<void(const char* name)> writeObserver;
};
