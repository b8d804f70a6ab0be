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

// One box of the cut: a range of the entries, with what choosing where to split needs.
struct Box {
    size_t begin = 0, end = 0;
    double count = 0;
    double sum[3] = {};
    double error = 0;  // squared distance of the entries' colours from the box's mean, weighted
    int axis = 0;      // the channel that spreads most
};

}  // namespace

bool Palette::operator==(const Palette& o) const
{
    return size == o.size && std::equal(rgb.begin(), rgb.begin() + size, o.rgb.begin());
}

Quantizer::Quantizer()
    : wideKey(size_t(1) << kWideHashBits, kEmpty), wideEntry(size_t(1) << kWideHashBits, 0),
      binEntry(size_t(1) << kBinBits, 0)
{
}

bool Quantizer::Choose(const uint32_t* pixels, size_t count, int maxColours, const Palette& first,
                       const Palette& second, Palette& out)
{
    maxColours = std::clamp(maxColours, 1, 256);
    if (!CollectExact(pixels, count, maxColours)) {
        exact = false;
        Reduce(pixels, count, maxColours, out);
        return false;
    }
    exact = true;
    // A table kept means unchanged indices, and a frame that may need no table of its own.
    for (const Palette* kept : {&first, &second}) {
        if (Reindex(*kept, maxColours)) {
            out = *kept;
            return true;
        }
    }
    return UseOwnTable(out);
}

bool Quantizer::UseOwnTable(Palette& out)
{
    if (!exact)
        return false;
    out = Palette{};
    out.size = int(distinct.size());
    std::copy(distinct.begin(), distinct.end(), out.rgb.begin());
    for (size_t i = 0; i < distinct.size(); ++i)
        toTable[i] = uint8_t(i);
    return true;
}

bool Quantizer::Reindex(const Palette& table, int maxColours)
{
    if (table.size == 0 || table.size > maxColours)
        return false;
    std::array<uint8_t, 256> inTable{};
    for (size_t i = 0; i < distinct.size(); ++i) {
        const auto* at = std::find(table.rgb.begin(), table.rgb.begin() + table.size, distinct[i]);
        if (at == table.rgb.begin() + table.size)
            return false;
        inTable[i] = uint8_t(at - table.rgb.begin());
    }
    toTable = inTable;
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
    return toTable[hashIndex[s]];
}

void Quantizer::CollectEntries(const uint32_t* pixels, size_t count)
{
    if (binned)
        for (uint32_t bin : entryKeys)
            binEntry[bin] = 0;
    entries.clear();
    entryKeys.clear();
    binned = false;
    std::fill(wideKey.begin(), wideKey.end(), kEmpty);
    const uint32_t mask = (1u << kWideHashBits) - 1;
    for (size_t i = 0; i < count;) {
        const uint32_t c = pixels[i];
        size_t run = 1;
        while (i + run < count && pixels[i + run] == c)
            ++run;
        i += run;
        if (c == kKeepPixel)
            continue;
        size_t e;
        if (!binned) {
            uint32_t s = (c * 0x9E3779B1u) >> (32 - kWideHashBits);
            while (wideKey[s] != kEmpty && wideKey[s] != c)
                s = (s + 1) & mask;
            if (wideKey[s] == kEmpty) {
                if (entries.size() == kMaxExactColours) {
                    // Too many colours to keep apart: start again over bins of them.
                    entries.clear();
                    entryKeys.clear();
                    binned = true;
                    i = 0;
                    continue;
                }
                wideKey[s] = c;
                wideEntry[s] = uint32_t(entries.size());
                entries.emplace_back();
                entryKeys.push_back(c);
            }
            e = wideEntry[s];
        } else {
            int32_t& at = binEntry[BinOf(c)];
            if (at == 0) {
                entries.emplace_back();
                entryKeys.push_back(BinOf(c));
                at = int32_t(entries.size());
            }
            e = size_t(at - 1);
        }
        Entry& entry = entries[e];
        entry.count += double(run);
        for (int ch = 0; ch < 3; ++ch)
            entry.sum[ch] += double(Channel(c, ch)) * double(run);
    }
}

int Quantizer::EntryOf(uint32_t c) const
{
    if (binned)
        return binEntry[BinOf(c)] - 1;
    uint32_t s = (c * 0x9E3779B1u) >> (32 - kWideHashBits);
    while (wideKey[s] != c)
        s = (s + 1) & ((1u << kWideHashBits) - 1);
    return int(wideEntry[s]);
}

