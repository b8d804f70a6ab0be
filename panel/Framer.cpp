#include "panel/Framer.h"

#include "common/PanInset.h"
#include "framework/Scoped.h"

#include <algorithm>
#include <cstdint>

namespace {

constexpr char kClassName[] = "CameraResize Class";
constexpr char kTitle[] = "Framer Window";
constexpr int kOutlineWidth = 4;          // pixels, both outlines
constexpr int kAwayOffset = 20000;        // far enough right to uncover any screen
constexpr RECT kFallbackBounds{0, 0, 640, 480};
// How long the windows below get to reach the screen before it is copied: a compositor (or
// the X server under Wine) shows their new paint a little later than it is made.
constexpr DWORD kRepaintGraceMs = 50;
constexpr DWORD kRepaintGraceStepMs = 5;

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

// BeginPaint/EndPaint.
class ScopedPaint {
public:
    explicit ScopedPaint(HWND wnd) : wnd_(wnd), dc_(::BeginPaint(wnd_, &ps_)) {}
    ~ScopedPaint() { ::EndPaint(wnd_, &ps_); }
    ScopedPaint(const ScopedPaint&) = delete;
    ScopedPaint& operator=(const ScopedPaint&) = delete;
    HDC get() const { return dc_; }

private:
    HWND wnd_;  // not owned
    PAINTSTRUCT ps_{};
    HDC dc_;
};

// Runs the calling thread at time-critical priority for the guard's life, then restores it.
class ScopedTimeCritical {
public:
    ScopedTimeCritical() : previous_(::GetThreadPriority(::GetCurrentThread()))
    {
        ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    }
    ~ScopedTimeCritical()
    {
        ::SetThreadPriority(::GetCurrentThread(),
                            previous_ == THREAD_PRIORITY_ERROR_RETURN ? THREAD_PRIORITY_NORMAL : previous_);
    }
    ScopedTimeCritical(const ScopedTimeCritical&) = delete;
    ScopedTimeCritical& operator=(const ScopedTimeCritical&) = delete;

private:
    int previous_;
};

// GetWindowDC/ReleaseDC: the whole window, frame included.
class ScopedWholeWindowDC {
public:
    explicit ScopedWholeWindowDC(HWND wnd) : wnd_(wnd), dc_(::GetWindowDC(wnd)) {}
    ~ScopedWholeWindowDC()
    {
        if (dc_)
            ::ReleaseDC(wnd_, dc_);
    }
    ScopedWholeWindowDC(const ScopedWholeWindowDC&) = delete;
    ScopedWholeWindowDC& operator=(const ScopedWholeWindowDC&) = delete;
    HDC get() const { return dc_; }
    explicit operator bool() const { return dc_ != nullptr; }

private:
    HWND wnd_;  // not owned
    HDC dc_;
};

// Draws a black outline, in window coordinates, over the whole window including its frame.
void DrawOutline(HWND wnd, const RECT& rect)
{
    ScopedWholeWindowDC dc(wnd);
    if (!dc)
        return;
    ScopedGdiObject<HPEN> pen(::CreatePen(PS_SOLID, kOutlineWidth, RGB(0, 0, 0)));
    ScopedSelect selectPen(dc.get(), pen.get());
    ScopedSelect selectBrush(dc.get(), ::GetStockObject(HOLLOW_BRUSH));
    ::SelectClipRgn(dc.get(), nullptr);
    ::Rectangle(dc.get(), rect.left, rect.top, rect.right, rect.bottom);
}

// The one framer window: its state and its message switch.
class FramerWindow {
public:
    HWND Create(HINSTANCE instance, HWND owner, const FramerParams& params);
    bool Destroy();
    bool Update(const RECT& rect, int32_t panMargin);

    static LRESULT CALLBACK Procedure(HWND wnd, UINT message, WPARAM wparam, LPARAM lparam);

private:
    struct RepaintBelow {
        HWND framer;  // not owned
        HWND owner;   // not owned
        RECT update;  // screen coordinates
    };

    LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);
    void OnNcPaint();
    LRESULT OnNcActivate(LPARAM lparam);
    LRESULT OnNcHitTest(LPARAM lparam);
    LRESULT OnWindowPosChanging(WINDOWPOS* pos, LPARAM lparam);
    LRESULT OnWindowPosChanged(LPARAM lparam);
    LRESULT OnSettle(bool notifyOwner, WPARAM wparam, LPARAM lparam);
    void OnPaint();
    void OnNcDestroy();
    void PaintContent(HDC dc, const RECT& belowOnScreen);
    void DrawPanMargin() const;
    LRESULT DefaultProc(UINT message, WPARAM wparam, LPARAM lparam) const
    {
        return ::DefWindowProcA(wnd_, message, wparam, lparam);
    }
    static BOOL CALLBACK RepaintWindowBelow(HWND wnd, LPARAM context);

    bool classRegistered_ = false;
    bool exists_ = false;
    HINSTANCE instance_ = nullptr;  // not owned
    HWND owner_ = nullptr;          // not owned
    HWND wnd_ = nullptr;            // destroyed by Destroy
    RECT bounds_ = kFallbackBounds;
    RECT rect_{};                   // last settled rectangle; the owner is handed a pointer to it
    int32_t panMargin_ = 0;
    SIZE minimum_{};
};

// At most one framer per process; static storage keeps the rectangle posted to the owner valid.
FramerWindow framer;

