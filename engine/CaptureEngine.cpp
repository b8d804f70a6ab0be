#include "engine/CaptureEngine.h"

#include "media/AVIWriter.h"
#include "media/ScreenGrabber.h"
#include "media/SoundGrabber.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <sstream>

static_assert(sizeof(WAVEFORMATEX) == sizeof(VWaveFormatEx));
static_assert(sizeof(BITMAPINFOHEADER) == sizeof(VBitmapInfoHeader));
static_assert(sizeof(RECT) == sizeof(VRect) && sizeof(POINT) == sizeof(VPoint));

using namespace capture_limits;

namespace {

// The line on standard output that says why a recording ended on its own.
std::string FailureLine(RecordingFailure why)
{
    std::ostringstream line;
    line << "Recording ended: ";
    switch (why.kind) {
    case FailureKind::DiskFull:
        line << "the disk is full";
        break;
    case FailureKind::WriteFailed:
        line << "the movie could not be written";
        break;
    case FailureKind::SoundDevice:
        line << "the sound device stopped";
        break;
    case FailureKind::None:
        line << "stopped";
        break;
    }
    if (why.systemCode != 0)
        line << " (system code " << why.systemCode << ")";
    return line.str();
}

// How long the capture thread waits, at most, for the device to hand back its buffers after a stop.
constexpr ULONGLONG kReturnWaitMs = 500;
}  // namespace

int ScreenBitsPerPixel()
{
    ScopedCreatedDC dc(::CreateDCA("DISPLAY", nullptr, nullptr, nullptr));
    int bits = dc ? ::GetDeviceCaps(dc.get(), BITSPIXEL) : 0;
    return bits == 32 ? 24 : bits;
}

// ---- construction -------------------------------------------------------------------------

