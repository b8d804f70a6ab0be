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

CaptureEngine::CaptureEngine(std::unique_ptr<CaptureFactory> factory, std::unique_ptr<CaptureClock> clock)
    : factory_(std::move(factory)), clock_(std::move(clock)), trace_(&std::cout)
{
    if (!factory_)
        throw VorExcept{1, ""};

    info_ = factory_->CreateCaptureInfo();
    screenGrabber_ = factory_->CreateScreenGrabber(*info_);
    soundGrabber_ = factory_->CreateSoundGrabber(*info_);
    aviWriter_ = factory_->CreateAVIWriter();
    videoRecorder_ = factory_->CreateVideoRecorder(*aviWriter_, *info_);
    audioRecorder_ = factory_->CreateAudioRecorder(*aviWriter_, *info_);
    captureThread_ = std::make_unique<CaptureThread>(this);
    if (!clock_)
        clock_ = std::make_unique<SystemClock>();
    wake_.reset(::CreateEventA(nullptr, FALSE, FALSE, nullptr));

    VBitmapInfoHeader& h = info_->bitmapInfo.bmiHeader;
    h.biWidth = info_->minWidth;
    h.biHeight = info_->minHeight;
    h.biPlanes = 1;
    h.biBitCount = uint16_t(ScreenBitsPerPixel());
    h.biCompression = 0;
    h.biSizeImage = 0;
    h.biXPelsPerMeter = h.biYPelsPerMeter = 0;
    h.biClrUsed = h.biBitCount == 8 ? 256 : 0;
    h.biClrImportant = 0;
    info_->frameBytes = int32_t(h.biSizeImage);
    SetWaveFormat(1, 11025, 8);
    SetFramesPerSecond(kDefaultFramesPerSecond);
    info_->soundBufferBytes = int32_t(info_->waveFormat.nAvgBytesPerSec / uint32_t(info_->framesPerSecond));
    info_->waveInCallback = &CaptureEngine::WaveInCallback;
    info_->waveInCallbackData = this;
}

CaptureEngine::~CaptureEngine()
{
    // Never destroy a running thread: it would go on using the parts freed below.
    CaptureStop();
    EndCapturing();
    filledBuffers_.Clear();
    captureThread_.reset();
    audioRecorder_.reset();
    videoRecorder_.reset();
    aviWriter_.reset();
    soundGrabber_.reset();
    screenGrabber_.reset();
    info_.reset();
    factory_.reset();
}

void CaptureEngine::SetTraceStream(std::ostream& out)
{
    std::lock_guard<std::mutex> hold(traceMutex_);
    trace_ = &out;
}

void CaptureEngine::Trace(const std::string& line)
{
    std::lock_guard<std::mutex> hold(traceMutex_);
    *trace_ << line << std::endl;
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
    if (width < info_->minWidth || height < info_->minHeight)
        return false;
    if (!FrameSizeAcceptable(int32_t(width), int32_t(height), info_->bitmapInfo.bmiHeader.biBitCount))
        return false;
    info_->origin = VPoint{r.left, r.top};
    info_->bitmapInfo.bmiHeader.biWidth = int32_t(width);
    info_->bitmapInfo.bmiHeader.biHeight = int32_t(height);
    return true;
}

VRect CaptureEngine::GetCaptureRect() const
{
    const VBitmapInfoHeader& h = info_->bitmapInfo.bmiHeader;
    return VRect{info_->origin.x, info_->origin.y, info_->origin.x + h.biWidth, info_->origin.y + h.biHeight};
}

bool CaptureEngine::SetBitDepth(int16_t bits)
{
    if (bits != 8 && bits != 16 && bits != 24)
        return false;
    VBitmapInfoHeader& h = info_->bitmapInfo.bmiHeader;
    if (!FrameSizeAcceptable(h.biWidth, h.biHeight, bits))
        return false;
    h.biBitCount = uint16_t(bits);
    h.biClrUsed = bits == 8 ? 256 : 0;
    return true;
}

