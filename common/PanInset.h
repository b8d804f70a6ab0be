#pragma once
// The pan margin's inner rectangle, shared by the grabber's tracking and the framer's outline.

#include "common/CaptureLimits.h"

#include <algorithm>
#include <cstdint>

// The inset on every side of a width x height area for a pan margin in percent: about half of
// (100 - margin) percent of the shorter side ((100 - margin) * 327 * shorter / 65536), at least 1.
// A margin outside 0..100 (a damaged setting) is taken as the nearest valid one. 64-bit: the
// product passes 32 bits for a shorter side above 65 672 pixels.
constexpr int64_t PanInsetFor(int64_t width, int64_t height, int32_t panMargin)
{
    constexpr int64_t kInsetFactor = 327;
    constexpr int kInsetShift = 16;
    const int64_t shorter = std::max<int64_t>(0, std::min(width, height));
    const int64_t margin = std::clamp<int64_t>(panMargin, 0, capture_limits::kMaxPanMargin);
    const int64_t inset = ((capture_limits::kMaxPanMargin - margin) * kInsetFactor * shorter) >> kInsetShift;
    return std::max<int64_t>(1, inset);
}
