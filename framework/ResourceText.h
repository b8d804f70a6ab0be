#pragma once
// String resources. Any thread.

#include <windows.h>

#include <string>

// The string resource `id` of the module, whole; empty when there is none.
std::string LoadText(HINSTANCE instance, int id);

// The system's own words for an error code, without the line break they end with; "system error
// N" when it has none.
std::string SystemText(unsigned long code);
