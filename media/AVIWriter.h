#pragma once
// The AVI movie file and the two streams a recording writes into it.

#include "engine/CaptureInfo.h"
#include "engine/VorState.h"

#include <cstdint>
#include <string>

class AVIWriter {
public:
    AVIWriter();
    virtual ~AVIWriter();
    AVIWriter(const AVIWriter&) = delete;
    AVIWriter& operator=(const AVIWriter&) = delete;

    virtual int32_t CheckConfig();
    virtual bool SetFileName(const char* path);
    virtual bool Open();
    virtual bool Close();

protected:
    int32_t state = 0;
    std::string fileName;
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
    int32_t nextSample = 0;
};
