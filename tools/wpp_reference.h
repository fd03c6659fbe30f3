// What a viewer must get from a WPP picture, written from the format's
// definition apart from the plug-in's own conversion, and the one source of
// random pixels. Freestanding (no C or C++ runtime), so that every check is
// made against the same reference: the unit and contract tests, the viewer
// test of the runtime-less targets, the fuzz targets and the benchmark.
#pragma once

#include <stdint.h>

#include "wpp/bytes.h"

namespace reference {

constexpr uint32_t kInfoHeaderSize = 40;  // the DIB's BITMAPINFOHEADER
constexpr uint32_t kBitsTail = 4;         // zero bytes after the DIB's last row

// RGB565 to RGB555: red, the upper five of green's six bits, blue.
constexpr uint16_t Pixel(uint16_t p) {
  return static_cast<uint16_t>(((p >> 11) & 0x1F) << 10 | ((p >> 6) & 0x1F) << 5 | (p & 0x1F));
}

// RGB565 to 8-bit RGB, as the desktop fronts give it: each channel's bits
// repeated below it, so that 0 stays 0, full stays 255 and every value stays
// distinct.
inline void Rgb(uint16_t p, uint8_t* rgb) {
  const uint32_t red = p >> 11, green = (p >> 5) & 0x3F, blue = p & 0x1F;
  rgb[0] = static_cast<uint8_t>(red << 3 | red >> 2);
  rgb[1] = static_cast<uint8_t>(green << 2 | green >> 4);
  rgb[2] = static_cast<uint8_t>(blue << 3 | blue >> 2);
}

// DIB rows start on 4-byte boundaries.
constexpr uint32_t DibStride(uint32_t width) { return (2 * width + 3) & ~3u; }

// The bits block for width x height pixels (little-endian, top row first):
// bottom-up rows at DibStride, their padding zero, then kBitsTail zeros.
// bits holds DibStride(width) * height + kBitsTail bytes.
inline void FillDibBits(const uint8_t* pixels, uint32_t width, uint32_t height, uint8_t* bits) {
  const uint64_t stride = DibStride(width);
  for (uint64_t i = 0; i < stride * height + kBitsTail; ++i) bits[i] = 0;
  for (uint32_t row = 0; row < height; ++row) {
    const uint8_t* source = pixels + 2ull * width * (height - 1 - row);
    for (uint32_t x = 0; x < width; ++x)
      wpp::StoreLe16(bits + row * stride + 2 * x, Pixel(wpp::LoadLe16(source + 2 * x)));
  }
}

// The 40-byte BITMAPINFOHEADER: a bottom-up 16-bit BI_RGB picture whose
// biSizeImage is the size of its rows, without the bits block's tail.
inline void FillInfoHeader(uint32_t width, uint32_t height, uint8_t* header) {
  for (uint32_t i = 0; i < kInfoHeaderSize; ++i) header[i] = 0;
  wpp::StoreLe32(header + 0, kInfoHeaderSize);
  wpp::StoreLe32(header + 4, width);
  wpp::StoreLe32(header + 8, height);
  wpp::StoreLe16(header + 12, 1);
  wpp::StoreLe16(header + 14, 16);
  wpp::StoreLe32(header + 20, DibStride(width) * height);
}

// Pixels from a fixed seed, the same on every build and every run (xorshift).
struct Random {
  uint32_t state;
  explicit Random(uint32_t seed) : state(seed * 2654435761u + 1) {}
  uint16_t NextPixel() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return static_cast<uint16_t>(state >> 7);
  }
};

}  // namespace reference
