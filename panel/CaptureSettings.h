#pragma once
// One recording's settings, read from the store once per command, and the one place they are
// handed to the engine. A new setting is one field here, one line in ReadCaptureSettings and one
// line in ApplyCaptureSettings. UI thread.

#include "common/CaptureMode.h"
#include "common/VRecords.h"

#include <array>
#include <cstdint>
#include <string>

class CaptureEngine;
class Prefs;

struct CaptureSettings {
    VRect area;
    int32_t mode = kFixedArea;  // an unknown stored mode records a fixed area
    int32_t framesPerSecond = -1;
    int32_t keyFrameEvery = -1;
    int32_t panMargin = -1;
    int32_t attachCursor = -1;  // missing (-1): the engine keeps its own
    bool drawCursor = true;
    bool highlightClicks = false;
    bool cursorHalo = false;
    int32_t showKeys = 0;             // key plates: 0 off, 1 shortcuts, 2 every key
    std::array<int32_t, 4> hotKeys{};  // the program's own keys, never shown on a plate
    bool lossless = false;  // with the screen's depth it gives the frame depth and the compressor
    bool recordSound = false;
    uint16_t channels = 0;
    uint32_t samplesPerSec = 0;
    uint16_t bitsPerSample = 0;
    std::string path;  // the movie or snapshot to write; empty when it does not fit a path
    bool hidePanel = false;
};

// Which of the store's next names the settings' path takes.
enum class Take { Movie, Snapshot };

CaptureSettings ReadCaptureSettings(const Prefs& prefs, Take take);

// The frame depth a recording has on a screen of `screenBits` (or after a recording of that
// depth): true colour is 24-bit, or 32-bit when lossless.
uint16_t FrameBits(uint16_t screenBits, bool lossless);
// Video 1 for 16- and 24-bit frames, RLE8 for 8-bit ones, ZMBV for lossless ones and 32-bit ones.
uint32_t Compressor(uint16_t frameBits, bool lossless);

// Hands `s` to the engine's setters, in the order a start has always used. False when the
// engine refused the area and records the default area instead.
bool ApplyCaptureSettings(CaptureEngine& engine, const CaptureSettings& s);
// What a snapshot's picture uses: the area, the cursor and the click marks. False as above.
bool ApplySnapshotSettings(CaptureEngine& engine, const CaptureSettings& s);
// The area alone, with the same fallback.
bool ApplyCaptureArea(CaptureEngine& engine, const VRect& area);
