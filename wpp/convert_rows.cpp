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

void ExpandRowScalar(const uint8_t* source, uint8_t* destination, uint32_t width) {
  for (uint32_t i = 0; i < width; ++i) {
    const uint32_t p = LoadLe16(source + 2 * i);
    const uint32_t red = p >> 11, green = (p >> 5) & 0x3Fu, blue = p & 0x1Fu;
    destination[3 * i] = static_cast<uint8_t>(red << 3 | red >> 2);
    destination[3 * i + 1] = static_cast<uint8_t>(green << 2 | green >> 4);
    destination[3 * i + 2] = static_cast<uint8_t>(blue << 3 | blue >> 2);
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
