#pragma once
// One move-only owner per platform release call. A handle that is used but not owned is a
// plain member marked "not owned" instead.

#include <windows.h>

#include <utility>

template <typename T, typename Traits>
class ScopedHandle {
public:
    ScopedHandle() = default;
    explicit ScopedHandle(T h) : h_(h) {}
    ~ScopedHandle() { reset(); }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    ScopedHandle(ScopedHandle&& o) noexcept : h_(o.release()) {}
    ScopedHandle& operator=(ScopedHandle&& o) noexcept
    {
        if (this != &o)
            reset(o.release());
        return *this;
    }

    T get() const { return h_; }
    explicit operator bool() const { return Traits::IsValid(h_); }
    T release() { return std::exchange(h_, Traits::Invalid()); }
    void reset(T h = Traits::Invalid())
    {
        if (Traits::IsValid(h_))
            Traits::Close(h_);
        h_ = h;
    }

private:
    T h_ = Traits::Invalid();
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

using ScopedKernelHandle = ScopedHandle<HANDLE, KernelHandleTraits>;
using ScopedFile = ScopedHandle<HANDLE, FileHandleTraits>;
using ScopedCreatedDC = ScopedHandle<HDC, CreatedDCTraits>;
using ScopedRegKey = ScopedHandle<HKEY, RegKeyTraits>;
using ScopedLocalMem = ScopedHandle<HLOCAL, LocalMemTraits>;

template <typename T>
class ScopedGdiObject : public ScopedHandle<HGDIOBJ, GdiObjectTraits> {
public:
    ScopedGdiObject() = default;
    explicit ScopedGdiObject(T h) : ScopedHandle(h) {}
    T get() const { return static_cast<T>(ScopedHandle::get()); }
};

// GetDC/ReleaseDC: keeps the window the context belongs to.
class ScopedWindowDC {
public:
    explicit ScopedWindowDC(HWND wnd) : wnd_(wnd), dc_(::GetDC(wnd)) {}
    ~ScopedWindowDC()
    {
        if (dc_)
            ::ReleaseDC(wnd_, dc_);
    }
    ScopedWindowDC(const ScopedWindowDC&) = delete;
    ScopedWindowDC& operator=(const ScopedWindowDC&) = delete;
    HDC get() const { return dc_; }
    explicit operator bool() const { return dc_ != nullptr; }

private:
    HWND wnd_;  // not owned
    HDC dc_;
};

// Selects an object into a context and restores the previous selection.
class ScopedSelect {
public:
    ScopedSelect(HDC dc, HGDIOBJ obj) : dc_(dc), prev_(obj ? ::SelectObject(dc, obj) : nullptr) {}
    ~ScopedSelect()
    {
        if (prev_ && prev_ != HGDI_ERROR)
            ::SelectObject(dc_, prev_);
    }
    ScopedSelect(const ScopedSelect&) = delete;
    ScopedSelect& operator=(const ScopedSelect&) = delete;

private:
    HDC dc_;         // not owned
    HGDIOBJ prev_;   // not owned
};