uint16_t CaptureEngine::GetBitDepth() const
{
    return info_->bitmapInfo.bmiHeader.biBitCount;
}

bool CaptureEngine::SetFramesPerSecond(int32_t fps)
{
    // The rate divides the frame period and the sound buffer size.
    if (fps < 1)
        return false;
    info_->framesPerSecond = fps;
    return true;
}

int32_t CaptureEngine::GetFramesPerSecond() const
{
    return info_->framesPerSecond;
}

bool CaptureEngine::SetCaptureMode(int32_t mode)
{
    info_->captureMode = mode;
    return true;
}

int32_t CaptureEngine::GetCaptureMode() const
{
    return info_->captureMode;
}

bool CaptureEngine::SetKeyFrameEvery(int32_t frames)
{
    info_->keyFrameEvery = frames == -1 ? kDefaultKeyFrameEvery : frames;
    return true;
}

int32_t CaptureEngine::GetKeyFrameEvery() const
{
    return info_->keyFrameEvery;
}

bool CaptureEngine::SetPanMargin(int32_t margin)
{
    if (margin < 0 || margin > kMaxPanMargin)
        return false;
    info_->panMargin = margin;
    return true;
}

int32_t CaptureEngine::GetPanMargin() const
{
    return info_->panMargin;
}

bool CaptureEngine::SetCompressor(uint32_t fourcc)
{
    info_->compressor = fourcc;
    return true;
}

uint32_t CaptureEngine::GetCompressor() const
{
    return info_->compressor;
}

bool CaptureEngine::SetDrawCursor(bool draw)
{
    info_->drawCursor = draw;
    return true;
}

bool CaptureEngine::SetAttachCursorThread(int attach)
{
    info_->attachCursorThread = attach != 0;
    return true;
}

bool CaptureEngine::SetFileName(const char* path)
{
    info_->fileName = path ? path : "";
    return true;
}

const char* CaptureEngine::GetFileName() const
{
    return info_->fileName.c_str();
}

bool CaptureEngine::SetRecordSound(bool record)
{
    info_->recordSound = record;
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
    VWaveFormatEx& f = info_->waveFormat;
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
        std::memcpy(format, &info_->waveFormat, sizeof(VWaveFormatEx));
    return true;
}

// ---- commands -----------------------------------------------------------------------------

int32_t CaptureEngine::BeginCapture()
{
    Trace("In BeginCapture");
    if (int32_t code = CheckConfig())
        return code;

    if (!Initialized.IsSet(state_.load())) {
        if (int32_t code = InitCapturing()) {
            EndCapturing();
            return code;
        }
    }
    Trace("In BeginCapture:after Init");
    Trace("In BeginCapture:before start");

    int32_t result = kStartOk;
    ::ResetEvent(wake_.get());
    try {
        threadHandle_ = captureThread_->Start();
    } catch (const BaseThread::BaseThreadError&) {
        threadHandle_ = nullptr;
        result = kErrThread;
    }
    Trace("In BeginCapture:AfterStart");
    return result;
}

int32_t CaptureEngine::CheckConfig()
{
    if (int32_t code = screenGrabber_->CheckConfig())
        return code;
    if (int32_t code = aviWriter_->CheckConfig())
        return code;
    if (int32_t code = videoRecorder_->CheckConfig())
        return code;
    if (info_->recordSound) {
        if (int32_t code = soundGrabber_->CheckConfig())
            return code;
        if (int32_t code = audioRecorder_->CheckConfig())
            return code;
    }
    return kStartOk;
}

