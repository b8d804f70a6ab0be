#include "engine/CaptureEngine.h"

#include "media/AVIWriter.h"
#include "media/ScreenGrabber.h"
#include "media/SoundGrabber.h"

#include <iostream>
#include <sstream>

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
    if (bits != 8 && bits != 16 && bits != 24)
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

    if (!Initialized.IsSet(state.load())) {
        if (int32_t code = InitCapturing()) {
            EndCapturing();
            return code;
        }
    }
    Trace("In BeginCapture:after Init");
    Trace("In BeginCapture:before start");

    int32_t result = kStartOk;
    ::ResetEvent(wake.get());
    try {
        threadHandle = captureThread->Start();
    } catch (const BaseThread::BaseThreadError&) {
        threadHandle = nullptr;
        result = kErrThread;
    }
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
    if (soundPrepared)
        soundGrabber->InitCapturing();
    aviWriter->SetFileName(info->fileName.c_str());
    if (!aviWriter->Open())
        return kErrFileOpen;  // recording into nothing would be a failure reported as success
    videoRecorder->InitCapturing(info->compressor);
    if (soundPrepared)
        audioRecorder->InitCapturing();

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

void CaptureEngine::EndCapturing()
{
    screenGrabber->EndCapturing();
    if (soundPrepared)
        soundGrabber->EndCapturing();
    videoRecorder->EndCapturing();
    if (soundPrepared)
        audioRecorder->EndCapturing();
    aviWriter->Close();
    frameBuffer.Free();
    {
        VCriticalSection::VLock hold(&lock);
        filledBuffers.Clear();
        allBuffers.clear();
    }
    soundPrepared = false;
    state.fetch_and(~Initialized.value);
    threadHandle = nullptr;
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

bool CaptureEngine::SaveFrame(const char* path)
{
    if (!path)
        return false;
    return screenGrabber->SaveFrame(path);
}

// ---- sound buffers ------------------------------------------------------------------------

bool CaptureEngine::HeaderQueue::Push(WAVEHDR* h)
{
    if (count == kSoundBuffers)
        return false;
    items[(head + count) % kSoundBuffers] = h;
    ++count;
    return true;
}

WAVEHDR* CaptureEngine::HeaderQueue::Pop()
{
    if (count == 0)
        return nullptr;
    WAVEHDR* h = items[head];
    head = (head + 1) % kSoundBuffers;
    --count;
    return h;
}

void __stdcall CaptureEngine::WaveInCallback(void*, unsigned message, uintptr_t instance, uintptr_t param1, uintptr_t)
{
    if (message != kWimData || param1 == 0)
        return;
    auto* engine = reinterpret_cast<CaptureEngine*>(instance);
    VCriticalSection::VLock hold(&engine->lock);
    engine->filledBuffers.Push(reinterpret_cast<WAVEHDR*>(param1));
}

void CaptureEngine::WriteSoundBuffer(WAVEHDR* header, uint32_t samples, bool withCount)
{
    if (!header)
        return;
    soundGrabber->UnprepareBuffer(header);
    std::ostringstream line;
    line << "WaveHeader samples rec: " << header->dwBytesRecorded << " Size " << header->dwBufferLength;
    if (withCount)
        line << "list " << filledBuffers.Size();
    Trace(line.str());
    audioRecorder->WriteSound(header->lpData, header->dwBytesRecorded, samples, -1);
    soundGrabber->AddBuffer(header);
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
    uint32_t lastTime = 0;
    int32_t skipped = 0;
    int32_t captured = 0;
    int32_t tooEarly = 0;

    if (sound) {
        for (auto& buffer : allBuffers)
            soundGrabber->AddBuffer(&buffer->header);
        soundGrabber->Start();
    }

    do {
        const uint32_t now = clock->Now();
        // Double keeps the index exact past the 2^24 ms a float holds without loss.
        const auto index = int32_t(double(uint32_t(now - start)) / double(period));
        if (index > lastIndex) {
            VCriticalSection::VLock hold(&lock);
            const uint32_t samplesPerFrame = info->waveFormat.nSamplesPerSec / fps;
            if (index - lastIndex - 1 > 0)
                skipped += index - lastIndex - 1;
            if (sound) {
                if (filledBuffers.Size() == size_t(kSoundBuffers))
                    Trace("!!!!!!!SOUND BUFFER LOST!!!!!!!");
                while (filledBuffers.Size() > 1) {
                    VCriticalSection::VLock inner(&lock);
                    if (filledBuffers.Size() > 0)
                        WriteSoundBuffer(filledBuffers.Pop(), samplesPerFrame, true);
                }
            }
            screenGrabber->GrabFrame(frameBuffer.Data(), uint32_t(frameBuffer.Size()));
            if (!videoRecorder->WriteFrame(frameBuffer.Data(), uint32_t(frameBuffer.Size()), index))
                Trace("couldn't write bits!");
            if (sound) {
                VCriticalSection::VLock inner(&lock);
                if (filledBuffers.Size() > 0)
                    WriteSoundBuffer(filledBuffers.Pop(), samplesPerFrame, false);
                else
                    Trace("NO WAVE INFO!!!!");
            }
            lastTime = now;
            lastIndex = index;
            ++captured;
        } else {
            ++tooEarly;
        }

        if (IsPaused()) {
            const uint32_t pauseStart = clock->Now();
            while (IsPaused() && !captureThread->TerminateRequested())
                clock->Wait(wake.get(), CaptureClock::kForever);
            // A stop during the pause ends the recording where it paused.
            if (!captureThread->TerminateRequested())
                start += clock->Now() - pauseStart;
        } else if (!captureThread->TerminateRequested()) {
            // Sleep until the next frame slot begins; a pause or a stop wakes us early.
            const uint64_t due = uint64_t(double(lastIndex + 1) * double(period));
            const uint32_t elapsed = clock->Now() - start;
            if (elapsed < due)
                clock->Wait(wake.get(), DWORD(due - elapsed));
        }
    } while (!captureThread->TerminateRequested());

    if (sound)
        soundGrabber->Stop();
    Trace("BREAKING OUT");
    Trace("************BRoken OUT********");
    EndCapturing();

    {
        VCriticalSection::VLock hold(&lock);
        std::ostringstream report;
        report << "\nFrames skipped:   " << skipped << "\nFrames captured:  " << captured
               << "\nTooEarly:         " << tooEarly << "\nPrevFrame written:" << lastIndex
               << "\nTotal Time:       " << float(double(lastTime - start) * 0.001) << "\n";
        std::lock_guard<std::mutex> traceHold(traceMutex);
        *trace << report.str() << std::flush;
    }
    return 1;
}
