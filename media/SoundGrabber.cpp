#include "media/SoundGrabber.h"

#include "diag/DebugTrace.h"

#include <algorithm>
#include <string>

namespace {

constexpr int32_t kFormatRefused = 8;       // start error "The wave format requested is not supported"
constexpr int32_t kNoDevice = 9;            // start error "No sound input device was found"
constexpr int32_t kDeviceRefused = 1;       // start error "A General Vorlux error occurred"
constexpr int kCloseAttempts = 50;          // a device that never closes is forgotten after these
constexpr DWORD kCloseRetryMs = 10;
constexpr UINT kHeaderSize = sizeof(WAVEHDR);

static_assert(sizeof(VWaveFormatEx) == sizeof(WAVEFORMATEX));

class WinmmWaveIn : public WaveInApi {
public:
    MMRESULT Open(HWAVEIN* device, const WAVEFORMATEX* format, DWORD_PTR callback, DWORD_PTR instance,
                  DWORD flags) override
    {
        return ::waveInOpen(device, WAVE_MAPPER, format, callback, instance, flags);
    }
    MMRESULT PrepareHeader(HWAVEIN device, WAVEHDR* header, UINT size) override
    {
        return ::waveInPrepareHeader(device, header, size);
    }
    MMRESULT AddBuffer(HWAVEIN device, WAVEHDR* header, UINT size) override
    {
        return ::waveInAddBuffer(device, header, size);
    }
    MMRESULT UnprepareHeader(HWAVEIN device, WAVEHDR* header, UINT size) override
    {
        return ::waveInUnprepareHeader(device, header, size);
    }
    MMRESULT Start(HWAVEIN device) override { return ::waveInStart(device); }
    MMRESULT Stop(HWAVEIN device) override { return ::waveInStop(device); }
    MMRESULT Reset(HWAVEIN device) override { return ::waveInReset(device); }
    MMRESULT Close(HWAVEIN device) override { return ::waveInClose(device); }
};

// The start error for a refused open or query: the wave mapper answers these two when there is
// no wave-in device to map to.
int32_t StartErrorOf(MMRESULT result, int32_t otherwise)
{
    switch (result) {
    case MMSYSERR_NOERROR:
        return 0;
    case MMSYSERR_BADDEVICEID:
    case MMSYSERR_NODRIVER:
        return kNoDevice;
    case WAVERR_BADFORMAT:
        return kFormatRefused;
    default:
        return otherwise;
    }
}

const char* CloseFailureReason(MMRESULT result)
{
    switch (result) {
    case MMSYSERR_INVALHANDLE:
        return "Specified device handle is invalid.";
    case MMSYSERR_NODRIVER:
        return "No device driver is present.";
    case MMSYSERR_NOMEM:
        return "Unable to allocate or lock memory.";
    case WAVERR_STILLPLAYING:
        return "There are still buffers in the queue.";
    default:
        return nullptr;
    }
}

}  // namespace

std::unique_ptr<WaveInApi> MakeWinmmWaveIn()
{
    return std::make_unique<WinmmWaveIn>();
}

SoundGrabber::SoundGrabber(CaptureInfo& info) : SoundGrabber(info, nullptr) {}

SoundGrabber::SoundGrabber(CaptureInfo& info, std::unique_ptr<WaveInApi> waveIn)
    : info(info),
      format(info.waveFormat),
      waveIn(waveIn ? std::move(waveIn) : MakeWinmmWaveIn()),
      log(&ProgramLog())
{
}

SoundGrabber::~SoundGrabber() = default;

void SoundGrabber::Trace(const char* text)
{
    DebugTrace("%s", text);
}

void SoundGrabber::Fail(const char* text)
{
    log->Line(text);
}

int32_t SoundGrabber::CheckConfig()
{
    const MMRESULT result = waveIn->Open(nullptr, Format(), 0, 0, WAVE_FORMAT_QUERY);
    Trace("CheckConfig: waveInOpen");
    return StartErrorOf(result, kFormatRefused);
}

