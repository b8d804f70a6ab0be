#include "engine/FramePacing.h"

#include <sstream>

FramePacing::FramePacing(uint32_t framesPerSecond, uint32_t start)
    : period(float(1000 / framesPerSecond)), start(start), lastTime(start)
{
}

int32_t FramePacing::Due(uint32_t now)
{
    // Double keeps the index exact past the 2^24 ms a float holds without loss.
    const auto index = int32_t(double(uint32_t(now - start)) / double(period));
    if (index <= lastIndex) {
        ++tooEarly;
        return -1;
    }
    skipped += index - lastIndex - 1;
    return index;
}

void FramePacing::Written(int32_t index, uint32_t now)
{
    lastIndex = index;
    lastTime = now;
    ++captured;
}

uint32_t FramePacing::UntilNext(uint32_t now) const
{
    const uint64_t due = uint64_t(double(lastIndex + 1) * double(period));
    const uint32_t elapsed = now - start;
    return elapsed < due ? uint32_t(due - elapsed) : 0;
}

void FramePacing::Resume(uint32_t pausedAt, uint32_t resumedAt)
{
    start += resumedAt - pausedAt;
    lastTime += resumedAt - pausedAt;
}

std::string FramePacing::Report() const
{
    std::ostringstream report;
    report << "\nFrames skipped:   " << skipped << "\nFrames captured:  " << captured
           << "\nTooEarly:         " << tooEarly << "\nPrevFrame written:" << lastIndex
           << "\nTotal Time:       " << float(double(lastTime - start) * 0.001) << "\n";
    return report.str();
}
