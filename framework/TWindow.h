#pragma once
// Base of every framework window: a static procedure finds the object through GWLP_USERDATA
// and hands each message to one virtual switch. Made and run on one thread (UI thread); any
// thread may ask for the handle or destroy the window.

#include <windows.h>

#include <atomic>

class TWindow {
public:
    TWindow() = default;
    virtual ~TWindow();
    TWindow(const TWindow&) = delete;
    TWindow& operator=(const TWindow&) = delete;

    // Registers the class on first use. False when the class or the window cannot be made,
    // or when SetupWindow refused.
    bool Create(HWND parent, const char* title, DWORD style, DWORD exStyle, const RECT& place,
                HINSTANCE instance);
    // False when there is no window. A window of another thread cannot be destroyed from here:
    // it is let go of and asked to close, which its own thread then does.
    bool Destroy();
    // Null before Create and once the window is gone, whoever destroyed it. Any thread.
    HWND Handle() const { return hwnd.load(); }
    void Show(int command) const { ::ShowWindow(Handle(), command); }

protected:
    virtual const char* ClassName() const { return "TWindow"; }
    virtual void FillClass(WNDCLASSEXA& wc) const { (void)wc; }
    virtual LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);
    // Runs at WM_CREATE, the window and its children-to-be ready for use; false fails Create.
    virtual bool SetupWindow() { return true; }
    // Runs at WM_DESTROY.
    virtual void CleanupWindow() {}
    LRESULT DefaultProc(UINT message, WPARAM wparam, LPARAM lparam);

private:
    static LRESULT CALLBACK Procedure(HWND wnd, UINT message, WPARAM wparam, LPARAM lparam);
    std::atomic<HWND> hwnd{nullptr};
};
