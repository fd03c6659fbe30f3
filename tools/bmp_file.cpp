// Checking the plug-in's DIB blocks and framing them as a BMP file.

#include "tools/bmp_file.h"

#include <fstream>
#include <random>

#include "wpp/bytes.h"

namespace {
// bfSize, the whole file's size, is a 32-bit field.
constexpr uint64_t kLargestBmpFile = 0xFFFFFFFFull;
}  // namespace

bool DescribeBmp(const uint8_t* info, uint64_t infoBlockSize, const uint8_t* bits,
                 uint64_t bitsBlockSize, BmpParts* parts, std::string* problem) {
  if (info == nullptr || bits == nullptr) {
    *problem = "a block is missing";
    return false;
  }
  if (infoBlockSize < kBmpInfoHeaderSize || wpp::LoadLe32(info) != kBmpInfoHeaderSize) {
    *problem = "the header block is not a 40-byte BITMAPINFOHEADER";
    return false;
  }
  const int32_t width = static_cast<int32_t>(wpp::LoadLe32(info + 4));
  const int32_t height = static_cast<int32_t>(wpp::LoadLe32(info + 8));
  const uint16_t bitCount = wpp::LoadLe16(info + 14);
  const uint32_t compression = wpp::LoadLe32(info + 16);
  const uint32_t sizeImage = wpp::LoadLe32(info + 20);
  if (width <= 0 || height <= 0 || bitCount != 16 || compression != 0) {
    *problem = "the header does not describe a bottom-up 16-bit BI_RGB picture";
    return false;
  }
  const uint64_t stride = (2ull * static_cast<uint32_t>(width) + 3) & ~3ull;
  // biSizeImage is the size of the rows, and the block must hold them.
  if (uint64_t{sizeImage} != stride * static_cast<uint32_t>(height) ||
      uint64_t{sizeImage} > bitsBlockSize) {
    *problem = "biSizeImage is not the size of the rows in the bits block";
    return false;
  }
  if (uint64_t{kBmpFileHeaderSize} + kBmpInfoHeaderSize + sizeImage > kLargestBmpFile) {
    *problem = "the picture is too large for a BMP file";
    return false;
  }
  *parts = {info, kBmpInfoHeaderSize, bits, sizeImage};
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
