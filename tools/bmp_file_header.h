// The 14-byte BITMAPFILEHEADER in front of the plug-in's two blocks, for
// both converters: freestanding, as the one for runtime-less targets has no
// C or C++ runtime.
#pragma once

#include <stdint.h>

#include "wpp/bytes.h"

constexpr uint32_t kBmpFileHeaderSize = 14;
constexpr uint32_t kBmpInfoHeaderSize = 40;

// "BM", the file's size, two reserved zeros and the offset of the rows,
// which follow the 40-byte header.
inline void FillBmpFileHeader(uint32_t rowBytes, uint8_t* header) {
  constexpr uint32_t pixelOffset = kBmpFileHeaderSize + kBmpInfoHeaderSize;
  header[0] = 'B';
  header[1] = 'M';
  wpp::StoreLe32(header + 2, pixelOffset + rowBytes);
  wpp::StoreLe32(header + 6, 0);
  wpp::StoreLe32(header + 10, pixelOffset);
}
