// Animated GIF and PNG: the quantizer, the changed rectangle and the frame times as tables;
// whole files judged by Pillow and FFmpeg: every frame as shown, times, a killed recording,
// a full disk.

#include "AviTestSupport.h"
#include "media/avi/GifWriter.h"
#include "media/avi/PngWriter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <sstream>
#include <sys/wait.h>

using namespace avitest;

namespace {

// Test frames: top-down 0x00RRGGBB pixels, and the same as a bottom-up DIB of `bits`.
struct Picture {
    int width, height;
    std::vector<uint32_t> rgb;
};

// A screen-like frame: a few flat colours, a moving bar and, with `rich`, a gradient of more
// colours than a table holds.
Picture Scene(int width, int height, int step, bool rich)
{
    Picture p{width, height, std::vector<uint32_t>(size_t(width) * size_t(height))};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint32_t c = (x / 8 + y / 8) % 2 ? 0xF0F0F0 : 0x203040;
            if (rich && y < height / 2)
                c = uint32_t(x * 255 / width) << 16 | uint32_t(y * 255 / height) << 8 | 0x80;
            if (x >= step * 3 && x < step * 3 + 5)
                c = 0xC02010;
            p.rgb[size_t(y) * size_t(width) + size_t(x)] = c;
        }
    return p;
}

// 16-bit frames hold what RGB555 can say; 8-bit frames what their table holds.
uint32_t Narrow(uint32_t c, int bits)
{
    if (bits != 16)
        return c;
    uint32_t out = 0;
    for (int shift = 16; shift >= 0; shift -= 8) {
        const uint32_t v = (c >> (shift + 3)) & 31;
        out |= (v << 3 | v >> 2) << shift;
    }
    return out;
}

std::vector<uint8_t> ToDib(const Picture& p, int bits, std::vector<uint32_t>& table)
{
    const size_t stride = ((size_t(p.width) * size_t(bits) + 31) / 32) * 4;
    std::vector<uint8_t> dib(stride * size_t(p.height), 0);
    for (int y = 0; y < p.height; ++y) {
        uint8_t* row = dib.data() + stride * size_t(p.height - 1 - y);
        for (int x = 0; x < p.width; ++x) {
            const uint32_t c = p.rgb[size_t(y) * size_t(p.width) + size_t(x)];
            const uint8_t r = uint8_t(c >> 16), g = uint8_t(c >> 8), b = uint8_t(c);
            switch (bits) {
            case 8: {
                auto at = std::find(table.begin(), table.end(), c);
                if (at == table.end())
                    at = table.insert(table.end(), c);
                row[x] = uint8_t(at - table.begin());
                break;
            }
            case 16: {
                const uint16_t v = uint16_t((r >> 3) << 10 | (g >> 3) << 5 | (b >> 3));
                row[2 * x] = uint8_t(v);
                row[2 * x + 1] = uint8_t(v >> 8);
                break;
            }
            default:
                row[size_t(x) * size_t(bits / 8)] = b;
                row[size_t(x) * size_t(bits / 8) + 1] = g;
                row[size_t(x) * size_t(bits / 8) + 2] = r;
            }
        }
    }
    return dib;
}

struct Decoded {
    int frames = -1;
    std::vector<int> durations;
    int dpi = 0;
    std::vector<uint8_t> rgb;  // every frame, RGB24, one after another
};

Decoded DecodeWithPillow(const std::string& path)
{
    const char* script = std::getenv("IMAGE_DECODER");
    Decoded d;
    if (!script)
        return d;
    const std::string raw = path + ".raw";
    std::istringstream line(Shell(std::string("/usr/bin/python3 ") + script + " '" + path + "' '" + raw + "'"));
    std::string word, durations;
    line >> word >> d.frames >> word >> durations >> word >> d.dpi;
    std::stringstream list(durations);
    for (std::string item; std::getline(list, item, ',');)
        d.durations.push_back(std::atoi(item.c_str()));
    d.rgb = ReadFile(raw);
    std::remove(raw.c_str());
    return d;
}

