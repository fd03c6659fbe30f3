// The conversion paths, and the run-time choice between them. The plug-in is
// built for SSE2; the AVX2 and AVX-512BW paths are each compiled for their own
// instructions and only run where CPUID and the operating system say they may.

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

// Pixels to convert one at a time before destination + 2 * i sits on an
// `alignment`-byte boundary, or the whole row when it never can.
inline uint32_t PixelsBeforeAligned(const uint8_t* destination, uint32_t width,
                                    uint32_t alignment) {
  const uintptr_t address = reinterpret_cast<uintptr_t>(destination);
  if (address & 1) return width;
  const uint32_t head =
      static_cast<uint32_t>((alignment - (address & (alignment - 1))) & (alignment - 1)) / 2;
  return head < width ? head : width;
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

// The streaming paths write only whole 64-byte lines past the cache: a line
// that is partly streamed and partly stored normally flushes its write-combining
// buffer half-full, which more than halves the speed of a row copy whose
// rows are not multiples of 64 bytes. Heads and tails take normal stores.
void ConvertRowSse2Streaming(const uint8_t* source, uint8_t* destination, uint32_t width) {
  const uint32_t head = PixelsBeforeAligned(destination, width, 64);
  ConvertRowSse2(source, destination, head);
  uint32_t i = head;
  for (; i + 32 <= width; i += 32) {
    for (uint32_t part = 0; part < 32; part += 8) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 2 * (i + part)));
      _mm_stream_si128(reinterpret_cast<__m128i*>(destination + 2 * (i + part)), ConvertSse2(a));
    }
  }
  ConvertRowSse2(source + 2 * i, destination + 2 * i, width - i);
}

__attribute__((target("avx2"))) void ConvertRowAvx2Streaming(const uint8_t* source,
                                                             uint8_t* destination, uint32_t width) {
  const uint32_t head = PixelsBeforeAligned(destination, width, 64);
  ConvertRowAvx2(source, destination, head);
  uint32_t i = head;
  for (; i + 32 <= width; i += 32) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source + 2 * i));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source + 2 * i + 32));
    _mm256_stream_si256(reinterpret_cast<__m256i*>(destination + 2 * i), ConvertAvx2(a));
    _mm256_stream_si256(reinterpret_cast<__m256i*>(destination + 2 * i + 32), ConvertAvx2(b));
  }
  ConvertRowAvx2(source + 2 * i, destination + 2 * i, width - i);
}

__attribute__((target("avx512f,avx512bw"))) void ConvertRowAvx512Streaming(const uint8_t* source,
                                                                           uint8_t* destination,
                                                                           uint32_t width) {
  const uint32_t head = PixelsBeforeAligned(destination, width, 64);
  // An odd address never reaches a boundary; unaligned normal stores then.
  if (head >= 32) {
    ConvertRowAvx512(source, destination, width);
    return;
  }
  if (head > 0) ConvertMaskedAvx512(source, destination, head);
  uint32_t i = head;
  for (; i + 32 <= width; i += 32) {
    const __m512i a = _mm512_loadu_si512(source + 2 * i);
    _mm512_stream_si512(reinterpret_cast<__m512i*>(destination + 2 * i), ConvertAvx512(a));
  }
  if (i < width) ConvertMaskedAvx512(source + 2 * i, destination + 2 * i, width - i);
}

bool CpuCanRunAvx2() {
  unsigned eax, ebx, ecx, edx;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  const bool osSavesState = (ecx & bit_OSXSAVE) != 0;
  if (!osSavesState || (ecx & bit_AVX) == 0) return false;
  unsigned stateLow, stateHigh;
  __asm__ volatile("xgetbv" : "=a"(stateLow), "=d"(stateHigh) : "c"(0));
  if ((stateLow & 0x6) != 0x6) return false;  // XMM and YMM state both saved
  if (__get_cpuid_max(0, nullptr) < 7) return false;
  __cpuid_count(7, 0, eax, ebx, ecx, edx);
  return (ebx & bit_AVX2) != 0;
}

