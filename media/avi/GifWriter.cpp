#include "media/avi/GifWriter.h"

#include "media/avi/GifFormat.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace avi {
namespace {

// A full LZW table is judged over windows of this many codes, and cleared when a window takes
// fewer pixels a code than this share of the first window after it filled.
constexpr uint32_t kLzwWindowCodes = 1024;
constexpr double kLzwClearBelow = 0.85;

// Bits of a colour table holding `entries` (at least 2 entries, as the format asks).
int TableBits(int entries)
{
    int b = 1;
    while ((1 << b) < entries)
        ++b;
    return b;
}

void PutTable(ByteBuffer& out, const Palette& p, int tableBits)
{
    for (int i = 0; i < (1 << tableBits); ++i) {
        const uint32_t c = i < p.size ? p.rgb[size_t(i)] : 0;
        out.U8(uint8_t(c >> 16));
        out.U8(uint8_t(c >> 8));
        out.U8(uint8_t(c));
    }
}

// Writes LZW codes of growing width, least significant bit first, in sub-blocks.
class CodeStream {
public:
    explicit CodeStream(ByteBuffer& out) : out(out) {}
    void Put(uint32_t code, int bits)
    {
        acc |= code << held;
        held += bits;
        while (held >= 8) {
            Byte(uint8_t(acc));
            acc >>= 8;
            held -= 8;
        }
    }
    void Finish()
    {
        if (held > 0)
            Byte(uint8_t(acc));
        if (used > 0)
            Flush();
        out.U8(gif::kBlockTerminator);
    }

private:
    void Byte(uint8_t b)
    {
        block[used++] = b;
        if (used == gif::kMaxSubBlock)
            Flush();
    }
    void Flush()
    {
        out.U8(uint8_t(used));
        out.Bytes(block, used);
        used = 0;
    }

    ByteBuffer& out;
    uint32_t acc = 0;
    int held = 0;
    uint8_t block[gif::kMaxSubBlock] = {};
    size_t used = 0;
};

// The string table: (prefix code, next index) -> code, open addressing over twice its size.
class StringTable {
public:
    static constexpr int kBits = 13;
    void Clear() { std::fill(std::begin(keys), std::end(keys), 0u); }
    // The slot of `key`; its code is valid when keys[slot] == key.
    uint32_t Find(uint32_t key) const
    {
        uint32_t s = (key * 0x9E3779B1u) >> (32 - kBits);
        while (keys[s] != 0 && keys[s] != key)
            s = (s + 1) & ((1u << kBits) - 1);
        return s;
    }
    uint32_t keys[1u << kBits];
    uint16_t codes[1u << kBits];
};

}  // namespace

PixelRect ChangedRect(const uint32_t* before, const uint32_t* after, int width, int height)
{
    const size_t w = size_t(width);
    auto rowSame = [&](int y) { return std::memcmp(before + w * size_t(y), after + w * size_t(y), w * 4) == 0; };
    int top = 0;
    while (top < height && rowSame(top))
        ++top;
    if (top == height)
        return {};
    int bottom = height - 1;
    while (rowSame(bottom))
        --bottom;
    int left = width, right = -1;
    for (int y = top; y <= bottom; ++y) {
        const uint32_t* a = before + w * size_t(y);
        const uint32_t* b = after + w * size_t(y);
        int x = 0;
        while (x < left && a[x] == b[x])
            ++x;
        left = std::min(left, x);
        x = width - 1;
        while (x > right && a[x] == b[x])
            --x;
        right = std::max(right, x);
    }
    return {left, top, right - left + 1, bottom - top + 1};
}

void DibToRgb(const uint8_t* dib, int width, int height, int bits, const uint32_t* table, uint32_t* out)
{
    const size_t stride = ((size_t(width) * size_t(bits) + 31) / 32) * 4;
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = dib + stride * size_t(height - 1 - y);
        uint32_t* o = out + size_t(width) * size_t(y);
        switch (bits) {
        case 8:
            for (int x = 0; x < width; ++x)
                o[x] = table[row[x]];
            break;
        case 16:
            for (int x = 0; x < width; ++x) {
                const uint32_t v = uint32_t(row[2 * x]) | uint32_t(row[2 * x + 1]) << 8;
                const uint32_t r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
                o[x] = ((r << 3 | r >> 2) << 16) | ((g << 3 | g >> 2) << 8) | (b << 3 | b >> 2);
            }
            break;
        case 24:
            for (int x = 0; x < width; ++x)
                o[x] = uint32_t(row[3 * x + 2]) << 16 | uint32_t(row[3 * x + 1]) << 8 | row[3 * x];
            break;
        default:
            for (int x = 0; x < width; ++x)
                o[x] = uint32_t(row[4 * x + 2]) << 16 | uint32_t(row[4 * x + 1]) << 8 | row[4 * x];
            break;
        }
    }
}

