#pragma once
// The four global hot keys of the panel's window, each registered as Ctrl+Shift+its stored key
// with the ids 20 to 23. A key that keeps its combination stays registered; a key that another
// program (or another of these actions) holds is left unregistered and marked taken. UI thread.

#include <windows.h>

#include <string>

class Prefs;

class GlobalHotKeys {
public:
    static constexpr int kCount = 4;

    // Registers what the store holds now. True when a key is taken and should be reported.
    bool Register(HWND window, const Prefs& prefs);
    // Gives up every key this window holds: another program's key under the same combination
    // stays its own.
    void Unregister(HWND window);
    // The key of Hot Keys page row 0..3 could not be registered the last time.
    bool Taken(int row) const;
    // One line for each taken key, by name and action; empty when none is taken.
    std::string TakenText(HINSTANCE instance) const;

private:
    struct Slot {
        UINT vk = 0;              // the key registered or tried last
        bool registered = false;  // ours now: to be unregistered before it changes
        bool taken = false;       // the registration failed
        int sharedWith = -1;      // taken by this row of ours, or -1
    };
    Slot slots[kCount];
};