std::vector<uint8_t> DecodeWithFfmpeg(const std::string& path)
{
    const std::string raw = path + ".ff.raw";
    Shell("ffmpeg -v error -i '" + path + "' -fps_mode passthrough -f rawvideo -pix_fmt rgb24 -y '" + raw + "'");
    std::vector<uint8_t> bytes = ReadFile(raw);
    std::remove(raw.c_str());
    return bytes;
}

void AppendRgb(std::vector<uint8_t>& out, const Picture& p, int bits)
{
    for (uint32_t c : p.rgb) {
        c = Narrow(c, bits);
        out.push_back(uint8_t(c >> 16));
        out.push_back(uint8_t(c >> 8));
        out.push_back(uint8_t(c));
    }
}

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b)
{
    if (a.size() != b.size() || a.empty())
        return 0;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i)
        sum += double(int(a[i]) - int(b[i])) * double(int(a[i]) - int(b[i]));
    return sum == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * double(a.size()) / sum);
}

// A disk file that takes only `budget` bytes, like a disk that fills up.
class FullDisk final : public avi::OutputFile {
public:
    FullDisk(std::unique_ptr<avi::OutputFile> inner, uint64_t budget) : inner(std::move(inner)), budget(budget) {}
    size_t Write(const void* data, size_t bytes) override
    {
        const size_t allowed = pos >= budget ? 0 : size_t(std::min<uint64_t>(bytes, budget - pos));
        const size_t done = inner->Write(data, allowed);
        pos += done;
        full |= done < bytes;
        return done;
    }
    bool Seek(uint64_t offset) override
    {
        pos = offset;
        return inner->Seek(offset);
    }
    bool Truncate(uint64_t size) override { return inner->Truncate(size); }
    bool Flush() override { return inner->Flush(); }
    bool Close() override { return inner->Close(); }
    RecordingFailure LastError() const override
    {
        return full ? RecordingFailure{FailureKind::DiskFull, ENOSPC} : inner->LastError();
    }

private:
    std::unique_ptr<avi::OutputFile> inner;
    uint64_t budget;
    uint64_t pos = 0;
    bool full = false;
};

}  // namespace

TEST(GifTiming, DelaysNeverDrift)
{
    struct Case {
        int fps;
        std::vector<int64_t> delays;  // of slots 0, 1, 2, ...
    } cases[] = {
        {15, {7, 6, 7, 7, 6, 7, 7, 6, 7}},
        {10, {10, 10, 10}},
        {3, {33, 34, 33, 33, 34, 33}},
        {25, {4, 4, 4, 4}},
    };
    for (const Case& c : cases) {
        for (size_t i = 0; i < c.delays.size(); ++i)
            EXPECT_EQ(avi::SlotHundredths(int64_t(i) + 1, c.fps) - avi::SlotHundredths(int64_t(i), c.fps), c.delays[i])
                << c.fps << " fps, slot " << i;
        EXPECT_EQ(avi::SlotHundredths(c.fps * 60, c.fps), 6000) << "a minute at " << c.fps << " fps";
    }
}

TEST(GifDelta, ChangedRectangle)
{
    struct Case {
        std::vector<std::pair<int, int>> changes;  // pixels (x, y) of a 6x4 frame that change
        avi::PixelRect rect;
    } cases[] = {
        {{}, {}},
        {{{0, 0}}, {0, 0, 1, 1}},
        {{{5, 3}}, {5, 3, 1, 1}},
        {{{2, 1}, {4, 2}}, {2, 1, 3, 2}},
        {{{4, 0}, {1, 3}}, {1, 0, 4, 4}},
        {{{0, 2}, {5, 2}}, {0, 2, 6, 1}},
    };
    for (const Case& c : cases) {
        std::vector<uint32_t> before(24, 0x101010), after = before;
        for (auto [x, y] : c.changes)
            after[size_t(y * 6 + x)] = 0x202020;
        EXPECT_EQ(avi::ChangedRect(before.data(), after.data(), 6, 4), c.rect) << c.changes.size() << " changes";
    }
}

