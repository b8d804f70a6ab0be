#pragma once
// Helpers for the AVI tests: synthetic frames, movie files written through the service,
// outside checks with ffprobe/ffmpeg, and a stable hash for golden files.

#include "common/VRecords.h"
#include "media/avi/AviFormat.h"
#include "media/avi/FileService.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace avitest {

// A name of this process's own: test programs of several checkouts may run side by side.
inline std::string TempPath(const std::string& name)
{
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/vorlux_avi_" + std::to_string(getpid()) + "_" + name;
}

inline std::vector<uint8_t> ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// FNV-1a 64: small, stable, enough to pin a golden file.
inline uint64_t Hash(const std::vector<uint8_t>& bytes)
{
    uint64_t h = 1469598103934665603ull;
    for (uint8_t b : bytes)
        h = (h ^ b) * 1099511628211ull;
    return h;
}

inline std::string Shell(const std::string& command)
{
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0)
            out.append(buf, n);
        pclose(p);
    }
    return out;
}

// "key=value" lines of ffprobe for the given stream entries.
inline std::string Probe(const std::string& path, const std::string& entries, int stream = 0)
{
    return Shell("ffprobe -v error -count_frames -select_streams " + std::to_string(stream) +
               " -show_entries stream=" + entries + " -of default=noprint_wrappers=1 '" + path + "' 2>&1");
}

// The number after `key` ("nb_read_frames=") in ffprobe's answer, or -1.
inline int Count(const std::string& probe, const char* key)
{
    const size_t at = probe.find(key);
    return at == std::string::npos ? -1 : std::atoi(probe.c_str() + at + std::strlen(key));
}

// Every video frame ffmpeg decodes from the file's first video stream, as raw `pixelFormat`
// pictures one after the other (empty samples give no picture); `filters` go before the output.
inline std::vector<uint8_t> DecodeVideo(const std::string& path, const std::string& pixelFormat,
                                        const std::string& filters = "")
{
    const std::string raw = path + ".raw";
    const std::string errors = Shell("ffmpeg -v error -i '" + path + "' -map 0:v:0 -fps_mode passthrough " +
                                     (filters.empty() ? "" : "-vf " + filters + " ") + "-f rawvideo -pix_fmt " +
                                     pixelFormat + " -y '" + raw + "' 2>&1");
    std::vector<uint8_t> bytes = errors.empty() ? ReadFile(raw) : std::vector<uint8_t>{};
    if (!errors.empty())
        std::fprintf(stderr, "ffmpeg: %s", errors.c_str());
    std::remove(raw.c_str());
    return bytes;
}

// Screen-like test picture: flat panels, text-like strokes, a moving bar.
inline std::vector<uint8_t> Frame(int32_t w, int32_t h, int bits, int index)
{
    std::vector<uint8_t> f(size_t(DibFrameBytes(w, h, bits)), 0);
    const size_t stride = size_t(DibStride(w, bits));
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            int r = 200, g = 200, b = 210;
            if (y < h / 5)
                r = 30, g = 60, b = 140;
            if (((x / 2 + y / 3) % 7 == 0) && x > 4 && y > h / 4)
                r = g = b = 20;
            if (x >= (index * 3) % w && x < (index * 3) % w + 8)
                r = 250, g = 100, b = 0;
            uint8_t* p = &f[size_t(y) * stride];
            if (bits == 8)
                p[x] = uint8_t((r / 64) << 5 | (g / 64) << 2 | b / 128);
            else if (bits == 16) {
                const uint16_t c = uint16_t((r >> 3) << 10 | (g >> 3) << 5 | b >> 3);
                p[2 * x] = uint8_t(c);
                p[2 * x + 1] = uint8_t(c >> 8);
            } else {
                p[3 * x] = uint8_t(b);
                p[3 * x + 1] = uint8_t(g);
                p[3 * x + 2] = uint8_t(r);
            }
        }
    }
    return f;
}

inline VBitmapInfo Format(int32_t w, int32_t h, int bits)
{
    VBitmapInfo f;
    f.bmiHeader.biWidth = w;
    f.bmiHeader.biHeight = h;
    f.bmiHeader.biBitCount = uint16_t(bits);
    f.bmiHeader.biSizeImage = uint32_t(DibFrameBytes(w, h, bits));
    if (bits == 8)
        for (int i = 0; i < 256; ++i)
            f.bmiColors[i] = VRgbQuad{uint8_t((i & 1) * 255), uint8_t((i >> 2 & 7) * 36), uint8_t((i >> 5) * 36), 0};
    return f;
}

inline VAVIStreamInfo VideoHeader(uint32_t handler, int32_t w, int32_t h, uint32_t fps)
{
    VAVIStreamInfo s;
    s.Clear();
    s.fccType = avi::kFccVids;
    s.fccHandler = handler;
    s.dwScale = 1;
    s.dwRate = fps;
    s.dwQuality = 10000;
    s.rcFrame = VRect{0, 0, w, h};
    s.SetName("test video");
    return s;
}

inline VWaveFormatEx Pcm8Mono11k()
{
    VWaveFormatEx w;
    w.wFormatTag = 1;
    w.nChannels = 1;
    w.nSamplesPerSec = 11025;
    w.nAvgBytesPerSec = 11025;
    w.nBlockAlign = 1;
    w.wBitsPerSample = 8;
    return w;
}

inline VAVIStreamInfo AudioHeader(const VWaveFormatEx& w)
{
    VAVIStreamInfo s;
    s.Clear();
    s.fccType = avi::kFccAuds;
    s.dwScale = w.nBlockAlign;
    s.dwRate = w.nAvgBytesPerSec;
    s.dwSampleSize = w.nBlockAlign;
    s.dwQuality = 10000;
    s.SetName("test audio");
    return s;
}

}  // namespace avitest
