#include "media/Keys.h"

#include <algorithm>
#include <cstring>

using namespace key_plates;

namespace {

// Virtual-key codes (the platform's VK_ values), spelled out so that this file stays portable.
enum : uint16_t {
    kVkBack = 0x08, kVkTab = 0x09, kVkReturn = 0x0D, kVkShift = 0x10, kVkControl = 0x11, kVkMenu = 0x12,
    kVkEscape = 0x1B, kVkPrior = 0x21, kVkDown = 0x28, kVkSnapshot = 0x2C, kVkInsert = 0x2D, kVkDelete = 0x2E,
    kVkLWin = 0x5B, kVkRWin = 0x5C, kVkF1 = 0x70, kVkF24 = 0x87, kVkLShift = 0xA0, kVkRShift = 0xA1,
    kVkLControl = 0xA2, kVkRControl = 0xA3, kVkLMenu = 0xA4, kVkRMenu = 0xA5,
};

// Keys that are commands on their own: shown in both modes without a modifier.
bool CommandKey(uint16_t vk)
{
    switch (vk) {
    case kVkEscape:
    case kVkReturn:
    case kVkTab:
    case kVkBack:
    case kVkDelete:
    case kVkInsert:
    case kVkSnapshot:
        return true;
    }
    return (vk >= kVkPrior && vk <= kVkDown) || (vk >= kVkF1 && vk <= kVkF24);  // paging, Home/End, arrows
}

// Appends ASCII or UTF-16 text, cut at the plate's room.
void Append(KeyPlate& plate, const char* ascii)
{
    for (; *ascii && plate.length < kMaxText; ++ascii)
        plate.text[plate.length++] = char16_t(*ascii);
}

void Append(KeyPlate& plate, const char16_t* text, size_t n)
{
    for (size_t i = 0; i < n && plate.length < kMaxText; ++i)
        plate.text[plate.length++] = text[i];
}

bool Printable(char16_t c)
{
    return c >= 0x20 && c != 0x7F;
}

}  // namespace

ShowKeys ShowKeysFrom(int32_t stored)
{
    switch (stored) {
    case 1:
        return ShowKeys::Shortcuts;
    case 2:
        return ShowKeys::EveryKey;
    }
    return ShowKeys::Off;
}

// ---- KeyPlates ------------------------------------------------------------------------------

void KeyPlates::Reset(ShowKeys showMode, const int32_t* ownKeys, size_t ownKeyCount)
{
    while (count > 0)
        Remove(0);
    mode = showMode;
    std::memset(hotKeys, 0, sizeof hotKeys);
    for (size_t i = 0; ownKeys && i < std::min(ownKeyCount, std::size(hotKeys)); ++i)
        hotKeys[i] = uint8_t(ownKeys[i] & 0xFF);
    std::memset(down, 0, sizeof down);
    runOpen = false;
}

void KeyPlates::SetHeld(uint16_t vk, bool on)
{
    if (on)
        down[vk >> 3] = uint8_t(down[vk >> 3] | 1 << (vk & 7));
    else
        down[vk >> 3] = uint8_t(down[vk >> 3] & ~(1 << (vk & 7)));
}

bool KeyPlates::Modifier(uint16_t vk) const
{
    switch (vk) {
    case kVkShift:
    case kVkControl:
    case kVkMenu:
    case kVkLShift:
    case kVkRShift:
    case kVkLControl:
    case kVkRControl:
    case kVkLMenu:
    case kVkRMenu:
    case kVkLWin:
    case kVkRWin:
        return true;
    }
    return false;
}

bool KeyPlates::OwnHotKey(uint16_t vk) const
{
    const bool ctrl = Held(kVkControl) || Held(kVkLControl) || Held(kVkRControl);
    const bool shift = Held(kVkShift) || Held(kVkLShift) || Held(kVkRShift);
    const bool alt = Held(kVkMenu) || Held(kVkLMenu) || Held(kVkRMenu);
    if (!ctrl || !shift || alt)
        return false;
    return std::find(std::begin(hotKeys), std::end(hotKeys), uint8_t(vk)) != std::end(hotKeys) && vk != 0;
}

void KeyPlates::Remove(size_t i)
{
    for (size_t j = i + 1; j < count; ++j)
        plates[j - 1] = plates[j];
    --count;
    plates[count] = KeyPlate{};  // nothing typed stays behind
}

