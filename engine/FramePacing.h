#pragma once
// When the capture loop takes its frames: the slot each moment falls in, the slots passed over,
// the passes that came too early and the time a pause takes out. No platform call, so that its
// rules are tested without a thread or a clock.

#include <cstdint>
#include <string>

class FramePacing {
public:
    // `start` and every later time in milliseconds of a clock that wraps like timeGetTime.
    FramePacing(uint32_t framesPerSecond, uint32_t start);

    // Whole milliseconds: 15 fps gives 66.
    float Period() const { return period; }
    // The slot `now` falls in when it is past the last written frame's, counting the slots
    // passed over as skipped; -1, counted as too early, when it is not.
    int32_t Due(uint32_t now);
    // The frame of slot `index` reached the movie at `now`.
    void Written(int32_t index, uint32_t now);
    // Milliseconds from `now` until the next frame's slot begins; 0 once it has.
    uint32_t UntilNext(uint32_t now) const;
    // A pause from `pausedAt` that ended at `resumedAt` is no recording time: the start and the
    // last frame's time move with it, so that a stop right after the resume does not count it.
    void Resume(uint32_t pausedAt, uint32_t resumedAt);

    uint32_t Elapsed(uint32_t now) const { return now - start; }
    int32_t Skipped() const { return skipped; }
    int32_t LastIndex() const { return lastIndex; }
    // The statistics block a recording ends with, exactly as scripts read it.
    std::string Report() const;

private:
    float period;
    uint32_t start;
    uint32_t lastTime;  // a recording that fails before its first frame lasted nothing
    int32_t lastIndex = -1;
    int32_t skipped = 0;
    int32_t captured = 0;
    int32_t tooEarly = 0;
};
