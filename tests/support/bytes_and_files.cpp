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
#include <windows.h>
#define GetPid _getpid
#else
#include <sys/mman.h>
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

static size_t PageSize() {
#ifdef _WIN32
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  return system.dwPageSize;
#else
  return static_cast<size_t>(sysconf(_SC_PAGESIZE));
#endif
}

void* MapPages(size_t bytes, void* at) {
#ifdef _WIN32
  void* pages = VirtualAlloc(at, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
#else
  void* pages = mmap(at, bytes, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | (at ? MAP_FIXED_NOREPLACE : 0), -1, 0);
  if (pages == MAP_FAILED) pages = nullptr;
#endif
  if (pages != nullptr && at != nullptr && pages != at) {
    UnmapPages(pages, bytes);
    pages = nullptr;
  }
  return pages;
}

void UnmapPages(void* pages, [[maybe_unused]] size_t bytes) {
#ifdef _WIN32
  VirtualFree(pages, 0, MEM_RELEASE);
#else
  munmap(pages, bytes);
#endif
}

PageEndCopy::PageEndCopy(const Bytes& bytes) {
  const size_t page = PageSize();
  span_ = (bytes.size() + page - 1) / page * page + page;
  pages_ = static_cast<uint8_t*>(MapPages(span_));
  if (pages_ == nullptr) abort();  // a test cannot go on without its bytes
  uint8_t* const guard = pages_ + span_ - page;
#ifdef _WIN32
  DWORD was;
  if (VirtualProtect(guard, page, PAGE_NOACCESS, &was) == 0) abort();
#else
  if (mprotect(guard, page, PROT_NONE) != 0) abort();
#endif
  if (!bytes.empty()) memcpy(guard - bytes.size(), bytes.data(), bytes.size());
  data_ = guard - bytes.size();
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
