#include "panel/Framer.h"

#include "common/PanInset.h"
#include "framework/Scoped.h"
#include "ids/Messages.h"

#include <algorithm>
#include <cstdint>

namespace {

constexpr char kTitle[] = "Framer Window";
constexpr int kOutlineWidth = 4;          // pixels, both outlines
constexpr int kAwayOffset = 20000;        // far enough right to uncover any screen
constexpr RECT kFallbackBounds{0, 0, 640, 480};
// How long the windows below get to reach the screen before it is copied: a compositor (or
// the X server under Wine) shows their new paint a little later than it is made.
constexpr UINT kRepaintGraceMs = 50;
constexpr UINT_PTR kRepaintTimer = 1;

bool SameRect(const RECT& a, const RECT& b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// Width or height rounded up to the size step, limited to the screen's, but never below the minimum.
int64_t ConstrainSize(int64_t size, int64_t boundsSize, int64_t minimum)
{
    size = (size + kFramerSizeStep - 1) / kFramerSizeStep * kFramerSizeStep;
    if (size >= boundsSize)
        size = boundsSize;
    // The minimum wins over the screen; a negative size never survives as an inverted rectangle.
    return std::max({size, minimum, int64_t{0}});
}

// The primary screen's pixel rectangle, or VGA when the screen cannot be asked.
RECT ScreenBounds()
{
    ScopedWindowDC screen(nullptr);
    if (!screen)
        return kFallbackBounds;
    return RECT{0, 0, ::GetDeviceCaps(screen.get(), HORZRES), ::GetDeviceCaps(screen.get(), VERTRES)};
}

// Hands queued window-system requests to the display: asking the queue (without removing
// anything) lets a window system that batches requests, as Wine's does, send them now.
void LetWindowSystemCatchUp()
{
    ::GdiFlush();
    MSG msg;
    ::PeekMessageA(&msg, nullptr, WM_NULL, WM_NULL, PM_NOREMOVE | PM_NOYIELD);
}

// Draws a black outline, in window coordinates, over the whole window including its frame.
void DrawOutline(HWND wnd, const RECT& outline)
{
    ScopedWindowDC dc(wnd, ScopedWindowDC::Whole);
    if (!dc)
        return;
    ScopedGdiObject<HPEN> pen(::CreatePen(PS_SOLID, kOutlineWidth, RGB(0, 0, 0)));
    ScopedSelect selectPen(dc.get(), pen.get());
    ScopedSelect selectBrush(dc.get(), ::GetStockObject(HOLLOW_BRUSH));
    ::SelectClipRgn(dc.get(), nullptr);
    ::Rectangle(dc.get(), outline.left, outline.top, outline.right, outline.bottom);
}

struct RepaintBelow {
    HWND framer;  // not owned
    HWND owner;   // not owned
    RECT update;  // screen coordinates
};

// Windows inside the dialog are left alone; the others repaint what the framer covered. A hung
// window is only invalidated: waiting for it would freeze the dialog.
BOOL CALLBACK RepaintWindowBelow(HWND wnd, LPARAM context)
{
    const auto& below = *reinterpret_cast<const RepaintBelow*>(context);
    if (wnd == below.framer || wnd == below.owner || !::IsWindowVisible(wnd))
        return TRUE;
    RECT place{};
    if (!::GetWindowRect(wnd, &place))
        return TRUE;
    RECT ownerPlace{};
    RECT both{};
    if (below.owner && ::GetWindowRect(below.owner, &ownerPlace) && ::UnionRect(&both, &place, &ownerPlace) &&
        SameRect(both, ownerPlace))
        return TRUE;
    RECT common{};
    if (!::IntersectRect(&common, &place, &below.update))
        return TRUE;
    ::MapWindowPoints(nullptr, wnd, reinterpret_cast<POINT*>(&common), 2);
    ::InvalidateRect(wnd, &common, FALSE);
    if (!::IsHungAppWindow(wnd))
        ::UpdateWindow(wnd);
    return TRUE;
}

// Screen coordinates fit 16 bits, as in the mouse messages: the rectangle travels by value.
WPARAM NotifyCorner(LONG x, LONG y)
{
    return MAKEWPARAM(static_cast<WORD>(x), static_cast<WORD>(y));
}

}  // namespace

bool Framer::Create(HINSTANCE instance, HWND ownerWindow, FramerParams params)
{
    if (Handle())
        return false;
    owner = ownerWindow;
    rect = RECT{params.left, params.top, params.right, params.bottom};
    panMargin = params.panMargin;
    minimum = SIZE{params.minWidth, params.minHeight};
    bounds = ScreenBounds();
    aside = false;
    // A stored rectangle may lie off the screen or have odd sizes; open on the constrained one,
    // so the first settle reports it to the owner.
    const RECT place = ConstrainFramerRect(rect, bounds, minimum);
    if (!TWindow::Create(nullptr, kTitle, WS_POPUP | WS_THICKFRAME | WS_VISIBLE, 0, place, instance))
        return false;
    ::ShowWindow(Handle(), SW_SHOWNORMAL);
    ::UpdateWindow(Handle());
    return true;
}

void Framer::FillClass(WNDCLASSEXA& wc) const
{
    wc.style = CS_HREDRAW | CS_VREDRAW | CS_BYTEALIGNWINDOW;
    wc.hbrBackground = nullptr;
}

void Framer::Update(RECT typed, int32_t margin)
{
    const bool moved = !SameRect(typed, rect);
    if (!moved && margin == panMargin)
        return;
    panMargin = margin;
    if (!Handle())
        return;
    if (moved)
        ::SetWindowPos(Handle(), nullptr, typed.left, typed.top, typed.right - typed.left, typed.bottom - typed.top,
                       SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS);
    ::InvalidateRect(Handle(), nullptr, FALSE);
    ::PostMessageA(Handle(), kMsgFramerSettle, 0, 0);
}

LRESULT Framer::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_NCPAINT:
        OnNcPaint();
        return 0;
    case WM_NCACTIVATE:
        // The frame always looks active.
        DefaultProc(message, TRUE, lparam);
        return TRUE;
    case WM_ERASEBKGND:
        return 1;
    case WM_NCHITTEST:
        return OnNcHitTest(DefaultProc(message, wparam, lparam));
    case WM_WINDOWPOSCHANGING:
        OnWindowPosChanging(*reinterpret_cast<WINDOWPOS*>(lparam));
        return DefaultProc(message, wparam, lparam);
    case WM_WINDOWPOSCHANGED: {
        const LRESULT result = DefaultProc(message, wparam, lparam);
        OnWindowPosChanged();
        return result;
    }
    case kMsgFramerSettle:
        OnSettle(lparam == 1);
        return 0;
    case WM_PAINT:
        OnPaint();
        return 0;
    case WM_TIMER:
        OnTimer(static_cast<UINT_PTR>(wparam));
        return 0;
    }
    return TWindow::HandleMessage(message, wparam, lparam);
}

