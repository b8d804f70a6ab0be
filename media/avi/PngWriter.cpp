#include "media/avi/PngWriter.h"

#include "media/avi/PngFormat.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace avi {
namespace {

// Screen pictures are long runs and repeated rows, which deflate finds best in the pixels as
// they are: no row is filtered (the usual filters turn flat areas and text edges into noise),
// and the default level finds the runs and rows in little time.
constexpr int kDeflateLevel = 6;
constexpr double kMetresPerInch = 0.0254;
constexpr size_t kRowsAtOnce = 16;
constexpr size_t kOutputStep = size_t(1) << 16;

void PutBE32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(uint8_t(v >> shift));
}

void PutChunk(std::vector<uint8_t>& out, const char* type, const uint8_t* data, size_t bytes)
{
    PutBE32(out, uint32_t(bytes));                      // length
    const size_t typeAt = out.size();
    out.insert(out.end(), type, type + 4);              // chunk type
    out.insert(out.end(), data, data + bytes);          // chunk data
    uLong crc = crc32(0L, Z_NULL, 0);
    const uint8_t* p = out.data() + typeAt;
    size_t left = bytes + 4;
    while (left > 0) {
        const uInt part = uInt(std::min<size_t>(left, 1u << 30));
        crc = crc32(crc, p, part);
        p += part;
        left -= part;
    }
    PutBE32(out, uint32_t(crc));                        // CRC over type and data
}

}  // namespace

bool EncodePng(const PngFrame& f, std::vector<uint8_t>& out)
{
    out.clear();
    const bool indexed = f.bits == 8;
    if (f.width < 1 || f.height < 1 || !f.dib || (indexed && (!f.table || f.tableEntries < 1 || f.tableEntries > 256)) ||
        (f.bits != 8 && f.bits != 16 && f.bits != 24 && f.bits != 32))
        return false;
    const size_t width = size_t(f.width), height = size_t(f.height);
    const size_t stride = ((width * size_t(f.bits) + 31) / 32) * 4;
    const int bpp = indexed ? 1 : 3;
    const size_t rowBytes = width * size_t(bpp);

    // Rows go to deflate a few at a time, so the picture is never held twice in memory.
    z_stream z{};
    if (deflateInit(&z, kDeflateLevel) != Z_OK)
        return false;
    std::vector<uint8_t> packed, rows;
    bool ok = true;
    try {
        rows.resize((rowBytes + 1) * kRowsAtOnce);
        packed.resize(std::max<size_t>(kOutputStep, rowBytes));
        size_t packedBytes = 0;
        for (size_t y = 0; ok && y < height;) {
            const size_t n = std::min(kRowsAtOnce, height - y);
            for (size_t k = 0; k < n; ++k, ++y) {
                const uint8_t* src = f.dib + stride * (height - 1 - y);
                uint8_t* dst = rows.data() + (rowBytes + 1) * k;
                dst[0] = png::kFilterNone;
                if (indexed) {
                    std::memcpy(dst + 1, src, rowBytes);
                    continue;
                }
                uint8_t* o = dst + 1;
                if (f.bits == 16) {
                    for (size_t x = 0; x < width; ++x, o += 3) {
                        const unsigned v = unsigned(src[2 * x]) | unsigned(src[2 * x + 1]) << 8;
                        const unsigned r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
                        o[0] = uint8_t(r << 3 | r >> 2);
                        o[1] = uint8_t(g << 3 | g >> 2);
                        o[2] = uint8_t(b << 3 | b >> 2);
                    }
                } else {
                    const size_t step = size_t(f.bits / 8);
                    for (const uint8_t* p = src; p < src + width * step; p += step, o += 3) {
                        o[0] = p[2];
                        o[1] = p[1];
                        o[2] = p[0];
                    }
                }
            }
            z.next_in = rows.data();
            z.avail_in = uInt((rowBytes + 1) * n);
            const int flush = y == height ? Z_FINISH : Z_NO_FLUSH;
            for (;;) {
                if (packedBytes == packed.size())
                    packed.resize(packed.size() * 2);
                z.next_out = packed.data() + packedBytes;
                z.avail_out = uInt(packed.size() - packedBytes);
                const int rc = deflate(&z, flush);
                packedBytes = packed.size() - z.avail_out;
                if (rc == Z_STREAM_END || (rc == Z_OK && z.avail_in == 0 && z.avail_out > 0 && flush != Z_FINISH))
                    break;
                if (rc != Z_OK && rc != Z_BUF_ERROR) {
                    ok = false;
                    break;
                }
            }
        }
        packed.resize(packedBytes);
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    deflateEnd(&z);
    if (!ok)
        return false;

    try {
        out.insert(out.end(), png::kSignature, png::kSignature + 8);
        std::vector<uint8_t> field;
        PutBE32(field, uint32_t(width));   // width
        PutBE32(field, uint32_t(height));  // height
        field.push_back(8);                // bit depth
        field.push_back(indexed ? png::kColourTypeIndexed : png::kColourTypeTrueColour);
        field.push_back(0);                // compression method: deflate
        field.push_back(0);                // filter method: adaptive
        field.push_back(0);                // interlace method: none
        PutChunk(out, png::kIHDR, field.data(), field.size());
        if (indexed) {
            field.clear();
            for (int i = 0; i < f.tableEntries; ++i) {
                field.push_back(uint8_t(f.table[i] >> 16));
                field.push_back(uint8_t(f.table[i] >> 8));
                field.push_back(uint8_t(f.table[i]));
            }
            PutChunk(out, png::kPLTE, field.data(), field.size());
        }
        if (f.dotsPerInch > 0) {
            const uint32_t perMetre = uint32_t(f.dotsPerInch / kMetresPerInch + 0.5);
            field.clear();
            PutBE32(field, perMetre);  // pixels per unit, X axis
            PutBE32(field, perMetre);  // pixels per unit, Y axis
            field.push_back(png::kUnitMetre);
            PutChunk(out, png::kPHYs, field.data(), field.size());
        }
        PutChunk(out, png::kIDAT, packed.data(), packed.size());
        PutChunk(out, png::kIEND, nullptr, 0);
    } catch (const std::bad_alloc&) {
        out.clear();
        return false;
    }
    return true;
}

}  // namespace avi
