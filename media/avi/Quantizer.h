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
    // all appear in `first`, or else in `second`, that one is kept as it is. Answers whether the
    // table is exact.
    bool Choose(const uint32_t* pixels, size_t count, int maxColours, const Palette& first, const Palette& second,
                Palette& out);
    // After an exact Choose that kept a table: the pixels' own colours instead. False when
    // the last Choose was not exact.
    bool UseOwnTable(Palette& out);
    // Indices into the table last chosen; kKeepPixel becomes `keepIndex`.
    void Map(const uint32_t* pixels, size_t count, uint8_t keepIndex, uint8_t* out);

private:
    static constexpr int kHashBits = 10;  // four times 256 slots: short probes
    static constexpr uint32_t kEmpty = 0xFFFFFFFFu;
    static constexpr int kBinBits = 18;   // six bits a channel, when there are many colours
    static constexpr int kWideHashBits = 16;
    static constexpr size_t kMaxExactColours = size_t(1) << (kWideHashBits - 2);
    // Moving entries to their nearest colour costs entries x colours: done for this many.
    static constexpr size_t kMaxRefinedEntries = 8192;
    static constexpr int kRefineRounds = 2;

    // A colour, or a histogram bin of colours, with its pixels.
    struct Entry {
        double count = 0;
        double sum[3] = {};
        int box = 0;
    };

    // Distinct colours up to `limit`; false when there are more.
    bool CollectExact(const uint32_t* pixels, size_t count, int limit);
    // The pixels' distinct colours (or, past kMaxExactColours, their bins) into `entries`.
    void CollectEntries(const uint32_t* pixels, size_t count);
    void Reduce(const uint32_t* pixels, size_t count, int maxColours, Palette& out);
    int ExactIndex(uint32_t colour) const;
    // True, with `toTable` set to the table's indices, when the table holds every colour.
    bool Reindex(const Palette& table, int maxColours);
    int EntryOf(uint32_t colour) const;

    // Each entry's nearest colour of `table`; the squared error summed over the pixels.
    void AssignNearest(const Palette& table);

    bool exact = true;
    std::array<uint32_t, 1u << kHashBits> hashKey;
    std::array<uint8_t, 1u << kHashBits> hashIndex;
    std::vector<uint32_t> distinct;
    std::array<uint8_t, 256> toTable{};  // index in `distinct` -> index in the chosen table
    bool binned = false;                // entries are bins rather than colours
    std::vector<uint32_t> wideKey;      // colour -> entry, open addressing
    std::vector<uint32_t> wideEntry;
    std::vector<int32_t> binEntry;      // bin -> entry + 1, 0 unused; cleared through `entryKeys`
    std::vector<uint32_t> entryKeys;    // the colour or bin of each entry
    std::vector<Entry> entries;
    std::vector<uint8_t> entryIndex;    // palette index of each entry
};

}  // namespace avi
