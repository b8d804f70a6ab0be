// The sound placement rules over simulated recordings. A simulated device hears samples on a
// clock of its own, fills buffers and hands them back after a delay; the test knows when every
// sample was really heard, so each piece placed is checked against where the picture was then.

#include "engine/SoundPlacement.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace {

using Change = SoundPlacement::Change;

constexpr uint32_t kRate = 22050;
constexpr uint32_t kAlign = 2;  // 16-bit mono
constexpr uint32_t kFps = 10;
constexpr float kPeriod = 100;
constexpr double kSamplesPerMs = kRate / 1000.0;
constexpr int64_t kFrameSamples = kRate / kFps;
constexpr uint32_t kBufferSamples = kRate / kFps;  // one frame of sound, as the engine sizes them
constexpr int kBuffers = 5;

struct Span {
    double from, to;  // milliseconds after the start
};

struct Correction {
    Change change;
    int64_t samples;
    double at;  // milliseconds after the start, when the buffer was placed
};

// Delivery delays of 0 to 30 ms, in no order; every few buffers one comes at once.
double Jitter(int i)
{
    return double((i * 14) % 31);
}

// One recording. Times are milliseconds after the start of the recording; the frame clock starts
// close to its wrap, so that every case also crosses it.
struct Recording {
    uint32_t clockStart = 0xFFFFFFFFu - 1500;
    double drift = 0;        // +0.01: the device's clock runs 1 % fast
    double firstHeard = 40;  // the device hears its first sample then
    double stopAt = 12050;
    std::function<double(int)> delay = Jitter;
    std::vector<Span> pauses;
    // The capture loop holds the engine's lock: buffers completed meanwhile wait for it (the
    // first was stamped before it waited), and once all five are filled the device hears
    // nothing until the loop takes them and hands them back.
    std::vector<Span> blocked;
    // Sound the device heard but lost on the way (the sound server's buffer overran, say): the
    // buffers after it carry later sound, and nobody says so.
    std::vector<Span> dropped;

    // Results.
    std::vector<Correction> corrections;
    int64_t startPosition = -1;
    double worstMs = 0;          // furthest any placed sample was from its picture
    double lastOutOfStep = -1;   // when the loop took the last buffer placed a frame or more off
    double pausedWrittenMs = 0;  // deepest inside a pause (or before the start) a written sample was heard
    int64_t written = 0;
    int64_t end = -1;
    int64_t samplesPlaced = 0;
    int64_t lastBytes = -1;      // of the partly filled buffer handed back at the stop
    int64_t lastBytesWritten = 0;
    int64_t lostSamples = 0;     // heard while the device had no buffer
    std::vector<Span> lostOnTheWay;  // what `dropped` took, from a buffer boundary
    int64_t previousEnd = 0;
    std::string problem;

    double Elapsed(double t) const
    {
        double e = t;
        for (const Span& p : pauses)
            e -= std::clamp(t - p.from, 0.0, p.to - p.from);
        return e;
    }
    double InsidePause(double t) const
    {
        double inside = t < 0 ? -t : 0;
        for (const Span& p : pauses)
            if (t >= p.from && t < p.to)
                inside = std::min(t - p.from, p.to - t);
        return inside;
    }
    // When the device heard its sample `k`: its own clock runs `drift` fast.
    double Heard(int64_t k) const { return firstHeard + double(k) * 1000.0 / (kRate * (1 + drift)); }
    int32_t LastFrame() const { return int32_t(Elapsed(stopAt) / kPeriod); }
    size_t Count(Change c) const
    {
        return size_t(std::count_if(corrections.begin(), corrections.end(), [&](auto& x) { return x.change == c; }));
    }
    int64_t Total(Change c) const
    {
        int64_t n = 0;
        for (const Correction& x : corrections)
            n += x.change == c ? x.samples : 0;
        return n;
    }

    struct Buffer {
        int64_t first;    // the device's index of its first sample
        uint32_t samples;
        double stamp;     // the frame clock in the callback
        double taken;     // when the capture loop takes it
        bool starved;     // the loop found all five filled when it took this one
        bool last;        // handed back at the stop
    };

