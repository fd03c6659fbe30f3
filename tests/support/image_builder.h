// What the tests need beside the format's writer: the DIB the plug-in must
// make of a picture, from an independent reading of the format, byte
// comparisons that say where they differ, and files of their own.
#pragma once

#include <gtest/gtest.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "tools/wpp_writer.h"

namespace testwpp {

// The pictures themselves come from the one writer of the format.
using wppfile::Bytes;
using wppfile::EncodeWpp;
using wppfile::HeaderOnly;
using wppfile::ImageSpec;
using wppfile::RandomImage;
using wppfile::RandomPixels;

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

// A file in the current folder that is removed when the test ends.
class TempFile {
 public:
  // The contents start `at` bytes into the file; the bytes before are a hole.
  explicit TempFile(const Bytes& contents, uint64_t at = 0);
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const char* path() const { return path_.c_str(); }

 private:
  std::string path_;
};

// A file with a UTF-16 name of the test's choosing, removed when the test
// ends. Remove() tells whether the removal worked: on Windows a file still
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
