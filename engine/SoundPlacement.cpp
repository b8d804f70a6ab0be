#include "engine/SoundPlacement.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kCheckEveryMs = 1000;
// Sample boundaries computed from times in doubles: a boundary this close to a whole sample is one.
constexpr double kSampleSlack = 1e-6;

}  // namespace

SoundPlacement::SoundPlacement(const Format& f, uint32_t startTime) : format(f), start(startTime)
{
    valid = f.samplesPerSecond > 0 && f.bytesPerSample > 0 && f.framesPerSecond > 0 && f.framePeriod > 0;
    if (!valid)
        return;
    // Frame n goes to n / fps seconds of the movie but is taken n whole-millisecond periods after
    // the start: at 15 fps a frame every 66 ms of recording shows for 66.67 ms, and the sound
    // follows the picture.
    samplesPerMs = f.samplesPerSecond / (double(f.framePeriod) * f.framesPerSecond);
    // The check runs once a second: correcting at half a frame leaves room for a second's drift
    // before sound and picture could be a whole frame apart.
    threshold = double(f.samplesPerSecond) / f.framesPerSecond / 2;
}

double SoundPlacement::Relative(uint32_t t) const
{
    return double(int32_t(t - start));
}

// Recording time at a relative time: the pauses before it taken out.
double SoundPlacement::Elapsed(double r) const
{
    double e = r - pausedEarlier;
    for (int i = 0; i < pauseCount; ++i)
        e -= std::clamp(r - pauses[i].from, 0.0, pauses[i].to - pauses[i].from);
    if (paused)
        e -= std::max(0.0, r - pausedFrom);
    return e;
}

bool SoundPlacement::Paused(double r) const
{
    for (int i = 0; i < pauseCount; ++i)
        if (r >= pauses[i].from && r < pauses[i].to)
            return true;
    return paused && r >= pausedFrom;
}

double SoundPlacement::PicturePosition(uint32_t t) const
{
    return Elapsed(Relative(t)) * samplesPerMs;
}

// The parts of [from, to) heard while recording: after the start and outside the pauses.
int SoundPlacement::Kept(double from, double to, Span* out, int most) const
{
    int n = 0;
    double cursor = std::max(from, 0.0);
    auto cut = [&](double pauseFrom, double pauseTo) {
        if (pauseTo <= cursor || pauseFrom >= to)
            return;
        if (pauseFrom > cursor && n < most)
            out[n++] = Span{cursor, pauseFrom};
        cursor = std::max(cursor, pauseTo);
    };
    for (int i = 0; i < pauseCount; ++i)
        cut(pauses[i].from, pauses[i].to);
    if (paused)
        cut(pausedFrom, std::numeric_limits<double>::infinity());
    if (cursor < to && n < most)
        out[n++] = Span{cursor, to};
    return n;
}

void SoundPlacement::NoteLead(double at, double samples)
{
    leads[leadNext] = Lead{at, samples};
    leadNext = (leadNext + 1) % kKeptLeads;
    leadCount = std::min(leadCount + 1, kKeptLeads);
}

bool SoundPlacement::MostLead(double since, double* most) const
{
    bool any = false;
    for (int i = 0; i < leadCount; ++i) {
        const Lead& l = leads[(leadNext - 1 - i + kKeptLeads) % kKeptLeads];
        if (l.at < since)
            break;
        *most = any ? std::max(*most, l.samples) : l.samples;
        any = true;
    }
    return any;
}

void SoundPlacement::ForgetLeads(double now)
{
    leadCount = 0;
    lastCheck = now;
}

void SoundPlacement::Pause(uint32_t now)
{
    if (paused)
        return;
    paused = true;
    pausedFrom = Relative(now);
}

void SoundPlacement::Resume(uint32_t now)
{
    if (!paused)
        return;
    paused = false;
    const Span p{pausedFrom, std::max(pausedFrom, Relative(now))};
    if (pauseCount == kKeptPauses) {
        pausedEarlier += pauses[0].to - pauses[0].from;
        std::copy(pauses + 1, pauses + kKeptPauses, pauses);
        --pauseCount;
    }
    pauses[pauseCount++] = p;
}

