#pragma once

#include <cstdint>
#include <string>

// The engine's exception: programming errors only, never normal operation.
struct VorExcept {
    int32_t code;
    std::string message;
};

// A named bit of an int32 state word. Bit 0 is never a state; a class's private family of
// states is numbered from a base of 20.
class VorState {
public:
    static constexpr int kPrivateBase = 20;

    explicit constexpr VorState(int n, int base = 0) : value(MakeBit(base + n)) {}

    int32_t value;

    void Set(int32_t& word) const { word |= value; }
    void Clear(int32_t& word) const { word &= ~value; }
    bool IsSet(int32_t word) const { return (word & value) != 0; }

private:
    static constexpr int32_t MakeBit(int bit)
    {
        if (bit <= 0 || bit >= 32)
            throw VorExcept{1, "Can't create VorState, over the bounds"};
        return int32_t(uint32_t(1) << bit);
    }
};

inline constexpr VorState Initialized{1};
inline constexpr VorState Paused{3};

// Start error codes of BeginCapture; the panel shows string resource 250 + code.
enum StartError : int32_t {
    kStartOk = 0,
    kErrGeneral = 1,
    kErrThread = 2,
    kErrScreenDepth = 3,
    kErrDepthTooHigh = 4,
    kErrTooWide = 5,
    kErrTooHigh = 6,
    kErrFileOpen = 7,
    kErrWaveFormat = 8,
    kErrNoSoundDevice = 9,
    kErrGifTooLarge = 10,  // an animated GIF is at most 65535 pixels wide and high
};
