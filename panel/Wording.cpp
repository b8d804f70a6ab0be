#include "panel/Wording.h"

#include <cstdio>

std::string FillIn(const std::string& pattern, std::initializer_list<std::string> values)
{
    std::string text;
    auto value = values.begin();
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == 's' && value != values.end()) {
            text += *value++;
            ++i;
        } else {
            text += pattern[i];
        }
    }
    return text;
}

std::string Duration(int64_t milliseconds)
{
    const int64_t seconds = milliseconds > 0 ? milliseconds / 1000 : 0;
    char text[32];
    if (seconds >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                      static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                      static_cast<long long>(seconds % 60));
    return text;
}

std::string ByteSize(uint64_t bytes)
{
    char text[32];
    const double mib = double(bytes) / (1024.0 * 1024.0);
    if (bytes < 1024 * 1024)
        std::snprintf(text, sizeof text, "%llu KB", static_cast<unsigned long long>(bytes / 1024));
    else if (mib < 1024.0)
        std::snprintf(text, sizeof text, "%.1f MB", mib);
    else
        std::snprintf(text, sizeof text, "%.1f GB", mib / 1024.0);
    return text;
}
