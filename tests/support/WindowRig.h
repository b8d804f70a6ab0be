#pragma once
// What the window tests share: pumping messages, reading controls and rectangles, mouse input
// and Wine's window management for a test program of its own. UI thread.

#include <windows.h>

#include <functional>
#include <string>

// Dispatches what is queued now.
inline void Pump()
{
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
}

// Dispatches until nothing has arrived for a while (at most 5 s): X events reach Wine
// asynchronously. Keys for a dialog go through its navigation, as in its modal loop.
inline void PumpUntilQuiet()
{
    constexpr DWORD kQuietMs = 150;
    constexpr DWORD kLongestMs = 5000;
    constexpr DWORD kNapMs = 5;
    DWORD quietSince = ::GetTickCount();
    const DWORD start = quietSince;
    while (::GetTickCount() - quietSince < kQuietMs && ::GetTickCount() - start < kLongestMs) {
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (!::IsDialogMessageA(::GetActiveWindow(), &msg)) {
                ::TranslateMessage(&msg);
                ::DispatchMessageA(&msg);
            }
            quietSince = ::GetTickCount();
        }
        ::Sleep(kNapMs);
    }
}

// Dispatches until `done` holds; false when it still does not after `longestMs`.
inline bool PumpUntil(const std::function<bool()>& done, DWORD longestMs = 5000)
{
    const DWORD start = ::GetTickCount();
    while (!done()) {
        const DWORD gone = ::GetTickCount() - start;
        if (gone >= longestMs)
            return false;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, longestMs - gone, QS_ALLINPUT);
        Pump();
    }
    return true;
}

// A control's text, cut at 511 characters.
inline std::string ItemText(HWND dialog, int id)
{
    char text[512] = {};
    ::GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

inline void Click(HWND dialog, int id)
{
    ::SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)));
}

inline bool SameRect(const RECT& a, const RECT& b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

inline std::string Show(const RECT& r)
{
    return "(" + std::to_string(r.left) + ", " + std::to_string(r.top) + ", " + std::to_string(r.right) + ", " +
           std::to_string(r.bottom) + ")";
}

inline RECT WindowRect(HWND wnd)
{
    RECT r{};
    ::GetWindowRect(wnd, &r);
    return r;
}

// The temporary directory, without the closing backslash.
inline std::string TempDirectory()
{
    char path[MAX_PATH] = {};
    const DWORD n = ::GetTempPathA(sizeof path, path);
    std::string directory(path, n < sizeof path ? n : 0);
    if (!directory.empty() && directory.back() == '\\')
        directory.pop_back();
    return directory;
}

// A class of this program's for a stand-in window.
inline void RegisterTestClass(const char* name, WNDPROC procedure)
{
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = procedure;
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.lpszClassName = name;
    ::RegisterClassExA(&wc);
}

// The mouse, as the user moves it, at a screen position.
inline void SendMouse(DWORD flags, int x, int y)
{
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = x * 65535 / (::GetSystemMetrics(SM_CXSCREEN) - 1);
    input.mi.dy = y * 65535 / (::GetSystemMetrics(SM_CYSCREEN) - 1);
    input.mi.dwFlags = flags | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    ::SendInput(1, &input, sizeof input);
}

// True when this program's file is named `program` (such as "framer_tests.exe").
inline bool RunningAs(const char* program)
{
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string file(path);
    const std::string name(program);
    return file.size() >= name.size() && file.compare(file.size() - name.size(), name.size(), name) == 0;
}

// Xvfb runs no window manager, and Wine waits seconds for one whenever a managed window is
// unmapped, as the framer is when it steps aside to paint. For `program` only, Wine is told to
// manage no window; it must happen before the program's first window exists.
inline void LeaveWindowsUnmanaged(const char* program)
{
    const std::string key = std::string("Software\\Wine\\AppDefaults\\") + program + "\\X11 Driver";
    HKEY handle = nullptr;
    if (::RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle, nullptr) !=
        ERROR_SUCCESS)
        return;
    ::RegSetValueExA(handle, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2);
    ::RegCloseKey(handle);
}