    // The buffers in the order the device fills them, with when each is stamped and taken.
    std::vector<Buffer> Device()
    {
        std::vector<Buffer> buffers;
        int64_t k = 0;
        std::vector<int> inBlock(blocked.size(), 0);
        std::vector<size_t> blockFirst(blocked.size(), 0);
        lostSamples = 0;
        for (int i = 0;; ++i) {
            for (const Span& d : dropped) {
                if (Heard(k) >= d.from && Heard(k) < d.to)
                    lostOnTheWay.push_back({Heard(k), d.to});
                while (Heard(k) >= d.from && Heard(k) < d.to)
                    ++k;
            }
            const double done = Heard(k + kBufferSamples);
            if (done > stopAt)
                break;
            Buffer b{k, kBufferSamples, done + delay(i), done + delay(i), false, false};
            k += kBufferSamples;
            for (size_t n = 0; n < blocked.size(); ++n) {
                const Span& bl = blocked[n];
                if (b.stamp < bl.from || b.stamp >= bl.to)
                    continue;
                if (inBlock[n]++ > 0)
                    b.stamp = bl.to;  // queued behind the first callback, which waits for the lock
                else
                    blockFirst[n] = buffers.size();
                b.taken = bl.to;
                if (inBlock[n] == kBuffers) {
                    // The device has no buffer left: what it hears until the loop lets go is lost.
                    const int64_t from = k;
                    while (Heard(k) < bl.to)
                        ++k;
                    lostSamples += k - from;
                    // The loop finds the five queued when it takes the first of them.
                    buffers[blockFirst[n]].starved = true;
                }
            }
            buffers.push_back(b);
        }
        // The stop hands back the buffer being filled with what it heard so far, and the others empty.
        uint32_t partial = 0;
        while (partial < kBufferSamples && Heard(k + partial + 1) <= stopAt)
            ++partial;
        buffers.push_back(Buffer{k, partial, stopAt + 1, stopAt + 1, false, true});
        for (int i = 1; i < kBuffers; ++i)
            buffers.push_back(Buffer{k + partial, 0, stopAt + 1, stopAt + 1, false, true});
        return buffers;
    }

    void Run()
    {
        std::vector<Buffer> buffers = Device();
        SoundPlacement placement(SoundPlacement::Format{kRate, kAlign, kFps, kPeriod}, clockStart);
        auto clock = [&](double t) { return clockStart + uint32_t(int64_t(std::ceil(t))); };

        size_t nextPause = 0;
        bool inPause = false;
        bool ended = false;
        for (size_t i = 0; i < buffers.size(); ++i) {
            const Buffer& b = buffers[i];
            // Pauses and resumes the loop has seen by the time it takes this buffer.
            while (nextPause < pauses.size()) {
                const Span& p = pauses[nextPause];
                if (!inPause && p.from <= b.taken) {
                    placement.Pause(clock(p.from));
                    inPause = true;
                } else if (inPause && p.to <= b.taken) {
                    placement.Resume(clock(p.to));
                    inPause = false;
                    ++nextPause;
                } else {
                    break;
                }
            }
            if (b.starved)
                placement.DeviceStarved(kBuffers);
            if (b.last && !ended) {
                placement.EndAfterFrame(LastFrame());
                ended = true;
            }
            Place(placement, b, clock(b.stamp));
        }
        written = placement.Written();
        end = placement.End();
    }

