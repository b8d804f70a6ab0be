#pragma once
// An independent reader of the RIFF AVI and OpenDML structure, for tests: it walks every RIFF,
// list and chunk, follows the super indexes to the standard indexes and those to the chunks,
// reads idx1, and says in plain words what does not agree. It shares nothing with the writer
// but the layout that the format documents give.

#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace avitest {

struct WalkedChunk {
    uint64_t pos;   // the chunk header
    uint32_t size;  // the data, without header or pad byte
    bool key;
};

struct WalkedStream {
    uint32_t type = 0, handler = 0, scale = 0, rate = 0, length = 0, sampleSize = 0;
    uint32_t chunkId = 0;  // from the super index
    std::vector<uint8_t> format;
    std::vector<WalkedChunk> indexed;  // every standard index entry, in order
    uint64_t superDuration = 0;        // the super index durations added up
    uint64_t indexedSamples = 0;       // what the entries hold: one each (video), bytes / sample size (audio)
    size_t indexedInFirstRiff = 0;
    std::vector<uint64_t> inMovi;      // this stream's chunks met walking the movi lists
};

struct WalkedFile {
    std::vector<std::string> errors;  // empty when the file is consistent
    uint32_t microSecPerFrame = 0, avihFlags = 0, totalFrames = 0, streamCount = 0;
    uint32_t grandFrames = 0;  // dmlh
    bool hasDmlh = false;
    std::vector<WalkedStream> streams;
    int riffs = 0;
    std::vector<uint64_t> riffStarts;
    uint64_t riffEnd = 0;        // end of the last RIFF
    uint64_t trailingBytes = 0;  // bytes after it
    bool hasIdx1 = false;
    std::map<uint32_t, std::vector<uint64_t>> idx1;  // chunk id -> chunk positions

    std::string Errors() const
    {
        std::string all;
        for (const std::string& e : errors)
            all += e + "\n";
        return all;
    }
    const WalkedStream* FirstOfType(uint32_t type) const
    {
        for (const WalkedStream& s : streams)
            if (s.type == type)
                return &s;
        return nullptr;
    }
};

