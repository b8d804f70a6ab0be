#include "panel/FormatChoices.h"

#include "diag/DebugTrace.h"

namespace {

struct Choice {
    const char* text;
    int32_t value;
};
constexpr Choice kMovieFormats[] = {{"AVI", int32_t(MovieFormat::Avi)}, {"GIF", int32_t(MovieFormat::Gif)}};
constexpr Choice kFrameFormats[] = {{"BMP", int32_t(FrameFormat::Bmp)}, {"PNG", int32_t(FrameFormat::Png)}};

template <size_t N>
void Fill(const TComboBox& list, const Choice (&choices)[N], int32_t stored)
{
    for (const Choice& c : choices)
        list.Add(c.text, c.value);
    list.Select(list.FindData(stored));
}

// The chosen entry's value, or -1 with none chosen.
int32_t Chosen(const TComboBox& list)
{
    const int index = list.Selection();
    return index < 0 ? -1 : static_cast<int32_t>(list.Data(index, -1));
}

}  // namespace

void FillMovieFormats(const TComboBox& list, const Prefs& prefs)
{
    Fill(list, kMovieFormats, int32_t(prefs.GetMovieFormat()));
}

void FillFrameFormats(const TComboBox& list, const Prefs& prefs)
{
    Fill(list, kFrameFormats, int32_t(prefs.GetFrameFormat()));
}

void StoreMovieFormat(const TComboBox& list, Prefs& prefs)
{
    const int32_t value = Chosen(list);
    if (value < 0)
        return;
    DebugTrace("Movie format change %d", value);
    prefs.SetMovieFormat(MovieFormat(value));
}

void StoreFrameFormat(const TComboBox& list, Prefs& prefs)
{
    const int32_t value = Chosen(list);
    if (value < 0)
        return;
    DebugTrace("Frame format change %d", value);
    prefs.SetFrameFormat(FrameFormat(value));
}

void ShowGifSoundNote(HWND note, const Prefs& prefs)
{
    ::ShowWindow(note, prefs.GetMovieFormat() == MovieFormat::Gif ? SW_SHOW : SW_HIDE);
}
