#pragma once
// vored102: the small companion that Play Movie starts. It hands the movie named on its
// command line to whatever program the system opens such files with.

#include <windows.h>

#include <functional>
#include <string>

enum class PlayResult { Opened = 0, NoMovie = 1, Missing = 2, NotOpened = 3 };

// The movie named by the arguments after the program's own name. The recorder passes one
// quoted path; unquoted words are joined back with single spaces.
std::wstring MovieFromCommandLine(const wchar_t* commandLine);

// Opens `movie` through `open` when it names an existing file (not a directory).
PlayResult PlayMovie(const std::wstring& movie, const std::function<bool(const std::wstring&)>& open);

// What to tell the user; empty for Opened.
std::wstring PlayMessage(PlayResult result, const std::wstring& movie);

// The system's "open" verb for the file; true when a program took it.
bool OpenWithShell(const std::wstring& path);
