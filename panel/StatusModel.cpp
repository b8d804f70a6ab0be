#include "panel/StatusModel.h"

#include <cstdio>

namespace {

constexpr char kDot[] = " \xC2\xB7 ";        // " · "
constexpr char kDash[] = " \xE2\x80\x94 ";   // " — "
constexpr char kEllipsis[] = "\xE2\x80\xA6";  // "…"

// Length in bytes of the UTF-8 sequence that starts with `lead`; a stray byte counts as one
// character, as the conversion to UTF-16 makes it one replacement character.
size_t SequenceLength(unsigned char lead)
{
    if (lead >= 0xF0 && lead < 0xF8)
        return 4;
    if (lead >= 0xE0)
        return lead < 0xF0 ? 3 : 1;
    if (lead >= 0xC0)
        return 2;
    return 1;
}

size_t Utf16Units(const std::string& utf8)
{
    size_t units = 0;
    for (size_t i = 0; i < utf8.size(); i += SequenceLength(static_cast<unsigned char>(utf8[i])))
        units += SequenceLength(static_cast<unsigned char>(utf8[i])) == 4 ? 2 : 1;
    return units;
}

std::string Counted(uint32_t n, const char* what)
{
    return std::to_string(n) + " " + what;
}

}  // namespace

bool StatusModel::Show(RecorderState shown)
{
    if (shown == RecorderState::Recording)
        failureReason.clear();
    const bool changed = shown != state;
    state = shown;
    return changed;
}

void StatusModel::Fail(const std::string& reason)
{
    state = RecorderState::Failed;
    failureReason = reason;
}

std::string StatusModel::Tooltip(const RecordingCounters& counters) const
{
    std::string text;
    switch (state) {
    case RecorderState::Idle:
        text = "Vorlux 3.0";
        text += kDot;
        text += "not recording";
        break;
    case RecorderState::Recording:
    case RecorderState::Paused:
        text = state == RecorderState::Recording ? "Recording " : "Paused ";
        text += FormatElapsed(counters.elapsedMs);
        text += kDot;
        text += FormatBytes(counters.movieBytes);
        text += kDot;
        text += Counted(counters.skippedFrames, "skipped");
        break;
    case RecorderState::Failed:
        text = FailedText(failureReason);
        break;
    }
    return Bound(text, kMaxTooltip);
}

std::string StatusModel::SavedText(const std::string& movieName, const RecordingCounters& counters)
{
    std::string tail = kDash + FormatElapsed(counters.elapsedMs) + ", " + FormatBytes(counters.movieBytes);
    // A long name is cut, never the time and size after it.
    const std::string saved = "Saved ";
    std::string name = Bound(movieName, kMaxNotification - Utf16Units(tail) - saved.size());
    return Bound(saved + name + tail, kMaxNotification);
}

std::string StatusModel::FailedText(const std::string& reason)
{
    return Bound(reason.empty() ? std::string("Recording failed") : "Recording failed: " + reason,
                 kMaxNotification);
}

std::string StatusModel::FormatElapsed(uint32_t ms)
{
    const uint32_t seconds = ms / 1000;
    const uint32_t hours = seconds / 3600;
    const uint32_t minutes = seconds / 60 % 60;
    char text[32];
    if (hours > 0)
        std::snprintf(text, sizeof text, "%u:%02u:%02u", hours, minutes, seconds % 60);
    else
        std::snprintf(text, sizeof text, "%u:%02u", minutes, seconds % 60);
    return text;
}

std::string StatusModel::FormatBytes(uint64_t bytes)
{
    struct Unit {
        uint64_t size;
        const char* name;
    };
    constexpr Unit kUnits[] = {{uint64_t{1} << 10, "KB"}, {uint64_t{1} << 20, "MB"}, {uint64_t{1} << 30, "GB"}};
    uint64_t tenths = 0;
    const char* name = "";
    for (const Unit& unit : kUnits) {
        // Rounded to a tenth without multiplying the whole size, which could overflow.
        tenths = bytes / unit.size * 10 + (bytes % unit.size * 10 + unit.size / 2) / unit.size;
        name = unit.name;
        if (tenths < 10240)  // below 1024.0: a larger unit would show less than 1
            break;
    }
    char text[48];
    std::snprintf(text, sizeof text, "%llu.%llu %s", static_cast<unsigned long long>(tenths / 10),
                  static_cast<unsigned long long>(tenths % 10), name);
    return text;
}

std::string StatusModel::Bound(const std::string& utf8, size_t units)
{
    if (Utf16Units(utf8) <= units)
        return utf8;
    if (units == 0)
        return {};
    // Keep what fits beside the one-unit ellipsis.
    size_t kept = 0;
    size_t end = 0;
    while (end < utf8.size()) {
        const size_t length = SequenceLength(static_cast<unsigned char>(utf8[end]));
        const size_t width = length == 4 ? 2 : 1;
        if (kept + width > units - 1 || end + length > utf8.size())
            break;
        kept += width;
        end += length;
    }
    return utf8.substr(0, end) + kEllipsis;
}
