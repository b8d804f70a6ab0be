#include "panel/CaptureSettings.h"

#include "diag/DebugTrace.h"
#include "engine/CaptureEngine.h"
#include "settings/Prefs.h"

#include <cstdio>

namespace {
constexpr uint32_t kCompressorVideo1 = MakeFourCC("MSVC");
constexpr uint32_t kCompressorRle8 = MakeFourCC("mrle");
constexpr uint32_t kCompressorZmbv = MakeFourCC("ZMBV");

// The directory's path joined with `name`; empty when the name is empty or the path too long.
std::string JoinPath(const Prefs& prefs, const char* name)
{
    if (!name[0])
        return {};
    char directory[kPrefsPathSize];
    prefs.GetMovieDirectory(directory, sizeof directory);
    char path[kPrefsPathSize];
    const int n = std::snprintf(path, sizeof path, "%s\\%s", directory, name);
    return n > 0 && static_cast<size_t>(n) < sizeof path ? std::string(path) : std::string();
}
}  // namespace

CaptureSettings ReadCaptureSettings(const Prefs& prefs, Take take)
{
    CaptureSettings s;
    s.area = prefs.GetCaptureArea();
    const int32_t mode = prefs.GetCaptureMode();
    s.mode = mode >= kFixedArea && mode <= kFollowWindows ? mode : kFixedArea;
    s.framesPerSecond = prefs.GetFramesPerSecond();
    s.keyFrameEvery = prefs.GetKeyFrame();
    s.panMargin = prefs.GetPanValue();
    s.attachCursor = prefs.GetRecordMouseShape();
    s.drawCursor = prefs.GetCursorMode() == 0;
    s.highlightClicks = prefs.GetHighlightClicks();
    s.cursorHalo = prefs.GetCursorHalo();
    s.showKeys = prefs.GetShowKeys();
    s.hotKeys = {prefs.GetStartKey(), prefs.GetStopKey(), prefs.GetPauseKey(), prefs.GetCaptureKey()};
    s.lossless = prefs.GetLossless();
    // A GIF has no sound: the device is not opened for one.
    s.recordSound = prefs.GetEnableSoundCapture() && prefs.GetMovieFormat() != MovieFormat::Gif;
    s.channels = static_cast<uint16_t>(prefs.GetChannels());
    s.samplesPerSec = static_cast<uint32_t>(prefs.GetFrequency());
    s.bitsPerSample = static_cast<uint16_t>(prefs.GetDataSize());
    char name[kPrefsPathSize];
    if (take == Take::Movie)
        prefs.GetNextMovieName(name, sizeof name);
    else
        prefs.GetNextSnapshotName(name, sizeof name);
    s.path = JoinPath(prefs, name);
    s.hidePanel = prefs.GetVorluxMode() != 0;
    return s;
}

uint16_t FrameBits(uint16_t screenBits, bool lossless)
{
    if (screenBits == 24 || screenBits == 32)
        return lossless ? 32 : 24;
    return screenBits;
}

uint32_t Compressor(uint16_t frameBits, bool lossless)
{
    switch (frameBits) {
    case 8:
        return lossless ? kCompressorZmbv : kCompressorRle8;
    case 16:
        return lossless ? kCompressorZmbv : kCompressorVideo1;
    case 24:  // also lossless when a 32-bit frame would exceed the frame size limit: ZMBV has no 24-bit form
        return kCompressorVideo1;
    case 32:
        return kCompressorZmbv;
    }
    DebugTrace("Couldn't set handle!!");
    return kCompressorVideo1;
}

bool ApplyCaptureArea(CaptureEngine& engine, const VRect& area)
{
    if (engine.SetCaptureRect(area))
        return true;
    const VRect fallback = Prefs::DefaultCaptureArea();
    DebugTrace("Capture area refused, recording %d,%d to %d,%d", fallback.left, fallback.top, fallback.right,
               fallback.bottom);
    engine.SetCaptureRect(fallback);
    return false;
}

bool ApplyCaptureSettings(CaptureEngine& engine, const CaptureSettings& s)
{
    const bool areaTaken = ApplyCaptureArea(engine, s.area);
    engine.SetKeyFrameEvery(s.keyFrameEvery);
    if (s.attachCursor >= 0)
        engine.SetAttachCursorThread(s.attachCursor);
    engine.SetCaptureMode(s.mode);
    engine.SetFramesPerSecond(s.framesPerSecond);
    engine.SetPanMargin(s.panMargin);
    const uint16_t screenBits = engine.GetBitDepth();
    if (FrameBits(screenBits, s.lossless) != screenBits)
        engine.SetBitDepth(static_cast<int16_t>(FrameBits(screenBits, s.lossless)));
    engine.SetCompressor(Compressor(engine.GetBitDepth(), s.lossless));
    engine.SetDrawCursor(s.drawCursor);
    engine.SetHighlightClicks(s.highlightClicks);
    engine.SetCursorHalo(s.cursorHalo);
    engine.SetShowKeys(s.showKeys, s.hotKeys);
    engine.SetFileName(s.path.c_str());
    engine.SetRecordSound(s.recordSound);
    engine.SetWaveFormat(s.channels, s.samplesPerSec, s.bitsPerSample);
    return areaTaken;
}

bool ApplySnapshotSettings(CaptureEngine& engine, const CaptureSettings& s)
{
    const bool areaTaken = ApplyCaptureArea(engine, s.area);
    engine.SetDrawCursor(s.drawCursor);
    engine.SetHighlightClicks(s.highlightClicks);
    engine.SetCursorHalo(s.cursorHalo);
    return areaTaken;
}