TEST(GifQuantizer, Tables)
{
    constexpr uint32_t K = avi::kKeepPixel;
    avi::Palette previous;
    previous.size = 3;
    previous.rgb[0] = 0x111111;
    previous.rgb[1] = 0x222222;
    previous.rgb[2] = 0x333333;
    struct Case {
        const char* what;
        std::vector<uint32_t> pixels;
        int maxColours;
        bool exact;
        bool keptPrevious;
        int size;
    } cases[] = {
        {"colours of the previous table", {0x333333, 0x111111, K, 0x333333}, 255, true, true, 3},
        {"a new colour", {0x333333, 0x444444, 0x111111}, 255, true, false, 3},
        {"as many as allowed", {1, 2, 3, 4}, 4, true, false, 4},
        {"one too many", {0x000000, 0x400000, 0x004000, 0x000040, 0xFFFFFF}, 4, false, false, 4},
        {"only kept pixels", {K, K}, 255, true, true, 3},
    };
    for (const Case& c : cases) {
        avi::Quantizer q;
        avi::Palette out;
        EXPECT_EQ(q.Choose(c.pixels.data(), c.pixels.size(), c.maxColours, avi::Palette{}, previous, out), c.exact) << c.what;
        EXPECT_EQ(out == previous, c.keptPrevious) << c.what;
        EXPECT_EQ(out.size, c.size) << c.what;
        std::vector<uint8_t> indices(c.pixels.size());
        q.Map(c.pixels.data(), c.pixels.size(), 200, indices.data());
        for (size_t i = 0; i < c.pixels.size(); ++i) {
            if (c.pixels[i] == K) {
                EXPECT_EQ(indices[i], 200) << c.what;
                continue;
            }
            ASSERT_LT(indices[i], out.size) << c.what;
            if (c.exact) {
                EXPECT_EQ(out.rgb[indices[i]], c.pixels[i]) << c.what << ", pixel " << i;
            }
        }
    }
}

TEST(GifQuantizer, ManyColoursComeClose)
{
    // A smooth two-channel ramp of 4096 colours into 255 entries: about 4 levels a channel.
    std::vector<uint32_t> pixels;
    for (uint32_t r = 0; r < 64; ++r)
        for (uint32_t g = 0; g < 64; ++g)
            pixels.push_back((r * 4) << 16 | (g * 4) << 8 | 0x40);
    avi::Quantizer q;
    avi::Palette out;
    EXPECT_FALSE(q.Choose(pixels.data(), pixels.size(), 255, avi::Palette{}, avi::Palette{}, out));
    EXPECT_EQ(out.size, 255);
    std::vector<uint8_t> indices(pixels.size());
    q.Map(pixels.data(), pixels.size(), 255, indices.data());
    int worst = 0;
    for (size_t i = 0; i < pixels.size(); ++i)
        for (int shift = 0; shift <= 16; shift += 8)
            worst = std::max(worst, std::abs(int((pixels[i] >> shift) & 0xFF) - int((out.rgb[indices[i]] >> shift) & 0xFF)));
    EXPECT_LE(worst, 12);
}

// Frames at these slots, each a step of the scene; the same step twice is a frame without change.
struct Recording {
    int bits;
    bool rich;
    std::vector<std::pair<int64_t, int>> frames;  // (slot, step)
};

