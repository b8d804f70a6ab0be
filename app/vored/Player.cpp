#include "app/vored/Player.h"

#include "framework/Scoped.h"

#include <shellapi.h>

namespace {
// ShellExecute answers with a value above 32 on success.
constexpr INT_PTR kShellExecuteFirstSuccess = 33;
}  // namespace

std::wstring MovieFromCommandLine(const wchar_t* commandLine)
{
    int count = 0;
    LPWSTR* arguments = ::CommandLineToArgvW(commandLine, &count);
    ScopedLocalMem argumentsBlock(arguments);
    if (!arguments)
        return {};
    std::wstring movie;
    for (int i = 1; i < count; ++i) {
        if (i > 1)
            movie += L' ';
        movie += arguments[i];
    }
    return movie;
}

PlayResult PlayMovie(const std::wstring& movie, const std::function<bool(const std::wstring&)>& open)
{
    if (movie.empty())
        return PlayResult::NoMovie;
    DWORD attributes = ::GetFileAttributesW(movie.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return PlayResult::Missing;
    return open(movie) ? PlayResult::Opened : PlayResult::NotOpened;
}

std::wstring PlayMessage(PlayResult result, const std::wstring& movie)
{
    switch (result) {
    case PlayResult::Opened:
        return {};
    case PlayResult::NoMovie:
        return L"No movie has been recorded yet.";
    case PlayResult::Missing:
        return L"The movie file does not exist:\n" + movie;
    case PlayResult::NotOpened:
        return L"No program could open the movie:\n" + movie;
    }
    return {};
}

bool OpenWithShell(const std::wstring& path)
{
    auto answer = reinterpret_cast<INT_PTR>(
        ::ShellExecuteW(nullptr, L"open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    return answer >= kShellExecuteFirstSuccess;
}
