#pragma once
// What the click tests under Wine share: a window of the test's own in one flat colour that
// notes the presses it receives, message pumping, DPI awareness, a directory both Windows and
// Unix programs see, and running Unix programs (xdotool, ffmpeg) to completion.

#include "framework/Scoped.h"
#include "tests/support/ScreenRig.h"

#include <windows.h>

#include <mmsystem.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace click_test {

// Pumps until `done` holds or `ms` have passed; true when it held.
template <typename Pred>
bool PumpUntil(Pred done, DWORD ms)
{
    const DWORD end = ::GetTickCount() + ms;
    while (!done()) {
        if (int32_t(::GetTickCount() - end) >= 0)
            return false;
        PumpMessages(10);
    }
    return true;
}

// A top-most pop-up in one colour. A left press switches it to `pressedColour`, so that a frame
// shows whether it was grabbed after the window saw the press.
class FlatWindow {
public:
    FlatWindow(const RECT& r, COLORREF colour, COLORREF pressedColour, HCURSOR cursor)
        : colour(colour), pressedColour(pressedColour)
    {
        static const char* kClass = [] {
            WNDCLASSA wc{};
            wc.lpfnWndProc = &FlatWindow::Proc;
            wc.hInstance = ::GetModuleHandleA(nullptr);
            wc.lpszClassName = "ClickTestWindow";
            ::RegisterClassA(&wc);
            return "ClickTestWindow";
        }();
        window = ::CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kClass, "click test", WS_POPUP | WS_VISIBLE,
                                   r.left, r.top, r.right - r.left, r.bottom - r.top, nullptr, nullptr,
                                   ::GetModuleHandleA(nullptr), this);
        if (window && cursor)
            ::SetClassLongPtrA(window, GCLP_HCURSOR, LONG_PTR(cursor));
        PumpMessages(100);
    }
    ~FlatWindow()
    {
        if (window)
            ::DestroyWindow(window);
    }
    FlatWindow(const FlatWindow&) = delete;
    FlatWindow& operator=(const FlatWindow&) = delete;

    HWND Handle() const { return window; }
    int Presses() const { return presses.load(); }
    DWORD FirstPressTime() const { return firstPress.load(); }  // timeGetTime of the first left press

private:
    static LRESULT CALLBACK Proc(HWND wnd, UINT message, WPARAM wp, LPARAM lp)
    {
        if (message == WM_NCCREATE)
            ::SetWindowLongPtrA(wnd, GWLP_USERDATA,
                                LONG_PTR(reinterpret_cast<CREATESTRUCTA*>(lp)->lpCreateParams));
        auto* self = reinterpret_cast<FlatWindow*>(::GetWindowLongPtrA(wnd, GWLP_USERDATA));
        if (self) {
            switch (message) {
            case WM_LBUTTONDOWN:
            case WM_RBUTTONDOWN:
            case WM_MBUTTONDOWN:
                if (self->presses++ == 0)
                    self->firstPress = ::timeGetTime();
                if (message == WM_LBUTTONDOWN) {
                    self->pressed = true;
                    ::InvalidateRect(wnd, nullptr, TRUE);
                }
                return 0;
            case WM_ERASEBKGND:
                return 1;
            case WM_PAINT: {
                PAINTSTRUCT ps;
                HDC dc = ::BeginPaint(wnd, &ps);
                ScopedGdiObject<HBRUSH> brush(::CreateSolidBrush(self->pressed ? self->pressedColour : self->colour));
                RECT all;
                ::GetClientRect(wnd, &all);
                ::FillRect(dc, &all, brush.get());
                ::EndPaint(wnd, &ps);
                return 0;
            }
            }
        }
        return ::DefWindowProcA(wnd, message, wp, lp);
    }

    HWND window = nullptr;
    COLORREF colour;
    COLORREF pressedColour;
    bool pressed = false;
    std::atomic<int> presses{0};
    std::atomic<DWORD> firstPress{0};
};

// The same directory seen from both sides: Wine maps Z: to the Unix root.
struct TempDir {
    explicit TempDir(const std::string& name)
    {
        unix = "/tmp/vorlux-" + name + "-" + std::to_string(::GetCurrentProcessId());
        windows = "Z:" + unix;
        for (char& c : windows)
            c = c == '/' ? '\\' : c;
        ::CreateDirectoryA(windows.c_str(), nullptr);
    }
    ~TempDir()
    {
        WIN32_FIND_DATAA found;
        HANDLE h = ::FindFirstFileA((windows + "\\*").c_str(), &found);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                ::DeleteFileA((windows + "\\" + found.cFileName).c_str());
            } while (::FindNextFileA(h, &found));
            ::FindClose(h);
        }
        ::RemoveDirectoryA(windows.c_str());
    }
    std::string Windows(const std::string& file) const { return windows + "\\" + file; }
    std::string Unix(const std::string& file) const { return unix + "/" + file; }

    std::string unix;
    std::string windows;
};

inline std::vector<uint8_t> ReadFile(const std::string& windowsPath)
{
    std::ifstream in(windowsPath, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs a shell script as a Unix process (Wine starts ELF files as such) and waits for it while
// pumping this thread's messages. Such a process gives Wine no handle to wait on, so the script
// leaves its exit status in a file that appears by rename once it is complete. The script must
// not contain double quotes. Returns the exit status, or -1 when it did not finish in time.
inline int RunShell(const TempDir& dir, const std::string& script, DWORD timeoutMs = 60000)
{
    static int runs = 0;
    const std::string status = "status" + std::to_string(++runs);
    const std::string line = "/bin/sh -c \"" + script + "; echo $? > " + dir.Unix(status) + ".tmp; mv " +
                             dir.Unix(status) + ".tmp " + dir.Unix(status) + "\"";
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    std::string mutableLine = line;
    if (!::CreateProcessA("/bin/sh", mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return -1;
    ScopedKernelHandle process(pi.hProcess);
    ScopedKernelHandle thread(pi.hThread);
    const std::string done = dir.Windows(status);
    if (!PumpUntil([&] { return ::GetFileAttributesA(done.c_str()) != INVALID_FILE_ATTRIBUTES; }, timeoutMs))
        return -1;
    const std::vector<uint8_t> text = ReadFile(done);
    return text.empty() ? -1 : std::atoi(std::string(text.begin(), text.end()).c_str());
}

}  // namespace click_test
