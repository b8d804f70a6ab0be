#include "panel/GlobalHotKeys.h"

#include "diag/DebugTrace.h"
#include "framework/ResourceText.h"
#include "ids/Messages.h"
#include "ids/resource.h"
#include "panel/HotKey.h"
#include "panel/Wording.h"
#include "settings/Prefs.h"

bool GlobalHotKeys::Register(HWND window, const Prefs& prefs)
{
    const int32_t stored[] = {prefs.GetStartKey(), prefs.GetStopKey(), prefs.GetPauseKey(), prefs.GetCaptureKey()};
    UINT wanted[kCount];
    for (int i = 0; i < kCount; ++i)
        wanted[i] = static_cast<UINT>(stored[i]) & 0xFF;
    // A changed key gives up its old combination first (rather than keeping it beside the new
    // one), so that a combination passed from one action to another is taken up in this pass.
    for (int i = 0; i < kCount; ++i) {
        if (slots[i].registered && slots[i].vk != wanted[i]) {
            ::UnregisterHotKey(window, kHotKeyStart + i);
            slots[i].registered = false;
        }
    }
    bool anyTaken = false;
    for (int i = 0; i < kCount; ++i) {
        Slot& slot = slots[i];
        // A key that works keeps working; one that failed is tried again.
        if (slot.registered)
            continue;
        slot = Slot{wanted[i], false, false, -1};
        if (slot.vk == 0)
            continue;  // no key chosen: nothing to register, nothing taken
        for (int other = 0; other < kCount; ++other) {
            if (other != i && slots[other].registered && slots[other].vk == slot.vk)
                slot.sharedWith = other;
        }
        if (slot.sharedWith < 0) {
            const BOOL ok = ::RegisterHotKey(window, kHotKeyStart + i, MOD_CONTROL | MOD_SHIFT, slot.vk);
            DebugTrace("Hotkey (%d)registered with %#04x", ok, slot.vk);
            slot.registered = ok != FALSE;
        }
        slot.taken = !slot.registered;
        anyTaken = anyTaken || slot.taken;
    }
    return anyTaken;
}

void GlobalHotKeys::Unregister(HWND window)
{
    for (int i = 0; i < kCount; ++i) {
        if (!slots[i].registered)
            continue;
        const BOOL ok = ::UnregisterHotKey(window, kHotKeyStart + i);
        DebugTrace("Hotkey (%d)unregistered", ok);
        slots[i] = Slot{};
    }
}

bool GlobalHotKeys::Taken(int row) const
{
    return row >= 0 && row < kCount && slots[row].taken;
}

std::string GlobalHotKeys::TakenText(HINSTANCE instance) const
{
    std::string text;
    for (int i = 0; i < kCount; ++i) {
        if (!slots[i].taken)
            continue;
        if (!text.empty())
            text += "\n";
        const std::string key = RegisteredHotKeyName(static_cast<int32_t>(slots[i].vk));
        const std::string action = LoadText(instance, IDS_ACTION_FIRST + i);
        const int other = slots[i].sharedWith;
        text += other >= 0 ? FillIn(LoadText(instance, IDS_HOTKEY_SHARED),
                                    {key, action, LoadText(instance, IDS_ACTION_FIRST + other)})
                           : FillIn(LoadText(instance, IDS_HOTKEY_TAKEN), {key, action});
    }
    return text;
}
