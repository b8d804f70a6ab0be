// Stands in for a web browser in whole-program runs: registered as the http handler of a test
// prefix, it appends the command line it was started with to url.txt beside itself.

#include <windows.h>

#include <cstdio>
#include <string>

int main()
{
    char self[MAX_PATH] = {};
    DWORD n = ::GetModuleFileNameA(nullptr, self, sizeof self);
    if (n == 0 || n >= sizeof self)
        return 1;
    std::string log(self);
    log = log.substr(0, log.find_last_of('\\') + 1) + "url.txt";
    FILE* out = std::fopen(log.c_str(), "ab");
    if (!out)
        return 1;
    std::fprintf(out, "%s\n", ::GetCommandLineA());
    return std::fclose(out) == 0 ? 0 : 1;
}
