// The ARM64 paths. NEON is part of every ARM64 CPU, so it is picked at compile
// time: nothing to probe. Conversion: eight pixels a vector, sixteen a step; a row's tail
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

// Each channel's bits repeated below it, in eight 16-bit lanes, narrowed to bytes.
inline uint8x8x3_t ExpandNeon(uint16x8_t p) {
  const uint16x8_t red = vshrq_n_u16(p, 11);
  const uint16x8_t green = vandq_u16(vshrq_n_u16(p, 5), vdupq_n_u16(0x3F));
  const uint16x8_t blue = vandq_u16(p, vdupq_n_u16(0x1F));
  uint8x8x3_t rgb;
  rgb.val[0] = vmovn_u16(vorrq_u16(vshlq_n_u16(red, 3), vshrq_n_u16(red, 2)));
  rgb.val[1] = vmovn_u16(vorrq_u16(vshlq_n_u16(green, 2), vshrq_n_u16(green, 4)));
  rgb.val[2] = vmovn_u16(vorrq_u16(vshlq_n_u16(blue, 3), vshrq_n_u16(blue, 2)));
  return rgb;
}

// Expansion: eight pixels a step, stored interleaved by vst3; the tail
// through the reference.
void ExpandRowNeon(const uint8_t* source, uint8_t* destination, uint32_t width) {
  uint32_t i = 0;
  for (; i + 8 <= width; i += 8) vst3_u8(destination + 3 * i, ExpandNeon(Load(source + 2 * i)));
  ExpandRowScalar(source + 2 * i, destination + 3 * i, width - i);
}

// This family's two paths: the reference's row function, or NEON's.
RowConverter OfPath(ConvertPath path, RowConverter scalar, RowConverter neon) {
  if (path == ConvertPath::Scalar) return scalar;
  return path == ConvertPath::Neon ? neon : nullptr;
}

}  // namespace

RowConverter RowConverterFor(ConvertPath path) {
  return OfPath(path, ConvertRowScalar, ConvertRowNeon);
}
RowConverter RowExpanderFor(ConvertPath path) {
  return OfPath(path, ExpandRowScalar, ExpandRowNeon);
}

ConvertPath PickConvertPath() { return ConvertPath::Neon; }
ConvertPath PickExpandPath() { return ConvertPath::Neon; }

}  // namespace wpp
