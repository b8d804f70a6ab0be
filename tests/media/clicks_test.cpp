// The way of a press from the mouse hook into the frames: the hand-over ring between threads,
// the animation clock that stops while the recording is paused, and which frames show a press.

#include "media/Clicks.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace {

using click_overlay::kRingMs;

ClickPress Press(uint32_t time, int32_t x = 0, int32_t y = 0, ClickButton b = ClickButton::Left)
{
    return ClickPress{time, VPoint{x, y}, b};
}

// A press whose fields all follow from its number, so that a torn copy shows.
ClickPress Numbered(uint32_t n)
{
    return Press(n, int32_t(n), -int32_t(n), ClickButton(n % 3));
}

bool Consistent(const ClickPress& p)
{
    return p.at.x == int32_t(p.time) && p.at.y == -int32_t(p.time) && p.button == ClickButton(p.time % 3);
}

// ---- ClickRing ------------------------------------------------------------------------------

TEST(ClickRing, OverflowKeepsTheNewest)
{
    ClickRing ring;
    for (uint32_t i = 0; i < ClickRing::kCapacity + 5; ++i)
        ring.Push(Numbered(i));
    EXPECT_EQ(ring.Size(), ClickRing::kCapacity);
    ClickPress out[ClickRing::kCapacity + 5];
    ASSERT_EQ(ring.Drain(out, std::size(out)), ClickRing::kCapacity);
    for (size_t i = 0; i < ClickRing::kCapacity; ++i)
        EXPECT_EQ(out[i].time, i + 5) << "oldest first, the five oldest gone";
    EXPECT_EQ(ring.Size(), 0u);
}

TEST(ClickRing, DrainTakesTheOldestAndLeavesTheRest)
{
    ClickRing ring;
    for (uint32_t i = 0; i < 6; ++i)
        ring.Push(Numbered(i));
    ClickPress out[4];
    EXPECT_EQ(ring.Drain(nullptr, 4), 0u);
    EXPECT_EQ(ring.Drain(out, 0), 0u);
    ASSERT_EQ(ring.Drain(out, 4), 4u);
    EXPECT_EQ(out[0].time, 0u);
    EXPECT_EQ(out[3].time, 3u);
    ring.Push(Numbered(6));
    ASSERT_EQ(ring.Drain(out, 4), 3u);
    EXPECT_EQ(out[0].time, 4u);
    EXPECT_EQ(out[2].time, 6u);
    ring.Push(Numbered(7));
    ring.Clear();
    EXPECT_EQ(ring.Drain(out, 4), 0u);
}

// One thread pushes numbered presses, another drains them. Paced, so that the ring never fills,
// every press arrives once, in order and whole.
TEST(ClickRing, PressesFromOneThreadReadFromAnother)
{
    constexpr uint32_t kPresses = 20000;
    ClickRing ring;
    std::atomic<bool> stop{false};
    std::thread hook([&] {
        for (uint32_t i = 0; i < kPresses && !stop; ++i) {
            while (ring.Size() >= ClickRing::kCapacity && !stop)
                std::this_thread::yield();
            ring.Push(Numbered(i));
        }
    });
    std::vector<ClickPress> got;
    ClickPress batch[ClickRing::kCapacity];
    // A lost press would leave this waiting for ever: give up after a generous while.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (got.size() < kPresses && std::chrono::steady_clock::now() < deadline) {
        const size_t n = ring.Drain(batch, std::size(batch));
        got.insert(got.end(), batch, batch + n);
        if (n == 0)
            std::this_thread::yield();
    }
    stop = true;
    hook.join();
    ASSERT_EQ(got.size(), size_t(kPresses));
    for (uint32_t i = 0; i < kPresses; ++i) {
        ASSERT_EQ(got[i].time, i);
        ASSERT_TRUE(Consistent(got[i])) << i;
    }
}

