#pragma once
// The recording's sound: the device's buffers, the queue of those it handed back, and where
// each one's sound goes in the movie. The queue has a lock of its own, taken for a push or a
// pop only: the wave-in callback never waits for a frame grab or a disk write.

#include "common/CaptureInfo.h"
#include "common/CaptureLimits.h"
#include "common/RecordingFailure.h"
#include "engine/CaptureClock.h"
#include "engine/SoundPlacement.h"
#include "engine/Threads.h"
#include "framework/Scoped.h"

#include <windows.h>

#include <mmsystem.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class AudioRecorder;
class SoundGrabber;

class SoundTrack {
public:
    // What the track needs of the recording it belongs to.
    class Owner {
    public:
        virtual void Fail(RecordingFailure why) = 0;         // any thread; the first one is kept
        virtual bool Failed() const = 0;                      // any thread
        virtual RecordingFailure WriterFailure() const = 0;  // why the movie refused a write
        virtual void Trace(const std::string& line) = 0;      // any thread

    protected:
        ~Owner() = default;
    };

    // A device that holds buffers and hands none back for this long has gone away without
    // saying so (a sound server that died, a pulled microphone).
    static constexpr uint32_t kSilentMs = 2000;

    SoundTrack(Owner& owner, CaptureInfo& info, SoundGrabber& grabber, AudioRecorder& recorder, CaptureClock& clock);

    // UI thread, before a recording: the buffers, of the info's sound buffer size. False
    // without the memory.
    bool Allocate();
    // Any thread but the capture thread, once the device has let go of the buffers.
    void Release();

    // Capture thread. Start queues every buffer and starts the device; a refusal is the
    // owner's failure.
    void Start(uint32_t start, uint32_t framesPerSecond, float period);
    void BeforeFrame();  // writes the waiting buffers but the newest
    void AfterFrame();   // writes the newest, or traces that none came
    // While paused the device goes on recording: its buffers go back to it with their sound
    // left out, so that it has buffers to fill the moment the recording resumes.
    void DuringPause();
    void Pause(uint32_t at);
    void Resume(uint32_t at);
    // True while the device holds buffers and has handed none back for kSilentMs.
    bool FellSilent(uint32_t now) const;
    // Stops the device and writes what it hands back, up to the end of frame `lastIndex`.
    void Finish(int32_t lastIndex);

    static void __stdcall WaveInCallback(void* device, unsigned message, uintptr_t instance, uintptr_t param1,
                                         uintptr_t param2);

private:
    struct Buffer {
        WAVEHDR header{};
        VBits data;
    };

    // A buffer the device handed back, with the frame clock's reading when it did.
    struct Filled {
        WAVEHDR* header = nullptr;
        uint32_t arrival = 0;
    };

    // Filled buffers, oldest first. Fixed capacity, so the wave-in callback never allocates.
    class Queue {
    public:
        void Push(WAVEHDR* h, uint32_t arrival);
        Filled Pop();  // a null header when empty
        size_t Size() const;
        void Clear();

    private:
        mutable std::mutex m;
        Filled items[capture_limits::kSoundBuffers] = {};
        size_t head = 0;
        size_t count = 0;
    };

    // Writes the buffer where its sound belongs and, if `requeue`, hands it back to the device.
    void Write(const Filled& buffer, bool withCount, bool requeue = true);
    void TraceChange(const SoundPlacement::Placement& placed);

    Owner& owner;
    CaptureInfo& info;         // not owned
    SoundGrabber& grabber;     // not owned
    AudioRecorder& recorder;   // not owned
    CaptureClock& clock;       // not owned
    std::vector<std::unique_ptr<Buffer>> buffers;
    Queue filled;
    SoundPlacement placement;                // capture thread
    std::atomic<bool> running{false};        // the device records for the loop: a close now is a loss
    std::atomic<uint32_t> lastActivity{0};   // a buffer came back or went to the device
    ScopedKernelHandle returned;             // signalled by the callback for each buffer
};
