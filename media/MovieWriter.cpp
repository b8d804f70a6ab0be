#include "media/MovieWriter.h"

#include "common/VorState.h"
#include "media/avi/AviFormat.h"
#include "media/avi/GifFormat.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace {

constexpr char kGifExtension[] = ".gif";
constexpr const char* kAsideSuffixes[] = {".previous", ".previous1", ".previous2", ".previous3"};
constexpr size_t kBitmapHeaderBytes = 40;
constexpr size_t kColourTableBytes = 256 * 4;

}  // namespace

bool IsGifMovieName(const std::string& path)
{
    const size_t n = std::strlen(kGifExtension);
    if (path.size() < n)
        return false;
    return std::equal(path.end() - ptrdiff_t(n), path.end(), kGifExtension,
                      [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
}

// A stream of the GIF: the video one takes the frames' format and the frames, the sound one
// takes its buffers and keeps none. The writer does the work; the stream only says which.
class MovieWriter::GifStream final : public avi::Stream {
public:
    explicit GifStream(bool isVideo, int fps) : isVideo(isVideo), fps(fps) {}
    int SetFormat(int32_t, const void*, int32_t) override { return avi::kErrorReleased; }
    int Write(int32_t, int32_t, const void*, int32_t, uint32_t, int32_t*, int32_t*) override
    {
        return avi::kErrorReleased;
    }

    const bool isVideo;
    const int fps;
    int width = 0, height = 0, bits = 0;
    std::vector<uint32_t> table = std::vector<uint32_t>(256, 0);
};

MovieWriter::MovieWriter() = default;
MovieWriter::~MovieWriter() = default;

bool MovieWriter::Open()
{
    if (FileOpen.IsSet(state))
        return true;
    gifMode = IsGifMovieName(fileName);
    if (!gifMode)
        return AVIWriter::Open();
    Initialized.Set(state);
    failure = RecordingFailure{};
    keptVideoFrames = 0;
    // As for an AVI: a file of that name is moved aside until the start is settled.
    const DWORD attributes = ::GetFileAttributesA(fileName.c_str());
    const bool existed = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    gifAside.clear();
    for (const char* suffix : kAsideSuffixes) {
        if (existed && ::MoveFileExA(fileName.c_str(), (fileName + suffix).c_str(), 0)) {
            gifAside = fileName + suffix;
            break;
        }
    }
    gifFile = CreateGifFile(fileName);
    if (!gifFile) {
        if (!gifAside.empty())
            ::MoveFileExA(gifAside.c_str(), fileName.c_str(), 0);
        gifAside.clear();
        return false;
    }
    gifCreated = !existed || !gifAside.empty() ? fileName : std::string();
    FileOpen.Set(state);
    return true;
}

std::unique_ptr<avi::OutputFile> MovieWriter::CreateGifFile(const std::string& path)
{
    return avi::CreateDiskFile(path);
}

bool MovieWriter::WriteHeaders()
{
    if (!gifMode)
        return AVIWriter::WriteHeaders();
    if (!gifFile || !video || !avi::GifWriter::SizeFits(video->width, video->height))
        return false;
    gif = std::make_unique<avi::GifWriter>(*gifFile, video->width, video->height, video->bits, video->fps);
    gif->SetColourTable(video->table.data(), int(video->table.size()));
    if (!gif->Begin()) {
        NoteGifFailure();
        return false;
    }
    return true;
}

void MovieWriter::NoteGifFailure()
{
    if (failure)
        return;
    const RecordingFailure why = gif ? gif->FirstError() : RecordingFailure{};
    std::printf("GIF file FAILED (system code %d)\n", why.systemCode);
    std::fflush(stdout);
    failure = OrWriteFailed(why);
}

bool MovieWriter::Close()
{
    if (!gifMode)
        return AVIWriter::Close();
    bool closed = true;
    if (FileOpen.IsSet(state)) {
        // Every frame is on disk with the trailer after it: closing only lets the file go.
        if (gifFile && !gifFile->Close()) {
            const RecordingFailure why = gifFile->LastError();
            if (!failure)
                failure = OrWriteFailed(why);
            closed = false;
        }
        keptVideoFrames = gif ? gif->CoveredSlots() : 0;
        gif.reset();
        gifFile.reset();
        FileOpen.Clear(state);
    }
    video.reset();
    sound.reset();
    Initialized.Clear(state);
    return closed;
}

void MovieWriter::SettleStart(bool started)
{
    if (!gifMode) {
        AVIWriter::SettleStart(started);
        return;
    }
    if (started) {
        if (!gifAside.empty() && !::DeleteFileA(gifAside.c_str()))
            std::printf("The replaced movie %s could not be deleted (%lu)\n", gifAside.c_str(), ::GetLastError());
        gifAside.clear();
        gifCreated.clear();
        return;
    }
    Close();
    if (!gifCreated.empty() && !::DeleteFileA(gifCreated.c_str()))
        std::printf("The movie of a failed start, %s, could not be removed (%lu)\n", gifCreated.c_str(),
                    ::GetLastError());
    if (!gifCreated.empty() && !gifAside.empty() && !::MoveFileExA(gifAside.c_str(), gifCreated.c_str(), 0))
        std::printf("The replaced movie stays at %s (%lu)\n", gifAside.c_str(), ::GetLastError());
    gifAside.clear();
    gifCreated.clear();
}

bool MovieWriter::CreateStream(avi::Stream*& stream, const VAVIStreamInfo& header)
{
    if (!gifMode)
        return AVIWriter::CreateStream(stream, header);
    stream = nullptr;
    if (!FileOpen.IsSet(state))
        return false;
    const bool isVideo = header.fccType == avi::kFccVids;
    auto& slot = isVideo ? video : sound;
    if (slot)
        return false;  // one stream of each kind
    const int fps = header.dwScale ? int(header.dwRate / header.dwScale) : 0;
    if (isVideo && (fps < 1 || header.dwRate % header.dwScale != 0))
        return false;  // GIF times are whole frame slots of a whole rate
    slot = std::make_unique<GifStream>(isVideo, fps);
    stream = slot.get();
    return true;
}

bool MovieWriter::ReleaseStream(avi::Stream* stream)
{
    return gifMode || AVIWriter::ReleaseStream(stream);
}

bool MovieWriter::MakeCompressedStream(avi::Stream*& stream, avi::Stream* source, const VAVICompressOptions& options)
{
    if (!gifMode)
        return AVIWriter::MakeCompressedStream(stream, source, options);
    // The GIF writer is the compressor.
    stream = source && source == video.get() ? source : nullptr;
    return stream != nullptr;
}

bool MovieWriter::SetStreamFormat(avi::Stream* stream, int32_t position, const void* format, int32_t bytes)
{
    if (!gifMode)
        return AVIWriter::SetStreamFormat(stream, position, format, bytes);
    if (!stream || stream == sound.get())
        return stream != nullptr;
    if (stream != video.get() || !format || bytes < int32_t(kBitmapHeaderBytes) || position != 0 || gif)
        return false;
    VBitmapInfoHeader h;
    std::memcpy(&h, format, sizeof h);
    video->width = h.biWidth;
    video->height = h.biHeight;
    video->bits = h.biBitCount;
    // The colour table follows the header as blue, green, red, reserved.
    const auto* table = static_cast<const uint8_t*>(format) + kBitmapHeaderBytes;
    if (h.biBitCount == 8 && size_t(bytes) >= kBitmapHeaderBytes + kColourTableBytes)
        for (size_t i = 0; i < 256; ++i)
            video->table[i] = uint32_t(table[4 * i + 2]) << 16 | uint32_t(table[4 * i + 1]) << 8 | table[4 * i];
    return avi::GifWriter::SizeFits(video->width, video->height);
}

bool MovieWriter::WriteStream(avi::Stream* stream, int32_t start, int32_t samples, const void* data, int32_t bytes,
                              uint32_t flags, int32_t* samplesWritten, int32_t* bytesWritten)
{
    if (!gifMode)
        return AVIWriter::WriteStream(stream, start, samples, data, bytes, flags, samplesWritten, bytesWritten);
    if (samplesWritten)
        *samplesWritten = 0;
    if (bytesWritten)
        *bytesWritten = 0;
    if (!stream || (stream != video.get() && stream != sound.get()))
        return false;
    if (stream == video.get()) {
        if (!gif || bytes < 0 || !gif->WriteFrame(data, size_t(bytes), start)) {
            NoteGifFailure();
            return false;
        }
    }
    if (samplesWritten)
        *samplesWritten = samples;
    if (bytesWritten)
        *bytesWritten = bytes;
    return true;
}

uint64_t MovieWriter::FileBytes() const
{
    if (!gifMode)
        return AVIWriter::FileBytes();
    return gif ? gif->Bytes() : 0;
}

int32_t MovieVideoRecorder::CheckConfig()
{
    const VBitmapInfoHeader& h = info.bitmapInfo.bmiHeader;
    if (IsGifMovieName(info.fileName) && !avi::GifWriter::SizeFits(h.biWidth, h.biHeight))
        return kErrGifTooLarge;
    return VideoRecorder::CheckConfig();
}
