#include "settings/IniStore.h"

#include <windows.h>

#include "framework/Scoped.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr char kNumberPrefix[] = "dword:";
constexpr std::size_t kNumberDigits = 8;

std::string Trimmed(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool SameName(const std::string& a, const char* b)
{
    return ::lstrcmpiA(a.c_str(), b) == 0;
}

// "[Name]" gives Name; anything else is not a section line.
bool SectionOf(const std::string& line, std::string& name)
{
    const std::string text = Trimmed(line);
    if (text.size() < 2 || text.front() != '[' || text.back() != ']')
        return false;
    name = Trimmed(text.substr(1, text.size() - 2));
    return true;
}

// "name=raw" gives both, trimmed; comments and lines without "=" give nothing.
bool ValueOf(const std::string& line, std::string& name, std::string& raw)
{
    const std::string text = Trimmed(line);
    const std::size_t equals = text.find('=');
    if (text.empty() || text[0] == ';' || equals == std::string::npos)
        return false;
    name = Trimmed(text.substr(0, equals));
    raw = Trimmed(text.substr(equals + 1));
    return !name.empty();
}

// The lines of a section, from its header (exclusive) to the next header: [begin, end).
bool SectionRange(const std::vector<std::string>& lines, const char* section, std::size_t& begin,
                  std::size_t& end)
{
    std::string name;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!SectionOf(lines[i], name) || !SameName(name, section))
            continue;
        begin = i + 1;
        end = begin;
        while (end < lines.size() && !SectionOf(lines[end], name))
            ++end;
        return true;
    }
    return false;
}

const char* SectionName(PrefsSubKey section)
{
    return kPrefsSubKeyNames[static_cast<std::size_t>(section)];
}

}  // namespace

IniStore::IniStore(std::string filePath) : path(std::move(filePath))
{
    Lines lines;
    std::string name;
    if (!Load(lines))
        return;
    created = true;
    for (const std::string& line : lines)
        if (SectionOf(line, name))
            created = false;
}

bool IniStore::Load(Lines& lines) const
{
    lines.clear();
    ScopedFile file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart > LONGLONG(kPrefsIniMaxBytes))
        return false;
    std::string text(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!text.empty() && (!::ReadFile(file.get(), text.data(), DWORD(text.size()), &read, nullptr) ||
                          read != text.size()))
        return false;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        if (!lines.back().empty() && lines.back().back() == '\r')
            lines.back().pop_back();
        start = end + 1;
    }
    return true;
}

bool IniStore::Save(const Lines& lines) const
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\r\n";
    if (text.size() > kPrefsIniMaxBytes)
        return false;
    const std::string temporary = path + ".new";
    {
        ScopedFile file(::CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            return false;
        DWORD written = 0;
        if (!::WriteFile(file.get(), text.data(), DWORD(text.size()), &written, nullptr) || written != text.size()) {
            file.reset();
            ::DeleteFileA(temporary.c_str());
            return false;
        }
    }
    if (::MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    ::DeleteFileA(temporary.c_str());
    return false;
}

bool IniStore::CreateSection(PrefsSubKey section)
{
    Lines lines;
    std::size_t begin = 0, end = 0;
    if (!Load(lines))
        return false;
    if (SectionRange(lines, SectionName(section), begin, end))
        return true;
    if (!lines.empty() && !Trimmed(lines.back()).empty())
        lines.emplace_back();
    lines.push_back(std::string("[") + SectionName(section) + "]");
    return Save(lines);
}

bool IniStore::Find(PrefsSubKey section, const char* name, std::string& raw) const
{
    Lines lines;
    std::size_t begin = 0, end = 0;
    if (!Load(lines) || !SectionRange(lines, SectionName(section), begin, end))
        return false;
    std::string key;
    for (std::size_t i = begin; i < end; ++i)
        if (ValueOf(lines[i], key, raw) && SameName(key, name))
            return true;
    return false;
}

bool IniStore::ReadNumber(PrefsSubKey section, const char* name, uint32_t& value) const
{
    std::string raw;
    if (!Find(section, name, raw) || raw.size() <= std::strlen(kNumberPrefix) ||
        raw.size() > std::strlen(kNumberPrefix) + kNumberDigits ||
        ::_strnicmp(raw.c_str(), kNumberPrefix, std::strlen(kNumberPrefix)) != 0)
        return false;
    uint32_t number = 0;
    for (std::size_t i = std::strlen(kNumberPrefix); i < raw.size(); ++i) {
        const char c = raw[i];
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
        if (digit < 0)
            return false;
        number = number << 4 | uint32_t(digit);
    }
    value = number;
    return true;
}

// Text stands between the first and the last quote, as it is: it holds no line break.
bool IniStore::ReadText(PrefsSubKey section, const char* name, char (&text)[kPrefsPathSize]) const
{
    text[0] = '\0';
    std::string raw;
    if (!Find(section, name, raw) || raw.size() < 2 || raw.front() != '"' || raw.back() != '"')
        return false;
    const std::size_t length = raw.size() - 2;
    if (length >= sizeof text)
        return false;
    std::memcpy(text, raw.data() + 1, length);
    text[length] = '\0';
    return true;
}

void IniStore::WriteNumber(PrefsSubKey section, const char* name, uint32_t value)
{
    char raw[sizeof kNumberPrefix + kNumberDigits];
    std::snprintf(raw, sizeof raw, "%s%08x", kNumberPrefix, unsigned(value));
    Write(section, name, raw);
}

// A line break could not be read back: such text is refused.
void IniStore::WriteText(PrefsSubKey section, const char* name, const char* text, bool)
{
    if (std::strpbrk(text, "\r\n"))
        return;
    Write(section, name, std::string("\"") + text + "\"");
}

void IniStore::Write(PrefsSubKey section, const char* name, const std::string& raw)
{
    Lines lines;
    std::size_t begin = 0, end = 0;
    if (!Load(lines) || !SectionRange(lines, SectionName(section), begin, end))
        return;
    const std::string line = std::string(name) + "=" + raw;
    std::string key, old;
    for (std::size_t i = begin; i < end; ++i) {
        if (ValueOf(lines[i], key, old) && SameName(key, name)) {
            lines[i] = line;
            Save(lines);
            return;
        }
    }
    // After the section's last non-empty line, so blank lines keep separating sections.
    std::size_t at = end;
    while (at > begin && Trimmed(lines[at - 1]).empty())
        --at;
    lines.insert(lines.begin() + std::ptrdiff_t(at), line);
    Save(lines);
}
