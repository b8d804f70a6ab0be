// A second program for the whole-program runs: it holds a hot key as another program would,
// shows moving content to record, and reads and answers the windows the program under test
// shows (message boxes by caption, controls by id).
//   e2e_helper hold VK SECONDS          registers Ctrl+Shift+VK; prints "held" or "refused"
//   e2e_helper noise W H SECONDS        a W x H window at the top-left corner, new noise ~25 times a second
//   e2e_helper keys W H SECONDS         a plain light W x H window at the top-left corner with an edit box
//                                       (20,120)-(220,144) and a password box (20,170)-(220,194)
//   e2e_helper text CAPTION SECONDS     prints the message text of the box with that caption
//   e2e_helper control CAPTION ID       prints the text of the control ID inside that window
//   e2e_helper press CAPTION ID         clicks button ID of the window with that caption
//   e2e_helper post CAPTION MESSAGE     posts MESSAGE to the window with that caption
// Exit code 0 on success, 1 when the window or key was not found or taken, 2 on bad arguments.

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kMessageTextId = 0xFFFF;  // the static text of a message box
constexpr DWORD kNoisePeriodMs = 40;

HWND WaitForWindow(const char* caption, DWORD seconds)
{
    for (DWORD waited = 0;; waited += 100) {
        if (HWND window = ::FindWindowA(nullptr, caption))
            return window;
        if (waited >= seconds * 1000)
            return nullptr;
        ::Sleep(100);
    }
}

std::string TextOf(HWND window)
{
    char text[2048] = {};
    ::GetWindowTextA(window, text, sizeof text);
    return text;
}

int Hold(UINT vk, DWORD seconds)
{
    if (!::RegisterHotKey(nullptr, 1, MOD_CONTROL | MOD_SHIFT, vk)) {
        std::printf("refused\n");
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    const DWORD start = ::GetTickCount();
    while (::GetTickCount() - start < seconds * 1000) {
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
        ::Sleep(50);
    }
    ::UnregisterHotKey(nullptr, 1);
    return 0;
}

// Random pixels defeat every compressor, so a movie of this window grows as fast as it can.
int Noise(int width, int height, DWORD seconds)
{
    HWND window = ::CreateWindowExA(WS_EX_TOPMOST, "STATIC", "vorlux test noise", WS_POPUP | WS_VISIBLE, 0, 0, width,
                                    height, nullptr, nullptr, nullptr, nullptr);
    if (!window)
        return 1;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<uint32_t> pixels(size_t(width) * size_t(height));
    uint32_t state = 0x9E3779B9u;
    const DWORD start = ::GetTickCount();
    while (::GetTickCount() - start < seconds * 1000) {
        for (uint32_t& p : pixels) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            p = state & 0xFFFFFF;
        }
        HDC dc = ::GetDC(window);
        ::SetDIBitsToDevice(dc, 0, 0, DWORD(width), DWORD(height), 0, 0, 0, UINT(height), pixels.data(), &info,
                            DIB_RGB_COLORS);
        ::ReleaseDC(window, dc);
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            ::DispatchMessageA(&msg);
        ::Sleep(kNoisePeriodMs);
    }
    ::DestroyWindow(window);
    return 0;
}

// Somewhere to type: a plain edit box and a password box on a light window.
int Keys(int width, int height, DWORD seconds)
{
    HWND window = ::CreateWindowExA(WS_EX_TOPMOST, "STATIC", "vorlux test keys", WS_POPUP | WS_VISIBLE, 0, 0, width,
                                    height, nullptr, nullptr, nullptr, nullptr);
    if (!window)
        return 1;
    HWND edit = ::CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL, 20, 120, 200, 24,
                                  window, reinterpret_cast<HMENU>(1), nullptr, nullptr);
    HWND password = ::CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_VISIBLE | WS_BORDER | ES_PASSWORD, 20, 170, 200,
                                      24, window, reinterpret_cast<HMENU>(2), nullptr, nullptr);
    if (!edit || !password)
        return 1;
    ::SetFocus(edit);
    const DWORD start = ::GetTickCount();
    while (::GetTickCount() - start < seconds * 1000) {
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
        ::Sleep(10);
    }
    ::DestroyWindow(window);
    return 0;
}

struct ControlSearch {
    int id;
    HWND found;
};

BOOL CALLBACK FindControl(HWND child, LPARAM param)
{
    auto* search = reinterpret_cast<ControlSearch*>(param);
    if (::GetDlgCtrlID(child) != search->id)
        return TRUE;
    search->found = child;
    return FALSE;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    const std::string mode = argv[1];
    if (mode == "hold" && argc == 4)
        return Hold(UINT(std::strtoul(argv[2], nullptr, 0)), DWORD(std::atoi(argv[3])));
    if (mode == "noise" && argc == 5)
        return Noise(std::atoi(argv[2]), std::atoi(argv[3]), DWORD(std::atoi(argv[4])));
    if (mode == "keys" && argc == 5)
        return Keys(std::atoi(argv[2]), std::atoi(argv[3]), DWORD(std::atoi(argv[4])));
    if (argc != 4)
        return 2;

    const char* caption = argv[2];
    if (mode == "text") {
        HWND box = WaitForWindow(caption, DWORD(std::atoi(argv[3])));
        if (!box)
            return 1;
        char text[2048] = {};
        ::GetDlgItemTextA(box, kMessageTextId, text, sizeof text);
        std::printf("%s\n", text);
        return 0;
    }
    HWND window = WaitForWindow(caption, 10);
    if (!window)
        return 1;
    const int number = std::atoi(argv[3]);
    if (mode == "control") {
        ControlSearch search{number, nullptr};
        ::EnumChildWindows(window, &FindControl, reinterpret_cast<LPARAM>(&search));
        if (!search.found)
            return 1;
        std::printf("%s\n", TextOf(search.found).c_str());
        return 0;
    }
    if (mode == "press")
        return ::PostMessageA(window, WM_COMMAND, MAKEWPARAM(number, BN_CLICKED), 0) ? 0 : 1;
    if (mode == "post")
        return ::PostMessageA(window, UINT(number), 0, 0) ? 0 : 1;
    return 2;
}