    void Place(SoundPlacement& placement, const Buffer& b, uint32_t stamp)
    {
        const SoundPlacement::Placement p = placement.Place(stamp, b.samples * kAlign);
        if (b.last && b.samples > 0)
            lastBytes = b.samples * kAlign;
        if (p.change == Change::Start)
            startPosition = p.samples;
        else if (p.change != Change::None)
            corrections.push_back({p.change, p.samples, b.taken});
        for (int i = 0; i < p.count; ++i) {
            const SoundPlacement::Piece& piece = p.pieces[i];
            if (piece.offset % kAlign || piece.bytes % kAlign || piece.bytes == 0 ||
                piece.offset + piece.bytes > b.samples * kAlign)
                problem += "a piece outside its buffer or splitting a sample; ";
            if (piece.position < previousEnd)
                problem += "a piece written over the one before; ";
            previousEnd = piece.position + piece.bytes / kAlign;
            samplesPlaced += piece.bytes / kAlign;
            if (b.last)
                lastBytesWritten += piece.bytes;
            const int64_t from = piece.offset / kAlign;
            const int64_t to = from + piece.bytes / kAlign - 1;
            for (int64_t j : {from, to}) {
                const double heard = Heard(b.first + j);
                pausedWrittenMs = std::max(pausedWrittenMs, InsidePause(heard));
                if (InsidePause(heard) > 0)
                    continue;
                const double picture = Elapsed(heard) * kSamplesPerMs;
                const double position = double(piece.position + (j - from));
                const double offMs = std::abs(position - picture) / kSamplesPerMs;
                worstMs = std::max(worstMs, offMs);
                if (offMs > kPeriod)
                    lastOutOfStep = b.taken;
            }
        }
    }
};

// Sound is never a frame period away from its picture, never written over itself, and ends where
// the recording stopped, not past the last frame.
void ExpectInStep(const Recording& r)
{
    EXPECT_EQ(r.problem, "");
    EXPECT_LE(r.worstMs, kPeriod);
    EXPECT_LE(r.pausedWrittenMs, 31.0);  // no more than the delivery delay inside a pause
    EXPECT_EQ(r.end, (r.LastFrame() + 1) * kFrameSamples);
    EXPECT_LE(r.written, r.end);
    EXPECT_NEAR(double(r.written), r.Elapsed(r.stopAt) * kSamplesPerMs, double(kFrameSamples))
        << "the sound does not end where the recording stopped";
}

TEST(SoundPlacementTest, LateFirstBufferStartsWhereItWasHeard)
{
    struct Case {
        double firstHeard;
        double firstDelay;
    } cases[] = {{40, 0}, {1000, 0}, {1000, 25}, {987.5, 3}, {-35, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "first heard " << c.firstHeard << ", delivered " << c.firstDelay << " ms late");
        Recording r;
        r.firstHeard = c.firstHeard;
        r.delay = [&](int i) { return i == 0 ? c.firstDelay : Jitter(i); };
        r.Run();
        ExpectInStep(r);
        // Silence first, as long as the device took to hear its first sample (and deliver it).
        const double expected = std::max(0.0, c.firstHeard + c.firstDelay) * kSamplesPerMs;
        EXPECT_NEAR(double(r.startPosition), expected, 1.0 * kSamplesPerMs);
        EXPECT_TRUE(r.corrections.empty()) << r.corrections.size() << " corrections";
    }
}

TEST(SoundPlacementTest, DriftingDeviceOverAnHour)
{
    struct Case {
        double drift;
        Change change;
        size_t fewest, most;  // corrections over the hour
    } cases[] = {
        {+0.01, Change::Late, 300, 800},  {-0.01, Change::Early, 300, 800},
        {+0.0001, Change::Late, 3, 8},    {-0.0001, Change::Early, 3, 8},
        {0, Change::None, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "drift " << c.drift);
        Recording r;
        r.drift = c.drift;
        r.stopAt = 3600.0 * 1000;
        r.Run();
        ExpectInStep(r);
        EXPECT_GE(r.corrections.size(), c.fewest);
        EXPECT_LE(r.corrections.size(), c.most);
        for (const Correction& x : r.corrections)
            ASSERT_EQ(x.change, c.change) << "at " << x.at << " ms";
        // What was dropped or inserted makes up the difference between the two clocks.
        const double difference = std::abs(c.drift) * r.stopAt * kSamplesPerMs;
        const int64_t corrected = r.Total(Change::Late) + r.Total(Change::Early);
        EXPECT_NEAR(double(corrected), difference, double(kFrameSamples));
    }
}

