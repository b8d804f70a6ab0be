#pragma once
// What a recording has done so far, as its capture thread last published it.

#include <cstdint>

struct RecordingCounters {
    uint32_t elapsedMs = 0;      // recording time, pauses excluded
    uint64_t movieBytes = 0;     // size of the movie file so far
    uint32_t skippedFrames = 0;  // frame slots that passed without a frame
};
