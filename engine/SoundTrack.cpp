#include "engine/SoundTrack.h"

#include "common/CaptureLimits.h"
#include "media/AVIWriter.h"
#include "media/SoundGrabber.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <sstream>

using namespace capture_limits;

namespace {
// How long the capture thread waits, at most, for the device to hand back its buffers after a stop.
constexpr ULONGLONG kReturnWaitMs = 500;
}  // namespace

void SoundTrack::Queue::Push(WAVEHDR* h, uint32_t arrival)
{
    std::lock_guard<std::mutex> hold(m);
    if (count == kSoundBuffers)
        return;
    items[(head + count) % kSoundBuffers] = Filled{h, arrival};
    ++count;
}

SoundTrack::Filled SoundTrack::Queue::Pop()
{
    std::lock_guard<std::mutex> hold(m);
    if (count == 0)
        return Filled{};
    const Filled b = items[head];
    head = (head + 1) % kSoundBuffers;
    --count;
    return b;
}

size_t SoundTrack::Queue::Size() const
{
    std::lock_guard<std::mutex> hold(m);
    return count;
}

void SoundTrack::Queue::Clear()
{
    std::lock_guard<std::mutex> hold(m);
    head = count = 0;
}

SoundTrack::SoundTrack(Owner& owner, CaptureInfo& info, SoundGrabber& grabber, AudioRecorder& recorder,
                       CaptureClock& clock)
    : owner(owner), info(info), grabber(grabber), recorder(recorder), clock(clock),
      returned(::CreateEventA(nullptr, FALSE, FALSE, nullptr))
{
}

bool SoundTrack::Allocate()
{
    for (int i = 0; i < kSoundBuffers; ++i) {
        auto buffer = std::unique_ptr<Buffer>(new (std::nothrow) Buffer);
        if (!buffer || !buffer->data.Allocate(size_t(info.soundBufferBytes)))
            return false;
        buffer->header.lpData = reinterpret_cast<LPSTR>(buffer->data.Data());
        buffer->header.dwBufferLength = DWORD(info.soundBufferBytes);
        buffers.push_back(std::move(buffer));
    }
    return true;
}

void SoundTrack::Release()
{
    filled.Clear();
    buffers.clear();
}

void __stdcall SoundTrack::WaveInCallback(void*, unsigned message, uintptr_t instance, uintptr_t param1, uintptr_t)
{
    auto* track = reinterpret_cast<SoundTrack*>(instance);
    // The device closing while the loop still records is a device that went away (SetEvent is
    // one of the calls a wave-in callback may make).
    if (message == kWimClose && track->running.load()) {
        track->owner.Fail(RecordingFailure{FailureKind::SoundDevice, 0});
        return;
    }
    if (message != kWimData || param1 == 0)
        return;
    const uint32_t arrival = track->clock.Now();
    track->lastActivity.store(arrival);
    track->filled.Push(reinterpret_cast<WAVEHDR*>(param1), arrival);
    ::SetEvent(track->returned.get());
}

void SoundTrack::Start(uint32_t start, uint32_t framesPerSecond, float period)
{
    const VWaveFormatEx& f = info.waveFormat;
    placement = SoundPlacement({f.nSamplesPerSec, f.nBlockAlign, framesPerSecond, period}, start);
    lastActivity.store(start);
    bool queued = true;
    for (auto& buffer : buffers)
        queued = queued && grabber.AddBuffer(&buffer->header);
    if (!queued || !grabber.Start())
        owner.Fail(RecordingFailure{FailureKind::SoundDevice, 0});
    running.store(true);
}

bool SoundTrack::FellSilent(uint32_t now) const
{
    return running.load() && filled.Size() < buffers.size() && now - lastActivity.load() >= kSilentMs;
}

void SoundTrack::BeforeFrame()
{
    if (filled.Size() == size_t(kSoundBuffers)) {
        owner.Trace("!!!!!!!SOUND BUFFER LOST!!!!!!!");
        placement.DeviceStarved(uint32_t(kSoundBuffers));
    }
    while (filled.Size() > 1 && !owner.Failed())
        Write(filled.Pop(), true);
}

void SoundTrack::AfterFrame()
{
    const Filled b = filled.Pop();
    if (b.header)
        Write(b, false);
    else
        owner.Trace("NO WAVE INFO!!!!");
}