void Framer::OnNcPaint()
{
    RECT place{};
    ::GetWindowRect(Handle(), &place);
    DrawOutline(Handle(), RECT{0, 0, place.right - place.left, place.bottom - place.top});
}

// A drag anywhere inside moves the window; the sizing frame still resizes.
LRESULT Framer::OnNcHitTest(LRESULT hit) const
{
    return hit == HTCLIENT ? HTCAPTION : hit;
}

void Framer::OnWindowPosChanging(WINDOWPOS& pos) const
{
    pos.flags |= SWP_NOACTIVATE | SWP_FRAMECHANGED;
    pos.cx = RoundFramerSize(pos.cx);
    pos.cy = RoundFramerSize(pos.cy);
}

// Every change settles, except the framer's own trips off the screen and back. A move from
// outside during a trip ends it: the window is where it was put.
void Framer::OnWindowPosChanged()
{
    if (moving)
        return;
    RECT place{};
    if (aside && ::GetWindowRect(Handle(), &place) &&
        (place.left != asideFrom.x + kAwayOffset || place.top != asideFrom.y)) {
        ::KillTimer(Handle(), kRepaintTimer);
        aside = false;
    }
    ::PostMessageA(Handle(), kMsgFramerSettle, 0, 1);
}

void Framer::OnSettle(bool notifyOwner)
{
    if (const RECT place = PlaceSeen(); !SameRect(place, rect)) {
        rect = ConstrainFramerRect(place, bounds, minimum);
        ::SetWindowPos(Handle(), nullptr, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                       SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOREDRAW);
        ::InvalidateRect(Handle(), nullptr, FALSE);
        ::UpdateWindow(Handle());
        if (notifyOwner && owner)
            ::PostMessageA(owner, kMsgFramerNotify, NotifyCorner(rect.left, rect.top),
                           static_cast<LPARAM>(NotifyCorner(rect.right, rect.bottom)));
    }
    // Keyboard focus stays in the dialog.
    if (owner)
        ::SetActiveWindow(owner);
}

// The client area is never erased: what the windows below paint there stays, and only the
// outlines are drawn over it. To make them paint, the framer steps aside until its timer says
// they have had time to; the thread runs on meanwhile.
void Framer::OnPaint()
{
    RECT below{};
    ::GetUpdateRect(Handle(), &below, FALSE);
    ::MapWindowPoints(Handle(), nullptr, reinterpret_cast<POINT*>(&below), 2);
    { ScopedPaint paint(Handle()); }
    // During a trip the window is off the screen: its coming back paints it.
    if (!aside)
        StepAside(below);
}

void Framer::OnTimer(UINT_PTR id)
{
    if (id != kRepaintTimer || !aside)
        return;
    ::KillTimer(Handle(), kRepaintTimer);
    ComeBack();
}

