// Sound in step with the picture, end to end. One thread of this test keeps a pipe source of the
// private PulseAudio (scripts/test-env.d/sound.sh) fed at real time, with a 1000 Hz beep once a
// second, and turns a window white for one frame period at each beep, both from one clock. The
// real engine records the window and the sound; FFmpeg reads the movie, and each beep must start
// within one frame period of its white frame.

#include "engine/CaptureEngine.h"
#include "engine/CaptureFactory.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <mmsystem.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <numbers>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kFps = 10;
constexpr double kPeriodMs = 1000.0 / kFps;
constexpr uint32_t kRate = 22050;  // the pipe source's rate and the recording's, 16-bit mono
constexpr int kWidth = 160;
constexpr int kHeight = 120;
constexpr double kAmplitude = 12000;
constexpr int kLoud = 4000;        // a sample above this is part of a beep
// The flash begins this long before a frame slot, so that the frame taken in that slot shows it
// even when the capture loop wakes late.
constexpr double kLeadMs = 10;

// Beep k lasts 40, 80 or 120 ms by k % 3: a beep found a second away from its flash is still
// told apart from its neighbours.
double BeepMs(int k)
{
    return 40.0 * (1 + k % 3);
}

// The window and the sound of one schedule, on one clock (timeGetTime, the engine's frame clock):
// one thread feeds the pipe and nothing else, so that painting never holds up the sound, and one
// keeps the window.
class BeepsAndFlashes {
public:
    static constexpr int kMostBeeps = 64;

    BeepsAndFlashes(HANDLE fifo, double speed) : fifo(fifo), speed(speed)
    {
        for (int k = 0; k <= kMostBeeps; ++k)
            flashLate[k] = soundLate[k] = -1;
    }
    ~BeepsAndFlashes() { Stop(); }