TEST(GifFile, DecodersSeeEveryFrameAsRecorded)
{
    const Recording recordings[] = {
        {8, false, {{0, 0}, {1, 1}, {2, 2}, {3, 3}}},
        {16, false, {{0, 0}, {1, 1}, {2, 1}, {3, 2}, {7, 3}}},
        {24, false, {{0, 0}, {2, 1}, {3, 2}}},
        {32, false, {{0, 0}, {1, 1}, {2, 1}, {3, 1}, {4, 4}}},
        {32, true, {{0, 0}, {1, 1}, {2, 2}}},
    };
    constexpr int kFps = 15, kWidth = 64, kHeight = 40;
    for (const Recording& r : recordings) {
        const std::string path = TempPath("movie.gif");
        auto file = avi::CreateDiskFile(path);
        ASSERT_TRUE(file);
        avi::GifWriter gif(*file, kWidth, kHeight, r.bits, kFps);
        std::vector<uint32_t> table;
        std::vector<uint8_t> expected;
        std::vector<int> durations;
        int lastStep = -1;
        std::vector<std::vector<uint8_t>> dibs;
        for (auto [slot, step] : r.frames)
            dibs.push_back(ToDib(Scene(kWidth, kHeight, step, r.rich), r.bits, table));
        table.resize(256, 0);
        gif.SetColourTable(table.data(), 256);
        ASSERT_TRUE(gif.Begin());
        for (size_t i = 0; i < r.frames.size(); ++i) {
            const auto [slot, step] = r.frames[i];
            ASSERT_TRUE(gif.WriteFrame(dibs[i].data(), dibs[i].size(), slot));
            const int64_t ends = i + 1 < r.frames.size() ? r.frames[i + 1].first : slot + 1;
            const int time = int(10 * (avi::SlotHundredths(ends, kFps) - avi::SlotHundredths(slot, kFps)));
            if (step == lastStep) {
                durations.back() += time;
                continue;
            }
            durations.push_back(time);
            AppendRgb(expected, Scene(kWidth, kHeight, step, r.rich), r.bits);
            lastStep = step;
        }
        EXPECT_FALSE(gif.WriteFrame(dibs[0].data(), dibs[0].size(), r.frames.back().first - 1)) << "a slot behind";
        const int64_t lastSlot = r.frames.back().first;
        EXPECT_EQ(gif.CoveredSlots(), lastSlot + 1);
        ASSERT_TRUE(file->Close());

        const std::string what = std::to_string(r.bits) + (r.rich ? " bits, rich" : " bits");
        const Decoded d = DecodeWithPillow(path);
        EXPECT_EQ(d.frames, int(durations.size())) << what;
        EXPECT_EQ(d.durations, durations) << what;
        const std::vector<uint8_t> ff = DecodeWithFfmpeg(path);
        if (r.rich) {
            EXPECT_GT(Psnr(d.rgb, expected), 30.0) << what;
            EXPECT_GT(Psnr(ff, expected), 30.0) << what;
        } else {
            EXPECT_TRUE(d.rgb == expected) << what;
            EXPECT_TRUE(ff == expected) << what << ": FFmpeg decoded " << ff.size() << " bytes";
        }
        std::remove(path.c_str());
    }
}

TEST(GifFile, LongStillAndKilledRecording)
{
    constexpr int kWidth = 32, kHeight = 24, kFps = 25, kWhole = 5;
    std::vector<uint32_t> table;
    std::vector<std::vector<uint8_t>> dibs;
    for (int step = 0; step < kWhole + 1; ++step)
        dibs.push_back(ToDib(Scene(kWidth, kHeight, step, false), 24, table));
    const std::string path = TempPath("killed.gif");
    // The child dies by a signal midway: after kWhole frames, the last of them a still of
    // more than one delay can hold (30 minutes at 25 fps), and the first writes of another.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        auto file = avi::CreateDiskFile(path);
        avi::GifWriter gif(*file, kWidth, kHeight, 24, kFps);
        if (!file || !gif.Begin())
            _exit(1);
        for (int i = 0; i < kWhole; ++i)
            if (!gif.WriteFrame(dibs[size_t(i)].data(), dibs[size_t(i)].size(), i))
                _exit(1);
        if (!gif.WriteFrame(dibs[kWhole - 1].data(), dibs[0].size(), 30 * 60 * kFps))
            _exit(1);
        // The start of another frame reaches the file over the trailer: what a kill in the
        // middle of a write leaves.
        const uint8_t partial[] = {0x21, 0xF9, 0x04, 0x05, 0x04, 0x00, 0x00, 0x00, 0x2C, 0, 0, 0, 0,
                                   32, 0, 24, 0, 0x00, 0x08, 0x40, 0x00, 0x01, 0x02, 0x03};
        if (!file->Seek(gif.Bytes() - 1) || file->Write(partial, sizeof partial) != sizeof partial)
            _exit(1);
        raise(SIGKILL);
        _exit(1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));

    const Decoded d = DecodeWithPillow(path);
    // The still's time is carried by filler frames of a transparent pixel.
    ASSERT_GE(d.frames, kWhole);
    int total = 0;
    for (int ms : d.durations)
        total += ms;
    EXPECT_EQ(total, (30 * 60 * kFps + 1) * 1000 / kFps);
    std::vector<uint8_t> expected;
    for (int i = 0; i < kWhole; ++i)
        AppendRgb(expected, Scene(kWidth, kHeight, i, false), 24);
    const size_t frameBytes = size_t(kWidth * kHeight * 3);
    ASSERT_EQ(d.rgb.size(), size_t(d.frames) * frameBytes);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), d.rgb.begin()));
    // Every filler frame shows the last picture unchanged.
    for (int f = kWhole; f < d.frames; ++f) {
        EXPECT_TRUE(std::equal(d.rgb.begin() + long(f * frameBytes), d.rgb.begin() + long((f + 1) * frameBytes),
                               expected.end() - long(frameBytes)));
    }
    EXPECT_FALSE(DecodeWithFfmpeg(path).empty());
    std::remove(path.c_str());
}

