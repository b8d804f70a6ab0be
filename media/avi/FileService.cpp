#include "media/avi/FileService.h"

#include "media/avi/AviFormat.h"
#include "media/avi/Rle8Encoder.h"
#include "media/avi/Video1Encoder.h"
#include "media/avi/ZmbvEncoder.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace avi {
namespace {

int Result(Status st)
{
    return int(st);
}

class RawStream final : public Stream {
public:
    RawStream(Muxer& muxer, int index, bool video) : muxer(muxer), index(index), video(video) {}

    int SetFormat(int32_t position, const void* format, int32_t bytes) override
    {
        if (released)
            return kErrorReleased;
        if (position != 0 || bytes < 0)
            return Result(Status::BadArgument);
        return Result(muxer.SetFormat(index, format, size_t(bytes)));
    }
    int Write(int32_t start, int32_t, const void* data, int32_t bytes, uint32_t flags, int32_t* samplesWritten,
              int32_t* bytesWritten) override
    {
        if (samplesWritten)
            *samplesWritten = 0;
        if (bytesWritten)
            *bytesWritten = 0;
        if (released)
            return kErrorReleased;
        if (bytes < 0)
            return Result(Status::BadArgument);
        const int64_t before = muxer.StreamLength(index);
        const Status st = muxer.Write(index, start, data, uint32_t(bytes), !video || (flags & kAviifKeyFrame));
        if (st != Status::Ok)
            return Result(st);
        if (samplesWritten)
            *samplesWritten = video ? 1 : int32_t(muxer.StreamLength(index) - std::max<int64_t>(before, start));
        if (bytesWritten)
            *bytesWritten = bytes;
        return 0;
    }
    int Index() const { return index; }
    Muxer& Owner() { return muxer; }

private:
    Muxer& muxer;  // not owned
    int index;
    bool video;
};

bool SameCode(uint32_t a, uint32_t b)
{
    for (int i = 0; i < 32; i += 8)
        if (std::tolower(int(a >> i & 0xFF)) != std::tolower(int(b >> i & 0xFF)))
            return false;
    return true;
}

class CompressedStream final : public Stream {
public:
    CompressedStream(RawStream& raw, const VAVICompressOptions& options) : raw(raw), options(options) {}

