#pragma once
// Names and values of the RIFF AVI and OpenDML formats, in one place.

#include "common/VRecords.h"

#include <cstdint>

namespace avi {

// Chunk and list identifiers.
inline constexpr uint32_t kFccRiff = MakeFourCC("RIFF");
inline constexpr uint32_t kFccList = MakeFourCC("LIST");
inline constexpr uint32_t kFccAvi = MakeFourCC("AVI ");
inline constexpr uint32_t kFccAvix = MakeFourCC("AVIX");
inline constexpr uint32_t kFccHdrl = MakeFourCC("hdrl");
inline constexpr uint32_t kFccAvih = MakeFourCC("avih");
inline constexpr uint32_t kFccStrl = MakeFourCC("strl");
inline constexpr uint32_t kFccStrh = MakeFourCC("strh");
inline constexpr uint32_t kFccStrf = MakeFourCC("strf");
inline constexpr uint32_t kFccStrn = MakeFourCC("strn");
inline constexpr uint32_t kFccIndx = MakeFourCC("indx");
inline constexpr uint32_t kFccOdml = MakeFourCC("odml");
inline constexpr uint32_t kFccDmlh = MakeFourCC("dmlh");
inline constexpr uint32_t kFccMovi = MakeFourCC("movi");
inline constexpr uint32_t kFccIdx1 = MakeFourCC("idx1");
inline constexpr uint32_t kFccJunk = MakeFourCC("JUNK");
inline constexpr uint32_t kFccVids = MakeFourCC("vids");
inline constexpr uint32_t kFccAuds = MakeFourCC("auds");

// Compressor codes and bitmap compressions.
inline constexpr uint32_t kFccMsvc = MakeFourCC("MSVC");
inline constexpr uint32_t kFccCram = MakeFourCC("CRAM");
inline constexpr uint32_t kFccMrle = MakeFourCC("mrle");
inline constexpr uint32_t kFccZmbv = MakeFourCC("ZMBV");  // also the bitmap compression
inline constexpr uint32_t kFccDib = MakeFourCC("DIB ");
inline constexpr uint32_t kBiRgb = 0;   // BI_RGB
inline constexpr uint32_t kBiRle8 = 1;  // BI_RLE8

// avih dwFlags.
inline constexpr uint32_t kAvifHasIndex = 0x10;       // AVIF_HASINDEX
inline constexpr uint32_t kAvifIsInterleaved = 0x100;  // AVIF_ISINTERLEAVED
inline constexpr uint32_t kAvifTrustCkType = 0x800;   // AVIF_TRUSTCKTYPE

// idx1 dwFlags and sample flags.
inline constexpr uint32_t kAviifKeyFrame = 0x10;  // AVIIF_KEYFRAME

// OpenDML index chunks.
inline constexpr uint8_t kAviIndexOfIndexes = 0x00;  // AVI_INDEX_OF_INDEXES
inline constexpr uint8_t kAviIndexOfChunks = 0x01;   // AVI_INDEX_OF_CHUNKS
inline constexpr uint32_t kStdIndexDeltaFrame = 0x80000000u;  // size bit: not a key frame

// Record sizes in the file.
inline constexpr uint32_t kAvihBytes = 56;
inline constexpr uint32_t kStrhBytes = 56;
inline constexpr uint32_t kDmlhBytes = 248;
inline constexpr uint32_t kSuperIndexHeaderBytes = 24;  // after the chunk header
inline constexpr uint32_t kSuperIndexEntryBytes = 16;
inline constexpr uint32_t kStdIndexHeaderBytes = 24;  // after the chunk header
inline constexpr uint32_t kStdIndexEntryBytes = 8;
inline constexpr uint32_t kIdx1EntryBytes = 16;
inline constexpr uint32_t kChunkHeaderBytes = 8;
inline constexpr uint32_t kListHeaderBytes = 12;

// Writer limits. A RIFF segment is closed once it passes 1 GiB, the size every reader
// accepts; each super index holds this many standard indexes (segments plus checkpoints).
inline constexpr uint64_t kRiffSegmentLimit = uint64_t(1) << 30;
inline constexpr uint32_t kSuperIndexCapacity = 1024;
// Checkpoint indexes of one segment before they are merged into one.
inline constexpr uint32_t kCheckpointIndexesPerSegment = 96;
// Largest run of empty slots a single write may ask for (about a week at 25 frames/s).
inline constexpr int64_t kMaxGapSamples = int64_t(1) << 24;
// Largest frame side the encoders accept.
inline constexpr int32_t kMaxFrameSide = 16384;

// Stream chunk ids: "00dc" video, "01wb" audio; index chunk ids "ix00", "ix01".
constexpr uint32_t StreamChunkId(int stream, bool video)
{
    const uint32_t tens = uint32_t('0' + (stream / 10) % 10);
    const uint32_t ones = uint32_t('0' + stream % 10);
    return tens | ones << 8 | (video ? MakeFourCC("\0\0dc") & 0xFFFF0000u : MakeFourCC("\0\0wb") & 0xFFFF0000u);
}
constexpr uint32_t IndexChunkId(int stream)
{
    return (MakeFourCC("ix\0\0") & 0xFFFFu) | uint32_t('0' + (stream / 10) % 10) << 16 |
           uint32_t('0' + stream % 10) << 24;
}
static_assert(StreamChunkId(0, true) == MakeFourCC("00dc"));
static_assert(StreamChunkId(1, false) == MakeFourCC("01wb"));
static_assert(IndexChunkId(1) == MakeFourCC("ix01"));

}  // namespace avi
