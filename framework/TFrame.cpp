#include "framework/TFrame.h"

TSDIDecFrame::TSDIDecFrame(const char* title, std::unique_ptr<TWindow> client, int iconId)
    : title(title), client(std::move(client)), iconId(iconId)
{
}

bool TSDIDecFrame::Create(HINSTANCE moduleInstance)
{
    instance = moduleInstance;
    RECT place{CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT};
    return TWindow::Create(nullptr, title.c_str(), WS_OVERLAPPEDWINDOW, 0, place, instance);
}

void TSDIDecFrame::FillClass(WNDCLASSEXA& wc) const
{
    wc.hIcon = static_cast<HICON>(::LoadImageA(wc.hInstance, MAKEINTRESOURCEA(iconId), IMAGE_ICON,
                                               ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON), 0));
    wc.hIconSm = static_cast<HICON>(::LoadImageA(wc.hInstance, MAKEINTRESOURCEA(iconId), IMAGE_ICON,
                                                 ::GetSystemMetrics(SM_CXSMICON),
                                                 ::GetSystemMetrics(SM_CYSMICON), 0));
}

LRESULT TSDIDecFrame::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_CREATE:
        return OnCreate() ? 0 : -1;
    case WM_SIZE:
        OnSize(LOWORD(lparam), HIWORD(lparam));
        return 0;
    case WM_COMMAND:
    case WM_HELP:
        return ForwardToClient(message, wparam, lparam);
    case WM_DESTROY:
        // The frame is the program's last window: without it the message loop has nothing to run.
        ::PostQuitMessage(0);
        return 0;
    }
    return TWindow::HandleMessage(message, wparam, lparam);
}

bool TSDIDecFrame::OnCreate()
{
    RECT area{};
    ::GetClientRect(Handle(), &area);
    return client->Create(Handle(), "", WS_CHILD | WS_VISIBLE, 0, area, instance);
}

void TSDIDecFrame::OnSize(int width, int height)
{
    if (client->Handle())
        ::MoveWindow(client->Handle(), 0, 0, width, height, TRUE);
}

LRESULT TSDIDecFrame::ForwardToClient(UINT message, WPARAM wparam, LPARAM lparam)
{
    if (!client->Handle())
        return 0;
    return ::SendMessageA(client->Handle(), message, wparam, lparam);
}
