// POSIX implementation of the KERNEL32 subset, with the Windows semantics the
// plug-in relies on. Failures set the last error as Windows would.

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>

#include "fault_injection.h"

namespace {

thread_local DWORD lastError = NO_ERROR;

// Handles are 4, 8, 12, ... like Windows ones, and stay below 65536.
constexpr uint32_t kHandleSlots = 4096;
std::mutex handleLock;
int handleFds[kHandleSlots];  // 0 = free, otherwise fd + 1

std::atomic<uint32_t> liveBlocks{0};
std::atomic<uint32_t> openHandles{0};

constexpr int kCallKinds = static_cast<int>(PlatformCall::Any) + 1;
std::atomic<uint32_t> callCounts[kCallKinds];
std::atomic<uint32_t> failAt[kCallKinds];  // 0 = no planned failure; else a call count
std::atomic<uint32_t> shortReadAt{0};
std::atomic<DWORD> shortReadBytes{0};
std::atomic<bool> failedOpenGivesNull{false};
std::atomic<SIZE_T> blockSizeLimit{0};
std::atomic<uint64_t> bytesRead{0};

// Counts the call and tells whether it is the one planned to fail.
bool ShouldFail(PlatformCall which) {
  const int kind = static_cast<int>(which);
  const int any = static_cast<int>(PlatformCall::Any);
  const uint32_t n = callCounts[kind].fetch_add(1) + 1;
  const uint32_t nAny = callCounts[any].fetch_add(1) + 1;
  uint32_t target = failAt[kind].load();
  if (target != 0 && n == target && failAt[kind].compare_exchange_strong(target, 0)) return true;
  target = failAt[any].load();
  return target != 0 && nAny == target && failAt[any].compare_exchange_strong(target, 0);
}

int FdOf(HANDLE handle) {
  const uintptr_t value = reinterpret_cast<uintptr_t>(handle);
  if (value == 0 || value % 4 != 0 || value / 4 > kHandleSlots) return -1;
  std::lock_guard<std::mutex> guard(handleLock);
  return handleFds[value / 4 - 1] - 1;
}

// Every block carries a small header in front: a tag and its size.
constexpr uint32_t kBlockTag = 0x4B4C4257;  // live
constexpr uint32_t kFreedTag = 0x44454552;  // freed
struct alignas(16) BlockHeader {
  uint32_t tag;
  SIZE_T size;
};
// A 32-bit process cannot have a block of 2 GiB; a 64-bit one may ask for
// the largest DIB, 4 GiB.
constexpr SIZE_T kLargestBlock = sizeof(SIZE_T) == 4 ? 0x7FFFFFF0u : SIZE_T{1} << 33;

BlockHeader* HeaderOf(void* block) { return static_cast<BlockHeader*>(block) - 1; }

void* AllocateBlock(UINT flags, SIZE_T bytes) {
  const SIZE_T limit = blockSizeLimit.load();
  if (ShouldFail(PlatformCall::Alloc) || bytes > kLargestBlock || (limit != 0 && bytes > limit)) {
    lastError = ERROR_NOT_ENOUGH_MEMORY;
    return nullptr;
  }
  auto* header = static_cast<BlockHeader*>(malloc(sizeof(BlockHeader) + bytes));
  if (header == nullptr) {
    lastError = ERROR_NOT_ENOUGH_MEMORY;
    return nullptr;
  }
  header->tag = kBlockTag;
  header->size = bytes;
  if (flags & LMEM_ZEROINIT) memset(header + 1, 0, bytes);
  liveBlocks.fetch_add(1);
  return header + 1;
}

// Frees a block; a pointer that is not a live block is a caller's bug that
// Windows may or may not survive, so we stop at once to make it visible.
void* FreeBlock(void* block) {
  if (block == nullptr) return nullptr;
  BlockHeader* header = HeaderOf(block);
  if (header->tag != kBlockTag) abort();
  header->tag = kFreedTag;
  liveBlocks.fetch_sub(1);
  free(header);
  return nullptr;
}

SIZE_T SizeOfBlock(void* block) {
  if (block == nullptr || HeaderOf(block)->tag != kBlockTag) return 0;
  return HeaderOf(block)->size;
}

// UTF-16 to UTF-8; false for an unpaired surrogate.
bool Utf16ToUtf8(LPCWSTR text, std::string* utf8) {
  for (size_t i = 0; text[i] != 0; ++i) {
    uint32_t c = text[i];
    if (c >= 0xDC00 && c <= 0xDFFF) return false;
    if (c >= 0xD800 && c <= 0xDBFF) {
      const uint32_t low = text[i + 1];
      if (low < 0xDC00 || low > 0xDFFF) return false;
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      ++i;
    }
    if (c < 0x80) {
      *utf8 += static_cast<char>(c);
    } else if (c < 0x800) {
      *utf8 += static_cast<char>(0xC0 | (c >> 6));
      *utf8 += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      *utf8 += static_cast<char>(0xE0 | (c >> 12));
      *utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *utf8 += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      *utf8 += static_cast<char>(0xF0 | (c >> 18));
      *utf8 += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      *utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *utf8 += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return true;
}

}  // namespace

HANDLE WINAPI CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD attributes, HANDLE templateFile) {
  std::string utf8;
  if (path == nullptr || !Utf16ToUtf8(path, &utf8)) {
    // Counted as an open all the same, so planned failures stay in step.
    ShouldFail(PlatformCall::Open);
    lastError = ERROR_FILE_NOT_FOUND;
    return failedOpenGivesNull.load() ? nullptr : INVALID_HANDLE_VALUE;
  }
  return CreateFileA(utf8.c_str(), access, share, security, disposition, attributes, templateFile);
}

HANDLE WINAPI CreateFileA(LPCSTR path, DWORD access, DWORD, LPSECURITY_ATTRIBUTES,
                          DWORD disposition, DWORD, HANDLE) {
  if (ShouldFail(PlatformCall::Open) || path == nullptr) {
    lastError = ERROR_FILE_NOT_FOUND;
    return failedOpenGivesNull.load() ? nullptr : INVALID_HANDLE_VALUE;
  }
  // Only what the plug-in and its tests ask for: an existing file, for reading.
  if (access != GENERIC_READ || disposition != OPEN_EXISTING) {
    lastError = ERROR_ACCESS_DENIED;
    return INVALID_HANDLE_VALUE;
  }
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    lastError = ERROR_FILE_NOT_FOUND;
    return INVALID_HANDLE_VALUE;
  }
  struct stat status;
  if (fstat(fd, &status) != 0 || S_ISDIR(status.st_mode)) {
    close(fd);
    lastError = ERROR_FILE_NOT_FOUND;
    return INVALID_HANDLE_VALUE;
  }
  std::lock_guard<std::mutex> guard(handleLock);
  for (uint32_t slot = 0; slot < kHandleSlots; ++slot) {
    if (handleFds[slot] == 0) {
      handleFds[slot] = fd + 1;
      openHandles.fetch_add(1);
      return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(slot + 1) * 4);
    }
  }
  close(fd);
  lastError = ERROR_NOT_ENOUGH_MEMORY;
  return INVALID_HANDLE_VALUE;
}

