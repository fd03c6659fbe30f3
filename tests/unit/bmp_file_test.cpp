// wpp2bmp frames the plug-in's blocks as a file only after checking them: a
// malformed header must never make it write past the bits block or announce
// a size the file does not have.

#include "tools/bmp_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "wpp/bytes.h"

namespace {

struct Header {
  uint32_t size = 40;
  int32_t width = 3;
  int32_t height = 2;
  uint16_t bitCount = 16;
  uint32_t compression = 0;
  uint32_t sizeImage = 8 * 2;  // the rows alone
};

std::vector<uint8_t> InfoBlock(const Header& h) {
  std::vector<uint8_t> info(40, 0);
  wpp::StoreLe32(info.data(), h.size);
  wpp::StoreLe32(info.data() + 4, static_cast<uint32_t>(h.width));
  wpp::StoreLe32(info.data() + 8, static_cast<uint32_t>(h.height));
  wpp::StoreLe16(info.data() + 12, 1);
  wpp::StoreLe16(info.data() + 14, h.bitCount);
  wpp::StoreLe32(info.data() + 16, h.compression);
  wpp::StoreLe32(info.data() + 20, h.sizeImage);
  return info;
}

TEST(BmpFile, FramesAWellFormedPicture) {
  const std::vector<uint8_t> info = InfoBlock({});
  const std::vector<uint8_t> bits(20, 0xAB);
  BmpParts parts = {};
  std::string problem;
  ASSERT_TRUE(DescribeBmp(info.data(), info.size(), bits.data(), bits.size(), &parts, &problem))
      << problem;
  EXPECT_EQ(parts.infoSize, 40u);
  EXPECT_EQ(parts.bitsSize, 16u) << "the rows, without the block's 4 trailing bytes";
  uint8_t header[kBmpFileHeaderSize];
  FillBmpFileHeader(parts.bitsSize, header);
  EXPECT_EQ(header[0], 'B');
  EXPECT_EQ(header[1], 'M');
  EXPECT_EQ(wpp::LoadLe32(header + 2), 14u + 40u + 16u);
  EXPECT_EQ(wpp::LoadLe32(header + 6), 0u);
  EXPECT_EQ(wpp::LoadLe32(header + 10), 54u);
}

TEST(BmpFile, RefusesEveryMalformedHeader) {
  struct Case {
    const char* name;
    Header header;
    uint64_t infoBlockSize;
    uint64_t bitsBlockSize;
  };
  const Case cases[] = {
      {"header block too small", {}, 39, 20},
      {"not a 40-byte header", {.size = 108}, 40, 20},
      {"zero width", {.width = 0}, 40, 20},
      {"wider than any WPP, its stride wrapping to 0",
       {.width = 0x7FFFFFFF, .sizeImage = 0},
       40,
       20},
      {"top-down rows", {.height = -2}, 40, 20},
      {"24 bits per pixel", {.bitCount = 24}, 40, 20},
      {"bit fields", {.compression = 3}, 40, 20},
      {"rows longer than biSizeImage", {.sizeImage = 15}, 40, 20},
      {"biSizeImage past the rows", {.sizeImage = 20}, 40, 20},
      {"biSizeImage past the bits block", {.sizeImage = 16}, 40, 15},
      {"rows past the bits block",
       {.width = 65535, .height = 65535, .sizeImage = 0xFFFFFFF0},
       40,
       20},
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> info = InfoBlock(c.header);
    const std::vector<uint8_t> bits(64, 0);
    BmpParts parts = {};
    std::string problem;
    EXPECT_FALSE(
        DescribeBmp(info.data(), c.infoBlockSize, bits.data(), c.bitsBlockSize, &parts, &problem))
        << c.name;
    EXPECT_FALSE(problem.empty()) << c.name;
  }
  BmpParts parts = {};
  std::string problem;
  const std::vector<uint8_t> info = InfoBlock({});
  EXPECT_FALSE(DescribeBmp(info.data(), 40, nullptr, 20, &parts, &problem));
}

}  // namespace
