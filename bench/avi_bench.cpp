// Encoders and writer on the screen corpus. AVI_BENCH_DATA names a directory holding
// screen_640x480.rgb555, screen_640x480.pal8, screen_1024x768.bgr0 (bench/data, unpacked) and a
// scratch file.

#include "common/VRecords.h"
#include "media/avi/AviFormat.h"
#include "media/avi/Muxer.h"
#include "media/avi/Rle8Encoder.h"
#include "media/avi/Video1Encoder.h"
#include "media/avi/ZmbvEncoder.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr int32_t kWidth = 640, kHeight = 480;

std::string DataPath(const char* name)
{
    const char* dir = std::getenv("AVI_BENCH_DATA");
    return std::string(dir ? dir : ".") + "/" + name;
}

std::vector<std::vector<uint8_t>> LoadFrames(const char* name, int bits, int32_t width = kWidth,
                                             int32_t height = kHeight)
{
    std::ifstream in(DataPath(name), std::ios::binary);
    const std::vector<uint8_t> all((std::istreambuf_iterator<char>(in)), {});
    const size_t frameBytes = size_t(DibFrameBytes(width, height, bits));
    std::vector<std::vector<uint8_t>> frames;
    for (size_t at = 0; at + frameBytes <= all.size(); at += frameBytes)
        frames.emplace_back(all.begin() + long(at), all.begin() + long(at + frameBytes));
    return frames;
}

void Video1Encode(benchmark::State& state)
{
    const auto frames = LoadFrames("screen_640x480.rgb555", 16);
    if (frames.empty()) {
        state.SkipWithError("no corpus: set AVI_BENCH_DATA");
        return;
    }
    avi::Video1Encoder encoder;
    encoder.Init(kWidth, kHeight, 16, int32_t(state.range(0)), 25);
    std::vector<uint8_t> out;
    size_t i = 0, bytes = 0;
    for (auto _ : state) {
        bool key = false;
        encoder.Encode(frames[i % frames.size()].data(), frames[0].size(), false, out, key);
        bytes += out.size();
        ++i;
    }
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["bytes/frame"] = double(bytes) / double(state.iterations());
}
BENCHMARK(Video1Encode)->Arg(10000)->Arg(7500)->Arg(5000)->Unit(benchmark::kMillisecond);

void Rle8Encode(benchmark::State& state)
{
    const auto frames = LoadFrames("screen_640x480.pal8", 8);
    if (frames.empty()) {
        state.SkipWithError("no corpus: set AVI_BENCH_DATA");
        return;
    }
    avi::Rle8Encoder encoder;
    encoder.Init(kWidth, kHeight, 25);
    std::vector<uint8_t> out;
    size_t i = 0, bytes = 0;
    for (auto _ : state) {
        bool key = false;
        encoder.Encode(frames[i % frames.size()].data(), frames[0].size(), false, out, key);
        bytes += out.size();
        ++i;
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(frames[0].size()));
    state.counters["bytes/frame"] = double(bytes) / double(state.iterations());
}
BENCHMARK(Rle8Encode)->Unit(benchmark::kMillisecond);

// ZMBV with a key frame every 25; the argument picks the corpus: 16 the 640x480 RGB555 one,
// 32 the 1024x768 true-colour one.
void ZmbvEncode(benchmark::State& state)
{
    const int bits = int(state.range(0));
    const int32_t width = bits == 32 ? 1024 : kWidth, height = bits == 32 ? 768 : kHeight;
    const auto frames = LoadFrames(bits == 32 ? "screen_1024x768.bgr0" : "screen_640x480.rgb555", bits, width, height);
    if (frames.empty()) {
        state.SkipWithError("no corpus: set AVI_BENCH_DATA");
        return;
    }
    avi::ZmbvEncoder encoder;
    encoder.Init(width, height, bits, 25);
    std::vector<uint8_t> out;
    size_t i = 0, bytes = 0;
    for (auto _ : state) {
        bool key = false;
        encoder.Encode(frames[i % frames.size()].data(), frames[0].size(), false, out, key);
        bytes += out.size();
        ++i;
    }
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["bytes/frame"] = double(bytes) / double(state.iterations());
}
BENCHMARK(ZmbvEncode)->Arg(16)->Arg(32)->Unit(benchmark::kMillisecond);

// 256 MiB of 1024x768x24 frames: through the writer, and plainly to the same file.
constexpr int kMuxFrames = 113;
void MuxUncompressed(benchmark::State& state)
{
    const std::string path = DataPath("bench_scratch.avi");
    std::vector<uint8_t> frame(size_t(DibFrameBytes(1024, 768, 24)), 0x33);
    for (auto _ : state) {
        avi::Muxer m(avi::CreateDiskFile(path));
        VAVIStreamInfo h;
        h.Clear();
        h.fccType = avi::kFccVids;
        h.fccHandler = avi::kFccDib;
        h.dwScale = 1;
        h.dwRate = 25;
        const int s = m.AddStream(h);
        VBitmapInfo f;
        f.bmiHeader.biWidth = 1024;
        f.bmiHeader.biHeight = 768;
        f.bmiHeader.biBitCount = 24;
        m.SetFormat(s, &f, 40);
        for (int i = 0; i < kMuxFrames; ++i)
            m.Write(s, i, frame.data(), uint32_t(frame.size()), true);
        m.Close();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kMuxFrames * int64_t(frame.size()));
    std::remove(path.c_str());
}
BENCHMARK(MuxUncompressed)->Unit(benchmark::kMillisecond)->UseRealTime();

void PlainWrite(benchmark::State& state)
{
    const std::string path = DataPath("bench_scratch.raw");
    std::vector<uint8_t> frame(size_t(DibFrameBytes(1024, 768, 24)), 0x33);
    for (auto _ : state) {
        auto file = avi::CreateDiskFile(path);
        for (int i = 0; i < kMuxFrames; ++i)
            file->Write(frame.data(), frame.size());
        file->Close();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kMuxFrames * int64_t(frame.size()));
    std::remove(path.c_str());
}
BENCHMARK(PlainWrite)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
