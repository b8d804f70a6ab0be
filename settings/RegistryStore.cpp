#include "settings/RegistryStore.h"

#include <cstring>

RegistryStore::RegistryStore(const PrefsLocation& primary, const PrefsLocation& fallback)
{
    if (!OpenAt(primary))
        OpenAt(fallback);
}

// An existing root never gets its missing sub-keys back.
bool RegistryStore::OpenAt(const PrefsLocation& location)
{
    if (!location.hive)
        return false;
    HKEY opened = nullptr;
    DWORD disposition = REG_OPENED_EXISTING_KEY;
    if (::RegOpenKeyExA(location.hive, location.path.c_str(), 0, KEY_ALL_ACCESS, &opened) !=
        ERROR_SUCCESS) {
        opened = nullptr;
        if (::RegCreateKeyExA(location.hive, location.path.c_str(), 0, nullptr,
                              REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &opened,
                              &disposition) != ERROR_SUCCESS)
            return false;
    }
    root.reset(opened);
    hive = location.hive;
    path = location.path;
    created = disposition == REG_CREATED_NEW_KEY;
    if (created)
        return true;
    for (std::size_t i = 0; i < kPrefsSubKeyCount; ++i) {
        HKEY sub = nullptr;
        if (::RegOpenKeyExA(root.get(), kPrefsSubKeyNames[i], 0, KEY_ALL_ACCESS, &sub) ==
            ERROR_SUCCESS)
            subKeys[i].reset(sub);
    }
    return true;
}

bool RegistryStore::CreateSection(PrefsSubKey section)
{
    const auto index = static_cast<std::size_t>(section);
    if (!root)
        return false;
    HKEY sub = nullptr;
    if (::RegCreateKeyExA(root.get(), kPrefsSubKeyNames[index], 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_ALL_ACCESS, nullptr, &sub, nullptr) != ERROR_SUCCESS)
        return false;
    subKeys[index].reset(sub);
    return true;
}

// A value of another type or size counts as missing.
bool RegistryStore::ReadNumber(PrefsSubKey section, const char* name, uint32_t& value) const
{
    const HKEY key = KeyOf(section);
    if (!key)
        return false;
    DWORD type = REG_NONE;
    DWORD data = 0;
    DWORD size = sizeof data;
    if (::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof data)
        return false;
    value = data;
    return true;
}

// Text stored without a NUL is terminated here; text that leaves no room for the NUL is
// unusable.
bool RegistryStore::ReadText(PrefsSubKey section, const char* name, char (&text)[kPrefsPathSize]) const
{
    text[0] = '\0';
    const HKEY key = KeyOf(section);
    if (!key)
        return false;
    DWORD type = REG_NONE;
    DWORD length = sizeof text;
    if (::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &length) != ERROR_SUCCESS ||
        type != REG_SZ || length > sizeof text) {
        text[0] = '\0';
        return false;
    }
    if (length == 0 || text[length - 1] != '\0') {
        if (length == sizeof text) {
            text[0] = '\0';
            return false;
        }
        text[length] = '\0';
    }
    return true;
}

void RegistryStore::WriteNumber(PrefsSubKey section, const char* name, uint32_t value)
{
    if (const HKEY key = KeyOf(section)) {
        const DWORD data = value;
        ::RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
    }
}

void RegistryStore::WriteText(PrefsSubKey section, const char* name, const char* text, bool withNul)
{
    if (const HKEY key = KeyOf(section)) {
        const DWORD bytes = static_cast<DWORD>(std::strlen(text) + (withNul ? 1 : 0));
        ::RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes);
    }
}

std::string RegistryStore::Where() const
{
    if (hive == HKEY_LOCAL_MACHINE)
        return "HKEY_LOCAL_MACHINE\\" + path;
    if (hive == HKEY_CURRENT_USER)
        return "HKEY_CURRENT_USER\\" + path;
    return hive ? path : std::string();
}
