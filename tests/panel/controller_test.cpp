// The recording controller on its own, without a window: every command in every state, with
// an engine built from doubles and a host that keeps its messages and questions.

#include "panel/RecordingController.h"

#include "engine/CaptureEngine.h"
#include "settings/Prefs.h"
#include "tests/engine/FakeParts.h"
#include "tests/support/PrefsRig.h"
#include "tests/support/WindowRig.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr char kTestTree[] = "Software\\Quorvane\\VorluxControllerTests";

// Messages and questions are counted; the low-disk question is answered No.
class FakeHost : public RecordingHost {
public:
    int asked = 0;
    uint64_t freeBytes = ~uint64_t{0};
    std::function<void()> whileOpen;  // runs once, inside the next message or question, as its loop would
    std::vector<RecordingCommand> reposted;

    void ShowMessage(const char*, const char*) override { RunWhileOpen(); }
    bool AskMessage(const char*, const char*) override
    {
        ++asked;
        RunWhileOpen();
        return false;
    }
    bool FreeBytes(const char*, uint64_t& bytes) override
    {
        bytes = freeBytes;
        return true;
    }
    void HideForCapture() override {}
    void ShowAfterCapture() override {}
    bool StartSnapshotTimer() override { return true; }  // the test fires it
    void Repost(RecordingCommand command) override { reposted.push_back(command); }

private:
    void RunWhileOpen()
    {
        if (auto once = std::exchange(whileOpen, nullptr))
            once();
    }
};

using S = RecordingState;
using C = RecordingCommand;

class ControllerTest : public ::testing::Test {
protected:
    void SetUp() override { prefs->SetDirectory(TempDirectory().c_str()); }
    void TearDown() override
    {
        recorder.reset();
        ::RegDeleteTreeA(HKEY_CURRENT_USER, kTestTree);
    }
    // A new controller, idle, with a new engine and host.
    void Fresh()
    {
        recorder.reset();
        host = FakeHost();
        recorder = std::make_unique<RecordingController>(*prefs, ::GetModuleHandleA(nullptr), host);
        auto made = std::make_unique<FakeFactory>(journal, nullptr);
        parts = made.get();
        recorder->Attach(std::move(made), nullptr, 0);
    }
    // A recording that fails on its first frame, stopped by the engine's notice; `whileTold`
    // runs while the user reads why.
    void FailRecording(std::function<void()> whileTold = {})
    {
        parts->writer->reported = {FailureKind::DiskFull, 112};
        parts->video->failFromCall = 0;
        recorder->Command(C::Start);
        for (int i = 0; i < 1000 && !recorder->Engine()->Failure(); ++i)
            ::Sleep(10);
        ASSERT_TRUE(recorder->Engine()->Failure());
        parts->writer->reported = {};
        parts->video->failFromCall = -1;
        host.whileOpen = std::move(whileTold);
        recorder->Command(C::Failure);
    }
    std::string LastMovie()
    {
        char last[kPrefsPathSize];
        prefs->GetLastMovieRecorded(last, sizeof last);
        return last;
    }

    Journal journal;
    std::unique_ptr<Prefs> prefs = FreshPrefs(kTestTree);
    FakeHost host;
    std::unique_ptr<RecordingController> recorder;
    FakeFactory* parts = nullptr;  // not owned: the engine owns it
};

