// Records synthetic uncompressed frames into argv[1] until it is killed; prints "ready" once
// more than two seconds of movie are on disk. Stops writing (but waits) after 20000 frames.

#include "media/avi/AviFormat.h"
#include "media/avi/FileService.h"

#include <cstdio>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    auto file = avi::MovieFile::Create(argv[1]);
    if (!file)
        return 1;
    VAVIStreamInfo header;
    header.Clear();
    header.fccType = avi::kFccVids;
    header.fccHandler = avi::kFccDib;
    header.dwScale = 1;
    header.dwRate = 25;
    header.rcFrame = VRect{0, 0, 32, 32};
    VBitmapInfo format;
    format.bmiHeader.biWidth = 32;
    format.bmiHeader.biHeight = 32;
    format.bmiHeader.biBitCount = 24;
    avi::Stream* video = nullptr;
    if (file->CreateStream(video, header) != 0 || video->SetFormat(0, &format, 40) != 0)
        return 1;
    std::vector<uint8_t> frame(32 * 32 * 3);
    for (int32_t i = 0; i < 20000; ++i) {
        frame.assign(frame.size(), uint8_t(i));
        if (video->Write(i, 1, frame.data(), int32_t(frame.size()), avi::kAviifKeyFrame, nullptr, nullptr) != 0)
            return 1;
        if (i == 60) {
            std::printf("ready\n");
            std::fflush(stdout);
        }
    }
    for (;;)
        pause();
}
