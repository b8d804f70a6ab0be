#pragma once
// Mouse presses on their way from the mouse hook into the frames: the hand-over buffer, the
// animation clock that stops while the recording is paused, and the choice of which presses a
// frame shows. Portable: the hook and the grabber supply the platform's times and positions.

#include "common/VRecords.h"
#include "media/ClickOverlay.h"
#include "media/EventRing.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

struct ClickPress {
    uint32_t time = 0;  // animation clock, milliseconds
    VPoint at;          // screen pixel
    ClickButton button = ClickButton::Left;
};

// Presses waiting for the next frame, from the mouse hook to the capture thread.
using ClickRing = EventRing<ClickPress, 16>;

// System milliseconds with every pause taken out: a ring that was growing when the recording
// paused goes on growing from there when it resumes, as the movie does. Clicks made during a
// pause get no time at all, so they are never shown.
// Pause and Resume: the thread that pauses the recording; Stamp: the mouse hook's thread;
// Now: the capture thread.
class ClickClock {
public:
    void Reset();                           // not paused, nothing taken out
    void Pause(uint32_t systemMs);          // a second Pause changes nothing
    void Resume(uint32_t systemMs);         // a Resume while running changes nothing
    bool Paused() const { return paused.load(); }
    // The animation time at `systemMs`; while paused, the time the pause began.
    uint32_t Now(uint32_t systemMs) const;
    // The animation time of a press at `systemMs`; false while paused.
    bool Stamp(uint32_t systemMs, uint32_t& time) const;

private:
    std::atomic<bool> paused{false};
    std::atomic<uint32_t> pauseStart{0};    // system time the current pause began
    std::atomic<uint32_t> pausedTotal{0};   // length of every finished pause
};

// Which presses a frame shows and how far into its animation each is. A press shows in every
// frame while its animation lasts, and in at least one frame: at one frame a second, a press
// made between two frames would otherwise be over before the next one. Such a late press shows
// as its ring looks a quarter into the animation. Capture thread only.
class ClickTimeline {
public:
    static constexpr size_t kMaxLive = ClickRing::kCapacity;
    static constexpr uint32_t kLateAgeMs = click_overlay::kRingMs / 4;

    struct Shown {
        ClickPress press;
        int dpi = 0;
        uint32_t ageMs = 0;
    };

    void Reset();
    // A new press, with the DPI of the monitor it was made on. When kMaxLive presses are
    // waiting, the oldest makes room.
    void Add(const ClickPress& press, int dpi);
    // The presses the frame at animation time `now` shows, oldest first, into `out` (at most
    // `max`); then forgets every press that no later frame will show.
    size_t Frame(uint32_t now, Shown* out, size_t max);
    size_t Live() const { return count; }

private:
    struct Entry {
        ClickPress press;
        int dpi = 0;
        bool shown = false;  // in a frame already
    };
    Entry live[kMaxLive];
    size_t count = 0;
};
