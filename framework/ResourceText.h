#pragma once
// String resources. Any thread.

#include <windows.h>

#include <string>

// The string resource `id` of the module, whole; empty when there is none.
std::string LoadText(HINSTANCE instance, int id);
