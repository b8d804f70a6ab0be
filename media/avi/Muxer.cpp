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

Muxer::Muxer(std::unique_ptr<OutputFile> f, uint64_t limit)
    : file(std::move(f)), segmentLimit(std::min(limit, kRiffSegmentLimit))
{
}

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
    if (!failed && failure == Status::Ok)
        failure = status;
    failed = true;
    return status;
}

// A write, seek or flush the file refused: keeps the file's reason for the first one.
Status Muxer::FailWrite()
{
    if (firstError.kind == FailureKind::None) {
        firstError = file->LastError();
        if (firstError.kind == FailureKind::None)
            firstError.kind = FailureKind::WriteFailed;
    }
    return Fail(Status::WriteFailed);
}

// The system took `bytes` at `offset`.
void Muxer::Took(uint64_t offset, size_t bytes)
{
    fileEnd = std::max(fileEnd, offset + bytes);
    if (bytes && offset < checkpointEnd)
        diskAtCheckpoint = false;
}

// The file on disk is whole and its headers say so: a killed writer leaves it like this.
void Muxer::MarkConsistent()
{
    checkpointEnd = end;
    diskAtCheckpoint = true;
}

Status Muxer::Append(const void* data, size_t bytes)
{
    if (pending.size() + bytes > kPendingCapacity) {
        if (Status st = FlushPending(); st != Status::Ok)
            return st;
    }
    if (bytes >= kPendingCapacity) {
        if (!file->Seek(end))
            return FailWrite();
        const size_t done = file->Write(data, bytes);
        Took(end, done);
        if (done != bytes) {
            confirmedEnd = end + done;
            return FailWrite();
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
        return FailWrite();
    const size_t done = file->Write(pending.data(), pending.size());
    Took(pendingStart, done);
    if (done != pending.size()) {
        confirmedEnd = pendingStart + done;
        return FailWrite();
    }
    pendingStart += pending.size();
    confirmedEnd = pendingStart;
    pending.clear();
    return Status::Ok;
}

Status Muxer::PatchAt(uint64_t offset, const void* data, size_t bytes)
{
    diskAtCheckpoint = false;
    if (!file->Seek(offset))
        return FailWrite();
    const size_t done = file->Write(data, bytes);
    Took(offset, done);
    return done == bytes ? Status::Ok : FailWrite();
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
    if (Status st = FlushPending(); st != Status::Ok)
        return st;
    MarkConsistent();
    return Status::Ok;
}

Status Muxer::WriteChunk(Stream& s, const void* data, uint32_t bytes, bool key, int64_t endLength)
{
    // A new sample first closes a full segment; a replacement stays beside the sample it
    // replaces, unless that lies in a finished segment.
    const bool again = s.video && endLength == s.length && s.length > 0;
    const bool replaces = again && !s.entries.empty();
    const bool replacesPast = again && s.entries.empty() && s.hasPast;
    if (!replaces) {
        const uint64_t needed = kChunkHeaderBytes + Pad(bytes);
        if (end - segmentPos + needed > segmentLimit && end - moviPos > kListHeaderBytes) {
            if (Status st = EndSegment(false); st != Status::Ok)
                return st;
        }
    }
    uint8_t header[kChunkHeaderBytes];
    StoreLE32(header, s.chunkId);  // ckID
    StoreLE32(header + 4, bytes);  // ckSize
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
    } else if (replacesPast) {
        // The old sample leaves its segment, the new one counts in this one; the next
        // checkpoint writes both.
        s.super[s.past.superSlot].duration -= 1;
        if (s.past.inFirstSegment)
            s.firstSegmentLength -= 1;
        s.segmentStartLength -= 1;
        s.moved = s.past;
        s.moveDirty = true;
        s.hasPast = false;
        s.entries.push_back(entry);
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
        if (t.moveDirty || uint64_t(t.length - t.checkpointLength) * t.header.dwScale >= t.header.dwRate)
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
    out = SuperEntry{end, uint32_t(b.Size()), Duration(s, first, last), last};
    if (last > first)
        s.lastEntryRecordPos = end + kChunkHeaderBytes + kStdIndexHeaderBytes + (last - 1 - first) * kStdIndexEntryBytes;
    return Append(b.Data(), b.Size());
}

// `compact`: no merging, so that what is written is only the entries not yet indexed.
Status Muxer::IndexPendingEntries(bool compact)
{
    for (Stream& s : streams) {
        if (s.indexed == s.entries.size())
            continue;
        if (!compact && s.super.size() - s.segmentSuperFirst >= kCheckpointIndexesPerSegment) {
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

// Takes a sample written again out of the finished segment that held it: out of its standard
// index (the last entry, so the count drops), out of idx1, and out of the movi list (renamed JUNK).
Status Muxer::WriteMove(Stream& s)
{
    const PastSample& m = s.moved;
    uint8_t v[4];
    StoreLE32(v, m.indexCount - 1);  // nEntriesInUse
    if (Status st = PatchAt(m.indexCountPos, v, 4); st != Status::Ok)
        return st;
    StoreLE32(v, kFccJunk);
    if (m.idx1RecordPos) {
        if (Status st = PatchAt(m.idx1RecordPos, v, 4); st != Status::Ok)  // ckid
            return st;
    }
    if (Status st = PatchAt(m.chunkPos, v, 4); st != Status::Ok)
        return st;
    s.moveDirty = false;
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
        if (s.moveDirty) {
            if (Status st = WriteMove(s); st != Status::Ok)
                return st;
        }
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
    if (Status st = IndexPendingEntries(false); st != Status::Ok)
        return st;
    if (Status st = PatchHeaders(); st != Status::Ok)
        return st;
    if (Status st = PatchSegmentSizes(end); st != Status::Ok)
        return st;
    for (Stream& s : streams)
        s.checkpointLength = s.length;
    if (!file->Flush())
        return FailWrite();
    MarkConsistent();
    return Status::Ok;
}

// The current segment's RIFF size (to the end of the file) and its movi LIST size (to moviEnd).
Status Muxer::PatchSegmentSizes(uint64_t moviEnd)
{
    uint8_t v[4];
    StoreLE32(v, uint32_t(moviEnd - moviPos - kChunkHeaderBytes));  // movi LIST size
    if (Status st = PatchAt(moviPos + 4, v, 4); st != Status::Ok)
        return st;
    StoreLE32(v, uint32_t(end - segmentPos - kChunkHeaderBytes));  // RIFF size
    return PatchAt(segmentPos + 4, v, 4);
}

// `compact` (finishing after a failure, short of room): only the entries not yet indexed get an
// index, and the first segment no idx1.
Status Muxer::EndSegment(bool last, bool compact)
{
    if (Status st = IndexPendingEntries(compact); st != Status::Ok)
        return st;
    for (Stream& s : streams) {
        if (!compact && s.super.size() - s.segmentSuperFirst > 1) {
            if (Status st = MergeSegmentIndex(s); st != Status::Ok)
                return st;
        }
    }
    const uint64_t moviEnd = end;
    hasIdx1 = false;
    if (segment == 0 && !compact) {
        std::vector<std::pair<const IndexEntry*, const Stream*>> all;
        for (const Stream& s : streams)
            for (const IndexEntry& e : s.entries)
                all.emplace_back(&e, &s);
        std::sort(all.begin(), all.end(),
                  [](const auto& a, const auto& b) { return a.first->dataPos < b.first->dataPos; });
        ByteBuffer b;
        const size_t idx1 = b.BeginChunk(kFccIdx1);
        for (Stream& s : streams)
            s.lastIdx1RecordPos = 0;
        for (const auto& [e, s] : all) {
            if (e == &s->entries.back())
                streams[size_t(s - streams.data())].lastIdx1RecordPos = end + b.Size();
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
    if (segment == 0) {
        uint8_t v[4];
        StoreLE32(v, kAvifIsInterleaved | kAvifTrustCkType | (hasIdx1 ? kAvifHasIndex : 0));  // dwFlags
        if (Status st = PatchAt(avihPos + 12, v, 4); st != Status::Ok)
            return st;
    }
    if (Status st = PatchSegmentSizes(moviEnd); st != Status::Ok)
        return st;
    for (Stream& s : streams)
        s.checkpointLength = s.length;
    if (!file->Flush())
        return FailWrite();
    if (!last) {
        MarkConsistent();
        return StartSegment();
    }
    // After a failure the file may hold bytes past its new end.
    if (fileEnd > end) {
        if (!file->Truncate(end))
            return FailWrite();
        fileEnd = end;
    }
    return Status::Ok;
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
    const bool endedFirst = segment == 0;
    ++segment;
    segmentPos = at;
    moviPos = at + kListHeaderBytes;
    for (Stream& s : streams) {
        // The segment that ended has one standard index per stream, over all its entries.
        if (!s.entries.empty() && s.super.size() > s.segmentSuperFirst) {
            s.past = PastSample{s.entries.back().dataPos - kChunkHeaderBytes,
                                s.super.back().pos + kChunkHeaderBytes + 4,
                                uint32_t(s.entries.size()),
                                s.super.size() - 1,
                                endedFirst ? s.lastIdx1RecordPos : 0,
                                endedFirst};
            s.hasPast = true;
        }
        s.entries.clear();
        s.indexed = 0;
        s.lastEntryRecordPos = 0;
        s.lastEntryDirty = false;
        s.segmentSuperFirst = s.super.size();
        s.segmentStartLength = s.length;
    }
    if (Status st = FlushPending(); st != Status::Ok)
        return st;
    return file->Flush() ? Status::Ok : FailWrite();
}

// Forgets what does not lie whole on disk before `limit`: samples whose chunk ends past it, and
// standard indexes that do or that name a forgotten sample. The end moves back to the end of
// the last whole chunk, where the final indexes go.
void Muxer::RollBackTo(uint64_t limit)
{
    pending.clear();
    uint64_t goodEnd = moviPos + kListHeaderBytes;
    for (Stream& s : streams) {
        while (!s.entries.empty() && s.entries.back().dataPos + Pad(s.entries.back().size) > limit)
            s.entries.pop_back();
        if (!s.entries.empty())
            goodEnd = std::max(goodEnd, s.entries.back().dataPos + Pad(s.entries.back().size));
        while (s.super.size() > s.segmentSuperFirst &&
               (s.super.back().pos + s.super.back().size > limit || s.super.back().entriesEnd > s.entries.size()))
            s.super.pop_back();
        const bool kept = s.super.size() > s.segmentSuperFirst;
        s.indexed = kept ? s.super.back().entriesEnd : 0;
        s.lastEntryRecordPos = 0;
        s.lastEntryDirty = false;
        if (kept) {
            const SuperEntry& last = s.super.back();
            goodEnd = std::max(goodEnd, last.pos + last.size);
            const size_t first = s.super.size() - 1 > s.segmentSuperFirst ? s.super[s.super.size() - 2].entriesEnd : 0;
            // Written again at the end: the last indexed sample may have been replaced since.
            if (s.indexed > first) {
                s.lastEntryRecordPos = last.pos + kChunkHeaderBytes + kStdIndexHeaderBytes +
                                       (s.indexed - 1 - first) * kStdIndexEntryBytes;
                s.lastEntryDirty = s.indexed == s.entries.size();
            }
        }
        s.length = s.entries.empty() ? s.segmentStartLength : s.entries.back().endLength;
        if (segment == 0)
            s.firstSegmentLength = s.length;
    }
    end = pendingStart = confirmedEnd = goodEnd;
}

// Bytes the compact final indexes take.
uint64_t Muxer::CompactIndexBytes() const
{
    uint64_t bytes = 0;
    for (const Stream& s : streams)
        if (s.entries.size() > s.indexed)
            bytes += kChunkHeaderBytes + kStdIndexHeaderBytes + (s.entries.size() - s.indexed) * kStdIndexEntryBytes;
    return bytes;
}

// Finishes the file after a failed write, in the best way still open.
void Muxer::Recover()
{
    // The headers of the first segment never reached the disk: they are written again.
    if (segment == 0 && confirmedEnd < moviPos + kListHeaderBytes) {
        pending.clear();
        end = pendingStart = confirmedEnd = 0;
        failed = false;
        if (WriteHeaders() != Status::Ok)
            return;
    }
    if (confirmedEnd >= moviPos + kListHeaderBytes) {
        // Samples batched in memory when the failure came may still go through.
        failed = false;
        FlushPending();
        RollBackTo(confirmedEnd);
        failed = false;
        if (EndSegment(true) == Status::Ok)
            return;
        // Short of room: give up the last samples until a compact index fits in the bytes the
        // file already has (writing over them takes no new room on the disk).
        for (uint64_t limit = confirmedEnd;; limit = end - 1) {
            RollBackTo(limit);
            if (end + CompactIndexBytes() <= fileEnd || end <= moviPos + kListHeaderBytes || end > limit)
                break;
        }
        failed = false;
        if (EndSegment(true, true) == Status::Ok)
            return;
    }
    // Nothing more goes onto the disk: cut the file back to the last checkpoint.
    if (diskAtCheckpoint && file->Truncate(checkpointEnd))
        fileEnd = checkpointEnd;
}

Status Muxer::Close()
{
    if (closed)
        return Status::Ok;
    closed = true;
    if (!file)
        return Status::BadState;
    if (!headersWritten && !streams.empty())
        WriteHeaders();
    if (headersWritten && !failed)
        EndSegment(true);
    if (failed)
        Recover();
    Status result = failure;
    if (!file->Close() && result == Status::Ok)
        result = FailWrite();
    return result;
}

}  // namespace avi
