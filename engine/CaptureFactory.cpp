#include "engine/CaptureFactory.h"

#include "common/CaptureInfo.h"
#include "media/AVIWriter.h"
#include "media/MovieWriter.h"
#include "media/ScreenGrabber.h"
#include "media/SoundGrabber.h"

std::unique_ptr<AudioRecorder> CaptureFactory::CreateAudioRecorder(AVIWriter& writer, CaptureInfo& info)
{
    return std::make_unique<AudioRecorder>(writer, info);
}

std::unique_ptr<AVIWriter> CaptureFactory::CreateAVIWriter()
{
    return std::make_unique<MovieWriter>();
}

std::unique_ptr<ScreenGrabber> CaptureFactory::CreateScreenGrabber(CaptureInfo& info)
{
    return std::make_unique<ScreenGrabber>(info);
}

std::unique_ptr<SoundGrabber> CaptureFactory::CreateSoundGrabber(CaptureInfo& info)
{
    return std::make_unique<SoundGrabber>(info);
}

std::unique_ptr<VideoRecorder> CaptureFactory::CreateVideoRecorder(AVIWriter& writer, CaptureInfo& info)
{
    return std::make_unique<MovieVideoRecorder>(writer, info);
}

std::unique_ptr<CaptureInfo> CaptureFactory::CreateCaptureInfo()
{
    return std::make_unique<CaptureInfo>();
}
