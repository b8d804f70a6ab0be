#include "media/avi/Quantizer.h"

#include <algorithm>

namespace avi {
namespace {

uint32_t Channel(uint32_t rgb, int c)
{
    return (rgb >> (16 - 8 * c)) & 0xFF;
}

uint32_t BinOf(uint32_t rgb)
{
    return ((rgb >> 6) & 0x3F000) | ((rgb >> 4) & 0xFC0) | ((rgb >> 2) & 0x3F);
}

// One box of the median cut: a range of the used bins, with what choosing where to split needs.
struct Box {
    size_t begin = 0, end = 0;
    double count = 0;
    double sum[3] = {};
    double error = 0;  // squared distance of the bins' colours from the box's mean, weighted
    int axis = 0;      // the channel that spreads most
};

}  // namespace

bool Palette::operator==(const Palette& o) const
{
    return size == o.size && std::equal(rgb.begin(), rgb.begin() + size, o.rgb.begin());
}

Quantizer::Quantizer() : bins(size_t(1) << kBinBits), binIndex(size_t(1) << kBinBits, 0) {}

bool Quantizer::Choose(const uint32_t* pixels, size_t count, int maxColours, const Palette& previous, Palette& out)
{
    maxColours = std::clamp(maxColours, 1, 256);
    if (!CollectExact(pixels, count, maxColours)) {
        exact = false;
        Reduce(pixels, count, maxColours, out);
        return false;
    }
    exact = true;
    // The previous table is kept when it holds every colour: unchanged indices, and a frame
    // that needs no table of its own.
    std::array<int, 256> inPrevious{};
    bool fits = previous.size > 0 && previous.size <= maxColours;
    for (size_t i = 0; fits && i < distinct.size(); ++i) {
        const auto* at = std::find(previous.rgb.begin(), previous.rgb.begin() + previous.size, distinct[i]);
        fits = at != previous.rgb.begin() + previous.size;
        inPrevious[i] = int(at - previous.rgb.begin());
    }
    const Palette chosen = previous;
    out = Palette{};
    if (fits) {
        out = chosen;
        for (size_t s = 0; s < hashKey.size(); ++s)
            if (hashKey[s] != kEmpty)
                hashIndex[s] = uint8_t(inPrevious[hashIndex[s]]);
        return true;
    }
    out.size = int(distinct.size());
    std::copy(distinct.begin(), distinct.end(), out.rgb.begin());
    return true;
}

bool Quantizer::CollectExact(const uint32_t* pixels, size_t count, int limit)
{
    hashKey.fill(kEmpty);
    distinct.clear();
    uint32_t last = kKeepPixel;
    for (size_t i = 0; i < count; ++i) {
        const uint32_t c = pixels[i];
        if (c == last || c == kKeepPixel)
            continue;
        last = c;
        uint32_t s = (c * 0x9E3779B1u) >> (32 - kHashBits);
        while (hashKey[s] != kEmpty && hashKey[s] != c)
            s = (s + 1) & ((1u << kHashBits) - 1);
        if (hashKey[s] == c)
            continue;
        if (int(distinct.size()) == limit)
            return false;
        hashKey[s] = c;
        hashIndex[s] = uint8_t(distinct.size());
        distinct.push_back(c);
    }
    return true;
}

int Quantizer::ExactIndex(uint32_t c) const
{
    uint32_t s = (c * 0x9E3779B1u) >> (32 - kHashBits);
    while (hashKey[s] != c)
        s = (s + 1) & ((1u << kHashBits) - 1);
    return hashIndex[s];
}

void Quantizer::Reduce(const uint32_t* pixels, size_t count, int maxColours, Palette& out)
{
    for (uint32_t b : usedBins)
        bins[b] = Bin{};
    usedBins.clear();
    for (size_t i = 0; i < count;) {
        const uint32_t c = pixels[i];
        size_t run = 1;
        while (i + run < count && pixels[i + run] == c)
            ++run;
        i += run;
        if (c == kKeepPixel)
            continue;
        Bin& b = bins[BinOf(c)];
        if (b.count == 0)
            usedBins.push_back(BinOf(c));
        b.count += uint32_t(run);
        for (int ch = 0; ch < 3; ++ch)
            b.sum[ch] += Channel(c, ch) * uint32_t(run);
    }

    auto mean = [&](uint32_t bin, int ch) { return double(bins[bin].sum[ch]) / bins[bin].count; };
    auto measure = [&](Box& box) {
        double sq[3] = {};
        box.count = 0;
        std::fill(box.sum, box.sum + 3, 0.0);
        for (size_t k = box.begin; k < box.end; ++k) {
            const Bin& b = bins[usedBins[k]];
            box.count += b.count;
            for (int ch = 0; ch < 3; ++ch) {
                const double m = double(b.sum[ch]) / b.count;
                box.sum[ch] += b.sum[ch];
                sq[ch] += m * m * b.count;
            }
        }
        box.error = 0;
        double widest = -1;
        for (int ch = 0; ch < 3; ++ch) {
            const double spread = sq[ch] - box.sum[ch] * box.sum[ch] / box.count;
            box.error += spread;
            if (spread > widest) {
                widest = spread;
                box.axis = ch;
            }
        }
        if (box.end - box.begin < 2)
            box.error = 0;
    };

    std::vector<Box> boxes(1);
    boxes[0].end = usedBins.size();
    measure(boxes[0]);
    while (int(boxes.size()) < maxColours) {
        auto worst = std::max_element(boxes.begin(), boxes.end(),
                                      [](const Box& a, const Box& b) { return a.error < b.error; });
        if (worst->error <= 0)
            break;
        Box box = *worst;
        const int axis = box.axis;
        std::sort(usedBins.begin() + ptrdiff_t(box.begin), usedBins.begin() + ptrdiff_t(box.end),
                  [&](uint32_t a, uint32_t b) { return mean(a, axis) < mean(b, axis); });
        // Split where half the pixels lie on each side, leaving at least one bin on each.
        double below = 0;
        size_t cut = box.begin + 1;
        for (size_t k = box.begin; k + 1 < box.end; ++k) {
            below += bins[usedBins[k]].count;
            cut = k + 1;
            if (below * 2 >= box.count)
                break;
        }
        Box low = box, high = box;
        low.end = cut;
        high.begin = cut;
        measure(low);
        measure(high);
        *worst = low;
        boxes.push_back(high);
    }

    out = Palette{};
    out.size = int(boxes.size());
    for (size_t i = 0; i < boxes.size(); ++i) {
        const Box& box = boxes[i];
        uint32_t rgb = 0;
        for (int ch = 0; ch < 3; ++ch)
            rgb = (rgb << 8) | uint32_t(std::min(255.0, box.count ? box.sum[ch] / box.count + 0.5 : 0.0));
        out.rgb[i] = rgb;
        for (size_t k = box.begin; k < box.end; ++k)
            binIndex[usedBins[k]] = int16_t(i);
    }
}

void Quantizer::Map(const uint32_t* pixels, size_t count, uint8_t keepIndex, uint8_t* out)
{
    uint32_t last = kKeepPixel;
    uint8_t index = keepIndex;
    for (size_t i = 0; i < count; ++i) {
        const uint32_t c = pixels[i];
        if (c != last) {
            last = c;
            if (c == kKeepPixel)
                index = keepIndex;
            else
                index = uint8_t(exact ? ExactIndex(c) : binIndex[BinOf(c)]);
        }
        out[i] = index;
    }
}

}  // namespace avi
