#include "tests/support/bytes_and_files.h"

#include <stdio.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "wpp/wpp.h"

#ifdef _WIN32
#include <process.h>
#define GetPid _getpid
#else
#include <unistd.h>
#define GetPid getpid
#endif

namespace testwpp {

Bytes ReferenceDibBits(const ImageSpec& wppImage) {
  const Bytes image = EncodeWpp(wppImage);
  Bytes out(size_t{DibStride(wppImage.width)} * wppImage.height + reference::kBitsTail);
  reference::FillDibBits(image.data() + wpp::kPixelsOffset, wppImage.width, wppImage.height,
                         out.data());
  return out;
}

Bytes ReferenceInfoHeader(const ImageSpec& wppImage) {
  Bytes out(reference::kInfoHeaderSize);
  reference::FillInfoHeader(wppImage.width, wppImage.height, out.data());
  return out;
}

::testing::AssertionResult SameBytes(const uint8_t* have, size_t haveSize, const Bytes& want) {
  const size_t common = haveSize < want.size() ? haveSize : want.size();
  for (size_t i = 0; i < common; ++i) {
    if (have[i] != want[i])
      return ::testing::AssertionFailure()
             << "first difference at offset " << i << ": have 0x" << std::hex << int{have[i]}
             << ", want 0x" << int{want[i]} << std::dec << " (sizes: have " << haveSize << ", want "
             << want.size() << ")";
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

// A test cannot go on without its file.
static void WriteOrAbort(const std::filesystem::path& path, const Bytes& contents, uint64_t at) {
  std::ofstream out(path, std::ios::binary);
  out.seekp(static_cast<std::streamoff>(at));
  out.write(reinterpret_cast<const char*>(contents.data()),
            static_cast<std::streamsize>(contents.size()));
  out.close();
  if (!out) abort();
}

TempFile::TempFile(const Bytes& contents, uint64_t at) : path_(UniqueName("wpp_test")) {
  WriteOrAbort(path_, contents, at);
}

TempFile::~TempFile() { remove(path_.c_str()); }

WideTempFile::WideTempFile(const std::u16string& name, const Bytes& contents)
    : name_(name), present_(true) {
  WriteOrAbort(name_, contents, 0);
}

bool WideTempFile::Remove() {
  if (!present_) return true;
  std::error_code error;
  present_ = !std::filesystem::remove(std::filesystem::path(name_), error);
  return !present_;
}

std::string MissingPath() { return UniqueName("wpp_missing"); }

}  // namespace testwpp
