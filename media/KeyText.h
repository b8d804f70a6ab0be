#pragma once
// The platform's side of the key plates: key names and typed characters from the keyboard layout
// in use, and plate texts rendered by GDI into the coverage masks the plates are drawn with.

#include "framework/Scoped.h"
#include "media/KeyOverlay.h"
#include "media/Keys.h"

#include <windows.h>

#include <cstdint>
#include <vector>

// Names and characters from the layout of the foreground window's thread. Capture thread.
class SystemKeyLayout : public KeyLayout {
public:
    // Takes the layout in use now; called before each batch of events.
    void Refresh();
    size_t Name(const KeyStroke& key, char16_t* out, size_t max) const override;
    char16_t Character(const KeyStroke& key, bool shift, bool altGr) const override;

private:
    HKL layout = nullptr;  // not owned
};

// The masks of the plates on screen, each rendered once when its text changes. Capture thread.
class PlateTexts {
public:
    PlateTexts() = default;
    PlateTexts(const PlateTexts&) = delete;
    PlateTexts& operator=(const PlateTexts&) = delete;

    // The mask of plate `slot` (below key_plates::kMaxPlates) showing `plate` at `dpi`; an
    // empty mask when the text cannot be rendered (the plate is still drawn).
    TextMask For(size_t slot, const KeyPlate& plate, int dpi);
    // Wipes every mask and lets the font and canvas go.
    void Clear();

private:
    struct Slot {
        uint32_t version = 0;
        int height = 0;
        int32_t width = 0;
        int32_t rows = 0;
        std::vector<uint8_t> mask;
    };
    bool Render(const KeyPlate& plate, int height, Slot& slot);
    bool EnsureCanvas(int32_t width, int32_t height);

    Slot slots[key_plates::kMaxPlates];
    ScopedCreatedDC dc;
    ScopedGdiObject<HFONT> font;
    int fontHeight = 0;
    ScopedGdiObject<HBITMAP> canvas;
    uint32_t* canvasBits = nullptr;  // not owned: the canvas's pixels, rows top first
    int32_t canvasWidth = 0;
    int32_t canvasHeight = 0;
};
