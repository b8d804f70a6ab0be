#pragma once
// PNG: the signature, chunk types and field values, with the format document's names.

#include <cstdint>

namespace png {

inline constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
inline constexpr char kIHDR[] = "IHDR";
inline constexpr char kPLTE[] = "PLTE";
inline constexpr char kPHYs[] = "pHYs";
inline constexpr char kIDAT[] = "IDAT";
inline constexpr char kIEND[] = "IEND";

inline constexpr uint8_t kColourTypeTrueColour = 2;
inline constexpr uint8_t kColourTypeIndexed = 3;
inline constexpr uint8_t kUnitMetre = 1;

inline constexpr uint8_t kFilterNone = 0;

inline constexpr uint32_t kMaxSide = 0x7FFFFFFF;  // width and height are at most 2^31 - 1

}  // namespace png
