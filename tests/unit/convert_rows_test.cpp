// Every conversion path against the scalar formula, for every tail length,
// at awkward alignments, writing nothing outside its row.

#include "wpp/convert_rows.h"

#include <string.h>

#include "tests/support/image_builder.h"

namespace {

using RowFunction = void (*)(const uint8_t*, uint8_t*, uint32_t);

struct PathCase {
  const char* name;
  RowFunction convert;
  wpp::ConvertPath needs;
};

// The compiler's own reading of the CPU and the system, a second opinion
// beside the plug-in's probe.
wpp::ConvertPath BestPathHere() {
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw"))
    return wpp::ConvertPath::Avx512;
  return __builtin_cpu_supports("avx2") ? wpp::ConvertPath::Avx2 : wpp::ConvertPath::Sse2;
}

bool CanRun(wpp::ConvertPath path) { return path <= BestPathHere(); }

class ConvertRows : public ::testing::TestWithParam<PathCase> {};

TEST_P(ConvertRows, MatchTheFormulaForEveryWidthAndAlignment) {
  const PathCase& path = GetParam();
  if (!CanRun(path.needs)) GTEST_SKIP() << "this CPU cannot run " << path.name;
  std::vector<uint32_t> widths;
  for (uint32_t w = 1; w <= 67; ++w) widths.push_back(w);
  for (uint32_t w : {127u, 128u, 129u, 1000u, 4095u, 4096u, 4103u}) widths.push_back(w);
  constexpr size_t kGuard = 64;
  for (uint32_t width : widths) {
    const std::vector<uint16_t> pixels = testwpp::RandomPixels(width, width);
    for (size_t sourceShift : {0, 1, 2, 6}) {
      for (size_t destinationShift : {0, 2, 4, 12}) {
        std::vector<uint8_t> source(2 * width + 64);
        for (uint32_t i = 0; i < width; ++i) {
          source[sourceShift + 2 * i] = static_cast<uint8_t>(pixels[i]);
          source[sourceShift + 2 * i + 1] = static_cast<uint8_t>(pixels[i] >> 8);
        }
        std::vector<uint8_t> destination(2 * width + 2 * kGuard, 0xCD);
        path.convert(source.data() + sourceShift, destination.data() + kGuard + destinationShift,
                     width);
        for (size_t i = 0; i < destination.size(); ++i) {
          const size_t at = i - kGuard - destinationShift;
          if (i >= kGuard + destinationShift && at < 2 * size_t{width}) {
            const uint16_t want = testwpp::ReferencePixel(pixels[at / 2]);
            const uint8_t wantByte = static_cast<uint8_t>(at % 2 ? want >> 8 : want);
            ASSERT_EQ(destination[i], wantByte)
                << path.name << " width " << width << " pixel " << at / 2 << " shifts "
                << sourceShift << "/" << destinationShift;
          } else {
            ASSERT_EQ(destination[i], 0xCD)
                << path.name << " wrote outside the row, width " << width << " byte " << i;
          }
        }
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Paths, ConvertRows,
    ::testing::Values(PathCase{"scalar", wpp::ConvertRowScalar, wpp::ConvertPath::Scalar},
                      PathCase{"sse2", wpp::ConvertRowSse2, wpp::ConvertPath::Sse2},
                      PathCase{"avx2", wpp::ConvertRowAvx2, wpp::ConvertPath::Avx2},
                      PathCase{"avx512", wpp::ConvertRowAvx512, wpp::ConvertPath::Avx512}),
    [](const ::testing::TestParamInfo<PathCase>& info) { return std::string(info.param.name); });

TEST(ConvertPicture, EveryPathGivesTheReferenceDib) {
  std::vector<wpp::ConvertPath> paths;
  for (auto path : {wpp::ConvertPath::Scalar, wpp::ConvertPath::Sse2, wpp::ConvertPath::Avx2,
                    wpp::ConvertPath::Avx512})
    if (CanRun(path)) paths.push_back(path);
  for (uint32_t width : {1u, 2u, 5u, 8u, 17u, 63u, 640u}) {
    const testwpp::ImageSpec wppImage = testwpp::RandomImage(width, 5, width);
    const testwpp::Bytes image = testwpp::EncodeWpp(wppImage);
    const testwpp::Bytes want = testwpp::ReferenceDibBits(wppImage);
    for (wpp::ConvertPath path : paths) {
      testwpp::Bytes bits(want.size(), 0xEE);
      bits[bits.size() - 4] = bits[bits.size() - 3] = bits[bits.size() - 2] =
          bits[bits.size() - 1] = 0;
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

}  // namespace