CaptureEngine::CaptureEngine(std::unique_ptr<CaptureFactory> partsFactory, std::unique_ptr<CaptureClock> frameClock)
    : factory(std::move(partsFactory)), clock(std::move(frameClock)), trace(&std::cout)
{
    if (!factory)
        throw VorExcept{1, ""};

    info = factory->CreateCaptureInfo();
    screenGrabber = factory->CreateScreenGrabber(*info);
    soundGrabber = factory->CreateSoundGrabber(*info);
    aviWriter = factory->CreateAVIWriter();
    videoRecorder = factory->CreateVideoRecorder(*aviWriter, *info);
    audioRecorder = factory->CreateAudioRecorder(*aviWriter, *info);
    captureThread = std::make_unique<CaptureThread>(this);
    if (!clock)
        clock = std::make_unique<SystemClock>();
    wake.reset(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
    returned.reset(::CreateEventA(nullptr, FALSE, FALSE, nullptr));

    VBitmapInfoHeader& h = info->bitmapInfo.bmiHeader;
    h.biWidth = info->minWidth;
    h.biHeight = info->minHeight;
    h.biPlanes = 1;
    h.biBitCount = uint16_t(ScreenBitsPerPixel());
    h.biCompression = 0;
    h.biSizeImage = 0;
    h.biXPelsPerMeter = h.biYPelsPerMeter = 0;
    h.biClrUsed = h.biBitCount == 8 ? 256 : 0;
    h.biClrImportant = 0;
    info->frameBytes = int32_t(h.biSizeImage);
    SetWaveFormat(1, 11025, 8);
    SetFramesPerSecond(kDefaultFramesPerSecond);
    info->soundBufferBytes = int32_t(info->waveFormat.nAvgBytesPerSec / uint32_t(info->framesPerSecond));
    info->waveInCallback = &CaptureEngine::WaveInCallback;
    info->waveInCallbackData = this;
}

CaptureEngine::~CaptureEngine()
{
    // Never destroy a running thread: it would go on using the parts freed below.
    CaptureStop();
    EndCapturing();
    filledBuffers.Clear();
    captureThread.reset();
    audioRecorder.reset();
    videoRecorder.reset();
    aviWriter.reset();
    soundGrabber.reset();
    screenGrabber.reset();
    info.reset();
    factory.reset();
}

void CaptureEngine::SetTraceStream(std::ostream& out)
{
    std::lock_guard<std::mutex> hold(traceMutex);
    trace = &out;
}

void CaptureEngine::Trace(const std::string& line)
{
    std::lock_guard<std::mutex> hold(traceMutex);
    *trace << line << std::endl;
}

// ---- parameters ---------------------------------------------------------------------------

bool CaptureEngine::FrameSizeAcceptable(int32_t width, int32_t height, int32_t bits) const
{
    return DibFrameBytes(width, height, bits) <= kMaxFrameBytes;
}

bool CaptureEngine::SetCaptureRect(const VRect& r)
{
    if (r.left < 0 || r.top < 0 || r.right < 0 || r.bottom < 0)
        return false;
    const int64_t width = int64_t(r.right) - r.left;
    const int64_t height = int64_t(r.bottom) - r.top;
    if (width < info->minWidth || height < info->minHeight)
        return false;
    if (!FrameSizeAcceptable(int32_t(width), int32_t(height), info->bitmapInfo.bmiHeader.biBitCount))
        return false;
    info->origin = VPoint{r.left, r.top};
    info->bitmapInfo.bmiHeader.biWidth = int32_t(width);
    info->bitmapInfo.bmiHeader.biHeight = int32_t(height);
    return true;
}

VRect CaptureEngine::GetCaptureRect() const
{
    const VBitmapInfoHeader& h = info->bitmapInfo.bmiHeader;
    return VRect{info->origin.x, info->origin.y, info->origin.x + h.biWidth, info->origin.y + h.biHeight};
}

bool CaptureEngine::SetBitDepth(int16_t bits)
{
    // 32 is for lossless true colour, which keeps each pixel's four bytes as the screen has them.
    if (bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return false;
    VBitmapInfoHeader& h = info->bitmapInfo.bmiHeader;
    if (!FrameSizeAcceptable(h.biWidth, h.biHeight, bits))
        return false;
    h.biBitCount = uint16_t(bits);
    h.biClrUsed = bits == 8 ? 256 : 0;
    return true;
}

uint16_t CaptureEngine::GetBitDepth() const
{
    return info->bitmapInfo.bmiHeader.biBitCount;
}

bool CaptureEngine::SetFramesPerSecond(int32_t fps)
{
    // The rate divides the frame period and the sound buffer size.
    if (fps < 1)
        return false;
    info->framesPerSecond = fps;
    return true;
}

int32_t CaptureEngine::GetFramesPerSecond() const
{
    return info->framesPerSecond;
}

bool CaptureEngine::SetCaptureMode(int32_t mode)
{
    info->captureMode = mode;
    return true;
}

int32_t CaptureEngine::GetCaptureMode() const
{
    return info->captureMode;
}

bool CaptureEngine::SetKeyFrameEvery(int32_t frames)
{
    info->keyFrameEvery = frames == -1 ? kDefaultKeyFrameEvery : frames;
    return true;
}

int32_t CaptureEngine::GetKeyFrameEvery() const
{
    return info->keyFrameEvery;
}

bool CaptureEngine::SetPanMargin(int32_t margin)
{
    if (margin < 0 || margin > kMaxPanMargin)
        return false;
    info->panMargin = margin;
    return true;
}

int32_t CaptureEngine::GetPanMargin() const
{
    return info->panMargin;
}

bool CaptureEngine::SetCompressor(uint32_t fourcc)
{
    info->compressor = fourcc;
    return true;
}

uint32_t CaptureEngine::GetCompressor() const
{
    return info->compressor;
}

bool CaptureEngine::SetDrawCursor(bool draw)
{
    info->drawCursor = draw;
    return true;
}

bool CaptureEngine::SetAttachCursorThread(int attach)
{
    info->attachCursorThread = attach != 0;
    return true;
}

bool CaptureEngine::SetHighlightClicks(bool highlight)
{
    info->highlightClicks = highlight;
    return true;
}

bool CaptureEngine::SetCursorHalo(bool halo)
{
    info->cursorHalo = halo;
    return true;
}

bool CaptureEngine::SetShowKeys(int32_t mode, const std::array<int32_t, 4>& ownHotKeys)
{
    info->showKeys = mode == 1 || mode == 2 ? mode : 0;
    info->ownHotKeys = ownHotKeys;
    return true;
}

bool CaptureEngine::SetFileName(const char* path)
{
    info->fileName = path ? path : "";
    return true;
}

const char* CaptureEngine::GetFileName() const
{
    return info->fileName.c_str();
}

bool CaptureEngine::SetRecordSound(bool record)
{
    info->recordSound = record;
    return true;
}

bool CaptureEngine::SetWaveFormat(uint16_t channels, uint32_t samplesPerSec, uint16_t bitsPerSample)
{
    if (channels != 1 && channels != 2)
        return false;
    if (samplesPerSec != 11025 && samplesPerSec != 22050 && samplesPerSec != 44100)
        return false;
    if (bitsPerSample != 8 && bitsPerSample != 16)
        return false;
    VWaveFormatEx& f = info->waveFormat;
    f.wFormatTag = 1;  // WAVE_FORMAT_PCM
    f.nChannels = channels;
    f.nSamplesPerSec = samplesPerSec;
    f.wBitsPerSample = bitsPerSample;
    f.nBlockAlign = uint16_t(channels * (bitsPerSample / 8));
    f.nAvgBytesPerSec = f.nBlockAlign * samplesPerSec;
    f.cbSize = 0;
    return true;
}

bool CaptureEngine::GetWaveFormat(WAVEFORMATEX* format) const
{
    if (format)
        std::memcpy(format, &info->waveFormat, sizeof(VWaveFormatEx));
    return true;
}

// ---- commands -----------------------------------------------------------------------------

int32_t CaptureEngine::BeginCapture()
{
    Trace("In BeginCapture");
    if (int32_t code = CheckConfig())
        return code;
    failure.store(RecordingFailure{});
    keptMilliseconds.store(0);

    if (!Initialized.IsSet(state.load())) {
        if (int32_t code = InitCapturing()) {
            EndCapturing();
            aviWriter->SettleStart(false);
            return code;
        }
    }
    Trace("In BeginCapture:after Init");
    Trace("In BeginCapture:before start");

    int32_t result = kStartOk;
    publishedElapsedMs.store(0, std::memory_order_relaxed);
    publishedMovieBytes.store(aviWriter->FileBytes(), std::memory_order_relaxed);
    publishedSkipped.store(0, std::memory_order_relaxed);
    ::ResetEvent(wake.get());
    try {
        captureThread->Start();
    } catch (const BaseThread::BaseThreadError&) {
        result = kErrThread;
    }
    // A start that failed leaves no movie behind, and the next one prepares afresh for its own
    // file name.
    if (result != kStartOk)
        EndCapturing();
    aviWriter->SettleStart(result == kStartOk);
    Trace("In BeginCapture:AfterStart");
    return result;
}

int32_t CaptureEngine::CheckConfig()
{
    if (int32_t code = screenGrabber->CheckConfig())
        return code;
    if (int32_t code = aviWriter->CheckConfig())
        return code;
    if (int32_t code = videoRecorder->CheckConfig())
        return code;
    if (info->recordSound) {
        if (int32_t code = soundGrabber->CheckConfig())
            return code;
        if (int32_t code = audioRecorder->CheckConfig())
            return code;
    }
    return kStartOk;
}

int32_t CaptureEngine::InitCapturing()
{
    // Whatever is prepared here is released by EndCapturing, whatever the settings are by then.
    soundPrepared = info->recordSound;

    screenGrabber->InitCapturing();
    if (soundPrepared) {
        if (int32_t code = soundGrabber->InitCapturing())
            return code;
    }
    aviWriter->SetFileName(info->fileName.c_str());
    if (!aviWriter->Open())
        return kErrFileOpen;  // recording into nothing would be a failure reported as success
    if (!videoRecorder->InitCapturing(info->compressor))
        return kErrGeneral;
    if (soundPrepared && !audioRecorder->InitCapturing())
        return kErrGeneral;
    if (!aviWriter->WriteHeaders())
        return kErrFileOpen;

    const VBitmapInfoHeader& h = info->bitmapInfo.bmiHeader;
    const uint64_t frameBytes = DibFrameBytes(h.biWidth, h.biHeight, h.biBitCount);
    if (frameBytes == 0 || frameBytes > kMaxFrameBytes || !frameBuffer.Allocate(size_t(frameBytes)))
        return kErrGeneral;
    info->frameBytes = int32_t(frameBytes);

    info->soundBufferBytes = int32_t(info->waveFormat.nAvgBytesPerSec / uint32_t(info->framesPerSecond));
    if (soundPrepared) {
        for (int i = 0; i < kSoundBuffers; ++i) {
            auto buffer = std::unique_ptr<SoundBuffer>(new (std::nothrow) SoundBuffer);
            if (!buffer || !buffer->data.Allocate(size_t(info->soundBufferBytes)))
                return kErrGeneral;
            buffer->header.lpData = reinterpret_cast<LPSTR>(buffer->data.Data());
            buffer->header.dwBufferLength = DWORD(info->soundBufferBytes);
            allBuffers.push_back(std::move(buffer));
        }
    }
    state.fetch_or(Initialized.value);
    return kStartOk;
}

bool CaptureEngine::EndCapturing()
{
    screenGrabber->EndCapturing();
    if (soundPrepared)
        soundGrabber->EndCapturing();
    videoRecorder->EndCapturing();
    if (soundPrepared)
        audioRecorder->EndCapturing();
    const bool closed = aviWriter->Close();
    frameBuffer.Free();
    {
        VCriticalSection::VLock hold(&lock);
        filledBuffers.Clear();
        allBuffers.clear();
    }
    soundPrepared = false;
    state.fetch_and(~Initialized.value);
    return closed;
}

int32_t CaptureEngine::CaptureStop()
{
    if (captureThread->State() == BaseThread::Running)
        captureThread->RefreshState();
    if (captureThread->State() != BaseThread::Running)
        return 0;

    captureThread->Terminate();
    ::SetEvent(wake.get());
    Trace("In CaptureStop - called Terminate");
    // The loop closes the file before its thread reports finished.
    while (captureThread->RefreshState() == BaseThread::Running)
        captureThread->Wait(INFINITE);
    state.fetch_and(~Paused.value);  // the next recording does not begin paused
    return 1;
}

int32_t CaptureEngine::TogglePause()
{
    const int32_t now = state.fetch_xor(Paused.value) ^ Paused.value;
    // The click animation pauses with the movie.
    screenGrabber->SetPaused(Paused.IsSet(now));
    ::SetEvent(wake.get());
    return 0;
}

bool CaptureEngine::IsPaused() const
{
    return Paused.IsSet(state.load());
}

RecordingCounters CaptureEngine::Counters() const
{
    RecordingCounters c;
    c.elapsedMs = publishedElapsedMs.load(std::memory_order_relaxed);
    c.movieBytes = publishedMovieBytes.load(std::memory_order_relaxed);
    c.skippedFrames = publishedSkipped.load(std::memory_order_relaxed);
    return c;
}

void CaptureEngine::PublishCounters(uint32_t elapsedMs, int32_t skipped)
{
    publishedElapsedMs.store(elapsedMs, std::memory_order_relaxed);
    publishedMovieBytes.store(aviWriter->FileBytes(), std::memory_order_relaxed);
    publishedSkipped.store(uint32_t(skipped), std::memory_order_relaxed);
}

bool CaptureEngine::SaveFrame(const char* path)
{
    if (!path)
        return false;
    return screenGrabber->SaveFrame(path);
}

uint32_t CaptureEngine::LastSaveError() const
{
    return screenGrabber->LastSaveError();
}

void CaptureEngine::SetFailureNotice(HWND window, UINT message)
{
    noticeWindow = window;
    noticeMessage = message;
}

void CaptureEngine::Fail(RecordingFailure why)
{
    RecordingFailure none;
    if (failure.compare_exchange_strong(none, why))
        ::SetEvent(wake.get());
}

RecordingFailure CaptureEngine::WriterFailure() const
{
    const RecordingFailure why = aviWriter->Failure();
    return why ? why : RecordingFailure{FailureKind::WriteFailed, 0};
}

// ---- sound buffers ------------------------------------------------------------------------

bool CaptureEngine::HeaderQueue::Push(WAVEHDR* h, uint32_t arrival)
{
    if (count == kSoundBuffers)
        return false;
    items[(head + count) % kSoundBuffers] = FilledBuffer{h, arrival};
    ++count;
    return true;
}

CaptureEngine::FilledBuffer CaptureEngine::HeaderQueue::Pop()
{
    if (count == 0)
        return FilledBuffer{};
    const FilledBuffer b = items[head];
    head = (head + 1) % kSoundBuffers;
    --count;
    return b;
}

void __stdcall CaptureEngine::WaveInCallback(void*, unsigned message, uintptr_t instance, uintptr_t param1, uintptr_t)
{
    auto* engine = reinterpret_cast<CaptureEngine*>(instance);
    // The device closing while the loop still records is a device that went away (SetEvent is
    // one of the calls a wave-in callback may make).
    if (message == kWimClose && engine->soundRunning.load()) {
        engine->Fail(RecordingFailure{FailureKind::SoundDevice, 0});
        return;
    }
    if (message != kWimData || param1 == 0)
        return;
    // Read before the lock: the capture loop may hold it for a whole frame.
    const uint32_t arrival = engine->clock->Now();
    {
        VCriticalSection::VLock hold(&engine->lock);
        engine->filledBuffers.Push(reinterpret_cast<WAVEHDR*>(param1), arrival);
    }
    ::SetEvent(engine->returned.get());
}

void CaptureEngine::WriteSoundBuffer(const FilledBuffer& buffer, bool withCount, bool requeue)
{
    WAVEHDR* header = buffer.header;
    // After a failure nothing more is written.
    if (!header || Failed())
        return;
    soundGrabber->UnprepareBuffer(header);
    std::ostringstream line;
    line << "WaveHeader samples rec: " << header->dwBytesRecorded << " Size " << header->dwBufferLength;
    if (withCount)
        line << "list " << filledBuffers.Size();
    Trace(line.str());
    const SoundPlacement::Placement placed = placement.Place(buffer.arrival, header->dwBytesRecorded);
    TraceSoundChange(placed);
    const uint32_t blockAlign = info->waveFormat.nBlockAlign;
    for (int i = 0; i < placed.count; ++i) {
        const SoundPlacement::Piece& p = placed.pieces[i];
        if (!audioRecorder->WriteSound(header->lpData + p.offset, p.bytes, p.bytes / blockAlign,
                                       int32_t(std::min<int64_t>(p.position, INT32_MAX)))) {
            Fail(WriterFailure());
            return;
        }
    }
    if (requeue && !soundGrabber->AddBuffer(header))
        Fail(RecordingFailure{FailureKind::SoundDevice, 0});
}

void CaptureEngine::TraceSoundChange(const SoundPlacement::Placement& placed)
{
    if (placed.change == SoundPlacement::Change::None)
        return;
    const double rate = info->waveFormat.nSamplesPerSec;
    const double at = double(placed.position) / rate;
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
    Trace(line);
}

// Stops the device and writes what it hands back, up to the end of the last frame; silence takes
// the sound to that end when the device's last sound was lost on the way.
void CaptureEngine::FinishSound(int32_t lastIndex)
{
    soundGrabber->Stop();
    // The device hands back every buffer it holds on the reset, normally before the call returns;
    // a driver may hand back the last ones from its own thread a moment later.
    auto waiting = [&] {
        VCriticalSection::VLock hold(&lock);
        return filledBuffers.Size() < allBuffers.size();
    };
    const ULONGLONG until = ::GetTickCount64() + kReturnWaitMs;
    while (waiting()) {
        const ULONGLONG now = ::GetTickCount64();
        if (now >= until || ::WaitForSingleObject(returned.get(), DWORD(until - now)) == WAIT_FAILED)
            break;
    }

    placement.EndAfterFrame(lastIndex);
    VCriticalSection::VLock hold(&lock);
    while (filledBuffers.Size() > 0) {
        const FilledBuffer b = filledBuffers.Pop();
        if (b.header->dwBytesRecorded > 0)
            WriteSoundBuffer(b, false, false);
        else
            soundGrabber->UnprepareBuffer(b.header);
    }
    if (!Failed() && placement.End() > placement.Written() &&
        !audioRecorder->WriteSound(nullptr, 0, 0, int32_t(std::min<int64_t>(placement.End(), INT32_MAX))))
        Fail(WriterFailure());
}

// ---- the capture loop ---------------------------------------------------------------------

int32_t CaptureEngine::CaptureThread::Run()
{
    return engine->CaptureLoop();
}

int32_t CaptureEngine::CaptureLoop()
{
    const uint32_t fps = uint32_t(info->framesPerSecond);
    const float period = float(1000 / fps);  // whole milliseconds: 15 fps gives 66
    const bool sound = soundPrepared;
    uint32_t start = clock->Now();
    int32_t lastIndex = -1;
    uint32_t lastTime = start;  // a recording that fails before its first frame lasted nothing
    int32_t skipped = 0;
    int32_t captured = 0;
    int32_t tooEarly = 0;
    bool grabFailing = false;

    if (sound) {
        const VWaveFormatEx& f = info->waveFormat;
        placement = SoundPlacement({f.nSamplesPerSec, f.nBlockAlign, fps, period}, start);
        bool queued = true;
        for (auto& buffer : allBuffers)
            queued = queued && soundGrabber->AddBuffer(&buffer->header);
        if (!queued || !soundGrabber->Start())
            Fail(RecordingFailure{FailureKind::SoundDevice, 0});
        soundRunning.store(true);
    }

    // A failure ends the loop before the next write; a stop ends it after the frame under way.
    while (!Failed()) {
        const uint32_t now = clock->Now();
        // Double keeps the index exact past the 2^24 ms a float holds without loss.
        const auto index = int32_t(double(uint32_t(now - start)) / double(period));
        if (index > lastIndex) {
            VCriticalSection::VLock hold(&lock);
            if (index - lastIndex - 1 > 0)
                skipped += index - lastIndex - 1;
            if (sound) {
                if (filledBuffers.Size() == size_t(kSoundBuffers)) {
                    Trace("!!!!!!!SOUND BUFFER LOST!!!!!!!");
                    placement.DeviceStarved(uint32_t(filledBuffers.Size()));
                }
                while (filledBuffers.Size() > 1) {
                    VCriticalSection::VLock inner(&lock);
                    if (filledBuffers.Size() > 0)
                        WriteSoundBuffer(filledBuffers.Pop(), true);
                }
            }
            if (!Failed()) {
                // A refused grab leaves the previous picture, which is written again; said once
                // for each run of refusals.
                const bool grabbed = screenGrabber->GrabFrame(frameBuffer.Data(), uint32_t(frameBuffer.Size()));
                if (!grabbed && !grabFailing)
                    Trace("couldn't grab the screen: the frame repeats the last picture");
                grabFailing = !grabbed;
                if (!videoRecorder->WriteFrame(frameBuffer.Data(), uint32_t(frameBuffer.Size()), index)) {
                    Trace("couldn't write bits!");
                    Fail(WriterFailure());
                }
            }
            if (sound && !Failed()) {
                VCriticalSection::VLock inner(&lock);
                if (filledBuffers.Size() > 0)
                    WriteSoundBuffer(filledBuffers.Pop(), false);
                else
                    Trace("NO WAVE INFO!!!!");
            }
            if (Failed())
                break;  // the counters keep the last frame that was written
            lastTime = now;
            lastIndex = index;
            ++captured;
            PublishCounters(now - start, skipped);
        } else {
            ++tooEarly;
        }

        if (IsPaused()) {
            const uint32_t pauseStart = clock->Now();
            if (sound)
                placement.Pause(pauseStart);
            while (IsPaused() && !captureThread->TerminateRequested() && !Failed()) {
                if (!sound) {
                    clock->Wait(wake.get(), CaptureClock::kForever);
                    continue;
                }
                // The device goes on recording: its buffers go back to it with their sound left
                // out, so that it has buffers to fill the moment the recording resumes.
                clock->Wait(wake.get(), DWORD(period));
                VCriticalSection::VLock hold(&lock);
                while (filledBuffers.Size() > 0)
                    WriteSoundBuffer(filledBuffers.Pop(), false);
            }
            // A stop during the pause ends the recording where it paused. The last frame's time
            // moves with the start, so that a stop right after the resume does not count the pause.
            if (!captureThread->TerminateRequested()) {
                const uint32_t resumed = clock->Now();
                start += resumed - pauseStart;
                lastTime += resumed - pauseStart;
                if (sound)
                    placement.Resume(resumed);
            }
        } else if (!captureThread->TerminateRequested() && !Failed()) {
            // Sleep until the next frame slot begins; a pause or a stop wakes us early.
            const uint64_t due = uint64_t(double(lastIndex + 1) * double(period));
            const uint32_t elapsed = clock->Now() - start;
            if (elapsed < due)
                clock->Wait(wake.get(), DWORD(due - elapsed));
        }
        if (captureThread->TerminateRequested())
            break;
    }

    if (sound) {
        soundRunning.store(false);
        FinishSound(lastIndex);
    }
    Trace("BREAKING OUT");
    Trace("************BRoken OUT********");
    if (!EndCapturing())
        Fail(WriterFailure());  // the last part of the file did not reach the disk
    keptMilliseconds.store(aviWriter->KeptVideoFrames() * 1000 / int64_t(fps));

    {
        VCriticalSection::VLock hold(&lock);
        std::ostringstream report;
        report << "\nFrames skipped:   " << skipped << "\nFrames captured:  " << captured
               << "\nTooEarly:         " << tooEarly << "\nPrevFrame written:" << lastIndex
               << "\nTotal Time:       " << float(double(lastTime - start) * 0.001) << "\n";
        std::lock_guard<std::mutex> traceHold(traceMutex);
        *trace << report.str() << std::flush;
    }
    if (const RecordingFailure why = failure.load()) {
        Trace(FailureLine(why));
        state.fetch_and(~Paused.value);  // the next recording does not begin paused
        if (noticeWindow)
            ::PostMessageA(noticeWindow, noticeMessage, 0, 0);
    }
    return 1;
}
