// CPU that the capture loop costs while recording with parts that do no work: process CPU
// seconds per wall-clock second. A loop that polls the clock costs a whole core.
//   engine_cpu [seconds] [fps]

#include "tests/engine/FakeParts.h"
#include "bench/engine/ProcessCpu.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    const int fps = argc > 2 ? std::atoi(argv[2]) : 10;

    Journal journal;
    std::ostringstream trace;
    StreamLog traceLog(trace);
    CaptureEngine engine{std::make_unique<FakeFactory>(journal, nullptr)};
    engine.SetLog(traceLog);
    engine.SetRecordSound(false);
    engine.SetFramesPerSecond(fps);

    const double cpuBefore = CpuSeconds();
    const DWORD wallBefore = ::GetTickCount();
    if (engine.BeginCapture() != 0) {
        std::fprintf(stderr, "engine_cpu: the recording did not start\n");
        return 1;
    }
    ::Sleep(DWORD(seconds) * 1000);
    engine.CaptureStop();
    const double wall = (::GetTickCount() - wallBefore) / 1000.0;
    const double cpu = CpuSeconds() - cpuBefore;

    std::printf("recording %d s at %d fps with idle parts: %.3f CPU s over %.3f s wall = %.2f%% of one core\n",
                seconds, fps, cpu, wall, 100.0 * cpu / wall);
    std::string t = trace.str();
    auto at = t.find("\nFrames skipped:");
    if (at != std::string::npos)
        std::printf("%s", t.substr(at).c_str());
    return 0;
}
