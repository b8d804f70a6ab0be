#pragma once
// The AVI movie file and the two streams a recording writes into it.

#include "common/CaptureInfo.h"
#include "common/VorState.h"
#include "common/VRecords.h"
#include "media/avi/FileService.h"

#include <cstdint>
#include <memory>
#include <string>

// The writer's own state: the movie file is open.
inline constexpr VorState FileOpen{0, VorState::kPrivateBase};

class AVIWriter {
public:
    AVIWriter();
    virtual ~AVIWriter();
    AVIWriter(const AVIWriter&) = delete;
    AVIWriter& operator=(const AVIWriter&) = delete;

    virtual int32_t CheckConfig();
    virtual bool SetFileName(const char* path);
    // Creates the movie file. A file of that name already there is moved aside first, so that
    // a start that fails can put it back; when it cannot be moved it is overwritten in place.
    virtual bool Open();
    // The file's headers on disk now, once every stream has its format: a disk too full to
    // take even them fails the start rather than its first frame.
    virtual bool WriteHeaders();
    virtual bool Close();
    // Settles the start that opened the file. Started: the file moved aside is deleted. Not
    // started: the file is closed, the file this writer created is removed and the one moved
    // aside is put back, so a failed start leaves the directory as it found it.
    virtual void SettleStart(bool started);

    // Stream pass-throughs: true when the file service answers 0. Streams belong to the
    // open file; releasing one after Close is harmless.
    virtual bool CreateStream(avi::Stream*& stream, const VAVIStreamInfo& header);
    virtual bool ReleaseStream(avi::Stream* stream);
    virtual bool MakeCompressedStream(avi::Stream*& stream, avi::Stream* source, const VAVICompressOptions& options);
    virtual bool WriteStream(avi::Stream* stream, int32_t start, int32_t samples, const void* data, int32_t bytes,
                             uint32_t flags, int32_t* samplesWritten, int32_t* bytesWritten);  // capture thread
    virtual bool SetStreamFormat(avi::Stream* stream, int32_t position, const void* format, int32_t bytes);

protected:
    int32_t state = 0;
    std::string fileName;
    std::unique_ptr<avi::MovieFile> file;

private:
    void PutBackReplaced(const std::string& path);

    std::string createdPath;  // the file the last Open created, until its start is settled
    std::string asidePath;    // where the file it replaced waits, until the start is settled
};

class VideoRecorder {
public:
    VideoRecorder(AVIWriter& writer, CaptureInfo& info);
    virtual ~VideoRecorder();
    VideoRecorder(const VideoRecorder&) = delete;
    VideoRecorder& operator=(const VideoRecorder&) = delete;

    virtual int32_t CheckConfig();
    virtual bool InitCapturing(uint32_t compressor);
    virtual bool WriteFrame(const void* bits, uint32_t size, int32_t frameIndex);  // capture thread
    virtual bool EndCapturing();

protected:
    CaptureInfo& info;   // not owned
    AVIWriter& writer;   // not owned
    avi::Stream* rawStream = nullptr;         // owned by the writer's file
    avi::Stream* compressedStream = nullptr;  // owned by the writer's file
    VAVIStreamInfo streamInfo;
    VAVICompressOptions compressOptions;
    int32_t nextFrame = 0;
};

class AudioRecorder {
public:
    AudioRecorder(AVIWriter& writer, CaptureInfo& info);
    virtual ~AudioRecorder();
    AudioRecorder(const AudioRecorder&) = delete;
    AudioRecorder& operator=(const AudioRecorder&) = delete;

    virtual int32_t CheckConfig();
    virtual bool InitCapturing();
    virtual bool WriteSound(const void* data, uint32_t bytes, uint32_t samples, int32_t position);  // capture thread
    virtual bool EndCapturing();

protected:
    AVIWriter& writer;   // not owned
    CaptureInfo& info;   // not owned
    avi::Stream* stream = nullptr;  // owned by the writer's file
    VAVIStreamInfo streamInfo;
    int32_t nextSample = 0;
};