    bool Start()
    {
        feeder = std::thread([this] { Feed(); });
        flasher = std::thread([this] { Flash(); });
        for (int i = 0; i < 500 && ready < 2 && !failed; ++i)
            ::Sleep(10);
        return ready == 2 && !failed;
    }
    void Stop()
    {
        stop = true;
        if (feeder.joinable())
            feeder.join();
        if (flasher.joinable())
            flasher.join();
    }
    // Beeps and flashes at first, first + 1 s, ... (count of them), by the frame clock.
    void Schedule(uint32_t first, int count)
    {
        firstBeep = first;
        beeps = count;
    }
    // Nothing goes into the pipe until FeedFrom: the device hears nothing and hands back
    // nothing, as a sound card does while it starts up.
    void Hold() { feeding = Feeding::Held; }
    void FeedFrom(uint32_t t)
    {
        feedFrom = t;
        feeding = Feeding::From;
    }
    bool Failed() const { return failed; }
    // The longest the feeder went without writing: the pipe then arrives in a burst, which the
    // sound server may cut short.
    uint32_t LongestStallMs() const { return longestStall; }
    // How late this process put out beep k (1, 2, ...) and painted its flash, in ms; -1 for never.
    // A busy machine can hold either thread up: then that second says nothing about the engine.
    int SoundLateMs(int k) const { return k >= 1 && k <= kMostBeeps ? soundLate[k].load() : -1; }
    int FlashLateMs(int k) const { return k >= 1 && k <= kMostBeeps ? flashLate[k].load() : -1; }

private:
    static LRESULT CALLBACK WindowProc(HWND w, UINT message, WPARAM wp, LPARAM lp)
    {
        auto* self = reinterpret_cast<BeepsAndFlashes*>(::GetWindowLongPtrA(w, GWLP_USERDATA));
        switch (message) {
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = ::BeginPaint(w, &ps);
            if (self)
                self->Paint(dc);
            ::EndPaint(w, &ps);
            return 0;
        }
        default:
            return ::DefWindowProcA(w, message, wp, lp);
        }
    }

    void Paint(HDC dc)
    {
        RECT r{0, 0, kWidth, kHeight};
        ::FillRect(dc, &r, static_cast<HBRUSH>(::GetStockObject(white ? WHITE_BRUSH : BLACK_BRUSH)));
    }

    // Which beep (1, 2, ...) sounds `sinceFirst` ms after the first begins, and how far into
    // it; 0 for none.
    int BeepAt(double sinceFirst, double* into) const
    {
        if (sinceFirst < 0)
            return 0;
        const int k = int(sinceFirst / 1000);
        *into = sinceFirst - k * 1000.0;
        return k < beeps && *into < BeepMs(k + 1) ? k + 1 : 0;
    }

    void Feed()
    {
        ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
        const uint32_t base = ::timeGetTime();
        uint32_t lastWrite = base;
        int64_t written = 0;
        std::vector<int16_t> chunk;
        ++ready;
        while (!stop) {
            const uint32_t now = ::timeGetTime();
            // The samples due by now: sample s stands for base + s / (rate x speed) seconds.
            const auto due = int64_t(double(now - base) * kRate * speed / 1000.0);
            chunk.clear();
            const uint32_t first = firstBeep;
            const Feeding f = feeding;
            if (f == Feeding::Held || (f == Feeding::From && int32_t(now - feedFrom) < 0)) {
                written = due;  // what the device would have heard meanwhile is lost
                lastWrite = now;
            }
            for (int64_t s = written; s < due; ++s) {
                const double t = double(int32_t(base - first)) + double(s) * 1000.0 / (kRate * speed);
                double into = 0;
                const int k = beeps > 0 ? BeepAt(t, &into) : 0;
                if (k > 0 && k <= kMostBeeps && soundLate[k] < 0)
                    soundLate[k] = int(std::max(0.0, double(int32_t(now - first)) - (k - 1) * 1000.0));
                // 1000 Hz: one cycle a millisecond.
                chunk.push_back(k > 0 ? int16_t(kAmplitude * std::sin(2 * std::numbers::pi * into)) : int16_t(0));
            }
            if (!chunk.empty()) {
                DWORD done = 0;
                if (!::WriteFile(fifo, chunk.data(), DWORD(chunk.size() * 2), &done, nullptr) ||
                    done != chunk.size() * 2) {
                    failed = true;
                    return;
                }
                written = due;
                longestStall = std::max<uint32_t>(longestStall, now - lastWrite);
                lastWrite = now;
            }
            ::Sleep(2);
        }
    }

    void Flash()
    {
        ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
        WNDCLASSA wc{};
        wc.lpfnWndProc = WindowProc;
        wc.hInstance = ::GetModuleHandleA(nullptr);
        wc.lpszClassName = "VorluxSyncFlash";
        ::RegisterClassA(&wc);
        window = ::CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, wc.lpszClassName, "flash", WS_POPUP | WS_VISIBLE, 0, 0,
                                   kWidth, kHeight, nullptr, nullptr, wc.hInstance, nullptr);
        if (!window) {
            failed = true;
            return;
        }
        ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        ::InvalidateRect(window, nullptr, FALSE);
        ++ready;
        while (!stop) {
            // White for one frame period from each beep's start.
            const double sinceFirst = double(int32_t(::timeGetTime() - firstBeep));
            const bool flash = beeps > 0 && sinceFirst >= 0 && int(sinceFirst / 1000) < beeps &&
                               sinceFirst - int(sinceFirst / 1000) * 1000.0 < kPeriodMs;
            const int k = int(sinceFirst / 1000) + 1;
            if (flash && k <= kMostBeeps && flashLate[k] < 0)
                flashLate[k] = int(sinceFirst - (k - 1) * 1000.0);
            if (flash != white) {
                white = flash;
                HDC dc = ::GetDC(window);
                Paint(dc);
                ::ReleaseDC(window, dc);
                ::ValidateRect(window, nullptr);
            }
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 2, QS_ALLINPUT);
            MSG msg;
            while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
                ::DispatchMessageA(&msg);
        }
        ::DestroyWindow(window);
        ::UnregisterClassA(wc.lpszClassName, wc.hInstance);
    }

    HANDLE fifo;  // not owned
    const double speed;
    std::thread feeder;
    std::thread flasher;
    std::atomic<int> ready{0};
    std::atomic<bool> failed{false};
    std::atomic<bool> stop{false};
    std::atomic<uint32_t> firstBeep{0};
    std::atomic<int> beeps{0};
    enum class Feeding { Always, Held, From };
    std::atomic<Feeding> feeding{Feeding::Always};
    std::atomic<uint32_t> feedFrom{0};
    std::atomic<uint32_t> longestStall{0};
    std::atomic<int> flashLate[kMostBeeps + 1];
    std::atomic<int> soundLate[kMostBeeps + 1];
    HWND window = nullptr;  // flash thread
    bool white = false;     // flash thread
};