void LzwEncode(const uint8_t* indices, size_t count, int minCodeSize, ByteBuffer& out)
{
    out.U8(uint8_t(minCodeSize));
    CodeStream codes(out);
    const uint32_t clear = 1u << minCodeSize, stop = clear + 1;
    static thread_local StringTable table;
    table.Clear();
    uint32_t next = clear + 2;
    int bits = minCodeSize + 1;
    codes.Put(clear, bits);
    if (count > 0) {
        uint32_t prefix = indices[0];
        // A full table goes on being used while it codes as well as it did when it filled up;
        // a clear starts a new one when it no longer does (screens change from area to area).
        size_t windowStart = 0;
        uint32_t windowCodes = 0;
        double fullRatio = 0;
        for (size_t i = 1; i < count; ++i) {
            const uint32_t key = (prefix << 8 | indices[i]) + 1;
            const uint32_t slot = table.Find(key);
            if (table.keys[slot] == key) {
                prefix = table.codes[slot];
                continue;
            }
            codes.Put(prefix, bits);
            prefix = indices[i];
            if (next < (1u << gif::kMaxCodeBits)) {
                table.keys[slot] = key;
                table.codes[slot] = uint16_t(next++);
                if (next > (1u << bits) && bits < gif::kMaxCodeBits)
                    ++bits;
                windowStart = i;
                continue;
            }
            if (++windowCodes < kLzwWindowCodes)
                continue;
            const double ratio = double(i - windowStart) / windowCodes;
            windowStart = i;
            windowCodes = 0;
            if (fullRatio == 0) {
                fullRatio = ratio;
                continue;
            }
            if (ratio >= fullRatio * kLzwClearBelow)
                continue;
            codes.Put(clear, bits);
            table.Clear();
            next = clear + 2;
            bits = minCodeSize + 1;
            fullRatio = 0;
        }
        codes.Put(prefix, bits);
    }
    codes.Put(stop, bits);
    codes.Finish();
}

int64_t SlotHundredths(int64_t index, int fps)
{
    return (index * 200 + fps) / (2 * int64_t(fps));
}

GifWriter::GifWriter(OutputFile& file, int width, int height, int bits, int fps)
    : file(file), width(width), height(height), bits(bits), fps(std::max(fps, 1)), table(256, 0)
{
}

bool GifWriter::SizeFits(int width, int height)
{
    return width >= 1 && height >= 1 && width <= gif::kMaxSide && height <= gif::kMaxSide;
}

void GifWriter::HeaderInto(ByteBuffer& out, const Palette* colours) const
{
    out.Bytes(gif::kSignature, 6);
    out.U16(uint16_t(width));   // logical screen width
    out.U16(uint16_t(height));  // logical screen height
    const int tableBits = colours ? TableBits(std::clamp(colours->size + 1, 2, 256)) : 1;
    out.U8(uint8_t((colours ? gif::kColourTableFlag : 0) | gif::kColourResolution8 | (tableBits - 1)));
    out.U8(0);  // background colour index
    out.U8(0);  // pixel aspect ratio: not given
    if (colours)
        PutTable(out, *colours, tableBits);
    out.U8(gif::kExtensionIntroducer);
    out.U8(gif::kApplicationLabel);
    out.U8(11);  // block size: identifier and authentication code
    out.Bytes(gif::kLoopApplication, 11);
    out.U8(3);   // sub-block size
    out.U8(gif::kLoopSubBlockId);
    out.U16(gif::kLoopForever);
    out.U8(gif::kBlockTerminator);
}

bool GifWriter::Begin()
{
    if (!SizeFits(width, height) || (bits != 8 && bits != 16 && bits != 24 && bits != 32))
        return false;
    frameBytes = ((size_t(width) * size_t(bits) + 31) / 32) * 4 * size_t(height);
    const size_t pixels = size_t(width) * size_t(height);
    try {
        previous.assign(pixels, 0);
        current.assign(pixels, 0);
        changed.reserve(pixels);
        indices.reserve(pixels);
    } catch (const std::bad_alloc&) {
        return false;  // no memory for frames of this size: the start fails
    }
    ByteBuffer head;
    HeaderInto(head, nullptr);
    head.U8(gif::kTrailer);
    if (!WriteAt(0, head.Data(), head.Size()))
        return Fail();
    end = head.Size() - 1;
    return true;
}

