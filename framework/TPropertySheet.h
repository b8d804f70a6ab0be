#pragma once
// A comctl32 property sheet, modal or modeless, whose window is subclassed so that the sheet
// object sees its messages through one switch, with set-up, clean-up and close-query hooks.
// UI thread.

#include "framework/TDialog.h"

#include <string>
#include <vector>

class TPropertySheet {
public:
    TPropertySheet(HWND parent, const char* caption, HINSTANCE instance);
    virtual ~TPropertySheet();
    TPropertySheet(const TPropertySheet&) = delete;
    TPropertySheet& operator=(const TPropertySheet&) = delete;

    // Pages join in tab order before the sheet is created; the caller keeps them alive.
    void AddPage(TPropertyPage& page) { pages.push_back(&page); }
    // Runs the sheet modally; the platform's result, or -1 when it could not be created.
    INT_PTR Execute();
    // Creates the sheet modeless. The owner pumps messages and calls Destroy.
    bool Create();
    void Destroy();
    HWND Handle() const { return hwnd; }
    HINSTANCE Instance() const { return instance; }
    HWND Parent() const { return parent; }

protected:
    virtual LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);
    // The window and its first page exist.
    virtual void SetupWindow() {}
    // The window is about to be destroyed.
    virtual void CleanupWindow() {}
    // Asked before OK, Cancel or the close box end the sheet; false keeps it open.
    virtual bool CanClose() { return true; }
    LRESULT DefaultProc(UINT message, WPARAM wparam, LPARAM lparam);

private:
    INT_PTR Start(DWORD extraFlags);
    static int CALLBACK SheetCallback(HWND wnd, UINT message, LPARAM lparam);
    static LRESULT CALLBACK Subclass(HWND wnd, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR id,
                                     DWORD_PTR data);
    bool IsCloseRequest(UINT message, WPARAM wparam) const;

    HWND parent;  // not owned
    std::string caption;
    HINSTANCE instance;
    std::vector<TPropertyPage*> pages;  // not owned
    HWND hwnd = nullptr;
};
