#pragma once
// RIFF AVI writer with OpenDML extensions: any number of 1 GiB RIFF segments, standard and
// super indexes, and regular checkpoints that leave the file readable if the writer dies.

#include "common/VRecords.h"
#include "media/avi/AviFormat.h"
#include "media/avi/OutputFile.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace avi {

enum class Status : int {
    Ok = 0,
    BadArgument = 1,  // a value the format cannot carry, or a position behind the stream
    BadState = 2,     // streams added after the first sample, or a closed writer
    WriteFailed = 3,  // the system refused a write or seek (FirstError() says why); see Close
    IndexFull = 4,    // the super index has no room for another segment
};
const char* StatusText(Status status);

// Not thread-safe: one thread adds streams, writes and closes.
class Muxer {
public:
    // A RIFF segment is closed once it would pass `segmentLimit` bytes (at most the standard
    // 1 GiB; less gives many segments from a small movie).
    explicit Muxer(std::unique_ptr<OutputFile> file, uint64_t segmentLimit = kRiffSegmentLimit);
    ~Muxer();
    Muxer(const Muxer&) = delete;
    Muxer& operator=(const Muxer&) = delete;

    // Returns the stream number, or -1 once samples have been written or the header is unusable.
    int AddStream(const VAVIStreamInfo& header);
    // The stream header's compressor code, before the first sample.
    Status SetHandler(int stream, uint32_t fccHandler);
    // The stream's strf record, before the first sample.
    Status SetFormat(int stream, const void* format, size_t bytes);
    // Writes the headers now instead of with the first sample, so that a file that cannot take
    // even them fails before a recording starts. Streams cannot be added or changed afterwards.
    Status Begin();
    // Video (sample size 0): one sample at `position`; a position past the end leaves empty
    // samples in between, the last position written is replaced. Audio: `bytes` of samples
    // appended at `position`, a gap filled with silence.
    Status Write(int stream, int64_t position, const void* data, uint32_t bytes, bool keyFrame);
    // Writes the final indexes and headers. After a failed write it still finishes the file: with
    // every sample that reached the disk whole, or, when the disk has no room for their index,
    // all but the last few; if nothing can be written any more, the file is cut back to the last
    // checkpoint. Returns the first failure's status then. Safe to call twice.
    Status Close();
    // Brings the file on disk to a self-consistent state now.
    Status Checkpoint();

    int64_t StreamLength(int stream) const;
    uint64_t FileBytes() const { return end; }
    int StreamCount() const { return int(streams.size()); }
    // Why the first failed write failed; kind None while none has.
    RecordingFailure FirstError() const { return firstError; }

private:
    struct IndexEntry {
        uint64_t dataPos;   // first byte after the chunk header
        uint32_t size;
        bool key;
        int64_t endLength;  // stream length once this entry is counted
    };
    struct SuperEntry {
        uint64_t pos;
        uint32_t size;
        uint32_t duration;
        size_t entriesEnd;  // entries of its segment indexed once this index is counted
    };
    // Where a stream's last sample lies when that is in a finished segment: written again, it
    // leaves that segment (its index, idx1 and the movi list) for the current one.
    struct PastSample {
        uint64_t chunkPos = 0;
        uint64_t indexCountPos = 0;  // nEntriesInUse of the standard index that names it
        uint32_t indexCount = 0;     // that count with the sample
        size_t superSlot = 0;
        uint64_t idx1RecordPos = 0;  // 0 when the segment has no idx1
        bool inFirstSegment = false;
    };
    struct Stream {
        VAVIStreamInfo header;
        std::vector<uint8_t> format;
        bool video = true;
        uint32_t chunkId = 0;
        uint8_t silence = 0;
        int64_t length = 0;
        int64_t checkpointLength = 0;
        uint32_t maxChunk = 0;
        uint64_t strhPos = 0;
        uint64_t indxPos = 0;
        std::vector<IndexEntry> entries;  // of the current segment
        size_t indexed = 0;               // entries already in a standard index on disk
        uint64_t lastEntryRecordPos = 0;  // on-disk index record of the last entry, 0 if none
        bool lastEntryDirty = false;      // that record must be rewritten (sample replaced)
        std::vector<SuperEntry> super;
        size_t segmentSuperFirst = 0;
        int64_t firstSegmentLength = 0;
        int64_t segmentStartLength = 0;
        uint64_t lastIdx1RecordPos = 0;   // idx1 record of the last entry, while the segment ends
        bool hasPast = false;             // the last sample is `past`
        PastSample past;
        bool moveDirty = false;           // `moved` is not yet on disk
        PastSample moved;
    };

    Status WriteHeaders();
    Status WriteChunk(Stream& s, const void* data, uint32_t bytes, bool key, int64_t endLength);
    Status WriteGap(Stream& s, int64_t samples);
    Status WriteStandardIndex(Stream& s, size_t first, size_t last, SuperEntry& out);
    Status IndexPendingEntries(bool compact);
    Status MergeSegmentIndex(Stream& s);
    Status PatchHeaders();
    Status PatchSegmentSizes(uint64_t moviEnd);
    Status WriteMove(Stream& s);
    Status EndSegment(bool last, bool compact = false);
    Status StartSegment();
    Status Append(const void* data, size_t bytes);
    Status FlushPending();
    Status PatchAt(uint64_t offset, const void* data, size_t bytes);
    void Took(uint64_t offset, size_t bytes);
    Status Fail(Status status);
    Status FailWrite();
    void MarkConsistent();
    void Recover();
    void RollBackTo(uint64_t limit);
    uint64_t CompactIndexBytes() const;
    uint32_t Duration(const Stream& s, size_t first, size_t last) const;

    std::unique_ptr<OutputFile> file;
    uint64_t segmentLimit;
    std::vector<Stream> streams;
    bool headersWritten = false;
    bool closed = false;
    bool failed = false;
    Status failure = Status::Ok;  // the first failure
    RecordingFailure firstError;

    std::vector<uint8_t> pending;  // bytes at the end of the file not yet handed to the system
    uint64_t pendingStart = 0;
    uint64_t end = 0;              // logical end of the file
    uint64_t confirmedEnd = 0;     // bytes the system has taken, from the start
    uint64_t fileEnd = 0;          // the file's size on disk
    uint64_t checkpointEnd = 0;    // where the file ended at the last consistent state on disk
    bool diskAtCheckpoint = false; // nothing on disk has changed below checkpointEnd since

    uint64_t avihPos = 0;
    uint64_t dmlhPos = 0;
    uint64_t segmentPos = 0;  // RIFF header of the current segment
    uint64_t moviPos = 0;     // LIST header of the current movi
    int segment = 0;
    bool hasIdx1 = false;
};

}  // namespace avi
