// Not a test: records a short movie of a window of its own while xdotool types "hello" into its
// edit box and presses ctrl+s and ctrl+shift+t, with every key shown, and tiles four frames into
// a picture (docs/keys.png). Needs xdotool and ffmpeg:
//   keys_demo OUTPUT.png   (a Unix path)

#include "engine/CaptureEngine.h"
#include "tests/media/ClickTestSupport.h"

#include <windows.h>

#include <cstdio>
#include <sstream>
#include <string>

namespace {

using namespace click_test;

constexpr VRect kArea{60, 100, 540, 370};
constexpr int kFps = 10;
constexpr DWORD kPeriod = 1000 / kFps;

// A page of grey text lines.
LRESULT CALLBACK PageProc(HWND wnd, UINT message, WPARAM wp, LPARAM lp)
{
    if (message == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = ::BeginPaint(wnd, &ps);
        RECT all;
        ::GetClientRect(wnd, &all);
        ::FillRect(dc, &all, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
        ScopedGdiObject<HBRUSH> text(::CreateSolidBrush(RGB(170, 170, 170)));
        for (int i = 0; i < 10; ++i) {
            RECT line{60, 110 + i * 22, 60 + 260 + (i * 37) % 120, 118 + i * 22};
            ::FillRect(dc, &line, text.get());
        }
        ::EndPaint(wnd, &ps);
        return 0;
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
        std::fprintf(stderr, "usage: keys_demo OUTPUT.png\n");
        return 2;
    }
    SetDpiAware();
    WNDCLASSA wc{};
    wc.lpfnWndProc = PageProc;
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.hCursor = ::LoadCursor(nullptr, IDC_ARROW);
    wc.lpszClassName = "KeysDemoPage";
    ::RegisterClassA(&wc);
    HWND page = ::CreateWindowExA(WS_EX_TOPMOST, wc.lpszClassName, "", WS_POPUP | WS_VISIBLE, 40, 60, 520, 330,
                                  nullptr, nullptr, wc.hInstance, nullptr);
    if (!page)
        return 1;
    HWND edit = ::CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_VISIBLE | WS_BORDER, 60, 60, 220, 24, page, nullptr,
                                  wc.hInstance, nullptr);
    TempDir dir("keys-demo");
    RunShell(dir, "xdotool mousemove 200 132 click 1 mousemove 300 200");
    ::SetFocus(edit);
    PumpMessages(500);

    std::ostringstream trace;
    StreamLog traceLog(trace);
    CaptureEngine engine(std::make_unique<CaptureFactory>());
    engine.SetLog(traceLog);
    engine.SetCaptureRect(kArea);
    engine.SetFramesPerSecond(kFps);
    engine.SetRecordSound(false);
    engine.SetCompressor(MakeFourCC(engine.GetBitDepth() == 8 ? "mrle" : "MSVC"));
    engine.SetShowKeys(2, {});
    engine.SetFileName(dir.Windows("demo.avi").c_str());
    const DWORD begin = ::timeGetTime();
    if (engine.BeginCapture() != 0)
        return 1;
    PumpMessages(600);
    RunShell(dir, "xdotool type --delay 90 hello");
    const DWORD hello = ::timeGetTime();
    PumpMessages(400);
    RunShell(dir, "xdotool key ctrl+s");
    const DWORD save = ::timeGetTime();
    PumpMessages(400);
    RunShell(dir, "xdotool key ctrl+shift+t");
    const DWORD tab = ::timeGetTime();
    PumpMessages(1900);
    engine.CaptureStop();

    const int frames[] = {Frame(begin, hello, 200), Frame(begin, save, 250), Frame(begin, tab, 250),
                          Frame(begin, tab, 1450)};
    std::string select;
    for (int f : frames)
        select += (select.empty() ? "" : "+") + std::string("eq(n\\,") + std::to_string(f) + ")";
    const int status = RunShell(dir, "ffmpeg -v error -y -i " + dir.Unix("demo.avi") + " -vf 'fps=" + std::to_string(kFps) + ",select=" + select +
                                         ",tile=2x2:padding=6:margin=6:color=0x606060' -frames:v 1 " + argv[1]);
    std::printf("frames %d %d %d %d -> %s (ffmpeg %d)\n", frames[0], frames[1], frames[2], frames[3], argv[1], status);
    ::DestroyWindow(page);
    return status;
}
