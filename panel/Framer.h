#pragma once
// The framer: a see-through, sizable outline of the capture rectangle on the screen, shown
// while the Capture Area dialog is open. The user drags it anywhere inside to move it and drags
// its edges to resize it; every settled rectangle is posted to the owner window
// (kMsgFramerNotify). Everything here runs on the UI thread that owns the dialog.

#include "framework/TWindow.h"

#include <cstdint>

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

class Framer : public TWindow {
public:
    // Makes and shows the window; false when it cannot be made or this framer has one already.
    bool Create(HINSTANCE instance, HWND owner, FramerParams params);
    // Pushes a typed rectangle and pan margin into the framer: moves and resizes it, or only
    // redraws it when just the pan margin changed. Does nothing when neither changed. A move
    // settles like a drag, so the owner then hears the constrained rectangle.
    void Update(RECT typed, int32_t margin);

protected:
    const char* ClassName() const override { return "CameraResize Class"; }
    void FillClass(WNDCLASSEXA& wc) const override;
    LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override;

private:
    void OnNcPaint();
    LRESULT OnNcHitTest(LRESULT hit) const;
    void OnWindowPosChanging(WINDOWPOS& pos) const;
    void OnWindowPosChanged();
    void OnSettle(bool notifyOwner);
    void OnPaint();
    void OnTimer(UINT_PTR id);

    void StepAside(RECT belowOnScreen);
    void ComeBack();
    void MoveTo(POINT corner);
    RECT PlaceSeen() const;
    void DrawPanMargin() const;

    HWND owner = nullptr;          // not owned
    RECT bounds{};                 // the screen the rectangle is kept on
    RECT rect{};                   // last settled rectangle
    int32_t panMargin = 0;
    SIZE minimum{};
    // While the windows below repaint, the framer waits off the screen for a timer.
    bool aside = false;
    bool moving = false;           // inside the framer's own trip off or back onto the screen
    POINT asideFrom{};             // its corner on the screen before the trip
    POINT clientAt{};              // its client area's corner on the screen before the trip
};

// The settled rectangle a kMsgFramerNotify carries.
RECT FramerNotifyRect(WPARAM wparam, LPARAM lparam);

// A size rounded up to the size step (toward zero for a negative size).
int32_t RoundFramerSize(int32_t size);
// The rectangle with its sizes rounded up, limited to the bounds' sizes unless the minimum
// is larger, and shifted back inside the bounds.
RECT ConstrainFramerRect(RECT rect, RECT bounds, SIZE minimum);
// The inner rectangle that the panning capture modes keep the cursor in.
RECT PanMarginRect(RECT rect, int32_t panMargin);