HWND FramerWindow::Create(HINSTANCE instance, HWND owner, const FramerParams& params)
{
    if (exists_)
        return nullptr;
    instance_ = instance;
    owner_ = owner;
    rect_ = RECT{params.left, params.top, params.right, params.bottom};
    panMargin_ = params.panMargin;
    minimum_ = SIZE{params.minWidth, params.minHeight};
    bounds_ = ScreenBounds();

    if (!classRegistered_) {
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof wc;
        wc.style = CS_HREDRAW | CS_VREDRAW | CS_BYTEALIGNWINDOW;
        wc.lpfnWndProc = FramerWndProc;
        wc.hInstance = instance;
        wc.hCursor = ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
        wc.lpszClassName = kClassName;
        if (!::RegisterClassExA(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
            return nullptr;
        classRegistered_ = true;
    }

    // A stored rectangle may lie off the screen or have odd sizes; open on the constrained one,
    // so the first settle reports it to the owner.
    const RECT place = ConstrainFramerRect(rect_, bounds_, minimum_);
    HWND wnd = ::CreateWindowExA(0, kClassName, kTitle, WS_POPUP | WS_THICKFRAME | WS_VISIBLE, place.left,
                                 place.top, place.right - place.left, place.bottom - place.top, nullptr, nullptr,
                                 instance, this);
    if (!wnd)
        return nullptr;
    exists_ = true;
    ::ShowWindow(wnd, SW_SHOWNORMAL);
    ::UpdateWindow(wnd);
    return wnd;
}

bool FramerWindow::Destroy()
{
    if (!exists_ || !wnd_ || !::DestroyWindow(wnd_))
        return false;
    owner_ = nullptr;
    instance_ = nullptr;
    wnd_ = nullptr;
    exists_ = false;
    return true;
}

bool FramerWindow::Update(const RECT& rect, int32_t panMargin)
{
    const bool moved = !SameRect(rect, rect_);
    if (!moved && panMargin == panMargin_)
        return true;
    panMargin_ = panMargin;
    if (!wnd_)
        return true;
    if (moved)
        ::SetWindowPos(wnd_, nullptr, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                       SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS);
    ::InvalidateRect(wnd_, nullptr, FALSE);
    ::PostMessageA(wnd_, kFramerSettleMessage, 0, 0);
    return true;
}

LRESULT CALLBACK FramerWindow::Procedure(HWND wnd, UINT message, WPARAM wparam, LPARAM lparam)
{
    auto* self = reinterpret_cast<FramerWindow*>(::GetWindowLongPtrA(wnd, GWLP_USERDATA));
    if (message == WM_NCCREATE) {
        self = static_cast<FramerWindow*>(reinterpret_cast<CREATESTRUCTA*>(lparam)->lpCreateParams);
        ::SetWindowLongPtrA(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->wnd_ = wnd;
    }
    if (!self)
        return ::DefWindowProcA(wnd, message, wparam, lparam);
    return self->HandleMessage(message, wparam, lparam);
}

LRESULT FramerWindow::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_NCPAINT:
        OnNcPaint();
        return 0;
    case WM_NCACTIVATE:
        return OnNcActivate(lparam);
    case WM_ERASEBKGND:
        return 1;
    case WM_NCHITTEST:
        return OnNcHitTest(lparam);
    case WM_WINDOWPOSCHANGING:
        return OnWindowPosChanging(reinterpret_cast<WINDOWPOS*>(lparam), lparam);
    case WM_WINDOWPOSCHANGED:
        return OnWindowPosChanged(lparam);
    case kFramerSettleMessage:
        return OnSettle(lparam == 1, wparam, lparam);
    case WM_PAINT:
        OnPaint();
        return 0;
    case WM_NCDESTROY:
        OnNcDestroy();
        return DefaultProc(message, wparam, lparam);
    default:
        return DefaultProc(message, wparam, lparam);
    }
}

void FramerWindow::OnNcPaint()
{
    RECT place{};
    ::GetWindowRect(wnd_, &place);
    DrawOutline(wnd_, RECT{0, 0, place.right - place.left, place.bottom - place.top});
}

// The frame always looks active.
LRESULT FramerWindow::OnNcActivate(LPARAM lparam)
{
    DefaultProc(WM_NCACTIVATE, TRUE, lparam);
    return 1;
}

// A drag anywhere inside moves the window; the sizing frame still resizes.
LRESULT FramerWindow::OnNcHitTest(LPARAM lparam)
{
    const LRESULT hit = DefaultProc(WM_NCHITTEST, 0, lparam);
    return hit == HTCLIENT ? HTCAPTION : hit;
}

LRESULT FramerWindow::OnWindowPosChanging(WINDOWPOS* pos, LPARAM lparam)
{
    pos->flags |= SWP_NOACTIVATE | SWP_FRAMECHANGED;
    pos->cx = RoundFramerSize(pos->cx);
    pos->cy = RoundFramerSize(pos->cy);
    return DefaultProc(WM_WINDOWPOSCHANGING, 0, lparam);
}

LRESULT FramerWindow::OnWindowPosChanged(LPARAM lparam)
{
    const LRESULT result = DefaultProc(WM_WINDOWPOSCHANGED, 0, lparam);
    ::PostMessageA(wnd_, kFramerSettleMessage, 0, 1);
    return result;
}

LRESULT FramerWindow::OnSettle(bool notifyOwner, WPARAM wparam, LPARAM lparam)
{
    RECT place{};
    if (::GetWindowRect(wnd_, &place) && !SameRect(place, rect_)) {
        rect_ = ConstrainFramerRect(place, bounds_, minimum_);
        ::SetWindowPos(wnd_, nullptr, rect_.left, rect_.top, rect_.right - rect_.left, rect_.bottom - rect_.top,
                       SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOREDRAW);
        ::InvalidateRect(wnd_, nullptr, FALSE);
        ::UpdateWindow(wnd_);
        if (notifyOwner && owner_)
            ::PostMessageA(owner_, kFramerNotifyMessage, 0, reinterpret_cast<LPARAM>(&rect_));
    }
    // Keyboard focus stays in the dialog.
    if (owner_)
        ::SetActiveWindow(owner_);
    return DefaultProc(kFramerSettleMessage, wparam, lparam);
}

// The client area is never erased: what the windows below paint there stays, and only the
// outlines are drawn over it. To make them paint, the framer steps aside for the moment.
void FramerWindow::OnPaint()
{
    ScopedTimeCritical critical;
    RECT below{};
    ::GetUpdateRect(wnd_, &below, FALSE);
    ::MapWindowPoints(wnd_, nullptr, reinterpret_cast<POINT*>(&below), 2);
    {
        ScopedPaint paint(wnd_);
        PaintContent(paint.get(), below);
    }
    ::ValidateRect(wnd_, nullptr);
    if (owner_)
        ::SetWindowPos(owner_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

// Where the screen does not keep a window's unerased pixels (a compositing desktop), the
// client area would show stale contents: so what lies below is also copied while the framer
// is away and put back into the client area on return.
void FramerWindow::PaintContent(HDC dc, const RECT& belowOnScreen)
{
    DrawPanMargin();
    RECT place{};
    ::GetWindowRect(wnd_, &place);
    RECT client{};
    ::GetClientRect(wnd_, &client);
    POINT clientOrigin{0, 0};
    ::ClientToScreen(wnd_, &clientOrigin);
    ScopedWindowDC screen(nullptr);
    ScopedCreatedDC copyDC(screen ? ::CreateCompatibleDC(screen.get()) : nullptr);
    ScopedGdiObject<HBITMAP> copy(screen ? ::CreateCompatibleBitmap(screen.get(), client.right, client.bottom)
                                         : nullptr);
    ScopedSelect selectCopy(copyDC.get(), copyDC ? copy.get() : nullptr);
    const bool canCopy = screen && copyDC && copy;

    ::SetWindowPos(wnd_, nullptr, place.left + kAwayOffset, place.top, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    LetWindowSystemCatchUp();
    RepaintBelow context{wnd_, owner_, belowOnScreen};
    ::EnumWindows(RepaintWindowBelow, reinterpret_cast<LPARAM>(&context));
    for (const DWORD start = ::GetTickCount(); ::GetTickCount() - start < kRepaintGraceMs;) {
        LetWindowSystemCatchUp();
        ::Sleep(kRepaintGraceStepMs);
    }
    if (canCopy)
        ::BitBlt(copyDC.get(), 0, 0, client.right, client.bottom, screen.get(), clientOrigin.x, clientOrigin.y,
                 SRCCOPY);
    ::SetWindowPos(wnd_, nullptr, place.left, place.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    if (canCopy)
        ::BitBlt(dc, 0, 0, client.right, client.bottom, copyDC.get(), 0, 0, SRCCOPY);
    DrawPanMargin();
}

// Windows inside the dialog are left alone; the others repaint what the framer covered. A hung
// window is only invalidated: waiting for it would freeze this thread at time-critical priority.
BOOL CALLBACK FramerWindow::RepaintWindowBelow(HWND wnd, LPARAM context)
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

void FramerWindow::DrawPanMargin() const
{
    RECT place{};
    ::GetWindowRect(wnd_, &place);
    RECT inner = PanMarginRect(rect_, panMargin_);
    ::OffsetRect(&inner, -place.left, -place.top);
    DrawOutline(wnd_, inner);
}

// The window is gone, whoever destroyed it: a new framer may be made.
void FramerWindow::OnNcDestroy()
{
    ::SetWindowLongPtrA(wnd_, GWLP_USERDATA, 0);
    wnd_ = nullptr;
    exists_ = false;
}

}  // namespace

HWND CreateFramer(HINSTANCE instance, HWND owner, const FramerParams& params)
{
    return framer.Create(instance, owner, params);
}

bool DestroyFramer()
{
    return framer.Destroy();
}

bool UpdateFramer(const RECT& rect, int32_t panMargin)
{
    return framer.Update(rect, panMargin);
}

int32_t RoundFramerSize(int32_t size)
{
    return static_cast<int32_t>((int64_t{size} + kFramerSizeStep - 1) / kFramerSizeStep * kFramerSizeStep);
}

RECT ConstrainFramerRect(const RECT& rect, const RECT& bounds, SIZE minimum)
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

RECT PanMarginRect(const RECT& rect, int32_t panMargin)
{
    const auto inset = static_cast<LONG>(
        PanInsetFor(int64_t{rect.right} - rect.left, int64_t{rect.bottom} - rect.top, panMargin));
    return RECT{rect.left + inset, rect.top + inset, rect.right - inset, rect.bottom - inset};
}

LRESULT CALLBACK FramerWndProc(HWND wnd, UINT message, WPARAM wparam, LPARAM lparam)
{
    return FramerWindow::Procedure(wnd, message, wparam, lparam);
}
