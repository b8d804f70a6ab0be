#include "media/SoundGrabber.h"

SoundGrabber::SoundGrabber(CaptureInfo& info) : info(info) {}
SoundGrabber::~SoundGrabber() = default;

int32_t SoundGrabber::CheckConfig()
{
    return 0;
}

void SoundGrabber::InitCapturing() {}
void SoundGrabber::AddBuffer(WAVEHDR*) {}
void SoundGrabber::UnprepareBuffer(WAVEHDR*) {}
void SoundGrabber::Start() {}
void SoundGrabber::Stop() {}
void SoundGrabber::EndCapturing() {}
