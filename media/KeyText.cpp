#include "media/KeyText.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr UINT kNoKeyboardStateChange = 0x4;  // ToUnicodeEx: leave dead-key state alone
constexpr int kNameUnits = 64;
constexpr int kMaxCanvasWidth = 4096;

// Keys whose names layouts give oddly (numeric-pad names for the arrows, upper case, none at
// all), named here instead.
const char* FixedName(UINT vk)
{
    switch (vk) {
    case VK_ESCAPE: return "Esc";
    case VK_RETURN: return "Enter";
    case VK_TAB: return "Tab";
    case VK_BACK: return "Backspace";
    case VK_DELETE: return "Delete";
    case VK_INSERT: return "Insert";
    case VK_HOME: return "Home";
    case VK_END: return "End";
    case VK_PRIOR: return "Page Up";
    case VK_NEXT: return "Page Down";
    case VK_LEFT: return "Left";
    case VK_UP: return "Up";
    case VK_RIGHT: return "Right";
    case VK_DOWN: return "Down";
    case VK_SNAPSHOT: return "Print Screen";
    case VK_SPACE: return "Space";
    case VK_CAPITAL: return "Caps Lock";
    case VK_NUMLOCK: return "Num Lock";
    case VK_SCROLL: return "Scroll Lock";
    case VK_PAUSE: return "Pause";
    case VK_APPS: return "Menu";
    }
    return nullptr;
}

size_t CopyAscii(const char* text, char16_t* out, size_t max)
{
    size_t n = 0;
    for (; text[n] && n < max; ++n)
        out[n] = char16_t(text[n]);
    return n;
}

}  // namespace

// ---- SystemKeyLayout ------------------------------------------------------------------------

void SystemKeyLayout::Refresh()
{
    const HWND foreground = ::GetForegroundWindow();
    layout = ::GetKeyboardLayout(foreground ? ::GetWindowThreadProcessId(foreground, nullptr) : 0);
}

size_t SystemKeyLayout::Name(const KeyStroke& key, char16_t* out, size_t max) const
{
    if (!out || max == 0)
        return 0;
    const UINT vk = key.vk;
    if (const char* fixed = FixedName(vk))
        return CopyAscii(fixed, out, max);
    char text[16];
    if (vk >= VK_F1 && vk <= VK_F24) {
        std::snprintf(text, sizeof text, "F%u", vk - VK_F1 + 1);
        return CopyAscii(text, out, max);
    }
    // Letters and digits keep their virtual key, which the layout has already chosen.
    if ((vk >= 'A' && vk <= 'Z') || (vk >= '0' && vk <= '9')) {
        out[0] = char16_t(vk);
        return 1;
    }
    wchar_t name[kNameUnits] = {};
    const LONG code = LONG(key.scan & 0xFF) << 16 | (key.extended ? 1L << 24 : 0);
    const int n = ::GetKeyNameTextW(code, name, kNameUnits);
    if (n > 0) {
        const size_t units = std::min(size_t(n), max);
        for (size_t i = 0; i < units; ++i)
            out[i] = char16_t(name[i]);
        return units;
    }
    const UINT c = ::MapVirtualKeyExW(vk, MAPVK_VK_TO_CHAR, layout) & 0xFFFF;
    if (c >= 0x20) {
        out[0] = char16_t(c);
        return 1;
    }
    std::snprintf(text, sizeof text, "Key %u", vk);
    return CopyAscii(text, out, max);
}

char16_t SystemKeyLayout::Character(const KeyStroke& key, bool shift, bool altGr) const
{
    BYTE state[256] = {};
    if (shift)
        state[VK_SHIFT] = state[VK_LSHIFT] = 0x80;
    if (altGr)
        state[VK_CONTROL] = state[VK_MENU] = state[VK_LCONTROL] = state[VK_RMENU] = 0x80;
    if (key.capsLock)
        state[VK_CAPITAL] = 0x01;
    wchar_t typed[8] = {};
    const int n = ::ToUnicodeEx(key.vk, key.scan, state, typed, 8, kNoKeyboardStateChange, layout);
    return n == 1 ? char16_t(typed[0]) : 0;
}

// ---- PlateTexts -----------------------------------------------------------------------------

