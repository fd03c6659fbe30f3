// The conversion paths, and the run-time choice between them. The plug-in is
// built for SSE2; the AVX2 and AVX-512BW paths are each compiled for their own
// instructions and only run where CPUID and the operating system say they may.
// Every path writes with normal stores: a viewer's bits block has just been
// allocated, so each page is faulted in and zeroed through the cache right
// before we write it, and stores that bypass the cache lose there.

#include "wpp/convert_rows.h"

#include <cpuid.h>
#include <immintrin.h>

#include "wpp/bytes.h"

namespace wpp {
namespace {

inline uint16_t ConvertPixel(uint16_t p) {
  return static_cast<uint16_t>(((p & 0xFFC0u) >> 1) | (p & 0x001Fu));
}

inline __m128i ConvertSse2(__m128i p) {
  const __m128i high = _mm_set1_epi16(static_cast<short>(0xFFC0));
  const __m128i blue = _mm_set1_epi16(0x001F);
  return _mm_or_si128(_mm_srli_epi16(_mm_and_si128(p, high), 1), _mm_and_si128(p, blue));
}

__attribute__((target("avx2"))) inline __m256i ConvertAvx2(__m256i p) {
  const __m256i high = _mm256_set1_epi16(static_cast<short>(0xFFC0));
  const __m256i blue = _mm256_set1_epi16(0x001F);
  return _mm256_or_si256(_mm256_srli_epi16(_mm256_and_si256(p, high), 1),
                         _mm256_and_si256(p, blue));
}

__attribute__((target("avx512f,avx512bw"))) inline __m512i ConvertAvx512(__m512i p) {
  const __m512i high = _mm512_set1_epi16(static_cast<short>(0xFFC0));
  const __m512i blue = _mm512_set1_epi16(0x001F);
  return _mm512_or_si512(_mm512_srli_epi16(_mm512_and_si512(p, high), 1),
                         _mm512_and_si512(p, blue));
}

// Converts count (below 32) pixels with masked loads and stores: the masked-off
// bytes are neither read nor written, so a tail needs no overlap.
__attribute__((target("avx512f,avx512bw"))) inline void ConvertMaskedAvx512(const uint8_t* source,
                                                                            uint8_t* destination,
                                                                            uint32_t count) {
  const __mmask32 mask = static_cast<__mmask32>((1u << count) - 1);
  const __m512i a = _mm512_maskz_loadu_epi16(mask, source);
  _mm512_mask_storeu_epi16(destination, mask, ConvertAvx512(a));
}

// Converts pixels [from, to) one at a time.
inline void ConvertSpanScalar(const uint8_t* source, uint8_t* destination, uint32_t from,
                              uint32_t to) {
  for (uint32_t i = from; i < to; ++i)
    StoreLe16(destination + 2 * i, ConvertPixel(LoadLe16(source + 2 * i)));
}

}  // namespace

void ConvertRowScalar(const uint8_t* source, uint8_t* destination, uint32_t width) {
  ConvertSpanScalar(source, destination, 0, width);
}

void ConvertRowSse2(const uint8_t* source, uint8_t* destination, uint32_t width) {
  if (width < 8) {
    ConvertSpanScalar(source, destination, 0, width);
    return;
  }
  uint32_t i = 0;
  for (; i + 16 <= width; i += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 2 * i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 2 * i + 16));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(destination + 2 * i), ConvertSse2(a));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(destination + 2 * i + 16), ConvertSse2(b));
  }
  for (; i + 8 <= width; i += 8) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 2 * i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(destination + 2 * i), ConvertSse2(a));
  }
  if (i < width) {
    // The last eight pixels again, overlapping: source and destination never
    // overlap, so converting a pixel twice writes the same value twice.
    const uint32_t last = width - 8;
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 2 * last));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(destination + 2 * last), ConvertSse2(a));
  }
}

__attribute__((target("avx2"))) void ConvertRowAvx2(const uint8_t* source, uint8_t* destination,
                                                    uint32_t width) {
  if (width < 16) {
    ConvertRowSse2(source, destination, width);
    return;
  }
  uint32_t i = 0;
  for (; i + 32 <= width; i += 32) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source + 2 * i));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source + 2 * i + 32));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(destination + 2 * i), ConvertAvx2(a));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(destination + 2 * i + 32), ConvertAvx2(b));
  }
  for (; i + 16 <= width; i += 16) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source + 2 * i));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(destination + 2 * i), ConvertAvx2(a));
  }
  if (i < width) {
    const uint32_t last = width - 16;
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source + 2 * last));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(destination + 2 * last), ConvertAvx2(a));
  }
}

__attribute__((target("avx512f,avx512bw"))) void ConvertRowAvx512(const uint8_t* source,
                                                                  uint8_t* destination,
                                                                  uint32_t width) {
  uint32_t i = 0;
  for (; i + 64 <= width; i += 64) {
    const __m512i a = _mm512_loadu_si512(source + 2 * i);
    const __m512i b = _mm512_loadu_si512(source + 2 * i + 64);
    _mm512_storeu_si512(destination + 2 * i, ConvertAvx512(a));
    _mm512_storeu_si512(destination + 2 * i + 64, ConvertAvx512(b));
  }
  for (; i + 32 <= width; i += 32) {
    const __m512i a = _mm512_loadu_si512(source + 2 * i);
    _mm512_storeu_si512(destination + 2 * i, ConvertAvx512(a));
  }
  if (i < width) ConvertMaskedAvx512(source + 2 * i, destination + 2 * i, width - i);
}

ConvertPath PickConvertPath() {
  // One probe: SSE2 is the build's floor; AVX2 and AVX-512BW need the CPU's
  // word and the operating system's, which saves their registers (XGETBV).
  unsigned eax, ebx, ecx, edx;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx) || (ecx & bit_OSXSAVE) == 0) return ConvertPath::Sse2;
  const bool avx = (ecx & bit_AVX) != 0;
  unsigned stateLow, stateHigh;
  __asm__ volatile("xgetbv" : "=a"(stateLow), "=d"(stateHigh) : "c"(0));
  if (__get_cpuid_max(0, nullptr) < 7) return ConvertPath::Sse2;
  __cpuid_count(7, 0, eax, ebx, ecx, edx);
  // XMM, YMM, the mask registers and both halves of the ZMM state saved.
  if ((stateLow & 0xE6) == 0xE6 && (ebx & bit_AVX512F) != 0 && (ebx & bit_AVX512BW) != 0)
    return ConvertPath::Avx512;
  if (avx && (stateLow & 0x6) == 0x6 && (ebx & bit_AVX2) != 0) return ConvertPath::Avx2;
  return ConvertPath::Sse2;
}

void ConvertPicture(ConvertPath path, const PictureLayout& layout) {
  using RowFunction = void (*)(const uint8_t*, uint8_t*, uint32_t);
  constexpr RowFunction kRows[] = {ConvertRowScalar, ConvertRowSse2, ConvertRowAvx2,
                                   ConvertRowAvx512};
  const RowFunction convertRow = kRows[static_cast<int>(path)];
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
