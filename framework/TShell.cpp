#include "framework/TShell.h"

#include <shlwapi.h>

#include <cstdio>
#include <vector>

namespace {

constexpr INT_PTR kShellExecuteFailed = 32;  // ShellExecute answers a value above this on success
constexpr DWORD kCommandChars = 2048;

bool Unreserved(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

std::string Convert(const std::string& text, UINT from, UINT to)
{
    if (text.empty())
        return {};
    int wide = ::MultiByteToWideChar(from, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (wide <= 0)
        return {};
    std::wstring middle(static_cast<size_t>(wide), L'\0');
    ::MultiByteToWideChar(from, 0, text.data(), static_cast<int>(text.size()), middle.data(), wide);
    int bytes = ::WideCharToMultiByte(to, 0, middle.data(), wide, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return {};
    std::string out(static_cast<size_t>(bytes), '\0');
    ::WideCharToMultiByte(to, 0, middle.data(), wide, out.data(), bytes, nullptr, nullptr);
    return out;
}

}  // namespace

bool TShell::Execute(const std::string& file, const std::string& parameters)
{
    HINSTANCE result = ::ShellExecuteA(nullptr, nullptr, file.c_str(), parameters.empty() ? nullptr : parameters.c_str(),
                                       nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(result) > kShellExecuteFailed;
}

// Windows 8's ASSOCF_IS_PROTOCOL, beyond the Windows 7 headers.
constexpr ASSOCF kAssocIsProtocol = static_cast<ASSOCF>(0x1000);

std::string TShell::BrowserCommand()
{
    std::vector<char> command(kCommandChars);
    // As a protocol, the association honours the user's choice of default browser; systems
    // older than Windows 8 refuse the flag and answer from the classes' registry alone.
    const ASSOCF tries[] = {static_cast<ASSOCF>(kAssocIsProtocol | ASSOCF_NOTRUNCATE), ASSOCF_NOTRUNCATE};
    for (ASSOCF flags : tries) {
        DWORD size = kCommandChars;
        HRESULT result = ::AssocQueryStringA(flags, ASSOCSTR_COMMAND, "http", "open", command.data(), &size);
        if (result == S_OK)
            return command.data();
    }
    return {};
}

bool TNotifyArea::Notify(DWORD message, NOTIFYICONDATAW& data)
{
    return ::Shell_NotifyIconW(message, &data) != FALSE;
}

std::string FileUrl(const std::string& utf8Path, const std::string& anchor)
{
    std::string path = utf8Path;
    for (char& c : path)
        if (c == '\\')
            c = '/';
    // "//server/share" stays a host; a drive path gets an empty host.
    std::string url = path.rfind("//", 0) == 0 ? "file:" : "file:///";
    for (size_t i = 0; i < path.size(); ++i) {
        const auto c = static_cast<unsigned char>(path[i]);
        const bool driveColon = c == ':' && i == 1;
        if (Unreserved(c) || c == '/' || driveColon) {
            url += static_cast<char>(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            url += escaped;
        }
    }
    if (!anchor.empty())
        url += "#" + anchor;
    return url;
}

TLaunch BrowserLaunch(const std::string& command, const std::string& url)
{
    TLaunch launch;
    size_t rest = 0;
    const size_t start = command.find_first_not_of(' ');
    if (start == std::string::npos)
        return launch;
    if (command[start] == '"') {
        const size_t close = command.find('"', start + 1);
        if (close == std::string::npos)
            return launch;
        launch.program = command.substr(start + 1, close - start - 1);
        rest = close + 1;
    } else {
        rest = command.find(' ', start);
        launch.program = command.substr(start, rest == std::string::npos ? std::string::npos : rest - start);
    }
    const std::string tail = rest == std::string::npos ? std::string() : command.substr(rest);
    // One pass, so that an address holding "%1" itself is never replaced again.
    std::string parameters;
    bool placed = false;
    for (size_t i = 0; i < tail.size(); ++i) {
        if (tail[i] == '%' && i + 1 < tail.size() && (tail[i + 1] == '1' || tail[i + 1] == 'L' || tail[i + 1] == 'l')) {
            parameters += url;
            placed = true;
            ++i;
        } else {
            parameters += tail[i];
        }
    }
    if (!placed)
        parameters += " \"" + url + "\"";
    const size_t first = parameters.find_first_not_of(' ');
    launch.parameters = first == std::string::npos ? std::string() : parameters.substr(first);
    return launch;
}

bool OpenInBrowser(TShell& shell, const std::string& url)
{
    const std::string command = shell.BrowserCommand();
    if (!command.empty()) {
        const TLaunch launch = BrowserLaunch(command, url);
        if (!launch.program.empty() && shell.Execute(launch.program, launch.parameters))
            return true;
    }
    if (shell.Execute(url, ""))
        return true;
    // Some shells take a "file:" address only without its fragment (Wine's answers "not
    // found"): the page from its top beats no page.
    const size_t fragment = url.find('#');
    return fragment != std::string::npos && shell.Execute(url.substr(0, fragment), "");
}

std::string Utf8FromAnsi(const std::string& ansi)
{
    return Convert(ansi, CP_ACP, CP_UTF8);
}

std::wstring WideFromUtf8(const std::string& utf8)
{
    if (utf8.empty())
        return {};
    int wide = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    if (wide <= 0)
        return {};
    std::wstring out(static_cast<size_t>(wide), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), wide);
    return out;
}