DWORD WINAPI GetFileSize(HANDLE file, LPDWORD sizeHigh) {
  const int fd = FdOf(file);
  struct stat status;
  if (ShouldFail(PlatformCall::Size) || fd < 0 || fstat(fd, &status) != 0) {
    lastError = ERROR_INVALID_HANDLE;
    return INVALID_FILE_SIZE;
  }
  const uint64_t size = static_cast<uint64_t>(status.st_size);
  if (sizeHigh != nullptr) *sizeHigh = static_cast<DWORD>(size >> 32);
  lastError = NO_ERROR;
  return static_cast<DWORD>(size);
}

DWORD WINAPI SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method) {
  const int fd = FdOf(file);
  if (ShouldFail(PlatformCall::Seek) || fd < 0 || method > FILE_CURRENT) {
    lastError = ERROR_INVALID_HANDLE;
    return INVALID_SET_FILE_POINTER;
  }
  // Without a high word the distance is a signed 32-bit count, as on Windows.
  int64_t move = distance;
  if (distanceHigh != nullptr)
    move =
        static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*distanceHigh)) << 32) |
                             static_cast<uint32_t>(distance));
  const int whence = method == FILE_BEGIN ? SEEK_SET : SEEK_CUR;
  const off_t position = lseek(fd, static_cast<off_t>(move), whence);
  if (position < 0) {
    lastError = ERROR_NEGATIVE_SEEK;
    return INVALID_SET_FILE_POINTER;
  }
  if (distanceHigh != nullptr)
    *distanceHigh = static_cast<LONG>(static_cast<uint64_t>(position) >> 32);
  lastError = NO_ERROR;
  return static_cast<DWORD>(position);
}

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD delivered, LPOVERLAPPED) {
  if (delivered != nullptr) *delivered = 0;
  const int fd = FdOf(file);
  if (ShouldFail(PlatformCall::Read) || fd < 0) {
    lastError = fd < 0 ? ERROR_INVALID_HANDLE : ERROR_READ_FAULT;
    return FALSE;
  }
  const uint32_t n = callCounts[static_cast<int>(PlatformCall::Read)].load();
  uint32_t target = shortReadAt.load();
  if (target != 0 && n == target && shortReadAt.compare_exchange_strong(target, 0) &&
      shortReadBytes.load() < count)
    count = shortReadBytes.load();
  // A regular file delivers everything up to its end, as ReadFile does.
  DWORD done = 0;
  while (done < count) {
    const ssize_t got = read(fd, static_cast<char*>(buffer) + done, count - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      lastError = ERROR_READ_FAULT;
      return FALSE;
    }
    if (got == 0) break;
    done += static_cast<DWORD>(got);
  }
  bytesRead.fetch_add(done);
  if (delivered != nullptr) *delivered = done;
  return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE object) {
  const uintptr_t value = reinterpret_cast<uintptr_t>(object);
  if (value == 0 || value % 4 != 0 || value / 4 > kHandleSlots) {
    lastError = ERROR_INVALID_HANDLE;
    return FALSE;
  }
  int fd;
  {
    std::lock_guard<std::mutex> guard(handleLock);
    fd = handleFds[value / 4 - 1] - 1;
    if (fd < 0) {
      lastError = ERROR_INVALID_HANDLE;
      return FALSE;
    }
    handleFds[value / 4 - 1] = 0;
  }
  close(fd);
  openHandles.fetch_sub(1);
  return TRUE;
}