TEST(SoundPlacementTest, CorrectionsComeAtMostOnceASecond)
{
    // A device so far off that it passes the threshold within a few buffers: it is still
    // corrected once a second, by what that second's buffers show, never buffer by buffer.
    for (double drift : {+0.2, -0.2}) {
        SCOPED_TRACE(testing::Message() << "drift " << drift);
        Recording r;
        r.drift = drift;
        r.stopAt = 60.0 * 1000;
        r.Run();
        EXPECT_EQ(r.problem, "");
        ASSERT_GE(r.corrections.size(), 50u);
        EXPECT_LE(r.corrections.size(), 60u);
        for (size_t i = 1; i < r.corrections.size(); ++i)
            EXPECT_GE(r.corrections[i].at - r.corrections[i - 1].at, 999.0) << "correction " << i;
        // Each makes good about a second's drift.
        const double perSecond = std::abs(drift) * kRate;
        EXPECT_NEAR(double(r.corrections[10].samples), perSecond, 0.2 * perSecond);
    }
}

TEST(SoundPlacementTest, BurstOfFiveBuffers)
{
    struct Case {
        const char* what;
        Span blocked;
        size_t lost;
    } cases[] = {
        // The loop held the lock for 350 ms: four buffers come at once, the device kept recording.
        {"short block", {3000, 3350}, 0},
        // For 720 ms: all five filled, and for 200 ms or so the device had nothing to record into.
        {"long block", {3000, 3720}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Recording r;
        r.blocked = {c.blocked};
        r.Run();
        ExpectInStep(r);
        EXPECT_EQ(r.Count(Change::Lost), c.lost);
        EXPECT_EQ(r.Count(Change::Late) + r.Count(Change::Early), 0u);
        // The gap, from the fifth buffer's end to the moment the loop let go, becomes silence.
        EXPECT_NEAR(double(r.Total(Change::Lost)), double(r.lostSamples), 31 * kSamplesPerMs);
        EXPECT_EQ(r.lostSamples > 0, c.lost > 0);
    }
}

TEST(SoundPlacementTest, SoundLostOnTheWayIsMadeGoodWithinASecond)
{
    // Nothing tells the placement: only the arrival times show the sound is early from then on.
    for (Span dropped : {Span{3550, 3850}, Span{3030, 3110}, Span{7020, 7900}}) {
        SCOPED_TRACE(testing::Message() << "dropped from " << dropped.from << " to " << dropped.to << " ms");
        Recording r;
        r.dropped = {dropped};
        r.Run();
        EXPECT_EQ(r.problem, "");
        ASSERT_EQ(r.lostOnTheWay.size(), 1u);
        const Span lost = r.lostOnTheWay[0];
        ASSERT_EQ(r.corrections.size(), 1u);
        EXPECT_EQ(r.corrections[0].change, Change::Early);
        EXPECT_NEAR(double(r.Total(Change::Early)), (lost.to - lost.from) * kSamplesPerMs, 31 * kSamplesPerMs);
        // Judged on the second of buffers after the last one before the loss, and made good then.
        EXPECT_GE(r.corrections[0].at, lost.from + 1000);
        EXPECT_LE(r.corrections[0].at, lost.from + 1000 + kPeriod + 2 * 31);  // delays of both ends
        EXPECT_LE(r.lastOutOfStep, r.corrections[0].at);
    }
}

TEST(SoundPlacementTest, PauseLeavesOutWhatWasHeardMeanwhile)
{
    struct Case {
        const char* what;
        std::vector<Span> pauses;
    } cases[] = {
        {"two seconds", {{3050, 5050}}},
        {"within one buffer", {{3020, 3060}}},
        {"several", {{1500, 1700}, {2333, 4444}, {6000, 6001}, {7000, 9100}}},
        {"until the stop", {{8050, 12500}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Recording r;
        r.pauses = c.pauses;
        r.Run();
        ExpectInStep(r);
        EXPECT_TRUE(r.corrections.empty()) << r.corrections.size() << " corrections";
        // Only what was heard while recording is written.
        double pausedMs = 0;
        for (const Span& p : c.pauses)
            pausedMs += std::min(p.to, r.stopAt) - p.from;
        const double heardMs = r.stopAt - r.firstHeard - pausedMs;
        // Each end of a pause is known to within the delivery delay.
        const double slackMs = (2.0 * double(c.pauses.size()) + 1) * 31;
        EXPECT_NEAR(double(r.samplesPlaced), heardMs * kSamplesPerMs, slackMs * kSamplesPerMs);
    }
}

TEST(SoundPlacementTest, StopWritesPartlyFilledBufferUpToTheLastFrame)
{
    for (double stopAt : {5050.0, 5099.0, 5001.0, 5042.0}) {
        SCOPED_TRACE(testing::Message() << "stop at " << stopAt);
        Recording r;
        r.stopAt = stopAt;
        r.Run();
        ExpectInStep(r);
        EXPECT_GT(r.lastBytes, 0);
        EXPECT_LT(r.lastBytes, int64_t(kBufferSamples * kAlign));
        EXPECT_EQ(r.lastBytesWritten, r.lastBytes) << "the partly filled buffer is written whole";
    }
}

TEST(SoundPlacementTest, NothingPastTheLastFrame)
{
    // Sound that arrives after the stop for the time after the last frame is cut at its end.
    SoundPlacement s({kRate, kAlign, kFps, kPeriod}, 0);
    SoundPlacement::Placement first = s.Place(100, kBufferSamples * kAlign);
    ASSERT_EQ(first.count, 1);
    EXPECT_EQ(first.pieces[0].position, 0);
    s.EndAfterFrame(1);  // two frames: 4410 samples
    SoundPlacement::Placement second = s.Place(200, kBufferSamples * kAlign);
    ASSERT_EQ(second.count, 1);
    EXPECT_EQ(second.pieces[0].bytes, kBufferSamples * kAlign);
    SoundPlacement::Placement third = s.Place(250, 1000 * kAlign);
    EXPECT_EQ(third.count, 0);
    EXPECT_EQ(s.Written(), 2 * kFrameSamples);
    EXPECT_EQ(s.End(), 2 * kFrameSamples);
}

TEST(SoundPlacementTest, OddInput)
{
    // Partial samples are never written, empty buffers place nothing, a format without a rate
    // places nothing at all.
    SoundPlacement s({kRate, 4, kFps, kPeriod}, 1000);
    SoundPlacement::Placement p = s.Place(1100, 4 * 100 + 3);
    ASSERT_EQ(p.count, 1);
    EXPECT_EQ(p.pieces[0].bytes, 400u);
    EXPECT_EQ(s.Written() - p.pieces[0].position, 100);
    EXPECT_EQ(s.Place(1200, 3).count, 0);
    EXPECT_EQ(s.Place(1300, 0).count, 0);

    for (SoundPlacement::Format bad : {SoundPlacement::Format{0, 2, 10, 100}, SoundPlacement::Format{kRate, 0, 10, 100},
                                       SoundPlacement::Format{kRate, 2, 0, 100}, SoundPlacement::Format{kRate, 2, 10, 0}}) {
        SoundPlacement none(bad, 0);
        EXPECT_EQ(none.Place(5000, 4410).count, 0);
        none.EndAfterFrame(10);
        EXPECT_EQ(none.End(), -1);
        EXPECT_EQ(none.Written(), 0);
    }
    // Resume without a pause, a second pause without a resume: ignored.
    SoundPlacement q({kRate, 2, kFps, kPeriod}, 0);
    q.Resume(50);
    q.Pause(100);
    q.Pause(150);
    q.Resume(300);
    EXPECT_DOUBLE_EQ(q.PicturePosition(400), 200 * kSamplesPerMs);
}

TEST(SoundPlacementTest, PictureTimeFollowsWholeMillisecondPeriods)
{
    // At 15 fps a frame is taken every 66 ms and shown for 66.67 ms: the sound goes where the
    // picture shows, not where the wall clock is.
    SoundPlacement s({44100, 4, 15, 66}, 7);
    EXPECT_NEAR(s.PicturePosition(7 + 66 * 15), 44100.0, 1e-6);  // frame 15 is one second into the movie
    s.EndAfterFrame(14);
    EXPECT_EQ(s.End(), 44100);
}

}  // namespace
