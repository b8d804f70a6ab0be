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
    DWORD context = 0;
    if (info) {
        if (Find(info->dwContextId))
            context = info->dwContextId;
        else if (info->iContextType == HELPINFO_WINDOW)
            context = ContextFrom(static_cast<HWND>(info->hItemHandle));
    }
    ShowTopic(context);
}

void THelpFileManager::ShowCommandHelp(DWORD command, HWND sender)
{
    DWORD context = ContextFrom(sender);
    ShowTopic(context ? context : command);
}

DWORD THelpFileManager::ContextFrom(HWND window) const
{
    // GetParent gives a pop-up's owner after its children's parents, so the walk ends at the
    // program's main window.
    for (HWND w = window; w; w = ::GetParent(w)) {
        DWORD context = ::GetWindowContextHelpId(w);
        if (context && Find(context))
            return context;
    }
    return 0;
}

const THelpFileManager::Topic* THelpFileManager::Find(DWORD context) const
{
    for (const Topic& topic : topics)
        if (topic.context == context)
            return &topic;
    return nullptr;
}

std::string THelpFileManager::TopicUrl(DWORD context) const
{
    const Topic* topic = Find(context);
    if (!topic && !topics.empty())
        topic = &topics.front();
    return FileUrl(Utf8FromAnsi(helpFile), topic ? topic->anchor : std::string());
}

void THelpFileManager::ShowTopic(DWORD context)
{
    DWORD attributes = ::GetFileAttributesA(helpFile.c_str());
    if (helpFile.empty() || attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        ReportMissingHelp(helpFile);
        return;
    }
    const std::string url = TopicUrl(context);
    if (!OpenInBrowser(*shell, url))
        ReportHelpNotOpened(url);
}
