#pragma once
// What the tests that read the screen back share: per-monitor DPI awareness, pumping messages
// for a while, and a cursor whose drawing is easy to find in a frame.

#include <windows.h>

#include <cstdint>
#include <vector>

// Physical pixels everywhere, as the program sees them.
inline void SetDpiAware()
{
    // Windows 10's DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2, beyond the Windows 7 headers.
    using SetContextFn = BOOL(WINAPI*)(HANDLE);
    const auto perMonitorV2 = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4));
    HMODULE user = ::GetModuleHandleA("user32.dll");
    auto setContext = reinterpret_cast<SetContextFn>(
        reinterpret_cast<void*>(::GetProcAddress(user, "SetProcessDpiAwarenessContext")));
    if (!setContext || !setContext(perMonitorV2))
        ::SetProcessDPIAware();
}

// Dispatches whatever arrives for `ms` milliseconds.
inline void PumpMessages(DWORD ms)
{
    const DWORD end = ::GetTickCount() + ms;
    do {
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
        ::Sleep(5);
    } while (int32_t(::GetTickCount() - end) < 0);
}

// A 32x32 cursor: a black block of 11x15 pixels in its top-left corner, hot spot (5, 7).
constexpr int kCursorSize = 32;
constexpr POINT kHotSpot{5, 7};
constexpr int kBlockWidth = 11;
constexpr int kBlockHeight = 15;

inline HCURSOR MakeBlockCursor()
{
    std::vector<uint8_t> andMask(kCursorSize * kCursorSize / 8, 0xFF);
    std::vector<uint8_t> xorMask(kCursorSize * kCursorSize / 8, 0x00);
    for (int y = 0; y < kBlockHeight; ++y)
        for (int x = 0; x < kBlockWidth; ++x)
            andMask[y * kCursorSize / 8 + x / 8] &= uint8_t(~(0x80 >> (x % 8)));
    return ::CreateCursor(::GetModuleHandleA(nullptr), kHotSpot.x, kHotSpot.y, kCursorSize, kCursorSize,
                          andMask.data(), xorMask.data());
}
