// The reference path and the walk over the picture's rows, the same for
// every CPU family.

#include "wpp/convert_rows.h"

#include "wpp/bytes.h"

namespace wpp {

const char* ConvertPathName(ConvertPath path) {
  constexpr const char* kNames[] = {"scalar", "sse2", "avx2", "avx512", "neon"};
  return kNames[static_cast<int>(path)];
}

void ConvertRowScalar(const uint8_t* source, uint8_t* destination, uint32_t width) {
  for (uint32_t i = 0; i < width; ++i) {
    const uint16_t p = LoadLe16(source + 2 * i);
    StoreLe16(destination + 2 * i, static_cast<uint16_t>(((p & 0xFFC0u) >> 1) | (p & 0x001Fu)));
  }
}

void ConvertPicture(ConvertPath path, const PictureLayout& layout) {
  const RowConverter convertRow = RowConverterFor(path);
  const uint32_t rowBytes = 2 * layout.width;
  const bool padded = layout.stride != rowBytes;
  uint8_t* destination = layout.bits;
  for (uint32_t row = 0; row < layout.height; ++row) {
    const uint8_t* source =
        layout.pixels + static_cast<uint32_t>(layout.height - 1 - row) * rowBytes;
    convertRow(source, destination, layout.width);
    if (padded) StoreLe16(destination + rowBytes, 0);
    destination += layout.stride;
  }
}

}  // namespace wpp
