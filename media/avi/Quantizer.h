#pragma once
// Colour tables of at most 256 entries for screen pixels, and the pixels' indices into them.
// Screen content is mostly flat colour: a set of pixels with few enough colours gets exactly
// those colours; more are reduced by a variance-splitting median cut, without dithering, so an
// area that does not change keeps the same indices from frame to frame.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace avi {

// Colours are 0x00RRGGBB. A pixel of this value is left out: the previous frame shows it.
inline constexpr uint32_t kKeepPixel = 0xFF000000u;

struct Palette {
    std::array<uint32_t, 256> rgb{};
    int size = 0;
    bool operator==(const Palette& o) const;
};

class Quantizer {
public:
    Quantizer();

    // A table of at most `maxColours` entries for the pixels that are not kKeepPixel. When they
    // all appear in `previous`, it is kept as it is. Answers whether the table is exact.
    bool Choose(const uint32_t* pixels, size_t count, int maxColours, const Palette& previous, Palette& out);
    // Indices into the table last chosen (or `previous` when it was kept); kKeepPixel becomes
    // `keepIndex`.
    void Map(const uint32_t* pixels, size_t count, uint8_t keepIndex, uint8_t* out);

private:
    static constexpr int kHashBits = 10;  // four times 256 slots: short probes
    static constexpr uint32_t kEmpty = 0xFFFFFFFFu;
    static constexpr int kBinBits = 18;   // six bits a channel for the histogram

    struct Bin {
        uint32_t count = 0;
        uint32_t sum[3] = {};
    };

    // Distinct colours up to `limit`; false when there are more.
    bool CollectExact(const uint32_t* pixels, size_t count, int limit);
    void Reduce(const uint32_t* pixels, size_t count, int maxColours, Palette& out);
    int ExactIndex(uint32_t colour) const;

    bool exact = true;
    std::array<uint32_t, 1u << kHashBits> hashKey;
    std::array<uint8_t, 1u << kHashBits> hashIndex;
    std::vector<uint32_t> distinct;
    std::vector<Bin> bins;            // 2^kBinBits, cleared through `usedBins`
    std::vector<uint32_t> usedBins;
    std::vector<int16_t> binIndex;    // palette entry of each used bin
};

}  // namespace avi