    int SetFormat(int32_t position, const void* format, int32_t bytes) override
    {
        if (released)
            return kErrorReleased;
        if (position < 0 || !format || bytes < int32_t(sizeof(VBitmapInfoHeader)))
            return Result(Status::BadArgument);
        VBitmapInfo in;
        std::memcpy(static_cast<void*>(&in), format, std::min(size_t(bytes), sizeof in));
        const VBitmapInfoHeader& h = in.bmiHeader;
        if (h.biWidth <= 0 || h.biHeight <= 0 || h.biWidth > kMaxFrameSide || h.biHeight > kMaxFrameSide ||
            h.biCompression != kBiRgb || (h.biBitCount != 8 && h.biBitCount != 16 && h.biBitCount != 24 && h.biBitCount != 32))
            return Result(Status::BadArgument);
        // Colour entries beyond what the caller handed over stay zero.
        const size_t tableBytes = size_t(bytes) > sizeof h ? size_t(bytes) - sizeof h : 0;
        if (tableBytes < sizeof in.bmiColors)
            std::memset(reinterpret_cast<uint8_t*>(in.bmiColors) + tableBytes, 0, sizeof in.bmiColors - tableBytes);
        if (position != 0)
            return ChangePalette(position, in);

        VBitmapInfo outFormat = in;
        size_t outBytes = sizeof(VBitmapInfoHeader);
        const int32_t quality = int32_t(options.dwQuality);
        const int32_t keyEvery = int32_t(options.dwKeyFrameEvery);
        codec = Codec::None;
        if (SameCode(options.fccHandler, kFccMsvc) && h.biBitCount >= 16) {
            if (!video1.Init(h.biWidth, h.biHeight, h.biBitCount, quality, keyEvery))
                return Result(Status::BadArgument);
            codec = Codec::Video1;
            outFormat.bmiHeader.biWidth = video1.OutputWidth();
            outFormat.bmiHeader.biHeight = video1.OutputHeight();
            outFormat.bmiHeader.biBitCount = 16;
            outFormat.bmiHeader.biCompression = kFccCram;
            outFormat.bmiHeader.biSizeImage = uint32_t(DibFrameBytes(video1.OutputWidth(), video1.OutputHeight(), 16));
            outFormat.bmiHeader.biClrUsed = outFormat.bmiHeader.biClrImportant = 0;
        } else if (SameCode(options.fccHandler, kFccMrle) && h.biBitCount == 8) {
            if (!rle8.Init(h.biWidth, h.biHeight, keyEvery))
                return Result(Status::BadArgument);
            codec = Codec::Rle8;
            outFormat.bmiHeader.biCompression = kBiRle8;
            outFormat.bmiHeader.biSizeImage = 0;
            outFormat.bmiHeader.biClrUsed = VBitmapInfo::kMaxColours;
            outBytes = sizeof outFormat;
        } else if (SameCode(options.fccHandler, kFccZmbv) && h.biBitCount != 24) {
            if (!zmbv.Init(h.biWidth, h.biHeight, h.biBitCount, keyEvery))
                return Result(Status::BadArgument);
            zmbv.SetPalette(in.bmiColors, VBitmapInfo::UsedColours(in.bmiHeader));
            codec = Codec::Zmbv;
            inputFormat = in.bmiHeader;
            outFormat.bmiHeader.biCompression = kFccZmbv;
            outFormat.bmiHeader.biSizeImage = uint32_t(DibFrameBytes(h.biWidth, h.biHeight, h.biBitCount));
            if (h.biBitCount == 8) {
                outFormat.bmiHeader.biClrUsed = VBitmapInfo::kMaxColours;
                outBytes = sizeof outFormat;
            } else {
                outFormat.bmiHeader.biClrUsed = outFormat.bmiHeader.biClrImportant = 0;
            }
        } else {
            codec = Codec::Uncompressed;
            frameBytes = size_t(DibFrameBytes(h.biWidth, h.biHeight, h.biBitCount));
            outFormat.bmiHeader.biSizeImage = uint32_t(frameBytes);
            outBytes += in.ColourTableBytes();
            std::printf("AVI: compressor '%.4s' cannot take %u-bit frames; writing them uncompressed\n",
                        reinterpret_cast<const char*>(&options.fccHandler), unsigned(h.biBitCount));
            std::fflush(stdout);
            if (Status st = raw.Owner().SetHandler(raw.Index(), kFccDib); st != Status::Ok)
                return Result(st);
        }
        return raw.SetFormat(0, &outFormat, int32_t(outBytes));
    }

    int Write(int32_t start, int32_t, const void* data, int32_t bytes, uint32_t, int32_t* samplesWritten,
              int32_t* bytesWritten) override
    {
        if (samplesWritten)
            *samplesWritten = 0;
        if (bytesWritten)
            *bytesWritten = 0;
        if (released)
            return kErrorReleased;
        if (codec == Codec::None)
            return kErrorNoFormat;
        if (start < 0 || bytes < 0 || !data)
            return Result(Status::BadArgument);
        const int64_t length = raw.Owner().StreamLength(raw.Index());
        if (start < length - 1)
            return Result(Status::BadArgument);
        // A replaced sample must not depend on the one it replaces: make it a key frame.
        const bool replaces = length > 0 && start == length - 1;
        const auto* frame = static_cast<const uint8_t*>(data);
        bool key = true;
        switch (codec) {
        case Codec::Video1:
            if (!video1.Encode(frame, size_t(bytes), replaces, encoded, key))
                return kErrorShortFrame;
            return raw.Write(start, 1, encoded.data(), int32_t(encoded.size()), key ? kAviifKeyFrame : 0,
                             samplesWritten, bytesWritten);
        case Codec::Rle8:
            if (!rle8.Encode(frame, size_t(bytes), replaces, encoded, key))
                return kErrorShortFrame;
            return raw.Write(start, 1, encoded.data(), int32_t(encoded.size()), key ? kAviifKeyFrame : 0,
                             samplesWritten, bytesWritten);
        case Codec::Zmbv:
            if (size_t(bytes) < zmbv.InputBytes())
                return kErrorShortFrame;
            if (!zmbv.Encode(frame, size_t(bytes), replaces || zmbvLost, encoded, key))
                return kErrorEncoder;
            {
                const int rc = raw.Write(start, 1, encoded.data(), int32_t(encoded.size()),
                                         key ? kAviifKeyFrame : 0, samplesWritten, bytesWritten);
                // A frame that never reached the file holds part of the running deflate stream
                // and the picture the next one builds on: start afresh.
                zmbvLost = rc != 0;
                return rc;
            }
        case Codec::Uncompressed:
            if (size_t(bytes) < frameBytes)
                return kErrorShortFrame;
            return raw.Write(start, 1, data, int32_t(frameBytes), kAviifKeyFrame, samplesWritten, bytesWritten);
        case Codec::None:
            break;
        }
        return kErrorNoFormat;
    }

private:
    enum class Codec { None, Video1, Rle8, Zmbv, Uncompressed };