void GifWriter::SetColourTable(const uint32_t* rgb, int entries)
{
    std::fill(table.begin(), table.end(), 0u);
    std::copy(rgb, rgb + std::clamp(entries, 0, 256), table.begin());
}

bool GifWriter::WriteAt(uint64_t offset, const uint8_t* data, size_t bytes)
{
    if (!file.Seek(offset) || file.Write(data, bytes) != bytes) {
        if (error.kind == FailureKind::None)
            error = file.LastError();
        return false;
    }
    return true;
}

// What reached the file stays a whole movie: it is cut after the last whole frame, where the
// trailer goes again.
bool GifWriter::Fail()
{
    failed = true;
    if (error.kind == FailureKind::None)
        error = OrWriteFailed(file.LastError());
    if (framesWritten > 0) {
        const uint8_t trailer = gif::kTrailer;
        if (file.Truncate(end))
            WriteAt(end, &trailer, 1);
    } else {
        ByteBuffer head;
        HeaderInto(head, nullptr);
        head.U8(gif::kTrailer);
        if (file.Truncate(0))
            WriteAt(0, head.Data(), head.Size());
    }
    return false;
}

bool GifWriter::ExtendLastFrame(int64_t hundredths)
{
    while (hundredths - lastStart > gif::kMaxDelay) {
        // A transparent pixel carries on the picture for the time one delay cannot hold.
        const uint8_t full[2] = {uint8_t(gif::kMaxDelay & 0xFF), uint8_t(gif::kMaxDelay >> 8)};
        if (!WriteAt(delayAt, full, 2))
            return false;
        ByteBuffer filler;
        const size_t fillerDelayAt = filler.Size() + 4;
        filler.U8(gif::kExtensionIntroducer);
        filler.U8(gif::kGraphicControlLabel);
        filler.U8(gif::kGraphicControlSize);
        filler.U8(gif::kDisposalDoNotDispose | gif::kTransparentFlag);
        filler.U16(0);  // delay time, set below
        filler.U8(0);   // transparent colour index
        filler.U8(gif::kBlockTerminator);
        filler.U8(gif::kImageSeparator);
        filler.U16(0);  // left
        filler.U16(0);  // top
        filler.U16(1);  // width
        filler.U16(1);  // height
        filler.U8(0);   // no local colour table
        const uint8_t pixel = 0;
        LzwEncode(&pixel, 1, 2, filler);
        if (!AppendFrame(filler, fillerDelayAt, false))
            return false;
        lastStart += gif::kMaxDelay;
    }
    const int64_t delay = hundredths - lastStart;
    const uint8_t field[2] = {uint8_t(delay & 0xFF), uint8_t(delay >> 8)};
    return WriteAt(delayAt, field, 2);
}

// Writes the frame over the trailer, with the trailer after it.
bool GifWriter::AppendFrame(ByteBuffer& bytes, uint64_t frameDelayAt, bool first)
{
    bytes.U8(gif::kTrailer);
    const uint64_t at = first ? 0 : end;
    if (!WriteAt(at, bytes.Data(), bytes.Size()))
        return false;
    end = at + bytes.Size() - 1;
    delayAt = at + frameDelayAt;
    return true;
}

uint8_t GifWriter::KeepIndex(const Palette& table)
{
    return uint8_t(std::min(table.size, 255));
}

void GifWriter::ImageInto(ByteBuffer& out, const PixelRect& r, const Palette& table, bool keeps)
{
    const size_t count = size_t(r.width) * size_t(r.height);
    quantizer.Map(changed.data(), count, KeepIndex(table), indices.data());
    const bool local = !(table == global);
    const int tableBits = TableBits(std::clamp(table.size + (keeps ? 1 : 0), 2, 256));
    const int globalBits = TableBits(std::clamp(global.size + 1, 2, 256));
    out.Clear();
    out.U8(gif::kImageSeparator);
    out.U16(uint16_t(r.x));       // image left position
    out.U16(uint16_t(r.y));       // image top position
    out.U16(uint16_t(r.width));   // image width
    out.U16(uint16_t(r.height));  // image height
    out.U8(local ? uint8_t(gif::kColourTableFlag | (tableBits - 1)) : 0);
    if (local)
        PutTable(out, table, tableBits);
    LzwEncode(indices.data(), count, std::max(local ? tableBits : globalBits, 2), out);
}

