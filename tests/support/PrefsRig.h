#pragma once
// A settings store of a test's own: a tree under HKEY_CURRENT_USER, emptied first.

#include "settings/Prefs.h"

#include <memory>

inline std::unique_ptr<Prefs> FreshPrefs(const char* tree)
{
    ::RegDeleteTreeA(HKEY_CURRENT_USER, tree);
    const PrefsLocation here{HKEY_CURRENT_USER, tree};
    return std::make_unique<Prefs>(here, here);
}
