#pragma once
// Click rings and the cursor halo, drawn straight into a frame: pure functions over a bottom-up
// DIB of 8 (colour-table index), 16 (RGB555), 24 or 32 bits per pixel, so that they run and are
// tested without a screen. Coordinates are frame pixels, x from the left and y from the top; a
// mark may lie partly or wholly outside the frame, and only what falls inside is drawn. Sizes are
// given at 96 DPI and scale with the DPI of the monitor the mark belongs to.

#include "common/VRecords.h"

#include <cstdint>

enum class ClickButton : uint8_t { Left, Right, Middle };

namespace click_overlay {
inline constexpr uint32_t kRingMs = 400;      // a ring grows and fades out over this long
inline constexpr int kBaseDpi = 96;           // the sizes below are at this DPI
inline constexpr int kMinDpi = 24;            // a DPI outside these bounds is taken as the bound
inline constexpr int kMaxDpi = 960;
inline constexpr double kRingStartRadius = 8;  // middle of the bright band at the press
inline constexpr double kRingEndRadius = 28;   // ... and when the animation ends
inline constexpr double kRingWidth = 4;        // the bright band
inline constexpr double kOutlineWidth = 1.5;   // the dark edge on each side of it
inline constexpr double kHaloRadius = 20;
inline constexpr uint8_t kHaloOpacity = 96;    // of 255
}  // namespace click_overlay

struct OverlayColour {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
    bool operator==(const OverlayColour&) const = default;
};

// A frame buffer as the grabber holds it. Not owned.
struct FrameView {
    uint8_t* bits = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    int32_t bitsPerPixel = 0;           // 8, 16, 24 or 32
    const VRgbQuad* colours = nullptr;  // 8 bits: the frame's colour table
    uint32_t colourCount = 0;
};

// How a ring looks at one moment of its animation. Opacity 0: nothing is drawn.
struct RingShape {
    double radius = 0;   // middle of the bright band, pixels
    double width = 0;    // of the bright band
    double outline = 0;  // of the dark edge on each side
    uint8_t opacity = 0;
};

// The bright colour of a button's ring, the ring's dark outline and the halo's colour.
OverlayColour RingColour(ClickButton button);
inline constexpr OverlayColour kOutlineColour{0, 0, 0};
inline constexpr OverlayColour kHaloColour{255, 255, 0};

// The DPI actually used for `dpi`: 96 for 0 or less, otherwise clamped to the bounds above.
int OverlayDpi(int dpi);
RingShape RingShapeAt(uint32_t ageMs, int dpi);
// Radius of the halo disc.
double HaloRadius(int dpi);

// A frame the functions below draw into: a known depth, a positive size, bits, and for 8 bits a
// colour table of 1 to 256 entries. Anything else is left untouched.
bool DrawableFrame(const FrameView& frame);
// The colour-table entry nearest to `colour` (squared distance; the lower index on a tie).
uint8_t NearestColourIndex(const VRgbQuad* colours, uint32_t count, OverlayColour colour);

// A ring centred on the pixel (x, y) as it looks `ageMs` after the press.
void DrawRing(const FrameView& frame, int64_t x, int64_t y, ClickButton button, uint32_t ageMs, int dpi);
// The halo disc centred on the pixel (x, y).
void DrawHalo(const FrameView& frame, int64_t x, int64_t y, int dpi);
