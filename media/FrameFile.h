#pragma once
// A single frame as a PNG picture file, for a snapshot whose name ends in ".png".

#include "common/VRecords.h"

#include <windows.h>

bool IsPngFrameName(const char* path);
// Writes the frame of `format` (bottom-up DIB pixels) to `file` as PNG, with the screen's
// resolution. False, with the system's reason as the last error, when it could not.
bool WritePngFile(HANDLE file, const VBitmapInfo& format, const void* pixels);