// Runs a shell script on the Unix side and waits for it: Wine starts Unix programs without
// waiting, so the script announces its end by creating `done`.
bool RunUnix(const std::string& dir, const std::string& body)
{
    const std::string script = dir + "/run.sh";
    const std::string done = dir + "/done";
    ::DeleteFileA(("Z:" + done).c_str());
    FILE* f = std::fopen(("Z:" + script).c_str(), "wb");  // no CRLF for the shell
    if (!f)
        return false;
    std::fprintf(f, "cd '%s' || exit 1\n%s\ntouch '%s'\n", dir.c_str(), body.c_str(), done.c_str());
    std::fclose(f);
    std::system(("start /unix /bin/sh " + script).c_str());
    for (int i = 0; i < 1200; ++i) {
        if (::GetFileAttributesA(("Z:" + done).c_str()) != INVALID_FILE_ATTRIBUTES)
            return true;
        ::Sleep(50);
    }
    return false;
}

std::string ReadText(const std::string& path)
{
    std::string text;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
            text.append(buf, n);
        std::fclose(f);
    }
    return text;
}

struct Onset {
    double at;  // seconds into the movie
    double ms;  // how long it lasts
};

// Beeps in the decoded sound: a loud sample after at least 200 ms of quiet starts one; 20 ms of
// quiet ends it.
std::vector<Onset> FindBeeps(const std::vector<int16_t>& s)
{
    std::vector<Onset> found;
    const size_t startQuiet = kRate / 5, endQuiet = kRate / 50;
    size_t quiet = startQuiet, begin = 0, last = 0;
    bool inBeep = false;
    for (size_t i = 0; i < s.size(); ++i) {
        if (std::abs(int(s[i])) > kLoud) {
            if (!inBeep && quiet >= startQuiet) {
                inBeep = true;
                begin = i;
            }
            last = i;
            quiet = 0;
        } else if (++quiet == endQuiet && inBeep) {
            inBeep = false;
            found.push_back({double(begin) / kRate, double(last + 1 - begin) * 1000.0 / kRate});
        }
    }
    if (inBeep)
        found.push_back({double(begin) / kRate, double(last + 1 - begin) * 1000.0 / kRate});
    return found;
}

// The first frame of each run of white frames, from "pts_time:" and "YAVG=" lines.
std::vector<double> FindFlashes(const std::string& luma)
{
    std::vector<double> found;
    std::istringstream in(luma);
    std::string line;
    double pts = 0;
    bool wasWhite = false;
    while (std::getline(in, line)) {
        const auto at = line.find("pts_time:");
        if (at != std::string::npos)
            pts = std::atof(line.c_str() + at + 9);
        const auto y = line.find("YAVG=");
        if (y == std::string::npos)
            continue;
        const bool white = std::atof(line.c_str() + y + 5) > 128;
        if (white && !wasWhite)
            found.push_back(pts);
        wasWhite = white;
    }
    return found;
}

struct Figures {
    double video = 0, audio = 0;
    int flashes = 0, beeps = 0, paired = 0;
    int judged = 0;    // seconds whose beep and flash this process put out on time
    int missing = 0;   // judged seconds without their beep or their flash
    double worstMs = 0;
    std::string table;
};

// When this process put out second k's beep and flash, ms after they were due (-1: never).
struct Lateness {
    std::vector<int> sound, flash;  // by second
};

// Beep k belongs with the flash of second k; a beep is counted as k by its length, among the
// seconds next to where it was found. A second whose flash was painted later than its lead
// before the frame slot, or whose beep went out half a frame late, is shown but not judged.
Figures Compare(const std::vector<Onset>& onsets, const std::vector<double>& flashes, int seconds, const Lateness& late)
{
    Figures f;
    std::map<int, double> flashAt, beepAt;
    for (double t : flashes) {
        const int k = int(std::lround(t));
        if (k >= 1 && k < seconds)
            flashAt[k] = t;
    }
    for (const Onset& o : onsets) {
        const int kind = std::clamp(int(std::lround(o.ms / 40.0)) - 1, 0, 2);
        const int nearest = int(std::lround(o.at));
        auto claim = [&](int k, bool fits) {
            if (k < 1 || k >= seconds || !fits || beepAt.count(k))
                return false;
            beepAt[k] = o.at;
            return true;
        };
        bool placed = false;
        for (int k = nearest - 1; k <= nearest + 1 && !placed; ++k)
            placed = claim(k, k % 3 == kind);
        // A correction that drops samples inside a beep shortens it: a beep no second of its
        // length claims goes to the nearest free second whose beep is longer.
        for (int k : {nearest, nearest - 1, nearest + 1})
            placed = placed || claim(k, BeepMs(k) > o.ms);
    }
    f.flashes = int(flashAt.size());
    f.beeps = int(beepAt.size());
    char row[128];
    for (int k = 1; k < seconds; ++k) {
        const int soundLate = late.sound[size_t(k)], flashLate = late.flash[size_t(k)];
        const bool judged = soundLate >= 0 && soundLate <= kPeriodMs / 2 && flashLate >= 0 && flashLate <= kLeadMs;
        f.judged += judged;
        const bool fl = flashAt.count(k) > 0, be = beepAt.count(k) > 0;
        if (fl && be) {
            const double offset = (beepAt[k] - flashAt[k]) * 1000;
            ++f.paired;
            if (judged && std::abs(offset) > std::abs(f.worstMs))
                f.worstMs = offset;
            std::snprintf(row, sizeof row, "  second %2d: flash %7.3f s, beep %7.3f s, offset %+5.0f ms", k, flashAt[k],
                          beepAt[k], offset);
        } else {
            f.missing += judged;
            std::snprintf(row, sizeof row, "  second %2d: %s", k, fl ? "no beep" : be ? "no flash" : "neither");
        }
        f.table += row;
        if (!judged) {
            std::snprintf(row, sizeof row, "  (not judged: beep out %d ms late, flash painted %d ms late)", soundLate,
                          flashLate);
            f.table += row;
        }
        f.table += "\n";
    }
    return f;
}

