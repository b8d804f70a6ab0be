#pragma once
// Where the sound of each buffer the wave-in device hands back goes in the audio stream.
//
// The device runs on a clock of its own and starts late; the picture is placed by the frame
// clock. A buffer is taken to end when it arrived (read from the frame clock): the first one is
// placed at that time, the following ones go on without a gap, and once a second the sound
// written so far is compared with the time it was heard; a difference is made good at a buffer
// boundary with silence or by dropping samples. Sound heard before the start or while paused is
// left out, and nothing goes past the end of the last frame.
//
// No platform calls: times are milliseconds of the frame clock (wrapping like timeGetTime),
// positions are samples of the audio stream (one sample of every channel).

#include <cstdint>

class SoundPlacement {
public:
    struct Format {
        uint32_t samplesPerSecond = 0;
        uint32_t bytesPerSample = 0;  // nBlockAlign
        uint32_t framesPerSecond = 0;
        float framePeriod = 0;        // milliseconds between frame slots, as the capture loop paces them
    };

    // A stretch of one buffer to write: `bytes` from `offset` into its data, at stream sample `position`.
    struct Piece {
        uint32_t offset = 0;
        uint32_t bytes = 0;
        int64_t position = 0;
    };

    enum class Change {
        None,
        Start,  // the first sound: `samples` of silence come before it
        Early,  // the sound ran ahead of the picture: `samples` of silence inserted
        Late,   // the sound fell behind the picture: `samples` dropped
        Lost,   // the device had no buffer for a while: `samples` of silence stand for what it missed
    };

    struct Placement {
        static constexpr int kMaxPieces = 2;  // a pause shorter than a buffer cuts it in two
        Piece pieces[kMaxPieces];
        int count = 0;
        Change change = Change::None;
        int64_t samples = 0;  // of the change
        int64_t position = 0; // the stream position of the buffer's first sound after the change
        double errorMs = 0;   // Early and Late: how far apart sound and picture were, movie milliseconds
    };

    SoundPlacement() = default;  // places nothing
    SoundPlacement(const Format& format, uint32_t start);

    // Frame clock readings at which the recording paused and resumed, as the capture loop takes them.
    void Pause(uint32_t now);
    void Resume(uint32_t now);
    // Every buffer is filled and none is with the device: after the `queued` buffers still to be
    // placed, some sound may be missing.
    void DeviceStarved(uint32_t queued);

    // `bytes` recorded in a buffer that arrived at `arrival`. Buffers come in the order the
    // device filled them.
    Placement Place(uint32_t arrival, uint32_t bytes);

    // Nothing is placed past the end of frame `lastIndex`.
    void EndAfterFrame(int32_t lastIndex);
    int64_t Written() const { return next; }  // the stream position after the last sample placed
    int64_t End() const { return end; }       // -1 until EndAfterFrame

    // The picture's stream position for a frame clock reading: recording time without the pauses,
    // in samples. Sound heard at `t` belongs there.
    double PicturePosition(uint32_t t) const;

private:
    struct Span {
        double from;
        double to;
    };
    static constexpr int kKeptPauses = 8;  // a buffer never spans more pauses than this

    double Relative(uint32_t t) const;
    double Elapsed(double relative) const;
    bool Paused(double relative) const;
    int Kept(double from, double to, Span* out, int most) const;

    Format format;
    bool valid = false;
    uint32_t start = 0;
    double samplesPerMs = 0;   // stream samples per millisecond of recording time
    double threshold = 0;      // samples apart before a correction

    bool started = false;
    int64_t next = 0;
    int64_t end = -1;
    int64_t dropping = 0;      // samples still to drop from the next buffers
    int32_t beforeGap = -1;    // buffers to place before sound may be missing; -1 none

    // Drift: how far the written sound led the time it was heard, for the buffers of the last
    // second. Arrival times are late by the delivery delay, never early, so the largest lead is
    // the best measure. At most one correction a second, each judged on the second before it.
    struct Lead {
        double at;       // recording time the buffer ended
        double samples;
    };
    static constexpr int kKeptLeads = 64;  // a second of buffers at the highest frame rate, and bursts
    void NoteLead(double at, double samples);
    bool MostLead(double since, double* most) const;
    void ForgetLeads(double now);
    Lead leads[kKeptLeads] = {};
    int leadNext = 0;
    int leadCount = 0;
    double lastCheck = 0;      // recording time of the start or the last correction

    // Pauses in recording-relative milliseconds: the latest few, the total of older ones, and
    // the open one.
    Span pauses[kKeptPauses] = {};
    int pauseCount = 0;
    double pausedEarlier = 0;
    bool paused = false;
    double pausedFrom = 0;
};