int32_t SoundGrabber::InitCapturing()
{
    // A device left open by an earlier recording would otherwise leak.
    EndCapturing();
    HWAVEIN opened = nullptr;
    const MMRESULT result = waveIn->Open(&opened, Format(), reinterpret_cast<DWORD_PTR>(info.waveInCallback),
                                         reinterpret_cast<DWORD_PTR>(info.waveInCallbackData), CALLBACK_FUNCTION);
    Trace("InitCapturing: waveInOpen");
    if (result != MMSYSERR_NOERROR) {
        Fail("WaveInOpen FAILED");
        return StartErrorOf(result, kDeviceRefused);
    }
    device.reset(opened);
    return 0;
}

bool SoundGrabber::AddBuffer(WAVEHDR* header)
{
    if (waveIn->PrepareHeader(device.get(), header, kHeaderSize) != MMSYSERR_NOERROR) {
        Fail("WaveInPrepareHeader FAILED");
        return false;
    }
    if (std::find(prepared.begin(), prepared.end(), header) == prepared.end())
        prepared.push_back(header);
    if (waveIn->AddBuffer(device.get(), header, kHeaderSize) != MMSYSERR_NOERROR) {
        Fail("WaveInAddBuffer FAILED");
        return false;
    }
    return true;
}

void SoundGrabber::UnprepareBuffer(WAVEHDR* header)
{
    if (waveIn->UnprepareHeader(device.get(), header, kHeaderSize) != MMSYSERR_NOERROR) {
        Fail("WaveInUnprepareHeader FAILED");
        return;
    }
    Forget(header);
}

void SoundGrabber::Forget(WAVEHDR* header)
{
    prepared.erase(std::remove(prepared.begin(), prepared.end(), header), prepared.end());
}

bool SoundGrabber::Start()
{
    const MMRESULT result = waveIn->Start(device.get());
    Trace("Start: waveInStart");
    if (result != MMSYSERR_NOERROR) {
        Fail("WaveInStart FAILED");
        return false;
    }
    return true;
}

void SoundGrabber::Stop()
{
    // Stopping first hands back the buffer being filled with what it holds.
    MMRESULT result = waveIn->Stop(device.get());
    Trace("Stop: waveInStop");
    if (result != MMSYSERR_NOERROR) {
        Fail("WaveInStop FAILED");
        return;
    }
    result = waveIn->Reset(device.get());
    Trace("Stop: waveInReset");
    if (result != MMSYSERR_NOERROR)
        Fail("WaveInReset FAILED");
}

// The engine frees the buffers after this: none may stay queued or prepared.
void SoundGrabber::ReleaseBuffers()
{
    const bool queued = std::any_of(prepared.begin(), prepared.end(),
                                    [](const WAVEHDR* h) { return (h->dwFlags & WHDR_INQUEUE) != 0; });
    if (queued) {
        const MMRESULT result = waveIn->Reset(device.get());
        Trace("EndCapturing: waveInReset");
        if (result != MMSYSERR_NOERROR)
            Fail("WaveInReset FAILED");
    }
    for (WAVEHDR* header : prepared)
        if (waveIn->UnprepareHeader(device.get(), header, kHeaderSize) != MMSYSERR_NOERROR)
            Fail("WaveInUnprepareHeader FAILED");
    prepared.clear();
}

void SoundGrabber::ReportCloseFailure(MMRESULT result)
{
    Fail("WaveInClose FAILED");
    if (const char* reason = CloseFailureReason(result))
        Fail(reason);
}

void SoundGrabber::EndCapturing()
{
    if (!device) {
        prepared.clear();
        return;
    }
    ReleaseBuffers();
    MMRESULT result = waveIn->Close(device.get());
    Trace("EndCapturing: waveInClose");
    if (result != MMSYSERR_NOERROR) {
        ReportCloseFailure(result);
        for (int attempt = 1; attempt < kCloseAttempts && result != MMSYSERR_NOERROR; ++attempt) {
            ::Sleep(kCloseRetryMs);
            result = waveIn->Close(device.get());
            Trace("EndCapturing: waveInClose");
            Fail("trying to waveclose again");
        }
        if (result != MMSYSERR_NOERROR)
            Fail("WaveInClose gave up: device forgotten");
    }
    // Closed, or never to be closed: either way no longer the grabber's.
    device.release();
}
