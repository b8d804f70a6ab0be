#include "app/VorMain.h"

#include "ids/Messages.h"
#include "ids/resource.h"
#include "framework/ResourceText.h"
#include "framework/TDialog.h"
#include "panel/PropSheet.h"

#include <cstdio>
#include <cstring>

namespace {
constexpr size_t kProgramPathSize = 292;
// HTML that any browser shows; its pictures are in the folder of the same name beside it.
constexpr const char* kHelpFileName = "vorlux-help.html";

// The contents first. Help buttons send the commands; F1 finds the context of the dialog or
// page it was pressed in.
constexpr HelpTopic kHelpTopics[] = {
    {kCmdHelpFinder, "contents"},
    {kCmdHelpMovie, "movie"},
    {kCmdHelpDestinationSound, "destination-and-sound"},
    {kCmdHelpHotKeys, "hot-keys"},
    {DialogHelpContext(IDD_MOVIE), "movie"},
    {DialogHelpContext(IDD_SOUND), "sound"},
    {DialogHelpContext(IDD_DESTINATION), "destination"},
    {DialogHelpContext(IDD_HOTKEYS), "hot-keys"},
    {DialogHelpContext(IDD_ABOUT), "about"},
    {DialogHelpContext(IDD_CAPTURE_AREA), "capture-area"},
};
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

std::span<const HelpTopic> HelpTopics()
{
    return kHelpTopics;
}

void AddHelpTopics(THelpFileManager& help)
{
    for (const HelpTopic& topic : kHelpTopics)
        help.AddTopic(topic.context, topic.anchor);
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
        OnCommand(LOWORD(wparam), reinterpret_cast<HWND>(lparam));
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

void VorMainWindow::OnCommand(int id, HWND control)
{
    switch (id) {
    case kCmdHelpFinder:
    case kCmdHelpMovie:
    case kCmdHelpDestinationSound:
    case kCmdHelpHotKeys:
        help.ShowCommandHelp(static_cast<DWORD>(id), control);
        break;
    }
}

VorMainApp::VorMainApp(HINSTANCE instance, Prefs& prefs) : TApplication(kName, instance), prefs(prefs)
{
    AddHelpTopics(*this);
}

void VorMainApp::ReportMissingHelp(const std::string& path)
{
    ShowHelpProblem(IDS_HELP_MISSING, path);
}

void VorMainApp::ReportHelpNotOpened(const std::string& url)
{
    ShowHelpProblem(IDS_HELP_NOT_OPENED, url);
}

void VorMainApp::ShowHelpProblem(int textId, const std::string& detail)
{
    const std::string format = LoadText(Instance(), textId);
    const std::string title = LoadText(Instance(), IDS_HELP_TITLE);
    if (format.empty() || title.empty()) {
        ::MessageBoxA(nullptr, detail.c_str(), "Help", MB_OK | MB_ICONWARNING);
        return;
    }
    char text[1024];
    std::snprintf(text, sizeof text, format.c_str(), detail.c_str());
    // Over whatever asked for help: the panel, or a dialog in front of it.
    ::MessageBoxA(::GetActiveWindow(), text, title.c_str(), MB_OK | MB_ICONWARNING);
}

std::unique_ptr<TSDIDecFrame> VorMainApp::InitMainWindow()
{
    SetShowState(SW_HIDE);
    return std::make_unique<TSDIDecFrame>(Name().c_str(),
                                          std::make_unique<VorMainWindow>(*this, prefs, Instance()), IDI_VORLUX);
}
