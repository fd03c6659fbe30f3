// Checking the plug-in's DIB blocks and framing them as a BMP file.

#include "tools/bmp_file.h"

#include <fstream>
#include <random>

#include "tools/wpp_reference.h"
#include "wpp/bytes.h"

namespace {
// bfSize, the whole file's size, is a 32-bit field.
constexpr uint64_t kLargestBmpFile = 0xFFFFFFFFull;
}  // namespace

void FillBmpFileHeader(uint32_t rowBytes, uint8_t* header) {
  constexpr uint32_t pixelOffset = kBmpFileHeaderSize + reference::kInfoHeaderSize;
  header[0] = 'B';
  header[1] = 'M';
  wpp::StoreLe32(header + 2, pixelOffset + rowBytes);
  wpp::StoreLe32(header + 6, 0);
  wpp::StoreLe32(header + 10, pixelOffset);
}

bool DescribeBmp(const uint8_t* info, uint64_t infoBlockSize, const uint8_t* bits,
                 uint64_t bitsBlockSize, BmpParts* parts, std::string* problem) {
  const auto fail = [problem](const char* why) {
    *problem = why;
    return false;
  };
  if (info == nullptr || bits == nullptr) return fail("a block is missing");
  if (infoBlockSize < reference::kInfoHeaderSize ||
      wpp::LoadLe32(info) != reference::kInfoHeaderSize)
    return fail("the header block is not a 40-byte BITMAPINFOHEADER");
  const int32_t width = static_cast<int32_t>(wpp::LoadLe32(info + 4));
  const int32_t height = static_cast<int32_t>(wpp::LoadLe32(info + 8));
  const uint32_t sizeImage = wpp::LoadLe32(info + 20);
  // No WPP picture is wider than 65535 pixels, which keeps the stride in 32 bits.
  if (width <= 0 || width > 65535 || height <= 0 || wpp::LoadLe16(info + 14) != 16 ||
      wpp::LoadLe32(info + 16) != 0)
    return fail("the header does not describe a bottom-up 16-bit BI_RGB picture of a WPP's width");
  // biSizeImage is the size of the rows, and the block must hold them.
  const uint64_t rows =
      uint64_t{reference::DibStride(static_cast<uint32_t>(width))} * static_cast<uint32_t>(height);
  if (sizeImage != rows || sizeImage > bitsBlockSize)
    return fail("biSizeImage is not the size of the rows in the bits block");
  if (uint64_t{kBmpFileHeaderSize} + reference::kInfoHeaderSize + sizeImage > kLargestBmpFile)
    return fail("the picture is too large for a BMP file");
  *parts = {info, reference::kInfoHeaderSize, bits, sizeImage};
  return true;
}

BmpWrite WriteBmpFile(const std::filesystem::path& target, const BmpParts& parts,
                      bool (*cancelled)(), std::string* problem) {
  std::filesystem::path temporary = target;
  temporary.replace_filename(".wpp2bmp-" + std::to_string(std::random_device()()) + ".tmp");
  uint8_t fileHeader[kBmpFileHeaderSize];
  FillBmpFileHeader(parts.bitsSize, fileHeader);
  std::ofstream out(temporary, std::ios::binary);
  out.write(reinterpret_cast<const char*>(fileHeader), sizeof fileHeader);
  out.write(reinterpret_cast<const char*>(parts.info), parts.infoSize);
  out.write(reinterpret_cast<const char*>(parts.bits), parts.bitsSize);
  out.close();
  std::error_code error;
  const bool stop = cancelled();
  if (out && !stop) std::filesystem::rename(temporary, target, error);
  std::error_code ignored;
  if (!out || stop || error) std::filesystem::remove(temporary, ignored);
  if (stop) return BmpWrite::Cancelled;
  if (out && !error) return BmpWrite::Written;
  const std::u8string name = target.u8string();
  *problem = "cannot write " + std::string(name.begin(), name.end()) +
             (error ? ": " + error.message() : "");
  return BmpWrite::Failed;
}
