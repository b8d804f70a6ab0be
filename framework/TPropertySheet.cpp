#include "framework/TPropertySheet.h"

namespace {
// The platform's sheet callback carries no user data: the sheet being created on this thread.
thread_local TPropertySheet* creating = nullptr;
constexpr UINT_PTR kSubclassId = 1;
}  // namespace

TPropertySheet::TPropertySheet(HWND parent, const char* caption, HINSTANCE instance)
    : parent(parent), caption(caption), instance(instance)
{
}

TPropertySheet::~TPropertySheet()
{
    Destroy();
}

INT_PTR TPropertySheet::Execute()
{
    return Start(0);
}

bool TPropertySheet::Create()
{
    return Start(PSH_MODELESS) > 0 && hwnd;
}

void TPropertySheet::Destroy()
{
    if (hwnd && ::IsWindow(hwnd))
        ::DestroyWindow(hwnd);
}

INT_PTR TPropertySheet::Start(DWORD extraFlags)
{
    if (pages.empty())
        return -1;
    std::vector<HPROPSHEETPAGE> handles;
    for (TPropertyPage* page : pages) {
        HPROPSHEETPAGE h = ::CreatePropertySheetPageA(&page->Description());
        if (!h) {
            for (HPROPSHEETPAGE made : handles)
                ::DestroyPropertySheetPage(made);
            return -1;
        }
        handles.push_back(h);
    }
    PROPSHEETHEADERA header{};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_NOAPPLYNOW | PSH_HASHELP | PSH_USECALLBACK | extraFlags;
    header.hwndParent = parent;
    header.hInstance = instance;
    header.pszCaption = caption.c_str();
    header.nPages = static_cast<UINT>(handles.size());
    header.phpage = handles.data();
    header.pfnCallback = SheetCallback;
    creating = this;
    INT_PTR result = ::PropertySheetA(&header);
    creating = nullptr;
    return result;
}

int CALLBACK TPropertySheet::SheetCallback(HWND wnd, UINT message, LPARAM)
{
    if (message == PSCB_INITIALIZED && creating) {
        TPropertySheet* self = creating;
        creating = nullptr;
        self->hwnd = wnd;
        ::SetWindowSubclass(wnd, Subclass, kSubclassId, reinterpret_cast<DWORD_PTR>(self));
        self->SetupWindow();
    }
    return 0;
}

LRESULT CALLBACK TPropertySheet::Subclass(HWND wnd, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR,
                                          DWORD_PTR data)
{
    auto* self = reinterpret_cast<TPropertySheet*>(data);
    if (message == WM_NCDESTROY) {
        ::RemoveWindowSubclass(wnd, Subclass, kSubclassId);
        self->hwnd = nullptr;
        return ::DefSubclassProc(wnd, message, wparam, lparam);
    }
    return self->HandleMessage(message, wparam, lparam);
}

bool TPropertySheet::IsCloseRequest(UINT message, WPARAM wparam) const
{
    switch (message) {
    case WM_COMMAND:
        return HIWORD(wparam) == BN_CLICKED && (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL);
    case WM_SYSCOMMAND:
        return (wparam & 0xFFF0) == SC_CLOSE;
    case WM_CLOSE:
        return true;
    }
    return false;
}

LRESULT TPropertySheet::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam)
{
    if (IsCloseRequest(message, wparam) && !CanClose())
        return 0;
    if (message == WM_DESTROY)
        CleanupWindow();
    return DefaultProc(message, wparam, lparam);
}

LRESULT TPropertySheet::DefaultProc(UINT message, WPARAM wparam, LPARAM lparam)
{
    return ::DefSubclassProc(hwnd, message, wparam, lparam);
}
