#include "media/KeyHook.h"

#include <mmsystem.h>

#include <cctype>

namespace {
constexpr int kClassNameUnits = 32;
}  // namespace

KeyHook::KeyHook(KeyRing& ring, const ClickClock& clock) : ring(ring), clock(clock) {}

KeyHook::~KeyHook()
{
    Stop();
}

bool KeyHook::FocusIsPassword()
{
    GUITHREADINFO gui{};
    gui.cbSize = sizeof gui;
    if (!::GetGUIThreadInfo(0, &gui) || !gui.hwndFocus)
        return false;
    if ((::GetWindowLongPtrA(gui.hwndFocus, GWL_STYLE) & ES_PASSWORD) == 0)
        return false;
    // ES_PASSWORD means something else to other controls: only edit controls (and rich edits,
    // whose class names end so) count.
    char name[kClassNameUnits] = {};
    const int n = ::GetClassNameA(gui.hwndFocus, name, kClassNameUnits);
    if (n < 4)
        return false;
    const char* tail = name + n - 4;
    for (int i = 0; i < 4; ++i) {
        if (std::tolower(static_cast<unsigned char>(tail[i])) != "edit"[i])
            return false;
    }
    return true;
}

KeyStroke KeyHook::Stroke(const KBDLLHOOKSTRUCT& event, WPARAM message, const ClickClock& clock)
{
    KeyStroke stroke;
    stroke.vk = uint16_t(event.vkCode & 0xFF);
    stroke.scan = uint16_t(event.scanCode & 0xFF);
    stroke.extended = (event.flags & LLKHF_EXTENDED) != 0;
    stroke.down = message == WM_KEYDOWN || message == WM_SYSKEYDOWN;
    if (stroke.down)
        stroke.capsLock = (::GetKeyState(VK_CAPITAL) & 1) != 0;
    const DWORD now = ::timeGetTime();
    // While paused the event still counts for which keys are down, but never shows.
    stroke.hidden = !clock.Stamp(now, stroke.time);
    if (stroke.hidden)
        stroke.time = clock.Now(now);
    else if (stroke.down)
        stroke.hidden = FocusIsPassword();
    return stroke;
}

LRESULT CALLBACK KeyHook::LowLevelKeyboard(int code, WPARAM message, LPARAM data)
{
    auto* self = static_cast<KeyHook*>(HookThread::Context());
    if (code == HC_ACTION && self)
        self->ring.Push(Stroke(*reinterpret_cast<const KBDLLHOOKSTRUCT*>(data), message, self->clock));
    return ::CallNextHookEx(nullptr, code, message, data);
}
