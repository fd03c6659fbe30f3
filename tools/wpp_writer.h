// Writes WPP pictures: the one writer of the format, shared by make_wpp, the
// tests, the fuzz seed maker and the benchmark.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

namespace wppfile {

using Bytes = std::vector<uint8_t>;

struct ImageSpec {
  uint32_t width = 0;            // written as 16 bits
  uint32_t height = 0;           // written as 16 bits
  std::vector<uint16_t> pixels;  // width * height RGB565 values, top row first
  int64_t dataLength = -1;       // -1: the right value, 2 * width * height + 4
  uint8_t prefixByte = 0x5A;     // the 16 free bytes, all this value...
  const char* prefix = nullptr;  // ...or these 16 characters
};

// The picture's bytes: header, then exactly width * height pixels (zero
// where pixels has fewer).
Bytes EncodeWpp(const ImageSpec& image);

// Just a header with those fields; no pixels follow.
Bytes HeaderOnly(uint32_t dataLength, uint32_t width, uint32_t height, uint8_t prefixByte = 0);

// Pixels from a fixed seed: the same every run.
std::vector<uint16_t> RandomPixels(size_t count, uint32_t seed);

// A width x height picture of random pixels.
ImageSpec RandomImage(uint32_t width, uint32_t height, uint32_t seed = 1);

}  // namespace wppfile