// Records `seconds` of the flashing window with the pipe source fed `speed` times real time,
// starting `lateMs` after the recording.
void RecordAndCompare(int seconds, double speed, uint32_t lateMs, int fewestCorrections)
{
    const char* fifoPath = std::getenv("VORLUX_BEEP_FIFO");
    if (!fifoPath || !*fifoPath)
        GTEST_SKIP() << "VORLUX_BEEP_FIFO unset: no PulseAudio pipe source for the beeps (scripts/test-env.d/sound.sh)";
    HANDLE fifo = ::CreateFileA((std::string("Z:") + fifoPath).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(fifo, INVALID_HANDLE_VALUE) << "cannot open " << fifoPath;

    const std::string dir = "/tmp/vorlux-sync-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(seconds);
    ::CreateDirectoryA(("Z:" + dir).c_str(), nullptr);
    const std::string movie = dir + "/movie.avi";

    Figures f;
    std::string trace;
    uint32_t stallMs = 0;
    Lateness late;
    {
        std::ostringstream traceStream;
        StreamLog traceLog(traceStream);
        CaptureEngine engine(std::make_unique<CaptureFactory>());
        engine.SetLog(traceLog);
        ASSERT_TRUE(engine.SetBitDepth(16));
        ASSERT_TRUE(engine.SetCaptureRect(VRect{0, 0, kWidth, kHeight}));
        ASSERT_TRUE(engine.SetFramesPerSecond(kFps));
        ASSERT_TRUE(engine.SetRecordSound(true));
        ASSERT_TRUE(engine.SetWaveFormat(1, kRate, 16));
        ASSERT_TRUE(engine.SetFileName(("Z:" + movie).c_str()));

        BeepsAndFlashes source(fifo, speed);
        ASSERT_TRUE(source.Start()) << "the window or the FIFO failed";
        ::Sleep(500);  // the window is up and the pipe flows before the recording starts
        if (lateMs > 0)
            source.Hold();
        const int32_t started = engine.BeginCapture();
        const uint32_t start = ::timeGetTime();
        if (lateMs > 0)
            source.FeedFrom(start + lateMs);
        if (started == 8)
            GTEST_SKIP() << "no wave-in device takes 22050 Hz 16-bit mono here";
        ASSERT_EQ(started, 0);
        source.Schedule(start + 1000 - uint32_t(kLeadMs), seconds - 1);
        while (::timeGetTime() - start < uint32_t(seconds) * 1000)
            ::Sleep(5);
        ASSERT_EQ(engine.CaptureStop(), 1);
        source.Stop();
        EXPECT_FALSE(source.Failed()) << "writing the FIFO failed";
        stallMs = source.LongestStallMs();
        for (int k = 0; k < seconds; ++k) {
            late.sound.push_back(source.SoundLateMs(k));
            late.flash.push_back(source.FlashLateMs(k));
        }
        trace = traceStream.str();
    }
    ::CloseHandle(fifo);

    ASSERT_TRUE(RunUnix(dir, "ffprobe -v error -select_streams v:0 -show_entries stream=duration -of csv=p=0 movie.avi >video.txt\n"
                             "ffmpeg -v error -y -i movie.avi -map 0:a:0 -f s16le -acodec pcm_s16le audio.raw\n"
                             "ffmpeg -v error -y -i movie.avi -map 0:v:0 -vf "
                             "'signalstats,metadata=print:key=lavfi.signalstats.YAVG:file=luma.txt' -f null - 2>ffmpeg.err"))
        << "FFmpeg did not finish";
    const std::string raw = ReadText("Z:" + dir + "/audio.raw");
    std::vector<int16_t> samples(raw.size() / 2);
    std::memcpy(samples.data(), raw.data(), samples.size() * 2);
    f = Compare(FindBeeps(samples), FindFlashes(ReadText("Z:" + dir + "/luma.txt")), seconds, late);
    f.video = std::atof(ReadText("Z:" + dir + "/video.txt").c_str());
    f.audio = double(samples.size()) / kRate;
    size_t corrections = 0;
    for (size_t at = trace.find("Sound drift: "); at != std::string::npos; at = trace.find("Sound drift: ", at + 1))
        ++corrections;

    std::printf("%d s, sound from %u ms, at %.3f x real time: video %.3f s, audio %.3f s, %d flashes, %d beeps, %d pairs, "
                "%d seconds judged, largest beep-to-flash offset %+.0f ms, %zu drift corrections, feeder stalled up to %u ms\n%s",
                seconds, lateMs, speed, f.video, f.audio, f.flashes, f.beeps, f.paired, f.judged, f.worstMs, corrections, stallMs, f.table.c_str());
    // The engine's own account: where the sound started and what it corrected.
    std::istringstream lines(trace);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("Sound ", 0) == 0 || line.rfind("!!!!!!!SOUND", 0) == 0 || line.rfind("Frames skipped", 0) == 0)
            std::printf("  engine: %s\n", line.c_str());
    std::fflush(stdout);

    EXPECT_EQ(f.missing, 0) << "every second from the first to the last has its flash and its beep";
    EXPECT_LE(std::abs(f.worstMs), kPeriodMs);
    // A second or two may go unjudged on a busy machine; more and the run says nothing.
    EXPECT_GE(f.judged, (seconds - 1) * 9 / 10) << "this process put out too many beeps or flashes late";
    EXPECT_NEAR(f.audio, f.video, 1 / double(kFps)) << "audio and video durations";
    EXPECT_GE(f.video, seconds - 1 / double(kFps));
    EXPECT_GE(corrections, size_t(fewestCorrections)) << trace;
    if (fewestCorrections > 0) {
        EXPECT_EQ(trace.find("ahead of the picture"), std::string::npos) << "a fast device only ever drops";
    }

    for (const char* name : {"/movie.avi", "/audio.raw", "/luma.txt", "/video.txt", "/ffmpeg.err", "/run.sh", "/done"})
        ::DeleteFileA(("Z:" + dir + name).c_str());
    ::RemoveDirectoryA(("Z:" + dir).c_str());
}