// Unpaced, the ring overflows: presses are lost, but what arrives is whole, in order, and the
// newest press is among it.
TEST(ClickRing, OverflowUnderLoadLosesOnlyOlderPresses)
{
    constexpr uint32_t kPresses = 50000;
    ClickRing ring;
    std::atomic<bool> done{false};
    std::thread hook([&] {
        for (uint32_t i = 0; i < kPresses; ++i)
            ring.Push(Numbered(i));
        done = true;
    });
    std::vector<ClickPress> got;
    ClickPress batch[4];
    for (;;) {
        const bool finished = done.load();
        size_t n;
        while ((n = ring.Drain(batch, std::size(batch))) > 0)
            got.insert(got.end(), batch, batch + n);
        if (finished)
            break;
    }
    hook.join();
    ASSERT_FALSE(got.empty());
    for (size_t i = 0; i < got.size(); ++i) {
        ASSERT_TRUE(Consistent(got[i])) << i;
        if (i > 0) {
            ASSERT_GT(got[i].time, got[i - 1].time) << i;
        }
    }
    EXPECT_EQ(got.back().time, kPresses - 1);
}

// ---- ClickClock -----------------------------------------------------------------------------

TEST(ClickClock, PausesAreTakenOutAndPressesDuringThemGetNoTime)
{
    for (uint32_t origin : {0u, 1000u, 0xFFFFFF00u}) {  // and across the clock's wrap
        SCOPED_TRACE(origin);
        ClickClock clock;
        uint32_t t = 0;
        EXPECT_EQ(clock.Now(origin + 500), origin + 500);
        ASSERT_TRUE(clock.Stamp(origin + 500, t));
        EXPECT_EQ(t, origin + 500);

        clock.Pause(origin + 1000);
        EXPECT_TRUE(clock.Paused());
        EXPECT_FALSE(clock.Stamp(origin + 2000, t)) << "a click during the pause";
        EXPECT_EQ(clock.Now(origin + 2500), origin + 1000) << "stands still";
        clock.Pause(origin + 2800);  // a second pause changes nothing
        clock.Resume(origin + 3000);
        EXPECT_FALSE(clock.Paused());
        EXPECT_EQ(clock.Now(origin + 3000), origin + 1000) << "goes on where it stopped";
        EXPECT_EQ(clock.Now(origin + 3500), origin + 1500);
        ASSERT_TRUE(clock.Stamp(origin + 3500, t));
        EXPECT_EQ(t, origin + 1500);
        clock.Resume(origin + 4000);  // resuming while running changes nothing
        EXPECT_EQ(clock.Now(origin + 4000), origin + 2000);

        clock.Pause(origin + 5000);
        clock.Resume(origin + 5100);
        EXPECT_EQ(clock.Now(origin + 5100), origin + 3000) << "pauses add up";

        clock.Reset();
        EXPECT_EQ(clock.Now(origin + 6000), origin + 6000);
    }
}

// ---- ClickTimeline --------------------------------------------------------------------------

struct Step {
    enum Kind { Add, Frame } kind;
    uint32_t time;  // of the press, or of the frame
    std::vector<uint32_t> ages = {};  // a frame: the ages it shows, oldest press first
};

struct TimelineCase {
    const char* name;
    std::vector<Step> steps;
};

const TimelineCase kTimelines[] = {
    {"25 fps: every frame while the animation lasts",
     {{Step::Frame, 960, {}}, {Step::Add, 1000}, {Step::Frame, 1000, {0}}, {Step::Frame, 1040, {40}},
      {Step::Frame, 1360, {360}}, {Step::Frame, 1399, {399}}, {Step::Frame, 1400, {}}, {Step::Frame, 1440, {}}}},
    {"1 fps: a press between two frames shows in the next, late",
     {{Step::Frame, 0, {}}, {Step::Add, 500}, {Step::Frame, 1000, {ClickTimeline::kLateAgeMs}},
      {Step::Frame, 2000, {}}}},
    {"1 fps: a press 200 ms before the frame shows as it is",
     {{Step::Frame, 0, {}}, {Step::Add, 800}, {Step::Frame, 1000, {200}}, {Step::Frame, 2000, {}}}},
    {"a press after the frame's moment waits for the next frame",
     {{Step::Add, 1010}, {Step::Frame, 1000, {}}, {Step::Frame, 2000, {ClickTimeline::kLateAgeMs}}}},
    {"a press shown at its start is not shown again late",
     {{Step::Add, 1000}, {Step::Frame, 1000, {0}}, {Step::Frame, 2000, {}}}},
    {"double click: two rings",
     {{Step::Add, 1000}, {Step::Add, 1150}, {Step::Frame, 1200, {200, 50}}, {Step::Frame, 1450, {300}},
      {Step::Frame, 1600, {}}}},
    {"before the first frame",
     {{Step::Add, 100}, {Step::Frame, 5000, {ClickTimeline::kLateAgeMs}}, {Step::Frame, 5040, {}}}},
    {"across the clock's wrap",
     {{Step::Add, 0xFFFFFF9Cu}, {Step::Frame, 0xFFFFFFF0u, {84}}, {Step::Frame, 100, {200}}, {Step::Frame, 400, {}}}},
};

