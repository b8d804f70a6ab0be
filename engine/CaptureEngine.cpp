#include "engine/CaptureEngine.h"

#include "engine/FramePacing.h"
#include "media/AVIWriter.h"
#include "media/ScreenGrabber.h"
#include "media/SoundGrabber.h"

static_assert(sizeof(WAVEFORMATEX) == sizeof(VWaveFormatEx));
static_assert(sizeof(BITMAPINFOHEADER) == sizeof(VBitmapInfoHeader));
static_assert(sizeof(RECT) == sizeof(VRect) && sizeof(POINT) == sizeof(VPoint));

using namespace capture_limits;

int ScreenBitsPerPixel()
{
    ScopedCreatedDC dc(::CreateDCA("DISPLAY", nullptr, nullptr, nullptr));
    int bits = dc ? ::GetDeviceCaps(dc.get(), BITSPIXEL) : 0;
    return bits == 32 ? 24 : bits;
}

// ---- construction -------------------------------------------------------------------------

CaptureEngine::CaptureEngine(std::unique_ptr<CaptureFactory> partsFactory, std::unique_ptr<CaptureClock> frameClock)
    : factory(std::move(partsFactory)), clock(std::move(frameClock)), log(&ProgramLog())
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
    soundTrack = std::make_unique<SoundTrack>(static_cast<SoundTrack::Owner&>(*this), *info, *soundGrabber,
                                              *audioRecorder, *clock);
    wake.reset(::CreateEventA(nullptr, FALSE, FALSE, nullptr));

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
    info->waveInCallback = &SoundTrack::WaveInCallback;
    info->waveInCallbackData = soundTrack.get();
}

CaptureEngine::~CaptureEngine()
{
    // Never destroy a running thread: it would go on using the parts freed below.
    CaptureStop();
    EndCapturing();
    captureThread.reset();
    soundTrack.reset();
    audioRecorder.reset();
    videoRecorder.reset();
    aviWriter.reset();
    soundGrabber.reset();
    screenGrabber.reset();
    info.reset();
    factory.reset();
}

void CaptureEngine::Trace(const std::string& line)
{
    log->Line(line);
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
    if (soundPrepared && !soundTrack->Allocate())
        return kErrGeneral;
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
    soundTrack->Release();
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
    return OrWriteFailed(why);
}

// ---- the capture loop ---------------------------------------------------------------------

int32_t CaptureEngine::CaptureThread::Run()
{
    return engine->CaptureLoop();
}

int32_t CaptureEngine::CaptureLoop()
{
    const uint32_t fps = uint32_t(info->framesPerSecond);
    const bool sound = soundPrepared;
    const uint32_t start = clock->Now();
    FramePacing pacing(fps, start);
    const float period = pacing.Period();
    bool grabFailing = false;
    if (sound)
        soundTrack->Start(start, fps, period);

    // A failure ends the loop before the next write; a stop ends it after the frame under way.
    while (!Failed()) {
        const uint32_t now = clock->Now();
        if (sound && soundTrack->FellSilent(now)) {
            Trace("The sound device has handed nothing back for two seconds");
            Fail(RecordingFailure{FailureKind::SoundDevice, 0});
            break;
        }
        if (const int32_t index = pacing.Due(now); index >= 0) {
            if (sound)
                soundTrack->BeforeFrame();
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
            if (sound && !Failed())
                soundTrack->AfterFrame();
            if (Failed())
                break;  // the counters keep the last frame that was written
            pacing.Written(index, now);
            PublishCounters(pacing.Elapsed(now), pacing.Skipped());
        }

        if (IsPaused()) {
            const uint32_t pauseStart = clock->Now();
            if (sound)
                soundTrack->Pause(pauseStart);
            while (IsPaused() && !captureThread->TerminateRequested() && !Failed()) {
                clock->Wait(wake.get(), sound ? DWORD(period) : CaptureClock::kForever);
                if (sound)
                    soundTrack->DuringPause();
            }
            // A stop during the pause ends the recording where it paused.
            if (!captureThread->TerminateRequested()) {
                const uint32_t resumed = clock->Now();
                pacing.Resume(pauseStart, resumed);
                if (sound)
                    soundTrack->Resume(resumed);
            }
        } else if (!captureThread->TerminateRequested() && !Failed()) {
            // Sleep until the next frame slot begins; a pause or a stop wakes us early.
            if (const uint32_t wait = pacing.UntilNext(clock->Now()))
                clock->Wait(wake.get(), DWORD(wait));
        }
        if (captureThread->TerminateRequested())
            break;
    }

    if (sound)
        soundTrack->Finish(pacing.LastIndex());
    Trace("BREAKING OUT");
    Trace("************BRoken OUT********");
    if (!EndCapturing())
        Fail(WriterFailure());  // the last part of the file did not reach the disk
    keptMilliseconds.store(aviWriter->KeptVideoFrames() * 1000 / int64_t(fps));
    // One entry, so that no other line comes between its lines; the log ends it.
    const std::string report = pacing.Report();
    Trace(report.substr(0, report.size() - 1));
    if (const RecordingFailure why = failure.load()) {
        Trace(EndedLine(why));
        state.fetch_and(~Paused.value);  // the next recording does not begin paused
        if (noticeWindow)
            ::PostMessageA(noticeWindow, noticeMessage, 0, 0);
    }
    return 1;
}
