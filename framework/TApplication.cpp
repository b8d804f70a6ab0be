#include "framework/TApplication.h"

TApplication::TApplication(const char* name, HINSTANCE instance) : name(name), instance(instance) {}

TApplication::~TApplication() = default;

int TApplication::Run()
{
    mainWindow = InitMainWindow();
    if (!mainWindow || !mainWindow->Create(instance))
        return -1;
    mainWindow->Show(showState);
    MSG msg{};
    BOOL got;
    while ((got = ::GetMessageA(&msg, nullptr, 0, 0)) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
    mainWindow.reset();
    return got == 0 ? static_cast<int>(msg.wParam) : -1;
}

void THelpFileManager::ShowHelp(const HELPINFO* info)
{
    if (info) {
        for (const Context& c : contexts) {
            if (c.id == info->iCtrlId) {
                CallHelp(nullptr, HELP_CONTEXTPOPUP, c.context);
                break;
            }
        }
    }
    CallHelp(nullptr, HELP_CONTENTS, 0);
}

void THelpFileManager::CallHelp(HWND owner, UINT command, ULONG_PTR data)
{
    ::WinHelpA(owner, helpFile.c_str(), command, data);
}
