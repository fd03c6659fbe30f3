// The POSIX stand-in's memory blocks (LocalAlloc, GlobalAlloc and their
// kin: fixed blocks whose handle is their address) and 8-bit and UTF-16
// string calls.

#include <stdlib.h>
#include <string.h>

#include "faults.h"

namespace {

// Every block carries a small header in front: a tag and its size.
constexpr uint32_t kBlockTag = 0x4B4C4257;  // live
constexpr uint32_t kFreedTag = 0x44454552;  // freed
struct alignas(16) BlockHeader {
  uint32_t tag;
  SIZE_T size;
};
// A 32-bit process cannot have a block of 2 GiB. A 64-bit one may: 8 GiB is
// above anything the plug-in asks for (a DIB's bits block stays under 4 GiB,
// a source picture is at most 4 GiB + 19 bytes) and far below what would
// exhaust the machine, so a count gone wrong still fails as Windows would.
constexpr SIZE_T kLargestBlock = sizeof(SIZE_T) == 4 ? 0x7FFFFFF0u : SIZE_T{1} << 33;

BlockHeader* HeaderOf(void* block) { return static_cast<BlockHeader*>(block) - 1; }

void* AllocateBlock(UINT flags, SIZE_T bytes) {
  if (posix::ShouldFail(PlatformCall::Alloc) || bytes > kLargestBlock ||
      posix::OverBlockLimit(bytes)) {
    posix::SetError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  auto* header = static_cast<BlockHeader*>(malloc(sizeof(BlockHeader) + bytes));
  if (header == nullptr) {
    posix::SetError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  header->tag = kBlockTag;
  header->size = bytes;
  if (flags & LMEM_ZEROINIT) memset(header + 1, 0, bytes);
  posix::CountBlocks(1);
  return header + 1;
}

// Frees a block; a pointer that is not a live block is a caller's bug that
// Windows may or may not survive, so we stop at once to make it visible.
void* FreeBlock(void* block) {
  if (block == nullptr) return nullptr;
  BlockHeader* header = HeaderOf(block);
  if (header->tag != kBlockTag) abort();
  header->tag = kFreedTag;
  posix::CountBlocks(-1);
  free(header);
  return nullptr;
}

SIZE_T SizeOfBlock(void* block) {
  if (block == nullptr || HeaderOf(block)->tag != kBlockTag) return 0;
  return HeaderOf(block)->size;
}

}  // namespace

HLOCAL WINAPI LocalAlloc(UINT flags, SIZE_T bytes) { return AllocateBlock(flags, bytes); }
HLOCAL WINAPI LocalFree(HLOCAL block) { return FreeBlock(block); }
SIZE_T WINAPI LocalSize(HLOCAL block) { return SizeOfBlock(block); }
HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes) { return AllocateBlock(flags, bytes); }
HGLOBAL WINAPI GlobalFree(HGLOBAL block) { return FreeBlock(block); }
SIZE_T WINAPI GlobalSize(HGLOBAL block) { return SizeOfBlock(block); }

// At most limit - 1 characters and a terminator, as both lstrcpyn calls copy.
template <typename Char>
Char* CopyAtMost(Char* destination, const Char* source, int limit) {
  if (destination == nullptr || source == nullptr || limit <= 0) return destination;
  int i = 0;
  for (; i < limit - 1 && source[i] != 0; ++i) destination[i] = source[i];
  destination[i] = 0;
  return destination;
}

LPSTR WINAPI lstrcpynA(LPSTR to, LPCSTR from, int limit) { return CopyAtMost(to, from, limit); }

int WINAPI lstrlenA(LPCSTR text) { return text == nullptr ? 0 : static_cast<int>(strlen(text)); }

LPSTR WINAPI lstrcpyA(LPSTR destination, LPCSTR source) {
  if (destination == nullptr || source == nullptr) return nullptr;
  return strcpy(destination, source);
}

LPWSTR WINAPI lstrcpynW(LPWSTR to, LPCWSTR from, int limit) { return CopyAtMost(to, from, limit); }

int WINAPI lstrlenW(LPCWSTR text) {
  int length = 0;
  if (text != nullptr)
    while (text[length] != 0) ++length;
  return length;
}
