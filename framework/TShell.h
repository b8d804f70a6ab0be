#pragma once
// The platform shell: starting documents, folders and programs, finding the user's web browser,
// and the notification area. Each is a small class that tests replace. UI thread.

#include <windows.h>

#include <shellapi.h>

#include <string>

class TShell {
public:
    virtual ~TShell() = default;
    // ShellExecuteA with the default verb: a document or folder, or a program with its
    // parameters (none when empty). True when the shell took it.
    virtual bool Execute(const std::string& file, const std::string& parameters);
    // The command line the user's web browser opens an http address with, "%1" standing for
    // the address; empty when no browser is registered.
    virtual std::string BrowserCommand();
};

// The notification area; Shell_NotifyIconW by default.
class TNotifyArea {
public:
    virtual ~TNotifyArea() = default;
    // NIM_ADD, NIM_MODIFY, NIM_DELETE or NIM_SETVERSION; true when the shell took it.
    virtual bool Notify(DWORD message, NOTIFYICONDATAW& data);
};

// A program and the parameters to start it with.
struct TLaunch {
    std::string program;
    std::string parameters;
};

// The "file:" address of a local or UNC path (UTF-8), with `anchor` as its fragment when not
// empty. Everything but letters, digits, "-._~", the separators and a drive's colon is
// percent-encoded, so that a "#" or a space in a directory name cannot cut the address.
std::string FileUrl(const std::string& utf8Path, const std::string& anchor);
// The browser's program and its parameters with `url` in place of "%1" (or "%L"); a command
// without a place for the address gets it quoted at the end. An empty program when `command`
// names none.
TLaunch BrowserLaunch(const std::string& command, const std::string& url);
// Opens `url` in the user's browser, started directly so that the address keeps its fragment:
// the shell's own handling of a "file:" address goes by the file type and drops the fragment,
// or refuses the address. Without a browser that starts, the shell opens the address, and then
// the address without its fragment. True when something started.
bool OpenInBrowser(TShell& shell, const std::string& url);

// Text in the program's ANSI code page to UTF-8, and UTF-8 to UTF-16; an unconvertible text
// gives empty text.
std::string Utf8FromAnsi(const std::string& ansi);
std::wstring WideFromUtf8(const std::string& utf8);
