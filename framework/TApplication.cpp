#include "framework/TApplication.h"

TApplication::TApplication(const char* name, HINSTANCE instance) : name_(name), instance_(instance) {}

TApplication::~TApplication() = default;

int TApplication::Run()
{
    mainWindow_ = InitMainWindow();
    if (!mainWindow_ || !mainWindow_->Create(instance_))
        return -1;
    mainWindow_->Show(showState_);
    MSG msg{};
    BOOL got;
    while ((got = ::GetMessageA(&msg, nullptr, 0, 0)) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
    mainWindow_.reset();
    return got == 0 ? static_cast<int>(msg.wParam) : -1;
}

void THelpFileManager::ShowHelp(const HELPINFO* info)
{
    if (info) {
        for (const Context& c : contexts_) {
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
    ::WinHelpA(owner, helpFile_.c_str(), command, data);
}