TEST(ClickTimeline, WhichFramesShowAPress)
{
    for (const TimelineCase& c : kTimelines) {
        SCOPED_TRACE(c.name);
        ClickTimeline timeline;
        for (const Step& s : c.steps) {
            if (s.kind == Step::Add) {
                timeline.Add(Press(s.time), 96);
                continue;
            }
            ClickTimeline::Shown shown[ClickTimeline::kMaxLive];
            const size_t n = timeline.Frame(s.time, shown, std::size(shown));
            std::vector<uint32_t> ages;
            for (size_t i = 0; i < n; ++i)
                ages.push_back(shown[i].ageMs);
            EXPECT_EQ(ages, s.ages) << "frame at " << s.time;
        }
    }
}

TEST(ClickTimeline, KeepsPositionButtonAndDpiAndDropsTheOldestWhenFull)
{
    ClickTimeline timeline;
    for (uint32_t i = 0; i <= ClickTimeline::kMaxLive; ++i)
        timeline.Add(Press(1000 + i, int32_t(i), -7, ClickButton::Right), 100 + int(i));
    EXPECT_EQ(timeline.Live(), ClickTimeline::kMaxLive);
    ClickTimeline::Shown shown[ClickTimeline::kMaxLive];
    ASSERT_EQ(timeline.Frame(1100, shown, std::size(shown)), ClickTimeline::kMaxLive);
    EXPECT_EQ(shown[0].press.at, (VPoint{1, -7})) << "the first press made room";
    EXPECT_EQ(shown[0].press.button, ClickButton::Right);
    EXPECT_EQ(shown[0].dpi, 101);
    EXPECT_EQ(shown[0].ageMs, 99u);

    // Fewer places than presses: the rest wait for the next frame rather than being lost.
    ClickTimeline owed;
    owed.Add(Press(0), 96);
    owed.Add(Press(10), 96);
    ASSERT_EQ(owed.Frame(5000, shown, 1), 1u);
    ASSERT_EQ(owed.Frame(6000, shown, 1), 1u);
    EXPECT_EQ(shown[0].press.time, 10u);
    EXPECT_EQ(owed.Live(), 0u);

    owed.Add(Press(7000), 96);
    owed.Reset();
    EXPECT_EQ(owed.Frame(7000, shown, 1), 0u);
}

// The pieces together, as the grabber uses them: a ring growing when the recording pauses goes
// on growing from there after the pause; a click during the pause never shows.
TEST(ClickTimeline, PauseStopsTheAnimationWithTheMovie)
{
    ClickClock clock;
    ClickTimeline timeline;
    ClickTimeline::Shown shown[ClickTimeline::kMaxLive];
    uint32_t t = 0;
    ASSERT_TRUE(clock.Stamp(10000, t));
    timeline.Add(Press(t), 96);
    ASSERT_EQ(timeline.Frame(clock.Now(10100), shown, 16), 1u);
    EXPECT_EQ(shown[0].ageMs, 100u);

    clock.Pause(10150);
    EXPECT_FALSE(clock.Stamp(12000, t)) << "the hook drops this click";
    clock.Resume(15150);
    ASSERT_EQ(timeline.Frame(clock.Now(15200), shown, 16), 1u);
    EXPECT_EQ(shown[0].ageMs, 200u) << "5 s of pause are not part of the animation";
    EXPECT_EQ(timeline.Frame(clock.Now(15400), shown, 16), 0u);
}

}  // namespace
