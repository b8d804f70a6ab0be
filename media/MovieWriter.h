#pragma once
// The movie file of a recording in the format its name asks for: an animated GIF for a name
// ending in ".gif", an AVI otherwise. For a GIF the video stream the recorder makes becomes
// the GIF's frames; a sound stream takes its buffers and keeps none (a GIF has no sound).

#include "media/AVIWriter.h"
#include "media/avi/GifWriter.h"

#include <memory>
#include <string>

bool IsGifMovieName(const std::string& path);

class MovieWriter : public AVIWriter {
public:
    MovieWriter();
    ~MovieWriter() override;

    bool Open() override;
    bool WriteHeaders() override;
    bool Close() override;
    void SettleStart(bool started) override;
    bool CreateStream(avi::Stream*& stream, const VAVIStreamInfo& header) override;
    bool ReleaseStream(avi::Stream* stream) override;
    bool MakeCompressedStream(avi::Stream*& stream, avi::Stream* source, const VAVICompressOptions& options) override;
    bool WriteStream(avi::Stream* stream, int32_t start, int32_t samples, const void* data, int32_t bytes,
                     uint32_t flags, int32_t* samplesWritten, int32_t* bytesWritten) override;  // capture thread
    bool SetStreamFormat(avi::Stream* stream, int32_t position, const void* format, int32_t bytes) override;
    uint64_t FileBytes() const override;

protected:
    // Creates (or truncates) the GIF file; null when it cannot. Tests put a file with faults
    // in its place.
    virtual std::unique_ptr<avi::OutputFile> CreateGifFile(const std::string& path);

private:
    class GifStream;

    void NoteGifFailure();

    bool gifMode = false;  // the open file is a GIF
    std::unique_ptr<avi::OutputFile> gifFile;
    std::unique_ptr<avi::GifWriter> gif;
    std::unique_ptr<GifStream> video;
    std::unique_ptr<GifStream> sound;
    std::string gifCreated;  // the GIF the last Open created, until its start is settled
    std::string gifAside;    // where the file it replaced waits, until the start is settled
};

// The video recorder that refuses, before the start, an area a GIF cannot describe.
class MovieVideoRecorder : public VideoRecorder {
public:
    using VideoRecorder::VideoRecorder;
    int32_t CheckConfig() override;
};
