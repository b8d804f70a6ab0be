// gifenc --size WxH --bits 8|16|24|32 --fps N [--palette FILE] [--png] [--dpi N] IN.raw OUT
// Encodes a file of raw bottom-up DIB frames (rows padded to 4 bytes; 16-bit is RGB555,
// 24-bit BGR, 32-bit BGRX; 8-bit through a 1024-byte BGR0 colour table) into an animated GIF
// at OUT, or with --png each frame into OUT000.png, OUT001.png and so on; prints frames, bytes
// written and the encoder's processor time per frame.

#include "media/avi/GifWriter.h"
#include "media/avi/OutputFile.h"
#include "media/avi/PngWriter.h"

#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Options {
    int width = 0, height = 0, bits = 0, fps = 0, dpi = 96;
    bool png = false;
    std::string palette, input, output;
};

int Usage()
{
    std::fprintf(stderr, "usage: gifenc --size WxH --bits 8|16|24|32 --fps N [--palette FILE] [--png] [--dpi N] "
                         "IN.raw OUT\n");
    return 2;
}

bool ParseInt(const std::string& text, int low, int high, int& out)
{
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end || v < low || v > high)
        return false;
    out = int(v);
    return true;
}

bool Parse(int argc, char** argv, Options& o)
{
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--size" && hasValue) {
            const std::string v = argv[++i];
            const size_t x = v.find('x');
            if (x == std::string::npos || !ParseInt(v.substr(0, x), 1, 65535, o.width) ||
                !ParseInt(v.substr(x + 1), 1, 65535, o.height))
                return false;
        } else if (a == "--bits" && hasValue) {
            if (!ParseInt(argv[++i], 8, 32, o.bits) || (o.bits != 8 && o.bits != 16 && o.bits != 24 && o.bits != 32))
                return false;
        } else if (a == "--fps" && hasValue) {
            if (!ParseInt(argv[++i], 1, 100, o.fps))
                return false;
        } else if (a == "--dpi" && hasValue) {
            if (!ParseInt(argv[++i], 0, 10000, o.dpi))
                return false;
        } else if (a == "--palette" && hasValue) {
            o.palette = argv[++i];
        } else if (a == "--png") {
            o.png = true;
        } else if (a.rfind("--", 0) == 0) {
            return false;
        } else {
            positional.push_back(a);
        }
    }
    if (positional.size() != 2 || !o.width || !o.bits || !o.fps)
        return false;
    o.input = positional[0];
    o.output = positional[1];
    return true;
}

// Processor time, which a busy machine disturbs less than the clock.
double Since(std::clock_t start)
{
    return double(std::clock() - start) / CLOCKS_PER_SEC;
}

}  // namespace

int main(int argc, char** argv)
{
    Options o;
    if (!Parse(argc, argv, o))
        return Usage();
    const size_t frameBytes = ((size_t(o.width) * size_t(o.bits) + 31) / 32) * 4 * size_t(o.height);
    std::vector<uint32_t> table(256, 0);
    if (!o.palette.empty()) {
        std::ifstream pal(o.palette, std::ios::binary);
        std::vector<uint8_t> quads(1024);
        if (!pal.read(reinterpret_cast<char*>(quads.data()), 1024)) {
            std::fprintf(stderr, "gifenc: cannot read 1024 palette bytes from %s\n", o.palette.c_str());
            return 1;
        }
        for (int i = 0; i < 256; ++i)
            table[size_t(i)] = uint32_t(quads[size_t(4 * i + 2)]) << 16 | uint32_t(quads[size_t(4 * i + 1)]) << 8 |
                               quads[size_t(4 * i)];
    }
    std::ifstream in(o.input, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "gifenc: cannot open %s\n", o.input.c_str());
        return 1;
    }

    std::vector<uint8_t> frame(frameBytes);
    int frames = 0;
    uint64_t bytes = 0;
    double seconds = 0;
    if (o.png) {
        std::vector<uint8_t> png;
        while (in.read(reinterpret_cast<char*>(frame.data()), std::streamsize(frameBytes))) {
            const std::clock_t start = std::clock();
            avi::PngFrame f{o.width, o.height, o.bits, frame.data(), table.data(), 256, o.dpi};
            if (!avi::EncodePng(f, png)) {
                std::fprintf(stderr, "gifenc: frame %d not encoded\n", frames);
                return 1;
            }
            seconds += Since(start);
            char name[32];
            std::snprintf(name, sizeof name, "%03d.png", frames);
            std::ofstream(o.output + name, std::ios::binary).write(reinterpret_cast<const char*>(png.data()),
                                                                   std::streamsize(png.size()));
            bytes += png.size();
            ++frames;
        }
    } else {
        auto file = avi::CreateDiskFile(o.output);
        if (!file) {
            std::fprintf(stderr, "gifenc: cannot create %s\n", o.output.c_str());
            return 1;
        }
        avi::GifWriter gif(*file, o.width, o.height, o.bits, o.fps);
        gif.SetColourTable(table.data(), 256);
        if (!gif.Begin()) {
            std::fprintf(stderr, "gifenc: cannot begin %s\n", o.output.c_str());
            return 1;
        }
        while (in.read(reinterpret_cast<char*>(frame.data()), std::streamsize(frameBytes))) {
            const std::clock_t start = std::clock();
            if (!gif.WriteFrame(frame.data(), frame.size(), frames)) {
                std::fprintf(stderr, "gifenc: frame %d not written\n", frames);
                return 1;
            }
            seconds += Since(start);
            ++frames;
        }
        bytes = gif.Bytes();
        if (!file->Close())
            return 1;
    }
    std::printf("frames %d bytes %llu cpu-ms/frame %.2f\n", frames, static_cast<unsigned long long>(bytes),
                frames ? seconds * 1000 / frames : 0.0);
    return 0;
}
