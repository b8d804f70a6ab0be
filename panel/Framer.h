#pragma once
// The framer: a see-through, sizable outline of the capture rectangle on the screen, shown
// while the Capture Area dialog is open. The user drags it anywhere inside to move it and drags
// its edges to resize it; every settled rectangle is posted to the owner window. At most one
// framer exists at a time. Everything here runs on the UI thread that owns the dialog.

#include <windows.h>

#include <cstdint>

// Framer to owner, posted after a move or resize settled. wParam 0; lParam is a const RECT*
// to the settled screen rectangle, valid while the framer exists.
inline constexpr UINT kFramerNotifyMessage = WM_USER + 200;
// Framer to itself, posted. wParam 0; lParam 1 when the owner is to be told, 0 when not.
inline constexpr UINT kFramerSettleMessage = WM_USER + 201;

// Sizes are kept to multiples of this many pixels.
inline constexpr int32_t kFramerSizeStep = 4;

// What the framer starts from: the capture rectangle in screen pixels, the pan margin in
// percent (0 to 100) and the smallest size the rectangle may take.
struct FramerParams {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
    int32_t panMargin = 0;
    int32_t minWidth = 0;
    int32_t minHeight = 0;
};

// Creates and shows the framer; null when one exists already or the window cannot be made.
HWND CreateFramer(HINSTANCE instance, HWND owner, const FramerParams& params);
// True when the framer window was destroyed and the module forgot it.
bool DestroyFramer();
// Pushes a typed rectangle and pan margin into the framer: moves and resizes it, or only
// redraws it when just the pan margin changed. Does nothing when neither changed. A move
// settles like a drag, so the owner then hears the constrained rectangle.
bool UpdateFramer(const RECT& rect, int32_t panMargin);

// A size rounded up to the size step (toward zero for a negative size).
int32_t RoundFramerSize(int32_t size);
// The rectangle with its sizes rounded up, limited to the bounds' sizes unless the minimum
// is larger, and shifted back inside the bounds.
RECT ConstrainFramerRect(const RECT& rect, const RECT& bounds, SIZE minimum);
// The inner rectangle that the panning capture modes keep the cursor in.
RECT PanMarginRect(const RECT& rect, int32_t panMargin);

LRESULT CALLBACK FramerWndProc(HWND wnd, UINT message, WPARAM wparam, LPARAM lparam);