void Framer::StepAside(RECT belowOnScreen)
{
    RECT place{};
    ::GetWindowRect(Handle(), &place);
    asideFrom = POINT{place.left, place.top};
    clientAt = POINT{0, 0};
    ::ClientToScreen(Handle(), &clientAt);
    DrawPanMargin();
    MoveTo(POINT{place.left + kAwayOffset, place.top});
    aside = true;
    LetWindowSystemCatchUp();
    RepaintBelow context{Handle(), owner, belowOnScreen};
    ::EnumWindows(RepaintWindowBelow, reinterpret_cast<LPARAM>(&context));
    if (!::SetTimer(Handle(), kRepaintTimer, kRepaintGraceMs, nullptr))
        ComeBack();
}

// Where the screen does not keep a window's unerased pixels (a compositing desktop), the
// client area would show stale contents: so what lies below is copied while the framer is
// away and put back into the client area on return.
void Framer::ComeBack()
{
    RECT client{};
    ::GetClientRect(Handle(), &client);
    ScopedWindowDC screen(nullptr);
    ScopedCreatedDC copyDC(screen ? ::CreateCompatibleDC(screen.get()) : nullptr);
    ScopedGdiObject<HBITMAP> copy(copyDC ? ::CreateCompatibleBitmap(screen.get(), client.right, client.bottom)
                                         : nullptr);
    ScopedSelect selectCopy(copyDC.get(), copy ? copy.get() : nullptr);
    const bool copied = copy && ::BitBlt(copyDC.get(), 0, 0, client.right, client.bottom, screen.get(), clientAt.x,
                                         clientAt.y, SRCCOPY);
    MoveTo(asideFrom);
    if (copied) {
        ScopedWindowDC dc(Handle());
        if (dc)
            ::BitBlt(dc.get(), 0, 0, client.right, client.bottom, copyDC.get(), 0, 0, SRCCOPY);
    }
    DrawPanMargin();
    // What the move back invalidated is drawn already.
    ::ValidateRect(Handle(), nullptr);
    aside = false;
    if (owner)
        ::SetWindowPos(owner, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void Framer::MoveTo(POINT corner)
{
    moving = true;
    ::SetWindowPos(Handle(), nullptr, corner.x, corner.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    moving = false;
}

// The window's rectangle where the user sees it, also while it is off the screen on a trip.
RECT Framer::PlaceSeen() const
{
    RECT place{};
    ::GetWindowRect(Handle(), &place);
    if (aside)
        ::OffsetRect(&place, asideFrom.x - place.left, asideFrom.y - place.top);
    return place;
}

void Framer::DrawPanMargin() const
{
    RECT place{};
    ::GetWindowRect(Handle(), &place);
    RECT inner = PanMarginRect(rect, panMargin);
    ::OffsetRect(&inner, -place.left, -place.top);
    DrawOutline(Handle(), inner);
}

RECT FramerNotifyRect(WPARAM wparam, LPARAM lparam)
{
    return RECT{static_cast<SHORT>(LOWORD(wparam)), static_cast<SHORT>(HIWORD(wparam)),
                static_cast<SHORT>(LOWORD(lparam)), static_cast<SHORT>(HIWORD(lparam))};
}

int32_t RoundFramerSize(int32_t size)
{
    return static_cast<int32_t>((int64_t{size} + kFramerSizeStep - 1) / kFramerSizeStep * kFramerSizeStep);
}

RECT ConstrainFramerRect(RECT rect, RECT bounds, SIZE minimum)
{
    // 64-bit throughout: coordinates from a drag or the registry may be anywhere.
    int64_t left = rect.left;
    int64_t top = rect.top;
    int64_t right = left + ConstrainSize(int64_t{rect.right} - rect.left, int64_t{bounds.right} - bounds.left,
                                         minimum.cx);
    int64_t bottom = top + ConstrainSize(int64_t{rect.bottom} - rect.top, int64_t{bounds.bottom} - bounds.top,
                                         minimum.cy);
    if (const int64_t shift = bounds.left - left; shift > 0) {
        left += shift;
        right += shift;
    }
    if (const int64_t shift = bounds.top - top; shift > 0) {
        top += shift;
        bottom += shift;
    }
    if (const int64_t shift = right - bounds.right; shift > 0) {
        left -= shift;
        right -= shift;
    }
    if (const int64_t shift = bottom - bounds.bottom; shift > 0) {
        top -= shift;
        bottom -= shift;
    }
    return RECT{static_cast<LONG>(left), static_cast<LONG>(top), static_cast<LONG>(right), static_cast<LONG>(bottom)};
}

RECT PanMarginRect(RECT rect, int32_t panMargin)
{
    const auto inset = static_cast<LONG>(
        PanInsetFor(int64_t{rect.right} - rect.left, int64_t{rect.bottom} - rect.top, panMargin));
    return RECT{rect.left + inset, rect.top + inset, rect.right - inset, rect.bottom - inset};
}
