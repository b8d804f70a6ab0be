#include "framework/TWindow.h"

TWindow::~TWindow()
{
    // The object is going away: the window must not call back into it.
    if (HWND wnd = hwnd.load(); wnd && ::IsWindow(wnd))
        ::SetWindowLongPtrA(wnd, GWLP_USERDATA, 0);
    Destroy();
}

bool TWindow::Create(HWND parent, const char* title, DWORD style, DWORD exStyle, const RECT& place,
                     HINSTANCE instance)
{
    WNDCLASSEXA wc{};
    if (!::GetClassInfoExA(instance, ClassName(), &wc)) {
        wc = {};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = Procedure;
        wc.hInstance = instance;
        wc.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        wc.lpszClassName = ClassName();
        FillClass(wc);
        // Registered meanwhile under a module the lookup did not ask about: usable all the same.
        if (!::RegisterClassExA(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
            return false;
    }
    HWND wnd = ::CreateWindowExA(exStyle, ClassName(), title, style, place.left, place.top,
                                 place.right - place.left, place.bottom - place.top, parent, nullptr,
                                 instance, this);
    return wnd != nullptr;
}

bool TWindow::Destroy()
{
    HWND wnd = hwnd.load();
    if (!wnd || !::IsWindow(wnd))
        return false;
    if (::GetWindowThreadProcessId(wnd, nullptr) == ::GetCurrentThreadId())
        return ::DestroyWindow(wnd) != FALSE;
    // The window must not call back into this object from its own thread any more.
    ::SetWindowLongPtrA(wnd, GWLP_USERDATA, 0);
    hwnd.store(nullptr);
    ::PostMessageA(wnd, WM_CLOSE, 0, 0);
    return true;
}

LRESULT TWindow::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_CREATE:
        return SetupWindow() ? 0 : -1;
    case WM_DESTROY:
        CleanupWindow();
        return 0;
    }
    return DefaultProc(message, wparam, lparam);
}

LRESULT TWindow::DefaultProc(UINT message, WPARAM wparam, LPARAM lparam)
{
    return ::DefWindowProcA(Handle(), message, wparam, lparam);
}

LRESULT CALLBACK TWindow::Procedure(HWND wnd, UINT message, WPARAM wparam, LPARAM lparam)
{
    TWindow* self = nullptr;
    if (message == WM_NCCREATE) {
        self = static_cast<TWindow*>(reinterpret_cast<CREATESTRUCTA*>(lparam)->lpCreateParams);
        self->hwnd.store(wnd);
        ::SetWindowLongPtrA(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    } else {
        self = reinterpret_cast<TWindow*>(::GetWindowLongPtrA(wnd, GWLP_USERDATA));
    }
    if (!self)
        return ::DefWindowProcA(wnd, message, wparam, lparam);
    LRESULT result = self->HandleMessage(message, wparam, lparam);
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrA(wnd, GWLP_USERDATA, 0);
        // A window let go of by Destroy may end after its object took a new one.
        HWND expected = wnd;
        self->hwnd.compare_exchange_strong(expected, nullptr);
    }
    return result;
}
