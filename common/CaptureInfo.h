#pragma once
// The one parameter record of a capture engine, read by every media part.

#include "common/CaptureMode.h"
#include "common/VRecords.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

using WaveInCallbackFn = void(__stdcall*)(void* device, unsigned message, uintptr_t instance,
                                          uintptr_t param1, uintptr_t param2);

struct CaptureInfo {
    VWaveFormatEx waveFormat;
    bool recordSound = true;
    int32_t soundBufferBytes = 0;
    WaveInCallbackFn waveInCallback = nullptr;
    void* waveInCallbackData = nullptr;
    VBitmapInfo bitmapInfo;
    int32_t frameBytes = 0;
    int32_t minWidth = 16;
    int32_t minHeight = 16;
    VPoint origin;
    // Read by the grabber on every frame while the UI thread may set them between recordings.
    std::atomic<int32_t> panMargin{0};
    int32_t framesPerSecond = 0;
    std::atomic<int32_t> captureMode{kFixedArea};
    std::string fileName;
    std::atomic<bool> drawCursor{true};
    std::atomic<bool> attachCursorThread{true};
    std::atomic<bool> highlightClicks{false};  // a ring at every mouse-button press
    std::atomic<bool> cursorHalo{false};       // a translucent disc under the cursor
    // Key plates: 0 off, 1 shortcuts only, 2 every key. Set between recordings, as are the
    // program's own hot keys (stored codes), which are never shown.
    std::atomic<int32_t> showKeys{0};
    std::array<int32_t, 4> ownHotKeys{};
    uint32_t compressor = MakeFourCC("MSVC");
    int32_t keyFrameEvery = 15;
    int32_t quality = 10000;
    int32_t interleaveEvery = 1;

    CaptureInfo() = default;
    CaptureInfo(const CaptureInfo&) = delete;  // there is one per engine; parts keep references
    CaptureInfo& operator=(const CaptureInfo&) = delete;
};