KeyPlate& KeyPlates::NewPlate(const KeyStroke& stroke, bool typing)
{
    if (count == kMaxPlates)
        Remove(0);
    KeyPlate& plate = plates[count++];
    plate = KeyPlate{};
    plate.vk = stroke.vk;
    plate.typing = typing;
    plate.version = nextVersion++;
    return plate;
}

void KeyPlates::AppendTyped(KeyPlate& plate, char16_t c)
{
    if (plate.length >= kMaxTyped) {
        std::memmove(plate.text, plate.text + 1, (plate.length - 1) * sizeof plate.text[0]);
        --plate.length;
    }
    plate.text[plate.length++] = c;
    plate.version = nextVersion++;
}

void KeyPlates::Release(const KeyStroke& stroke)
{
    for (size_t i = 0; i < count; ++i) {
        if (plates[i].held && plates[i].vk == stroke.vk) {
            plates[i].held = false;
            plates[i].releasedAt = stroke.time;
        }
    }
}

void KeyPlates::Add(const KeyStroke& stroke, const KeyLayout& layout)
{
    const uint16_t vk = uint16_t(stroke.vk & 0xFF);
    if (!stroke.down) {
        SetHeld(vk, false);
        Release(stroke);
        return;
    }
    // Auto-repeat: the plate of the held key stays up, and nothing new appears.
    const bool repeat = Held(vk);
    SetHeld(vk, true);
    if (repeat || Modifier(vk) || mode == ShowKeys::Off)
        return;
    if (stroke.hidden || OwnHotKey(vk)) {
        runOpen = false;
        return;
    }

    const bool ctrl = Held(kVkControl) || Held(kVkLControl) || Held(kVkRControl);
    const bool alt = Held(kVkMenu) || Held(kVkLMenu) || Held(kVkRMenu);
    const bool shift = Held(kVkShift) || Held(kVkLShift) || Held(kVkRShift);
    const bool win = Held(kVkLWin) || Held(kVkRWin);

    // AltGr arrives as Ctrl+Alt: what it types is typing, not a shortcut.
    char16_t typed = 0;
    if (!win && ctrl == alt && !CommandKey(vk))
        typed = layout.Character(stroke, shift, ctrl && alt);
    if (Printable(typed)) {
        if (mode != ShowKeys::EveryKey)
            return;
        KeyPlate* open = runOpen && count > 0 ? &plates[count - 1] : nullptr;
        if (open && !open->held && int32_t(stroke.time - open->releasedAt) >= int32_t(kHoldMs))
            open = nullptr;  // the run has begun to fade: the next character starts anew
        KeyPlate& plate = open ? *open : NewPlate(stroke, true);
        AppendTyped(plate, typed);
        plate.vk = vk;
        plate.held = true;
        runOpen = true;
        return;
    }

    runOpen = false;
    const bool shortcut = ctrl || alt || win;
    if (!shortcut && !CommandKey(vk) && mode != ShowKeys::EveryKey)
        return;
    KeyPlate& plate = NewPlate(stroke, false);
    if (ctrl)
        Append(plate, "Ctrl + ");
    if (alt)
        Append(plate, "Alt + ");
    if (shift)
        Append(plate, "Shift + ");
    if (win)
        Append(plate, "Win + ");
    char16_t name[kMaxName];
    const size_t n = std::min(layout.Name(stroke, name, kMaxName), kMaxName);
    Append(plate, name, n);
}

size_t KeyPlates::Frame(uint32_t now)
{
    for (size_t i = 0; i < count;) {
        if (Opacity(plates[i], now) == 0) {
            if (runOpen && i == count - 1)
                runOpen = false;
            Remove(i);
        } else {
            ++i;
        }
    }
    return count;
}

uint8_t KeyPlates::Opacity(const KeyPlate& plate, uint32_t now)
{
    if (plate.held)
        return 255;
    // Times wrap like the system clock; differences are signed.
    const int32_t age = int32_t(now - plate.releasedAt);
    if (age < int32_t(kHoldMs))
        return 255;
    const int32_t left = int32_t(kHoldMs + kFadeMs) - age;
    if (left <= 0)
        return 0;
    return uint8_t((255 * left + int32_t(kFadeMs) - 1) / int32_t(kFadeMs));
}
