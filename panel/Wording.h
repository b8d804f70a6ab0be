#pragma once
// Small helpers for the panel's message texts.

#include <cstdint>
#include <initializer_list>
#include <string>

// Puts `values` in place of each "%s" of `pattern`, in order; anything else stays as it is.
std::string FillIn(const std::string& pattern, std::initializer_list<std::string> values);
// "0:42", "12:05", or "1:02:03" from past an hour.
std::string Duration(int64_t milliseconds);
// "840 KB", "3.5 MB", "1.4 GB".
std::string ByteSize(uint64_t bytes);
