#pragma once
// Key plates drawn straight into a frame: rounded keycaps, white text on a dark translucent plate
// with a light edge, in a row centred near the bottom of the frame. Pure functions over the same
// frame buffers as the click rings (ClickOverlay.h); the text comes in as a coverage mask that
// the caller renders once per text. Sizes are given at 96 DPI and scale with the monitor's DPI.

#include "media/ClickOverlay.h"

#include <cstddef>
#include <cstdint>

namespace key_overlay {
inline constexpr int kTextHeight = 18;        // pixels of the text's line
inline constexpr int kPadX = 12;              // text to the plate's side
inline constexpr int kPadY = 6;               // text to the plate's top and bottom
inline constexpr int kRadius = 7;             // of the corners
inline constexpr int kEdge = 1;               // the light edge
inline constexpr int kGap = 8;                // between plates
inline constexpr int kBottom = 28;            // the plates' bottom edge above the frame's
inline constexpr uint8_t kPlateOpacity = 200;  // of 255, at full strength
inline constexpr uint8_t kEdgeOpacity = 210;
inline constexpr OverlayColour kPlateColour{28, 28, 32};
inline constexpr OverlayColour kEdgeColour{225, 225, 230};
inline constexpr OverlayColour kTextColour{255, 255, 255};
}  // namespace key_overlay

// A plate's text as rendered: coverage 0 (none) to 255 (full), rows top first. Not owned.
struct TextMask {
    const uint8_t* coverage = nullptr;
    int32_t width = 0;
    int32_t height = 0;
};

// Where a plate goes in the frame, x from the left and y from the top; may lie partly or wholly
// outside the frame.
struct PlateBox {
    int64_t left = 0;
    int64_t top = 0;
    int64_t width = 0;
    int64_t height = 0;
};

// Scaled sizes at a DPI (see OverlayDpi), in whole pixels of at least 1 where they are not 0.
int KeyTextHeight(int dpi);
// The boxes of `count` plates with texts of the given widths, in a row centred on the frame's
// width, its bottom kBottom (scaled) above the frame's bottom.
void LayoutPlates(int32_t frameWidth, int32_t frameHeight, const int32_t* textWidths, size_t count, int dpi,
                  PlateBox* out);
// One plate at `opacity` (its fade; 255 is full strength), its text centred in it. At 8 bits the
// plate is opaque and dithered only by the fade, and text shows where its coverage is half or more.
void DrawPlate(const FrameView& frame, const PlateBox& box, const TextMask& text, uint8_t opacity, int dpi);