void Quantizer::Reduce(const uint32_t* pixels, size_t count, int maxColours, Palette& out)
{
    CollectEntries(pixels, count);
    const size_t n = entries.size();
    auto mean = [&](size_t e, int ch) { return entries[e].sum[ch] / entries[e].count; };
    // Squared error of a set of entries from its mean, from its sums.
    auto spread = [](double cnt, const double* sum, double squares) {
        return cnt > 0 ? squares - (sum[0] * sum[0] + sum[1] * sum[1] + sum[2] * sum[2]) / cnt : 0.0;
    };
    auto squaresOf = [&](size_t e) {
        const Entry& x = entries[e];
        return (x.sum[0] * x.sum[0] + x.sum[1] * x.sum[1] + x.sum[2] * x.sum[2]) / x.count;
    };

    std::vector<uint32_t> order(n);
    for (size_t i = 0; i < n; ++i)
        order[i] = uint32_t(i);
    std::vector<Box> boxes(1);
    auto measure = [&](Box& box) {
        box.count = 0;
        std::fill(box.sum, box.sum + 3, 0.0);
        double squares = 0, axisSq[3] = {};
        for (size_t k = box.begin; k < box.end; ++k) {
            const size_t e = order[k];
            box.count += entries[e].count;
            for (int ch = 0; ch < 3; ++ch) {
                box.sum[ch] += entries[e].sum[ch];
                axisSq[ch] += entries[e].sum[ch] * entries[e].sum[ch] / entries[e].count;
            }
            squares += squaresOf(e);
        }
        box.error = box.end - box.begin < 2 ? 0 : spread(box.count, box.sum, squares);
        double widest = -1;
        for (int ch = 0; ch < 3; ++ch) {
            const double v = axisSq[ch] - box.sum[ch] * box.sum[ch] / box.count;
            if (v > widest) {
                widest = v;
                box.axis = ch;
            }
        }
    };
    boxes[0].end = n;
    measure(boxes[0]);
    std::vector<double> prefixCount, prefixSquares;
    std::vector<std::array<double, 3>> prefixSum;
    while (int(boxes.size()) < maxColours) {
        auto worst = std::max_element(boxes.begin(), boxes.end(),
                                      [](const Box& a, const Box& b) { return a.error < b.error; });
        if (worst->error <= 0)
            break;
        Box box = *worst;
        const int axis = box.axis;
        std::sort(order.begin() + ptrdiff_t(box.begin), order.begin() + ptrdiff_t(box.end),
                  [&](uint32_t a, uint32_t b) { return mean(a, axis) < mean(b, axis); });
        // The cut that leaves the least error on its two sides.
        const size_t m = box.end - box.begin;
        prefixCount.assign(m + 1, 0);
        prefixSquares.assign(m + 1, 0);
        prefixSum.assign(m + 1, {0, 0, 0});
        for (size_t k = 0; k < m; ++k) {
            const size_t e = order[box.begin + k];
            prefixCount[k + 1] = prefixCount[k] + entries[e].count;
            prefixSquares[k + 1] = prefixSquares[k] + squaresOf(e);
            for (int ch = 0; ch < 3; ++ch)
                prefixSum[k + 1][size_t(ch)] = prefixSum[k][size_t(ch)] + entries[e].sum[ch];
        }
        size_t cut = 1;
        double best = -1;
        for (size_t k = 1; k < m; ++k) {
            double rest[3];
            for (int ch = 0; ch < 3; ++ch)
                rest[ch] = prefixSum[m][size_t(ch)] - prefixSum[k][size_t(ch)];
            const double e = spread(prefixCount[k], prefixSum[k].data(), prefixSquares[k]) +
                             spread(prefixCount[m] - prefixCount[k], rest, prefixSquares[m] - prefixSquares[k]);
            if (best < 0 || e < best) {
                best = e;
                cut = k;
            }
        }
        Box low = box, high = box;
        low.end = box.begin + cut;
        high.begin = box.begin + cut;
        measure(low);
        measure(high);
        *worst = low;
        boxes.push_back(high);
    }

    out = Palette{};
    out.size = int(boxes.size());
    entryIndex.assign(n, 0);
    std::array<double, 3> colour[256];
    for (size_t i = 0; i < boxes.size(); ++i) {
        for (int ch = 0; ch < 3; ++ch)
            colour[i][size_t(ch)] = boxes[i].count ? boxes[i].sum[ch] / boxes[i].count : 0.0;
        for (size_t k = boxes[i].begin; k < boxes[i].end; ++k)
            entryIndex[order[k]] = uint8_t(i);
    }
    // Each entry moves to the colour nearest to it, and each colour to the mean of its entries.
    const int rounds = n <= kMaxRefinedEntries ? kRefineRounds : 0;
    for (int round = 0; round <= rounds; ++round) {
        if (round > 0) {
            std::array<double, 4> acc[256] = {};
            for (size_t e = 0; e < n; ++e) {
                auto& a = acc[entryIndex[e]];
                for (int ch = 0; ch < 3; ++ch)
                    a[size_t(ch)] += entries[e].sum[ch];
                a[3] += entries[e].count;
            }
            for (int i = 0; i < out.size; ++i)
                if (acc[i][3] > 0)
                    for (int ch = 0; ch < 3; ++ch)
                        colour[i][size_t(ch)] = acc[i][size_t(ch)] / acc[i][3];
        }
        for (int i = 0; i < out.size; ++i) {
            uint32_t rgb = 0;
            for (int ch = 0; ch < 3; ++ch)
                rgb = (rgb << 8) | uint32_t(std::clamp(colour[i][size_t(ch)] + 0.5, 0.0, 255.0));
            out.rgb[size_t(i)] = rgb;
        }
        if (rounds > 0)
            AssignNearest(out);
    }
}

void Quantizer::AssignNearest(const Palette& table)
{
    for (size_t e = 0; e < entries.size(); ++e) {
        const Entry& x = entries[e];
        const double m[3] = {x.sum[0] / x.count, x.sum[1] / x.count, x.sum[2] / x.count};
        int bestIndex = 0;
        double bestDistance = -1;
        for (int i = 0; i < table.size; ++i) {
            double d = 0;
            for (int ch = 0; ch < 3; ++ch) {
                const double diff = m[ch] - double(Channel(table.rgb[size_t(i)], ch));
                d += diff * diff;
            }
            if (bestDistance < 0 || d < bestDistance) {
                bestDistance = d;
                bestIndex = i;
            }
        }
        entryIndex[e] = uint8_t(bestIndex);
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
                index = exact ? uint8_t(ExactIndex(c)) : entryIndex[size_t(EntryOf(c))];
        }
        out[i] = index;
    }
}

}  // namespace avi
