#pragma once
// One move-only owner per platform release call. A handle that is used but not owned is a
// plain member marked "not owned" instead.

#include <windows.h>

#include <mmsystem.h>

#include <utility>

template <typename T, typename Traits>
class ScopedHandle {
public:
    ScopedHandle() = default;
    explicit ScopedHandle(T owned) : handle(owned) {}
    ~ScopedHandle() { reset(); }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    ScopedHandle(ScopedHandle&& o) noexcept : handle(o.release()) {}
    ScopedHandle& operator=(ScopedHandle&& o) noexcept
    {
        if (this != &o)
            reset(o.release());
        return *this;
    }

    T get() const { return handle; }
    explicit operator bool() const { return Traits::IsValid(handle); }
    T release() { return std::exchange(handle, Traits::Invalid()); }
    void reset(T other = Traits::Invalid())
    {
        if (Traits::IsValid(handle))
            Traits::Close(handle);
        handle = other;
    }

private:
    T handle = Traits::Invalid();
};

struct KernelHandleTraits {  // CloseHandle; null means none
    static HANDLE Invalid() { return nullptr; }
    static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { ::CloseHandle(h); }
};
struct FileHandleTraits {  // CloseHandle; CreateFile's failure value is INVALID_HANDLE_VALUE
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { ::CloseHandle(h); }
};
struct GdiObjectTraits {  // DeleteObject
    static HGDIOBJ Invalid() { return nullptr; }
    static bool IsValid(HGDIOBJ h) { return h != nullptr; }
    static void Close(HGDIOBJ h) { ::DeleteObject(h); }
};
struct CreatedDCTraits {  // DeleteDC, for CreateDC and CreateCompatibleDC
    static HDC Invalid() { return nullptr; }
    static bool IsValid(HDC h) { return h != nullptr; }
    static void Close(HDC h) { ::DeleteDC(h); }
};
struct RegKeyTraits {  // RegCloseKey
    static HKEY Invalid() { return nullptr; }
    static bool IsValid(HKEY h) { return h != nullptr; }
    static void Close(HKEY h) { ::RegCloseKey(h); }
};
struct LocalMemTraits {  // LocalFree
    static HLOCAL Invalid() { return nullptr; }
    static bool IsValid(HLOCAL h) { return h != nullptr; }
    static void Close(HLOCAL h) { ::LocalFree(h); }
};
struct WaveInTraits {  // waveInClose
    static HWAVEIN Invalid() { return nullptr; }
    static bool IsValid(HWAVEIN h) { return h != nullptr; }
    static void Close(HWAVEIN h) { ::waveInClose(h); }
};

struct IconTraits {  // DestroyIcon, for icons loaded at a chosen size
    static HICON Invalid() { return nullptr; }
    static bool IsValid(HICON h) { return h != nullptr; }
    static void Close(HICON h) { ::DestroyIcon(h); }
};
struct MenuTraits {  // DestroyMenu
    static HMENU Invalid() { return nullptr; }
    static bool IsValid(HMENU h) { return h != nullptr; }
    static void Close(HMENU h) { ::DestroyMenu(h); }
};

using ScopedKernelHandle = ScopedHandle<HANDLE, KernelHandleTraits>;
using ScopedFile = ScopedHandle<HANDLE, FileHandleTraits>;
using ScopedCreatedDC = ScopedHandle<HDC, CreatedDCTraits>;
using ScopedRegKey = ScopedHandle<HKEY, RegKeyTraits>;
using ScopedLocalMem = ScopedHandle<HLOCAL, LocalMemTraits>;
using ScopedIcon = ScopedHandle<HICON, IconTraits>;
using ScopedMenu = ScopedHandle<HMENU, MenuTraits>;
using ScopedWaveIn = ScopedHandle<HWAVEIN, WaveInTraits>;

template <typename T>
class ScopedGdiObject : public ScopedHandle<HGDIOBJ, GdiObjectTraits> {
public:
    ScopedGdiObject() = default;
    explicit ScopedGdiObject(T owned) : ScopedHandle(owned) {}
    T get() const { return static_cast<T>(ScopedHandle::get()); }
};

// GetDC or GetWindowDC, then ReleaseDC: keeps the window the context belongs to.
class ScopedWindowDC {
public:
    enum Area {
        Client,  // GetDC: the client area; a null window gives the screen
        Whole,   // GetWindowDC: the whole window, frame included
    };
    explicit ScopedWindowDC(HWND window, Area area = Client)
        : wnd(window), dc(area == Whole ? ::GetWindowDC(window) : ::GetDC(window))
    {
    }
    ~ScopedWindowDC()
    {
        if (dc)
            ::ReleaseDC(wnd, dc);
    }
    ScopedWindowDC(const ScopedWindowDC&) = delete;
    ScopedWindowDC& operator=(const ScopedWindowDC&) = delete;
    HDC get() const { return dc; }
    explicit operator bool() const { return dc != nullptr; }

private:
    HWND wnd;  // not owned
    HDC dc;
};

// BeginPaint/EndPaint.
class ScopedPaint {
public:
    explicit ScopedPaint(HWND window) : wnd(window), dc(::BeginPaint(window, &ps)) {}
    ~ScopedPaint() { ::EndPaint(wnd, &ps); }
    ScopedPaint(const ScopedPaint&) = delete;
    ScopedPaint& operator=(const ScopedPaint&) = delete;
    HDC get() const { return dc; }

private:
    HWND wnd;  // not owned
    PAINTSTRUCT ps{};
    HDC dc;
};

// Selects an object into a context and restores the previous selection.
class ScopedSelect {
public:
    ScopedSelect(HDC context, HGDIOBJ obj) : dc(context), prev(obj ? ::SelectObject(context, obj) : nullptr) {}
    ~ScopedSelect()
    {
        if (prev && prev != HGDI_ERROR)
            ::SelectObject(dc, prev);
    }
    ScopedSelect(const ScopedSelect&) = delete;
    ScopedSelect& operator=(const ScopedSelect&) = delete;

private:
    HDC dc;         // not owned
    HGDIOBJ prev;   // not owned
};
