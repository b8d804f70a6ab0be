#include "media/avi/Muxer.h"

#include "media/avi/AviFormat.h"
#include "media/avi/ByteBuffer.h"

#include <algorithm>
#include <cstring>

namespace avi {
namespace {

constexpr size_t kPendingCapacity = size_t(256) << 10;  // small chunks are batched up to this
constexpr size_t kSilenceChunkBytes = size_t(1) << 20;
constexpr uint32_t kMaxChunkBytes = uint32_t(1) << 30;    // keeps every segment under 4 GiB
constexpr uint16_t kWaveFormatPcm = 1;                   // WAVE_FORMAT_PCM

uint32_t Pad(uint32_t n)
{
    return n + (n & 1);
}

}  // namespace

const char* StatusText(Status status)
{
    switch (status) {
    case Status::Ok: return "ok";
    case Status::BadArgument: return "bad argument";
    case Status::BadState: return "bad state";
    case Status::WriteFailed: return "write failed";
    case Status::IndexFull: return "index full";
    }
    return "unknown";
}

Muxer::Muxer(std::unique_ptr<OutputFile> f) : file(std::move(f)) {}

Muxer::~Muxer()
{
    Close();
}

int Muxer::AddStream(const VAVIStreamInfo& header)
{
    if (headersWritten || closed || streams.size() >= 99 || header.dwScale == 0 || header.dwRate == 0)
        return -1;
    Stream s;
    s.header = header;
    s.video = header.fccType != kFccAuds;
    s.chunkId = StreamChunkId(int(streams.size()), s.video);
    if (!s.video && s.header.dwSampleSize == 0)
        s.header.dwSampleSize = 1;
    if (s.video)
        s.header.dwSampleSize = 0;  // one frame per chunk
    streams.push_back(std::move(s));
    return int(streams.size()) - 1;
}

Status Muxer::SetHandler(int stream, uint32_t fccHandler)
{
    if (stream < 0 || size_t(stream) >= streams.size())
        return Status::BadArgument;
    if (headersWritten || closed)
        return Status::BadState;
    streams[size_t(stream)].header.fccHandler = fccHandler;
    return Status::Ok;
}

Status Muxer::SetFormat(int stream, const void* format, size_t bytes)
{
    if (stream < 0 || size_t(stream) >= streams.size() || (!format && bytes) || bytes > (1u << 20))
        return Status::BadArgument;
    if (headersWritten || closed)
        return Status::BadState;
    Stream& s = streams[size_t(stream)];
    const auto* p = static_cast<const uint8_t*>(format);
    s.format.assign(p, p + bytes);
    if (!s.video && bytes >= 16) {
        const uint16_t tag = uint16_t(p[0] | p[1] << 8);
        const uint16_t bits = uint16_t(p[14] | p[15] << 8);
        s.silence = tag == kWaveFormatPcm && bits == 8 ? 0x80 : 0;
    }
    return Status::Ok;
}

Status Muxer::Begin()
{
    if (closed || streams.empty())
        return Status::BadState;
    if (failed)
        return Status::WriteFailed;
    if (headersWritten)
        return Status::Ok;
    return WriteHeaders();
}

int64_t Muxer::StreamLength(int stream) const
{
    if (stream < 0 || size_t(stream) >= streams.size())
        return 0;
    return streams[size_t(stream)].length;
}

Status Muxer::Fail(Status status)
{
    failed = true;
    return status;
}

Status Muxer::Append(const void* data, size_t bytes)
{
    if (pending.size() + bytes > kPendingCapacity) {
        if (Status st = FlushPending(); st != Status::Ok)
            return st;
    }
    if (bytes >= kPendingCapacity) {
        if (!file->Seek(end))
            return Fail(Status::WriteFailed);
        const size_t done = file->Write(data, bytes);
        if (done != bytes) {
            confirmedEnd = end + done;
            return Fail(Status::WriteFailed);
        }
        end += bytes;
        confirmedEnd = end;
        pendingStart = end;
        return Status::Ok;
    }
    const auto* p = static_cast<const uint8_t*>(data);
    pending.insert(pending.end(), p, p + bytes);
    end += bytes;
    return Status::Ok;
}

Status Muxer::FlushPending()
{
    if (pending.empty())
        return Status::Ok;
    if (!file->Seek(pendingStart))
        return Fail(Status::WriteFailed);
    const size_t done = file->Write(pending.data(), pending.size());
    if (done != pending.size()) {
        confirmedEnd = pendingStart + done;
        return Fail(Status::WriteFailed);
    }
    pendingStart += pending.size();
    confirmedEnd = pendingStart;
    pending.clear();
    return Status::Ok;
}

Status Muxer::PatchAt(uint64_t offset, const void* data, size_t bytes)
{
    if (!file->Seek(offset) || file->Write(data, bytes) != bytes)
        return Fail(Status::WriteFailed);
    return Status::Ok;
}

Status Muxer::WriteHeaders()
{
    ByteBuffer b;
    const Stream* firstVideo = nullptr;
    for (const Stream& s : streams)
        if (s.video && !firstVideo)
            firstVideo = &s;
    int32_t width = 0, height = 0;
    if (firstVideo) {
        width = firstVideo->header.rcFrame.Width();
        height = firstVideo->header.rcFrame.Height();
        if (firstVideo->format.size() >= 12) {
            VBitmapInfoHeader bih;
            std::memcpy(&bih, firstVideo->format.data(), std::min(firstVideo->format.size(), sizeof bih));
            width = bih.biWidth;
            height = bih.biHeight < 0 ? -bih.biHeight : bih.biHeight;
        }
    }

    const size_t riff = b.BeginList(kFccRiff, kFccAvi);
    const size_t hdrl = b.BeginList(kFccList, kFccHdrl);
    const size_t avih = b.BeginChunk(kFccAvih);
    avihPos = b.Size();
    const VAVIStreamInfo& timing = firstVideo ? firstVideo->header : streams.front().header;
    b.U32(uint32_t(uint64_t(1000000) * timing.dwScale / timing.dwRate));  // dwMicroSecPerFrame
    b.U32(0);                                                             // dwMaxBytesPerSec
    b.U32(0);                                                             // dwPaddingGranularity
    b.U32(kAvifIsInterleaved | kAvifTrustCkType);                         // dwFlags
    b.U32(0);                                                             // dwTotalFrames
    b.U32(0);                                                             // dwInitialFrames
    b.U32(uint32_t(streams.size()));                                      // dwStreams
    b.U32(0);                                                             // dwSuggestedBufferSize
    b.U32(uint32_t(width));                                               // dwWidth
    b.U32(uint32_t(height));                                              // dwHeight
    b.Zeros(16);                                                          // dwReserved[4]
    b.EndChunk(avih);

    for (size_t i = 0; i < streams.size(); ++i) {
        Stream& s = streams[i];
        const VAVIStreamInfo& h = s.header;
        const size_t strl = b.BeginList(kFccList, kFccStrl);
        const size_t strh = b.BeginChunk(kFccStrh);
        s.strhPos = b.Size();
        b.U32(h.fccType);                      // fccType
        b.U32(h.fccHandler);                   // fccHandler
        b.U32(h.dwFlags);                      // dwFlags
        b.U16(h.wPriority);                    // wPriority
        b.U16(h.wLanguage);                    // wLanguage
        b.U32(h.dwInitialFrames);              // dwInitialFrames
        b.U32(h.dwScale);                      // dwScale
        b.U32(h.dwRate);                       // dwRate
        b.U32(h.dwStart);                      // dwStart
        b.U32(0);                              // dwLength
        b.U32(h.dwSuggestedBufferSize);        // dwSuggestedBufferSize
        b.U32(h.dwQuality);                    // dwQuality
        b.U32(h.dwSampleSize);                 // dwSampleSize
        b.U16(uint16_t(h.rcFrame.left));       // rcFrame.left
        b.U16(uint16_t(h.rcFrame.top));        // rcFrame.top
        b.U16(uint16_t(h.rcFrame.right));      // rcFrame.right
        b.U16(uint16_t(h.rcFrame.bottom));     // rcFrame.bottom
        b.EndChunk(strh);

        const size_t strf = b.BeginChunk(kFccStrf);
        b.Bytes(s.format.data(), s.format.size());
        b.EndChunk(strf);

        const size_t strn = b.BeginChunk(kFccStrn);
        const size_t nameLength = strnlen(h.szName, sizeof h.szName - 1);
        b.Bytes(h.szName, nameLength);
        b.U8(0);
        b.EndChunk(strn);

        const size_t indx = b.BeginChunk(kFccIndx);
        s.indxPos = b.Size();
        b.U16(4);                   // wLongsPerEntry
        b.U8(0);                    // bIndexSubType
        b.U8(kAviIndexOfIndexes);   // bIndexType
        b.U32(0);                   // nEntriesInUse
        b.U32(s.chunkId);           // dwChunkId
        b.Zeros(12);                // dwReserved[3]
        b.Zeros(size_t(kSuperIndexCapacity) * kSuperIndexEntryBytes);
        b.EndChunk(indx);
        b.EndChunk(strl);
    }

    const size_t odml = b.BeginList(kFccList, kFccOdml);
    const size_t dmlh = b.BeginChunk(kFccDmlh);
    dmlhPos = b.Size();
    b.Zeros(kDmlhBytes);  // dwGrandFrames, then reserved
    b.EndChunk(dmlh);
    b.EndChunk(odml);
    b.EndChunk(hdrl);

    moviPos = b.Size();
    const size_t movi = b.BeginList(kFccList, kFccMovi);
    b.EndChunk(movi);
    b.EndChunk(riff);
    segmentPos = 0;

    headersWritten = true;
    if (Status st = Append(b.Data(), b.Size()); st != Status::Ok)
        return st;
    return FlushPending();
}

Status Muxer::WriteChunk(Stream& s, const void* data, uint32_t bytes, bool key, int64_t endLength)
{
    // A new sample first closes a full segment; a replacement stays beside the sample it replaces.
    const bool replaces = s.video && !s.entries.empty() && endLength == s.length && s.length > 0 &&
                          s.entries.back().endLength == endLength;
    if (!replaces) {
        const uint64_t needed = kChunkHeaderBytes + Pad(bytes);
        if (end - segmentPos + needed > kRiffSegmentLimit && end - moviPos > kListHeaderBytes) {
            if (Status st = EndSegment(false); st != Status::Ok)
                return st;
        }
    }
    const uint8_t header[8] = {uint8_t(s.chunkId), uint8_t(s.chunkId >> 8), uint8_t(s.chunkId >> 16),
                               uint8_t(s.chunkId >> 24), uint8_t(bytes), uint8_t(bytes >> 8),
                               uint8_t(bytes >> 16), uint8_t(bytes >> 24)};
    const uint64_t dataPos = end + kChunkHeaderBytes;
    if (Status st = Append(header, sizeof header); st != Status::Ok)
        return st;
    if (bytes) {
        if (Status st = Append(data, bytes); st != Status::Ok)
            return st;
    }
    if (bytes & 1) {
        const uint8_t zero = 0;
        if (Status st = Append(&zero, 1); st != Status::Ok)
            return st;
    }
    const IndexEntry entry{dataPos, bytes, key, endLength};
    if (replaces) {
        // The replaced chunk stays where it is, renamed so that readers walking the list skip it.
        const uint64_t old = s.entries.back().dataPos - kChunkHeaderBytes;
        uint8_t junk[4];
        StoreLE32(junk, kFccJunk);
        if (old >= pendingStart) {
            std::memcpy(&pending[size_t(old - pendingStart)], junk, 4);
        } else if (Status st = PatchAt(old, junk, 4); st != Status::Ok) {
            return st;
        }
        s.entries.back() = entry;
        if (s.indexed == s.entries.size())
            s.lastEntryDirty = true;
    } else {
        s.entries.push_back(entry);
    }
    s.length = endLength;
    s.maxChunk = std::max(s.maxChunk, bytes);
    if (segment == 0)
        s.firstSegmentLength = s.length;
    return Status::Ok;
}

Status Muxer::WriteGap(Stream& s, int64_t samples)
{
    if (s.video) {
        for (int64_t i = 0; i < samples; ++i) {
            if (Status st = WriteChunk(s, nullptr, 0, false, s.length + 1); st != Status::Ok)
                return st;
        }
        return Status::Ok;
    }
    const uint64_t sampleSize = s.header.dwSampleSize;
    const std::vector<uint8_t> silence(size_t(std::min<uint64_t>(kSilenceChunkBytes / sampleSize * sampleSize,
                                                                 uint64_t(samples) * sampleSize)),
                                       s.silence);
    int64_t left = samples;
    while (left > 0) {
        const int64_t n = std::min<int64_t>(left, int64_t(silence.size() / sampleSize));
        if (Status st = WriteChunk(s, silence.data(), uint32_t(n * sampleSize), true, s.length + n);
            st != Status::Ok)
            return st;
        left -= n;
    }
    return Status::Ok;
}

Status Muxer::Write(int stream, int64_t position, const void* data, uint32_t bytes, bool keyFrame)
{
    if (stream < 0 || size_t(stream) >= streams.size() || position < 0 || (!data && bytes) ||
        bytes > kMaxChunkBytes)
        return Status::BadArgument;
    if (closed)
        return Status::BadState;
    if (failed)
        return Status::WriteFailed;
    if (!headersWritten) {
        if (Status st = WriteHeaders(); st != Status::Ok)
            return st;
    }
    Stream& s = streams[size_t(stream)];
    Status st = Status::Ok;
    if (s.video) {
        if (position < s.length - 1 || position - s.length > kMaxGapSamples)
            return Status::BadArgument;
        if (position > s.length)
            st = WriteGap(s, position - s.length);
        if (st == Status::Ok)
            st = WriteChunk(s, data, bytes, keyFrame, position == s.length - 1 ? s.length : position + 1);
    } else {
        const uint32_t sampleSize = s.header.dwSampleSize;
        if (position < s.length || position - s.length > kMaxGapSamples || bytes % sampleSize)
            return Status::BadArgument;
        if (position > s.length)
            st = WriteGap(s, position - s.length);
        if (st == Status::Ok && bytes)
            st = WriteChunk(s, data, bytes, true, s.length + bytes / sampleSize);
    }
    if (st != Status::Ok)
        return st;

    for (const Stream& t : streams) {
        if (uint64_t(t.length - t.checkpointLength) * t.header.dwScale >= t.header.dwRate)
            return Checkpoint();
    }
    return Status::Ok;
}

uint32_t Muxer::Duration(const Stream& s, size_t first, size_t last) const
{
    if (first >= last)
        return 0;
    const int64_t before = first == 0 ? s.segmentStartLength : s.entries[first - 1].endLength;
    return uint32_t(s.entries[last - 1].endLength - before);
}

Status Muxer::WriteStandardIndex(Stream& s, size_t first, size_t last, SuperEntry& out)
{
    ByteBuffer b;
    const uint64_t base = moviPos;
    const size_t chunk = b.BeginChunk(IndexChunkId(int(&s - streams.data())));
    b.U16(2);                          // wLongsPerEntry
    b.U8(0);                           // bIndexSubType
    b.U8(kAviIndexOfChunks);           // bIndexType
    b.U32(uint32_t(last - first));     // nEntriesInUse
    b.U32(s.chunkId);                  // dwChunkId
    b.U64(base);                       // qwBaseOffset
    b.U32(0);                          // dwReserved3
    for (size_t i = first; i < last; ++i) {
        const IndexEntry& e = s.entries[i];
        b.U32(uint32_t(e.dataPos - base));                      // dwOffset
        b.U32(e.size | (e.key ? 0 : kStdIndexDeltaFrame));      // dwSize
    }
    b.EndChunk(chunk);
    out = SuperEntry{end, uint32_t(b.Size()), Duration(s, first, last)};
    if (last > first)
        s.lastEntryRecordPos = end + kChunkHeaderBytes + kStdIndexHeaderBytes + (last - 1 - first) * kStdIndexEntryBytes;
    return Append(b.Data(), b.Size());
}

Status Muxer::IndexPendingEntries()
{
    for (Stream& s : streams) {
        if (s.indexed == s.entries.size())
            continue;
        if (s.super.size() - s.segmentSuperFirst >= kCheckpointIndexesPerSegment) {
            if (Status st = MergeSegmentIndex(s); st != Status::Ok)
                return st;
            continue;
        }
        if (s.super.size() >= kSuperIndexCapacity)
            return Fail(Status::IndexFull);
        SuperEntry e{};
        if (Status st = WriteStandardIndex(s, s.indexed, s.entries.size(), e); st != Status::Ok)
            return st;
        s.super.push_back(e);
        s.indexed = s.entries.size();
        s.lastEntryDirty = false;
    }
    return Status::Ok;
}

// Replaces the checkpoint indexes of this segment by one that covers all of it.
Status Muxer::MergeSegmentIndex(Stream& s)
{
    if (s.entries.empty())
        return Status::Ok;
    if (s.segmentSuperFirst >= kSuperIndexCapacity)
        return Fail(Status::IndexFull);
    SuperEntry e{};
    if (Status st = WriteStandardIndex(s, 0, s.entries.size(), e); st != Status::Ok)
        return st;
    s.super.resize(s.segmentSuperFirst);
    s.super.push_back(e);
    s.indexed = s.entries.size();
    s.lastEntryDirty = false;
    return Status::Ok;
}

Status Muxer::PatchHeaders()
{
    if (Status st = FlushPending(); st != Status::Ok)
        return st;
    uint8_t v[4];
    uint32_t maxChunk = 0;
    int64_t firstVideoFrames = -1, totalVideoFrames = 0;
    for (Stream& s : streams) {
        if (s.lastEntryDirty && s.lastEntryRecordPos) {
            const IndexEntry& e = s.entries.back();
            const uint64_t base = moviPos;
            uint8_t record[8];
            StoreLE32(record, uint32_t(e.dataPos - base));
            StoreLE32(record + 4, e.size | (e.key ? 0 : kStdIndexDeltaFrame));
            if (Status st = PatchAt(s.lastEntryRecordPos, record, sizeof record); st != Status::Ok)
                return st;
            s.lastEntryDirty = false;
        }
        ByteBuffer b;
        for (const SuperEntry& e : s.super) {
            b.U64(e.pos);        // qwOffset
            b.U32(e.size);       // dwSize
            b.U32(e.duration);   // dwDuration
        }
        if (b.Size()) {
            if (Status st = PatchAt(s.indxPos + kSuperIndexHeaderBytes, b.Data(), b.Size()); st != Status::Ok)
                return st;
        }
        StoreLE32(v, uint32_t(s.super.size()));  // nEntriesInUse
        if (Status st = PatchAt(s.indxPos + 4, v, 4); st != Status::Ok)
            return st;
        StoreLE32(v, uint32_t(s.length));  // dwLength
        if (Status st = PatchAt(s.strhPos + 32, v, 4); st != Status::Ok)
            return st;
        StoreLE32(v, std::max(s.header.dwSuggestedBufferSize, s.maxChunk));  // dwSuggestedBufferSize
        if (Status st = PatchAt(s.strhPos + 36, v, 4); st != Status::Ok)
            return st;
        maxChunk = std::max(maxChunk, s.maxChunk);
        if (s.video) {
            if (firstVideoFrames < 0)
                firstVideoFrames = s.firstSegmentLength, totalVideoFrames = s.length;
        }
    }
    StoreLE32(v, uint32_t(std::max<int64_t>(firstVideoFrames, 0)));  // dwTotalFrames
    if (Status st = PatchAt(avihPos + 16, v, 4); st != Status::Ok)
        return st;
    StoreLE32(v, maxChunk);  // dwSuggestedBufferSize
    if (Status st = PatchAt(avihPos + 28, v, 4); st != Status::Ok)
        return st;
    StoreLE32(v, uint32_t(totalVideoFrames));  // dwGrandFrames
    if (Status st = PatchAt(dmlhPos, v, 4); st != Status::Ok)
        return st;
    return Status::Ok;
}

Status Muxer::Checkpoint()
{
    if (failed)
        return Status::WriteFailed;
    if (!headersWritten || closed)
        return Status::Ok;
    if (Status st = IndexPendingEntries(); st != Status::Ok)
        return st;
    if (Status st = PatchHeaders(); st != Status::Ok)
        return st;
    uint8_t v[4];
    StoreLE32(v, uint32_t(end - moviPos - kChunkHeaderBytes));  // movi LIST size
    if (Status st = PatchAt(moviPos + 4, v, 4); st != Status::Ok)
        return st;
    StoreLE32(v, uint32_t(end - segmentPos - kChunkHeaderBytes));  // RIFF size
    if (Status st = PatchAt(segmentPos + 4, v, 4); st != Status::Ok)
        return st;
    for (Stream& s : streams)
        s.checkpointLength = s.length;
    if (!file->Flush())
        return Fail(Status::WriteFailed);
    return Status::Ok;
}

Status Muxer::EndSegment(bool last)
{
    if (Status st = IndexPendingEntries(); st != Status::Ok)
        return st;
    for (Stream& s : streams) {
        if (s.super.size() - s.segmentSuperFirst > 1) {
            if (Status st = MergeSegmentIndex(s); st != Status::Ok)
                return st;
        }
    }
    const uint64_t moviEnd = end;
    if (segment == 0) {
        std::vector<std::pair<const IndexEntry*, const Stream*>> all;
        for (const Stream& s : streams)
            for (const IndexEntry& e : s.entries)
                all.emplace_back(&e, &s);
        std::sort(all.begin(), all.end(),
                  [](const auto& a, const auto& b) { return a.first->dataPos < b.first->dataPos; });
        ByteBuffer b;
        const size_t idx1 = b.BeginChunk(kFccIdx1);
        for (const auto& [e, s] : all) {
            b.U32(s->chunkId);                                        // ckid
            b.U32(e->key ? kAviifKeyFrame : 0);                       // dwFlags
            b.U32(uint32_t(e->dataPos - kChunkHeaderBytes - moviPos - kChunkHeaderBytes));  // dwChunkOffset
            b.U32(e->size);                                           // dwChunkLength
        }
        b.EndChunk(idx1);
        if (Status st = Append(b.Data(), b.Size()); st != Status::Ok)
            return st;
        hasIdx1 = true;
    }
    if (Status st = PatchHeaders(); st != Status::Ok)
        return st;
    uint8_t v[4];
    if (segment == 0 && hasIdx1) {
        StoreLE32(v, kAvifIsInterleaved | kAvifTrustCkType | kAvifHasIndex);  // dwFlags
        if (Status st = PatchAt(avihPos + 12, v, 4); st != Status::Ok)
            return st;
    }
    StoreLE32(v, uint32_t(moviEnd - moviPos - kChunkHeaderBytes));  // movi LIST size
    if (Status st = PatchAt(moviPos + 4, v, 4); st != Status::Ok)
        return st;
    StoreLE32(v, uint32_t(end - segmentPos - kChunkHeaderBytes));  // RIFF size
    if (Status st = PatchAt(segmentPos + 4, v, 4); st != Status::Ok)
        return st;
    for (Stream& s : streams)
        s.checkpointLength = s.length;
    if (last)
        return file->Flush() ? Status::Ok : Fail(Status::WriteFailed);
    return StartSegment();
}

Status Muxer::StartSegment()
{
    ByteBuffer b;
    const size_t riff = b.BeginList(kFccRiff, kFccAvix);
    const size_t movi = b.BeginList(kFccList, kFccMovi);
    b.EndChunk(movi);
    b.EndChunk(riff);
    const uint64_t at = end;
    if (Status st = Append(b.Data(), b.Size()); st != Status::Ok)
        return st;
    ++segment;
    segmentPos = at;
    moviPos = at + kListHeaderBytes;
    for (Stream& s : streams) {
        s.entries.clear();
        s.indexed = 0;
        s.lastEntryRecordPos = 0;
        s.lastEntryDirty = false;
        s.segmentSuperFirst = s.super.size();
        s.segmentStartLength = s.length;
    }
    if (Status st = FlushPending(); st != Status::Ok)
        return st;
    return file->Flush() ? Status::Ok : Fail(Status::WriteFailed);
}

// After a failed write: forget the samples the system did not take, so the final indexes
// describe only what is on disk, and write them where the good data ends.
void Muxer::RollBackTo(uint64_t goodEnd)
{
    pending.clear();
    end = pendingStart = goodEnd;
    for (Stream& s : streams) {
        while (!s.entries.empty() && s.entries.back().dataPos + s.entries.back().size > goodEnd)
            s.entries.pop_back();
        // The segment's checkpoint indexes may lie past the good end: index it afresh.
        s.super.resize(s.segmentSuperFirst);
        s.indexed = 0;
        s.lastEntryRecordPos = 0;
        s.lastEntryDirty = false;
        s.length = s.entries.empty() ? s.segmentStartLength : s.entries.back().endLength;
        if (segment == 0)
            s.firstSegmentLength = s.length;
    }
}

Status Muxer::Close()
{
    if (closed)
        return Status::Ok;
    closed = true;
    if (!file)
        return Status::BadState;
    Status result = Status::Ok;
    if (!headersWritten && !streams.empty())
        result = WriteHeaders();
    if (headersWritten && result == Status::Ok && !failed)
        result = EndSegment(true);
    if (failed && confirmedEnd >= moviPos + kListHeaderBytes) {
        // One attempt to end the file cleanly after the last good sample; if that fails too,
        // the last checkpoint on disk still stands.
        RollBackTo(confirmedEnd);
        failed = false;
        EndSegment(true);
        result = Status::WriteFailed;
    } else if (failed) {
        result = Status::WriteFailed;
    }
    if (!file->Close() && result == Status::Ok)
        result = Status::WriteFailed;
    return result;
}

}  // namespace avi
