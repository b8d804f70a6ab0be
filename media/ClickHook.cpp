#include "media/ClickHook.h"

#include <mmsystem.h>

ClickHook::ClickHook(ClickRing& ring, const ClickClock& clock) : ring(ring), clock(clock) {}

ClickHook::~ClickHook()
{
    Stop();
}

LRESULT CALLBACK ClickHook::LowLevelMouse(int code, WPARAM message, LPARAM data)
{
    auto* self = static_cast<ClickHook*>(HookThread::Context());
    if (code == HC_ACTION && self) {
        ClickButton button = ClickButton::Left;
        bool press = true;
        switch (message) {
        case WM_LBUTTONDOWN:
            break;
        case WM_RBUTTONDOWN:
            button = ClickButton::Right;
            break;
        case WM_MBUTTONDOWN:
            button = ClickButton::Middle;
            break;
        default:
            press = false;
        }
        uint32_t time = 0;
        if (press && self->clock.Stamp(::timeGetTime(), time)) {
            const auto* event = reinterpret_cast<const MSLLHOOKSTRUCT*>(data);
            self->ring.Push(ClickPress{time, VPoint{event->pt.x, event->pt.y}, button});
        }
    }
    return ::CallNextHookEx(nullptr, code, message, data);
}
