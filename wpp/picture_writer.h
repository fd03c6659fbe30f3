// What every writer of WPP pictures shares: the header for a size, and how
// 8-bit channels become one RGB565 pixel. make_wpp, the tests' writer and the
// web encoder all write through these, so a picture written from the same
// colours has the same bytes whichever wrote it.
#pragma once

#include <stdint.h>

#include "wpp/bytes.h"
#include "wpp/wpp.h"

namespace wpp {

// The largest side a header holds, and the dataLength of width x height
// pixels, in 64 bits: past 32 bits no header can hold it.
constexpr uint32_t kLargestSide = 0xFFFF;
constexpr uint64_t kLargestDataLength = 0xFFFFFFFF;
constexpr uint64_t DataLengthFor(uint32_t width, uint32_t height) {
  return 2ull * width * height + 4;
}

// Each channel's top bits: red and blue keep 5, green 6. Rounding down, so
// that a picture read back and written again keeps every pixel.
constexpr uint16_t PackRgb565(uint32_t red, uint32_t green, uint32_t blue) {
  return static_cast<uint16_t>(((red >> 3) << 11) | ((green >> 2) << 5) | (blue >> 3));
}

// The header's three fields into bytes 16 to 23 of header; the 16 bytes
// before them are the writer's to fill.
inline void StoreHeaderFields(uint8_t* header, uint32_t dataLength, uint16_t width,
                              uint16_t height) {
  StoreLe32(header + kDataLengthOffset, dataLength);
  StoreLe16(header + kWidthOffset, width);
  StoreLe16(header + kHeightOffset, height);
}

}  // namespace wpp
