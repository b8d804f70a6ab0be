#include "panel/HotKey.h"

#include "ids/resource.h"

#include <cstdio>

namespace {
constexpr int32_t kVirtualKeyMask = 0xFF;
// Codes from here on are the left/right variants of the modifiers and OEM keys; they are never
// named.
constexpr UINT kFirstUnnamedKey = 0xA0;
constexpr LPARAM kKeyNameDontCare = 0x200;  // bit 25 of the key-message parameter, shifted down
constexpr int kKeyNameLength = 32;

// Alt, Shift or Ctrl alone, and any combination with Alt, become Ctrl+Shift.
constexpr int kForbiddenCombinations = HKCOMB_S | HKCOMB_C | HKCOMB_A | HKCOMB_SA | HKCOMB_CA | HKCOMB_SCA;
constexpr int kReplacementModifiers = HOTKEYF_SHIFT | HOTKEYF_CONTROL;
static_assert(kForbiddenCombinations == 0xEE);
}  // namespace

std::string FormatHotKey(int32_t code)
{
    std::string text;
    if (code & (HOTKEYF_CONTROL << 8))
        text += "CTRL+";
    if (code & (HOTKEYF_SHIFT << 8))
        text += "SHIFT+";
    if (code & (HOTKEYF_ALT << 8))
        text += "ALT+";

    UINT vk = static_cast<UINT>(code & kVirtualKeyMask);
    if (vk == 0 || vk >= kFirstUnnamedKey)
        return text + "None!";

    UINT scan = ::MapVirtualKeyA(vk, MAPVK_VK_TO_VSC);
    UINT back = ::MapVirtualKeyA(scan, MAPVK_VSC_TO_VK);
    char name[kKeyNameLength + 1] = {};
    int length = 0;
    if (back != 0 && back < kFirstUnnamedKey)
        length = ::GetKeyNameTextA(static_cast<LONG>((static_cast<LPARAM>(scan) | kKeyNameDontCare) << 16), name,
                                   sizeof name);
    if (length <= 0)
        std::snprintf(name, sizeof name, "%#04x ?", vk);
    return text + name;
}

HotKeyDialog::HotKeyDialog(HotKeyBlock& block, HINSTANCE instance)
    : TDialog(block.owner, IDD_HOTKEY_EDIT, instance), block(block)
{
}

bool HotKeyDialog::SetupWindow()
{
    ::SetWindowTextA(Handle(), block.title.c_str());
    control.Attach(Handle(), IDC_HOTKEY_CONTROL);
    control.SetRules(kForbiddenCombinations, kReplacementModifiers);
    control.SetCode(block.key);
    return true;
}

bool HotKeyDialog::OnCommand(int id, int code, HWND)
{
    if (code != BN_CLICKED)
        return false;
    switch (id) {
    case IDOK:
        OnClickOk();
        return true;
    case IDC_HOTKEY_DEFAULT:
        CloseWindow(kHotKeyDefault);
        return true;
    case IDCANCEL:
        CloseWindow(kHotKeyUnchanged);
        return true;
    }
    return false;
}

void HotKeyDialog::OnClickOk()
{
    int32_t chosen = control.Code();
    if (chosen == block.key) {
        CloseWindow(kHotKeyUnchanged);
        return;
    }
    block.key = chosen;
    CloseWindow(kHotKeyChosen);
}
