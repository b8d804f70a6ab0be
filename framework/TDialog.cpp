#include "framework/TDialog.h"

INT_PTR TDialogBase::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_INITDIALOG:
        return SetupWindow() ? TRUE : FALSE;
    case WM_COMMAND:
        return OnCommand(LOWORD(wparam), HIWORD(wparam), reinterpret_cast<HWND>(lparam));
    case WM_NOTIFY:
        return OnNotify(static_cast<int>(wparam), reinterpret_cast<NMHDR*>(lparam));
    case WM_HELP:
        return OnHelp(reinterpret_cast<const HELPINFO*>(lparam));
    case WM_DESTROY:
        CleanupWindow();
        return FALSE;
    }
    return FALSE;
}

bool TDialogBase::OnCommand(int, int, HWND)
{
    return false;
}

bool TDialogBase::OnNotify(int, NMHDR*)
{
    return false;
}

bool TDialogBase::OnHelp(const HELPINFO*)
{
    return false;
}

INT_PTR TDialogBase::Dispatch(TDialogBase* self, HWND wnd, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_INITDIALOG) {
        self->hwnd = wnd;
        ::SetWindowLongPtrA(wnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
        // Should it fail, F1 opens the help's contents instead: nothing else depends on it.
        [[maybe_unused]] BOOL contextSet = ::SetWindowContextHelpId(wnd, DialogHelpContext(self->resourceId));
    }
    if (!self)
        return FALSE;
    INT_PTR result = self->HandleMessage(message, wparam, lparam);
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrA(wnd, DWLP_USER, 0);
        self->hwnd = nullptr;
    }
    return result;
}

INT_PTR TDialog::Execute()
{
    return ::DialogBoxParamA(Instance(), MAKEINTRESOURCEA(ResourceId()), Parent(), Procedure,
                             reinterpret_cast<LPARAM>(this));
}

bool TDialog::OnCommand(int id, int, HWND)
{
    if (id == IDOK || id == IDCANCEL) {
        CloseWindow(id);
        return true;
    }
    return false;
}

INT_PTR CALLBACK TDialog::Procedure(HWND wnd, UINT message, WPARAM wparam, LPARAM lparam)
{
    auto* self = message == WM_INITDIALOG ? reinterpret_cast<TDialog*>(lparam)
                                          : reinterpret_cast<TDialog*>(::GetWindowLongPtrA(wnd, DWLP_USER));
    return Dispatch(self, wnd, message, wparam, lparam);
}

TPropertyPage::TPropertyPage(int resourceId, HINSTANCE instance, bool hasHelp)
    : TDialogBase(nullptr, resourceId, instance)
{
    description.dwSize = sizeof description;
    description.dwFlags = hasHelp ? PSP_HASHELP : PSP_DEFAULT;
    description.hInstance = instance;
    description.pszTemplate = MAKEINTRESOURCEA(resourceId);
    description.pfnDlgProc = Procedure;
    description.lParam = reinterpret_cast<LPARAM>(this);
}

bool TPropertyPage::OnNotify(int, NMHDR* header)
{
    if (header->code == PSN_HELP) {
        OnSheetHelp();
        return true;
    }
    return false;
}

bool TPropertyPage::OnHelp(const HELPINFO* info)
{
    if (HWND owner = SheetOwner())
        ::SendMessageA(owner, WM_HELP, 0, reinterpret_cast<LPARAM>(info));
    return true;
}

HWND TPropertyPage::SheetOwner() const
{
    return ::GetWindow(Sheet(), GW_OWNER);
}

INT_PTR CALLBACK TPropertyPage::Procedure(HWND wnd, UINT message, WPARAM wparam, LPARAM lparam)
{
    TPropertyPage* self = nullptr;
    if (message == WM_INITDIALOG)
        self = reinterpret_cast<TPropertyPage*>(reinterpret_cast<PROPSHEETPAGEA*>(lparam)->lParam);
    else
        self = reinterpret_cast<TPropertyPage*>(::GetWindowLongPtrA(wnd, DWLP_USER));
    return Dispatch(self, wnd, message, wparam, lparam);
}
