// Builds WPP images in code for the tests, and the DIB the plug-in must make
// of them, from an independent reading of the format.
#pragma once

#include <gtest/gtest.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace testwpp {

using Bytes = std::vector<uint8_t>;

struct ImageSpec {
  uint32_t width = 0;            // written as 16 bits
  uint32_t height = 0;           // written as 16 bits
  std::vector<uint16_t> pixels;  // width * height RGB565 values, top row first
  int64_t dataLength = -1;       // -1: the right value, 2 * width * height + 4
  uint8_t prefixByte = 0x5A;
};

// Pixels from a fixed seed: the same every run.
std::vector<uint16_t> RandomPixels(size_t count, uint32_t seed);

// The image's bytes: header, then exactly width * height pixels.
Bytes EncodeWpp(const ImageSpec& wppImage);

// A width x height image of random pixels.
ImageSpec RandomImage(uint32_t width, uint32_t height, uint32_t seed = 1);

// Just a header with those fields; no pixels follow.
Bytes HeaderOnly(uint32_t dataLength, uint32_t width, uint32_t height, uint8_t prefixByte = 0);

// The pixel conversion, written from the format's definition.
uint16_t ReferencePixel(uint16_t rgb565);

// The DIB row stride for a width: rows start on 4-byte boundaries.
uint32_t DibStride(uint32_t width);

// The bits block the plug-in must produce: bottom-up rows at DibStride,
// padding and the 4 trailing bytes zero.
Bytes ReferenceDibBits(const ImageSpec& wppImage);

// The 40-byte BITMAPINFOHEADER the plug-in must produce; its biSizeImage is
// the size of the rows, without the bits block's 4 trailing bytes.
Bytes ReferenceInfoHeader(const ImageSpec& wppImage);

// Compares two byte runs; on a mismatch says both sizes and the first
// differing offset with the bytes there.
::testing::AssertionResult SameBytes(const uint8_t* have, size_t haveSize, const Bytes& want);
inline ::testing::AssertionResult SameBytes(const Bytes& have, const Bytes& want) {
  return SameBytes(have.data(), have.size(), want);
}

uint32_t ReadLe32(const uint8_t* p);
uint16_t ReadLe16(const uint8_t* p);

// A file in the current folder that is removed when the test ends.
class TempFile {
 public:
  explicit TempFile(const Bytes& contents);
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const char* path() const { return path_.c_str(); }

 private:
  std::string path_;
};

// A file with a UTF-16 name of the test's choosing, removed when the test
// ends. removed() tells whether that removal worked: on Windows a file still
// open without delete sharing cannot be removed.
class WideTempFile {
 public:
  WideTempFile(const std::u16string& name, const Bytes& contents);
  ~WideTempFile() { Remove(); }
  WideTempFile(const WideTempFile&) = delete;
  WideTempFile& operator=(const WideTempFile&) = delete;
  const char16_t* path() const { return name_.c_str(); }
  bool Remove();

 private:
  std::u16string name_;
  bool present_ = false;
};

// A file name that does not exist.
std::string MissingPath();

}  // namespace testwpp
