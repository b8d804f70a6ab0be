#include "media/AVIWriter.h"

#include "media/avi/AviFormat.h"

#include <windows.h>

#include <cstdio>

namespace {

constexpr char kVideoStreamName[] = "Vorlux 3 Video Stream";
constexpr char kAudioStreamName[] = "Vorlux 3 Audio Stream";
constexpr uint32_t kCompressFlags = 13;  // AVICOMPRESSF_VALID | AVICOMPRESSF_KEYFRAMES | AVICOMPRESSF_INTERLEAVE
constexpr uint32_t kBestQuality = 10000;

// Where a file about to be replaced waits beside itself: the first free of these suffixes.
constexpr const char* kAsideSuffixes[] = {".previous", ".previous1", ".previous2", ".previous3"};

bool IsPlainFile(const std::string& path)
{
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The new name of the moved file, or empty text when nothing could be moved.
std::string MoveAside(const std::string& path)
{
    for (const char* suffix : kAsideSuffixes) {
        const std::string aside = path + suffix;
        if (::MoveFileExA(path.c_str(), aside.c_str(), 0))
            return aside;
    }
    return {};
}

// The file service's results: the muxer's statuses and the service's own.
const char* ResultText(int result)
{
    switch (result) {
    case avi::kErrorReleased:
        return "the stream was released";
    case avi::kErrorNoFormat:
        return "the stream has no format";
    case avi::kErrorShortFrame:
        return "fewer bytes than a frame";
    default:
        return avi::StatusText(avi::Status(result));
    }
}

}  // namespace

AVIWriter::AVIWriter() = default;
AVIWriter::~AVIWriter() = default;

int32_t AVIWriter::CheckConfig()
{
    return 0;
}

bool AVIWriter::SetFileName(const char* path)
{
    fileName = path ? path : "";
    return true;
}

bool AVIWriter::Open()
{
    if (!Initialized.IsSet(state))
        Initialized.Set(state);
    if (FileOpen.IsSet(state))
        return true;
    failure = RecordingFailure{};
    keptVideoFrames = 0;
    // Only a file this writer creates is its to remove: one that was there and could not be
    // moved aside is overwritten, as it always was, and left in place by a failed start.
    const bool existed = IsPlainFile(fileName);
    asidePath = existed ? MoveAside(fileName) : std::string();
    file = CreateMovieFile(fileName);
    if (!file) {
        PutBackReplaced(fileName);
        return false;
    }
    createdPath = !existed || !asidePath.empty() ? fileName : std::string();
    FileOpen.Set(state);
    return true;
}

bool AVIWriter::WriteHeaders()
{
    if (!file)
        return false;
    const int rc = file->Begin();
    if (rc != 0)
        NoteFailure(rc);
    return rc == 0;
}

void AVIWriter::SettleStart(bool started)
{
    if (started) {
        if (!asidePath.empty() && !::DeleteFileA(asidePath.c_str()))
            std::printf("The replaced movie %s could not be deleted (%lu)\n", asidePath.c_str(), ::GetLastError());
        asidePath.clear();
        createdPath.clear();
        return;
    }
    Close();
    if (createdPath.empty())
        return;
    if (!::DeleteFileA(createdPath.c_str()))
        std::printf("The movie of a failed start, %s, could not be removed (%lu)\n", createdPath.c_str(),
                    ::GetLastError());
    // A file was moved aside only where this writer then created one of the same name.
    PutBackReplaced(createdPath);
    createdPath.clear();
}

void AVIWriter::PutBackReplaced(const std::string& path)
{
    if (!asidePath.empty() && !::MoveFileExA(asidePath.c_str(), path.c_str(), 0))
        std::printf("The replaced movie stays at %s (%lu)\n", asidePath.c_str(), ::GetLastError());
    asidePath.clear();
}

bool AVIWriter::Close()
{
    bool closed = true;
    if (FileOpen.IsSet(state)) {
        const int rc = file->Close();
        if (rc != 0) {
            std::printf("AVIFileRelease FAILED (%s)\n", ResultText(rc));
            std::fflush(stdout);
            NoteFailure(rc);
            closed = false;
        }
        keptVideoFrames = file->Writer().StreamLength(0);
        file.reset();
        FileOpen.Clear(state);
    }
    if (Initialized.IsSet(state))
        Initialized.Clear(state);
    return closed;
}

std::unique_ptr<avi::MovieFile> AVIWriter::CreateMovieFile(const std::string& path)
{
    return avi::MovieFile::Create(path);
}

void AVIWriter::NoteFailure(int result)
{
    if (result == 0 || failure)
        return;
    std::printf("AVI file service FAILED (%s)\n", ResultText(result));
    std::fflush(stdout);
    // The file says why when the system refused it; a value the file service refused has no
    // system reason.
    const RecordingFailure why = file ? file->FirstError() : RecordingFailure{};
    failure = OrWriteFailed(why);
}

uint64_t AVIWriter::FileBytes() const
{
    return file ? file->Writer().FileBytes() : 0;
}

bool AVIWriter::CreateStream(avi::Stream*& stream, const VAVIStreamInfo& header)
{
    stream = nullptr;
    if (!file)
        return false;
    const int rc = file->CreateStream(stream, header);
    NoteFailure(rc);
    return rc == 0;
}

bool AVIWriter::ReleaseStream(avi::Stream* stream)
{
    if (file && stream)
        file->ReleaseStream(stream);
    return true;
}

bool AVIWriter::MakeCompressedStream(avi::Stream*& stream, avi::Stream* source, const VAVICompressOptions& options)
{
    stream = nullptr;
    if (!file)
        return false;
    const int rc = file->MakeCompressedStream(stream, source, options);
    NoteFailure(rc);
    return rc == 0;
}

bool AVIWriter::WriteStream(avi::Stream* stream, int32_t start, int32_t samples, const void* data, int32_t bytes,
                            uint32_t flags, int32_t* samplesWritten, int32_t* bytesWritten)
{
    if (samplesWritten)
        *samplesWritten = 0;
    if (bytesWritten)
        *bytesWritten = 0;
    if (!file || !stream)
        return false;
    const int rc = stream->Write(start, samples, data, bytes, flags, samplesWritten, bytesWritten);
    NoteFailure(rc);
    return rc == 0;
}

bool AVIWriter::SetStreamFormat(avi::Stream* stream, int32_t position, const void* format, int32_t bytes)
{
    if (!file || !stream)
        return false;
    const int rc = stream->SetFormat(position, format, bytes);
    NoteFailure(rc);
    return rc == 0;
}

VideoRecorder::VideoRecorder(AVIWriter& writer, CaptureInfo& info) : info(info), writer(writer) {}

VideoRecorder::~VideoRecorder()
{
    EndCapturing();
}

int32_t VideoRecorder::CheckConfig()
{
    return 0;
}

bool VideoRecorder::InitCapturing(uint32_t compressor)
{
    const VBitmapInfoHeader& bih = info.bitmapInfo.bmiHeader;
    streamInfo.Clear();
    streamInfo.fccType = avi::kFccVids;
    streamInfo.fccHandler = compressor;
    streamInfo.dwScale = 1;
    streamInfo.dwRate = uint32_t(info.framesPerSecond);
    streamInfo.dwSuggestedBufferSize = uint32_t(DibFrameBytes(bih.biWidth, bih.biHeight, bih.biBitCount));
    streamInfo.dwQuality = uint32_t(info.quality);
    streamInfo.rcFrame = VRect{0, 0, bih.biWidth, bih.biHeight};
    streamInfo.SetName(kVideoStreamName);
    nextFrame = 0;
    if (!writer.CreateStream(rawStream, streamInfo))
        return false;

    compressOptions.fccHandler = compressor;
    compressOptions.dwKeyFrameEvery = uint32_t(info.keyFrameEvery);
    compressOptions.dwQuality = uint32_t(info.quality);
    compressOptions.dwFlags = kCompressFlags;
    compressOptions.dwInterleaveEvery = uint32_t(info.interleaveEvery);
    return writer.MakeCompressedStream(compressedStream, rawStream, compressOptions) &&
           writer.SetStreamFormat(compressedStream, 0, &info.bitmapInfo, int32_t(sizeof info.bitmapInfo));
}

bool VideoRecorder::WriteFrame(const void* bits, uint32_t size, int32_t frameIndex)
{
    if (frameIndex != -1) {
        if (frameIndex < nextFrame)
            return false;
        nextFrame = frameIndex;
    }
    if (size > uint32_t(INT32_MAX))
        return false;
    int32_t samples = 0, bytes = 0;
    if (!writer.WriteStream(compressedStream, nextFrame, 1, bits, int32_t(size), avi::kAviifKeyFrame, &samples,
                            &bytes))
        return false;
    if (samples == 0 || bytes == 0)
        return false;
    if (frameIndex == -1)
        ++nextFrame;
    return true;
}

bool VideoRecorder::EndCapturing()
{
    if (rawStream)
        writer.ReleaseStream(rawStream);
    if (compressedStream)
        writer.ReleaseStream(compressedStream);
    rawStream = nullptr;
    compressedStream = nullptr;
    nextFrame = 0;
    return true;
}

AudioRecorder::AudioRecorder(AVIWriter& writer, CaptureInfo& info) : writer(writer), info(info) {}

AudioRecorder::~AudioRecorder()
{
    EndCapturing();
}

int32_t AudioRecorder::CheckConfig()
{
    return 0;
}

bool AudioRecorder::InitCapturing()
{
    const VWaveFormatEx& wf = info.waveFormat;
    streamInfo.Clear();
    streamInfo.fccType = avi::kFccAuds;
    streamInfo.dwScale = wf.nBlockAlign;
    streamInfo.dwRate = wf.nAvgBytesPerSec;
    streamInfo.dwSuggestedBufferSize = uint32_t(info.soundBufferBytes);
    streamInfo.dwQuality = kBestQuality;
    streamInfo.dwSampleSize = wf.nBlockAlign;
    streamInfo.SetName(kAudioStreamName);
    return writer.CreateStream(stream, streamInfo) &&
           writer.SetStreamFormat(stream, 0, &info.waveFormat, int32_t(sizeof info.waveFormat));
}

bool AudioRecorder::WriteSound(const void* data, uint32_t bytes, uint32_t samples, int32_t position)
{
    if (position != -1) {
        if (position < nextSample)
            return false;
        nextSample = position;
    }
    if (bytes > uint32_t(INT32_MAX) || samples > uint32_t(INT32_MAX))
        return false;
    int32_t samplesWritten = 0, bytesWritten = 0;
    // An empty buffer stores nothing and is no failure; a refused write is.
    if (!writer.WriteStream(stream, nextSample, int32_t(samples), data, int32_t(bytes), 0, &samplesWritten,
                            &bytesWritten))
        return false;
    if (samplesWritten != 0 && bytesWritten != 0 && position == -1)
        nextSample += samplesWritten;
    return true;
}

bool AudioRecorder::EndCapturing()
{
    if (stream)
        writer.ReleaseStream(stream);
    stream = nullptr;
    nextSample = 0;
    return true;
}
