#include "media/Clicks.h"

// ---- ClickClock -----------------------------------------------------------------------------

void ClickClock::Reset()
{
    paused = false;
    pauseStart = 0;
    pausedTotal = 0;
}

void ClickClock::Pause(uint32_t systemMs)
{
    if (paused.load())
        return;
    pauseStart = systemMs;
    paused = true;
}

void ClickClock::Resume(uint32_t systemMs)
{
    if (!paused.load())
        return;
    pausedTotal += systemMs - pauseStart.load();
    paused = false;
}

uint32_t ClickClock::Now(uint32_t systemMs) const
{
    if (paused.load())
        return pauseStart.load() - pausedTotal.load();
    return systemMs - pausedTotal.load();
}

bool ClickClock::Stamp(uint32_t systemMs, uint32_t& time) const
{
    if (paused.load())
        return false;
    time = systemMs - pausedTotal.load();
    return true;
}

// ---- ClickTimeline --------------------------------------------------------------------------

void ClickTimeline::Reset()
{
    count = 0;
}

void ClickTimeline::Add(const ClickPress& press, int dpi)
{
    if (count == kMaxLive) {
        for (size_t i = 1; i < count; ++i)
            live[i - 1] = live[i];
        --count;
    }
    live[count++] = Entry{press, dpi, false};
}

size_t ClickTimeline::Frame(uint32_t now, Shown* out, size_t max)
{
    size_t shown = 0;
    size_t kept = 0;
    for (size_t i = 0; i < count; ++i) {
        Entry e = live[i];
        // Times wrap like the system clock; differences are signed.
        const auto age = int32_t(now - e.press.time);
        const bool running = age >= 0 && uint32_t(age) < click_overlay::kRingMs;
        const bool late = age >= 0 && !running && !e.shown;
        if ((running || late) && out && shown < max) {
            out[shown++] = Shown{e.press, e.dpi, running ? uint32_t(age) : kLateAgeMs};
            e.shown = true;
        }
        // Kept: presses after this frame's moment, running ones, and any still owed a frame.
        if (age < 0 || running || !e.shown)
            live[kept++] = e;
    }
    count = kept;
    return shown;
}
