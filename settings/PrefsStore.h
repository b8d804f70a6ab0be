#pragma once
// Where the settings live, behind one interface: a tree of sections (the registry's sub-keys)
// holding DWORD and text values by name. The store writes each change through at once; the
// naming and default rules stay with Prefs. UI thread only.

#include <cstddef>
#include <cstdint>
#include <string>

#include "settings/PrefsLayout.h"

// Size of every text buffer the store fills: directories, base names and movie paths hold at
// most kPrefsPathSize - 1 characters.
inline constexpr std::size_t kPrefsPathSize = 260;

class PrefsStore {
public:
    virtual ~PrefsStore() = default;

    // True when the tree was made just now, so its defaults are still to be written.
    virtual bool Created() const = 0;
    // Makes a section of a new tree; false when it cannot be made (its values then fail).
    virtual bool CreateSection(PrefsSubKey section) = 0;
    // A missing value, a missing section or a value of another type reads as false.
    virtual bool ReadNumber(PrefsSubKey section, const char* name, uint32_t& value) const = 0;
    // The whole text, NUL-terminated; false when missing, of another type or too long for the
    // buffer (text is then empty).
    virtual bool ReadText(PrefsSubKey section, const char* name, char (&text)[kPrefsPathSize]) const = 0;
    // Writes into an existing section only; a missing one stays missing.
    virtual void WriteNumber(PrefsSubKey section, const char* name, uint32_t value) = 0;
    // `withNul` keeps the registry's two forms of a string value apart.
    virtual void WriteText(PrefsSubKey section, const char* name, const char* text, bool withNul) = 0;
    // Where the settings are, for people: a registry key or a file's path.
    virtual std::string Where() const = 0;
};
