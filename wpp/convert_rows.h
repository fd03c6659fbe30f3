// The hot loops: RGB565 source rows to RGB555 DIB rows for the plug-in, and
// to 8-bit RGB rows for the desktop fronts, one pass, no buffer.
// Each DIB pixel is ((p & 0xFFC0) >> 1) | (p & 0x001F); each RGB pixel is
// three bytes, every channel's bits repeated below it (5 bits: v << 3 | v >> 2,
// 6 bits: v << 2 | v >> 4).
//
// Source rows are only 2-byte aligned (any alignment in memory mode) and
// destination rows only 4-byte aligned, so every path uses unaligned loads
// and handles the row's tail exactly. Every path gives the same bytes.
//
// The scalar path is the reference and every build has it. Each CPU family
// adds its own paths in a file of its own (convert_rows_x86.cpp,
// convert_rows_neon.cpp), and a build compiles only its family's; any other
// family runs the scalar path (convert_rows_portable.cpp).
#pragma once

#include <stdint.h>

namespace wpp {

// Within a family, a later path is faster and needs more of the CPU.
enum class ConvertPath : uint8_t {
  Scalar,  // the reference, every family
  Sse2,    // x86: the build's floor
  Avx2,    // x86
  Avx512,  // x86: AVX-512BW
  Neon,    // ARM64: part of every such CPU
};
constexpr ConvertPath kAllConvertPaths[] = {ConvertPath::Scalar, ConvertPath::Sse2,
                                            ConvertPath::Avx2, ConvertPath::Avx512,
                                            ConvertPath::Neon};
const char* ConvertPathName(ConvertPath path);

// Converts width pixels from source to destination, both any alignment.
using RowConverter = void (*)(const uint8_t* source, uint8_t* destination, uint32_t width);
void ConvertRowScalar(const uint8_t* source, uint8_t* destination, uint32_t width);

// The row converter of a path this build has; null for another family's path.
RowConverter RowConverterFor(ConvertPath path);

// Expands width pixels from source (any alignment) into 3 * width bytes of
// 8-bit RGB at destination.
void ExpandRowScalar(const uint8_t* source, uint8_t* destination, uint32_t width);

// The row expander of a path this build has; null for another family's path.
// A path whose instructions give the expansion nothing (SSE2 has no byte
// shuffle) has the reference's.
RowConverter RowExpanderFor(ConvertPath path);

// The best path this CPU and operating system can run, asked of the CPU once
// per call: the plug-in keeps no state between calls. Every path of this
// build up to this one runs here too.
ConvertPath PickConvertPath();

// The same for the desktop fronts, which run only on systems that save the
// vector registers (every Unix does), so it asks the CPU alone.
ConvertPath PickExpandPath();

struct PictureLayout {
  const uint8_t* pixels;  // the source's top row
  uint32_t width;
  uint32_t height;
  uint8_t* bits;    // the DIB's first (bottom) row
  uint32_t stride;  // bytes from one DIB row to the next, a multiple of 4
};

// Converts the whole picture bottom-up through the given path (one this build
// has), writing zero into the padding bytes that follow each row of an odd width.
void ConvertPicture(ConvertPath path, const PictureLayout& layout);

}  // namespace wpp