void SoundPlacement::DeviceStarved(uint32_t queued)
{
    beforeGap = int32_t(std::min<uint32_t>(queued, INT32_MAX));
}

void SoundPlacement::EndAfterFrame(int32_t lastIndex)
{
    if (!valid)
        return;
    end = std::max<int64_t>(0, int64_t(lastIndex) + 1) * format.samplesPerSecond / format.framesPerSecond;
}

SoundPlacement::Placement SoundPlacement::Place(uint32_t arrival, uint32_t bytes)
{
    Placement out;
    const bool afterGap = beforeGap == 0;
    if (beforeGap >= 0)
        --beforeGap;
    if (!valid)
        return out;
    const uint32_t samples = bytes / format.bytesPerSample;  // a partial sample is never written
    if (samples == 0)
        return out;

    // The buffer's samples were heard over the `samples` periods that ended when it arrived.
    const double msPerSample = 1000.0 / format.samplesPerSecond;
    const double heardTo = Relative(arrival);
    const double heardFrom = heardTo - samples * msPerSample;

    Span times[Placement::kMaxPieces];
    const int spans = Kept(heardFrom, heardTo, times, Placement::kMaxPieces);
    struct Run {
        uint32_t from, to;  // sample indexes in the buffer
    } runs[Placement::kMaxPieces];
    int count = 0;
    uint32_t kept = 0;
    for (int i = 0; i < spans; ++i) {
        auto index = [&](double t) {
            const double x = std::ceil((t - heardFrom) / msPerSample - kSampleSlack);
            return uint32_t(std::clamp(x, 0.0, double(samples)));
        };
        const Run run{index(times[i].from), index(times[i].to)};
        if (run.to > run.from) {
            runs[count++] = run;
            kept += run.to - run.from;
        }
    }
    if (kept == 0)
        return out;

    const double firstHeard = heardFrom + runs[0].from * msPerSample;
    if (!started) {
        started = true;
        next = std::max<int64_t>(0, std::llround(Elapsed(firstHeard) * samplesPerMs));
        out.change = Change::Start;
        out.samples = next;
        ForgetLeads(Elapsed(heardTo));
    } else if (afterGap) {
        // What the device missed is not in any buffer: the first sound after it goes where it was heard.
        const int64_t due = std::llround(Elapsed(firstHeard) * samplesPerMs);
        if (due > next) {
            out.change = Change::Lost;
            out.samples = due - next;
            out.errorMs = double(due - next) * 1000.0 / format.samplesPerSecond;
            next = due;
            dropping = 0;
        }
        ForgetLeads(Elapsed(heardTo));
    } else {
        // How far the sound written up to this buffer's end leads the time its end was heard.
        // A buffer cut by a pause at its end says nothing about the device's pace.
        const double now = Elapsed(heardTo);
        if (!Paused(heardTo) && runs[count - 1].to == samples) {
            const int64_t written = next + kept - std::min<int64_t>(dropping, kept);
            NoteLead(now, double(written) - now * samplesPerMs);
        }
        double most = 0;
        if (now - lastCheck >= kCheckEveryMs && MostLead(now - kCheckEveryMs, &most) && std::abs(most) > threshold) {
            const int64_t fix = std::llround(most);
            out.errorMs = most * 1000.0 / format.samplesPerSecond;
            if (fix > 0) {
                out.change = Change::Late;
                out.samples = fix;
                dropping += fix;
            } else {
                out.change = Change::Early;
                out.samples = -fix;
                next += -fix;
            }
            ForgetLeads(now);
        }
    }

    out.position = next;
    for (int i = 0; i < count; ++i) {
        Run run = runs[i];
        const uint32_t drop = uint32_t(std::min<int64_t>(dropping, run.to - run.from));
        run.from += drop;
        dropping -= drop;
        if (end >= 0)
            run.to = uint32_t(std::clamp<int64_t>(end - next + run.from, run.from, run.to));
        if (run.to <= run.from)
            continue;
        Piece& p = out.pieces[out.count++];
        p.offset = run.from * format.bytesPerSample;
        p.bytes = (run.to - run.from) * format.bytesPerSample;
        p.position = next;
        next += run.to - run.from;
    }
    return out;
}
