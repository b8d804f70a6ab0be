#pragma once
// Fixed numbers of the capture engine.

#include <cstdint>

namespace capture_limits {
inline constexpr int kSoundBuffers = 5;           // one frame period of sound each
inline constexpr int kDefaultFramesPerSecond = 6;
inline constexpr int kDefaultKeyFrameEvery = 15;  // what SetKeyFrameEvery(-1) stores
inline constexpr int kMaxPanMargin = 100;
// No area may size a frame buffer past this, whatever the registry holds.
inline constexpr uint64_t kMaxFrameBytes = 256ull * 1024 * 1024;
inline constexpr unsigned kWimData = 0x3C0;       // WIM_DATA
}  // namespace capture_limits