bool CpuCanRunAvx512() {
  unsigned eax, ebx, ecx, edx;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  if ((ecx & bit_OSXSAVE) == 0) return false;
  unsigned stateLow, stateHigh;
  __asm__ volatile("xgetbv" : "=a"(stateLow), "=d"(stateHigh) : "c"(0));
  // XMM, YMM, the mask registers and both halves of the ZMM state saved.
  if ((stateLow & 0xE6) != 0xE6) return false;
  if (__get_cpuid_max(0, nullptr) < 7) return false;
  __cpuid_count(7, 0, eax, ebx, ecx, edx);
  return (ebx & bit_AVX512F) != 0 && (ebx & bit_AVX512BW) != 0;
}

ConvertPath PickConvertPath() {
  if (CpuCanRunAvx512()) return ConvertPath::Avx512;
  return CpuCanRunAvx2() ? ConvertPath::Avx2 : ConvertPath::Sse2;
}

uint32_t LastLevelCacheBytes() {
  unsigned eax, ebx, ecx, edx;
  uint64_t largest = 0;
  if (__get_cpuid_max(0, nullptr) >= 4) {
    // Deterministic cache parameters: one sub-leaf per cache until type 0.
    for (unsigned index = 0; index < 16; ++index) {
      __cpuid_count(4, index, eax, ebx, ecx, edx);
      if ((eax & 0x1F) == 0) break;
      const uint64_t ways = ((ebx >> 22) & 0x3FF) + 1;
      const uint64_t partitions = ((ebx >> 12) & 0x3FF) + 1;
      const uint64_t lineSize = (ebx & 0xFFF) + 1;
      const uint64_t sets = static_cast<uint64_t>(ecx) + 1;
      const uint64_t size = ways * partitions * lineSize * sets;
      if (size > largest) largest = size;
    }
  }
  if (largest == 0 && __get_cpuid_max(0x80000000, nullptr) >= 0x80000006) {
    __cpuid(0x80000006, eax, ebx, ecx, edx);
    const uint64_t level2 = static_cast<uint64_t>(ecx >> 16) * 1024;
    const uint64_t level3 = static_cast<uint64_t>(edx >> 18) * 512 * 1024;
    largest = level3 > level2 ? level3 : level2;
  }
  return largest > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(largest);
}

// Stores that bypass the cache pay off once the picture's source and output
// together no longer fit in the part of the last-level cache one conversion
// can expect to have. CPUID reports the whole cache, which on a server part
// (or a virtual machine on one) is shared by many cores and tenants: a VM here
// reports 300 MiB, yet memcpy already falls to half speed at 128 MiB + 128 MiB
// and streaming wins from 32 MiB + 32 MiB on. So the figure is capped at
// kStreamCacheCap. Below that, pictures keep normal stores: a viewer draws them
// at once and wants them in the cache.
constexpr uint64_t kStreamCacheCap = 16ull << 20;

bool ShouldStreamStores(uint64_t outputBytes) {
  const uint64_t reported = LastLevelCacheBytes();
  if (reported == 0) return false;
  const uint64_t cache = reported < kStreamCacheCap ? reported : kStreamCacheCap;
  // The source is about as large as the output: 2 bytes a pixel both.
  return 2 * outputBytes > cache;
}

void ConvertPicture(ConvertPath path, bool streamStores, const PictureLayout& layout) {
  using RowFunction = void (*)(const uint8_t*, uint8_t*, uint32_t);
  RowFunction convertRow = ConvertRowScalar;
  if (path == ConvertPath::Sse2)
    convertRow = streamStores ? ConvertRowSse2Streaming : ConvertRowSse2;
  if (path == ConvertPath::Avx2)
    convertRow = streamStores ? ConvertRowAvx2Streaming : ConvertRowAvx2;
  if (path == ConvertPath::Avx512)
    convertRow = streamStores ? ConvertRowAvx512Streaming : ConvertRowAvx512;

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
  if (streamStores && path != ConvertPath::Scalar) _mm_sfence();
}

}  // namespace wpp
