// Key events to plates: which events give which plate text in each ShowKeys mode, and how long a
// plate stays. The layout is a fake with a fixed US-like table and an AltGr character or two.

#include "media/Keys.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

enum : uint16_t {
    Tab = 0x09, Enter = 0x0D, Caps = 0x14, Space = 0x20, Up = 0x26, F1 = 0x70, F4 = 0x73, F5 = 0x74,
    LShift = 0xA0, LCtrl = 0xA2, LAlt = 0xA4, RAlt = 0xA5, LWin = 0x5B,
};

class FakeLayout : public KeyLayout {
public:
    size_t Name(const KeyStroke& key, char16_t* out, size_t max) const override
    {
        std::string name;
        switch (key.vk) {
        case Tab: name = "Tab"; break;
        case Enter: name = "Enter"; break;
        case Caps: name = "Caps Lock"; break;
        case Up: name = "Up"; break;
        default:
            name = key.vk >= F1 && key.vk <= F1 + 23 ? "F" + std::to_string(key.vk - F1 + 1) : std::string(1, char(key.vk));
        }
        size_t n = 0;
        for (; n < name.size() && n < max; ++n)
            out[n] = char16_t(name[n]);
        return n;
    }
    char16_t Character(const KeyStroke& key, bool shift, bool altGr) const override
    {
        if (altGr)
            return key.vk == 'Q' ? u'@' : key.vk == 'E' ? u'\u20AC' : 0;
        if (key.vk >= 'A' && key.vk <= 'Z')
            return char16_t(shift != key.capsLock ? key.vk : key.vk + 32);
        if (key.vk == Space || (key.vk >= '0' && key.vk <= '9'))
            return char16_t(key.vk);
        return 0;
    }
};

struct Ev {
    uint16_t vk;
    bool down;
    bool hidden = false;
};
using Evs = std::vector<Ev>;

