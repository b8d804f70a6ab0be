// Not a test: records a short movie of a window of its own while xdotool double-clicks and then
// right-clicks on it, with click highlighting and the cursor halo on, and tiles four frames from
// just after the clicks into a picture (docs/clicks.png). Needs xdotool and ffmpeg:
//   clicks_demo OUTPUT.png   (a Unix path)

#include "engine/CaptureEngine.h"
#include "tests/media/ClickTestSupport.h"

#include <windows.h>

#include <cstdio>
#include <sstream>
#include <string>

namespace {

using namespace click_test;

constexpr VRect kArea{100, 100, 420, 340};
constexpr int kFps = 10;
constexpr DWORD kPeriod = 1000 / kFps;

std::atomic<DWORD> leftPress{0};
std::atomic<DWORD> rightPress{0};

// A page of grey text lines and a blue button.
LRESULT CALLBACK PageProc(HWND wnd, UINT message, WPARAM wp, LPARAM lp)
{
    switch (message) {
    case WM_LBUTTONDOWN:
        if (!leftPress)
            leftPress = ::timeGetTime();
        return 0;
    case WM_RBUTTONDOWN:
        if (!rightPress)
            rightPress = ::timeGetTime();
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = ::BeginPaint(wnd, &ps);
        RECT all;
        ::GetClientRect(wnd, &all);
        ::FillRect(dc, &all, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
        ScopedGdiObject<HBRUSH> text(::CreateSolidBrush(RGB(170, 170, 170)));
        for (int i = 0; i < 9; ++i) {
            RECT line{60, 40 + i * 22, 60 + 200 + (i * 37) % 90, 48 + i * 22};
            ::FillRect(dc, &line, text.get());
        }
        ScopedGdiObject<HBRUSH> button(::CreateSolidBrush(RGB(40, 90, 200)));
        RECT b{200, 250, 320, 280};
        ::FillRect(dc, &b, button.get());
        ::SetBkMode(dc, TRANSPARENT);
        ::SetTextColor(dc, RGB(255, 255, 255));
        ::DrawTextA(dc, "Save", -1, &b, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        ::EndPaint(wnd, &ps);
        return 0;
    }
    }
    return ::DefWindowProcA(wnd, message, wp, lp);
}

int Frame(DWORD begin, DWORD at, DWORD after)
{
    return int((at + after - begin) / kPeriod);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: clicks_demo OUTPUT.png\n");
        return 2;
    }
    SetDpiAware();
    WNDCLASSA wc{};
    wc.lpfnWndProc = PageProc;
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.hCursor = ::LoadCursor(nullptr, IDC_ARROW);
    wc.lpszClassName = "ClicksDemoPage";
    ::RegisterClassA(&wc);
    HWND page = ::CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, wc.lpszClassName, "", WS_POPUP | WS_VISIBLE, 40,
                                  60, 440, 320, nullptr, nullptr, wc.hInstance, nullptr);
    if (!page)
        return 1;
    TempDir dir("clicks-demo");
    RunShell(dir, "xdotool mousemove 190 170");
    PumpMessages(500);

    std::ostringstream trace;
    StreamLog traceLog(trace);
    CaptureEngine engine(std::make_unique<CaptureFactory>());
    engine.SetLog(traceLog);
    engine.SetCaptureRect(kArea);
    engine.SetFramesPerSecond(kFps);
    engine.SetRecordSound(false);
    engine.SetCompressor(MakeFourCC(engine.GetBitDepth() == 8 ? "mrle" : "MSVC"));
    engine.SetHighlightClicks(true);
    engine.SetCursorHalo(true);
    engine.SetFileName(dir.Windows("demo.avi").c_str());
    const DWORD begin = ::timeGetTime();
    if (engine.BeginCapture() != 0)
        return 1;
    PumpMessages(600);
    RunShell(dir, "xdotool mousemove 200 170 click --repeat 2 --delay 120 1");
    PumpMessages(900);
    RunShell(dir, "xdotool mousemove 360 270 click 3");
    PumpMessages(900);
    engine.CaptureStop();
    if (!leftPress || !rightPress) {
        std::fprintf(stderr, "clicks_demo: the clicks did not reach the window\n");
        return 1;
    }

    const int frames[] = {Frame(begin, leftPress, 60), Frame(begin, leftPress, 220), Frame(begin, rightPress, 130),
                          Frame(begin, rightPress, 280)};
    std::string select;
    for (int f : frames)
        select += (select.empty() ? "" : "+") + std::string("eq(n\\,") + std::to_string(f) + ")";
    const int status = RunShell(dir, "ffmpeg -v error -y -i " + dir.Unix("demo.avi") + " -vf 'fps=" + std::to_string(kFps) + ",select=" + select +
                                         ",tile=2x2:padding=6:margin=6:color=0x606060' -frames:v 1 " + argv[1]);
    std::printf("frames %d %d %d %d -> %s (ffmpeg %d)\n%s", frames[0], frames[1], frames[2], frames[3], argv[1], status,
                trace.str().substr(trace.str().find("Frames skipped")).c_str());
    ::DestroyWindow(page);
    return status;
}
