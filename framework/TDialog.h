#pragma once
// Dialog windows: modal dialogs and property pages share one message switch. The dialog
// procedure finds the object through DWLP_USER, set at WM_INITDIALOG. UI thread.

#include <windows.h>

#include <commctrl.h>

// The help context a dialog carries for F1: its template's id above 0x20000, the numbering help
// authoring tools give dialogs. Set on every dialog and page when it is created.
inline constexpr DWORD kDialogHelpContextBase = 0x20000;
constexpr DWORD DialogHelpContext(int dialogId)
{
    return kDialogHelpContextBase + static_cast<DWORD>(dialogId);
}

class TDialogBase {
public:
    TDialogBase(HWND parent, int resourceId, HINSTANCE instance)
        : parent(parent), resourceId(resourceId), instance(instance) {}
    virtual ~TDialogBase() = default;
    TDialogBase(const TDialogBase&) = delete;
    TDialogBase& operator=(const TDialogBase&) = delete;

    HWND Handle() const { return hwnd; }
    HWND Item(int id) const { return ::GetDlgItem(hwnd, id); }
    int ResourceId() const { return resourceId; }
    HINSTANCE Instance() const { return instance; }

protected:
    // The switch. Answers as a dialog procedure: TRUE when handled (see DWLP_MSGRESULT).
    virtual INT_PTR HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);
    // WM_INITDIALOG; the controls exist. True lets the platform set the focus.
    virtual bool SetupWindow() { return true; }
    virtual void CleanupWindow() {}
    // True when handled.
    virtual bool OnCommand(int id, int code, HWND control);
    virtual bool OnNotify(int id, NMHDR* header);
    virtual bool OnHelp(const HELPINFO* info);
    void SetResult(LRESULT result) { ::SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, result); }
    HWND Parent() const { return parent; }

    // Called by the derived classes' procedures once they know the object.
    static INT_PTR Dispatch(TDialogBase* self, HWND wnd, UINT message, WPARAM wparam, LPARAM lparam);

private:
    HWND parent;  // not owned
    int resourceId;
    HINSTANCE instance;
    HWND hwnd = nullptr;
};

// A modal dialog from a template.
class TDialog : public TDialogBase {
public:
    using TDialogBase::TDialogBase;
    // The value given to CloseWindow, or -1 when the dialog could not be created.
    INT_PTR Execute();

protected:
    bool OnCommand(int id, int code, HWND control) override;
    void CloseWindow(INT_PTR result) { ::EndDialog(Handle(), result); }

private:
    static INT_PTR CALLBACK Procedure(HWND wnd, UINT message, WPARAM wparam, LPARAM lparam);
};

// One page of a property sheet; its window exists from the first time its tab is shown.
class TPropertyPage : public TDialogBase {
public:
    TPropertyPage(int resourceId, HINSTANCE instance, bool hasHelp);
    // Filled for the sheet; valid while the object lives.
    const PROPSHEETPAGEA& Description() const { return description; }
    HWND Sheet() const { return ::GetParent(Handle()); }

protected:
    bool OnNotify(int id, NMHDR* header) override;
    // The platform's help request goes to the window that owns the sheet.
    bool OnHelp(const HELPINFO* info) override;
    // The sheet's Help button while this page is shown.
    virtual void OnSheetHelp() {}
    HWND SheetOwner() const;

private:
    static INT_PTR CALLBACK Procedure(HWND wnd, UINT message, WPARAM wparam, LPARAM lparam);
    PROPSHEETPAGEA description{};
};
