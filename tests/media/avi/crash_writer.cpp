// Records synthetic uncompressed frames (25 per second) into argv[1] and prints the number of
// frames written after each one, so that a test can kill it while it is still writing. After
// kMaxFrames it prints "done" and waits.

#include "media/avi/AviFormat.h"
#include "media/avi/FileService.h"

#include <cstdio>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv)
{
    constexpr int32_t kMaxFrames = 100000;
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
    for (int32_t i = 0; i < kMaxFrames; ++i) {
        frame.assign(frame.size(), uint8_t(i));
        if (video->Write(i, 1, frame.data(), int32_t(frame.size()), avi::kAviifKeyFrame, nullptr, nullptr) != 0)
            return 1;
        std::printf("%d\n", int(i + 1));
        std::fflush(stdout);
    }
    std::printf("done\n");
    std::fflush(stdout);
    for (;;)
        pause();
}