Evs Tap(uint16_t vk, bool hidden = false) { return {{vk, true, hidden}, {vk, false, hidden}}; }
Evs With(uint16_t modifier, Evs inner)
{
    Evs out{{modifier, true}};
    out.insert(out.end(), inner.begin(), inner.end());
    out.push_back({modifier, false});
    return out;
}
Evs Type(const std::string& text, bool hidden = false)
{
    Evs out;
    for (char c : text)
        for (const Ev& e : Tap(uint16_t(c >= 'a' ? c - 32 : c), hidden))
            out.push_back(e);
    return out;
}
Evs Then(Evs a, const Evs& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string Utf8(const KeyPlate& p)
{
    std::string s;
    for (size_t i = 0; i < p.length; ++i)
        s += p.text[i] == u'\u20AC' ? std::string("EUR") : std::string(1, char(p.text[i]));
    return s;
}

// Events 10 ms apart; the plates' texts, oldest first, right after the last.
std::vector<std::string> Plates(ShowKeys mode, const Evs& events)
{
    const int32_t hotKeys[] = {0x374, 0x375, 0x376, 0x377};  // Ctrl+Shift+F5 to F8
    KeyPlates plates;
    plates.Reset(mode, hotKeys, 4);
    FakeLayout layout;
    uint32_t t = 1000;
    for (const Ev& e : events) {
        KeyStroke k;
        k.vk = e.vk;
        k.down = e.down;
        k.hidden = e.hidden;
        k.time = t += 10;
        plates.Add(k, layout);
    }
    std::vector<std::string> texts;
    for (size_t i = 0; i < plates.Frame(t); ++i)
        texts.push_back(Utf8(plates.Plate(i)));
    return texts;
}

TEST(KeyPlatesTest, EventsGiveTheseTextsInEachMode)
{
    using S = std::vector<std::string>;
    const struct {
        const char* what;
        Evs events;
        S off, shortcuts, every;
    } cases[] = {
        {"ctrl+s", With(LCtrl, Tap('S')), {}, {"Ctrl + S"}, {"Ctrl + S"}},
        {"ctrl+shift+t", With(LCtrl, With(LShift, Tap('T'))), {}, {"Ctrl + Shift + T"}, {"Ctrl + Shift + T"}},
        {"alt+f4", With(LAlt, Tap(F4)), {}, {"Alt + F4"}, {"Alt + F4"}},
        {"win+e", With(LWin, Tap('E')), {}, {"Win + E"}, {"Win + E"}},
        {"modifiers alone", Then(Then(Tap(LCtrl), Tap(LShift)), Then(Tap(LAlt), Tap(LWin))), {}, {}, {}},
        {"command keys", Then(Then(Tap(Enter), With(LShift, Tap(Tab))), Tap(Up)), {}, {"Enter", "Shift + Tab", "Up"},
         {"Enter", "Shift + Tab", "Up"}},
        {"typing joins into one plate", Type("abc"), {}, {}, {"abc"}},
        {"shifted typing is typing", With(LShift, Tap('A')), {}, {}, {"A"}},
        {"altgr characters are typing", Then(Type("ab"), With(LCtrl, With(RAlt, Tap('Q')))), {}, {}, {"ab@"}},
        {"ctrl+alt without a character is a shortcut", With(LCtrl, With(LAlt, Tap('T'))), {}, {"Ctrl + Alt + T"},
         {"Ctrl + Alt + T"}},
        {"a key with no character", Tap(Caps), {}, {}, {"Caps Lock"}},
        {"repeat extends a plate", Then(With(LCtrl, {{Up, true}, {Up, true}, {Up, true}, {Up, false}}),
                                        {{'A', true}, {'A', true}, {'A', false}}),
         {}, {"Ctrl + Up"}, {"Ctrl + Up", "a"}},
        {"a command ends a typed run", Then(Then(Type("ab"), Tap(Enter)), Type("c")), {}, {"Enter"}, {"ab", "Enter", "c"}},
        {"password box", Then(Type("pw", true), {{LCtrl, true}, {'S', true, true}, {'S', false}, {LCtrl, false}}), {},
         {}, {}},
        {"own hot key", With(LCtrl, With(LShift, Tap(F5))), {}, {}, {}},
        {"not quite a hot key", With(LCtrl, Tap(F5)), {}, {"Ctrl + F5"}, {"Ctrl + F5"}},
        {"three at most", Then(Then(Tap(F1), Tap(F1 + 1)), Then(Tap(F1 + 2), Tap(F1 + 3))), {}, {"F2", "F3", "F4"},
         {"F2", "F3", "F4"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Plates(ShowKeys::Off, c.events), c.off);
        EXPECT_EQ(Plates(ShowKeys::Shortcuts, c.events), c.shortcuts);
        EXPECT_EQ(Plates(ShowKeys::EveryKey, c.events), c.every);
    }
    for (int32_t stored : {-1, 0, 3, 99})
        EXPECT_EQ(ShowKeysFrom(stored), ShowKeys::Off) << stored;
}

// A plate is at full strength while its key is down and kHoldMs after, then fades; a faded
// plate is gone, text and all; a typed run takes new characters only while fully shown.
TEST(KeyPlatesTest, PlatesHoldFadeAndGo)
{
    using namespace key_plates;
    FakeLayout layout;
    KeyPlates plates;
    plates.Reset(ShowKeys::EveryKey, nullptr, 0);
    auto key = [&](uint16_t vk, bool down, uint32_t t) {
        KeyStroke k;
        k.vk = vk;
        k.down = down;
        k.time = t;
        plates.Add(k, layout);
    };
    key('A', true, 100);
    key('A', true, 5000);  // held, repeating
    ASSERT_EQ(plates.Frame(5000), 1u);
    EXPECT_EQ(KeyPlates::Opacity(plates.Plate(0), 5000), 255);
    key('A', false, 6000);
    const struct {
        uint32_t after;
        uint8_t opacity;
    } fade[] = {{0, 255}, {kHoldMs - 1, 255}, {kHoldMs, 255}, {kHoldMs + kFadeMs / 2, 128}, {kHoldMs + kFadeMs - 1, 1},
                {kHoldMs + kFadeMs, 0}};
    for (const auto& f : fade)
        EXPECT_EQ(KeyPlates::Opacity(plates.Plate(0), 6000 + f.after), f.opacity) << f.after;

    key('B', true, 6000 + kHoldMs - 10);  // joins: the run is still fully shown
    key('B', false, 6000 + kHoldMs);
    ASSERT_EQ(plates.Frame(6000 + kHoldMs), 1u);
    EXPECT_EQ(Utf8(plates.Plate(0)), "ab");
    key('C', true, 6000 + 2 * kHoldMs + 1);  // the run has begun to fade: a new plate
    ASSERT_EQ(plates.Frame(6000 + 2 * kHoldMs + 1), 2u);
    EXPECT_EQ(Utf8(plates.Plate(1)), "c");

    key('C', false, 9000);
    EXPECT_EQ(plates.Frame(9000 + kHoldMs + kFadeMs), 0u);
    for (size_t i = 0; i < kMaxPlates; ++i)
        EXPECT_EQ(plates.Plate(i).text[0], 0) << "slot " << i << " keeps what was typed";
}

TEST(KeyRingTest, FullRingDropsTheOldestAndDrainWipes)
{
    KeyRing ring;
    for (uint16_t i = 0; i < KeyRing::kCapacity + 3; ++i) {
        KeyStroke k;
        k.vk = i;
        ring.Push(k);
    }
    KeyStroke out[KeyRing::kCapacity + 3];
    ASSERT_EQ(ring.Drain(out, std::size(out)), KeyRing::kCapacity);
    EXPECT_EQ(out[0].vk, 3);
    EXPECT_EQ(out[KeyRing::kCapacity - 1].vk, KeyRing::kCapacity + 2);
    EXPECT_EQ(ring.Size(), 0u);
}

}  // namespace