int32_t CaptureEngine::InitCapturing()
{
    // Whatever is prepared here is released by EndCapturing, whatever the settings are by then.
    soundPrepared_ = info_->recordSound;

    screenGrabber_->InitCapturing();
    if (soundPrepared_)
        soundGrabber_->InitCapturing();
    aviWriter_->SetFileName(info_->fileName.c_str());
    if (!aviWriter_->Open())
        return kErrFileOpen;  // recording into nothing would be a failure reported as success
    videoRecorder_->InitCapturing(info_->compressor);
    if (soundPrepared_)
        audioRecorder_->InitCapturing();

    const VBitmapInfoHeader& h = info_->bitmapInfo.bmiHeader;
    const uint64_t frameBytes = DibFrameBytes(h.biWidth, h.biHeight, h.biBitCount);
    if (frameBytes == 0 || frameBytes > kMaxFrameBytes || !frameBuffer_.Allocate(size_t(frameBytes)))
        return kErrGeneral;
    info_->frameBytes = int32_t(frameBytes);

    info_->soundBufferBytes = int32_t(info_->waveFormat.nAvgBytesPerSec / uint32_t(info_->framesPerSecond));
    if (soundPrepared_) {
        for (int i = 0; i < kSoundBuffers; ++i) {
            auto buffer = std::unique_ptr<SoundBuffer>(new (std::nothrow) SoundBuffer);
            if (!buffer || !buffer->data.Allocate(size_t(info_->soundBufferBytes)))
                return kErrGeneral;
            buffer->header.lpData = reinterpret_cast<LPSTR>(buffer->data.Data());
            buffer->header.dwBufferLength = DWORD(info_->soundBufferBytes);
            allBuffers_.push_back(std::move(buffer));
        }
    }
    state_.fetch_or(Initialized.value);
    return kStartOk;
}

void CaptureEngine::EndCapturing()
{
    screenGrabber_->EndCapturing();
    if (soundPrepared_)
        soundGrabber_->EndCapturing();
    videoRecorder_->EndCapturing();
    if (soundPrepared_)
        audioRecorder_->EndCapturing();
    aviWriter_->Close();
    frameBuffer_.Free();
    {
        VCriticalSection::VLock hold(&lock_);
        filledBuffers_.Clear();
        allBuffers_.clear();
    }
    soundPrepared_ = false;
    state_.fetch_and(~Initialized.value);
    threadHandle_ = nullptr;
}

int32_t CaptureEngine::CaptureStop()
{
    if (captureThread_->State() == BaseThread::Running)
        captureThread_->RefreshState();
    if (captureThread_->State() != BaseThread::Running)
        return 0;

    captureThread_->Terminate();
    ::SetEvent(wake_.get());
    Trace("In CaptureStop - called Terminate");
    // The loop closes the file before its thread reports finished.
    while (captureThread_->RefreshState() == BaseThread::Running)
        captureThread_->Wait(INFINITE);
    state_.fetch_and(~Paused.value);  // the next recording does not begin paused
    return 1;
}

int32_t CaptureEngine::TogglePause()
{
    state_.fetch_xor(Paused.value);
    ::SetEvent(wake_.get());
    return 0;
}

bool CaptureEngine::IsPaused() const
{
    return Paused.IsSet(state_.load());
}

bool CaptureEngine::SaveFrame(const char* path)
{
    if (!path)
        return false;
    return screenGrabber_->SaveFrame(path);
}

// ---- sound buffers ------------------------------------------------------------------------

bool CaptureEngine::HeaderQueue::Push(WAVEHDR* h)
{
    if (count_ == kSoundBuffers)
        return false;
    items_[(head_ + count_) % kSoundBuffers] = h;
    ++count_;
    return true;
}

WAVEHDR* CaptureEngine::HeaderQueue::Pop()
{
    if (count_ == 0)
        return nullptr;
    WAVEHDR* h = items_[head_];
    head_ = (head_ + 1) % kSoundBuffers;
    --count_;
    return h;
}

void __stdcall CaptureEngine::WaveInCallback(void*, unsigned message, uintptr_t instance, uintptr_t param1, uintptr_t)
{
    if (message != kWimData || param1 == 0)
        return;
    auto* engine = reinterpret_cast<CaptureEngine*>(instance);
    VCriticalSection::VLock hold(&engine->lock_);
    engine->filledBuffers_.Push(reinterpret_cast<WAVEHDR*>(param1));
}

