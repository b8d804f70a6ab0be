#pragma once
// The application: builds its main frame, shows it with the chosen show state and runs the
// message loop until a quit message. UI thread.

#include "framework/TFrame.h"

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

// Finds help contexts for menu items and controls and calls the help viewer with one file.
class THelpFileManager {
public:
    virtual ~THelpFileManager() = default;
    void SetHelpFile(const std::string& path) { helpFile = path; }
    const std::string& HelpFile() const { return helpFile; }
    void AddContext(int id, DWORD context) { contexts.push_back({id, context}); }
    // A context popup for a known item, then the contents in every case.
    void ShowHelp(const HELPINFO* info);
    // The help viewer; tests replace it.
    virtual void CallHelp(HWND owner, UINT command, ULONG_PTR data);

private:
    struct Context {
        int id;
        DWORD context;
    };
    std::string helpFile;
    std::vector<Context> contexts;
};