TextMask PlateTexts::For(size_t slot, const KeyPlate& plate, int dpi)
{
    if (slot >= key_plates::kMaxPlates)
        return {};
    Slot& s = slots[slot];
    const int height = KeyTextHeight(dpi);
    if (s.version != plate.version || s.height != height) {
        std::fill(s.mask.begin(), s.mask.end(), uint8_t{0});
        s.version = plate.version;
        s.height = height;
        if (!Render(plate, height, s))
            s.width = s.rows = 0;
    }
    return TextMask{s.width > 0 ? s.mask.data() : nullptr, s.width, s.rows};
}

void PlateTexts::Clear()
{
    for (Slot& s : slots) {
        std::fill(s.mask.begin(), s.mask.end(), uint8_t{0});
        s = Slot{};
    }
    dc.reset();  // before what is selected into it
    font.reset();
    fontHeight = 0;
    canvas.reset();
    canvasBits = nullptr;
    canvasWidth = canvasHeight = 0;
}

bool PlateTexts::EnsureCanvas(int32_t width, int32_t height)
{
    if (canvas && width <= canvasWidth && height <= canvasHeight)
        return true;
    BITMAPINFO format{};
    format.bmiHeader.biSize = sizeof format.bmiHeader;
    format.bmiHeader.biWidth = std::max(width, canvasWidth);
    format.bmiHeader.biHeight = -std::max(height, canvasHeight);  // top-down
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;
    void* pixels = nullptr;
    ScopedGdiObject<HBITMAP> made(::CreateDIBSection(dc.get(), &format, DIB_RGB_COLORS, &pixels, nullptr, 0));
    if (!made || !pixels)
        return false;
    ::SelectObject(dc.get(), made.get());
    canvas = std::move(made);
    canvasBits = static_cast<uint32_t*>(pixels);
    canvasWidth = format.bmiHeader.biWidth;
    canvasHeight = -format.bmiHeader.biHeight;
    return true;
}

bool PlateTexts::Render(const KeyPlate& plate, int height, Slot& slot)
{
    if (plate.length == 0)
        return false;
    if (!dc)
        dc.reset(::CreateCompatibleDC(nullptr));
    if (!dc)
        return false;
    if (!font || fontHeight != height) {
        ::SelectObject(dc.get(), ::GetStockObject(SYSTEM_FONT));  // lets the old font go
        font.reset(::CreateFontW(-height, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                 CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Tahoma"));
        fontHeight = font ? height : 0;
    }
    if (!font)
        return false;
    ::SelectObject(dc.get(), font.get());
    wchar_t text[key_plates::kMaxText];
    const int units = int(std::min(plate.length, key_plates::kMaxText));
    for (int i = 0; i < units; ++i)
        text[i] = wchar_t(plate.text[i]);
    SIZE size{};
    if (!::GetTextExtentPoint32W(dc.get(), text, units, &size) || size.cx <= 0 || size.cy <= 0)
        return false;
    // A little room on each side for glyphs that reach past their advance.
    const int32_t margin = std::max(1, height / 8);
    const int32_t width = std::min<int32_t>(size.cx + 2 * margin, kMaxCanvasWidth);
    const int32_t rows = size.cy;
    if (!EnsureCanvas(width, rows))
        return false;
    const RECT all{0, 0, canvasWidth, canvasHeight};
    ::SetBkColor(dc.get(), RGB(0, 0, 0));
    ::SetTextColor(dc.get(), RGB(255, 255, 255));
    if (!::ExtTextOutW(dc.get(), margin, 0, ETO_OPAQUE, &all, text, UINT(units), nullptr))
        return false;
    ::GdiFlush();
    slot.mask.assign(size_t(width) * size_t(rows), 0);
    for (int32_t y = 0; y < rows; ++y) {
        const uint32_t* row = canvasBits + size_t(y) * size_t(canvasWidth);
        uint8_t* out = slot.mask.data() + size_t(y) * size_t(width);
        for (int32_t x = 0; x < width; ++x) {
            const uint32_t p = row[x];
            out[x] = std::max({uint8_t(p), uint8_t(p >> 8), uint8_t(p >> 16)});
        }
    }
    // The canvas keeps no copy of what was typed.
    std::memset(canvasBits, 0, size_t(canvasWidth) * size_t(canvasHeight) * sizeof *canvasBits);
    slot.width = width;
    slot.rows = rows;
    return true;
}
