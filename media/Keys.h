#pragma once
// Keys on their way from the keyboard hook into the frames: the hand-over buffer, and the plates
// a frame shows, chosen from the key events by the ShowKeys mode. Portable: the hook supplies the
// events and the keyboard layout their names and characters, through KeyLayout.
//
// Privacy: a plate's text lives only while the plate is on screen, and is wiped when it goes.
// Events made in a password box or while the recording is paused arrive marked hidden and only
// keep track of which keys are down.

#include "media/EventRing.h"

#include <cstddef>
#include <cstdint>

namespace key_plates {
inline constexpr uint32_t kHoldMs = 1200;   // a plate stays this long after its key is released
inline constexpr uint32_t kFadeMs = 300;    // ... and then fades out over this long
inline constexpr size_t kMaxPlates = 3;     // on screen at once; a new one pushes the oldest out
inline constexpr size_t kMaxText = 40;      // UTF-16 units of a plate's text
inline constexpr size_t kMaxTyped = 24;     // a typed run shows its last this many characters
inline constexpr size_t kMaxName = 24;      // a key's name, as the layout gives it
}  // namespace key_plates

// The stored Movie\ShowKeys values.
enum class ShowKeys : int32_t { Off = 0, Shortcuts = 1, EveryKey = 2 };
// Anything but 1 or 2 (absent reads as -1) is off.
ShowKeys ShowKeysFrom(int32_t stored);

// One key event as the low-level keyboard hook sees it.
struct KeyStroke {
    uint32_t time = 0;     // animation clock, milliseconds
    uint16_t vk = 0;       // virtual-key code, left and right modifiers apart
    uint16_t scan = 0;
    bool extended = false;
    bool down = true;
    bool capsLock = false;  // Caps Lock was on
    bool hidden = false;    // in a password box, or while paused: never shown
};

// Key events waiting for the next frame, from the keyboard hook to the capture thread.
using KeyRing = EventRing<KeyStroke, 64>;

// What the plates need from the keyboard layout in use.
class KeyLayout {
public:
    virtual ~KeyLayout() = default;
    // The key's name ("T", "Enter", "ß") into `out`, at most `max` units and no terminator;
    // returns how many units were written.
    virtual size_t Name(const KeyStroke& key, char16_t* out, size_t max) const = 0;
    // The character the key types with Shift and/or AltGr held; 0 when it types none.
    virtual char16_t Character(const KeyStroke& key, bool shift, bool altGr) const = 0;
};

struct KeyPlate {
    char16_t text[key_plates::kMaxText] = {};
    size_t length = 0;
    uint32_t version = 0;      // new whenever the text changes
    uint16_t vk = 0;           // the key whose release starts the countdown
    bool typing = false;       // a run of typed characters, which may grow
    bool held = true;          // its key is still down
    uint32_t releasedAt = 0;   // animation clock, when `held` went false
};

// The plates on screen, from the key events of a recording. Capture thread only.
class KeyPlates {
public:
    // Starts a recording's plates: the mode and the program's own hot keys (stored codes, the
    // key in the low byte; the program registers them with Ctrl+Shift), which are never shown.
    void Reset(ShowKeys mode, const int32_t* hotKeys, size_t hotKeyCount);
    void Add(const KeyStroke& stroke, const KeyLayout& layout);
    // Forgets the plates that have faded out by `now`; returns how many remain.
    size_t Frame(uint32_t now);
    size_t Count() const { return count; }
    const KeyPlate& Plate(size_t i) const { return plates[i]; }  // oldest first
    // 255 while the key is down and for kHoldMs after, then down to 0 over kFadeMs.
    static uint8_t Opacity(const KeyPlate& plate, uint32_t now);

private:
    bool Held(uint16_t vk) const { return (down[vk >> 3] >> (vk & 7) & 1) != 0; }
    void SetHeld(uint16_t vk, bool on);
    bool Modifier(uint16_t vk) const;
    bool OwnHotKey(uint16_t vk) const;
    KeyPlate& NewPlate(const KeyStroke& stroke, bool typing);
    void AppendTyped(KeyPlate& plate, char16_t c);
    void Remove(size_t i);
    void Release(const KeyStroke& stroke);

    ShowKeys mode = ShowKeys::Off;
    uint8_t hotKeys[4] = {};
    uint8_t down[32] = {};     // one bit per virtual key: held now
    bool runOpen = false;      // the newest plate is a typed run that the next character joins
    uint32_t nextVersion = 1;
    KeyPlate plates[key_plates::kMaxPlates];
    size_t count = 0;
};
