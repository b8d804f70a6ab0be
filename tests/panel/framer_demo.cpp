// Shows the framer over whatever is on the screen, for a look or a screenshot:
//   framer_demo [seconds] [left top right bottom [pan margin]]
#include "panel/Framer.h"

#include "tests/support/WindowRig.h"

#include <cstdlib>

namespace {

LRESULT CALLBACK OwnerProcedure(HWND wnd, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = ::BeginPaint(wnd, &ps);
        ::FillRect(dc, &ps.rcPaint, static_cast<HBRUSH>(::GetStockObject(LTGRAY_BRUSH)));
        ::TextOutA(dc, 8, 8, "Capture Area (stand-in)", 23);
        ::EndPaint(wnd, &ps);
        return 0;
    }
    return ::DefWindowProcA(wnd, message, wparam, lparam);
}

}  // namespace

int main(int argc, char** argv)
{
    const DWORD seconds = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 10;
    FramerParams params{200, 150, 700, 550, 50, 20, 20};
    if (argc > 5) {
        params.left = std::atoi(argv[2]);
        params.top = std::atoi(argv[3]);
        params.right = std::atoi(argv[4]);
        params.bottom = std::atoi(argv[5]);
    }
    if (argc > 6)
        params.panMargin = std::atoi(argv[6]);

    // Shown as the window tests show it: Xvfb runs no window manager.
    LeaveWindowsUnmanaged("framer_demo.exe");
    HINSTANCE instance = ::GetModuleHandleA(nullptr);
    RegisterTestClass("FramerDemoOwner", OwnerProcedure);
    HWND owner = ::CreateWindowExA(0, "FramerDemoOwner", "Capture Area", WS_POPUP | WS_BORDER | WS_VISIBLE, 760, 20,
                                   240, 160, nullptr, nullptr, instance, nullptr);
    Framer framer;
    if (!owner || !framer.Create(instance, owner, params))
        return 1;
    for (const DWORD start = ::GetTickCount(); ::GetTickCount() - start < seconds * 1000;) {
        Pump();
        ::Sleep(10);
    }
    framer.Destroy();
    ::DestroyWindow(owner);
    return 0;
}