DWORD WINAPI GetLastError(void) { return lastError; }
void WINAPI SetLastError(DWORD error) { lastError = error; }

HLOCAL WINAPI LocalAlloc(UINT flags, SIZE_T bytes) { return AllocateBlock(flags, bytes); }
HLOCAL WINAPI LocalFree(HLOCAL block) { return FreeBlock(block); }
SIZE_T WINAPI LocalSize(HLOCAL block) { return SizeOfBlock(block); }
HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes) { return AllocateBlock(flags, bytes); }
HGLOBAL WINAPI GlobalFree(HGLOBAL block) { return FreeBlock(block); }
SIZE_T WINAPI GlobalSize(HGLOBAL block) { return SizeOfBlock(block); }

LPSTR WINAPI lstrcpynA(LPSTR destination, LPCSTR source, int limit) {
  if (destination == nullptr || source == nullptr || limit <= 0) return destination;
  int i = 0;
  for (; i < limit - 1 && source[i] != '\0'; ++i) destination[i] = source[i];
  destination[i] = '\0';
  return destination;
}

int WINAPI lstrlenA(LPCSTR text) { return text == nullptr ? 0 : static_cast<int>(strlen(text)); }

LPSTR WINAPI lstrcpyA(LPSTR destination, LPCSTR source) {
  if (destination == nullptr || source == nullptr) return nullptr;
  return strcpy(destination, source);
}

LPWSTR WINAPI lstrcpynW(LPWSTR destination, LPCWSTR source, int limit) {
  if (destination == nullptr || source == nullptr || limit <= 0) return destination;
  int i = 0;
  for (; i < limit - 1 && source[i] != 0; ++i) destination[i] = source[i];
  destination[i] = 0;
  return destination;
}

int WINAPI lstrlenW(LPCWSTR text) {
  int length = 0;
  if (text != nullptr)
    while (text[length] != 0) ++length;
  return length;
}

void PlatformFailCall(PlatformCall which, uint32_t nth) {
  const int kind = static_cast<int>(which);
  failAt[kind].store(nth == 0 ? 0 : callCounts[kind].load() + nth);
}

void PlatformShortenRead(uint32_t nth, DWORD maxBytes) {
  shortReadBytes.store(maxBytes);
  shortReadAt.store(nth == 0 ? 0 : callCounts[static_cast<int>(PlatformCall::Read)].load() + nth);
}

void PlatformFailedOpenGivesNull(BOOL giveNull) { failedOpenGivesNull.store(giveNull != FALSE); }

void PlatformLimitBlockSize(SIZE_T maxBytes) { blockSizeLimit.store(maxBytes); }

void PlatformClearFaults(void) {
  for (auto& target : failAt) target.store(0);
  shortReadAt.store(0);
  failedOpenGivesNull.store(false);
  blockSizeLimit.store(0);
}

uint32_t PlatformCallCount(PlatformCall which) {
  return callCounts[static_cast<int>(which)].load();
}
uint64_t PlatformBytesRead(void) { return bytesRead.load(); }
uint32_t PlatformLiveBlocks(void) { return liveBlocks.load(); }
uint32_t PlatformOpenHandles(void) { return openHandles.load(); }
