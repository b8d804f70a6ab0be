#include "media/AVIWriter.h"

AVIWriter::AVIWriter() = default;
AVIWriter::~AVIWriter() = default;

int32_t AVIWriter::CheckConfig()
{
    return 0;
}

bool AVIWriter::SetFileName(const char* path)
{
    fileName = path ? path : "";
    return true;
}

bool AVIWriter::Open()
{
    return false;
}

bool AVIWriter::Close()
{
    return true;
}

VideoRecorder::VideoRecorder(AVIWriter& writer, CaptureInfo& info) : info(info), writer(writer) {}
VideoRecorder::~VideoRecorder() = default;

int32_t VideoRecorder::CheckConfig()
{
    return 0;
}

bool VideoRecorder::InitCapturing(uint32_t)
{
    nextFrame = 0;
    return true;
}

bool VideoRecorder::WriteFrame(const void*, uint32_t, int32_t)
{
    return false;
}

bool VideoRecorder::EndCapturing()
{
    nextFrame = 0;
    return true;
}

AudioRecorder::AudioRecorder(AVIWriter& writer, CaptureInfo& info) : writer(writer), info(info) {}
AudioRecorder::~AudioRecorder() = default;

int32_t AudioRecorder::CheckConfig()
{
    return 0;
}

bool AudioRecorder::InitCapturing()
{
    nextSample = 0;
    return true;
}

bool AudioRecorder::WriteSound(const void*, uint32_t, uint32_t, int32_t)
{
    return true;
}

bool AudioRecorder::EndCapturing()
{
    nextSample = 0;
    return true;
}
