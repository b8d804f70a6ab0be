#pragma once
// The settings in the registry: a root key with one sub-key per section.

#include <windows.h>

#include "framework/Scoped.h"
#include "settings/PrefsStore.h"

// Where a store's tree lives: a hive (predefined or opened by the caller) and the path below it.
struct PrefsLocation {
    HKEY hive = nullptr;  // not owned
    std::string path;
};

class RegistryStore : public PrefsStore {
public:
    // Opens the root at the primary location, or creates it there; failing both, the same at
    // the fallback. Open sub-keys are opened; a created root has none yet.
    RegistryStore(const PrefsLocation& primary, const PrefsLocation& fallback);

    // The hive the store ended up in; null when neither location could be opened or created.
    HKEY Hive() const { return hive; }

    bool Created() const override { return created; }
    bool CreateSection(PrefsSubKey section) override;
    bool ReadNumber(PrefsSubKey section, const char* name, uint32_t& value) const override;
    bool ReadText(PrefsSubKey section, const char* name, char (&text)[kPrefsPathSize]) const override;
    void WriteNumber(PrefsSubKey section, const char* name, uint32_t value) override;
    void WriteText(PrefsSubKey section, const char* name, const char* text, bool withNul) override;
    std::string Where() const override;

private:
    bool OpenAt(const PrefsLocation& location);
    HKEY KeyOf(PrefsSubKey section) const { return subKeys[static_cast<std::size_t>(section)].get(); }

    HKEY hive = nullptr;  // not owned
    std::string path;
    bool created = false;
    ScopedRegKey root;
    ScopedRegKey subKeys[kPrefsSubKeyCount];
};
