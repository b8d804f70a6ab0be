// CPU that a lossless recording costs with the real parts: the screen grabbed at 32 bits,
// ZMBV-compressed and written to an AVI file, as the panel sets it up with Lossless on.
// Prints process CPU seconds per wall-clock second and the capture loop's own count of
// skipped frames; bench/lossless_cpu.sh runs it on a busy true-colour screen.
//   lossless_cpu [seconds] [fps] [width] [height] [movie]

#include "engine/CaptureEngine.h"
#include "bench/engine/ProcessCpu.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

namespace {

uint64_t FileBytes(const char* path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExA(path, GetFileExInfoStandard, &data))
        return 0;
    return (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
    const int fps = argc > 2 ? std::atoi(argv[2]) : 25;
    const int width = argc > 3 ? std::atoi(argv[3]) : 1024;
    const int height = argc > 4 ? std::atoi(argv[4]) : 768;
    const std::string movie = argc > 5 ? argv[5] : "lossless_cpu.avi";

    std::ostringstream trace;
    StreamLog traceLog(trace);
    CaptureEngine engine{std::make_unique<CaptureFactory>()};
    engine.SetLog(traceLog);
    // The panel's start with Lossless on, its stored defaults otherwise (key frame every 10,
    // the cursor drawn in, a fixed area, no sound).
    if (!engine.SetCaptureRect(VRect{0, 0, width, height}) || !engine.SetBitDepth(32) ||
        !engine.SetFramesPerSecond(fps)) {
        std::fprintf(stderr, "lossless_cpu: %dx%d at %d fps is not a recording the engine takes\n", width, height,
                     fps);
        return 1;
    }
    engine.SetKeyFrameEvery(10);
    engine.SetCaptureMode(kFixedArea);
    engine.SetCompressor(MakeFourCC("ZMBV"));
    engine.SetDrawCursor(true);
    engine.SetRecordSound(false);
    engine.SetFileName(movie.c_str());

    const double cpuBefore = CpuSeconds();
    const DWORD wallBefore = ::GetTickCount();
    if (int32_t code = engine.BeginCapture()) {
        std::fprintf(stderr, "lossless_cpu: the recording did not start (error %d)\n", int(code));
        return 1;
    }
    ::Sleep(DWORD(seconds) * 1000);
    engine.CaptureStop();
    const double wall = (::GetTickCount() - wallBefore) / 1000.0;
    const double cpu = CpuSeconds() - cpuBefore;

    std::printf("lossless %dx%d at %d fps for %d s: %.3f CPU s over %.3f s wall = %.1f%% of one core; "
                "movie %llu bytes\n",
                width, height, fps, seconds, cpu, wall, 100.0 * cpu / wall,
                static_cast<unsigned long long>(FileBytes(movie.c_str())));
    const std::string t = trace.str();
    const auto at = t.find("\nFrames skipped:");
    if (at != std::string::npos)
        std::printf("%s", t.substr(at).c_str());
    return 0;
}
