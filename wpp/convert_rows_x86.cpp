// The x86 paths, and the run-time choice between them (the plug-in's, which
// asks the system too, is in convert_path_x86.cpp). The plug-in is built
// for the family's floor, i686 at 32 bits (a CPU without SSE, which 32-bit
// Windows still runs on): the SSE2, AVX2 and AVX-512BW paths are each compiled
// for their own instructions and only run where CPUID and the operating
// system say they may.
// Every path writes with normal stores: a viewer's bits block has just been
// allocated, so each page is faulted in and zeroed through the cache right
// before we write it, and stores that bypass the cache lose there.

#include <cpuid.h>
#include <immintrin.h>

#include "wpp/convert_rows.h"
#include "wpp/cpu_x86.h"

namespace wpp {
namespace {

__attribute__((target("sse2"))) inline __m128i ConvertSse2(__m128i p) {
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

// Unaligned loads and stores of a vector of pixels.
__attribute__((target("sse2"))) inline __m128i LoadSse2(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
__attribute__((target("sse2"))) inline void StoreSse2(uint8_t* p, __m128i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}
__attribute__((target("avx2"))) inline __m256i LoadAvx2(const uint8_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
__attribute__((target("avx2"))) inline void StoreAvx2(uint8_t* p, __m256i v) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
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

__attribute__((target("sse2"))) void ConvertRowSse2(const uint8_t* source, uint8_t* destination,
                                                    uint32_t width) {
  if (width < 8) {
    ConvertRowScalar(source, destination, width);
    return;
  }
  uint32_t i = 0;
  for (; i + 16 <= width; i += 16) {
    const __m128i a = LoadSse2(source + 2 * i);
    const __m128i b = LoadSse2(source + 2 * i + 16);
    StoreSse2(destination + 2 * i, ConvertSse2(a));
    StoreSse2(destination + 2 * i + 16, ConvertSse2(b));
  }
  for (; i + 8 <= width; i += 8)
    StoreSse2(destination + 2 * i, ConvertSse2(LoadSse2(source + 2 * i)));
  if (i < width) {
    // The last eight pixels again, overlapping: source and destination never
    // overlap, so converting a pixel twice writes the same value twice.
    const uint32_t last = width - 8;
    StoreSse2(destination + 2 * last, ConvertSse2(LoadSse2(source + 2 * last)));
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
    const __m256i a = LoadAvx2(source + 2 * i);
    const __m256i b = LoadAvx2(source + 2 * i + 32);
    StoreAvx2(destination + 2 * i, ConvertAvx2(a));
    StoreAvx2(destination + 2 * i + 32, ConvertAvx2(b));
  }
  for (; i + 16 <= width; i += 16)
    StoreAvx2(destination + 2 * i, ConvertAvx2(LoadAvx2(source + 2 * i)));
  if (i < width) {
    const uint32_t last = width - 16;
    StoreAvx2(destination + 2 * last, ConvertAvx2(LoadAvx2(source + 2 * last)));
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
  for (; i + 32 <= width; i += 32)
    _mm512_storeu_si512(destination + 2 * i, ConvertAvx512(_mm512_loadu_si512(source + 2 * i)));
  if (i < width) ConvertMaskedAvx512(source + 2 * i, destination + 2 * i, width - i);
}

// Expansion, eight pixels a step: each channel's bits repeated below it in
// 16-bit lanes, red and green packed into one word per pixel, then two byte
// shuffles lay the three channels out as 24 bytes. SSSE3's shuffle, which
// every AVX2 CPU has, in the AVX2 path's encoding; the tail through the
// reference.
__attribute__((target("avx2"))) void ExpandRowAvx2(const uint8_t* source, uint8_t* destination,
                                                   uint32_t width) {
  const __m128i low5 = _mm_set1_epi16(0x1F), low6 = _mm_set1_epi16(0x3F);
  const __m128i redGreenFirst = _mm_setr_epi8(0, 1, -1, 2, 3, -1, 4, 5, -1, 6, 7, -1, 8, 9, -1, 10);
  const __m128i blueFirst =
      _mm_setr_epi8(-1, -1, 0, -1, -1, 2, -1, -1, 4, -1, -1, 6, -1, -1, 8, -1);
  const __m128i redGreenLast =
      _mm_setr_epi8(11, -1, 12, 13, -1, 14, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i blueLast =
      _mm_setr_epi8(-1, 10, -1, -1, 12, -1, -1, 14, -1, -1, -1, -1, -1, -1, -1, -1);
  uint32_t i = 0;
  for (; i + 8 <= width; i += 8) {
    const __m128i p = LoadSse2(source + 2 * i);
    const __m128i red = _mm_srli_epi16(p, 11);
    const __m128i green = _mm_and_si128(_mm_srli_epi16(p, 5), low6);
    const __m128i blue = _mm_and_si128(p, low5);
    const __m128i red8 = _mm_or_si128(_mm_slli_epi16(red, 3), _mm_srli_epi16(red, 2));
    const __m128i green8 = _mm_or_si128(_mm_slli_epi16(green, 2), _mm_srli_epi16(green, 4));
    const __m128i blue8 = _mm_or_si128(_mm_slli_epi16(blue, 3), _mm_srli_epi16(blue, 2));
    const __m128i redGreen = _mm_or_si128(red8, _mm_slli_epi16(green8, 8));
    const __m128i first =
        _mm_or_si128(_mm_shuffle_epi8(redGreen, redGreenFirst), _mm_shuffle_epi8(blue8, blueFirst));
    const __m128i last =
        _mm_or_si128(_mm_shuffle_epi8(redGreen, redGreenLast), _mm_shuffle_epi8(blue8, blueLast));
    StoreSse2(destination + 3 * i, first);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(destination + 3 * i + 16), last);
  }
  ExpandRowScalar(source + 2 * i, destination + 3 * i, width - i);
}

// The register state XGETBV reports saved: XMM and YMM for AVX2; for
// AVX-512 also the mask registers and both halves of the ZMM state.
constexpr uint32_t kAvxState = 0x6;
constexpr uint32_t kAvx512State = 0xE6;

}  // namespace

RowConverter RowConverterFor(ConvertPath path) {
  // In the order of ConvertPath; the paths after these are another family's.
  constexpr RowConverter kConverters[] = {ConvertRowScalar, ConvertRowSse2, ConvertRowAvx2,
                                          ConvertRowAvx512};
  const auto index = static_cast<size_t>(path);
  return index < sizeof kConverters / sizeof kConverters[0] ? kConverters[index] : nullptr;
}

RowConverter RowExpanderFor(ConvertPath path) {
  constexpr RowConverter kExpanders[] = {ExpandRowScalar, ExpandRowScalar, ExpandRowAvx2,
                                         ExpandRowAvx2};
  const auto index = static_cast<size_t>(path);
  return index < sizeof kExpanders / sizeof kExpanders[0] ? kExpanders[index] : nullptr;
}

ConvertPath ChooseX86Path(const X86CpuWords& words) {
  // On a system that does not save the XMM registers at a task switch, the
  // first SSE2 instruction faults (or another program's registers leak in).
  if ((words.leaf1Edx & bit_SSE2) == 0 || !words.xmmSaved) return ConvertPath::Scalar;
  // Without OSXSAVE the system saves no wide registers, whatever the CPU has.
  if ((words.leaf1Ecx & bit_OSXSAVE) == 0 || words.maxLeaf < 7) return ConvertPath::Sse2;
  if ((words.xcr0 & kAvx512State) == kAvx512State && (words.leaf7Ebx & bit_AVX512F) != 0 &&
      (words.leaf7Ebx & bit_AVX512BW) != 0)
    return ConvertPath::Avx512;
  if ((words.leaf1Ecx & bit_AVX) != 0 && (words.xcr0 & kAvxState) == kAvxState &&
      (words.leaf7Ebx & bit_AVX2) != 0)
    return ConvertPath::Avx2;
  return ConvertPath::Sse2;
}

X86CpuWords ProbeX86Cpu(bool xmmSaved) {
  // Every CPU of our floor (i686 at 32 bits) has CPUID, so it is not probed
  // for by toggling the flags register first. ECX is set for every leaf, as
  // valgrind takes the result to depend on it.
  X86CpuWords words = {};
  unsigned eax, ebx, ecx, edx;
  __cpuid_count(0, 0, eax, ebx, ecx, edx);
  words.maxLeaf = eax;
  words.xmmSaved = xmmSaved;
  if (words.maxLeaf >= 1) {
    __cpuid_count(1, 0, eax, ebx, ecx, edx);
    words.leaf1Ecx = ecx;
    words.leaf1Edx = edx;
  }
  if (words.leaf1Ecx & bit_OSXSAVE) {
    unsigned stateLow, stateHigh;
    __asm__ volatile("xgetbv" : "=a"(stateLow), "=d"(stateHigh) : "c"(0));
    words.xcr0 = stateLow;
  }
  if (words.maxLeaf >= 7) {
    __cpuid_count(7, 0, eax, ebx, ecx, edx);
    words.leaf7Ebx = ebx;
  }
  return words;
}

ConvertPath PickExpandPath() { return ChooseX86Path(ProbeX86Cpu(true)); }

}  // namespace wpp