    // A new colour table for the frames from `position` (the next one) on: only a ZMBV stream
    // of 8-bit frames carries one inside the stream; every other header field must stay.
    int ChangePalette(int32_t position, const VBitmapInfo& in)
    {
        if (codec != Codec::Zmbv || inputFormat.biBitCount != 8 || position != raw.Owner().StreamLength(raw.Index()) ||
            in.bmiHeader.biWidth != inputFormat.biWidth || in.bmiHeader.biHeight != inputFormat.biHeight ||
            in.bmiHeader.biBitCount != 8)
            return Result(Status::BadArgument);
        zmbv.SetPalette(in.bmiColors, VBitmapInfo::UsedColours(in.bmiHeader));
        return 0;
    }

    RawStream& raw;  // not owned; lives as long as the file
    VAVICompressOptions options;
    Codec codec = Codec::None;
    Video1Encoder video1;
    Rle8Encoder rle8;
    ZmbvEncoder zmbv;
    bool zmbvLost = false;  // the last frame was encoded but not written
    VBitmapInfoHeader inputFormat;  // the input format of a ZMBV stream
    size_t frameBytes = 0;
    std::vector<uint8_t> encoded;
};

}  // namespace

std::unique_ptr<MovieFile> MovieFile::Create(const std::string& path)
{
    if (path.empty())
        return nullptr;
    auto file = CreateDiskFile(path);
    if (!file)
        return nullptr;
    return std::make_unique<MovieFile>(std::move(file));
}

MovieFile::MovieFile(std::unique_ptr<OutputFile> file) : muxer(std::move(file)) {}

MovieFile::~MovieFile()
{
    Close();
}

bool MovieFile::Owns(const Stream* stream) const
{
    return std::any_of(streams.begin(), streams.end(), [&](const auto& s) { return s.get() == stream; });
}

int MovieFile::CreateStream(Stream*& stream, const VAVIStreamInfo& header)
{
    stream = nullptr;
    const int index = muxer.AddStream(header);
    if (index < 0)
        return Result(Status::BadState);
    streams.push_back(std::make_unique<RawStream>(muxer, index, header.fccType != kFccAuds));
    stream = streams.back().get();
    return 0;
}

int MovieFile::MakeCompressedStream(Stream*& stream, Stream* source, const VAVICompressOptions& options)
{
    stream = nullptr;
    auto* raw = dynamic_cast<RawStream*>(source);
    if (!raw || !Owns(source) || source->Released())
        return Result(Status::BadArgument);
    streams.push_back(std::make_unique<CompressedStream>(*raw, options));
    stream = streams.back().get();
    return 0;
}

int MovieFile::ReleaseStream(Stream* stream)
{
    if (!stream || !Owns(stream))
        return Result(Status::BadArgument);
    stream->released = true;
    return 0;
}

int MovieFile::Begin()
{
    return Result(muxer.Begin());
}

int MovieFile::Close()
{
    return Result(muxer.Close());
}

}  // namespace avi
