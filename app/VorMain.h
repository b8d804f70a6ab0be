#pragma once
// The application shell: a hidden frame whose client window starts the settings panel once the
// message loop runs, applies the single-instance rule and answers help requests. UI thread.

#include "framework/Scoped.h"
#include "framework/TApplication.h"
#include "framework/TWindow.h"

#include <span>
#include <string>

class Prefs;

// The program directory from the program's path: everything before the last backslash, or
// the whole text when there is none.
std::string ProgramDirectoryFrom(const char* programPath);
// The help file beside the program.
std::string HelpFileFor(const std::string& programDirectory);

// A help context the program asks for and its anchor in the help page.
struct HelpTopic {
    DWORD context;
    const char* anchor;
};
// Every one of them; the first is the contents.
std::span<const HelpTopic> HelpTopics();
void AddHelpTopics(THelpFileManager& help);

class VorMainWindow : public TWindow {
public:
    VorMainWindow(THelpFileManager& help, Prefs& prefs, HINSTANCE instance);

protected:
    const char* ClassName() const override { return "VorMainWindow"; }
    LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override;
    bool SetupWindow() override;

private:
    void OnStartPanel();
    void OnCommand(int id, HWND control);

    THelpFileManager& help;
    Prefs& prefs;
    HINSTANCE instance;
    ScopedKernelHandle instanceGuard;  // the named semaphore that marks a running copy
};

class VorMainApp : public TApplication, public THelpFileManager {
public:
    static constexpr const char* kName = "Vorlux 3.0 for Windows 95";
    VorMainApp(HINSTANCE instance, Prefs& prefs);

protected:
    std::unique_ptr<TSDIDecFrame> InitMainWindow() override;
    void ReportMissingHelp(const std::string& path) override;
    void ReportHelpNotOpened(const std::string& url) override;

private:
    void ShowHelpProblem(int textId, const std::string& detail);

    Prefs& prefs;
};
