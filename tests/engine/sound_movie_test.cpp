// Recordings with sound through the real engine, the real sound grabber and the real AVI writer,
// with only the screen faked, judged by ffprobe.

#include "engine/CaptureEngine.h"
#include "engine/CaptureFactory.h"
#include "media/ScreenGrabber.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>
#include <string>

namespace {

class PatternScreen : public ScreenGrabber {
public:
    using ScreenGrabber::ScreenGrabber;
    int32_t CheckConfig() override { return 0; }
    void InitCapturing() override {}
    bool GrabFrame(void* bits, uint32_t size) override
    {
        auto* p = static_cast<uint8_t*>(bits);
        for (uint32_t i = 0; i < size; ++i)
            p[i] = uint8_t(i / 64 + frame);
        ++frame;
        return true;
    }
    void EndCapturing() override {}

private:
    int frame = 0;
};

class PatternScreenFactory : public CaptureFactory {
public:
    std::unique_ptr<ScreenGrabber> CreateScreenGrabber(CaptureInfo& info) override
    {
        return std::make_unique<PatternScreen>(info);
    }
};

// key=value lines of ffprobe's default writer, per stream index, and "audio_bytes" (the sum of the
// audio packets) under the audio stream. Wine starts Unix programs without waiting for them, so the
// script announces its end by renaming its output.
std::map<int, std::map<std::string, std::string>> Probe(const std::string& unixMovie, const std::string& unixDir)
{
    const std::string script = unixDir + "/vorlux-probe.sh";
    const std::string out = unixDir + "/vorlux-probe.out";
    ::DeleteFileA(("Z:" + out).c_str());
    {
        FILE* f = std::fopen(("Z:" + script).c_str(), "wb");  // no CRLF for the shell
        if (!f)
            return {};
        std::fprintf(f,
                     "ffprobe -v error -show_entries stream=index,codec_type,codec_name,sample_rate,channels,"
                     "bits_per_sample,duration -of default=nw=1 '%s' >'%s.tmp' 2>&1\n"
                     "echo audio_bytes=$(ffprobe -v error -select_streams a -show_entries packet=size -of csv=p=0 "
                     "'%s' | awk '{s+=$1} END {print s+0}') >>'%s.tmp'\n"
                     "mv '%s.tmp' '%s'\n",
                     unixMovie.c_str(), out.c_str(), unixMovie.c_str(), out.c_str(), out.c_str(), out.c_str());
        std::fclose(f);
    }
    std::system(("start /unix /bin/sh " + script).c_str());
    std::map<int, std::map<std::string, std::string>> streams;
    FILE* in = nullptr;
    for (int i = 0; i < 600 && !in; ++i) {
        in = std::fopen(("Z:" + out).c_str(), "r");
        if (!in)
            ::Sleep(50);
    }
    if (!in)
        return streams;
    char line[512];
    int index = -1;
    while (std::fgets(line, sizeof line, in)) {
        std::string s(line);
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
            s.pop_back();
        const auto eq = s.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = s.substr(0, eq);
        const std::string value = s.substr(eq + 1);
        if (key == "index")
            index = std::atoi(value.c_str());
        streams[index][key] = value;
    }
    std::fclose(in);
    ::DeleteFileA(("Z:" + out).c_str());
    ::DeleteFileA(("Z:" + script).c_str());
    return streams;
}

const char kUnixDir[] = "/tmp";

size_t Count(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

TEST(SoundMovieTest, HeavyThreeSecondRecordingsCarryTheirSound)
{
    struct Case {
        uint16_t channels;
        uint32_t rate;
        uint16_t bits;
        const char* codec;
    } cases[] = {{1, 22050, 8, "pcm_u8"}, {2, 44100, 16, "pcm_s16le"}};
    const int fps = 10;
    // VORLUX_SOUND_SECONDS lengthens the recordings for a manual soak run.
    const char* seconds = std::getenv("VORLUX_SOUND_SECONDS");
    const DWORD recordMs = seconds && std::atoi(seconds) > 0 ? DWORD(std::atoi(seconds)) * 1000 : 3000;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rate << " Hz " << c.bits << " bit " << c.channels << " ch");
        const std::string unixPath = std::string(kUnixDir) + (c.bits == 8 ? "/vorlux-sound-8.avi" : "/vorlux-sound-16.avi");
        const std::string path = "Z:" + unixPath;
        ::DeleteFileA(path.c_str());

        std::ostringstream trace;
        StreamLog traceLog(trace);
        CaptureEngine engine(std::make_unique<PatternScreenFactory>());
        engine.SetLog(traceLog);
        ASSERT_TRUE(engine.SetCaptureRect(VRect{0, 0, 160, 120}));
        ASSERT_TRUE(engine.SetBitDepth(16));
        ASSERT_TRUE(engine.SetFramesPerSecond(fps));
        ASSERT_TRUE(engine.SetRecordSound(true));
        ASSERT_TRUE(engine.SetWaveFormat(c.channels, c.rate, c.bits));
        ASSERT_TRUE(engine.SetFileName(path.c_str()));
        const int32_t started = engine.BeginCapture();
        if (started == 8)
            GTEST_SKIP() << "no wave-in device takes this format here";
        ASSERT_EQ(started, 0);
        ::Sleep(recordMs);
        ASSERT_EQ(engine.CaptureStop(), 1);

        auto streams = Probe(unixPath, kUnixDir);
        ASSERT_EQ(streams.count(1), 1u) << "no audio stream 1; engine said:\n" << trace.str();
        EXPECT_EQ(streams[0]["codec_type"], "video");
        EXPECT_EQ(streams[1]["codec_type"], "audio");
        EXPECT_EQ(streams[1]["codec_name"], c.codec);
        EXPECT_EQ(streams[1]["sample_rate"], std::to_string(c.rate));
        EXPECT_EQ(streams[1]["channels"], std::to_string(c.channels));
        const double video = std::atof(streams[0]["duration"].c_str());
        const double audio = std::atof(streams[1]["audio_bytes"].c_str()) / (c.rate * c.channels * c.bits / 8);
        EXPECT_GT(video, recordMs / 1000.0 - 1.0);
        // A slot the loop skipped under load gets a frame but no sound write of its own.
        const std::string report = trace.str();
        const auto at = report.find("Frames skipped:");
        const int skipped = at == std::string::npos ? 0 : std::atoi(report.c_str() + at + 15);
        const double tolerance = (2.0 + skipped) / fps;
        EXPECT_GT(audio, video - tolerance) << report;
        // More sound than wall time means the source delivered a backlog in a burst (the test
        // tone's pipe can), which also fills every buffer: then only the lower bound says
        // anything about the recording.
        if (Count(report, "!!!!!!!SOUND BUFFER LOST!!!!!!!") == 0) {
            EXPECT_LT(audio, video + tolerance) << report;
        }
        std::printf("video %.3f s, audio %.3f s, %zu lines without sound, %zu buffers lost\n", video, audio,
                    Count(trace.str(), "NO WAVE INFO!!!!"), Count(trace.str(), "!!!!!!!SOUND BUFFER LOST!!!!!!!"));
        ::DeleteFileA(path.c_str());
    }
}

}  // namespace
