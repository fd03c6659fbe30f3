// The hot loop: RGB565 source rows to RGB555 DIB rows, one pass, no buffer.
// Each output pixel is ((p & 0xFFC0) >> 1) | (p & 0x001F).
//
// Source rows are only 2-byte aligned (any alignment in memory mode) and
// destination rows only 4-byte aligned, so every path uses unaligned loads
// and handles the row's tail exactly. Every path gives the same bytes.
#pragma once

#include <stdint.h>

namespace wpp {

enum class ConvertPath : uint8_t {
  Scalar,  // the reference
  Sse2,
  Avx2,
  Avx512,  // AVX-512BW
};

// Converts width pixels from source to destination, both any alignment.
void ConvertRowScalar(const uint8_t* source, uint8_t* destination, uint32_t width);
void ConvertRowSse2(const uint8_t* source, uint8_t* destination, uint32_t width);
void ConvertRowAvx2(const uint8_t* source, uint8_t* destination, uint32_t width);
void ConvertRowAvx512(const uint8_t* source, uint8_t* destination, uint32_t width);
// The best path this CPU and operating system can run, asked of CPUID once
// per call: the plug-in keeps no state between calls. Paths are ordered, so
// any path up to this one runs here too.
ConvertPath PickConvertPath();

struct PictureLayout {
  const uint8_t* pixels;  // the source's top row
  uint32_t width;
  uint32_t height;
  uint8_t* bits;    // the DIB's first (bottom) row
  uint32_t stride;  // bytes from one DIB row to the next, a multiple of 4
};

// Converts the whole picture bottom-up through the given path, writing zero
// into the padding bytes that follow each row of an odd width.
void ConvertPicture(ConvertPath path, const PictureLayout& layout);

}  // namespace wpp
