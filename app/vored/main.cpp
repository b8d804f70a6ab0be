// vored102 "movie.avi": plays the movie in the system's default player, or says why not.
// The exit code is the PlayResult.

#include "app/vored/Player.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    std::wstring movie = MovieFromCommandLine(::GetCommandLineW());
    PlayResult result = PlayMovie(movie, OpenWithShell);
    std::wstring message = PlayMessage(result, movie);
    if (!message.empty())
        ::MessageBoxW(nullptr, message.c_str(), L"Vorlux Play Movie", MB_OK | MB_ICONINFORMATION);
    return static_cast<int>(result);
}
