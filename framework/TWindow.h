#pragma once
// Base of every framework window: a static procedure finds the object through GWLP_USERDATA
// and hands each message to one virtual switch. UI thread.

#include <windows.h>

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
    HWND Handle() const { return hwnd; }
    void Show(int command) const { ::ShowWindow(hwnd, command); }

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
    HWND hwnd = nullptr;
};
