#pragma once
// Why a recording ended before the user stopped it. Eight bytes, so that an atomic of it is
// lock-free: the capture thread writes the first one, the UI thread reads it.

#include <cstdint>
#include <string>

enum class FailureKind : int32_t {
    None = 0,
    DiskFull,     // the movie's disk has no room left
    WriteFailed,  // the movie file refused a write for another reason
    SoundDevice,  // the wave-in device stopped taking or returning buffers
};

struct RecordingFailure {
    FailureKind kind = FailureKind::None;
    // The system's code for its message: a system error code for the file (0 when the writer
    // refused without one), a multimedia result for the sound device (0 when it just closed).
    int32_t systemCode = 0;

    explicit operator bool() const { return kind != FailureKind::None; }
};

// What a refusal failed with: the reason the file gave, or a write that failed without one.
inline RecordingFailure OrWriteFailed(RecordingFailure why)
{
    return why ? why : RecordingFailure{FailureKind::WriteFailed, 0};
}

// The log line a recording that ended on its own ends with; scripts look for it.
inline std::string EndedLine(RecordingFailure why)
{
    std::string line = "Recording ended: ";
    switch (why.kind) {
    case FailureKind::DiskFull:
        line += "the disk is full";
        break;
    case FailureKind::WriteFailed:
        line += "the movie could not be written";
        break;
    case FailureKind::SoundDevice:
        line += "the sound device stopped";
        break;
    case FailureKind::None:
        line += "stopped";
        break;
    }
    if (why.systemCode != 0)
        line += " (system code " + std::to_string(why.systemCode) + ")";
    return line;
}