// Every command in every state: what it does, and the state it leaves. A refused command
// touches nothing. While the low-disk question or a message is open, its loop delivers the
// command: it must not re-enter (two capture loops on one engine), and "No" leaves the last
// movie as it was.
TEST_F(ControllerTest, EveryCommandInEveryState)
{
    enum class Does { Nothing, Starts, Stops, Pauses, Resumes, Snaps, Waits };
    struct Case {
        S state;
        C command;
        Does does;
        S after;
    };
    const Case cases[] = {
        {S::Idle, C::Start, Does::Starts, S::Recording},
        {S::Idle, C::Stop, Does::Nothing, S::Idle},
        {S::Idle, C::Pause, Does::Nothing, S::Idle},
        {S::Idle, C::Frame, Does::Snaps, S::Snapshot},
        {S::Idle, C::Failure, Does::Nothing, S::Idle},
        {S::Asking, C::Start, Does::Nothing, S::Asking},
        {S::Asking, C::Stop, Does::Nothing, S::Asking},
        {S::Asking, C::Pause, Does::Nothing, S::Asking},
        {S::Asking, C::Frame, Does::Nothing, S::Asking},
        {S::Asking, C::Failure, Does::Nothing, S::Asking},
        {S::Recording, C::Start, Does::Nothing, S::Recording},
        {S::Recording, C::Stop, Does::Stops, S::Idle},
        {S::Recording, C::Pause, Does::Pauses, S::Paused},
        {S::Recording, C::Frame, Does::Nothing, S::Recording},
        {S::Recording, C::Failure, Does::Stops, S::Idle},  // a notice without a failure: a plain stop
        {S::Paused, C::Start, Does::Nothing, S::Paused},
        {S::Paused, C::Stop, Does::Stops, S::Idle},  // the pause ends with the recording
        {S::Paused, C::Pause, Does::Resumes, S::Recording},
        {S::Paused, C::Frame, Does::Nothing, S::Paused},
        {S::Paused, C::Failure, Does::Stops, S::Idle},
        {S::Stopping, C::Start, Does::Nothing, S::Stopping},
        {S::Stopping, C::Stop, Does::Nothing, S::Stopping},
        {S::Stopping, C::Pause, Does::Nothing, S::Stopping},
        {S::Stopping, C::Frame, Does::Nothing, S::Stopping},
        {S::Stopping, C::Failure, Does::Nothing, S::Stopping},
        {S::Failed, C::Start, Does::Starts, S::Recording},
        {S::Failed, C::Stop, Does::Nothing, S::Failed},
        {S::Failed, C::Pause, Does::Nothing, S::Failed},
        {S::Failed, C::Frame, Does::Snaps, S::Snapshot},
        {S::Failed, C::Failure, Does::Nothing, S::Failed},
        {S::Snapshot, C::Start, Does::Waits, S::Snapshot},
        {S::Snapshot, C::Stop, Does::Waits, S::Snapshot},
        {S::Snapshot, C::Pause, Does::Waits, S::Snapshot},
        {S::Snapshot, C::Frame, Does::Nothing, S::Snapshot},
        {S::Snapshot, C::Failure, Does::Nothing, S::Snapshot},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(RecordingController::Name(c.command)) + " while " +
                     RecordingController::Name(c.state));
        S seen = S::Idle;
        auto act = [&] {
            ASSERT_EQ(recorder->State(), c.state);
            const size_t calls = journal.Size();
            const size_t starts = journal.Count("screen.Init");
            const size_t stops = journal.Count("screen.End");
            const bool paused = recorder->Engine()->IsPaused();
            recorder->Command(c.command);
            seen = recorder->State();
            if (c.does == Does::Nothing || c.does == Does::Waits) {
                EXPECT_EQ(journal.Size(), calls) << "a refused or waiting command touched the engine";
            }
            EXPECT_EQ(journal.Count("screen.Init"), starts + (c.does == Does::Starts));
            EXPECT_EQ(journal.Count("screen.End"), stops + (c.does == Does::Stops));
            EXPECT_EQ(recorder->Engine()->IsPaused(), c.does == Does::Pauses || (paused && c.does == Does::Nothing));
        };
        Fresh();
        prefs->SetLastMovieRecorded("C:\\before.avi");
        switch (c.state) {
        case S::Idle:
            act();
            break;
        case S::Asking:
            host.freeBytes = 0;
            host.whileOpen = act;
            recorder->Command(C::Start);
            EXPECT_EQ(host.asked, 1);
            EXPECT_EQ(LastMovie(), "C:\\before.avi") << "no movie was made";
            break;
        case S::Recording:
            recorder->Command(C::Start);
            act();
            break;
        case S::Paused:
            recorder->Command(C::Start);
            recorder->Command(C::Pause);
            act();
            break;
        case S::Stopping:
            FailRecording(act);
            break;
        case S::Failed:
            FailRecording();
            act();
            break;
        case S::Snapshot:
            recorder->Command(C::Frame);
            act();
            break;
        }
        EXPECT_EQ(RecordingController::Name(seen), RecordingController::Name(c.after));
        // The take is over; what waited for a snapshot is handed back in order.
        recorder->OnSnapshotTimer();
        EXPECT_EQ(host.reposted, c.does == Does::Waits ? std::vector<C>{c.command} : std::vector<C>{});
        if (c.does == Does::Starts) {
            EXPECT_NE(LastMovie(), "C:\\before.avi") << "the movie being made is the last one";
        }
        recorder->Command(C::Stop);
        EXPECT_FALSE(recorder->Recording());
        EXPECT_FALSE(recorder->Engine()->IsPaused());
    }
}

}  // namespace
