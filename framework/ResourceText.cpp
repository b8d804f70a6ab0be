#include "framework/ResourceText.h"

namespace {
constexpr size_t kFirstBufferChars = 256;
constexpr size_t kLongestString = 65535;  // a string table entry's character count is 16 bits
}  // namespace

std::string LoadText(HINSTANCE instance, int id)
{
    // The platform cuts a string to the buffer without saying so: a full buffer grows and asks again.
    std::string text(kFirstBufferChars, '\0');
    for (;;) {
        const int n = ::LoadStringA(instance, static_cast<UINT>(id), text.data(), static_cast<int>(text.size()));
        if (n <= 0)
            return {};
        if (static_cast<size_t>(n) + 1 < text.size() || text.size() > kLongestString) {
            text.resize(static_cast<size_t>(n));
            return text;
        }
        text.resize(text.size() * 2);
    }
}

std::string SystemText(unsigned long code)
{
    char text[512] = {};
    DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                               sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' '))
        --n;
    if (n == 0)
        return "system error " + std::to_string(code);
    return std::string(text, n);
}
