#include "media/ScreenGrabber.h"

ScreenGrabber::ScreenGrabber(CaptureInfo& info) : info(info) {}
ScreenGrabber::~ScreenGrabber() = default;

int32_t ScreenGrabber::CheckConfig()
{
    return 0;
}

void ScreenGrabber::InitCapturing() {}

bool ScreenGrabber::GrabFrame(void*, uint32_t size)
{
    return size >= uint32_t(info.frameBytes);
}

void ScreenGrabber::EndCapturing() {}

bool ScreenGrabber::SaveFrame(const char*)
{
    return false;
}
