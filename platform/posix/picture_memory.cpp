// Picture blocks: calloc below kHugePictureBytes; above it, an anonymous
// mapping whose 2 MiB-aligned block is advised as huge pages. A small header
// just in front of every block says how it was made, so one free serves both.

#include "platform/posix/picture_memory.h"

#include <errno.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define WPP_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(WPP_ASAN)
#include <sanitizer/asan_interface.h>
#define HIDE_FROM_CALLER(start, length) ASAN_POISON_MEMORY_REGION(start, length)
#define SHOW_AGAIN(start, length) ASAN_UNPOISON_MEMORY_REGION(start, length)
#else
#define HIDE_FROM_CALLER(start, length) ((void)(start), (void)(length))
#define SHOW_AGAIN(start, length) ((void)(start), (void)(length))
#endif

namespace platform {
namespace {

// In front of every block. AddressSanitizer is told it is not the caller's,
// nor is a mapping's rounding after the bytes asked for, so an overrun into
// either is caught as it is in a calloc block.
struct alignas(16) BlockHeader {
  void* start;    // what was allocated: the calloc block, or the mapping
  size_t length;  // the mapping's length; 0 for a calloc block
};

uint64_t RoundUp(uint64_t value, uint64_t unit) { return (value + unit - 1) / unit * unit; }

void* MapFresh(size_t length) {
  void* start = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return start == MAP_FAILED ? nullptr : start;
}

int Unmap(void* start, size_t length) { return munmap(start, length); }

int AdviseHuge(void* start, size_t length) {
#ifdef MADV_HUGEPAGE
  return madvise(start, length, MADV_HUGEPAGE);
#else
  (void)start, (void)length;
  return -1;
#endif
}

constexpr PictureMemoryCalls kSystemCalls = {MapFresh, Unmap, AdviseHuge};

void* AllocateSmall(uint64_t bytes) {
  auto* header = static_cast<BlockHeader*>(calloc(1, sizeof(BlockHeader) + bytes));
  if (header == nullptr) return nullptr;
  *header = {header, 0};
  HIDE_FROM_CALLER(header, sizeof *header);
  return header + 1;
}

// The block starts at the first 2 MiB boundary at least a page into a
// mapping one huge page longer than the block, so the header has a page of
// its own; what lies before that page and after the block is given back at
// once. Where the address space has no room for the longer mapping, the block
// takes an exact one, unaligned: the huge pages then cover its whole 2 MiB
// stretches only.
void* AllocateLarge(uint64_t bytes, const PictureMemoryCalls& calls) {
  const uint64_t page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
  if (bytes > SIZE_MAX - 2 * kHugePageBytes || page == 0 || kHugePageBytes % page != 0)
    return nullptr;
  const uint64_t length = RoundUp(bytes, kHugePageBytes);
  uintptr_t start = 0, block = 0;
  uint64_t kept = 0;
  if (void* wide = calls.map(static_cast<size_t>(length + kHugePageBytes))) {
    start = reinterpret_cast<uintptr_t>(wide);
    block = static_cast<uintptr_t>(RoundUp(start + page, kHugePageBytes));
    const uintptr_t end = start + static_cast<uintptr_t>(length + kHugePageBytes);
    if (block - page > start) calls.unmap(wide, block - page - start);
    if (end > block + length)
      calls.unmap(reinterpret_cast<void*>(block + length), end - block - length);
    start = block - page;
  } else if (void* exact = calls.map(static_cast<size_t>(page + length))) {
    start = reinterpret_cast<uintptr_t>(exact);
    block = start + page;
  } else {
    return nullptr;
  }
  kept = page + length;
  // A kernel without transparent huge pages refuses the advice: the block
  // stays on ordinary pages, as a calloc block of its size would be. The
  // refusal is no error of the caller's, so errno is left as it was.
  const int error = errno;
  if (calls.adviseHuge(reinterpret_cast<void*>(start), static_cast<size_t>(kept)) != 0)
    errno = error;
  auto* header = reinterpret_cast<BlockHeader*>(block) - 1;
  *header = {reinterpret_cast<void*>(start), static_cast<size_t>(kept)};
  HIDE_FROM_CALLER(header, sizeof *header);
  HIDE_FROM_CALLER(reinterpret_cast<void*>(block + bytes), length - bytes);
  return header + 1;
}

}  // namespace

void* AllocatePicture(uint64_t bytes, const PictureMemoryCalls& calls) {
  if (bytes == 0) return nullptr;
  return bytes < kHugePictureBytes ? AllocateSmall(bytes) : AllocateLarge(bytes, calls);
}

void FreePicture(void* block, const PictureMemoryCalls& calls) {
  if (block == nullptr) return;
  BlockHeader* header = static_cast<BlockHeader*>(block) - 1;
  SHOW_AGAIN(header, sizeof *header);
  const BlockHeader made = *header;
  if (made.length == 0) return free(made.start);
  SHOW_AGAIN(made.start, made.length);
  calls.unmap(made.start, made.length);
}

void* AllocatePicture(uint64_t bytes) { return AllocatePicture(bytes, kSystemCalls); }
void FreePicture(void* block) { FreePicture(block, kSystemCalls); }

}  // namespace platform
