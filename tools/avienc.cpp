// avienc --codec msvc|mrle|zmbv|dib --size WxH --bits 8|16|24|32 --fps N [--palette FILE]
//        [--keyframe N] [--quality Q] IN.raw OUT.avi
// Encodes a file of raw bottom-up DIB frames (rows padded to 4 bytes; 16-bit is RGB555,
// 24-bit BGR, 32-bit BGRX) and prints frames, bytes written and encode frames per second.

#include "common/VRecords.h"
#include "media/avi/AviFormat.h"
#include "media/avi/FileService.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Options {
    std::string codec;
    int32_t width = 0, height = 0, bits = 0, fps = 0, keyFrame = 25, quality = 10000;
    std::string palette, input, output;
};

int Usage()
{
    std::fprintf(stderr, "usage: avienc --codec msvc|mrle|zmbv|dib --size WxH --bits 8|16|24|32 --fps N "
                         "[--palette FILE] [--keyframe N] [--quality Q] IN.raw OUT.avi\n");
    return 2;
}

bool ParseInt(const char* text, int32_t low, int32_t high, int32_t& out)
{
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (!*text || *end || v < low || v > high)
        return false;
    out = int32_t(v);
    return true;
}

bool Parse(int argc, char** argv, Options& o)
{
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--codec" && hasValue) {
            o.codec = argv[++i];
        } else if (a == "--size" && hasValue) {
            const std::string v = argv[++i];
            const size_t x = v.find('x');
            if (x == std::string::npos || !ParseInt(v.substr(0, x).c_str(), 1, avi::kMaxFrameSide, o.width) ||
                !ParseInt(v.substr(x + 1).c_str(), 1, avi::kMaxFrameSide, o.height))
                return false;
        } else if (a == "--bits" && hasValue) {
            if (!ParseInt(argv[++i], 8, 32, o.bits) || (o.bits != 8 && o.bits != 16 && o.bits != 24 && o.bits != 32))
                return false;
        } else if (a == "--fps" && hasValue) {
            if (!ParseInt(argv[++i], 1, 1000, o.fps))
                return false;
        } else if (a == "--palette" && hasValue) {
            o.palette = argv[++i];
        } else if (a == "--keyframe" && hasValue) {
            if (!ParseInt(argv[++i], 0, 1 << 20, o.keyFrame))
                return false;
        } else if (a == "--quality" && hasValue) {
            if (!ParseInt(argv[++i], 0, 10000, o.quality))
                return false;
        } else if (a.rfind("--", 0) == 0) {
            return false;
        } else {
            positional.push_back(a);
        }
    }
    if (positional.size() != 2 || !o.width || !o.bits || !o.fps)
        return false;
    if (o.codec != "msvc" && o.codec != "mrle" && o.codec != "zmbv" && o.codec != "dib")
        return false;
    o.input = positional[0];
    o.output = positional[1];
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    Options o;
    if (!Parse(argc, argv, o))
        return Usage();

    VBitmapInfo format;
    format.bmiHeader.biWidth = o.width;
    format.bmiHeader.biHeight = o.height;
    format.bmiHeader.biBitCount = uint16_t(o.bits);
    const size_t frameBytes = size_t(DibFrameBytes(o.width, o.height, o.bits));
    format.bmiHeader.biSizeImage = uint32_t(frameBytes);
    if (!o.palette.empty()) {
        std::ifstream pal(o.palette, std::ios::binary);
        if (!pal.read(reinterpret_cast<char*>(format.bmiColors), sizeof format.bmiColors)) {
            std::fprintf(stderr, "avienc: cannot read 1024 palette bytes from %s\n", o.palette.c_str());
            return 1;
        }
    }

    std::ifstream in(o.input, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "avienc: cannot open %s\n", o.input.c_str());
        return 1;
    }
    auto movie = avi::MovieFile::Create(o.output);
    if (!movie) {
        std::fprintf(stderr, "avienc: cannot create %s\n", o.output.c_str());
        return 1;
    }

    VAVIStreamInfo header;
    header.Clear();
    header.fccType = avi::kFccVids;
    header.fccHandler = o.codec == "msvc"   ? avi::kFccMsvc
                        : o.codec == "mrle" ? avi::kFccMrle
                        : o.codec == "zmbv" ? avi::kFccZmbv
                                            : avi::kFccDib;
    header.dwScale = 1;
    header.dwRate = uint32_t(o.fps);
    header.dwSuggestedBufferSize = uint32_t(frameBytes);
    header.dwQuality = uint32_t(o.quality);
    header.rcFrame = VRect{0, 0, o.width, o.height};
    header.SetName("avienc video");
    VAVICompressOptions options;
    options.fccHandler = header.fccHandler;
    options.dwKeyFrameEvery = uint32_t(o.keyFrame);
    options.dwQuality = uint32_t(o.quality);

    avi::Stream* raw = nullptr;
    avi::Stream* video = nullptr;
    int rc = movie->CreateStream(raw, header);
    if (rc == 0)
        rc = movie->MakeCompressedStream(video, raw, options);
    if (rc == 0)
        rc = video->SetFormat(0, &format, int32_t(sizeof format));
    if (rc != 0) {
        std::fprintf(stderr, "avienc: cannot set up the stream (%d)\n", rc);
        return 1;
    }

    std::vector<uint8_t> frame(frameBytes);
    int32_t frames = 0;
    double seconds = 0;
    while (in.read(reinterpret_cast<char*>(frame.data()), std::streamsize(frameBytes))) {
        int32_t samples = 0, bytes = 0;
        const auto start = std::chrono::steady_clock::now();
        rc = video->Write(frames, 1, frame.data(), int32_t(frameBytes), avi::kAviifKeyFrame, &samples, &bytes);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (rc != 0) {
            std::fprintf(stderr, "avienc: frame %d not written (%d)\n", frames, rc);
            return 1;
        }
        ++frames;
    }
    rc = movie->Close();
    if (rc != 0) {
        std::fprintf(stderr, "avienc: closing %s failed (%d)\n", o.output.c_str(), rc);
        return 1;
    }
    std::printf("frames %d\nbytes %llu\nfps %.1f\n", frames,
                static_cast<unsigned long long>(movie->Writer().FileBytes()), seconds > 0 ? frames / seconds : 0.0);
    return 0;
}
