#pragma once
// The AVI file service the recorders use: a movie file, its streams, compressing streams
// on top of them. Calls answer 0 for success, like the platform service they replace.

#include "common/VRecords.h"
#include "media/avi/Muxer.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace avi {

// Results besides 0 (the muxer's Status values come through as they are).
inline constexpr int kErrorReleased = 10;     // the stream was released
inline constexpr int kErrorNoFormat = 11;     // a compressing stream written before its format
inline constexpr int kErrorShortFrame = 12;   // fewer bytes than one input frame
inline constexpr int kErrorEncoder = 13;      // the compressor failed (zlib out of memory)

class MovieFile;

// A stream handle; owned by its MovieFile and valid until the file is closed.
class Stream {
public:
    virtual ~Stream() = default;
    virtual int SetFormat(int32_t position, const void* format, int32_t bytes) = 0;
    virtual int Write(int32_t start, int32_t samples, const void* data, int32_t bytes, uint32_t flags,
                      int32_t* samplesWritten, int32_t* bytesWritten) = 0;
    bool Released() const { return released; }

protected:
    friend class MovieFile;
    bool released = false;
};

// One thread at a time; the recorders call it from the thread that owns the recording.
class MovieFile {
public:
    // Creates (or truncates) the file; null when it cannot be created.
    static std::unique_ptr<MovieFile> Create(const std::string& path);
    explicit MovieFile(std::unique_ptr<OutputFile> file);
    ~MovieFile();
    MovieFile(const MovieFile&) = delete;
    MovieFile& operator=(const MovieFile&) = delete;

    int CreateStream(Stream*& stream, const VAVIStreamInfo& header);
    // A stream that compresses with options.fccHandler ("MSVC", "mrle", "ZMBV"; anything else
    // is written uncompressed) into `source`. A "ZMBV" stream of 8-bit frames takes a new colour
    // table through SetFormat at the position of the next frame.
    int MakeCompressedStream(Stream*& stream, Stream* source, const VAVICompressOptions& options);
    int ReleaseStream(Stream* stream);
    // The headers on disk now, once every stream has its format (Muxer::Begin).
    int Begin();
    int Close();
    // Why the first failed write failed (kind None while none has): a full disk, or another
    // error with the system's code for its message.
    RecordingFailure FirstError() const { return muxer.FirstError(); }

    Muxer& Writer() { return muxer; }

private:
    bool Owns(const Stream* stream) const;

    Muxer muxer;
    std::vector<std::unique_ptr<Stream>> streams;
};

}  // namespace avi
