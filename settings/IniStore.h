#pragma once
// The settings in a text file beside the program, for a copy that travels on a stick: one
// section per registry sub-key, holding the same value names and types, as
//   [Movie]
//   FramesPerSecond=dword:0000000a
//   LastMovieRecorded="C:\Movies\VluxTake000.avi"
// Names compare without case, as in the registry. A line that is none of a section, a value or
// a comment (";") is kept as it is and read as nothing. Every write rewrites the file at once
// through a temporary file, so an interrupted write leaves the old file whole.

#include <string>
#include <vector>

#include "settings/PrefsStore.h"

// The file's name; its presence beside the program chooses this store.
inline constexpr char kPrefsIniName[] = "vorlux-settings.ini";
// A bigger file is not a settings file: it reads as empty and is never written.
inline constexpr std::size_t kPrefsIniMaxBytes = 1 << 20;

class IniStore : public PrefsStore {
public:
    // A file with no section at all (the portable copy ships an empty one) is a new tree.
    explicit IniStore(std::string path);

    bool Created() const override { return created; }
    bool CreateSection(PrefsSubKey section) override;
    bool ReadNumber(PrefsSubKey section, const char* name, uint32_t& value) const override;
    bool ReadText(PrefsSubKey section, const char* name, char (&text)[kPrefsPathSize]) const override;
    void WriteNumber(PrefsSubKey section, const char* name, uint32_t value) override;
    void WriteText(PrefsSubKey section, const char* name, const char* text, bool withNul) override;
    std::string Where() const override { return path; }

private:
    using Lines = std::vector<std::string>;
    // The file's lines, read afresh so that another copy's writes are seen; false when the
    // file cannot be read or is too big.
    bool Load(Lines& lines) const;
    bool Save(const Lines& lines) const;
    // The raw text after "name=" in the section, when there.
    bool Find(PrefsSubKey section, const char* name, std::string& raw) const;
    void Write(PrefsSubKey section, const char* name, const std::string& raw);

    std::string path;
    bool created = false;
};
