#pragma once
// The file format choices: on the Movie page the movie's format (AVI or animated GIF) beside
// Start Recording and the single frame's (BMP or PNG) beside Capture Frame; on the Sound page
// the note that a GIF has no sound, shown while a GIF is chosen.

#include "framework/TControls.h"
#include "settings/Prefs.h"

#include <windows.h>

void FillMovieFormats(const TComboBox& list, const Prefs& prefs);
void FillFrameFormats(const TComboBox& list, const Prefs& prefs);
// The chosen entry is stored; closed without a choice, the stored format stays.
void StoreMovieFormat(const TComboBox& list, Prefs& prefs);
void StoreFrameFormat(const TComboBox& list, Prefs& prefs);
void ShowGifSoundNote(HWND note, const Prefs& prefs);