bool GifWriter::WriteFrame(const void* dib, size_t bytes, int64_t index)
{
    try {
        return WriteFrameOrThrow(dib, bytes, index);
    } catch (const std::bad_alloc&) {
        // The frame could not be built: the recording ends as on a write the file refused.
        if (error.kind == FailureKind::None)
            error = RecordingFailure{FailureKind::WriteFailed, 0};
        return Fail();
    }
}

bool GifWriter::WriteFrameOrThrow(const void* dib, size_t bytes, int64_t index)
{
    if (failed || frameBytes == 0 || !dib || bytes < frameBytes || index < 0 || index < lastIndex)
        return false;
    DibToRgb(static_cast<const uint8_t*>(dib), width, height, bits, table.data(), current.data());

    const bool first = framesWritten == 0;
    const PixelRect r = first ? PixelRect{0, 0, width, height} : ChangedRect(previous.data(), current.data(), width, height);
    if (r.Empty()) {
        if (!ExtendLastFrame(SlotHundredths(index + 1, fps)))
            return Fail();
        lastIndex = index;
        covered = index + 1;
        return true;
    }

    // The rectangle's pixels; those the last frame already shows stay transparent.
    const size_t count = size_t(r.width) * size_t(r.height);
    changed.resize(count);
    indices.resize(count);
    bool keeps = false;
    for (int y = 0; y < r.height; ++y) {
        const size_t row = size_t(r.y + y) * size_t(width) + size_t(r.x);
        uint32_t* out = changed.data() + size_t(y) * size_t(r.width);
        for (int x = 0; x < r.width; ++x) {
            const uint32_t c = current[row + size_t(x)];
            const bool same = !first && c == previous[row + size_t(x)];
            out[x] = same ? kKeepPixel : c;
            keeps |= same;
        }
    }
    Palette chosen;
    // A first frame leaves an index free for the transparency of the frames that keep its table
    // (an 8-bit one only when it has fewer than 256 colours: its colours stay exact).
    const int room = keeps || (first && bits != 8) ? 255 : 256;
    bool exact = quantizer.Choose(changed.data(), count, room, global, palette, chosen);
    if (!exact && keeps && bits == 8) {
        // Up to 256 colours, and no index left for transparency: the rectangle goes opaque.
        for (int y = 0; y < r.height; ++y)
            std::copy_n(current.data() + size_t(r.y + y) * size_t(width) + size_t(r.x), r.width,
                        changed.data() + size_t(y) * size_t(r.width));
        keeps = false;
        exact = quantizer.Choose(changed.data(), count, 256, global, palette, chosen);
    }
    if (first)
        global = chosen;
    ImageInto(image, r, chosen, keeps);
    // A table kept costs nothing but may need wider codes than the colours' own small table:
    // the smaller of the two goes in.
    const bool kept = !first && (chosen == global || chosen == palette);
    Palette own;
    if (exact && kept && quantizer.UseOwnTable(own) && TableBits(own.size + 1) < TableBits(chosen.size + 1)) {
        ImageInto(alternative, r, own, keeps);
        if (alternative.Size() < image.Size()) {
            std::swap(image, alternative);
            chosen = own;
        }
    }
    frame.Clear();
    if (first)
        HeaderInto(frame, &global);
    const size_t frameDelayAt = frame.Size() + 4;
    const int64_t start = SlotHundredths(index, fps);
    frame.U8(gif::kExtensionIntroducer);
    frame.U8(gif::kGraphicControlLabel);
    frame.U8(gif::kGraphicControlSize);
    frame.U8(uint8_t(gif::kDisposalDoNotDispose | (keeps ? gif::kTransparentFlag : 0)));
    frame.U16(uint16_t(std::min<int64_t>(SlotHundredths(index + 1, fps) - start, gif::kMaxDelay)));  // delay time
    frame.U8(keeps ? KeepIndex(chosen) : 0);  // transparent colour index
    frame.U8(gif::kBlockTerminator);
    frame.Bytes(image.Data(), image.Size());

    if (!first && !ExtendLastFrame(start))
        return Fail();
    if (!AppendFrame(frame, frameDelayAt, first))
        return Fail();
    lastStart = start;
    lastIndex = index;
    covered = index + 1;
    ++framesWritten;
    palette = chosen;
    previous.swap(current);
    return true;
}

}  // namespace avi
