// Opens the Capture Area dialog over whatever is on the screen, for a look or a screenshot,
// with a settings tree of its own that it removes again:
//   resize_demo [seconds] [left top right bottom [pan margin]]
#include "panel/ResizePage.h"
#include "settings/Prefs.h"

#include <cstdlib>

namespace {

constexpr char kDemoTree[] = "Software\\Quorvane\\VorluxResizeDemo";

void CALLBACK CloseDialog(HWND, UINT, UINT_PTR id, DWORD)
{
    ::KillTimer(nullptr, id);
    if (HWND dialog = ::FindWindowA("#32770", "Capture Area"))
        ::PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
}

}  // namespace

int main(int argc, char** argv)
{
    const UINT seconds = argc > 1 ? static_cast<UINT>(std::strtoul(argv[1], nullptr, 10)) : 10;
    VRect area{200, 150, 700, 550};
    int32_t pan = 50;
    if (argc > 5)
        area = VRect{std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5])};
    if (argc > 6)
        pan = std::atoi(argv[6]);

    ::RegDeleteTreeA(HKEY_CURRENT_USER, kDemoTree);
    int result = 0;
    {
        PrefsLocation here{HKEY_CURRENT_USER, kDemoTree};
        Prefs prefs(here, here);
        prefs.SetCaptureArea(area);
        prefs.SetPanValue(pan);
        ResizePage dialog(nullptr, prefs, ::GetModuleHandleA(nullptr));
        ::SetTimer(nullptr, 0, seconds * 1000, CloseDialog);
        result = dialog.Execute() < 0 ? 1 : 0;
    }
    ::RegDeleteTreeA(HKEY_CURRENT_USER, kDemoTree);
    return result;
}
