#pragma once
// The application: builds its main frame, shows it with the chosen show state and runs the
// message loop until a quit message. UI thread.

#include "framework/TFrame.h"
#include "framework/TShell.h"

#include <memory>
#include <string>
#include <vector>

class TApplication {
public:
    TApplication(const char* name, HINSTANCE instance);
    virtual ~TApplication();
    TApplication(const TApplication&) = delete;
    TApplication& operator=(const TApplication&) = delete;

    // The quit code, or -1 when the main window could not be created.
    int Run();
    const std::string& Name() const { return name; }
    HINSTANCE Instance() const { return instance; }
    TSDIDecFrame* MainWindow() const { return mainWindow.get(); }

protected:
    virtual std::unique_ptr<TSDIDecFrame> InitMainWindow() = 0;
    void SetShowState(int command) { showState = command; }

private:
    std::string name;
    HINSTANCE instance;
    int showState = SW_SHOWNORMAL;
    std::unique_ptr<TSDIDecFrame> mainWindow;
};

// Opens the program's HTML help in the user's browser at the topic of a help context: the
// contexts of the help commands, and those the windows asking for help carry (dialogs carry
// DialogHelpContext of their template). The first topic added is the contents, shown for a
// context without a topic of its own.
class THelpFileManager {
public:
    virtual ~THelpFileManager() = default;
    void SetHelpFile(const std::string& path) { helpFile = path; }
    const std::string& HelpFile() const { return helpFile; }
    void AddTopic(DWORD context, const std::string& anchor) { topics.push_back({context, anchor}); }
    // Tests watch the shell instead of starting a browser.
    void SetShell(TShell& replacement) { shell = &replacement; }

    // F1: the topic of the first window, from the item asking up through its parents, whose
    // context has a topic.
    void ShowHelp(const HELPINFO* info);
    // A Help button's command: the topic of the window that sent it when it has one, else the
    // command's own.
    void ShowCommandHelp(DWORD command, HWND sender);
    void ShowTopic(DWORD context);
    // The address ShowTopic opens.
    std::string TopicUrl(DWORD context) const;

protected:
    // The user is told; the program's texts come from its resources.
    virtual void ReportMissingHelp(const std::string& path) = 0;
    virtual void ReportHelpNotOpened(const std::string& url) = 0;

private:
    struct Topic {
        DWORD context;
        std::string anchor;
    };
    const Topic* Find(DWORD context) const;
    // The context of `window` or its nearest parent that has a topic; 0 when none has.
    DWORD ContextFrom(HWND window) const;

    std::string helpFile;
    std::vector<Topic> topics;
    TShell systemShell;
    TShell* shell = &systemShell;  // not owned
};