TEST(GifFile, FullDiskEndsAfterTheLastWholeFrame)
{
    constexpr int kWidth = 48, kHeight = 32;
    for (const uint64_t budget : {uint64_t(10), uint64_t(3000), uint64_t(6000)}) {
        const std::string path = TempPath("full.gif");
        FullDisk disk(avi::CreateDiskFile(path), budget);
        avi::GifWriter gif(disk, kWidth, kHeight, 24, 10);
        std::vector<uint32_t> table;
        int written = 0;
        bool began = gif.Begin();
        for (int i = 0; began && i < 40; ++i) {
            const auto dib = ToDib(Scene(kWidth, kHeight, i, true), 24, table);
            if (!gif.WriteFrame(dib.data(), dib.size(), i))
                break;
            ++written;
        }
        ASSERT_LT(written, 40) << budget;
        EXPECT_EQ(gif.FirstError().kind, FailureKind::DiskFull) << budget;
        disk.Close();
        const std::vector<uint8_t> bytes = ReadFile(path);
        EXPECT_EQ(began, budget > 100) << budget;
        if (began) {
            ASSERT_FALSE(bytes.empty()) << budget;
            EXPECT_EQ(bytes.back(), 0x3B) << budget << ": the trailer ends the file";
            EXPECT_EQ(DecodeWithPillow(path).frames, written) << budget;
        }
        std::remove(path.c_str());
    }
}

TEST(PngFile, DecodesExactlyAtEveryDepth)
{
    for (const int bits : {8, 16, 24, 32}) {
        const Picture p = Scene(37, 21, 2, bits != 8);  // odd width: padded rows
        std::vector<uint32_t> table;
        const std::vector<uint8_t> dib = ToDib(p, bits, table);
        const int entries = int(table.size());
        avi::PngFrame frame{p.width, p.height, bits, dib.data(), table.data(), entries, 120};
        std::vector<uint8_t> png;
        ASSERT_TRUE(avi::EncodePng(frame, png)) << bits;
        const std::string path = TempPath("frame.png");
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(png.data()), std::streamsize(png.size()));
        std::vector<uint8_t> expected;
        AppendRgb(expected, p, bits);
        const Decoded d = DecodeWithPillow(path);
        EXPECT_EQ(d.frames, 1) << bits;
        EXPECT_EQ(d.dpi, 120) << bits;
        EXPECT_TRUE(d.rgb == expected) << bits << " bits";
        std::remove(path.c_str());
    }
    avi::PngFrame bad{0, 10, 24, nullptr, nullptr, 0, 96};
    std::vector<uint8_t> out;
    EXPECT_FALSE(avi::EncodePng(bad, out));
}
