#pragma once
// GIF89a: block introducers, labels and field values, with the format document's names.

#include <cstdint>

namespace gif {

inline constexpr char kSignature[] = "GIF89a";
inline constexpr uint8_t kExtensionIntroducer = 0x21;
inline constexpr uint8_t kImageSeparator = 0x2C;
inline constexpr uint8_t kTrailer = 0x3B;
inline constexpr uint8_t kGraphicControlLabel = 0xF9;
inline constexpr uint8_t kApplicationLabel = 0xFF;
inline constexpr uint8_t kBlockTerminator = 0x00;

inline constexpr uint8_t kColourTableFlag = 0x80;        // global or local colour table present
inline constexpr uint8_t kColourResolution8 = 0x70;      // eight bits a primary colour
inline constexpr uint8_t kDisposalDoNotDispose = 1 << 2; // the frame stays under the next one
inline constexpr uint8_t kTransparentFlag = 0x01;
inline constexpr uint8_t kGraphicControlSize = 4;

// The looping extension: application "NETSCAPE", authentication "2.0", sub-block 1 = loop count.
inline constexpr char kLoopApplication[] = "NETSCAPE2.0";
inline constexpr uint8_t kLoopSubBlockId = 1;
inline constexpr uint16_t kLoopForever = 0;

inline constexpr int kMaxSide = 65535;      // logical screen and image sizes are 16 bits
inline constexpr int kMaxDelay = 65535;     // hundredths of a second
inline constexpr int kMaxCodeBits = 12;     // LZW codes
inline constexpr int kMaxSubBlock = 255;

}  // namespace gif