void SoundTrack::DuringPause()
{
    for (Filled b = filled.Pop(); b.header && !owner.Failed(); b = filled.Pop())
        Write(b, false);
}

void SoundTrack::Pause(uint32_t at)
{
    placement.Pause(at);
}

void SoundTrack::Resume(uint32_t at)
{
    placement.Resume(at);
    lastActivity.store(at);
}

void SoundTrack::Write(const Filled& buffer, bool withCount, bool requeue)
{
    WAVEHDR* header = buffer.header;
    // After a failure nothing more is written.
    if (!header || owner.Failed())
        return;
    grabber.UnprepareBuffer(header);
    std::ostringstream line;
    line << "WaveHeader samples rec: " << header->dwBytesRecorded << " Size " << header->dwBufferLength;
    if (withCount)
        line << "list " << filled.Size();
    owner.Trace(line.str());
    const SoundPlacement::Placement placed = placement.Place(buffer.arrival, header->dwBytesRecorded);
    TraceChange(placed);
    const uint32_t blockAlign = info.waveFormat.nBlockAlign;
    for (int i = 0; i < placed.count; ++i) {
        const SoundPlacement::Piece& p = placed.pieces[i];
        if (!recorder.WriteSound(header->lpData + p.offset, p.bytes, p.bytes / blockAlign,
                                 int32_t(std::min<int64_t>(p.position, INT32_MAX)))) {
            owner.Fail(owner.WriterFailure());
            return;
        }
    }
    if (!requeue)
        return;
    if (!grabber.AddBuffer(header))
        owner.Fail(RecordingFailure{FailureKind::SoundDevice, 0});
    else
        lastActivity.store(clock.Now());
}

void SoundTrack::TraceChange(const SoundPlacement::Placement& placed)
{
    if (placed.change == SoundPlacement::Change::None)
        return;
    const double at = double(placed.position) / double(info.waveFormat.nSamplesPerSec);
    char line[160];
    switch (placed.change) {
    case SoundPlacement::Change::Start:
        std::snprintf(line, sizeof line, "Sound starts at %.3f s: %lld samples of silence first", at,
                      static_cast<long long>(placed.samples));
        break;
    case SoundPlacement::Change::Early:
        std::snprintf(line, sizeof line, "Sound drift: %.0f ms ahead of the picture at %.3f s, %lld samples of silence inserted",
                      -placed.errorMs, at, static_cast<long long>(placed.samples));
        break;
    case SoundPlacement::Change::Late:
        std::snprintf(line, sizeof line, "Sound drift: %.0f ms behind the picture at %.3f s, %lld samples dropped",
                      placed.errorMs, at, static_cast<long long>(placed.samples));
        break;
    case SoundPlacement::Change::Lost:
        std::snprintf(line, sizeof line, "Sound lost: %.0f ms missed by the device at %.3f s, silence in its place",
                      placed.errorMs, at);
        break;
    case SoundPlacement::Change::None:
        return;
    }
    owner.Trace(line);
}

// Silence takes the sound to the end of the last frame when the device's last sound was lost on
// the way.
void SoundTrack::Finish(int32_t lastIndex)
{
    running.store(false);
    grabber.Stop();
    // The device hands back every buffer it holds on the reset, normally before the call returns;
    // a driver may hand back the last ones from its own thread a moment later.
    const ULONGLONG until = ::GetTickCount64() + kReturnWaitMs;
    while (filled.Size() < buffers.size()) {
        const ULONGLONG now = ::GetTickCount64();
        if (now >= until || ::WaitForSingleObject(returned.get(), DWORD(until - now)) == WAIT_FAILED)
            break;
    }

    placement.EndAfterFrame(lastIndex);
    for (Filled b = filled.Pop(); b.header; b = filled.Pop()) {
        if (b.header->dwBytesRecorded > 0)
            Write(b, false, false);
        else
            grabber.UnprepareBuffer(b.header);
    }
    if (!owner.Failed() && placement.End() > placement.Written() &&
        !recorder.WriteSound(nullptr, 0, 0, int32_t(std::min<int64_t>(placement.End(), INT32_MAX))))
        owner.Fail(owner.WriterFailure());
}