TEST(SoundSyncTest, BeepsArePairedWithTheirSeconds)
{
    // Flashes on the second; beeps found where a recording could put them.
    const Lateness onTime{std::vector<int>(6, 0), std::vector<int>(6, 0)};
    const std::vector<double> flashes{1.0, 2.0, 3.0, 4.0, 5.0};
    struct Case {
        const char* what;
        std::vector<Onset> beeps;
        int paired;
        double worstMs;
    } cases[] = {
        {"in step", {{1.004, 80}, {2.0, 120}, {2.996, 40}, {4.01, 80}}, 4, 10},
        // Sound 700 ms early: each beep is told by its length, not by the nearest second.
        {"early", {{0.3, 80}, {1.3, 120}, {2.3, 40}, {3.3, 80}}, 4, -700},
        // Drift corrections dropped the last 25 ms of the first beep and of the second.
        {"shortened", {{1.0, 55}, {2.02, 95}, {3.0, 40}, {4.0, 80}}, 4, 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Figures f = Compare(c.beeps, flashes, 5, onTime);
        EXPECT_EQ(f.paired, c.paired) << f.table;
        EXPECT_EQ(f.missing, 0) << f.table;
        EXPECT_NEAR(f.worstMs, c.worstMs, 0.5) << f.table;
    }
}

TEST(SoundSyncTest, HeavyBeepsMeetFlashesOverTwelveSeconds)
{
    // The device hears nothing for the first 700 ms, like a sound card starting up.
    RecordAndCompare(12, 1.0, 700, 0);
}

TEST(SoundSyncTest, HeavyFastDeviceStaysInStepForAMinute)
{
    // The pipe is fed 0.5 % faster than real time: a sound card whose clock runs fast.
    RecordAndCompare(60, 1.005, 0, 2);
}

}  // namespace
