#pragma once
// Hot-key codes as the platform's hot-key control gives them: the virtual key in the low byte,
// HOTKEYF_SHIFT (0x100), HOTKEYF_CONTROL (0x200) and HOTKEYF_ALT (0x400) in the next. The
// panel registers every key as Ctrl+Shift+its virtual key, whatever the modifier bits say.
// UI thread.

#include "framework/TControls.h"
#include "framework/TDialog.h"

#include <cstdint>
#include <string>

// The modal dialog's answers.
inline constexpr INT_PTR kHotKeyChosen = 1;      // a new code is in the block
inline constexpr INT_PTR kHotKeyDefault = 0;     // put the key back to its default
inline constexpr INT_PTR kHotKeyUnchanged = -1;  // Cancel, OK without a change, or no dialog

// The readable name of a code, such as "CTRL+SHIFT+F6": modifiers in the fixed order CTRL,
// SHIFT, ALT, then the key's name from the keyboard layout, "None!" for no key, or the code
// as "0x5b ?" when the layout has no name for it. At most 255 characters.
std::string FormatHotKey(int32_t code);

// The name of the combination the panel registers for a code, as a user reads it in a
// message: "Ctrl+Shift+" and the key's name, such as "Ctrl+Shift+F5".
std::string RegisteredHotKeyName(int32_t code);

// What the page hands the dialog and gets back from it.
struct HotKeyBlock {
    std::string title;
    int32_t key = 0;          // in: the current code; out: the new code after kHotKeyChosen
    HWND owner = nullptr;     // not owned
};

// A key is typed into the platform's hot-key control, which accepts it with no modifier or
// with Ctrl+Shift and turns every other combination into Ctrl+Shift.
class HotKeyDialog : public TDialog {
public:
    HotKeyDialog(HotKeyBlock& block, HINSTANCE instance);

protected:
    bool SetupWindow() override;
    bool OnCommand(int id, int code, HWND control) override;

private:
    void OnClickOk();

    HotKeyBlock& block;
    THotKey control;
};
