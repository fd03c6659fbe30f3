// What the tests need beside the format's writer and its reference: byte
// comparisons that say where they differ, and files of their own.
#pragma once

#include <gtest/gtest.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "tools/wpp_reference.h"
#include "tools/wpp_writer.h"

namespace testwpp {

// The pictures themselves come from the one writer of the format.
using wppfile::Bytes;
using wppfile::EncodeWpp;
using wppfile::HeaderOnly;
using wppfile::ImageSpec;
using wppfile::RandomImage;
using wppfile::RandomPixels;

// What the plug-in must make of a picture: the one reference.
using reference::DibStride;
constexpr auto ReferencePixel = reference::Pixel;
Bytes ReferenceDibBits(const ImageSpec& wppImage);
Bytes ReferenceInfoHeader(const ImageSpec& wppImage);

// Compares two byte runs; on a mismatch says both sizes and the first
// differing offset with the bytes there.
::testing::AssertionResult SameBytes(const uint8_t* have, size_t haveSize, const Bytes& want);
inline ::testing::AssertionResult SameBytes(const Bytes& have, const Bytes& want) {
  return SameBytes(have.data(), have.size(), want);
}

// Pages of our own, readable and writable: at `at` exactly when it is given
// (null when that address cannot be had), anywhere otherwise.
void* MapPages(size_t bytes, void* at = nullptr);
void UnmapPages(void* pages, size_t bytes);

// A copy of bytes that ends on the last byte of a page, the next one mapped
// inaccessible: a read of one byte past them faults, in every build.
class PageEndCopy {
 public:
  explicit PageEndCopy(const Bytes& bytes);
  ~PageEndCopy() { UnmapPages(pages_, span_); }
  PageEndCopy(const PageEndCopy&) = delete;
  PageEndCopy& operator=(const PageEndCopy&) = delete;
  const uint8_t* data() const { return data_; }

 private:
  size_t span_;
  uint8_t* pages_;
  const uint8_t* data_;
};

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
