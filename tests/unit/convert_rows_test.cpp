// Every conversion and expansion path against the reference, for every tail
// length, at awkward alignments, writing nothing outside its row.

#include "wpp/convert_rows.h"
#if defined(__x86_64__) || defined(__i386__)
#include "platform/posix/fault_injection.h"
#include "wpp/cpu_x86.h"
#endif

#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include "tests/support/bytes_and_files.h"
#include "wpp/bytes.h"

namespace {

using wpp::ConvertPath;

// The compiler's own reading of the CPU and the system, a second opinion
// beside the plug-in's probe.
ConvertPath BestPathHere() {
#if defined(__aarch64__)
  return ConvertPath::Neon;
#elif defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw"))
    return ConvertPath::Avx512;
  if (__builtin_cpu_supports("avx2")) return ConvertPath::Avx2;
  return __builtin_cpu_supports("sse2") ? ConvertPath::Sse2 : ConvertPath::Scalar;
#else
  return ConvertPath::Scalar;
#endif
}

// The paths this build has: the reference and its CPU family's own.
std::vector<ConvertPath> PathsOfThisBuild() {
  std::vector<ConvertPath> paths;
  for (ConvertPath path : wpp::kAllConvertPaths)
    if (wpp::RowConverterFor(path) != nullptr) paths.push_back(path);
  return paths;
}

class ConvertRows : public ::testing::TestWithParam<ConvertPath> {};

// The two row operations of each path: the plug-in's RGB555 and the desktop
// fronts' 8-bit RGB, each with its reference for one pixel.
struct RowOperation {
  const char* name;
  wpp::RowConverter (*of)(ConvertPath);
  size_t bytesOut;  // per pixel
  void (*reference)(uint16_t pixel, uint8_t* out);
};
const RowOperation kOperations[] = {
    {"convert", wpp::RowConverterFor, 2,
     [](uint16_t p, uint8_t* out) { wpp::StoreLe16(out, testwpp::ReferencePixel(p)); }},
    {"expand", wpp::RowExpanderFor, 3, reference::Rgb},
};

TEST_P(ConvertRows, MatchTheFormulaForEveryWidthAndAlignment) {
  const char* name = wpp::ConvertPathName(GetParam());
  if (GetParam() > BestPathHere()) GTEST_SKIP() << "this CPU cannot run " << name;
  std::vector<uint32_t> widths;
  for (uint32_t w = 1; w <= 67; ++w) widths.push_back(w);
  for (uint32_t w : {127u, 128u, 129u, 1000u, 4095u, 4096u, 4103u}) widths.push_back(w);
  constexpr size_t kGuard = 64;
  for (const RowOperation& operation : kOperations) {
    const wpp::RowConverter convert = operation.of(GetParam());
    const size_t out = operation.bytesOut;
    for (uint32_t width : widths) {
      const std::vector<uint16_t> pixels = testwpp::RandomPixels(width, width);
      for (size_t sourceShift : {0, 1, 2, 6}) {
        for (size_t destinationShift : {0, 2, 4, 12}) {
          std::vector<uint8_t> source(2 * width + 64);
          for (uint32_t i = 0; i < width; ++i)
            wpp::StoreLe16(&source[sourceShift + 2 * i], pixels[i]);
          std::vector<uint8_t> destination(out * width + 2 * kGuard, 0xCD);
          convert(source.data() + sourceShift, destination.data() + kGuard + destinationShift,
                  width);
          for (size_t i = 0; i < destination.size(); ++i) {
            const size_t at = i - kGuard - destinationShift;
            if (i >= kGuard + destinationShift && at < out * width) {
              uint8_t want[3];
              operation.reference(pixels[at / out], want);
              ASSERT_EQ(destination[i], want[at % out])
                  << operation.name << " " << name << " width " << width << " pixel " << at / out
                  << " shifts " << sourceShift << "/" << destinationShift;
            } else {
              ASSERT_EQ(destination[i], 0xCD)
                  << operation.name << " " << name << " wrote outside the row, width " << width
                  << " byte " << i;
            }
          }
        }
      }
    }
  }
}

// Every RGB565 value expands to its own 8-bit colour, 0 to 0 and full to 255.
TEST_P(ConvertRows, ExpandEveryValueToADistinctColour) {
  if (GetParam() > BestPathHere()) GTEST_SKIP();
  std::vector<uint8_t> source(2 * 65536), destination(3 * 65536);
  for (uint32_t v = 0; v < 65536; ++v) wpp::StoreLe16(&source[2 * v], static_cast<uint16_t>(v));
  wpp::RowExpanderFor(GetParam())(source.data(), destination.data(), 65536);
  std::vector<bool> seen(1 << 24);
  for (uint32_t v = 0; v < 65536; ++v) {
    const uint8_t* rgb = &destination[3 * v];
    const uint32_t colour = rgb[0] << 16 | rgb[1] << 8 | rgb[2];
    ASSERT_FALSE(seen[colour]) << "value " << v;
    seen[colour] = true;
  }
  EXPECT_EQ(destination[0] | destination[1] | destination[2], 0);
  EXPECT_EQ(destination[3 * 65535] & destination[3 * 65535 + 1] & destination[3 * 65535 + 2], 255);
}

// A row that ends on the last byte of a page, source and destination both,
// the next page inaccessible: a path that reads or writes one byte past
// either buffer faults.
TEST_P(ConvertRows, TouchNothingPastARowThatEndsOnAPage) {
  const char* name = wpp::ConvertPathName(GetParam());
  if (GetParam() > BestPathHere()) GTEST_SKIP() << "this CPU cannot run " << name;
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const size_t span = 3 * 4096 + page;  // room for the widest row, then the guard page
  auto* const pages = static_cast<uint8_t*>(
      mmap(nullptr, 2 * span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(pages, MAP_FAILED);
  uint8_t* const sourceEnd = pages + span - page;
  uint8_t* const destinationEnd = pages + 2 * span - page;
  ASSERT_EQ(mprotect(sourceEnd, page, PROT_NONE), 0);
  ASSERT_EQ(mprotect(destinationEnd, page, PROT_NONE), 0);
  for (const RowOperation& operation : kOperations) {
    for (uint32_t width = 1; width <= 4096; width += width < 70 ? 1 : 1021) {
      const std::vector<uint16_t> pixels = testwpp::RandomPixels(width, 1);
      uint8_t* source = sourceEnd - 2 * width;
      uint8_t* destination = destinationEnd - operation.bytesOut * width;
      for (uint32_t i = 0; i < width; ++i) wpp::StoreLe16(source + 2 * i, pixels[i]);
      operation.of(GetParam())(source, destination, width);
      for (uint32_t i = 0; i < width; ++i) {
        uint8_t want[3];
        operation.reference(pixels[i], want);
        ASSERT_EQ(memcmp(destination + operation.bytesOut * i, want, operation.bytesOut), 0)
            << operation.name << " " << name << " width " << width << " pixel " << i;
      }
    }
  }
  munmap(pages, 2 * span);
}

INSTANTIATE_TEST_SUITE_P(Paths, ConvertRows, ::testing::ValuesIn(PathsOfThisBuild()),
                         [](const ::testing::TestParamInfo<ConvertPath>& info) {
                           return std::string(wpp::ConvertPathName(info.param));
                         });

TEST(ConvertPicture, EveryPathGivesTheReferenceDib) {
  for (uint32_t width : {1u, 2u, 5u, 8u, 17u, 63u, 640u}) {
    const testwpp::ImageSpec wppImage = testwpp::RandomImage(width, 5, width);
    const testwpp::Bytes image = testwpp::EncodeWpp(wppImage);
    const testwpp::Bytes want = testwpp::ReferenceDibBits(wppImage);
    for (ConvertPath path : PathsOfThisBuild()) {
      if (path > BestPathHere()) continue;
      testwpp::Bytes bits(want.size(), 0xEE);
      std::fill(bits.end() - 4, bits.end(), 0);  // the tail, which the conversion leaves
      const wpp::PictureLayout layout = {image.data() + 24, width, 5, bits.data(),
                                         testwpp::DibStride(width)};
      wpp::ConvertPicture(path, layout);
      EXPECT_TRUE(testwpp::SameBytes(bits, want)) << "path " << int(path) << " width " << width;
    }
  }
}

// The fastest path there is, and never one the CPU or the system cannot run.
TEST(ConvertPicture, PicksTheBestPathThisCpuCanRun) {
  EXPECT_EQ(wpp::PickConvertPath(), BestPathHere());
}

#if defined(__x86_64__) || defined(__i386__)
// The choice from the probe's words: a wide path only where the CPU has it
// and the system saves its registers.
TEST(ConvertPicture, ChoosesFromTheCpusWordsAndTheSystemsState) {
  constexpr uint32_t kOsxsave = 1u << 27, kAvx = 1u << 28, kSse2 = 1u << 26;
  constexpr uint32_t kAvx2 = 1u << 5, kAvx512 = (1u << 16) | (1u << 30), kWide = kAvx2 | kAvx512;
  constexpr uint32_t kOs = kOsxsave | kAvx;
  const struct {
    const char* what;
    wpp::X86CpuWords words;
    ConvertPath want;
  } cases[] = {
      {"everything", {7, kOs, kSse2, kWide, 0xE7, true}, ConvertPath::Avx512},
      {"no ZMM state saved", {7, kOs, kSse2, kWide, 0x07, true}, ConvertPath::Avx2},
      {"no mask state saved", {7, kOs, kSse2, kWide, 0xC7, true}, ConvertPath::Avx2},
      {"AVX-512F without BW", {7, kOs, kSse2, kAvx2 | (1u << 16), 0xE7, true}, ConvertPath::Avx2},
      {"no YMM state saved", {7, kOs, kSse2, kAvx2, 0x03, true}, ConvertPath::Sse2},
      {"no AVX", {7, kOsxsave, kSse2, kAvx2, 0x07, true}, ConvertPath::Sse2},
      {"no OSXSAVE", {7, kAvx, kSse2, kWide, 0xE7, true}, ConvertPath::Sse2},
      {"no leaf 7", {6, kOs, kSse2, kWide, 0xE7, true}, ConvertPath::Sse2},
      {"the system does not save XMM", {7, kOs, kSse2, kWide, 0xE7, false}, ConvertPath::Scalar},
      {"no SSE2, whatever else", {7, kOs, 0, kWide, 0xE7, true}, ConvertPath::Scalar},
  };
  for (const auto& c : cases) EXPECT_EQ(wpp::ChooseX86Path(c.words), c.want) << c.what;
}

// The probe asks the system, not only the CPU: where the system does not say
// it saves the XMM registers, the scalar path.
TEST(ConvertPicture, PicksTheScalarPathWhereTheSystemSavesNoXmm) {
  PlatformDenyProcessorFeatures(TRUE);
  const ConvertPath picked = wpp::PickConvertPath();
  PlatformClearFaults();
  EXPECT_EQ(picked, ConvertPath::Scalar);
  EXPECT_EQ(wpp::PickConvertPath(), BestPathHere());
}
#endif

}  // namespace
