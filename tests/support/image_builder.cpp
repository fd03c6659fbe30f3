#include "tests/support/image_builder.h"

#include <stdio.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>

#ifdef _WIN32
#include <process.h>
#define GetPid _getpid
#else
#include <unistd.h>
#define GetPid getpid
#endif

namespace testwpp {

std::vector<uint16_t> RandomPixels(size_t count, uint32_t seed) {
  std::vector<uint16_t> pixels(count);
  uint32_t state = seed * 2654435761u + 1;
  for (auto& p : pixels) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    p = static_cast<uint16_t>(state >> 7);
  }
  return pixels;
}

static void PutLe16(Bytes& out, size_t at, uint16_t v) {
  out[at] = static_cast<uint8_t>(v);
  out[at + 1] = static_cast<uint8_t>(v >> 8);
}

static void PutLe32(Bytes& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

Bytes HeaderOnly(uint32_t dataLength, uint32_t width, uint32_t height, uint8_t prefixByte) {
  Bytes out(24, prefixByte);
  PutLe32(out, 16, dataLength);
  PutLe16(out, 20, static_cast<uint16_t>(width));
  PutLe16(out, 22, static_cast<uint16_t>(height));
  return out;
}

Bytes EncodeWpp(const ImageSpec& wppImage) {
  const uint64_t count = uint64_t{wppImage.width} * wppImage.height;
  const uint32_t dataLength = wppImage.dataLength >= 0 ? static_cast<uint32_t>(wppImage.dataLength)
                                                       : static_cast<uint32_t>(2 * count + 4);
  Bytes out = HeaderOnly(dataLength, wppImage.width, wppImage.height, wppImage.prefixByte);
  out.resize(24 + 2 * count);
  for (size_t i = 0; i < count && i < wppImage.pixels.size(); ++i)
    PutLe16(out, 24 + 2 * i, wppImage.pixels[i]);
  return out;
}

ImageSpec RandomImage(uint32_t width, uint32_t height, uint32_t seed) {
  ImageSpec wppImage;
  wppImage.width = width;
  wppImage.height = height;
  wppImage.pixels = RandomPixels(size_t{width} * height, seed);
  return wppImage;
}

uint16_t ReferencePixel(uint16_t p) {
  const uint16_t red = (p >> 11) & 0x1F;
  const uint16_t green = (p >> 6) & 0x1F;  // the top five of six green bits
  const uint16_t blue = p & 0x1F;
  return static_cast<uint16_t>((red << 10) | (green << 5) | blue);
}

uint32_t DibStride(uint32_t width) { return (2 * width + 3) / 4 * 4; }

Bytes ReferenceDibBits(const ImageSpec& wppImage) {
  const uint32_t stride = DibStride(wppImage.width);
  Bytes out(size_t{stride} * wppImage.height + 4, 0);
  for (uint32_t row = 0; row < wppImage.height; ++row) {
    const uint32_t sourceRow = wppImage.height - 1 - row;
    for (uint32_t x = 0; x < wppImage.width; ++x)
      PutLe16(out, size_t{row} * stride + 2 * x,
              ReferencePixel(wppImage.pixels[size_t{sourceRow} * wppImage.width + x]));
  }
  return out;
}

Bytes ReferenceInfoHeader(const ImageSpec& wppImage) {
  Bytes out(40, 0);
  PutLe32(out, 0, 40);
  PutLe32(out, 4, wppImage.width);
  PutLe32(out, 8, wppImage.height);
  PutLe16(out, 12, 1);
  PutLe16(out, 14, 16);
  PutLe32(out, 20, DibStride(wppImage.width) * wppImage.height);  // the rows alone
  return out;
}

::testing::AssertionResult SameBytes(const uint8_t* have, size_t haveSize, const Bytes& want) {
  const size_t common = haveSize < want.size() ? haveSize : want.size();
  for (size_t i = 0; i < common; ++i) {
    if (have[i] != want[i]) {
      std::ostringstream why;
      why << "first difference at offset " << i << ": have 0x" << std::hex << int{have[i]}
          << ", want 0x" << int{want[i]} << std::dec << " (sizes: have " << haveSize << ", want "
          << want.size() << ")";
      return ::testing::AssertionFailure() << why.str();
    }
  }
  if (haveSize != want.size())
    return ::testing::AssertionFailure()
           << "sizes differ: have " << haveSize << ", want " << want.size();
  return ::testing::AssertionSuccess();
}

uint32_t ReadLe32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
uint16_t ReadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

static std::string UniqueName(const char* stem) {
  static std::atomic<int> counter{0};
  std::ostringstream name;
  name << stem << "_" << GetPid() << "_" << counter++ << ".wpp";
  return name.str();
}

TempFile::TempFile(const Bytes& contents) : path_(UniqueName("wpp_test")) {
  FILE* file = fopen(path_.c_str(), "wb");
  if (file == nullptr) abort();
  if (!contents.empty() && fwrite(contents.data(), 1, contents.size(), file) != contents.size())
    abort();
  fclose(file);
}

TempFile::~TempFile() { remove(path_.c_str()); }

WideTempFile::WideTempFile(const std::u16string& name, const Bytes& contents) : name_(name) {
  std::ofstream out(std::filesystem::path(name_), std::ios::binary);
  out.write(reinterpret_cast<const char*>(contents.data()),
            static_cast<std::streamsize>(contents.size()));
  out.close();
  if (!out) abort();
  present_ = true;
}

bool WideTempFile::Remove() {
  if (!present_) return true;
  std::error_code error;
  present_ = !std::filesystem::remove(std::filesystem::path(name_), error);
  return !present_;
}

std::string MissingPath() { return UniqueName("wpp_missing"); }

}  // namespace testwpp
