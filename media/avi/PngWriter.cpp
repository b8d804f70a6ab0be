#include "media/avi/PngWriter.h"

#include "media/avi/PngFormat.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace avi {
namespace {

// Screen pictures are long runs and repeated rows: the default level finds them in little time.
constexpr int kDeflateLevel = 6;
constexpr double kMetresPerInch = 0.0254;

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

uint8_t Paeth(int a, int b, int c)
{
    const int p = a + b - c;
    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return uint8_t(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// The row filtered four ways; the one whose bytes, taken as signed, sum smallest goes in.
void FilterRow(const uint8_t* row, const uint8_t* above, size_t bytes, int bpp, uint8_t* out, uint8_t* scratch)
{
    uint8_t* candidates[4] = {scratch, scratch + bytes, scratch + 2 * bytes, scratch + 3 * bytes};
    const png::Filter kinds[4] = {png::kFilterNone, png::kFilterSub, png::kFilterUp, png::kFilterPaeth};
    uint64_t cost[4] = {};
    for (size_t i = 0; i < bytes; ++i) {
        const int a = i >= size_t(bpp) ? row[i - size_t(bpp)] : 0;
        const int b = above ? above[i] : 0;
        const int c = above && i >= size_t(bpp) ? above[i - size_t(bpp)] : 0;
        const uint8_t v[4] = {row[i], uint8_t(row[i] - a), uint8_t(row[i] - b), uint8_t(row[i] - Paeth(a, b, c))};
        for (int k = 0; k < 4; ++k) {
            candidates[k][i] = v[k];
            cost[k] += uint64_t(std::abs(int(int8_t(v[k]))));
        }
    }
    const int best = int(std::min_element(cost, cost + 4) - cost);
    out[0] = kinds[best];
    std::memcpy(out + 1, candidates[best], bytes);
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

    std::vector<uint8_t> raw, scratch, line, above;
    try {
        raw.resize((rowBytes + 1) * height);
        scratch.resize(rowBytes * 4);
        line.resize(rowBytes);
        above.resize(rowBytes);
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (size_t y = 0; y < height; ++y) {
        const uint8_t* src = f.dib + stride * (height - 1 - y);
        uint8_t* dst = raw.data() + (rowBytes + 1) * y;
        if (indexed) {
            dst[0] = png::kFilterNone;  // indices do not predict one another
            std::memcpy(dst + 1, src, rowBytes);
            continue;
        }
        for (size_t x = 0; x < width; ++x) {
            uint8_t* o = line.data() + 3 * x;
            if (f.bits == 16) {
                const unsigned v = unsigned(src[2 * x]) | unsigned(src[2 * x + 1]) << 8;
                const unsigned r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
                o[0] = uint8_t(r << 3 | r >> 2);
                o[1] = uint8_t(g << 3 | g >> 2);
                o[2] = uint8_t(b << 3 | b >> 2);
            } else {
                const uint8_t* p = src + x * size_t(f.bits / 8);
                o[0] = p[2];
                o[1] = p[1];
                o[2] = p[0];
            }
        }
        FilterRow(line.data(), y ? above.data() : nullptr, rowBytes, bpp, dst, scratch.data());
        line.swap(above);
    }

    z_stream z{};
    if (deflateInit(&z, kDeflateLevel) != Z_OK)
        return false;
    std::vector<uint8_t> packed;
    try {
        packed.resize(deflateBound(&z, uLong(raw.size())));
    } catch (const std::bad_alloc&) {
        deflateEnd(&z);
        return false;
    }
    z.next_in = raw.data();
    z.avail_in = uInt(raw.size());
    z.next_out = packed.data();
    z.avail_out = uInt(packed.size());
    const int rc = deflate(&z, Z_FINISH);
    const size_t packedBytes = z.total_out;
    deflateEnd(&z);
    if (rc != Z_STREAM_END)
        return false;

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
    PutChunk(out, png::kIDAT, packed.data(), packedBytes);
    PutChunk(out, png::kIEND, nullptr, 0);
    return true;
}

}  // namespace avi
