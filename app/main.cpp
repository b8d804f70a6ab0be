// Program entry: settles the program directory and the help file, then runs the application.

#include "app/VorMain.h"
#include "diag/Log.h"
#include "settings/Prefs.h"

#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include <iostream>

int main(int argc, char** argv)
{
    // The module's own path, not argv[0]: a program started by a bare name has no directory in
    // its first argument.
    char modulePath[MAX_PATH];
    DWORD n = ::GetModuleFileNameA(nullptr, modulePath, sizeof modulePath);
    const char* programPath = n > 0 && n < sizeof modulePath ? modulePath : (argc > 0 ? argv[0] : "");

    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES | ICC_HOTKEY_CLASS | ICC_TAB_CLASSES};
    ::InitCommonControlsEx(&controls);

    // The shell's handlers, which help and Open Movie Folder start, may use COM on this thread.
    HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);

    // The program's one log: standard output, where scripts read each recording's statistics,
    // and the trace window.
    Log log;
    StreamLog standardOutput(std::cout);
    TraceWindowLog traceWindow;
    log.Attach(standardOutput);
    log.Attach(traceWindow);
    SetProgramLog(&log);

    Prefs& prefs = Prefs::Global();
    HINSTANCE instance = ::GetModuleHandleA(nullptr);
    int result = 0;
    {
        VorMainApp app(instance, prefs);
        std::string directory = ProgramDirectoryFrom(programPath);
        prefs.SetProgramDirectory(directory.c_str());
        app.SetHelpFile(HelpFileFor(directory));
        result = app.Run();
    }
    if (SUCCEEDED(com))
        ::CoUninitialize();
    SetProgramLog(nullptr);
    return result;
}
