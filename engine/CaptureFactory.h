#pragma once
// Builds the parts of a capture engine. Every operation is virtual, so that another factory
// can hand the engine other parts (tests give it doubles).

#include <memory>

struct CaptureInfo;
class AudioRecorder;
class AVIWriter;
class ScreenGrabber;
class SoundGrabber;
class VideoRecorder;

class CaptureFactory {
public:
    virtual std::unique_ptr<AudioRecorder> CreateAudioRecorder(AVIWriter& writer, CaptureInfo& info);
    virtual std::unique_ptr<AVIWriter> CreateAVIWriter();
    virtual std::unique_ptr<ScreenGrabber> CreateScreenGrabber(CaptureInfo& info);
    virtual std::unique_ptr<SoundGrabber> CreateSoundGrabber(CaptureInfo& info);
    virtual std::unique_ptr<VideoRecorder> CreateVideoRecorder(AVIWriter& writer, CaptureInfo& info);
    virtual std::unique_ptr<CaptureInfo> CreateCaptureInfo();
    virtual ~CaptureFactory() = default;
};
