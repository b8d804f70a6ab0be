#include "app/VorMain.h"

#include "ids/Messages.h"
#include "ids/resource.h"
#include "framework/ResourceText.h"
#include "panel/PropSheet.h"

#include <cstring>

namespace {
constexpr size_t kProgramPathSize = 292;
constexpr const char* kHelpFileName = "vorlux95.hlp";
constexpr LONG kInstanceGuardMaximum = 10;
constexpr int kSecondCopyRefused = 1;
}  // namespace

std::string ProgramDirectoryFrom(const char* programPath)
{
    std::string path(programPath ? programPath : "");
    if (path.size() >= kProgramPathSize)
        path.resize(kProgramPathSize - 1);
    size_t cut = path.rfind('\\');
    if (cut != std::string::npos)
        path.resize(cut);
    return path;
}

std::string HelpFileFor(const std::string& programDirectory)
{
    return programDirectory + "\\" + kHelpFileName;
}

VorMainWindow::VorMainWindow(THelpFileManager& help, Prefs& prefs, HINSTANCE instance)
    : help(help), prefs(prefs), instance(instance)
{
}

LRESULT VorMainWindow::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case kMsgStartPanel:
        OnStartPanel();
        return 0;
    case WM_COMMAND:
        OnCommand(LOWORD(wparam));
        return 0;
    case WM_HELP:
        help.ShowHelp(reinterpret_cast<const HELPINFO*>(lparam));
        return TRUE;
    }
    return TWindow::HandleMessage(message, wparam, lparam);
}

bool VorMainWindow::SetupWindow()
{
    // The panel runs modally: start it from the message loop, not from inside CreateWindow.
    return ::PostMessageA(Handle(), kMsgStartPanel, 0, 0) != FALSE;
}

void VorMainWindow::OnStartPanel()
{
    PropSheet panel(Handle(), instance, prefs);
    std::string name = LoadText(instance, IDS_ALREADY_RUNNING);
    instanceGuard.reset(::OpenSemaphoreA(SEMAPHORE_ALL_ACCESS, TRUE, name.c_str()));
    if (!instanceGuard) {
        instanceGuard.reset(::CreateSemaphoreA(nullptr, 0, kInstanceGuardMaximum, name.c_str()));
    } else {
        std::string text = LoadText(instance, IDS_SECOND_COPY);
        if (::MessageBoxA(nullptr, text.c_str(), name.c_str(), MB_OKCANCEL) != IDOK) {
            ::PostQuitMessage(kSecondCopyRefused);
            return;
        }
    }
    panel.Execute();
    ::PostQuitMessage(0);
}

void VorMainWindow::OnCommand(int id)
{
    switch (id) {
    case kCmdHelpFinder:
        help.CallHelp(::GetParent(Handle()), HELP_FINDER, 0);
        break;
    case kCmdHelpMovie:
    case kCmdHelpDestinationSound:
    case kCmdHelpHotKeys:
        help.CallHelp(nullptr, HELP_CONTENTS, 0);
        break;
    }
}

VorMainApp::VorMainApp(HINSTANCE instance, Prefs& prefs) : TApplication(kName, instance), prefs(prefs) {}

std::unique_ptr<TSDIDecFrame> VorMainApp::InitMainWindow()
{
    SetShowState(SW_HIDE);
    return std::make_unique<TSDIDecFrame>(Name().c_str(),
                                          std::make_unique<VorMainWindow>(*this, prefs, Instance()), IDI_VORLUX);
}