void CaptureEngine::WriteSoundBuffer(WAVEHDR* header, uint32_t samples, bool withCount)
{
    if (!header)
        return;
    soundGrabber_->UnprepareBuffer(header);
    std::ostringstream line;
    line << "WaveHeader samples rec: " << header->dwBytesRecorded << " Size " << header->dwBufferLength;
    if (withCount)
        line << "list " << filledBuffers_.Size();
    Trace(line.str());
    audioRecorder_->WriteSound(header->lpData, header->dwBytesRecorded, samples, -1);
    soundGrabber_->AddBuffer(header);
}

// ---- the capture loop ---------------------------------------------------------------------

int32_t CaptureEngine::CaptureThread::Run()
{
    return engine_->CaptureLoop();
}

int32_t CaptureEngine::CaptureLoop()
{
    const uint32_t fps = uint32_t(info_->framesPerSecond);
    const float period = float(1000 / fps);  // whole milliseconds: 15 fps gives 66
    const bool sound = soundPrepared_;
    uint32_t start = clock_->Now();
    int32_t lastIndex = -1;
    uint32_t lastTime = 0;
    int32_t skipped = 0;
    int32_t captured = 0;
    int32_t tooEarly = 0;

    if (sound) {
        for (auto& buffer : allBuffers_)
            soundGrabber_->AddBuffer(&buffer->header);
        soundGrabber_->Start();
    }

    do {
        const uint32_t now = clock_->Now();
        // Double keeps the index exact past the 2^24 ms a float holds without loss.
        const auto index = int32_t(double(uint32_t(now - start)) / double(period));
        if (index > lastIndex) {
            VCriticalSection::VLock hold(&lock_);
            const uint32_t samplesPerFrame = info_->waveFormat.nSamplesPerSec / fps;
            if (index - lastIndex - 1 > 0)
                skipped += index - lastIndex - 1;
            if (sound) {
                if (filledBuffers_.Size() == size_t(kSoundBuffers))
                    Trace("!!!!!!!SOUND BUFFER LOST!!!!!!!");
                while (filledBuffers_.Size() > 1) {
                    VCriticalSection::VLock inner(&lock_);
                    if (filledBuffers_.Size() > 0)
                        WriteSoundBuffer(filledBuffers_.Pop(), samplesPerFrame, true);
                }
            }
            screenGrabber_->GrabFrame(frameBuffer_.Data(), uint32_t(frameBuffer_.Size()));
            if (!videoRecorder_->WriteFrame(frameBuffer_.Data(), uint32_t(frameBuffer_.Size()), index))
                Trace("couldn't write bits!");
            if (sound) {
                VCriticalSection::VLock inner(&lock_);
                if (filledBuffers_.Size() > 0)
                    WriteSoundBuffer(filledBuffers_.Pop(), samplesPerFrame, false);
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
            const uint32_t pauseStart = clock_->Now();
            while (IsPaused() && !captureThread_->TerminateRequested())
                clock_->Wait(wake_.get(), CaptureClock::kForever);
            // A stop during the pause ends the recording where it paused.
            if (!captureThread_->TerminateRequested())
                start += clock_->Now() - pauseStart;
        } else if (!captureThread_->TerminateRequested()) {
            // Sleep until the next frame slot begins; a pause or a stop wakes us early.
            const uint64_t due = uint64_t(double(lastIndex + 1) * double(period));
            const uint32_t elapsed = clock_->Now() - start;
            if (elapsed < due)
                clock_->Wait(wake_.get(), DWORD(due - elapsed));
        }
    } while (!captureThread_->TerminateRequested());

    if (sound)
        soundGrabber_->Stop();
    Trace("BREAKING OUT");
    Trace("************BRoken OUT********");
    EndCapturing();

    {
        VCriticalSection::VLock hold(&lock_);
        std::ostringstream report;
        report << "\nFrames skipped:   " << skipped << "\nFrames captured:  " << captured
               << "\nTooEarly:         " << tooEarly << "\nPrevFrame written:" << lastIndex
               << "\nTotal Time:       " << float(double(lastTime - start) * 0.001) << "\n";
        std::lock_guard<std::mutex> traceHold(traceMutex_);
        *trace_ << report.str() << std::flush;
    }
    return 1;
}
