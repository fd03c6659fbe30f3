#include "tests/support/image_builder.h"

#include <stdio.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "wpp/bytes.h"

#ifdef _WIN32
#include <process.h>
#define GetPid _getpid
#else
#include <unistd.h>
#define GetPid getpid
#endif

namespace testwpp {

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
      wpp::StoreLe16(out.data() + size_t{row} * stride + 2 * x,
                     ReferencePixel(wppImage.pixels[size_t{sourceRow} * wppImage.width + x]));
  }
  return out;
}

Bytes ReferenceInfoHeader(const ImageSpec& wppImage) {
  Bytes out(40, 0);
  wpp::StoreLe32(out.data() + 0, 40);
  wpp::StoreLe32(out.data() + 4, wppImage.width);
  wpp::StoreLe32(out.data() + 8, wppImage.height);
  wpp::StoreLe16(out.data() + 12, 1);
  wpp::StoreLe16(out.data() + 14, 16);
  wpp::StoreLe32(out.data() + 20, DibStride(wppImage.width) * wppImage.height);  // the rows alone
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

static std::string UniqueName(const char* stem) {
  static std::atomic<int> counter{0};
  std::ostringstream name;
  name << stem << "_" << GetPid() << "_" << counter++ << ".wpp";
  return name.str();
}

TempFile::TempFile(const Bytes& contents, uint64_t at) : path_(UniqueName("wpp_test")) {
  std::ofstream out(path_, std::ios::binary);
  out.seekp(static_cast<std::streamoff>(at));
  out.write(reinterpret_cast<const char*>(contents.data()),
            static_cast<std::streamsize>(contents.size()));
  out.close();
  if (!out) abort();
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
