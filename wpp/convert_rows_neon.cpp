// The ARM64 path. NEON is part of every ARM64 CPU, so it is picked at compile
// time: nothing to probe. Eight pixels a vector, sixteen a step; a row's tail
// is converted again over the last full vector (source and destination never
// overlap, so a pixel converted twice is written twice with the same value),
// and a row narrower than one vector goes through the reference.

#include <arm_neon.h>

#include "wpp/convert_rows.h"

namespace wpp {
namespace {

inline uint16x8_t ConvertNeon(uint16x8_t p) {
  const uint16x8_t high = vdupq_n_u16(0xFFC0);
  const uint16x8_t blue = vdupq_n_u16(0x001F);
  return vorrq_u16(vshrq_n_u16(vandq_u16(p, high), 1), vandq_u16(p, blue));
}

// Byte loads and stores: any alignment, and ARM64 is little-endian as the
// pixels are.
inline uint16x8_t Load(const uint8_t* p) { return vreinterpretq_u16_u8(vld1q_u8(p)); }
inline void Store(uint8_t* p, uint16x8_t v) { vst1q_u8(p, vreinterpretq_u8_u16(v)); }

void ConvertRowNeon(const uint8_t* source, uint8_t* destination, uint32_t width) {
  if (width < 8) {
    ConvertRowScalar(source, destination, width);
    return;
  }
  uint32_t i = 0;
  for (; i + 16 <= width; i += 16) {
    const uint16x8_t a = Load(source + 2 * i);
    const uint16x8_t b = Load(source + 2 * i + 16);
    Store(destination + 2 * i, ConvertNeon(a));
    Store(destination + 2 * i + 16, ConvertNeon(b));
  }
  for (; i + 8 <= width; i += 8) Store(destination + 2 * i, ConvertNeon(Load(source + 2 * i)));
  if (i < width) {
    const uint32_t last = width - 8;
    Store(destination + 2 * last, ConvertNeon(Load(source + 2 * last)));
  }
}

}  // namespace

RowConverter RowConverterFor(ConvertPath path) {
  switch (path) {
    case ConvertPath::Scalar:
      return ConvertRowScalar;
    case ConvertPath::Neon:
      return ConvertRowNeon;
    default:
      return nullptr;
  }
}

ConvertPath PickConvertPath() { return ConvertPath::Neon; }

}  // namespace wpp