namespace walker {

inline uint16_t Le16(const std::vector<uint8_t>& b, uint64_t at)
{
    return uint16_t(b[at] | b[at + 1] << 8);
}
inline uint32_t Le32(const std::vector<uint8_t>& b, uint64_t at)
{
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
inline uint64_t Le64(const std::vector<uint8_t>& b, uint64_t at)
{
    return Le32(b, at) | uint64_t(Le32(b, at + 4)) << 32;
}
constexpr uint32_t Id(const char (&s)[5])
{
    return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
           uint32_t(uint8_t(s[3])) << 24;
}
inline std::string Name(uint32_t id)
{
    std::string s(4, ' ');
    for (int i = 0; i < 4; ++i) {
        const char c = char(id >> (8 * i));
        s[size_t(i)] = c >= 32 && c < 127 ? c : '?';
    }
    return s;
}
inline bool IsDigit(uint32_t id, int byte)
{
    const char c = char(id >> (8 * byte));
    return c >= '0' && c <= '9';
}
// "##dc", "##db", "##wb": a stream's data chunk; returns the stream number or -1.
inline int DataStream(uint32_t id)
{
    if (!IsDigit(id, 0) || !IsDigit(id, 1))
        return -1;
    const uint32_t kind = id >> 16;
    if (kind != (Id("00dc") >> 16) && kind != (Id("00db") >> 16) && kind != (Id("00wb") >> 16))
        return -1;
    return int((id & 0xFF) - '0') * 10 + int((id >> 8 & 0xFF) - '0');
}

struct Walk {
    const std::vector<uint8_t>& b;
    WalkedFile& out;
    std::vector<std::pair<uint64_t, uint64_t>> movis;  // [start of first chunk, end)
    std::vector<std::pair<uint64_t, uint64_t>> riffs;
    std::vector<std::vector<std::pair<uint64_t, uint32_t>>> superEntries;  // per stream: offset, size
    std::vector<uint32_t> superDurations;
    uint64_t firstMoviData = 0;  // idx1 offsets count from the 'movi' type of the first movi

    void Error(const std::string& e) { out.errors.push_back(e); }

    void Hdrl(uint64_t at, uint64_t end)
    {
        while (at + 8 <= end) {
            const uint32_t id = Le32(b, at), size = Le32(b, at + 4);
            const uint64_t data = at + 8, next = data + size + (size & 1);
            if (next > end) {
                Error("hdrl: " + Name(id) + " runs past its list");
                return;
            }
            if (id == Id("avih") && size >= 40) {
                out.microSecPerFrame = Le32(b, data);
                out.avihFlags = Le32(b, data + 12);
                out.totalFrames = Le32(b, data + 16);
                out.streamCount = Le32(b, data + 24);
            } else if (id == Id("LIST") && size >= 4 && Le32(b, data) == Id("strl")) {
                Strl(data + 4, data + size);
            } else if (id == Id("LIST") && size >= 4 && Le32(b, data) == Id("odml")) {
                if (data + 4 + 12 <= data + size && Le32(b, data + 4) == Id("dmlh")) {
                    out.hasDmlh = true;
                    out.grandFrames = Le32(b, data + 12);
                }
            }
            at = next;
        }
    }

    void Strl(uint64_t at, uint64_t end)
    {
        WalkedStream s;
        std::vector<std::pair<uint64_t, uint32_t>> entries;
        uint32_t duration = 0;
        bool sawStrh = false;
        while (at + 8 <= end) {
            const uint32_t id = Le32(b, at), size = Le32(b, at + 4);
            const uint64_t data = at + 8, next = data + size + (size & 1);
            if (next > end) {
                Error("strl: " + Name(id) + " runs past its list");
                break;
            }
            if (id == Id("strh") && size >= 48) {
                sawStrh = true;
                s.type = Le32(b, data);
                s.handler = Le32(b, data + 4);
                s.scale = Le32(b, data + 20);
                s.rate = Le32(b, data + 24);
                s.length = Le32(b, data + 32);
                s.sampleSize = Le32(b, data + 44);
            } else if (id == Id("strf")) {
                s.format.assign(b.begin() + long(data), b.begin() + long(data + size));
            } else if (id == Id("indx") && size >= 24) {
                const uint16_t longs = Le16(b, data);
                const uint8_t type = b[data + 3];
                const uint32_t used = Le32(b, data + 4);
                s.chunkId = Le32(b, data + 8);
                if (longs != 4 || type != 0)
                    Error("indx: not an index of indexes");
                if (24 + uint64_t(used) * 16 > size)
                    Error("indx: more entries in use than it holds");
                for (uint32_t i = 0; i < used && 24 + uint64_t(i + 1) * 16 <= size; ++i) {
                    const uint64_t e = data + 24 + uint64_t(i) * 16;
                    entries.emplace_back(Le64(b, e), Le32(b, e + 8));
                    duration += Le32(b, e + 12);
                    s.superDuration += Le32(b, e + 12);
                }
            }
            at = next;
        }
        if (!sawStrh)
            Error("strl without strh");
        out.streams.push_back(s);
        superEntries.push_back(entries);
        superDurations.push_back(duration);
    }

    void Movi(uint64_t at, uint64_t end)
    {
        movis.emplace_back(at, end);
        while (at + 8 <= end) {
            const uint32_t id = Le32(b, at), size = Le32(b, at + 4);
            const uint64_t next = at + 8 + size + (size & 1);
            if (next > end) {
                Error("movi: " + Name(id) + " at " + std::to_string(at) + " runs past its list");
                return;
            }
            const int stream = DataStream(id);
            if (stream >= 0) {
                if (size_t(stream) < out.streams.size())
                    out.streams[size_t(stream)].inMovi.push_back(at);
                else
                    Error("movi: chunk of stream " + std::to_string(stream) + " that has no header");
            } else if (id != Id("JUNK") && !(Name(id).substr(0, 2) == "ix" && IsDigit(id, 2) && IsDigit(id, 3))) {
                Error("movi: unexpected chunk " + Name(id) + " at " + std::to_string(at));
            }
            at = next;
        }
        if (at != end)
            Error("movi: bytes left over at its end");
    }

    bool InMovi(uint64_t pos, uint64_t bytes) const
    {
        for (const auto& [start, end] : movis)
            if (pos >= start && pos + bytes <= end)
                return true;
        return false;
    }
    int RiffOf(uint64_t pos) const
    {
        for (size_t i = 0; i < riffs.size(); ++i)
            if (pos >= riffs[i].first && pos < riffs[i].second)
                return int(i);
        return -1;
    }

    // A standard index and the chunks it names.
    void StandardIndex(size_t stream, uint64_t pos, uint32_t superSize, uint64_t& samples)
    {
        WalkedStream& s = out.streams[stream];
        const std::string where = "stream " + std::to_string(stream) + " index at " + std::to_string(pos);
        if (pos + 8 + 24 > b.size() || !InMovi(pos, 8 + 24)) {
            Error(where + ": not inside a movi list");
            return;
        }
        const uint32_t id = Le32(b, pos), size = Le32(b, pos + 4);
        if (Name(id).substr(0, 2) != "ix" || DataStream(Le32(b, pos + 16)) != int(stream))
            Error(where + ": chunk " + Name(id) + " is not this stream's standard index");
        if (uint64_t(size) + 8 != superSize)
            Error(where + ": super index gives size " + std::to_string(superSize) + ", chunk has " +
                  std::to_string(size + 8));
        if (!InMovi(pos, 8 + uint64_t(size))) {
            Error(where + ": runs past its movi list");
            return;
        }
        const uint64_t data = pos + 8;
        const uint32_t used = Le32(b, data + 4), chunkId = Le32(b, data + 8);
        const uint64_t base = Le64(b, data + 12);
        if (Le16(b, data) != 2 || b[data + 3] != 1)
            Error(where + ": not an index of chunks");
        if (chunkId != s.chunkId)
            Error(where + ": names chunk id " + Name(chunkId) + ", super index " + Name(s.chunkId));
        if (24 + uint64_t(used) * 8 > size) {
            Error(where + ": more entries in use than it holds");
            return;
        }
        for (uint32_t i = 0; i < used; ++i) {
            const uint32_t offset = Le32(b, data + 24 + uint64_t(i) * 8);
            const uint32_t word = Le32(b, data + 28 + uint64_t(i) * 8);
            const uint32_t bytes = word & 0x7FFFFFFFu;
            const uint64_t chunk = base + offset - 8;
            const std::string entry = where + " entry " + std::to_string(i);
            if (base + offset < 8 || chunk + 8 > b.size() || !InMovi(chunk, 8 + uint64_t(bytes))) {
                Error(entry + ": points outside the movi lists");
                continue;
            }
            if (Le32(b, chunk) != chunkId || Le32(b, chunk + 4) != bytes)
                Error(entry + ": points at " + Name(Le32(b, chunk)) + " of " + std::to_string(Le32(b, chunk + 4)) +
                      " bytes, says " + Name(chunkId) + " of " + std::to_string(bytes));
            s.indexed.push_back(WalkedChunk{chunk, bytes, (word & 0x80000000u) == 0});
            if (RiffOf(chunk) == 0)
                ++s.indexedInFirstRiff;
            samples += s.type == Id("auds") && s.sampleSize ? bytes / s.sampleSize : 1;
        }
    }

    void Idx1(uint64_t at, uint32_t size)
    {
        out.hasIdx1 = true;
        for (uint64_t e = at; e + 16 <= at + size; e += 16) {
            const uint32_t id = Le32(b, e), length = Le32(b, e + 12);
            const uint64_t chunk = firstMoviData + Le32(b, e + 8);
            if (chunk + 8 > b.size() || Le32(b, chunk) != id || Le32(b, chunk + 4) != length) {
                Error("idx1 entry " + std::to_string((e - at) / 16) + ": " + Name(id) + " does not match its chunk");
                continue;
            }
            out.idx1[id].push_back(chunk);
        }
    }

    void Run()
    {
        uint64_t at = 0;
        while (at + 12 <= b.size() && Le32(b, at) == Id("RIFF")) {
            const uint32_t size = Le32(b, at + 4), form = Le32(b, at + 8);
            const uint64_t end = at + 8 + size;
            if (form != (out.riffs == 0 ? Id("AVI ") : Id("AVIX")))
                Error("RIFF " + std::to_string(out.riffs) + " has form " + Name(form));
            if (end > b.size()) {
                Error("RIFF " + std::to_string(out.riffs) + " runs past the end of the file");
                break;
            }
            riffs.emplace_back(at, end);
            out.riffStarts.push_back(at);
            ++out.riffs;
            uint64_t c = at + 12;
            uint64_t idx1At = 0;
            uint32_t idx1Size = 0;
            while (c + 8 <= end) {
                const uint32_t id = Le32(b, c), csize = Le32(b, c + 4);
                const uint64_t next = c + 8 + csize + (csize & 1);
                if (next > end) {
                    Error("RIFF: " + Name(id) + " at " + std::to_string(c) + " runs past its RIFF");
                    break;
                }
                const uint32_t type = csize >= 4 ? Le32(b, c + 8) : 0;
                if (id == Id("LIST") && type == Id("hdrl"))
                    Hdrl(c + 12, c + 8 + csize);
                else if (id == Id("LIST") && type == Id("movi")) {
                    if (movis.empty())
                        firstMoviData = c + 8;
                    Movi(c + 12, c + 8 + csize);
                } else if (id == Id("idx1"))
                    idx1At = c + 8, idx1Size = csize;
                c = next;
            }
            if (idx1At)
                Idx1(idx1At, idx1Size);
            at = end + (size & 1);
        }
        if (out.riffs == 0) {
            Error("no RIFF AVI at the start");
            return;
        }
        out.riffEnd = riffs.back().second;
        out.trailingBytes = b.size() > at ? b.size() - at : 0;

        for (size_t i = 0; i < out.streams.size(); ++i) {
            WalkedStream& s = out.streams[i];
            for (const auto& [pos, size] : superEntries[i])
                StandardIndex(i, pos, size, s.indexedSamples);
            // Every chunk of the stream that a reader walking the lists meets is indexed once.
            std::multiset<uint64_t> indexed;
            for (const WalkedChunk& c : s.indexed)
                indexed.insert(c.pos);
            for (uint64_t pos : indexed)
                if (indexed.count(pos) > 1) {
                    Error("stream " + std::to_string(i) + ": chunk at " + std::to_string(pos) + " indexed twice");
                    break;
                }
            for (uint64_t pos : s.inMovi)
                if (!indexed.count(pos))
                    Error("stream " + std::to_string(i) + ": chunk at " + std::to_string(pos) + " is in no index");
            if (s.superDuration != s.indexedSamples)
                Error("stream " + std::to_string(i) + ": super index durations add up to " +
                      std::to_string(s.superDuration) + ", the indexes hold " + std::to_string(s.indexedSamples));
            if (s.length != s.indexedSamples)
                Error("stream " + std::to_string(i) + ": strh dwLength " + std::to_string(s.length) +
                      ", the indexes hold " + std::to_string(s.indexedSamples));
            if (out.hasIdx1) {
                std::vector<uint64_t> first;
                for (const WalkedChunk& c : s.indexed)
                    if (RiffOf(c.pos) == 0)
                        first.push_back(c.pos);
                if (out.idx1[s.chunkId] != first)
                    Error("stream " + std::to_string(i) + ": idx1 does not list the chunks of the first RIFF");
            }
        }
        if (out.streamCount != out.streams.size())
            Error("avih dwStreams " + std::to_string(out.streamCount) + " for " + std::to_string(out.streams.size()) +
                  " stream lists");
        if (const WalkedStream* video = out.FirstOfType(Id("vids"))) {
            if (out.totalFrames != video->indexedInFirstRiff)
                Error("avih dwTotalFrames " + std::to_string(out.totalFrames) + ", the first RIFF holds " +
                      std::to_string(video->indexedInFirstRiff));
            if (!out.hasDmlh || out.grandFrames != video->length)
                Error("dmlh dwGrandFrames " + std::to_string(out.grandFrames) + ", strh dwLength " +
                      std::to_string(video->length));
        }
    }
};

}  // namespace walker

inline WalkedFile WalkAvi(const std::vector<uint8_t>& bytes)
{
    WalkedFile out;
    walker::Walk{bytes, out, {}, {}, {}, {}, 0}.Run();
    return out;
}

}  // namespace avitest
