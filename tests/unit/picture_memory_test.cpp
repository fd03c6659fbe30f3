// The picture blocks' contract: zero-filled, writable to the last byte, 2 MiB-
// aligned and advised from the threshold on, at most one 2 MiB rounding and a
// page over the bytes asked, every mapped byte given back by the free, and the
// same block on ordinary pages when the kernel refuses the advice or the room.

#include "platform/posix/picture_memory.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace {

using platform::AllocatePicture;
using platform::FreePicture;
using platform::kHugePageBytes;
using platform::kHugePictureBytes;
using platform::PictureMemoryCalls;

// The system's calls, watched: the bytes mapped and not yet unmapped, and
// the advice given; each refusal planned is made once.
struct Watch {
  int64_t mappedBytes = 0;
  int mapsToRefuse = 0;    // the first this many map calls fail
  uint64_t placement = 0;  // where a mapping starts past a 2 MiB boundary
  bool refuseAdvice = false;
  int advised = 0;
  uintptr_t advisedStart = 0, advisedEnd = 0;
};
Watch watch;

void* WatchedMap(size_t length) {
  if (watch.mapsToRefuse > 0) {
    --watch.mapsToRefuse;
    return nullptr;
  }
  // Kernels differ in where they put a mapping: this one goes where planned.
  const size_t wide = length + 2 * kHugePageBytes;
  void* raw = mmap(nullptr, wide, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const uintptr_t from = reinterpret_cast<uintptr_t>(raw);
  const uintptr_t start = (from + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes +
                          watch.placement % kHugePageBytes;
  if (start > from) munmap(raw, start - from);
  if (start + length < from + wide)
    munmap(reinterpret_cast<void*>(start + length), from + wide - start - length);
  watch.mappedBytes += static_cast<int64_t>(length);
  return reinterpret_cast<void*>(start);
}
int WatchedUnmap(void* start, size_t length) {
  watch.mappedBytes -= static_cast<int64_t>(length);
  return munmap(start, length);
}
int WatchedAdvice(void* start, size_t length) {
  if (watch.refuseAdvice) {
    errno = EINVAL;
    return -1;
  }
  ++watch.advised;
  watch.advisedStart = reinterpret_cast<uintptr_t>(start);
  watch.advisedEnd = watch.advisedStart + length;
  return madvise(start, length, MADV_HUGEPAGE);
}
constexpr PictureMemoryCalls kWatched = {WatchedMap, WatchedUnmap, WatchedAdvice};

uint64_t Page() { return static_cast<uint64_t>(sysconf(_SC_PAGESIZE)); }
uint64_t Rounded(uint64_t bytes) {
  return (bytes + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes;
}

// Every byte zero, or where the first one is not.
::testing::AssertionResult AllZero(const void* block, uint64_t bytes) {
  static const uint8_t kZeros[64 * 1024] = {};
  const auto* p = static_cast<const uint8_t*>(block);
  for (uint64_t at = 0; at < bytes; at += sizeof kZeros) {
    const uint64_t run = bytes - at < sizeof kZeros ? bytes - at : sizeof kZeros;
    if (memcmp(p + at, kZeros, run) == 0) continue;
    uint64_t i = at;
    while (p[i] == 0) ++i;
    return ::testing::AssertionFailure()
           << "have " << int{p[i]} << ", want 0, first differing offset " << i << " of " << bytes;
  }
  return ::testing::AssertionSuccess();
}

TEST(PictureMemory, EachSizeKeepsTheContract) {
  struct Case {
    const char* name;
    uint64_t bytes;
    int mapsToRefuse;
    bool refuseAdvice;
  };
  const Case cases[] = {
      {"one byte, from calloc", 1, 0, false},
      {"just under the threshold, from calloc", kHugePictureBytes - 1, 0, false},
      {"the threshold: one huge page", kHugePictureBytes, 0, false},
      {"one byte over: rounded to two", kHugePictureBytes + 1, 0, false},
      {"a 4096 x 4096 RGB pixbuf", 48ull << 20, 0, false},
      {"a 4095 x 4096 RGB pixbuf", 4096ull * 12288, 0, false},
      {"advice refused: ordinary pages", 3 * kHugePageBytes + 5, 0, true},
      {"no room to align: an exact mapping", 3 * kHugePageBytes + 5, 1, false},
      {"no room to align, advice refused", 3 * kHugePageBytes + 5, 1, true},
  };
  for (const Case& c : cases)
    for (const uint64_t placement : {uint64_t{0}, Page(), kHugePageBytes - Page()}) {
      SCOPED_TRACE(::testing::Message()
                   << c.name << ", mappings " << placement << " bytes past a 2 MiB boundary");
      watch = {};
      watch.placement = placement;
      watch.mapsToRefuse = c.mapsToRefuse;
      watch.refuseAdvice = c.refuseAdvice;
      const bool large = c.bytes >= kHugePictureBytes;
      errno = 0;
      void* block = AllocatePicture(c.bytes, kWatched);
      ASSERT_NE(block, nullptr);
      EXPECT_EQ(errno, 0) << "a refused advice is no error of the caller's";
      const uintptr_t at = reinterpret_cast<uintptr_t>(block);
      EXPECT_EQ(at % 16, 0u);
      if (large) {
        EXPECT_EQ(at % Page(), 0u);
        // Only an exact mapping, where no longer one could be had, is unaligned.
        EXPECT_TRUE(c.mapsToRefuse != 0 || at % kHugePageBytes == 0) << "not 2 MiB-aligned";
      }
      EXPECT_TRUE(AllZero(block, c.bytes));
      memset(block, 0xFF, c.bytes);  // the last byte too
      // What stays mapped: the block rounded to huge pages and its header's
      // page, nothing of the alignment's slack.
      EXPECT_EQ(watch.mappedBytes, large ? static_cast<int64_t>(Rounded(c.bytes) + Page()) : 0);
      EXPECT_EQ(watch.advised, large && !c.refuseAdvice ? 1 : 0);
      if (watch.advised == 1) {
        EXPECT_LE(watch.advisedStart, at);
        EXPECT_GE(watch.advisedEnd, at + Rounded(c.bytes)) << "the advice covers the whole block";
      }
      FreePicture(block, kWatched);
      EXPECT_EQ(watch.mappedBytes, 0) << "the free gives back every byte mapped";
    }
}

TEST(PictureMemory, RefusesWhatCannotBeHad) {
  struct Case {
    const char* name;
    uint64_t bytes;
    int mapsToRefuse;
  };
  const Case cases[] = {
      {"no bytes", 0, 0},
      {"more than an address space", UINT64_MAX, 0},
      {"the address space's size", SIZE_MAX, 0},
      {"no room for either mapping", 3 * kHugePageBytes, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    watch = {};
    watch.mapsToRefuse = c.mapsToRefuse;
    EXPECT_EQ(AllocatePicture(c.bytes, kWatched), nullptr);
    EXPECT_EQ(watch.mappedBytes, 0);
  }
}

// With the system's own calls: the mapping carries the kernel's huge-page
// flag where the kernel has them, and is gone once freed.
TEST(PictureMemory, TheSystemsCallsAdviseAndGiveBack) {
  const uint64_t bytes = 3 * kHugePageBytes + 5;
  void* block = AllocatePicture(bytes);
  ASSERT_NE(block, nullptr);
  const uintptr_t at = reinterpret_cast<uintptr_t>(block);
  EXPECT_EQ(at % kHugePageBytes, 0u);
  EXPECT_TRUE(AllZero(block, bytes));
  // Only where the build runs natively: qemu's user mode, which runs the
  // 32-bit and ARM64 builds here, takes the advice without passing it on.
#if defined(__x86_64__)
  if (access("/sys/kernel/mm/transparent_hugepage/enabled", F_OK) == 0) {
    // smaps: a range line, then its fields; VmFlags' "hg" is MADV_HUGEPAGE.
    std::ifstream smaps("/proc/self/smaps");
    std::string line, flags;
    bool inBlock = false;
    while (std::getline(smaps, line)) {
      unsigned long long start = 0, end = 0;
      if (sscanf(line.c_str(), "%llx-%llx ", &start, &end) == 2)
        inBlock = start <= at && at < end;
      else if (inBlock && line.rfind("VmFlags:", 0) == 0)
        flags = line;
    }
    EXPECT_NE(flags.find(" hg"), std::string::npos) << "the block's mapping: " << flags;
  }
#endif
  FreePicture(block);
  unsigned char resident[4];
  EXPECT_EQ(mincore(reinterpret_cast<void*>(at), 4 * Page(), resident), -1);
  EXPECT_EQ(errno, ENOMEM) << "the block is still mapped after its free";
  FreePicture(nullptr);
}

}  // namespace
